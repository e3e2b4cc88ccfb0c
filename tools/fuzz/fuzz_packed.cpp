// libFuzzer target: any bytes as a packed program ("QMZ\0" container). What unpacks is read as
// an applet, as the player does at start-up; every outcome must be an error code or an applet.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "io/qmpk.h"
#include "tools/fuzz/fuzz_applet.h"

namespace {
// The unpacked program goes to a file in memory that every run overwrites, so that fuzzing
// writes nothing to disk.
char unpackedName[64];
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  int fd = memfd_create("fuzz-unpacked", 0);
  if (fd < 0) {
    std::perror("memfd_create");
    _exit(1);
  }
  std::snprintf(unpackedName, sizeof unpackedName, "/proc/self/fd/%d", fd);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInputFile input(data, size, "fuzz.qmz");
  if (input.name[0] && UnpackQMPK(kMagicQMZ, input.name, unpackedName, 0, nullptr) == 0) ReadFuzzApplet(unpackedName);
  return 0;
}
