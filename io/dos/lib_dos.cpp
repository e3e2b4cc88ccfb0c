// The "dos" library: its command handlers (the script's view: argument checks, object
// lookups, results), its command and constant tables and its start and end. The engine work
// lives in the dos_*.cpp files beside it.
#include "io/dos/lib_dos.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/scene.h"
#include "io/dos/dos_checksum.h"
#include "io/dos/dos_copy.h"
#include "io/dos/dos_files.h"
#include "io/dos/dos_paths.h"
#include "io/dos/dos_serialize.h"
#include "io/qmpk.h"
#include "platform/date.h"
#include "platform/dir.h"
#include "platform/env.h"
#include "platform/fileops.h"
#include "platform/launch.h"
#include "platform/memory.h"
#include "platform/path.h"
#include "platform/vfile.h"
#include "runtime/applet.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/context.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/objlist.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_api.h"

namespace {

constexpr int32_t kDosEOF = -1;
constexpr uint64_t kFileToStringBlock = 16384;
const char kLinesMeta[] = "dos.filelines";

// The library's state, or null for a finaliser at shut-down after the free (ERR_WRONGUSAGE).
uint32_t Dos(VmState *L, qmDosState **out) {
  *out = GetDosState(L);
  return *out ? 0 : uint32_t(ERR_WRONGUSAGE);
}

// The file object named by argument i; for reading or writing, one opened that way.
uint32_t FileArg(VmState *L, int i, qmFileObject **out) {
  return GetObjectArg(L, i, QMTYPE_FILE, ERR_FINDFILE, out);
}
uint32_t ReadableFileArg(VmState *L, int i, qmFileObject **out) {
  if (uint32_t code = FileArg(L, i, out)) return code;
  return (*out)->access == FILE_MODE_WRITE ? uint32_t(ERR_WRITEONLY) : 0;
}
uint32_t WritableFileArg(VmState *L, int i, qmFileObject **out) {
  if (uint32_t code = FileArg(L, i, out)) return code;
  return (*out)->access == FILE_MODE_READ ? uint32_t(ERR_READONLY) : 0;
}

bool IsVirtual(const char *name) { return IsChunkName(name) != 0; }

// True when the program is to stop: the End command, a close request or a quit signal.
bool QuitRequested(VmState *L) { return vm_endrequested(L) != 0; }

// Calls the function at stack position fn with the table on the stack top (popped) under the
// callback bracket; leaves its one result on the stack. 0 or the callback's error.
uint32_t CallWithTable(VmState *L, int fn) {
  vm_pushvalue(L, fn);
  vm_insert(L, -2);
  qmTagItem up[] = {{RTTAG_CALLBACKDEPTH, 1}, {0, 0}};
  qmTagItem down[] = {{RTTAG_CALLBACKDEPTH, 0}, {0, 0}};
  SetRuntimeTags(L, up);
  uint32_t code = vm_pcall(L, 1, 1, 0);
  SetRuntimeTags(L, down);
  return code;
}

// ---- file objects and their input and output ----

uint32_t DosOpenFile(VmState *L) {
  CheckArgCount(L, 2, 3);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  int32_t mode = vm_optint32(L, 3, DOS_MODE_READ);
  const char *name = mode == DOS_MODE_READ ? ResolveLinkedFileArg(L, 2, 0, nullptr) : vm_checkstring(L, 2, nullptr);
  qmFileObject *f;
  if (uint32_t code = OpenFileObject(L, &id, name, mode, &f)) return code;
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, f);
  return 1;
}

uint32_t DosCloseFile(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = FileArg(L, 1, &f)) return code;
  return CloseFileObject(L, f);
}

uint32_t DosEof(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = FileArg(L, 1, &f)) return code;
  RefreshFileSize(f);
  vm_pushnumber(L, f->position >= f->size ? 1 : 0);
  return 1;
}

// ReadChr, ReadShort and ReadInt share one body: count bytes, unsigned unless signed.
template <int Count, bool Signed>
uint32_t ReadInteger(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = ReadableFileArg(L, 1, &f)) return code;
  uint8_t bytes[Count];
  if (uint32_t code = ReadFileObject(f, f->file, bytes, 1, Count)) return code;
  uint32_t v = 0;
  for (int i = 0; i < Count; i++) v = v << 8 | bytes[i];
  vm_pushnumber(L, Signed ? double(int32_t(v)) : double(v));
  return 1;
}

uint32_t DosReadFloat(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = ReadableFileArg(L, 1, &f)) return code;
  double v;
  if (uint32_t code = ReadFileObject(f, f->file, &v, 0, 8)) return code;
  vm_pushnumber(L, v);
  return 1;
}

uint32_t DosReadString(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmFileObject *f;
  if (uint32_t code = ReadableFileArg(L, 1, &f)) return code;
  int64_t length;
  if (!NumberToInt64(vm_checknumber(L, 2), &length) || length < 0) return ERR_WRONGUSAGE;
  if (f->position > f->size || uint64_t(length) > f->size - f->position) return ERR_READRANGE;
  if (uint32_t code = CheckResultLength(size_t(length), 0, 0)) return code;
  std::string bytes(size_t(length), '\0');
  if (length)
    if (uint32_t code = ReadFileObject(f, f->file, bytes.data(), 1, uint64_t(length))) return code;
  vm_pushlstring(L, bytes.data(), bytes.size());
  return 1;
}

