// Vector paths: the command stream's layout, the vectorgraphics commands as a script calls them
// (with and without the vector plug-in), and paths filled and stroked into brushes by the real
// plug-in, compared with pycairo drawing the same paths (cairo_peer.py beside this file).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/vectorpath.h"
#include "layers/layer.h"
#include "runtime/errcodes.h"
#include "runtime/objtypes.h"
#include "tests/display/brush/brush_vm.h"

namespace {

// ---- The stream ------------------------------------------------------------------------------

std::vector<uint8_t> Bytes(const qmPath &p) { return {p.commands, p.end + 4}; }

TEST(VectorStream, LayoutOfCommands) {
  qmPath *p;
  ASSERT_EQ(NewPath(&p), 0u);
  const qmPathOperand move[] = {{PATHARG_WORD, 0, 0, nullptr}, {PATHARG_DOUBLE, 0, 1.5, nullptr},
                                {PATHARG_DOUBLE, 0, -2, nullptr}};
  ASSERT_EQ(AppendPathCommand(p, PATHOP_MOVE, 3, move), 0u);
  // The first command allocates 1024 bytes: opcode, flag, two doubles at 4-byte places, end word.
  EXPECT_EQ(p->capacity, 1024u);
  const std::vector<uint8_t> first = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F,
                                      0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(*p), first);
  // Strings keep their NUL and are padded to (n & ~3) + 4 bytes.
  struct Row {
    const char *text;
    size_t bytes;
  } rows[] = {{"", 4}, {"a", 4}, {"ab", 4}, {"abc", 8}, {"abcdefg", 12}};
  for (const Row &r : rows) {
    ClearPathCommands(p);
    const qmPathOperand text[] = {{PATHARG_WORD, 3, 0, nullptr}, {PATHARG_WORD, 12, 0, nullptr},
                                  {PATHARG_STRING, 0, 0, r.text}};
    ASSERT_EQ(AppendPathCommand(p, PATHOP_TEXT, 3, text), 0u);
    EXPECT_EQ(PathCommandBytes(p), 12 + r.bytes) << r.text;
    EXPECT_STREQ(reinterpret_cast<const char *>(p->commands + 12), r.text);
  }
  FreePathRecord(p);
}

TEST(VectorStream, GrowthCopyAndAppendKeepTheCommands) {
  qmPath *a, *b, *c;
  ASSERT_EQ(NewPath(&a), 0u);
  ASSERT_EQ(NewPath(&b), 0u);
  ASSERT_EQ(NewPath(&c), 0u);
  // 100 lines of 24 bytes each outgrow the first kilobyte twice, the buffer doubling each time.
  for (int i = 0; i < 100; i++) {
    const qmPathOperand line[] = {{PATHARG_WORD, 0, 0, nullptr}, {PATHARG_DOUBLE, 0, double(i), nullptr},
                                  {PATHARG_DOUBLE, 0, double(-i), nullptr}};
    ASSERT_EQ(AppendPathCommand(a, PATHOP_LINE, 3, line), 0u);
  }
  EXPECT_EQ(PathCommandBytes(a), 2400u);
  EXPECT_EQ(a->capacity, 4096u);
  for (int i = 0; i < 100; i++) {
    double x;
    std::memcpy(&x, a->commands + 24 * i + 8, 8);
    ASSERT_EQ(x, double(i));
  }
  ASSERT_EQ(CopyPathCommands(a, b), 0u);
  EXPECT_EQ(Bytes(*b), Bytes(*a));
  EXPECT_EQ(b->capacity, a->capacity);
  // Appending to an empty path, then to itself's copy: both streams in order, one end word.
  ASSERT_EQ(AppendPathCommands(c, a), 0u);
  ASSERT_EQ(AppendPathCommands(c, b), 0u);
  std::vector<uint8_t> twice(a->commands, a->end);
  twice.insert(twice.end(), a->commands, a->end + 4);
  EXPECT_EQ(Bytes(*c), twice);
  // An empty source changes nothing.
  qmPath empty{};
  ASSERT_EQ(AppendPathCommands(c, &empty), 0u);
  EXPECT_EQ(Bytes(*c), twice);
  FreePathRecord(a);
  FreePathRecord(b);
  FreePathRecord(c);
}

TEST(VectorStream, DashListsCairoCannotUseAreRefused) {
  struct Row {
    std::vector<double> lengths;
    uint32_t code;
  } rows[] = {{{4, 2}, 0}, {{0, 3}, 0}, {{0}, ERR_WRONGUSAGE}, {{0, 0, 0}, ERR_WRONGUSAGE},
              {{4, -1}, ERR_WRONGUSAGE}, {{std::nan("")}, ERR_WRONGUSAGE}};
  for (const Row &r : rows) EXPECT_EQ(CheckDashes(r.lengths.data(), uint32_t(r.lengths.size())), r.code);
}

// ---- The library -------------------------------------------------------------------------------

// The plug-in the build made, opened once for the tests that draw.
void *PluginLibrary() {
  static void *lib = dlopen(QM_VECTOR_PLUGIN, RTLD_NOW);
  return lib;
}

int FindTestEngine(qmVectorEngine *out) {
  void *lib = PluginLibrary();
  if (!lib) return 0;
  *out = {reinterpret_cast<qmGetPathExtentsFn>(dlsym(lib, "GetPathExtents")),
          reinterpret_cast<qmDrawPathFn>(dlsym(lib, "DrawPath")),
          reinterpret_cast<qmTranslatePathFn>(dlsym(lib, "TranslatePath")),
          reinterpret_cast<qmGetCurrentPointFn>(dlsym(lib, "GetCurrentPoint")),
          reinterpret_cast<qmCreateVectorFontFn>(dlsym(lib, "CreateVectorFont")),
          reinterpret_cast<qmFreeVectorFontFn>(dlsym(lib, "FreeVectorFont"))};
  return 1;
}

struct VectorVm : BrushVm {
  void UsePlugin() {
    ASSERT_NE(PluginLibrary(), nullptr) << dlerror();
    GetPlayerContext(L)->findVectorEngine = FindTestEngine;
  }
  uint32_t Count() { return CountObjectsOfType(L, QMTYPE_VECTORPATH); }
  // AddBoxToPath(id, x, y, w, h, {key = value ...}).
  CommandCall Box(double id, std::vector<double> box, const std::vector<std::pair<const char *, double>> &keys) {
    return CallWith("addboxtopath", [&] {
      vm_pushnumber(L, id);
      for (double v : box) vm_pushnumber(L, v);
      vm_newtable(L);
      for (auto &k : keys) Set(k.first, k.second);
      return 6;
    });
  }
  // The corner words of the box command that path 1 ends with.
  std::vector<uint32_t> LastBoxCorners() {
    qmObjectId id{1, 0};
    auto *p = reinterpret_cast<qmPath *>(FindObject(L, QMTYPE_VECTORPATH, &id));
    std::vector<uint32_t> out(4);
    std::memcpy(out.data(), p->end - 16, 16);
    return out;
  }
};

