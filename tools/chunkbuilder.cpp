#include "tools/chunkbuilder.h"

#include <cstring>

namespace qmtools {
namespace {

class ChunkWriter {
 public:
  explicit ChunkWriter(bool bigEndian) : big_(bigEndian) {}

  void Byte(uint8_t b) { out_.push_back(b); }

  // One multi-byte item in the chunk's byte order; `bytes` holds it little-endian.
  void Item(const uint8_t *bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) out_.push_back(bytes[big_ ? n - 1 - i : i]);
  }
  void U32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Item(b, 4);
  }
  void Int(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Number(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = uint8_t(bits >> (8 * i));
    Item(b, 8);
  }
  void String(const ChunkString &s) {
    if (!s) {
      U32(0);
      return;
    }
    U32(static_cast<uint32_t>(s->size() + 1));
    out_.insert(out_.end(), s->begin(), s->end());
    out_.push_back(0);
  }
  void Count(const std::optional<int32_t> &forced, size_t real) {
    Int(forced ? *forced : static_cast<int32_t>(real));
  }

  void Proto(const ChunkProto &p) {
    String(p.source);
    Int(p.lineDefined);
    Byte(p.nups);
    Byte(p.numparams);
    Byte(p.isVararg);
    Byte(p.maxStack);
    Count(p.lineInfoCount, p.lineInfo.size());
    for (int32_t line : p.lineInfo) Int(line);
    Count(p.localCount, p.locals.size());
    for (const ChunkLocal &l : p.locals) {
      String(l.name);
      Int(l.start);
      Int(l.end);
    }
    Count(p.upvalueNameCount, p.upvalueNames.size());
    for (const ChunkString &name : p.upvalueNames) String(name);
    Count(p.constantCount, p.constants.size());
    for (const ChunkConstant &k : p.constants) {
      Byte(k.type);
      if (k.type == KTYPE_NUMBER) Number(k.number);
      else if (k.type == KTYPE_STRING) String(k.str);
    }
    Count(p.protoCount, p.protos.size());
    for (const ChunkProto &child : p.protos) Proto(child);
    Count(p.codeCount, p.code.size());
    for (uint32_t word : p.code) U32(word);
  }

  std::vector<uint8_t> &Bytes() { return out_; }

 private:
  bool big_;
  std::vector<uint8_t> out_;
};

}  // namespace

std::vector<uint8_t> BuildChunk(const ChunkProto &main, const BuildOptions &options) {
  ChunkWriter w(options.bigEndian);
  static const uint8_t signature[4] = {0x1B, 'Q', 'M', 'B'};
  for (uint8_t b : signature) w.Byte(b);
  w.Byte(options.bigEndian ? 0 : 1);
  static const uint8_t sizes[8] = {4, 4, 4, 6, 8, 9, 9, 8};  // int, size, instruction, OP, A, B, C, number
  for (uint8_t size : sizes) w.Byte(size);
  w.Number(options.testNumber ? *options.testNumber : CHUNK_TEST_NUMBER);
  w.Proto(main);

  std::vector<uint8_t> &out = w.Bytes();
  for (const auto &[offset, byte] : options.patches)
    if (offset < out.size()) out[offset] = byte;
  if (options.truncateTo && *options.truncateTo < out.size()) out.resize(*options.truncateTo);
  return std::move(out);
}

}  // namespace qmtools
