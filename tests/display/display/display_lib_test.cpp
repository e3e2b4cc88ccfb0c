// The display library as a script uses it, on the dummy desktop: tags and their errors,
// opening and closing real windows, scaling, freeing, and the allocator failing everywhere.
#include <gtest/gtest.h>

#include "display/dirtyrects.h"
#include "display/display/displaylib.h"
#include "runtime/attributes.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/objlist.h"
#include "graphics/blit.h"
#include "tests/display/display_vm.h"

namespace {

TEST(Letterbox, SplitTable) {
  const struct {
    int32_t W, H, w, h;
    bool keep;
    qmLetterbox want;
  } rows[] = {
      {1280, 800, 640, 480, true, {1066, 800, 107, 0, 107, 0}},
      {800, 800, 640, 480, true, {800, 600, 0, 100, 0, 100}},
      {1281, 800, 640, 480, true, {1066, 800, 107, 0, 108, 0}},  // the odd pixel goes right
      {1280, 960, 640, 480, true, {1280, 960, 0, 0, 0, 0}},
      {1280, 800, 640, 480, false, {1280, 800, 0, 0, 0, 0}},
  };
  for (const auto &r : rows) {
    qmLetterbox l = LetterboxSplit(r.W, r.H, r.w, r.h, r.keep);
    EXPECT_EQ(l.scaleWidth, r.want.scaleWidth) << r.W << "x" << r.H;
    EXPECT_EQ(l.scaleHeight, r.want.scaleHeight) << r.W << "x" << r.H;
    EXPECT_EQ(l.left, r.want.left);
    EXPECT_EQ(l.top, r.want.top);
    EXPECT_EQ(l.right, r.want.right);
    EXPECT_EQ(l.bottom, r.want.bottom);
  }
}

// The screen a full-screen start switches to must hold the display: its own size when the
// display fits, the display's when it does not, and a framed display that fits only without
// its frame loses the frame.
TEST(FullScreenStart, ScreenSizeHoldsTheDisplay) {
  const struct {
    const char *name;
    int32_t settingW, settingH, w, h, frameW, frameH;
    bool framed;
    qmFullScreenSize want;
  } rows[] = {
      {"desktop, framed display of its size", 0, 0, 1024, 768, 10, 30, true, {1024, 768, 1}},
      {"desktop, smaller framed display", 0, 0, 800, 600, 10, 30, true, {1024, 768, 0}},
      {"a screen smaller than the display", 800, 600, 1024, 768, 0, 0, false, {1024, 768, 0}},
      {"a framed display too big even without its frame", 800, 600, 1024, 768, 10, 30, true, {1034, 798, 0}},
      {"the display's own size", -1, -1, 640, 480, 10, 30, true, {650, 510, 0}},
      {"one side given, the other the desktop's", 800, 0, 640, 480, 0, 0, false, {800, 768, 0}},
      {"given size, framed display of that size", 1024, 768, 1024, 768, 8, 28, true, {1024, 768, 1}},
  };
  for (const auto &r : rows) {
    const qmFullScreenSize got =
        ChooseFullScreenSize(r.settingW, r.settingH, r.w, r.h, r.frameW, r.frameH, r.framed, 1024, 768);
    EXPECT_EQ(got.width, r.want.width) << r.name;
    EXPECT_EQ(got.height, r.want.height) << r.name;
    EXPECT_EQ(got.dropFrame, r.want.dropFrame) << r.name;
  }
}

TEST(DisplayRegions, DefaultsAndClipping) {
  qmDisplay d{};
  SetDisplayDefaults(&d);
  PrepareDisplayRegions(&d);
  EXPECT_EQ(d.dragRegions[0].width, 640);
  EXPECT_EQ(d.dragRegions[0].height, 15);
  EXPECT_EQ(d.sizeRegions[0].x, 630);
  EXPECT_EQ(d.sizeRegions[0].y, 470);
  const struct {
    qmDisplayRegion in, want;
  } rows[] = {
      {{14, 600, 0, 100, 10}, {14, 600, 0, 40, 10}},
      {{14, 700, 0, 100, 10}, {14, 639, 0, 1, 10}},
      {{14, 0, 479, 5, 5}, {14, 0, 479, 5, 1}},
      {{14, 10, 10, 5, 5}, {14, 10, 10, 5, 5}},
  };
  for (const auto &r : rows) {
    qmDisplayRegion g = r.in;
    ClipDisplayRegion(&g, 640, 480);
    EXPECT_EQ(g.x, r.want.x);
    EXPECT_EQ(g.y, r.want.y);
    EXPECT_EQ(g.width, r.want.width);
    EXPECT_EQ(g.height, r.want.height);
  }
}

TEST(DisplayLibrary, TagErrors) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [] {}).code, 0u);  // current, so that the others can be freed
  const struct {
    const char *name;
    std::function<void(DisplayVm &)> fill;
    uint32_t code;
  } rows[] = {
      {"scalemode 3", [](DisplayVm &v) { v.Set("scalemode", 3); }, ERR_WRONGUSAGE},
      {"fillstyle 4", [](DisplayVm &v) { v.Set("fillstyle", 4); }, ERR_WRONGUSAGE},
      {"width 0", [](DisplayVm &v) { v.Set("width", 0); }, ERR_WRONGUSAGE},
      {"scalewidth 0", [](DisplayVm &v) { v.Set("scalewidth", 0); }, ERR_WRONGUSAGE},
      {"width past the limit", [](DisplayVm &v) { v.Set("width", 40000); }, ERR_MEM},
      {"title of 256", [](DisplayVm &v) { v.SetText("title", std::string(256, 'x').c_str()); }, ERR_WRONGUSAGE},
      {"title of 255", [](DisplayVm &v) { v.SetText("title", std::string(255, 'x').c_str()); }, 0},
      {"region without x",
       [](DisplayVm &v) {
         vm_pushstring(v.L, "dragregion");
         vm_newtable(v.L);
         vm_newtable(v.L);
         v.Set("y", 0);
         v.Set("width", 5);
         v.Set("height", 5);
         vm_rawseti(v.L, -2, 0);
         vm_settable(v.L, -3);
       },
       ERR_MISSINGPARAMTR},
      {"65 regions",
       [](DisplayVm &v) {
         vm_pushstring(v.L, "sizeregion");
         vm_newtable(v.L);
         for (int i = 0; i < 65; i++) {
           vm_newtable(v.L);
           v.Set("x", i);
           v.Set("y", 0);
           v.Set("width", 5);
           v.Set("height", 5);
           vm_rawseti(v.L, -2, i);
         }
         vm_settable(v.L, -3);
       },
       ERR_WRONGUSAGE},
  };
  for (const auto &r : rows) {
    EXPECT_EQ(vm.Create(7, [&] { r.fill(vm); }).code, r.code) << r.name;
    if (r.code) {
      EXPECT_EQ(DisplayVm::Display(7), nullptr) << r.name;
    } else {
      EXPECT_EQ(vm.Call("FreeDisplay", {7}).code, 0u) << r.name;
    }
  }
  EXPECT_EQ(vm.Create(8, [&] {
    vm.Set("scalemode", 1), vm.SetText("scalewidth", "50%"), vm.SetText("scaleheight", "50%");
  }).code, 0u);
  EXPECT_EQ(DisplayVm::Display(8)->scaleWidth, 320);
  EXPECT_EQ(DisplayVm::Display(8)->width, 320) << "the window takes the scaled size";
  EXPECT_EQ(DisplayVm::Display(8)->bgpic->unscaledWidth, 640);
}

