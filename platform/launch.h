// Starting other programs and handing documents and URLs to the desktop's default handler.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

inline constexpr size_t kMaxLaunchArguments = 127;  // argument 0, the program, included

// Starts a program, or opens a document (a name with an extension that is not an executable
// file) with its application through xdg-open. Synchronous (async = 0): "path arguments" runs
// through the shell, with the path quoted, and the call returns when it has finished.
// Asynchronous: the arguments are split as SplitLaunchArguments does and the program started
// without a shell; the call returns at once.
// 0; ERR_READFILE (path as error argument) when the path cannot be used or the program cannot
// be started; ERR_WRONGUSAGE for arguments that cannot be split; ERR_MEM.
uint32_t LaunchProgram(const char *path, const char *arguments, int async);

// 0; hands the URL to the desktop's default handler without waiting for it.
uint32_t OpenURLInBrowser(const char *url);

// Splits an argument text: arguments are separated by spaces; one that begins with a double
// quote runs to the next double quote (the quotes are dropped); ">name" or "> name" names the
// file that receives standard output and standard error. The arguments are appended to those
// already in the list (argument 0, the program). 0, or ERR_WRONGUSAGE for a quote without its
// partner, a ">" without a name, or a list longer than kMaxLaunchArguments.
uint32_t SplitLaunchArguments(const char *text, std::vector<std::string> *arguments,
                              std::string *outputFile);
