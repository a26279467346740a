// Registry of the kernel allocator's live blocks.
//
// Handle calls ask it on every call, from any thread, so a look-up takes no
// lock: each shard is an open-addressing table (linear probing) read with
// atomic loads and changed only under the shard's mutex. A look-up that
// misses, which may be a move racing with it, asks again under the mutex, so
// a live block is never reported missing. Deletion shifts later entries back
// instead of leaving tombstones, so a table never fills with dead entries
// and grows only with the number of live blocks. A grown-out table stays
// allocated (readers may still be in it); their sizes halve going back, so
// together they take no more than the current one.
#include "block_registry.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <type_traits>

namespace twxml::kernel {
namespace {

constexpr unsigned kShardBits = 4;
constexpr size_t kInitialSlots = 64;

struct Slot {
  std::atomic<uintptr_t> key{0};   // block address; 0 = empty
  std::atomic<uint64_t> info{0};   // size << 8 | kind
};

struct Table {
  size_t mask;
  unsigned shift;  // 64 - log2(slots)
  Table* retired;  // the table this one replaced
  Slot* slots;
};

inline size_t Home(uintptr_t key, unsigned shift) {
  return static_cast<size_t>((key >> 4) * 0x9E3779B97F4A7C15ull >> shift);
}

inline uint64_t Info(size_t size, BlockKind kind) {
  return static_cast<uint64_t>(size) << 8 | static_cast<uint8_t>(kind);
}

Table* NewTable(size_t slots, Table* retired) {
  void* mem = std::calloc(1, sizeof(Table) + slots * sizeof(Slot));
  if (mem == nullptr) return nullptr;
  auto* t = static_cast<Table*>(mem);
  t->mask = slots - 1;
  t->shift = 64 - static_cast<unsigned>(__builtin_ctzll(slots));
  t->retired = retired;
  // calloc's zero bytes are empty slots: atomics of integral type are
  // represented by their value.
  t->slots = reinterpret_cast<Slot*>(t + 1);
  return t;
}

class Shard {
 public:
  bool Insert(uintptr_t key, uint64_t info) {
    std::lock_guard<std::mutex> lock(mutex_);
    Table* t = table_.load(std::memory_order_relaxed);
    if (t == nullptr || (count_ + 1) * 2 > t->mask + 1) {
      t = Grow(t);
      if (t == nullptr) return false;
    }
    size_t i = Home(key, t->shift);
    while (t->slots[i].key.load(std::memory_order_relaxed) != 0) i = (i + 1) & t->mask;
    t->slots[i].info.store(info, std::memory_order_relaxed);
    t->slots[i].key.store(key, std::memory_order_release);
    ++count_;
    return true;
  }

  bool Erase(uintptr_t key, uint64_t* info) {
    std::lock_guard<std::mutex> lock(mutex_);
    Table* t = table_.load(std::memory_order_relaxed);
    size_t i;
    if (!Locate(t, key, &i)) return false;
    *info = t->slots[i].info.load(std::memory_order_relaxed);
    // Backward shift: move each later entry of the run that may sit in the
    // hole (its home is not in (hole, position]) into it.
    for (size_t j = (i + 1) & t->mask;; j = (j + 1) & t->mask) {
      const uintptr_t k = t->slots[j].key.load(std::memory_order_relaxed);
      if (k == 0) break;
      const size_t home = Home(k, t->shift);
      const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
      if (stays) continue;
      t->slots[i].info.store(t->slots[j].info.load(std::memory_order_relaxed),
                             std::memory_order_relaxed);
      t->slots[i].key.store(k, std::memory_order_release);
      i = j;
    }
    t->slots[i].key.store(0, std::memory_order_release);
    --count_;
    return true;
  }

  bool Mark(uintptr_t key, BlockKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    Table* t = table_.load(std::memory_order_relaxed);
    size_t i;
    if (!Locate(t, key, &i)) return false;
    const uint64_t info = t->slots[i].info.load(std::memory_order_relaxed);
    t->slots[i].info.store((info & ~uint64_t(0xFF)) | static_cast<uint8_t>(kind),
                           std::memory_order_release);
    return true;
  }

  __attribute__((always_inline)) bool Find(uintptr_t key, uint64_t* info) {
    if (__builtin_expect(FindUnlocked(table_.load(std::memory_order_acquire), key, info), 1))
      return true;
    return FindLocked(key, info);
  }

 private:
  __attribute__((noinline)) bool FindLocked(uintptr_t key, uint64_t* info) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t i;
    Table* t = table_.load(std::memory_order_relaxed);
    if (!Locate(t, key, &i)) return false;
    *info = t->slots[i].info.load(std::memory_order_relaxed);
    return true;
  }

