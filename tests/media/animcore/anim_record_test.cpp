// Anim records in a bare object registry and scene, with no VM: look-ups and their errors,
// frame-count changes, frees while a layer shows the anim, disk-based frames decoded through a
// stand-in anim-loader plug-in, copies and scaling, and saving through a stand-in saver plug-in.
#include "media/animcore/anim.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "display/brush.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/alpha_kernels.h"
#include "graphics/blit.h"
#include "media/animcore/animfile.h"
#include "media/animcore/animsave.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/formatplugins.h"
#include "runtime/objlist.h"
#include "runtime/objtypes.h"
#include "tests/platform/tempdir.h"

namespace {

// The colour frame i of a test anim is filled with.
uint32_t FrameColour(int i) { return 0x101010u * uint32_t(i + 1); }

// One layer, as the anim side sees layers: it shows the object whose id it holds.
struct FakeLayer {
  bool present = false;
  qmObjectId shows{};
};
FakeLayer gLayer;

int32_t RebindFakeLayer(qmScene *, int32_t type, const qmObjectId *from, const qmObjectId *to) {
  if (!gLayer.present || type != QMTYPE_ANIM || gLayer.shows.id != from->id || gLayer.shows.handle != from->handle)
    return 0;
  gLayer.shows = *to;
  return 1;
}

struct AnimScene {
  qmObjectRegistry *objects = nullptr;
  qmScene *scene = nullptr;
  qmLayerHooks hooks{};
  AnimScene() {
    EXPECT_EQ(NewObjectRegistry(nullptr, &objects), 0u);
    EXPECT_EQ(NewScene(objects, &scene), 0u);
    hooks.rebindObject = RebindFakeLayer;
    scene->layerHooks = &hooks;
    gLayer = {};
  }
  ~AnimScene() {
    SetMemAllocFailure(0);
    FreeAllAnims(objects);
    FreeScene(scene);
    FreeObjectRegistry(objects);
  }
  // An in-memory anim of n frames, frame i filled with FrameColour(i), delays 10 x (i + 1).
  qmAnim *Add(qmObjectId id, int n, bool withMask = false, int w = 4, int h = 3) {
    auto **b = static_cast<qmBitmap **>(MemAlloc(uint32_t(n) * 8, 1));
    auto **m = static_cast<qmMask **>(MemAlloc(uint32_t(n) * 8, 1));
    auto **a = static_cast<qmAlphaChannel **>(MemAlloc(uint32_t(n) * 8, 1));
    auto **r = static_cast<uint32_t **>(MemAlloc(uint32_t(n) * 8, 1));
    for (int i = 0; i < n; i++) {
      b[i] = AllocBitmap(w, h);
      FillBitmapRect(b[i], 0, 0, w, h, FrameColour(i));
      if (withMask) {
        // Visible but for pixel (1, 1).
        m[i] = AllocMask(w, h, 0);
        FillMaskRect(m[i], 0, 0, w, h, MASKVISIBLE);
        SetBitmapPixel(m[i], 1, 1, MASKINVISIBLE, 1);
      }
    }
    qmAnim *anim = nullptr;
    EXPECT_EQ(NewAnimRecord(objects, &id, w, h, r, b, m, a, n, kNoTransparentColor, 0, 0, &anim), 0u);
    anim->delays = static_cast<uint32_t *>(MemAlloc(uint32_t(n) * 4, 0));
    for (int i = 0; i < n; i++) anim->delays[i] = uint32_t(10 * (i + 1));
    return anim;
  }
  qmAnim *Find(qmObjectId id, int32_t flags = FINDANIM_FREED) {
    qmAnim *a = nullptr;
    return FindAnim(scene, &id, &a, flags) ? nullptr : a;
  }
};

// The colours of an in-memory anim's frames, read at pixel (0, 0).
std::vector<uint32_t> Colours(qmAnim *a) {
  std::vector<uint32_t> out;
  for (int i = 0; i < a->frameCount; i++) out.push_back(GetBitmapPixel(a->bitmaps[i], 0, 0, 0));
  return out;
}

std::vector<uint32_t> Delays(const qmAnim *a) {
  std::vector<uint32_t> out;
  for (int i = 0; i < a->frameCount; i++) out.push_back(GetAnimFrameDelay(a, i));
  return out;
}

TEST(AnimRecord, LookupErrorsNameTheNumber) {
  AnimScene s;
  s.Add({1, 0}, 2);
  qmAnim *locked = s.Add({2, 0}, 2);
  locked->lockCount = 1;
  qmAnim *freed = s.Add({3, 0}, 2);
  freed->freed = 1;
  struct Case {
    const char *name;
    qmObjectId id;
    int32_t flags;
    uint32_t expected;
    const char *message;  // the formatted message when not null
  } cases[] = {
      {"found", {1, 0}, 0, 0, nullptr},
      {"missing number", {7, 0}, 0, ERR_FINDANIM, "Could not find anim 7!"},
      {"missing automatic id", {0, 0x1234}, 0, ERR_FINDARRAY, nullptr},
      {"locked to read", {2, 0}, 0, 0, nullptr},
      {"locked to change", {2, 0}, FINDANIM_MODIFY, ERR_LOCKEDOBJ, nullptr},
      {"freed looks missing", {3, 0}, 0, ERR_FINDANIM, "Could not find anim 3!"},
      {"freed for layers", {3, 0}, FINDANIM_FREED, 0, nullptr},
  };
  for (const Case &c : cases) {
    SetErrorArgument("-");
    qmAnim *a = nullptr;
    EXPECT_EQ(FindAnim(s.scene, &c.id, &a, c.flags), c.expected) << c.name;
    if (c.message) {
      char text[256];
      EXPECT_STREQ(FormatErrorMessage(c.expected, text, sizeof text), c.message) << c.name;
    }
  }
}

TEST(AnimRecord, FrameCountChanges) {
  const uint32_t k0 = FrameColour(0), k1 = FrameColour(1), k2 = FrameColour(2), k3 = FrameColour(3),
                 k4 = FrameColour(4);
  struct Case {
    const char *name;
    int32_t count, position;
    uint32_t expected;
    std::vector<uint32_t> colours;  // the frames afterwards (0: a new blank frame)
    std::vector<uint32_t> delays;
  } cases[] = {
      {"append three", 3, 0, 0, {k0, k1, k2, k3, k4, 0, 0, 0}, {10, 20, 30, 40, 50, 0, 0, 0}},
      {"insert before the first", 1, 1, 0, {0, k0, k1, k2, k3, k4}, {0, 10, 20, 30, 40, 50}},
      {"insert in the middle", 2, 3, 0, {k0, k1, 0, 0, k2, k3, k4}, {10, 20, 0, 0, 30, 40, 50}},
      {"insert right after the last", 1, 6, 0, {k0, k1, k2, k3, k4, 0}, {10, 20, 30, 40, 50, 0}},
      {"insert beyond the end", 1, 7, ERR_WRONGUSAGE, {k0, k1, k2, k3, k4}, {10, 20, 30, 40, 50}},
      {"remove the last two", -2, 0, 0, {k0, k1, k2}, {10, 20, 30}},
      {"remove at 4", -2, 4, 0, {k0, k1, k2}, {10, 20, 30}},
      {"remove at 2", -2, 2, 0, {k0, k3, k4}, {10, 40, 50}},
      {"remove past the end", -2, 5, ERR_WRONGUSAGE, {k0, k1, k2, k3, k4}, {10, 20, 30, 40, 50}},
      {"remove all but one", -4, 1, 0, {k4}, {50}},
      {"remove every frame", -5, 0, ERR_WRONGUSAGE, {k0, k1, k2, k3, k4}, {10, 20, 30, 40, 50}},
      {"count 0", 0, 0, ERR_WRONGUSAGE, {k0, k1, k2, k3, k4}, {10, 20, 30, 40, 50}},
      {"negative position", 1, -1, ERR_WRONGUSAGE, {k0, k1, k2, k3, k4}, {10, 20, 30, 40, 50}},
  };
  for (const Case &c : cases) {
    AnimScene s;
    qmAnim *a = s.Add({1, 0}, 5);
    const qmObjectId id{1, 0};
    EXPECT_EQ(ChangeAnimFrameCount(s.scene, &id, c.count, c.position, 0), c.expected) << c.name;
    EXPECT_EQ(a->frameCount, int32_t(c.colours.size())) << c.name;
    EXPECT_EQ(Colours(a), c.colours) << c.name;
    EXPECT_EQ(Delays(a), c.delays) << c.name;
    for (int i = 0; i < a->frameCount; i++) {
      EXPECT_EQ(a->bitmaps[i]->width, 4) << c.name;
      EXPECT_EQ(a->masks[i], nullptr) << c.name;
    }
  }
}

// New frames are opaque: they get a full mask when the first frame has a mask.
TEST(AnimRecord, InsertedFramesAreOpaque) {
  AnimScene s;
  qmAnim *a = s.Add({1, 0}, 2, true);
  const qmObjectId id{1, 0};
  ASSERT_EQ(ChangeAnimFrameCount(s.scene, &id, 1, 2, 0), 0u);
  ASSERT_NE(a->masks[1], nullptr);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(GetBitmapPixel(a->masks[1], x, y, 1), 1u) << x << "," << y;
  EXPECT_EQ(a->delays[1], kAnimDelayUnset);
}

TEST(AnimRecord, FrameCountChangeRefusals) {
  AnimScene s;
  s.Add({1, 0}, 3)->lockCount = 1;
  s.Add({2, 0}, 3)->freed = 1;
  qmObjectId diskId{3, 0};
  qmAnim *disk = nullptr;
  ASSERT_EQ(NewAnimRecord(s.objects, &diskId, 4, 3, nullptr, nullptr, nullptr, nullptr, 3, kNoTransparentColor, 0, 1,
                          &disk),
            0u);
  struct Case {
    const char *name;
    uint32_t id;
    int32_t layerCall;
    uint32_t expected;
  } cases[] = {
      {"locked", 1, 0, ERR_LOCKEDOBJ},
      {"locked, from the layers", 1, 1, 0},
      {"freed", 2, 0, ERR_FINDANIM},
      {"freed, from the layers", 2, 1, 0},
      {"disk-based", 3, 0, ERR_ANIMDISK},
      {"missing", 4, 0, ERR_FINDANIM},
  };
  for (const Case &c : cases) {
    const qmObjectId id{c.id, 0};
    EXPECT_EQ(ChangeAnimFrameCount(s.scene, &id, 1, 0, c.layerCall), c.expected) << c.name;
  }
}

// Every allocation of a change may fail: the anim stays as it was.
TEST(AnimRecord, FailedChangesLeaveTheAnim) {
  for (int32_t count : {2, -2}) {
    for (uint64_t n = 1;; n++) {
      AnimScene s;
      qmAnim *a = s.Add({1, 0}, 4, true);
      const std::vector<uint32_t> before = Colours(a);
      const qmObjectId id{1, 0};
      SetMemAllocFailure(n);
      const uint32_t code = ChangeAnimFrameCount(s.scene, &id, count, 2, 0);
      const bool used = MemAllocFailureUsed();
      SetMemAllocFailure(0);
      if (!used) {
        EXPECT_EQ(code, 0u);
        break;
      }
      EXPECT_EQ(code, ERR_MEM) << count << " " << n;
      EXPECT_EQ(Colours(a), before) << count << " " << n;
      EXPECT_EQ(a->frameCount, 4);
    }
  }
}

TEST(AnimRecord, FreedWhileALayerShowsIt) {
  AnimScene s;
  qmAnim *a = s.Add({5, 0}, 2);
  gLayer = {true, {5, 0}};
  const qmObjectId id{5, 0};
  ASSERT_EQ(DeleteAnim(s.scene, &id, 1), 0u);
  // The record lives on under its own address; the layer follows it and the number is free.
  EXPECT_EQ(s.Find({5, 0}), nullptr);
  EXPECT_EQ(a->freed, 1u);
  EXPECT_EQ(a->header.id, 0u);
  EXPECT_EQ(a->header.handle, reinterpret_cast<uintptr_t>(a));
  EXPECT_EQ(gLayer.shows.handle, reinterpret_cast<uintptr_t>(a));
  EXPECT_EQ(s.Find(gLayer.shows), a);
  qmBitmap *b = nullptr;
  EXPECT_EQ(FetchAnimFrame(a, 1, 0, 0, &b, nullptr, nullptr), 0u);
  EXPECT_EQ(GetBitmapPixel(b, 0, 0, 0), FrameColour(1));
  // A new anim may take the number at once.
  s.Add({5, 0}, 1);
  PurgeFreedAnims(s.scene);
  EXPECT_EQ(s.Find(gLayer.shows), a);
  gLayer.present = false;
  PurgeFreedAnims(s.scene);
  EXPECT_EQ(CountObjectsOfType(s.objects, QMTYPE_ANIM), 1u);
  EXPECT_NE(s.Find({5, 0}), nullptr);
}

TEST(AnimRecord, DeleteRefusals) {
  AnimScene s;
  s.Add({1, 0}, 2)->lockCount = 1;
  struct Case {
    const char *name;
    uint32_t id;
    int32_t report;
    uint32_t expected;
  } cases[] = {
      {"locked", 1, 1, ERR_LOCKEDOBJ},
      {"missing, reported", 2, 1, ERR_FINDANIM},
      {"missing, quiet", 2, 0, 0},
  };
  for (const Case &c : cases) {
    const qmObjectId id{c.id, 0};
    EXPECT_EQ(DeleteAnim(s.scene, &id, c.report), c.expected) << c.name;
  }
  EXPECT_EQ(CountObjectsOfType(s.objects, QMTYPE_ANIM), 1u);
}

// Changing an anim that a layer shows gives the layer a copy of its own first.
TEST(AnimRecord, ChangesLeaveLayersTheirCopy) {
  AnimScene s;
  qmAnim *a = s.Add({1, 0}, 3);
  gLayer = {true, {1, 0}};
  const qmObjectId id{1, 0};
  ASSERT_EQ(ChangeAnimFrameCount(s.scene, &id, -1, 0, 0), 0u);
  EXPECT_EQ(a->frameCount, 2);
  qmAnim *copy = s.Find(gLayer.shows);
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy, a);
  EXPECT_EQ(copy->freed, 1u);
  EXPECT_EQ(Colours(copy), (std::vector<uint32_t>{FrameColour(0), FrameColour(1), FrameColour(2)}));
  EXPECT_EQ(Delays(copy), (std::vector<uint32_t>{10, 20, 30}));
  gLayer.present = false;
  PurgeFreedAnims(s.scene);
  EXPECT_EQ(CountObjectsOfType(s.objects, QMTYPE_ANIM), 1u);
}

