#include "player/string/eval.h"

#include <cmath>
#include <cstring>

#include "runtime/parsenumber.h"
#include "runtime/errcodes.h"
#include "runtime/vm/vm_number.h"

namespace {

// Token kinds: single characters are their byte value; the rest follow.
enum : int {
  TOK_END = 0,
  TOK_NUMBER = 256,
  TOK_SHL,
  TOK_SHR,
  TOK_CONCAT,
  TOK_NE,
  TOK_LE,
  TOK_GE,
  TOK_AND,
  TOK_OR,
  TOK_NOT,
};

struct Keyword {
  const char *text;
  int token;
};

// Tried in this order, before the variables.
const Keyword kKeywords[] = {
    {"<<", TOK_SHL}, {">>", TOK_SHR}, {"..", TOK_CONCAT}, {"<>", TOK_NE}, {"<=", TOK_LE},
    {">=", TOK_GE},  {"and", TOK_AND}, {"or", TOK_OR},    {"not", TOK_NOT},
};

struct BinaryOp {
  int token;
  int left;   // continues an expression while above the current limit
  int right;  // the limit for its right operand
};

const BinaryOp kBinaryOps[] = {
    {TOK_OR, 1, 1},     {TOK_AND, 2, 2}, {'=', 3, 3},  {TOK_NE, 3, 3}, {'<', 3, 3},  {TOK_LE, 3, 3},
    {'>', 3, 3},        {TOK_GE, 3, 3},  {TOK_CONCAT, 5, 4}, {'|', 6, 6}, {'~', 7, 7}, {'&', 8, 8},
    {TOK_SHL, 9, 9},    {TOK_SHR, 9, 9}, {'+', 10, 10}, {'-', 10, 10}, {'*', 11, 11}, {'/', 11, 11},
    {'\\', 11, 11},     {'%', 11, 11},   {'^', 14, 13},
};

// Unary operands bind tighter than everything but '^'.
constexpr int kUnaryLimit = 12;

struct Parser {
  const char *pos;
  const qmEvalVariables *vars;
  int token;
  double number;  // of a TOK_NUMBER
  int depth;
};

bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
unsigned char AsciiLower(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

// Length of word when the text starts with it (ASCII case ignored) and no letter or digit
// follows; else 0.
size_t MatchWord(const char *text, const char *word) {
  size_t n = 0;
  for (; word[n]; n++) {
    if (AsciiLower(static_cast<unsigned char>(text[n])) != AsciiLower(static_cast<unsigned char>(word[n]))) return 0;
  }
  unsigned char after = static_cast<unsigned char>(text[n]);
  if (IsAsciiLetter(after) || IsAsciiDigit(after)) return 0;
  return n;
}

uint32_t NextToken(Parser *p) {
  while (*p->pos == ' ' || *p->pos == '\t') p->pos++;
  unsigned char c = static_cast<unsigned char>(*p->pos);
  if (IsAsciiDigit(c) || c == '$') {
    size_t used = 0;
    uint32_t code = 0;
    p->number = ParseNumber(p->pos, &used, &code);
    if (code) return code;
    p->pos += used;
    p->token = TOK_NUMBER;
    return 0;
  }
  for (const Keyword &k : kKeywords) {
    if (size_t n = MatchWord(p->pos, k.text)) {
      p->pos += n;
      p->token = k.token;
      return 0;
    }
  }
  if (p->vars) {
    const char *name = p->vars->names;
    for (uint32_t i = 0; i < p->vars->count; i++, name += std::strlen(name) + 1) {
      if (size_t n = MatchWord(p->pos, name)) {
        p->pos += n;
        p->token = TOK_NUMBER;
        p->number = p->vars->values[i];
        return 0;
      }
    }
  }
  p->token = c;  // the terminating zero is TOK_END and stays current
  if (c) p->pos++;
  return 0;
}

const BinaryOp *FindBinary(int token) {
  for (const BinaryOp &op : kBinaryOps) {
    if (op.token == token) return &op;
  }
  return nullptr;
}

// Integer division and remainder on the operands truncated to 32 bits, computed in 64 bits so
// that -2147483648 \ -1 is 2147483648 instead of a trap.
uint32_t IntDivide(double a, double b, bool remainder, double *out) {
  int64_t x = vm_toint32(a);
  int64_t y = vm_toint32(b);
  if (y == 0) return ERR_ZERODIVISION;
  *out = static_cast<double>(remainder ? x % y : x / y);
  return 0;
}

uint32_t ApplyBinary(int token, double a, double b, double *out) {
  switch (token) {
    case TOK_OR: *out = a != 0 ? a : b; return 0;
    case TOK_AND: *out = (a != 0 && b != 0) ? b : 0; return 0;
    case '=': *out = a == b; return 0;
    case TOK_NE: *out = a != b; return 0;
    case '<': *out = a < b; return 0;
    case TOK_LE: *out = a <= b; return 0;
    case '>': *out = a > b; return 0;
    case TOK_GE: *out = a >= b; return 0;
    case TOK_CONCAT: return ERR_WRONGOPCST;
    case '|': *out = vm_touint32(a) | vm_touint32(b); return 0;
    case '~': *out = vm_touint32(a) ^ vm_touint32(b); return 0;
    case '&': *out = vm_touint32(a) & vm_touint32(b); return 0;
    case TOK_SHL: *out = vm_touint32(a) << (static_cast<uint32_t>(vm_toint32(b)) & 31u); return 0;
    case TOK_SHR: *out = vm_touint32(a) >> (static_cast<uint32_t>(vm_toint32(b)) & 31u); return 0;
    case '+': *out = a + b; return 0;
    case '-': *out = a - b; return 0;
    case '*': *out = a * b; return 0;
    case '/':
      if (b == 0) return ERR_ZERODIVISION;
      *out = a / b;
      return 0;
    case '\\': return IntDivide(a, b, false, out);
    case '%': return IntDivide(a, b, true, out);
    case '^': *out = std::pow(a, b); return 0;
    default: return ERR_SYNTAXERROR;
  }
}

uint32_t ParseExpression(Parser *p, int limit, double *out);

uint32_t ParsePrimary(Parser *p, double *out) {
  uint32_t code;
  switch (p->token) {
    case '-':
    case '~':
    case TOK_NOT: {
      int op = p->token;
      double v;
      if ((code = NextToken(p)) != 0 || (code = ParseExpression(p, kUnaryLimit, &v)) != 0) return code;
      if (op == '-') *out = -v;
      else if (op == '~') *out = ~vm_touint32(v);
      else *out = v == 0 ? 1 : 0;
      return 0;
    }
    case '(':
      if ((code = NextToken(p)) != 0 || (code = ParseExpression(p, -1, out)) != 0) return code;
      if (p->token != ')') return ERR_UNMPARENTHESES;
      return NextToken(p);
    case TOK_NUMBER: *out = p->number; return NextToken(p);
    default: return ERR_VALUEEXPECTED;
  }
}

uint32_t ParseExpressionAt(Parser *p, int limit, double *out) {
  uint32_t code = ParsePrimary(p, out);
  if (code) return code;
  for (const BinaryOp *op; (op = FindBinary(p->token)) != nullptr && op->left > limit;) {
    double right;
    if ((code = NextToken(p)) != 0 || (code = ParseExpression(p, op->right, &right)) != 0) return code;
    if ((code = ApplyBinary(op->token, *out, right, out)) != 0) return code;
  }
  return 0;
}

// Every nesting (parenthesis, unary operand, right operand) passes here, so the depth count
// bounds the C stack for any text.
uint32_t ParseExpression(Parser *p, int limit, double *out) {
  if (p->depth >= kEvalMaxDepth) return ERR_STACK;
  p->depth++;
  uint32_t code = ParseExpressionAt(p, limit, out);
  p->depth--;
  return code;
}

}  // namespace

uint32_t CheckEvalVariableName(const char *name, size_t len) {
  if (len < 1 || len > kEvalMaxNameLength) return ERR_WRONGUSAGE;
  unsigned char c = static_cast<unsigned char>(name[0]);
  if (!IsAsciiLetter(c) && c != '_') return ERR_WRONGUSAGE;
  for (size_t i = 1; i < len; i++) {
    c = static_cast<unsigned char>(name[i]);
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '_' && c != '$' && c != '!') return ERR_WRONGUSAGE;
  }
  return 0;
}

uint32_t EvalExpression(const char *text, const qmEvalVariables *vars, double *out) {
  Parser p{text, vars, TOK_END, 0, 0};
  double v = 0;
  uint32_t code = NextToken(&p);
  if (code == 0) code = ParseExpression(&p, -1, &v);
  if (code == 0 && p.token != TOK_END) code = ERR_SYNTAXERROR;
  if (code) return code;
  *out = v;
  return 0;
}