TEST(DisplayLibrary, CreateOpenCloseFree) {
  DisplayVm vm;
  CommandCall c = vm.CallWith("createdisplay", [&] {
    vm_pushnil(vm.L);
    vm_newtable(vm.L);
    vm.Set("width", 64);
    vm.Set("height", 48);
    vm.Set("color", 0x336699);
    return 2;
  });
  ASSERT_EQ(c.code, 0u);
  qmDisplay *d = vm.Scene()->displays;
  ASSERT_NE(d, nullptr);
  EXPECT_NE(d->handle, 0u) << "nil asks for an automatic id";
  EXPECT_EQ(d->state, DISPSTATE_CLOSED);
  EXPECT_EQ(vm.Scene()->current, d);
  EXPECT_EQ(vm.Scene()->picture, d->bgpic);
  ASSERT_EQ(vm.Create(2, [&] { vm.Set("width", 32), vm.Set("height", 32), vm.Set("color", 0xFF0000); }).code, 0u);

  // Errors, each against the state it names.
  EXPECT_EQ(vm.Call("CloseDisplay", {2}).code, ERR_WRONGUSAGE) << "not open";
  EXPECT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  qmDisplay *two = DisplayVm::Display(2);
  EXPECT_EQ(two->state, DISPSTATE_OPEN);
  EXPECT_EQ(vm.Scene()->current, two);
  EXPECT_EQ(DisplayVm::WindowPixel(two, 5, 5), 0xFF0000u) << "the window shows its picture";
  EXPECT_EQ(vm.Call("OpenDisplay", {2}).code, ERR_WRONGUSAGE) << "already open";
  EXPECT_EQ(vm.Call("ShowDisplay", {}).code, ERR_WRONGUSAGE) << "open, not minimized";
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, ERR_FREEADISPLAY);
  EXPECT_EQ(vm.Call("SelectDisplay", {5}).code, ERR_FINDDISPLAY);
  EXPECT_EQ(vm.Call("ChangeDisplayMode", {2}).code, ERR_WRONGUSAGE) << "full screen needs a size";
  EXPECT_EQ(vm.Call("ChangeDisplayMode", {3, 640, 480}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("SetTitle", {CmdArg::Str(std::string(256, 't').c_str())}).code, ERR_WRONGUSAGE);
  EXPECT_EQ(vm.Call("SetTitle", {CmdArg::Str("Zwei")}).code, 0u);
  EXPECT_STREQ(two->title, "Zwei");

  // The same picture for a second display is refused.
  EXPECT_EQ(vm.Call("CreateBGPic", {9, 16, 16}).code, 0u);
  EXPECT_EQ(vm.Create(3, [&] { vm.Set("bgpic", 9); }).code, 0u);
  EXPECT_EQ(vm.Create(4, [&] { vm.Set("bgpic", 9); }).code, ERR_MULTIBGPIC);

  EXPECT_EQ(vm.Call("CloseDisplay", {2}).code, 0u);
  EXPECT_EQ(two->state, DISPSTATE_CLOSED);
  EXPECT_EQ(vm.Call("SelectDisplay", {3}).code, 0u);
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, 0u);
  EXPECT_EQ(DisplayVm::Display(2), nullptr);
  EXPECT_EQ(vm.Call("FreeDisplay", {2}).code, ERR_FINDDISPLAY);
}

