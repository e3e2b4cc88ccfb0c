// Memory of video playback: a 4-second 1080p H.264 clip (ffmpeg's lavfi test pattern, 25
// pictures a second) played to its end, each side in a process of its own, whose peak resident
// size the kernel reports when it is waited for.
// VideoPeakMemory: ours is a child of this program that plays the clip through the video engine
// onto a display record of the clip's size, presenting the window updates as the event pump
// does, then keeps the ended video in view for one more second; the peer is ffplay playing the
// same file to its end (SDL's dummy video and sound drivers, so both sides decode every picture
// and neither shows a window). Reported: both peaks in MB, and the CPU time our process spent in
// the second after the end (the engine idles there).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/display.h"
#include "display/displayops.h"
#include "display/scene.h"
#include "media/videocore/engine.h"
#include "platform/time.h"

extern char **environ;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

std::string Clip() {
  static std::string dir = "/tmp/qm_bench_video_memory_" + std::to_string(getpid());
  static bool made = false;
  if (!made) {
    made = true;
    const std::string cmd = "mkdir -p " + dir +
                            " && ffmpeg -loglevel error -y -f lavfi -i testsrc2=s=1920x1080:r=25:d=4 -c:v libx264 "
                            "-pix_fmt yuv420p " + dir + "/clip.mp4";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "the clip could not be made\n");
  }
  return dir + "/clip.mp4";
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::atomic<bool> gEnded{false};

// The child's work: 0 when the clip played to its end. The CPU milliseconds of the second
// after the end go back through the pipe.
int PlayToTheEnd(const std::string &path, int pipe) {
  qmScene scene{};
  qmDisplay *d = NewDisplayRecord(1);
  d->width = kWidth;
  d->height = kHeight;
  LinkDisplay(&scene, d);
  scene.presentUpdate = [](qmBitmap *, qmDisplay *, int32_t, int32_t, int32_t, int32_t) {};
  qmVideoEngine *e = nullptr;
  uint32_t backend = 0;
  if (OpenVideoBackend(path.c_str(), -1, &e, &backend)) return 1;
  qmVideoStart s{};
  s.display = d;
  s.width = kWidth;
  s.height = kHeight;
  s.volume = 64;
  s.ended = [](qmVideoEngine *, void *) { gEnded = true; };
  if (StartVideoEngine(e, &s)) return 2;
  double deadline = GetTimeSeconds() + 120.0;
  while (!gEnded && GetTimeSeconds() < deadline) {
    FlushDisplayUpdates(&scene);
    SleepMilliseconds(2);
  }
  if (!gEnded) return 3;
  FlushDisplayUpdates(&scene);
  const double cpu0 = CpuSeconds();
  SleepMilliseconds(1000);  // the ended video stays in view: what does it cost?
  const double idleMs = (CpuSeconds() - cpu0) * 1000.0;
  if (write(pipe, &idleMs, sizeof idleMs) != sizeof idleMs) return 4;
  FreeVideoEngine(e);
  scene.presentUpdate = nullptr;
  UnlinkDisplay(&scene, d);
  FreeDisplayRecord(d);
  return 0;
}

// Waits for the child: its peak resident size in MB, or -1 when it failed.
double PeakOf(pid_t pid) {
  int status = 0;
  rusage u{};
  if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return double(u.ru_maxrss) / 1024.0;  // the kernel counts KB
}

double OursPeak(const std::string &path, double *idleMs) {
  int fds[2];
  if (pipe(fds)) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    _exit(PlayToTheEnd(path, fds[1]));
  }
  close(fds[1]);
  *idleMs = -1;
  if (pid > 0 && read(fds[0], idleMs, sizeof *idleMs) != sizeof *idleMs) *idleMs = -1;
  close(fds[0]);
  return pid > 0 ? PeakOf(pid) : -1;
}

double FfplayPeak(const std::string &path) {
  std::string args[] = {"ffplay", "-autoexit", "-loglevel", "quiet", "-nostats", path};
  char *argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), args[4].data(), args[5].data(),
                  nullptr};
  std::string video = "SDL_VIDEODRIVER=dummy", audio = "SDL_AUDIODRIVER=dummy";
  char *envp[] = {video.data(), audio.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "ffplay", &actions, nullptr, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? PeakOf(pid) : -1;
}

void VideoPeakMemory(benchmark::State &state) {
  const std::string path = Clip();
  double ours = 0, theirs = 0, idle = 0;
  // The largest of the rounds on each side: a peak is what a machine must have room for.
  for (auto _ : state) {
    double idleMs = 0;
    const double o = OursPeak(path, &idleMs), t = FfplayPeak(path);
    if (o < 0 || t < 0) {
      state.SkipWithError(o < 0 ? "our playback failed" : "ffplay failed");
      return;
    }
    ours = std::max(ours, o);
    theirs = std::max(theirs, t);
    idle = std::max(idle, idleMs);
  }
  state.counters["ours_peak_MB"] = ours;
  state.counters["ffplay_peak_MB"] = theirs;
  state.counters["ours_cpu_ms_in_the_second_after_the_end"] = idle;
}

}  // namespace

BENCHMARK(VideoPeakMemory)->Iterations(3)->Unit(benchmark::kMillisecond);
