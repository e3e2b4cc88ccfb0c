// libFuzzer target: any bytes as the contents of an open file at a table or function record.
// ReadTable and ReadFunction must end in an error code or one value, never a crash, an
// allocation the bytes do not pay for, or a function the bytecode checker has not passed.
#include "io/dos/dos_files.h"
#include "io/dos/dos_serialize.h"
#include "tools/fuzz/fuzz_applet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzInputFile input(data, size, "fuzz.qmt");
  if (!input.name[0]) return 0;
  VmState *L = vm_open();
  for (int record = 0; record < 2; record++) {
    qmFileObject f{};
    f.access = FILE_MODE_READ;
    f.file = FileOpen(input.name, FILE_MODE_READ);
    if (!f.file) break;
    f.size = f.file->size;
    // Several records one after another, as a script would read them.
    for (int i = 0; i < 4 && f.position < f.size; i++)
      if ((record ? ReadFunctionRecord(L, &f) : ReadTableRecord(L, &f)) != 0) break;
    vm_settop(L, 0);
    FileClose(f.file);
  }
  vm_close(L);
  return 0;
}
