// Registration and reports: commands under lower-cased globals reported by their registered
// spelling, the editor lists, object lookups, exit-on-error, object data, references and
// string buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/memory.h"
#include "runtime/applet.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/errreport.h"
#include "runtime/objdata.h"
#include "runtime/objlist.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "tests/runtime/rt_test_util.h"

namespace {

uint32_t LoadBrush(VmState *L) {
  SetErrorArgument("/data/gfx/title.png");
  (void)L;
  return ERR_READFILE;
}
uint32_t Nothing(VmState *) { return 0; }

const qmCommandEntry kGraphics[] = {
    {"LoadBrush", LoadBrush}, {"DisplayBrush", Nothing}, {"FreeBrush", Nothing}, {nullptr, nullptr}};
const qmCommandEntry kSound[] = {{nullptr, nullptr}};

std::string ReadFile(const std::string &path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// loadbrush("x") on line 3, then record() on line 4.
const char *kScript = R"(
.func maxstack=4 source="@main.qms"
  .k "loadbrush" "x" "after"
  GETGLOBAL 0 k0 @3
  LOADK 1 k1 @3
  CALL 0 2 1 @3
  GETGLOBAL 0 k2 @4
  CALL 0 1 1 @4
  RETURN 0 1 @5
.end
)";

uint32_t gSeenLastError = 0;

struct RegisteredVm : RtVm {
  int afterCalls = 0;
  RegisteredVm() {
    vm_pushvalue(L, VM_GLOBALSINDEX);
    vm_openlib(L, nullptr, kGraphics, 0);
    vm_pop(L, 1);
    EXPECT_EQ(RegisterCommandTable(kGraphics, "graphics"), 0u);
    EXPECT_EQ(RegisterCommandTable(kSound, "sound"), 0u);
    vm_pushstring(L, "after");
    vm_pushlightuserdata(L, &afterCalls);
    vm_pushcclosure(L, [](VmState *L) -> uint32_t {
      (*static_cast<int *>(vm_touserdata(L, vm_upvalueindex(1))))++;
      return 0;
    }, 1);
    vm_settable(L, VM_GLOBALSINDEX);
  }
};

TEST(Commands, LowerCasedGlobalsAndTheEditorList) {
  RegisteredVm vm;
  vm_pushstring(vm.L, "loadbrush");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  EXPECT_EQ(vm_tocfunction(vm.L, -1), &LoadBrush);
  vm_pushstring(vm.L, "LoadBrush");
  vm_rawget(vm.L, VM_GLOBALSINDEX);
  EXPECT_EQ(vm_type(vm.L, -1), VM_TNIL);
  EXPECT_STREQ(FindRegisteredCommandName("LOADBRUSH"), "LoadBrush");

  std::string path = std::string(QM_BINARY_DIR) + "/commands_dump.txt";
  ASSERT_EQ(DumpCommandList(path.c_str()), 1);
  EXPECT_EQ(ReadFile(path), ReadFile(std::string(QM_SOURCE_DIR) + "/tests/runtime/golden/commands.txt"));
  std::remove(path.c_str());
  EXPECT_EQ(DumpCommandList("/nonexistent/dir/list.txt"), 0);

  static const qmConstantEntry constants[] = {{"ERR_MEM", nullptr, 1000}, {nullptr, nullptr, 0}};
  vm_registerconstants(vm.L, constants, 0);
  path = std::string(QM_BINARY_DIR) + "/constants_dump.txt";
  ASSERT_EQ(DumpConstantList(vm.L, path.c_str()), 1);
  EXPECT_EQ(ReadFile(path), "err_mem\n");
  std::remove(path.c_str());
}

TEST(Commands, ErrorStopsTheScriptAndNamesTheCommand) {
  RegisteredVm vm;
  qmTagItem lineInfo[] = {{RTTAG_LINEINFO, 1}, {0, 0}};
  SetRuntimeTags(nullptr, lineInfo);
  vm_registry_setstring(vm.L, "script", "scripts/main.qms");
  EXPECT_EQ(vm.Run(kScript), uint32_t(ERR_READFILE));
  EXPECT_EQ(vm.afterCalls, 0);
  const VmErrorState &err = G(vm.L)->err;
  EXPECT_EQ(err.lastcode, uint32_t(ERR_READFILE));
  EXPECT_STREQ(err.funcname, "LoadBrush");
  EXPECT_EQ(err.line, 3);
  char message[kErrorMessageSize], file[256];
  int32_t line = 0;
  GetErrorReport(vm.L, ERR_READFILE, message, sizeof message, file, sizeof file, &line);
  EXPECT_STREQ(message, "Cannot read file title.png !");
  EXPECT_STREQ(file, "main.qms");
  EXPECT_EQ(line, 4);  // beginline 0: the chunk's line 3 is the file's line 4
  char text[4096];
  BuildScriptErrorText(vm.L, message, 0, text, sizeof text);
  EXPECT_STREQ(text, "Cannot read file title.png !\nFile: main.qms (current line: 4 - In function: LoadBrush)");
  BuildScriptErrorText(vm.L, message, 1, text, sizeof text);
  EXPECT_STREQ(text, "Cannot read file title.png !");
}

TEST(Commands, ExitOnErrorOffRecordsAndGoesOn) {
  RegisteredVm vm;
  qmTagItem off[] = {{RTTAG_EXITONERROR, 0}, {0, 0}};
  SetRuntimeTags(nullptr, off);
  // "after" stands in for GetLastError, the one command that sees the code of the one before.
  G(vm.L)->rt.getlasterror = [](VmState *L) -> uint32_t {
    gSeenLastError = G(L)->err.lastcode;
    return 0;
  };
  vm_pushstring(vm.L, "after");
  vm_pushcfunction(vm.L, G(vm.L)->rt.getlasterror);
  vm_settable(vm.L, VM_GLOBALSINDEX);
  EXPECT_EQ(vm.Run(kScript), 0u);
  EXPECT_EQ(gSeenLastError, uint32_t(ERR_READFILE));
  EXPECT_STREQ(G(vm.L)->err.funcname, "----");
  EXPECT_EQ(G(vm.L)->err.line, -1);
}

TEST(MapErrorLine, AppletIncludes) {
  RtVm vm;
  qmApplet applet{};
  SetAppletRecord(vm.L, &applet);
  AddIncludeFile(&applet, 1, 10, 0, "main.qms", "@main");
  AddIncludeFile(&applet, 11, 30, 4, "lib/util.qms", "@main");
  vm_registry_setstring(vm.L, "script", ":none:");
  VmErrorState &err = G(vm.L)->err;
  CopyString(err.sourcename, "@main", sizeof err.sourcename);
  err.line = 15;
  EXPECT_EQ(MapErrorLine(vm.L), 15 - 11 + 4 + 1);
  err.line = 31;
  EXPECT_EQ(MapErrorLine(vm.L), -1);
  // A script run from its source: lines of its own include entries are added.
  vm_registry_setstring(vm.L, "script", "MAIN.qms");
  vm_registry_setnumber(vm.L, "beginline", 2);
  err.line = 20;
  EXPECT_EQ(MapErrorLine(vm.L), 20 - 2 + 9 + 1);
  FreeAppletLists(&applet);
}

struct Record {
  qmObjectHeader head;
  int payload;
};

TEST(ObjectRegistry, LookupsNeverFollowHandles) {
  RtVm vm;
  Record a{}, b{}, c{};
  qmObjectId number1{1, 0}, automatic{0, 1}, number5{5, 0};
  SetObjectHeader(&a.head, QMTYPE_BRUSH, &number1);
  SetObjectHeader(&b.head, QMTYPE_BRUSH, &automatic);
  SetObjectHeader(&c.head, QMTYPE_SAMPLE, &number5);
  for (Record *r : {&a, &b, &c}) ASSERT_EQ(AddObject(vm.L, &r->head), 0u);
  EXPECT_EQ(b.head.handle, reinterpret_cast<uintptr_t>(&b));
  qmObjectId byNumber{1, 0}, byHandle{0, b.head.handle};
  EXPECT_EQ(FindObject(vm.L, QMTYPE_BRUSH, &byNumber), &a.head);
  EXPECT_EQ(FindObject(vm.L, QMTYPE_BRUSH, &byHandle), &b.head);
  EXPECT_EQ(FindObject(vm.L, QMTYPE_SAMPLE, &byNumber), nullptr);
  EXPECT_EQ(FindObject(vm.L, QMTYPE_SAMPLE, &byHandle), nullptr);  // a handle of another type
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), 2u);
  EXPECT_EQ(GetObjectTypeByHandle(vm.L, b.head.handle), int32_t(QMTYPE_BRUSH));
  EXPECT_EQ(GetObjectTypeByHandle(vm.L, 0), -1);

  // A freed object's automatic id: nothing matches, and the error is ERR_FINDARRAY.
  qmObjectId stale{0, reinterpret_cast<uintptr_t>(new int(1))};
  delete reinterpret_cast<int *>(stale.handle);
  EXPECT_EQ(FindObject(vm.L, QMTYPE_BRUSH, &stale), nullptr);
  EXPECT_EQ(GetObjectTypeByHandle(vm.L, stale.handle), -1);
  EXPECT_EQ(MissingObjectError(&stale, ERR_FINDBRUSH), uint32_t(ERR_FINDARRAY));
  qmObjectId missing{77, 0};
  EXPECT_EQ(MissingObjectError(&missing, ERR_FINDBRUSH), uint32_t(ERR_FINDBRUSH));
  char message[256];
  FormatErrorMessage(ERR_FINDBRUSH, message, sizeof message);
  EXPECT_STREQ(message, "Could not find brush 77!");

  vm_newtable(vm.L);
  EXPECT_EQ(ListObjectsOfType(vm.L, QMTYPE_BRUSH), 2u);
  vm_rawgeti(vm.L, -1, 0);
  EXPECT_EQ(vm_tonumber(vm.L, -1), 1);
  vm_rawgeti(vm.L, -2, 1);
  EXPECT_EQ(vm_touserdata(vm.L, -1), &b);
  vm_pop(vm.L, 2);
  EXPECT_EQ(ListObjectsOfType(vm.L, 40), 0u);
  int entries = 0;
  vm_pushnil(vm.L);
  while (vm_next(vm.L, -2)) {
    entries++;
    vm_pop(vm.L, 1);
  }
  EXPECT_EQ(entries, 2);  // nothing added for a type without objects
  vm_settop(vm.L, 0);
  for (Record *r : {&a, &b, &c}) RemoveObject(vm.L, &r->head);
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), 0u);
  EXPECT_EQ(FindObject(vm.L, QMTYPE_BRUSH, &byHandle), nullptr);
}

