#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_mem.h"
#include "runtime/vm/vm_number.h"
#include "runtime/vm/vm_string.h"
#include "tests/runtime/vm/vm_test_util.h"

TEST(StrToNumber, Table) {
  struct Case {
    const char *text;
    bool ok;
    double value;
  } cases[] = {
      {"$ff", true, 255},         {"$FF", true, 255},        {"0xff", true, 255},
      {"0XFF", true, 255},        // not the hexadecimal rule: the decimal conversion takes it
      {"$", false, 0},            {"0x", false, 0},          {"$-1", false, 0},
      {"$ 1", false, 0},          {"0xg", false, 0},         {"12  ", true, 12},
      {" 12", true, 12},          {"12a", false, 0},         {"", false, 0},
      {"$FFFFFFFF", true, 4294967295.0},                     {"$1FFFFFFFF", true, 4294967295.0},
      {"0x80000000", true, 2147483648.0},                    {"$ff \t", true, 255},
      {"$ffz", false, 0},         {"1e3", true, 1000},       {"-2.5", true, -2.5},
  };
  for (const Case &c : cases) {
    double v = -1;
    EXPECT_EQ(vm_str2number(c.text, &v), c.ok ? 1 : 0) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  double v;
  ASSERT_EQ(vm_str2number("1e400", &v), 1);
  EXPECT_TRUE(std::isinf(v));
}

TEST(Strings, InterningIsIdentity) {
  VmFixture f;
  std::string a = "hello";
  std::string b = std::string("hel") + "lo";
  EXPECT_EQ(vm_newlstr(f.L, a.data(), a.size()), vm_newlstr(f.L, b.data(), b.size()));
  // An embedded zero byte is part of the string: these are three different strings.
  VmString *s1 = vm_newlstr(f.L, "ab\0cd", 5);
  VmString *s2 = vm_newlstr(f.L, "ab\0ce", 5);
  VmString *s3 = vm_newlstr(f.L, "ab", 2);
  EXPECT_NE(s1, s2);
  EXPECT_NE(s1, s3);
  EXPECT_EQ(s1->len, 5u);
  EXPECT_EQ(vm_newlstr(f.L, "ab\0cd", 5), s1);
  EXPECT_EQ(s1->data()[5], '\0');
}

TEST(Strings, LongStringsSampleOnlySomeBytesButStayDistinct) {
  VmFixture f;
  // Strings that differ only in bytes the hash skips must still intern apart.
  std::string a(1000, 'x'), b(1000, 'x');
  b[1] = 'y';
  VmString *sa = vm_newlstr(f.L, a.data(), a.size());
  VmString *sb = vm_newlstr(f.L, b.data(), b.size());
  EXPECT_EQ(sa->hash, sb->hash);
  EXPECT_NE(sa, sb);
}

TEST(Strings, TableDoublesWhenCountExceedsSize) {
  VmFixture f;
  VmStringTable &tb = G(f.L)->strt;
  // Fill up to exactly the bucket count; the next new string doubles the table.
  int i = 0;
  while (tb.nuse < static_cast<uint32_t>(tb.size)) vm_newstr(f.L, ("fill" + std::to_string(i++)).c_str());
  int size = tb.size;
  vm_newstr(f.L, "one more");
  EXPECT_EQ(tb.size, 2 * size);
  // Everything is still found after the move.
  for (int j = 0; j < i; j++) {
    std::string s = "fill" + std::to_string(j);
    uint32_t before = tb.nuse;
    vm_newstr(f.L, s.c_str());
    EXPECT_EQ(tb.nuse, before) << s;
  }
}

TEST(Strings, FreshStateStartsWith32BucketsAndDoublesOnThe33rdString) {
  // The tag-method names and "not enough memory" are the first 24 strings.
  VmFixture f;
  VmStringTable &tb = G(f.L)->strt;
  EXPECT_EQ(tb.size, 32);
  EXPECT_EQ(tb.nuse, 24u);
  for (int i = 0; i < 8; i++) vm_newstr(f.L, ("s" + std::to_string(i)).c_str());
  EXPECT_EQ(tb.size, 32);
  vm_newstr(f.L, "the 33rd");
  EXPECT_EQ(tb.size, 64);
}

TEST(ChunkId, DisplayNames) {
  char out[60];
  vm_chunkid(out, "=stdin", sizeof out);
  EXPECT_STREQ(out, "stdin");
  std::string longname = "@" + std::string(18, 'a') + std::string(52, 'b');
  vm_chunkid(out, longname.c_str(), sizeof out);
  EXPECT_EQ(std::string(out), "..." + std::string(52, 'b'));
  vm_chunkid(out, "@short.qms", sizeof out);
  EXPECT_STREQ(out, "short.qms");
  vm_chunkid(out, "x = 1\ny = 2", sizeof out);
  EXPECT_STREQ(out, "[string \"x = 1...\"]");
  vm_chunkid(out, "print(1)", sizeof out);
  EXPECT_STREQ(out, "[string \"print(1)\"]");
  std::string longsrc(100, 'z');
  vm_chunkid(out, longsrc.c_str(), sizeof out);
  EXPECT_EQ(std::string(out), "[string \"" + std::string(43, 'z') + "...\"]");
  EXPECT_LT(std::string(out).size(), sizeof out);
  std::string longeq = "=" + std::string(100, 'q');
  vm_chunkid(out, longeq.c_str(), sizeof out);
  EXPECT_EQ(std::string(out), std::string(59, 'q'));
}

TEST(RawEqual, Cases) {
  VmValue nan, nan2, zero, negzero, t, one;
  vm_setnumber(&nan, NAN);
  nan2 = nan;
  vm_setnumber(&zero, 0.0);
  vm_setnumber(&negzero, -0.0);
  vm_setboolean(&t, 1);
  vm_setnumber(&one, 1);
  EXPECT_FALSE(vm_rawequalobj(&nan, &nan2));
  EXPECT_TRUE(vm_rawequalobj(&zero, &negzero));
  EXPECT_FALSE(vm_rawequalobj(&t, &one));  // different tags are never equal
  EXPECT_TRUE(vm_rawequalobj(&vm_nilobject, &vm_nilobject));
}

TEST(Log2, Values) {
  EXPECT_EQ(vm_log2(0), -1);
  EXPECT_EQ(vm_log2(1), 0);
  EXPECT_EQ(vm_log2(255), 7);
  EXPECT_EQ(vm_log2(256), 8);
  EXPECT_EQ(vm_log2(65535), 15);
  EXPECT_EQ(vm_log2(0x1000000), 24);
  EXPECT_EQ(vm_log2(0xFFFFFFFFu), 31);
}

TEST(Allocator, CountsBytesAndReportsOutOfMemory) {
  VmFixture f;
  size_t base = G(f.L)->nblocks;
  void *p = nullptr;
  EXPECT_EQ(Protected(f.L, [&] { p = vm_realloc(f.L, nullptr, 0, 100); }), 0u);
  EXPECT_EQ(G(f.L)->nblocks, base + 100);
  EXPECT_EQ(Protected(f.L, [&] { p = vm_realloc(f.L, p, 100, 40); }), 0u);
  EXPECT_EQ(G(f.L)->nblocks, base + 40);
  vm_realloc(f.L, p, 40, 0);
  EXPECT_EQ(G(f.L)->nblocks, base);
  EXPECT_EQ(Protected(f.L, [&] { vm_realloc(f.L, nullptr, 0, 0xFFFFFFFDu); }), ERR_MEM);
  G(f.L)->memlimit = base + 1000;
  EXPECT_EQ(Protected(f.L, [&] { vm_realloc(f.L, nullptr, 0, 2000); }), ERR_MEM);
  EXPECT_EQ(G(f.L)->nblocks, base);
  G(f.L)->memlimit = 0;
}

TEST(Allocator, GrowVectorDoublesThenStopsAtTheLimit) {
  VmFixture f;
  int *v = nullptr;
  int size = 0;
  ASSERT_EQ(Protected(f.L, [&] { vm_growvector(f.L, v, 0, size, 100, ERR_STACK); }), 0u);
  EXPECT_EQ(size, 4);
  ASSERT_EQ(Protected(f.L, [&] { vm_growvector(f.L, v, 4, size, 100, ERR_STACK); }), 0u);
  EXPECT_EQ(size, 8);
  v = static_cast<int *>(vm_realloc(f.L, v, 8 * sizeof(int), 60 * sizeof(int)));
  size = 60;
  ASSERT_EQ(Protected(f.L, [&] { vm_growvector(f.L, v, 60, size, 100, ERR_STACK); }), 0u);
  EXPECT_EQ(size, 100);
  EXPECT_EQ(Protected(f.L, [&] { vm_growvector(f.L, v, 100, size, 100, ERR_STACK); }), ERR_STACK);
  EXPECT_EQ(size, 100);
  vm_freearray(f.L, v, 100);
}

TEST(State, OpenAndCloseBalanceTheByteCount) {
  VmFixture f;
  EXPECT_GT(G(f.L)->nblocks, sizeof(VmState));
  EXPECT_EQ(G(f.L)->GCthreshold, 4 * G(f.L)->nblocks);
  // The event names are interned and fixed.
  for (int i = 0; i < VM_TM_N; i++) EXPECT_TRUE(G(f.L)->tmname[i]->marked & VM_FIXED);
  EXPECT_STREQ(G(f.L)->tmname[VM_TM_DIVINT]->data(), "__divint");
}

TEST(NumberText, MatchesTheGeneralFormat) {
  const double values[] = {0, -0.0, 1, -1, 7, 10, 123456789, -987654321, 99999999999999.0, -99999999999999.0,
                           1e14, 1e15, 0.5, -2.25, 1e-5, 3.14159265358979, 4294967295.0, 2147483648.0,
                           NAN, INFINITY, -INFINITY, 1e300};
  for (double v : values) {
    char ours[VM_MAXNUMBER2STR], ref[64];
    vm_number2str(v, ours, sizeof ours);
    std::snprintf(ref, sizeof ref, "%.14g", v);
    EXPECT_STREQ(ours, ref) << v;
  }
}

TEST(NumberText, WholeNumbersMatchTheGeneralFormat) {
  // Every whole number up to 100000 either side, then each power of ten and its neighbours
  // up to the 1e14 limit of the direct path, then a spread of large values.
  std::vector<double> values;
  for (int v = -100000; v <= 100000; v++) values.push_back(v);
  for (double p = 1; p <= 1e15; p *= 10)
    for (double d : {-2.0, -1.0, 0.0, 1.0, 2.0}) {
      values.push_back(p + d);
      values.push_back(-(p + d));
    }
  for (uint64_t x = 1; x < 100000000000000u; x = x * 7 + 3) {
    values.push_back(static_cast<double>(x));
    values.push_back(-static_cast<double>(x));
  }
  for (double v : values) {
    char ours[VM_MAXNUMBER2STR], ref[64];
    int len = vm_number2str(v, ours, sizeof ours);
    int reflen = std::snprintf(ref, sizeof ref, "%.14g", v);
    ASSERT_STREQ(ours, ref) << v;
    ASSERT_EQ(len, reflen) << v;
  }
}