uint32_t DosReadLine(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = ReadableFileArg(L, 1, &f)) return code;
  if (f->position >= f->size) return ERR_READRANGE;
  const char *line;
  uint64_t length;
  ReadLineFromObject(f, &line, &length);
  vm_pushlstring(L, line, length);
  return 1;
}

template <int Count>
uint32_t WriteInteger(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmFileObject *f;
  if (uint32_t code = WritableFileArg(L, 1, &f)) return code;
  uint32_t v = vm_checkinteger(L, 2);
  uint8_t bytes[Count];
  for (int i = 0; i < Count; i++) bytes[i] = uint8_t(v >> (8 * (Count - 1 - i)));
  return WriteFileObject(f, f->file, bytes, 1, Count);
}

uint32_t DosWriteFloat(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmFileObject *f;
  if (uint32_t code = WritableFileArg(L, 1, &f)) return code;
  double v = vm_checknumber(L, 2);
  return WriteFileObject(f, f->file, &v, 0, 8);
}

uint32_t DosWriteString(VmState *L) {
  CheckArgCount(L, 2, 3);
  size_t len;
  const char *s = vm_checkstring(L, 2, &len);
  int64_t count = 0;
  if (!NumberToInt64(vm_optnumber(L, 3, 0), &count) || count < 0) return ERR_WRONGUSAGE;
  if (uint64_t(count) > len) return ERR_STRTOOSHORT;
  qmFileObject *f;
  if (uint32_t code = WritableFileArg(L, 1, &f)) return code;
  return WriteFileObject(f, f->file, s, 1, count ? uint64_t(count) : len);
}

uint32_t DosWriteLine(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmFileObject *f;
  if (uint32_t code = WritableFileArg(L, 1, &f)) return code;
  const char *s = vm_checkstring(L, 2, nullptr);
  if (uint32_t code = WriteFileObject(f, f->file, s, 1, std::strlen(s))) return code;
  return WriteFileObject(f, f->file, "\n", 1, 1);
}

uint32_t DosSeek(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmFileObject *f;
  if (uint32_t code = FileArg(L, 1, &f)) return code;
  int64_t position;
  if (!NumberToInt64(vm_checknumber(L, 2), &position)) return ERR_SEEK;
  if (position == kDosEOF) position = int64_t(f->size);
  if (position < 0 || uint64_t(position) > f->size) return ERR_SEEK;
  FileSeek(f->file, position, FILE_SEEK_START);
  f->position = uint64_t(position);
  return 0;
}

uint32_t DosFilePos(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = FileArg(L, 1, &f)) return code;
  vm_pushnumber(L, double(f->position));
  return 1;
}

uint32_t DosFileLength(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = FileArg(L, 1, &f)) return code;
  RefreshFileSize(f);
  vm_pushnumber(L, double(f->size));
  return 1;
}

uint32_t DosFlushFile(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = FileArg(L, 1, &f)) return code;
  return FileFlush(f->file) ? 0 : uint32_t(ERR_WRITE);
}

uint32_t DosSetIOMode(VmState *L) {
  CheckArgCount(L, 1, 1);
  uint32_t mode = vm_checkinteger(L, 1);
  if (mode != IO_BUFFERED && mode != IO_UNBUFFERED) return ERR_WRONGUSAGE;
  qmDosState *dos;
  if (uint32_t code = Dos(L, &dos)) return code;
  dos->ioMode = mode;
  return 0;
}

uint32_t DosFileToString(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  qmFileHandle *h;
  if (uint32_t code = OpenFileForReading(name, &h)) return code;
  // The length is known, so the text is read in one piece straight into the script's string;
  // the tail only matters for a file that grew since it was opened.
  uint32_t code = CheckResultLength(size_t(std::min<uint64_t>(h->size, VM_MAXSTRLEN + uint64_t(1))), 0, 0);
  char *text = code ? nullptr : vm_openstring(L, size_t(h->size));
  if (code == 0 && text == nullptr) code = ERR_MEM;
  uint64_t got = 0;
  std::string tail;
  if (code == 0) {
    got = FileRead(h, text, h->size);
    try {
      char block[kFileToStringBlock];
      for (uint64_t n; (n = FileRead(h, block, sizeof block)) > 0;) tail.append(block, size_t(n));
    } catch (const std::bad_alloc &) {
      code = ERR_MEM;
    }
  }
  FileClose(h);
  if (code == 0) code = CheckResultLength(size_t(got) + tail.size(), 0, 0);
  if (code) {
    if (text) vm_freeopenstring(L, text);
    return code;
  }
  vm_pushopenstring(L, text, size_t(got));
  if (!tail.empty()) {
    vm_pushlstring(L, tail.data(), tail.size());
    vm_concat(L, 2);
  }
  vm_pushnumber(L, double(got + tail.size()));
  return 2;
}

uint32_t DosStringToFile(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  const char *name = vm_checkstring(L, 2, nullptr);
  SetErrorArgument(name);
  qmFileHandle *h = FileOpen(name, FILE_MODE_WRITE);
  if (h == nullptr) return ERR_WRITEFILE;
  bool ok = FileWrite(h, s, len) == len;
  // The data may only fail to reach the disk when the file is closed.
  if (!FileClose(h)) ok = false;
  return ok ? 0 : uint32_t(ERR_WRITE);
}

// The FileLines iterator's state: the open handle, closed at the end or when collected.
struct LinesState {
  qmFileHandle *h;
};

uint32_t CloseLines(VmState *L) {
  auto *s = static_cast<LinesState *>(vm_touserdata(L, 1));
  if (s && s->h) {
    FileClose(s->h);
    s->h = nullptr;
  }
  return 0;
}

