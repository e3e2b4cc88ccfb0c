// Modal dialogs: the message box, file and folder panels, colour picker, font chooser, list
// chooser and text entry. Each runs until the user closes it and answers 1 confirmed, 0
// cancelled or -1 failed. Texts cross this interface in UTF-8; the requester entry points
// (requesters.h) convert from and to the player's Latin-1.
//
// A dialog backend is one record of operations. The chain picks one at run time: the
// desktop's message box for messages, then a dialog helper program (kdialog on a KDE desktop,
// else zenity, else kdialog), then
// the terminal; when nothing can ask, every dialog answers "cancelled". Tests install a
// backend of their own.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What the file panel is asked: folder and file may be empty; extensions is the filter list
// of the requester's pattern (empty: every file).
struct qmFilePanelRequest {
  std::string title, folder, file;
  std::vector<std::string> extensions;
  int32_t save;
  int32_t multiSelect;
};

struct qmTextEntryRequest {
  std::string title, body, defaultText;
  int32_t number;     // only decimal numbers: optional minus, digits, at most one point
  int32_t maxLength;  // in bytes, 1 to 1024
  int32_t password;
};

struct qmFontChoice {
  std::string family;
  int32_t size;
  int32_t bold, italic, underline;
};

struct qmDialogBackend {
  const char *name;
  // buttons: labels separated by "|"; 1.. from the left, the last one 0.
  int (*message)(const char *title, const char *body, const char *buttons);
  // folder: the folder of the chosen files; names: their file parts.
  int (*file)(const qmFilePanelRequest &request, std::string *folder, std::vector<std::string> *names);
  int (*folder)(const char *title, const char *start, std::string *path);
  // colour and *out as $RRGGBB; colour -1 starts on black.
  int (*color)(const char *title, int32_t colour, int32_t *out);
  int (*font)(const char *title, const char *family, int32_t size, qmFontChoice *out);
  // *index: the chosen row, -1 when none; left alone when cancelled.
  int (*list)(const char *title, const char *body, const std::vector<std::string> &entries, int32_t active,
              int32_t *index);
  int (*text)(const qmTextEntryRequest &request, std::string *out);
};

// What the desktop layer offers the dialogs: its own message box (labels left to right; the
// 0-based index pressed, or -1 when it cannot show one) and one pass of its event pump that
// keeps its windows answering while a helper program runs (input for them is dropped). Either
// entry may be null.
struct qmDialogDesktop {
  int (*messageBox)(const char *title, const char *body, const std::vector<std::string> &labels);
  void (*keepAlive)();
};

// The desktop layer's (platform/sdl/).
extern const qmDialogDesktop kDesktopDialogs;

void SetDialogDesktop(const qmDialogDesktop *desktop);
const qmDialogDesktop *GetDialogDesktop();

// Whether a graphical desktop is there to show dialogs on: an X or Wayland display, and a
// desktop layer that is not running headless (SDL_VIDEODRIVER dummy or offscreen).
bool DialogDisplayPresent();

// The backend every dialog goes to: the one a test installed, else the chain. Null restores
// the chain.
void SetDialogBackend(const qmDialogBackend *backend);
const qmDialogBackend *CurrentDialogBackend();

// The chain's members, for tests and for the chain itself.
extern const qmDialogBackend kZenityDialogs;
extern const qmDialogBackend kKdialogDialogs;
extern const qmDialogBackend kConsoleDialogs;
extern const qmDialogBackend kNoDialogs;  // cancels everything

// Splits "a|b|c" into its labels; an empty text gives one empty label. At most 32.
std::vector<std::string> SplitButtonLabels(const char *buttons);
// The message box's answer for the button at position (0-based) of count: position + 1, the
// last one 0.
int ButtonResult(int position, int count);

// Whether the text is a decimal number as the number entry accepts it; partial = 1 also takes
// the lone "-" or "." a user is still typing.
bool IsDecimalNumberText(const std::string &text, int partial);
