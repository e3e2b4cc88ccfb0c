// Dialogs on the terminal, for a player started from one without a desktop: the question on
// standard error, the answer a line of standard input. An empty line or the end of input
// cancels.
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/dialogs.h"

namespace {

constexpr int kMaxTries = 5;

// 1 with a line (without its newline), 0 at the end of input.
int ReadLine(std::string *line) {
  line->clear();
  int c;
  while ((c = std::getchar()) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

int Ask(const std::string &prompt, std::string *answer) {
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  if (!ReadLine(answer)) return 0;
  return answer->empty() ? 0 : 1;
}

void Heading(const char *title, const char *body) {
  std::fprintf(stderr, "\n%s\n", title ? title : "");
  if (body && body[0]) std::fprintf(stderr, "%s\n", body);
}

int CMessage(const char *title, const char *body, const char *buttons) {
  std::vector<std::string> labels = SplitButtonLabels(buttons);
  Heading(title, body);
  for (size_t i = 0; i < labels.size(); i++) std::fprintf(stderr, "  %zu) %s\n", i + 1, labels[i].c_str());
  for (int t = 0; t < kMaxTries; t++) {
    std::string answer;
    if (!Ask("? ", &answer)) return 0;
    long n = std::strtol(answer.c_str(), nullptr, 10);
    if (n >= 1 && static_cast<size_t>(n) <= labels.size())
      return ButtonResult(static_cast<int>(n - 1), static_cast<int>(labels.size()));
  }
  return 0;
}

void SplitPath(const std::string &path, std::string *folder, std::string *name) {
  size_t slash = path.rfind('/');
  *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

int CFile(const qmFilePanelRequest &request, std::string *folder, std::vector<std::string> *names) {
  Heading(request.title.c_str(), request.multiSelect ? "File names, separated by blanks:" : "File name:");
  std::string answer;
  if (!Ask("> ", &answer)) return 0;
  names->clear();
  size_t start = 0;
  while (start < answer.size()) {
    size_t end = request.multiSelect ? answer.find(' ', start) : std::string::npos;
    if (end == std::string::npos) end = answer.size();
    std::string path = answer.substr(start, end - start), f, n;
    if (!path.empty() && path[0] != '/' && !request.folder.empty()) path = request.folder + "/" + path;
    SplitPath(path, &f, &n);
    if (!n.empty()) {
      if (names->empty()) *folder = f;
      names->push_back(n);
    }
    start = end + 1;
  }
  return names->empty() ? 0 : 1;
}

int CFolder(const char *title, const char *, std::string *path) {
  Heading(title, "Folder:");
  return Ask("> ", path);
}

int CColor(const char *title, int32_t colour, int32_t *out) {
  Heading(title, "Colour as RRGGBB (hexadecimal):");
  std::fprintf(stderr, "[%06X] ", colour < 0 ? 0 : colour & 0xffffff);
  std::string answer;
  if (!Ask("> ", &answer)) return 0;
  char *end = nullptr;
  unsigned long v = std::strtoul(answer.c_str() + (answer[0] == '#' || answer[0] == '$'), &end, 16);
  if (*end || v > 0xffffff) return 0;
  *out = static_cast<int32_t>(v);
  return 1;
}

int CFont(const char *title, const char *family, int32_t size, qmFontChoice *out) {
  Heading(title, "Font family:");
  std::string answer;
  if (!Ask("> ", &answer)) return 0;
  out->family = answer.empty() ? family : answer;
  out->size = size;
  out->bold = out->italic = out->underline = 0;
  return 1;
}

int CList(const char *title, const char *body, const std::vector<std::string> &entries, int32_t active,
          int32_t *index) {
  Heading(title, body);
  for (size_t i = 0; i < entries.size(); i++)
    std::fprintf(stderr, "%c %zu) %s\n", static_cast<int32_t>(i) == active ? '*' : ' ', i + 1, entries[i].c_str());
  for (int t = 0; t < kMaxTries; t++) {
    std::string answer;
    if (!Ask("? ", &answer)) return 0;
    long n = std::strtol(answer.c_str(), nullptr, 10);
    if (n >= 1 && static_cast<size_t>(n) <= entries.size()) {
      *index = static_cast<int32_t>(n - 1);
      return 1;
    }
  }
  return 0;
}

// Keeps a password off the screen while it is typed.
struct EchoOff {
  termios saved{};
  bool active = false;
  explicit EchoOff(bool on) {
    if (!on || tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    active = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
  }
  ~EchoOff() {
    if (!active) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::fprintf(stderr, "\n");
  }
};

int CText(const qmTextEntryRequest &request, std::string *out) {
  Heading(request.title.c_str(), request.body.c_str());
  EchoOff hidden(request.password != 0);
  for (int t = 0; t < kMaxTries; t++) {
    if (!request.defaultText.empty() && !request.password) std::fprintf(stderr, "[%s] ", request.defaultText.c_str());
    std::string answer;
    std::fprintf(stderr, "> ");
    std::fflush(stderr);
    if (!ReadLine(&answer)) return 0;
    if (answer.empty()) answer = request.defaultText;
    if (static_cast<int32_t>(answer.size()) <= request.maxLength &&
        (!request.number || IsDecimalNumberText(answer, 0))) {
      *out = answer;
      return 1;
    }
  }
  return 0;
}

}  // namespace

const qmDialogBackend kConsoleDialogs = {"console", CMessage, CFile, CFolder, CColor, CFont, CList, CText};
