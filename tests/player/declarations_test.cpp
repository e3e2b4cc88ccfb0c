// Which declarations share one decoding of their picture file: the first of a file keeps it in
// the graphics cache, the later ones (names compared without regard to case) take it from there.
#include <gtest/gtest.h>

#include <vector>

#include "player/appletrecord.h"
#include "player/declarations.h"

namespace {

TEST(Declarations, PicturesOfOneFileAreMarkedForOneDecoding) {
  qmPlayerApplet applet{};
  struct Decl {
    int32_t type;
    const char *file;
    uint32_t cache, cachedLoad;  // expected marks
  } decls[] = {
      {DECL_BGPIC, "a.png", 1, 0},  {DECL_BRUSH, "A.PNG", 0, 0},  {DECL_BGPIC, "A.png", 0, 1},
      {DECL_BGPIC, "b.png", 0, 0},  {DECL_BGPIC, "a.PNG", 0, 1},  {DECL_BRUSH, "b.png", 0, 0},
  };
  std::vector<qmDeclaration *> nodes;
  uint32_t id = 1;
  for (const Decl &d : decls) {
    qmDeclaration *node = nullptr;
    qmImageDecl image{};
    image.globalAlpha = -1;
    ASSERT_EQ(AddDeclaration(&applet, d.type, id++, d.file, 0xFFFFFFFFu, 0, 1, 1,
                             d.type == DECL_BRUSH ? static_cast<const void *>(&image) : nullptr, &node),
              0u);
    nodes.push_back(node);
  }
  MarkSharedLoads(&applet);
  for (size_t i = 0; i < nodes.size(); i++) {
    const Decl &d = decls[i];
    if (d.type == DECL_BGPIC) {
      const auto *r = static_cast<const qmBGPicDecl *>(nodes[i]->record);
      EXPECT_EQ(r->cache, d.cache) << i;
      EXPECT_EQ(r->cachedLoad, d.cachedLoad) << i;
    } else {
      const auto *r = static_cast<const qmImageDecl *>(nodes[i]->record);
      EXPECT_EQ(r->cache + r->cachedLoad, 0u) << i << ": a brush shares nothing with a picture";
    }
  }
  FreeDeclarations(&applet);
}

}  // namespace
