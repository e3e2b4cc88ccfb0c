// Virtual file names, linked-file resolution, path helpers, extraction and virtual locks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/date.h"
#include "platform/file.h"
#include "platform/vfile.h"
#include "runtime/applet.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vnames.h"

namespace {

struct AppletScope {
  qmApplet applet{};
  AppletScope() { std::strcpy(applet.programPath, "/x/app"); }
  ~AppletScope() { FreeAppletLists(&applet); }
};

TEST(ChunkNames, MakeAndDisplay) {
  char out[kChunkNameSize];
  EXPECT_STREQ(MakeChunkName("dir/pic.png", out, sizeof out, 100, 20, 4096, "/x/app"),
               ":::chunk4196:20*pic.png//x/app");
  int x;
  MakeMemoryChunkName("snd.wav", out, sizeof out, 7, 99, &x);
  EXPECT_EQ(std::string(out).rfind(":::chunkS7:99*snd.wav/", 0), 0u);

  struct Case {
    const char *name, *display;
  } cases[] = {
      {":::chunk4196:20*pic.png//x/app", "pic.png"},
      {"PROGDIR:data", "data"},
      {"/a/b/", ""},
      {"a\\b\\c.iff", "c.iff"},
      {"plain", "plain"},
      {"x", "x"},
      {":", ":"},
  };
  for (const Case &c : cases) {
    char buf[64];
    EXPECT_STREQ(ChunkDisplayName(c.name, buf, sizeof buf), c.display) << c.name;
    EXPECT_STREQ(ChunkDisplayNameInto(c.name, buf, sizeof buf), c.display) << c.name;
  }
}

TEST(ChunkNames, OverlongContainerFailsCleanly) {
  std::string container(2047, 'c');
  char out[kChunkNameSize];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(MakeChunkName("a.png", out, sizeof out, 1, 2, 0, container.c_str()), nullptr);
  EXPECT_STREQ(out, "");
  AppletScope s;
  ASSERT_EQ(AddLinkedFile(&s.applet, "a.png", container.c_str(), 1, 2), 0u);
  // Not resolvable: the name comes back and the loader reports the file as missing.
  EXPECT_STREQ(ResolveLinkedFile(&s.applet, "a.png", 0, nullptr), "a.png");
  std::string tooLong(2048, 'c');
  EXPECT_EQ(AddLinkedFile(&s.applet, "b.png", tooLong.c_str(), 1, 2), uint32_t(ERR_NAMETOOLONG));
}

TEST(LinkedFiles, ResolvesIgnoringCaseAndSlashesAndFindsFonts) {
  AppletScope s;
  s.applet.appletBase = 1000;
  AddLinkedFile(&s.applet, "gfx\\Title.PNG", "", 10, 5);
  AddLinkedFile(&s.applet, "::font:Topaz", "", 20, 6);
  AddLinkedFile(&s.applet, "Vera.ttf", "/fonts/pack", 30, 7);
  AddLinkedFile(&s.applet, "Topaz", "", 40, 8);  // a plain file that happens to share the name
  struct Case {
    const char *name;
    int fontFlag;
    const char *expected;
    int font;
  } cases[] = {
      {"gfx/title.png", 0, ":::chunk1010:5*Title.PNG//x/app", 0},
      {"GFX\\TITLE.png", 0, ":::chunk1010:5*Title.PNG//x/app", 0},
      {"Vera.ttf", 1, ":::chunk1030:7*Vera.ttf//fonts/pack", 0},
      {"Topaz.font", 1, ":::chunk1020:6*Topaz//x/app", 1},
      {"topaz", 1, ":::chunk1020:6*Topaz//x/app", 1},
      {"Topaz", 0, ":::chunk1040:8*Topaz//x/app", 0},  // a font never answers a file search
      {"::font:Topaz", 0, "::font:Topaz", 0},
      {"missing.png", 0, "missing.png", 0},
      {"gfx/title", 0, "gfx/title", 0},
  };
  for (const Case &c : cases) {
    int font = -1;
    EXPECT_STREQ(ResolveLinkedFile(&s.applet, c.name, c.fontFlag, &font), c.expected) << c.name;
    EXPECT_EQ(font, c.font) << c.name;
  }
  qmApplet empty{};
  EXPECT_STREQ(ResolveLinkedFile(&empty, "gfx/title.png", 0, nullptr), "gfx/title.png");
}

TEST(Paths, AddPartAndGetPathPart) {
  struct AddCase {
    const char *path, *name, *expected;
  } adds[] = {{"", "a", "a"}, {"dir", "a", "dir/a"}, {"dir/", "a", "dir/a"}, {"dir\\", "a", "dir\\a"},
              {"PROGDIR:", "a", "PROGDIR:/a"}};
  for (const AddCase &c : adds) {
    char buf[64];
    std::strcpy(buf, c.path);
    EXPECT_EQ(AddPart(buf, sizeof buf, c.name), 1);
    EXPECT_STREQ(buf, c.expected);
  }
  char small[8] = "abc";
  EXPECT_EQ(AddPart(small, sizeof small, "defgh"), 0);
  EXPECT_STREQ(small, "abc");

  struct PartCase {
    const char *path, *folder;
  } parts[] = {{"a/b/c.png", "a/b"}, {"PROGDIR:x", "PROGDIR:"}, {"name", ""}, {"/top", "/"},
               {"a\\b", "a"},        {"vol:dir/f", "vol:dir"}, {"a/b:c", "a/b:"}};
  for (const PartCase &c : parts) {
    char buf[64];
    std::strcpy(buf, c.path);
    *GetPathPart(buf) = 0;
    EXPECT_STREQ(buf, c.folder) << c.path;
  }
}

std::string MakeFile(const std::string &content) {
  char path[] = "/tmp/qm_vnames_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
  close(fd);
  return path;
}

std::string ReadAll(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb");
  std::string s;
  int c;
  while (f && (c = std::fgetc(f)) != EOF) s.push_back(char(c));
  if (f) std::fclose(f);
  return s;
}

TEST(Extraction, CopiesWindowsAndRefusesForgedMemoryNames) {
  std::string data(40000, 'a');
  for (size_t i = 0; i < data.size(); i++) data[i] = char('a' + i % 26);
  std::string container = MakeFile(data);
  char vname[kChunkNameSize];
  MakeChunkName("big.bin", vname, sizeof vname, 5, 33000, 0, container.c_str());
  char temp[1024];
  ASSERT_NE(MakeTempChunkFileName(temp, vname), nullptr);
  EXPECT_EQ(std::string(temp).substr(std::strlen(temp) - 4), ".bin");
  EXPECT_EQ(ExtractChunkToFile(vname, temp), 0u);
  EXPECT_EQ(ReadAll(temp), data.substr(5, 33000));

  // A memory window reached by its reference.
  static const char bytes[] = "in memory";
  int32_t ref = RegisterMemoryWindow(bytes, 9);
  char mname[kChunkNameSize];
  MakeMemoryChunkName("m.txt", mname, sizeof mname, ref, 9, bytes);
  EXPECT_EQ(ExtractChunkToFile(mname, temp), 0u);
  EXPECT_EQ(ReadAll(temp), "in memory");
  EXPECT_EQ(UnregisterMemoryWindow(ref), 0u);

  // A name made up by a script: a reference nobody registered, and a stale one.
  char forged[128];
  std::snprintf(forged, sizeof forged, ":::chunkS999999:16*x.bin/%lx", reinterpret_cast<unsigned long>(bytes));
  EXPECT_EQ(ExtractChunkToFile(forged, temp), uint32_t(ERR_READFILE));
  EXPECT_EQ(ExtractChunkToFile(mname, temp), uint32_t(ERR_READFILE));
  EXPECT_EQ(LockVirtualPath(forged, QMOS_LOCK_READ), nullptr);
  EXPECT_EQ(LockVirtualPath(mname, QMOS_LOCK_READ), nullptr);

  EXPECT_EQ(ExtractChunkToFile("/nonexistent/file", temp), uint32_t(ERR_READFILE));
  EXPECT_EQ(ExtractChunkToFile(container.c_str(), "/nonexistent/dir/out"), uint32_t(ERR_WRITEFILE));
  std::remove(temp);
  std::remove(container.c_str());
}

TEST(VirtualLocks, ExamineAsAPlainFile) {
  std::string container = MakeFile(std::string(4096, 'z'));
  char vname[kChunkNameSize];
  MakeChunkName("sub/pic.png", vname, sizeof vname, 0, 2048, 0, container.c_str());
  qmVirtualLock *lock = LockVirtualPath(vname, QMOS_LOCK_READ);
  ASSERT_NE(lock, nullptr);
  qmFileInfo info;
  EXPECT_EQ(ExamineVirtualPath(lock, &info), 0u);
  EXPECT_EQ(info.size, 2048u);
  EXPECT_EQ(info.isDirectory, 0u);
  EXPECT_EQ(info.protection, 15u);
  EXPECT_STREQ(info.comment, "");
  qmDate date;
  TimeToDate(&info.modifyTime, &date, 0);
  EXPECT_EQ(date.year, 1982u);
  EXPECT_EQ(date.month, 8u);
  EXPECT_EQ(date.day, 16u);
  EXPECT_EQ(date.hours, 0u);
  uint32_t isDir = 7;
  EXPECT_EQ(CheckVirtualDirectory(lock, &isDir), uint32_t(ERR_NOTADIR));
  char name[2048];
  EXPECT_EQ(GetVirtualLockName(lock, name, sizeof name), 1);
  EXPECT_EQ(std::string(name).substr(std::strlen(name) - 8), "/pic.png");
  UnlockVirtualPath(lock);

  qmVirtualLock *real = LockVirtualPath("/tmp", QMOS_LOCK_READ);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(CheckVirtualDirectory(real, &isDir), 0u);
  EXPECT_EQ(isDir, 1u);
  UnlockVirtualPath(real);
  EXPECT_EQ(LockVirtualPath(":::chunkgarbage", QMOS_LOCK_READ), nullptr);
  std::remove(container.c_str());
}

}  // namespace
