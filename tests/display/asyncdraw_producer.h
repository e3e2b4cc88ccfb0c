// A producer of asynchronous frames for tests: it counts frames and callbacks, answers the
// control protocol from its own fields, and fails the test when any callback reaches it after
// its free callback ran.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "display/asyncdraw.h"
#include "display/display.h"
#include "display/scene.h"

struct FakeProducer {
  int32_t total = 3;    // frames of the operation
  int32_t current = 0;  // the frame drawn last
  int32_t frames = 0, seeks = 0, redraws = 0;
  int32_t finishes = 0, frees = 0;
  int32_t finishFlag = -1, freeFlag = -1;
  uint32_t frameError = 0, seekError = 0;
  void *drawn = nullptr;    // answered to ADOP_DRAWNOBJECT
  void *pending = nullptr;  // answered to ADOP_PENDINGPICTURE
  bool withControl = true;
  bool withFinish = true;
  // A display the free callback reads, as a producer that refreshes its layer does: under the
  // address sanitizer a display freed before its objects shows.
  const qmDisplay *readOnFree = nullptr;
  int32_t widthOnFree = -1;
  std::vector<std::pair<int32_t, intptr_t>> ops;  // control calls, in order

  void CheckAlive(const char *what) const {
    if (frees) ADD_FAILURE() << what << " after the free callback";
  }
  static uint32_t Frame(void *ud, int32_t *finished) {
    auto *p = static_cast<FakeProducer *>(ud);
    p->CheckAlive("frame");
    if (p->frameError) return p->frameError;
    p->frames++;
    if (++p->current >= p->total) *finished = 1;
    return 0;
  }
  static void Finish(void *ud, int32_t flag) {
    auto *p = static_cast<FakeProducer *>(ud);
    p->CheckAlive("finish");
    p->finishes++;
    p->finishFlag = flag;
  }
  static void Free(void *ud, int32_t flag) {
    auto *p = static_cast<FakeProducer *>(ud);
    p->CheckAlive("free");
    p->frees++;
    p->freeFlag = flag;
    if (p->readOnFree) p->widthOnFree = p->readOnFree->width;
  }
  static intptr_t Control(int32_t op, intptr_t arg, void *ud) {
    auto *p = static_cast<FakeProducer *>(ud);
    p->CheckAlive("control");
    p->ops.push_back({op, op == ADOP_DOUBLEBUFFER || op == ADOP_REPLACELAYER || op == ADOP_LAYERCHANGED ? arg : 0});
    switch (op) {
    case ADOP_FRAMECOUNT: return p->total;
    case ADOP_CURFRAME: return p->current;
    case ADOP_SEEK:
      if (p->seekError) return p->seekError;
      p->seeks++;
      p->current = *reinterpret_cast<int32_t *>(arg);
      return 0;
    case ADOP_REDRAW: p->redraws++; return 0;
    case ADOP_DRAWNOBJECT: *reinterpret_cast<void **>(arg) = p->drawn; return 0;
    case ADOP_PENDINGPICTURE: *reinterpret_cast<void **>(arg) = p->pending; return 0;
    default: return 0;
    }
  }
  // Registers the producer with the scene's current display: the record, or null on failure.
  qmAsyncDraw *Start(qmScene *scene, int32_t kind = ADF_FX) {
    qmAsyncDraw *ad = nullptr;
    EXPECT_EQ(CreateAsyncDraw(scene, kind, Frame, 0, withFinish ? Finish : nullptr, Free,
                              withControl ? Control : nullptr, this, &ad),
              0u);
    return ad;
  }
  int32_t CountOps(int32_t op) const {
    int32_t n = 0;
    for (auto &o : ops) n += o.first == op;
    return n;
  }
};
