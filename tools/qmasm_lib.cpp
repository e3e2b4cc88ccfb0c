#include "tools/qmasm_lib.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "runtime/vm/vm_opcodes.h"

namespace qmtools {
namespace {

struct OpInfo {
  const char *name;
  VmOpFormat format;
};

const OpInfo kOps[] = {
#define VM_OP(name, fmt, flags) {#name, VM_FMT_##fmt},
#include "runtime/vm/vm_opcodes.def"
#undef VM_OP
};

// Thrown inside the assembler only; AssembleText turns it into the result.
struct AsmError {
  int line;
  std::string message;
};

[[noreturn]] void Fail(int line, std::string message) { throw AsmError{line, std::move(message)}; }

// Splits a line into tokens at blanks; a double-quoted part (with backslash escapes) stays
// inside its token, and ';' outside quotes ends the line.
std::vector<std::string> Tokenize(std::string_view text, int line) {
  std::vector<std::string> tokens;
  std::string cur;
  bool inToken = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ';') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      if (inToken) tokens.push_back(std::move(cur));
      cur.clear();
      inToken = false;
      continue;
    }
    inToken = true;
    cur += c;
    if (c != '"') continue;
    for (++i;; ++i) {
      if (i >= text.size()) Fail(line, "unterminated string");
      cur += text[i];
      if (text[i] == '\\' && i + 1 < text.size()) cur += text[++i];
      else if (text[i] == '"') break;
    }
  }
  if (inToken) tokens.push_back(std::move(cur));
  return tokens;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsQuoted(const std::string &tok) { return tok.size() >= 2 && tok.front() == '"' && tok.back() == '"'; }