// Creation order survives removals from the middle and both ends; a number used twice finds
// the older record until it goes, then the younger one; a type outside the list is refused.
TEST(ObjectRegistry, OrderRemovalAndReusedNumbers) {
  RtVm vm;
  Record r[5]{};
  uint32_t numbers[5] = {7, 8, 7, 9, 10};
  for (int i = 0; i < 5; i++) {
    qmObjectId id{numbers[i], 0};
    SetObjectHeader(&r[i].head, QMTYPE_TIMER, &id);
    r[i].payload = i;
    ASSERT_EQ(AddObject(vm.L, &r[i].head), 0u);
  }
  auto order = [&] {
    std::string s;
    for (qmObjectHeader *h = FirstObject(vm.L, QMTYPE_TIMER); h; h = h->next)
      s += char('0' + reinterpret_cast<Record *>(h)->payload);
    return s;
  };
  qmObjectId seven{7, 0};
  EXPECT_EQ(FindObject(vm.L, QMTYPE_TIMER, &seven), &r[0].head);
  RemoveObject(vm.L, &r[1].head);
  RemoveObject(vm.L, &r[4].head);
  EXPECT_EQ(order(), "023");
  RemoveObject(vm.L, &r[0].head);
  EXPECT_EQ(order(), "23");
  EXPECT_EQ(FindObject(vm.L, QMTYPE_TIMER, &seven), &r[2].head);
  RemoveObject(vm.L, &r[0].head);  // no longer listed: ignored
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_TIMER), 2u);
  RemoveObject(vm.L, &r[2].head);
  RemoveObject(vm.L, &r[3].head);
  EXPECT_EQ(order(), "");
  EXPECT_EQ(FindObject(vm.L, QMTYPE_TIMER, &seven), nullptr);

  Record odd{};
  odd.head.type = kObjectTypeCount + 1;
  EXPECT_EQ(AddObject(vm.L, &odd.head), uint32_t(ERR_FINDARRAY));
  EXPECT_EQ(FindObject(vm.L, kObjectTypeCount + 1, &seven), nullptr);
}

