// Hostile numbers in every numeric argument of the anim, sprite, moveobject and video commands,
// through the player's own libraries on one open display (under AddressSanitizer and UBSan in
// the test build): NaN, the infinities and the two ends of the 32-bit range. Each call ends,
// with an error code or with a result; none overruns, overflows or converts out of range.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "layers/moveobject/lib_moveobject.h"
#include "layers/sprite/lib_sprite.h"
#include "media/anim/lib_anim.h"
#include "media/video/lib_video.h"
#include "runtime/errcodes.h"
#include "runtime/library.h"
#include "runtime/objtypes.h"
#include "tests/display/brush/brush_vm.h"
#include "tests/media/videocore/cdxl_fixture.h"
#include "tests/platform/tempdir.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kAllHostile[] = {kNaN, kInf, -kInf, 2147483647.0, -2147483648.0};
// A number a sync command takes as "that long" or "that often" (a frame delay, a count of
// loops) runs as asked: those arguments get only the numbers that are refused.
const double kRefusedOnly[] = {kNaN, kInf, -kInf};

struct Row {
  const char *name;
  std::vector<CmdArg> args;      // a call that works, or fails only for its own reasons
  std::vector<int> numbers;      // the numeric argument positions (from 1) given every value
  std::vector<int> refusedOnly;  // positions given only the refused values
};

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

struct HostileVm : BrushVm {
  TempDir dir;
  std::string gif = dir / "a.gif", out = dir / "out.gif", stream = dir / "stream.gif", clip;
  bool video = false;

  HostileVm() {
    EXPECT_EQ(Call("CreateBrush", {2, 24, 8}).code, 0u);
    EXPECT_EQ(Call("CreateAnim", {1, 2, 8, 8, 3, 3}).code, 0u);
    EXPECT_EQ(Call("SaveAnim", {1, CmdArg::Str(gif.c_str())}).code, 0u);
    if (HaveFfmpeg()) {
      clip = dir / "clip.mkv";
      const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i color=c=red:s=16x12:r=10:d=0.5 -c:v png " + clip;
      video = std::system(cmd.c_str()) == 0 && Call("OpenVideo", {1, CmdArg::Str(clip.c_str())}).code == 0;
    }
  }
  // The objects every row starts from: brush 1, anim 1, sprite 1, anim stream 9, video 1 stopped.
  void Reset() {
    Call("EndSelect", {});
    Call("CreateBrush", {1, 8, 8});
    Call("FreeAnim", {1});
    Call("CreateAnim", {1, 2, 8, 8, 3, 3});
    Call("RemoveSprites", {});
    Call("FreeSprite", {1});
    Call("CreateSprite", {1, int(QMTYPE_BRUSH), 1});
    Call("FinishAnimStream", {9});
    Call("BeginAnimStream", {9, CmdArg::Str(stream.c_str()), 8, 8});
    Call("ForceVideoDriver", {-1});
    if (video) Call("StopVideo", {1});
  }
};

std::set<std::string> Names(const qmLibrary &lib) {
  std::set<std::string> names;
  for (const qmCommandEntry *e = lib.commands; e->name; e++) names.insert(e->name);
  return names;
}

std::string Shown(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return std::to_string(int64_t(v));
}

