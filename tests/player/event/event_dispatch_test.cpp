#include <gtest/gtest.h>

#include "display/scene.h"
#include "runtime/eventdispatch.h"
#include "player/event/event_labels.h"
#include "runtime/eventtimers.h"
#include "player/event/event_user.h"
#include "runtime/polltimer.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/registry.h"
#include "tests/player/event/event_test_util.h"

TEST(EventDispatch, NothingPending) {
  EventVm vm;
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  EXPECT_EQ(GetEventState(vm.L)->next, kNewCycle);
}

TEST(EventDispatch, IntervalsFireAtOnceThenPerPeriodAndTogetherOneByOne) {
  EventVm vm;
  vm_pushnumber(vm.L, 1);
  vm.PushHandler("a");
  vm_pushnumber(vm.L, 100);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  vm_pushnumber(vm.L, 2);
  vm.PushHandler("b");
  vm_pushnumber(vm.L, 100);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  vm.Advance(0);
  EXPECT_EQ(vm.Check(), "Interval 1 3 1 ");
  EXPECT_EQ(vm.Check(), "Interval 2 3 1 ");
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  vm.Advance(50);
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  vm.Advance(50);
  EXPECT_EQ(vm.Check(), "Interval 1 3 1 ");
  EXPECT_EQ(vm.Check(), "Interval 2 3 1 ");
  EXPECT_EQ(EventVm::Log(), (std::vector<std::string>{"a:Interval", "b:Interval", "a:Interval", "b:Interval"}));
}

TEST(EventDispatch, HandlerResultsAreReported) {
  EventVm vm;
  vm_pushnumber(vm.L, 7);
  vm.PushHandler("r");
  vm_pushnumber(vm.L, 10);
  ASSERT_EQ(vm.Call("settimeout", 3), 0u);
  vm.Advance(10);
  vm_settop(vm.L, 0);
  ASSERT_EQ(vm.Call("checkevent", 0), 0u);
  vm_pushstring(vm.L, "results");
  vm_gettable(vm.L, 1);
  ASSERT_EQ(vm_type(vm.L, -1), VM_TTABLE);
  vm_rawgeti(vm.L, -1, 0);
  vm_rawgeti(vm.L, -2, 2);
  EXPECT_STREQ(vm_tostring(vm.L, -2), "r");
  EXPECT_EQ(vm_tonumber(vm.L, -1), 3);
}

TEST(EventDispatch, TimeoutFiresOnceAndIsGoneInsideItsHandler) {
  EventVm vm;
  vm_pushnumber(vm.L, 5);
  vm.PushHandler("t");
  vm_pushnumber(vm.L, 30);
  ASSERT_EQ(vm.Call("settimeout", 3), 0u);
  vm.Advance(29);
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  vm.Advance(1);
  EXPECT_EQ(vm.Check(), "Timeout 5 3 1 ");
  vm.Advance(100);
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  vm_pushnumber(vm.L, 5);
  EXPECT_EQ(vm.Call("cleartimeout", 1), ERR_FINDTIMEOUT);
  EXPECT_EQ(G(vm.L)->err.argnum, 5u);
}

TEST(EventDispatch, IntervalClearedInsideItsOwnHandler) {
  EventVm vm;
  // The handler of interval 1 clears interval 1 and interval 2; interval 3 goes on.
  vm_pushcfunction(vm.L, [](VmState *L) -> uint32_t {
    for (int id : {1, 2}) {
      vm_pushstring(L, "clearinterval");
      vm_gettable(L, VM_GLOBALSINDEX);
      vm_pushnumber(L, id);
      vm_call(L, 1, 0);
    }
    EventVm::Log().push_back("cleared");
    return 0;
  });
  vm_pushnumber(vm.L, 1);
  vm_insert(vm.L, -2);
  vm_pushnumber(vm.L, 10);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  for (int id : {2, 3}) {
    vm_pushnumber(vm.L, id);
    vm.PushHandler(id == 2 ? "two" : "three");
    vm_pushnumber(vm.L, 10);
    ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  }
  vm.Advance(0);
  EXPECT_EQ(vm.Check(), "Interval 1 0 1 ");
  EXPECT_EQ(vm.Check(), "Interval 3 3 1 ");
  vm.Advance(10);
  EXPECT_EQ(vm.Check(), "Interval 3 3 1 ");
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  EXPECT_EQ(EventVm::Log(), (std::vector<std::string>{"cleared", "three:Interval", "three:Interval"}));
}