// A stand-in anim-loader plug-in: 3 frames of 6 x 4, pixel (x, y) of frame i is
// 0x80000000 | i << 16 | y << 8 | x; frame i waits 100 x (i + 1) ms.
constexpr int kDiskW = 6, kDiskH = 4, kDiskFrames = 3;
int gOpenFiles = 0, gFramesOut = 0;

uint32_t DiskPixel(int i, int x, int y) { return 0x80000000u | uint32_t(i) << 16 | uint32_t(y) << 8 | uint32_t(x); }

int OpenDisk(const char *name, uint32_t info[ANIMINFO_WORDS], qmPluginDecoder *d) {
  if (!std::strstr(name, "anim_record_fixture")) return 0;
  info[ANIMINFO_WIDTH] = kDiskW, info[ANIMINFO_HEIGHT] = kDiskH, info[ANIMINFO_FRAMES] = kDiskFrames;
  info[ANIMINFO_ALPHA] = 1;
  d->plugin = &gOpenFiles;
  d->handle = &gOpenFiles;
  gOpenFiles++;
  return 1;
}
const uint32_t *LoadDiskFrame(const qmPluginDecoder *, int32_t index) {
  if (index < 0 || index >= kDiskFrames) return nullptr;
  auto *px = new uint32_t[kDiskW * kDiskH];
  for (int y = 0; y < kDiskH; y++)
    for (int x = 0; x < kDiskW; x++) px[y * kDiskW + x] = DiskPixel(index, x, y);
  gFramesOut++;
  return px;
}
void FreeDiskFrame(const qmPluginDecoder *, const uint32_t *px) {
  gFramesOut--;
  delete[] px;
}
int32_t DiskDelay(const qmPluginDecoder *, int32_t index) { return 100 * (index + 1); }
void CloseDisk(const qmPluginDecoder *) { gOpenFiles--; }

