// Satellites: what a plug-in attaches to a display, the size changes it is told of, and the
// input it reports for the display.
#include "display/displayhooks.h"

#include <gtest/gtest.h>

#include <vector>

#include "display/displayops.h"
#include "runtime/errcodes.h"
#include "runtime/rttags.h"
#include "tests/display/brush/brush_vm.h"

namespace {

struct Told {
  uint32_t message;
  int32_t width, height;
};

void Record(qmDisplayHook *, uint32_t message, void *data, void *userData) {
  const auto *size = static_cast<const int32_t *>(data);
  static_cast<std::vector<Told> *>(userData)->push_back({message, size[0], size[1]});
}

struct HookVm : BrushVm {
  qmScene *scene = GetScene(L);
  std::vector<Told> told;
  qmDisplayHook *Attach(uint32_t id, int32_t *width = nullptr, int32_t *height = nullptr) {
    const qmObjectId oid{id, 0};
    qmTagItem tags[] = {{1, uintptr_t(width)}, {2, uintptr_t(height)}, {0, 0}};
    return AttachDisplayHook(scene, &oid, Record, &told, tags);
  }
  std::vector<qmQueuedEvent> TakeEvents() {
    std::vector<qmQueuedEvent> out;
    qmQueuedEvent e;
    for (uint32_t i = 0; PeekEvent(i, &e, 0); i++) out.push_back(e);
    RemoveEvents(kRemoveAllEvents, 1);
    return out;
  }
};

}  // namespace

TEST(DisplayHooks, AttachResizeAndDetach) {
  HookVm vm;
  int32_t w = 0, h = 0;
  qmDisplayHook *node = vm.Attach(1, &w, &h);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 48);
  EXPECT_EQ(DisplayOfHook(vm.scene, node), vm.d);
  EXPECT_EQ(vm.Attach(9), nullptr);  // no such display
  vm.TakeEvents();

  // The satellite's own resize: done, a size event posted, the satellite not told.
  EXPECT_EQ(ResizeHookedDisplay(vm.scene, node, 80, 60), 0u);
  EXPECT_EQ(vm.d->width, 80);
  EXPECT_EQ(vm.d->height, 60);
  EXPECT_TRUE(vm.told.empty());
  std::vector<qmQueuedEvent> events = vm.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, uint32_t(EVENT_RESIZED));
  EXPECT_EQ(events[0].owner, vm.d);

  // The script's resize tells every satellite, in attachment order.
  qmDisplayHook *second = vm.Attach(1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(vm.Call("ChangeDisplaySize", {100, 70}).code, 0u);
  ASSERT_EQ(vm.told.size(), 2u);
  for (const Told &t : vm.told) EXPECT_EQ((std::vector<int32_t>{int32_t(t.message), t.width, t.height}),
                                          (std::vector<int32_t>{int32_t(kSatelliteResized), 100, 70}));

  // A display with satellites stays; once they are detached it can go.
  EXPECT_EQ(vm.Create(2, [] {}).code, 0u);
  const qmObjectId two{2, 0};
  qmDisplayHook *onTwo = AttachDisplayHook(vm.scene, &two, Record, &vm.told, nullptr);
  ASSERT_NE(onTwo, nullptr);
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, uint32_t(ERR_SATFREEDISP));
  DetachDisplayHook(vm.scene, onTwo);
  EXPECT_EQ(DisplayOfHook(vm.scene, onTwo), nullptr);
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, 0u);
  DetachDisplayHook(vm.scene, node);
  DetachDisplayHook(vm.scene, second);
  EXPECT_EQ(vm.d->satellites, nullptr);
  // A node no display holds: nothing to resize.
  EXPECT_EQ(ResizeHookedDisplay(vm.scene, node, 10, 10), uint32_t(ERR_FINDDISPLAY));
}

TEST(DisplayHooks, ReportedInputReachesTheDisplay) {
  struct Case {
    const char *name;
    uint32_t kind, d1, d2, d3;
    int events;  // 0 or 1
    uint32_t type, arg1, arg2;
  } cases[] = {
      {"left button down", 1, 5, 6, 1, 1, EVENT_LEFTBUTTON, 5, 6},
      {"right button up", 2, 7, 8, 0, 1, EVENT_RIGHTBUTTON, 7, 8},
      {"middle button down", 3, 9, 10, 1, 1, EVENT_MIDDLEBUTTON, 9, 10},
      {"wheel up", 4, 11, 12, 0, 1, EVENT_WHEELUP, 11, 12},
      {"wheel down", 4, 11, 12, 1, 1, EVENT_WHEELDOWN, 11, 12},
      {"key down", 5, 'a', 1, 'a', 1, EVENT_KEY, 1, 'a'},
      {"a key code beyond the key table", 5, 100000, 1, 0, 1, EVENT_KEY, 1, 0},
      {"pointer moved", 0, 0, 0, 0, 0, 0, 0, 0},
      {"an unknown kind", 6, 1, 2, 3, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    HookVm vm;
    qmDisplayHook *node = vm.Attach(1);
    ASSERT_NE(node, nullptr);
    vm.TakeEvents();
    vm.d->pointerMoved = 0;
    PostHookedDisplayEvent(vm.scene, node, c.kind, c.d1, c.d2, c.d3);
    std::vector<qmQueuedEvent> events = vm.TakeEvents();
    ASSERT_EQ(int(events.size()), c.events) << c.name;
    if (c.events) {
      EXPECT_EQ(events[0].type, c.type) << c.name;
      EXPECT_EQ(events[0].owner, vm.d) << c.name;
      EXPECT_EQ(events[0].arg1, c.arg1) << c.name;
      EXPECT_EQ(events[0].arg2, c.arg2) << c.name;
    }
    // The display's own state follows what was reported.
    EXPECT_EQ(vm.d->leftButton, c.kind == 1 ? c.d3 : 0u) << c.name;
    EXPECT_EQ(vm.d->middleButton, c.kind == 3 ? c.d3 : 0u) << c.name;
    EXPECT_EQ(vm.d->keyStates['a'], c.kind == 5 && c.d1 == 'a' ? 1 : 0) << c.name;
    EXPECT_EQ(vm.d->pointerMoved, c.kind == 0 ? 1u : 0u) << c.name;
    DetachDisplayHook(vm.scene, node);
  }
}
