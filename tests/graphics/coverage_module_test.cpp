// The coverage module: OpenCV reaches the process only when a shape needs the rasterisers, and
// the module is refused when it cannot serve.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "graphics/coverage.h"
#include "graphics/coverage_module.h"

namespace {

std::string Output(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

std::string Maps() {
  std::ifstream in("/proc/self/maps");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(CoverageModule, OpenCVIsMappedOnlyOnceAShapeNeedsIt) {
  // This program links what the player links. (The shell's own /proc/self would be ldd's.)
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  const std::string linked = Output(std::string("ldd '") + self + "'");
  ASSERT_NE(linked.find("libc.so"), std::string::npos) << linked;
  EXPECT_EQ(linked.find("opencv"), std::string::npos);
  EXPECT_EQ(linked.find("libtbb"), std::string::npos);

  qmAlphaChannel *plane = AllocAlphaChannel(20, 10, 1);
  ASSERT_EQ(DrawCoverageLine(plane, 2, 5, 17, 5, 3, 1), 0u);
  EXPECT_EQ(plane->memory[5 * plane->bytesPerRow + 10], 255);
  EXPECT_EQ(plane->memory[0], 0);
  FreeAlphaChannel(plane);
  const std::string maps = Maps();
  EXPECT_NE(maps.find(QM_COVERAGE_MODULE), std::string::npos);
  EXPECT_NE(maps.find("libopencv_imgproc"), std::string::npos);
}

TEST(CoverageModule, RefusesWhatCannotServe) {
  EXPECT_EQ(OpenCoverageModule("/nonexistent/" QM_COVERAGE_MODULE), nullptr);
  EXPECT_EQ(OpenCoverageModule("libm.so.6"), nullptr) << "a shared object without the entry";
  const qmCoverageTable *table = CoverageTable();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->version, kCoverageTableVersion);
}

}  // namespace
