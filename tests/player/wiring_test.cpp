// The services one library answers for another are put on the player context by the wiring
// alone, and taken off again before the libraries are freed.
#include <gtest/gtest.h>

#include "player/libtable.h"
#include "player/startup.h"
#include "player/wiring.h"
#include "runtime/context.h"
#include "runtime/rtsupport.h"
#include "tests/runtime/vm/vm_test_util.h"

namespace {

// The entries a library answers: a library that fills one in its own init, or a wiring that
// leaves one behind at shut-down, shows here.
struct Entry {
  const char *name;
  bool (*set)(const qmPlayerContext *ctx);
};
const Entry kLibraryEntries[] = {
    {"textObjectPicture", [](const qmPlayerContext *c) { return c->textObjectPicture != nullptr; }},
    {"insertTextObjectLayer", [](const qmPlayerContext *c) { return c->insertTextObjectLayer != nullptr; }},
    {"tagConstant", [](const qmPlayerContext *c) { return c->tagConstant != nullptr; }},
    {"readTextAttribute", [](const qmPlayerContext *c) { return c->readTextAttribute != nullptr; }},
    {"readSoundAttribute", [](const qmPlayerContext *c) { return c->readSoundAttribute != nullptr; }},
    {"readDosAttribute", [](const qmPlayerContext *c) { return c->readDosAttribute != nullptr; }},
    {"readMemoryAttribute", [](const qmPlayerContext *c) { return c->readMemoryAttribute != nullptr; }},
    {"readEventAttribute", [](const qmPlayerContext *c) { return c->readEventAttribute != nullptr; }},
};

}  // namespace

TEST(Wiring, LibraryServicesComeFromTheWiringOnly) {
  VmFixture vm;
  ASSERT_EQ(OpenScriptState(vm.L), 0u);
  ASSERT_EQ(OpenLibraries(vm.L, kPlayerLibraries), 0u);
  const qmPlayerContext *ctx = GetPlayerContext(vm.L);
  ASSERT_NE(ctx, nullptr);
  for (const Entry &e : kLibraryEntries) EXPECT_FALSE(e.set(ctx)) << e.name << " is filled by its library";
  WireLibraryServices(vm.L);
  for (const Entry &e : kLibraryEntries) EXPECT_TRUE(e.set(ctx)) << e.name << " is not wired";
  UnwirePlayerContext(vm.L);
  for (const Entry &e : kLibraryEntries) EXPECT_FALSE(e.set(ctx)) << e.name << " outlives the wiring";
  FreeLibraries(vm.L, kPlayerLibraries);
  FreeRuntimeSupport();
}
