// IFF ILBM reader and 24-plane writer.
#include "media/image/ilbm.h"

#include "media/image/imageload.h"
#include "platform/file.h"
#include "runtime/errcodes.h"

uint32_t LoadILBM(const char *, uint32_t *, int32_t, int32_t, uint32_t *, int32_t *, int32_t *, uint32_t **,
                  uint32_t **) {
  return ERR_LOADPICTURE2;
}

uint32_t SaveILBM(const char *, const uint32_t *, int32_t, int32_t) { return ERR_WRITEFILE; }
