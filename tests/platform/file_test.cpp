#include "platform/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform/vfile.h"
#include "runtime/errcodes.h"
#include "tempdir.h"

namespace {

// 256 bytes whose value tells their offset apart from any neighbour's.
std::string Pattern() {
  std::string s(256, 0);
  for (int i = 0; i < 256; i++) s[i] = static_cast<char>(i * 7 + 3);
  return s;
}

std::string ChunkName(uint64_t offset, uint64_t length, const std::string &container) {
  return ":::chunk" + std::to_string(offset) + ":" + std::to_string(length) + "*pic.png/" +
         container;
}

class FileWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    container = dir / "data.bin";
    WriteFile(container, Pattern());
  }
  TempDir dir;
  std::string container;
};

TEST_F(FileWindow, ReadsStopAtTheWindowsEnd) {
  qmFileHandle *h = FileOpen(ChunkName(100, 20, container).c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  char buf[50];
  ASSERT_EQ(FileRead(h, buf, 50), 20u);
  EXPECT_EQ(std::string(buf, 20), Pattern().substr(100, 20));
  EXPECT_EQ(FileRead(h, buf, 50), 0u);
  EXPECT_EQ(FileEof(h), 1);
  EXPECT_EQ(FileGetc(h), -1);
  EXPECT_EQ(FileSeek(h, 0, FILE_SEEK_CURRENT), 20u);  // getc at the end did not advance
  EXPECT_EQ(FileClose(h), 1);
}

TEST_F(FileWindow, SeeksClampToBothEnds) {
  struct Case {
    const char *name;
    int64_t startAt;  // position set first (from the start)
    int64_t offset;
    int32_t origin;
    uint64_t position;  // afterwards
    int nextByte;       // window offset of the next byte read, -1 at the end
  };
  const Case cases[] = {
      {"past the end from the start", 0, 30, FILE_SEEK_START, 20, -1},
      {"back from the end", 0, -5, FILE_SEEK_END, 15, 15},
      {"past the end from the end", 0, 10, FILE_SEEK_END, 20, -1},
      {"before the start from the start", 10, -5, FILE_SEEK_START, 0, 0},
      {"before the start from here", 10, -50, FILE_SEEK_CURRENT, 0, 0},
      {"before the start from the end", 0, -100, FILE_SEEK_END, 0, 0},
      {"forward from here", 10, 3, FILE_SEEK_CURRENT, 13, 13},
      {"huge offset", 10, INT64_MAX, FILE_SEEK_CURRENT, 20, -1},
      {"huge negative offset", 10, INT64_MIN, FILE_SEEK_CURRENT, 0, 0},
  };
  const std::string data = Pattern();
  for (const auto &c : cases) {
    qmFileHandle *h = FileOpen(ChunkName(100, 20, container).c_str(), FILE_MODE_READ);
    ASSERT_NE(h, nullptr);
    FileSeek(h, c.startAt, FILE_SEEK_START);
    EXPECT_EQ(FileSeek(h, c.offset, c.origin), static_cast<uint64_t>(c.startAt)) << c.name;
    EXPECT_EQ(FileSeek(h, 0, FILE_SEEK_CURRENT), c.position) << c.name;
    int expected = c.nextByte < 0 ? -1 : static_cast<unsigned char>(data[100 + c.nextByte]);
    EXPECT_EQ(FileGetc(h), expected) << c.name;
    FileClose(h);
  }
}

TEST_F(FileWindow, WindowPastTheContainersEndIsCut) {
  qmFileHandle *h = FileOpen(ChunkName(250, 20, container).c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->size, 6u);
  char buf[20];
  EXPECT_EQ(FileRead(h, buf, 20), 6u);
  EXPECT_EQ(FileEof(h), 1);
  FileClose(h);
  h = FileOpen(ChunkName(1000, 20, container).c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileRead(h, buf, 20), 0u);
  EXPECT_EQ(FileEof(h), 1);
  FileClose(h);
}

TEST_F(FileWindow, RefusesWritingAndMalformedNames) {
  EXPECT_EQ(FileOpen(ChunkName(0, 10, container).c_str(), FILE_MODE_WRITE), nullptr);
  EXPECT_EQ(FileOpen(ChunkName(0, 10, container).c_str(), FILE_MODE_READWRITE), nullptr);
  const std::string bad[] = {
      ":::chunk",
      ":::chunk100",
      ":::chunk100:20",
      ":::chunk100:20*pic.png",                     // no container
      ":::chunk100:20*pic.png/",                    // empty container
      ":::chunkx:20*pic.png/" + container,          // offset not a number
      ":::chunk100-20*pic.png/" + container,        // wrong separator
      ":::chunk100:*pic.png/" + container,          // no length
      ":::chunk99999999999999999999:1*a/" + container,  // offset overflows
      ":::chunk18446744073709551615:2*a/" + container,  // window end overflows
      ":::chunk0:10*pic.png/" + dir / "missing.bin",
  };
  for (const auto &name : bad) EXPECT_EQ(FileOpen(name.c_str(), FILE_MODE_READ), nullptr) << name;
  EXPECT_EQ(FileOpen(nullptr, FILE_MODE_READ), nullptr);
}

TEST(MemoryWindow, ReadsOnlyRegisteredMemory) {
  static const char bytes[] = "0123456789abcdef";
  int32_t ref = RegisterMemoryWindow(bytes, 16);
  ASSERT_GT(ref, 0);
  // The address text is not trusted; the registry decides where the bytes are.
  std::string name = ":::chunkS" + std::to_string(ref) + ":10*notes.txt/deadbeef";
  qmFileHandle *h = FileOpen(name.c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->stream, nullptr);
  EXPECT_EQ(FileFlush(h), 1);
  FileSeek(h, 4, FILE_SEEK_START);
  char buf[16];
  ASSERT_EQ(FileRead(h, buf, 16), 6u);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(FileEof(h), 1);
  FileSeek(h, -3, FILE_SEEK_END);
  EXPECT_EQ(FileGetc(h), '7');

  // Memory that a handle still reads cannot be withdrawn.
  EXPECT_EQ(UnregisterMemoryWindow(ref), static_cast<uint32_t>(ERR_LOCKEDOBJ));
  EXPECT_EQ(FileClose(h), 1);
  EXPECT_EQ(UnregisterMemoryWindow(ref), 0u);

  const std::string forged[] = {
      name,                                                   // withdrawn
      ":::chunkS999999:4*x/" + std::to_string(reinterpret_cast<uintptr_t>(bytes)),
      ":::chunkS0:4*x/0",
  };
  for (const auto &f : forged) EXPECT_EQ(FileOpen(f.c_str(), FILE_MODE_READ), nullptr) << f;

  int32_t small = RegisterMemoryWindow(bytes, 4);
  std::string tooLong = ":::chunkS" + std::to_string(small) + ":5*x/0";
  EXPECT_EQ(FileOpen(tooLong.c_str(), FILE_MODE_READ), nullptr);  // longer than the window
  EXPECT_EQ(UnregisterMemoryWindow(small), 0u);
  EXPECT_EQ(UnregisterMemoryWindow(small), static_cast<uint32_t>(ERR_WRONGUSAGE));
}

// Lines from every kind of handle: whole however long, cut at the bound given, and the next
// read carrying on right after what the previous one took.
TEST(FileLines, EachReadTakesOneLineUpToItsBound) {
  TempDir dir;
  const std::string longLine = std::string(70000, 'q') + "\n";  // past stdio's buffer
  const std::string text = "ab\r\n\nlast" + longLine + "tail";
  WriteFile(dir / "lines.txt", text);
  WriteFile(dir / "box.bin", "HEAD" + text + "\nNEXT\n");
  static std::string memory;
  memory = text;
  int32_t ref = RegisterMemoryWindow(memory.data(), memory.size());
  ASSERT_GT(ref, 0);
  struct Source {
    const char *name;
    std::string file;
  } sources[] = {
      {"plain file", dir / "lines.txt"},
      {"window of a container", ChunkName(4, text.size(), dir / "box.bin")},
      {"memory window", ":::chunkS" + std::to_string(ref) + ":" + std::to_string(text.size()) + "*t/0"},
  };
  struct Read {
    uint64_t max;
    std::string expected;
  } reads[] = {
      {UINT64_MAX, "ab\r\n"},
      {1, "\n"},
      {3, "las"},  // cut: the rest of the line is the next read's
      {UINT64_MAX, "t" + longLine},
      {2, "ta"},
      {UINT64_MAX, "il"},  // the end without a line feed; a window stops at its own end
      {UINT64_MAX, ""},
  };
  for (const Source &src : sources) {
    qmFileHandle *h = FileOpen(src.file.c_str(), FILE_MODE_READ);
    ASSERT_NE(h, nullptr) << src.name;
    uint64_t at = 0;
    for (const Read &r : reads) {
      char *line = nullptr;
      uint64_t got = FileReadLine(h, r.max, &line);
      EXPECT_EQ(std::string(line ? line : "", got), r.expected) << src.name << " at " << at;
      at += got;
      EXPECT_EQ(FileSeek(h, 0, FILE_SEEK_CURRENT), at) << src.name;
    }
    EXPECT_EQ(FileClose(h), 1);
  }
  EXPECT_EQ(UnregisterMemoryWindow(ref), 0u);

  // Reading after a write starts where the write ended.
  std::string rw = dir / "rw.txt";
  WriteFile(rw, "one\ntwo\nthree\n");
  qmFileHandle *h = FileOpen(rw.c_str(), FILE_MODE_READWRITE);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(FileWrite(h, "ONE\n", 4), 4u);
  char *line = nullptr;
  uint64_t got = FileReadLine(h, UINT64_MAX, &line);
  EXPECT_EQ(std::string(line, got), "two\n");
  EXPECT_EQ(FileClose(h), 1);
}

TEST(PlainFile, ReadWriteSwitchesDirectionAtTheRightPlace) {
  TempDir dir;
  std::string path = dir / "rw.bin";
  // Mode 2 creates a missing file empty.
  qmFileHandle *h = FileOpen(path.c_str(), FILE_MODE_READWRITE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileSeek(h, 0, FILE_SEEK_CURRENT), 0u);
  EXPECT_EQ(FileWrite(h, "abcdefgh", 8), 8u);
  FileSeek(h, 2, FILE_SEEK_START);
  EXPECT_EQ(FileWrite(h, "XY", 2), 2u);
  char buf[8];
  ASSERT_EQ(FileRead(h, buf, 8), 4u);  // the bytes after the written ones
  EXPECT_EQ(std::string(buf, 4), "efgh");
  FileSeek(h, 1, FILE_SEEK_START);
  EXPECT_EQ(FileGetc(h), 'b');
  EXPECT_EQ(FilePutc(h, 'Z'), 1);  // a write after a read lands where the read stopped
  EXPECT_EQ(FileGetc(h), 'Y');
  EXPECT_EQ(FileSeek(h, -1, FILE_SEEK_END), 4u);  // unbounded: from the real end
  EXPECT_EQ(FileSeek(h, 0, FILE_SEEK_CURRENT), 7u);
  EXPECT_EQ(FileEof(h), 0);
  EXPECT_EQ(FileGetc(h), 'h');
  EXPECT_EQ(FileEof(h), 1);
  EXPECT_EQ(FileClose(h), 1);
  EXPECT_EQ(ReadWholeFile(path), "abZYefgh");

  // Read mode knows the size; a refused seek keeps the position.
  h = FileOpen(path.c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->size, 8u);
  FileSeek(h, 3, FILE_SEEK_START);
  FileSeek(h, -10, FILE_SEEK_CURRENT);
  EXPECT_EQ(FileSeek(h, 0, FILE_SEEK_CURRENT), 3u);
  EXPECT_EQ(FileGetc(h), 'Y');
  EXPECT_EQ(FileWrite(h, "q", 1), 0u);
  FileClose(h);

  // Mode 1 truncates.
  h = FileOpen(path.c_str(), FILE_MODE_WRITE);
  ASSERT_NE(h, nullptr);
  FileClose(h);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(FileOpen((dir / "no/such/file").c_str(), FILE_MODE_READ), nullptr);
  EXPECT_EQ(FileOpen((dir / "no/such/file").c_str(), FILE_MODE_READWRITE), nullptr);
}

// FileCopyRange starts at both handles' positions whatever stdio holds ahead or behind, and
// leaves both streams where the next FileRead and FileWrite belong: the result is what the
// buffer alone would have made.
TEST(PlainFile, CopyRangeCarriesOnWhereTheHandlesStand) {
  TempDir dir;
  std::string source = dir / "source.bin", target = dir / "target.bin";
  std::string bytes;
  for (int i = 0; i < 400; i++) bytes += Pattern();  // 102,400 bytes
  WriteFile(source, bytes);
  struct Case {
    const char *name;
    uint64_t readFirst;
    std::string writeFirst;
    uint64_t asked, copied;
  } cases[] = {
      {"from the start", 0, "", 102400, 102400},
      {"after a buffered read and a buffered write", 10, "head", 50000, 50000},
      {"more than is left", 102390, "", 1000, 10},
      {"at the end", 102400, "", 10, 0},
      {"nothing asked", 5, "x", 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    qmFileHandle *in = FileOpen(source.c_str(), FILE_MODE_READ);
    qmFileHandle *out = FileOpen(target.c_str(), FILE_MODE_WRITE);
    ASSERT_TRUE(in && out);
    std::vector<char> buffer(bytes.size());
    ASSERT_EQ(FileRead(in, buffer.data(), c.readFirst), c.readFirst);
    ASSERT_EQ(FileWrite(out, c.writeFirst.data(), c.writeFirst.size()), c.writeFirst.size());
    EXPECT_EQ(FileCopyRange(in, out, c.asked), c.copied);
    EXPECT_EQ(FileSeek(in, 0, FILE_SEEK_CURRENT), c.readFirst + c.copied);
    EXPECT_EQ(FileSeek(out, 0, FILE_SEEK_CURRENT), c.writeFirst.size() + c.copied);
    uint64_t rest = FileRead(in, buffer.data(), buffer.size());
    EXPECT_EQ(rest, bytes.size() - c.readFirst - c.copied);
    EXPECT_EQ(FileWrite(out, buffer.data(), rest), rest);
    EXPECT_EQ(FileWrite(out, "tail", 4), 4u);
    EXPECT_EQ(FileClose(in), 1);
    EXPECT_EQ(FileClose(out), 1);
    EXPECT_EQ(ReadWholeFile(target), c.writeFirst + bytes.substr(c.readFirst) + "tail");
  }
}

// What the system cannot copy is declined with nothing moved, for the buffer to do.
TEST_F(FileWindow, CopyRangeDeclinesVirtualSources) {
  qmFileHandle *in = FileOpen(ChunkName(100, 20, container).c_str(), FILE_MODE_READ);
  qmFileHandle *out = FileOpen((dir / "out.bin").c_str(), FILE_MODE_WRITE);
  ASSERT_TRUE(in && out);
  EXPECT_EQ(FileCopyRange(in, out, 20), 0u);
  EXPECT_EQ(FileSeek(in, 0, FILE_SEEK_CURRENT), 0u);
  EXPECT_EQ(FileSeek(out, 0, FILE_SEEK_CURRENT), 0u);
  FileClose(in);
  FileClose(out);
}

TEST(PlainFile, FullDiskIsReportedAsFailure) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  qmFileHandle *h = FileOpen("/dev/full", FILE_MODE_WRITE);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileWrite(h, "x", 1), 1u);  // still in the buffer
  EXPECT_EQ(FileFlush(h), 0);
  std::vector<char> big(1 << 20, 'x');
  EXPECT_LT(FileWrite(h, big.data(), big.size()), big.size());
  EXPECT_EQ(FileClose(h), 0);
}

