// SIGINT and SIGTERM sent to a process with the desktop started: with the platform's handlers
// the first asks for a quit and a second ends a process that never looks; without them (a
// test program) the first ends it, since the desktop's library must not catch them instead.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/desktop.h"
#include "platform/process.h"

extern char **environ;

namespace {

// The child's side: started as this program with QM_SIGNAL_CHILD set to "<fd> <handlers>".
// It writes 'r' once the desktop is up, 'q' once it saw the quit request, then waits on
// without ever looking again.
TEST(QuitSignals, DISABLED_Child) {
  const char *childArgs = std::getenv("QM_SIGNAL_CHILD");
  if (!childArgs) GTEST_SKIP();
  int fd = std::atoi(childArgs);
  bool handlers = std::string(childArgs).find(' ') != std::string::npos && std::string(childArgs).back() == '1';
  // Signals wait blocked until sigsuspend opens them, so none slips between a look and a wait.
  sigset_t quitSignals, open;
  sigemptyset(&quitSignals);
  sigaddset(&quitSignals, SIGINT);
  sigaddset(&quitSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &quitSignals, &open);
  sigdelset(&open, SIGINT);
  sigdelset(&open, SIGTERM);
  if (handlers) InitPlatform();
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(InitDesktop(), 0u);
  ASSERT_EQ(write(fd, "r", 1), 1);
  if (handlers) {
    while (!IsQuitRequested()) sigsuspend(&open);
    ASSERT_EQ(write(fd, "q", 1), 1);
  }
  for (;;) sigsuspend(&open);
}

// Reads one byte, or nothing once the child is gone; a minute is the kill deadline.
char ReadSign(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 60000) != 1) return 0;
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}

TEST(QuitSignals, EndTheProcess) {
  struct Row {
    const char *name;
    int signal;
    bool handlers;
  } rows[] = {
      {"SIGTERM with the platform's handlers", SIGTERM, true},
      {"SIGINT with the platform's handlers", SIGINT, true},
      {"SIGTERM to the desktop alone", SIGTERM, false},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.name);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::string childVar = "QM_SIGNAL_CHILD=" + std::to_string(pipeFds[1]) + (r.handlers ? " 1" : " 0");
    std::vector<std::string> envStore{childVar};
    for (char **e = environ; *e; e++)
      if (std::string(*e).rfind("QM_SIGNAL_CHILD=", 0) != 0) envStore.push_back(*e);
    std::vector<char *> envp;
    for (std::string &e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe", filter = "--gtest_filter=QuitSignals.DISABLED_Child",
                also = "--gtest_also_run_disabled_tests";
    char *argv[] = {self.data(), filter.data(), also.data(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    close(pipeFds[1]);
    EXPECT_EQ(ReadSign(pipeFds[0]), 'r');
    kill(pid, r.signal);
    if (r.handlers) {
      EXPECT_EQ(ReadSign(pipeFds[0]), 'q') << "the first signal is a quit request";
      kill(pid, r.signal);
    }
    // The child holds the pipe's write end until it ends: end of file is the sign it is gone.
    EXPECT_EQ(ReadSign(pipeFds[0]), 0);
    pollfd p{pipeFds[0], POLLIN, 0};
    bool gone = poll(&p, 1, 0) == 1;
    if (!gone) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(pipeFds[0]);
    EXPECT_TRUE(gone);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == r.signal) << "status " << status;
  }
}

}  // namespace