uint32_t NextLine(VmState *L) {
  auto *s = static_cast<LinesState *>(vm_touserdata(L, vm_upvalueindex(1)));
  if (s == nullptr || s->h == nullptr) return 0;
  const char *line;
  uint64_t length;
  if (!ReadTextLine(s->h, UINT64_MAX, &line, &length)) {
    FileClose(s->h);
    s->h = nullptr;
    return 0;
  }
  vm_pushlstring(L, line, length);
  return 1;
}

uint32_t DosFileLines(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  auto *s = static_cast<LinesState *>(vm_newuserdata(L, sizeof(LinesState)));
  s->h = nullptr;
  if (vm_newmetatable(L, kLinesMeta)) {
    vm_pushstring(L, "__gc");
    vm_pushcfunction(L, CloseLines);
    vm_rawset(L, -3);
  }
  vm_setmetatable(L, -2);
  if (uint32_t code = OpenFileForReading(name, &s->h)) return code;
  vm_pushcclosure(L, NextLine, 1);
  return 1;
}

// ---- names, directories, attributes, programs, environment ----

// Sets the attribute keys of an examined file in the table on the stack top.
void SetAttributeFields(VmState *L, const qmFileInfo &info) {
  SetFieldNumber(L, "type", info.isDirectory ? 1 : 0);
  if (!info.isDirectory) SetFieldNumber(L, "size", double(info.size));
  SetFieldNumber(L, "flags", info.protection);
  char date[kDosDateTextSize];
  FormatDateText(info.modifyTime, date);
  SetFieldString(L, "time", date);
  FormatDateText(info.accessTime, date);
  SetFieldString(L, "lastaccesstime", date);
}

// A lock that unlocks itself.
struct Locked {
  qmVirtualLock *lock;
  explicit Locked(const char *name) : lock(LockVirtualPath(name, 0)) {}
  ~Locked() { UnlockVirtualPath(lock); }
};

uint32_t DosExists(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = ResolveLinkedFileArg(L, 1, 0, nullptr);
  Locked l(name);
  vm_pushnumber(L, name[0] && l.lock ? 1 : 0);
  return 1;
}

uint32_t DosFileSize(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  Locked l(name);
  qmFileInfo info{};
  if (!name[0] || !l.lock || ExamineVirtualPath(l.lock, &info)) vm_pushnumber(L, -1);
  else vm_pushnumber(L, double(info.size));
  return 1;
}

uint32_t DosIsDirectory(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  SetErrorArgument(name);
  Locked l(name);
  if (!l.lock) return ERR_LOCK2;
  qmFileInfo info{};
  if (ExamineVirtualPath(l.lock, &info)) return ERR_WRONGUSAGE;
  vm_pushnumber(L, info.isDirectory ? 1 : 0);
  return 1;
}

uint32_t DosGetFileAttributes(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = ResolveLinkedFileArg(L, 1, 0, nullptr);
  std::string given = name;
  SetErrorArgument(name);
  Locked l(given.c_str());
  if (!l.lock) return ERR_LOCK2;
  qmFileInfo info{};
  if (uint32_t code = ExamineVirtualPath(l.lock, &info)) return code;
  char absolute[kChunkNameSize] = {};
  bool isVirtual = IsVirtual(given.c_str());
  if (!isVirtual && !GetVirtualLockName(l.lock, absolute, sizeof absolute)) return ERR_LOCK2;
  vm_newtable(L);
  SetFieldString(L, "path", isVirtual ? given.c_str() : absolute);
  SetFieldNumber(L, "virtual", isVirtual ? 1 : 0);
  SetAttributeFields(L, info);
  return 1;
}

// A date-text field of the table at t into times[index]: 0, or ERR_INVALIDDATE.
uint32_t DateField(VmState *L, const char *key, uint32_t *times, int index, bool *given) {
  vm_pushstring(L, key);
  vm_gettable(L, 2);
  if (vm_type(L, -1) == VM_TNIL) {
    vm_pop(L, 1);
    return 0;
  }
  size_t len;
  const char *text = vm_checkstring_field(L, -1, &len, key);
  qmDate date{};
  bool ok = ParseDateText(text, len, &date) && DateToTime(&date, times, index);
  vm_pop(L, 1);
  if (!ok) return ERR_INVALIDDATE;
  *given = true;
  return 0;
}

uint32_t DosSetFileAttributes(VmState *L) {
  CheckArgCount(L, 2, 2);
  const char *name = vm_checkstring(L, 1, nullptr);
  if (IsVirtual(name)) return ERR_WRONGUSAGE;
  vm_checktable(L, 2);
  SetErrorArgument(name);
  Locked l(name);
  if (!l.lock) return ERR_LOCK2;
  qmFileInfo info{};
  if (uint32_t code = ExamineVirtualPath(l.lock, &info)) return code;
  int found = 0;
  uint32_t flags = 0;
  GetFieldUInt(L, 2, "flags", &flags, &found);
  if (found && !SetProtection(name, flags)) return ERR_SETFILEATTR;
  uint32_t times[2] = {info.accessTime, info.modifyTime};
  bool given = false;
  if (uint32_t code = DateField(L, "time", times, 1, &given)) return code;
  if (uint32_t code = DateField(L, "lastaccesstime", times, 0, &given)) return code;
  if (given && !SetFileDate(name, times)) return ERR_SETFILEDATE;
  return 0;
}

