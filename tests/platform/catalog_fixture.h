// Builds catalog files byte by byte, so that every test shows how its catalog was made.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

inline void PutBigEndian32(std::string &out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

// One STRS entry: id, length, the text with its terminator, padded to a multiple of 4.
inline std::string CatalogEntry(uint32_t id, const std::string &text) {
  std::string entry;
  std::string body = text + '\0';
  PutBigEndian32(entry, id);
  PutBigEndian32(entry, static_cast<uint32_t>(body.size()));
  entry += body;
  while (entry.size() % 4) entry += '\0';
  return entry;
}

// FORM CTLG with an FVER chunk and a STRS chunk holding the entries (already encoded). The
// version text is long enough that even a catalog of one string passes the 100 bytes below
// which every file is read as plain text.
inline std::string IffCatalog(
    const std::string &entries,
    const std::string &version = "$VER: test.catalog 1.0 (01.01.2026) made by catalog_fixture.h") {
  std::string fver = version + '\0';
  while (fver.size() % 2) fver += '\0';
  std::string body = "CTLG";
  body += "FVER";
  PutBigEndian32(body, static_cast<uint32_t>(fver.size()));
  body += fver;
  body += "STRS";
  PutBigEndian32(body, static_cast<uint32_t>(entries.size()));
  body += entries;
  std::string file = "FORM";
  PutBigEndian32(file, static_cast<uint32_t>(body.size()));
  return file + body;
}

inline std::string IffCatalog(const std::vector<std::pair<uint32_t, std::string>> &strings) {
  std::string entries;
  for (const auto &[id, text] : strings) entries += CatalogEntry(id, text);
  return IffCatalog(entries);
}