struct DiskAnim {
  AnimScene s;
  qmFormatPlugins plugins{};
  TempDir dir;  // of its own: copies of the test program may run side by side
  std::string path = dir / "anim_record_fixture.bin";
  qmAnim *anim = nullptr;
  DiskAnim() {
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fputs("not a picture", f);
    std::fclose(f);
    plugins.openAnim = OpenDisk;
    plugins.loadFrame = LoadDiskFrame;
    plugins.freeFrame = FreeDiskFrame;
    plugins.frameDelay = DiskDelay;
    plugins.closeAnim = CloseDisk;
    qmAnimFile *file = nullptr;
    int32_t w = 0, h = 0, n = 0;
    uint32_t alpha = 0;
    EXPECT_EQ(ProbeAnimFile(path.c_str(), &plugins, &file, &w, &h, &n, &alpha), 0u);
    qmObjectId id{1, 0};
    EXPECT_EQ(NewAnimRecord(s.objects, &id, w, h, nullptr, nullptr, nullptr, nullptr, n, kNoTransparentColor, alpha,
                            1, &anim),
              0u);
    anim->animFile = file;
    anim->fileName = static_cast<char *>(MemAlloc(uint32_t(path.size() + 1), 0));
    std::memcpy(anim->fileName, path.c_str(), path.size() + 1);
    anim->delays = static_cast<uint32_t *>(MemAlloc(n * 4, 0));
    std::memset(anim->delays, 0xFF, size_t(n) * 4);
  }
  ~DiskAnim() {
    FreeAllAnims(s.objects);
    EXPECT_EQ(gOpenFiles, 0);
    EXPECT_EQ(gFramesOut, 0);
  }
};