TEST(EventDispatch, IntervalArgumentsAndReuse) {
  EventVm vm;
  vm_pushnil(vm.L);
  vm.PushHandler("x");
  vm_pushnumber(vm.L, 0);
  EXPECT_EQ(vm.Call("setinterval", 3), ERR_WRONGUSAGE);
  vm_settop(vm.L, 0);
  vm_pushnumber(vm.L, 1);
  vm.PushHandler("f");
  vm_pushnumber(vm.L, 100);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  vm_pushnumber(vm.L, 1);
  vm.PushHandler("g");
  vm_pushnumber(vm.L, 200);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_INTERVAL), 1u);
  vm.Advance(0);
  EXPECT_EQ(vm.Check(), "Interval 1 3 1 ");
  EXPECT_EQ(EventVm::Log(), (std::vector<std::string>{"g:Interval"}));
  vm_pushnumber(vm.L, 1);
  vm_pushnumber(vm.L, 0);
  EXPECT_EQ(vm.Call("changeinterval", 2), ERR_WRONGUSAGE);
  // An automatic id comes back as light user data and clears like any other.
  vm_settop(vm.L, 0);
  vm_pushnil(vm.L);
  vm.PushHandler("auto");
  vm_pushnumber(vm.L, 5);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  ASSERT_EQ(vm_type(vm.L, -1), VM_TLIGHTUSERDATA);
  EXPECT_EQ(vm.Call("clearinterval", 1), 0u);
}

// Queued input goes to the current display's handlers one event at a time, in order.
TEST(EventDispatch, QueuedInputReachesDisplayHandlers) {
  EventVm vm;
  vm.Scene()->current = NewDisplayRecord(1);
  LinkDisplay(vm.Scene(), vm.Scene()->current);
  vm_newtable(vm.L);
  for (const char *ev : {"onkeydown", "onkeyup", "onmousedown", "closewindow"}) {
    vm_pushstring(vm.L, ev);
    vm.PushHandler(ev);
    vm_rawset(vm.L, -3);
  }
  ASSERT_EQ(vm.Call("installeventhandler", 1), 0u);
  EXPECT_EQ(vm.Scene()->current->closeHandled, 1u);
  PostEvent(vm.Scene()->current, 3, 1, 0, 'a', nullptr);
  PostEvent(vm.Scene()->current, 3, 0, 0, 276, nullptr);
  PostEvent(nullptr, 3, 1, 0, 'z', nullptr);  // its display is gone: dropped
  PostEvent(vm.Scene()->current, 1, 5, 5, 1, nullptr);
  PostEvent(vm.Scene()->current, 7, 0, 0, 0, nullptr);
  PostEvent(vm.Scene()->current, 4, 10, 20, 0, nullptr);  // no movewindow handler: dropped
  EXPECT_EQ(vm.Check(), "OnKeyDown 1 3 1 ");
  EXPECT_EQ(vm.Check(), "OnKeyUp 1 3 1 ");
  EXPECT_EQ(vm.Check(), "OnMouseDown 1 3 1 ");
  EXPECT_EQ(vm.Check(), "CloseWindow 1 3 1 ");
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  EXPECT_EQ(EventVm::Log(), (std::vector<std::string>{"onkeydown:OnKeyDown:a", "onkeyup:OnKeyUp: ",
                                                      "onmousedown:OnMouseDown", "closewindow:CloseWindow"}));
  // A number removes only that handler.
  vm_settop(vm.L, 0);
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "onkeydown");
  vm_pushnumber(vm.L, 0);
  vm_rawset(vm.L, -3);
  ASSERT_EQ(vm.Call("installeventhandler", 1), 0u);
  EXPECT_EQ(vm.Scene()->current->handlers[0].function, kNoHandler);
  EXPECT_NE(vm.Scene()->current->handlers[1].function, kNoHandler);
}

TEST(EventDispatch, WaitOrCheckInsideAHandlerIsRefused) {
  EventVm vm;
  vm_pushnumber(vm.L, 1);
  vm_pushcfunction(vm.L, [](VmState *L) -> uint32_t {
    vm_pushstring(L, "waitevent");
    vm_gettable(L, VM_GLOBALSINDEX);
    return vm_call(L, 0, 0);
  });
  vm_pushnumber(vm.L, 10);
  ASSERT_EQ(vm.Call("settimeout", 3), 0u);
  vm.Advance(10);
  EXPECT_EQ(vm.Check(), "error 1055");
  EXPECT_EQ(G(vm.L)->err.callbackdepth, 0u);
}

