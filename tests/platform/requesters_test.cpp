// The requester entry points over a fake dialog backend: how answers become results and
// codes, the file filter, and Latin-1 on both sides.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/memory.h"
#include "platform/requesters.h"
#include "runtime/errcodes.h"

namespace {

// What the fake dialogs answer next and what they were last asked.
struct Fake {
  int answer = 1;          // 1 confirmed, 0 cancelled, -1 failed
  std::string pressed;     // the message box's button label
  std::vector<std::string> names;  // the file panel's chosen names
  std::string folder = "/home/u";
  std::string typed;
  int32_t row = 0;
  int32_t colour = 0x123456;
  qmFilePanelRequest fileAsked;
  qmTextEntryRequest textAsked;
  std::string bodyAsked;
  int32_t colourAsked = 0;
};
Fake gFake;

int FakeMessage(const char *, const char *body, const char *buttons) {
  gFake.bodyAsked = body;
  std::vector<std::string> labels = SplitButtonLabels(buttons);
  for (size_t i = 0; i < labels.size(); i++)
    if (labels[i] == gFake.pressed) return ButtonResult(int(i), int(labels.size()));
  return gFake.answer < 0 ? -1 : 0;
}
int FakeFile(const qmFilePanelRequest &r, std::string *folder, std::vector<std::string> *names) {
  gFake.fileAsked = r;
  if (gFake.answer != 1) return gFake.answer;
  *folder = gFake.folder;
  *names = gFake.names;
  return 1;
}
int FakeFolder(const char *, const char *, std::string *path) {
  if (gFake.answer == 1) *path = gFake.folder;
  return gFake.answer;
}
int FakeColor(const char *, int32_t colour, int32_t *out) {
  gFake.colourAsked = colour;
  if (gFake.answer == 1) *out = gFake.colour;
  return gFake.answer;
}
int FakeFont(const char *, const char *family, int32_t size, qmFontChoice *out) {
  if (gFake.answer != 1) return gFake.answer;
  out->family = std::string(family) + " \xe2\x82\xac";  // a euro sign: beyond Latin-1
  out->size = size;
  out->bold = 1;
  out->italic = 0;
  out->underline = 1;
  return 1;
}
int FakeList(const char *, const char *, const std::vector<std::string> &, int32_t, int32_t *index) {
  if (gFake.answer == 1) *index = gFake.row;
  return gFake.answer;
}
int FakeText(const qmTextEntryRequest &r, std::string *out) {
  gFake.textAsked = r;
  if (gFake.answer == 1) *out = gFake.typed;
  return gFake.answer;
}

const qmDialogBackend kFake = {"fake", FakeMessage, FakeFile, FakeFolder, FakeColor, FakeFont, FakeList, FakeText};

class Requesters : public testing::Test {
 protected:
  void SetUp() override {
    gFake = Fake{};
    SetDialogDesktop(nullptr);
    SetDialogBackend(&kFake);
  }
  void TearDown() override { SetDialogBackend(nullptr); }
};

}  // namespace

TEST_F(Requesters, MessageButtonsCountFromTheLeftAndTheLastGivesZero) {
  struct Case {
    const char *buttons, *pressed;
    int32_t expected;
  } cases[] = {
      {"OK", "OK", 0},
      {"Yes|No|Cancel", "Yes", 1},
      {"Yes|No|Cancel", "No", 2},
      {"Yes|No|Cancel", "Cancel", 0},
      {"Save|Discard", "Save", 1},
      {"Save|Discard", "Discard", 0},
      {"A|B|C|D", "C", 3},
  };
  for (const Case &c : cases) {
    gFake.pressed = c.pressed;
    int32_t button = -7;
    EXPECT_EQ(ShowSystemRequester("t", "b", c.buttons, 0, &button), 0u);
    EXPECT_EQ(button, c.expected) << c.buttons << " " << c.pressed;
  }
  // A dialog that cannot be shown answers as its last button.
  gFake.pressed = "";
  gFake.answer = -1;
  int32_t button = -7;
  EXPECT_EQ(ShowSystemRequester("t", "b", "Yes|No", 0, &button), 0u);
  EXPECT_EQ(button, 0);
}

