#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "runtime/errcodes.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_func.h"
#include "runtime/vm/vm_opcodes.h"
#include "runtime/vm/vm_undump.h"
#include "tests/runtime/vm/vm_test_util.h"
#include "tools/chunkbuilder.h"
#include "tools/qmasm_lib.h"

using namespace qmtools;
using Bytes = std::vector<uint8_t>;

namespace {

uint32_t Load(VmState *L, const Bytes &b, const char *name = "=test") {
  return vm_loadbuffer(L, reinterpret_cast<const char *>(b.data()), b.size(), name);
}

int Append(VmState *, const void *p, size_t size, void *ud) {
  auto *out = static_cast<Bytes *>(ud);
  auto *c = static_cast<const uint8_t *>(p);
  out->insert(out->end(), c, c + size);
  return 1;
}

Bytes Dump(VmState *L) {
  Bytes out;
  EXPECT_EQ(vm_dump(L, -1, Append, &out), 0u);
  return out;
}

Bytes ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

// A function that passes every checker rule: "local a = k0; return a".
ChunkProto Minimal() {
  ChunkProto p;
  p.source = "@t.qms";
  p.maxStack = 2;
  p.constants = {KNum(1)};
  p.code = {vm_mkABx(OP_LOADK, 0, 0), vm_mkABC(OP_RETURN, 0, 2, 0)};
  return p;
}

// Something of every kind the format carries, two levels deep.
ChunkProto Rich() {
  ChunkProto inner;
  inner.lineDefined = 7;
  inner.nups = 1;
  inner.numparams = 1;
  inner.maxStack = 3;
  inner.upvalueNames = {"up"};
  inner.locals = {{"p", 0, 2}};
  inner.constants = {KNum(-0.0), KNum(NAN), KNum(INFINITY), KStr(std::string("a\0b", 3)), KStr("")};
  inner.lineInfo = {8, 9};
  inner.code = {vm_mkABC(OP_GETUPVAL, 1, 0, 0), vm_mkABC(OP_RETURN, 1, 2, 0)};
  ChunkProto other = Minimal();
  other.source = "@other.qms";  // a source of its own is written, not inherited
  ChunkProto main;
  main.source = "@rich.qms";
  main.isVararg = 1;
  main.maxStack = 4;
  main.constants = {KNil(), KStr("g"), KNum(31415926.5)};
  main.locals = {{"x", 0, 4}, {"y", 1, 4}};
  main.protos = {inner, other};
  main.lineInfo = {1, 2, 2, 3, 4};
  main.code = {vm_mkABx(OP_LOADK, 0, 2), vm_mkABx(OP_CLOSURE, 1, 0), vm_mkABC(OP_MOVE, 0, 0, 0),
               vm_mkABx(OP_SETGLOBAL, 1, 1), vm_mkABC(OP_RETURN, 0, 1, 0)};
  return main;
}

}  // namespace

TEST(Chunk, RoundTripGivesIdenticalBytes) {
  VmFixture f;
  Bytes built = BuildChunk(Rich());
  ASSERT_EQ(Load(f.L, built), 0u);
  EXPECT_EQ(Dump(f.L), built);
}

TEST(Chunk, ByteReversedChunkLoadsLikeTheNativeOne) {
  VmFixture f;
  BuildOptions big;
  big.bigEndian = true;
  Bytes reversed = BuildChunk(Rich(), big);
  ASSERT_NE(reversed, BuildChunk(Rich()));
  ASSERT_EQ(Load(f.L, reversed), 0u);
  EXPECT_EQ(Dump(f.L), BuildChunk(Rich()));
}

TEST(Chunk, GoldenChunkFromAnIndependentWriter) {
  VmFixture f;
  Bytes golden = ReadFile(QM_SOURCE_DIR "/tests/runtime/vm/golden/golden.qmb");
  ASSERT_FALSE(golden.empty());
  ASSERT_EQ(Load(f.L, golden), 0u);
  VmProto *p = vm_toproto(f.L, -1);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p->source->data(), "@golden.qms");
  EXPECT_EQ(p->is_vararg, 1);
  EXPECT_EQ(p->maxstacksize, 3);
  ASSERT_EQ(p->sizek, 4);
  EXPECT_STREQ(vm_svalue(&p->k[0])->data(), "bump");
  EXPECT_EQ(vm_nvalue(&p->k[1]), 2.5);
  EXPECT_TRUE(vm_isnil(&p->k[2]));
  EXPECT_EQ(vm_svalue(&p->k[3])->len, 3u);
  ASSERT_EQ(p->sizecode, 7);
  EXPECT_EQ(vm_getop(p->code[1]), OP_CLOSURE);
  ASSERT_EQ(p->sizelineinfo, 7);
  EXPECT_EQ(p->lineinfo[3], 7);
  ASSERT_EQ(p->sizep, 1);
  VmProto *bump = p->p[0];
  EXPECT_EQ(bump->source, p->source);  // written without a source: the parent's
  EXPECT_EQ(bump->lineDefined, 3);
  EXPECT_EQ(bump->nups, 1);
  EXPECT_STREQ(bump->upvalues[0]->data(), "counter");
  EXPECT_STREQ(bump->locvars[0].varname->data(), "x");
  EXPECT_EQ(vm_getop(bump->code[1]), OP_ADD);
  EXPECT_EQ(vm_getC(bump->code[1]), 250u);
  EXPECT_EQ(Dump(f.L), golden);
}

