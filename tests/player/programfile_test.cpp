// The applet reader: every section type, the version rules, and cut or lying files.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "platform/file.h"
#include "player/appletrecord.h"
#include "player/declarations.h"
#include "player/programfile.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/registry.h"
#include "runtime/vm/vm_api.h"
#include "tests/platform/tempdir.h"
#include "tests/runtime/vm/vm_test_util.h"
#include "tools/appletwriter.h"

namespace {

const std::vector<uint8_t> kChunk = {1, 2, 3, 4, 5};

struct Read : VmFixture {
  qmPlayerApplet applet{};
  uint32_t code = 0;
  TempDir dir;

  explicit Read(const std::vector<uint8_t> &bytes) {
    ResetDisplaySettings(&applet.settings);
    std::string path = dir / "a.qma";
    qmtools::WriteBytes(path, bytes);
    qmFileHandle *fh = FileOpen(path.c_str(), FILE_MODE_READ);
    FileSeek(fh, 4, FILE_SEEK_START);
    code = ReadAppletSections(L, &applet, fh, 0, path.c_str());
    FileClose(fh);
  }
  ~Read() {
    FreeAppletContents(&applet);
  }
  qmDeclaration *Decl(int n) {
    qmDeclaration *d = Declarations(&applet);
    while (d && n--) d = d->next;
    return d;
  }
};

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(uint8_t(b));
  return v;
}

// A gradient block: style 2, centre 0.5/0.25, balance 0.5, border 0, one extra colour.
std::vector<uint8_t> GradientBlock() {
  qmtools::AppletBuilder g;
  g.U8(2).U32(500000).U32(250000).U32(500000).U32(0).U8(1).U32(0xff00ff).U32(750000);
  return std::vector<uint8_t>(g.Bytes().begin() + 4, g.Bytes().end());
}

std::vector<uint8_t> TypeData(std::function<void(qmtools::AppletBuilder &)> fill) {
  qmtools::AppletBuilder b;
  fill(b);
  return std::vector<uint8_t>(b.Bytes().begin() + 4, b.Bytes().end());
}

// Every section type once, in a 5.2 applet.
std::vector<uint8_t> FullApplet() {
  qmtools::AppletBuilder b;
  b.Skip({9, 9, 9}).Version(5, 2);
  std::vector<qmtools::AppletDecl> decls(5);
  decls[0] = {0, 1, "bg.png", true, 0, 0, 0xFFFFFFFF, 0, 3,
              TypeData([](auto &t) { t.U8(2).U32(0x112233).U32(0x445566).I16(45).U32(7).U32(8).U32(9).Raw(GradientBlock()); })};
  decls[1] = {1, 2, "b.png", true, 0, 0, 0, 1, 4,
              TypeData([](auto &t) { t.I16(10).I16(20).I16(30).I16(40).I16(-1).U8(1); })};
  decls[2] = {5, 3, "", false, 0, 0, 0, 0, 5, TypeData([](auto &t) { t.I16(1).I16(2).I16(3).I16(-4); })};
  decls[3] = {10, 2, "", false, 0, 0, 0, 0, 6, TypeData([](auto &t) {
                t.U32(0).U32(5).U32(6).U32(320).U32(200).U32(0xabcdef).U32(0x401).U32(0x1).U32(0).U32(0);
                t.U32(1).U32(1).U32(0).U32(0).U32(10).U32(10).U32(0);
                t.ShortStr("Second").U8(1).U32(0).I16(0).U32(0).U32(0).U32(0).Raw(GradientBlock()).ShortStr("pub");
              })};
  decls[4] = {12, 0, "tp", true, 0, 0, 1, 2, 8, {}};
  b.Declarations(decls);
  b.U8(3).I16(800).I16(600);
  b.U8(4).ShortStr("source.qms");
  b.U8(5).U32(0x123456);
  b.U8(6).U32(11).U32(12);
  b.U8(7);
  b.Includes({{1, 50, 0, "main.qms"}});
  b.Labels({{"Start", 17}});
  for (int i = 1; i <= 5; i++) b.AppString(i, "info" + std::to_string(i));
  b.U8(16).U8(1);
  b.U8(17).U8(2).U32(0x10).U32(0x20);
  b.U8(18).U8(1).U8(19).U8(0).U8(20).U8(1).U8(21).U8(1);
  b.U8(22).I16(1024).I16(768).U8(23).U8(24);
  b.U8(24).U8(1).U8(25).U8(1);
  b.LinkedFiles({{"data/x.txt", "hello"}});
  b.U8(26).U32(1).U32(0).Str("far.bin").U32(0xFFFFFFFF).U32(3).U32(4);
  b.U8(27).U32(1).U32(51).U32(60).U32(0).Str("inc.qms").Str("container");
  b.U8(28).U8(1).U32(640).U32(480).U8(1);
  b.U8(30).U8(1);
  b.UserConstants({{"MYNUM", 2.5}}, {{"MYTEXT", "abc"}});
  b.Bytecode(kChunk);
  b.U8(99).U8(99);  // after the bytecode: never read
  return b.Bytes();
}

}  // namespace

