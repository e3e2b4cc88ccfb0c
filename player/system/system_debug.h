// Debug output of the system library and of the VM's call trace: plain text on standard
// output, and the line DebugPrompt reads from standard input.
#pragma once
#include <cstddef>
#include <cstdio>

// Writes the text as it is and flushes, so that output interleaves with other programs'.
void DebugWrite(const char *text);
// Tests catch the output here; null goes back to standard output.
void SetDebugSink(void (*sink)(const char *text));
// Where DebugPrompt reads; null goes back to standard input.
void SetDebugInput(std::FILE *input);
// One line of at most size - 1 bytes without its trailing CR and LF characters; an empty
// text at the end of the input. Returns out.
char *ReadDebugLine(char *out, size_t size);
