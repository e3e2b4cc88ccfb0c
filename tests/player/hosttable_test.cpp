// The host table's guard: a host function that fails answers a neutral value and leaves its
// code for the caller of the plug-in, with the VM put back, even outside any protected call.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "player/plugins.h"
#include "runtime/applet.h"
#include "runtime/errcodes.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "runtime/vnames.h"
#include "display/displayhooks.h"
#include "runtime/rttags.h"
#include "tests/display/brush/brush_vm.h"
#include "tests/platform/tempdir.h"
#include "tools/appletwriter.h"
#include "tests/runtime/rt_test_util.h"

namespace {

template <typename F>
F Slot(int slot) {
  return reinterpret_cast<F>(GetHostTable()->sub[HOSTSUB_VM][slot]);
}

double CheckNumber(VmState *L, int i) { return Slot<double (*)(VmState *, int)>(HOSTVM_CHECKNUMBER)(L, i); }

// An __index that fails as a command does.
uint32_t FailingIndex(VmState *) { return ERR_MEM; }

}  // namespace

TEST(HostTable, FailingCallsAnswerACode) {
  struct Case {
    const char *name;
    std::function<std::string(VmState *)> call;  // pushes what it needs, calls, gives the answer
    std::string answer;
    uint32_t code;
  } cases[] = {
      {"a check that passes",
       [](VmState *L) {
         vm_pushnumber(L, 5);
         return std::to_string(CheckNumber(L, 1));
       },
       "5.000000", 0},
      {"a number check on a text",
       [](VmState *L) {
         vm_pushstring(L, "x");
         return std::to_string(CheckNumber(L, 1));
       },
       "0.000000", ERR_NUMEXPECTED},
      {"a text check on a table: an empty text",
       [](VmState *L) {
         vm_newtable(L);
         size_t len = 99;
         const char *s = Slot<const char *(*)(VmState *, int, size_t *)>(HOSTVM_CHECKSTRING)(L, 1, &len);
         return "'" + std::string(s) + "' " + std::to_string(len);
       },
       "'' 0", ERR_STREXPECTED},
      {"RaiseError returns",
       [](VmState *L) {
         Slot<void (*)(VmState *, uint32_t)>(HOSTVM_RAISEERROR)(L, 1234);
         return std::string("back");
       },
       "back", 1234},
      {"the first failure is the one kept",
       [](VmState *L) {
         vm_pushstring(L, "x");
         CheckNumber(L, 1);
         Slot<void (*)(VmState *, uint32_t)>(HOSTVM_RAISEERROR)(L, 1234);
         return std::string();
       },
       "", ERR_NUMEXPECTED},
      {"a metamethod failing inside gettable",
       [](VmState *L) {
         vm_newtable(L);
         vm_newtable(L);
         vm_pushstring(L, "__index");
         vm_pushcfunction(L, FailingIndex);
         vm_settable(L, -3);
         vm_setmetatable(L, 1);
         vm_pushstring(L, "key");
         Slot<void (*)(VmState *, int)>(HOSTVM_GETTABLE)(L, 1);
         return std::to_string(vm_gettop(L));
       },
       "2", ERR_MEM},
      {"no memory for a new text",
       [](VmState *L) {
         G(L)->memlimit = G(L)->nblocks;
         Slot<void (*)(VmState *, const char *)>(HOSTVM_PUSHSTRING)(L, "a text not interned yet");
         G(L)->memlimit = 0;
         return std::to_string(vm_gettop(L));
       },
       "0", ERR_MEM},
  };
  for (const Case &c : cases) {
    RtVm vm;
    VmState *L = vm.L;
    SwapHostCallError({});
    EXPECT_EQ(c.call(L), c.answer) << c.name;
    qmHostCallError failure = SwapHostCallError({});
    EXPECT_EQ(failure.code, c.code) << c.name;
    EXPECT_EQ(failure.raised, c.code != 0) << c.name;
    // The VM is back at its base, as a protected call leaves it.
    EXPECT_EQ(L->ci, L->base_ci) << c.name;
    EXPECT_EQ(L->errorJmp, nullptr) << c.name;
  }
}