// A new record listed through ListNewObject: an automatic id learns the record's handle; a
// record the lists refuse is freed (the leak checker sees it otherwise) and reported.
TEST(ObjectRegistry, ListNewObjectHandlesAndRefusals) {
  RtVm vm;
  qmObjectRegistry *objects = ObjectRegistryOf(vm.L);
  qmObjectId automatic{0, 1};
  auto *r = static_cast<Record *>(MemAlloc(sizeof(Record), 1));
  ASSERT_NE(r, nullptr);
  SetObjectHeader(&r->head, QMTYPE_TIMER, &automatic);
  ASSERT_EQ(ListNewObject(objects, &r->head, r, &automatic), 0u);
  EXPECT_EQ(automatic.handle, reinterpret_cast<uintptr_t>(&r->head));
  EXPECT_EQ(FindObject(objects, QMTYPE_TIMER, &automatic), &r->head);
  RemoveObject(objects, &r->head);
  MemFree(r);

  qmObjectId numbered{5, 0};
  auto *odd = static_cast<Record *>(MemAlloc(sizeof(Record), 1));
  ASSERT_NE(odd, nullptr);
  SetObjectHeader(&odd->head, kObjectTypeCount + 1, &numbered);
  EXPECT_EQ(ListNewObject(objects, &odd->head, odd, &numbered), uint32_t(ERR_MEM));
  EXPECT_EQ(numbered.handle, 0u);
}

