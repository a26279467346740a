// Small blocks by size class, each thread keeping a short list of free
// blocks per class: a string or node object made and dropped once per step
// of a walk never reaches the general allocator. A block may be freed on any
// thread; it joins that thread's list (any block of a class serves any
// request of that class), and a full list hands it to free(). Under the
// address sanitizer every block is a plain malloc block, so misuse is seen.
#include <pthread.h>

#include <cstdint>
#include <cstdlib>

#include "twxml/platform/com_internal.h"
#include "twxml/platform/sanitizer.h"

#ifndef TWXML_ASAN

namespace {

constexpr size_t kGrain = 16;
constexpr size_t kClasses = 16;  // blocks up to 256 bytes
constexpr uint32_t kKeep = 32;   // free blocks kept per class and thread

// Plain data, so using it costs no construction check; released by a
// thread-exit hook that runs after the thread's objects are destroyed
// (their destructors may still free blocks, which then go to free()).
struct ThreadBlocks {
  void* head[kClasses];
  uint32_t count[kClasses];
  bool hooked;
  bool gone;
};
thread_local ThreadBlocks t_blocks __attribute__((tls_model("initial-exec"))) = {};

pthread_key_t g_exitKey;
bool g_haveExitKey = false;
pthread_once_t g_exitOnce = PTHREAD_ONCE_INIT;

void ReleaseThreadBlocks(void*) {
  ThreadBlocks& t = t_blocks;
  t.gone = true;
  for (size_t c = 0; c < kClasses; ++c) {
    while (void* b = t.head[c]) {
      t.head[c] = *static_cast<void**>(b);
      std::free(b);
    }
    t.count[c] = 0;
  }
}

void MakeExitKey() { g_haveExitKey = pthread_key_create(&g_exitKey, &ReleaseThreadBlocks) == 0; }

// The exit hook runs only for threads that set a value for the key.
bool Hook(ThreadBlocks& t) {
  pthread_once(&g_exitOnce, &MakeExitKey);
  t.hooked = g_haveExitKey && pthread_setspecific(g_exitKey, &t) == 0;
  return t.hooked;
}

inline size_t ClassOf(size_t size) { return (size - 1) / kGrain; }

}  // namespace

void* TwSmallAlloc(size_t size) {
  if (size == 0) size = 1;
  if (size <= kClasses * kGrain) {
    const size_t c = ClassOf(size);
    ThreadBlocks& t = t_blocks;
    if (void* b = t.head[c]) {
      t.head[c] = *static_cast<void**>(b);
      --t.count[c];
      return b;
    }
    return std::malloc((c + 1) * kGrain);
  }
  return std::malloc(size);
}

void TwSmallFree(void* block, size_t size) {
  if (!block) return;
  if (size == 0) size = 1;
  if (size <= kClasses * kGrain) {
    const size_t c = ClassOf(size);
    ThreadBlocks& t = t_blocks;
    if (t.count[c] < kKeep && !t.gone && (t.hooked || Hook(t))) {
      *static_cast<void**>(block) = t.head[c];
      t.head[c] = block;
      ++t.count[c];
      return;
    }
  }
  std::free(block);
}

#else

void* TwSmallAlloc(size_t size) { return std::malloc(size ? size : 1); }
void TwSmallFree(void* block, size_t) { std::free(block); }

#endif