TEST(VectorLibrary, CommandErrors) {
  VectorVm vm;
  vm.UsePlugin();
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {2}).code, 0u);
  ASSERT_EQ(vm.Call("MoveTo", {2, 1, 1}).code, 0u);
  using A = std::vector<CmdArg>;
  struct Row {
    const char *name;
    A args;
    uint32_t code;
  } rows[] = {
      {"MoveTo", {9, 1, 1}, ERR_FINDPATH},
      {"LineTo", {1, 1}, ERR_MISSINGPARAMTR},
      {"CurveTo", {1, 1, 2, 3, 4, 5}, ERR_MISSINGPARAMTR},
      {"RelCurveTo", {1, 1, 2, 3, 4, 5, 6, 7}, ERR_TOOMANYARGS},
      {"AddArcToPath", {9, 0, 0, 1, 1, 0, 90}, ERR_FINDPATH},
      {"FreePath", {9}, ERR_FINDPATH},
      {"ClearPath", {9}, ERR_FINDPATH},
      {"IsPathEmpty", {9}, ERR_FINDPATH},
      {"CopyPath", {1, 1}, ERR_WRONGUSAGE},
      {"CopyPath", {9, 3}, ERR_FINDPATH},
      {"AppendPath", {2, 2}, ERR_WRONGUSAGE},
      {"AppendPath", {2, 9}, ERR_FINDPATH},
      {"DrawPath", {1, 0, 0}, ERR_EMPTYPATH},
      {"DrawPath", {9, 0, 0}, ERR_FINDPATH},
      {"GetPathExtents", {9}, ERR_FINDPATH},
      {"GetCurrentPoint", {9}, ERR_FINDPATH},
      {"TranslatePath", {9, 1, 1}, ERR_FINDPATH},
      {"NormalizePath", {9}, ERR_FINDPATH},
      {"SetDash", {0}, ERR_MISSINGPARAMTR},
      {"SetDash", {0, 4, -2}, ERR_WRONGUSAGE},
      {"SetDash", {0, 0, 0}, ERR_WRONGUSAGE},
      {"AddTextToPath", {2, CmdArg::Str("x"), CmdArg::Table()}, ERR_VFONTTYPE},
      {"ForcePathUse", {}, ERR_MISSINGPARAMTR},
      {"GetAttribute", {int(QMTYPE_VECTORPATH), 9, 1}, ERR_FINDPATH},
      {"GetAttribute", {int(QMTYPE_VECTORPATH), 1, 1}, ERR_UNKNOWNATTR},
  };
  for (const Row &r : rows) EXPECT_EQ(vm.Call(r.name, r.args).code, r.code) << r.name;
  // A refused change leaves the path as it was.
  EXPECT_EQ(vm.Count(), 2u);
  EXPECT_EQ(vm.Call("IsPathEmpty", {1}).results, std::vector<double>{1});
  EXPECT_EQ(vm.Call("GetAttribute", {int(QMTYPE_VECTORPATH), 0, 60}).results, std::vector<double>{2});  // ATTRCOUNT
}

TEST(VectorLibrary, PathsAsObjects) {
  VectorVm vm;
  // StartPath twice with one number keeps one path, empty again.
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("LineTo", {1, 4, 4}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  EXPECT_EQ(vm.Count(), 1u);
  EXPECT_EQ(vm.Call("IsPathEmpty", {1}).results, std::vector<double>{1});
  ASSERT_EQ(vm.Call("RelMoveTo", {1, 1, 2}).code, 0u);
  EXPECT_EQ(vm.Call("IsPathEmpty", {1}).results, std::vector<double>{0});
  ASSERT_EQ(vm.Call("CopyPath", {1, 2}).code, 0u);
  ASSERT_EQ(vm.Call("ClearPath", {1}).code, 0u);
  EXPECT_EQ(vm.Call("IsPathEmpty", {1}).results, std::vector<double>{1});
  EXPECT_EQ(vm.Call("IsPathEmpty", {2}).results, std::vector<double>{0});
  // An automatic id comes back as a handle that finds the path; freed, it finds nothing.
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "startpath");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnil(vm.L);
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0);
  void *handle = vm_touserdata(vm.L, 1);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(vm.Count(), 3u);
  auto call = [&](const char *name) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, name);
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushlightuserdata(vm.L, handle);
    uint32_t code = vm_pcall(vm.L, 1, 0, 0);
    if (code) vm_setendrequested(vm.L, 0);
    return code;
  };
  EXPECT_EQ(call("freepath"), 0u);
  EXPECT_EQ(call("freepath"), uint32_t(ERR_FINDARRAY));
  EXPECT_EQ(vm.Count(), 2u);
  // Box corners: "roundlevel" sets all four, single corners after it, each brought into 0..100.
  struct Row {
    std::vector<std::pair<const char *, double>> keys;
    std::vector<uint32_t> corners;
  } rows[] = {
      {{}, {0, 0, 0, 0}},
      {{{"roundlevel", 150}}, {100, 100, 100, 100}},
      {{{"roundlevel", 30}, {"cornerb", 60}}, {30, 60, 30, 30}},
      {{{"cornera", -5}, {"cornerd", 101}}, {0, 0, 0, 100}},
  };
  for (const Row &r : rows) {
    ASSERT_EQ(vm.Box(1, {0, 0, 10, 10}, r.keys).code, 0u);
    EXPECT_EQ(vm.LastBoxCorners(), r.corners);
  }
}

TEST(VectorLibrary, WithoutThePluginPathsAreBuiltButNotMeasured) {
  VectorVm vm;  // the player's plug-in list is empty in the tests
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("MoveTo", {1, 1, 1}).code, 0u);
  ASSERT_EQ(vm.Call("AddCircleToPath", {1, 5, 5, 3}).code, 0u);
  ASSERT_EQ(vm.Call("CopyPath", {1, 2}).code, 0u);
  ASSERT_EQ(vm.Call("AppendPath", {1, 2}).code, 0u);
  ASSERT_EQ(vm.Call("TranslatePath", {1, 0, 0}).code, 0u);
  using A = std::vector<CmdArg>;
  struct Row {
    const char *name;
    A args;
  } rows[] = {
      {"DrawPath", {1, 0, 0}},      {"GetPathExtents", {1}}, {"GetCurrentPoint", {1}},
      {"NormalizePath", {1}},       {"TranslatePath", {1, 2, 0}},
      {"AddTextToPath", {1, CmdArg::Str("a")}},
  };
  for (const Row &r : rows) EXPECT_EQ(vm.Call(r.name, r.args).code, uint32_t(ERR_VECGFXPLUGIN)) << r.name;
}

// ---- Against pycairo ---------------------------------------------------------------------------

constexpr int kW = 48, kH = 40;
constexpr uint32_t kBackground = 0x204060;

struct Style {
  int fill, width, aa, join, cap, rule;
};