TEST(Labels, IndicesAndReferences) {
  RtVm vm;
  EXPECT_EQ(GetLabelIndex(vm.L, "Start"), -1);
  SetLabelIndex(vm.L, "Start", 12);
  EXPECT_EQ(GetLabelIndex(vm.L, "START"), 12);
  EXPECT_EQ(AddLabelRef(vm.L, "Loop", 3), 0);
  EXPECT_EQ(AddLabelRef(vm.L, "End", 9), 1);
}

TEST(ObjectData, CaseInsensitiveKeysWithReferences) {
  RtVm vm;
  qmObjectData *list = nullptr;
  vm_pushnumber(vm.L, 1);
  ASSERT_EQ(SetObjectDataItem(vm.L, "Name", -1, &list), 0u);
  vm_pushstring(vm.L, "second");
  ASSERT_EQ(SetObjectDataItem(vm.L, "NAME", -1, &list), 0u);
  vm_pushnumber(vm.L, 3);
  ASSERT_EQ(SetObjectDataItem(vm.L, "other", -1, &list), 0u);
  vm_settop(vm.L, 0);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list->key, "Name");
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->next, nullptr);
  vm_getref(vm.L, FindObjectDataItem(list, "name")->ref);
  EXPECT_STREQ(vm_tostring(vm.L, -1), "second");
  qmObjectData *copy = nullptr;
  ASSERT_EQ(CopyObjectDataList(vm.L, list, &copy), 0u);
  EXPECT_EQ(RemoveObjectDataItem(vm.L, &list, "NaMe"), 1);
  EXPECT_EQ(RemoveObjectDataItem(vm.L, &list, "name"), 0);
  vm_getref(vm.L, FindObjectDataItem(copy, "NAME")->ref);
  EXPECT_STREQ(vm_tostring(vm.L, -1), "second");
  FreeObjectDataList(vm.L, list);
  FreeObjectDataList(vm.L, copy);
  qmObjectData *empty = reinterpret_cast<qmObjectData *>(1);
  EXPECT_EQ(CopyObjectDataList(vm.L, nullptr, &empty), 0u);
  EXPECT_EQ(empty, nullptr);
}

