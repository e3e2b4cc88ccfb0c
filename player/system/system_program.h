// What the player's wiring tells the system library about the running program: its kind, its
// paths, the file argument and the user arguments of the command line.
#pragma once
#include <cstdint>

#include "player/clargs.h"

enum : int32_t {
  PRGTYPE_SCRIPT = 0,
  PRGTYPE_APPLET = 1,
  PRGTYPE_PROGRAM = 2,
};

struct qmProgramInfo {
  int32_t linked;   // the applet is appended to the executable
  // The program file is an applet (else a script): read when asked, since the program file
  // is opened after the wiring. Null: a script.
  const uint32_t *applet;
  const char *programPath;
  const char *executablePath;
  const char *fileArgument;
  const qmUserArg *userArguments;  // the command line's user arguments (clargs.h)
  int32_t startedFromShell;  // 0 when the desktop started the program with its own argument
};
