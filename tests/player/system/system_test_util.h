// A VM with the runtime support and the system library, for the system library's tests:
// commands are called through the VM (so the error-handler path runs as for a script), and
// assembled programs run with record() and a plain tostring().
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/player/player_vm.h"
#include "runtime/rtsupport.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

inline std::string SysValueText(VmState *L, int idx) {
  char buf[64];
  switch (vm_type(L, idx)) {
    case VM_TNIL: return "nil";
    case VM_TNUMBER: std::snprintf(buf, sizeof buf, "%.14g", vm_tonumber(L, idx)); return buf;
    case VM_TSTRING: return "'" + std::string(vm_tostring(L, idx), vm_strlen(L, idx)) + "'";
    case VM_TTABLE: return "table";
    case VM_TFUNCTION: return "function";
    case VM_TLIGHTUSERDATA: return "id";
    case VM_TNONE: return "none";
    default: return "other";
  }
}

struct SysVm : PlayerVm {
  std::vector<std::string> rec;

  SysVm() {
    vm_pushlightuserdata(L, this);
    vm_pushcclosure(L, Record, 1);
    SetGlobal("record");
    vm_pushcfunction(L, ToString);
    SetGlobal("tostring");
  }

  static uint32_t Record(VmState *L) {
    auto *self = static_cast<SysVm *>(vm_touserdata(L, vm_upvalueindex(1)));
    std::string line;
    for (int i = 1; i <= vm_gettop(L); i++) line += (i > 1 ? " " : "") + SysValueText(L, i);
    self->rec.push_back(line);
    return 0;
  }
  // Numbers as "%.14g", strings as they are, nil as "Nil", other values by kind.
  static uint32_t ToString(VmState *L) {
    switch (vm_type(L, 1)) {
      case VM_TNIL: vm_pushstring(L, "Nil"); break;
      case VM_TNUMBER:
      case VM_TSTRING: vm_pushstring(L, vm_tostring(L, 1)); break;
      default: vm_pushstring(L, "Table"); break;
    }
    return 1;
  }

  // Calls the global command with the values pushed by args; the results stay on the stack
  // (from position 1); returns the command's error code.
  template <typename PushArgs>
  uint32_t Call(const char *name, PushArgs args) {
    vm_settop(L, 0);
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    int before = vm_gettop(L);
    args();
    return vm_pcall(L, vm_gettop(L) - before, VM_MULTRET, 0);
  }
  uint32_t Call(const char *name) {
    return Call(name, [] {});
  }

  // The results on the stack, as text joined by blanks.
  std::string Results() {
    std::string s;
    for (int i = 1; i <= vm_gettop(L); i++) s += (i > 1 ? " " : "") + SysValueText(L, i);
    return s;
  }

  // A new table with t[0..] set to the numbers (or, with strings, the texts).
  void PushList(std::initializer_list<double> values) {
    vm_newtable(L);
    int i = 0;
    for (double v : values) {
      vm_pushnumber(L, v);
      vm_rawseti(L, -2, i++);
    }
  }
  void PushStrings(std::initializer_list<const char *> values) {
    vm_newtable(L);
    int i = 0;
    for (const char *v : values) {
      if (v) vm_pushstring(L, v);
      else vm_pushnil(L);
      vm_rawseti(L, -2, i++);
    }
  }
  // t[0..] of the table at idx up to the first nil, as text.
  std::string ListText(int idx, int limit = 64) {
    std::string s;
    for (int i = 0; i < limit; i++) {
      vm_rawgeti(L, idx, i);
      bool end = vm_type(L, -1) == VM_TNIL;
      if (!end) {
        if (i > 0) s += ' ';
        s += SysValueText(L, -1);
      }
      vm_pop(L, 1);
      if (end) break;
    }
    return s;
  }

  // Assembles, loads and runs the program protected; returns its error code.
  uint32_t Run(const std::string &text) {
    qmtools::AsmResult r = qmtools::AssembleText(text);
    EXPECT_TRUE(r.proto) << r.error;
    if (!r.proto) return 0xFFFFFFFF;
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    vm_settop(L, 0);
    uint32_t code = vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "@test.qms");
    if (code) return code;
    return vm_pcall(L, 0, 0, 0);
  }
};