// A black display's buffers start from cleared memory instead of being painted and copied:
// every pixel of the picture and of both buffers, and what the window shows, must still be the
// fill colour, with the colour's top byte ignored as the painter ignores it.
TEST(DisplayLibrary, NewDisplayBuffersHoldTheFillColour) {
  struct Case {
    const char *name;
    double color;
    uint32_t rgb;
  };
  const Case cases[] = {
    {"black", 0, 0},
    {"black with a top byte", double(0xFF000000u), 0},
    {"dark blue", 0x000001, 0x000001},
    {"red with a top byte", double(0x80FF0000u), 0xFF0000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    DisplayVm vm;
    ASSERT_EQ(vm.Create(2, [&] { vm.Set("width", 37), vm.Set("height", 5), vm.Set("color", c.color); }).code, 0u);
    qmDisplay *d = DisplayVm::Display(2);
    ASSERT_NE(d, nullptr);
    for (const qmBitmap *b : {d->bgpic->shown.bitmap, d->backgroundCopy, d->layerBuffer}) {
      ASSERT_NE(b, nullptr);
      ASSERT_EQ(b->width, 37);
      ASSERT_EQ(b->height, 5);
      for (int y = 0; y < 5; y++)
        for (int x = 0; x < 37; x++) ASSERT_EQ(DisplayVm::BitmapPixel(b, x, y), c.rgb) << x << "," << y;
    }
    ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
    EXPECT_EQ(DisplayVm::WindowPixel(d, 0, 0), c.rgb);
    EXPECT_EQ(DisplayVm::WindowPixel(d, 36, 4), c.rgb);
    EXPECT_EQ(vm.Call("CloseDisplay", {2}).code, 0u);
  }
}

TEST(DisplayLibrary, AutoScalingAtExactlyOneMakesNoScaledShape) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 40), vm.Set("height", 30), vm.Set("scalemode", 1),
                               vm.Set("scalewidth", 40), vm.Set("scaleheight", 30); }).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  EXPECT_EQ(d->scaleX, 1.0);
  EXPECT_EQ(d->scaleY, 1.0);
  EXPECT_EQ(d->scaledMask, nullptr);
  EXPECT_EQ(d->scaledAlpha, nullptr);
  // Twice the size: the window shows every picture pixel as 2 x 2.
  ASSERT_EQ(vm.Create(2, [&] { vm.Set("width", 40), vm.Set("height", 30), vm.Set("scalemode", 1),
                               vm.Set("scalewidth", 80), vm.Set("scaleheight", 60), vm.Set("color", 0x00FF00); }).code,
            0u);
  d = DisplayVm::Display(2);
  EXPECT_EQ(d->scaleX, 2.0);
  EXPECT_EQ(d->width, 80);
  EXPECT_EQ(d->bgpic->unscaledWidth, 40);
  ASSERT_EQ(vm.Call("OpenDisplay", {2}).code, 0u);
  EXPECT_EQ(DisplayVm::WindowPixel(d, 79, 59), 0x00FF00u);
  EXPECT_EQ(vm.Call("GetAttribute", {21, 2, ATTRSCALEWIDTH}).results.at(0), 80);
  EXPECT_EQ(vm.Call("GetAttribute", {21, 2, ATTRWIDTH}).results.at(0), 40);
  EXPECT_EQ(vm.Call("GetAttribute", {21, 0, ATTRSCALEMODE}).results.at(0), 1);
}

