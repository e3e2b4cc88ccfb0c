// A VM of the player with the dos and memblock libraries, commands called by name with plain
// values, files in a private folder, and peers run through the shell.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"
#include "tests/platform/tempdir.h"
#include "tests/player/player_vm.h"

// A value going in or coming out: nil, number, string, or an object handle (light user data).
struct DosVal {
  enum Kind { NIL, NUM, STR, HANDLE, TABLE, FUNCTION, OTHER } kind = NIL;
  double num = 0;
  std::string str;
  void *handle = nullptr;
  DosVal() = default;
  DosVal(double v) : kind(NUM), num(v) {}             // NOLINT: rows read as plain values
  DosVal(int v) : kind(NUM), num(v) {}                // NOLINT
  DosVal(const char *s) : kind(STR), str(s) {}        // NOLINT
  DosVal(const std::string &s) : kind(STR), str(s) {} // NOLINT
  static DosVal Handle(void *p) {
    DosVal v;
    v.kind = HANDLE;
    v.handle = p;
    return v;
  }
};

struct DosCall {
  uint32_t code = 0;
  std::vector<DosVal> results;
};

inline std::string ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFileBytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Standard output of a shell command, and its exit status.
inline std::string Shell(const std::string &command, int *status = nullptr) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = WEXITSTATUS(rc);
  return out;
}

struct DosVm : PlayerVm {
  TempDir dir;

  static void Push(VmState *L, const DosVal &v) {
    switch (v.kind) {
      case DosVal::NUM: vm_pushnumber(L, v.num); break;
      case DosVal::STR: vm_pushlstring(L, v.str.data(), v.str.size()); break;
      case DosVal::HANDLE: vm_pushlightuserdata(L, v.handle); break;
      default: vm_pushnil(L); break;
    }
  }

  static DosVal Read(VmState *L, int i) {
    DosVal v;
    switch (vm_type(L, i)) {
      case VM_TNIL: return v;
      case VM_TNUMBER: return DosVal(vm_tonumber(L, i));
      case VM_TSTRING: return DosVal(std::string(vm_tostring(L, i), vm_strlen(L, i)));
      case VM_TLIGHTUSERDATA: return DosVal::Handle(vm_touserdata(L, i));
      case VM_TTABLE: v.kind = DosVal::TABLE; return v;
      case VM_TFUNCTION: v.kind = DosVal::FUNCTION; return v;
      default: v.kind = DosVal::OTHER; return v;
    }
  }

  void PushCommand(const char *name) {
    std::string lower(name);
    for (char &c : lower) c = static_cast<char>(kLowerCaseTable[static_cast<uint8_t>(c)]);
    vm_pushstring(L, lower.c_str());
    vm_gettable(L, VM_GLOBALSINDEX);
  }

  // Calls the command with the arguments; with keep set, the results stay on the stack.
  DosCall Call(const char *name, const std::vector<DosVal> &args, bool keep = false) {
    vm_settop(L, 0);
    PushCommand(name);
    EXPECT_EQ(vm_type(L, -1), VM_TFUNCTION) << name << " is not registered";
    for (const DosVal &a : args) Push(L, a);
    DosCall r;
    r.code = vm_pcall(L, int(args.size()), VM_MULTRET, 0);
    if (r.code == 0)
      for (int i = 1; i <= vm_gettop(L); i++) r.results.push_back(Read(L, i));
    if (!keep) vm_settop(L, 0);
    return r;
  }

  // A command that must succeed: its first result (nil when none).
  DosVal One(const char *name, const std::vector<DosVal> &args) {
    DosCall r = Call(name, args);
    EXPECT_EQ(r.code, 0u) << name;
    return r.results.empty() ? DosVal() : r.results[0];
  }
  uint32_t Code(const char *name, const std::vector<DosVal> &args) { return Call(name, args).code; }

  std::string Path(const std::string &name) const { return dir / name; }
};
