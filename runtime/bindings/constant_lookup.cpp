#include "runtime/bindings/constant_lookup.h"

#include <string>

#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"

uint32_t LookupTagConstant(void *context, const char *text, size_t *consumed, double *number) {
  const char *string = nullptr;
  std::string ref = std::string("#") + text;
  size_t used = 0;
  uint32_t err = ParseConstantRef(static_cast<VmState *>(context), ref.c_str(), &used, &string, number);
  if (err) return err;
  if (string) return ERR_VALUEEXPECTED;
  *consumed = used > 0 ? used - 1 : 0;
  return 0;
}