TEST(DisplayLibrary, AttributesOfTheDisplayRow) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 50), vm.Set("height", 20), vm.Set("borderless", 1),
                               vm.SetText("title", "Eins"); }).code, 0u);
  ASSERT_EQ(vm.Create(2, [] {}).code, 0u);
  const struct {
    double id;
    int32_t attribute;
    double want;
  } rows[] = {{0, ATTRWIDTH, 50},      {1, ATTRHEIGHT, 20},     {2, ATTRWIDTH, 640},  {0, ATTRBORDERLESS, 1},
              {2, ATTRBORDERLESS, 0},  {0, ATTRSTATE, 0},       {0, ATTRCOUNT, 2},    {0, ATTRDOUBLEBUFFER, 0},
              {0, ATTRLAYERSON, 0},    {0, ATTRMARGINRIGHT, 49}, {0, ATTRMODE, 1},    {0, ATTRSCALEMODE, 0}};
  for (const auto &r : rows) {
    CommandCall c = vm.Call("GetAttribute", {21, r.id, r.attribute});
    ASSERT_EQ(c.code, 0u) << r.attribute;
    EXPECT_EQ(c.results.at(0), r.want) << r.id << " " << r.attribute;
  }
  EXPECT_EQ(vm.Call("GetAttribute", {21, 5, ATTRWIDTH}).code, ERR_FINDDISPLAY);
  EXPECT_EQ(vm.Call("GetAttribute", {21, 0, 11}).code, ERR_UNKNOWNATTR);  // frames: anims only
  // The current font's attributes: ascender and descender make up its line height.
  const double ascender = vm.Call("GetAttribute", {21, 0, ATTRFONTASCENDER}).results.at(0);
  const double descender = vm.Call("GetAttribute", {21, 0, ATTRFONTDESCENDER}).results.at(0);
  EXPECT_GT(ascender, 0);
  EXPECT_EQ(ascender + descender, vm.Call("TextHeight", {CmdArg::Str("Ag")}).results.at(0));
  EXPECT_GT(vm.Call("GetAttribute", {21, 0, ATTRFONTSIZE}).results.at(0), 0);
  vm_settop(vm.L, 0);
  vm_pushstring(vm.L, "getattribute");
  vm_gettable(vm.L, VM_GLOBALSINDEX);
  for (double v : {21.0, 0.0, double(ATTRFONTNAME)}) vm_pushnumber(vm.L, v);
  ASSERT_EQ(vm_pcall(vm.L, 3, 1, 0), 0u);
  EXPECT_GT(std::string(vm_tostring(vm.L, -1)).size(), 0u);
  vm_settop(vm.L, 0);
  CommandCall out = vm.Call("GetAttribute", {21, 0, ATTROUTPUTDEVICE});
  EXPECT_EQ(out.results, (std::vector<double>{0, 1, 0}));
}

