// The vector level (AVX2, SSE2 or plain) the text kernels use, probed once.
#include "twxml/platform/simd.h"

namespace twxml::simd {

namespace detail {

std::atomic<int> g_active{-1};

namespace {

Level Probe() {
#if TWXML_SIMD_X86
  // The processor's answer includes whether the system saves the wide
  // registers, so an AVX2 processor under a system that does not is SSE2.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
                 __builtin_cpu_supports("bmi")
             ? Level::Avx2
             : Level::Sse2;
#else
  return Level::Plain;
#endif
}

}  // namespace

int Detect() {
  const int best = static_cast<int>(Best());
  int expected = -1;
  // A level forced meanwhile stays.
  g_active.compare_exchange_strong(expected, best, std::memory_order_relaxed);
  return g_active.load(std::memory_order_relaxed);
}

}  // namespace detail

Level Best() {
  static const Level best = detail::Probe();
  return best;
}

Level Force(Level level) {
  const Level before = Active();
  if (static_cast<int>(level) > static_cast<int>(Best())) level = Best();
  detail::g_active.store(static_cast<int>(level), std::memory_order_relaxed);
  return before;
}

}  // namespace twxml::simd
