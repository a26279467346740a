// Node-store memory: growable arrays in pooled mappings reused across documents.
#include "dom_memory.h"

#include <sys/mman.h>

#include <mutex>

namespace twdom {
namespace pool {

namespace {

// A few mappings per role cover documents loaded one after another and a
// handful at once; the limit bounds what an idle process keeps resident.
constexpr int kSlots = 4;
constexpr size_t kKeepLimit = size_t(256) << 20;

struct Kept {
  void* p;
  size_t bytes;
  size_t touched;
};

// Plain data with constant initialisation: usable from any thread at any
// time, including while the process exits.
std::mutex g_lock;
Kept g_kept[kPoolRoles][kSlots];
size_t g_keptBytes = 0;

}  // namespace

void* Take(PoolRole role, size_t* bytes, size_t* touched) {
  std::lock_guard<std::mutex> hold(g_lock);
  Kept* best = nullptr;
  for (Kept& k : g_kept[role]) {
    if (k.p && (!best || k.bytes > best->bytes)) best = &k;
  }
  if (!best) return nullptr;
  void* p = best->p;
  *bytes = best->bytes;
  *touched = best->touched;
  g_keptBytes -= best->touched;
  *best = Kept{};
  return p;
}

void Give(PoolRole role, void* p, size_t bytes, size_t touched) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_keptBytes + touched <= kKeepLimit) {
      for (Kept& k : g_kept[role]) {
        if (!k.p) {
          k = Kept{p, bytes, touched};
          g_keptBytes += touched;
          return;
        }
      }
    }
  }
  munmap(p, bytes);
}

void* Map(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void* Remap(void* p, size_t oldBytes, size_t newBytes) {
  void* q = mremap(p, oldBytes, newBytes, MREMAP_MAYMOVE);
  return q == MAP_FAILED ? nullptr : q;
}

size_t KeptBytes() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_keptBytes;
}

}  // namespace pool
}  // namespace twdom
