// What the anim codec tests share: the peer (tests/media/animcore/anim_peer.py) that decodes
// GIFs with PIL and makes fixtures with the frames they hold, and its frames files.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/media/image/image_test_util.h"

inline int RunAnimPeer(const std::string &args) {
  const std::string cmd =
      std::string(kPeerPython) + " " QM_SOURCE_DIR "/tests/media/animcore/anim_peer.py " + args + " 2>/dev/null";
  return std::system(cmd.c_str());
}

// Frames of RGBA bytes (width x height x 4 each).
struct PeerFrames {
  int32_t width = 0, height = 0;
  std::vector<std::string> rgba;
};

inline bool ReadFrames(const std::string &path, PeerFrames *out) {
  const std::string b = ReadWholeFile(path);
  if (b.size() < 16 || b.compare(0, 4, "QANM") != 0) return false;
  uint32_t v[3];
  std::memcpy(v, b.data() + 4, 12);
  out->width = int32_t(v[0]);
  out->height = int32_t(v[1]);
  const size_t frameBytes = size_t(v[0]) * v[1] * 4;
  if (b.size() != 16 + frameBytes * v[2]) return false;
  out->rgba.clear();
  for (uint32_t i = 0; i < v[2]; i++) out->rgba.push_back(b.substr(16 + i * frameBytes, frameBytes));
  return true;
}

// Our 0x00RRGGBB words against one RGBA frame: every pixel the peer shows opaque must have the
// same colour; pixels it leaves transparent are not compared. Reports the first difference.
inline ::testing::AssertionResult SameOpaquePixels(const uint32_t *pixels, const PeerFrames &ref, size_t frame) {
  const auto *q = reinterpret_cast<const uint8_t *>(ref.rgba[frame].data());
  for (int64_t i = 0; i < int64_t(ref.width) * ref.height; i++, q += 4) {
    if (q[3] != 255) continue;
    const uint32_t theirs = uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2];
    if ((pixels[i] & 0xFFFFFF) != theirs)
      return ::testing::AssertionFailure() << "frame " << frame << " pixel (" << i % ref.width << ", "
                                           << i / ref.width << "): " << std::hex << (pixels[i] & 0xFFFFFF)
                                           << ", peer " << theirs;
  }
  return ::testing::AssertionSuccess();
}
