// Debug output of the system library and of the VM's call trace: plain text on standard
// output, and the line DebugPrompt reads from standard input.
#pragma once
#include <cstddef>
#include <cstdio>

struct VmState;

// Writes the text as it is and flushes, so that output interleaves with other programs'.
void DebugWrite(VmState *L, const char *text);
// Tests catch the run's output here; null goes back to standard output.
void SetDebugSink(VmState *L, void (*sink)(const char *text));
// Where the run's DebugPrompt reads; null goes back to standard input.
void SetDebugInput(VmState *L, std::FILE *input);
// One line of at most size - 1 bytes without its trailing CR and LF characters; an empty
// text at the end of the input. Returns out.
char *ReadDebugLine(VmState *L, char *out, size_t size);
