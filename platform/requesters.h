// The requester entry points: the system library's requester commands and the plug-ins'
// requester entries end here. They convert the player's Latin-1 texts for the dialogs
// (dialogs.h) and back, build the file requester's filter, and turn the dialogs' answers
// (1 confirmed, 0 cancelled, -1 failed) into the player's codes: a dialog that fails gives
// ERR_MEM. Answers come back in Latin-1; a character beyond it becomes "?", except in paths,
// which keep their bytes as every file name read in does.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kStringRequestSize = 1025;  // 1024 bytes of text and the terminator

// A file requester's answer: the folder and the chosen names as consecutive zero-ended
// strings; both allocated with MemAlloc and freed by the caller.
struct qmFileRequestResult {
  char *folder;
  char *names;
  uint32_t count;
};

struct qmFontRequestResult {
  char family[256];
  int32_t size;
  int32_t weight;  // 200 bold, else 80
  int32_t slant;   // 100 italic, else 0
  int32_t underline;
  int32_t bold;
  int32_t strikeout;
  uint32_t color;
};

// The file requester's pattern as filter entries: empty for "", for a pattern beginning with
// "*" and for "#?" (every file); otherwise one entry per "|"-separated extension, each with a
// leading ".".
std::vector<std::string> BuildFileFilter(const char *pattern);
// Whether the file panel shows the item: every folder; every file without entries; otherwise a
// name that ends in one of the entries, compared without regard to case.
bool FilterNavFile(const std::vector<std::string> &entries, const char *name, int isFolder);

// The message box: the dialog's answer (1.. from the left, the last button 0; -1 failed).
int ShowMessageRequester(const char *title, const char *text, const char *buttons);
// 0 with *button set (a failed dialog counts as its last button), or ERR_MEM.
uint32_t ShowSystemRequester(const char *title, const char *body, const char *buttons, int32_t icon,
                             int32_t *button);

// mode 0 open, 1 open several, 2 save; folder and file may be null. The dialog's answer;
// *confirmed = answer is 1.
int RequestFile(const char *title, const char *pattern, int32_t mode, const char *folder, const char *file,
                int32_t *confirmed, qmFileRequestResult *out);
uint32_t ShowFileRequester(const char *title, const char *pattern, int32_t mode, const char *folder,
                           const char *file, int32_t *confirmed, qmFileRequestResult *out);
// *path: a MemAlloc allocation, null when cancelled.
int RequestFolder(const char *title, const char *folder, char **path);
uint32_t ShowPathRequester(const char *title, const char *folder, char **path);
// 0 confirmed with out (kStringRequestSize bytes) filled, ERR_USERABORT cancelled, ERR_MEM.
uint32_t ShowStringRequester(const char *title, const char *body, const char *defaultText, int32_t number,
                             int32_t maxLength, int32_t password, char *out);
// entries: count consecutive zero-ended texts. *index: the chosen row, -1 when none or
// cancelled.
uint32_t ShowListRequester(const char *title, const char *body, const char *entries, uint32_t count,
                           int32_t active, int32_t *index);
// colour -1 starts on black; *out -1 when cancelled.
uint32_t ShowColorRequester(const char *title, int32_t colour, int32_t *out);
// An empty font name starts on "Helvetica" at 12 points.
uint32_t ShowFontRequester(const char *title, const char *font, int32_t size, int32_t *confirmed,
                           qmFontRequestResult *out);

// The error requester of the final report: the message box with one "OK" where a desktop can
// show one, else the text on standard error.
void ShowErrorRequester(const char *title, const char *text);
