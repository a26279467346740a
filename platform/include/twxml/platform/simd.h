// The vector instruction level that text kernels run at: the best the
// processor and system offer, found once at run time, or a lower one forced
// by tests and fuzzers so that every level is checked against the others on
// the same inputs. Kernels for a level above the build's baseline carry the
// target attribute on each function; nothing is compiled for one machine.
#pragma once

#include <atomic>
#include <cstdint>

#if defined(__x86_64__) && defined(__SSE2__)
#define TWXML_SIMD_X86 1
// A function that may use AVX2 instructions (and the bit-counting ones every
// AVX2 processor has); called only at Level::Avx2.
#define TWXML_TARGET_AVX2 __attribute__((target("avx2,popcnt,bmi")))
#else
#define TWXML_SIMD_X86 0
#endif

namespace twxml::simd {

enum class Level : uint8_t { Plain = 0, Sse2 = 1, Avx2 = 2 };

namespace detail {
extern std::atomic<int> g_active;  // -1 until first asked
int Detect();
}  // namespace detail

// Whether the sixteen bytes from p lie on p's page (of the smallest page
// size there is): one vector load of them cannot fault, even where the text
// at p ends sooner. The address and thread checkers would still call the
// bytes past its end out of bounds, so a function doing this is exempt.
inline bool SixteenOnOnePage(const void* p) {
  return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16;
}

// The best level here (Plain where no vector kernels are built).
Level Best();

// The level kernels use now: Best() unless a lower one is forced.
inline Level Active() {
  int v = detail::g_active.load(std::memory_order_relaxed);
  if (__builtin_expect(v < 0, 0)) v = detail::Detect();
  return static_cast<Level>(v);
}

// Forces a level, capped at Best(); returns the one in force before. Meant
// for tests and fuzzers: callers that picked their kernels earlier keep them.
Level Force(Level level);

// A kernel table's plain, SSE2 and AVX2 versions (the last two null where
// they are not built): the one for the level.
template <class T>
const T& ForLevel(Level level, const T& plain, const T* sse2, const T* avx2) {
  if (level == Level::Avx2 && avx2) return *avx2;
  if (level != Level::Plain && sse2) return *sse2;
  return plain;
}

// Declares a kernel table type's three versions, kPlain, kSse2 and kAvx2
// (the last two only where they are built), and For(level) picking one.
#if TWXML_SIMD_X86
#define TWXML_SIMD_KERNEL_TABLES(T)                                      \
  extern const T kPlain;                                                 \
  extern const T kSse2;                                                  \
  extern const T kAvx2;                                                  \
  inline const T& For(::twxml::simd::Level level) {                      \
    return ::twxml::simd::ForLevel(level, kPlain, &kSse2, &kAvx2);       \
  }
#else
#define TWXML_SIMD_KERNEL_TABLES(T)                                      \
  extern const T kPlain;                                                 \
  inline const T& For(::twxml::simd::Level level) {                      \
    return ::twxml::simd::ForLevel<T>(level, kPlain, nullptr, nullptr);  \
  }
#endif

}  // namespace twxml::simd
