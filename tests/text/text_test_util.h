// What the text tests share: the peers run as processes, the fonts they read, and small
// records to draw into.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "text/bitmapfont.h"
#include "text/font.h"

// Debian's system python, which has python3-pil (a python first on the PATH may not).
inline const char *kPython = "/usr/bin/python3";
inline const std::string kVeraDir = "/usr/share/fonts/truetype/ttf-bitstream-vera/";
inline const std::string kDejaVuDir = "/usr/share/fonts/truetype/dejavu/";

// The standard output of a shell command.
inline std::string RunCommand(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

inline std::string RunPeer(const std::string &args) {
  return RunCommand(std::string(kPython) + " " + QM_SOURCE_DIR + "/tests/text/ft_peer.py " + args);
}

inline std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// An 8-bit plane of its own, zeroed.
struct TestPlane {
  std::vector<uint8_t> bytes;
  qmMask mask{};
  TestPlane(int32_t width, int32_t height, int32_t bytesPerRow) : bytes(size_t(bytesPerRow) * size_t(height)) {
    mask = {bytes.data(), width, height, bytesPerRow, 1};
  }
  uint8_t At(int32_t x, int32_t y) const { return bytes[size_t(y) * size_t(mask.bytesPerRow) + size_t(x)]; }
  bool Bit(int32_t x, int32_t y) const {
    return (bytes[size_t(y) * size_t(mask.bytesPerRow) + size_t(x / 8)] >> (7 - x % 8)) & 1;
  }
};

// The folder of the generated font fixtures (make_font_fixtures.py), made once per process in
// a folder of its own (test processes run side by side) and removed at exit.
inline const std::string &FixtureDir() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/qm_text_fixturesXXXXXX";
    std::string d = mkdtemp(pattern) ? pattern : std::string(QM_BINARY_DIR) + "/text_fixtures";
    RunCommand(std::string(kPython) + " " + QM_SOURCE_DIR + "/tests/text/make_font_fixtures.py " + d);
    return d;
  }();
  static const bool cleanup = [] {
    std::atexit([] { std::filesystem::remove_all(dir); });
    return true;
  }();
  (void)cleanup;
  return dir;
}

// A font state of its own for each test, freed after it with every font it opened.
struct FontEngineTest : ::testing::Test {
  qmFont *topaz = const_cast<qmFont *>(GetTopazFont());
  qmFontState *fonts = nullptr;
  void SetUp() override { ASSERT_EQ(NewFontState(&fonts), 0u); }
  void TearDown() override { FreeFontState(fonts); }
};
