// Background-picture records kept in a bare object registry and a scene, with no VM: which
// display shows a picture, and copies that share planes as their original does.
#include "display/bgpic.h"

#include <gtest/gtest.h>

#include "display/display.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "graphics/blit.h"
#include "graphics/fillarea.h"
#include "platform/memory.h"
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

}  // namespace
