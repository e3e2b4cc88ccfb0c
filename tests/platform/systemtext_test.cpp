// The conversions at the process boundary: system bytes read in as Latin-1 and written back.
#include "platform/systemtext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "runtime/errcodes.h"

namespace {

std::string In(const std::string &system) {
  std::string out(2 * system.size() + 1, '\0');
  EXPECT_EQ(TextFromSystem(system.c_str(), out.data(), out.size()), 0u);
  return out.c_str();
}

std::string Out(const std::string &latin1) {
  std::string out(2 * latin1.size() + 1, '\0');
  EXPECT_EQ(TextToSystem(latin1.c_str(), out.data(), out.size()), 0u);
  return out.c_str();
}

std::string Hex(const std::string &s) {
  std::string h;
  for (unsigned char c : s) h += "0123456789ABCDEF"[c >> 4], h += "0123456789ABCDEF"[c & 15], h += ' ';
  return h;
}

// Every string of 1..maxLength symbols of the alphabet, handed to check.
void ForEachString(const std::string &alphabet, size_t maxLength,
                   const std::function<void(const std::string &)> &check) {
  std::string s;
  std::function<void()> grow = [&] {
    if (!s.empty()) check(s);
    if (s.size() == maxLength) return;
    for (char c : alphabet) {
      s.push_back(c);
      grow();
      s.pop_back();
    }
  };
  grow();
}

TEST(SystemText, NamesReadInAndWriteBackByteForByte) {
  struct Case {
    const char *name;
    std::string system, latin1;
  } cases[] = {
      {"ascii", "plain-1.qma", "plain-1.qma"},
      {"e acute", "caf\xC3\xA9.qma", "caf\xE9.qma"},
      {"C1 control", "\xC2\x85", "\x85"},
      {"euro: beyond Latin-1, raw", "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"CJK: beyond Latin-1, raw", "\xE6\x97\xA5\xE6\x9C\xAC.qma", "\xE6\x97\xA5\xE6\x9C\xAC.qma"},
      {"four-byte character, raw", "\xF0\x9F\x8E\xB5", "\xF0\x9F\x8E\xB5"},
      {"byte 0xFF", "a\xFF.qma", "a\x1A\xFF.qma"},
      {"lone continuation byte", "\x80x", "\x1A\x80x"},
      {"overlong slash", "\xC0\xAF", "\x1A\xC0\x1A\xAF"},
      {"overlong three bytes", "\xE0\x80\xAF", "\x1A\xE0\x1A\x80\x1A\xAF"},
      {"surrogate", "\xED\xA0\x80", "\x1A\xED\x1A\xA0\x1A\x80"},
      {"cut sequence at the end", "x\xE2\x82", "x\x1A\xE2\x1A\x82"},
      {"cut sequence before a letter", "\xE2\x82\xC3\xA9", "\x1A\xE2\x1A\x82\xE9"},
      {"the marker itself", "a\x1A" "b", "a\x1A\x1A" "b"},
      {"marker bytes escaped twice", "\x1A\xFF", "\x1A\x1A\x1A\xFF"},
      // Latin-1 "A umlaut, copyright" would read as U+0129 on the way out: the letter is escaped.
      {"letter that would join", "\xC3\x84\xC2\xA9", "\x1A\xC3\x1A\x84\xA9"},
      {"e acute, degree, superscript two", "\xC3\xA9\xC2\xB0\xC2\xB2", "\x1A\xC3\x1A\xA9\xB0\xB2"},
      {"letter before a plain character", "\xC3\x84x\xC2\xA9", "\xC4x\xA9"},
      {"o umlaut never leads", "\xC3\xB6\xC2\xB0", "\xF6\xB0"},
      {"A tilde leads only to Latin-1", "\xC3\x83\xC2\xA9", "\xC3\xA9"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(Hex(In(c.system)), Hex(c.latin1)) << c.name;
    EXPECT_EQ(Hex(Out(c.latin1)), Hex(c.system)) << c.name;
  }
}

TEST(SystemText, EveryByteStringComesBackUnchanged) {
  // All one- and two-byte strings, then every string of up to four bytes drawn from leads,
  // continuations, the marker and the letters that could be misread.
  std::string all;
  for (int b = 1; b < 256; b++) all += static_cast<char>(b);
  const std::string tricky = "a\x1A\x80\x84\xA9\xBF\xC2\xC3\xC4\xDF\xE2\xE9\xED\xF0\xF4\xF5\xFF";
  auto check = [](const std::string &s) {
    std::string latin1 = In(s);
    ASSERT_EQ(Out(latin1), s) << Hex(s) << "-> " << Hex(latin1);
  };
  ForEachString(all, 2, check);
  ForEachString(tricky, 4, check);
}

TEST(SystemText, LatinOneTextWithoutTheMarkerComesBackUnchanged) {
  std::string all;
  for (int b = 1; b < 256; b++)
    if (b != 0x1A) all += static_cast<char>(b);
  const std::string tricky = "a\x80\x84\xA9\xBF\xC2\xC3\xC4\xDF\xE2\xE9\xED\xF0\xF4\xF5\xFF";
  auto check = [](const std::string &t) {
    std::string system = Out(t);
    ASSERT_EQ(In(system), t) << Hex(t) << "-> " << Hex(system);
  };
  ForEachString(all, 2, check);
  ForEachString(tricky, 4, check);
}

TEST(SystemText, TooSmallABufferIsRefusedAndLeftEmpty) {
  struct Case {
    uint32_t (*convert)(const char *, char *, size_t);
    const char *text;
    size_t fits;  // the smallest buffer that holds the result
  } cases[] = {
      {TextFromSystem, "\xFF\xFF", 5},  // the worst case: twice the length
      {TextFromSystem, "caf\xC3\xA9", 5},
      {TextToSystem, "\xE9\xE9", 5},
      {TextToSystem, "a\x1A\xFF", 3},
  };
  for (const Case &c : cases) {
    char out[8] = "junk";
    EXPECT_EQ(c.convert(c.text, out, c.fits - 1), static_cast<uint32_t>(ERR_NAMETOOLONG)) << c.text;
    EXPECT_STREQ(out, "");
    EXPECT_EQ(c.convert(c.text, out, c.fits), 0u) << c.text;
    EXPECT_EQ(std::strlen(out), c.fits - 1);
  }
  char none[1] = {'x'};
  EXPECT_EQ(TextFromSystem("", none, 0), static_cast<uint32_t>(ERR_NAMETOOLONG));
  EXPECT_EQ(none[0], 'x');  // nothing written into no room
}

}  // namespace