TEST(EventDispatch, StaleMouseMovesAreNotReported) {
  EventVm vm;
  vm.Scene()->current = NewDisplayRecord(1);
  LinkDisplay(vm.Scene(), vm.Scene()->current);
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "onmousemove");
  vm.PushHandler("move");
  vm_rawset(vm.L, -3);
  ASSERT_EQ(vm.Call("installeventhandler", 1), 0u);
  vm.Scene()->current->pointerMoved = 1;
  GetTimeval(&vm.Scene()->current->pointerMoveTime);
  EXPECT_EQ(vm.Check(), "OnMouseMove 1 3 1 ");
  EXPECT_EQ(vm.Check(), " 0 0 0 ");  // one report per move: the end of the cycle retires the flag
  EXPECT_EQ(vm.Scene()->current->pointerMoved, 0u);
  vm.Scene()->current->pointerMoved = 1;
  GetTimeval(&vm.Scene()->current->pointerMoveTime);
  vm.Scene()->current->pointerMoveTime.seconds -= 5;  // older than the 1500 ms time-out
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
}

TEST(EventDispatch, UserEvents) {
  EventVm vm;
  EXPECT_EQ(RegisterUserEvent(GetEventState(vm.L), "onkeydown", nullptr), 0u);
  EXPECT_EQ(RegisterUserEvent(GetEventState(vm.L), "OnVideoEnd", nullptr), 0u);
  EXPECT_EQ(RegisterUserEvent(GetEventState(vm.L), "myevent", nullptr), 22u);
  EXPECT_EQ(RegisterUserEvent(GetEventState(vm.L), "MyEvent", nullptr), 0u);
  EXPECT_EQ(RegisterUserEvent(GetEventState(vm.L), "other", nullptr), 23u);
  vm_newtable(vm.L);
  vm_pushstring(vm.L, "myevent");
  vm.PushHandler("user");
  vm_rawset(vm.L, -3);
  ASSERT_EQ(vm.Call("installeventhandler", 1), 0u);
  EXPECT_EQ(PostUserEvent(23, nullptr), 1);  // no handler: dropped
  EXPECT_EQ(PostUserEvent(22, nullptr), 1);
  EXPECT_EQ(vm.Check(), "myevent 0 3 1 ");
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
}

TEST(EventDispatch, KeyDownLabelJumpsAndRemovesTheEvent) {
  EventVm vm;
  vm.Scene()->current = NewDisplayRecord(1);
  LinkDisplay(vm.Scene(), vm.Scene()->current);
  ASSERT_EQ(CreateKeyDown(LabelsOf(vm.L), 1, "A"), 0u);
  SetLabelIndex(vm.L, "onkeydown1", 40);
  G(vm.L)->callsiteindex = 10;
  PostEvent(vm.Scene()->current, 3, 1, 0, 'b', nullptr);
  PostEvent(vm.Scene()->current, 3, 1, 0, 'a', nullptr);  // the key matches without regard to case
  PostEvent(vm.Scene()->current, 3, 1, 0, 'c', nullptr);
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "checkevent");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  VmCFunction check = vm_tocfunction(vm.L, -1);
  vm_settop(vm.L, 0);
  EXPECT_EQ(check(vm.L), VM_GOSUB_REQUEST);  // the command's Gosub request to the label
  EXPECT_EQ(G(vm.L)->pendinggosuboffset, 30);
  EXPECT_EQ(GetEventCount(), 1u);  // events up to the matching one are gone
  EXPECT_EQ(LabelsOf(vm.L)->lastKeyCode, static_cast<uint32_t>('a'));
  // Without a label of that name nothing jumps.
  RemoveKeyDown(LabelsOf(vm.L), 1);
  ASSERT_EQ(CreateKeyDown(LabelsOf(vm.L), 2, "c"), 0u);
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
}

TEST(EventDispatch, LabelRegistrations) {
  EventVm vm;
  CreateLabelButton(LabelsOf(vm.L), 3, 0, 0, 9, 9);
  int n = 0;
  for (qmLabelEvent *e = LabelsOf(vm.L)->list; e; e = e->next) n++;
  EXPECT_EQ(n, 3);
  ModifyLabelButton(LabelsOf(vm.L), 4, 1, 1, 2, 2);  // no registration with that id: nothing changes
  EXPECT_EQ(LabelsOf(vm.L)->list->x2, 9);
  RemoveLabelButton(LabelsOf(vm.L), 3);
  EXPECT_EQ(LabelsOf(vm.L)->list, nullptr);
  EXPECT_EQ(RegisterLabelEvent(LabelsOf(vm.L), "closewindow", vm.Scene()->current), 0u);
  ClearLabelEvents(LabelsOf(vm.L), vm.Scene()->current);
  EXPECT_EQ(LabelsOf(vm.L)->list, nullptr);
}

