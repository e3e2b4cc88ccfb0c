// From an error code to a stop of the script and a report: the handling of a command's error,
// the failing function's name and source, the line in the script's own file, and the final
// report in the error requester or on the console.
#pragma once
#include <cstddef>
#include <cstdint>

struct VmState;

inline constexpr char kErrorDefaultFileName[] = "---";
inline constexpr char kRequesterTitle[] = "QuenmoorPlayer";

// Raises the code, or records it (exit on error off) and returns 0: the VM's rule.
uint32_t HandleCommandError(VmState *L, uint32_t code);
// The script's own error handler (RaiseOnError), which the VM runs before a failing command's
// code is raised or recorded. Runs it with (code, message, command name, line): the failing
// command's name and line are taken first and then reset to "----" and -1, the handler runs as
// a callback and its results are dropped. Returns the handler's error code, 0 when it
// succeeded (the command then fails silently), or code when none is installed. Installed as
// the VM's hook at runtime start-up.
uint32_t CallErrorHandler(VmState *L, uint32_t code);
// Makes the value at stack position i the handler (a function), or removes it (anything
// else); the previous handler is released either way.
void SetErrorHandler(VmState *L, int i);
void ReleaseErrorHandler(VmState *L);
bool HasErrorHandler(VmState *L);
// Fills the failing function's name, the source name and, when unknown, the error line from
// the activation records; installed as the VM's hook at runtime start-up.
void FillErrorFunctionName(VmState *L);
// The line in the script's own source file, or -1.
int32_t MapErrorLine(VmState *L);
// The message of the code; with line information on (runtime tag 23) also the file's name and
// the mapped line, otherwise an empty name and 0.
void GetErrorReport(VmState *L, uint32_t code, char *message, size_t messageSize, char *file, size_t fileSize,
                    int32_t *line);
// The report text: the message alone (plain set, or line information off), else with the
// file, the line and, when known, the function.
char *BuildScriptErrorText(VmState *L, const char *message, int plain, char *out, size_t size);
// Shows the report in the error requester of the player context (standard output while there
// is none).
void ShowScriptError(VmState *L, const char *message, int plain);

// "done" and "failed" (translated) and a newline, unless quiet.
void PrintDoneMessage();
void PrintFailedMessage();
