#include "player/linkdatabase.h"

#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/memory.h"
#include "player/appletrecord.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/strutil.h"

uint32_t AddLinkedFileName(qmPlayerApplet *applet, const char *name, int fontFlag, const char *source) {
  std::string stored = name;
  if (fontFlag) {
    size_t n = stored.size();
    if (n >= 5 && Stricmp(stored.c_str() + n - 5, ".font") == 0) stored.resize(n - 5);
    stored = "::font:" + stored;
  }
  for (qmLinkedFile *f = applet->base.linkedFiles; f; f = f->next)
    if (Stricmp(f->name, stored.c_str()) == 0) return 0;
  return AddLinkedFile(&applet->base, stored.c_str(), source ? source : "", 0, 0);
}

uint32_t ParseLinkDatabase(qmPlayerApplet *applet, const char *fileName, int fontFlag) {
  SetErrorArgument(fileName);
  qmFileHandle *fh = FileOpen(fileName, FILE_MODE_READ);
  if (fh == nullptr) return ERR_READFILE;
  std::string text;
  char block[4096];
  for (uint64_t got; (got = FileReadBytes(fh, block, sizeof block)) > 0;) text.append(block, size_t(got));
  FileClose(fh);

  size_t i = 0, n = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (i < n) {
    char c = text[i];
    if (blank(c) || c == '\r' || c == '\n') {
      i++;
      continue;
    }
    std::string name;
    if (c == '"') {
      size_t close = i + 1;
      while (close < n && text[close] != '"' && text[close] != '\n' && text[close] != '\r') close++;
      if (close >= n || text[close] != '"') return ERR_LFSYNTAX;
      name = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      size_t end = i;
      while (end < n && !blank(text[end]) && text[end] != '\r' && text[end] != '\n') end++;
      name = text.substr(i, end - i);
      i = end;
    }
    while (i < n && blank(text[i])) i++;
    if (i < n && text[i] != '\r' && text[i] != '\n') return ERR_LFSYNTAX;
    if (name.empty()) continue;
    if (uint32_t e = AddLinkedFileName(applet, name.c_str(), fontFlag, nullptr)) return e;
  }
  return 0;
}