// Runs every row (the video rows only when withVideo is set and a clip could be made).
void RunRows(bool withVideo) {
  HostileVm vm;
  if (!withVideo) vm.video = false;
  const CmdArg gif = CmdArg::Str(vm.gif.c_str()), out = CmdArg::Str(vm.out.c_str());
  const CmdArg clip = CmdArg::Str(vm.clip.c_str()), nil = CmdArg::Nil();
  const std::vector<Row> rows = {
      // anim
      {"PlayAnim", {1, 0, 0, -1, 1}, {1, 2, 3}, {4, 5}},
      {"FreeAnim", {1}, {1}, {}},
      {"ScaleAnim", {1, 16, 16, 0}, {1, 2, 3, 4}, {}},
      {"PlayAnimDisk", {gif, 0, 0, 0, -1, -1, 1}, {2, 3, 6}, {5, 7}},
      {"LoadAnimFrame", {5, 1, gif}, {1, 2}, {}},
      {"LoadAnim", {5, gif, -1}, {1, 3}, {}},
      {"IsAnim", {gif}, {}, {}},
      {"CreateAnim", {6, 2, 8, 8, 3, 3, 0, 0}, {1, 2, 3, 4, 5, 6, 7, 8}, {}},
      {"CopyAnim", {1, 7}, {1, 2}, {}},
      {"GetAnimFrame", {8, 1, 1}, {1, 2, 3}, {}},
      {"DisplayAnimFrame", {1, 0, 0, 1}, {1, 2, 3, 4}, {}},
      {"ModifyAnimFrames", {1, 1, 0}, {1, 2, 3}, {}},
      {"SelectAnim", {1, 1, 0, 0}, {1, 2, 3, 4}, {}},
      {"SaveAnim", {1, out, 0}, {1, 3}, {}},
      {"BeginAnimStream", {10, out, 8, 8, 0}, {1, 3, 4, 5}, {}},
      {"WriteAnimFrame", {9, 1}, {1, 2}, {}},
      {"FinishAnimStream", {9}, {1}, {}},
      {"SetAnimFrameDelay", {1, 1, 10}, {1, 2, 3}, {}},
      // sprite
      {"CreateSprite", {3, int(QMTYPE_BRUSH), 1}, {1, 2, 3}, {}},
      {"DisplaySprite", {1, 0, 0, 1}, {1, 2, 3, 4}, {}},
      {"RemoveSprite", {1}, {1}, {}},
      {"FreeSprite", {1}, {1}, {}},
      {"LoadSprite", {4, gif}, {1}, {}},
      {"ScaleSprite", {1, 16, 16, 0}, {1, 2, 3, 4}, {}},
      {"CopySprite", {1, 5}, {1, 2}, {}},
      {"FlipSprite", {1, 1}, {1, 2}, {}},
      {"RemoveSprites", {0}, {1}, {}},
      // moveobject: a move runs to its end, so the far ends of the range are tried on the
      // object and speed only
      {"MoveBrush", {1, 0, 0, 8, 8, 5}, {1}, {2, 3, 4, 5, 6}},
      {"MoveAnim", {1, 0, 0, 8, 8, 5, 0}, {1}, {2, 3, 4, 5, 6, 7}},
      {"MoveTextObject", {1, 0, 0, 8, 8, 5}, {1}, {2, 3, 4, 5, 6}},
      {"MoveLayer", {1, 0, 0, 8, 8, 5}, {1}, {2, 3, 4, 5, 6}},
      {"MoveSprite", {1, 0, 0, 8, 8, 5, 0}, {1}, {2, 3, 4, 5, 6, 7}},
      // video
      {"OpenVideo", {2, clip}, {1}, {}},
      {"CloseVideo", {2}, {1}, {}},
      {"PlayVideo", {1, 0, 0}, {1, 2, 3}, {}},
      {"StopVideo", {1}, {1}, {}},
      {"PauseVideo", {1}, {1}, {}},
      {"ResumeVideo", {1}, {1}, {}},
      {"SeekVideo", {1, 100}, {1, 2}, {}},
      {"IsVideo", {clip}, {}, {}},
      {"SetVideoSize", {1, 16, 16, 0}, {1, 2, 3}, {}},  // 4 is a switch: NaN is true
      {"SetVideoPosition", {1, 0, 0}, {1, 2, 3}, {}},
      {"SetVideoVolume", {1, 32}, {1, 2}, {}},
      {"GetVideoFrame", {11, 1, 1, 0, 15}, {1, 2, 3, 4, 5}, {}},
      {"IsVideoPlaying", {1}, {1}, {}},
      {"ForceVideoDriver", {-1}, {1}, {}},
      {"DumpVideo", {1, 0, 0, nil, 0}, {1, 2, 3, 5}, {}},
  };
  // Every command of the four libraries has its row: a new command joins the table.
  std::set<std::string> covered;
  for (const Row &r : rows) covered.insert(r.name);
  for (const qmLibrary *lib : {&kAnimLibrary, &kSpriteLibrary, &kMoveObjectLibrary, &kVideoLibrary})
    for (const std::string &name : Names(*lib)) {
      EXPECT_TRUE(covered.count(name)) << name << " has no row";
    }

  int calls = 0;
  for (const Row &r : rows) {
    const bool needsVideo = std::string(r.name).find("Video") != std::string::npos;
    if (needsVideo && !vm.video) continue;
    for (int pass = 0; pass < 2; pass++) {
      const std::vector<int> &positions = pass ? r.refusedOnly : r.numbers;
      for (int position : positions) {
        for (double v : pass ? std::vector<double>(std::begin(kRefusedOnly), std::end(kRefusedOnly))
                             : std::vector<double>(std::begin(kAllHostile), std::end(kAllHostile))) {
          vm.Reset();
          std::vector<CmdArg> args = r.args;
          args[size_t(position - 1)] = CmdArg(v);
          const uint32_t code = vm.Call(r.name, args).code;
          calls++;
          const std::string what = std::string(r.name) + " argument " + std::to_string(position) + " = " + Shown(v);
          // A refused number names its argument; nothing is taken as an arbitrary integer.
          if (std::isnan(v)) {
            EXPECT_NE(code, 0u) << what;
          }
          EXPECT_TRUE(code == 0 || (code >= ERR_MEM && code <= 1508)) << what << ": " << code;
        }
      }
    }
  }
  EXPECT_GT(calls, withVideo ? 300 : 250);
}

