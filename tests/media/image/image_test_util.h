// What the picture tests share: the peer (tests/media/image/image_peer.py, PIL and netpbm)
// that makes fixtures and decodes pictures independently, its reference files, and the
// comparison of our 0xAARRGGBB words with its RGBA bytes.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/platform/tempdir.h"

// Debian's python3 with python3-pil, whatever python3 is first on the path.
inline const char *kPeerPython = "/usr/bin/python3";

inline int RunPeer(const std::string &args) {
  std::string cmd = std::string(kPeerPython) + " " QM_SOURCE_DIR "/tests/media/image/image_peer.py " + args +
                    " 2>/dev/null";
  return std::system(cmd.c_str());
}

inline bool HasCommand(const char *name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct PeerPicture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t alpha = 0;
  std::string rgba;  // width x height x 4 bytes
};

inline bool ReadReference(const std::string &path, PeerPicture *out) {
  std::string b = ReadWholeFile(path);
  if (b.size() < 16 || b.compare(0, 4, "QREF") != 0) return false;
  uint32_t v[3];
  std::memcpy(v, b.data() + 4, 12);
  out->width = int32_t(v[0]);
  out->height = int32_t(v[1]);
  out->alpha = int32_t(v[2]);
  out->rgba = b.substr(16);
  return out->rgba.size() == size_t(out->width) * out->height * 4;
}

// The peer's decoding of any picture file.
inline bool PeerDecode(const std::string &file, const std::string &ref, PeerPicture *out) {
  return RunPeer("decode '" + file + "' '" + ref + "'") == 0 && ReadReference(ref, out);
}

// Colours must match within the tolerance; alpha exactly when the picture has it, else our
// alpha byte is 0. Colours under a peer alpha below minAlpha are not compared (a colour that
// was multiplied by a small alpha cannot come back exactly). Reports the first difference.
inline ::testing::AssertionResult SamePixels(const uint32_t *pixels, int32_t width, int32_t height,
                                             const PeerPicture &ref, int tolerance = 0, int minAlpha = 0) {
  if (width != ref.width || height != ref.height)
    return ::testing::AssertionFailure() << "size " << width << "x" << height << ", peer " << ref.width << "x"
                                         << ref.height;
  for (int64_t i = 0; i < int64_t(width) * height; i++) {
    const auto *q = reinterpret_cast<const uint8_t *>(ref.rgba.data()) + 4 * i;
    const uint32_t p = pixels[i];
    const int ours[4] = {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255), int(p >> 24)};
    const int theirs[4] = {q[0], q[1], q[2], ref.alpha ? q[3] : 0};
    const bool hidden = ref.alpha && q[3] < minAlpha;
    for (int c = hidden ? 3 : 0; c < 4; c++)
      if (std::abs(ours[c] - theirs[c]) > (c < 3 ? tolerance : 0))
        return ::testing::AssertionFailure()
               << "pixel (" << i % width << ", " << i / width << ") channel " << c << ": " << ours[c] << ", peer "
               << theirs[c];
  }
  return ::testing::AssertionSuccess();
}
