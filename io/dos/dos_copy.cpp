#include "io/dos/dos_copy.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "io/dos/dos_files.h"
#include "io/dos/dos_paths.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileops.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/vfile.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vnames.h"

namespace {

// With a callback every block of 16,384 bytes is reported (the dos rules fix that size, and so
// how often the callback runs). The system copies larger pieces, whose blocks are then reported
// in turn: the script sees the same counts, and an abort removes the target either way.
constexpr uint64_t kReportedBlock = 16384;
constexpr uint64_t kSystemPiece = uint64_t(1) << 20;
// Without a callback the system's own copy goes in pieces this large, so that a quit is seen
// between them.
constexpr uint64_t kDirectPiece = uint64_t(64) << 20;

struct Walk {
  const char *patterns;
  int directoryFilter;
  const qmWalkCallback *callback;
  qmCancel cancel;
  std::vector<qmFileIdentity> path;     // directories being walked, to stop on loops
  std::vector<qmFileIdentity> targets;  // directories a copy writes into: never copied themselves
};

bool SameFile(const qmFileIdentity &a, const qmFileIdentity &b) { return a.device == b.device && a.inode == b.inode; }
bool Contains(const std::vector<qmFileIdentity> &list, const qmFileIdentity &id) {
  return std::any_of(list.begin(), list.end(), [&](const qmFileIdentity &x) { return SameFile(x, id); });
}

// Joins with AddPart's rule; ERR_WRONGUSAGE (the name as error argument) when the result
// would not fit the walk's name limit.
uint32_t Join(const std::string &dir, const char *name, std::string *out) {
  std::string joined = dir;
  if (!joined.empty() && joined.back() != '/' && joined.back() != '\\') joined += '/';
  joined += name;
  if (joined.size() > kMaxPathLength) {
    SetErrorArgument(name);
    return ERR_WRONGUSAGE;
  }
  *out = std::move(joined);
  return 0;
}

uint32_t AbsoluteName(const char *name, std::string *out) {
  qmVirtualLock *lock = LockVirtualPath(name, 0);
  char buffer[kMaxPathLength + 1];
  int ok = lock && GetVirtualLockName(lock, buffer, sizeof buffer);
  UnlockVirtualPath(lock);
  if (!ok) {
    SetErrorArgument(name);
    return ERR_LOCK2;
  }
  *out = buffer;
  return 0;
}

uint32_t Examine(const char *name, qmFileInfo *info) {
  qmVirtualLock *lock = LockVirtualPath(name, 0);
  if (!lock) {
    SetErrorArgument(name);
    return ERR_LOCK2;
  }
  *info = {};
  uint32_t code = ExamineVirtualPath(lock, info);
  UnlockVirtualPath(lock);
  return code;
}

// Sends a message; *answer is 0 for an answer that is no number.
uint32_t Ask(Walk *w, const qmWalkMessage &m, double *answer, int *isNumber) {
  *answer = 0;
  int number = 0;
  uint32_t code = w->callback->ask(w->callback->ud, &m, answer, &number);
  if (code) return code;
  if (!number) *answer = 0;
  if (isNumber) *isNumber = number;
  return PollCancel(w->cancel);
}

// The process's current directory for the time of one directory's walk.
struct CurrentDirectory {
  char *previous = nullptr;
  explicit CurrentDirectory(const char *dir) { previous = SetCurrentDir(dir); }
  ~CurrentDirectory() {
    if (previous) MemFree(SetCurrentDir(previous));
    MemFree(previous);
  }
  bool entered() const { return previous != nullptr; }
};

struct ListedEntry {
  std::string name;
  qmFileIdentity id;
};

// The entries of a directory, read before anything in it changes.
uint32_t ListDirectory(const std::string &dir, std::vector<ListedEntry> *out) {
  qmVirtualLock *lock = LockVirtualPath(dir.c_str(), 0);
  if (!lock) {
    SetErrorArgument(dir.c_str());
    return ERR_LOCK2;
  }
  uint32_t isDir = 0;
  if (CheckVirtualDirectory(lock, &isDir) || !isDir) {
    UnlockVirtualPath(lock);
    SetErrorArgument(dir.c_str());
    return ERR_EXAMINE;
  }
  const char *name;
  std::vector<std::string> names;
  while (ExamineNextVirtualEntry(lock, &name, nullptr, nullptr)) names.emplace_back(name);
  UnlockVirtualPath(lock);
  // Dead links are not listed by the examine walk; they are found again below only if listed.
  for (std::string &n : names) {
    std::string full;
    if (uint32_t code = Join(dir, n.c_str(), &full)) return code;
    qmFileIdentity id{};
    if (!GetFileIdentity(full.c_str(), 0, &id)) continue;
    out->push_back({std::move(n), id});
  }
  return 0;
}

// ---- copying ----

uint32_t CopyOne(Walk *w, const std::string &source, const std::string &targetDir, const char *newName) {
  char display[kChunkNameSize];
  ChunkDisplayNameInto(source.c_str(), display, sizeof display);
  if (w->patterns && !MatchPatternList(w->patterns, display)) return 0;
  std::string target;
  if (uint32_t code = Join(targetDir, newName && *newName ? newName : display, &target)) return code;

  qmFileIdentity sourceId{}, targetId{};
  bool targetExists = GetFileIdentity(target.c_str(), 1, &targetId) != 0;
  if (targetExists && !IsChunkName(source.c_str()) && GetFileIdentity(source.c_str(), 1, &sourceId) &&
      SameFile(sourceId, targetId)) {
    SetErrorArgument(source.c_str());
    return ERR_WRONGUSAGE;  // the copy would truncate its own source
  }
  std::string sourceName;
  if (targetExists) {
    qmFileInfo targetInfo;
    if (uint32_t code = Examine(target.c_str(), &targetInfo)) return code;
    if (w->callback) {
      if (uint32_t code = AbsoluteName(source.c_str(), &sourceName)) return code;
      double answer;
      qmWalkMessage m{COPYFILE_OVERWRITE, sourceName.c_str(), target.c_str(), nullptr, 0, 0};
      if (uint32_t code = Ask(w, m, &answer, nullptr)) return code;
      if (answer == -1) return ERR_USERABORT;
      if (answer == 0) return 0;
    }
    if (!(targetInfo.protection & FILEATTR_WRITE_USR)) {
      if (!w->callback) return 0;
      double answer;
      qmWalkMessage m{COPYFILE_UNPROTECT, nullptr, target.c_str(), nullptr, 0, 0};
      if (uint32_t code = Ask(w, m, &answer, nullptr)) return code;
      if (answer == -1) return ERR_USERABORT;
      if (answer == 0) return 0;
      SetProtection(target.c_str(), FILEATTR_NORMAL);
    }
  }

  qmFileInfo info;
  if (uint32_t code = Examine(source.c_str(), &info)) return code;
  if (sourceName.empty())
    if (uint32_t code = AbsoluteName(source.c_str(), &sourceName)) return code;
  qmFileHandle *in = nullptr;
  if (uint32_t code = OpenFileForReading(source.c_str(), &in)) return code;
  FileSeek(in, 0, FILE_SEEK_END);
  uint64_t length = FileSeek(in, 0, FILE_SEEK_START);
  uint64_t blockSize = w->callback ? kReportedBlock : kSystemPiece;
  auto *buffer = static_cast<uint8_t *>(MemAlloc(blockSize, 0));
  if (!buffer) {
    FileClose(in);
    return ERR_MEM;
  }
  SetErrorArgument(target.c_str());
  qmFileHandle *out = FileOpen(target.c_str(), FILE_MODE_WRITE);
  uint32_t code = out ? 0 : uint32_t(ERR_WRITEFILE);
  uint64_t copied = 0;
  // The system copies the blocks itself while it can (without a callback, in large pieces);
  // where it cannot, or stops early, the buffer carries on from the same place.
  bool direct = true;
  while (code == 0) {
    uint64_t got = direct ? FileCopyRange(in, out, w->callback ? kSystemPiece : kDirectPiece) : 0;
    if (got == 0) {
      direct = false;
      got = FileRead(in, buffer, blockSize);
      if (got == 0) break;
      if (FileWrite(out, buffer, got) != got) {
        code = ERR_WRITE;
        break;
      }
    }
    for (uint64_t end = copied + got; code == 0 && copied < end;) {
      copied = w->callback ? std::min(copied + kReportedBlock, end) : end;
      if (w->callback) {
        double answer;
        int isNumber;
        qmWalkMessage m{COPYFILE_STATUS, sourceName.c_str(), target.c_str(), nullptr, double(copied), double(length)};
        code = Ask(w, m, &answer, &isNumber);
        if (code == 0 && !isNumber) code = ERR_NUMCALLBACK;
        if (code == 0 && answer == 1) code = ERR_USERABORT;
      } else {
        code = PollCancel(w->cancel);
      }
    }
  }
  MemFree(buffer);
  FileClose(in);
  if (out) {
    if (!FileClose(out) && code == 0) code = ERR_WRITE;
    if (code) {
      RemoveFile(target.c_str());
    } else {
      uint32_t times[2] = {info.accessTime, info.modifyTime};
      SetFileDate(target.c_str(), times);
      SetProtection(target.c_str(), info.protection);
      SetFileComment(target.c_str(), info.comment);
    }
  }
  return code;
}

uint32_t CopyDirectory(Walk *w, const std::string &source, const std::string &targetDir, bool top) {
  std::string target = targetDir;
  if (!top) {
    char display[kChunkNameSize];
    ChunkDisplayNameInto(source.c_str(), display, sizeof display);
    if (uint32_t code = Join(targetDir, display, &target)) return code;
  }
  if (uint32_t code = MakePath(target.c_str())) return code;
  qmFileIdentity targetId{}, sourceId{};
  if (GetFileIdentity(target.c_str(), 1, &targetId)) w->targets.push_back(targetId);
  if (!GetFileIdentity(source.c_str(), 1, &sourceId)) {
    SetErrorArgument(source.c_str());
    return ERR_LOCK2;
  }
  qmFileInfo info;
  if (uint32_t code = Examine(source.c_str(), &info)) return code;
  std::vector<ListedEntry> entries;
  if (uint32_t code = ListDirectory(source, &entries)) return code;
  CurrentDirectory here(source.c_str());
  if (!here.entered()) {
    SetErrorArgument(source.c_str());
    return ERR_EXAMINE;
  }
  SetFileComment(target.c_str(), info.comment);
  w->path.push_back(sourceId);
  uint32_t code = 0;
  for (const ListedEntry &e : entries) {
    std::string full;
    if ((code = PollCancel(w->cancel)) || (code = Join(source, e.name.c_str(), &full))) break;
    if (e.id.isLink) continue;  // links are not followed out of the tree
    if (e.id.isDirectory) {
      if (Contains(w->path, e.id) || Contains(w->targets, e.id)) continue;  // a loop, or our own output
      if (w->patterns && w->directoryFilter && !MatchPatternList(w->patterns, e.name.c_str())) continue;
      code = CopyDirectory(w, full, target, false);
    } else {
      code = CopyOne(w, full, target, nullptr);
    }
    if (code) break;
  }
  w->path.pop_back();
  uint32_t times[2] = {info.accessTime, info.modifyTime};
  SetFileDate(target.c_str(), times);
  SetProtection(target.c_str(), info.protection);
  return code;
}

// ---- deleting ----

uint32_t DeleteOne(Walk *w, const std::string &name, bool isLink) {
  if (w->patterns) {
    const char *part = GetPathPart(name.c_str());
    if (*part == '/' || *part == '\\') part++;
    if (!MatchPatternList(w->patterns, part)) return 0;
  }
  std::string absolute = name;
  uint32_t protection = FILEATTR_WRITE_USR;
  if (!isLink) {
    qmFileInfo info;
    if (Examine(name.c_str(), &info) || AbsoluteName(name.c_str(), &absolute)) {
      SetErrorArgument(name.c_str());
      return ERR_DELETEFILE;
    }
    protection = info.protection;
  }
  double answer;
  if (!(protection & FILEATTR_WRITE_USR)) {
    if (!w->callback) return 0;
    qmWalkMessage m{DELETEFILE_UNPROTECT, nullptr, nullptr, absolute.c_str(), 0, 0};
    if (uint32_t code = Ask(w, m, &answer, nullptr)) return code;
    if (answer == -1) return ERR_USERABORT;
    if (answer == 0) return 0;
    SetProtection(name.c_str(), FILEATTR_NORMAL);
  }
  if (w->callback) {
    qmWalkMessage m{DELETEFILE_STATUS, nullptr, nullptr, absolute.c_str(), 0, 0};
    if (uint32_t code = Ask(w, m, &answer, nullptr)) return code;
    if (answer == 1) return ERR_USERABORT;
  }
  if (!RemoveFile(name.c_str())) {
    SetErrorArgument(name.c_str());
    return ERR_DELETEFILE;
  }
  return 0;
}

uint32_t DeleteDirectory(Walk *w, const std::string &dir, bool keep) {
  qmFileIdentity id{};
  if (!GetFileIdentity(dir.c_str(), 0, &id)) {
    SetErrorArgument(dir.c_str());
    return ERR_LOCK2;
  }
  if (Contains(w->path, id)) return 0;
  std::vector<ListedEntry> entries;
  if (uint32_t code = ListDirectory(dir, &entries)) return code;
  uint32_t code = 0;
  {
    CurrentDirectory here(dir.c_str());
    w->path.push_back(id);
    for (const ListedEntry &e : entries) {
      std::string full;
      if ((code = PollCancel(w->cancel)) || (code = Join(dir, e.name.c_str(), &full))) break;
      if (e.id.isDirectory && !e.id.isLink) {
        if (w->patterns && w->directoryFilter && !MatchPatternList(w->patterns, e.name.c_str())) continue;
        code = DeleteDirectory(w, full, false);
      } else {
        code = DeleteOne(w, full, e.id.isLink != 0);
      }
      if (code) break;
    }
    w->path.pop_back();
  }
  // A directory that still holds skipped files stays; that is not an error.
  if (!keep && code == 0) {
    uint32_t removed = DeleteOne(w, dir, false);
    if (removed == ERR_USERABORT) return removed;
  }
  return code;
}

bool EndsInSeparator(const std::string &s) { return !s.empty() && (s.back() == '/' || s.back() == '\\'); }

}  // namespace

