// The dialog helper program zenity: the command lines the dialogs run it with, and the
// reading of what it prints. It exits 0 when confirmed and 1 when cancelled or closed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/helperprogram.h"

// Shared with the other dialog program: runs it while the player's windows stay answered.
qmHelperRun RunDialogProgram(const std::vector<std::string> &args);
// The text without its trailing line ends.
std::string StripNewline(std::string text);

// "*.[jJ][pP][gG]" for ".jpg": the dialog's globs compare with case, the filter does not.
std::string CaselessGlob(const std::string &extension);

std::vector<std::string> ZenityMessageArgs(const char *title, const char *body,
                                           const std::vector<std::string> &labels);
// The button whose label was printed: its result (ButtonResult); 0 when cancelled.
int ZenityMessageResult(int exitStatus, const std::string &output, const std::vector<std::string> &labels);

std::vector<std::string> ZenityFileArgs(const qmFilePanelRequest &request);
std::vector<std::string> ZenityFolderArgs(const char *title, const char *start);
// Paths one to a line: the folder of the first and the file parts; 1, 0 cancelled, -1 when
// the output holds no absolute path.
int ZenityFileResult(int exitStatus, const std::string &output, std::string *folder, std::vector<std::string> *names);

std::vector<std::string> ZenityColorArgs(const char *title, int32_t colour);
// "rgb(r,g,b)", "rgba(r,g,b,a)", "#rrggbb" or "#rrrrggggbbbb" to $RRGGBB; -1 when unreadable.
int32_t ParseZenityColor(const std::string &text);
// The printed answer of a folder dialog (either program): 1 with the path, -1 when it is not an
// absolute path.
int FolderAnswer(const std::string &output, std::string *path);
// The printed answer of a colour dialog (either program): 1 with $RRGGBB, -1 when unreadable.
int ColorAnswer(const std::string &output, int32_t *out);

std::vector<std::string> ZenityListArgs(const char *title, const char *body, const std::vector<std::string> &entries,
                                        int32_t active);
// The printed row number; -1 for an empty answer; 1, 0 cancelled, -1 failed.
int ZenityListResult(int exitStatus, const std::string &output, size_t count, int32_t *index);

// The font families fontconfig knows, each once, in its order: neither dialog program has a
// font dialog, so the font requester is a list of these.
std::vector<std::string> FontFamilyNames();
// The font requester of a dialog program without one: FontFamilyNames offered through its list
// dialog, the size kept, no styles.
int FontFromFamilyList(const char *title, const char *family, int32_t size, qmFontChoice *out,
                       int (*list)(const char *title, const char *body, const std::vector<std::string> &entries,
                                   int32_t active, int32_t *index));

std::vector<std::string> ZenityTextArgs(const qmTextEntryRequest &request, const std::string &start);