// "..." with \0 \xNN \n \t \r \\ \" escapes.
std::string Unquote(const std::string &tok, int line) {
  if (!IsQuoted(tok)) Fail(line, "expected a quoted string, got '" + tok + "'");
  std::string out;
  for (size_t i = 1; i + 1 < tok.size(); ++i) {
    char c = tok[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    char e = tok[++i];
    switch (e) {
      case '0': out += '\0'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'x': {
        int hi = i + 1 < tok.size() - 1 ? HexDigit(tok[i + 1]) : -1;
        int lo = i + 2 < tok.size() - 1 ? HexDigit(tok[i + 2]) : -1;
        if (hi < 0 || lo < 0) Fail(line, "\\x needs two hexadecimal digits");
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: Fail(line, std::string("unknown escape \\") + e);
    }
  }
  return out;
}

// A whole integer (decimal, or hexadecimal with 0x; a leading zero is not octal), or nothing.
std::optional<long long> ParseInt(const std::string &tok) {
  if (tok.empty()) return std::nullopt;
  size_t digits = tok[0] == '-' || tok[0] == '+' ? 1 : 0;
  bool hex = tok.size() > digits + 1 && tok[digits] == '0' && (tok[digits + 1] == 'x' || tok[digits + 1] == 'X');
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(tok.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return v;
}

long long IntIn(const std::string &tok, long long lo, long long hi, const char *what, int line) {
  std::optional<long long> v = ParseInt(tok);
  if (!v) Fail(line, std::string("bad ") + what + " '" + tok + "'");
  if (*v < lo || *v > hi)
    Fail(line, std::string(what) + " " + tok + " out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  return *v;
}

// "kN" / "pN" with the given prefix, or nothing.
std::optional<long long> Prefixed(const std::string &tok, char prefix) {
  if (tok.size() < 2 || tok[0] != prefix || !std::isdigit(static_cast<unsigned char>(tok[1]))) return std::nullopt;
  return ParseInt(tok.substr(1));
}

ChunkConstant ParseConstant(const std::string &tok, int line) {
  if (tok.front() == '"') return KStr(Unquote(tok, line));
  if (tok == "nil") return KNil();
  errno = 0;
  char *end = nullptr;
  double d = std::strtod(tok.c_str(), &end);
  if (*end != '\0' || end == tok.c_str()) Fail(line, "bad constant '" + tok + "'");
  return KNum(d);
}

struct Fixup {
  size_t pc;
  std::string label;
  int line;
};

struct Function {
  ChunkProto proto;
  int startLine = 0;
  bool nupsGiven = false;
  bool anyLine = false;
  int32_t lastLine = 0;
  std::vector<int32_t> lines;
  std::map<std::string, size_t> labels;
  std::vector<Fixup> fixups;
};

class Assembler {
 public:
  ChunkProto Run(std::string_view text) {
    int line = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) nl = text.size();
      ++line;
      std::vector<std::string> tokens = Tokenize(text.substr(pos, nl - pos), line);
      if (!tokens.empty()) Line(tokens, line);
      pos = nl + 1;
    }
    if (!stack_.empty()) Fail(stack_.back().startLine, ".func without .end");
    if (!main_) Fail(line, "no .func in the text");
    return std::move(*main_);
  }

 private:
  void Line(std::vector<std::string> &t, int line) {
    const std::string &d = t[0];
    if (d == ".func") return BeginFunc(t, line);
    if (stack_.empty()) Fail(line, "'" + d + "' outside .func");
    Function &f = stack_.back();
    if (d == ".end") {
      if (t.size() != 1) Fail(line, ".end takes nothing");
      return EndFunc();
    }
    if (d == ".k") {
      if (t.size() < 2) Fail(line, ".k needs a value");
      for (size_t i = 1; i < t.size(); ++i) f.proto.constants.push_back(ParseConstant(t[i], line));
      return;
    }
    if (d == ".local") {
      if (t.size() != 4) Fail(line, ".local needs: name start end");
      f.proto.locals.push_back({Name(t[1], line), static_cast<int32_t>(IntIn(t[2], INT32_MIN, INT32_MAX, "start", line)),
                                static_cast<int32_t>(IntIn(t[3], INT32_MIN, INT32_MAX, "end", line))});
      return;
    }
    if (d == ".upval") {
      if (t.size() != 2) Fail(line, ".upval needs a name");
      f.proto.upvalueNames.push_back(Name(t[1], line));
      return;
    }
    if (d[0] == '.' && d != ".word") Fail(line, "unknown directive '" + d + "'");
    Instruction(f, t, line);
  }

  static std::string Name(const std::string &tok, int line) { return IsQuoted(tok) ? Unquote(tok, line) : tok; }

  void BeginFunc(const std::vector<std::string> &t, int line) {
    if (stack_.empty() && main_) Fail(line, "a second main function");
    Function f;
    f.startLine = line;
    for (size_t i = 1; i < t.size(); ++i) {
      size_t eq = t[i].find('=');
      if (eq == std::string::npos) Fail(line, "expected key=value, got '" + t[i] + "'");
      std::string key = t[i].substr(0, eq), value = t[i].substr(eq + 1);
      if (key == "source") {
        if (value == "none") f.proto.source.reset();
        else f.proto.source = Unquote(value, line);
      } else if (key == "line") {
        f.proto.lineDefined = static_cast<int32_t>(IntIn(value, INT32_MIN, INT32_MAX, "line", line));
      } else if (key == "maxstack") {
        f.proto.maxStack = static_cast<uint8_t>(IntIn(value, 0, 255, "maxstack", line));
      } else if (key == "params") {
        f.proto.numparams = static_cast<uint8_t>(IntIn(value, 0, 255, "params", line));
      } else if (key == "vararg") {
        f.proto.isVararg = static_cast<uint8_t>(IntIn(value, 0, 255, "vararg", line));
      } else if (key == "upvals") {
        f.proto.nups = static_cast<uint8_t>(IntIn(value, 0, 255, "upvals", line));
        f.nupsGiven = true;
      } else {
        Fail(line, "unknown .func key '" + key + "'");
      }
    }
    stack_.push_back(std::move(f));
  }

  void EndFunc() {
    Function f = std::move(stack_.back());
    stack_.pop_back();
    for (const Fixup &fix : f.fixups) {
      auto it = f.labels.find(fix.label);
      if (it == f.labels.end()) Fail(fix.line, "unknown label '" + fix.label + "'");
      long long offset = static_cast<long long>(it->second) - static_cast<long long>(fix.pc) - 1;
      uint32_t &word = f.proto.code[fix.pc];
      if (vm_getop(word) == OP_JMP) {
        word = vm_mkJMP(static_cast<int>(offset), vm_getjumpflag(word));
      } else {
        if (offset < -VM_MAXARG_SBX || offset > VM_MAXARG_SBX + 1) Fail(fix.line, "jump to '" + fix.label + "' too far");
        word = vm_mkAsBx(vm_getop(word), vm_getA(word), static_cast<int>(offset));
      }
    }
    if (f.anyLine) f.proto.lineInfo = std::move(f.lines);
    if (!f.nupsGiven) f.proto.nups = static_cast<uint8_t>(f.proto.upvalueNames.size());
    if (stack_.empty()) main_ = std::move(f.proto);
    else stack_.back().proto.protos.push_back(std::move(f.proto));
  }

  void Instruction(Function &f, std::vector<std::string> &t, int line) {
    size_t first = 0;
    if (t[0].back() == ':') {
      std::string label = t[0].substr(0, t[0].size() - 1);
      if (label.empty()) Fail(line, "empty label");
      if (!f.labels.emplace(label, f.proto.code.size()).second) Fail(line, "label '" + label + "' defined twice");
      first = 1;
    }
    if (first == t.size()) return;

    std::optional<int32_t> lineInfo;
    std::vector<std::string> ops;
    for (size_t i = first + 1; i < t.size(); ++i) {
      if (t[i][0] == '@') lineInfo = static_cast<int32_t>(IntIn(t[i].substr(1), INT32_MIN, INT32_MAX, "line", line));
      else ops.push_back(t[i]);
    }

    std::string mnemonic = t[first];
    for (char &c : mnemonic) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    uint32_t word = 0;
    if (mnemonic == ".WORD") {
      if (ops.size() != 1) Fail(line, ".word needs one value");
      word = static_cast<uint32_t>(IntIn(ops[0], 0, UINT32_MAX, "word", line));
    } else {
      int op = -1;
      for (int i = 0; i < VM_NUM_OPCODES; ++i)
        if (mnemonic == kOps[i].name) op = i;
      if (op < 0) Fail(line, "unknown mnemonic '" + t[first] + "'");
      word = Encode(f, static_cast<unsigned>(op), ops, line);
    }
    f.proto.code.push_back(word);
    if (lineInfo) {
      f.anyLine = true;
      f.lastLine = *lineInfo;
    }
    f.lines.push_back(f.lastLine);
  }

  // B and C of ABC: a number or kN.
  static unsigned RK(const std::string &tok, int line) {
    if (std::optional<long long> k = Prefixed(tok, 'k')) {
      if (*k > 511 - VM_MAXSTACK) Fail(line, "constant " + tok + " out of range for an RK operand");
      return static_cast<unsigned>(VM_MAXSTACK + *k);
    }
    return static_cast<unsigned>(IntIn(tok, 0, 511, "operand", line));
  }

  uint32_t Encode(Function &f, unsigned op, const std::vector<std::string> &ops, int line) {
    auto count = [&](size_t lo, size_t hi) {
      if (ops.size() < lo || ops.size() > hi)
        Fail(line, std::string(kOps[op].name) + " takes " + std::to_string(lo) +
                       (hi != lo ? ".." + std::to_string(hi) : std::string()) + " operands");
    };
    switch (kOps[op].format) {
      case VM_FMT_ABC: {
        count(1, 3);
        unsigned a = static_cast<unsigned>(IntIn(ops[0], 0, 255, "A", line));
        unsigned b = ops.size() > 1 ? RK(ops[1], line) : 0;
        unsigned c = ops.size() > 2 ? RK(ops[2], line) : 0;
        return vm_mkABC(op, a, b, c);
      }
      case VM_FMT_ABX: {
        count(2, 2);
        unsigned a = static_cast<unsigned>(IntIn(ops[0], 0, 255, "A", line));
        std::optional<long long> bx = Prefixed(ops[1], 'k');
        if (!bx) bx = Prefixed(ops[1], 'p');
        if (!bx) bx = IntIn(ops[1], 0, VM_MAXARG_BX, "Bx", line);
        if (*bx > VM_MAXARG_BX) Fail(line, "Bx " + ops[1] + " out of range");
        return vm_mkABx(op, a, static_cast<unsigned>(*bx));
      }
      case VM_FMT_ASBX: {
        count(2, 2);
        unsigned a = static_cast<unsigned>(IntIn(ops[0], 0, 255, "A", line));
        if (ParseInt(ops[1]))
          return vm_mkAsBx(op, a, static_cast<int>(IntIn(ops[1], -VM_MAXARG_SBX, VM_MAXARG_SBX + 1, "sBx", line)));
        f.fixups.push_back({f.proto.code.size(), ops[1], line});
        return vm_mkAsBx(op, a, 0);
      }
      case VM_FMT_JMP24: {
        count(1, 2);
        unsigned flag = 0;
        if (ops.size() == 2) {
          if (ops[1] != "gosub") Fail(line, "expected 'gosub', got '" + ops[1] + "'");
          flag = VM_JMP_GOSUB;
        }
        if (ParseInt(ops[0]))
          return vm_mkJMP(static_cast<int>(IntIn(ops[0], -VM_JMP_BIAS, VM_JMP_BIAS + 1, "jump", line)), flag);
        f.fixups.push_back({f.proto.code.size(), ops[0], line});
        return vm_mkJMP(0, flag);
      }
    }
    Fail(line, "bad opcode format");
  }

  std::vector<Function> stack_;
  std::optional<ChunkProto> main_;
};

}  // namespace

AsmResult AssembleText(std::string_view text) {
  AsmResult result;
  try {
    result.proto = Assembler().Run(text);
  } catch (const AsmError &e) {
    result.errorLine = e.line;
    result.error = "line " + std::to_string(e.line) + ": " + e.message;
  }
  return result;
}

AsmResult AssembleFile(const std::string &path) {
  std::ifstream src(path, std::ios::binary);
  if (!src) {
    AsmResult r;
    r.error = "cannot read " + path;
    return r;
  }
  std::stringstream text;
  text << src.rdbuf();
  return AssembleText(text.str());
}

}  // namespace qmtools
