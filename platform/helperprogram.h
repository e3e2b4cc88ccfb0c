// Runs a helper program (a dialog program, a clipboard tool) to its end and collects what it
// writes on standard output, while the player's windows keep answering the window system.
#pragma once
#include <string>
#include <vector>

struct qmHelperRun {
  int started;     // 0: the program could not be started
  int exitStatus;  // its exit status; 128 + the signal when killed
  std::string output;
};

// argv[0] is searched on PATH. input, when not null, is written to the program's standard
// input (closed afterwards); standard error is discarded. keepAlive (may be null) runs about
// every 20 ms while the program runs.
qmHelperRun RunHelperProgram(const std::vector<std::string> &argv, const std::string *input, void (*keepAlive)());

// Whether an executable of that name is found on PATH.
bool HelperProgramAvailable(const char *name);
