// What the video format tests share: ffmpeg and ffprobe as the peer that makes clips, counts
// frames and decodes files, and little-endian byte access to the files they check.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/media/image/image_test_util.h"

inline bool HaveFfmpeg() { return HasCommand("ffmpeg") && HasCommand("ffprobe"); }

inline int RunQuiet(const std::string &cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// What a command prints, trimmed of the last line feed.
inline std::string CommandOutput(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen((cmd + " 2>/dev/null").c_str(), "r")) {
    char b[256];
    while (size_t n = std::fread(b, 1, sizeof b, p)) out.append(b, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// ffprobe's count of decoded video frames, or -1.
inline int ProbeFrameCount(const std::string &file) {
  const std::string out = CommandOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                        "stream=nb_read_frames -of csv=p=0 '" + file + "'");
  return out.empty() ? -1 : std::atoi(out.c_str());
}

// ffmpeg's frames of the file as RGB bytes, width x height x 3 each.
inline std::vector<std::string> PeerRgbFrames(const std::string &file, const std::string &out, int w, int h,
                                              const std::string &inputOptions = "") {
  std::vector<std::string> frames;
  if (RunQuiet("ffmpeg -v error -y " + inputOptions + " -i '" + file + "' -f rawvideo -pix_fmt rgb24 '" + out + "'"))
    return frames;
  const std::string b = ReadWholeFile(out);
  const size_t n = size_t(w) * h * 3;
  for (size_t at = 0; n && at + n <= b.size(); at += n) frames.push_back(b.substr(at, n));
  return frames;
}

inline uint32_t FileLe32(const std::string &b, size_t at) {
  if (at + 4 > b.size()) return 0;
  const auto *p = reinterpret_cast<const uint8_t *>(b.data() + at);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline int ColourDistance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int s = 0; s < 24; s += 8) {
    const int d = std::abs(int((a >> s) & 255) - int((b >> s) & 255));
    if (d > worst) worst = d;
  }
  return worst;
}
