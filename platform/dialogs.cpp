#include "platform/dialogs.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/helperprogram.h"

namespace {

const qmDialogDesktop *gDesktop = nullptr;
const qmDialogBackend *gOverride = nullptr;

constexpr size_t kMaxButtons = 32;

int NoMessage(const char *, const char *, const char *) { return 0; }
int NoFile(const qmFilePanelRequest &, std::string *, std::vector<std::string> *) { return 0; }
int NoFolder(const char *, const char *, std::string *) { return 0; }
int NoColor(const char *, int32_t, int32_t *) { return 0; }
int NoFont(const char *, const char *, int32_t, qmFontChoice *) { return 0; }
int NoList(const char *, const char *, const std::vector<std::string> &, int32_t, int32_t *) { return 0; }
int NoText(const qmTextEntryRequest &, std::string *) { return 0; }

bool EnvSet(const char *name) {
  const char *v = std::getenv(name);
  return v && v[0];
}

}  // namespace

const qmDialogBackend kNoDialogs = {"none", NoMessage, NoFile, NoFolder, NoColor, NoFont, NoList, NoText};

void SetDialogDesktop(const qmDialogDesktop *desktop) { gDesktop = desktop; }
const qmDialogDesktop *GetDialogDesktop() { return gDesktop; }

bool DialogDisplayPresent() {
  if (const char *driver = std::getenv("SDL_VIDEODRIVER")) {
    if (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0) return false;
  }
  return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

void SetDialogBackend(const qmDialogBackend *backend) { gOverride = backend; }

const qmDialogBackend *CurrentDialogBackend() {
  if (gOverride) return gOverride;
  if (DialogDisplayPresent()) {
    const char *desktop = std::getenv("XDG_CURRENT_DESKTOP");
    bool kde = desktop && std::strstr(desktop, "KDE");
    if (kde && HelperProgramAvailable("kdialog")) return &kKdialogDialogs;
    if (HelperProgramAvailable("zenity")) return &kZenityDialogs;
    if (HelperProgramAvailable("kdialog")) return &kKdialogDialogs;
  }
  if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) return &kConsoleDialogs;
  return &kNoDialogs;
}

std::vector<std::string> SplitButtonLabels(const char *buttons) {
  std::vector<std::string> labels;
  const char *p = buttons ? buttons : "";
  for (;;) {
    const char *bar = std::strchr(p, '|');
    if (!bar || labels.size() + 1 == kMaxButtons) {
      labels.emplace_back(p);
      break;
    }
    labels.emplace_back(p, size_t(bar - p));
    p = bar + 1;
  }
  return labels;
}

int ButtonResult(int position, int count) { return position + 1 == count ? 0 : position + 1; }

bool IsDecimalNumberText(const std::string &text, int partial) {
  size_t i = 0;
  if (i < text.size() && text[i] == '-') i++;
  int points = 0, digits = 0;
  for (; i < text.size(); i++) {
    if (text[i] == '.') {
      if (++points > 1) return false;
    } else if (text[i] >= '0' && text[i] <= '9') {
      digits++;
    } else {
      return false;
    }
  }
  return digits > 0 || partial || text.empty();
}
