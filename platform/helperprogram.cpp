#include "platform/helperprogram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char **environ;

namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  bool Open() { return pipe2(fd, O_CLOEXEC) == 0; }
  void Close(int i) {
    if (fd[i] >= 0) close(fd[i]);
    fd[i] = -1;
  }
};

}  // namespace

bool HelperProgramAvailable(const char *name) {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    // An empty entry is the current folder.
    std::string file = end > start ? dirs.substr(start, end - start) : std::string(1, '.');
    file += '/';
    file += name;
    if (access(file.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

qmHelperRun RunHelperProgram(const std::vector<std::string> &args, const std::string *input, void (*keepAlive)()) {
  qmHelperRun run{0, -1, {}};
  if (args.empty()) return run;
  Pipe out, in;
  if (!out.Open() || (input && !in.Open())) return run;
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return run;
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], STDOUT_FILENO);
  if (input) posix_spawn_file_actions_adddup2(&actions, in.fd[0], STDIN_FILENO);
  else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return run;
  run.started = 1;
  out.Close(1);
  if (input) {
    in.Close(0);
    // A reader that goes away early must not end the player.
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);
    size_t done = 0;
    while (done < input->size()) {
      ssize_t n = write(in.fd[1], input->data() + done, input->size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += size_t(n);
    }
    sigaction(SIGPIPE, &old, nullptr);
    in.Close(1);
  }
  // Output is read until the program has ended and the pipe is drained; a program that leaves
  // a child behind holding the pipe (a clipboard tool serving its selection) must not keep us.
  char buf[4096];
  int status = 0;
  bool ended = false;
  for (;;) {
    pollfd p{out.fd[0], POLLIN, 0};
    int ready = poll(&p, 1, ended ? 0 : 20);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      ssize_t n = read(out.fd[0], buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      run.output.append(buf, size_t(n));
      continue;
    }
    if (ended) break;
    if (keepAlive) keepAlive();
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) ended = true;
    else if (done < 0 && errno != EINTR) return run;
  }
  while (!ended) {
    pid_t done = waitpid(pid, &status, 0);
    if (done == pid) ended = true;
    else if (errno != EINTR) return run;
  }
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}
