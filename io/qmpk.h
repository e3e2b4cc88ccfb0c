// The packed-file container: a 4-byte magic, four reserved zero bytes and one zlib stream
// (header, deflate data, checksum) holding the whole packed file. The dos library's packed
// files use "QMPK"; packed programs use "QMZ" and a zero byte.
#pragma once
#include <cstdint>

#include "runtime/cancel.h"

inline constexpr uint32_t kMagicQMPK = 0x514D504Bu;  // "QMPK", read big-endian
inline constexpr uint32_t kMagicQMZ = 0x514D5A00u;   // "QMZ\0"

// Packs source into target at zlib's default level. 0 or ERR_MEM, ERR_READFILE (source, as
// error argument), ERR_WRITEFILE (target), ERR_READ, ERR_WRITE or a zlib code. *outSize
// (optional) is the target's length, header included. Both directions poll the cancel once per
// block and end with its code.
uint32_t PackQMPK(uint32_t magic, const char *source, const char *target, uint64_t *outSize,
                  const qmCancel &cancel = {});

// Unpacks the container that starts at offset within source (a regular file) into target. A
// wrong magic is ERR_PAKFORMAT, found before the target is created; a stream cut short is
// ERR_ZLIBDATA; bytes after the stream's end are ignored. The container does not record the
// unpacked size, so a stream that inflates beyond limit bytes is ERR_PAKFORMAT too, with no
// more than limit bytes written. *outSize (optional) is the number of bytes written. On an
// error a partly written target stays on disk.
uint32_t UnpackQMPK(uint32_t magic, const char *source, const char *target, uint64_t offset, uint64_t *outSize,
                    uint64_t limit = UINT64_MAX, const qmCancel &cancel = {});
