// Runtime tags, their hooks and the plug-in hook list.
#include <gtest/gtest.h>

#include "runtime/errmessages.h"
#include "runtime/rttags.h"
#include "runtime/vm/vm_state.h"

namespace {

struct TagScope {
  VmErrorState err;
  TagScope() {
    ResetErrorState(&err);
    BindErrorState(&err);
  }
  ~TagScope() {
    ResetRuntimeTags();
    BindErrorState(nullptr);
  }
};

uintptr_t Get(uint32_t tag, uint32_t *answered = nullptr) {
  uintptr_t v = 12345;
  qmTagItem tags[] = {{tag, reinterpret_cast<uintptr_t>(&v)}, {0, 0}};
  uint32_t n = GetRuntimeTags(nullptr, tags);
  if (answered) *answered = n;
  return v;
}

TEST(RuntimeTags, StartValuesAndSetting) {
  TagScope s;
  EXPECT_EQ(Get(RTTAG_EVENTTIMEOUT), 1500u);
  EXPECT_EQ(Get(RTTAG_EXITONERROR), 1u);
  qmTagItem set[] = {{RTTAG_CALLBACKDEPTH, 1}, {RTTAG_CALLBACKDEPTH, 1}, {RTTAG_CALLBACKDEPTH, 0},
                     {RTTAG_EXITONERROR, 0},   {RTTAG_QUIET, 1},         {RTTAG_LINEINFO, 1},
                     {77, 5},                  {0, 0}};
  EXPECT_EQ(SetRuntimeTags(nullptr, set), 6u);  // 77: no hook takes it
  EXPECT_EQ(Get(RTTAG_CALLBACKDEPTH), 1u);
  EXPECT_EQ(s.err.callbackdepth, 1u);
  EXPECT_EQ(s.err.exitonerror, 0u);
  EXPECT_TRUE(IsQuiet());
  EXPECT_TRUE(IsLineInfoOn());
  uint32_t answered = 9;
  Get(RTTAG_LINEINFO, &answered);  // readable through hooks only
  EXPECT_EQ(answered, 0u);
  qmTagItem down[] = {{RTTAG_CALLBACKDEPTH, 0}, {RTTAG_CALLBACKDEPTH, 0}, {0, 0}};
  SetRuntimeTags(nullptr, down);
  EXPECT_EQ(s.err.callbackdepth, 0u);  // never below zero
}

TEST(RuntimeTags, HooksAnswerInOrderAndHoldPointers) {
  TagScope s;
  static uintptr_t stored;
  static int firstCalls;
  stored = 0;  // of an earlier run of the program's tests
  firstCalls = 0;
  ASSERT_EQ(AddSetTagHook([](void *, uint32_t tag, uintptr_t v) {
              firstCalls++;
              if (tag != 4) return 0;
              stored = v;
              return 1;
            }),
            0u);
  ASSERT_EQ(AddSetTagHook([](void *, uint32_t tag, uintptr_t) { return tag == 4 || tag == 5 ? 1 : 0; }), 0u);
  ASSERT_EQ(AddGetTagHook([](void *, uint32_t tag, uintptr_t *r) {
              if (tag != 4) return 0;
              *r = stored;
              return 1;
            }),
            0u);
  int object;
  qmTagItem set[] = {{4, reinterpret_cast<uintptr_t>(&object)}, {5, 1}, {0, 0}};
  EXPECT_EQ(SetRuntimeTags(nullptr, set), 2u);
  EXPECT_EQ(firstCalls, 2);
  EXPECT_EQ(Get(4), reinterpret_cast<uintptr_t>(&object));  // a full 64-bit address survives
  uint32_t answered;
  Get(5, &answered);
  EXPECT_EQ(answered, 0u);
}

TEST(PluginHooks, OnlyKindZero) {
  TagScope s;
  EXPECT_EQ(AddPluginHook(1, 1, 2), 0);
  EXPECT_EQ(AddPluginHook(0, 10, 20), 1);
  EXPECT_EQ(AddPluginHook(0, 11, 21), 1);
  const qmPluginHook *h = GetPluginHooks();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->first, 10u);
  EXPECT_EQ(h->second, 20u);
  ASSERT_NE(h->next, nullptr);
  EXPECT_EQ(h->next->first, 11u);
  EXPECT_EQ(h->next->next, nullptr);
}

}  // namespace
