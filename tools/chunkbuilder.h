// Chunk builder for tests: writes compiled chunks byte by byte from a plain description,
// without going through the VM's own writer, so that a fault in the writer or the loader
// cannot hide behind the same fault here. Every field can be set to a bad value on purpose.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qmtools {

// A string item of the chunk; std::nullopt is written as size 0 ("no string").
using ChunkString = std::optional<std::string>;

// Constant type bytes of the chunk format.
enum : uint8_t { KTYPE_NIL = 0, KTYPE_NUMBER = 3, KTYPE_STRING = 4 };

struct ChunkConstant {
  uint8_t type = KTYPE_NIL;  // any other byte is written alone, with no payload
  double number = 0;         // KTYPE_NUMBER
  ChunkString str;           // KTYPE_STRING; nullopt writes the size-0 string
};

inline ChunkConstant KNil() { return {}; }
inline ChunkConstant KNum(double n) { return {KTYPE_NUMBER, n, std::nullopt}; }
inline ChunkConstant KStr(std::string s) { return {KTYPE_STRING, 0, std::move(s)}; }
inline ChunkConstant KNoString() { return {KTYPE_STRING, 0, std::nullopt}; }
inline ChunkConstant KBadType(uint8_t type) { return {type, 0, std::nullopt}; }

struct ChunkLocal {
  ChunkString name;
  int32_t start = 0;  // first instruction where active
  int32_t end = 0;    // first instruction where dead
};

struct ChunkProto {
  ChunkString source;  // nullopt: no string (a nested function shares its parent's source)
  int32_t lineDefined = 0;
  uint8_t nups = 0;
  uint8_t numparams = 0;
  uint8_t isVararg = 0;
  uint8_t maxStack = 2;
  std::vector<int32_t> lineInfo;  // empty, or one line per instruction
  std::vector<ChunkLocal> locals;
  std::vector<ChunkString> upvalueNames;
  std::vector<ChunkConstant> constants;
  std::vector<ChunkProto> protos;
  std::vector<uint32_t> code;  // raw instruction words

  // Counts written in place of the real ones (the items themselves are still written
  // in full), for negative counts and counts that do not match what follows.
  std::optional<int32_t> lineInfoCount, localCount, upvalueNameCount, constantCount,
      protoCount, codeCount;
};

// The 21 header bytes as the loader expects them, test number included (little-endian).
constexpr size_t CHUNK_HEADER_SIZE = 21;
constexpr double CHUNK_TEST_NUMBER = 31415926.535897933;

struct BuildOptions {
  // Big-endian: order byte 0 and every multi-byte item (ints, sizes, numbers, the test
  // number, instruction words) byte-reversed. Otherwise order byte 1, little-endian.
  bool bigEndian = false;
  std::optional<double> testNumber;                       // replaces CHUNK_TEST_NUMBER
  std::vector<std::pair<size_t, uint8_t>> patches;  // {offset, byte}: header overrides and the
                                                    // like, applied after writing
  std::optional<size_t> truncateTo;                       // keep only the first n bytes
};

std::vector<uint8_t> BuildChunk(const ChunkProto &main, const BuildOptions &options = {});

}  // namespace qmtools