TEST(ProgramFile, EverySection) {
  Read r(FullApplet());
  ASSERT_EQ(r.code, 0u);
  qmPlayerApplet &a = r.applet;
  EXPECT_EQ(a.base.bytecodeLength, 5u);
  EXPECT_EQ(a.versionMajor, 5);
  EXPECT_EQ(a.versionMinor, 2);
  EXPECT_STREQ(a.appInfo[4], "info5");
  EXPECT_EQ(a.desktopSize, 1u);
  EXPECT_EQ(a.settings.displayMode, 1);
  EXPECT_EQ(a.settings.backfill.mode, 2);
  EXPECT_EQ(a.settings.backfill.endColor, 0x20u);
  EXPECT_EQ(a.settings.hideTitleBar, 1);
  EXPECT_EQ(a.settings.screenWidth, 1024);
  EXPECT_EQ(a.settings.depth, 24);
  EXPECT_EQ(GetLabelIndex(r.L, "start"), 17);
  const char *text = nullptr;
  double number = 0;
  EXPECT_EQ(vm_getconstant(r.L, "MYTEXT", &text, &number), 1);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(vm_getconstant(r.L, "mynum", &text, &number), 1);
  EXPECT_EQ(number, 2.5);

  ASSERT_NE(a.base.includeFiles, nullptr);
  EXPECT_STREQ(a.base.includeFiles->name, "main.qms");
  ASSERT_NE(a.base.includeFiles->next, nullptr);
  EXPECT_EQ(a.base.includeFiles->next->firstLine, 51u);
  qmLinkedFile *lf = a.base.linkedFiles;
  ASSERT_NE(lf, nullptr);
  EXPECT_STREQ(lf->name, "data/x.txt");
  EXPECT_EQ(lf->length, 5u);
  EXPECT_EQ(FullApplet()[lf->offset], 'h');
  ASSERT_NE(lf->next, nullptr);
  EXPECT_EQ(lf->next->offset, 4u);

  qmDeclaration *bg = r.Decl(0);
  ASSERT_NE(bg, nullptr);
  EXPECT_STREQ(bg->fileName, "bg.png");
  auto *bgr = static_cast<qmBGPicDecl *>(bg->record);
  EXPECT_EQ(bgr->fillStyle, 2);
  EXPECT_EQ(bgr->gradient.startColor, 0x112233u);
  EXPECT_EQ(bgr->gradient.angle, 45);
  EXPECT_EQ(bgr->gradient.centerY, 0.25);
  EXPECT_EQ(bgr->gradient.count, 1u);
  EXPECT_EQ(bgr->gradient.colors[0].position, 0.75);
  auto *brush = static_cast<qmImageDecl *>(r.Decl(1)->record);
  EXPECT_EQ(brush->y, 40);
  EXPECT_EQ(brush->globalAlpha, -1);
  EXPECT_EQ(brush->hardware, 1u);
  EXPECT_EQ(static_cast<qmButtonDecl *>(r.Decl(2)->record)->values[3], -4);
  auto *disp = static_cast<qmDisplayDecl *>(r.Decl(3)->record);
  EXPECT_STREQ(disp->title, "Second");
  EXPECT_EQ(disp->dragCount, 1u);
  EXPECT_EQ(disp->drag[0].width, 10);
  EXPECT_STREQ(disp->pubScreen, "pub");
  EXPECT_EQ(r.Decl(4)->type, DECL_PLUGIN);
  EXPECT_STREQ(r.Decl(4)->fileName, "tp");
  // The first-display sections made display 1 and changed it.
  qmDeclaration *first = r.Decl(5);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->type, DECL_DISPLAY);
  EXPECT_EQ(first->id, 1u);
  auto *fd = static_cast<qmDisplayDecl *>(first->record);
  EXPECT_STREQ(fd->title, "Quenmoor");
  EXPECT_EQ(fd->width, 800);
  EXPECT_EQ(fd->color, 0x123456u);
  EXPECT_EQ(fd->y, 12);
  EXPECT_EQ(fd->flags, uint32_t(DISPFLAG_ACTIVE) | WINFLAG_BORDERLESS | WINFLAG_SIZEABLE | WINFLAG_HIDEPOINTER |
                           WINFLAG_NOMODESWITCH | WINFLAG_LAYERSCALE | WINFLAG_SMOOTHSCALE | WINFLAG_NOHIDE);
  EXPECT_TRUE(fd->mask & WINFLAG_FIXED);  // fixed off by the applet
  EXPECT_EQ(fd->scaleWidth, 640);
  EXPECT_EQ(r.Decl(6), nullptr);
}

