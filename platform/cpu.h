// Which vector paths this processor can run; every such path has a scalar twin.
// QM_HAVE_AVX2 marks a build that has the AVX2 kernels (x86-64 and a compiler that targets
// AVX2); without it the dispatch sites are compiled with their scalar paths alone.
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
#else
// A build without the vector kernels: every dispatch takes its scalar twin.
inline bool CpuHasAvx2() { return false; }
inline bool CpuHasAvx2Fma() { return false; }
#endif
