#include "platform/zenity.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/helperprogram.h"

std::string StripNewline(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

qmHelperRun RunDialogProgram(const std::vector<std::string> &args) {
  const qmDialogDesktop *desktop = GetDialogDesktop();
  return RunHelperProgram(args, nullptr, desktop ? desktop->keepAlive : nullptr);
}

namespace {

constexpr int kMaxReprompts = 20;

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// zenity reads markup in its texts: the player's texts are plain.
std::string Plain(const char *text) {
  std::string out;
  for (const char *p = text ? text : ""; *p; p++) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += *p;
    }
  }
  return out;
}

int ExitResult(const qmHelperRun &run) {
  if (!run.started) return -1;
  if (run.exitStatus == 0) return 1;
  return run.exitStatus == 1 || run.exitStatus == 5 ? 0 : -1;
}

int ZMessage(const char *title, const char *body, const char *buttons) {
  std::vector<std::string> labels = SplitButtonLabels(buttons);
  qmHelperRun run = RunDialogProgram(ZenityMessageArgs(title, body, labels));
  if (!run.started) return -1;
  return ZenityMessageResult(run.exitStatus, run.output, labels);
}

int ZFile(const qmFilePanelRequest &request, std::string *folder, std::vector<std::string> *names) {
  qmHelperRun run = RunDialogProgram(ZenityFileArgs(request));
  if (ExitResult(run) != 1) return ExitResult(run);
  return ZenityFileResult(run.exitStatus, run.output, folder, names);
}

int ZFolder(const char *title, const char *start, std::string *path) {
  qmHelperRun run = RunDialogProgram(ZenityFolderArgs(title, start));
  if (ExitResult(run) != 1) return ExitResult(run);
  return FolderAnswer(run.output, path);
}

int ZColor(const char *title, int32_t colour, int32_t *out) {
  qmHelperRun run = RunDialogProgram(ZenityColorArgs(title, colour));
  if (ExitResult(run) != 1) return ExitResult(run);
  return ColorAnswer(run.output, out);
}

int ZList(const char *title, const char *body, const std::vector<std::string> &entries, int32_t active,
          int32_t *index) {
  qmHelperRun run = RunDialogProgram(ZenityListArgs(title, body, entries, active));
  if (ExitResult(run) != 1) return ExitResult(run);
  return ZenityListResult(run.exitStatus, run.output, entries.size(), index);
}

// The keystroke filter of a text field becomes a check of the answer: an answer that breaks
// it is offered again for correction.
int ZText(const qmTextEntryRequest &request, std::string *out) {
  std::string start = request.defaultText;
  for (int round = 0; round < kMaxReprompts; round++) {
    qmHelperRun run = RunDialogProgram(ZenityTextArgs(request, start));
    if (ExitResult(run) != 1) return ExitResult(run);
    std::string text = StripNewline(run.output);
    bool tooLong = static_cast<int32_t>(text.size()) > request.maxLength;
    if (!tooLong && (!request.number || IsDecimalNumberText(text, 0))) {
      *out = text;
      return 1;
    }
    start = text;
  }
  return 0;
}

// zenity has no font dialog.
int ZFont(const char *title, const char *family, int32_t size, qmFontChoice *out) {
  return FontFromFamilyList(title, family, size, out, ZList);
}

}  // namespace

int FolderAnswer(const std::string &output, std::string *path) {
  *path = StripNewline(output);
  return path->empty() || (*path)[0] != '/' ? -1 : 1;
}

int ColorAnswer(const std::string &output, int32_t *out) {
  int32_t c = ParseZenityColor(StripNewline(output));
  if (c < 0) return -1;
  *out = c;
  return 1;
}

std::vector<std::string> FontFamilyNames() {
  qmHelperRun fonts = RunHelperProgram({"fc-list", ":", "family"}, nullptr, nullptr);
  std::vector<std::string> families;
  for (std::string line : Lines(fonts.output)) {
    line = line.substr(0, line.find(','));
    bool seen = false;
    for (const std::string &f : families) seen = seen || f == line;
    if (!seen && !line.empty()) families.push_back(line);
  }
  return families;
}

int FontFromFamilyList(const char *title, const char *family, int32_t size, qmFontChoice *out,
                       int (*list)(const char *title, const char *body, const std::vector<std::string> &entries,
                                   int32_t active, int32_t *index)) {
  std::vector<std::string> families = FontFamilyNames();
  if (families.empty()) return -1;
  int32_t active = -1;
  for (size_t i = 0; i < families.size(); i++)
    if (families[i] == family) active = static_cast<int32_t>(i);
  int32_t index = -1;
  int r = list(title, "", families, active, &index);
  if (r != 1) return r;
  out->family = index >= 0 ? families[size_t(index)] : family;
  out->size = size;
  out->bold = out->italic = out->underline = 0;
  return 1;
}

const qmDialogBackend kZenityDialogs = {"zenity", ZMessage, ZFile, ZFolder, ZColor, ZFont, ZList, ZText};

std::string CaselessGlob(const std::string &extension) {
  std::string glob = "*";
  for (char c : extension) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalpha(u) && u < 0x80) {
      glob += '[';
      glob += static_cast<char>(std::tolower(u));
      glob += static_cast<char>(std::toupper(u));
      glob += ']';
    } else if (c == '*' || c == '?' || c == '[' || c == ']') {
      glob += '[';
      glob += c;
      glob += ']';
    } else {
      glob += c;
    }
  }
  return glob;
}

