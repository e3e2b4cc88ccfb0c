#include "platform/catalog.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/locale.h"
#include "platform/memory.h"

namespace {

constexpr uint32_t kEndWord = 0xFFFFFFFF;
constexpr uint64_t kPlainTextLimit = 100;  // files this small are always plain text

uint32_t ReadBigEndian32(const uint8_t *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Offset of the entry after the one at offset, whose text is length bytes padded to 4.
uint64_t NextEntry(uint64_t offset, uint32_t length) {
  return offset + 8 + ((uint64_t{length} + 3) & ~uint64_t{3});
}

// Finds the STRS chunk and the end of the entries that lie wholly inside the file: an entry
// whose length runs past the end cuts the catalog before it. false when no STRS chunk exists.
bool IndexIff(qmCatalog *catalog, uint32_t size) {
  auto *data = reinterpret_cast<const uint8_t *>(catalog->data);
  uint64_t at = 16;
  while (at + 4 <= size && std::memcmp(data + at, "STRS", 4) != 0) at += 2;
  if (at + 4 > size) return false;
  uint64_t first = at + 8, entry = first;
  while (entry + 8 <= size && ReadBigEndian32(data + entry) != kEndWord) {
    uint32_t length = ReadBigEndian32(data + entry + 4);
    if (entry + 8 + length > size) break;
    entry = NextEntry(entry, length);
  }
  catalog->strings = data + std::min<uint64_t>(first, size);
  catalog->entriesEnd = static_cast<uint32_t>(std::min<uint64_t>(entry, size));
  return true;
}

// One string per line, processed in place: \r \t \n escapes, and LF, CR LF or CR line ends.
void ProcessPlainText(qmCatalog *catalog, uint32_t size) {
  char *in = catalog->data, *end = in + size, *out = catalog->data;
  while (in < end) {
    char c = *in++;
    if (c == '\\' && in < end) {  // a backslash at the very end stays a backslash
      char e = *in++;
      *out++ = e == 'r' ? '\r' : e == 't' ? '\t' : e == 'n' ? '\n' : '\\';
    } else if (c == '\n') {
      *out++ = 0;
    } else if (c == '\r') {
      *out++ = 0;
      if (in < end && *in == '\n') in++;
    } else {
      *out++ = c;
    }
  }
  *out = 0;
  catalog->textLength = static_cast<uint32_t>(out - catalog->data);
}

}  // namespace

qmCatalog *CatalogOpenFile(const char *path) {
  qmFileHandle *file = FileOpen(path, FILE_MODE_READ);
  if (!file) return nullptr;
  uint64_t size = file->size;
  auto *catalog = static_cast<qmCatalog *>(MemAlloc(sizeof(qmCatalog), 1));
  if (size > UINT32_MAX - 8 || !catalog ||
      !(catalog->data = static_cast<char *>(MemAlloc(static_cast<uint32_t>(size + 8), 1))) ||
      FileRead(file, catalog->data, size) != size) {
    FileClose(file);
    CatalogClose(catalog);
    return nullptr;
  }
  FileClose(file);
  auto size32 = static_cast<uint32_t>(size);
  if (size > kPlainTextLimit && std::memcmp(catalog->data, "FORM", 4) == 0) {
    std::memset(catalog->data + size, 0xFF, 4);  // the end word after the last byte
    if (std::memcmp(catalog->data + 8, "CTLGFVER", 8) != 0 || !IndexIff(catalog, size32)) {
      CatalogClose(catalog);
      return nullptr;
    }
  } else {
    ProcessPlainText(catalog, size32);
  }
  return catalog;
}

qmCatalog *CatalogOpen(const char *name) {
  int32_t language = GetLanguageId();
  if (language == LANGUAGE_ENGLISH || language == LANGUAGE_UNKNOWN || !name) return nullptr;
  const char *names[2] = {GetLanguageName(language, 0), GetLanguageName(language, 1)};
  for (const char *base : {"", "PROGDIR:"}) {
    for (const char *folder : names) {
      if (!folder) continue;
      std::string path = std::string(base) + "Catalogs/" + folder + "/" + name;
      if (qmFileHandle *probe = FileOpen(path.c_str(), FILE_MODE_READ)) {
        FileClose(probe);
        return CatalogOpenFile(path.c_str());
      }
    }
  }
  return nullptr;
}

const char *CatalogGetString(const qmCatalog *catalog, int32_t id, const char *defaultText) {
  if (!catalog) return defaultText;
  if (catalog->strings) {
    auto *data = reinterpret_cast<const uint8_t *>(catalog->data);
    uint64_t offset = static_cast<uint64_t>(catalog->strings - data);
    while (offset + 8 <= catalog->entriesEnd) {
      uint32_t length = ReadBigEndian32(data + offset + 4);
      if (ReadBigEndian32(data + offset) == static_cast<uint32_t>(id)) {
        // The text must carry its own terminator; one without it is no usable string.
        const char *text = reinterpret_cast<const char *>(data + offset + 8);
        return std::memchr(text, 0, length) ? text : defaultText;
      }
      offset = NextEntry(offset, length);
    }
    return defaultText;
  }
  if (catalog->textLength == 0) return defaultText;
  const char *text = catalog->data;
  for (int32_t line = 0; line < id; line++) {
    const char *zero = static_cast<const char *>(
        std::memchr(text, 0, catalog->textLength - static_cast<uint32_t>(text - catalog->data)));
    if (!zero || zero + 1 >= catalog->data + catalog->textLength) return defaultText;
    text = zero + 1;
  }
  return text;
}

void CatalogClose(qmCatalog *catalog) {
  if (!catalog) return;
  MemFree(catalog->data);
  MemFree(catalog);
}
