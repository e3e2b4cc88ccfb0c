// Applet writer for tests and the demo: a ".qma" file from a compiled chunk and typed sections,
// a packed program ("QMZ" container of an applet), and a linked program (the player's
// executable with the applet appended and its link record patched). Every field can be given
// a bad value on purpose; nothing is checked.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qmtools {

// One entry of the declaration section; name is stored with its zero byte elsewhere in the
// file and found through its offset. typeData is the type's own data, written as given.
struct AppletDecl {
  uint8_t type = 0;
  uint32_t id = 0;
  std::string name;
  bool hasName = true;
  uint32_t dataOffset = 0;
  uint32_t dataLength = 0;
  uint32_t param1 = 0;
  uint32_t param2 = 0;
  uint32_t line = 0;
  std::vector<uint8_t> typeData;
};

struct AppletIncludeFile {
  uint32_t firstLine, lastLine, lineOffset;
  std::string name;
};

class AppletBuilder {
 public:
  AppletBuilder();  // the magic "QMA" and a zero byte

  // Raw big-endian items (the sections' building blocks).
  AppletBuilder &U8(uint8_t v);
  AppletBuilder &I16(int16_t v);
  AppletBuilder &U32(uint32_t v);
  AppletBuilder &Str(const std::string &s);       // bytes and a zero byte
  AppletBuilder &ShortStr(const std::string &s);  // i16 length and the bytes
  AppletBuilder &F64LE(double v);
  AppletBuilder &Raw(const std::vector<uint8_t> &bytes);

  // Whole sections.
  AppletBuilder &Skip(const std::vector<uint8_t> &bytes);
  AppletBuilder &Version(uint8_t major, uint8_t minor);
  // A skip section holding the names, then the declaration section.
  AppletBuilder &Declarations(const std::vector<AppletDecl> &decls);
  AppletBuilder &Includes(const std::vector<AppletIncludeFile> &files);
  AppletBuilder &Labels(const std::vector<std::pair<std::string, uint32_t>> &labels);
  AppletBuilder &AppString(int index, const std::string &text);  // 1 to 5
  // Linked files with their data inline.
  AppletBuilder &LinkedFiles(const std::vector<std::pair<std::string, std::string>> &files);
  // {name, number} or {name, text}: kind 0 numbers, kind 1 texts.
  AppletBuilder &UserConstants(const std::vector<std::pair<std::string, double>> &numbers,
                               const std::vector<std::pair<std::string, std::string>> &texts);
  AppletBuilder &Bytecode(const std::vector<uint8_t> &chunk);

  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t> &Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Applet of one chunk: version 5.2, an include entry naming the chunk's source over all its
// lines (so reports name the script and its line), the bytecode.
std::vector<uint8_t> MakeSimpleApplet(const std::vector<uint8_t> &chunk, const std::string &sourceName,
                                      uint32_t lastLine);

// "QMZ" and a zero byte, four zero bytes, and the zlib stream of the applet.
std::vector<uint8_t> PackProgram(const std::vector<uint8_t> &applet);

// Writes player + applet to output with the link record's offset patched to the player's size
// and the file made executable. false with *error when the player has no link record.
bool LinkProgram(const std::string &player, const std::vector<uint8_t> &applet, const std::string &output,
                 std::string *error);

bool WriteBytes(const std::string &path, const std::vector<uint8_t> &bytes);

}  // namespace qmtools