TEST(PlainFile, NamesAreNormalisedAndConvertedToUtf8) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  WriteFile(dir / "sub/x.txt", "slashes");
  std::string backslashed = dir.path() + "\\sub\\x.txt";
  qmFileHandle *h = FileOpen(backslashed.c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileGetc(h), 's');
  FileClose(h);

  // Latin-1 inside, UTF-8 on disk, and back.
  std::string latin1 = dir / "caf\xE9.txt";
  h = FileOpen(latin1.c_str(), FILE_MODE_WRITE);
  ASSERT_NE(h, nullptr);
  FileClose(h);
  EXPECT_TRUE(std::filesystem::exists(dir / "caf\xC3\xA9.txt"));
  char back[64];
  ASSERT_EQ(FromFileSystemName("caf\xC3\xA9.txt", back, sizeof back), 1);
  EXPECT_STREQ(back, "caf\xE9.txt");
  h = FileOpen(latin1.c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  FileClose(h);

  // A name beyond Latin-1 comes back from listings as UTF-8 and must open as it is.
  std::string utf8 = dir / "\xE6\x97\xA5\xE6\x9C\xAC.txt";
  WriteFile(utf8, "j");
  EXPECT_EQ(FromFileSystemName("\xE6\x97\xA5.txt", back, sizeof back), 0);
  h = FileOpen(utf8.c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileGetc(h), 'j');
  FileClose(h);
}

