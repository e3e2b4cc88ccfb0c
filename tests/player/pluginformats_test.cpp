// The formats of loaded plug-ins as the readers and writers see them: the anim loader's hook,
// the savers found by format number, and sound streams decoded by a plug-in, over the test
// plug-ins tpic.qmp, tpic8.qmp, tanm.qmp, tanm8.qmp, tsnd.qmp and tvid.qmp loaded in this process.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/image/imageload.h"
#include "media/sound/sound_stream.h"
#include "platform/memory.h"
#include "player/pluginmanager.h"
#include "runtime/errcodes.h"
#include "runtime/formatplugins.h"
#include "tests/platform/tempdir.h"
#include "tests/player/player_vm.h"
#include "tools/appletwriter.h"

namespace {

void PutLe(std::vector<uint8_t> &out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// The plug-ins loaded from a folder of their own, unloaded at the end.
struct FormatPlugins : testing::Test {
  TempDir dir;
  const qmFormatPlugins *formats = GetFormatPlugins();
  void SetUp() override {
    for (const char *p : {"tpic.qmp", "tpic8.qmp", "tanm.qmp", "tanm8.qmp", "tsnd.qmp", "tvid.qmp"})
      std::filesystem::copy_file(std::string(QM_TEST_PLUGIN_DIR) + "/" + p, dir / p);
    ScanPluginDirectory((dir / "player").c_str(), nullptr);
  }
  void TearDown() override { FreePlugins(); }
  std::string Write(const std::string &name, const std::vector<uint8_t> &bytes) {
    qmtools::WriteBytes(dir / name, bytes);
    return dir / name;
  }
  // A TSND file (tsnd.cpp's layout) of frames x channels x bits, byte i of the data i * 7.
  std::string Tsnd(const std::string &name, uint32_t channels, uint32_t bits, uint32_t flags, uint32_t frames) {
    std::vector<uint8_t> out = {'T', 'S', 'N', 'D'};
    PutLe(out, 8000, 4);
    out.push_back(uint8_t(channels));
    out.push_back(uint8_t(bits));
    out.push_back(uint8_t(flags));
    PutLe(out, frames, 4);
    for (uint32_t i = 0; i < frames * channels * bits / 8; i++) out.push_back(uint8_t(i * 7));
    return Write(name, out);
  }
};

}  // namespace

TEST_F(FormatPlugins, AnimLoaderGivesFramesAndDelays) {
  // Two frames of 2 x 1 with alpha.
  std::vector<uint8_t> file = {'T', 'P', 'I', 'C', 2, 0, 1, 0, 1};
  for (uint32_t p : {0x11223344u, 0x55667788u, 0x99AABBCCu, 0xDDEEFF00u}) PutLe(file, p, 4);
  const std::string anim = Write("two.tpic", file);
  uint32_t info[ANIMINFO_WORDS];
  qmPluginDecoder decoder{};
  ASSERT_EQ(formats->openAnim(anim.c_str(), info, &decoder), 1);
  EXPECT_EQ(info[ANIMINFO_WIDTH], 2u);
  EXPECT_EQ(info[ANIMINFO_HEIGHT], 1u);
  EXPECT_EQ(info[ANIMINFO_FRAMES], 2u);
  EXPECT_EQ(info[ANIMINFO_ALPHA], 1u);
  const uint32_t *frame = formats->loadFrame(&decoder, 1);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame[0], 0x99AABBCCu);
  EXPECT_EQ(frame[1], 0xDDEEFF00u);
  formats->freeFrame(&decoder, frame);
  EXPECT_EQ(formats->loadFrame(&decoder, 2), nullptr);
  EXPECT_EQ(formats->frameDelay(&decoder, 0), 40);
  EXPECT_EQ(formats->frameDelay(&decoder, 1), 80);
  formats->closeAnim(&decoder);
  // A file no anim loader takes.
  EXPECT_EQ(formats->openAnim(Write("x.bin", {1, 2, 3}).c_str(), info, &decoder), 0);
}

