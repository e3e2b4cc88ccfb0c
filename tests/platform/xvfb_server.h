// Starts an X server of its own (Xvfb) for the tests that need a real window.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <cstring>
#include <string>

// Starts Xvfb on a free display number; -1 when it cannot start.
inline pid_t StartXvfb(int *displayNumber) {
  if (access("/usr/bin/Xvfb", X_OK) != 0) return -1;
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    std::string fd = std::to_string(fds[1]);
    execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[32] = {};
  size_t got = 0;
  pollfd p{fds[0], POLLIN, 0};
  while (got < sizeof buf - 1 && poll(&p, 1, 5000) > 0) {
    ssize_t n = read(fds[0], buf + got, sizeof buf - 1 - got);
    if (n <= 0) break;
    got += size_t(n);
    if (memchr(buf, '\n', got)) break;
  }
  close(fds[0]);
  if (!memchr(buf, '\n', got)) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  *displayNumber = atoi(buf);
  return pid;
}


// Ends the server, and forgets it as the display, on every way out of a test.
struct ServerGuard {
  pid_t pid;
  ~ServerGuard() {
    if (pid < 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    unsetenv("DISPLAY");
  }
};

// The X libraries that SDL loads keep a few blocks until the process ends, in modules that are
// gone by then: what is allocated while a real window opens and draws is not counted. The
// same paths run on the dummy driver with the leak check on.
struct LeakCheckPause {
#if defined(__SANITIZE_ADDRESS__)
  LeakCheckPause() { __lsan_disable(); }
  ~LeakCheckPause() { __lsan_enable(); }
#endif
};