TEST(ProgramFile, VersionRules) {
  // Declarations before the version section carry no extra data (version 0.0).
  qmtools::AppletBuilder early;
  // A brush without its hardware byte, an anim without its from-disk byte and sizes.
  early.Declarations({{1, 1, "b.png", true, 0, 0, 0, 0, 1, Bytes({0, 1, 0, 2, 0, 3, 0, 4, 0, 5})},
                      {2, 2, "a.anim", true, 0, 0, 0, 0, 2, {}}});
  early.Version(5, 2).Bytecode(kChunk);
  Read r(early.Bytes());
  EXPECT_EQ(r.code, 0u);
  ASSERT_NE(r.Decl(1), nullptr);
  EXPECT_EQ(static_cast<qmImageDecl *>(r.Decl(0)->record)->globalAlpha, 5);
  EXPECT_EQ(static_cast<qmImageDecl *>(r.Decl(1)->record)->frames, 0);

  qmtools::AppletBuilder newer;
  newer.Version(5, 3).Bytecode(kChunk);
  Read n(newer.Bytes());
  EXPECT_EQ(n.code, ERR_APPLETVERSION);
  char message[256];
  FormatErrorMessage(n.code, message, sizeof message);
  EXPECT_STREQ(message, "This applet requires at least Quenmoor 5.3!");

  qmtools::AppletBuilder unknown;
  unknown.Version(5, 2).U8(32).Bytecode(kChunk);
  EXPECT_EQ(Read(unknown.Bytes()).code, ERR_UNKNOWNSEC);
  qmtools::AppletBuilder none;
  none.Version(5, 2);
  EXPECT_EQ(Read(none.Bytes()).code, ERR_UNEXPECTEDEOF);
}

// Every prefix of a full applet is refused with a code, never read beyond its end.
TEST(ProgramFile, CutAtEveryOffset) {
  std::vector<uint8_t> whole = FullApplet();
  size_t end = whole.size() - 2;  // the two bytes after the bytecode are never read
  for (size_t cut = 4; cut < end; cut++) {
    Read r(std::vector<uint8_t>(whole.begin(), whole.begin() + long(cut)));
    ASSERT_NE(r.code, 0u) << "cut at " << cut;
  }
  EXPECT_EQ(Read(std::vector<uint8_t>(whole.begin(), whole.begin() + long(end))).code, 0u);
}