TEST(Chunk, MainWithoutSourceIsNamedAfterTheChunk) {
  VmFixture f;
  ChunkProto p = Minimal();
  p.source.reset();
  ASSERT_EQ(Load(f.L, BuildChunk(p), "=applet"), 0u);
  EXPECT_STREQ(vm_toproto(f.L, -1)->source->data(), "=applet");
}

TEST(Chunk, MainWithUpvaluesGetsClosedNilOnes) {
  VmFixture f;
  ChunkProto p = Minimal();
  p.nups = 2;
  p.code = {vm_mkABC(OP_GETUPVAL, 0, 1, 0), vm_mkABC(OP_RETURN, 0, 2, 0)};
  ASSERT_EQ(Load(f.L, BuildChunk(p)), 0u);
  VmClosure *cl = vm_clvalue(f.L->top - 1);
  ASSERT_EQ(cl->nupvalues, 2);
  for (int i = 0; i < 2; i++) {
    ASSERT_NE(cl->upvals()[i], nullptr);
    EXPECT_EQ(cl->upvals()[i]->v, &cl->upvals()[i]->value);
    EXPECT_TRUE(vm_isnil(cl->upvals()[i]->v));
  }
}

TEST(Chunk, CutAnywhereIsUnexpectedEnd) {
  Bytes full = BuildChunk(Rich());
  VmFixture f;
  for (size_t n = 0; n < full.size(); n++) {
    Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
    int top = vm_gettop(f.L);
    ASSERT_EQ(Load(f.L, cut), ERR_UNEXPECTEDEOF) << "cut at " << n;
    ASSERT_EQ(vm_gettop(f.L), top) << "nothing is pushed on failure";
  }
}

TEST(Chunk, HeaderBytes) {
  Bytes good = BuildChunk(Minimal());
  VmFixture f;
  for (size_t off = 0; off < 13; off++) {
    if (off == 4) continue;  // the order byte: covered by the byte-reversed test
    Bytes b = good;
    b[off] ^= 0x40;
    uint32_t expect = off < 4 ? ERR_BADSIGNATURE : ERR_VMMISMATCH;
    EXPECT_EQ(Load(f.L, b), expect) << "offset " << off;
  }
  // The test number is compared after truncation to an integer.
  struct {
    double number;
    uint32_t code;
  } numbers[] = {{31415926.9, 0}, {31415927.0, ERR_UNKNUMFMT}, {NAN, ERR_UNKNUMFMT},
                 {1e300, ERR_UNKNUMFMT}, {-31415926.5, ERR_UNKNUMFMT}};
  for (auto &c : numbers) {
    BuildOptions o;
    o.testNumber = c.number;
    EXPECT_EQ(Load(f.L, BuildChunk(Minimal(), o)), c.code) << c.number;
  }
  // Script source text is refused at its first byte.
  std::string text = "Print(\"hello\")";
  EXPECT_EQ(vm_loadbuffer(f.L, text.data(), text.size(), "=text"), ERR_BADSIGNATURE);
  // The field-B size byte of 8 instead of 9.
  BuildOptions o;
  o.patches = {{10, 8}};
  EXPECT_EQ(Load(f.L, BuildChunk(Minimal(), o)), ERR_VMMISMATCH);
}

