// The expression evaluator: arithmetic, comparison, logic and 32-bit bitwise operators over
// doubles, with named variables, computed while parsing. It runs no script code.
#pragma once
#include <cstddef>
#include <cstdint>

// Nesting deeper than this (parentheses, unary operators, right operands) gives ERR_STACK.
constexpr int kEvalMaxDepth = 200;
// The longest variable name.
constexpr size_t kEvalMaxNameLength = 64;

// Variables: count names as consecutive zero-terminated strings in one block, and their
// values. The first name that matches at a position wins.
struct qmEvalVariables {
  const char *names;
  const double *values;
  uint32_t count;
};

// 0 when the name is 1 to 64 characters, starts with an ASCII letter or '_' and continues with
// ASCII letters, digits, '_', '$' or '!'; else ERR_WRONGUSAGE.
uint32_t CheckEvalVariableName(const char *name, size_t len);

// The value of the whole text; 0 or the error code. vars may be null.
uint32_t EvalExpression(const char *text, const qmEvalVariables *vars, double *out);
