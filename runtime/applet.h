// The applet record: one per run, kept as light user data under the registry key "applet".
// This file holds the parts the runtime itself reads: the included source files (for error
// lines) and the linked files (for virtual file names). The start-up code fills the rest.
#pragma once
#include <cstdint>

struct VmState;

struct qmLinkedFile {
  qmLinkedFile *next;
  char name[1024];       // as the script writes it; a font is "::font:" + its name without ".font"
  char container[2048];  // the file holding the data; empty for the program file
  uint32_t offset;       // of the data in the container
  uint32_t length;
};

struct qmIncludeFile {
  qmIncludeFile *next;
  uint32_t firstLine;
  uint32_t lastLine;
  uint32_t lineOffset;
  char name[1024];       // shown in error reports
  char sourceKey[1024];  // compared with the running chunk's source name
};

struct qmApplet {
  uint8_t *bytecode;
  uint32_t bytecodeLength;
  void *declarations;
  qmIncludeFile *includeFiles;
  qmLinkedFile *linkedFiles;
  uint64_t appletBase;    // offset of an applet appended to the executable; 0 for a file of its own
  char programPath[1024]; // the program file; the container of linked files without their own
  char resolvedName[1024]; // the virtual name a linked file resolved to last (vnames.h)
  char displayName[1024];  // the display name plug-ins asked for last (their host table)
};

// The record under registry["applet"] of the state, or of the main state for a null state;
// nullptr when none is stored.
qmApplet *GetAppletRecord(VmState *L);
// Stores the record as light user data under registry["applet"].
void SetAppletRecord(VmState *L, qmApplet *applet);

// Appends at the tail; 0 or ERR_MEM. Texts longer than their fields are refused with
// ERR_NAMETOOLONG.
uint32_t AddLinkedFile(qmApplet *applet, const char *name, const char *container, uint32_t offset,
                       uint32_t length);
uint32_t AddIncludeFile(qmApplet *applet, uint32_t firstLine, uint32_t lastLine, uint32_t lineOffset,
                        const char *name, const char *sourceKey);
// Frees both lists.
void FreeAppletLists(qmApplet *applet);