TEST(Chunk, LoaderErrors) {
  struct Case {
    const char *name;
    void (*mutate)(ChunkProto &);
    uint32_t code;
  } cases[] = {
      {"negative line defined", [](ChunkProto &p) { p.lineDefined = -1; }, ERR_BADINTEGER},
      {"negative code count", [](ChunkProto &p) { p.codeCount = -5; }, ERR_BADINTEGER},
      {"negative line number", [](ChunkProto &p) { p.lineInfo = {1, -2}; }, ERR_BADINTEGER},
      {"upvalue names not matching", [](ChunkProto &p) { p.upvalueNames = {"a"}; }, ERR_BADUPVALUES},
      {"constant type 1", [](ChunkProto &p) { p.constants.push_back(KBadType(1)); }, ERR_BADCONSTANT},
      {"string constant of size 0", [](ChunkProto &p) { p.constants.push_back(KNoString()); }, ERR_BADCONSTANT},
      {"huge constant count", [](ChunkProto &p) { p.constantCount = 0x7FFFFFFF; }, ERR_BADCONSTANT},  // reads on into the code count
      {"huge code count", [](ChunkProto &p) { p.codeCount = 0x7FFFFFF0; }, ERR_UNEXPECTEDEOF},
      {"huge local count", [](ChunkProto &p) { p.localCount = 0x40000000; }, ERR_UNEXPECTEDEOF},
      {"huge string size", [](ChunkProto &p) { p.constants = {KStr(std::string(300000, 'x'))}; }, 0},
  };
  for (const Case &c : cases) {
    VmFixture f;
    G(f.L)->memlimit = G(f.L)->nblocks + (8u << 20);  // a lying count must not allocate its claim
    ChunkProto p = Minimal();
    c.mutate(p);
    EXPECT_EQ(Load(f.L, BuildChunk(p)), c.code) << c.name;
  }
  // A string whose size claims more than the chunk holds.
  VmFixture f;
  Bytes b = BuildChunk(Minimal());
  Bytes lie(b.begin(), b.begin() + 21);
  for (uint8_t x : {0xF0, 0xFF, 0xFF, 0x7F}) lie.push_back(x);  // source size ~2 GB
  lie.insert(lie.end(), 100, 'a');
  G(f.L)->memlimit = G(f.L)->nblocks + (8u << 20);
  EXPECT_EQ(Load(f.L, lie), ERR_UNEXPECTEDEOF);
}

TEST(Chunk, NamesOfSizeZeroBecomeEmptyStrings) {
  VmFixture f;
  ChunkProto p = Minimal();
  p.locals = {{std::nullopt, 0, 2}};
  p.nups = 1;
  p.upvalueNames = {std::nullopt};
  ASSERT_EQ(Load(f.L, BuildChunk(p)), 0u);
  VmProto *pr = vm_toproto(f.L, -1);
  ASSERT_NE(pr->locvars[0].varname, nullptr);
  EXPECT_EQ(pr->locvars[0].varname->len, 0u);
  ASSERT_NE(pr->upvalues[0], nullptr);
}

TEST(Chunk, NestingDeeperThan200IsRefused) {
  auto nested = [](int depth) {
    ChunkProto p = Minimal();
    for (int i = 0; i < depth; i++) {
      ChunkProto outer = Minimal();
      outer.protos.push_back(p);
      outer.protos.back().source.reset();
      p = outer;
    }
    return p;
  };
  VmFixture f;
  EXPECT_EQ(Load(f.L, BuildChunk(nested(200))), 0u);
  EXPECT_EQ(Load(f.L, BuildChunk(nested(201))), ERR_BADBYTECODE);
}

