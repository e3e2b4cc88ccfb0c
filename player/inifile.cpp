#include "player/inifile.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/memory.h"
#include "player/clargs.h"
#include "player/options.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/strutil.h"

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsKeyChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

bool SwitchValue(const char *value) {
  if (Stricmp(value, "true") == 0 || Stricmp(value, "yes") == 0 || Stricmp(value, "on") == 0) return true;
  return std::strtol(value, nullptr, 10) != 0;
}

constexpr size_t kIniBufferSize = 65536;

// One line without its line end; the byte at text[length] (the line end or a spare byte) may
// be overwritten. Option values are copied into copies when it is given, else they point
// into the line.
uint32_t ParseLine(char *text, size_t length, qmOptionValues *values, qmClArgs *args, qmIniValues *copies) {
  size_t i = 0;
  while (i < length && (text[i] == ' ' || text[i] == '\t')) i++;
  if (i == length || text[i] == '#' || text[i] == '[') return 0;
  if (!IsLetter(text[i])) return ERR_INISYNTAX;
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
    while (i < length && text[i] != '"') i++;
    if (i >= length) return ERR_INISYNTAX;
    text[i] = 0;
  } else {
    value = text + i;
    size_t end = length;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) end--;
    text[end] = 0;
  }

  const char *key = text + keyStart;
  const qmOption *o = FindOption(key, keyLength);
  if (o == nullptr) return AddUserArg(args, key, value);
  if (!o->takesValue) {
    values->slot[o->slot] = SwitchValue(value) ? 1 : 0;
    return 0;
  }
  if (copies) {
    char *copy = CopyArgText(value);
    if (copy == nullptr) return ERR_MEM;
    MemFree(copies->slot[o->slot]);
    copies->slot[o->slot] = value = copy;
  }
  values->slot[o->slot] = reinterpret_cast<uintptr_t>(value);
  return 0;
}

// Reads the lines of fh into a buffer of kIniBufferSize bytes and a spare one, parsing each as
// soon as it is whole.
uint32_t ParseIniLines(qmFileHandle *fh, qmOptionValues *values, qmClArgs *args, qmIniValues *copies) {
  auto *buffer = static_cast<char *>(MemAlloc(kIniBufferSize + 1, 0));
  if (buffer == nullptr) return ERR_MEM;
  size_t begin = 0, end = FileRead(fh, buffer, 3);
  if (end == 3 && std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0) begin = 3;  // UTF-8 byte-order mark
  bool atEnd = false;
  uint32_t code = 0;
  while (code == 0) {
    size_t lineEnd = begin;
    while (lineEnd < end && !IsLineEnd(buffer[lineEnd])) lineEnd++;
    if (lineEnd == end && !atEnd) {
      std::memmove(buffer, buffer + begin, end - begin);
      end -= begin;
      begin = 0;
      if (end == kIniBufferSize) {
        code = ERR_INISYNTAX;  // a line longer than any sensible setting
        break;
      }
      uint64_t got = FileRead(fh, buffer + end, kIniBufferSize - end);
      if (got == 0) {
        if (!FileEof(fh)) code = ERR_READFILE;
        atEnd = true;
      }
      end += size_t(got);
      continue;
    }
    if (lineEnd == end && begin == end) break;
    code = ParseLine(buffer + begin, lineEnd - begin, values, args, copies);
    begin = lineEnd < end ? lineEnd + 1 : end;
  }
  MemFree(buffer);
  return code;
}

}  // namespace

void FreeIniValues(qmIniValues *copies) {
  for (char *&text : copies->slot) {
    MemFree(text);
    text = nullptr;
  }
}

uint32_t ParseIniFile(char *text, size_t length, qmOptionValues *values, qmClArgs *args) {
  for (size_t begin = 0; begin < length;) {
    size_t lineEnd = begin;
    while (lineEnd < length && !IsLineEnd(text[lineEnd])) lineEnd++;
    if (uint32_t e = ParseLine(text + begin, lineEnd - begin, values, args, nullptr)) return e;
    begin = lineEnd + 1;
  }
  return 0;
}

uint32_t ReadIniFile(const char *programPath, qmOptionValues *values, qmClArgs *args, qmIniValues *copies) {
  std::string path = programPath;
  size_t dot = path.rfind('.');
  size_t slash = path.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
  path += ".ini";
  qmFileHandle *fh = nullptr;
  uint32_t code = FileOpenRegular(path.c_str(), &fh);
  if (code == ERR_FILEEXIST) return 0;
  if (code == 0) {
    code = ParseIniLines(fh, values, args, copies);
    FileClose(fh);
  }
  if (code == ERR_READFILE) SetErrorArgument(path.c_str());
  return code;
}
