// Background-picture records kept in a bare object registry and a scene, with no VM: which
// display shows a picture, and copies that share planes as their original does.
#include "display/bgpic.h"

#include <gtest/gtest.h>

#include <vector>

#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/fillarea.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"

namespace {

// Which display of the scene shows a picture decides whether freeing it only flags it.
TEST(BGPicRecord, DisplayShowingPicture) {
  qmDisplay *a = NewDisplayRecord(1), *b = NewDisplayRecord(2);
  ASSERT_TRUE(a && b);
  qmBGPic one{}, two{}, none{};
  a->bgpic = &one;
  b->bgpic = &two;
  a->next = b;
  qmScene scene{};
  scene.displays = a;
  EXPECT_EQ(DisplayShowingBGPic(&scene, &one), a);
  EXPECT_EQ(DisplayShowingBGPic(&scene, &two), b);
  EXPECT_EQ(DisplayShowingBGPic(&scene, &none), nullptr);
  a->next = nullptr;
  a->bgpic = b->bgpic = nullptr;
  FreeDisplayRecord(a);
  FreeDisplayRecord(b);
}

// A copy shares planes between its sets exactly where the original does, so that each plane
// is freed once.
TEST(BGPicRecord, CopyKeepsThePlaneSharing) {
  qmObjectRegistry *objects = nullptr;
  ASSERT_EQ(NewObjectRegistry(nullptr, &objects), 0u);
  qmObjectId id{1, 0};
  qmBGPic *pic = nullptr;
  qmBitmap *master = AllocBitmap(8, 4);
  ASSERT_NE(master, nullptr);
  FillBitmapRect(master, 0, 0, 8, 4, 0x00FF00);
  ASSERT_EQ(NewBGPicRecord(objects, &id, 0, 8, 4, {master, nullptr, nullptr}, kNoTransparency, nullptr, &pic), 0u);
  ASSERT_EQ(SetBGPicSize(pic, 4, 2, 0), 0u);
  ASSERT_NE(pic->unscaled.bitmap, pic->master.bitmap);
  EXPECT_EQ(pic->shown.bitmap, pic->unscaled.bitmap);

  qmObjectId copyId{2, 0};
  qmBGPic *copy = nullptr;
  ASSERT_EQ(CopyBGPicRecord(objects, pic, &copyId, &copy), 0u);
  EXPECT_NE(copy->master.bitmap, pic->master.bitmap);
  EXPECT_NE(copy->unscaled.bitmap, copy->master.bitmap);
  EXPECT_EQ(copy->shown.bitmap, copy->unscaled.bitmap);
  EXPECT_EQ(copy->unscaledWidth, 4);
  EXPECT_EQ(GetBitmapPixel(copy->unscaled.bitmap, 3, 1, 0), 0x00FF00u);
  qmBGPic *found = nullptr;
  EXPECT_EQ(FindBGPic(objects, &copyId, &found, 0), 0u);
  EXPECT_EQ(found, copy);

  for (qmBGPic *p : {pic, copy}) {
    RemoveObject(objects, &p->header);
    FreeDerivedSets(p);
    FreePlaneSet(&p->master);
    MemFree(p);
  }
  FreeObjectRegistry(objects);
}

// What the layer and button entries were handed when a picture went: the scene each time.
std::vector<const qmScene *> gLayersFreed, gButtonsFreed;

// Freeing a picture needs only the scene: its layers and buttons go through the scene's entries,
// and one that a display still shows waits, flagged, until no display does.
TEST(BGPicRecord, FreeingGoesThroughTheScene) {
  struct Case {
    const char *name;
    bool shown;        // a display shows the picture when it is freed
    int32_t strict;
    qmObjectId freed;  // the id handed to FreeBGPicCore
    uint32_t code;
    size_t hooksAtOnce;  // entry calls made by FreeBGPicCore itself
  };
  const Case cases[] = {
      {"unshown picture goes at once", false, 1, {1, 0}, 0, 1},
      {"shown picture is only flagged", true, 1, {1, 0}, 0, 0},
      {"missing id, lenient", false, 0, {9, 0}, 0, 0},
      {"missing id, strict", false, 1, {9, 0}, ERR_FINDBGPIC, 0},
  };
  qmLayerHooks layers{};
  layers.freeAll = [](qmScene *scene, qmBGPic *) { gLayersFreed.push_back(scene); };
  qmButtonHooks buttons{};
  buttons.freeAll = [](qmScene *scene, qmBGPic *) { gButtonsFreed.push_back(scene); };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    gLayersFreed.clear();
    gButtonsFreed.clear();
    qmObjectRegistry *objects = nullptr;
    ASSERT_EQ(NewObjectRegistry(nullptr, &objects), 0u);
    qmScene scene{};
    scene.objects = objects;
    scene.layerHooks = &layers;
    scene.buttonHooks = &buttons;
    qmDisplay *d = NewDisplayRecord(1);
    ASSERT_NE(d, nullptr);
    scene.displays = d;
    qmObjectId id{1, 0};
    qmBGPic *pic = nullptr;
    ASSERT_EQ(NewBGPicRecord(objects, &id, 0, 4, 4, {AllocBitmap(4, 4), nullptr, nullptr}, kNoTransparency,
                             nullptr, &pic),
              0u);
    if (c.shown) d->bgpic = pic;

    EXPECT_EQ(FreeBGPicCore(&scene, &c.freed, c.strict), c.code);
    EXPECT_EQ(gLayersFreed.size(), c.hooksAtOnce);
    EXPECT_EQ(gButtonsFreed.size(), c.hooksAtOnce);
    const bool gone = c.hooksAtOnce == 1;
    qmBGPic *found = nullptr;
    EXPECT_EQ(FindBGPic(objects, &id, &found, 0) == 0, !gone && !c.shown) << "the number id is free once freed";
    if (c.shown) {
      EXPECT_EQ(pic->deleted, 1u);
      FreeMarkedBGPics(&scene);
      EXPECT_TRUE(gLayersFreed.empty()) << "a shown picture stays";
      d->bgpic = nullptr;
    }
    FreeMarkedBGPics(&scene);
    if (c.shown) {
      EXPECT_EQ(gLayersFreed.size(), 1u) << "freed once no display shows it";
    }
    for (const qmScene *handed : gLayersFreed) EXPECT_EQ(handed, &scene);
    for (const qmScene *handed : gButtonsFreed) EXPECT_EQ(handed, &scene);
    if (!gone && !c.shown) {
      RemoveObject(objects, &pic->header);
      FreeBGPicContents(&scene, pic);
      MemFree(pic);
    }
    FreeDisplayRecord(d);
    FreeObjectRegistry(objects);
  }
}

}  // namespace
