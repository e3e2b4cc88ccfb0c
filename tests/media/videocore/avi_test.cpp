// The AVI reader against clips ffmpeg makes (frame n of a known colour, ffprobe's frame count)
// and hand-built files (idx1 kinds, frames without Huffman tables, broken files); the writer's
// files read back by ffprobe, ffmpeg and the reader, and its header figures.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "media/videocore/avireader.h"
#include "media/videocore/aviwriter.h"
#include "media/videocore/mjpegtables.h"
#include "platform/imagecodec.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "tests/media/videocore/video_test_util.h"

namespace {

// Frame n of the generated clips: red 40n, green 255 - 40n, blue 128.
uint32_t ClipColour(int n) { return uint32_t(40 * n) << 16 | uint32_t(255 - 40 * n) << 8 | 128; }

constexpr int kClipFrames = 6;
constexpr int kTolerance = 12;  // JPEG and YUV rounding on flat colours

std::string MakeClip(const TempDir &dir, const std::string &name, const std::string &codec, bool sound) {
  const std::string out = dir / name;
  std::string cmd = "ffmpeg -v error -y -f lavfi -i \"color=black:s=32x24:r=5,format=gbrp,geq=r='N*40':g='255-N*40':"
                    "b=128\" ";
  if (sound) cmd += "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=2 -c:a pcm_s16le -shortest ";
  cmd += "-frames:v " + std::to_string(kClipFrames) + " " + codec + " '" + out + "'";
  return RunQuiet(cmd) ? std::string() : out;
}

// Every pixel of the frame within the tolerance of the colour.
::testing::AssertionResult FlatFrame(const uint32_t *pixels, int count, uint32_t colour) {
  if (!pixels) return ::testing::AssertionFailure() << "no frame";
  for (int i = 0; i < count; i++)
    if (ColourDistance(pixels[i], colour) > kTolerance)
      return ::testing::AssertionFailure() << "pixel " << i << ": " << std::hex << pixels[i] << ", wanted " << colour;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ReadsFrame(qmAviReader *r, int n, uint32_t colour) {
  uint32_t *p = AviReaderLoadFrame(r, n);
  auto result = FlatFrame(p, r->width * r->height, colour);
  MemFree(p);
  return result << " (frame " << n << ")";
}

TEST(AviReader, FfmpegClipsMatchTheirColoursAndFrameCount) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is missing";
  TempDir dir;
  const struct {
    const char *name, *codec;
    bool sound;
  } cases[] = {
      {"mjpeg.avi", "-c:v mjpeg -q:v 2", false},
      {"mjpeg-sound.avi", "-c:v mjpeg -q:v 2", true},
      {"mjpeg-default-tables.avi", "-c:v mjpeg -q:v 2 -huffman default", false},
      {"raw.avi", "-c:v rawvideo -pix_fmt bgr24", false},
      {"raw-sound.avi", "-c:v rawvideo -pix_fmt bgr24", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = MakeClip(dir, c.name, c.codec, c.sound);
    ASSERT_FALSE(file.empty());
    int32_t w = 0, h = 0, n = 0;
    qmAviReader *r = AviReaderOpen(file.c_str(), &w, &h, &n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 24);
    EXPECT_EQ(n, ProbeFrameCount(file));
    EXPECT_EQ(r->codec, std::string(c.codec).find("mjpeg") != std::string::npos ? AVICODEC_MJPEG : AVICODEC_RAW);
    if (c.sound) {
      EXPECT_EQ(r->sampleRate, 22050);
      EXPECT_EQ(r->bitsPerSample, 16);
    }
    for (int i = 0; i < n; i++) EXPECT_TRUE(ReadsFrame(r, i, ClipColour(i)));
    // Out of order, and past the end.
    for (int i : {4, 1, 5, 0, 3}) EXPECT_TRUE(ReadsFrame(r, i, ClipColour(i)));
    EXPECT_EQ(AviReaderLoadFrame(r, n), nullptr);
    EXPECT_EQ(AviReaderLoadFrame(r, -1), nullptr);
    EXPECT_EQ(AviReaderGetFrameDelay(r), 0u);
    AviReaderClose(r);
  }
}

// ---- hand-built files ----

std::string Le32(uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string Le16(uint32_t v) { return std::string{char(v), char(v >> 8)}; }
std::string Chunk(const std::string &id, const std::string &data) {
  std::string c = id + Le32(uint32_t(data.size())) + data;
  if (data.size() & 1) c += '\0';
  return c;
}
std::string List(const std::string &type, const std::string &body) { return Chunk("LIST", type + body); }

std::string Jpeg(uint32_t colour, int w, int h) {
  std::vector<uint32_t> px(size_t(w) * h, colour);
  qmJpegRequest req{px.data(), w, h, w * 4, 90, {}};
  if (EncodeImageJPEG(&req)) return {};
  std::string s(reinterpret_cast<char *>(req.data.bytes), req.data.length);
  FreeEncodedImage(&req.data);
  return s;
}

// The JPEG without its DHT segments.
std::string WithoutTables(const std::string &jpeg) {
  std::string out = jpeg.substr(0, 2);
  size_t i = 2;
  while (i + 4 <= jpeg.size() && uint8_t(jpeg[i + 1]) != 0xDA) {
    const size_t len = size_t(uint8_t(jpeg[i + 2])) << 8 | uint8_t(jpeg[i + 3]);
    if (uint8_t(jpeg[i + 1]) != 0xC4) out += jpeg.substr(i, 2 + len);
    i += 2 + len;
  }
  return out + jpeg.substr(i);
}

enum class Idx { none, relative, absolute };

struct AviShape {
  int w = 16, h = 8;
  uint32_t frames = 0;   // avih total; 0 = the number of chunks
  uint32_t streams = 1;  // avih stream count
  int strhCount = 1;
  int strfWidth = -1;    // -1 = w
  std::string handler = "MJPG";
  Idx idx = Idx::relative;
  int extraIndexEntries = 0;  // idx1 entries beyond the chunks
  uint32_t idxOffsetBias = 0; // added to every idx1 offset
};

std::string BuildAvi(const AviShape &s, const std::vector<std::string> &chunks) {
  const uint32_t frames = s.frames ? s.frames : uint32_t(chunks.size());
  std::string avih(56, '\0');
  avih.replace(16, 4, Le32(frames));
  avih.replace(24, 4, Le32(s.streams));
  avih.replace(32, 8, Le32(uint32_t(s.w)) + Le32(uint32_t(s.h)));
  std::string strl;
  for (int i = 0; i < s.strhCount; i++) {
    std::string strh = "vids" + s.handler + std::string(48, '\0');
    std::string strf = Le32(40) + Le32(uint32_t(s.strfWidth < 0 ? s.w : s.strfWidth)) + Le32(uint32_t(s.h)) +
                       Le16(1) + Le16(24) + s.handler + std::string(20, '\0');
    strl += List("strl", Chunk("strh", strh) + Chunk("strf", strf));
  }
  const std::string hdrl = List("hdrl", Chunk("avih", avih) + strl);
  const size_t moviAt = 12 + hdrl.size();  // where the movi "LIST" starts
  std::string movi, idx1;
  for (const auto &c : chunks) {
    const size_t at = 4 + movi.size();  // from the movi list type
    movi += Chunk("00dc", c);
    const uint32_t offset = s.idx == Idx::absolute ? uint32_t(moviAt + 8 + at) : uint32_t(at);
    idx1 += "00dc" + Le32(16) + Le32(offset + s.idxOffsetBias) + Le32(uint32_t(c.size()));
  }
  for (int i = 0; i < s.extraIndexEntries; i++) idx1 += "00dc" + Le32(16) + Le32(4) + Le32(uint32_t(chunks[0].size()));
  std::string body = "AVI " + hdrl + List("movi", movi);
  if (s.idx != Idx::none) body += Chunk("idx1", idx1);
  return "RIFF" + Le32(uint32_t(body.size())) + body;
}

const uint32_t kColours[] = {0xE02020, 0x20E020, 0x2020E0, 0xE0E020, 0x20E0E0, 0xE020E0, 0x808080};

std::vector<std::string> ColourJpegs(int w, int h, bool tables) {
  std::vector<std::string> v;
  for (uint32_t c : kColours) v.push_back(tables ? Jpeg(c, w, h) : WithoutTables(Jpeg(c, w, h)));
  return v;
}

std::string Write(const TempDir &dir, const std::string &name, const std::string &bytes) {
  const std::string path = dir / name;
  WriteFile(path, bytes);
  return path;
}

// The tables as {class and id: counts and values}, from DHT segment bodies.
std::map<int, std::string> ParseTables(const std::string &body) {
  std::map<int, std::string> t;
  size_t i = 0;
  while (i + 17 <= body.size()) {
    size_t n = 0;
    for (int k = 1; k <= 16; k++) n += uint8_t(body[i + k]);
    t[uint8_t(body[i])] = body.substr(i + 1, 16 + n);
    i += 17 + n;
  }
  return t;
}

TEST(AviReader, StandardTablesEqualTheEncodersTables) {
  const std::string jpeg = Jpeg(0x336699, 16, 16);
  std::string bodies;
  for (size_t i = 2; i + 4 <= jpeg.size() && uint8_t(jpeg[i + 1]) != 0xDA;) {
    const size_t len = size_t(uint8_t(jpeg[i + 2])) << 8 | uint8_t(jpeg[i + 3]);
    if (uint8_t(jpeg[i + 1]) == 0xC4) bodies += jpeg.substr(i + 4, len - 2);
    i += 2 + len;
  }
  const std::string ours(reinterpret_cast<const char *>(kStandardDht), kStandardDhtSize);
  EXPECT_EQ(ours.substr(0, 4), std::string("\xFF\xC4\x01\xA2", 4));
  const auto theirs = ParseTables(bodies);
  EXPECT_EQ(theirs.size(), 4u);
  EXPECT_EQ(ParseTables(ours.substr(4)), theirs);
}

// Relative and absolute idx1 offsets, no idx1 (found by scanning, also backwards), and frames
// without Huffman tables all give the same frames.
TEST(AviReader, IndexKindsAndTablelessFramesGiveTheSameFrames) {
  TempDir dir;
  const struct {
    const char *name;
    Idx idx;
    bool tables;
  } cases[] = {{"relative", Idx::relative, true},
               {"absolute", Idx::absolute, true},
               {"none", Idx::none, true},
               {"no tables", Idx::relative, false},
               {"no tables, no index", Idx::none, false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    AviShape shape;
    shape.idx = c.idx;
    const std::string path = Write(dir, "f.avi", BuildAvi(shape, ColourJpegs(16, 8, c.tables)));
    int32_t w = 0, h = 0, n = 0;
    qmAviReader *r = AviReaderOpen(path.c_str(), &w, &h, &n);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(r->indexCount[0], c.idx == Idx::none ? 0 : 7);
    for (int i : {5, 3, 0, 6, 1, 2, 4}) EXPECT_TRUE(ReadsFrame(r, i, kColours[i]));
    AviReaderClose(r);
  }
}

// A JPEG whose comment makes it larger than width x height x 3 decodes all the same, tables
// inserted; an idx1 longer than the frame count keeps only its first entries; an offset past
// the end of the file gives no frame rather than another chunk found by a scan, while frames
// read in order need no index.
TEST(AviReader, OversizedFramesAndIndexesAreTakenSafely) {
  TempDir dir;
  std::vector<std::string> frames = ColourJpegs(4, 2, false);
  const std::string comment = std::string("\xFF\xFE", 2) + char(3002 >> 8) + char(3002 & 255) + std::string(3000, 'c');
  frames[2].insert(2, comment);
  AviShape shape;
  shape.w = 4, shape.h = 2;
  shape.extraIndexEntries = 40;
  const std::string path = Write(dir, "big.avi", BuildAvi(shape, frames));
  qmAviReader *r = AviReaderOpen(path.c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->indexCount[0], 7);
  for (int i : {2, 6, 2}) EXPECT_TRUE(ReadsFrame(r, i, kColours[i]));
  AviReaderClose(r);

  AviShape far;
  far.idxOffsetBias = 0x7FFFFFF0;
  const std::string farPath = Write(dir, "far.avi", BuildAvi(far, ColourJpegs(16, 8, true)));
  r = AviReaderOpen(farPath.c_str(), nullptr, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  for (int i : {4, 1}) EXPECT_EQ(AviReaderLoadFrame(r, i), nullptr) << i;
  // Frames read in their order follow the chunks, not the index.
  for (int i : {0, 1, 2}) EXPECT_TRUE(ReadsFrame(r, i, kColours[i]));
  AviReaderClose(r);
}

TEST(AviReader, BrokenFilesGiveNoReaderOrNoFrame) {
  TempDir dir;
  const std::vector<std::string> good = ColourJpegs(16, 8, true);
  const std::string whole = BuildAvi({}, good);
  auto shape = [](auto change) {
    AviShape s;
    change(s);
    return s;
  };
  const struct {
    const char *name;
    std::string bytes;
  } refused[] = {
      {"empty", ""},
      {"RIFF of another form", "RIFF" + Le32(4) + "WAVE"},
      {"header cut short", whole.substr(0, 60)},
      {"no movi list", whole.substr(0, 12 + 8 + 4 + 8 + 56)},
      {"negative frame count", BuildAvi(shape([](AviShape &s) { s.frames = 0xFFFFFFFF; }), good)},
      {"17 streams", BuildAvi(shape([](AviShape &s) { s.streams = 17; }), good)},
      {"17 stream headers", BuildAvi(shape([](AviShape &s) { s.strhCount = 17; }), good)},
      {"format width differs", BuildAvi(shape([](AviShape &s) { s.strfWidth = 17; }), good)},
      {"unknown codec", BuildAvi(shape([](AviShape &s) { s.handler = "XVID"; }), good)},
      {"no width", BuildAvi(shape([](AviShape &s) { s.w = 0, s.strfWidth = 0; }), good)},
      {"huge picture", BuildAvi(shape([](AviShape &s) { s.w = 60000, s.h = 60000; }), good)},
  };
  for (const auto &c : refused) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AviReaderOpen(Write(dir, "bad.avi", c.bytes).c_str(), nullptr, nullptr, nullptr), nullptr);
  }

  // Files that open, with one frame that cannot be read; the others still read.
  std::vector<std::string> notJpeg = good, otherSize = good, cut = good;
  notJpeg[3] = "not a picture";
  otherSize[3] = Jpeg(kColours[3], 8, 8);
  cut[3] = good[3].substr(0, good[3].size() / 2);
  const std::string lastCut = whole.substr(0, whole.find("idx1") - good[6].size() / 2);
  const struct {
    const char *name;
    std::string bytes;
    int bad;
  } broken[] = {
      {"chunk is no JPEG", BuildAvi({}, notJpeg), 3},
      {"JPEG of another size", BuildAvi({}, otherSize), 3},
      {"JPEG cut short", BuildAvi({}, cut), 3},
      {"file cut in the last frame", lastCut, 6},
  };
  for (const auto &c : broken) {
    SCOPED_TRACE(c.name);
    qmAviReader *r = AviReaderOpen(Write(dir, "broken.avi", c.bytes).c_str(), nullptr, nullptr, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(AviReaderLoadFrame(r, c.bad), nullptr);
    for (int i : {0, c.bad == 6 ? 5 : 6, 1}) EXPECT_TRUE(ReadsFrame(r, i, kColours[i]));
    AviReaderClose(r);
  }
}

// ---- the writer ----

qmBitmap *Flat(int w, int h, uint32_t colour) {
  qmBitmap *b = AllocBitmap(w, h);
  FillBitmapRect(b, 0, 0, w, h, colour);
  return b;
}

uint32_t WriteFrames(qmAviWriter *w, int count, int bw, int bh) {
  for (int i = 0; i < count; i++) {
    qmBitmap *b = Flat(bw, bh, kColours[i % 7]);
    const uint32_t code = AviWriteFrame(w, b, bw, bh, 1, 0);
    FreeBitmap(b);
    if (code) return code;
  }
  return 0;
}

TEST(AviWriter, SoundRateFollowsTheFrameRate) {
  TempDir dir;
  const struct {
    int fps;
    uint32_t rate, perFrame, micros;
  } cases[] = {{25, 44100, 1764, 40000}, {11, 44099, 4009, 90909}, {1, 44100, 44100, 1000000}, {30, 44100, 1470, 33333}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.fps);
    qmAviWriter *w = nullptr;
    ASSERT_EQ(AviCreate((dir / "r.avi").c_str(), c.fps, 1, 8, 8, 80, 0, 0, "t", nullptr, &w), 0u);
    EXPECT_EQ(w->sampleRate, c.rate);
    EXPECT_EQ(w->samplesPerFrame, c.perFrame);
    ASSERT_EQ(WriteFrames(w, 2, 8, 8), 0u);
    ASSERT_EQ(AviClose(w), 0u);
    const std::string b = ReadWholeFile(dir / "r.avi");
    EXPECT_EQ(FileLe32(b, 32), c.micros);
    EXPECT_EQ(FileLe32(b, 132), c.rate * 4);
    EXPECT_EQ(FileLe32(b, 140), c.perFrame * 2);
    EXPECT_EQ(FileLe32(b, 144), c.perFrame * 4);
    EXPECT_EQ(FileLe32(b, 176), c.rate);
    if (c.fps == 25) {
      EXPECT_EQ(CommandOutput("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels -of csv=p=0 '" +
                              dir / "r.avi" + "'"),
                "44100,2");
    }
  }
}

// Frames of known colours read back by ffprobe, ffmpeg and our reader; a frame written again
// without a bitmap; a smaller bitmap scaled to the writer's size.
TEST(AviWriter, FilesReadBackByFfmpegAndTheReader) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is missing";
  TempDir dir;
  const std::string file = dir / "w.avi";
  qmAviWriter *w = nullptr;
  ASSERT_EQ(AviCreate(file.c_str(), 10, 1, 40, 30, 90, 0, 0, "title", nullptr, &w), 0u);
  ASSERT_EQ(WriteFrames(w, 7, 40, 30), 0u);
  ASSERT_EQ(AviWriteFrame(w, nullptr, 0, 0, 1, 0), 0u);  // frame 7 repeats frame 6
  qmBitmap *small = Flat(20, 15, 0x2080E0);
  ASSERT_EQ(AviWriteFrame(w, small, 20, 15, 1, 0), 0u);
  FreeBitmap(small);
  ASSERT_EQ(AviClose(w), 0u);
  const uint32_t wanted[] = {kColours[0], kColours[1], kColours[2], kColours[3], kColours[4],
                             kColours[5], kColours[6], kColours[6], 0x2080E0};
  EXPECT_EQ(ProbeFrameCount(file), 9);
  EXPECT_EQ(CommandOutput("ffprobe -v error -select_streams v:0 -show_entries stream=width,height,codec_name -of csv=p=0 '" +
                          file + "'"),
            "mjpeg,40,30");
  const auto frames = PeerRgbFrames(file, dir / "w.rgb", 40, 30);
  ASSERT_EQ(frames.size(), 9u);
  for (size_t f = 0; f < frames.size(); f++) {
    const auto *p = reinterpret_cast<const uint8_t *>(frames[f].data()) + (15 * 40 + 20) * 3;
    EXPECT_LE(ColourDistance(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], wanted[f]), kTolerance) << f;
  }
  int32_t n = 0;
  qmAviReader *r = AviReaderOpen(file.c_str(), nullptr, nullptr, &n);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(n, 9);
  for (int i : {0, 8, 3, 7}) EXPECT_TRUE(ReadsFrame(r, i, wanted[i]));
  AviReaderClose(r);
}

// With a small RIFF limit the file goes on in AVIX RIFFs: one idx1, after the first movi list;
// every standard index chunk 16,384 bytes; ffprobe and our reader find every frame.
TEST(AviWriter, LongFilesGoOnInExtensionRiffs) {
  TempDir dir;
  const std::string file = dir / "long.avi";
  qmAviWriter *w = nullptr;
  ASSERT_EQ(AviCreate(file.c_str(), 25, 1, 16, 16, 50, 0, 0, "long", nullptr, &w), 0u);
  w->riffLimit = w->extensionRiffLimit = 100000;
  constexpr int kFrames = 60;
  ASSERT_EQ(WriteFrames(w, kFrames, 16, 16), 0u);
  ASSERT_EQ(AviClose(w), 0u);
  const std::string b = ReadWholeFile(file);
  auto count = [&](const std::string &s) {
    int n = 0;
    for (size_t at = b.find(s); at != std::string::npos; at = b.find(s, at + 1)) n++;
    return n;
  };
  EXPECT_EQ(count("idx1"), 1);
  const int riffs = count("AVIX") + 1;
  EXPECT_GE(riffs, 3);
  // The first RIFF's size reaches just past its idx1, where the first AVIX begins.
  const size_t avix = b.find("AVIX");
  EXPECT_EQ(size_t(FileLe32(b, 4)) + 8, avix - 8);
  EXPECT_LT(b.find("idx1"), avix);
  // Super index of the video stream: one entry per RIFF, each a full index chunk.
  const uint32_t entries = FileLe32(b, 16704 + 4);
  EXPECT_EQ(entries, uint32_t(riffs));
  uint32_t frames = 0;
  for (uint32_t i = 0; i < entries; i++) {
    const size_t at = FileLe32(b, 16728 + i * 16);
    EXPECT_EQ(b.substr(at, 4), "ix01");
    EXPECT_EQ(FileLe32(b, 16728 + i * 16 + 8), kAviIndexChunkSize);
    EXPECT_EQ(b.substr(at - kAviIndexChunkSize, 4), "ix00");  // the pair lies side by side
    frames += FileLe32(b, 16728 + i * 16 + 12);
    EXPECT_EQ(FileLe32(b, at + 12), FileLe32(b, 16728 + i * 16 + 12));
  }
  EXPECT_EQ(frames, uint32_t(kFrames));
  EXPECT_EQ(FileLe32(b, 48), uint32_t(kFrames));
  if (HaveFfmpeg()) {
    EXPECT_EQ(ProbeFrameCount(file), kFrames);
  }
  int32_t n = 0;
  qmAviReader *r = AviReaderOpen(file.c_str(), nullptr, nullptr, &n);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(n, kFrames);
  for (int i : {0, kFrames - 1, 30, 2}) EXPECT_TRUE(ReadsFrame(r, i, kColours[i % 7]));
  AviReaderClose(r);
}

// Each allocation of a frame failing in turn: the frame is refused and the file closes with
// the frames written before it.
TEST(AviWriter, AFailedFrameLeavesTheFramesBeforeIt) {
  TempDir dir;
  const std::string file = dir / "fail.avi";
  qmAviWriter *w = nullptr;
  ASSERT_EQ(AviCreate(file.c_str(), 5, 1, 24, 16, 80, 0, 0, "fail", nullptr, &w), 0u);
  ASSERT_EQ(WriteFrames(w, 2, 24, 16), 0u);
  int written = 2, failures = 0;
  for (uint64_t n = 1; n < 20; n++) {
    qmBitmap *b = Flat(12, 8, kColours[written % 7]);  // scaled to the writer's size
    SetMemAllocFailure(n);
    const uint32_t code = AviWriteFrame(w, b, 12, 8, 1, 0);
    const bool failed = MemAllocFailureUsed();
    SetMemAllocFailure(0);
    FreeBitmap(b);
    if (!failed) {
      ASSERT_EQ(code, 0u);
      written++;
      break;
    }
    EXPECT_NE(code, 0u) << "allocation " << n;
    failures++;
  }
  EXPECT_GT(failures, 0);
  ASSERT_EQ(AviClose(w), 0u);
  int32_t n = 0;
  qmAviReader *r = AviReaderOpen(file.c_str(), nullptr, nullptr, &n);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(n, written);
  for (int i = 0; i < n; i++) EXPECT_TRUE(ReadsFrame(r, i, kColours[i % 7]));
  AviReaderClose(r);
  if (HaveFfmpeg()) {
    EXPECT_EQ(ProbeFrameCount(file), written);
  }
}

TEST(AviWriter, RefusedCallsAndAnEmptyFile) {
  TempDir dir;
  qmAviWriter *w = nullptr;
  EXPECT_EQ(AviCreate((dir / "a.avi").c_str(), 0, 1, 8, 8, 80, 0, 0, "", nullptr, &w), ERR_WRONGUSAGE);
  EXPECT_EQ(AviCreate((dir / "a.avi").c_str(), 25, 1, 0, 8, 80, 0, 0, "", nullptr, &w), ERR_WRONGUSAGE);
  EXPECT_EQ(AviCreate((dir / "no/such/dir.avi").c_str(), 25, 1, 8, 8, 80, 0, 0, "", nullptr, &w), ERR_WRITEFILE);
  ASSERT_EQ(AviCreate((dir / "empty.avi").c_str(), 25, 1, 8, 8, 80, 0, 0, "", nullptr, &w), 0u);
  EXPECT_EQ(AviWriteFrame(w, nullptr, 0, 0, 1, 0), ERR_WRONGUSAGE);  // nothing to repeat yet
  ASSERT_EQ(AviClose(w), 0u);
  const std::string b = ReadWholeFile(dir / "empty.avi");
  EXPECT_EQ(FileLe32(b, 36), 0u);  // no byte rate without frames
  EXPECT_EQ(FileLe32(b, 48), 0u);
  EXPECT_EQ(AviReaderOpen((dir / "empty.avi").c_str(), nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
