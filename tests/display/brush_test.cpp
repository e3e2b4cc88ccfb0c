// Brush records kept in a bare object registry and a scene, with no VM: lookup flags, the
// selected-output check, copies and frees.
#include "display/brush.h"

#include <gtest/gtest.h>

#include "display/bgpic.h"
#include "display/display.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"

namespace {

struct BrushRegistry {
  qmObjectRegistry *objects = nullptr;
  BrushRegistry() { EXPECT_EQ(NewObjectRegistry(nullptr, &objects), 0u); }
  ~BrushRegistry() {
    FreeAllBrushes(objects);
    FreeObjectRegistry(objects);
  }
  qmBrush *Add(uint32_t id, int32_t width = 4, int32_t height = 3) {
    qmObjectId oid{id, 0};
    qmBrush *b = nullptr;
    EXPECT_EQ(CreateBrushNode(objects, &oid, width, height, 0x123456, 0, 0, 0, 0, &b), 0u);
    return b;
  }
};

// The checks run in a fixed order, so a brush that fails several of them reports the first.
TEST(BrushRecord, FindFlagsInOrder) {
  BrushRegistry r;
  r.Add(1);
  r.Add(2)->kind = BRUSHKIND_VECTOR;
  r.Add(3)->hardware = 1;
  r.Add(4)->deleted = 1;
  r.Add(5)->lock = 1;
  qmBrush *all = r.Add(6);
  all->kind = BRUSHKIND_VECTOR, all->hardware = 1, all->deleted = 1, all->lock = 1;
  qmBrush *hiddenLocked = r.Add(7);
  hiddenLocked->deleted = 1, hiddenLocked->lock = 1;
  struct Case {
    const char *name;
    uint32_t id;
    int32_t flags;
    uint32_t expected;
  } cases[] = {
      {"plain", 1, 0, 0},
      {"plain, every flag", 1, FINDBRUSH_MODIFY | FINDBRUSH_NOVECTOR | FINDBRUSH_HARDWARE, 0},
      {"missing number", 9, 0, ERR_FINDBRUSH},
      {"vector allowed", 2, 0, 0},
      {"vector refused", 2, FINDBRUSH_NOVECTOR, ERR_BRUSHTYPE},
      {"hardware refused", 3, 0, ERR_HWBRUSH},
      {"hardware accepted", 3, FINDBRUSH_HARDWARE, 0},
      {"flagged looks missing", 4, 0, ERR_FINDBRUSH},
      {"flagged accepted", 4, FINDBRUSH_DELETED, 0},
      {"locked to read", 5, 0, 0},
      {"locked to change", 5, FINDBRUSH_MODIFY, ERR_LOCKEDOBJ},
      {"vector before hardware", 6, FINDBRUSH_NOVECTOR, ERR_BRUSHTYPE},
      {"hardware before flagged", 6, 0, ERR_HWBRUSH},
      {"flagged before locked", 6, FINDBRUSH_HARDWARE | FINDBRUSH_MODIFY, ERR_FINDBRUSH},
      {"locked last", 6, FINDBRUSH_HARDWARE | FINDBRUSH_DELETED | FINDBRUSH_MODIFY, ERR_LOCKEDOBJ},
      {"flagged and locked", 7, FINDBRUSH_MODIFY, ERR_FINDBRUSH},
  };
  for (const Case &c : cases) {
    qmObjectId id{c.id, 0};
    qmBrush *found = nullptr;
    EXPECT_EQ(FindBrush(r.objects, &id, &found, c.flags), c.expected) << c.name;
    EXPECT_EQ(found != nullptr, c.expected == 0) << c.name;
  }
  qmObjectId stale{0, 0x1234};
  qmBrush *found = nullptr;
  EXPECT_EQ(FindBrush(r.objects, &stale, &found, 0), uint32_t(ERR_FINDARRAY)) << "an automatic id names no number";
}

// An automatic id is the record's address; a copy gets planes of its own.
TEST(BrushRecord, AutomaticIdsAndCopies) {
  BrushRegistry r;
  qmObjectId autoId{0, 1};
  qmBrush *b = nullptr;
  ASSERT_EQ(CreateBrushNode(r.objects, &autoId, 5, 2, 0xABCDEF, 1, 1, 0, 0, &b), 0u);
  EXPECT_EQ(autoId.handle, reinterpret_cast<uintptr_t>(b));
  EXPECT_EQ(b->transparentColor, kOwnMaskColor);
  qmBrush *found = nullptr;
  ASSERT_EQ(FindBrush(r.objects, &autoId, &found, 0), 0u);
  EXPECT_EQ(found, b);

  qmObjectId copyId{8, 0};
  qmBrush *copy = nullptr;
  ASSERT_EQ(CopyBrushRecord(r.objects, b, &copyId, 0, &copy), 0u);
  EXPECT_NE(copy->bitmap, b->bitmap);
  EXPECT_NE(copy->mask, b->mask);
  EXPECT_NE(copy->alpha, b->alpha);
  EXPECT_EQ(GetBitmapPixel(copy->bitmap, 4, 1, 0), 0xABCDEFu);
  EXPECT_EQ(CountObjectsOfType(r.objects, QMTYPE_BRUSH), 2u);

  b->deleted = 1;
  FreeMarkedBrushes(r.objects);
  EXPECT_EQ(CountObjectsOfType(r.objects, QMTYPE_BRUSH), 1u);
  EXPECT_EQ(FindBrush(r.objects, &copyId, &found, 0), 0u) << "an unflagged brush stays";
}

// The brush a Select* command draws into cannot be changed or freed, unless double buffering
// has taken the output over.
TEST(BrushRecord, SelectedBrushInTheScene) {
  qmDisplay *d = NewDisplayRecord(1);
  ASSERT_NE(d, nullptr);
  qmBGPic select{}, back{};
  select.selectedType = QMTYPE_BRUSH;
  select.selectedId = {3, 0};
  d->selectBGPic = &select;
  d->doubleBufferBGPic = &back;
  qmScene scene{};
  scene.displays = scene.current = d;
  struct Case {
    const char *name;
    uint32_t output;
    uint32_t doubleBuffer;
    qmBGPic *picture;
    uint32_t id;
    uint32_t expected;
  } cases[] = {
      {"drawing to the display", DISPOUT_DISPLAY, 0, nullptr, 3, 0},
      {"the selected brush", DISPOUT_BRUSH, 0, &select, 3, ERR_MODIFYABR},
      {"its mask", DISPOUT_MASK, 0, &select, 3, ERR_MODIFYABR},
      {"its alpha channel", DISPOUT_ALPHA, 0, &select, 3, ERR_MODIFYABR},
      {"another brush", DISPOUT_BRUSH, 0, &select, 4, 0},
      {"double buffer drawn to", DISPOUT_BRUSH, 1, &back, 3, 0},
      {"selected while double buffering", DISPOUT_BRUSH, 1, &select, 3, ERR_MODIFYABR},
  };
  for (const Case &c : cases) {
    d->outputType = c.output;
    d->doubleBuffer = c.doubleBuffer;
    scene.picture = c.picture;
    qmObjectId id{c.id, 0};
    EXPECT_EQ(CheckNotSelectedBrush(&scene, &id), c.expected) << c.name;
  }
  select.selectedType = QMTYPE_BGPIC;
  d->outputType = DISPOUT_BRUSH;
  d->doubleBuffer = 0;
  qmObjectId three{3, 0};
  EXPECT_EQ(CheckNotSelectedBrush(&scene, &three), 0u) << "a selected picture of the same number";
  scene.current = nullptr;
  EXPECT_EQ(CheckNotSelectedBrush(&scene, &three), 0u) << "no display yet";
  d->selectBGPic = d->doubleBufferBGPic = nullptr;
  FreeDisplayRecord(d);
}

}  // namespace