struct PathCase {
  const char *name;
  std::vector<std::string> commands;  // the peer's spelling
  Style style;
  std::vector<double> dash;  // offset, lengths; empty: solid
  int x, y;
  uint32_t color;
};

std::vector<double> Numbers(std::istringstream &in) {
  std::vector<double> v;
  double d;
  while (in >> d) v.push_back(d);
  return v;
}

// The case's path built through the script's commands, as path 1.
void BuildPath(VectorVm &vm, const PathCase &c) {
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  for (const std::string &line : c.commands) {
    std::istringstream in(line);
    std::string op;
    in >> op;
    std::vector<double> v = Numbers(in);
    std::vector<CmdArg> args{1};
    std::string name;
    if (op == "move" || op == "line" || op == "curve") {
      name = std::string(v[0] ? "Rel" : "") + (op == "move" ? "MoveTo" : op == "line" ? "LineTo" : "CurveTo");
      v.erase(v.begin());
    } else if (op == "arc") {
      name = "AddArcToPath";
    } else if (op == "sub") {
      name = "StartSubPath";
    } else if (op == "close") {
      name = "ClosePath";
    } else if (op == "box") {
      ASSERT_EQ(vm.Box(1, {v[0], v[1], v[2], v[3]},
                       {{"cornera", v[4]}, {"cornerb", v[5]}, {"cornerc", v[6]}, {"cornerd", v[7]}})
                    .code,
                0u);
      continue;
    }
    for (double d : v) args.push_back(d);
    ASSERT_EQ(vm.Call(name, args).code, 0u) << line;
  }
}

void ApplyStyle(VectorVm &vm, const PathCase &c) {
  const Style &s = c.style;
  if (s.fill) {
    ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  } else {
    ASSERT_EQ(vm.Call("SetFillStyle", {0, s.width}).code, 0u);
  }
  ASSERT_EQ(vm.Call("SetFormStyle", {1}).code, 0u);
  if (s.aa) {
    ASSERT_EQ(vm.Call("SetFormStyle", {16}).code, 0u);
  }
  ASSERT_EQ(vm.Call("SetLineJoin", {s.join}).code, 0u);
  ASSERT_EQ(vm.Call("SetLineCap", {s.cap}).code, 0u);
  ASSERT_EQ(vm.Call("SetFillRule", {s.rule}).code, 0u);
  std::vector<CmdArg> dash{0, -1};
  if (!c.dash.empty()) dash.assign(c.dash.begin(), c.dash.end());
  ASSERT_EQ(vm.Call("SetDash", dash).code, 0u);
}

// What the peer is told: the script's settings as cairo takes them.
std::string PeerCase(const PathCase &c, const char *finish) {
  std::ostringstream o;
  o << "picture " << kW << " " << kH << " " << kBackground << "\n";
  const Style &s = c.style;
  auto clamp = [](int v, int hi) { return v < 0 ? 0 : v > hi ? hi : v; };
  o << "style " << s.fill << " " << s.width << " " << s.aa << " " << clamp(s.join, 2) << " " << clamp(s.cap, 2)
    << " " << clamp(s.rule, 1) << "\n";
  if (!c.dash.empty()) {
    o << "dash";
    for (double d : c.dash) o << " " << d;
    o << "\n";
  }
  for (const std::string &line : c.commands) o << line << "\n";
  o << finish << "\n";
  return o.str();
}

// The peer's output lines for the script.
std::vector<std::string> RunPeer(const std::string &script) {
  char path[] = "/tmp/qm_vector_peer_XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  FILE *f = fdopen(fd, "w");
  std::fputs(script.c_str(), f);
  std::fclose(f);
  const std::string cmd =
      std::string("/usr/bin/python3 " QM_SOURCE_DIR "/tests/graphics/vectorgraphics/cairo_peer.py < ") + path;
  FILE *p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  std::remove(path);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Compares brush 1 with the peer's picture: the worst channel difference and how many pixels
// the peer changed.
void ComparePicture(VectorVm &vm, const std::string &peer, int *worst, int *changed) {
  const qmBitmap *b = vm.Brush(1)->bitmap;
  std::istringstream want(peer);
  *worst = *changed = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      std::string word;
      want >> word;
      const uint32_t w = uint32_t(std::stoul(word, nullptr, 16)), got = VectorVm::BitmapPixel(b, x, y);
      if (w != kBackground) (*changed)++;
      for (int s = 0; s < 24; s += 8) *worst = std::max(*worst, std::abs(int((w >> s) & 255) - int((got >> s) & 255)));
    }
}

// draw run with brush 1 (the background colour) selected; its picture then matches the peer's
// but for the final blend's rounding (both rasterise with cairo).
void ExpectLikePeer(VectorVm &vm, const std::string &peer, const std::function<void()> &draw) {
  ASSERT_EQ(vm.Call("CreateBrush", {1, kW, kH, double(kBackground)}).code, 0u);
  ASSERT_EQ(vm.Call("SelectBrush", {1}).code, 0u);
  draw();
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  int worst, changed;
  ComparePicture(vm, peer, &worst, &changed);
  EXPECT_GT(changed, 20);
  EXPECT_LE(worst, 2);
}

const PathCase kCases[] = {
    {"filled triangle, aliased", {"move 0 4 2", "line 0 30 8", "line 0 10 25", "close"}, {1, 1, 0, 0, 0, 0}, {},
     3, 4, 0xFF2010},
    {"filled circle, antialiased", {"arc 20 20 12.5 12.5 0 360 1"}, {1, 1, 1, 0, 0, 0}, {}, 5, 6, 0x40E080},
    {"ellipse, half transparent", {"arc 0 0 15 8 0 360 1"}, {1, 1, 1, 0, 0, 0}, {}, 6, 10, 0x80FFFF00},
    {"pie slice", {"move 0 12 12", "arc 12 12 12 12 0 120 1", "close"}, {1, 1, 1, 0, 0, 0}, {}, 10, 4, 0xFFFFFF},
    {"counter-clockwise arc stroked", {"arc 10 10 9 9 0 270 0"}, {0, 3, 1, 0, 1, 0}, {}, 4, 4, 0xF0F0F0},
    {"rounded box", {"box 0 0 30 20 100 50 0 20"}, {1, 1, 1, 0, 0, 0}, {}, 8, 8, 0x00FFFF},
    {"curve stroked with round caps", {"move 0 2 30", "curve 0 10 -10 25 50 36 4"}, {0, 4, 1, 1, 1, 0}, {}, 2, 2,
     0xFF00FF},
    {"relative lines, bevel joins", {"move 0 5 5", "line 1 20 0", "line 1 -10 15", "line 1 -5 -12"},
     {0, 5, 1, 2, 0, 0}, {}, 3, 3, 0xFFFF80},
    {"dashed square", {"box 0 0 25 25 0 0 0 0"}, {0, 2, 0, 0, 0, 0}, {1, 5, 3}, 6, 6, 0xFFFFFF},
    {"star, even-odd rule",
     {"move 0 20 0", "line 0 32 36", "line 0 0 13", "line 0 40 13", "line 0 8 36", "close"},
     {1, 1, 1, 0, 0, 1}, {}, 4, 2, 0xFF8000},
    {"star, winding rule",
     {"move 0 20 0", "line 0 32 36", "line 0 0 13", "line 0 40 13", "line 0 8 36", "close"},
     {1, 1, 1, 0, 0, 0}, {}, 4, 2, 0xFF8000},
    {"two sub-paths", {"move 0 0 0", "line 0 10 10", "sub", "move 0 20 0", "line 0 30 10"}, {0, 3, 1, 0, 2, 0}, {},
     5, 5, 0x8080FF},
    {"out-of-range join, cap and rule are clamped",
     {"move 0 2 2", "line 0 30 10", "line 0 4 24"}, {0, 6, 1, 7, -3, 9}, {}, 4, 4, 0xFFFFFF},
};

