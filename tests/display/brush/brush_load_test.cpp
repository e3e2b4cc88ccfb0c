// Brushes loaded from real pictures that PIL made, compared pixel by pixel with PIL's own
// decoding, and brushes saved and read back by PIL.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "display/bgpicload.h"
#include "display/brush.h"
#include "media/image/imagewriter.h"
#include "runtime/attributes.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "tests/display/display_vm.h"
#include "tests/platform/tempdir.h"

namespace {

struct Reference {
  uint32_t width = 0, height = 0;
  std::string rgba;
  // 0xAARRGGBB of PIL's pixel.
  uint32_t At(uint32_t x, uint32_t y) const {
    const auto *p = reinterpret_cast<const uint8_t *>(rgba.data()) + 4 * (size_t(y) * width + x);
    return uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
};

bool ReadRef(const std::string &path, Reference *r) {
  std::ifstream f(path, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (b.size() < 8) return false;
  std::memcpy(&r->width, b.data(), 4);
  std::memcpy(&r->height, b.data() + 4, 4);
  r->rgba = b.substr(8);
  return r->rgba.size() == size_t(r->width) * r->height * 4;
}

int Peer(const std::string &args) {
  return std::system(("/usr/bin/python3 " QM_SOURCE_DIR "/tests/display/brush/brush_pictures.py " + args +
                      " 2>/dev/null").c_str());
}

struct LoadVm : DisplayVm {
  TempDir dir;
  LoadVm() {
    EXPECT_EQ(Create(1, [&] { Set("width", 64), Set("height", 48); }).code, 0u);
    EXPECT_EQ(Call("OpenDisplay", {1}).code, 0u);
    EXPECT_EQ(Peer("make " + dir.path()), 0);
  }
  std::string File(const char *name) { return dir / name; }
  CommandCall Load(double id, const std::string &file, const std::function<void()> &options = nullptr) {
    return CallWith("loadbrush", [&] {
      vm_pushnumber(L, id);
      vm_pushstring(L, file.c_str());
      if (!options) return 2;
      vm_newtable(L);
      options();
      return 3;
    });
  }
  std::vector<uint32_t> Pixels(double id) {
    std::vector<uint32_t> out;
    vm_settop(L, 0);
    vm_pushstring(L, "brushtorgbarray");
    vm_gettable(L, VM_GLOBALSINDEX);
    vm_pushnumber(L, id);
    if (vm_pcall(L, 1, 1, 0) != 0) {
      vm_setendrequested(L, 0);
      vm_settop(L, 0);
      return out;
    }
    for (int i = 0;; i++) {
      vm_rawgeti(L, 1, i);
      if (vm_type(L, -1) == VM_TNIL) break;
      out.push_back(uint32_t(vm_tonumber(L, -1)));
      vm_pop(L, 1);
    }
    vm_settop(L, 0);
    return out;
  }
  uint32_t Attr(double id, int attribute) {
    CommandCall r = Call("GetAttribute", {3, id, attribute});
    return r.code ? 0xDEADu : uint32_t(r.results.at(0));
  }
};

// Our brush against PIL: colours within tolerance; alpha exactly when withAlpha, else 255.
::testing::AssertionResult SameAsPeer(const std::vector<uint32_t> &px, const Reference &ref, uint32_t x0, uint32_t y0,
                                      uint32_t w, uint32_t h, bool withAlpha, int tolerance = 0) {
  if (px.size() != size_t(w) * h) return ::testing::AssertionFailure() << "size " << px.size();
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++) {
      const uint32_t ours = px[size_t(y) * w + x], theirs = ref.At(x0 + x, y0 + y);
      for (int shift : {16, 8, 0})
        if (std::abs(int(ours >> shift & 255) - int(theirs >> shift & 255)) > tolerance)
          return ::testing::AssertionFailure() << "pixel " << x << "," << y << ": " << std::hex << ours << " peer "
                                               << theirs;
      const uint32_t wantAlpha = withAlpha ? theirs >> 24 : 255;
      if (ours >> 24 != wantAlpha)
        return ::testing::AssertionFailure() << "alpha at " << x << "," << y << ": " << (ours >> 24);
    }
  return ::testing::AssertionSuccess();
}

TEST(BrushLoading, PicturesMatchPilsDecoding) {
  LoadVm vm;
  Reference png, bmp, jpg;
  ASSERT_TRUE(ReadRef(vm.File("rgba.png.ref"), &png));
  ASSERT_TRUE(ReadRef(vm.File("rgb.bmp.ref"), &bmp));
  ASSERT_TRUE(ReadRef(vm.File("photo.jpg.ref"), &jpg));

  ASSERT_EQ(vm.Load(1, vm.File("rgba.png"), [&] { vm.Set("loadalpha", 1); }).code, 0u);
  EXPECT_EQ(vm.Attr(1, ATTRWIDTH), 100u);
  EXPECT_EQ(vm.Attr(1, ATTRHASALPHA), 1u);
  EXPECT_TRUE(SameAsPeer(vm.Pixels(1), png, 0, 0, 100, 50, true));

  ASSERT_EQ(vm.Load(2, vm.File("rgba.png")).code, 0u);
  EXPECT_EQ(vm.Attr(2, ATTRHASALPHA), 0u) << "alpha only when asked for";
  EXPECT_TRUE(SameAsPeer(vm.Pixels(2), png, 0, 0, 100, 50, false));

  ASSERT_EQ(vm.Load(3, vm.File("rgba.png"), [&] { vm.Set("x", 10), vm.Set("y", 10), vm.Set("loadalpha", 1); }).code,
            0u);
  EXPECT_EQ(vm.Attr(3, ATTRWIDTH) * 1000 + vm.Attr(3, ATTRHEIGHT), 90040u);
  EXPECT_TRUE(SameAsPeer(vm.Pixels(3), png, 10, 10, 90, 40, true));

  ASSERT_EQ(vm.Load(4, vm.File("rgb.bmp"), [&] { vm.Set("transparency", 0x00FF00); }).code, 0u);
  EXPECT_EQ(vm.Attr(4, ATTRTRANSPARENTCOLOR), 0x00FF00u);
  const std::vector<uint32_t> keyed = vm.Pixels(4);
  ASSERT_EQ(keyed.size(), 40u * 30);
  for (uint32_t i = 0; i < 40 * 30; i++) {
    const uint32_t theirs = bmp.At(i % 40, i / 40) & 0xFFFFFF;
    EXPECT_EQ(keyed[i], (theirs == 0x00FF00 ? 0u : 0xFF000000u) | theirs) << "pixel " << i;
  }

  // JPEG through the platform's decoder: libjpeg and PIL may round differently by a step.
  ASSERT_EQ(vm.Load(5, vm.File("photo.jpg")).code, 0u);
  EXPECT_TRUE(SameAsPeer(vm.Pixels(5), jpg, 0, 0, 64, 48, false, 2));
}

// While the declarations run, a file declared again comes from the graphics cache: the second
// load succeeds after the file is gone, with the same pixels; outside them the names do nothing.
TEST(BrushLoading, DeclarationsShareDecodedPicturesThroughTheCache) {
  LoadVm vm;
  Reference png;
  ASSERT_TRUE(ReadRef(vm.File("rgba.png.ref"), &png));
  const std::string copy = vm.File("copy.png");
  ASSERT_EQ(std::system(("cp " + vm.File("rgba.png") + " " + copy).c_str()), 0);
  auto declaring = [](uintptr_t on) {
    qmTagItem tags[] = {{RTTAG_DECLARATIONS, on}, {0, 0}};
    SetRuntimeTags(nullptr, tags);
  };
  declaring(1);
  ASSERT_EQ(vm.Load(1, copy, [&] { vm.SetText("cache", copy.c_str()); }).code, 0u);
  ASSERT_EQ(std::remove(copy.c_str()), 0);
  std::string upper = copy;
  for (char &c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(vm.Load(2, copy, [&] { vm.SetText("cachedload", upper.c_str()); vm.Set("loadalpha", 1); }).code, 0u);
  EXPECT_TRUE(SameAsPeer(vm.Pixels(2), png, 0, 0, 100, 50, true));
  EXPECT_EQ(vm.Pixels(1), [&] {
    std::vector<uint32_t> opaque = vm.Pixels(2);
    for (uint32_t &p : opaque) p |= 0xFF000000u;
    return opaque;
  }());
  EXPECT_EQ(vm.Load(3, copy, [&] { vm.SetText("cachedload", "never kept"); }).code, ERR_CACHEERROR);
  declaring(0);
  EXPECT_EQ(vm.Load(4, copy, [&] { vm.SetText("cachedload", copy.c_str()); }).code, ERR_READFILE)
      << "outside the declarations the file itself is read";
}

// The runtime's declaration phase switched on or off, as start-up does around the declarations.
void Declaring(uintptr_t on) {
  qmTagItem tags[] = {{RTTAG_DECLARATIONS, on}, {0, 0}};
  SetRuntimeTags(nullptr, tags);
}

// The listed record of that type and number, looked at without a lookup that would finish it.
template <typename T>
const T *Listed(DisplayVm &vm, uint32_t type, uint32_t id) {
  const qmObjectId oid{id, 0};
  return reinterpret_cast<const T *>(FindObject(ObjectRegistryOf(vm.L), type, &oid));
}

// While the declarations run a brush keeps its decoded (cropped) pixels; the bitmap is made when
// the first display opens, or at once when the brush is looked up before.
TEST(BrushLoading, DeclaredBrushesWaitForTheFirstDisplay) {
  LoadVm vm;
  Reference png;
  ASSERT_TRUE(ReadRef(vm.File("rgba.png.ref"), &png));
  auto record = [&](uint32_t id) { return Listed<qmBrush>(vm, QMTYPE_BRUSH, id); };
  Declaring(1);
  ASSERT_EQ(vm.Load(30, vm.File("rgba.png"), [&] {
    vm.Set("x", 10), vm.Set("y", 5), vm.Set("width", 20), vm.Set("height", 10);
  }).code, 0u);
  ASSERT_EQ(vm.Load(31, vm.File("rgba.png"), [&] { vm.Set("loadalpha", 1); }).code, 0u);
  Declaring(0);
  for (uint32_t id : {30u, 31u}) {
    ASSERT_NE(record(id), nullptr);
    EXPECT_EQ(record(id)->bitmap, nullptr) << id << " is no bitmap yet";
    EXPECT_NE(record(id)->preloadPixels, nullptr) << id;
  }
  EXPECT_EQ(vm.Call("GetAttribute", {double(QMTYPE_BRUSH), 30, ATTRWIDTH}).results, std::vector<double>{20});
  EXPECT_NE(record(30)->bitmap, nullptr) << "looked up, it is made at once";
  ASSERT_EQ(RealizePreloadedBrushes(ObjectRegistryOf(vm.L)), 0u);
  EXPECT_EQ(record(31)->preloadPixels, nullptr);
  EXPECT_TRUE(SameAsPeer(vm.Pixels(30), png, 10, 5, 20, 10, false));
  EXPECT_TRUE(SameAsPeer(vm.Pixels(31), png, 0, 0, 100, 50, true));
}

// Background pictures too keep their decoded pixels until the first display opens.
TEST(BrushLoading, DeclaredBackgroundPicturesWaitForTheFirstDisplay) {
  LoadVm vm;
  Reference png;
  ASSERT_TRUE(ReadRef(vm.File("rgba.png.ref"), &png));
  auto record = [&](uint32_t id) { return Listed<qmBGPic>(vm, QMTYPE_BGPIC, id); };
  Declaring(1);
  for (double id : {40.0, 41.0})
    ASSERT_EQ(vm.CallWith("loadbgpic",
                          [&] {
                            vm_pushnumber(vm.L, id);
                            vm_pushstring(vm.L, vm.File("rgba.png").c_str());
                            vm_newtable(vm.L);
                            vm.Set("loadalpha", 1);
                            return 3;
                          })
                  .code,
              0u);
  Declaring(0);
  for (uint32_t id : {40u, 41u}) {
    ASSERT_NE(record(id), nullptr);
    EXPECT_EQ(record(id)->master.bitmap, nullptr) << id << " has no bitmap yet";
  }
  EXPECT_EQ(vm.Call("GetAttribute", {double(QMTYPE_BGPIC), 40, ATTRHASALPHA}).results, std::vector<double>{1});
  EXPECT_NE(record(40)->master.bitmap, nullptr) << "looked up, it is made at once";
  ASSERT_EQ(RealizePreloadedBGPics(ObjectRegistryOf(vm.L)), 0u);
  EXPECT_EQ(record(41)->preloadPixels, nullptr);
  for (double id : {40.0, 41.0}) {
    ASSERT_EQ(vm.Call("BGPicToBrush", {id, id + 10}).code, 0u);
    EXPECT_TRUE(SameAsPeer(vm.Pixels(id + 10), png, 0, 0, 100, 50, true)) << id;
  }
}

// Background pictures of one file declared twice: the second comes from the cache too, kept
// apart from the brushes' entries; a name the cache lacks is decoded from the file.
TEST(BrushLoading, DeclaredBackgroundPicturesShareOneDecoding) {
  LoadVm vm;
  const std::string copy = vm.File("copy.png");
  ASSERT_EQ(std::system(("cp " + vm.File("rgba.png") + " " + copy).c_str()), 0);
  auto loadPic = [&](double id, const char *key, const std::string &name) {
    return vm.CallWith("loadbgpic", [&] {
      vm_pushnumber(vm.L, id);
      vm_pushstring(vm.L, copy.c_str());
      vm_newtable(vm.L);
      vm.SetText(key, name.c_str());
      return 3;
    });
  };
  auto pixelsOf = [&](double pic, double brush) {
    EXPECT_EQ(vm.Call("BGPicToBrush", {pic, brush}).code, 0u);
    return vm.Pixels(brush);
  };
  std::string upper = copy;
  for (char &c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  Declaring(1);
  ASSERT_EQ(loadPic(11, "cache", copy).code, 0u);
  ASSERT_EQ(std::remove(copy.c_str()), 0);
  ASSERT_EQ(loadPic(12, "cachedload", upper).code, 0u) << "taken from the cache, the file is gone";
  EXPECT_EQ(pixelsOf(12, 22), pixelsOf(11, 21));
  EXPECT_EQ(vm.Load(13, copy, [&] { vm.SetText("cachedload", copy.c_str()); }).code, ERR_CACHEERROR)
      << "a brush does not find the picture's entry";
  EXPECT_EQ(loadPic(14, "cachedload", "never kept").code, ERR_READFILE) << "decoded from the file";
  Declaring(0);
  EXPECT_EQ(loadPic(15, "cachedload", copy).code, ERR_READFILE) << "outside the declarations the file is read";
}

TEST(BrushLoading, BadRequestsAndBadFilesLeaveNoBrush) {
  LoadVm vm;
  {
    std::ofstream f(vm.File("junk.png"), std::ios::binary);
    f << "\x89PNG\r\n\x1a\n" << std::string(40, '\x7f');
  }
  ASSERT_EQ(vm.Call("CreateBrush", {7, 4, 4}).code, 0u);
  const struct {
    const char *name;
    std::function<CommandCall()> call;
    uint32_t code;
  } rows[] = {
      {"mask and alpha", [&] { return vm.Load(7, vm.File("missing.png"), [&] {
         vm.Set("transparency", 0xFF00FF), vm.Set("loadalpha", 1);
       }); }, ERR_MASKNALPHA},
      {"x = width", [&] { return vm.Load(1, vm.File("rgba.png"), [&] { vm.Set("x", 100); }); }, ERR_COORDSRANGE},
      {"x = -1", [&] { return vm.Load(1, vm.File("rgba.png"), [&] { vm.Set("x", -1); }); }, ERR_NEGCOORDS},
      {"missing file", [&] { return vm.Load(1, vm.File("missing.png")); }, ERR_READFILE},
      {"alpha of a picture without", [&] { return vm.Load(1, vm.File("rgb.bmp"), [&] { vm.Set("loadalpha", 1); }); },
       ERR_NOALPHA},
      {"broken file", [&] { return vm.Load(1, vm.File("junk.png")); }, ERR_LOADPICTURE2},
  };
  for (const auto &r : rows) EXPECT_EQ(r.call().code, r.code) << r.name;
  EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BRUSH), 0u) << "brush 7 was freed first; nothing was made";
}

// A side far past 32767 pixels is no reason to refuse a picture whose bytes fit.
TEST(BrushLoading, PicturesWithALongSide) {
  LoadVm vm;
  struct Row {
    const char *file;
    uint32_t width, height;
    bool alpha;
  } rows[] = {{"wide.png", 65535, 1, false}, {"tall.png", 1, 65535, true}, {"wide.bmp", 40000, 1, false}};
  double id = 1;
  for (const Row &r : rows) {
    Reference ref;
    ASSERT_TRUE(ReadRef(vm.File((std::string(r.file) + ".ref").c_str()), &ref)) << r.file;
    ASSERT_EQ(vm.Load(id, vm.File(r.file), [&] { vm.Set("loadalpha", r.alpha ? 1 : 0); }).code, 0u) << r.file;
    EXPECT_EQ(vm.Attr(id, ATTRWIDTH), r.width) << r.file;
    EXPECT_EQ(vm.Attr(id, ATTRHEIGHT), r.height) << r.file;
    EXPECT_TRUE(SameAsPeer(vm.Pixels(id), ref, 0, 0, r.width, r.height, r.alpha)) << r.file;
    id++;
  }
  // The display shows the wide picture's last 64 columns.
  Reference wide;
  ASSERT_TRUE(ReadRef(vm.File("wide.png.ref"), &wide));
  ASSERT_EQ(vm.Call("DisplayBrush", {1, 64 - 65535, 10}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  for (uint32_t x = 0; x < 64; x++)
    EXPECT_EQ(DisplayVm::WindowPixel(d, int(x), 10), wide.At(65535 - 64 + x, 0) & 0xFFFFFF) << x;
}

TEST(BrushLoading, IsPictureProbesWithoutLoading) {
  LoadVm vm;
  auto probe = [&](const std::string &file, bool *ok, double *w, double *h, bool *alpha) {
    vm_settop(vm.L, 0);
    vm_pushstring(vm.L, "ispicture");
    vm_gettable(vm.L, VM_GLOBALSINDEX);
    vm_pushstring(vm.L, file.c_str());
    ASSERT_EQ(vm_pcall(vm.L, 1, 2, 0), 0);
    *ok = vm_toboolean(vm.L, 1);
    auto field = [&](const char *key) {
      vm_pushstring(vm.L, key);
      vm_gettable(vm.L, 2);
    };
    field("width"), *w = vm_tonumber(vm.L, -1), vm_pop(vm.L, 1);
    field("height"), *h = vm_tonumber(vm.L, -1), vm_pop(vm.L, 1);
    field("alpha"), *alpha = vm_toboolean(vm.L, -1), vm_pop(vm.L, 1);
    vm_settop(vm.L, 0);
  };
  bool ok = false, alpha = false;
  double w = 0, h = 0;
  probe(vm.File("rgba.png"), &ok, &w, &h, &alpha);
  EXPECT_TRUE(ok);
  EXPECT_EQ(w * 1000 + h, 100050);
  EXPECT_TRUE(alpha);
  probe(vm.File("rgb.bmp"), &ok, &w, &h, &alpha);
  EXPECT_TRUE(ok);
  EXPECT_EQ(w * 1000 + h, 40030);
  EXPECT_FALSE(alpha);
  probe(vm.File("rgba.png.ref"), &ok, &w, &h, &alpha);
  EXPECT_FALSE(ok);
  probe(vm.File("missing.png"), &ok, &w, &h, &alpha);
  EXPECT_FALSE(ok);
}

TEST(BrushSaving, PilReadsBackWhatWasSaved) {
  LoadVm vm;
  ASSERT_EQ(vm.Load(1, vm.File("rgba.png"), [&] { vm.Set("loadalpha", 1); }).code, 0u);
  const std::vector<uint32_t> ours = vm.Pixels(1);
  const struct {
    const char *file;
    int format;
    bool alpha;
    uint32_t color;  // the transparent colour argument
  } rows[] = {{"out.png", IMGFMT_PNG, true, 0},
              {"keyed.png", IMGFMT_PNG, true, 0x0000F0},
              {"out.bmp", IMGFMT_BMP, false, 0}};
  int clear = 0;
  for (const auto &r : rows) {
    ASSERT_EQ(vm.Call("SaveBrush", {1, CmdArg::Str(vm.File(r.file).c_str()), double(r.color), r.format}).code, 0u)
        << r.file;
    Reference back;
    ASSERT_EQ(Peer("decode " + vm.File(r.file) + " " + vm.File("back.ref")), 0);
    ASSERT_TRUE(ReadRef(vm.File("back.ref"), &back));
    ASSERT_EQ(back.width * 1000 + back.height, 100050u) << r.file;
    for (uint32_t i = 0; i < 100 * 50; i++) {
      const uint32_t theirs = back.At(i % 100, i / 100);
      if (r.alpha) {
        // A clear pixel keeps its colour with the transparent colour argument's bits ORed in.
        clear += (ours[i] >> 24) == 0;
        EXPECT_EQ(theirs, ours[i] >> 24 ? ours[i] : ours[i] | r.color) << r.file << " pixel " << i;
      } else if ((ours[i] >> 24) != 0) {
        // Without alpha the picture keeps the colours of every pixel that is not fully clear.
        EXPECT_EQ(theirs & 0xFFFFFF, ours[i] & 0xFFFFFF) << r.file << " pixel " << i;
      }
      if (::testing::Test::HasFailure()) break;
    }
  }
  EXPECT_GT(clear, 0) << "the picture has fully clear pixels";
  EXPECT_EQ(vm.Call("SaveBrush", {9, CmdArg::Str(vm.File("x.png").c_str())}).code, ERR_FINDBRUSH);
}

}  // namespace
