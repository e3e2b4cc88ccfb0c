// Runs assembled programs in a fresh VM with a few test natives.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

// Text of a value as the tests compare it.
inline std::string ValueText(VmState *L, int idx) {
  char buf[64];
  switch (vm_type(L, idx)) {
    case VM_TNIL: return "nil";
    case VM_TBOOLEAN: return vm_toboolean(L, idx) ? "true" : "false";
    case VM_TNUMBER: std::snprintf(buf, sizeof buf, "%.14g", vm_tonumber(L, idx)); return buf;
    case VM_TSTRING: {
      size_t n = vm_strlen(L, idx);
      return "'" + std::string(vm_tostring(L, idx), n) + "'";
    }
    case VM_TTABLE: return "table";
    case VM_TFUNCTION: return "function";
    case VM_TNONE: return "none";
    default: return "other";
  }
}

struct ExecVm {
  VmState *L = vm_open();
  std::vector<std::string> rec;  // what record(...) saw, one entry per call, values joined by " "

  ExecVm() {
    vm_pushlightuserdata(L, this);
    vm_pushcclosure(L, Record, 1);
    vm_setglobal("record");
    vm_pushcfunction(L, Fail);
    vm_setglobal("fail");
    vm_pushcfunction(L, Stop);
    vm_setglobal("stop");
    vm_pushcfunction(L, Gosub);
    vm_setglobal("gosubreq");
  }
  ~ExecVm() { vm_close(L); }

  void vm_setglobal(const char *name) {
    vm_pushstring(L, name);
    vm_insert(L, -2);
    vm_settable(L, VM_GLOBALSINDEX);
  }

  // record(...): remembers its arguments; returns them all.
  static uint32_t Record(VmState *L) {
    auto *self = static_cast<ExecVm *>(vm_touserdata(L, vm_upvalueindex(1)));
    std::string line;
    int n = vm_gettop(L);
    for (int i = 1; i <= n; i++) line += (i > 1 ? " " : "") + ValueText(L, i);
    self->rec.push_back(line);
    return static_cast<uint32_t>(n);
  }
  // fail(code): returns the code as a command error.
  static uint32_t Fail(VmState *L) { return static_cast<uint32_t>(vm_tonumber(L, 1)); }
  // stop(): asks the interpreter to end.
  static uint32_t Stop(VmState *L) {
    vm_setendrequested(L, 1);
    return 0;
  }
  // gosubreq(offset): a command's Gosub request to the call site plus offset.
  static uint32_t Gosub(VmState *L) {
    G(L)->pendinggosuboffset = static_cast<int32_t>(vm_tonumber(L, 1));
    return VM_GOSUB_REQUEST;
  }

  // Assembles, loads and runs the text protected; returns the error code (0 for none).
  uint32_t Run(const std::string &text) {
    qmtools::AsmResult r = qmtools::AssembleText(text);
    EXPECT_TRUE(r.proto) << r.error;
    if (!r.proto) return 0xFFFFFFFF;
    std::vector<uint8_t> chunk = qmtools::BuildChunk(*r.proto);
    uint32_t code = vm_loadbuffer(L, reinterpret_cast<const char *>(chunk.data()), chunk.size(), "=test");
    if (code) return code;
    return vm_pcall(L, 0, VM_MULTRET, 0);
  }

  std::string Global(const char *name) {
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    std::string s = ValueText(L, -1);
    vm_pop(L, 1);
    return s;
  }
};