uint32_t DosReadDirectory(VmState *L) {
  CheckArgCount(L, 3, 4);
  const char *path = vm_checkstring(L, 1, nullptr);
  vm_checktable(L, 2);
  vm_checktable(L, 3);
  bool sort = vm_optflag(L, 4, true);
  SetErrorArgument(path);
  Locked l(path);
  if (!l.lock) return ERR_LOCK2;
  uint32_t isDir = 0;
  if (uint32_t code = CheckVirtualDirectory(l.lock, &isDir)) return code;
  std::vector<std::string> files, dirs;
  const char *name;
  uint32_t entryIsDir = 0;
  while (ExamineNextVirtualEntry(l.lock, &name, &entryIsDir, nullptr))
    (entryIsDir ? dirs : files).emplace_back(name);
  // The script's "<" on two names is strcmp; sorting here gives the order Sort would.
  if (sort) {
    std::sort(files.begin(), files.end(), [](auto &a, auto &b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
    std::sort(dirs.begin(), dirs.end(), [](auto &a, auto &b) { return std::strcmp(a.c_str(), b.c_str()) < 0; });
  }
  for (int t = 2; t <= 3; t++) {
    const std::vector<std::string> &list = t == 2 ? files : dirs;
    for (size_t i = 0; i < list.size(); i++) {
      vm_pushstring(L, list[i].c_str());
      vm_rawseti(L, t, int(i));
    }
    vm_pushstring(L, "");
    vm_rawseti(L, t, int(list.size()));
  }
  vm_pushnumber(L, double(files.size()));
  vm_pushnumber(L, double(dirs.size()));
  return 2;
}

uint32_t DosOpenDirectory(VmState *L) {
  CheckArgCount(L, 2, 2);
  qmObjectId id = GetNewObjectIdArg(L, 1);
  const char *path = vm_checkstring(L, 2, nullptr);
  if (!id.handle)
    if (auto *old = reinterpret_cast<qmDirectoryObject *>(FindObject(L, QMTYPE_DIRECTORY, &id)))
      CloseDirectoryObject(L, old);
  SetErrorArgument(path);
  qmVirtualLock *lock = LockVirtualPath(path, 0);
  if (!lock) return ERR_LOCK2;
  uint32_t isDir = 0;
  if (uint32_t code = CheckVirtualDirectory(lock, &isDir)) {
    UnlockVirtualPath(lock);
    return code;
  }
  auto *d = static_cast<qmDirectoryObject *>(MemAlloc(sizeof(qmDirectoryObject), 1));
  if (!d) {
    UnlockVirtualPath(lock);
    return ERR_MEM;
  }
  SetObjectHeader(&d->header, QMTYPE_DIRECTORY, &id);
  d->lock = lock;
  if (uint32_t code = AddObject(L, &d->header)) {
    UnlockVirtualPath(lock);
    MemFree(d);
    return code;
  }
  if (!id.handle) return 0;
  vm_pushlightuserdata(L, d);
  return 1;
}

uint32_t DosNextDirectoryEntry(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmDirectoryObject *d;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_DIRECTORY, ERR_FINDDIR, &d)) return code;
  if (d->done) return 0;
  const char *name;
  uint32_t isDir = 0;
  qmFileInfo info{};
  if (!ExamineNextVirtualEntry(d->lock, &name, &isDir, &info)) {
    d->done = 1;
    return 0;
  }
  vm_newtable(L);
  SetFieldString(L, "name", name);
  SetAttributeFields(L, info);
  return 1;
}

uint32_t DosCloseDirectory(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmDirectoryObject *d;
  if (uint32_t code = GetObjectArg(L, 1, QMTYPE_DIRECTORY, ERR_FINDDIR, &d)) return code;
  CloseDirectoryObject(L, d);
  return 0;
}

uint32_t DosMakeDirectory(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *path = vm_checkstring(L, 1, nullptr);
  if (!path[0]) return ERR_WRONGUSAGE;
  return MakePath(path);
}

uint32_t DosChangeDirectory(VmState *L) {
  CheckArgCount(L, 1, 1);
  MemFree(SetCurrentDir(vm_checkstring(L, 1, nullptr)));
  return 0;
}

uint32_t DosGetCurrentDirectory(VmState *L) {
  CheckArgCount(L, 0, 0);
  char buffer[kMaxPathLength + 1] = {};
  // "." resolves to the folder itself, named without a trailing slash like every other path.
  if (!GetFullPath(".", buffer, sizeof buffer)) buffer[0] = 0;
  vm_pushstring(L, buffer);
  return 1;
}

uint32_t DosFullPath(VmState *L) {
  CheckArgCount(L, 2, 2);
  std::string dir = vm_checkstring(L, 1, nullptr);
  const char *name = vm_checkstring(L, 2, nullptr);
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  dir += name;
  vm_pushlstring(L, dir.data(), dir.size());
  return 1;
}

uint32_t DosPathPart(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *path = vm_checkstring(L, 1, nullptr);
  if (IsVirtual(path)) return ERR_WRONGUSAGE;
  const char *end = GetPathPart(path);
  if (*end == '/' || *end == '\\') end++;
  vm_pushlstring(L, path, size_t(end - path));
  return 1;
}

uint32_t DosFilePart(VmState *L) {
  CheckArgCount(L, 1, 1);
  char shown[kChunkNameSize];
  vm_pushstring(L, ChunkDisplayName(vm_checkstring(L, 1, nullptr), shown, sizeof shown));
  return 1;
}