namespace {

// A source of another library at the network's place: it reports its pending events one per
// cycle, each calling the handler the test gave it.
struct FakeNetwork {
  static int &Pending() {
    static int pending = 0;
    return pending;
  }
  static int32_t &Handler() {
    static int32_t ref = -1;
    return ref;
  }
  static int Poll(VmState *, qmEventState *, qmEventMessage *msg) {
    if (Pending() == 0) return EVPOLL_NONE;
    Pending()--;
    msg->type = MSG_DISPLAY;
    std::snprintf(msg->action, sizeof msg->action, "OnReceiveData");
    msg->function = Handler();
    msg->id = qmObjectId{9, 0};
    msg->objectId = &msg->id;
    return EVPOLL_ONCE;
  }
  static void Fill(VmState *L, qmEventMessage *msg) {
    FillAction(L, msg);
    FillId(L, msg, msg->id);
  }
};

const qmEventSource kFakeNetwork = {"network", EVRANK_NETWORK, nullptr, FakeNetwork::Poll, FakeNetwork::Fill, nullptr};

}  // namespace

// A source registered by another library takes its place in the fixed order: after the timers,
// before the queue, one event per cycle; its place cannot be taken twice, nor one outside the
// order.
TEST(EventDispatch, RegisteredSourceWalksInItsPlace) {
  EventVm vm;
  vm.PushHandler("n");
  FakeNetwork::Handler() = vm_ref(vm.L, VM_REGISTRYINDEX);
  // The network library's own source makes way for the fake one.
  GetEventState(vm.L)->sources[EVRANK_NETWORK] = nullptr;
  ASSERT_EQ(RegisterEventSource(vm.L, &kFakeNetwork), 0u);
  EXPECT_EQ(RegisterEventSource(vm.L, &kFakeNetwork), uint32_t(ERR_WRONGUSAGE));
  const qmEventSource outside = {"outside", EVRANK_COUNT, nullptr, FakeNetwork::Poll, FakeNetwork::Fill, nullptr};
  EXPECT_EQ(RegisterEventSource(vm.L, &outside), uint32_t(ERR_WRONGUSAGE));
  const qmEventSource timersAgain = {"timers", EVRANK_TIMERS, nullptr, FakeNetwork::Poll, FakeNetwork::Fill, nullptr};
  EXPECT_EQ(RegisterEventSource(vm.L, &timersAgain), uint32_t(ERR_WRONGUSAGE));

  vm_pushnumber(vm.L, 1);
  vm.PushHandler("i");
  vm_pushnumber(vm.L, 100);
  ASSERT_EQ(vm.Call("setinterval", 3), 0u);
  FakeNetwork::Pending() = 2;
  vm.Advance(0);
  EXPECT_EQ(vm.Check(), "Interval 1 3 1 ");
  EXPECT_EQ(vm.Check(), "OnReceiveData 9 3 1 ");
  EXPECT_EQ(vm.Check(), "OnReceiveData 9 3 1 ");  // the next cycle: once per cycle
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  EXPECT_EQ(EventVm::Log(), (std::vector<std::string>{"i:Interval", "n:OnReceiveData", "n:OnReceiveData"}));
  vm_unref(vm.L, VM_REGISTRYINDEX, FakeNetwork::Handler());
}

// The shared poll interval: the first client adds one interval that calls nothing, the last
// to leave removes it; a second release and an unknown client change nothing.
TEST(EventDispatch, PollTimerIsOneIntervalForBothClients) {
  EventVm vm;
  auto intervals = [&] { return CountObjectsOfType(vm.L, QMTYPE_INTERVAL); };
  EXPECT_EQ(AcquirePollTimer(vm.L, POLL_CLIENT_SOUND), 0u);
  EXPECT_EQ(AcquirePollTimer(vm.L, POLL_CLIENT_EVENTS), 0u);
  EXPECT_EQ(intervals(), 1u);
  qmObjectId poll = kPollIntervalId;
  qmInterval *rec = nullptr;
  ASSERT_EQ(FindInterval(vm.L, &poll, &rec), 0u);
  EXPECT_EQ(rec->function, -1);
  EXPECT_EQ(rec->ms, 20);
  ReleasePollTimer(vm.L, POLL_CLIENT_SOUND);
  ReleasePollTimer(vm.L, POLL_CLIENT_SOUND);
  EXPECT_EQ(intervals(), 1u);
  ReleasePollTimer(vm.L, POLL_CLIENT_EVENTS);
  EXPECT_EQ(intervals(), 0u);
  EXPECT_EQ(AcquirePollTimer(vm.L, POLL_CLIENT_COUNT), uint32_t(ERR_WRONGUSAGE));
  // Firing it wakes the wait but reports nothing to the script.
  EXPECT_EQ(AcquirePollTimer(vm.L, POLL_CLIENT_SOUND), 0u);
  vm.Advance(20);
  EXPECT_EQ(vm.Check(), " 0 0 0 ");
  ReleasePollTimer(vm.L, POLL_CLIENT_SOUND);
  EXPECT_EQ(intervals(), 0u);
}
