// What the processor can run, asked once.
#pragma once

namespace tarvix {

// Whether the processor runs AVX2 code (x86-64 only). Safe to call from the
// static initialisers.
inline bool cpu_has_avx2() {
#if defined(__x86_64__)
  static const bool yes = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return yes;
#else
  return false;
#endif
}

}  // namespace tarvix
