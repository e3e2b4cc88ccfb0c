// What a script sets of its run (the draw style, the output settings of a selected mask or alpha
// channel, label registrations and their switches, plug-ins' user events, error texts and tag
// hooks, the event time-out, queued events, the text style and encoding, the fonts it opened and
// the folders it added to the font search, the pictures its declarations kept for each other)
// stays with that run: a run made after it in the same process starts from nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "display/output.h"
#include "display/scene.h"
#include "graphics/alpha_kernels.h"
#include "graphics/draw_style.h"
#include "player/event/event_labels.h"
#include "player/event/event_user.h"
#include "player/system/system_debug.h"
#include "player/system/system_state.h"
#include "platform/memory.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/eventdispatch.h"
#include "runtime/eventqueue.h"
#include "runtime/rttags.h"
#include "text/bitmapfont.h"
#include "text/text/textoutput.h"
#include "tests/player/math/math_test_vm.h"

namespace {

struct Setting {
  const char *name;
  const char *command;
  std::vector<CmdArg> args;
  std::function<bool(VmState *)> taken;  // the run that gave the command shows it
  std::function<bool(VmState *)> fresh;  // a run that never did shows the start value
};

// A tag that only the first run's hook answers.
constexpr uint32_t kHookedTag = 0x51A7;
int AnswerHookedTag(void *, uint32_t tag, uintptr_t *result) {
  if (tag != kHookedTag) return 0;
  *result = 77;
  return 1;
}
int TakeHookedTag(void *, uint32_t tag, uintptr_t) { return tag == kHookedTag; }
int EveryOwnerScales(const void *) { return 1; }
std::string gCaught;
void CatchDebugText(const char *text) { gCaught += text; }

uint32_t TagsAnswered(uint32_t tag) {
  uintptr_t value = 0;
  qmTagItem get[] = {{tag, reinterpret_cast<uintptr_t>(&value)}, {0, 0}};
  return GetRuntimeTags(nullptr, get);
}

uint32_t TagsTaken(uint32_t tag, uintptr_t value) {
  qmTagItem set[] = {{tag, value}, {0, 0}};
  return SetRuntimeTags(nullptr, set);
}

std::string MessageOf(uint32_t code) {
  char text[kErrorMessageSize];
  return FormatErrorMessage(code, text, sizeof text);
}

const qmDrawStyle &StyleOf(VmState *L) { return GetScene(L)->drawStyle; }

// The run's text state; the rows below only read it where it exists.
const qmTextState *TextOf(VmState *L) { return GetTextState(L); }
bool TextIs(VmState *L, bool (*check)(const qmTextState &)) { return TextOf(L) && check(*TextOf(L)); }

const std::vector<Setting> &Settings() {
  static const std::vector<Setting> rows = {
      {"antialiased shapes", "SetFormStyle", {int(FORM_ANTIALIAS)},
       [](VmState *L) { return (StyleOf(L).formStyle & FORM_ANTIALIAS) != 0; },
       [](VmState *L) { return StyleOf(L).formStyle == FORM_NORMAL; }},
      {"line width", "SetLineWidth", {7}, [](VmState *L) { return StyleOf(L).lineWidth == 7; },
       [](VmState *L) { return StyleOf(L).lineWidth == 1; }},
      {"filled shapes", "SetFillStyle", {int(DRAWFILL_COLOR)},
       [](VmState *L) { return StyleOf(L).fillStyle == DRAWFILL_COLOR; },
       [](VmState *L) { return StyleOf(L).fillStyle == DRAWFILL_NONE; }},
      {"mask mode", "SetMaskMode", {int(MASKXOR)},
       [](VmState *L) { return GetOutputMaskMode(GetScene(L)) == MASKXOR; },
       [](VmState *L) { return GetOutputMaskMode(GetScene(L)) == MASKVANILLACOPY; }},
      {"alpha value", "SetAlphaIntensity", {128}, [](VmState *L) { return GetOutputAlphaValue(GetScene(L)) == 128; },
       [](VmState *L) { return GetOutputAlphaValue(GetScene(L)) == kNoAlphaValue; }},
      {"click-all switch", "EnableEvent", {int(LABEL_CLICKALL), 0}, [](VmState *L) { return LabelsOf(L)->clickAll == 1; },
       [](VmState *L) { return LabelsOf(L)->clickAll == 0; }},
      {"over-all switch", "EnableEvent", {int(LABEL_OVERALL), 0}, [](VmState *L) { return LabelsOf(L)->overAll == 1; },
       [](VmState *L) { return LabelsOf(L)->overAll == 0; }},
      {"key-down-all switch", "EnableEvent", {int(LABEL_KEYDOWNALL), 0},
       [](VmState *L) { return LabelsOf(L)->keyDownAll == 1; },
       [](VmState *L) { return LabelsOf(L)->keyDownAll == 0; }},
      {"label button", "CreateButton", {1, 0, 0, 9, 9}, [](VmState *L) { return LabelsOf(L)->list != nullptr; },
       [](VmState *L) { return LabelsOf(L)->list == nullptr; }},
      {"bold text", "SetFontStyle", {int(QM_STYLE_BOLD)},
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.style.style == QM_STYLE_BOLD; }); },
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.style.style == QM_STYLE_NORMAL; }); }},
      {"text shadow", "SetFontStyle", {int(QM_STYLE_SHADOW), 0xFF0000, 9, 5},
       [](VmState *L) {
         return TextIs(L, [](const qmTextState &t) {
           return t.style.shadowColor == 0xFF0000 && t.style.shadowDistance == 9 && t.style.shadowDirection == 5;
         });
       },
       [](VmState *L) {
         return TextIs(L, [](const qmTextState &t) {
           return t.style.shadowColor == 0 && t.style.shadowDistance == 4 && t.style.shadowDirection == 3;
         });
       }},
      {"text edge", "SetFontStyle", {int(QM_STYLE_EDGE), 0x00FF00, 6},
       [](VmState *L) {
         return TextIs(L, [](const qmTextState &t) { return t.style.edgeColor == 0x00FF00 && t.style.edgeSize == 6; });
       },
       [](VmState *L) {
         return TextIs(L, [](const qmTextState &t) { return t.style.edgeColor == 0x0093DD && t.style.edgeSize == 2; });
       }},
      {"text colour", "SetFontColor", {0x123456},
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.style.color == 0x123456; }); },
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.style.color == 0xFFFFFF; }); }},
      {"default encoding", "SetDefaultEncoding", {1},
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.encoding == 1; }); },
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.encoding == 0; }); }},
      {"current font", "SetFont", {CmdArg::Str(":::default_serif"), 14},
       [](VmState *L) {
         return TextIs(L, [](const qmTextState &t) { return t.style.font && t.style.font->size == 14; });
       },
       [](VmState *L) {
         return TextIs(L, [](const qmTextState &t) { return t.style.font == GetTopazFont(); });
       }},
      {"font object", "OpenFont", {1, CmdArg::Str(":::default_mono"), 11},
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.fonts->cache != nullptr; }); },
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.fonts->cache == nullptr; }); }},
      {"font path", "AddFontPath", {CmdArg::Str(QM_SOURCE_DIR "/tests/text")},
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.fonts->paths.size() == 1; }); },
       [](VmState *L) { return TextIs(L, [](const qmTextState &t) { return t.fonts->paths.empty(); }); }},
  };
  return rows;
}

