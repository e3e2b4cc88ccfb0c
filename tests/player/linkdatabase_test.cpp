// Link databases: the names they add to the linked-file list and the texts they refuse.
#include "player/linkdatabase.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/appletrecord.h"
#include "runtime/errcodes.h"

namespace {

std::vector<std::string> Names(const qmPlayerApplet &applet) {
  std::vector<std::string> names;
  for (const qmLinkedFile *f = applet.base.linkedFiles; f; f = f->next) names.push_back(f->name);
  return names;
}

TEST(LinkDatabase, NamesAndRefusals) {
  struct Row {
    const char *name;
    std::string text;
    int fonts;
    uint32_t code;
    std::vector<std::string> names;  // the list afterwards, also the names added before an error
  } rows[] = {
      {"bare names, one a line", "a.png\nsub/b.iff\n", 0, 0, {"a.png", "sub/b.iff"}},
      {"blanks, tabs and CR LF around", "  a.png\t \r\n\r\n\tb.png", 0, 0, {"a.png", "b.png"}},
      {"a quoted name keeps its blanks", "\"my file.png\"  \n", 0, 0, {"my file.png"}},
      {"a name again in another case", "a.png\nA.PNG\n", 0, 0, {"a.png"}},
      {"fonts lose .font", "topaz.font\nVera.FONT\nbig.ttf\n", 1, 0,
       {"::font:topaz", "::font:Vera", "::font:big.ttf"}},
      {"empty quotes name nothing", "\"\"\na\n", 0, 0, {"a"}},
      {"empty text", "", 0, 0, {}},
      {"quote closed on the next line", "a\n\"b\nc\"\n", 0, ERR_LFSYNTAX, {"a"}},
      {"quote never closed", "\"b", 0, ERR_LFSYNTAX, {}},
      {"text after a quoted name", "\"a\" b\n", 0, ERR_LFSYNTAX, {}},
      {"two bare names on a line", "a b\n", 0, ERR_LFSYNTAX, {}},
  };
  for (const Row &r : rows) {
    qmPlayerApplet applet{};
    EXPECT_EQ(ParseLinkDatabaseText(&applet, r.text.data(), r.text.size(), r.fonts), r.code) << r.name;
    EXPECT_EQ(Names(applet), r.names) << r.name;
    FreeAppletContents(&applet);
  }
}

}  // namespace