TEST_F(Requesters, ButtonLabelsAreCappedAt32) {
  std::string many;
  for (int i = 0; i < 40; i++) many += (i ? "|" : "") + std::to_string(i);
  std::vector<std::string> labels = SplitButtonLabels(many.c_str());
  ASSERT_EQ(labels.size(), 32u);
  EXPECT_EQ(labels[30], "30");
  EXPECT_EQ(labels[31].substr(0, 3), "31|");  // the rest stays on the last button
  EXPECT_EQ(SplitButtonLabels("").size(), 1u);
}

TEST_F(Requesters, FileFilterTable) {
  struct Case {
    const char *pattern, *name;
    int folder;
    bool shown;
  } cases[] = {
      {"jpg|.png|gif", "a.JPG", 0, true},   {"jpg|.png|gif", "b.png", 0, true},
      {"jpg|.png|gif", "c.gif", 0, true},   {"jpg|.png|gif", "d.bmp", 0, false},
      {"jpg|.png|gif", "pictures", 1, true}, {"jpg|.png|gif", "jpg", 0, false},
      {"*.txt", "d.bmp", 0, true},          {"#?", "d.bmp", 0, true},
      {"", "anything", 0, true},            {"txt", "notes.TXT", 0, true},
      {"txt", "notes.txt.bak", 0, false},   {"tar.gz", "x.TAR.GZ", 0, true},
  };
  for (const Case &c : cases)
    EXPECT_EQ(FilterNavFile(BuildFileFilter(c.pattern), c.name, c.folder), c.shown) << c.pattern << " " << c.name;
  EXPECT_EQ(BuildFileFilter("jpg|.png|gif"), (std::vector<std::string>{".jpg", ".png", ".gif"}));
  EXPECT_TRUE(BuildFileFilter("*.txt").empty());
}

TEST_F(Requesters, MultiSelectGivesOneFolderAndACount) {
  gFake.names = {"a.png", "b.png", "c.png"};
  gFake.folder = "/home/u/pics";
  qmFileRequestResult r{};
  int32_t confirmed = 0;
  ASSERT_EQ(ShowFileRequester("Pick", "png", 1, "/home/u", nullptr, &confirmed, &r), 0u);
  EXPECT_EQ(confirmed, 1);
  EXPECT_EQ(gFake.fileAsked.multiSelect, 1);
  EXPECT_EQ(gFake.fileAsked.save, 0);
  EXPECT_EQ(gFake.fileAsked.extensions, std::vector<std::string>{".png"});
  EXPECT_STREQ(r.folder, "/home/u/pics");
  ASSERT_EQ(r.count, 3u);
  EXPECT_EQ(std::string(r.names, 18), std::string("a.png\0b.png\0c.png", 18));
  MemFree(r.folder);
  MemFree(r.names);

  // Save mode, cancelled: nothing allocated, no error.
  gFake.answer = 0;
  r = qmFileRequestResult{};
  ASSERT_EQ(ShowFileRequester("Save", "", 2, nullptr, "x.txt", &confirmed, &r), 0u);
  EXPECT_EQ(gFake.fileAsked.save, 1);
  EXPECT_EQ(gFake.fileAsked.file, "x.txt");
  EXPECT_EQ(confirmed, 0);
  EXPECT_EQ(r.folder, nullptr);
  EXPECT_EQ(r.names, nullptr);

  // A single-file panel that answers with two names is no answer.
  gFake.answer = 1;
  gFake.names = {"a", "b"};
  EXPECT_EQ(ShowFileRequester("Open", "", 0, nullptr, nullptr, &confirmed, &r), static_cast<uint32_t>(ERR_MEM));
  EXPECT_EQ(r.names, nullptr);
}