std::vector<std::string> ZenityMessageArgs(const char *title, const char *body,
                                           const std::vector<std::string> &labels) {
  std::vector<std::string> args = {"zenity", "--question", "--switch", "--no-wrap",
                                   std::string("--title=") + (title ? title : ""),
                                   "--text=" + Plain(body)};
  for (const std::string &label : labels) args.push_back("--extra-button=" + label);
  return args;
}

int ZenityMessageResult(int, const std::string &output, const std::vector<std::string> &labels) {
  std::string pressed = StripNewline(output);
  for (size_t i = 0; i < labels.size(); i++)
    if (labels[i] == pressed) return ButtonResult(static_cast<int>(i), static_cast<int>(labels.size()));
  return 0;
}

std::vector<std::string> ZenityFileArgs(const qmFilePanelRequest &request) {
  std::vector<std::string> args = {"zenity", "--file-selection", "--title=" + request.title};
  std::string start = request.folder;
  if (!start.empty() && start.back() != '/') start += '/';
  start += request.file;
  if (!start.empty()) args.push_back("--filename=" + start);
  if (request.save) {
    args.push_back("--save");
  } else {
    if (request.multiSelect) {
      args.push_back("--multiple");
      args.push_back("--separator=\n");
    }
    if (!request.extensions.empty()) {
      std::string filter = "--file-filter=";
      for (size_t i = 0; i < request.extensions.size(); i++) {
        if (i) filter += ' ';
        filter += CaselessGlob(request.extensions[i]);
      }
      args.push_back(filter);
    }
  }
  return args;
}

std::vector<std::string> ZenityFolderArgs(const char *title, const char *start) {
  std::vector<std::string> args = {"zenity", "--file-selection", "--directory",
                                   std::string("--title=") + (title ? title : "")};
  if (start && start[0]) {
    std::string s = start;
    if (s.back() != '/') s += '/';
    args.push_back("--filename=" + s);
  }
  return args;
}

int ZenityFileResult(int exitStatus, const std::string &output, std::string *folder, std::vector<std::string> *names) {
  if (exitStatus != 0) return 0;
  std::vector<std::string> paths = Lines(output);
  if (paths.empty()) return -1;
  names->clear();
  for (const std::string &path : paths) {
    size_t slash = path.rfind('/');
    if (path[0] != '/' || slash + 1 == path.size()) return -1;
    if (names->empty()) *folder = slash == 0 ? "/" : path.substr(0, slash);
    names->push_back(path.substr(slash + 1));
  }
  return 1;
}

std::vector<std::string> ZenityColorArgs(const char *title, int32_t colour) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "#%06x", colour < 0 ? 0u : static_cast<unsigned>(colour) & 0xffffffu);
  return {"zenity", "--color-selection", std::string("--title=") + (title ? title : ""),
          std::string("--color=") + hex};
}

int32_t ParseZenityColor(const std::string &text) {
  unsigned r, g, b;
  char tail;
  if (std::sscanf(text.c_str(), "rgb(%u,%u,%u%c", &r, &g, &b, &tail) == 4 ||
      std::sscanf(text.c_str(), "rgba(%u,%u,%u,%c", &r, &g, &b, &tail) == 4) {
    if (r > 255 || g > 255 || b > 255) return -1;
    return static_cast<int32_t>(r << 16 | g << 8 | b);
  }
  if (text.size() < 2 || text[0] != '#') return -1;
  for (size_t i = 1; i < text.size(); i++)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return -1;
  size_t digits = (text.size() - 1) / 3;
  if ((text.size() - 1) % 3 || (digits != 2 && digits != 4)) return -1;
  int32_t colour = 0;
  for (int c = 0; c < 3; c++) {
    unsigned v = static_cast<unsigned>(std::strtoul(text.substr(1 + c * digits, digits).c_str(), nullptr, 16));
    if (digits == 4) v /= 257;  // 16-bit channels
    colour = colour << 8 | static_cast<int32_t>(v);
  }
  return colour;
}

std::vector<std::string> ZenityListArgs(const char *title, const char *body, const std::vector<std::string> &entries,
                                        int32_t active) {
  std::vector<std::string> args = {"zenity", "--list", std::string("--title=") + (title ? title : ""),
                                   "--text=" + Plain(body)};
  bool radio = active >= 0;
  if (radio) args.insert(args.end(), {"--radiolist", "--column=", "--column=#", "--column=", "--hide-column=2",
                                      "--print-column=2", "--hide-header"});
  else args.insert(args.end(), {"--column=#", "--column=", "--hide-column=1", "--print-column=1", "--hide-header"});
  args.push_back("--");  // rows that look like options stay rows
  for (size_t i = 0; i < entries.size(); i++) {
    if (radio) args.push_back(static_cast<int32_t>(i) == active ? "TRUE" : "FALSE");
    args.push_back(std::to_string(i));
    args.push_back(entries[i]);
  }
  return args;
}

int ZenityListResult(int exitStatus, const std::string &output, size_t count, int32_t *index) {
  if (exitStatus != 0) return 0;
  std::string text = StripNewline(output);
  // Some versions print the chosen row twice, separated by "|".
  text = text.substr(0, text.find('|'));
  if (text.empty()) {
    *index = -1;
    return 1;
  }
  char *end = nullptr;
  unsigned long n = std::strtoul(text.c_str(), &end, 10);
  if (*end || !std::isdigit(static_cast<unsigned char>(text[0])) || n >= count) return -1;
  *index = static_cast<int32_t>(n);
  return 1;
}

std::vector<std::string> ZenityTextArgs(const qmTextEntryRequest &request, const std::string &start) {
  std::vector<std::string> args = {"zenity", "--entry", "--title=" + request.title,
                                   "--text=" + Plain(request.body.c_str()), "--entry-text=" + start};
  if (request.password) args.push_back("--hide-text");
  return args;
}
