#include "tools/appletwriter.h"

#include <sys/stat.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace qmtools {

AppletBuilder::AppletBuilder() : bytes_{'Q', 'M', 'A', 0} {}

AppletBuilder &AppletBuilder::U8(uint8_t v) {
  bytes_.push_back(v);
  return *this;
}
AppletBuilder &AppletBuilder::I16(int16_t v) {
  uint16_t u = uint16_t(v);
  bytes_.push_back(uint8_t(u >> 8));
  bytes_.push_back(uint8_t(u));
  return *this;
}
AppletBuilder &AppletBuilder::U32(uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(uint8_t(v >> shift));
  return *this;
}
AppletBuilder &AppletBuilder::Str(const std::string &s) {
  bytes_.insert(bytes_.end(), s.begin(), s.end());
  bytes_.push_back(0);
  return *this;
}
AppletBuilder &AppletBuilder::ShortStr(const std::string &s) {
  I16(int16_t(s.size()));
  bytes_.insert(bytes_.end(), s.begin(), s.end());
  return *this;
}
AppletBuilder &AppletBuilder::F64LE(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; i++) bytes_.push_back(uint8_t(bits >> (8 * i)));
  return *this;
}
AppletBuilder &AppletBuilder::Raw(const std::vector<uint8_t> &bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

AppletBuilder &AppletBuilder::Skip(const std::vector<uint8_t> &bytes) {
  return U8(0).U32(uint32_t(bytes.size())).Raw(bytes);
}
AppletBuilder &AppletBuilder::Version(uint8_t major, uint8_t minor) { return U8(10).U8(major).U8(minor); }

AppletBuilder &AppletBuilder::Declarations(const std::vector<AppletDecl> &decls) {
  std::vector<uint8_t> names;
  std::vector<uint32_t> offsets;
  size_t namesStart = bytes_.size() + 5;  // after the skip section's type and length
  for (const AppletDecl &d : decls) {
    offsets.push_back(uint32_t(namesStart + names.size()));
    names.insert(names.end(), d.name.begin(), d.name.end());
    names.push_back(0);
  }
  Skip(names);
  U8(2).U32(uint32_t(decls.size()));
  for (size_t i = 0; i < decls.size(); i++) {
    const AppletDecl &d = decls[i];
    uint32_t nameLength = d.hasName ? uint32_t(d.name.size() + 1) : 0;
    U8(d.type).U32(d.id).U32(offsets[i]).U32(nameLength).U32(d.dataOffset).U32(d.dataLength);
    U32(d.param1).U32(d.param2).U32(d.line).Raw(d.typeData);
  }
  return *this;
}

AppletBuilder &AppletBuilder::Includes(const std::vector<AppletIncludeFile> &files) {
  U8(8).U32(uint32_t(files.size()));
  for (const AppletIncludeFile &f : files) U32(f.firstLine).U32(f.lastLine).U32(f.lineOffset).Str(f.name);
  return *this;
}

AppletBuilder &AppletBuilder::Labels(const std::vector<std::pair<std::string, uint32_t>> &labels) {
  U8(9).U32(uint32_t(labels.size()));
  for (const auto &l : labels) U32(l.second).Str(l.first);
  return *this;
}

AppletBuilder &AppletBuilder::AppString(int index, const std::string &text) {
  return U8(uint8_t(10 + index)).Str(text);
}

AppletBuilder &AppletBuilder::LinkedFiles(const std::vector<std::pair<std::string, std::string>> &files) {
  U8(26).U32(uint32_t(files.size())).U32(0);
  for (const auto &f : files) {
    Str(f.first).U32(uint32_t(f.second.size()));
    bytes_.insert(bytes_.end(), f.second.begin(), f.second.end());
  }
  return *this;
}

AppletBuilder &AppletBuilder::UserConstants(const std::vector<std::pair<std::string, double>> &numbers,
                                            const std::vector<std::pair<std::string, std::string>> &texts) {
  U8(31);
  for (const auto &n : numbers) Str(n.first).U8(0).F64LE(n.second);
  for (const auto &t : texts) Str(t.first).U8(1).Str(t.second);
  return Str("");
}

AppletBuilder &AppletBuilder::Bytecode(const std::vector<uint8_t> &chunk) {
  return U8(1).U32(uint32_t(chunk.size())).Raw(chunk);
}

std::vector<uint8_t> MakeSimpleApplet(const std::vector<uint8_t> &chunk, const std::string &sourceName,
                                      uint32_t lastLine) {
  AppletBuilder b;
  b.Version(5, 2).Includes({{1, lastLine, 0, sourceName}}).Bytecode(chunk);
  return b.Bytes();
}

std::vector<uint8_t> PackProgram(const std::vector<uint8_t> &applet) {
  uLongf size = compressBound(uLong(applet.size()));
  std::vector<uint8_t> out(8 + size);
  const uint8_t header[8] = {'Q', 'M', 'Z', 0, 0, 0, 0, 0};
  std::memcpy(out.data(), header, 8);
  compress(out.data() + 8, &size, applet.data(), uLong(applet.size()));
  out.resize(8 + size);
  return out;
}

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
  f.close();
  return bool(f);
}

bool LinkProgram(const std::string &player, const std::vector<uint8_t> &applet, const std::string &output,
                 std::string *error) {
  std::ifstream in(player, std::ios::binary);
  if (!in) {
    *error = "cannot read " + player;
    return false;
  }
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), {});
  // The record: a 32-byte maker text, the offset, then the signature.
  static const uint8_t kSignature[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};
  static const uint8_t kUnlinked[4] = {0xDE, 0xAD, 0xC0, 0xDE};
  size_t found = 0;
  int count = 0;
  for (size_t i = 36; i + 8 <= image.size(); i++) {
    if (std::memcmp(&image[i], kSignature, 8) != 0) continue;
    if (std::memcmp(&image[i - 36], "Tarrowby", 8) != 0 || std::memcmp(&image[i - 4], kUnlinked, 4) != 0) continue;
    found = i - 4;
    count++;
  }
  if (count != 1) {
    *error = count == 0 ? "no link record in " + player : "more than one link record in " + player;
    return false;
  }
  uint32_t offset = uint32_t(image.size());
  for (int k = 0; k < 4; k++) image[found + size_t(k)] = uint8_t(offset >> (24 - 8 * k));
  image.insert(image.end(), applet.begin(), applet.end());
  if (!WriteBytes(output, image)) {
    *error = "cannot write " + output;
    return false;
  }
  chmod(output.c_str(), 0755);
  return true;
}

}  // namespace qmtools