TEST_F(FormatPlugins, SaversAreFoundByFormatNumber) {
  // Savers tell their format numbers when the plug-ins' features are registered.
  PlayerVm vm;
  ASSERT_EQ(RegisterAllPlugins(vm.L), 0u);
  EXPECT_EQ(formats->imageSaverFlags(40), int32_t(SAVERFLAG_ARGB | SAVERFLAG_ALPHA));
  EXPECT_EQ(formats->imageSaverFlags(41), 0);
  EXPECT_EQ(formats->imageSaverFlags(60), -1);  // a sample format, not a picture one
  EXPECT_EQ(formats->imageSaverFlags(7), -1);
  const qmImageSaveRequest picture = {};
  EXPECT_EQ(formats->saveImage(7, (dir / "x").c_str(), &picture), uint32_t(ERR_UNKNOWNIMGOUT));
  const qmSampleSaveRequest sample = {};
  EXPECT_EQ(formats->saveSample(40, (dir / "x").c_str(), &sample), uint32_t(ERR_UNKNOWNSMPOUT));
  EXPECT_EQ(formats->animSaverFlags(50), int32_t(SAVERFLAG_ARGB | SAVERFLAG_ALPHA));
  EXPECT_EQ(formats->animSaverFlags(51), 0);
  EXPECT_EQ(formats->animSaverFlags(40), -1);  // a picture format, not an anim one
  qmPluginDecoder stream{};
  EXPECT_EQ(formats->beginAnimSave(40, (dir / "x").c_str(), 1, 1, 0, 90, 25, &stream), uint32_t(ERR_UNKNOWNANMOUT));
}

// An anim saver's stream: begun with its flags, frames written as handed over, finished.
TEST_F(FormatPlugins, AnimSaverStream) {
  PlayerVm vm;
  ASSERT_EQ(RegisterAllPlugins(vm.L), 0u);
  const std::string name = dir / "out.tanm";
  qmPluginDecoder stream{};
  ASSERT_EQ(formats->beginAnimSave(50, name.c_str(), 2, 1, ANIMSAVE_ALPHA, 90, 25, &stream), 0u);
  const uint32_t pixels[2] = {0x80112233u, 0x00445566u};
  const qmAnimSaveFrame frame = {pixels, nullptr, 8, 0, -1, 300, ANIMSAVEFRAME_ALPHA};
  EXPECT_EQ(formats->writeAnimSaveFrame(&stream, &frame), 0u);
  formats->finishAnimSave(&stream);
  std::vector<uint8_t> want = {'T', 'A', 'N', 'M', 2, 0, 1, 0, ANIMSAVE_ALPHA};
  PutLe(want, 300, 2);
  for (uint32_t p : pixels) PutLe(want, p, 4);
  std::ifstream in(name, std::ios::binary);
  const std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, want);
  // A saver that cannot open its file refuses the stream.
  EXPECT_EQ(formats->beginAnimSave(50, (dir / "no/such/dir/x").c_str(), 2, 1, 0, 90, 25, &stream),
            uint32_t(ERR_SAVEANIM));
}

TEST_F(FormatPlugins, PictureLoaderRowsAndAlpha) {
  // 3 x 2; the plug-in's rows are wider than the picture.
  std::vector<uint8_t> file = {'T', 'P', 'I', 'C', 3, 0, 2, 0, 3};
  for (uint32_t i = 0; i < 6; i++) PutLe(file, 0x01000000u * (i + 1) + i, 4);
  const std::string pic = Write("p.tpic", file);
  uint32_t *pixels = nullptr;
  int32_t w = 0, h = 0, alpha = 0, forced = 0;
  ASSERT_EQ(LoadImageWithPlugins(formats, pic.c_str(), nullptr, -1, 0, &pixels, nullptr, nullptr, &w, &h, &alpha,
                                 {&forced, nullptr}),
            0u);
  EXPECT_EQ(std::vector<int32_t>({w, h, alpha, forced}), std::vector<int32_t>({3, 2, 1, 1}));
  for (uint32_t i = 0; i < 6; i++) EXPECT_EQ(pixels[i], 0x01000000u * (i + 1) + i) << i;
  MemFree(pixels);
  // A broken file of the format goes on to the player's own reader, which knows it not.
  const std::string broken = Write("b.tpic", {'T', 'P', 'I', 'C', 3, 0, 2, 0, 3, 1, 2});
  EXPECT_EQ(LoadImageWithPlugins(formats, broken.c_str(), nullptr, -1, 0, &pixels, nullptr, nullptr, &w, &h, &alpha),
            uint32_t(ERR_LOADPICTURE2));
}

