#include "runtime/registry.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/file.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

namespace {

// The command tables of the run being played: the list's head lives in the run's context and is
// bound by the runtime support; without a run (tools, the registry's own tests) a head of the
// module's own stands in.
qmCommandTableRef *gOwnCommands = nullptr;
qmCommandTableRef **gBoundCommands = nullptr;

qmCommandTableRef *&Commands() { return gBoundCommands ? *gBoundCommands : gOwnCommands; }

// A lower-cased copy of name; names longer than the buffer are cut (no command or constant is
// that long).
struct LowerName {
  char text[256];
  explicit LowerName(const char *name) {
    CopyString(text, name, sizeof text);
    StrToLower(text);
  }
};

template <typename Node>
void AppendNode(Node **head, Node *node) {
  while (*head) head = &(*head)->next;
  *head = node;
}

// Pushes registry[name]; creates it as a new table when missing or not a table.
void PushRegistryTable(VmState *L, const char *name, bool create) {
  vm_pushstring(L, name);
  vm_rawget(L, VM_REGISTRYINDEX);
  if (vm_type(L, -1) == VM_TTABLE || !create) return;
  vm_pop(L, 1);
  vm_newtable(L);
  vm_pushstring(L, name);
  vm_pushvalue(L, -2);
  vm_rawset(L, VM_REGISTRYINDEX);
}

}  // namespace

void vm_openlib(VmState *L, const char *library, const qmCommandEntry *table, int nup) {
  if (library) {
    vm_pushstring(L, library);
    vm_gettable(L, VM_GLOBALSINDEX);
    if (vm_type(L, -1) != VM_TTABLE) {
      vm_pop(L, 1);
      vm_newtable(L);
      vm_pushstring(L, library);
      vm_pushvalue(L, -2);
      vm_settable(L, VM_GLOBALSINDEX);
    }
    vm_insert(L, -(nup + 1));
  }
  for (const qmCommandEntry *row = table; row->name; row++) {
    LowerName name(row->name);
    vm_pushstring(L, name.text);
    for (int i = 0; i < nup; i++) vm_pushvalue(L, -(nup + 1));
    vm_pushcclosure(L, row->handler, nup);
    vm_settable(L, -(nup + 3));
  }
  vm_pop(L, nup);
  if (library) vm_pop(L, 1);
}

uint32_t RegisterCommandTable(const qmCommandEntry *table, const char *library) {
  auto *node = static_cast<qmCommandTableRef *>(MemAlloc(sizeof(qmCommandTableRef), 1));
  if (node == nullptr) return ERR_MEM;
  node->table = table;
  CopyString(node->library, library ? library : "", sizeof node->library);
  AppendNode(&Commands(), node);
  return 0;
}

const char *FindRegisteredCommandName(const char *name) {
  for (const qmCommandTableRef *ref = Commands(); ref; ref = ref->next)
    for (const qmCommandEntry *row = ref->table; row->name; row++)
      if (Stricmp(row->name, name) == 0) return row->name;
  return nullptr;
}

const qmCommandTableRef *GetCommandRegistry() { return Commands(); }

void BindCommandRegistry(qmCommandTableRef **head) { gBoundCommands = head; }

void FreeCommandRegistry() {
  qmCommandTableRef *&head = Commands();
  for (qmCommandTableRef *n = head; n;) {
    qmCommandTableRef *next = n->next;
    MemFree(n);
    n = next;
  }
  head = nullptr;
}

void vm_registerconstants(VmState *L, const qmConstantEntry *table, int user) {
  PushRegistryTable(L, user ? "userconstants" : "constants", true);
  for (const qmConstantEntry *row = table; row->name; row++) {
    LowerName name(row->name);
    vm_pushstring(L, name.text);
    if (row->text) vm_pushstring(L, row->text);
    else vm_pushnumber(L, row->value);
    vm_rawset(L, -3);
  }
  vm_pop(L, 1);
}