TEST(VectorLibrary, PathsDrawnIntoBrushesMatchCairo) {
  std::string script;
  for (const PathCase &c : kCases) {
    char draw[64];
    std::snprintf(draw, sizeof draw, "draw %d %d %u", c.x, c.y, c.color);
    script += PeerCase(c, draw);
  }
  const std::vector<std::string> peer = RunPeer(script);
  ASSERT_EQ(peer.size(), std::size(kCases)) << "the peer ran: python3-cairo is installed";
  VectorVm vm;
  vm.UsePlugin();
  size_t i = 0;
  for (const PathCase &c : kCases) {
    SCOPED_TRACE(c.name);
    ExpectLikePeer(vm, peer[i++], [&] {
      ApplyStyle(vm, c);
      BuildPath(vm, c);
      ASSERT_EQ(vm.Call("DrawPath", {1, c.x, c.y, double(c.color)}).code, 0u);
    });
  }
}

// An arc of many turns draws what one turn draws, at once: the peer is handed the one turn.
// An end behind the start counts from the start's next turn.
TEST(VectorLibrary, ArcsOfManyTurnsDrawOneTurn) {
  struct Row {
    const char *name;
    const char *arc, *peerArc;
  } rows[] = {
      {"ten million degrees", "arc 20 20 12 12 0 1e7 1", "arc 20 20 12 12 0 360 1"},
      {"from -1e15 to 1e15", "arc 20 20 12 12 -1e15 1e15 1", "arc 20 20 12 12 -280 80 1"},
      {"counter-clockwise from 1e15 to -1e15", "arc 20 20 12 12 1e15 -1e15 0", "arc 20 20 12 12 280 -80 0"},
      {"an end far behind the start", "arc 20 20 12 12 90 -1e9 1", "arc 20 20 12 12 90 440 1"},
      {"a pie of many turns", "move 0 20 20\narc 20 20 12 12 45 1e12 1", "move 0 20 20\narc 20 20 12 12 45 405 1"},
  };
  std::string script;
  for (const Row &r : rows) {
    const PathCase c{r.name, {r.peerArc}, {0, 3, 1, 0, 0, 0}, {}, 2, 2, 0xFFFFFF};
    script += PeerCase(c, "draw 2 2 16777215");
  }
  const std::vector<std::string> peer = RunPeer(script);
  ASSERT_EQ(peer.size(), std::size(rows));
  VectorVm vm;
  vm.UsePlugin();
  for (size_t i = 0; i < std::size(rows); i++) {
    SCOPED_TRACE(rows[i].name);
    std::vector<std::string> commands;
    std::istringstream in(rows[i].arc);
    for (std::string line; std::getline(in, line);) commands.push_back(line);
    const PathCase c{rows[i].name, commands, {0, 3, 1, 0, 0, 0}, {}, 2, 2, 0xFFFFFF};
    ExpectLikePeer(vm, peer[i], [&] {
      ApplyStyle(vm, c);
      BuildPath(vm, c);
      ASSERT_EQ(vm.Call("DrawPath", {1, 2, 2, double(0xFFFFFF)}).code, 0u);
    });
  }
}

// Shapes cairo cannot hold end at once with an error instead of running without end: an arc or a
// pen far past cairo's coordinates, a path moved past the numbers, NaN from the script.
TEST(VectorLibrary, ShapesBeyondCairoAreRefusedAtOnce) {
  VectorVm vm;
  vm.UsePlugin();
  struct Row {
    const char *name;
    std::vector<std::pair<const char *, std::vector<CmdArg>>> build;  // after StartPath(1)
    const char *command;
    std::vector<CmdArg> args;
    uint32_t code;
  } rows[] = {
      {"an arc of radius 1e200", {{"AddArcToPath", {1, 0, 0, 1e200, 1e200, 0, 90}}}, "GetPathExtents", {1}, ERR_DRAWPATH},
      {"a circle of radius 1e12", {{"AddCircleToPath", {1, 0, 0, 1e12}}}, "DrawPath", {1, 0, 0}, ERR_DRAWPATH},
      {"a pen 2^31 - 1 wide", {{"MoveTo", {1, 0, 0}}, {"LineTo", {1, 5, 5}}, {"SetFillStyle", {0, 2147483647}}},
       "GetPathExtents", {1}, ERR_DRAWPATH},
      {"a point past cairo's coordinates", {{"MoveTo", {1, 0, 0}}, {"LineTo", {1, 1e7, 0}}}, "GetPathExtents", {1},
       ERR_DRAWPATH},
      {"a NaN angle", {}, "AddArcToPath", {1, 10, 10, 5, 5, 0, std::nan("")}, ERR_WRONGUSAGE},
      {"an infinite dash", {}, "SetDash", {0, 4, HUGE_VAL}, ERR_WRONGUSAGE},
  };
  for (const Row &r : rows) {
    ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
    for (const auto &b : r.build) ASSERT_EQ(vm.Call(b.first, b.second).code, 0u) << r.name;
    EXPECT_EQ(vm.Call(r.command, r.args).code, r.code) << r.name;
  }
  // A refused move leaves the path as it was.
  // Its point lies past what cairo holds (which would hand back a wrapped number), until the
  // path is moved back.
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("MoveTo", {1, 1e308, 0}).code, 0u);
  EXPECT_EQ(vm.Call("TranslatePath", {1, 1e308, 0}).code, uint32_t(ERR_DRAWPATH));
  EXPECT_EQ(vm.Call("GetCurrentPoint", {1}).code, uint32_t(ERR_DRAWPATH));
  ASSERT_EQ(vm.Call("TranslatePath", {1, -1e308, 1}).code, 0u);
  EXPECT_EQ(vm.Call("GetCurrentPoint", {1}).results, (std::vector<double>{0, 1}));
}

