// What the applet and packed-program targets share: input bytes as a file name that the
// player's file layer opens from memory, and the applet reading of the program-file start-up.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/file.h"
#include "platform/vfile.h"
#include "player/appletrecord.h"
#include "player/programfile.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_api.h"

// The input as a memory window under a virtual name, for the length of one run.
struct FuzzInputFile {
  int32_t window;
  char name[kChunkNameSize];

  FuzzInputFile(const uint8_t *data, size_t size, const char *display) {
    window = RegisterMemoryWindow(data, size);
    if (!window || !MakeMemoryChunkName(display, name, sizeof name, window, size, data)) name[0] = 0;
  }
  ~FuzzInputFile() {
    if (window) UnregisterMemoryWindow(window);
  }
};

// Reads the applet in the named file as OpenProgramFile does once the file is plain: its magic,
// then its sections into a fresh record, which is freed again.
inline void ReadFuzzApplet(const char *name) {
  qmFileHandle *fh = FileOpen(name, FILE_MODE_READ);
  if (!fh) return;
  uint8_t m[4];
  if (fh->size > 4 && FileReadBytes(fh, m, 4) == 4 &&
      (uint32_t(m[0]) << 24 | uint32_t(m[1]) << 16 | uint32_t(m[2]) << 8 | m[3]) == kMagicQMA) {
    VmState *L = vm_open();
    qmPlayerApplet applet{};
    ResetDisplaySettings(&applet.settings);
    ReadAppletSections(L, &applet, fh, 0, name);
    FreeAppletContents(&applet);
    vm_close(L);
  }
  FileClose(fh);
}