TEST(DisplayLibrary, FailingAllocationsLeaveTheListUnchanged) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [] {}).code, 0u);
  qmDisplay *before = vm.Scene()->displays;
  const uint32_t pictures = CountObjectsOfType(vm.L, QMTYPE_BGPIC);
  bool succeeded = false;
  for (uint64_t n = 1; n < 200 && !succeeded; n++) {
    SetMemAllocFailure(n);
    CommandCall c = vm.Create(2, [&] { vm.Set("width", 20), vm.Set("height", 10), vm.Set("fillstyle", 2); });
    const bool failed = MemAllocFailureUsed();
    SetMemAllocFailure(0);
    if (!failed) {
      EXPECT_EQ(c.code, 0u) << n;
      succeeded = true;
      break;
    }
    EXPECT_EQ(c.code, ERR_MEM) << "allocation " << n;
    EXPECT_EQ(vm.Scene()->displays, before);
    EXPECT_EQ(before->next, nullptr) << "allocation " << n;
    EXPECT_EQ(CountObjectsOfType(vm.L, QMTYPE_BGPIC), pictures) << "allocation " << n;
  }
  EXPECT_TRUE(succeeded);
  ASSERT_NE(DisplayVm::Display(2), nullptr);
}

}  // namespace

// Without a screen mode of the asked size the window covers the desktop in its own mode and the
// picture is scaled into it, proportions kept, between black bars. The expected rectangles are
// worked out here in whole numbers, apart from the library's split.
TEST(DisplayLibrary, FullScreenWithoutAModeScalesIntoTheDesktopBetweenBars) {
  const struct {
    const char *name;
    int32_t w, h;
  } rows[] = {
      {"4:3", 640, 480},     {"wide", 800, 200}, {"tall", 150, 600},
      {"square", 300, 300},  {"small", 64, 48},  {"larger than the desktop", 3000, 1000},
  };
  for (const auto &r : rows) {
    DisplayVm vm;
    ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", r.w), vm.Set("height", r.h), vm.Set("color", 0x00FF00); }).code,
              0u)
        << r.name;
    ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u) << r.name;
    qmDisplay *d = DisplayVm::Display(1);
    // No mode of the screen has this size exactly (the headless desktop has one mode, its own).
    const double askW = GetPlatformAttr(nullptr, 14) - 24, askH = GetPlatformAttr(nullptr, 15) - 8;
    ASSERT_EQ(vm.Call("ChangeDisplayMode", {2, askW, askH}).code, 0u) << r.name;
    ASSERT_EQ(vm.Scene()->fullScreen, 1u) << r.name;
    int W = 0, H = 0;
    SDL_GetWindowSize(d->platform->window, &W, &H);
    ASSERT_EQ(W, GetPlatformAttr(nullptr, 14)) << r.name << ": the window covers the desktop";
    ASSERT_EQ(H, GetPlatformAttr(nullptr, 15)) << r.name;

    // Width-bound when the picture is relatively wider than the desktop, else height-bound.
    int64_t sw, sh;
    if (int64_t(r.w) * H >= int64_t(r.h) * W) {
      sw = W;
      sh = int64_t(r.h) * W / r.w;
    } else {
      sh = H;
      sw = int64_t(r.w) * H / r.h;
    }
    const int32_t left = int32_t((W - sw) / 2), top = int32_t((H - sh) / 2);
    const int32_t right = int32_t(W - sw - left), bottom = int32_t(H - sh - top);
    EXPECT_EQ(d->scaleWidth, sw) << r.name;
    EXPECT_EQ(d->scaleHeight, sh) << r.name;
    EXPECT_EQ(d->marginLeft, left) << r.name;
    EXPECT_EQ(d->marginTop, top) << r.name;
    EXPECT_EQ(d->marginRight, right) << r.name;
    EXPECT_EQ(d->marginBottom, bottom) << r.name;
    EXPECT_EQ(vm.Call("GetAttribute", {21, 1, ATTRWIDTH}).results.at(0), r.w) << r.name << ": the script's size stays";

    // The whole window made white, then refreshed: the bars come back black, the picture green.
    SDL_Surface *s = SDL_GetWindowSurface(d->platform->window);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 255, 255, 255));
    RefreshDisplayCore(vm.L, d, 0);
    const int32_t x1 = left + int32_t(sw) - 1, y1 = top + int32_t(sh) - 1;
    for (auto [x, y] : {std::pair{left, top}, {x1, top}, {left, y1}, {x1, y1}})
      EXPECT_EQ(DisplayVm::WindowPixel(d, x, y), 0x00FF00u) << r.name << " picture at " << x << "," << y;
    if (left != 0) {
      EXPECT_EQ(DisplayVm::WindowPixel(d, 0, H / 2), 0u) << r.name << ": left bar";
      EXPECT_EQ(DisplayVm::WindowPixel(d, left - 1, H / 2), 0u) << r.name;
    }
    if (right != 0) {
      EXPECT_EQ(DisplayVm::WindowPixel(d, W - 1, H / 2), 0u) << r.name << ": right bar";
    }
    if (top != 0) {
      EXPECT_EQ(DisplayVm::WindowPixel(d, W / 2, 0), 0u) << r.name << ": top bar";
      EXPECT_EQ(DisplayVm::WindowPixel(d, W / 2, top - 1), 0u) << r.name;
    }
    if (bottom != 0) {
      EXPECT_EQ(DisplayVm::WindowPixel(d, W / 2, H - 1), 0u) << r.name << ": bottom bar";
    }

    // Mouse positions map back to picture pixels: window offset in the picture x picture size /
    // scaled size, rounded down.
    const double px = (x1 - d->marginLeft) / d->scaleX, py = (y1 - d->marginTop) / d->scaleY;
    EXPECT_EQ(int32_t(px), int32_t(int64_t(x1 - left) * r.w / sw)) << r.name;
    EXPECT_EQ(int32_t(py), int32_t(int64_t(y1 - top) * r.h / sh)) << r.name;
    EXPECT_EQ(int32_t((left - d->marginLeft) / d->scaleX), 0) << r.name;

    // Back to a window: the display is as it was.
    ASSERT_EQ(vm.Call("ChangeDisplayMode", {1}).code, 0u) << r.name;
    EXPECT_EQ(vm.Scene()->fullScreen, 0u) << r.name;
    EXPECT_EQ(d->width, r.w) << r.name;
    EXPECT_EQ(d->height, r.h) << r.name;
    EXPECT_EQ(d->scaleWidth, 0) << r.name;
    EXPECT_EQ(d->marginLeft, 0) << r.name;
    EXPECT_EQ(d->scaleMode, 0u) << r.name;
    EXPECT_EQ(d->scaleX, 1.0) << r.name;
    EXPECT_EQ(DisplayVm::WindowPixel(d, 0, 0), 0x00FF00u) << r.name;
  }
}