// One prototype per checker rule; each must be refused with ERR_BADBYTECODE.
TEST(Chunk, CheckerRules) {
  struct Case {
    const char *name;
    void (*mutate)(ChunkProto &);
  } cases[] = {
      {"max stack 251", [](ChunkProto &p) { p.maxStack = 251; }},
      {"line count not the code count", [](ChunkProto &p) { p.lineInfo = {1}; }},
      {"empty code", [](ChunkProto &p) { p.code.clear(); }},
      {"last is not RETURN", [](ChunkProto &p) { p.code = {vm_mkABx(OP_LOADK, 0, 0)}; }},
      {"opcode beyond the table with A beyond the stack",
       [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(50, 2, 0, 0)); }},
      {"A beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_MOVE, 2, 0, 0)); }},
      {"B register beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_MOVE, 0, 2, 0)); }},
      {"RK constant missing", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_ADD, 0, 0, 251)); }},
      {"RK register beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_ADD, 0, 5, 0)); }},
      {"Bx constant missing", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABx(OP_LOADK, 0, 1)); }},
      {"test not followed by JMP",
       [](ChunkProto &p) { p.code.insert(p.code.begin(), {vm_mkABC(OP_EQ, 0, 0, 0), vm_mkABC(OP_MOVE, 0, 0, 0)}); }},
      {"test as the last but one", [](ChunkProto &p) { p.code.insert(p.code.begin() + 1, vm_mkABC(OP_TEST, 0, 0, 0)); }},
      {"LOADBOOL skip past the end", [](ChunkProto &p) { p.code.insert(p.code.begin() + 1, vm_mkABC(OP_LOADBOOL, 0, 1, 1)); }},
      {"GETUPVAL beyond the upvalues", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_GETUPVAL, 0, 0, 0)); }},
      {"GETGLOBAL of a number", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABx(OP_GETGLOBAL, 0, 0)); }},
      {"CONCAT with B not below C", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_CONCAT, 0, 1, 1)); }},
      {"JMP out of the code", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkJMP(5, 0)); }},
      {"JMP before the code", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkJMP(-2, 0)); }},
      {"CALL arguments beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_CALL, 0, 3, 1)); }},
      {"CALL results beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_CALL, 0, 1, 4)); }},
      {"open CALL not followed by an open use",
       [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_CALL, 0, 1, 0)); }},
      {"RETURN range beyond the stack", [](ChunkProto &p) { p.code.back() = vm_mkABC(OP_RETURN, 1, 3, 0); }},
      {"RETURN with C 2 and its range beyond the stack",
       [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_RETURN, 1, 3, 2)); }},
      {"SETLIST beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABx(OP_SETLIST, 0, 1)); }},
      {"CLOSURE of a missing prototype", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABx(OP_CLOSURE, 0, 0)); }},
      {"CLOSURE without its capture lines",
       [](ChunkProto &p) {
         ChunkProto inner = Minimal();
         inner.nups = 1;
         p.protos = {inner};
         p.code.insert(p.code.begin(), {vm_mkABx(OP_CLOSURE, 0, 0), vm_mkABx(OP_LOADK, 0, 0)});
       }},
      {"SELF beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkABC(OP_SELF, 1, 0, 250)); }},
      {"FORLOOP out of the code", [](ChunkProto &p) { p.maxStack = 4; p.code.insert(p.code.begin(), vm_mkAsBx(OP_FORLOOP, 0, 9)); }},
      {"FORLOOP registers beyond the stack", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkAsBx(OP_FORLOOP, 0, 0)); }},
      {"TFORPREP out of the code", [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkAsBx(OP_TFORPREP, 0, -3)); }},
      {"TFORPREP registers beyond the stack",
       [](ChunkProto &p) { p.code.insert(p.code.begin(), vm_mkAsBx(OP_TFORPREP, 1, 0)); }},
      {"TFORLOOP registers beyond the stack",
       [](ChunkProto &p) {
         p.maxStack = 8;
         p.code.insert(p.code.begin(), {vm_mkABC(OP_TFORLOOP, 0, 0, 3), vm_mkJMP(0, 0)});
       }},
      {"params and vararg beyond the stack", [](ChunkProto &p) { p.numparams = 2; p.isVararg = 1; }},
  };
  VmFixture f;
  ASSERT_EQ(Load(f.L, BuildChunk(Minimal())), 0u);
  for (const Case &c : cases) {
    ChunkProto p = Minimal();
    c.mutate(p);
    EXPECT_EQ(Load(f.L, BuildChunk(p)), ERR_BADBYTECODE) << c.name;
    // The same rule holds for a nested prototype.
    ChunkProto outer = Minimal();
    outer.protos = {p};
    EXPECT_EQ(Load(f.L, BuildChunk(outer)), ERR_BADBYTECODE) << "nested: " << c.name;
  }
}

// Limits that are just inside the rules still load.
TEST(Chunk, CheckerAcceptsTheEdges) {
  VmFixture f;
  ChunkProto p = Minimal();
  p.maxStack = 250;
  p.numparams = 249;
  p.isVararg = 1;
  p.code = {vm_mkAsBx(OP_FORLOOP, 247, 0), vm_mkABC(OP_TFORLOOP, 0, 0, 244), vm_mkJMP(0, 0),
            vm_mkJMP(-4, 2), vm_mkABC(OP_RETURN, 248, 3, 0)};
  EXPECT_EQ(Load(f.L, BuildChunk(p)), 0u);

  // Opcodes beyond the table load and do nothing when run; a return from Gosub reads no
  // register, so its B is free.
  ChunkProto q = Minimal();
  q.code.insert(q.code.begin(), {43u, vm_mkABC(63, 1, 511, 511), vm_mkABC(OP_RETURN, 1, 200, 1)});
  q.code.insert(q.code.begin(), {vm_mkJMP(1, 2), vm_mkJMP(3, 0)});
  ASSERT_EQ(Load(f.L, BuildChunk(q)), 0u);
  EXPECT_EQ(vm_pcall(f.L, 0, 0, 0), 0u);
}