// The frame is decoded at its native size; the pixels' top bytes make its alpha channel.
void ExpectDiskFrame(int index, const qmBitmap *b, const qmAlphaChannel *a) {
  ASSERT_EQ(b->width, kDiskW);
  ASSERT_EQ(b->height, kDiskH);
  ASSERT_NE(a, nullptr);
  for (int y = 0; y < kDiskH; y++)
    for (int x = 0; x < kDiskW; x++) {
      EXPECT_EQ(GetBitmapPixel(b, x, y, 0), DiskPixel(index, x, y) & 0xFFFFFF) << x << "," << y;
      EXPECT_EQ(a->memory[y * a->bytesPerRow + x], 0x80) << x << "," << y;
    }
}

TEST(AnimRecord, DiskFramesAndDelays) {
  DiskAnim d;
  qmBitmap *b = nullptr;
  qmMask *m = nullptr;
  qmAlphaChannel *a = nullptr;
  ASSERT_EQ(FetchAnimFrame(d.anim, 2, 0, 0, &b, &m, &a), 0u);
  ExpectDiskFrame(2, b, a);
  FreePlanes(b, m, a);
  EXPECT_EQ(FetchAnimFrame(d.anim, 3, 0, 0, &b, &m, &a), ERR_ANIMFRAME);
  EXPECT_EQ(Delays(d.anim), (std::vector<uint32_t>{100, 200, 300}));
  d.anim->delays[1] = 7;
  EXPECT_EQ(Delays(d.anim), (std::vector<uint32_t>{100, 7, 300}));
}

