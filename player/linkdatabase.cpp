#include "player/linkdatabase.h"

#include <string>

#include "platform/file.h"
#include "platform/memory.h"
#include "player/appletrecord.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/strutil.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

uint32_t AddLinkedFileName(qmPlayerApplet *applet, const char *name, int fontFlag) {
  std::string stored = name;
  if (fontFlag) {
    const size_t n = stored.size();
    if (n >= 5 && Stricmp(stored.c_str() + n - 5, ".font") == 0) stored.resize(n - 5);
    stored = "::font:" + stored;
  }
  for (const qmLinkedFile *f = applet->base.linkedFiles; f; f = f->next)
    if (Stricmp(f->name, stored.c_str()) == 0) return 0;
  return AddLinkedFile(&applet->base, stored.c_str(), "", 0, 0);
}

uint32_t ParseLinkDatabaseText(qmPlayerApplet *applet, const char *text, size_t n, int fontFlag) {
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (IsBlank(c) || IsLineEnd(c)) {
      i++;
      continue;
    }
    std::string name;
    if (c == '"') {
      size_t close = i + 1;
      while (close < n && text[close] != '"' && !IsLineEnd(text[close])) close++;
      if (close >= n || text[close] != '"') return ERR_LFSYNTAX;
      name.assign(text + i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t end = i;
      while (end < n && !IsBlank(text[end]) && !IsLineEnd(text[end])) end++;
      name.assign(text + i, end - i);
      i = end;
    }
    while (i < n && IsBlank(text[i])) i++;
    if (i < n && !IsLineEnd(text[i])) return ERR_LFSYNTAX;
    // A pair of quotes around nothing names no file.
    if (name.empty()) continue;
    if (uint32_t e = AddLinkedFileName(applet, name.c_str(), fontFlag)) return e;
  }
  return 0;
}

uint32_t ParseLinkDatabase(qmPlayerApplet *applet, const char *fileName, int fontFlag) {
  qmFileHandle *fh = nullptr;
  uint32_t code = FileOpenRegular(fileName, &fh);
  if (code == ERR_FILEEXIST) code = ERR_READFILE;
  if (code == 0 && fh->size > kMaxLinkDatabase) code = ERR_READFILE;
  char *text = nullptr;
  size_t length = 0;
  if (code == 0) {
    length = size_t(fh->size);
    text = static_cast<char *>(MemAlloc(length + 1, 0));
    if (text == nullptr) code = ERR_MEM;
    else if (FileRead(fh, text, length) != length) code = ERR_READFILE;
  }
  if (fh) FileClose(fh);
  if (code == 0) code = ParseLinkDatabaseText(applet, text, length, fontFlag);
  MemFree(text);
  if (code == ERR_READFILE) SetErrorArgument(fileName);
  return code;
}
