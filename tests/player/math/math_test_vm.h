// A fresh VM with the math library, and a way to call one command with numbers.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/player/player_vm.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"

struct CommandCall {
  uint32_t code = 0;            // the error code, 0 for none
  std::vector<double> results;  // the numbers the command returned
};

// An argument: a number, or nil / a string / a table.
struct CmdArg {
  enum Kind { NUM, NIL, STR, TABLE } kind = NUM;
  double num = 0;
  const char *str = nullptr;
  CmdArg(double v) : num(v) {}  // NOLINT: rows read as plain numbers
  CmdArg(int v) : num(v) {}     // NOLINT
  static CmdArg Nil() { return CmdArg(NIL); }
  static CmdArg Str(const char *s) {
    CmdArg a(STR);
    a.str = s;
    return a;
  }
  static CmdArg Table() { return CmdArg(TABLE); }

 private:
  explicit CmdArg(Kind k) : kind(k) {}
};

struct MathVm : PlayerVm {

  // Calls the global command (any spelling; globals hold the lower-cased name) protected.
  CommandCall Call(const std::string &name, const std::vector<CmdArg> &args) {
    CommandCall r;
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    vm_settop(L, 0);
    vm_pushstring(L, lower.c_str());
    vm_gettable(L, VM_GLOBALSINDEX);
    if (vm_type(L, -1) != VM_TFUNCTION) {
      ADD_FAILURE() << name << " is not registered";
      r.code = 0xFFFFFFFF;
      return r;
    }
    for (const CmdArg &a : args) {
      switch (a.kind) {
        case CmdArg::NUM: vm_pushnumber(L, a.num); break;
        case CmdArg::NIL: vm_pushnil(L); break;
        case CmdArg::STR: vm_pushstring(L, a.str); break;
        case CmdArg::TABLE: vm_newtable(L); break;
      }
    }
    r.code = vm_pcall(L, static_cast<int>(args.size()), VM_MULTRET, 0);
    if (r.code) {
      vm_setendrequested(L, 0);  // a command error asks the script to end
    } else {
      for (int i = 1; i <= vm_gettop(L); i++) r.results.push_back(vm_tonumber(L, i));
    }
    vm_settop(L, 0);
    return r;
  }
};