uint32_t DosRename(VmState *L) {
  CheckArgCount(L, 2, 2);
  const char *from = vm_checkstring(L, 1, nullptr);
  const char *to = vm_checkstring(L, 2, nullptr);
  if (!from[0] || !to[0] || IsVirtual(from) || IsVirtual(to)) return ERR_WRONGUSAGE;
  std::string target(from, size_t(GetPathPart(from) - from));
  char shown[kChunkNameSize];
  std::string newPart = ChunkDisplayName(to, shown, sizeof shown);
  if (!target.empty() && target.back() != '/' && target.back() != '\\' && target.back() != ':') target += '/';
  target += newPart;
  SetErrorArgument(from);
  return RenameFile(from, target.c_str()) ? 0 : uint32_t(ERR_RENAME);
}

uint32_t DosMatchPattern(VmState *L) {
  CheckArgCount(L, 2, 2);
  const char *s = vm_checkstring(L, 1, nullptr);
  const char *list = vm_checkstring(L, 2, nullptr);
  vm_pushnumber(L, MatchPatternList(list, s));
  return 1;
}

uint32_t DosGetVolumeInfo(VmState *L) {
  CheckArgCount(L, 2, 2);
  const char *volume = vm_checkstring(L, 1, nullptr);
  uint32_t kind = vm_checkinteger(L, 2);
  if (!volume[0]) return ERR_WRONGUSAGE;
  uint64_t freeBytes = 0, usedBytes = 0;
  if (uint32_t code = uint32_t(QueryVolumeSpace(volume, &freeBytes, &usedBytes))) return code;
  vm_pushnumber(L, double(kind == 1 ? freeBytes : usedBytes));
  return 1;
}

uint32_t DosGetVolumeName(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *path = vm_checkstring(L, 1, nullptr);
  if (!path[0]) return ERR_WRONGUSAGE;
  char buffer[kMaxPathLength + 1] = {};
  ReadVolumeName(path, buffer);
  vm_pushstring(L, buffer);
  return 1;
}

uint32_t DosGetTempFileName(VmState *L) {
  CheckArgCount(L, 0, 0);
  qmDosState *dos;
  if (uint32_t code = Dos(L, &dos)) return code;
  char buffer[kMaxPathLength + 1];
  if (!TempFileName(buffer)) return ERR_WRITEFILE;
  dos->tempFiles.push_back({buffer, ""});
  vm_pushstring(L, buffer);
  return 1;
}

// A program linked into the applet (or any virtual file) runs from a private copy made once.
uint32_t ProgramCopy(VmState *L, const char *virtualName, std::string *path) {
  qmDosState *dos;
  if (uint32_t code = Dos(L, &dos)) return code;
  for (const qmDosTempFile &t : dos->tempFiles)
    if (t.virtualName == virtualName) {
      *path = t.path;
      return 0;
    }
  char temp[kMaxPathLength + 1];
  if (!MakeTempChunkFileName(temp, virtualName)) return ERR_WRITEFILE;
  dos->tempFiles.push_back({temp, virtualName});
  if (uint32_t code = ExtractChunkToFile(virtualName, temp)) return code;
  // Private to this user, and runnable.
  SetProtection(temp, FILEATTR_READ_USR | FILEATTR_WRITE_USR | FILEATTR_EXECUTE_USR);
  *path = temp;
  return 0;
}

uint32_t ExecuteProgram(VmState *L, int async) {
  CheckArgCount(L, 1, 2);
  const char *line = vm_checkstring(L, 1, nullptr);
  bool reset = vm_optflag(L, 2, true);
  if (!line[0]) return ERR_WRONGUSAGE;
  std::string program;
  const char *rest;
  if (line[0] == '"') {
    const char *close = std::strchr(line + 1, '"');
    if (!close) return ERR_WRONGUSAGE;
    program.assign(line + 1, size_t(close - line - 1));
    rest = close + 1;
  } else {
    size_t n = std::strcspn(line, " \t");
    program.assign(line, n);
    rest = line + n;
  }
  while (*rest == ' ' || *rest == '\t') rest++;
  std::string path = ResolveLinkedFile(GetAppletRecord(L), program.c_str(), 0, nullptr);
  if (IsVirtual(path.c_str())) {
    std::string copy;
    if (uint32_t code = ProgramCopy(L, path.c_str(), &copy)) return code;
    path = copy;
  }
  uint32_t code = LaunchProgram(path.c_str(), *rest ? rest : nullptr, async);
  qmScene *scene = GetScene(L);
  if (reset && scene->current) ResetDisplayInput(scene, scene->current);
  return code;
}

uint32_t DosExecute(VmState *L) { return ExecuteProgram(L, 0); }
uint32_t DosRun(VmState *L) { return ExecuteProgram(L, 1); }

uint32_t DosGetEnv(VmState *L) {
  CheckArgCount(L, 1, 1);
  char *value = GetEnvVar(vm_checkstring(L, 1, nullptr));
  vm_pushstring(L, value ? value : "");
  vm_pushnumber(L, value ? 1 : 0);
  MemFree(value);
  return 2;
}

uint32_t DosSetEnv(VmState *L) {
  CheckArgCount(L, 2, 2);
  return SetEnvVar(vm_checkstring(L, 1, nullptr), vm_checkstring(L, 2, nullptr));
}

uint32_t DosUnsetEnv(VmState *L) {
  CheckArgCount(L, 1, 1);
  return UnsetEnvVar(vm_checkstring(L, 1, nullptr));
}

// ---- virtual and packed files ----