TEST(Chunk, DumpRefusesNativeFunctionsAndReportsWriterFailure) {
  VmFixture f;
  ASSERT_EQ(Protected(f.L, [&] {
              vm_setclosure(f.L->top, vm_newCclosure(f.L, 0));
              f.L->top++;
            }),
            0u);
  int calls = 0;
  auto count = [](VmState *, const void *, size_t, void *ud) { ++*static_cast<int *>(ud); return 1; };
  EXPECT_EQ(vm_dump(f.L, -1, count, &calls), ERR_NOQMFUNC);
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(Load(f.L, BuildChunk(Rich())), 0u);
  auto refuse = [](VmState *, const void *, size_t, void *ud) { return ++*static_cast<int *>(ud) < 5 ? 1 : 0; };
  calls = 0;
  EXPECT_EQ(vm_dump(f.L, -1, refuse, &calls), ERR_WRITE);
  EXPECT_EQ(calls, 5);  // nothing more is written after the refusal
}

// Mutated chunks (bit flips, cuts, swapped words) give an error code or load; never a crash.
TEST(Chunk, MutatedChunksNeverCrash) {
  std::vector<Bytes> corpus = {BuildChunk(Rich()), BuildChunk(Minimal()),
                               ReadFile(QM_SOURCE_DIR "/tests/runtime/vm/golden/golden.qmb")};
  std::filesystem::path dir = QM_SOURCE_DIR "/tests/runtime/vm/corpus";
  if (std::filesystem::exists(dir)) {
    for (auto &e : std::filesystem::directory_iterator(dir)) {
      if (e.path().extension() != ".qasm") continue;
      std::ifstream in(e.path());
      std::string text((std::istreambuf_iterator<char>(in)), {});
      AsmResult r = AssembleText(text);
      ASSERT_TRUE(r.proto) << e.path() << ": " << r.error;
      corpus.push_back(BuildChunk(*r.proto));
    }
  }
  std::mt19937 rng(20261209);
  VmFixture f;
  size_t limit = G(f.L)->nblocks + (16u << 20);
  G(f.L)->memlimit = limit;
  int loaded = 0;
  for (const Bytes &seed : corpus) {
    ASSERT_EQ(Load(f.L, seed), 0u) << "corpus chunk must load";
    vm_settop(f.L, 0);
    for (int round = 0; round < 1500; round++) {
      Bytes b = seed;
      int kind = rng() % 4;
      int edits = 1 + rng() % 4;
      for (int e = 0; e < edits && !b.empty(); e++) {
        size_t at = rng() % b.size();
        if (kind == 0) b[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        else if (kind == 1) b[at] = static_cast<uint8_t>(rng());
        else if (kind == 2 && b.size() >= 8) {
          size_t x = (rng() % (b.size() / 4)) * 4, y = (rng() % (b.size() / 4)) * 4;
          for (int i = 0; i < 4 && x + i < b.size() && y + i < b.size(); i++) std::swap(b[x + i], b[y + i]);
        } else {
          b.resize(at);
        }
      }
      uint32_t code = Load(f.L, b);
      if (code == 0) {
        // Whatever loads must write back and load again to the same bytes, and run to an
        // error code or to its end under an instruction budget.
        loaded++;
        Bytes again = Dump(f.L);
        vm_settop(f.L, 0);
        ASSERT_EQ(Load(f.L, again), 0u);
        ASSERT_EQ(Dump(f.L), again);
        static int budget;
        budget = 200;
        vm_sethook(f.L, [](VmState *, VmDebug *, uint32_t *error) {
          if (--budget <= 0) *error = ERR_USERABORT;
        }, VM_MASKCOUNT, 100);
        uint32_t status = vm_pcall(f.L, 0, 0, 0);
        ASSERT_TRUE(status == 0 || status >= 1000) << status;
        vm_sethook(f.L, nullptr, 0, 0);
      } else {
        ASSERT_TRUE(code >= ERR_UNEXPECTEDEOF && code <= ERR_UNKNUMFMT) << code;
      }
      vm_settop(f.L, 0);
      // Nothing collects yet: start afresh when the state fills up.
      if (G(f.L)->nblocks > limit / 2) {
        vm_close(f.L);
        f.L = vm_open();
        G(f.L)->memlimit = G(f.L)->nblocks + (16u << 20);
      }
    }
  }
  EXPECT_GT(loaded, 0);
}