namespace {

template <typename F>
F HostSlot(int sub, int slot) {
  return reinterpret_cast<F>(GetHostTable()->sub[sub][slot]);
}

}  // namespace

// Every group is filled; the last one holds the built-in faces, then their sizes.
TEST(HostTable, EverySlotIsFilled) {
  const qmHostTable *host = GetHostTable();
  EXPECT_EQ(host->version, 5);
  EXPECT_EQ(host->revision, 2);
  for (int sub = 0; sub < HOSTSUB_COUNT; sub++)
    for (int slot = 0; slot < kHostSubTableSlots[sub]; slot++)
      EXPECT_NE(host->sub[sub][slot], nullptr) << "sub-table " << sub << " slot " << slot;
  const uintptr_t sizes[3] = {65932, 49224, 60280};
  for (int face = 0; face < 3; face++) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(host->sub[HOSTSUB_FONTDATA][3 + face]), sizes[face]) << face;
    // A TrueType face begins with the version 1.0 of its table directory.
    const auto *data = static_cast<const uint8_t *>(host->sub[HOSTSUB_FONTDATA][face]);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(data), 4), std::string("\0\1\0\0", 4)) << face;
  }
}

// The slots that serve a run answer nothing outside one; the file and picture slots work alone.
TEST(HostTable, SlotsOutsideARun) {
  BindHostRun(nullptr);
  char date[64] = "unchanged";
  HostSlot<void (*)(char *, size_t)>(HOSTSUB_SYSTEM, HOSTSYS_FORMATCURRENTDATE)(date, sizeof date);
  EXPECT_STREQ(date, "");
  EXPECT_EQ(HostSlot<uint32_t (*)(const char *)>(HOSTSUB_SYSTEM, HOSTSYS_REGISTERUSEREVENT)("onplugin"), 0u);
  const uintptr_t brush[2] = {1, 0};
  qmHostBrushView view{};
  EXPECT_EQ(HostSlot<void *(*)(const uintptr_t *, void *, qmHostBrushView *)>(HOSTSUB_DISPLAY, HOSTDISP_LOCKBRUSH)(
                brush, nullptr, &view),
            nullptr);
  qmHostSampleLock sample{};
  EXPECT_EQ(HostSlot<void *(*)(const uintptr_t *, int32_t, void *, qmHostSampleLock *)>(HOSTSUB_SOUND,
                                                                                       HOSTSOUND_LOCKSAMPLE)(
                brush, 0, nullptr, &sample),
            nullptr);

  TempDir dir;
  EXPECT_STREQ(HostSlot<const char *(*)(const char *)>(HOSTSUB_FILE, HOSTFILE_GETFILEPART)("a/b/c.txt"), "c.txt");
  char cwd[1100] = {};
  HostSlot<char *(*)(char *, size_t)>(HOSTSUB_FILE, HOSTFILE_GETCURRENTDIRNAME)(cwd, sizeof cwd);
  EXPECT_EQ(std::string(cwd), std::filesystem::current_path().string());

  // A 2 x 1 BMP of 24 bits: blue, green and red bytes, the row padded to 8 bytes.
  std::vector<uint8_t> bmp(54 + 8, 0);
  auto le = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; i++) bmp[at + i] = uint8_t(v >> (8 * i));
  };
  bmp[0] = 'B', bmp[1] = 'M';
  le(2, uint32_t(bmp.size()), 4), le(10, 54, 4), le(14, 40, 4), le(18, 2, 4), le(22, 1, 4), le(26, 1, 2), le(28, 24, 2);
  const uint8_t row[6] = {0x33, 0x22, 0x11, 0xCC, 0xBB, 0xAA};
  std::copy(row, row + 6, bmp.begin() + 54);
  qmtools::WriteBytes(dir / "p.bmp", bmp);
  int32_t w = 0, h = 0, alpha = -1;
  EXPECT_EQ(HostSlot<int (*)(const char *, int32_t *, int32_t *, int32_t *)>(HOSTSUB_DISPLAY, HOSTDISP_GETIMAGESIZE)(
                (dir / "p.bmp").c_str(), &w, &h, &alpha),
            1);
  EXPECT_EQ(std::vector<int32_t>({w, h, alpha}), std::vector<int32_t>({2, 1, 0}));
  void *image = HostSlot<void *(*)(const char *, void *, int32_t *, int32_t *, int32_t *)>(
      HOSTSUB_DISPLAY, HOSTDISP_LOADIMAGE)((dir / "p.bmp").c_str(), nullptr, &w, &h, &alpha);
  ASSERT_NE(image, nullptr);
  // ABGR, opaque: the picture has no alpha channel.
  const uint32_t *pixels = HostSlot<uint32_t *(*)(void *)>(HOSTSUB_DISPLAY, HOSTDISP_GETBITMAPPIXELS)(image);
  EXPECT_EQ(pixels[0], 0xFF332211u);
  EXPECT_EQ(pixels[1], 0xFFCCBBAAu);
  HostSlot<void (*)(void *)>(HOSTSUB_DISPLAY, HOSTDISP_FREEIMAGE)(image);
  EXPECT_EQ(HostSlot<void *(*)(const char *, void *, int32_t *, int32_t *, int32_t *)>(
                HOSTSUB_DISPLAY, HOSTDISP_LOADIMAGE)((dir / "none.bmp").c_str(), nullptr, &w, &h, &alpha),
            nullptr);

  // Examining a folder of one file of 5 bytes.
  std::filesystem::create_directory(dir / "sub");
  qmtools::WriteBytes(dir / "sub/five.txt", {1, 2, 3, 4, 5});
  qmVirtualLock *lock = LockVirtualPath((dir / "sub").c_str(), 0);
  ASSERT_NE(lock, nullptr);
  qmHostExamineRecord record{};
  using Examine = int (*)(qmVirtualLock *, qmHostExamineRecord *);
  using ExamineNext = int (*)(qmVirtualLock *, void *, qmHostExamineRecord *);
  EXPECT_EQ(HostSlot<Examine>(HOSTSUB_FILE, HOSTFILE_EXAMINE)(lock, &record), 1);
  EXPECT_EQ(record.name, nullptr);
  EXPECT_EQ(record.isDirectory, 1u);
  ASSERT_EQ(HostSlot<ExamineNext>(HOSTSUB_FILE, HOSTFILE_EXAMINENEXT)(lock, nullptr, &record), 1);
  EXPECT_STREQ(record.name, "five.txt");
  EXPECT_EQ(record.isDirectory, 0u);
  EXPECT_EQ(record.size, 5u);
  EXPECT_EQ(HostSlot<ExamineNext>(HOSTSUB_FILE, HOSTFILE_EXAMINENEXT)(lock, nullptr, &record), 0);
  UnlockVirtualPath(lock);
}

