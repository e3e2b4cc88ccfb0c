// The display record, the list, input reset and the queue of cross-thread window updates.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "graphics/bitmap.h"
#include "platform/memory.h"

namespace {

TEST(DisplayRecord, NewDisplayDefaults) {
  qmDisplay *d = NewDisplayRecord(3);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->id, 3u);
  EXPECT_EQ(d->width, 640);
  EXPECT_EQ(d->height, 480);
  EXPECT_EQ(d->x, -100000);
  EXPECT_STREQ(d->title, "Quenmoor");
  EXPECT_EQ(d->state, DISPSTATE_CLOSED);
  EXPECT_EQ(d->outputType, DISPOUT_DISPLAY);
  EXPECT_EQ(d->scaleX, 1.0);
  EXPECT_EQ(d->textMarginRight, 639);
  for (const qmHandlerSlot &s : d->handlers) {
    EXPECT_EQ(s.function, kNoHandler);
    EXPECT_EQ(s.userData, kNoHandler);
  }
  EXPECT_NE(d->updateLock, nullptr);
  FreeDisplayRecord(d);
}

TEST(DisplayRecord, ListOrderAndSoleDisplay) {
  qmDisplay *a = NewDisplayRecord(1), *b = NewDisplayRecord(2), *backdrop = NewDisplayRecord(3);
  backdrop->private1 = 1;
  qmScene scene{};
  LinkDisplay(&scene, a);
  EXPECT_TRUE(IsSoleDisplay(&scene, a));
  LinkDisplay(&scene, b);
  EXPECT_FALSE(IsSoleDisplay(&scene, a));
  EXPECT_FALSE(IsSoleDisplay(&scene, b));
  UnlinkDisplay(&scene, b);
  LinkDisplay(&scene, backdrop);
  EXPECT_EQ(scene.displays, backdrop) << "the backdrop display goes first";
  EXPECT_EQ(backdrop->next, a);
  EXPECT_EQ(a->type, QMTYPE_DISPLAY);
  EXPECT_TRUE(IsSoleDisplay(&scene, a)) << "second behind the backdrop";
  UnlinkDisplay(&scene, backdrop);
  UnlinkDisplay(&scene, a);
  EXPECT_EQ(scene.displays, nullptr);
  for (qmDisplay *d : {a, b, backdrop}) FreeDisplayRecord(d);
}

int gButtonResets = 0;

TEST(DisplayRecord, ResetDisplayInputClearsEverything) {
  gButtonResets = 0;  // of an earlier run of the program's tests
  qmDisplay *d = NewDisplayRecord(1);
  d->keyStates[97] = 1;
  d->keyStates[299] = 1;
  d->leftButton = d->rightButton = d->middleButton = 1;
  qmDisplayOps ops{};
  ops.resetButtonStates = [](qmDisplay *) { gButtonResets++; };
  qmScene scene{};
  scene.displayOps = &ops;
  ResetDisplayInput(&scene, d);
  for (uint8_t k : d->keyStates) EXPECT_EQ(k, 0);
  EXPECT_EQ(d->leftButton + d->rightButton + d->middleButton, 0u);
  EXPECT_EQ(gButtonResets, 1);
  FreeDisplayRecord(d);
}

TEST(DisplayRecord, ResizeWithoutTheDisplayLibraryKeepsThePosition) {
  qmDisplay *d = NewDisplayRecord(1);
  d->x = 10;
  d->y = 20;
  EXPECT_EQ(ResizeDisplay(nullptr, d, kKeepPosition, kKeepPosition, 800, 600, 0, 0), 0u);
  EXPECT_EQ(d->x, 10);
  EXPECT_EQ(d->width, 800);
  EXPECT_EQ(d->textMarginRight, 799);
  FreeDisplayRecord(d);
}

struct Presented {
  int32_t x, y, w, h;
  uint32_t firstPixel;
};
std::vector<Presented> gPresented;

TEST(DisplayUpdates, ProducersQueueAndTheMainThreadPresentsInOrder) {
  gPresented.clear();  // of an earlier run of the program's tests
  qmDisplay *d = NewDisplayRecord(1);
  qmScene scene{};
  LinkDisplay(&scene, d);
  scene.presentUpdate = [](qmBitmap *b, qmDisplay *, int32_t x, int32_t y, int32_t w, int32_t h) {
    gPresented.push_back({x, y, w, h, b->pixels[0]});
  };
  EXPECT_FALSE(DisplayUpdatesPending(&scene));
  std::thread producer([d] {
    for (int i = 0; i < 200; i++) {
      auto *u = static_cast<qmDisplayUpdate *>(MemAlloc(sizeof(qmDisplayUpdate), 1));
      u->bitmap = AllocBitmap(4, 4);
      u->bitmap->pixels[0] = uint32_t(i);
      u->x = i;
      u->y = 1;
      u->width = 4;
      u->height = 4;
      QueueDisplayUpdate(d, u);
    }
  });
  while (gPresented.size() < 200) FlushDisplayUpdates(&scene);  // drains while the producer runs
  producer.join();
  for (size_t i = 0; i < gPresented.size(); i++) {
    EXPECT_EQ(gPresented[i].x, int32_t(i));
    EXPECT_EQ(gPresented[i].firstPixel, uint32_t(i));
  }
  EXPECT_EQ(d->pendingUpdates, nullptr);
  // Updates left at the end are freed with the display, unshown.
  auto *u = static_cast<qmDisplayUpdate *>(MemAlloc(sizeof(qmDisplayUpdate), 1));
  u->bitmap = AllocBitmap(2, 2);
  QueueDisplayUpdate(d, u);
  EXPECT_TRUE(DisplayUpdatesPending(&scene));
  scene.presentUpdate = nullptr;
  UnlinkDisplay(&scene, d);
  FreeDisplayRecord(d);
  FlushDisplayUpdates(&scene);
}

}  // namespace
