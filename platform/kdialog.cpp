#include "platform/kdialog.h"

#include <cstdio>
#include <cstdlib>

#include "platform/helperprogram.h"
#include "platform/zenity.h"

namespace {

constexpr size_t kOwnButtons = 3;
constexpr int kMaxReprompts = 20;

std::string Title(const char *title) { return title ? title : ""; }

int ExitResult(const qmHelperRun &run) {
  if (!run.started) return -1;
  if (run.exitStatus == 0) return 1;
  return run.exitStatus == 1 ? 0 : -1;
}

int KMessage(const char *title, const char *body, const char *buttons) {
  std::vector<std::string> labels = SplitButtonLabels(buttons);
  qmHelperRun run = RunDialogProgram(KdialogMessageArgs(title, body, labels));
  if (!run.started) return -1;
  return KdialogMessageResult(run.exitStatus, run.output, labels);
}

int KFile(const qmFilePanelRequest &request, std::string *folder, std::vector<std::string> *names) {
  qmHelperRun run = RunDialogProgram(KdialogFileArgs(request));
  if (ExitResult(run) != 1) return ExitResult(run);
  return ZenityFileResult(0, run.output, folder, names);
}

int KFolder(const char *title, const char *start, std::string *path) {
  qmHelperRun run = RunDialogProgram(KdialogFolderArgs(title, start));
  if (ExitResult(run) != 1) return ExitResult(run);
  return FolderAnswer(run.output, path);
}

int KColor(const char *title, int32_t colour, int32_t *out) {
  qmHelperRun run = RunDialogProgram(KdialogColorArgs(title, colour));
  if (ExitResult(run) != 1) return ExitResult(run);
  return ColorAnswer(run.output, out);
}

int KList(const char *title, const char *body, const std::vector<std::string> &entries, int32_t active,
          int32_t *index) {
  qmHelperRun run = RunDialogProgram(KdialogListArgs(title, body, entries, active));
  if (ExitResult(run) != 1) return ExitResult(run);
  return ZenityListResult(0, run.output, entries.size(), index);
}

int KText(const qmTextEntryRequest &request, std::string *out) {
  std::string start = request.defaultText;
  for (int round = 0; round < kMaxReprompts; round++) {
    qmHelperRun run = RunDialogProgram(KdialogTextArgs(request, start));
    if (ExitResult(run) != 1) return ExitResult(run);
    std::string text = StripNewline(run.output);
    if (static_cast<int32_t>(text.size()) <= request.maxLength && (!request.number || IsDecimalNumberText(text, 0))) {
      *out = text;
      return 1;
    }
    start = text;
  }
  return 0;
}

// No font dialog either.
int KFont(const char *title, const char *family, int32_t size, qmFontChoice *out) {
  return FontFromFamilyList(title, family, size, out, KList);
}

}  // namespace

const qmDialogBackend kKdialogDialogs = {"kdialog", KMessage, KFile, KFolder, KColor, KFont, KList, KText};

std::vector<std::string> KdialogMessageArgs(const char *title, const char *body,
                                            const std::vector<std::string> &labels) {
  std::vector<std::string> args = {"kdialog", "--title", Title(title)};
  const std::string text = body ? body : "";
  if (labels.size() > kOwnButtons) {
    args.insert(args.end(), {"--radiolist", text});
    for (size_t i = 0; i < labels.size(); i++) {
      args.push_back(std::to_string(i));
      args.push_back(labels[i]);
      args.push_back(i == 0 ? "on" : "off");
    }
    return args;
  }
  if (labels.size() == 1) return {"kdialog", "--title", Title(title), "--ok-label", labels[0], "--msgbox", text};
  args.insert(args.end(), {labels.size() == 3 ? "--yesnocancel" : "--yesno", text, "--yes-label", labels[0],
                           "--no-label", labels[1]});
  if (labels.size() == 3) args.insert(args.end(), {"--cancel-label", labels[2]});
  return args;
}

int KdialogMessageResult(int exitStatus, const std::string &output, const std::vector<std::string> &labels) {
  const int count = static_cast<int>(labels.size());
  if (labels.size() > kOwnButtons) {
    if (exitStatus != 0) return 0;
    int32_t index = -1;
    if (ZenityListResult(0, output, labels.size(), &index) != 1 || index < 0) return 0;
    return ButtonResult(index, count);
  }
  if (exitStatus < 0 || exitStatus >= count) return 0;
  return ButtonResult(exitStatus, count);
}

std::vector<std::string> KdialogFileArgs(const qmFilePanelRequest &request) {
  std::string start = request.folder;
  if (!start.empty() && start.back() != '/') start += '/';
  start += request.file;
  if (start.empty()) start += '.';
  std::vector<std::string> args = {"kdialog", "--title", request.title};
  if (request.save) {
    args.insert(args.end(), {"--getsavefilename", start});
    return args;
  }
  if (request.multiSelect) args.insert(args.end(), {"--multiple", "--separate-output"});
  args.insert(args.end(), {"--getopenfilename", start});
  if (!request.extensions.empty()) {
    std::string filter;
    for (size_t i = 0; i < request.extensions.size(); i++) {
      if (i) filter += ' ';
      filter += CaselessGlob(request.extensions[i]);
    }
    args.push_back(filter);
  }
  return args;
}

std::vector<std::string> KdialogFolderArgs(const char *title, const char *start) {
  return {"kdialog", "--title", Title(title), "--getexistingdirectory", start && start[0] ? start : "."};
}

std::vector<std::string> KdialogColorArgs(const char *title, int32_t colour) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "#%06x", colour < 0 ? 0u : static_cast<unsigned>(colour) & 0xffffffu);
  return {"kdialog", "--title", Title(title), "--getcolor", "--default", hex};
}

std::vector<std::string> KdialogListArgs(const char *title, const char *body, const std::vector<std::string> &entries,
                                         int32_t active) {
  std::vector<std::string> args = {"kdialog", "--title", Title(title), "--radiolist", body ? body : ""};
  for (size_t i = 0; i < entries.size(); i++) {
    args.push_back(std::to_string(i));
    args.push_back(entries[i]);
    args.push_back(static_cast<int32_t>(i) == active ? "on" : "off");
  }
  return args;
}

std::vector<std::string> KdialogTextArgs(const qmTextEntryRequest &request, const std::string &start) {
  if (request.password) return {"kdialog", "--title", request.title, "--password", request.body};
  return {"kdialog", "--title", request.title, "--inputbox", request.body, start};
}
