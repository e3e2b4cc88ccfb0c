// How an engine's long loop learns that the script is to quit without knowing the VM: it
// polls between blocks of its work and stops with the code the poll answers.
#pragma once
#include <cstdint>

struct qmCancel {
  uint32_t (*poll)(void *ud) = nullptr;  // 0 to go on, else the code that ends the work; null: never
  void *ud = nullptr;
};

inline uint32_t PollCancel(const qmCancel &c) { return c.poll ? c.poll(c.ud) : 0; }
