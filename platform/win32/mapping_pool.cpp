// Process-wide pool of mappings reused across documents and buffers.
#include "twxml/platform/mapping_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <mutex>

#include "twxml/platform/sanitizer.h"
#ifdef TWXML_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace twxml::win32::pool {

namespace {

// A few mappings per role cover documents handled one after another and a
// handful at once; the limit bounds what an idle process keeps resident.
constexpr int kSlots = 4;
constexpr size_t kKeepLimit = size_t(512) << 20;
constexpr size_t kFirstMapping = size_t(64) << 10;

struct Kept {
  void* p;
  size_t bytes;
  size_t touched;
  uint64_t stamp;  // when it was given back
};

// Plain data with constant initialisation: usable from any thread at any
// time, including while the process exits.
std::mutex g_lock;
Kept g_kept[kRoles][kSlots];
size_t g_keptBytes = 0;
uint64_t g_stamp = 0;

// The mapping in [from, to) kept longest, or null when all are empty; with
// empty, an empty slot comes first. Under the lock.
Kept* Oldest(Kept* from, Kept* to, bool empty) {
  Kept* oldest = nullptr;
  for (Kept* k = from; k != to; ++k) {
    if (!k->p) {
      if (empty) return k;
    } else if (!oldest || k->stamp < oldest->stamp) {
      oldest = k;
    }
  }
  return oldest;
}

// Takes a kept mapping out of the pool. Under the lock.
Kept Drop(Kept* k) {
  const Kept d = *k;
  g_keptBytes -= d.touched;
  *k = Kept{};
  return d;
}

// The bytes of a mapping that are in memory, asked of the kernel.
size_t Resident(void* p, size_t bytes) {
  unsigned char pages[4096];
  size_t resident = 0;
  for (size_t at = 0; at < bytes; at += sizeof pages * kPage) {
    const size_t n = std::min(sizeof pages, (bytes - at + kPage - 1) / kPage);
    if (mincore(static_cast<char*>(p) + at, n * kPage, pages) != 0) return bytes;
    for (size_t i = 0; i < n; ++i) resident += pages[i] & 1;
  }
  return resident * kPage;
}

// Whether a mapping of size bytes suits better than one of best bytes: the
// smallest that fits, or else the largest.
bool Suits(size_t size, size_t best, size_t fits) {
  if (fits != 0 && best >= fits) return size >= fits && size < best;
  return size > best;
}

// Whether the address checker (when built with it) lets code touch the
// bytes: a kept mapping is nobody's, so any use of it is reported.
void SetUsable(void* p, size_t bytes, bool usable) {
#ifdef TWXML_ASAN
  if (usable)
    ASAN_UNPOISON_MEMORY_REGION(p, bytes);
  else
    ASAN_POISON_MEMORY_REGION(p, bytes);
#else
  (void)p, (void)bytes, (void)usable;
#endif
}

// Grows a mapping, moving it when it must; null when refused (the mapping
// is then as it was).
void* Remap(void* p, size_t oldBytes, size_t newBytes) {
  void* q = mremap(p, oldBytes, newBytes, MREMAP_MAYMOVE);
  return q == MAP_FAILED ? nullptr : q;
}

}  // namespace

void* Take(Role role, size_t fits, size_t* bytes, size_t* touched) {
  Kept k{};
  {
    std::lock_guard<std::mutex> hold(g_lock);
    Kept* best = nullptr;
    for (Kept& c : g_kept[role]) {
      if (c.p && (!best || Suits(c.bytes, best->bytes, fits))) best = &c;
    }
    if (!best) return nullptr;
    k = Drop(best);
  }
  SetUsable(k.p, k.bytes, true);
  *bytes = k.bytes;
  *touched = k.touched;
  return k.p;
}

void Give(Role role, void* p, size_t bytes, size_t touched) {
  if (touched == kResident) touched = Resident(p, bytes);
  if (touched > bytes) touched = bytes;
  // The latest given is the likeliest to be wanted again: it stays, and the
  // oldest kept go (their own role's first) until it fits under the limit.
  Kept gone[kRoles * kSlots + 1];
  int n = 0;
  {
    std::lock_guard<std::mutex> hold(g_lock);
    if (touched <= kKeepLimit) {
      Kept* slot = Oldest(g_kept[role], g_kept[role] + kSlots, true);
      if (slot->p) gone[n++] = Drop(slot);
      while (g_keptBytes + touched > kKeepLimit)
        gone[n++] = Drop(Oldest(&g_kept[0][0], &g_kept[0][0] + kRoles * kSlots, false));
      *slot = Kept{p, bytes, touched, ++g_stamp};
      g_keptBytes += touched;
      SetUsable(p, bytes, false);
    } else {
      gone[n++] = Kept{p, bytes, touched, 0};
    }
  }
  for (int i = 0; i < n; ++i) {
    // The addresses may come back in another mapping.
    SetUsable(gone[i].p, gone[i].bytes, true);
    munmap(gone[i].p, gone[i].bytes);
  }
}

void* Map(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void* Grow(Role role, void* p, size_t* bytes, size_t need, size_t limit, size_t* touched) {
  if (need > limit) return nullptr;
  void* taken = nullptr;
  if (p == nullptr) {
    *bytes = 0;
    taken = Take(role, 0, bytes, touched);
    if (taken != nullptr && *bytes >= need) return taken;
    p = taken;
  }
  size_t want = *bytes ? *bytes : kFirstMapping;
  while (want < need && want <= limit / 2) want *= 2;
  if (want < need || want > limit) want = limit;
  void* q = p ? Remap(p, *bytes, want) : Map(want);
  if (q == nullptr) {
    if (taken != nullptr) Give(role, taken, *bytes, *touched);
    return nullptr;
  }
  *bytes = want;
  return q;
}

void MarkUnused(void* p, size_t bytes) { SetUsable(p, bytes, false); }

size_t KeptBytes() {
  std::lock_guard<std::mutex> hold(g_lock);
  return g_keptBytes;
}

}  // namespace twxml::win32::pool
