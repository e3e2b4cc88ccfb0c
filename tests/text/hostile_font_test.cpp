// Broken font files through the fuzz target's reader: every fixture cut short at many lengths
// and with bytes overwritten, under the sanitizers. Nothing may crash, hang or overrun.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/text/text_test_util.h"
#include "tools/fuzz/fuzz_font.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::filesystem::path &p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(HostileFontTest, CutAndOverwrittenFixtures) {
  struct Source {
    uint8_t reader;
    std::string path;
  };
  std::vector<Source> sources;
  const std::string &dir = FixtureDir();
  for (const char *f : {"plain/8", "plain/11", "prop/9", "color/7", "corrupt/8"}) sources.push_back({0, dir + "/" + f});
  for (const char *f : {"plain.font", "prop.font", "incomplete.font"}) sources.push_back({1, dir + "/" + f});
  for (const char *f : {"faces/NoEnglish.ttf", "faces/LongName.ttf", "faces/Pair.ttc"})
    sources.push_back({2, dir + "/" + f});
  uint32_t seed = 12345;
  for (const Source &s : sources) {
    std::vector<uint8_t> file = ReadBytes(s.path);
    ASSERT_FALSE(file.empty()) << s.path;
    std::vector<uint8_t> input;
    // Cut at every length up to 400 bytes, then at a few beyond.
    for (size_t len = 0; len <= file.size(); len += len < 400 ? 1 : 997) {
      input.assign(1, s.reader);
      input.insert(input.end(), file.begin(), file.begin() + long(len));
      ReadFuzzFont(input.data(), input.size());
    }
    // Runs of overwritten words, as a small deterministic fuzzer would make them.
    for (int round = 0; round < 300; round++) {
      input.assign(1, s.reader);
      input.insert(input.end(), file.begin(), file.end());
      for (int k = 0; k < 4; k++) {
        seed = seed * 1103515245u + 12345u;
        size_t at = 1 + (seed >> 8) % (input.size() - 1);
        seed = seed * 1103515245u + 12345u;
        input[at] = uint8_t(seed >> 16);
        if (at + 1 < input.size()) input[at + 1] = (seed >> 24) & 1 ? 0xFF : 0x00;
      }
      ReadFuzzFont(input.data(), input.size());
    }
  }
}

}  // namespace
