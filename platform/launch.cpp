#include "platform/launch.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "platform/errorarg.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/systemtext.h"
#include "runtime/errcodes.h"

extern char **environ;

namespace {

// Argument text as the system wants it (names go through ToFileSystemPath).
std::string SystemText(const char *text) {
  std::string out(2 * std::strlen(text) + 1, '\0');
  TextToSystem(text, out.data(), out.size());
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::string ShellQuote(const std::string &text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool EndsWithNoCase(const std::string &s, const char *suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

// A name whose file part has an extension is a document, unless it ends in .app or .exe or is
// an executable file (programs on this system often carry a version after a dot).
bool IsDocument(const std::string &systemPath) {
  size_t slash = systemPath.find_last_of('/');
  std::string filePart = slash == std::string::npos ? systemPath : systemPath.substr(slash + 1);
  if (filePart.find('.') == std::string::npos) return false;
  if (systemPath.size() >= 6 && (EndsWithNoCase(systemPath, ".app") ||
                                 EndsWithNoCase(systemPath, ".exe")))
    return false;
  struct stat st;
  return !(stat(systemPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           access(systemPath.c_str(), X_OK) == 0);
}

// Waits for a child that nobody else waits for, so that it does not stay a zombie.
void ReapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      int status;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (...) {
    // Without a thread the child stays a zombie until the player exits; nothing worse.
  }
}

// Starts argv[0] (searched on PATH when it holds no "/") without waiting. 0 or an errno.
int Spawn(const std::vector<std::string> &args, const std::string &outputFile) {
  std::vector<char *> argv;
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (int rc = posix_spawn_file_actions_init(&actions)) return rc;
  int rc = 0;
  if (!outputFile.empty()) {
    rc = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  pid_t pid;
  if (rc == 0) rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) ReapInBackground(pid);
  return rc;
}

// Whether the program can be started: an executable file at the path, or for a bare name one
// on PATH, as the shell and posix_spawnp search it.
bool CanRun(const std::string &program) {
  auto runnable = [](const std::string &p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(p.c_str(), X_OK) == 0;
  };
  if (program.find('/') != std::string::npos) return runnable(program);
  const char *path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (size_t start = 0;;) {
    size_t colon = folders.find(':', start);
    std::string folder = folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (runnable((folder.empty() ? "." : folder) + "/" + program)) return true;
    if (colon == std::string::npos) return false;
    start = colon + 1;
  }
}

int OpenWithDesktop(const std::string &target) { return Spawn({"xdg-open", target}, ""); }

}  // namespace

uint32_t SplitLaunchArguments(const char *text, std::vector<std::string> *arguments,
                              std::string *outputFile) {
  bool wantOutputName = false;
  const char *p = text ? text : "";
  while (*p) {
    if (*p == ' ') {
      p++;
      continue;
    }
    std::string word;
    bool redirect = false;
    if (*p == '>') {
      redirect = true;
      p++;
    }
    if (*p == '"') {
      const char *close = std::strchr(p + 1, '"');
      if (!close) return ERR_WRONGUSAGE;
      word.assign(p + 1, close);
      p = close + 1;
    } else {
      const char *end = std::strchr(p, ' ');
      if (!end) end = p + std::strlen(p);
      word.assign(p, end);
      p = end;
    }
    if (redirect && word.empty()) {
      wantOutputName = true;  // "> name": the next argument is the name
    } else if (redirect || wantOutputName) {
      *outputFile = word;
      wantOutputName = false;
    } else {
      if (arguments->size() >= kMaxLaunchArguments) return ERR_WRONGUSAGE;
      arguments->push_back(word);
    }
  }
  return wantOutputName ? static_cast<uint32_t>(ERR_WRONGUSAGE) : 0;
}

uint32_t LaunchProgram(const char *path, const char *arguments, int async) {
  if (!path) return ERR_READFILE;
  char *converted = ToFileSystemPath(path);
  if (!converted) {
    SetPlatformErrorArgument(path);
    return ERR_READFILE;
  }
  std::string program = converted;
  MemFree(converted);
  try {
    if (IsDocument(program)) {
      OpenWithDesktop(program);
      return 0;
    }
    if (!async) {
      // The shell would only say so on its standard error: a missing program is the caller's error.
      if (!CanRun(program)) {
        SetPlatformErrorArgument(path);
        return ERR_READFILE;
      }
      std::string command = ShellQuote(program);
      if (arguments && *arguments) {
        command += ' ';
        command += SystemText(arguments);
      }
      if (std::system(command.c_str()) == -1) {
        SetPlatformErrorArgument(path);
        return ERR_READFILE;
      }
      return 0;
    }
    std::vector<std::string> args{program};
    std::string outputFile;
    if (uint32_t rc = SplitLaunchArguments(arguments, &args, &outputFile)) return rc;
    for (size_t i = 1; i < args.size(); i++) args[i] = SystemText(args[i].c_str());
    if (!outputFile.empty()) {
      char *outputPath = ToFileSystemPath(outputFile.c_str());
      if (outputPath) outputFile = outputPath;
      MemFree(outputPath);
    }
    if (Spawn(args, outputFile) != 0) {
      SetPlatformErrorArgument(path);
      return ERR_READFILE;
    }
    return 0;
  } catch (const std::bad_alloc &) {
    return ERR_MEM;
  }
}

uint32_t OpenURLInBrowser(const char *url) {
  try {
    OpenWithDesktop(SystemText(url));
  } catch (const std::bad_alloc &) {
  }
  return 0;
}
