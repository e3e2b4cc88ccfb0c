// Runs assembled programs in a fresh VM with a few test natives.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_state.h"
#include "tests/runtime/vm/vm_test_util.h"

// Text of a value as the tests compare it.
inline std::string ValueText(VmState *L, int idx) {
  char buf[64];
  switch (vm_type(L, idx)) {
    case VM_TNIL: return "nil";
    case VM_TBOOLEAN: return vm_toboolean(L, idx) ? "true" : "false";
    case VM_TNUMBER: std::snprintf(buf, sizeof buf, "%.14g", vm_tonumber(L, idx)); return buf;
    case VM_TSTRING: {
      size_t n = vm_strlen(L, idx);
      std::string t;
      const char *p = vm_tostring(L, idx);
      for (size_t i = 0; i < n; i++) t += p[i] ? std::string(1, p[i]) : std::string("\\0");
      return "'" + t + "'";
    }
    case VM_TTABLE: return "table";
    case VM_TFUNCTION: return "function";
    case VM_TNONE: return "none";
    default: return "other";
  }
}

struct ExecVm : VmFixture {
  std::vector<std::string> rec;  // what record(...) saw, one entry per call, values joined by " "

  ExecVm() {
    vm_pushlightuserdata(L, this);
    vm_pushcclosure(L, Record, 1);
    SetGlobal("record");
    vm_pushcfunction(L, Fail);
    SetGlobal("fail");
    vm_pushcfunction(L, Stop);
    SetGlobal("stop");
    vm_pushcfunction(L, Gosub);
    SetGlobal("gosubreq");
    vm_pushcfunction(L, SetMeta);
    SetGlobal("setmeta");
    vm_pushcfunction(L, Collect);
    SetGlobal("collect");
    vm_pushcfunction(L, PCall);
    SetGlobal("pcall");
    vm_pushcfunction(L, CallF);
    SetGlobal("callf");
    vm_pushcfunction(L, NewUd);
    SetGlobal("newud");
    vm_pushcfunction(L, Extra);
    SetGlobal("extra");
  }

  // record(...): remembers its arguments; returns them all.
  static uint32_t Record(VmState *L) {
    auto *self = static_cast<ExecVm *>(vm_touserdata(L, vm_upvalueindex(1)));
    std::string line;
    int n = vm_gettop(L);
    for (int i = 1; i <= n; i++) {
      if (i > 1) line += ' ';
      line += ValueText(L, i);
    }
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

  // setmeta(t, mt): sets the metatable, returns t.
  static uint32_t SetMeta(VmState *L) {
    vm_settop(L, 2);
    vm_setmetatable(L, 1);
    return 1;
  }
  // collect(): a full collection now.
  static uint32_t Collect(VmState *L) {
    vm_setgcthreshold(L, 0);
    return 0;
  }
  // pcall(f, ...): calls f protected; returns the status code, then f's results.
  static uint32_t PCall(VmState *L) {
    int n = vm_gettop(L);
    uint32_t status = vm_pcall(L, n - 1, VM_MULTRET, 0);
    vm_pushnumber(L, status);
    vm_insert(L, 1);
    return static_cast<uint32_t>(vm_gettop(L));
  }
  // callf(f, ...): calls f unprotected from native code; returns its results.
  static uint32_t CallF(VmState *L) {
    int n = vm_gettop(L);
    uint32_t code = vm_call(L, n - 1, VM_MULTRET);
    if (code) return code;
    return static_cast<uint32_t>(vm_gettop(L));
  }
  // newud(mt): a full user data with that metatable.
  static uint32_t NewUd(VmState *L) {
    vm_newuserdata(L, 8);
    vm_pushvalue(L, 1);
    vm_setmetatable(L, -2);
    return 1;
  }
  // extra(): pushes 5 values but claims 3 results.
  static uint32_t Extra(VmState *L) {
    for (int i = 1; i <= 5; i++) vm_pushnumber(L, i);
    return 3;
  }

  std::string Global(const char *name) {
    vm_pushstring(L, name);
    vm_gettable(L, VM_GLOBALSINDEX);
    std::string s = ValueText(L, -1);
    vm_pop(L, 1);
    return s;
  }
};
