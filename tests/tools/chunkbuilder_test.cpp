// The builder against byte sequences worked out by hand from the chunk format.
#include "tools/chunkbuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qmtools {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// One prototype using every kind of item once.
ChunkProto SmallProto() {
  ChunkProto p;
  p.source = "s";
  p.lineDefined = 0x01020304;
  p.nups = 1;
  p.numparams = 2;
  p.isVararg = 3;
  p.maxStack = 4;
  p.lineInfo = {7};
  p.locals = {{"v", 5, 6}};
  p.upvalueNames = {"u"};
  p.constants = {KNum(1.0), KStr("ab"), KNil()};
  p.code = {0x11223344};
  return p;
}

TEST(ChunkBuilder, LittleEndianLayout) {
  const Bytes expected = Concat({
      {0x1B, 'Q', 'M', 'B', 1, 4, 4, 4, 6, 8, 9, 9, 8},
      {0xB6, 0x09, 0x93, 0x68, 0xE7, 0xF5, 0x7D, 0x41},  // 31415926.535897933
      {2, 0, 0, 0, 's', 0},                              // source
      {4, 3, 2, 1},                                      // line defined
      {1, 2, 3, 4},                                      // nups, params, vararg, maxstack
      {1, 0, 0, 0, 7, 0, 0, 0},                          // line info
      {1, 0, 0, 0, 2, 0, 0, 0, 'v', 0, 5, 0, 0, 0, 6, 0, 0, 0},
      {1, 0, 0, 0, 2, 0, 0, 0, 'u', 0},
      {3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 4, 3, 0, 0, 0, 'a', 'b', 0, 0},
      {0, 0, 0, 0},                                      // nested prototypes
      {1, 0, 0, 0, 0x44, 0x33, 0x22, 0x11},
  });
  EXPECT_EQ(BuildChunk(SmallProto()), expected);
}

TEST(ChunkBuilder, BigEndianReversesEveryItem) {
  const Bytes expected = Concat({
      {0x1B, 'Q', 'M', 'B', 0, 4, 4, 4, 6, 8, 9, 9, 8},
      {0x41, 0x7D, 0xF5, 0xE7, 0x68, 0x93, 0x09, 0xB6},
      {0, 0, 0, 2, 's', 0},
      {1, 2, 3, 4},
      {1, 2, 3, 4},
      {0, 0, 0, 1, 0, 0, 0, 7},
      {0, 0, 0, 1, 0, 0, 0, 2, 'v', 0, 0, 0, 0, 5, 0, 0, 0, 6},
      {0, 0, 0, 1, 0, 0, 0, 2, 'u', 0},
      {0, 0, 0, 3, 3, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 3, 'a', 'b', 0, 0},
      {0, 0, 0, 0},
      {0, 0, 0, 1, 0x11, 0x22, 0x33, 0x44},
  });
  BuildOptions big;
  big.bigEndian = true;
  EXPECT_EQ(BuildChunk(SmallProto(), big), expected);
}

// Constants are written as type byte + payload; the cases a loader must survive.
TEST(ChunkBuilder, ConstantEncodings) {
  struct Case {
    const char *what;
    ChunkConstant k;
    Bytes bytes;
  } cases[] = {
      {"nil", KNil(), {0}},
      {"-0", KNum(-0.0), {3, 0, 0, 0, 0, 0, 0, 0, 0x80}},
      {"inf", KNum(std::numeric_limits<double>::infinity()), {3, 0, 0, 0, 0, 0, 0, 0xF0, 0x7F}},
      {"nan", KNum(std::numeric_limits<double>::quiet_NaN()), {3, 0, 0, 0, 0, 0, 0, 0xF8, 0x7F}},
      {"embedded NUL", KStr(std::string("a\0b", 3)), {4, 4, 0, 0, 0, 'a', 0, 'b', 0}},
      {"empty string", KStr(""), {4, 1, 0, 0, 0, 0}},
      {"size-0 string", KNoString(), {4, 0, 0, 0, 0}},
      {"bad type", KBadType(7), {7}},
  };
  for (const Case &c : cases) {
    ChunkProto p;
    p.constants = {c.k};
    Bytes chunk = BuildChunk(p);
    // header 21, source 4, line 4, four bytes, three empty counts 12, constant count 4
    const size_t at = 21 + 4 + 4 + 4 + 12 + 4;
    ASSERT_GE(chunk.size(), at + c.bytes.size() + 8) << c.what;
    EXPECT_EQ(Bytes(chunk.begin() + at, chunk.begin() + at + c.bytes.size()), c.bytes) << c.what;
    EXPECT_EQ(chunk.size(), at + c.bytes.size() + 8) << c.what;  // then two empty counts
  }
}

TEST(ChunkBuilder, NestedPrototypesFollowConstantsAndPrecedeCode) {
  ChunkProto inner;
  inner.code = {0xAABBCCDD};
  ChunkProto outer;
  outer.source = std::nullopt;
  outer.protos = {inner, inner};
  outer.code = {0x01020304};
  Bytes chunk = BuildChunk(outer);
  const Bytes innerBytes = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0xDD, 0xCC, 0xBB, 0xAA};
  const Bytes expected = Concat({Bytes(chunk.begin(), chunk.begin() + 21),
                                 {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2},
                                 {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                                 {2, 0, 0, 0},
                                 innerBytes,
                                 innerBytes,
                                 {1, 0, 0, 0, 4, 3, 2, 1}});
  EXPECT_EQ(chunk, expected);
}

TEST(ChunkBuilder, OverridesForBadChunks) {
  ChunkProto p;
  p.code = {0x22};
  p.codeCount = -1;
  p.constantCount = 1000;
  p.locals = {{std::nullopt, -5, 2}};
  const Bytes plain = BuildChunk(p);
  // counts replaced, items still written
  EXPECT_EQ(Bytes(plain.begin() + 33, plain.end()),
            (Bytes{0, 0, 0, 0,                          // line info
                   1, 0, 0, 0, 0, 0, 0, 0,              // one local, size-0 name
                   0xFB, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0,  // start -5, end 2
                   0, 0, 0, 0,                          // upvalue names
                   0xE8, 0x03, 0, 0,                    // constant count 1000, none follow
                   0, 0, 0, 0,                          // nested prototypes
                   0xFF, 0xFF, 0xFF, 0xFF, 0x22, 0, 0, 0}));

  BuildOptions o;
  o.testNumber = 31415926.0;
  o.patches = {{0, 'X'}, {10, 8}};
  o.truncateTo = 30;
  const Bytes bad = BuildChunk(p, o);
  ASSERT_EQ(bad.size(), 30u);
  EXPECT_EQ(bad[0], 'X');
  EXPECT_EQ(bad[10], 8);
  EXPECT_EQ(Bytes(bad.begin() + 13, bad.begin() + 21), (Bytes{0, 0, 0, 0x60, 0xE7, 0xF5, 0x7D, 0x41}));
  EXPECT_EQ(Bytes(bad.begin() + 21, bad.end()), Bytes(plain.begin() + 21, plain.begin() + 30));

  o.truncateTo = plain.size() + 10;  // longer than the chunk: unchanged length
  EXPECT_EQ(BuildChunk(p, o).size(), plain.size());
}

}  // namespace
}  // namespace qmtools
