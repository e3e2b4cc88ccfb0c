// GetAttribute of a file object: the mode it was opened in.
#include "io/dos/dos_files.h"
#include "io/dos/lib_dos.h"
#include "runtime/attributes.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "runtime/vm/vm_api.h"

uint32_t DosReadAttribute(VmState *L, uint32_t type, int32_t attribute) {
  if (type != QMTYPE_FILE) return ERR_UNKNOWNATTR;
  qmObjectId id = GetObjectIdArg(L, 2);
  qmFileObject *f = nullptr;
  if (uint32_t code = FindFileObject(L, &id, &f)) return code;
  if (attribute != ATTRMODE) return ERR_UNKNOWNATTR;
  vm_pushnumber(L, f->openMode);
  return 1;
}
