// Which vector paths this processor can run; every such path has a scalar twin.
#pragma once

inline bool CpuHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