uint32_t DosDefineVirtualFile(VmState *L) {
  CheckArgCount(L, 4, 4);
  const char *container = vm_checkstring(L, 1, nullptr);
  int64_t offset, length;
  if (!NumberToInt64(vm_checknumber(L, 2), &offset) || !NumberToInt64(vm_checknumber(L, 3), &length))
    return ERR_WRONGUSAGE;
  const char *display = vm_checkstring(L, 4, nullptr);
  if (length <= 0 || offset < 0 || !container[0]) return ERR_WRONGUSAGE;
  char name[kChunkNameSize];
  if (!MakeChunkName(display, name, sizeof name, uint64_t(offset), uint64_t(length), 0, container))
    return ERR_WRONGUSAGE;
  vm_pushstring(L, name);
  return 1;
}

uint32_t DosDefineVirtualFileFromString(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  vm_checkstring(L, 1, &len);
  const char *display = vm_checkstring(L, 2, nullptr);
  if (len == 0) return ERR_WRONGUSAGE;
  qmDosState *dos;
  if (uint32_t code = Dos(L, &dos)) return code;
  // The window reads the string's own bytes; the registry reference keeps them alive.
  vm_pushvalue(L, 1);
  const char *bytes = vm_tostring(L, -1);
  int ref = vm_ref(L, VM_REGISTRYINDEX);
  int32_t window = RegisterMemoryWindow(bytes, len);
  char name[kChunkNameSize];
  if (window == 0 || !MakeMemoryChunkName(display, name, sizeof name, window, len, bytes)) {
    if (window) UnregisterMemoryWindow(window);
    vm_unref(L, VM_REGISTRYINDEX, ref);
    return ERR_WRONGUSAGE;
  }
  dos->stringFiles[window] = ref;
  vm_pushstring(L, name);
  return 1;
}

uint32_t DosUndefineVirtualStringFile(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  qmChunkName parsed;
  if (!ParseChunkName(name, &parsed) || !parsed.memory) return ERR_WRONGUSAGE;
  qmDosState *dos;
  if (uint32_t code = Dos(L, &dos)) return code;
  // Only windows this library defined are released; a name made up by the script finds none.
  auto it = parsed.reference > 0 && parsed.reference <= INT32_MAX ? dos->stringFiles.find(int32_t(parsed.reference))
                                                                   : dos->stringFiles.end();
  if (it == dos->stringFiles.end()) return ERR_WRONGUSAGE;
  if (uint32_t code = UnregisterMemoryWindow(it->first)) return code;
  vm_unref(L, VM_REGISTRYINDEX, it->second);
  dos->stringFiles.erase(it);
  return 0;
}

uint32_t DosCompressFile(VmState *L) {
  CheckArgCount(L, 2, 2);
  const char *source = vm_checkstring(L, 1, nullptr);
  const char *target = vm_checkstring(L, 2, nullptr);
  uint64_t size = 0;
  if (uint32_t code = PackQMPK(kMagicQMPK, source, target, &size, CommandCancel(L))) return code;
  vm_pushnumber(L, double(size));
  return 1;
}

uint32_t DosDecompressFile(VmState *L) {
  CheckArgCount(L, 2, 2);
  const char *source = vm_checkstring(L, 1, nullptr);
  const char *target = vm_checkstring(L, 2, nullptr);
  uint64_t size = 0;
  if (uint32_t code = UnpackQMPK(kMagicQMPK, source, target, 0, &size, UINT64_MAX, CommandCancel(L))) return code;
  vm_pushnumber(L, double(size));
  return 1;
}

// ---- checksums and patches ----

uint32_t DosMD5(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  if (!name[0]) return ERR_WRONGUSAGE;
  char hex[33];
  if (uint32_t code = MD5OfFile(name, CommandCancel(L), hex)) return code;
  vm_pushstring(L, hex);
  return 1;
}

uint32_t DosCRC32(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *name = vm_checkstring(L, 1, nullptr);
  if (!name[0]) return ERR_WRONGUSAGE;
  uint32_t crc;
  if (uint32_t code = CRC32OfFile(name, CommandCancel(L), &crc)) return code;
  vm_pushnumber(L, crc);
  return 1;
}

struct PatchContext {
  VmState *L;
  int callback;  // stack position, 0 for none
};

uint32_t ReportPatch(void *ud, int32_t percent) {
  auto *p = static_cast<PatchContext *>(ud);
  VmState *L = p->L;
  vm_newtable(L);
  SetFieldNumber(L, "progress", percent);
  uint32_t code = CallWithTable(L, p->callback);
  vm_pop(L, code ? 0 : 1);
  return code;
}

uint32_t ServicePatch(void *ud) { return PollCancel(CommandCancel(static_cast<PatchContext *>(ud)->L)); }

uint32_t DosApplyPatch(VmState *L) {
  CheckArgCount(L, 3, 4);
  qmFileObject *in1;
  if (uint32_t code = ReadableFileArg(L, 1, &in1)) return code;
  qmFileObject *in2;
  if (uint32_t code = ReadableFileArg(L, 2, &in2)) return code;
  qmFileObject *out;
  if (uint32_t code = WritableFileArg(L, 3, &out)) return code;
  PatchContext ctx{L, 0};
  if (!vm_isnoneornil(L, 4)) {
    vm_checkfunction(L, 4);
    ctx.callback = 4;
  }
  qmPatchProgress progress{ctx.callback ? ReportPatch : nullptr, ServicePatch, &ctx};
  return ApplyPatchFiles(in1, in2, out, &progress);
}