TEST(HostileArguments, EveryNumericArgumentOfTheObjectCommands) { RunRows(false); }

// The video rows, on a clip of 24-bit pictures: FFmpeg's scaler once wrote a byte past each
// picture it converted for the engine, unseen by the sanitizer until a later free stopped on
// the broken block (ASAN_OPTIONS=quarantine_size_mb=1 makes that come sooner).
TEST(HostileArguments, EveryNumericArgumentOfTheVideoCommands) { RunRows(true); }

}  // namespace

namespace {

// Sizes that no machine holds are refused at once, before anything is allocated: the test
// build's allocator would stop the program on a request that large.
TEST(HostileArguments, SizesBeyondMemoryAreRefusedBeforeAllocating) {
  HostileVm vm;
  const struct {
    const char *name;
    std::vector<CmdArg> args;
  } cases[] = {
      {"ModifyAnimFrames", {1, 2147483000.0}},
      {"ScaleAnim", {1, 2000000, 2000000}},
  };
  for (const auto &c : cases) {
    vm.Reset();
    EXPECT_EQ(vm.Call(c.name, c.args).code, uint32_t(ERR_MEM)) << c.name;
  }
  // The anim is as it was.
  EXPECT_EQ(vm.Call("DisplayAnimFrame", {1, 0, 0, 3}).code, 0u);
}

// A disk that fills up: a small memory file system with 4 KiB left (made where the test may
// mount one, skipped elsewhere). The command reports the failed write and no file of its own
// stays behind.
struct SmallDisk {
  std::string path;
  bool mounted = false;
  explicit SmallDisk(const std::string &where) : path(where) {
    mkdir(path.c_str(), 0700);
    const std::string cmd = "mount -t tmpfs -o size=256k tmpfs '" + path + "' 2>/dev/null";
    mounted = std::system(cmd.c_str()) == 0;
    if (!mounted) return;
    struct statvfs fs;
    if (statvfs(path.c_str(), &fs) != 0) return;
    const uint64_t room = uint64_t(fs.f_bavail) * fs.f_frsize;
    std::FILE *f = std::fopen((path + "/filler").c_str(), "wb");
    std::vector<char> block(room > 4096 ? room - 4096 : 0, 'x');
    if (f) std::fwrite(block.data(), 1, block.size(), f), std::fclose(f);
  }
  ~SmallDisk() {
    if (mounted) std::system(("umount '" + path + "'").c_str());
    rmdir(path.c_str());
  }
};

TEST(HostileArguments, FailedWritesLeaveNoPartialFiles) {
  HostileVm vm;
  SmallDisk disk(vm.dir / "disk");
  if (!disk.mounted) GTEST_SKIP() << "no memory file system can be mounted here";
  // Noise compresses to nothing less than its size: every file below outgrows the room left.
  std::vector<uint32_t> noise(64 * 192);
  uint32_t seed = 7;
  for (uint32_t &p : noise) p = (seed = seed * 1103515245u + 12345u) >> 8;
  ASSERT_EQ(vm.FromArray(3, noise, 64, 192).code, 0u);
  ASSERT_EQ(vm.Call("CreateAnim", {13, 3, 64, 64, 3, 1}).code, 0u);
  struct Case {
    const char *what;
    std::function<uint32_t(const char *)> write;
  };
  const std::vector<Case> cases = {
      {"SaveAnim GIF", [&](const char *f) { return vm.Call("SaveAnim", {13, CmdArg::Str(f), 0}).code; }},
      {"SaveAnim AVI", [&](const char *f) { return vm.Call("SaveAnim", {13, CmdArg::Str(f), 1}).code; }},
      {"anim stream",
       [&](const char *f) {
         uint32_t code = vm.Call("BeginAnimStream", {12, CmdArg::Str(f), 64, 64}).code;
         for (int i = 0; i < 3 && !code; i++) code = vm.Call("WriteAnimFrame", {12, 3}).code;
         const uint32_t closed = vm.Call("FinishAnimStream", {12}).code;
         return code ? code : closed;
       }},
      {"SaveBrush BMP", [&](const char *f) { return vm.Call("SaveBrush", {3, CmdArg::Str(f), -1, 0}).code; }},
      {"SaveBrush PNG", [&](const char *f) { return vm.Call("SaveBrush", {3, CmdArg::Str(f), -1, 1}).code; }},
      {"SaveBrush JPEG", [&](const char *f) { return vm.Call("SaveBrush", {3, CmdArg::Str(f), -1, 2}).code; }},
      {"SaveBrush GIF", [&](const char *f) { return vm.Call("SaveBrush", {3, CmdArg::Str(f), -1, 3}).code; }},
      {"SaveBrush ILBM", [&](const char *f) { return vm.Call("SaveBrush", {3, CmdArg::Str(f), -1, 4}).code; }},
  };
  for (const Case &c : cases) {
    vm.Reset();
    const std::string file = disk.path + "/out";
    const uint32_t code = c.write(file.c_str());
    EXPECT_TRUE(code == ERR_WRITEFILE || code == ERR_WRITE) << c.what << ": " << code;
    EXPECT_NE(access(file.c_str(), F_OK), 0) << c.what << " left its file";
    unlink(file.c_str());
  }
  // DumpVideo of a clip of the own engine with sound: its sound track outgrows the room.
  CdxlFixture fx;
  fx.width = 32, fx.height = 8, fx.frames = 8, fx.soundSize = 2000;
  fx.index = [](int f, int x, int y) { return (x / 3 + y * 2 + f) % 4; };
  const std::string clip = vm.dir / "clip.cdxl", base = disk.path + "/dump";
  WriteFile(clip, fx.File());
  ASSERT_EQ(vm.Call("OpenVideo", {2, CmdArg::Str(clip.c_str())}).code, 0u);
  const uint32_t code = vm.Call("DumpVideo", {2, 0, 0, CmdArg::Str(base.c_str()), 0}).code;
  EXPECT_TRUE(code == ERR_WRITEFILE || code == ERR_WRITE) << code;
  EXPECT_NE(access((base + ".wav").c_str(), F_OK), 0) << "DumpVideo left its sound track";
}

}  // namespace