// Bound to a run, the brush, display and sample slots reach its objects.
TEST(HostTable, SlotsOfARun) {
  BrushVm vm;
  ASSERT_EQ(vm.FromArray(1, {0xFF102030, 0xFF405060}, 2, 1).code, 0u);
  const qmHostRun run = {vm.L, nullptr, nullptr, nullptr, nullptr};
  BindHostRun(&run);
  const uintptr_t brush[2] = {1, 0}, missing[2] = {9, 0};
  using Lock = void *(*)(const uintptr_t *, void *, qmHostBrushView *);
  qmHostBrushView view{};
  void *lock = HostSlot<Lock>(HOSTSUB_DISPLAY, HOSTDISP_LOCKBRUSH)(brush, nullptr, &view);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(std::vector<int32_t>({view.width, view.height, view.bytesPerPixel}), std::vector<int32_t>({2, 1, 4}));
  // Bitmaps hold words 0xBBGGRR00 (pixel format 11, the low byte unused).
  EXPECT_EQ(view.pixelFormat, 11);
  const uint32_t p = view.pixels[1];
  EXPECT_EQ((p >> 8 & 0xFF) << 16 | (p >> 16 & 0xFF) << 8 | p >> 24, 0x405060u);
  EXPECT_EQ(view.mask, nullptr);
  HostSlot<void (*)(void *)>(HOSTSUB_DISPLAY, HOSTDISP_UNLOCKBRUSH)(lock);
  EXPECT_EQ(HostSlot<Lock>(HOSTSUB_DISPLAY, HOSTDISP_LOCKBRUSH)(missing, nullptr, &view), nullptr);

  int32_t w = 0, h = 0, plain = 0;
  qmTagItem tags[] = {{1, uintptr_t(&w)}, {2, uintptr_t(&h)}, {3, uintptr_t(&plain)}, {0, 0}};
  uint32_t *argb = HostSlot<uint32_t *(*)(const uintptr_t *, qmTagItem *)>(HOSTSUB_DISPLAY, HOSTDISP_GETBRUSHARGB)(
      brush, tags);
  ASSERT_NE(argb, nullptr);
  EXPECT_EQ(std::vector<int32_t>({w, h, plain}), std::vector<int32_t>({2, 1, 1}));
  EXPECT_EQ(argb[0], 0xFF102030u);
  HostSlot<void (*)(uint32_t *)>(HOSTSUB_DISPLAY, HOSTDISP_FREEBRUSHARGB)(argb);

  // The display name of a virtual file is written into the run's applet record; a plain name is
  // answered with a part of itself.
  qmApplet applet{};
  qmApplet *own = GetAppletRecord(vm.L);
  SetAppletRecord(vm.L, &applet);
  using FilePart = const char *(*)(const char *);
  const char *shown = HostSlot<FilePart>(HOSTSUB_FILE, HOSTFILE_GETFILEPART)(":::chunk4196:20*pic.png//x/app");
  EXPECT_STREQ(shown, "pic.png");
  EXPECT_EQ(shown, applet.displayName);
  const char *plainName = "a/b/c.txt";
  EXPECT_EQ(HostSlot<FilePart>(HOSTSUB_FILE, HOSTFILE_GETFILEPART)(plainName), plainName + 4);
  SetAppletRecord(vm.L, own);

  // A satellite through the slots: attached to display 1, its reported click is the display's.
  using Attach = qmDisplayHook *(*)(const uintptr_t *, qmDisplayHookFunction, void *, qmTagItem *);
  const uintptr_t display[2] = {1, 0};
  qmDisplayHook *node = HostSlot<Attach>(HOSTSUB_DISPLAY, HOSTDISP_ATTACHDISPLAYHOOK)(
      display, [](qmDisplayHook *, uint32_t, void *, void *) {}, nullptr, nullptr);
  ASSERT_NE(node, nullptr);
  RemoveEvents(kRemoveAllEvents, 1);
  HostSlot<void (*)(qmDisplayHook *, uint32_t, uint32_t, uint32_t, uint32_t)>(
      HOSTSUB_SYSTEM, HOSTSYS_POSTHOOKEDDISPLAYEVENT)(node, 1, 3, 4, 1);
  qmQueuedEvent e{};
  ASSERT_EQ(PeekEvent(0, &e, 0), 1u);
  EXPECT_EQ(e.type, uint32_t(EVENT_LEFTBUTTON));
  EXPECT_EQ(e.owner, vm.d);
  HostSlot<void (*)(qmDisplayHook *)>(HOSTSUB_DISPLAY, HOSTDISP_DETACHDISPLAYHOOK)(node);
  EXPECT_EQ(vm.d->satellites, nullptr);
  BindHostRun(nullptr);
}
