// Declarations through the real player: the first one that fails ends the run, and the report
// names its line in the script and the command it stands for.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/platform/xvfb_server.h"
#include "tests/player/e2e_util.h"

namespace {

// DebugPrint("main ran") on line 1: the main chunk must never run after a failed declaration.
const char kMainPrints[] =
    ".func source=\"d.qms\" maxstack=3\n"
    "  .k \"debugprint\" \"main ran\"\n"
    "      GETGLOBAL 0 k0 @1\n"
    "      LOADK 1 k1\n"
    "      CALL 0 2 1\n"
    "      RETURN 0 1 @2\n"
    ".end\n";

void PutI16(std::vector<uint8_t> &v, int16_t x) {
  v.push_back(uint8_t(uint16_t(x) >> 8));
  v.push_back(uint8_t(x));
}
void PutU32(std::vector<uint8_t> &v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
// A gradient block with no extra colours.
void PutGradient(std::vector<uint8_t> &v) {
  v.push_back(2);
  for (int i = 0; i < 4; i++) PutU32(v, 500000);
  v.push_back(0);
}

// The type data of a version 5.2 declaration of each kind, all sizes and places left to the file.
std::vector<uint8_t> TypeData(uint8_t type) {
  std::vector<uint8_t> v;
  switch (type) {
    case 0:  // background picture: no fill
      v.push_back(0);
      for (int i = 0; i < 2; i++) PutU32(v, 0);
      PutI16(v, 0);
      for (int i = 0; i < 3; i++) PutU32(v, 0);
      PutGradient(v);
      break;
    case 1:  // brush: size, place, no global alpha, software
      for (int i = 0; i < 4; i++) PutI16(v, 0);
      PutI16(v, -1);
      v.push_back(0);
      break;
    case 2:  // anim: from memory, then size, frames, per row, place
      v.push_back(0);
      for (int i = 0; i < 6; i++) PutI16(v, 0);
      break;
    case 5:  // button: a rectangle
      for (int16_t x : {0, 0, 10, 10}) PutI16(v, x);
      break;
    case 7:  // sprite: size, frames, per row, place
      for (int i = 0; i < 6; i++) PutI16(v, 0);
      break;
    default: break;
  }
  return v;
}

// A display declaration; bgpic (with its flag) when non-zero; mask: the window flags the applet fixes.
std::vector<uint8_t> DisplayData(uint32_t id, uint32_t bgpic, int32_t width, int32_t height, uint32_t mask = 0) {
  std::vector<uint8_t> v;
  PutU32(v, bgpic);
  PutU32(v, uint32_t(-100000));
  PutU32(v, uint32_t(-100000));
  PutU32(v, uint32_t(width));
  PutU32(v, uint32_t(height));
  PutU32(v, 0);                                // colour
  PutU32(v, 0x400 | (bgpic ? 0x200u : 0u));    // active, and the picture when given
  PutU32(v, mask);
  PutU32(v, 0);                                // scale size
  PutU32(v, 0);
  PutU32(v, 0);  // drag regions
  PutU32(v, 0);  // size regions
  std::string title = "display " + std::to_string(id);
  PutI16(v, int16_t(title.size()));
  v.insert(v.end(), title.begin(), title.end());
  v.push_back(1);  // colour fill
  PutU32(v, 0);
  PutI16(v, 0);
  for (int i = 0; i < 3; i++) PutU32(v, 0);
  PutGradient(v);
  PutI16(v, 0);  // no public screen
  return v;
}

// The environment of a run in which no single allocation may exceed limitMb megabytes and one
// that does fails as the system's own would; the sanitizer's warnings go to logPath, not into
// the player's own report. Only a sanitized player honours it (kAllocationCap).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAllocationCap = true;
#elif defined(__has_feature)
constexpr bool kAllocationCap = __has_feature(address_sanitizer);
#else
constexpr bool kAllocationCap = false;
#endif
std::vector<std::string> AllocationCapEnv(int limitMb, const std::string &logPath) {
  return {"ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(limitMb) +
          ":log_path=" + logPath};
}

}  // namespace

// Each kind of declaration that can fail on its own input, on line 22; a second failing one
// on line 23 must never run. Displays are made after every other kind, so theirs stands alone.
// Pictures are decoded while the declarations run but made into bitmaps when the first display
// opens: a picture one pixel wide decodes into 4 bytes a row (and the reader's 8-byte row
// table) but its bitmap takes 16 a row, so with no allocation above 12 bytes a row allowed the
// declaration itself succeeds and the failure comes at the first display, still named by the
// declaration's line and command. A picture a display shows is made just before that display,
// and fails at its own line too, not at the display's.
TEST(E2eDeclarations, FirstFailingDeclarationNamesItsLineAndCommand) {
  PlayerDir d;
  const std::string missing = "Cannot read file missing_one.dat !";
  const int tallRows = 999999;  // the most rows the peer's writer will put in one picture
  const std::string tall = d / "tall.png";
  const bool haveTall =
      std::system(("ppmmake rgb:ff/00/00 1 " + std::to_string(tallRows) + " | pnmtopng > " + tall).c_str()) == 0;
  const std::vector<std::string> cap = AllocationCapEnv(12 * tallRows / (1 << 20), d / "asan");
  struct Case {
    const char *name;
    uint8_t type;
    std::vector<uint8_t> typeData;
    std::string message;  // the report after "d.qms:22: "
    const char *command;
    std::string file = "missing_one.dat";
    std::vector<std::string> env = {};  // for the realised pictures: the allocation cap
    uint32_t id = 0;                    // the declared id when not the usual one
    std::vector<uint8_t> display = {};  // a display 1 declared on line 24, when given
  } cases[] = {
      {"background picture", 0, TypeData(0), missing, "LoadBGPic"},
      {"brush", 1, TypeData(1), missing, "LoadBrush"},
      {"anim", 2, TypeData(2), missing, "LoadAnim"},
      {"music", 3, {}, missing, "OpenMusic"},
      {"sample", 4, {}, missing, "LoadSample"},
      {"sprite", 7, TypeData(7), missing, "LoadSprite"},
      {"file", 8, {}, missing, "OpenFile"},
      {"font", 9, {}, "Cannot open font missing_one.dat with size 0!", "OpenFont"},
      {"video", 11, {}, missing, "OpenVideo"},
      {"display showing an undeclared picture", 10, DisplayData(2, 7, 0, 0), "Could not find BGPic 7!",
       "CreateDisplay"},
      {"background picture realised at the first display", 0, TypeData(0), "Out of memory!", "LoadBGPic", tall, cap},
      {"brush realised at the first display", 1, TypeData(1), "Out of memory!", "LoadBrush", tall, cap},
      {"anim realised at the first display", 2, TypeData(2), "Out of memory!", "LoadAnim", tall, cap},
      // Picture 1 is the default display's own: made as that display is, before any opens.
      {"background picture 1 made with display 1", 0, TypeData(0), "Out of memory!", "LoadBGPic", tall, cap, 1},
      {"background picture made with the declared display showing it", 0, TypeData(0), "Out of memory!",
       "LoadBGPic", tall, cap, 2, DisplayData(1, 2, 0, 0)},
  };
  for (const Case &c : cases) {
    if (!c.env.empty() && !(kAllocationCap && haveTall)) {
      std::printf("skipped: %s (needs netpbm and a player that caps allocations)\n", c.name);
      continue;
    }
    qmtools::AppletDecl decl;
    decl.type = c.type;
    // Background picture 1 would be display 1's own picture, made when that display is.
    decl.id = c.id ? c.id : c.type == 10 || !c.env.empty() ? 2 : 1;
    decl.name = c.type == 10 ? "" : c.file;
    decl.hasName = c.type != 10;
    decl.line = 22;
    decl.typeData = c.typeData;
    std::vector<qmtools::AppletDecl> decls = {decl};
    if (c.type != 10) {
      qmtools::AppletDecl after;
      after.type = 8;
      after.id = 2;
      after.name = "missing_two.dat";
      after.line = 23;
      decls.push_back(after);
    }
    // A picture that fails only at the first display lets every declaration run.
    if (!c.env.empty()) decls.pop_back();
    if (!c.display.empty()) {
      qmtools::AppletDecl display;
      display.type = 10;
      display.id = 1;
      display.hasName = false;
      display.line = 24;
      display.typeData = c.display;
      decls.push_back(display);
    }
    qmtools::AppletBuilder b;
    b.Version(5, 2).Includes({{1, 100, 0, "d.qms"}}).Declarations(decls).Bytecode(ChunkOf(kMainPrints));
    qmtools::WriteBytes(d / "d.qma", b.Bytes());
    std::vector<std::string> env = c.env;
    env.push_back("SDL_AUDIODRIVER=dummy");
    // A sound device to open music and samples on: without one they are quietly skipped.
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "d.qma"}, env);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, "d.qms:22: " + c.message + "\n") << c.name;
    // The requester's text (on standard error without a desktop) also names the command.
    r = d.Run({"-QUIET", d / "d.qma"}, env);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.err, c.message + "\nFile: d.qms (current line: 22 - In function: " + c.command + ")\n") << c.name;
  }
}