// After a Flip of the whole picture, drawing that is not flipped must never reach the window:
// a refresh, a Flip of one rectangle, the window closed and opened anew, and the window made
// larger each show what the Flips took. Colours come from formulas of the position.
TEST(DoubleBuffer, WholeFlipStaysShownThroughRefreshReopenAndResize) {
  DisplayVm vm;
  ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 64), vm.Set("height", 48), vm.Set("color", 0x102030); }).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  qmDisplay *d = DisplayVm::Display(1);
  ASSERT_EQ(vm.Call("BeginDoubleBuffer", {}).code, 0u);
  auto first = [](int x, int y) { return uint32_t(x * 3 + 1) << 16 | uint32_t(y * 5 + 2) << 8 | uint32_t(x ^ y); };
  auto second = [](int x, int y) { return 0x800000u | uint32_t(y * 4) << 8 | uint32_t(x * 2 + 1); };
  auto paint = [&](auto colour) {
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++) SetBitmapPixel(d->backBuffer2, x, y, colour(x, y), 0);
  };
  const int rx = 20, ry = 10, rw = 9, rh = 7;
  auto inRect = [&](int x, int y) { return x >= rx && x < rx + rw && y >= ry && y < ry + rh; };
  auto both = [&](int x, int y) { return inRect(x, y) ? second(x, y) : first(x, y); };
  auto expectWindow = [&](const char *when, auto colour) {
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++) ASSERT_EQ(DisplayVm::WindowPixel(d, x, y), colour(x, y)) << when << " " << x << "," << y;
  };

  paint(first);
  AddDirtyRect(d, 0, 0, 64, 48, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  expectWindow("whole Flip", first);
  paint(second);
  RefreshDisplayCore(vm.L, d, 0);
  expectWindow("refresh", first);

  AddDirtyRect(d, rx, ry, rw, rh, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  expectWindow("Flip of a rectangle", both);
  RefreshDisplayCore(vm.L, d, 0);
  expectWindow("refresh after the rectangle", both);

  ASSERT_EQ(vm.Call("CloseDisplay", {1}).code, 0u);
  ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
  expectWindow("window opened anew", both);

  // A whole Flip again, then the window grows: its surface is made anew.
  paint(first);
  AddDirtyRect(d, 0, 0, 64, 48, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  paint(second);
  ASSERT_EQ(vm.Call("ChangeDisplaySize", {80, 60}).code, 0u);
  expectWindow("larger window", first);

  // A whole Flip while the display is hidden fills the present buffer, which the window shows
  // once it is shown again, not the picture it held before.
  AddDirtyRect(d, 0, 0, 64, 48, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  expectWindow("whole Flip before hiding", second);
  ASSERT_EQ(vm.Call("HideDisplay", {}).code, 0u);
  paint(first);
  AddDirtyRect(d, 0, 0, 64, 48, 64, 48);
  ASSERT_EQ(vm.Call("Flip", {0}).code, 0u);
  ASSERT_EQ(vm.Call("ShowDisplay", {}).code, 0u);
  RefreshDisplayCore(vm.L, d, 0);
  expectWindow("shown again", first);
  ASSERT_EQ(vm.Call("EndDoubleBuffer", {}).code, 0u);
}

// A switch to a screen no mode can give fails with its code, and the displays come back open in
// the mode they had, windowed or full screen.
TEST(DisplayLibrary, FailedScreenSwitchIsReportedAndTheWindowsComeBack) {
  for (bool fromFullScreen : {false, true}) {
    const char *name = fromFullScreen ? "from full screen" : "from a window";
    DisplayVm vm;
    ASSERT_EQ(vm.Create(1, [&] { vm.Set("width", 320), vm.Set("height", 200); }).code, 0u);
    ASSERT_EQ(vm.Call("OpenDisplay", {1}).code, 0u);
    if (fromFullScreen) {
      ASSERT_EQ(vm.Call("ChangeDisplayMode", {2, 320, 200}).code, 0u);
    }
    EXPECT_EQ(vm.Call("ChangeDisplayMode", {2, 100000, 100000}).code, uint32_t(ERR_SCREEN)) << name;
    EXPECT_EQ(vm.Scene()->fullScreen, fromFullScreen ? 1u : 0u) << name;
    qmDisplay *d = DisplayVm::Display(1);
    EXPECT_EQ(d->state, uint32_t(DISPSTATE_OPEN)) << name;
    EXPECT_NE(d->platform, nullptr) << name;
  }
}