// ---- serialised tables and functions ----

uint32_t DosWriteTable(VmState *L) {
  CheckArgCount(L, 2, 3);
  vm_checktable(L, 2);
  bool base64 = vm_optflag(L, 3, false);
  qmFileObject *f;
  if (uint32_t code = WritableFileArg(L, 1, &f)) return code;
  return WriteTableRecord(L, 2, f, base64);
}

uint32_t DosReadTable(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = ReadableFileArg(L, 1, &f)) return code;
  if (uint32_t code = ReadTableRecord(L, f)) return code;
  return 1;
}

uint32_t DosWriteFunction(VmState *L) {
  CheckArgCount(L, 2, 3);
  vm_checkfunction(L, 2);
  bool base64 = vm_optflag(L, 3, false);
  qmFileObject *f;
  if (uint32_t code = WritableFileArg(L, 1, &f)) return code;
  return WriteFunctionRecord(L, 2, f, base64);
}

uint32_t DosReadFunction(VmState *L) {
  CheckArgCount(L, 1, 1);
  qmFileObject *f;
  if (uint32_t code = ReadableFileArg(L, 1, &f)) return code;
  if (uint32_t code = ReadFunctionRecord(L, f)) return code;
  return 1;
}

// ---- copying and deleting ----

struct WalkContext {
  VmState *L;
  int callback;  // stack position
  int userData;  // stack position, 0 for none
};

uint32_t AskScript(void *ud, const qmWalkMessage *m, double *answer, int *isNumber) {
  auto *w = static_cast<WalkContext *>(ud);
  VmState *L = w->L;
  vm_newtable(L);
  SetFieldNumber(L, "action", m->action);
  if (m->source) SetFieldString(L, "source", m->source);
  if (m->destination) SetFieldString(L, "destination", m->destination);
  if (m->file) SetFieldString(L, "file", m->file);
  if (m->action == COPYFILE_STATUS && m->source) {
    SetFieldNumber(L, "copied", m->copied);
    SetFieldNumber(L, "filesize", m->fileSize);
  }
  if (w->userData) {
    vm_pushstring(L, "userdata");
    vm_pushvalue(L, w->userData);
    vm_settable(L, -3);
  }
  if (uint32_t code = CallWithTable(L, w->callback)) return code;
  *isNumber = vm_type(L, -1) == VM_TNUMBER;
  *answer = *isNumber ? vm_tonumber(L, -1) : 0;
  vm_pop(L, 1);
  return 0;
}

// The callback at position i (Nil or absent: none) and the user data after it.
bool WalkCallbackArgs(VmState *L, int i, WalkContext *w, qmWalkCallback *cb) {
  *w = {L, 0, 0};
  if (vm_gettop(L) >= i + 1) w->userData = i + 1;
  if (vm_isnoneornil(L, i)) return false;
  vm_checkfunction(L, i);
  w->callback = i;
  *cb = {AskScript, w};
  return true;
}

const char *OptionalPatterns(VmState *L, int i) {
  if (vm_isnoneornil(L, i)) return nullptr;
  return vm_checkstring(L, i, nullptr);
}

// A stop the callback asked for is success; a quit request is not.
uint32_t Absorbed(VmState *L, uint32_t code) { return code == ERR_USERABORT && !QuitRequested(L) ? 0 : code; }

uint32_t DosCopyFile(VmState *L) {
  CheckArgCount(L, 2, 7);
  const char *source = vm_checkstring(L, 1, nullptr);
  const char *destination = vm_checkstring(L, 2, nullptr);
  const char *newName = vm_isnoneornil(L, 3) ? nullptr : vm_checkstring(L, 3, nullptr);
  WalkContext w;
  qmWalkCallback cb;
  bool hasCallback = WalkCallbackArgs(L, 4, &w, &cb);
  const char *patterns = OptionalPatterns(L, 6);
  bool filter = vm_optflag(L, 7, true);
  if (!source[0] && !destination[0]) return ERR_WRONGUSAGE;
  qmCopyRequest r{source, destination, newName, patterns, filter, hasCallback ? &cb : nullptr, CommandCancel(L)};
  return Absorbed(L, CopyFiles(&r));
}

uint32_t DosDeleteFile(VmState *L) {
  CheckArgCount(L, 1, 5);
  const char *name = vm_checkstring(L, 1, nullptr);
  WalkContext w;
  qmWalkCallback cb;
  bool hasCallback = WalkCallbackArgs(L, 2, &w, &cb);
  const char *patterns = OptionalPatterns(L, 4);
  bool filter = vm_optflag(L, 5, true);
  if (!name[0] || IsVirtual(name)) return ERR_WRONGUSAGE;
  qmDeleteRequest r{name, patterns, filter, hasCallback ? &cb : nullptr, CommandCancel(L)};
  return Absorbed(L, DeleteFiles(&r));
}

