#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/memory.h"
#include "player/system/system_platform.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "tests/player/system/system_test_util.h"

namespace {

// What the fake dialogs were asked and answer.
struct FakeDialogs {
  std::string lastCall;
  int begins = 0, ends = 0;
  int32_t confirm = 1;
};
FakeDialogs gFake;

char *Dup(const char *text, size_t n) {
  char *p = static_cast<char *>(MemAlloc(static_cast<uint32_t>(n), 1));
  std::memcpy(p, text, n);
  return p;
}

uint32_t FakeFile(const char *title, const char *pattern, int32_t mode, const char *folder, const char *file,
                  int32_t *confirmed, qmFileRequestResult *out) {
  gFake.lastCall = std::string(title) + "|" + pattern + "|" + std::to_string(mode) + "|" + (folder ? folder : "-") +
                   "|" + (file ? file : "-");
  *confirmed = gFake.confirm;
  if (!gFake.confirm) return 0;
  out->folder = Dup("/home/u/pics", 13);
  out->names = Dup("a.png\0b.png\0c.png", 18);
  out->count = mode == 1 ? 3 : 1;
  return 0;
}

uint32_t FakeText(const char *, const char *, const char *defaultText, int32_t number, int32_t maxLength, int32_t,
                  char *out, int32_t *confirmed) {
  gFake.lastCall = std::string(defaultText) + "|" + std::to_string(number) + "|" + std::to_string(maxLength);
  std::strcpy(out, "typed");
  *confirmed = gFake.confirm;
  return 0;
}

uint32_t FakeList(const char *, const char *, const char *entries, uint32_t count, int32_t active, int32_t *index) {
  gFake.lastCall.clear();
  for (uint32_t i = 0; i < count; i++, entries += std::strlen(entries) + 1) gFake.lastCall += std::string(entries) + ",";
  gFake.lastCall += std::to_string(active);
  *index = gFake.confirm ? 1 : -1;
  return 0;
}

uint32_t FakeFont(const char *, const char *, int32_t size, int32_t *confirmed, qmFontRequestResult *out) {
  std::strcpy(out->family, "Helvetica");
  out->size = size ? size : 12;
  out->weight = 200;
  out->slant = 100;
  out->bold = 1;
  *confirmed = 1;
  return 0;
}

// Puts the fake dialogs into the VM's run.
struct InstallFakes {
  explicit InstallFakes(SysVm &vm) {
    gFake = FakeDialogs{};
    qmSystemRequesters *r = &GetPlayerContext(vm.L)->system->requesters;
    r->file = FakeFile;
    r->text = FakeText;
    r->list = FakeList;
    r->font = FakeFont;
    r->begin = [](VmState *) { gFake.begins++; };
    r->end = [](VmState *) { gFake.ends++; };
  }
};

}  // namespace

// Without a desktop layer every dialog fails as a dialog that cannot be made, and the
// clipboard as one that cannot be opened or written; the argument checks come first.
TEST(SystemRequesters, WithoutDesktopLayer) {
  SysVm vm;
  VmState *L = vm.L;
  struct Case {
    const char *command;
    void (*push)(VmState *);
    uint32_t code;
  };
  const Case cases[] = {
      {"systemrequest", [](VmState *L) { for (const char *s : {"t", "b", "OK"}) vm_pushstring(L, s); }, ERR_MEM},
      {"systemrequest", [](VmState *L) { vm_pushstring(L, "t"); }, ERR_MISSINGPARAMTR},
      {"filerequest", [](VmState *L) { vm_pushstring(L, "t"); vm_pushstring(L, "png"); }, ERR_MEM},
      {"filerequest", [](VmState *L) { vm_pushstring(L, "t"); vm_pushstring(L, ""); vm_pushnumber(L, 3); },
       ERR_WRONGUSAGE},
      {"pathrequest", [](VmState *L) { vm_pushstring(L, "t"); }, ERR_MEM},
      {"pathrequest", [](VmState *L) { vm_pushstring(L, "t"); vm_pushnumber(L, 1); }, ERR_WRONGUSAGE},
      {"stringrequest", [](VmState *L) { vm_pushstring(L, "t"); vm_pushstring(L, "b"); }, ERR_MEM},
      {"listrequest", [](VmState *L) { vm_pushstring(L, "t"); vm_pushstring(L, "b"); vm_newtable(L); },
       ERR_WRONGUSAGE},
      {"colorrequest", [](VmState *L) { vm_pushstring(L, "t"); }, ERR_MEM},
      {"fontrequest", [](VmState *L) { vm_pushstring(L, "t"); }, ERR_MEM},
      {"getclipboard", [](VmState *) {}, ERR_CLIPOPEN},
      {"peekclipboard", [](VmState *) {}, ERR_CLIPOPEN},
      {"clearclipboard", [](VmState *) {}, ERR_CLIPWRITE},
      {"setclipboard", [](VmState *L) { vm_pushnumber(L, 1); vm_pushstring(L, "x"); }, ERR_CLIPWRITE},
      {"setclipboard", [](VmState *L) { vm_pushnumber(L, 4); vm_pushstring(L, "x"); }, ERR_WRONGUSAGE},
      {"openurl", [](VmState *) {}, ERR_MISSINGPARAMTR},
  };
  for (const Case &c : cases) EXPECT_EQ(vm.Call(c.command, [&] { c.push(L); }), c.code) << c.command;
}

