#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "player/string/pattern.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_state.h"
#include "tests/player/string/string_test_vm.h"

namespace {

std::string Unescape(const std::string &t) {
  std::string out;
  for (size_t i = 0; i < t.size(); i++) {
    if (t[i] != '\\' || i + 1 == t.size()) {
      out += t[i];
      continue;
    }
    char n = t[++i];
    if (n == 'x') {
      out += char(std::stoi(t.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += n == 't' ? '\t' : n == 'n' ? '\n' : n;
    }
  }
  return out;
}

// As encode() in pattern_golden.lua.
std::string Encode(const std::string &s) {
  std::string out;
  for (unsigned char b : s) {
    if (b < 33 || b > 126 || b == '|' || b == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    } else {
      out += char(b);
    }
  }
  return out;
}

std::string EncodeValue(const StrVal &v) {
  if (v.kind == StrVal::NUM) {
    char text[32];
    std::snprintf(text, sizeof text, "p:%.14g", v.num);
    return text;
  }
  return "s:" + Encode(v.str);
}

std::vector<std::string> SplitTabs(const std::string &line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (;;) {
    size_t at = line.find('\t', from);
    fields.push_back(line.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return fields;
    from = at + 1;
  }
}

// Every match of PatternFindStr's iterator, encoded as the generator does.
std::string FindAll(StringVm &vm, const std::string &s, const std::string &p) {
  StrCall it = vm.Call("PatternFindStr", {s, p});
  if (it.code) return "E:" + std::to_string(it.code);
  vm_settop(vm.L, 0);
  vm.PushCommand("PatternFindStr");
  StringVm::Push(vm.L, s);
  StringVm::Push(vm.L, p);
  EXPECT_EQ(vm_pcall(vm.L, 2, 1, 0), 0u);
  std::string out;
  for (int guard = 0; guard < 10000; guard++) {
    vm_pushvalue(vm.L, 1);
    int base = vm_gettop(vm.L) - 1;
    uint32_t code = vm_pcall(vm.L, 0, VM_MULTRET, 0);
    if (code) return "E:" + std::to_string(code);
    int n = vm_gettop(vm.L) - base;
    if (n == 0) break;
    if (!out.empty()) out += " | ";
    for (int i = 1; i <= n; i++) out += (i > 1 ? " " : "") + EncodeValue(StringVm::Read(vm.L, base + i));
    vm_settop(vm.L, base);
  }
  return out;
}

std::string ReplaceAll(StringVm &vm, const std::string &s, const std::string &p, const std::string &r,
                       const std::string &max) {
  std::vector<StrVal> args = {s, p, r};
  if (!max.empty()) args.push_back(std::stod(max));
  StrCall c = vm.Call("PatternReplaceStr", args);
  if (c.code) return "E:" + std::to_string(c.code);
  char count[32];
  std::snprintf(count, sizeof count, " n:%.14g", c.results[1].num);
  return "s:" + Encode(c.results[0].str) + count;
}

}  // namespace

// Every row of golden/pattern_cases.txt through PatternFindStr and PatternReplaceStr, next to
// what lua5.1's string.gmatch and string.gsub gave (golden/pattern_lua51.txt, made by
// pattern_golden.lua). Where the two languages differ on purpose, the row says what lua5.1
// gives and what the player gives instead.
TEST(Pattern, AgainstLua51) {
  struct Difference {
    const char *luaReplace;  // checked, so the list stays true
    const char *ourReplace;
  };
  const std::map<std::string, Difference> kKnownDifferences = {
      // "%0" is the whole match in lua5.1; here only "%1".."%9" name captures.
      {"abc\t.\t<%0>", {"s:<a><b><c> n:3", "E:1461"}},
      // lua5.1 takes "%1" without captures as the whole match; here it is no capture.
      {"abc\ta\t%1", {"s:abc n:1", "E:1461"}},
      // lua5.1 copies the terminating zero byte after a final '%'; here the '%' stays.
      {"abc\tb\t100%", {"s:a100\\x00c n:1", "s:a100%c n:1"}},
  };
  std::ifstream cases(QM_SOURCE_DIR "/tests/player/string/golden/pattern_cases.txt");
  std::ifstream golden(QM_SOURCE_DIR "/tests/player/string/golden/pattern_lua51.txt");
  ASSERT_TRUE(cases.good() && golden.good());
  StringVm vm;
  std::string line, want;
  std::getline(golden, want);  // the generator's note
  int rows = 0, differences = 0;
  while (std::getline(cases, line)) {
    if (line.empty() || line[0] == '#') continue;
    ASSERT_TRUE(std::getline(golden, want)) << "golden file ends before " << line;
    std::vector<std::string> f = SplitTabs(line), g = SplitTabs(want);
    ASSERT_GE(f.size(), 3u) << line;
    ASSERT_EQ(g.size(), 4u) << want;
    std::string s = Unescape(f[0]), p = Unescape(f[1]), r = Unescape(f[2]);
    std::string max = f.size() > 3 ? f[3] : "";
    EXPECT_EQ(FindAll(vm, s, p), g[1]) << "find: " << line;
    auto known = kKnownDifferences.find(line);
    if (known != kKnownDifferences.end()) {
      EXPECT_EQ(g[3], known->second.luaReplace) << line;
      EXPECT_EQ(ReplaceAll(vm, s, p, r, max), known->second.ourReplace) << line;
      differences++;
    } else {
      EXPECT_EQ(ReplaceAll(vm, s, p, r, max), g[3]) << "replace: " << line;
    }
    rows++;
  }
  EXPECT_EQ(differences, int(kKnownDifferences.size()));
  EXPECT_GT(rows, 100);
}

TEST(Pattern, CommandCases) {
  StringVm vm;
  // The iterator returns each match, then nothing (and keeps returning nothing).
  vm_settop(vm.L, 0);
  vm.PushCommand("PatternFindStr");
  StringVm::Push(vm.L, "one two");
  StringVm::Push(vm.L, "%a+");
  ASSERT_EQ(vm_pcall(vm.L, 2, 1, 0), 0u);
  const char *expected[] = {"one", "two", nullptr, nullptr};
  for (const char *e : expected) {
    vm_pushvalue(vm.L, 1);
    StrCall r = vm.Finish(0);
    ASSERT_EQ(r.code, 0u);
    if (e) {
      ASSERT_EQ(r.results.size(), 1u);
      EXPECT_EQ(r.results[0], StrVal(e));
    } else {
      EXPECT_TRUE(r.results.empty());
    }
  }

  struct Row {
    const char *name;
    std::vector<StrVal> args;
    uint32_t code;
    std::vector<StrVal> results;
  } rows[] = {
      {"string repl", {"hello world", "o", "0"}, 0, {"hell0 w0rld", 2}},
      {"max 1", {"hello world", "o", "0", 1}, 0, {"hell0 world", 1}},
      {"anchored", {"aaa", "^a", "x"}, 0, {"xaa", 1}},
      {"anchored, no match", {"abc", "^b", "x"}, 0, {"abc", 0}},
      {"capture twice", {"abc", "(%w)", "%1%1"}, 0, {"aabbcc", 3}},
      {"no capture", {"abc", "%w", "%1"}, ERR_INVCAPIDX, {}},
      {"empty pattern", {"ab", "", "-"}, 0, {"-a-b-", 3}},
      {"number repl", {"a1b", "%d", 7.5}, 0, {"a7.5b", 1}},
      {"number subject", {12345, "3", "x"}, 0, {"12x45", 1}},
      {"position capture in repl", {"abc", "()b", "%1"}, 0, {"a2c", 1}},
      {"table repl", {"abc", "b", StrVal()}, ERR_WRONGUSAGE, {}},
      {"boolean repl", {"abc", "b", StrVal::Bool(true)}, ERR_WRONGUSAGE, {}},
      {"zero byte ends the pattern", {"ab", std::string("b\0a", 3), "x"}, 0, {"ax", 1}},
  };
  for (const Row &row : rows) {
    StrCall r = vm.Call("PatternReplaceStr", row.args);
    EXPECT_EQ(r.code, row.code) << row.name;
    if (row.code == 0) {
      EXPECT_EQ(r.results, row.results) << row.name;
    }
  }
}

// A table is not a replacement, and a function's result decides what replaces each match.
TEST(Pattern, FunctionReplacements) {
  StringVm vm;
  struct Row {
    const char *name;
    VmCFunction fn;
    const char *result;
  } rows[] = {
      {"nothing deletes", [](VmState *) -> uint32_t { return 0; }, "1-2"},
      {"false deletes", [](VmState *L) -> uint32_t { vm_pushboolean(L, 0); return 1; }, "1-2"},
      {"string replaces",
       [](VmState *L) -> uint32_t {
         // Called with the two captures.
         vm_pushstring(L, vm_gettop(L) == 2 ? "<>" : "??");
         return 1;
       },
       "1<>-2<>"},
      {"number replaces", [](VmState *L) -> uint32_t { vm_pushnumber(L, 0.5); return 1; }, "10.5-20.5"},
  };
  for (const Row &row : rows) {
    vm_settop(vm.L, 0);
    vm.PushCommand("PatternReplaceStr");
    StringVm::Push(vm.L, "1ab-2cd");
    StringVm::Push(vm.L, "(%a)(%a)");
    vm_pushcfunction(vm.L, row.fn);
    StrCall r = vm.Finish(3);
    ASSERT_EQ(r.code, 0u) << row.name;
    EXPECT_EQ(r.results[0], StrVal(row.result)) << row.name;
    EXPECT_EQ(r.results[1], StrVal(2)) << row.name;
  }
  vm_settop(vm.L, 0);
  vm.PushCommand("PatternReplaceStr");
  StringVm::Push(vm.L, "abc");
  StringVm::Push(vm.L, "b");
  vm_newtable(vm.L);
  EXPECT_EQ(vm.Finish(3).code, uint32_t(ERR_WRONGUSAGE));
  // An error raised by the function ends the command with its code.
  vm_settop(vm.L, 0);
  vm.PushCommand("PatternReplaceStr");
  StringVm::Push(vm.L, "abc");
  StringVm::Push(vm.L, "b");
  vm_pushcfunction(vm.L, [](VmState *) -> uint32_t { return ERR_SYNTAXERROR; });
  EXPECT_EQ(vm.Finish(3).code, uint32_t(ERR_SYNTAXERROR));
}

// Long patterns are fine while they hold few open choices; a pattern that nests more than the
// limit fails with ERR_STACK instead of exhausting the C stack.
TEST(Pattern, DepthLimit) {
  struct Row {
    const char *name;
    std::string subject, pattern;
    uint32_t code;
    bool matches;
  } rows[] = {
      {"10000 literal bytes", std::string(10000, 'a'), std::string(10000, 'a'), 0, true},
      {"5000 escapes", std::string(5000, '.'), [] {
         std::string p;
         for (int i = 0; i < 5000; i++) p += "%.";
         return p;
       }(), 0, true},
      {"150 optional items", std::string(150, 'a'), [] {
         std::string p;
         for (int i = 0; i < 150; i++) p += "a?";
         return p;
       }(), 0, true},
      {"300 optional items", std::string(300, 'a'), [] {
         std::string p;
         for (int i = 0; i < 300; i++) p += "a?";
         return p;
       }(), ERR_STACK, false},
      {"100000 lazy items", std::string(10, 'b'), [] {
         std::string p;
         for (int i = 0; i < 100000; i++) p += "a-";
         return p + "b";
       }(), ERR_STACK, false},
  };
  for (const Row &row : rows) {
    qmMatchState ms;
    PatternBegin(&ms, row.subject.data(), row.subject.size(), row.pattern.c_str());
    const char *end = nullptr;
    const char *at = PatternFind(&ms, ms.srcInit, row.pattern.c_str(), &end);
    EXPECT_EQ(ms.error, row.code) << row.name;
    EXPECT_EQ(at != nullptr, row.matches) << row.name;
  }
  // The script sees the same code.
  StringVm vm;
  std::string deep;
  for (int i = 0; i < 300; i++) deep += "a?";
  EXPECT_EQ(vm.Call("PatternReplaceStr", {std::string(300, 'a'), deep, "x"}).code, uint32_t(ERR_STACK));
}

// Matches that backtrack for minutes, each with its cause.
struct RunawayMatch {
  const char *name;
  std::string subject, pattern;
};
const RunawayMatch kRunawayMatches[] = {
    {"nested stars", std::string(28, 'a'), "a*a*a*a*a*a*a*a*a*a*a*b"},
    {"lazy run over 5 MB", std::string(5 << 20, 'a'), ".-b"},
    {"balance over 1 MB of openings", std::string(1 << 20, '('), "%b()"},
};

// The stop check sees every long match, ends it with its own code, and leaves alone a match
// that it lets finish. Without the check the rows run for minutes; the alarm fails them instead.
TEST(PatternStopCheck, EndsRunawayMatches) {
  alarm(60);
  struct Counter {
    int calls = 0;
    int stopAt = 0;  // 0: never
  };
  auto check = [](void *data) -> uint32_t {
    auto *c = static_cast<Counter *>(data);
    return ++c->calls == c->stopAt ? uint32_t(ERR_USERABORT) : 0u;
  };
  for (const RunawayMatch &row : kRunawayMatches) {
    qmMatchState ms;
    PatternBegin(&ms, row.subject.data(), row.subject.size(), row.pattern.c_str());
    Counter counter{0, 3};
    ms.stopCheck = check;
    ms.stopData = &counter;
    const char *end = nullptr;
    EXPECT_EQ(PatternFind(&ms, ms.srcInit, row.pattern.c_str(), &end), nullptr) << row.name;
    EXPECT_EQ(ms.error, uint32_t(ERR_USERABORT)) << row.name;
    EXPECT_EQ(counter.calls, 3) << row.name;
  }
  // A check that lets it go on runs about once per kPatternCheckEvery steps and changes nothing.
  std::string subject = std::string(1 << 20, 'a') + "b";
  qmMatchState ms;
  PatternBegin(&ms, subject.data(), subject.size(), ".-b");
  Counter counter;
  ms.stopCheck = check;
  ms.stopData = &counter;
  const char *end = nullptr;
  EXPECT_EQ(PatternFind(&ms, ms.srcInit, ".-b", &end), ms.srcInit);
  EXPECT_EQ(end, ms.srcEnd);
  EXPECT_EQ(ms.error, 0u);
  EXPECT_EQ(counter.calls, int(subject.size() / kPatternCheckEvery));
  alarm(0);
}

// The commands run the interpreter's periodic check during a long match, as the interpreter
// does between instructions: a quit request it raises ends the command with ERR_USERABORT.
TEST(PatternStopCheck, CommandsEndOnAQuitRequest) {
  alarm(60);
  static int checks;
  StringVm vm;
  vm_setperiodiccheck(vm.L, [](VmState *L) {
    if (++checks == 3) vm_setendrequested(L, 1);
  }, 1);
  for (const RunawayMatch &row : kRunawayMatches) {
    checks = 0;
    vm_setendrequested(vm.L, 0);
    EXPECT_EQ(vm.Call("PatternReplaceStr", {row.subject, row.pattern, "x"}).code, uint32_t(ERR_USERABORT))
        << row.name;
    EXPECT_EQ(checks, 3) << row.name;

    checks = 0;
    vm_setendrequested(vm.L, 0);
    vm_settop(vm.L, 0);
    vm.PushCommand("PatternFindStr");
    StringVm::Push(vm.L, row.subject);
    StringVm::Push(vm.L, row.pattern);
    ASSERT_EQ(vm_pcall(vm.L, 2, 1, 0), 0u) << row.name;
    EXPECT_EQ(vm_pcall(vm.L, 0, VM_MULTRET, 0), uint32_t(ERR_USERABORT)) << row.name;
    EXPECT_EQ(checks, 3) << row.name;
  }
  vm_setendrequested(vm.L, 0);
  alarm(0);
}
