// Message catalogs: translations of the player's messages and of an applet's texts, read from
// an IFF FORM CTLG file or a plain-text file with one string per line.
#pragma once
#include <cstdint>

struct qmCatalog {
  char *data;              // the file's contents with 8 spare zero bytes
  const uint8_t *strings;  // the first entry of the STRS chunk; nullptr for plain text
  uint32_t textLength;     // plain text: characters after escape processing
  uint32_t entriesEnd;     // IFF: offset in data where the sound entries end
};

// The catalog file for the user's language: "Catalogs/<language>/<name>" with the language's
// own name, then its English name, first below the current folder, then below the executable's
// folder. nullptr for English or an unknown language (nothing is looked for), when no file
// opens, or when the file is no valid catalog.
qmCatalog *CatalogOpen(const char *name);
// The same for one given file, whatever the language.
qmCatalog *CatalogOpenFile(const char *path);
// The string of id, or defaultText when the catalog (which may be nullptr) has none.
const char *CatalogGetString(const qmCatalog *catalog, int32_t id, const char *defaultText);
void CatalogClose(qmCatalog *catalog);