uint32_t CopyFiles(const qmCopyRequest *r) {
  Walk w{r->patterns, r->directoryFilter, r->callback, r->cancel, {}, {}};
  std::string source = r->source;
  if (r->patterns && EndsInSeparator(source) && source.size() > 1) source.pop_back();
  qmVirtualLock *dest = LockVirtualPath(r->destination, 0);
  if (!dest) {
    if (uint32_t code = MakePath(r->destination)) return code;
  }
  UnlockVirtualPath(dest);
  qmFileInfo info;
  SetErrorArgument(source.c_str());
  if (uint32_t code = Examine(source.c_str(), &info)) return code;
  bool newName = r->newName && *r->newName;
  if (newName && info.isDirectory) return ERR_WRONGUSAGE;
  if (r->patterns && !info.isDirectory) return ERR_NODIRPATTERN;
  std::string target;
  if (uint32_t code = AbsoluteName(r->destination, &target)) return code;
  if (info.isDirectory) {
    std::string absoluteSource;
    if (uint32_t code = AbsoluteName(source.c_str(), &absoluteSource)) return code;
    return CopyDirectory(&w, absoluteSource, target, true);
  }
  return CopyOne(&w, source, target, r->newName);
}

uint32_t DeleteFiles(const qmDeleteRequest *r) {
  Walk w{r->patterns, r->directoryFilter, r->callback, r->cancel, {}, {}};
  std::string name = r->name;
  bool keep = r->patterns != nullptr;
  if (EndsInSeparator(name) && name.size() > 1) {
    name.pop_back();
    keep = true;
  }
  qmFileIdentity id{};
  if (!GetFileIdentity(name.c_str(), 0, &id)) return 0;
  if (id.isDirectory) {
    std::string absolute;
    if (uint32_t code = AbsoluteName(name.c_str(), &absolute)) return code;
    return DeleteDirectory(&w, absolute, keep);
  }
  if (r->patterns) return ERR_NODIRPATTERN;
  return DeleteOne(&w, name, id.isLink != 0);
}
