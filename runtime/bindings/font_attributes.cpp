#include "runtime/bindings/font_attributes.h"

#include "runtime/attributes.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_api.h"
#include "text/font.h"

uint32_t PushFontAttribute(VmState *L, const qmFont *f, int32_t attribute) {
  switch (attribute) {
  case ATTRFONTASCENDER: vm_pushnumber(L, f ? f->baseline : 0); return 1;
  case ATTRFONTDESCENDER: vm_pushnumber(L, f ? f->height - f->baseline : 0); return 1;
  case ATTRFONTNAME: vm_pushstring(L, f ? f->faceName : ""); return 1;
  case ATTRFONTSIZE: vm_pushnumber(L, f ? f->size : 0); return 1;
  case ATTRFONTSCALABLE: vm_pushnumber(L, f && f->scalable ? 1 : 0); return 1;
  case ATTRFONTAA: vm_pushnumber(L, f && f->antiAliasCapable ? 1 : 0); return 1;
  default: return ERR_UNKNOWNATTR;
  }
}
