// A fresh folder under the system's temporary folder, removed with everything in it, and a
// guard for tests whose code changes the process's current folder.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qmtest-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Puts the current folder back when it goes: the player moves into the program's folder, so
// a run inside the test process would leave later tests in a folder that is removed.
class CurrentDirGuard {
 public:
  CurrentDirGuard() : path_(std::filesystem::current_path()) {}
  ~CurrentDirGuard() {
    std::error_code ec;
    std::filesystem::current_path(path_, ec);
  }
  CurrentDirGuard(const CurrentDirGuard &) = delete;
  CurrentDirGuard &operator=(const CurrentDirGuard &) = delete;

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