// A scaled disk anim decodes at the native size and scales on fetch; a copy made after the
// scaling reopens the file and decodes alike.
TEST(AnimRecord, ScaledDiskFetches) {
  DiskAnim d;
  ASSERT_EQ(ScaleAnimFrames(d.anim, 12, 2, 0), 0u);
  qmObjectId copyId{2, 0};
  qmAnim *copy = nullptr;
  ASSERT_EQ(CopyAnimRecord(d.s.objects, d.anim, &copyId, &copy), 0u);
  EXPECT_EQ(gOpenFiles, 2);
  EXPECT_EQ(copy->nativeWidth, kDiskW);
  EXPECT_EQ(copy->nativeHeight, kDiskH);
  for (qmAnim *anim : {d.anim, copy}) {
    qmBitmap *b = nullptr;
    qmMask *m = nullptr;
    qmAlphaChannel *a = nullptr;
    ASSERT_EQ(FetchAnimFrame(anim, 1, 0, 0, &b, &m, &a), 0u);
    EXPECT_EQ(b->width, 12);
    EXPECT_EQ(b->height, 2);
    ASSERT_NE(a, nullptr);
    // Every pixel of the scaled frame comes from frame 1.
    for (int x = 0; x < 12; x++) EXPECT_EQ(GetBitmapPixel(b, x, 0, 0) & 0xFF0000, 0x010000u) << x;
    FreePlanes(b, m, a);
    ASSERT_EQ(FetchAnimFrame(anim, 1, 0, 1, &b, &m, &a), 0u);
    ExpectDiskFrame(1, b, a);
    FreePlanes(b, m, a);
  }
}

TEST(AnimRecord, CopiesOwnTheirFrames) {
  AnimScene s;
  qmAnim *a = s.Add({1, 0}, 3, true);
  qmObjectId copyId{0, 1};
  qmAnim *copy = nullptr;
  ASSERT_EQ(CopyAnimRecord(s.objects, a, &copyId, &copy), 0u);
  EXPECT_EQ(copyId.handle, reinterpret_cast<uintptr_t>(copy));
  for (int i = 0; i < 3; i++) {
    EXPECT_NE(copy->bitmaps[i], a->bitmaps[i]);
    ASSERT_NE(copy->masks[i], nullptr);
    EXPECT_EQ(GetBitmapPixel(copy->masks[i], 1, 1, 1), 0u);
    EXPECT_EQ(GetBitmapPixel(copy->masks[i], 2, 1, 1), 1u);
  }
  EXPECT_EQ(Colours(copy), Colours(a));
  EXPECT_EQ(Delays(copy), Delays(a));
  const qmObjectId id{1, 0};
  ASSERT_EQ(DeleteAnim(s.scene, &id, 1), 0u);
  EXPECT_EQ(Colours(copy), (std::vector<uint32_t>{FrameColour(0), FrameColour(1), FrameColour(2)}));
}

// A scaling that runs out of memory part-way leaves every frame and the size as they were.
TEST(AnimRecord, FailedScalingLeavesTheAnim) {
  for (uint64_t n = 1;; n++) {
    AnimScene s;
    qmAnim *a = s.Add({1, 0}, 3, true);
    SetMemAllocFailure(n);
    const uint32_t code = ScaleAnimFrames(a, 8, 6, 0);
    const bool used = MemAllocFailureUsed();
    SetMemAllocFailure(0);
    if (!used) {
      EXPECT_EQ(code, 0u);
      EXPECT_EQ(a->bitmaps[2]->width, 8);
      EXPECT_EQ(a->nativeWidth, 8);
      break;
    }
    EXPECT_EQ(code, ERR_MEM) << n;
    EXPECT_EQ(a->width, 4);
    EXPECT_EQ(a->height, 3);
    for (int i = 0; i < 3; i++) {
      EXPECT_EQ(a->bitmaps[i]->width, 4) << n;
      EXPECT_NE(a->masks[i], nullptr) << n;
    }
    EXPECT_EQ(Colours(a), (std::vector<uint32_t>{FrameColour(0), FrameColour(1), FrameColour(2)}));
  }
}