// Desktop mode: display 1 takes the desktop's size whatever was declared, so its picture (the
// grab of the desktop) covers the whole screen of the X server (800 x 600).
TEST(E2eDeclarations, DesktopModeDisplayTakesTheDesktopSize) {
  int number = 0;
  pid_t xvfb = StartXvfb(&number);
  if (xvfb < 0) GTEST_SKIP() << "Xvfb cannot start here";
  ServerGuard server{xvfb};
  // DebugPrint(GetAttribute(#DISPLAY, 1, #ATTRWIDTH), GetAttribute(#DISPLAY, 1, #ATTRHEIGHT))
  const char printsSize[] =
      ".func source=\"d.qms\" maxstack=8\n"
      "  .k \"debugprint\" \"getattribute\" 21 1 0\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      GETGLOBAL 1 k1\n"
      "      LOADK 2 k2\n"
      "      LOADK 3 k3\n"
      "      LOADK 4 k4\n"
      "      CALL 1 4 2\n"
      "      GETGLOBAL 2 k1\n"
      "      LOADK 3 k2\n"
      "      LOADK 4 k3\n"
      "      LOADK 5 k3\n"
      "      CALL 2 4 2\n"
      "      CALL 0 3 1\n"
      "      RETURN 0 1 @2\n"
      ".end\n";
  PlayerDir d;
  struct Case {
    const char *name;
    bool declared;  // display 1 declared at 640 x 480, else the default display
  } cases[] = {{"declared display", true}, {"default display", false}};
  for (const Case &c : cases) {
    qmtools::AppletBuilder b;
    b.Version(5, 2).Includes({{1, 100, 0, "d.qms"}}).U8(7);
    if (c.declared) {
      qmtools::AppletDecl display;
      display.type = 10;
      display.id = 1;
      display.hasName = false;
      display.line = 3;
      display.typeData = DisplayData(1, 0, 640, 480);
      b.Declarations({display});
    }
    b.Bytecode(ChunkOf(printsSize));
    qmtools::WriteBytes(d / "d.qma", b.Bytes());
    // The X libraries keep allocations to the end of the process: not ours to report here.
    PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "d.qma"},
                           {"SDL_VIDEODRIVER=x11", "DISPLAY=:" + std::to_string(number), "ASAN_OPTIONS=detect_leaks=0"});
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.out << r.err;
    EXPECT_EQ(r.out, "800 600\n") << c.name;
  }
}

