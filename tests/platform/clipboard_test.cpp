// The clipboard's kinds from a type list, and its text in both directions.
#include <gtest/gtest.h>

#include "platform/clipboard.h"

TEST(Clipboard, KindOfTargets) {
  struct Case {
    const char *targets;
    int32_t kind;
  } cases[] = {
      {"", CLIP_EMPTY},
      {"TARGETS\nTIMESTAMP\n", CLIP_EMPTY},
      {"TARGETS\nUTF8_STRING\nSTRING\n", CLIP_TEXT},
      {"text/plain;charset=utf-8\n", CLIP_TEXT},
      {"TARGETS\nimage/png\n", CLIP_IMAGE},
      {"image/png\ntext/plain\n", CLIP_TEXT},
      {"TARGETS\nx-special/gnome-copied-files\ntext/uri-list\n", CLIP_OTHER},
      {"application/octet-stream", CLIP_OTHER},
  };
  for (const Case &c : cases) EXPECT_EQ(ClipboardKindOfTargets(c.targets), c.kind) << c.targets;
}

TEST(Clipboard, TextConversions) {
  struct Case {
    const char *utf8, *latin1;
  } in[] = {
      {"Gr\xc3\xbc\xc3\x9f""e", "Gr\xfc\xdf""e"},
      {"a\r\nb\rc\n", "a\nb\nc\n"},
      {"\xe2\x82\xac 5", "? 5"},
      {"bad \xff byte", "bad ? byte"},
      {"", ""},
  };
  for (const Case &c : in) EXPECT_EQ(ClipboardTextIn(c.utf8), c.latin1) << c.utf8;
  EXPECT_EQ(ClipboardTextOut("\xc4pfel \xff"), "\xc3\x84pfel \xc3\xbf");
  // Every Latin-1 text comes back as it went out.
  std::string all;
  for (int c = 1; c < 256; c++)
    if (c != '\r') all += static_cast<char>(c);
  EXPECT_EQ(ClipboardTextIn(ClipboardTextOut(all.c_str()).c_str()), all);
}