// Raw frames kept while the applet's declarations ran become bitmaps when the first display
// opens; a frame fetched before that is made on the spot.
TEST(AnimRecord, PendingFramesConvert) {
  AnimScene s;
  const int n = 2;
  auto **b = static_cast<qmBitmap **>(MemAlloc(n * 8, 1));
  auto **m = static_cast<qmMask **>(MemAlloc(n * 8, 1));
  auto **al = static_cast<qmAlphaChannel **>(MemAlloc(n * 8, 1));
  auto **r = static_cast<uint32_t **>(MemAlloc(n * 8, 1));
  for (int i = 0; i < n; i++) {
    r[i] = static_cast<uint32_t *>(MemAlloc(2 * 2 * 4, 0));
    for (int p = 0; p < 4; p++) r[i][p] = p == 3 ? 0xFF00FF00u : 0xFF000000u | FrameColour(i);
  }
  qmObjectId id{1, 0};
  qmAnim *a = nullptr;
  ASSERT_EQ(NewAnimRecord(s.objects, &id, 2, 2, r, b, m, al, n, 0x00FF00, 0, 0, &a), 0u);
  a->delays = static_cast<uint32_t *>(MemAlloc(n * 4, 0));
  qmBitmap *bm = nullptr;
  qmMask *mask = nullptr;
  ASSERT_EQ(FetchAnimFrame(a, 1, 0, 0, &bm, &mask, nullptr), 0u);
  EXPECT_EQ(a->rawFrames[1], nullptr);
  EXPECT_NE(a->rawFrames[0], nullptr);
  ASSERT_EQ(ConvertPendingAnimFrames(s.objects), 0u);
  for (int i = 0; i < n; i++) {
    EXPECT_EQ(a->rawFrames[i], nullptr);
    ASSERT_NE(a->masks[i], nullptr);
    EXPECT_EQ(GetBitmapPixel(a->bitmaps[i], 0, 0, 0), FrameColour(i));
    // The transparent colour is keyed out of the mask.
    EXPECT_EQ(GetBitmapPixel(a->masks[i], 1, 1, 1), 0u);
    EXPECT_EQ(GetBitmapPixel(a->masks[i], 0, 1, 1), 1u);
  }
}

// Files that open as no anim: the code, and the file's name in the message.
TEST(AnimRecord, ProbeRefusals) {
  TempDir dir;
  const std::string missing = dir / "missing.gif", fifo = dir / "fifo.gif", text = dir / "text.anim";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening must not wait for one
  {
    std::ofstream(text) << "FORM....ILBM not an anim at all";
  }
  struct Case {
    const char *name;
    std::string file;
    uint32_t expected;
    const char *message;
  } cases[] = {
      {"missing", missing, ERR_READFILE, "Cannot read file missing.gif !"},
      {"a FIFO", fifo, ERR_READFILE, "Cannot read file fifo.gif !"},
      {"a folder", dir.path(), ERR_READFILE, nullptr},
      {"no anim head", text, ERR_OPENANIM2, "Animation file \"text.anim\" is in an unknown/unsupported format!"},
  };
  for (const Case &c : cases) {
    qmAnimFile *file = nullptr;
    int32_t w = 0, h = 0, n = 0;
    EXPECT_EQ(ProbeAnimFile(c.file.c_str(), nullptr, &file, &w, &h, &n, nullptr), c.expected) << c.name;
    if (c.message) {
      char out[512];
      EXPECT_STREQ(FormatErrorMessage(c.expected, out, sizeof out), c.message) << c.name;
    }
    EXPECT_EQ(IsAnimFile(c.file.c_str(), nullptr), 0) << c.name;
  }
}

}  // namespace

