// The command-line record: what the arguments, the .ini file and the link record say about
// this run. One per run, under the registry key "clargs".
#pragma once
#include <cstdint>

struct qmUserArg {
  qmUserArg *next;
  char *name;   // MemAlloc'ed
  char *value;  // MemAlloc'ed; null when the option had none
};

struct qmClArgs {
  uint32_t isApplet;          // the program file is an applet
  char programPath[1024];
  char executablePath[1024];  // the plug-in folder is its folder
  char compileOutput[1024];
  char scriptAlias[256];
  char scriptName[1024];
  uint32_t quiet;
  uint32_t noSound;
  uint32_t compileRequested;
  uint32_t exeTypes;          // EXETYPE bits
  uint32_t compress;
  uint32_t overwrite;
  uint32_t lockSettings;
  qmUserArg *userArgs;
  qmUserArg *lastUserArg;     // appending stays cheap however many keys an .ini file has
  char message[2048];         // the final report's text
};

// A MemAlloc'ed copy of text; nullptr when memory runs out.
char *CopyArgText(const char *text);
// Appends a node with copies of name and value (value may be null); 0 or ERR_MEM.
uint32_t AddUserArg(qmClArgs *args, const char *name, const char *value);
// Replaces the value of the last node; 0 or ERR_MEM.
uint32_t SetLastUserArgValue(qmClArgs *args, const char *value);
void FreeUserArgs(qmClArgs *args);