const qmCommandEntry kDosCommands[] = {
    {"OpenFile", DosOpenFile},
    {"CloseFile", DosCloseFile},
    {"Eof", DosEof},
    {"ReadChr", ReadInteger<1, false>},
    {"ReadShort", ReadInteger<2, false>},
    {"ReadInt", ReadInteger<4, true>},
    {"ReadFloat", DosReadFloat},
    {"ReadString", DosReadString},
    {"ReadLine", DosReadLine},
    {"WriteChr", WriteInteger<1>},
    {"WriteShort", WriteInteger<2>},
    {"WriteInt", WriteInteger<4>},
    {"WriteFloat", DosWriteFloat},
    {"WriteString", DosWriteString},
    {"WriteLine", DosWriteLine},
    {"Seek", DosSeek},
    {"FilePos", DosFilePos},
    {"FileLength", DosFileLength},
    {"FlushFile", DosFlushFile},
    {"SetIOMode", DosSetIOMode},
    {"FileToString", DosFileToString},
    {"StringToFile", DosStringToFile},
    {"FileLines", DosFileLines},
    {"Exists", DosExists},
    {"FileSize", DosFileSize},
    {"IsDirectory", DosIsDirectory},
    {"GetFileAttributes", DosGetFileAttributes},
    {"SetFileAttributes", DosSetFileAttributes},
    {"ReadDirectory", DosReadDirectory},
    {"OpenDirectory", DosOpenDirectory},
    {"NextDirectoryEntry", DosNextDirectoryEntry},
    {"CloseDirectory", DosCloseDirectory},
    {"MakeDirectory", DosMakeDirectory},
    {"ChangeDirectory", DosChangeDirectory},
    {"GetCurrentDirectory", DosGetCurrentDirectory},
    {"FullPath", DosFullPath},
    {"PathPart", DosPathPart},
    {"FilePart", DosFilePart},
    {"Rename", DosRename},
    {"MatchPattern", DosMatchPattern},
    {"GetVolumeInfo", DosGetVolumeInfo},
    {"GetVolumeName", DosGetVolumeName},
    {"GetTempFileName", DosGetTempFileName},
    {"Execute", DosExecute},
    {"Run", DosRun},
    {"GetEnv", DosGetEnv},
    {"SetEnv", DosSetEnv},
    {"UnsetEnv", DosUnsetEnv},
    {"DefineVirtualFile", DosDefineVirtualFile},
    {"DefineVirtualFileFromString", DosDefineVirtualFileFromString},
    {"UndefineVirtualStringFile", DosUndefineVirtualStringFile},
    {"CompressFile", DosCompressFile},
    {"DecompressFile", DosDecompressFile},
    {"MD5", DosMD5},
    {"CRC32", DosCRC32},
    {"ApplyPatch", DosApplyPatch},
    {"WriteTable", DosWriteTable},
    {"ReadTable", DosReadTable},
    {"WriteFunction", DosWriteFunction},
    {"ReadFunction", DosReadFunction},
    {"CopyFile", DosCopyFile},
    {"DeleteFile", DosDeleteFile},
    {nullptr, nullptr},
};

const qmConstantEntry kDosConstants[] = {
    {"FREESPACE", nullptr, 1},
    {"USEDSPACE", nullptr, 0},
    {"EOF", nullptr, kDosEOF},
    {"MODE_READWRITE", nullptr, DOS_MODE_READWRITE},
    {"MODE_WRITE", nullptr, DOS_MODE_WRITE},
    {"MODE_READ", nullptr, DOS_MODE_READ},
    {"COPYFILE_STATUS", nullptr, COPYFILE_STATUS},
    {"COPYFILE_OVERWRITE", nullptr, COPYFILE_OVERWRITE},
    {"COPYFILE_UNPROTECT", nullptr, COPYFILE_UNPROTECT},
    {"DELETEFILE_STATUS", nullptr, DELETEFILE_STATUS},
    {"DELETEFILE_UNPROTECT", nullptr, DELETEFILE_UNPROTECT},
    {"IO_BUFFERED", nullptr, IO_BUFFERED},
    {"IO_UNBUFFERED", nullptr, IO_UNBUFFERED},
    {"DOSTYPE_FILE", nullptr, 0},
    {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"FILEATTR_NORMAL", nullptr, FILEATTR_NORMAL},
    {"FILEATTR_READ_USR", nullptr, FILEATTR_READ_USR},
    {"FILEATTR_WRITE_USR", nullptr, FILEATTR_WRITE_USR},
    {"FILEATTR_DELETE_USR", nullptr, 4},
    {"FILEATTR_EXECUTE_USR", nullptr, FILEATTR_EXECUTE_USR},
    {"FILEATTR_READ_GRP", nullptr, FILEATTR_READ_GRP},
    {"FILEATTR_WRITE_GRP", nullptr, FILEATTR_WRITE_GRP},
    {"FILEATTR_EXECUTE_GRP", nullptr, FILEATTR_EXECUTE_GRP},
    {"FILEATTR_READ_OTH", nullptr, FILEATTR_READ_OTH},
    {"FILEATTR_WRITE_OTH", nullptr, FILEATTR_WRITE_OTH},
    {"FILEATTR_EXECUTE_OTH", nullptr, FILEATTR_EXECUTE_OTH},
    {"FILEATTR_PURE", nullptr, 16},
    {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64},
    {"FILEATTR_HIDDEN", nullptr, 128},
    {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768},
    {nullptr, nullptr, 0},
};

uint32_t InitDosLibrary(VmState *L) {
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (!ctx) return ERR_MEM;
  ctx->dos = new (std::nothrow) qmDosState;
  return ctx->dos ? 0 : uint32_t(ERR_MEM);
}

void FreeDosLibrary(VmState *L) {
  if (!L) return;
  FreeDosObjects(L);
  if (qmPlayerContext *ctx = GetPlayerContext(L)) {
    delete ctx->dos;
    ctx->dos = nullptr;
  }
}

}  // namespace

const qmLibrary kDosLibrary = {"dos", kDosCommands, kDosConstants, InitDosLibrary, FreeDosLibrary, FREERANK_DOS};