TEST_F(FormatPlugins, SoundStreamsOfADecoder) {
  struct Case {
    const char *name;
    uint32_t channels, bits, flags;
    uint32_t open;   // OpenSoundStream's answer
    uint32_t whole;  // LoadSoundWhole's
    int32_t format;
  } cases[] = {
      {"mono 8-bit unsigned", 1, 8, 0, 0, 0, SMPFMT_MONO8U},
      {"stereo 8-bit signed", 2, 8, 2, 0, 0, SMPFMT_STEREO8},
      {"stereo 16-bit", 2, 16, 2, 0, 0, SMPFMT_STEREO16},
      {"24-bit", 1, 24, 2, 0, ERR_8OR16BITONLY, -1},
      {"a frame beyond any layout", 200, 16, 2, ERR_OPENSOUND2, ERR_OPENSOUND2, -1},
  };
  for (const Case &c : cases) {
    const std::string file = Tsnd("s.tsnd", c.channels, c.bits, c.flags, 50);
    qmSound *s = nullptr;
    ASSERT_EQ(OpenSoundStream(file.c_str(), 0, &s, formats), c.open) << c.name;
    qmSampleData *d = nullptr;
    EXPECT_EQ(LoadSoundWhole(file.c_str(), &d, formats), c.whole) << c.name;
    FreeSampleData(d);
    if (c.open) continue;
    EXPECT_EQ(s->kind, int32_t(SNDKIND_PLUGIN)) << c.name;
    EXPECT_EQ(s->format, c.format) << c.name;
    EXPECT_EQ(s->frames, 50u) << c.name;
    EXPECT_STREQ(SoundStreamName(s), "Test sound") << c.name;
    // Frames read in two parts, then again from a seek.
    const uint32_t frameBytes = c.channels * c.bits / 8;
    std::vector<uint8_t> buffer(50 * frameBytes);
    int end = 0;
    EXPECT_EQ(ReadSoundFrames(s, buffer.data(), 20, &end), 20u) << c.name;
    EXPECT_EQ(end, 0) << c.name;
    EXPECT_EQ(ReadSoundFrames(s, buffer.data() + 20 * frameBytes, 100, &end), 30u) << c.name;
    EXPECT_EQ(end, 1) << c.name;
    for (uint32_t i = 0; i < buffer.size(); i++) ASSERT_EQ(buffer[i], uint8_t(i * 7)) << c.name << " byte " << i;
    SeekSoundStream(s, 45);
    uint8_t last[8] = {};
    ASSERT_EQ(ReadSoundFrames(s, last, 1, &end), 1u) << c.name;
    EXPECT_EQ(last[0], uint8_t(45 * frameBytes * 7)) << c.name;
    CloseSoundStream(s);
  }
  // Without plug-ins the file is no sound the player reads.
  qmSound *s = nullptr;
  EXPECT_NE(OpenSoundStream(Tsnd("t.tsnd", 1, 8, 0, 5).c_str(), 0, &s, nullptr), 0u);
}

// The video reader's hook: a decoder plug-in that takes the file fills the zeroed record.
TEST_F(FormatPlugins, VideoDecoderTakesItsFiles) {
  uint32_t info[12];  // the video engine's record of a video, 48 bytes
  std::memset(info, 0xAB, sizeof info);
  qmPluginDecoder decoder{};
  ASSERT_EQ(formats->openVideo(Write("v.tvid", {'T', 'V', 'I', 'D', 0x40, 1, 0xF0, 0}).c_str(), info, sizeof info,
                               &decoder),
            1);
  EXPECT_EQ(info[0], 320u);
  EXPECT_EQ(info[1], 240u);
  EXPECT_EQ(info[2], 0u);  // cleared before the plug-in saw it
  formats->closeVideo(&decoder);
  EXPECT_EQ(formats->openVideo(Write("v.bin", {'T', 'P', 'I', 'C'}).c_str(), info, sizeof info, &decoder), 0);
}
