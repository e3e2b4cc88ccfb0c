#include "platform/requesters.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/dialogs.h"
#include "platform/memory.h"
#include "platform/systemtext.h"
#include "runtime/errcodes.h"

namespace {

std::string ToDialog(const char *latin1) {
  if (!latin1) return {};
  std::string out(std::strlen(latin1) * 2 + 1, '\0');
  if (TextToSystem(latin1, out.data(), out.size()) != 0) return {};
  out.resize(std::strlen(out.c_str()));
  return out;
}

// A path from a dialog, read in as every file name is, so that the file can be opened.
char *PathFromDialog(const std::string &utf8) {
  size_t size = utf8.size() * 2 + 1;
  char *out = static_cast<char *>(MemAlloc(static_cast<uint32_t>(size), 0));
  if (out && TextFromSystem(utf8.c_str(), out, size) != 0) out[0] = 0;
  return out;
}

bool EndsWithCaseless(const char *name, const std::string &ending) {
  size_t n = std::strlen(name);
  if (n < ending.size()) return false;
  const char *tail = name + n - ending.size();
  for (size_t i = 0; i < ending.size(); i++)
    if (std::tolower(static_cast<unsigned char>(tail[i])) != std::tolower(static_cast<unsigned char>(ending[i])))
      return false;
  return true;
}

}  // namespace

std::vector<std::string> BuildFileFilter(const char *pattern) {
  std::vector<std::string> entries;
  if (!pattern || !pattern[0] || pattern[0] == '*' || std::strcmp(pattern, "#?") == 0) return entries;
  const char *p = pattern;
  for (;;) {
    const char *bar = std::strchr(p, '|');
    std::string entry = bar ? std::string(p, size_t(bar - p)) : std::string(p);
    if (!entry.empty()) entries.push_back(entry[0] == '.' ? entry : "." + entry);
    if (!bar) break;
    p = bar + 1;
  }
  return entries;
}

bool FilterNavFile(const std::vector<std::string> &entries, const char *name, int isFolder) {
  if (!name) return false;
  if (isFolder || entries.empty()) return true;
  for (const std::string &e : entries)
    if (EndsWithCaseless(name, e)) return true;
  return false;
}

int ShowMessageRequester(const char *title, const char *text, const char *buttons) {
  std::string t = ToDialog(title), b = ToDialog(text), labels = ToDialog(buttons ? buttons : "OK");
  const qmDialogDesktop *desktop = GetDialogDesktop();
  if (desktop && desktop->messageBox && DialogDisplayPresent()) {
    std::vector<std::string> split = SplitButtonLabels(labels.c_str());
    int pressed = desktop->messageBox(t.c_str(), b.c_str(), split);
    if (pressed >= 0) return ButtonResult(pressed, static_cast<int>(split.size()));
  }
  return CurrentDialogBackend()->message(t.c_str(), b.c_str(), labels.c_str());
}

uint32_t ShowSystemRequester(const char *title, const char *body, const char *buttons, int32_t, int32_t *button) {
  int r = ShowMessageRequester(title, body, buttons);
  *button = r < 0 ? 0 : r;
  return 0;
}

int RequestFile(const char *title, const char *pattern, int32_t mode, const char *folder, const char *file,
                int32_t *confirmed, qmFileRequestResult *out) {
  *confirmed = 0;
  *out = qmFileRequestResult{nullptr, nullptr, 0};
  qmFilePanelRequest request;
  request.title = ToDialog(title);
  request.folder = ToDialog(folder);
  request.file = ToDialog(file);
  request.extensions = BuildFileFilter(pattern);
  for (std::string &e : request.extensions) e = ToDialog(e.c_str());
  request.save = mode == 2;
  request.multiSelect = mode == 1;
  std::string chosenFolder;
  std::vector<std::string> names;
  int r = CurrentDialogBackend()->file(request, &chosenFolder, &names);
  if (r != 1) return r;
  if (names.empty() || (!request.multiSelect && names.size() != 1)) return -1;
  out->folder = PathFromDialog(chosenFolder);
  std::string joined;
  for (const std::string &n : names) {
    char *name = PathFromDialog(n);
    if (!name) break;
    joined.append(name, std::strlen(name) + 1);
    MemFree(name);
  }
  out->names = static_cast<char *>(MemAlloc(static_cast<uint32_t>(joined.size() + 1), 0));
  if (!out->folder || !out->names) {
    MemFree(out->folder);
    MemFree(out->names);
    *out = qmFileRequestResult{nullptr, nullptr, 0};
    return -1;
  }
  std::memcpy(out->names, joined.data(), joined.size());
  out->names[joined.size()] = 0;
  out->count = static_cast<uint32_t>(names.size());
  *confirmed = 1;
  return 1;
}

