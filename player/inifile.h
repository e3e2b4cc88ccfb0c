// The program's .ini file: "key = value" lines with the option keywords, read after the
// command line so that its values win.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmClArgs;
struct qmOptionValues;

// Parses text (length bytes followed by one spare zero byte) in place: option values point
// into it afterwards. Keys that are no option become user arguments. 0, ERR_INISYNTAX or
// ERR_MEM.
uint32_t ParseIniFile(char *text, size_t length, qmOptionValues *values, qmClArgs *args);

// Reads the .ini file that belongs to the program path (its extension replaced by ".ini")
// into a new buffer (MemFree) with a spare zero byte; nullptr when there is none.
char *ReadIniFile(const char *programPath, size_t *length);