TEST_F(Requesters, CancelAndFailureCodes) {
  char text[kStringRequestSize];
  char *path = nullptr;
  int32_t index = 5, colour = 5;
  struct Case {
    int answer;
    uint32_t string, folder, list, color;
  } cases[] = {
      {1, 0, 0, 0, 0},
      {0, ERR_USERABORT, 0, 0, 0},
      {-1, ERR_MEM, ERR_MEM, ERR_MEM, ERR_MEM},
  };
  for (const Case &c : cases) {
    gFake.answer = c.answer;
    EXPECT_EQ(ShowStringRequester("t", "b", "", 0, 0, 0, text), c.string) << c.answer;
    EXPECT_EQ(ShowPathRequester("t", "/", &path), c.folder) << c.answer;
    EXPECT_EQ(path != nullptr, c.answer == 1);
    MemFree(path);
    EXPECT_EQ(ShowListRequester("t", "b", "x\0y", 2, -1, &index), c.list) << c.answer;
    EXPECT_EQ(ShowColorRequester("t", -1, &colour), c.color) << c.answer;
    if (c.answer == 0) {
      EXPECT_EQ(index, -1);
      EXPECT_EQ(colour, -1);
    }
  }
  // The colour picker opens on black for -1.
  EXPECT_EQ(gFake.colourAsked, -1);
}

TEST_F(Requesters, TextsAreLatin1InsideAndUtf8Outside) {
  gFake.typed = "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac!";  // "Grüß €!" in UTF-8
  char text[kStringRequestSize];
  ASSERT_EQ(ShowStringRequester("T\xfctel", "K\xf6rper", "\xe4", 0, 100, 1, text), 0u);
  EXPECT_STREQ(text, "Gr\xfc\xdf ?!");
  EXPECT_EQ(gFake.textAsked.title, "T\xc3\xbctel");
  EXPECT_EQ(gFake.textAsked.body, "K\xc3\xb6rper");
  EXPECT_EQ(gFake.textAsked.defaultText, "\xc3\xa4");
  EXPECT_EQ(gFake.textAsked.password, 1);

  // The limit counts Latin-1 bytes: an answer beyond it is cut there.
  gFake.typed = "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4";
  ASSERT_EQ(ShowStringRequester("t", "b", "", 0, 3, 0, text), 0u);
  EXPECT_STREQ(text, "\xe4\xe4\xe4");

  qmFontRequestResult font{};
  int32_t confirmed = 0;
  ASSERT_EQ(ShowFontRequester("t", "", 0, &confirmed, &font), 0u);
  EXPECT_EQ(confirmed, 1);
  EXPECT_STREQ(font.family, "Helvetica ?");
  EXPECT_EQ(font.size, 12);
  EXPECT_EQ(font.weight, 200);
  EXPECT_EQ(font.slant, 0);
  EXPECT_EQ(font.underline, 1);
}

TEST(DialogNumbers, DecimalNumberText) {
  struct Case {
    const char *text;
    bool whole, partial;
  } cases[] = {
      {"12", true, true},  {"-3.5", true, true}, {".5", true, true},  {"-", false, true},
      {".", false, true},  {"1.2.3", false, false}, {"1e5", false, false}, {"--1", false, false},
      {"", true, true},    {"4-", false, false},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(IsDecimalNumberText(c.text, 0), c.whole) << c.text;
    EXPECT_EQ(IsDecimalNumberText(c.text, 1), c.partial) << c.text;
  }
}

// Nothing to ask with: every dialog is cancelled, the message box gives its last button.
TEST(DialogChain, WithoutDisplayOrTerminalEverythingIsCancelled) {
  EXPECT_EQ(kNoDialogs.message("t", "b", "Yes|No"), 0);
  std::string s;
  EXPECT_EQ(kNoDialogs.folder("t", "/", &s), 0);
  int32_t colour = 0;
  EXPECT_EQ(kNoDialogs.color("t", 0, &colour), 0);
}