int vm_getconstant(VmState *L, const char *name, const char **text, double *number) {
  LowerName key(name);
  for (const char *table : {"constants", "userconstants"}) {
    PushRegistryTable(L, table, false);
    if (vm_type(L, -1) != VM_TTABLE) {
      vm_pop(L, 1);
      continue;
    }
    vm_pushstring(L, key.text);
    vm_rawget(L, -2);
    int type = vm_type(L, -1);
    if (type == VM_TNIL) {
      vm_pop(L, 2);
      continue;
    }
    if (type == VM_TNUMBER) {
      if (text) *text = nullptr;
      if (number) *number = vm_tonumber(L, -1);
    } else if (type == VM_TSTRING) {
      // The string stays alive in the registry table after the pop.
      if (text) *text = vm_tostring(L, -1);
    }
    vm_pop(L, 2);
    return 1;
  }
  return 0;
}

int32_t GetLabelIndex(VmState *L, const char *name) {
  PushRegistryTable(L, "labels", false);
  int32_t index = -1;
  if (vm_type(L, -1) == VM_TTABLE) {
    LowerName key(name);
    vm_pushstring(L, key.text);
    vm_rawget(L, -2);
    if (vm_type(L, -1) == VM_TNUMBER) index = int32_t(vm_tonumber(L, -1));
    vm_pop(L, 1);
  }
  vm_pop(L, 1);
  return index;
}

void SetLabelIndex(VmState *L, const char *name, int32_t index) {
  PushRegistryTable(L, "labels", true);
  LowerName key(name);
  vm_pushstring(L, key.text);
  vm_pushnumber(L, index);
  vm_rawset(L, -3);
  vm_pop(L, 1);
}

int32_t AddLabelRef(VmState *L, const char *name, int32_t pc) {
  vm_pushstring(L, "labelrefs");
  vm_rawget(L, VM_REGISTRYINDEX);
  if (vm_type(L, -1) != VM_TTABLE) {
    vm_pop(L, 1);
    vm_newtable(L);
    vm_pushstring(L, "n");
    vm_pushnumber(L, 0);
    vm_rawset(L, -3);
    vm_pushstring(L, "labelrefs");
    vm_pushvalue(L, -2);
    vm_rawset(L, VM_REGISTRYINDEX);
  }
  vm_pushstring(L, "n");
  vm_rawget(L, -2);
  int32_t n = int32_t(vm_tonumber(L, -1));
  vm_pop(L, 1);
  vm_newtable(L);
  LowerName key(name);
  vm_pushstring(L, "name");
  vm_pushstring(L, key.text);
  vm_rawset(L, -3);
  vm_pushstring(L, "pc");
  vm_pushnumber(L, pc);
  vm_rawset(L, -3);
  vm_rawseti(L, -2, n);
  vm_pushstring(L, "n");
  vm_pushnumber(L, n + 1);
  vm_rawset(L, -3);
  vm_pop(L, 1);
  return n;
}

int DumpCommandList(const char *fileName) {
  FILE *f = OpenStdioFile(fileName, "w");
  if (f == nullptr) return 0;
  for (const qmCommandTableRef *ref = Commands(); ref; ref = ref->next) {
    unsigned long count = 0;
    for (const qmCommandEntry *row = ref->table; row->name; row++) count++;
    std::fprintf(f, "::%s\n%lu\n", ref->library, count);
    for (const qmCommandEntry *row = ref->table; row->name; row++) std::fprintf(f, "%s\n", row->name);
  }
  std::fputs("::end\n", f);
  bool failed = std::ferror(f) != 0;
  return std::fclose(f) == 0 && !failed;
}

int DumpConstantList(VmState *L, const char *fileName) {
  FILE *f = OpenStdioFile(fileName, "w");
  if (f == nullptr) return 0;
  PushRegistryTable(L, "constants", false);
  if (vm_type(L, -1) == VM_TTABLE) {
    vm_pushnil(L);
    while (vm_next(L, -2)) {
      if (vm_type(L, -2) == VM_TSTRING) std::fprintf(f, "%s\n", vm_tostring(L, -2));
      vm_pop(L, 1);
    }
  }
  vm_pop(L, 1);
  bool failed = std::ferror(f) != 0;
  return std::fclose(f) == 0 && !failed;
}
