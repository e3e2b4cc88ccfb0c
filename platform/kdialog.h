// The dialog helper program kdialog, preferred on KDE desktops: the command lines the dialogs
// run it with. It prints answers as zenity does (paths one a line, "#rrggbb", the chosen tag),
// so zenity.h reads them; it exits 0 when confirmed and 1 when cancelled.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialogs.h"

// Up to three buttons are its message box's own (exit 0, 1 and 2 from the left); more become a
// choice of the labels, whose tags are the buttons' positions.
std::vector<std::string> KdialogMessageArgs(const char *title, const char *body,
                                            const std::vector<std::string> &labels);
// The button pressed as the message box's result (ButtonResult); 0 when closed.
int KdialogMessageResult(int exitStatus, const std::string &output, const std::vector<std::string> &labels);

std::vector<std::string> KdialogFileArgs(const qmFilePanelRequest &request);
std::vector<std::string> KdialogFolderArgs(const char *title, const char *start);
std::vector<std::string> KdialogColorArgs(const char *title, int32_t colour);
std::vector<std::string> KdialogListArgs(const char *title, const char *body, const std::vector<std::string> &entries,
                                         int32_t active);
std::vector<std::string> KdialogTextArgs(const qmTextEntryRequest &request, const std::string &start);
