// A VM with the runtime and the string library, and calls of its commands by name.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/player/player_vm.h"
#include "runtime/registry.h"
#include "runtime/rtsupport.h"
#include "runtime/strutil.h"
#include "runtime/vm/vm_api.h"

// A script value going in or coming out.
struct StrVal {
  enum Kind { NIL, NUM, STR, BOOL, OTHER } kind = NIL;
  double num = 0;
  std::string str;
  StrVal() = default;
  StrVal(double v) : kind(NUM), num(v) {}                   // NOLINT: rows read as plain values
  StrVal(int v) : kind(NUM), num(v) {}                      // NOLINT
  StrVal(const char *s) : kind(STR), str(s) {}              // NOLINT
  StrVal(const std::string &s) : kind(STR), str(s) {}       // NOLINT
  static StrVal Bool(bool b) {
    StrVal v;
    v.kind = BOOL;
    v.num = b;
    return v;
  }
  bool operator==(const StrVal &o) const {
    return kind == o.kind && (kind == STR ? str == o.str : (kind == NIL || kind == OTHER || num == o.num));
  }
};

inline std::ostream &operator<<(std::ostream &os, const StrVal &v) {
  switch (v.kind) {
    case StrVal::NUM: return os << v.num;
    case StrVal::STR: return os << '\'' << v.str << '\'';
    case StrVal::BOOL: return os << (v.num ? "True" : "False");
    case StrVal::NIL: return os << "Nil";
    default: return os << "<other>";
  }
}

struct StrCall {
  uint32_t code = 0;  // the raised code, 0 for none
  std::vector<StrVal> results;
};

struct StringVm : PlayerVm {

  static void Push(VmState *L, const StrVal &v) {
    switch (v.kind) {
      case StrVal::NUM: vm_pushnumber(L, v.num); break;
      case StrVal::STR: vm_pushlstring(L, v.str.data(), v.str.size()); break;
      case StrVal::BOOL: vm_pushboolean(L, v.num != 0); break;
      default: vm_pushnil(L); break;
    }
  }

  static StrVal Read(VmState *L, int i) {
    switch (vm_type(L, i)) {
      case VM_TNIL: return StrVal();
      case VM_TNUMBER: return StrVal(vm_tonumber(L, i));
      case VM_TSTRING: return StrVal(std::string(vm_tostring(L, i), vm_strlen(L, i)));
      case VM_TBOOLEAN: return StrVal::Bool(vm_toboolean(L, i));
      default: {
        StrVal v;
        v.kind = StrVal::OTHER;
        return v;
      }
    }
  }

  // Pushes the command (its lower-cased global) and the arguments.
  void PushCommand(const char *name) {
    std::string lower(name);
    for (char &c : lower) c = static_cast<char>(kLowerCaseTable[static_cast<uint8_t>(c)]);
    vm_pushstring(L, lower.c_str());
    vm_gettable(L, VM_GLOBALSINDEX);
    ASSERT_EQ(vm_type(L, -1), VM_TFUNCTION) << name << " is not registered";
  }

  // Calls the function below the n arguments on the top; collects its results.
  StrCall Finish(int nargs) {
    StrCall r;
    int base = vm_gettop(L) - nargs - 1;
    r.code = vm_pcall(L, nargs, VM_MULTRET, 0);
    if (r.code == 0)
      for (int i = base + 1; i <= vm_gettop(L); i++) r.results.push_back(Read(L, i));
    vm_settop(L, base);
    return r;
  }

  StrCall Call(const char *name, const std::vector<StrVal> &args) {
    vm_settop(L, 0);
    PushCommand(name);
    for (const StrVal &a : args) Push(L, a);
    return Finish(int(args.size()));
  }

  // The single result of a command that must succeed ('' and a failure note otherwise).
  StrVal One(const char *name, const std::vector<StrVal> &args) {
    StrCall r = Call(name, args);
    EXPECT_EQ(r.code, 0u) << name;
    if (r.code || r.results.empty()) return StrVal();
    return r.results[0];
  }
};
