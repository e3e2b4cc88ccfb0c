// The requesters through the real player on an X server: the dialog program it asks (here a
// stand-in named zenity, first on the search path, which logs its arguments and gives queued
// answers) and what the script gets back. The file requester's pattern becomes the dialog's
// filter: extensions joined by "|" with or without their dot, matched without regard to case;
// "*..." and "#?" show every file.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "tests/platform/xvfb_server.h"
#include "tests/player/e2e_util.h"

namespace {

const char kStandIn[] = R"(#!/bin/sh
{ printf 'CALL'; for a in "$@"; do printf ' [%s]' "$a"; done; echo; } >> "$ZLOG"
line=$(head -n 1 "$ZQ"); sed -i 1d "$ZQ"
status=${line%% *}; out=${line#* }
[ "$out" = "$line" ] && out=""
printf "$out"
exit "$status"
)";

}  // namespace

TEST(E2eRequesters, AnswersAndTheFileFilterThroughTheDialogProgram) {
  int number = 0;
  const pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  ServerGuard server{xvfb};
  PlayerDir d;
  std::filesystem::create_directory(d / "bin");
  std::filesystem::create_directory(d / "files");
  qmtools::WriteBytes(d / "bin/zenity", std::vector<uint8_t>(kStandIn, kStandIn + sizeof kStandIn - 1));
  chmod((d / "bin/zenity").c_str(), 0755);
  const std::string files = d / "files";
  struct Case {
    ScriptLine line;
    std::string answer;     // the stand-in's exit status and output
    std::string arguments;  // what it was asked with, after "--title=..."
    std::string result;     // what the script printed
  } cases[] = {
      {{true, "FileRequest", {"F", "jpg|.png|gif", 0.0, files}}, "0 " + files + "/a.JPG\\n",
       " [--filename=" + files + "/] [--file-filter=*.[jJ][pP][gG] *.[pP][nN][gG] *.[gG][iI][fF]]",
       files + "/a.JPG\n"},
      {{true, "FileRequest", {"F", "*.txt", 0.0, files}}, "1", " [--filename=" + files + "/]", "\n"},
      {{true, "FileRequest", {"F", "#?", 0.0, files}}, "1", " [--filename=" + files + "/]", "\n"},
      {{true, "FileRequest", {"F", "", 0.0, files}}, "1", " [--filename=" + files + "/]", "\n"},
      {{true, "StringRequest", {"S", "body"}}, "1", " [--text=body] [--entry-text=]", " 0\n"},
      {{true, "StringRequest", {"S", "body", "x"}}, "0 typed\\n", " [--text=body] [--entry-text=x]", "typed 1\n"},
      {{true, "PathRequest", {"P"}}, "1", "", "\n"},
      {{true, "ColorRequest", {"C"}}, "1", " [--color=#000000]", "-1\n"},
      {{true, "ColorRequest", {"C", -1}}, "0 rgb(255,128,0)\\n", " [--color=#000000]", "16744448\n"},
  };
  std::string queue, expectedOut;
  std::vector<ScriptLine> lines;
  for (const Case &c : cases) {
    lines.push_back(c.line);
    queue += c.answer + "\n";
    expectedOut += c.result;
  }
  qmtools::WriteBytes(d / "ask.qma", AppletOf(ScriptOf(lines)));
  std::ofstream(d / "queue.txt") << queue;
  const PlayerResult r =
      d.Run({"-QUIET", d / "ask.qma"},
            {"DISPLAY=:" + std::to_string(number), "SDL_VIDEODRIVER=x11", "PATH=" + (d / "bin") + ":/usr/bin:/bin",
             "ZQ=" + (d / "queue.txt"), "ZLOG=" + (d / "log.txt"), "XDG_CURRENT_DESKTOP=", "ASAN_OPTIONS=detect_leaks=0"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, expectedOut);
  std::istringstream log(ReadWholeFile(d / "log.txt"));
  std::string call;
  for (const Case &c : cases) {
    ASSERT_TRUE(std::getline(log, call)) << c.line.name;
    const size_t title = call.find("[--title=");
    ASSERT_NE(title, std::string::npos) << call;
    const std::string rest = call.substr(call.find(']', title) + 1);
    EXPECT_EQ(rest, c.arguments) << call;
  }
}
