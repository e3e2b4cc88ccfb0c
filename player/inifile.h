// The program's .ini file: "key = value" lines with the option keywords, read after the
// command line so that its values win.
#pragma once
#include <cstddef>
#include <cstdint>

#include "player/options.h"

struct qmClArgs;

// Copies of the option values read from an .ini file, one per slot (the line buffer moves on
// to the next line); they live until the options are applied.
struct qmIniValues {
  char *slot[OPT_SLOTCOUNT];
};
void FreeIniValues(qmIniValues *copies);

// Parses text (length bytes followed by one spare zero byte) in place: option values point
// into it afterwards. Keys that are no option become user arguments. 0, ERR_INISYNTAX or
// ERR_MEM.
uint32_t ParseIniFile(char *text, size_t length, qmOptionValues *values, qmClArgs *args);

// Reads the .ini file that belongs to the program path (its extension replaced by ".ini") a
// line at a time and parses each line as it comes, so that the first syntax error ends the
// reading; option values are copied into *copies. A UTF-8 byte-order mark at the start is
// skipped; a line of 64 KiB or more is a syntax error. 0, also when there is no .ini file;
// ERR_INISYNTAX, ERR_MEM, or ERR_READFILE (with the .ini's name) when it is no regular file or
// cannot be read.
uint32_t ReadIniFile(const char *programPath, qmOptionValues *values, qmClArgs *args, qmIniValues *copies);