// Gives every command of the table and registers a plug-in's user event.
void SetEverything(MathVm &vm) {
  for (const Setting &s : Settings()) {
    EXPECT_EQ(vm.Call(s.command, s.args).code, 0u) << s.name;
    EXPECT_TRUE(s.taken(vm.L)) << s.name << ": not taken";
  }
  EXPECT_EQ(RegisterUserEvent(GetEventState(vm.L), "runevent", nullptr), kFirstUserEvent);

  // What a plug-in or a library adds to the runtime: an error text of its own, hooks for a tag,
  // the event time-out the script chose, and events still queued (one holding a payload) with a
  // scale query that drops resizes.
  EXPECT_EQ(AddUserError("first run's own error"), kFirstUserError);
  EXPECT_EQ(AddGetTagHook(AnswerHookedTag), 0u);
  EXPECT_EQ(AddSetTagHook(TakeHookedTag), 0u);
  EXPECT_EQ(TagsAnswered(kHookedTag), 1u);
  EXPECT_EQ(vm.Call("SetEventTimeout", {90}).code, 0u);
  EXPECT_EQ(GetEventTimeout(), 90u);
  void *payload = MemAlloc(64, 1);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(PostEvent(nullptr, EVENT_FILESDROPPED, 1, 2, 0, payload), 1);  // the queue frees it
  EXPECT_EQ(PostEvent(nullptr, EVENT_KEY, 1, 0, 'a', nullptr), 1);
  SetEventScaleQuery(EveryOwnerScales);
  EXPECT_EQ(PostEvent(&vm, EVENT_RESIZED, 10, 10, 0, nullptr), 0);
  EXPECT_EQ(GetEventCount(), 2u);

  // Where the debug output of the run goes (a test's sink instead of standard output).
  SetDebugSink(vm.L, CatchDebugText);
  gCaught.clear();
  EXPECT_EQ(vm.Call("DebugStr", {CmdArg::Str("caught")}).code, 0u);
  EXPECT_EQ(gCaught, "caught\n");
}