TEST(SystemRequesters, FileRequestJoinsAndRemembers) {
  SysVm vm;
  InstallFakes fakes(vm);
  VmState *L = vm.L;
  ASSERT_EQ(vm.Call("filerequest", [&] {
    vm_pushstring(L, "Open");
    vm_pushstring(L, "png|jpg");
  }), 0u);
  EXPECT_EQ(vm.Results(), "'/home/u/pics/a.png'");
  EXPECT_EQ(gFake.lastCall, "Open|png|jpg|0|-|-");
  EXPECT_EQ(gFake.begins, 1);
  EXPECT_EQ(gFake.ends, 1);
  // The next request without a folder or file is offered the last choice.
  ASSERT_EQ(vm.Call("filerequest", [&] {
    vm_pushstring(L, "Again");
    vm_pushstring(L, "");
    vm_pushnumber(L, 1);
  }), 0u);
  EXPECT_EQ(gFake.lastCall, "Again||1|/home/u/pics|a.png");
  // Indexed from 0 and ended by an empty entry.
  EXPECT_EQ(vm.ListText(1), "'/home/u/pics/a.png' '/home/u/pics/b.png' '/home/u/pics/c.png' ''");
  gFake.confirm = 0;
  ASSERT_EQ(vm.Call("filerequest", [&] {
    vm_pushstring(L, "Save");
    vm_pushstring(L, "");
    vm_pushnumber(L, 2);
    vm_pushstring(L, "/tmp");
  }), 0u);
  EXPECT_EQ(vm.Results(), "''");
  EXPECT_EQ(gFake.lastCall, "Save||2|/tmp|-");
  ASSERT_EQ(vm.Call("filerequest", [&] {
    vm_pushstring(L, "Several");
    vm_pushstring(L, "");
    vm_pushnumber(L, 1);
  }), 0u);
  EXPECT_EQ(vm.ListText(1), "''");
}

// The dialogs and the remembered folder belong to one run: the next run starts without either.
TEST(SystemRequesters, NextRunStartsAfresh) {
  auto open = [](SysVm &vm) {
    return vm.Call("filerequest", [&] {
      vm_pushstring(vm.L, "Open");
      vm_pushstring(vm.L, "");
    });
  };
  {
    SysVm first;
    InstallFakes fakes(first);
    ASSERT_EQ(open(first), 0u);
  }
  SysVm second;
  EXPECT_EQ(open(second), ERR_MEM);
  InstallFakes fakes(second);
  ASSERT_EQ(open(second), 0u);
  EXPECT_EQ(gFake.lastCall, "Open||0|-|-");
}

TEST(SystemRequesters, StringListAndFontRequests) {
  SysVm vm;
  InstallFakes fakes(vm);
  VmState *L = vm.L;
  struct Case {
    const char *defaultText;
    double type, maxLength;
    uint32_t code;
    const char *seen;  // what the dialog was given
  };
  const Case cases[] = {
      {"hello", 0, 0, 0, "hello|0|1024"},   {"hello", 0, 3, 0, "hel|0|3"},
      {"-12.5", 3, 0, 0, "-12.5|1|1024"},  {"12a", 3, 0, ERR_WRONGUSAGE, ""},
      {"1.2.3", 3, 0, ERR_WRONGUSAGE, ""}, {"x", 1, 0, ERR_WRONGUSAGE, ""},
      {"x", 0, 1025, ERR_WRONGUSAGE, ""},  {"12345", 3, 2, 0, "12|1|2"},
  };
  for (const Case &c : cases) {
    gFake.lastCall.clear();
    EXPECT_EQ(vm.Call("stringrequest", [&] {
      vm_pushstring(L, "t");
      vm_pushstring(L, "b");
      vm_pushstring(L, c.defaultText);
      vm_pushnumber(L, c.type);
      vm_pushnumber(L, c.maxLength);
    }), c.code) << c.defaultText;
    EXPECT_EQ(gFake.lastCall, c.seen) << c.defaultText;
    if (c.code == 0) {
      EXPECT_EQ(vm.Results(), "'typed' 1");
    }
  }
  gFake.confirm = 0;
  ASSERT_EQ(vm.Call("stringrequest", [&] {
    vm_pushstring(L, "t");
    vm_pushstring(L, "b");
  }), 0u);
  EXPECT_EQ(vm.Results(), "'' 0");

  gFake.confirm = 1;
  ASSERT_EQ(vm.Call("listrequest", [&] {
    vm_pushstring(L, "t");
    vm_pushstring(L, "b");
    vm.PushStrings({"one", "", "three"});
  }), 0u);
  EXPECT_EQ(gFake.lastCall, "one, ,three,-1");
  EXPECT_EQ(vm.Results(), "1");
  for (double active : {-2.0, 3.0})
    EXPECT_EQ(vm.Call("listrequest", [&] {
      vm_pushstring(L, "t");
      vm_pushstring(L, "b");
      vm.PushStrings({"one", "two", "three"});
      vm_pushnumber(L, active);
    }), ERR_WRONGUSAGE) << active;

  ASSERT_EQ(vm.Call("fontrequest", [&] { vm_pushstring(L, "t"); }), 0u);
  for (const char *key : {"name", "weight", "italic", "size"}) {
    vm_pushstring(L, key);
    vm_gettable(L, 1);
  }
  EXPECT_EQ(SysValueText(L, 2) + " " + SysValueText(L, 3) + " " + SysValueText(L, 4) + " " + SysValueText(L, 5),
            "'Helvetica Bold Italic' 200 1 12");
}
