// Which vector paths this processor can run; every such path has a scalar twin.
// QM_HAVE_AVX2 marks a build that has the AVX2 kernels (x86-64 and a compiler that targets
// AVX2); without it the checks answer false and the dispatch macros compile to nothing, so a
// dispatch site names its AVX2 kernel without a guard of its own. These macros are the only
// places a kernel chooses its AVX2 path (ARCHITECTURE.md, "Vector kernels").
#pragma once

#ifdef QM_HAVE_AVX2
inline bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
// Fused multiply-add is a flag of its own, which the float paths that use it check as well.
inline bool CpuHasAvx2Fma() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}
// The one way a kernel hands its work to its AVX2 twin: when the processor has AVX2 and cond
// holds, the enclosing function returns the call's result (a void call as well).
#define QM_AVX2_RETURN_IF(cond, ...)              \
  do {                                            \
    if (CpuHasAvx2() && (cond)) return __VA_ARGS__; \
  } while (0)
// The one way a loop hands the head of its run to the AVX2 twin: when cond holds and the
// processor has AVX2, the call's result (how many of the items it did), otherwise 0; the scalar
// loop goes on from there.
#define QM_AVX2_HEAD(cond, ...) ((cond) && CpuHasAvx2() ? (__VA_ARGS__) : 0)
#else
constexpr bool CpuHasAvx2() { return false; }
constexpr bool CpuHasAvx2Fma() { return false; }
// cond is named but not evaluated, so that what only the vector path tests (a flag, a helper)
// is not left unused.
#define QM_AVX2_RETURN_IF(cond, ...) \
  do {                               \
    (void)sizeof(cond);              \
  } while (0)
#define QM_AVX2_HEAD(cond, ...) ((void)sizeof(cond), 0)
#endif
#define QM_AVX2_RETURN(...) QM_AVX2_RETURN_IF(true, __VA_ARGS__)
