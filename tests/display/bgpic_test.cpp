// Background-picture records kept in a bare object registry and a scene, with no VM: which
// display shows a picture, and copies that share planes as their original does.
#include "display/bgpic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

// A display's buffers hold the picture they were made from, whether they are new or kept, and
// however little of the picture is not black: a single pixel in the last row, a pixel that is
// only alpha, or nothing at all (where the row padding, which a blit never carries, may hold
// anything).
TEST(BGPicRecord, DisplayBuffersHoldThePicture) {
  struct Case {
    const char *name;
    int32_t x, y;
    uint32_t value;
  };
  const Case cases[] = {
      {"black", -1, -1, 0},
      {"last pixel", 8, 4, 0x000001},
      {"alpha only", 0, 2, 0x01000000},
      {"first pixel", 0, 0, 0xFFFFFF},
  };
  const int32_t w = 9, h = 5;  // a width whose rows are padded
  for (const Case &c : cases) {
    for (int32_t reallocate : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (reallocate ? ", new buffers" : ", kept buffers"));
      qmBitmap *bitmap = AllocBitmap(w, h);
      ASSERT_NE(bitmap, nullptr);
      ASSERT_GT(bitmap->bytesPerRow, w * 4);
      std::memset(bitmap->pixels, 0x5A, size_t(bitmap->bytesPerRow) * h);
      FillBitmapRect(bitmap, 0, 0, w, h, 0);
      for (int32_t y = 0; y < h; y++) std::memset(bitmap->pixels + size_t(y) * bitmap->bytesPerRow / 4 + w, 0x5A, 4);
      if (c.x >= 0) bitmap->pixels[size_t(c.y) * bitmap->bytesPerRow / 4 + c.x] = c.value;
      qmBGPic pic{};
      pic.shown.bitmap = bitmap;
      pic.shownWidth = w;
      pic.shownHeight = h;
      qmDisplay *d = NewDisplayRecord(1);
      ASSERT_NE(d, nullptr);
      if (!reallocate) {
        // Buffers of the right size that hold something else.
        d->backgroundCopy = AllocBitmap(w, h);
        d->layerBuffer = AllocBitmap(w, h);
        ASSERT_TRUE(d->backgroundCopy && d->layerBuffer);
        FillBitmapRect(d->backgroundCopy, 0, 0, w, h, 0x123456);
        FillBitmapRect(d->layerBuffer, 0, 0, w, h, 0x654321);
      }
      ASSERT_EQ(PrepareDisplayBuffers(d, &pic, reallocate), 0u);
      for (const qmBitmap *buffer : {d->backgroundCopy, d->layerBuffer}) {
        ASSERT_NE(buffer, nullptr);
        for (int32_t y = 0; y < h; y++)
          for (int32_t x = 0; x < w; x++)
            ASSERT_EQ(buffer->pixels[size_t(y) * buffer->bytesPerRow / 4 + x],
                      bitmap->pixels[size_t(y) * bitmap->bytesPerRow / 4 + x])
                << x << "," << y;
      }
      FreeBitmap(d->backgroundCopy);
      FreeBitmap(d->layerBuffer);
      d->backgroundCopy = d->layerBuffer = nullptr;
      FreeDisplayRecord(d);
      FreeBitmap(bitmap);
    }
  }
}

}  // namespace
