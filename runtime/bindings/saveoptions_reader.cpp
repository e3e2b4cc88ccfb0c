#include "runtime/bindings/saveoptions_reader.h"

#include "runtime/cmdargs.h"
#include "runtime/vm/vm_api.h"

void ParseSaveOptions(VmState *L, int index, int32_t *quality, int32_t *colors, int32_t *dither) {
  if (vm_isnoneornil(L, index)) return;
  if (vm_type(L, index) != VM_TTABLE) {
    *quality = vm_checkint32(L, index);
    return;
  }
  GetFieldInt(L, index, "quality", quality, nullptr);
  GetFieldInt(L, index, "colors", colors, nullptr);
  bool on = *dither != 0;
  if (GetFieldFlag(L, index, "dither", &on, nullptr)) *dither = on ? 1 : 0;
}