namespace {

// A stand-in anim-saver plug-in of format 70: it keeps what it was handed.
struct SavedFrame {
  uint32_t flags;
  int32_t bytesPerRow, colors, transparentIndex, delay;
  bool hasPalette;
  uint32_t first;  // pixel (0, 0): the word, or the palette entry of its index
  std::vector<uint32_t> words;  // an ARGB frame of kDiskW x kDiskH
};
struct FakeSaver {
  int32_t flags = SAVERFLAG_ARGB | SAVERFLAG_ALPHA;
  bool refuseBegin = false;
  int refuseFrame = -1;
  int begun = 0, finished = 0;
  uint32_t beginFlags = 0;
  std::vector<SavedFrame> frames;
};
FakeSaver gSaver;

int32_t FakeSaverFlags(int32_t format) { return format == 70 ? gSaver.flags : -1; }
uint32_t FakeBegin(int32_t format, const char *, int32_t w, int32_t h, uint32_t flags, int32_t, int32_t,
                   qmPluginDecoder *stream) {
  if (format != 70) return ERR_UNKNOWNANMOUT;
  if (gSaver.refuseBegin || w != kDiskW || h != kDiskH) return ERR_SAVEANIM;
  gSaver.begun++;
  gSaver.beginFlags = flags;
  *stream = {&gSaver, &gSaver};
  return 0;
}
uint32_t FakeWrite(const qmPluginDecoder *, const qmAnimSaveFrame *f) {
  if (int(gSaver.frames.size()) == gSaver.refuseFrame) return ERR_SAVEANIM;
  const uint8_t *px = static_cast<const uint8_t *>(f->pixels);
  uint32_t first = 0;
  std::vector<uint32_t> words;
  if (f->palette) {
    first = f->palette[px[0]];
  } else {
    std::memcpy(&first, px, 4);
    words.resize(kDiskW * kDiskH);
    for (int y = 0; y < kDiskH; y++) std::memcpy(&words[size_t(y) * kDiskW], px + size_t(y) * f->bytesPerRow, kDiskW * 4);
  }
  gSaver.frames.push_back(
      {f->flags, f->bytesPerRow, f->colors, f->transparentIndex, f->delay, f->palette != nullptr, first, words});
  return 0;
}
void FakeFinish(const qmPluginDecoder *) { gSaver.finished++; }

}  // namespace

// SaveAnim of a saver's format: the stream is told whether frames come indexed and keep alpha;
// each frame arrives with its delay, in ARGB (alpha only when asked for and kept) or as indices
// with the transparent colour as the last entry; a stream begun is finished whatever happens.
TEST(AnimRecord, SavedThroughASaverPlugin) {
  constexpr int32_t kArgb = SAVERFLAG_ARGB | SAVERFLAG_ALPHA;
  struct Case {
    const char *name;
    int32_t saverFlags, format, useAlpha;
    uint32_t transparent;
    bool refuseBegin;
    int refuseFrame;
    uint32_t result, beginFlags;
    int frames, finished;
  } cases[] = {
      {"alpha kept", kArgb, 70, 1, kNoTransparentColor, false, -1, 0, ANIMSAVE_ALPHA, 3, 1},
      {"alpha not asked for", kArgb, 70, 0, kNoTransparentColor, false, -1, 0, 0, 3, 1},
      {"a saver without alpha", SAVERFLAG_ARGB, 70, 1, kNoTransparentColor, false, -1, ERR_SAVERALPHA, 0, 0, 0},
      {"indexed with a transparent colour", 0, 70, 0, 0x030201, false, -1, 0, ANIMSAVE_INDEXED, 3, 1},
      {"nobody's format", kArgb, 71, 0, kNoTransparentColor, false, -1, ERR_UNKNOWNANMOUT, 0, 0, 0},
      {"begin refused", kArgb, 70, 0, kNoTransparentColor, true, -1, ERR_SAVEANIM, 0, 0, 0},
      {"second frame refused", kArgb, 70, 0, kNoTransparentColor, false, 1, ERR_SAVEANIM, 0, 1, 1},
  };
  for (const Case &c : cases) {
    DiskAnim d;
    d.plugins.animSaverFlags = FakeSaverFlags;
    d.plugins.beginAnimSave = FakeBegin;
    d.plugins.writeAnimSaveFrame = FakeWrite;
    d.plugins.finishAnimSave = FakeFinish;
    gSaver = {};
    gSaver.flags = c.saverFlags;
    gSaver.refuseBegin = c.refuseBegin;
    gSaver.refuseFrame = c.refuseFrame;
    qmAnimSaveOptions o = kDefaultAnimSave;
    o.useAlpha = c.useAlpha;
    o.transparentColor = c.transparent;
    o.plugins = &d.plugins;
    EXPECT_EQ(SaveAnimCore(d.anim, "unused", c.format, &o), c.result) << c.name;
    EXPECT_EQ(gSaver.begun, c.finished) << c.name;
    EXPECT_EQ(gSaver.finished, c.finished) << c.name;
    if (gSaver.begun) {
      EXPECT_EQ(gSaver.beginFlags, c.beginFlags) << c.name;
    }
    ASSERT_EQ(int(gSaver.frames.size()), c.frames) << c.name;
    for (int i = 0; i < c.frames; i++) {
      const SavedFrame &f = gSaver.frames[size_t(i)];
      EXPECT_EQ(f.delay, 100 * (i + 1)) << c.name << i;
      if (c.saverFlags & SAVERFLAG_ARGB) {
        EXPECT_FALSE(f.hasPalette) << c.name;
        EXPECT_EQ(f.bytesPerRow, kDiskW * 4) << c.name;
        EXPECT_EQ(f.colors, 0) << c.name;
        EXPECT_EQ(f.flags, c.useAlpha ? ANIMSAVEFRAME_ALPHA : 0u) << c.name;
        EXPECT_EQ(f.first, c.useAlpha ? DiskPixel(i, 0, 0) : DiskPixel(i, 0, 0) | 0xFF000000u) << c.name << i;
      } else {
        EXPECT_TRUE(f.hasPalette) << c.name;
        EXPECT_EQ(f.bytesPerRow, kDiskW) << c.name;
        EXPECT_EQ(f.flags, ANIMSAVEFRAME_TRANSPARENT) << c.name;
        EXPECT_GE(f.colors, 2) << c.name;
        EXPECT_EQ(f.transparentIndex, f.colors - 1) << c.name;
        // Pixel (0, 0) of frame i is i << 16, dark: within the quantizer's 5-6-5 steps.
        EXPECT_LE(std::abs(int(f.first >> 16 & 0xFF) - i), 8) << c.name << i;
        EXPECT_LE(int(f.first >> 8 & 0xFF), 8) << c.name << i;
        EXPECT_LE(int(f.first & 0xFF), 8) << c.name << i;
      }
    }
  }
}

