// The system font scan. Files are untrusted: every count, offset and length read from them is
// checked against the file's size before it is used.
#include "text/fontscan.h"

#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/env.h"
#include "platform/errorarg.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "text/font.h"

namespace {

// fontconfig's configuration belongs to the process, not to a run: it is loaded for the first
// font state that asks and released when the last one that asked is freed.
std::mutex gFontconfigLock;
int32_t gFontconfigUsers = 0;

const qmStyleWord kStyleWords[] = {
    {"Thin", 0, 0},          {"Extralight", 0, 40},  {"Extra-light", 0, 40}, {"Ultralight", 0, 40},
    {"Ultra-light", 0, 40},  {"Light", 0, 50},       {"Book", 0, 75},        {"Normal", 0, 80},
    {"Regular", 0, 80},      {"Medium", 0, 100},     {"Semibold", 0, 180},   {"Semi-bold", 0, 180},
    {"Semi", 0, 180},        {"Demibold", 0, 180},   {"Demi-bold", 0, 180},  {"Demi", 0, 180},
    {"Bold", 0, 200},        {"Extrabold", 0, 205},  {"Extra-bold", 0, 205}, {"Ultrabold", 0, 205},
    {"Ultra-bold", 0, 205},  {"Heavy", 0, 210},      {"Black", 0, 210},      {"Extrablack", 0, 215},
    {"Extra-black", 0, 215}, {"Ultrablack", 0, 215}, {"Ultra-black", 0, 215}, {"Roman", 1, 0},
    {"Italic", 1, 100},      {"Oblique", 1, 110},
};

// Whole big-endian values at a position; 0 when the file ends before them.
int ReadAt(qmFileHandle *f, uint64_t pos, void *buffer, uint64_t n) {
  if (pos > f->size || n > f->size - pos) return 0;
  FileSeek(f, static_cast<int64_t>(pos), FILE_SEEK_START);
  return FileRead(f, buffer, n) == n;
}
uint32_t Be32(const uint8_t *p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t Be16(const uint8_t *p) { return (uint32_t(p[0]) << 8) | p[1]; }

int32_t HasSuffix(const char *name, const char *suffix) {
  size_t n = std::strlen(name), s = std::strlen(suffix);
  return n >= s && Stricmp(name + n - s, suffix) == 0;
}

int32_t IsEnglishLanguage(uint32_t id) {
  switch (id) {
  case 0x0409: case 0x0809: case 0x0C09: case 0x1009: case 0x1409: case 0x1809: case 0x1C09: case 0x4009:
    return 1;
  default:
    return 0;
  }
}

void AddFace(qmFontState *fonts, const char *path, const char *family, const char *style, int32_t oncePerFace, int32_t resource,
             uint64_t position, uint64_t length, uint64_t collectionOffset) {
  AddFontListEntry(fonts, path, family, style, 0, resource, position, length, collectionOffset, nullptr, 0);
  if (!oncePerFace && IsRegularStyleName(style))
    AddFontListEntry(fonts, path, family, "", 0, resource, position, length, collectionOffset, nullptr, 0);
}

// A contents file: its sizes (0x0F00, 0x0F02) or none (0x0F03, an outline font).
void ScanBitmapFontFile(qmFontState *fonts, qmFileHandle *f, const char *path, const char *name) {
  uint8_t head[4];
  if (!ReadAt(f, 0, head, 4)) return;
  uint32_t id = Be16(head);
  if (id != 0x0F00 && id != 0x0F02 && id != 0x0F03) return;
  std::vector<uint8_t> sizes;
  int32_t bitmap = 0;
  if (id != 0x0F03) {
    bitmap = 1;
    uint32_t count = Be16(head + 2);
    for (uint32_t i = 0; i < count; i++) {
      uint8_t entry[260];
      if (!ReadAt(f, 4 + uint64_t(i) * 260, entry, 260)) break;
      auto ySize = static_cast<uint8_t>(Be16(entry + 256));
      bool seen = false;
      for (uint8_t s : sizes) seen = seen || s == ySize;
      if (!seen) sizes.push_back(ySize);
    }
  }
  char family[kFontNameChars + 1];
  size_t n = std::strlen(name) - 5;
  if (n > kFontNameChars) n = kFontNameChars;
  std::memcpy(family, name, n);
  family[n] = 0;
  AddFontListEntry(fonts, path, family, "", bitmap, 0, 0, 0, 0, sizes.data(), static_cast<int32_t>(sizes.size()));
}

void ScanFontFile(qmFontState *fonts, const char *path, const char *name, int32_t oncePerFace) {
  qmFileHandle *f = FileOpen(path, FILE_MODE_READ);
  if (!f) return;
  char family[kFontNameChars + 1], style[kFontNameChars + 1];
  if (HasSuffix(name, ".font")) {
    ScanBitmapFontFile(fonts, f, path, name);
  } else if (HasSuffix(name, ".ttf") || HasSuffix(name, ".otf")) {
    if (ReadTrueTypeNames(f, family, style, 0, 1)) AddFace(fonts, path, family, style, oncePerFace, 0, 0, 0, 0);
  } else if (HasSuffix(name, ".ttc")) {
    uint8_t head[12];
    if (ReadAt(f, 0, head, 12) && Be32(head) == 0x74746366) {
      // Each offset takes four bytes of the file, so a count beyond that is a lie.
      uint64_t count = Be32(head + 8);
      if (count <= f->size / 4) {
        for (uint64_t i = 0; i < count; i++) {
          uint8_t word[4];
          if (!ReadAt(f, 12 + i * 4, word, 4)) break;
          uint64_t offset = Be32(word);
          if (offset >= f->size) continue;
          if (ReadTrueTypeNames(f, family, style, offset, 0))
            AddFace(fonts, path, family, style, oncePerFace, 0, 0, 0, offset);
        }
      }
    }
  } else if (HasSuffix(name, ".dfont")) {
    uint64_t pos = 256;
    uint8_t word[4];
    while (ReadAt(f, pos, word, 4)) {
      uint64_t length = Be32(word);
      uint64_t start = pos + 4;
      if (length > f->size - start) break;
      if (ReadTrueTypeNames(f, family, style, start, 1)) AddFace(fonts, path, family, style, oncePerFace, 1, start, length, 0);
      pos = start + length;
    }
  }
  FileClose(f);
}

// Copies the collection face whose table directory is at offset into a file of its own.
const char *ExtractCollectionFace(qmFontState *fonts, const char *path, uint64_t offset) {
  qmFileHandle *in = FileOpen(path, FILE_MODE_READ);
  if (!in) return nullptr;
  uint8_t head[12];
  std::vector<uint8_t> directory;
  const char *result = nullptr;
  qmFileHandle *out = nullptr;
  if (ReadAt(in, offset, head, 12)) {
    uint32_t tables = Be16(head + 4);
    directory.resize(size_t(tables) * 16);
    if ((tables == 0 || ReadAt(in, offset + 12, directory.data(), directory.size())) &&
        TempFileName(fonts->temporaryName) && (out = FileOpen(fonts->temporaryName, FILE_MODE_WRITE)) != nullptr) {
      bool ok = FileWrite(out, head, 12) == 12 && FileWrite(out, directory.data(), directory.size()) == directory.size();
      uint64_t position = 12 + directory.size();
      std::vector<uint8_t> data;
      for (uint32_t i = 0; ok && i < tables; i++) {
        uint8_t *entry = directory.data() + size_t(i) * 16;
        uint64_t tableOffset = Be32(entry + 8), length = Be32(entry + 12);
        data.resize(length);
        ok = (length == 0 || ReadAt(in, tableOffset, data.data(), length)) && FileWrite(out, data.data(), length) == length;
        entry[8] = uint8_t(position >> 24);
        entry[9] = uint8_t(position >> 16);
        entry[10] = uint8_t(position >> 8);
        entry[11] = uint8_t(position);
        position += length;
        ok = ok && position <= 0xFFFFFFFFu;
      }
      FileSeek(out, 0, FILE_SEEK_START);
      ok = ok && FileWrite(out, head, 12) == 12 && FileWrite(out, directory.data(), directory.size()) == directory.size();
      ok = FileClose(out) && ok;
      if (ok) result = fonts->temporaryName;
      else RemoveFile(fonts->temporaryName);
    }
  }
  FileClose(in);
  return result;
}

}  // namespace

const qmStyleWord *FindStyleWord(const char *word) {
  for (const qmStyleWord &w : kStyleWords)
    if (Stricmp(word, w.word) == 0) return &w;
  return nullptr;
}

int32_t IsRegularStyleName(const char *style) {
  static const char *const kRegular[] = {"regular", "plain", "normal", "book", "roman"};
  for (const char *r : kRegular)
    if (Stricmp(style, r) == 0) return 1;
  return 0;
}

int32_t ReadTrueTypeNames(qmFileHandle *file, char *family, char *style, uint64_t base, int32_t tablesFromBase) {
  family[0] = style[0] = 0;
  uint8_t head[12];
  if (!ReadAt(file, base, head, 12)) return 0;
  uint32_t version = Be32(head);
  if (version != 0x00010000 && version != 0x4F54544F && version != 0x74727565) return 0;
  uint32_t tables = Be16(head + 4);
  uint64_t table = 0;
  bool found = false;
  for (uint32_t i = 0; i < tables && !found; i++) {
    uint8_t entry[16];
    if (!ReadAt(file, base + 12 + uint64_t(i) * 16, entry, 16)) return 0;
    char tag[5] = {char(entry[0]), char(entry[1]), char(entry[2]), char(entry[3]), 0};
    if (Stricmp(tag, "name") == 0) {
      table = (tablesFromBase ? base : 0) + Be32(entry + 8);
      found = true;
    }
  }
  if (!found) return 0;
  uint8_t nameHead[4];
  if (!ReadAt(file, table + 2, nameHead, 4)) return 0;
  uint32_t count = Be16(nameHead), storage = Be16(nameHead + 2);
  for (uint32_t i = 0; i < count; i++) {
    uint8_t r[12];
    if (!ReadAt(file, table + 6 + uint64_t(i) * 12, r, 12)) return 1;
    uint32_t platform = Be16(r), language = Be16(r + 4), id = Be16(r + 6), length = Be16(r + 8), offset = Be16(r + 10);
    if (id != 1 && id != 2) continue;
    if (!((platform == 1 && language == 0) || (platform == 3 && IsEnglishLanguage(language)) ||
          (platform != 1 && platform != 3)))
      continue;
    if (length > 511) return 0;
    uint8_t bytes[512];
    if (!ReadAt(file, table + storage + offset, bytes, length)) continue;
    char *dst = id == 1 ? family : style;
    int32_t n = 0;
    for (uint32_t k = 0; k < length && n < kFontNameChars; k++)
      if (bytes[k]) dst[n++] = static_cast<char>(bytes[k]);
    dst[n] = 0;
    if (family[0] && style[0]) return 1;
  }
  return 1;
}

void AddFontListEntry(qmFontState *fonts, const char *path, const char *family, const char *style, int32_t bitmap, int32_t resource,
                      uint64_t resourcePosition, uint64_t resourceLength, uint64_t collectionOffset,
                      const uint8_t *sizes, int32_t sizeCount) {
  std::string full = family;
  if (style[0]) {
    full += ' ';
    full += style;
  }
  qmFontListEntry *last = nullptr;
  for (qmFontListEntry *e = fonts->list; e; e = e->next) {
    if (Stricmp(e->fullName, full.c_str()) == 0) return;
    last = e;
  }
  size_t fullLen = full.size() + 1, familyLen = std::strlen(family) + 1, pathLen = std::strlen(path) + 1;
  size_t total = sizeof(qmFontListEntry) + fullLen + familyLen + pathLen + size_t(sizeCount);
  if (total > 0xFFFFFFFFu) return;
  auto *e = static_cast<qmFontListEntry *>(MemAlloc(static_cast<uint32_t>(total), 1));
  if (!e) return;
  char *text = reinterpret_cast<char *>(e + 1);
  e->fullName = text;
  std::memcpy(text, full.c_str(), fullLen);
  e->family = text + fullLen;
  std::memcpy(e->family, family, familyLen);
  e->path = e->family + familyLen;
  std::memcpy(e->path, path, pathLen);
  e->sizes = reinterpret_cast<uint8_t *>(e->path + pathLen);
  if (sizeCount) std::memcpy(e->sizes, sizes, size_t(sizeCount));
  e->sizeCount = sizeCount;
  e->weight = 80;
  e->slant = 0;
  if (resource) {
    e->resourcePosition = resourcePosition;
    e->resourceLength = resourceLength;
  }
  e->collectionOffset = collectionOffset;
  e->bitmap = bitmap;
  std::string words = style;
  size_t start = 0;
  while (start <= words.size()) {
    size_t end = words.find(' ', start);
    if (end == std::string::npos) end = words.size();
    std::string word = words.substr(start, end - start);
    if (const qmStyleWord *w = word.empty() ? nullptr : FindStyleWord(word.c_str()))
      (w->isSlant ? e->slant : e->weight) = w->value;
    start = end + 1;
  }
  if (last) last->next = e;
  else fonts->list = e;
}

uint32_t ScanFontDirectory(qmFontState *fonts, const char *folder, int32_t oncePerFace) {
  qmLock *lock = LockPath(folder, QMOS_LOCK_READ);
  if (!lock) {
    SetPlatformErrorArgument(folder);
    return ERR_LOCK2;
  }
  uint32_t isDirectory = 0;
  uint32_t err = CheckDirectoryLock(lock, &isDirectory);
  if (err) {
    UnlockPath(lock);
    return err;
  }
  std::vector<std::string> names;
  const char *name;
  uint32_t entryIsDirectory;
  while (ExamineNextEntry(lock, nullptr, &name, &entryIsDirectory, nullptr)) {
    if (entryIsDirectory || std::strlen(name) < 6) continue;
    if (HasSuffix(name, ".font") || HasSuffix(name, ".ttf") || HasSuffix(name, ".otf") || HasSuffix(name, ".ttc") ||
        HasSuffix(name, ".dfont"))
      names.push_back(name);
  }
  UnlockPath(lock);
  for (const std::string &n : names) {
    char path[kMaxPathLength + 1];
    CopyString(path, folder, sizeof path);
    if (!AddPart(path, sizeof path, n.c_str())) continue;
    ScanFontFile(fonts, path, n.c_str(), oncePerFace);
  }
  return 0;
}

void ScanFontFolders(qmFontState *fonts, int32_t oncePerFace) {
  if (fonts->listed) return;
  fonts->listed = 1;
  for (const std::string &p : fonts->paths) ScanFontDirectory(fonts, p.c_str(), oncePerFace);
  // The system's folders are those fontconfig knows, nested folders included.
  if (StartFontconfig(fonts)) {
    if (FcStrList *dirs = FcConfigGetFontDirs(nullptr)) {
      while (FcChar8 *dir = FcStrListNext(dirs))
        ScanFontDirectory(fonts, reinterpret_cast<const char *>(dir), oncePerFace);
      FcStrListDone(dirs);
    }
  }
  ScanFontDirectory(fonts, "Fonts", oncePerFace);
}

const qmFontListEntry *GetFontList(const qmFontState *fonts) { return fonts->list; }

int32_t StartFontconfig(qmFontState *fonts) {
  if (fonts->fontconfig) return 1;
  std::lock_guard<std::mutex> hold(gFontconfigLock);
  if (gFontconfigUsers == 0 && !FcInit()) return 0;
  gFontconfigUsers++;
  fonts->fontconfig = 1;
  return 1;
}

void ReleaseFontconfig(qmFontState *fonts) {
  if (!fonts->fontconfig) return;
  fonts->fontconfig = 0;
  std::lock_guard<std::mutex> hold(gFontconfigLock);
  if (--gFontconfigUsers == 0) FcFini();
}

void FreeFontList(qmFontState *fonts) {
  while (qmFontListEntry *e = fonts->list) {
    fonts->list = e->next;
    MemFree(e);
  }
  fonts->listed = 0;
}

const char *MapFontNameToFile(qmFontState *fonts, const char *name, int32_t weight, int32_t slant, int32_t plainFiles,
                              uint64_t *resourcePosition, uint64_t *resourceLength, int32_t *temporary) {
  *temporary = 0;
  *resourcePosition = *resourceLength = 0;
  ScanFontFolders(fonts, 0);
  const qmFontListEntry *found = nullptr;
  for (const qmFontListEntry *e = fonts->list; e && !found; e = e->next) {
    if (e->bitmap) continue;
    if (plainFiles && (e->resourceLength || e->collectionOffset)) continue;
    if (weight == -1 ? Stricmp(e->fullName, name) == 0
                     : Stricmp(e->family, name) == 0 && e->weight == weight && e->slant == slant)
      found = e;
  }
  if (!found) return nullptr;
  if (found->collectionOffset) {
    const char *copy = ExtractCollectionFace(fonts, found->path, found->collectionOffset);
    if (copy) *temporary = 1;
    return copy;
  }
  *resourcePosition = found->resourcePosition;
  *resourceLength = found->resourceLength;
  CopyString(fonts->mapped, found->path, sizeof fonts->mapped);
  return fonts->mapped;
}