TEST(VectorLibrary, ExtentsAndCurrentPointMatchCairo) {
  std::string script;
  for (const PathCase &c : kCases) script += PeerCase(c, "extents");
  const std::vector<std::string> peer = RunPeer(script);
  ASSERT_EQ(peer.size(), std::size(kCases));
  VectorVm vm;
  vm.UsePlugin();
  size_t i = 0;
  for (const PathCase &c : kCases) {
    SCOPED_TRACE(c.name);
    ApplyStyle(vm, c);
    BuildPath(vm, c);
    const CommandCall r = vm.Call("GetPathExtents", {1});
    ASSERT_EQ(r.code, 0u);
    std::istringstream want(peer[i++]);
    std::vector<double> w = Numbers(want);
    ASSERT_EQ(r.results.size(), 4u);
    for (int k = 0; k < 4; k++) EXPECT_NEAR(r.results[k], w[k], 1e-5) << k;
  }
  // NormalizePath moves the filled box to the origin; the current point moves with it.
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SetDash", {0, -1}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("MoveTo", {1, 12, 30}).code, 0u);
  ASSERT_EQ(vm.Call("LineTo", {1, 40, 35}).code, 0u);
  ASSERT_EQ(vm.Call("RelLineTo", {1, -20, 10}).code, 0u);
  EXPECT_EQ(vm.Call("GetCurrentPoint", {1}).results, (std::vector<double>{20, 45}));
  ASSERT_EQ(vm.Call("NormalizePath", {1}).code, 0u);
  EXPECT_EQ(vm.Call("GetPathExtents", {1}).results, (std::vector<double>{0, 0, 28, 15}));
  EXPECT_EQ(vm.Call("GetCurrentPoint", {1}).results, (std::vector<double>{8, 15}));
  ASSERT_EQ(vm.Call("TranslatePath", {1, 2.5, -1}).code, 0u);
  EXPECT_EQ(vm.Call("GetPathExtents", {1}).results, (std::vector<double>{2.5, -1, 30.5, 14}));
  // An empty path measures nothing.
  ASSERT_EQ(vm.Call("ClearPath", {1}).code, 0u);
  EXPECT_EQ(vm.Call("GetPathExtents", {1}).results, (std::vector<double>{0, 0, 0, 0}));
  EXPECT_EQ(vm.Call("GetCurrentPoint", {1}).results, (std::vector<double>{0, 0}));
}

TEST(VectorLibrary, EdgeAndShadowMatchCairo) {
  struct Row {
    const char *name;
    std::vector<std::string> commands;
    int edge;
    uint32_t edgeColor;
    int shadow, direction;
    uint32_t shadowColor;
    int x, y;
    uint32_t color;
  } rows[] = {
      {"edged triangle", {"move 0 4 2", "line 0 30 8", "line 0 10 25", "close"}, 3, 0xFFFFFF, 0, 0, 0, 8, 6, 0xFF0000},
      {"circle with a shadow down-right", {"arc 10 10 10 10 0 360 1"}, 0, 0, 5, 3, 0x000000, 6, 6, 0x00FF00},
      {"edged box with a shadow up-left", {"box 0 0 20 14 30 30 30 30"}, 2, 0x0000FF, 4, 7, 0x101010, 12, 12,
       0xFFFF00},
      {"transparent fill cuts into the edge", {"box 0 0 20 14 0 0 0 0"}, 4, 0xFFFFFF, 0, 0, 0, 10, 10,
       0xFF808080},
  };
  std::string script;
  for (const Row &r : rows) {
    std::ostringstream o;
    o << "picture " << kW << " " << kH << " " << kBackground << "\nstyle 1 1 0 0 0 0\neffects " << r.edge << " "
      << r.edgeColor << " " << r.shadow << " " << r.direction << " " << r.shadowColor << "\n";
    for (const std::string &c : r.commands) o << c << "\n";
    o << "draw " << r.x << " " << r.y << " " << r.color << "\n";
    script += o.str();
  }
  const std::vector<std::string> peer = RunPeer(script);
  ASSERT_EQ(peer.size(), std::size(rows));
  VectorVm vm;
  vm.UsePlugin();
  for (size_t i = 0; i < std::size(rows); i++) {
    const Row &r = rows[i];
    SCOPED_TRACE(r.name);
    ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
    ASSERT_EQ(vm.Call("SetFormStyle", {1}).code, 0u);
    if (r.edge) {
      ASSERT_EQ(vm.Call("SetFormStyle", {64, double(r.edgeColor), r.edge}).code, 0u);
    }
    if (r.shadow) {
      ASSERT_EQ(vm.Call("SetFormStyle", {32, double(r.shadowColor), r.shadow, r.direction}).code, 0u);
    }
    ExpectLikePeer(vm, peer[i], [&] {
      BuildPath(vm, {r.name, r.commands, {1, 1, 0, 0, 0, 0}, {}, r.x, r.y, r.color});
      ASSERT_EQ(vm.Call("DrawPath", {1, r.x, r.y, double(r.color)}).code, 0u);
    });
  }
}

TEST(VectorLibrary, TurnedPathsMatchCairo) {
  struct Row {
    const char *name;
    std::vector<std::string> commands;
    double m[4];
    double anchor;
  } rows[] = {
      {"ellipse turned 30 degrees about its centre", {"arc 0 0 16 6 0 360 1"}, {0.866025, 0.5, -0.5, 0.866025}, 0.5},
      {"triangle sheared", {"move 0 0 0", "line 0 20 4", "line 0 6 18", "close"}, {1, 0, 0.5, 1}, 0.5},
      {"box mirrored about its corner", {"box 0 0 16 10 40 0 0 40"}, {-1, 0, 0, 1}, 0},
  };
  std::string script;
  for (const Row &r : rows) {
    std::ostringstream o;
    o << "picture " << kW << " " << kH << " " << kBackground << "\nstyle 1 1 1 0 0 0\nturn " << r.m[0] << " "
      << r.m[1] << " " << r.m[2] << " " << r.m[3] << " " << r.anchor << " " << r.anchor << "\n";
    for (const std::string &c : r.commands) o << c << "\n";
    o << "draw 24 20 " << 0xFFC000 << "\n";
    script += o.str();
  }
  const std::vector<std::string> peer = RunPeer(script);
  ASSERT_EQ(peer.size(), std::size(rows));
  VectorVm vm;
  vm.UsePlugin();
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {16}).code, 0u);
  for (size_t i = 0; i < std::size(rows); i++) {
    const Row &r = rows[i];
    SCOPED_TRACE(r.name);
    ExpectLikePeer(vm, peer[i], [&] {
      BuildPath(vm, {r.name, r.commands, {1, 1, 1, 0, 0, 0}, {}, 0, 0, 0});
      ASSERT_EQ(vm.CallWith("drawpath", [&] {
        for (double v : {1.0, 24.0, 20.0, double(0xFFC000)}) vm_pushnumber(vm.L, v);
        vm_newtable(vm.L);
        vm_pushstring(vm.L, "transform");
        vm_newtable(vm.L);
        for (int k = 0; k < 4; k++) {
          vm_pushnumber(vm.L, r.m[k]);
          vm_rawseti(vm.L, -2, k);
        }
        vm_settable(vm.L, -3);
        vm.Set("anchorx", r.anchor), vm.Set("anchory", r.anchor);
        return 5;
      }).code, 0u);
    });
  }
}