TEST(ProgramFile, LyingLengthsAndCounts) {
  auto withDecl = [](uint8_t type, std::vector<uint8_t> data, uint32_t nameOffset, uint32_t nameLength,
                     uint32_t dataOffset, uint32_t dataLength) {
    qmtools::AppletBuilder b;
    b.Version(5, 2).U8(2).U32(1).U8(type).U32(1).U32(nameOffset).U32(nameLength).U32(dataOffset).U32(dataLength);
    b.U32(0).U32(0).U32(0).Raw(data).Bytecode(kChunk);
    return b.Bytes();
  };
  std::vector<uint8_t> regions65 = TypeData([](auto &t) {
    for (int i = 0; i < 10; i++) t.U32(0);
    t.U32(65);
  });
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    uint32_t code;
  } cases[] = {
      {"name beyond the file", withDecl(3, {}, 1000, 5, 0, 0), ERR_UNEXPECTEDEOF},
      {"name longer than a path", withDecl(3, {}, 4, 5000, 0, 0), ERR_NOAPPLET},
      {"linked data beyond the file", withDecl(3, {}, 0, 0, 10, 0xFFFFFFF0), ERR_UNEXPECTEDEOF},
      {"65 regions", withDecl(10, regions65, 0, 0, 0, 0), ERR_NOAPPLET},
      {"declaration type 13", withDecl(13, {}, 0, 0, 0, 0), ERR_UNKNOWNSEC},
      {"bytecode longer than the file", Bytes({'Q', 'M', 'A', 0, 1, 0xFF, 0xFF, 0xFF, 0xF0, 1}), ERR_UNEXPECTEDEOF},
      {"skip longer than the file", Bytes({'Q', 'M', 'A', 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}), ERR_UNEXPECTEDEOF},
      {"negative short string", Bytes({'Q', 'M', 'A', 0, 4, 0xFF, 0xFF, 1, 0, 0, 0, 0}), ERR_NOAPPLET},
      {"linked file beyond the file",
       Bytes({'Q', 'M', 'A', 0, 26, 0, 0, 0, 1, 0, 0, 0, 0, 'x', 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 9, 0, 0, 0, 99}),
       ERR_UNEXPECTEDEOF},
      {"label name of 256", [] {
         qmtools::AppletBuilder b;
         b.Labels({{std::string(256, 'a'), 1}}).Bytecode(kChunk);
         return b.Bytes();
       }(), ERR_NOAPPLET},
  };
  for (const Case &c : cases) EXPECT_EQ(Read(c.bytes).code, c.code) << c.name;
}

TEST(ProgramFile, LockSectionResetsTheSettings) {
  qmtools::AppletBuilder b;
  b.Version(5, 2).U8(16).U8(2).U8(23).U8(16).U8(29).Bytecode(kChunk);
  Read r(b.Bytes());
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(r.applet.settingsLocked, 1u);
  EXPECT_EQ(r.applet.settings.displayMode, 0);
  EXPECT_EQ(r.applet.settings.depth, -1);
}

// Mutated applets (bit flips, byte values, swapped words, cuts) read to an error code or to the
// end; none crashes, overruns or hangs.
TEST(ProgramFile, MutatedAppletsNeverCrash) {
  const std::vector<uint8_t> seed = FullApplet();
  std::mt19937 rng(5202612);
  int read = 0;
  for (int round = 0; round < 3000; round++) {
    std::vector<uint8_t> b = seed;
    int kind = static_cast<int>(rng() % 4);
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && b.size() > 4; e++) {
      size_t at = 4 + rng() % (b.size() - 4);  // keep the magic: the reader starts after it
      if (kind == 0) b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
      else if (kind == 1) b[at] = static_cast<uint8_t>(rng());
      else if (kind == 2 && b.size() >= 12) {
        size_t x = 4 + rng() % (b.size() - 8), y = 4 + rng() % (b.size() - 8);
        for (int i = 0; i < 4; i++) std::swap(b[x + i], b[y + i]);
      } else {
        b.resize(at);
      }
    }
    Read r(b);
    ASSERT_TRUE(r.code == 0 || r.code >= 1000) << "round " << round << ": " << r.code;
    if (r.code == 0) read++;
  }
  EXPECT_GT(read, 0);
}
