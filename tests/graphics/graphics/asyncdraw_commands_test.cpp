// AsyncDrawFrame, CancelAsyncDraw and FinishAsyncDraw as a script calls them, over a counting
// producer registered on the run's scene: the lookups, the output and display checks, the
// answers, GetAttribute's ASYNCDRAW row, and the producer's end when its display closes or goes
// and when the player shuts down.
#include <gtest/gtest.h>

#include "display/displayops.h"
#include "runtime/attributes.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/asyncdraw_producer.h"
#include "tests/display/display_vm.h"

namespace {

struct AsyncVm : DisplayVm {
  AsyncVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", 64), Set("height", 48), Set("layers", 1); }).code, 0u);
    EXPECT_EQ(Create(2, [&] { Set("width", 32), Set("height", 32); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    EXPECT_EQ(Scene()->current, Display(1));
  }
  struct Answer {
    uint32_t code;
    bool finished;
  };
  // A command on a handle (or a number id when handle is null), with an optional frame.
  Answer Run(const char *command, const void *handle, double number = 0, const double *frame = nullptr) {
    vm_settop(L, 0);
    vm_pushstring(L, command);
    vm_gettable(L, VM_GLOBALSINDEX);
    if (handle)
      vm_pushlightuserdata(L, const_cast<void *>(handle));
    else
      vm_pushnumber(L, number);
    if (frame) vm_pushnumber(L, *frame);
    Answer a{vm_pcall(L, frame ? 2 : 1, VM_MULTRET, 0), false};
    if (a.code)
      vm_setendrequested(L, 0);
    else if (vm_gettop(L) >= 1)
      a.finished = vm_toboolean(L, 1);
    vm_settop(L, 0);
    return a;
  }
  Answer Frame(const void *h) { return Run("asyncdrawframe", h); }
  Answer FrameAt(const void *h, double f) { return Run("asyncdrawframe", h, 0, &f); }
};

TEST(AsyncDrawCommands, RunToTheEndThenTheHandleIsGone) {
  AsyncVm vm;
  FakeProducer p;
  qmAsyncDraw *ad = p.Start(vm.Scene());
  ASSERT_NE(ad, nullptr);
  for (int i = 0; i < 3; i++) {
    const AsyncVm::Answer a = vm.Frame(ad);
    EXPECT_EQ(a.code, 0u);
    EXPECT_FALSE(a.finished) << "frame " << i + 1;
  }
  const AsyncVm::Answer end = vm.Frame(ad);
  EXPECT_EQ(end.code, 0u);
  EXPECT_TRUE(end.finished);
  EXPECT_EQ(p.finishes, 1);
  EXPECT_EQ(p.frees, 1);
  EXPECT_EQ(p.freeFlag, 1);
  // The handle names nothing now; a number never named an asynchronous object.
  EXPECT_EQ(vm.Frame(ad).code, uint32_t(ERR_FINDARRAY));
  for (const char *cmd : {"asyncdrawframe", "cancelasyncdraw", "finishasyncdraw"}) {
    EXPECT_EQ(vm.Run(cmd, nullptr, 7).code, uint32_t(ERR_FINDASYNCDRAW)) << cmd;
    EXPECT_EQ(vm.Run(cmd, ad).code, uint32_t(ERR_FINDARRAY)) << cmd;
  }
  EXPECT_EQ(p.frees, 1);
}

TEST(AsyncDrawCommands, ChecksComeBeforeTheObjectIsTouched) {
  AsyncVm vm;
  FakeProducer p;
  p.total = 10;
  qmAsyncDraw *ad = p.Start(vm.Scene());
  ASSERT_EQ(vm.Call("CreateBrush", {5, 8, 8}).code, 0u);
  struct Case {
    const char *name;
    std::vector<std::pair<const char *, std::vector<CmdArg>>> setup, undo;
    uint32_t code;
  } cases[] = {
      {"a selected brush", {{"SelectBrush", {5}}}, {{"EndSelect", {}}}, ERR_SELECTBRUSH},
      {"a selected mask", {{"SelectMask", {5}}}, {{"EndSelect", {}}}, ERR_SELECTMASK},
      {"a selected alpha channel", {{"SelectAlphaChannel", {5}}}, {{"EndSelect", {}}}, ERR_SELECTALPHACHANNEL},
      {"another display", {{"SelectDisplay", {2}}}, {{"SelectDisplay", {1}}}, ERR_ADFWRONGDISP},
  };
  for (const Case &c : cases) {
    for (auto &[cmd, args] : c.setup) ASSERT_EQ(vm.Call(cmd, args).code, 0u) << c.name << ": " << cmd;
    EXPECT_EQ(vm.Frame(ad).code, c.code) << c.name;
    const double five = 5;
    EXPECT_EQ(vm.Run("asyncdrawframe", ad, 0, &five).code, c.code) << c.name;
    EXPECT_TRUE(p.ops.empty()) << c.name;
    EXPECT_EQ(p.frames, 0) << c.name;
    for (auto &[cmd, args] : c.undo) ASSERT_EQ(vm.Call(cmd, args).code, 0u) << c.name << ": " << cmd;
  }
  // The same object advances once the output is the display again.
  EXPECT_EQ(vm.Frame(ad).code, 0u);
  EXPECT_EQ(p.frames, 1);
  EXPECT_EQ(vm.Run("cancelasyncdraw", ad).code, 0u);
  EXPECT_EQ(p.frees, 1);
  EXPECT_EQ(p.freeFlag, 0);
  EXPECT_EQ(p.finishes, 0);
}

TEST(AsyncDrawCommands, FrameJumpsAndFinish) {
  AsyncVm vm;
  FakeProducer p;
  p.total = 10;
  qmAsyncDraw *ad = p.Start(vm.Scene());
  EXPECT_FALSE(vm.FrameAt(ad, 1).finished);  // current + 1: one frame
  EXPECT_EQ(p.frames, 1);
  EXPECT_FALSE(vm.FrameAt(ad, 6).finished);  // a jump
  EXPECT_EQ(p.seeks, 1);
  EXPECT_EQ(p.current, 6);
  EXPECT_EQ(p.redraws, 1);
  EXPECT_EQ(vm.FrameAt(ad, 11).code, uint32_t(ERR_ANIMFRAME));
  // GetAttribute reads the producer's counts.
  EXPECT_EQ(vm.Call("GetAttribute", {int(QMTYPE_ASYNCDRAW), 99, ATTRCOUNT}).results, std::vector<double>{1});
  auto attr = [&](int32_t attribute) {
    return vm.CallWith("getattribute", [&] {
      vm_pushnumber(vm.L, QMTYPE_ASYNCDRAW);
      vm_pushlightuserdata(vm.L, ad);
      vm_pushnumber(vm.L, attribute);
      return 3;
    });
  };
  EXPECT_EQ(attr(ATTRTYPE).results, std::vector<double>{ADF_FX});
  EXPECT_EQ(attr(ATTRNUMFRAMES).results, std::vector<double>{10});
  EXPECT_EQ(attr(ATTRCURFRAME).results, std::vector<double>{6});
  EXPECT_EQ(attr(ATTRWIDTH).code, uint32_t(ERR_UNKNOWNATTR));
  EXPECT_EQ(vm.Call("GetAttribute", {int(QMTYPE_ASYNCDRAW), 99, ATTRTYPE}).code, uint32_t(ERR_FINDASYNCDRAW));
  // Without layers no jumps.
  ASSERT_EQ(vm.Call("DisableLayers", {}).code, 0u);
  EXPECT_EQ(vm.FrameAt(ad, 8).code, uint32_t(ERR_NOLAYERS));
  EXPECT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  // A jump to the last frame answers True; FinishAsyncDraw then completes with that word.
  EXPECT_TRUE(vm.FrameAt(ad, 10).finished);
  EXPECT_EQ(vm.Run("finishasyncdraw", ad).code, 0u);
  EXPECT_EQ(p.finishes, 1);
  EXPECT_EQ(p.finishFlag, 1);
  EXPECT_EQ(p.frees, 1);
  EXPECT_EQ(p.freeFlag, 1);
  EXPECT_EQ(vm.Call("GetAttribute", {int(QMTYPE_ASYNCDRAW), 99, ATTRCOUNT}).results, std::vector<double>{0});
}

TEST(AsyncDrawCommands, ClsKeepsEveryLayerWhileOneIsDrawnAsynchronously) {
  AsyncVm vm;
  ASSERT_EQ(vm.Call("Box", {0, 0, 10, 10, 0xFF0000}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {5, 5, 10, 10, 0x00FF00}).code, 0u);
  auto layers = [&] { return vm.Call("GetAttribute", {int(QMTYPE_DISPLAY), 0, ATTRLAYERS}).results; };
  ASSERT_EQ(layers(), std::vector<double>{2});
  FakeProducer p;
  p.drawn = PictureLayerAt(vm.Scene(), vm.Scene()->picture, 2);
  ASSERT_NE(p.drawn, nullptr);
  qmAsyncDraw *ad = p.Start(vm.Scene());
  EXPECT_EQ(vm.Call("Cls", {}).code, uint32_t(ERR_REMADLAYER));
  EXPECT_EQ(layers(), std::vector<double>{2});
  EXPECT_EQ(vm.Run("cancelasyncdraw", ad).code, 0u);
  EXPECT_EQ(vm.Call("Cls", {}).code, 0u);
  EXPECT_EQ(layers(), std::vector<double>{0});
}

TEST(AsyncDrawCommands, ObjectsEndWithTheirDisplayAndAtExit) {
  FakeProducer onTwo, onOne, second;
  {
    AsyncVm vm;
    ASSERT_EQ(vm.Call("SelectDisplay", {2}).code, 0u);
    onTwo.readOnFree = vm.Display(2);
    qmAsyncDraw *a = onTwo.Start(vm.Scene());
    ASSERT_EQ(vm.Call("SelectDisplay", {1}).code, 0u);
    onOne.readOnFree = second.readOnFree = vm.Display(1);
    onOne.Start(vm.Scene());
    // FreeDisplay refuses a display that still has asynchronous drawing.
    EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, uint32_t(ERR_ADFFREEDISP));
    EXPECT_EQ(onTwo.frees, 0);
    // Opening and closing display 2 ends its object, once, with flag 0.
    ASSERT_EQ(vm.Call("OpenDisplay", {2, 1}).code, 0u);
    ASSERT_EQ(vm.Call("CloseDisplay", {2}).code, 0u);
    EXPECT_EQ(onTwo.frees, 1);
    EXPECT_EQ(onTwo.freeFlag, 0);
    EXPECT_EQ(onTwo.finishes, 0);
    EXPECT_EQ(vm.Frame(a).code, uint32_t(ERR_FINDARRAY));
    EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, 0u);
    EXPECT_EQ(onOne.frees, 0);
    // An automatic id is the record's address: a new object may be given the freed one's, and
    // then the old handle names the new object. Only a different address must stay unknown.
    if (second.Start(vm.Scene()) != a) {
      EXPECT_EQ(vm.Frame(a).code, uint32_t(ERR_FINDARRAY));
    }
  }
  // The shut-down ended the rest, each once, while their display still existed.
  for (FakeProducer *p : {&onTwo, &onOne, &second}) {
    EXPECT_EQ(p->frees, 1);
    EXPECT_EQ(p->freeFlag, 0);
  }
  EXPECT_EQ(onTwo.widthOnFree, 32);
  EXPECT_EQ(onOne.widthOnFree, 64);
  EXPECT_EQ(second.widthOnFree, 64);
}

}  // namespace