TEST(VectorLibrary, ForcedShapesAreDrawnAsPaths) {
  struct Row {
    const char *command;
    std::vector<CmdArg> args;
    std::string peer;  // the path the shape becomes, drawn filled at the shape's position
  } rows[] = {
      {"Box", {5, 6, 30, 20, 0xFFEE00, 60}, "box 0 0 30 20 60 60 60 60\nclose\ndraw 5 6 16772608"},
      {"Circle", {4, 3, 12, 0x00FF80}, "arc 12 12 12 12 0 360 1\nclose\ndraw 4 3 65408"},
      {"Ellipse", {2, 8, 20, 9, double(0x8000FFFF)}, "arc 20 9 20 9 0 360 1\nclose\ndraw 2 8 2147549183"},
  };
  std::string script;
  for (const Row &r : rows)
    script += "picture " + std::to_string(kW) + " " + std::to_string(kH) + " " + std::to_string(kBackground) +
              "\nstyle 1 1 1 0 0 0\n" + r.peer + "\n";
  const std::vector<std::string> peer = RunPeer(script);
  ASSERT_EQ(peer.size(), std::size(rows));
  VectorVm vm;
  vm.UsePlugin();
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("SetFormStyle", {16}).code, 0u);
  ASSERT_EQ(vm.Call("ForcePathUse", {1}).code, 0u);
  for (size_t i = 0; i < std::size(rows); i++) {
    SCOPED_TRACE(rows[i].command);
    ExpectLikePeer(vm, peer[i], [&] { ASSERT_EQ(vm.Call(rows[i].command, rows[i].args).code, 0u); });
    // The temporary path is gone again.
    EXPECT_EQ(vm.Count(), 0u);
  }
  // Without the plug-in the forced route has nothing to draw with.
  GetPlayerContext(vm.L)->findVectorEngine = nullptr;
  EXPECT_EQ(vm.Call("Box", {0, 0, 10, 10, 0xFF}).code, uint32_t(ERR_VECGFXPLUGIN));
  EXPECT_EQ(vm.Count(), 0u);
  ASSERT_EQ(vm.Call("ForcePathUse", {0}).code, 0u);
  EXPECT_EQ(vm.Call("Box", {0, 0, 10, 10, 0xFF}).code, 0u);
}

TEST(VectorLibrary, TextOutlinesMatchCairo) {
  const std::vector<std::string> peer =
      RunPeer("style 1 1 1 0 0 0\ntext 18 Hi\nextents\nstyle 1 1 1 0 0 0\nmove 0 5 30\ntext 24 \xC3\xA9t\xC3\xA9\nextents\n");
  ASSERT_EQ(peer.size(), 2u);
  VectorVm vm;
  vm.UsePlugin();
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  // The built-in bitmap font has no outlines: nothing is appended.
  EXPECT_EQ(vm.Call("AddTextToPath", {1, CmdArg::Str("Hi")}).code, uint32_t(ERR_VFONTTYPE));
  EXPECT_EQ(vm.Call("IsPathEmpty", {1}).results, std::vector<double>{1});
  struct Row {
    double size;
    std::vector<CmdArg> args;
    bool moveFirst;
  } rows[] = {
      {18, {1, CmdArg::Str("Hi")}, false},
      // ISO-8859-1 by default: "\xE9t\xE9" is the peer's UTF-8 word.
      {24, {1, CmdArg::Str("\xE9t\xE9")}, true},
  };
  for (size_t i = 0; i < std::size(rows); i++) {
    ASSERT_EQ(vm.Call("SetFont", {CmdArg::Str(":::default_sans"), rows[i].size}).code, 0u);
    ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
    if (rows[i].moveFirst) {
      ASSERT_EQ(vm.Call("MoveTo", {1, 5, 30}).code, 0u);
    }
    ASSERT_EQ(vm.Call("AddTextToPath", rows[i].args).code, 0u);
    const CommandCall r = vm.Call("GetPathExtents", {1});
    ASSERT_EQ(r.code, 0u);
    std::istringstream want(peer[i]);
    const std::vector<double> w = Numbers(want);
    ASSERT_EQ(r.results.size(), 4u);
    for (int k = 0; k < 4; k++) EXPECT_NEAR(r.results[k], w[k], 0.5) << i << " " << k;
  }
  // Another encoding than the two is refused.
  EXPECT_EQ(vm.CallWith("addtexttopath", [&] {
    vm_pushnumber(vm.L, 1);
    vm_pushstring(vm.L, "x");
    vm_newtable(vm.L);
    vm.Set("encoding", 5);
    return 3;
  }).code, uint32_t(ERR_WRONGUSAGE));
}

// The window's pixels of display 1 (64 x 48), and the box of those unlike the background.
struct Screen {
  std::vector<uint32_t> px;
  int x0 = 64, y0 = 48, x1 = -1, y1 = -1;
};
Screen Capture(VectorVm &vm) {
  Screen s;
  for (int y = 0; y < 48; y++)
    for (int x = 0; x < 64; x++) {
      const uint32_t p = DisplayVm::WindowPixel(vm.d, x, y);
      s.px.push_back(p);
      if (p == 0x102030) continue;
      s.x0 = std::min(s.x0, x), s.y0 = std::min(s.y0, y), s.x1 = std::max(s.x1, x), s.y1 = std::max(s.y1, y);
    }
  return s;
}

// Path 1: an ellipse of 24 x 10, filled, with the plug-in at hand.
void FilledEllipsePath(VectorVm &vm) {
  vm.UsePlugin();
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("AddEllipseToPath", {1, 0, 0, 12, 5}).code, 0u);
}

TEST(VectorLibrary, WithLayersOnAPathBecomesAPathLayer) {
  VectorVm vm;
  FilledEllipsePath(vm);
  ASSERT_EQ(vm.Call("DrawPath", {1, 30, 28, 0xFF0000}).code, 0u);
  const Screen direct = Capture(vm);
  EXPECT_EQ(direct.x1 - direct.x0 + 1, 24);
  EXPECT_EQ(direct.y1 - direct.y0 + 1, 10);
  ASSERT_EQ(vm.Call("Cls", {}).code, 0u);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DrawPath", {1, 30, 28, 0xFF0000}).code, 0u);
  const qmLayer *layer = FirstLayer(vm.Scene()->picture);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(layer->type, int32_t(QMTYPE_VECTORPATH));
  EXPECT_EQ(Capture(vm).px, direct.px);
  // Turned a quarter, the layer's ink stands upright.
  ASSERT_EQ(vm.CallWith("setlayerstyle", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm.Set("rotate", 90);
    return 2;
  }).code, 0u);
  const Screen turned = Capture(vm);
  EXPECT_EQ(turned.x1 - turned.x0 + 1, 10);
  EXPECT_EQ(turned.y1 - turned.y0 + 1, 24);
}

