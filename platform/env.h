// The environment, temporary files and debug output. Names and values cross the boundary
// through TextToSystem and TextFromSystem.
#pragma once
#include <cstdint>

// A new allocation (MemFree) holding the value, or nullptr when unset or out of memory.
char *GetEnvVar(const char *name);
// 0, ERR_SETENV or ERR_MEM; an existing value is overwritten.
uint32_t SetEnvVar(const char *name, const char *value);
// 0.
uint32_t UnsetEnvVar(const char *name);

// Creates a new empty file in the temporary folder, readable and writable by this user only,
// and writes its name into buffer (kMaxPathLength + 1 bytes); the name cannot be taken by
// anyone else between choosing and opening it. Returns buffer, or nullptr on failure.
char *TempFileName(char *buffer);

// Formatted output to standard output, for the debug commands and diagnostic lines.
void DebugPrintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
