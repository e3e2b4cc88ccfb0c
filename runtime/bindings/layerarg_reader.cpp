#include "runtime/bindings/layerarg_reader.h"

#include "display/scene.h"
#include "layers/layer.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_api.h"

uint32_t GetLayerArg(VmState *L, int i, int32_t *position) {
  qmScene *scene = GetScene(L);
  const int type = vm_type(L, i);
  if (type == VM_TNUMBER) {
    if (NumberToInt32(vm_tonumber(L, i), position)) return 0;
    SetErrorNumber(uint32_t(i));
    return ERR_NUMEXPECTED;
  }
  if (type == VM_TSTRING) {
    const char *name = vm_tostring(L, i);
    *position = FindLayerByName(scene->picture, name);
    if (*position > 0) return 0;
    SetErrorArgument(name);
    return ERR_FINDLAYER;
  }
  SetErrorNumber(uint32_t(i));
  return ERR_STRORNUM;
}
