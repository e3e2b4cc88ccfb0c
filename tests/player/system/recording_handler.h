// An error handler for RaiseOnError tests, in the assembler's text: handler(code, message,
// command, line) passes its arguments to the script's global "record". Programs add it as a
// nested function.
#pragma once

constexpr const char *kRecordingHandler = R"(
  .func maxstack=10 params=4
    .k "record"
        GETGLOBAL 4 k0
        MOVE      5 0
        MOVE      6 1
        MOVE      7 2
        MOVE      8 3
        CALL      4 5 1
        RETURN    0 1
  .end
)";