// The runtime's declaration phase, as start-up switches it around the applet's declarations.
void Declaring(uintptr_t on) {
  qmTagItem tags[] = {{RTTAG_DECLARATIONS, on}, {0, 0}};
  SetRuntimeTags(nullptr, tags);
}

// LoadBrush(id, file, {key = name}): 0 or the code it ended with.
uint32_t LoadBrushNamed(MathVm &vm, int id, const std::string &file, const char *key, const char *name) {
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "loadbrush");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, id);
  vm_pushstring(vm.L, file.c_str());
  vm_newtable(vm.L);
  vm_pushstring(vm.L, key);
  vm_pushstring(vm.L, name);
  vm_settable(vm.L, -3);
  const uint32_t code = vm_pcall(vm.L, 3, 0, 0);
  vm_settop(vm.L, 0);
  return code;
}

// A picture file of the run's own, removed with the test.
struct SavedPicture {
  std::string path = "/tmp/qm_run_state_" + std::to_string(getpid()) + ".bmp";
  ~SavedPicture() { std::remove(path.c_str()); }
};

void ExpectFresh(MathVm &vm, const char *which) {
  for (const Setting &s : Settings()) EXPECT_TRUE(s.fresh(vm.L)) << which << " run sees " << s.name;
  EXPECT_EQ(FindUserEvent(GetEventState(vm.L), kFirstUserEvent), nullptr) << which << " run sees the user event";
  EXPECT_EQ(MessageOf(kFirstUserError), GetErrorText(MSG_UNKNOWN_ERROR)) << which << " run knows a user error";
  EXPECT_EQ(TagsAnswered(kHookedTag), 0u) << which << " run answers the hooked tag";
  const qmSystemState *system = GetPlayerContext(vm.L)->systemState;
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->debugSink, nullptr) << which << " run's debug output goes to a sink";
  EXPECT_EQ(TagsTaken(kHookedTag, 1), 0u) << which << " run takes the hooked tag";
  EXPECT_EQ(GetEventTimeout(), 1500u) << which << " run's event time-out";
  EXPECT_EQ(GetEventCount(), 0u) << which << " run finds queued events";
  // No scale query drops a resize: the display library of this run has not asked for one.
  EXPECT_EQ(PostEvent(&vm, EVENT_RESIZED, 10, 10, 0, nullptr), 1) << which << " run drops a resize";
  RemoveEvents(kRemoveAllEvents, 1);
}

TEST(RunState, ASecondRunSeesNothingOfTheFirst) {
  SavedPicture picture;
  {
    MathVm first;
    ExpectFresh(first, "the first");
    SetEverything(first);
    // A picture its declarations decoded once and kept for the later ones.
    ASSERT_EQ(first.Call("CreateBrush", {9, 4, 3, 0x336699}).code, 0u);
    ASSERT_EQ(first.Call("SaveBrush", {9, CmdArg::Str(picture.path.c_str())}).code, 0u);
    Declaring(1);
    EXPECT_EQ(LoadBrushNamed(first, 10, picture.path, "cache", "kept"), 0u);
    EXPECT_EQ(LoadBrushNamed(first, 11, "/nonexistent.bmp", "cachedload", "kept"), 0u) << "taken from the cache";
    Declaring(0);
  }
  MathVm second;
  ExpectFresh(second, "the second");
  // The same event name is free again, under the first number, and so is the first error code.
  EXPECT_EQ(RegisterUserEvent(GetEventState(second.L), "runevent", nullptr), kFirstUserEvent);
  EXPECT_EQ(AddUserError("second run's own error"), kFirstUserError);
  EXPECT_EQ(MessageOf(kFirstUserError), "second run's own error");
  Declaring(1);
  EXPECT_EQ(LoadBrushNamed(second, 11, "/nonexistent.bmp", "cachedload", "kept"), uint32_t(ERR_CACHEERROR))
      << "the second run's declarations see no picture of the first";
  Declaring(0);
}

}  // namespace