// The window's pixels against the peer's picture of the whole window: the worst channel
// difference and how many pixels the peer changed.
void CompareScreen(const Screen &s, const std::string &peer, int *worst, int *changed) {
  std::istringstream want(peer);
  *worst = *changed = 0;
  for (uint32_t got : s.px) {
    std::string word;
    want >> word;
    const uint32_t w = uint32_t(std::stoul(word, nullptr, 16));
    if (w != 0x102030) (*changed)++;
    for (int k = 0; k < 24; k += 8) *worst = std::max(*worst, std::abs(int((w >> k) & 255) - int((got >> k) & 255)));
  }
}

// SetLayerStyle(1, {key = {numbers from index 0}, ...}) with number keys beside.
CommandCall LayerStyle(VectorVm &vm, const std::vector<std::pair<const char *, std::vector<double>>> &lists,
                       const std::vector<std::pair<const char *, double>> &numbers) {
  return vm.CallWith("setlayerstyle", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    for (auto &l : lists) {
      vm_pushstring(vm.L, l.first);
      vm_newtable(vm.L);
      for (size_t k = 0; k < l.second.size(); k++) {
        vm_pushnumber(vm.L, l.second[k]);
        vm_rawseti(vm.L, -2, int(k));
      }
      vm_settable(vm.L, -3);
    }
    for (auto &n : numbers) vm.Set(n.first, n.second);
    return 2;
  });
}

// The peer's pictures of the window (64 x 48 over the display's background), one per case: the
// path drawn at its place, the case's lines (each ended by a newline) told just before the draw.
std::vector<std::string> RunWindowPeer(const std::vector<std::pair<PathCase, std::string>> &cases) {
  std::string script;
  for (const auto &[path, before] : cases) {
    std::string c = PeerCase(path, ("draw " + std::to_string(path.x) + " " + std::to_string(path.y) + " " +
                                    std::to_string(path.color)).c_str());
    c = "picture 64 48 " + std::to_string(0x102030) + c.substr(c.find('\n'));
    c.insert(c.find("\ndraw") + 1, before);
    script += c;
  }
  return RunPeer(script);
}

// The peer's line for a matrix turning the path's box about its top-left corner.
std::string TurnLine(const std::vector<double> &m) {
  std::ostringstream o;
  o << "turn " << m[0] << " " << m[1] << " " << m[2] << " " << m[3] << " 0 0\n";
  return o.str();
}

// The case's path drawn as layer 1 of display 1, with the plug-in at hand.
void DrawPathLayer(VectorVm &vm, const PathCase &path) {
  vm.UsePlugin();
  ApplyStyle(vm, path);
  BuildPath(vm, path);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DrawPath", {1, path.x, path.y, double(path.color)}).code, 0u);
}

TEST(VectorLibrary, PathLayersAreDrawnAgainFromTheirPathWhenTransformed) {
  // Scaled or sheared pixels of the first picture would show blocks and smears where cairo,
  // drawing the path through the matrix, draws thin smooth edges.
  struct Row {
    PathCase path;
    std::vector<double> m;
  } rows[] = {
      {{"thin outline scaled three times", {"move 0 1 1", "line 0 12 3", "line 0 4 10", "close"}, {0, 1, 1, 0, 0, 0},
        {}, 4, 4, 0xFFFFFF},
       {3, 0, 0, 3}},
      {{"ellipse sheared", {"arc 8 5 8 5 0 360 1"}, {1, 1, 1, 0, 0, 0}, {}, 6, 8, 0x40E080}, {1, 0, 0.5, 1}},
      {{"dashed curve stretched", {"move 0 0 10", "curve 0 6 -4 12 14 20 4"}, {0, 2, 1, 1, 1, 0}, {0, 3, 2}, 3, 5,
        0xFF8000},
       {2.5, 0, 0, 1.5}},
  };
  std::vector<std::pair<PathCase, std::string>> cases;
  for (const Row &r : rows) cases.emplace_back(r.path, TurnLine(r.m));
  const std::vector<std::string> peer = RunWindowPeer(cases);
  ASSERT_EQ(peer.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); i++) {
    const Row &r = rows[i];
    SCOPED_TRACE(r.path.name);
    VectorVm vm;
    DrawPathLayer(vm, r.path);
    ASSERT_EQ(LayerStyle(vm, {{"transform", r.m}}, {}).code, 0u);
    int worst, changed;
    CompareScreen(Capture(vm), peer[i], &worst, &changed);
    EXPECT_GT(changed, 20);
    EXPECT_LE(worst, 2);
  }
}

// A path layer's border is its path stroked twice the border wide (a filled path's inside
// covered too), drawn through the layer's matrix: not a widened and blurred copy of its picture.
TEST(VectorLibrary, PathLayerBordersAreDrawnFromThePath) {
  struct Row {
    PathCase path;
    std::vector<double> m;
    int size;
    uint32_t color;
  } rows[] = {
      {{"filled ellipse", {"arc 10 6 10 6 0 360 1"}, {1, 1, 0, 0, 0, 0}, {}, 8, 8, 0xFF2010}, {1, 0, 0, 1}, 3,
       0x00FF00},
      {{"dashed zigzag, round joins", {"move 0 2 2", "line 0 14 20", "line 0 26 4"}, {0, 3, 1, 1, 1, 0}, {0, 6, 3}, 10,
        10, 0xFFFF80},
       {1, 0, 0, 1}, 2, 0x4060FF},
      {{"filled triangle turned", {"move 0 0 0", "line 0 20 4", "line 0 6 16", "close"}, {1, 1, 0, 0, 0, 0}, {}, 30, 8,
        0x40E080},
       {0.8, 0.6, -0.6, 0.8}, 2, 0xFF00FF},
  };
  std::vector<std::pair<PathCase, std::string>> cases;
  for (const Row &r : rows)
    cases.emplace_back(r.path, "border " + std::to_string(r.size) + " " + std::to_string(r.color) + "\n" +
                                   (r.m != std::vector<double>{1, 0, 0, 1} ? TurnLine(r.m) : ""));
  const std::vector<std::string> peer = RunWindowPeer(cases);
  ASSERT_EQ(peer.size(), std::size(rows));
  auto want = peer.begin();
  for (const Row &r : rows) {
    SCOPED_TRACE(r.path.name);
    VectorVm vm;
    DrawPathLayer(vm, r.path);
    if (r.m != std::vector<double>{1, 0, 0, 1}) {
      ASSERT_EQ(LayerStyle(vm, {{"transform", r.m}}, {}).code, 0u);
    }
    ASSERT_EQ(vm.Call("SetLayerBorder", {1, 1, double(r.color), double(r.size)}).code, 0u);
    int worst, changed;
    CompareScreen(Capture(vm), *want++, &worst, &changed);
    EXPECT_GT(changed, 40) << "the border adds to the path's own pixels";
    EXPECT_LE(worst, 2);
  }
}