TEST(PlainFile, OverlongNamesAreUsedUnchanged) {
  TempDir dir;
  // Nested folders give a path over 1023 characters; its last name holds a backslash, which
  // must stay a backslash.
  std::string path = dir.path();
  while (path.size() < 1100) {
    path += "/" + std::string(200, 'd');
    std::filesystem::create_directory(path);
  }
  path += "/a\\b";
  WriteFile(path, "long");
  ASSERT_GT(path.size(), kMaxPathLength);
  char buffer[kMaxPathLength + 1];
  EXPECT_EQ(NormalizeSlashes(path.c_str(), buffer), path.c_str());
  EXPECT_EQ(ToFileSystemPath(path.c_str()), nullptr);
  qmFileHandle *h = FileOpen(path.c_str(), FILE_MODE_READ);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileGetc(h), 'l');
  FileClose(h);
}

TEST(PlainFile, ProgDirIsTheExecutablesFolder) {
  char exe[kMaxPathLength + 1];
  GetExecutablePath(exe);
  std::filesystem::path folder = std::filesystem::path(exe).parent_path();
  std::string sub = "progdir-" + std::to_string(getpid());
  std::filesystem::create_directories(folder / sub / "Data");
  WriteFile((folder / sub / "Data" / "x.txt").string(), "P");
  std::string name = "PROGDIR:" + sub + "\\Data/x.txt";
  qmFileHandle *h = FileOpen(name.c_str(), FILE_MODE_READ);
  std::filesystem::remove_all(folder / sub);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FileGetc(h), 'P');
  FileClose(h);
  EXPECT_EQ(FileOpen("progdir:nothing-here", FILE_MODE_READ), nullptr);  // compared exactly
}

}  // namespace