// An engine frees an object's data items through the run's registry: the values' references go
// back to the VM (a freed reference number is handed out again), and a null registry or an
// empty list is no fault.
TEST(ObjectData, FreedThroughTheRunsRegistry) {
  RtVm vm;
  qmObjectRegistry *objects = ObjectRegistryOf(vm.L);
  ASSERT_NE(objects, nullptr);
  EXPECT_EQ(ObjectRegistryOwner(objects), vm.L);
  EXPECT_EQ(ObjectRegistryOwner(nullptr), nullptr);
  qmObjectData *list = nullptr;
  vm_pushstring(vm.L, "kept");
  ASSERT_EQ(SetObjectDataItem(vm.L, "key", -1, &list), 0u);
  vm_settop(vm.L, 0);
  const int32_t ref = list->ref;
  FreeObjectDataList(objects, list);
  FreeObjectDataList(objects, nullptr);
  FreeObjectDataList(static_cast<qmObjectRegistry *>(nullptr), nullptr);
  vm_pushnumber(vm.L, 5);
  const int again = vm_ref(vm.L, VM_REGISTRYINDEX);
  EXPECT_EQ(again, ref);
  vm_unref(vm.L, VM_REGISTRYINDEX, again);
}

TEST(AuxLib, ReferencesSizesAndBuffers) {
  RtVm vm;
  VmState *L = vm.L;
  vm_newtable(L);
  vm_pushstring(L, "a");
  int r1 = vm_ref(L, 1);
  vm_pushstring(L, "b");
  int r2 = vm_ref(L, 1);
  EXPECT_EQ(r1, 3);
  EXPECT_EQ(r2, 4);
  vm_pushnil(L);
  EXPECT_EQ(vm_ref(L, 1), VM_REFNIL);
  vm_unref(L, 1, r1);
  vm_unref(L, 1, -5);
  vm_pushstring(L, "c");
  EXPECT_EQ(vm_ref(L, 1), r1);  // reused from the free list
  vm_settop(L, 0);

  vm_newtable(L);
  for (int i = 1; i <= 3; i++) {
    vm_pushnumber(L, i);
    vm_rawseti(L, 1, i);
  }
  EXPECT_EQ(vm_getn(L, 1), 3);
  vm_setn(L, 1, 10);
  EXPECT_EQ(vm_getn(L, 1), 10);
  vm_settop(L, 0);

  VmStrBuffer b;
  vm_buffinit(L, &b);
  std::string expected;
  for (int i = 0; i < 3000; i++) {
    std::string piece = std::to_string(i) + ",";
    vm_addstring(&b, piece.c_str());
    expected += piece;
  }
  vm_pushstring(L, std::string(5000, 'z').c_str());
  vm_addvalue(&b);
  expected += std::string(5000, 'z');
  vm_pushresult(&b);
  EXPECT_EQ(vm_gettop(L), 1);
  EXPECT_EQ(std::string(vm_tostring(L, -1), vm_strlen(L, -1)), expected);
}

}  // namespace
