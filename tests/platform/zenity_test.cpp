// The dialog program's command lines and the reading of its answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/zenity.h"

namespace {

bool Has(const std::vector<std::string> &args, const std::string &a) {
  for (const std::string &x : args)
    if (x == a) return true;
  return false;
}

}  // namespace

TEST(Zenity, MessageArguments) {
  std::vector<std::string> args = ZenityMessageArgs("Title", "a < b & c", {"Yes", "No", "Cancel"});
  std::vector<std::string> expected = {"zenity", "--question", "--switch", "--no-wrap", "--title=Title",
                                       "--text=a &lt; b &amp; c", "--extra-button=Yes", "--extra-button=No",
                                       "--extra-button=Cancel"};
  EXPECT_EQ(args, expected);
  struct Case {
    int status;
    const char *output;
    int expected;
  } cases[] = {{1, "Yes\n", 1}, {1, "No\n", 2}, {1, "Cancel\n", 0}, {1, "", 0}, {1, "Other\n", 0}};
  for (const Case &c : cases)
    EXPECT_EQ(ZenityMessageResult(c.status, c.output, {"Yes", "No", "Cancel"}), c.expected) << c.output;
}

TEST(Zenity, FileArgumentsAndFilterGlobs) {
  qmFilePanelRequest open{"Open", "/home/u", "a.jpg", {".jpg", ".PNG"}, 0, 1};
  std::vector<std::string> args = ZenityFileArgs(open);
  EXPECT_TRUE(Has(args, "--filename=/home/u/a.jpg"));
  EXPECT_TRUE(Has(args, "--multiple"));
  EXPECT_TRUE(Has(args, "--separator=\n"));
  EXPECT_TRUE(Has(args, "--file-filter=*.[jJ][pP][gG] *.[pP][nN][gG]"));
  EXPECT_FALSE(Has(args, "--save"));

  qmFilePanelRequest save{"Save", "/tmp/", "", {}, 1, 0};
  args = ZenityFileArgs(save);
  EXPECT_TRUE(Has(args, "--save"));
  EXPECT_TRUE(Has(args, "--filename=/tmp/"));
  EXPECT_FALSE(Has(args, "--multiple"));

  EXPECT_EQ(CaselessGlob(".tar.gz"), "*.[tT][aA][rR].[gG][zZ]");
  EXPECT_EQ(CaselessGlob(".a[1]"), "*.[aA][[]1[]]");

  args = ZenityFolderArgs("Where", "/srv");
  EXPECT_TRUE(Has(args, "--directory"));
  EXPECT_TRUE(Has(args, "--filename=/srv/"));
}

TEST(Zenity, FileAnswers) {
  std::string folder;
  std::vector<std::string> names;
  EXPECT_EQ(ZenityFileResult(0, "/home/u/pics/a.png\n/home/u/pics/b c.png\n/home/u/pics/c.png\n", &folder, &names), 1);
  EXPECT_EQ(folder, "/home/u/pics");
  EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b c.png", "c.png"}));
  EXPECT_EQ(ZenityFileResult(0, "/top.txt\n", &folder, &names), 1);
  EXPECT_EQ(folder, "/");
  EXPECT_EQ(ZenityFileResult(1, "", &folder, &names), 0);
  EXPECT_EQ(ZenityFileResult(0, "", &folder, &names), -1);
  EXPECT_EQ(ZenityFileResult(0, "relative.txt\n", &folder, &names), -1);
  EXPECT_EQ(ZenityFileResult(0, "/home/u/\n", &folder, &names), -1);
}

TEST(Zenity, ColourAnswers) {
  struct Case {
    const char *text;
    int32_t expected;
  } cases[] = {
      {"rgb(255,128,0)", 0xff8000}, {"rgba(1,2,3,0.5)", 0x010203}, {"#a0b0c0", 0xa0b0c0},
      {"#ffff00000000", 0xff0000},  {"#0101", -1},                 {"rgb(256,0,0)", -1},
      {"", -1},                     {"#zzzzzz", -1},               {"rgb(1,2)", -1},
  };
  for (const Case &c : cases) EXPECT_EQ(ParseZenityColor(c.text), c.expected) << c.text;
  std::vector<std::string> args = ZenityColorArgs("C", -1);
  EXPECT_TRUE(Has(args, "--color=#000000"));
  args = ZenityColorArgs("C", 0xabcdef);
  EXPECT_TRUE(Has(args, "--color=#abcdef"));
}

TEST(Zenity, ListArgumentsAndAnswers) {
  std::vector<std::string> args = ZenityListArgs("L", "Pick", {"one", "two"}, -1);
  std::vector<std::string> tail(args.end() - 5, args.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"--", "0", "one", "1", "two"}));
  EXPECT_TRUE(Has(args, "--print-column=1"));
  args = ZenityListArgs("L", "Pick", {"one", "two"}, 1);
  tail.assign(args.end() - 6, args.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"FALSE", "0", "one", "TRUE", "1", "two"}));
  EXPECT_TRUE(Has(args, "--radiolist"));

  struct Case {
    int status;
    const char *output;
    int result;
    int32_t index;
  } cases[] = {{0, "1\n", 1, 1}, {0, "0|0\n", 1, 0}, {0, "\n", 1, -1}, {1, "", 0, 9},
               {0, "7\n", -1, 9}, {0, "x\n", -1, 9}, {0, "-1\n", -1, 9}};
  for (const Case &c : cases) {
    int32_t index = 9;
    EXPECT_EQ(ZenityListResult(c.status, c.output, 2, &index), c.result) << c.output;
    EXPECT_EQ(index, c.index) << c.output;
  }
}

TEST(Zenity, TextEntryArguments) {
  qmTextEntryRequest r{"T", "Name?", "x", 0, 10, 1};
  std::vector<std::string> args = ZenityTextArgs(r, "start");
  EXPECT_TRUE(Has(args, "--entry"));
  EXPECT_TRUE(Has(args, "--entry-text=start"));
  EXPECT_TRUE(Has(args, "--hide-text"));
  r.password = 0;
  EXPECT_FALSE(Has(ZenityTextArgs(r, ""), "--hide-text"));
}
