#include "player/inifile.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/memory.h"
#include "player/clargs.h"
#include "player/options.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsKeyChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

bool SwitchValue(const char *value) {
  if (Stricmp(value, "true") == 0 || Stricmp(value, "yes") == 0 || Stricmp(value, "on") == 0) return true;
  return std::strtol(value, nullptr, 10) != 0;
}

}  // namespace

uint32_t ParseIniFile(char *text, size_t length, qmOptionValues *values, qmClArgs *args) {
  size_t i = 0;
  while (i < length) {
    char c = text[i];
    if (c == ' ' || c == '\t' || IsLineEnd(c)) {
      i++;
      continue;
    }
    if (c == '#' || c == '[') {
      while (i < length && !IsLineEnd(text[i])) i++;
      continue;
    }
    if (!IsLetter(c)) return ERR_INISYNTAX;
    size_t keyStart = i;
    while (i < length && IsKeyChar(text[i])) i++;
    size_t keyLength = i - keyStart;
    if (keyLength >= 128) return ERR_INISYNTAX;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) i++;
    if (i >= length || text[i] != '=') return ERR_INISYNTAX;
    text[keyStart + keyLength] = 0;  // the key ends before the blanks or the '='
    i++;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) i++;

    char *value;
    if (i < length && text[i] == '"') {
      value = text + ++i;
      while (i < length && text[i] != '"' && !IsLineEnd(text[i])) i++;
      if (i >= length || text[i] != '"') return ERR_INISYNTAX;
      text[i++] = 0;
      while (i < length && !IsLineEnd(text[i])) i++;
    } else {
      value = text + i;
      while (i < length && !IsLineEnd(text[i])) i++;
      size_t end = i;
      while (text + end > value && (text[end - 1] == ' ' || text[end - 1] == '\t')) end--;
      text[end] = 0;  // the spare byte serves the last line
      if (end == i && i < length) i++;
    }

    const char *key = text + keyStart;
    if (const qmOption *o = FindOption(key, keyLength)) {
      if (o->takesValue) values->slot[o->slot] = reinterpret_cast<uintptr_t>(value);
      else values->slot[o->slot] = SwitchValue(value) ? 1 : 0;
    } else if (uint32_t e = AddUserArg(args, key, value)) {
      return e;
    }
  }
  return 0;
}

char *ReadIniFile(const char *programPath, size_t *length) {
  std::string path = programPath;
  size_t dot = path.rfind('.');
  size_t slash = path.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
  path += ".ini";
  qmFileHandle *fh = FileOpen(path.c_str(), FILE_MODE_READ);
  if (fh == nullptr) return nullptr;
  uint64_t size = fh->size;
  char *buffer = size < UINT32_MAX ? static_cast<char *>(MemAlloc(uint32_t(size + 1), 1)) : nullptr;
  if (buffer && FileReadBytes(fh, buffer, size) != size) {
    MemFree(buffer);
    buffer = nullptr;
  }
  FileClose(fh);
  if (buffer) *length = size_t(size);
  return buffer;
}
