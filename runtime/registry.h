// What the script and native code find by name or id: commands (as lower-cased globals, and in
// the command registry with their registered spelling), constants, the object lists of every
// library, and the applet's labels; the command and constant lists written for editors.
#pragma once
#include <cstdint>

#include "runtime/cmdargs.h"
#include "runtime/objectid.h"
#include "runtime/vm/vm_object.h"

struct VmState;

struct qmCommandEntry {
  const char *name;  // CamelCase as the library spells it; a null name ends the table
  VmCFunction handler;
};

struct qmConstantEntry {
  const char *name;  // a null name ends the table
  const char *text;  // a string constant, or null for a number
  double value;
};

struct qmLibraryEntry {
  const char *name;  // a null name ends the table
  uint32_t (*init)(VmState *L);
};

struct qmCommandTableRef {
  qmCommandTableRef *next;
  const qmCommandEntry *table;
  char library[64];
};


// Each row becomes a native closure with copies of the nup upvalues below the table on the
// stack, stored under its lower-cased name in globals[library] (created when missing), or with
// a null library in the table just below the upvalues. The upvalues are popped.
void vm_openlib(VmState *L, const char *library, const qmCommandEntry *table, int nup);
uint32_t RegisterCommandTable(const qmCommandEntry *table, const char *library);
// The registered spelling of a command whose name equals name without regard to case.
const char *FindRegisteredCommandName(const char *name);
const qmCommandTableRef *GetCommandRegistry();
// Frees the tables' entries of the bound list (the run's, else the module's own).
void FreeCommandRegistry();
// The registry is a list per run whose head the run's context holds; null unbinds.
void BindCommandRegistry(qmCommandTableRef **head);

// Registry tables "constants" (user 0) and "userconstants" (user 1), lower-cased names.
void vm_registerconstants(VmState *L, const qmConstantEntry *table, int user);
// 1 found (a number sets *text to null and *number; a text sets *text), 0 not.
int vm_getconstant(VmState *L, const char *name, const char **text, double *number);


int32_t GetLabelIndex(VmState *L, const char *name);
void SetLabelIndex(VmState *L, const char *name, int32_t index);
int32_t AddLabelRef(VmState *L, const char *name, int32_t pc);

// 1 when the file was written and closed, 0 when it could not be opened or written.
int DumpCommandList(const char *fileName);
int DumpConstantList(VmState *L, const char *fileName);