// The window-style options reach every declared display except where the applet fixed the
// flag; a program without a display of its own gets the default one.
TEST(E2eDeclarations, OptionsMergeIntoDisplaysUnlessTheAppletFixedTheFlag) {
  // DebugPrint(GetAttribute(#DISPLAY, 1, #ATTRBORDERLESS), GetAttribute(#DISPLAY, 2, #ATTRBORDERLESS))
  const char printsBorderless[] =
      ".func source=\"d.qms\" maxstack=8\n"
      "  .k \"debugprint\" \"getattribute\" 21 1 2 46\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      GETGLOBAL 1 k1\n"
      "      LOADK 2 k2\n"
      "      LOADK 3 k3\n"
      "      LOADK 4 k5\n"
      "      CALL 1 4 2\n"
      "      GETGLOBAL 2 k1\n"
      "      LOADK 3 k2\n"
      "      LOADK 4 k4\n"
      "      LOADK 5 k5\n"
      "      CALL 2 4 2\n"
      "      CALL 0 3 1\n"
      "      RETURN 0 1 @2\n"
      ".end\n";
  PlayerDir d;
  std::vector<qmtools::AppletDecl> decls;
  for (uint32_t id : {1u, 2u}) {
    qmtools::AppletDecl display;
    display.type = 10;
    display.id = id;
    display.hasName = false;
    display.line = id;
    display.typeData = DisplayData(id, 0, 64, 48, id == 1 ? 0x1 : 0);  // display 1: borderless fixed off
    decls.push_back(display);
  }
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "d.qms"}}).Declarations(decls).Bytecode(ChunkOf(printsBorderless));
  qmtools::WriteBytes(d / "d.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", "-BORDERLESS", d / "d.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "0 1\n");

  // DebugPrint(GetAttribute(#DISPLAY, 1, #ATTRWIDTH), ...#ATTRHEIGHT, ...#ATTRTITLE, ...#ATTRBORDERLESS)
  const char printsDefault[] =
      ".func source=\"d.qms\" maxstack=12\n"
      "  .k \"debugprint\" \"getattribute\" 21 1 0 51 46\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      GETGLOBAL 1 k1\n      LOADK 2 k2\n      LOADK 3 k3\n      LOADK 4 k4\n      CALL 1 4 2\n"
      "      GETGLOBAL 2 k1\n      LOADK 3 k2\n      LOADK 4 k3\n      LOADK 5 k3\n      CALL 2 4 2\n"
      "      GETGLOBAL 3 k1\n      LOADK 4 k2\n      LOADK 5 k3\n      LOADK 6 k5\n      CALL 3 4 2\n"
      "      GETGLOBAL 4 k1\n      LOADK 5 k2\n      LOADK 6 k3\n      LOADK 7 k6\n      CALL 4 4 2\n"
      "      CALL 0 5 1\n"
      "      RETURN 0 1 @2\n"
      ".end\n";
  qmtools::WriteBytes(d / "e.qma", AppletOf(printsDefault));
  r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", "-BORDERLESS", d / "e.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "640 480 Quenmoor 1\n");
}

