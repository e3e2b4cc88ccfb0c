// The input of a target that builds its case from the bytes: numbers read from the front.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// The input read from the front; past its end every read gives zeros.
struct FuzzBytes {
  const uint8_t *at;
  size_t left;
  uint8_t Byte() {
    if (!left) return 0;
    left--;
    return *at++;
  }
  template <typename T>
  T Raw() {
    uint8_t b[sizeof(T)] = {};
    for (uint8_t &c : b) c = Byte();
    T v;
    std::memcpy(&v, b, sizeof v);
    return v;
  }
};