uint32_t ShowFileRequester(const char *title, const char *pattern, int32_t mode, const char *folder,
                           const char *file, int32_t *confirmed, qmFileRequestResult *out) {
  return RequestFile(title, pattern, mode, folder, file, confirmed, out) < 0 ? uint32_t(ERR_MEM) : 0;
}

int RequestFolder(const char *title, const char *folder, char **path) {
  *path = nullptr;
  std::string chosen;
  std::string t = ToDialog(title), f = ToDialog(folder);
  int r = CurrentDialogBackend()->folder(t.c_str(), f.c_str(), &chosen);
  if (r != 1) return r;
  *path = PathFromDialog(chosen);
  return *path ? 1 : -1;
}

uint32_t ShowPathRequester(const char *title, const char *folder, char **path) {
  return RequestFolder(title, folder, path) < 0 ? uint32_t(ERR_MEM) : 0;
}

uint32_t ShowStringRequester(const char *title, const char *body, const char *defaultText, int32_t number,
                             int32_t maxLength, int32_t password, char *out) {
  out[0] = 0;
  qmTextEntryRequest request;
  request.title = ToDialog(title);
  request.body = ToDialog(body);
  request.defaultText = ToDialog(defaultText);
  request.number = number;
  request.maxLength = maxLength < 1 || maxLength > int32_t(kStringRequestSize - 1) ? int32_t(kStringRequestSize - 1)
                                                                                   : maxLength;
  request.password = password;
  // The limit counts the player's bytes; the dialog sees UTF-8, up to two bytes each.
  qmTextEntryRequest shown = request;
  shown.maxLength = request.maxLength * 2;
  std::string typed;
  int r = CurrentDialogBackend()->text(shown, &typed);
  if (r < 0) return ERR_MEM;
  if (r == 0) return ERR_USERABORT;
  std::string text = Utf8ToLatin1(typed.c_str());
  if (static_cast<int32_t>(text.size()) > request.maxLength) text.resize(size_t(request.maxLength));
  std::memcpy(out, text.c_str(), text.size() + 1);
  return 0;
}

uint32_t ShowListRequester(const char *title, const char *body, const char *entries, uint32_t count,
                           int32_t active, int32_t *index) {
  std::vector<std::string> rows;
  const char *p = entries;
  for (uint32_t i = 0; i < count; i++, p += std::strlen(p) + 1) rows.push_back(ToDialog(p[0] ? p : " "));
  std::string t = ToDialog(title), b = ToDialog(body);
  int32_t chosen = -1;
  int r = CurrentDialogBackend()->list(t.c_str(), b.c_str(), rows, active, &chosen);
  if (r < 0) return ERR_MEM;
  *index = r == 1 && chosen >= 0 && chosen < static_cast<int32_t>(count) ? chosen : -1;
  return 0;
}

uint32_t ShowColorRequester(const char *title, int32_t colour, int32_t *out) {
  std::string t = ToDialog(title);
  int32_t chosen = 0;
  int r = CurrentDialogBackend()->color(t.c_str(), colour < 0 ? -1 : colour & 0xffffff, &chosen);
  if (r < 0) return ERR_MEM;
  *out = r == 1 ? chosen & 0xffffff : -1;
  return 0;
}

uint32_t ShowFontRequester(const char *title, const char *font, int32_t size, int32_t *confirmed,
                           qmFontRequestResult *out) {
  *confirmed = 0;
  *out = qmFontRequestResult{};
  bool preset = font && font[0];
  std::string t = ToDialog(title), family = ToDialog(preset ? font : "Helvetica");
  qmFontChoice choice{};
  int r = CurrentDialogBackend()->font(t.c_str(), family.c_str(), preset && size > 0 ? size : 12, &choice);
  if (r < 0) return ERR_MEM;
  if (r == 0) return 0;
  std::string name = Utf8ToLatin1(choice.family.c_str());
  std::strncpy(out->family, name.c_str(), sizeof out->family - 1);
  out->size = choice.size;
  out->weight = choice.bold ? 200 : 80;
  out->slant = choice.italic ? 100 : 0;
  out->underline = choice.underline;
  out->bold = choice.bold;
  *confirmed = 1;
  return 0;
}

void ShowErrorRequester(const char *title, const char *text) {
  if (DialogDisplayPresent()) {
    std::string t = ToDialog(title), b = ToDialog(text);
    const qmDialogDesktop *desktop = GetDialogDesktop();
    if (desktop && desktop->messageBox && desktop->messageBox(t.c_str(), b.c_str(), {"OK"}) >= 0) return;
    const qmDialogBackend *backend = CurrentDialogBackend();
    if (backend != &kNoDialogs && backend != &kConsoleDialogs && backend->message(t.c_str(), b.c_str(), "OK") >= 0)
      return;
  }
  std::fprintf(stderr, "%s\n", text);
  std::fflush(stderr);
}
