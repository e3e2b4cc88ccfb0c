#include "platform/dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "platform/errorarg.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "runtime/errcodes.h"
#include "tempdir.h"

namespace {

std::map<std::string, uint32_t> ListAll(qmLock *lock) {
  std::map<std::string, uint32_t> seen;
  const char *name;
  uint32_t isDir;
  while (ExamineNextEntry(lock, nullptr, &name, &isDir, nullptr)) seen[name] = isDir;
  EndDirectoryScan(nullptr);
  return seen;
}

TEST(Directory, ListsEntriesWithLatin1NamesAndSkipsDotsAndDeadEntries) {
  TempDir dir;
  WriteFile(dir / "plain.txt", "12345");
  WriteFile(dir / "caf\xC3\xA9.txt", "");            // UTF-8 on disk
  WriteFile(dir / "\xE6\x97\xA5.txt", "");           // beyond Latin-1: listed as it is
  std::filesystem::create_directory(dir / "sub");
  symlink((dir / "gone").c_str(), (dir / "dangling").c_str());  // examining it fails

  qmLock *lock = LockPath(dir.path().c_str(), QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  uint32_t isDir = 0;
  EXPECT_EQ(CheckDirectoryLock(lock, &isDir), 0u);
  EXPECT_EQ(isDir, 1u);
  auto seen = ListAll(lock);
  std::map<std::string, uint32_t> expected{
      {"plain.txt", 0}, {"caf\xE9.txt", 0}, {"\xE6\x97\xA5.txt", 0}, {"sub", 1}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(ExamineNextEntry(lock, nullptr, nullptr, nullptr, nullptr), 0);
  UnlockPath(lock);

  // Every output is optional, and the info of an entry matches a direct examine.
  lock = LockPath((dir.path() + "\\sub\\..").c_str(), QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  qmFileInfo info{};
  int files = 0;
  while (ExamineNextEntry(lock, nullptr, nullptr, nullptr, &info))
    if (!info.isDirectory && info.size == 5) files++;
  EXPECT_EQ(files, 1);
  UnlockPath(lock);
}

// The whole file, read through the player's own file handle; "(none)" when it does not open.
std::string ReadThroughPlayer(const std::string &name) {
  qmFileHandle *h = FileOpen(name.c_str(), FILE_MODE_READ);
  if (!h) return "(none)";
  std::string bytes(256, 0);
  bytes.resize(FileRead(h, bytes.data(), bytes.size()));
  FileClose(h);
  return bytes;
}

TEST(Directory, ListedNamesOpenAgainWhateverTheirBytes) {
  TempDir dir;
  // Names as bytes on disk; each file holds its own name.
  const std::string names[] = {
      "plain.txt",      "caf\xC3\xA9.txt",  "\xE6\x97\xA5\xE6\x9C\xAC.txt", "bad\xFF.txt",
      "lone\x80.txt",   "over\xC0\xAF.txt", "mark\x1A.txt",                "\xC3\x84\xC2\xA9.txt",
  };
  const std::string systemFolder = dir / "f\xFE\xFF";  // no UTF-8 either
  std::filesystem::create_directory(systemFolder);
  for (const std::string &n : names) WriteFile(systemFolder + "/" + n, n);

  qmLock *lock = LockPath(dir.path().c_str(), QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  auto top = ListAll(lock);
  UnlockPath(lock);
  ASSERT_EQ(top.size(), 1u);
  const std::string folder = dir.path() + "/" + top.begin()->first;

  lock = LockPath(folder.c_str(), QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  char lockPath[kMaxPathLength + 1];
  ASSERT_EQ(GetLockPath(lock, lockPath), 1);
  std::set<std::string> contents;
  for (const auto &[name, isDir] : ListAll(lock)) {
    EXPECT_EQ(isDir, 0u);
    contents.insert(ReadThroughPlayer(folder + "/" + name));
    EXPECT_EQ(ReadThroughPlayer(std::string(lockPath) + "/" + name), ReadThroughPlayer(folder + "/" + name));
  }
  UnlockPath(lock);
  EXPECT_EQ(contents, std::set<std::string>(std::begin(names), std::end(names)));

  // The current folder read back is the same name, and changes there and back again.
  char *previous = SetCurrentDir(folder.c_str());
  ASSERT_NE(previous, nullptr);
  char *inside = SetCurrentDir(previous);
  ASSERT_NE(inside, nullptr);
  EXPECT_STREQ(inside, lockPath);
  MemFree(SetCurrentDir(inside));
  EXPECT_EQ(std::filesystem::current_path().string(), std::filesystem::canonical(systemFolder).string());
  MemFree(SetCurrentDir(previous));
  MemFree(inside);
  MemFree(previous);

  // Renaming and removing by a listed name touch the file it names.
  std::string bad = folder + "/bad\x1A\xFF.txt";
  EXPECT_EQ(RenameFile(bad.c_str(), (folder + "/good.txt").c_str()), 1);
  EXPECT_FALSE(std::filesystem::exists(systemFolder + "/bad\xFF.txt"));
  EXPECT_EQ(RemoveFile((folder + "/good.txt").c_str()), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(systemFolder), {}), 7);
}

TEST(Directory, ExaminesFilesAndRefusesWhatCannotBeLocked) {
  TempDir dir;
  std::string file = dir / "f.bin";
  WriteFile(file, std::string(300, 'x'));
  chmod(file.c_str(), 0640);
  uint32_t times[2] = {1000000000u, 1200000000u};
  ASSERT_EQ(SetFileDate(file.c_str(), times), 1);

  qmLock *lock = LockPath(file.c_str(), QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  qmFileInfo info{};
  EXPECT_EQ(ExamineLock(lock, &info), 0);
  EXPECT_EQ(info.isDirectory, 0u);
  EXPECT_EQ(info.size, 300u);
  EXPECT_EQ(info.protection, FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_READ_GRP);
  EXPECT_EQ(info.accessTime, times[0]);
  EXPECT_EQ(info.modifyTime, times[1]);

  static std::string argument;
  InstallErrorArgumentSetter([](const char *text) { argument = text; });
  uint32_t isDir = 7;
  EXPECT_EQ(CheckDirectoryLock(lock, &isDir), static_cast<uint32_t>(ERR_NOTADIR));
  EXPECT_EQ(argument, std::filesystem::canonical(file).string());
  InstallErrorArgumentSetter(nullptr);
  EXPECT_EQ(ExamineNextEntry(lock, nullptr, nullptr, nullptr, nullptr), 0);
  char path[1024];
  EXPECT_EQ(GetLockPath(lock, path), 1);
  EXPECT_EQ(std::string(path), std::filesystem::canonical(file).string());
  UnlockPath(lock);

  testing::internal::CaptureStdout();
  EXPECT_EQ(LockPath(file.c_str(), QMOS_LOCK_WRITE), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "QMOS_LOCK_WRITE unsupported.\n");
  EXPECT_EQ(LockPath((dir / "missing").c_str(), QMOS_LOCK_READ), nullptr);
  if (access("/dev/null", F_OK) == 0) {
    EXPECT_EQ(LockPath("/dev/null", QMOS_LOCK_READ), nullptr);  // neither file nor folder
  }

  // The empty path is the current folder.
  lock = LockPath("", QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(std::string(lock->path), std::filesystem::current_path().string());
  UnlockPath(lock);
}

TEST(Directory, ProtectionBitsMapOntoTheFileMode) {
  struct Case {
    uint32_t bits;
    uint32_t mode;
  };
  const Case cases[] = {
      {FILEATTR_READ_USR | FILEATTR_WRITE_USR, 0600},
      {FILEATTR_NORMAL | FILEATTR_EXECUTE_OTH | FILEATTR_READ_USR, 0644},
      {FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_EXECUTE_USR | FILEATTR_READ_GRP |
           FILEATTR_EXECUTE_GRP | FILEATTR_READ_OTH | FILEATTR_EXECUTE_OTH,
       0755},
      {FILEATTR_WRITE_GRP | FILEATTR_WRITE_OTH, 022},
      {0x80 | 0x8000, 0},  // hidden and read-only are neither read nor set here
  };
  TempDir dir;
  std::string file = dir / "p";
  WriteFile(file, "");
  for (const auto &c : cases) {
    ASSERT_EQ(SetProtection(file.c_str(), c.bits), 1);
    struct stat st;
    stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, c.mode) << std::hex << c.bits;
    if (!(c.bits & (FILEATTR_NORMAL | 0x8080))) {
      EXPECT_EQ(ProtectionFromMode(st.st_mode), c.bits);
    }
  }
}

TEST(FileOps, OperationsByPathReportWhatHappened) {
  TempDir dir;
  std::string folder = dir / "new\xE9";  // Latin-1 name
  EXPECT_EQ(CreateDir(folder.c_str()), 0u);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "new\xC3\xA9"));
  struct stat st;
  stat((dir / "new\xC3\xA9").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0755u & ~[] { mode_t m = umask(0); umask(m); return m; }());
  EXPECT_EQ(CreateDir(folder.c_str()), static_cast<uint32_t>(ERR_CREATEDIR));

  std::string a = dir / "a.txt", b = folder + "\\b.txt";
  WriteFile(a, "A");
  EXPECT_EQ(RenameFile(a.c_str(), b.c_str()), 1);
  EXPECT_EQ(ReadWholeFile(dir / "new\xC3\xA9/b.txt"), "A");
  EXPECT_EQ(RenameFile(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(RemoveFile(folder.c_str()), 0);  // not empty
  EXPECT_EQ(RemoveFile(b.c_str()), 1);
  EXPECT_EQ(RemoveFile(folder.c_str()), 1);
  EXPECT_EQ(SetFileComment(a.c_str(), "note"), 0);

  char name[64];
  EXPECT_EQ(ReadVolumeName("/", name), 0);
  EXPECT_STREQ(name, "unimplemented");
  uint64_t freeBytes = 1, usedBytes = 1;
  EXPECT_EQ(QueryVolumeSpace("/", &freeBytes, &usedBytes), 0);
  EXPECT_EQ(freeBytes + usedBytes, 0u);
}

TEST(FileOps, CurrentDirectoryChangesOnlyWhenItCan) {
  TempDir dir;
  std::string start = std::filesystem::current_path().string();
  EXPECT_EQ(SetCurrentDir((dir / "missing").c_str()), nullptr);
  EXPECT_EQ(std::filesystem::current_path().string(), start);

  char *previous = SetCurrentDir(dir.path().c_str());
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(std::string(previous), start);
  char full[1024];
  std::string real = std::filesystem::canonical(dir.path()).string();
  EXPECT_EQ(GetFullPath("later/x.txt", full, sizeof full), 1);  // not there yet: joined
  EXPECT_EQ(std::string(full), real + "/later/x.txt");
  EXPECT_EQ(GetFullPath("/not/there", full, sizeof full), 1);
  EXPECT_STREQ(full, "/not/there");
  WriteFile(dir / "caf\xC3\xA9", "");
  EXPECT_EQ(GetFullPath("./caf\xE9", full, sizeof full), 1);  // resolved, back in Latin-1
  EXPECT_EQ(std::string(full), real + "/caf\xE9");
  EXPECT_EQ(GetFullPath("x", full, 4), 0);  // does not fit
  char *back = SetCurrentDir(previous);
  MemFree(back);
  MemFree(previous);
  EXPECT_EQ(std::filesystem::current_path().string(), start);
}

}  // namespace

// A writer that failed removes the plain file it left, and nothing else: not a pipe or a device
// it wrote into, not a link it wrote through (nor what the link points to).
TEST(Directory, FailedOutputGoesOnlyWhenItIsAPlainFile) {
  TempDir dir;
  const std::string plain = dir / "out.gif", target = dir / "kept.gif", link = dir / "link.gif",
                    pipe = dir / "pipe";
  WriteFile(plain, "GIF8");
  WriteFile(target, "GIF8");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const struct {
    std::string path;
    int removed;
  } cases[] = {{plain, 1}, {link, 0}, {pipe, 0}, {"/dev/null", 0}, {dir / "none", 0}};
  for (const auto &c : cases) {
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(c.path));
    EXPECT_EQ(RemoveFailedOutput(c.path.c_str()), c.removed) << c.path;
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(c.path)), existed && !c.removed) << c.path;
  }
  EXPECT_EQ(ReadWholeFile(target), "GIF8");
}