// An anim-stream frame of a smaller brush placed in the stream: a saver that keeps alpha gets
// the brush's own colours and alpha bytes there and alpha 0 around it; one without alpha gets
// the brush blended over black, opaque. The stream is finished when it is closed.
TEST(AnimRecord, StreamFramesOfASaverPlugin) {
  constexpr int kW = 2, kH = 2;
  const uint32_t colour[kW * kH] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  const uint8_t alphaBytes[kW * kH] = {255, 128, 0, 64};
  for (const int useAlpha : {1, 0}) {
    AnimScene s;
    qmFormatPlugins plugins{};
    plugins.animSaverFlags = FakeSaverFlags;
    plugins.beginAnimSave = FakeBegin;
    plugins.writeAnimSaveFrame = FakeWrite;
    plugins.finishAnimSave = FakeFinish;
    gSaver = {};
    qmAnimSaveOptions o = kDefaultAnimSave;
    o.useAlpha = useAlpha;
    o.plugins = &plugins;
    qmObjectId id{1, 0};
    qmAnimStream *stream = nullptr;
    ASSERT_EQ(BeginAnimStream(s.objects, &id, "unused", kDiskW, kDiskH, 70, &o, &stream), 0u);
    EXPECT_EQ(gSaver.beginFlags, useAlpha ? ANIMSAVE_ALPHA : 0u);
    qmBitmap *b = AllocBitmap(kW, kH);
    qmAlphaChannel *a = AllocAlphaChannel(kW, kH, 1);
    ASSERT_TRUE(b && a);
    for (int i = 0; i < kW * kH; i++) {
      SetBitmapPixel(b, i % kW, i / kW, colour[i], 0);
      a->memory[(i / kW) * a->bytesPerRow + i % kW] = alphaBytes[i];
    }
    qmAnimFrameOptions f = kDefaultAnimFrame;
    f.x = 3, f.y = 1, f.delay = 25;
    EXPECT_EQ(WriteAnimStreamFrame(s.scene, stream, b, nullptr, a, kW, kH, &f), 0u);
    FreePlanes(b, nullptr, a);
    ASSERT_EQ(gSaver.frames.size(), 1u);
    const SavedFrame &got = gSaver.frames[0];
    EXPECT_EQ(got.delay, 25);
    EXPECT_EQ(got.flags, useAlpha ? ANIMSAVEFRAME_ALPHA : 0u);
    for (int y = 0; y < kDiskH; y++)
      for (int x = 0; x < kDiskW; x++) {
        const bool inside = x >= 3 && x < 3 + kW && y >= 1 && y < 1 + kH;
        const int i = inside ? (y - 1) * kW + (x - 3) : 0;
        uint32_t want = useAlpha ? 0 : 0xFF000000u;
        // A pixel of alpha 0 keeps its colour: the transparent colour (none) ORs nothing in.
        if (inside && useAlpha) want = uint32_t(alphaBytes[i]) << 24 | colour[i];
        const uint32_t word = got.words[size_t(y) * kDiskW + x];
        if (inside && !useAlpha) {
          // Blended over black: each channel scaled by the alpha byte, within rounding.
          EXPECT_EQ(word >> 24, 0xFFu) << x << "," << y;
          for (int shift : {0, 8, 16}) {
            const int expect = int((colour[i] >> shift & 0xFF) * alphaBytes[i] / 255);
            EXPECT_LE(std::abs(int(word >> shift & 0xFF) - expect), 1) << x << "," << y << " " << shift;
          }
        } else {
          EXPECT_EQ(word, want) << useAlpha << " " << x << "," << y;
        }
      }
    EXPECT_EQ(gSaver.finished, 0);
    EXPECT_EQ(CloseAnimStream(s.objects, &id), 0u);
    EXPECT_EQ(gSaver.finished, 1);
  }
}