TEST(VectorLibrary, PathLayerContentKeysDrawAnotherPathOrStyle) {
  // Path 1 becomes path 2 stroked with round joins and caps, dashed, in another colour.
  const PathCase after{"zigzag", {"move 0 2 2", "line 0 14 20", "line 0 26 4", "line 0 38 22"}, {0, 3, 1, 1, 1, 0},
                       {1, 4, 2}, 5, 6, 0xFF40FF};
  const std::vector<std::string> peer =
      RunPeer("picture 64 48 " + std::to_string(0x102030) + PeerCase(after, "draw 5 6 16728319").substr(
                                                              PeerCase(after, "").find('\n')));
  ASSERT_EQ(peer.size(), 1u);
  VectorVm vm;
  vm.UsePlugin();
  ApplyStyle(vm, {"", {}, {0, 3, 1, 0, 0, 0}, {}, 0, 0, 0});
  ASSERT_EQ(vm.Call("StartPath", {2}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {3}).code, 0u);
  ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
  ASSERT_EQ(vm.Call("AddCircleToPath", {1, 8, 8, 8}).code, 0u);
  for (const std::string &line : after.commands) {
    std::istringstream in(line);
    std::string op;
    in >> op;
    std::vector<double> v = Numbers(in);
    ASSERT_EQ(vm.Call(op == "move" ? "MoveTo" : "LineTo", {2, v[1], v[2]}).code, 0u);
  }
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DrawPath", {1, 5, 6, 0x00FF00}).code, 0u);
  const Screen circle = Capture(vm);
  // Refusals leave the layer as it was.
  struct Bad {
    const char *name;
    std::vector<std::pair<const char *, std::vector<double>>> lists;
    std::vector<std::pair<const char *, double>> numbers;
    uint32_t code;
  } bad[] = {
      {"no such path", {}, {{"id", 9}}, ERR_FINDPATH},
      {"an empty path", {}, {{"id", 3}}, ERR_EMPTYPATH},
      {"dashes not a table", {}, {{"dashes", 4}}, ERR_TABEXPECTED},
      {"dashes that cannot dash", {{"dashes", {0, 0}}}, {}, ERR_WRONGUSAGE},
  };
  for (const Bad &b : bad) {
    EXPECT_EQ(LayerStyle(vm, b.lists, b.numbers).code, b.code) << b.name;
    EXPECT_EQ(Capture(vm).px, circle.px) << b.name;
  }
  EXPECT_EQ(vm.CallWith("setlayerstyle", [&] {
    vm_pushnumber(vm.L, 1);
    vm_newtable(vm.L);
    vm_pushstring(vm.L, "dashes");
    vm_newtable(vm.L);
    vm_pushnumber(vm.L, 2);
    vm_rawseti(vm.L, -2, 0);
    vm_pushstring(vm.L, "x");
    vm_rawseti(vm.L, -2, 1);
    vm_settable(vm.L, -3);
    return 2;
  }).code, uint32_t(ERR_NUMTABLEARG));
  ASSERT_EQ(LayerStyle(vm, {{"dashes", {4, 2}}},
                       {{"id", 2}, {"color", 0xFF40FF}, {"linejoin", 1}, {"linecap", 1}, {"dashoffset", 1}})
                .code,
            0u);
  int worst, changed;
  CompareScreen(Capture(vm), peer[0], &worst, &changed);
  EXPECT_GT(changed, 20);
  EXPECT_LE(worst, 2);
  // GetLayerStyle reads back what the style set.
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "getlayerstyle");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  vm_pushnumber(vm.L, 1);
  ASSERT_EQ(vm_pcall(vm.L, 1, 1, 0), 0);
  for (auto [key, value] : {std::pair{"color", double(0xFF40FF)}, std::pair{"linejoin", 1.0},
                            std::pair{"linecap", 1.0}, std::pair{"dashoffset", 1.0}}) {
    vm_pushstring(vm.L, key);
    vm_gettable(vm.L, 1);
    EXPECT_EQ(vm_tonumber(vm.L, -1), value) << key;
    vm_pop(vm.L, 1);
  }
  vm_pushstring(vm.L, "dashes");
  vm_gettable(vm.L, 1);
  ASSERT_EQ(vm_type(vm.L, -1), VM_TTABLE);
  for (int k = 0; k < 3; k++) {
    vm_rawgeti(vm.L, -1, k);
    EXPECT_EQ(vm_type(vm.L, -1) == VM_TNUMBER ? vm_tonumber(vm.L, -1) : -1.0, k == 0 ? 4.0 : k == 1 ? 2.0 : -1.0) << k;
    vm_pop(vm.L, 1);
  }
  vm_settop(vm.L, 0);
  // The layer keeps its own copy: the path may change or go.
  ASSERT_EQ(vm.Call("FreePath", {2}).code, 0u);
  ASSERT_EQ(LayerStyle(vm, {{"transform", {1.5, 0, 0, 1.5}}}, {}).code, 0u);
  const Screen grown = Capture(vm);
  EXPECT_GT(grown.x1 - grown.x0, 50);
}

TEST(VectorLibrary, WhatIsDrawnIntoAPathLayerStaysWhenItIsScaled) {
  VectorVm vm;
  FilledEllipsePath(vm);
  ASSERT_EQ(vm.Call("EnableLayers", {}).code, 0u);
  ASSERT_EQ(vm.Call("DrawPath", {1, 4, 4, 0xFF0000}).code, 0u);
  // A blue band across the middle of the ellipse's own picture.
  ASSERT_EQ(vm.Call("SelectLayer", {1}).code, 0u);
  ASSERT_EQ(vm.Call("Box", {0, 4, 24, 2, 0x0000FF}).code, 0u);
  ASSERT_EQ(vm.Call("EndSelect", {}).code, 0u);
  auto blue = [&] {
    const Screen s = Capture(vm);
    return std::count(s.px.begin(), s.px.end(), 0x0000FFu);
  };
  EXPECT_GT(blue(), 30);
  ASSERT_EQ(LayerStyle(vm, {{"transform", {2, 0, 0, 2}}}, {}).code, 0u);
  EXPECT_GT(blue(), 150);
}

TEST(VectorLibrary, PicturesTooSmallOrTooLargeAreRefused) {
  VectorVm vm;
  vm.UsePlugin();
  ASSERT_EQ(vm.Call("SetFillStyle", {1}).code, 0u);
  struct Row {
    std::vector<double> box;
    uint32_t code;
  } rows[] = {
      {{0, 0, 0.4, 10}, ERR_EMPTYPATH},   // under half a pixel wide
      {{0, 0, 10, 0.3}, ERR_EMPTYPATH},
      {{0, 0, 1e6, 4}, ERR_MEM},          // the plug-in's box must not size a picture past the cap
      {{0, 0, 0.6, 0.6}, 0},
  };
  for (const Row &r : rows) {
    ASSERT_EQ(vm.Call("StartPath", {1}).code, 0u);
    ASSERT_EQ(vm.Box(1, r.box, {}).code, 0u);
    EXPECT_EQ(vm.Call("DrawPath", {1, 0, 0}).code, r.code) << r.box[2] << " x " << r.box[3];
  }
}

}  // namespace