  __attribute__((always_inline)) static bool FindUnlocked(const Table* t, uintptr_t key, uint64_t* info) {
    if (t == nullptr) return false;
    size_t i = Home(key, t->shift);
    for (size_t n = 0; n <= t->mask; ++n, i = (i + 1) & t->mask) {
      const Slot& s = t->slots[i];
      const uintptr_t k = s.key.load(std::memory_order_acquire);
      if (k == 0) return false;
      if (k != key) continue;
      const uint64_t v = s.info.load(std::memory_order_acquire);
      // Still ours after reading the info: not an entry moved in between.
      if (s.key.load(std::memory_order_acquire) != key) return false;
      *info = v;
      return true;
    }
    return false;
  }

  // Under the mutex: the slot holding key.
  static bool Locate(const Table* t, uintptr_t key, size_t* at) {
    if (t == nullptr || key == 0) return false;
    size_t i = Home(key, t->shift);
    for (;; i = (i + 1) & t->mask) {
      const uintptr_t k = t->slots[i].key.load(std::memory_order_relaxed);
      if (k == 0) return false;
      if (k == key) {
        *at = i;
        return true;
      }
    }
  }

  Table* Grow(Table* old) {
    const size_t slots = old == nullptr ? kInitialSlots : (old->mask + 1) * 2;
    Table* t = NewTable(slots, old);
    if (t == nullptr) return nullptr;
    if (old != nullptr) {
      for (size_t j = 0; j <= old->mask; ++j) {
        const uintptr_t k = old->slots[j].key.load(std::memory_order_relaxed);
        if (k == 0) continue;
        size_t i = Home(k, t->shift);
        while (t->slots[i].key.load(std::memory_order_relaxed) != 0) i = (i + 1) & t->mask;
        t->slots[i].info.store(old->slots[j].info.load(std::memory_order_relaxed),
                               std::memory_order_relaxed);
        t->slots[i].key.store(k, std::memory_order_relaxed);
      }
    }
    table_.store(t, std::memory_order_release);
    return t;
  }

  std::mutex mutex_;
  std::atomic<Table*> table_{nullptr};
  size_t count_ = 0;
};

// Built before any code runs and never torn down (nothing to destroy), so
// blocks freed while the process exits still find it, and a look-up needs
// no first-use check.
static_assert(std::is_trivially_destructible_v<Shard>);
constinit Shard g_shards[1u << kShardBits];

inline Shard& ShardOf(uintptr_t key) {
  return g_shards[(key >> 4) * 0xC2B2AE3D27D4EB4Full >> (64 - kShardBits)];
}

}  // namespace

bool RegisterBlock(void* p, size_t size) {
  const auto key = reinterpret_cast<uintptr_t>(p);
  return key != 0 && ShardOf(key).Insert(key, Info(size, BlockKind::Plain));
}

// Handle calls check the same record over and over: each thread keeps the
// tagged block it last found, valid until any tagged block goes (closing a
// handle is rare next to the calls made on one). Constant-initialised, in the
// initial TLS block: no look-up function and no guard on this path.
std::atomic<uint64_t> g_taggedGone{0};
struct LastFound {
  uintptr_t key;
  uint64_t info;
  uint64_t generation;
};
thread_local LastFound t_last __attribute__((tls_model("initial-exec"))) = {0, 0, 0};

bool UnregisterBlock(const void* p, size_t* size) {
  const auto key = reinterpret_cast<uintptr_t>(p);
  uint64_t info = 0;
  if (key == 0 || !ShardOf(key).Erase(key, &info)) return false;
  // Before the block can be reused: every thread's remembered one is void.
  if ((info & 0xFF) != 0) g_taggedGone.fetch_add(1, std::memory_order_acq_rel);
  if (size != nullptr) *size = static_cast<size_t>(info >> 8);
  return true;
}

bool MarkBlock(const void* p, BlockKind kind) {
  const auto key = reinterpret_cast<uintptr_t>(p);
  if (key == 0 || !ShardOf(key).Mark(key, kind)) return false;
  g_taggedGone.fetch_add(1, std::memory_order_acq_rel);  // a remembered kind may change
  return true;
}

namespace {

// Out of line, so the remembered case saves no registers.
__attribute__((noinline)) bool FindAndRemember(uintptr_t key, uint64_t generation, uint64_t* info) {
  if (key == 0 || !ShardOf(key).Find(key, info)) return false;
  // Only tagged blocks are remembered: a plain block's going is not
  // counted, and it could come back tagged.
  if ((*info & 0xFF) != 0) t_last = {key, *info, generation};
  return true;
}

}  // namespace

bool FindBlock(const void* p, size_t size, BlockKind* kind) {
  const auto key = reinterpret_cast<uintptr_t>(p);
  uint64_t info;
  const uint64_t generation = g_taggedGone.load(std::memory_order_acquire);
  if (key != 0 && key == t_last.key && generation == t_last.generation) {
    info = t_last.info;
  } else if (!FindAndRemember(key, generation, &info)) {
    return false;
  }
  if ((info >> 8) < size) return false;
  *kind = static_cast<BlockKind>(info & 0xFF);
  return true;
}

}  // namespace twxml::kernel
