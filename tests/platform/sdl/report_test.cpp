// The pump's reports as the platform makes them, heard by a recording client: what each system
// event becomes, whose window it names, and how the client's answers steer the quit.
#include <functional>

#include "sdl_fixture.h"

namespace sdltest {
namespace {

struct Heard {
  uint32_t kind;
  void *owner;
  int32_t x, y, code;
  uint32_t down, modifiers;
  bool operator==(const Heard &o) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Heard &h) {
  return os << "{kind " << h.kind << ", owner " << h.owner << ", " << h.x << "," << h.y << ", code " << h.code
            << ", down " << h.down << ", mods " << h.modifiers << "}";
}

// Records every report; answers close boxes with stop when closeStops, and ends each pass with
// endPassAnswer.
struct Recorder {
  std::vector<Heard> heard;
  int closeStops = 0;
  int endPassAnswer = 0;
  int passes = 0;
  qmPumpClient Client() {
    return {this, nullptr,
            [](void *data, const qmPlatformReport *r) {
              auto *self = static_cast<Recorder *>(data);
              self->heard.push_back({r->kind, r->owner, r->x, r->y, r->code, r->down, r->modifiers});
              return r->kind == REPORT_CLOSE ? self->closeStops : 0;
            },
            [](void *data, int) {
              auto *self = static_cast<Recorder *>(data);
              self->passes++;
              return self->endPassAnswer;
            }};
  }
};

class ReportTest : public DesktopTest {
 public:
  // Pumps with the recorder until SDL's queue is empty.
  int PumpWith(Recorder &rec) {
    const qmPumpClient client = rec.Client();
    int quit = 0;
    for (int i = 0; i < 100; i++) {
      FakeClock::Advance(20000);
      quit |= PumpPlatformEvents(&client);
      if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) <= 0) break;
    }
    return quit;
  }
};

TEST_F(ReportTest, EachEventBecomesItsReport) {
  struct Row {
    const char *name;
    std::function<std::vector<SDL_Event>(ReportTest &)> events;
    std::function<std::vector<Heard>(void *owner)> expected;
  };
  const uint16_t CTRL = KMOD_LCTRL, GUI = KMOD_LGUI;
  const Row rows[] = {
      {"button with its place",
       [](ReportTest &t) { return std::vector{t.Button(true, SDL_BUTTON_MIDDLE, 12, 34)}; },
       [](void *o) { return std::vector<Heard>{{REPORT_BUTTON, o, 12, 34, 3, 1, 0}}; }},
      {"other buttons say nothing", [](ReportTest &t) { return std::vector{t.Button(true, SDL_BUTTON_X2, 1, 1)}; },
       [](void *) { return std::vector<Heard>{}; }},
      {"wheel direction, flipped, sideways",
       [](ReportTest &t) { return std::vector{t.Wheel(0, 3), t.Wheel(0, 2, true), t.Wheel(5, 0)}; },
       [](void *o) { return std::vector<Heard>{{REPORT_WHEEL, o, 0, 0, 1, 0, 0}, {REPORT_WHEEL, o, 0, 0, -1, 0, 0}}; }},
      {"key under Control carries the modifier and its code",
       [=](ReportTest &t) { return std::vector{t.Key(true, SDLK_F2, CTRL)}; },
       [](void *o) { return std::vector<Heard>{{REPORT_KEY, o, 0, 0, 262, 1, REPORTMOD_CONTROL}}; }},
      {"the logo key counts as Alt", [=](ReportTest &t) { return std::vector{t.Key(false, SDLK_RETURN, GUI)}; },
       [](void *o) { return std::vector<Heard>{{REPORT_KEY, o, 0, 0, 274, 0, REPORTMOD_ALT}}; }},
      {"typed characters one report each", [](ReportTest &t) { return std::vector{t.Text("aé")}; },
       [](void *o) { return std::vector<Heard>{{REPORT_TYPED, o, 0, 0, 97, 0, 0}, {REPORT_TYPED, o, 0, 0, 233, 0, 0}}; }},
      {"motion: only the last place",
       [](ReportTest &t) { return std::vector{t.Motion(1, 2), t.Motion(3, 4), t.Motion(5, 6)}; },
       [](void *o) { return std::vector<Heard>{{REPORT_MOTION, o, 5, 6, 0, 0, 0}}; }},
      {"window moved and sized by the user",
       [](ReportTest &t) {
         return std::vector{t.Window(SDL_WINDOWEVENT_MOVED, 40, 50), t.Window(SDL_WINDOWEVENT_SIZE_CHANGED, 300, 150)};
       },
       [](void *o) { return std::vector<Heard>{{REPORT_MOVED, o, 40, 50, 0, 0, 0}, {REPORT_RESIZED, o, 300, 150, 0, 0, 0}}; }},
      {"desktop quit and clipboard name no window",
       [](ReportTest &) {
         SDL_Event quit{}, clip{};
         quit.type = SDL_QUIT;
         clip.type = SDL_CLIPBOARDUPDATE;
         return std::vector{clip, quit};
       },
       [](void *) {
         return std::vector<Heard>{{REPORT_CLIPBOARD, nullptr, 0, 0, 0, 0, 0}, {REPORT_QUIT, nullptr, 0, 0, 0, 0, 0}};
       }},
      {"events of an unknown window say nothing",
       [](ReportTest &t) {
         SDL_Event e = t.Button(true, SDL_BUTTON_LEFT, 1, 1);
         e.button.windowID = t.pw->windowId + 1000;
         return std::vector{e};
       },
       [](void *) { return std::vector<Heard>{}; }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Recorder rec;
    for (const SDL_Event &e : row.events(*this)) Push(e);
    EXPECT_EQ(PumpWith(rec), 0);
    EXPECT_EQ(rec.heard, row.expected(display));
  }
}

TEST_F(ReportTest, TheClientsAnswersDecideTheQuitAndEndOfRunIsReported) {
  struct Row {
    const char *name;
    int closeStops, endPassAnswer;
    bool quit;
  };
  const Row rows[] = {
      {"close box the owner handles", 0, 0, false},
      {"close box nobody handles", 1, 0, true},
      {"the end of the pass asks to stop", 0, 1, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    StopDesktop();
    StartDesktop("dummy", true);
    Recorder rec;
    rec.closeStops = row.closeStops;
    rec.endPassAnswer = row.endPassAnswer;
    Push(Window(SDL_WINDOWEVENT_CLOSE));
    EXPECT_EQ(PumpWith(rec), row.quit ? 1 : 0);
    EXPECT_GE(rec.passes, 1);
    const Heard end{REPORT_ENDRUN, nullptr, 0, 0, 0, 0, 0};
    EXPECT_EQ(rec.heard.back() == end, row.quit) << "the end of the run is told once the quit stands";
    EXPECT_EQ(PlatformQuitRequested(), row.quit);
  }
}

TEST_F(ReportTest, PointerAttributesFollowTheOwnersWindow) {
  Recorder rec;
  Push(Motion(17, 19));
  PumpWith(rec);
  EXPECT_EQ(GetPlatformAttr(display, 6), 17);
  EXPECT_EQ(GetPlatformAttr(display, 7), 19);
  int other = 0;
  EXPECT_EQ(GetPlatformAttr(&other, 6), 0) << "an object that owns no window";
}

}  // namespace
}  // namespace sdltest