// Background picture 1 declared beside display 1: the display shows it at its size, not at
// the size declared for the display.
TEST(E2eDeclarations, DisplayOneShowsDeclaredPictureOne) {
  PlayerDir d;
  const std::string make = "/usr/bin/python3 -c \"from PIL import Image; Image.new('RGB', (100, 50), (1, 2, 3)).save('" +
                           (d / "one.png") + "')\"";
  ASSERT_EQ(std::system(make.c_str()), 0);
  // DebugPrint(GetAttribute(#DISPLAY, 1, #ATTRWIDTH), GetAttribute(#DISPLAY, 1, #ATTRHEIGHT))
  const char printsSize[] =
      ".func source=\"d.qms\" maxstack=8\n"
      "  .k \"debugprint\" \"getattribute\" 21 1 0\n"
      "      GETGLOBAL 0 k0 @1\n"
      "      GETGLOBAL 1 k1\n      LOADK 2 k2\n      LOADK 3 k3\n      LOADK 4 k4\n      CALL 1 4 2\n"
      "      GETGLOBAL 2 k1\n      LOADK 3 k2\n      LOADK 4 k3\n      LOADK 5 k3\n      CALL 2 4 2\n"
      "      CALL 0 3 1\n"
      "      RETURN 0 1 @2\n"
      ".end\n";
  qmtools::AppletDecl picture;
  picture.type = 0;
  picture.id = 1;
  picture.name = d / "one.png";
  picture.line = 1;
  picture.param1 = 0xFFFFFFFFu;  // no transparent colour
  picture.typeData = TypeData(0);
  qmtools::AppletDecl display;
  display.type = 10;
  display.id = 1;
  display.hasName = false;
  display.line = 2;
  display.typeData = DisplayData(1, 0, 640, 480);
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "d.qms"}}).Declarations({picture, display}).Bytecode(ChunkOf(printsSize));
  qmtools::WriteBytes(d / "d.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "d.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "100 50\n");
}

// A declared file whose data is linked into the applet is read from there.
TEST(E2eDeclarations, LinkedFileDeclarationReadsTheAppletsCopy) {
  // DebugPrint(ReadLine(1)) twice.
  const char readsTwoLines[] =
      ".func source=\"d.qms\" maxstack=4\n"
      "  .k \"debugprint\" \"readline\" 1\n"
      "      GETGLOBAL 0 k0 @1\n      GETGLOBAL 1 k1\n      LOADK 2 k2\n      CALL 1 2 2\n      CALL 0 2 1\n"
      "      GETGLOBAL 0 k0 @2\n      GETGLOBAL 1 k1\n      LOADK 2 k2\n      CALL 1 2 2\n      CALL 0 2 1\n"
      "      RETURN 0 1 @3\n"
      ".end\n";
  PlayerDir d;
  const std::string data = "linked line\nits second\n";
  qmtools::AppletBuilder b;
  b.Version(5, 2).Includes({{1, 100, 0, "d.qms"}});
  const uint32_t offset = uint32_t(b.Size() + 5);  // after the skip section's type and length
  b.Skip(std::vector<uint8_t>(data.begin(), data.end()));
  qmtools::AppletDecl file;
  file.type = 8;
  file.id = 1;
  file.name = "notondisk.txt";  // no such file beside the applet
  file.line = 1;
  file.dataOffset = offset;
  file.dataLength = uint32_t(data.size());
  b.Declarations({file}).Bytecode(ChunkOf(readsTwoLines));
  qmtools::WriteBytes(d / "d.qma", b.Bytes());
  PlayerResult r = d.Run({"-QUIET", "-DEBUGDEVICE", "x", d / "d.qma"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "linked line\nits second\n");
}
