// Kernel memory and the buffer check.
//
// SafeChkBufF sits on every handle call, so it must be cheap and must never
// touch the memory it checks. It answers from a cache of the process's
// mappings and their permissions, parsed from /proc/self/maps. An address the
// cache does not know is first confirmed with one msync() (which fails for
// unmapped pages, the usual fate of garbage pointers) and only a mapped one
// triggers a re-read of the table, at most a few hundred times a second.
//
// Mappings can go away after they were cached. Those that rarely do - the
// program's and libraries' own data, [heap] (bounded by the current break),
// [stack], and large anonymous reservations such as allocator arenas and
// thread stacks - are trusted from the cache. Every other mapping (small
// anonymous maps, shared or file-backed maps) is confirmed on every check:
// msync() fails once the pages are unmapped and reading the first and last
// byte through process_vm_readv() fails once they are no longer readable.
// A failed confirmation re-reads the table. Permission changes of a trusted
// region after caching are not seen.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#include "twxml/kernel.h"

namespace {

constexpr uintptr_t kLargeReservation = 4u << 20;
constexpr double kRefreshBurst = 256;       // refreshes allowed back to back
constexpr double kRefreshPerSecond = 1000;  // sustained refresh rate

struct Range {
  uintptr_t start;
  uintptr_t end;
  bool rw;      // readable and writable
  bool verify;  // confirm with msync on every hit
  bool heap;    // bounded by the current program break
};

struct MapLine {
  uintptr_t start;
  uintptr_t end;
  char perms[5];
  std::string path;
};

bool ReadMaps(std::string* text) {
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text->clear();
  char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return !text->empty();
}

bool ParseHex(const char*& p, const char* end, uintptr_t* out) {
  uintptr_t v = 0;
  const char* start = p;
  for (; p < end; ++p) {
    const char c = *p;
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else break;
    v = v * 16 + d;
  }
  *out = v;
  return p != start;
}

// "start-end perms offset dev inode   path"
bool ParseLine(const char* p, const char* end, MapLine* m) {
  if (!ParseHex(p, end, &m->start) || p >= end || *p++ != '-') return false;
  if (!ParseHex(p, end, &m->end) || p >= end || *p++ != ' ') return false;
  if (end - p < 4) return false;
  std::memcpy(m->perms, p, 4);
  m->perms[4] = 0;
  p += 4;
  for (int field = 0; field < 3; ++field) {  // offset, dev, inode
    while (p < end && *p == ' ') ++p;
    while (p < end && *p != ' ') ++p;
  }
  while (p < end && *p == ' ') ++p;
  m->path.assign(p, end);
  return true;
}

bool IsTrustedImage(const MapLine& m) {
  if (m.perms[3] != 'p') return false;
  if (m.path == "[heap]" || m.path == "[stack]") return true;
  if (m.path.empty() || m.path[0] != '/') return false;
  static const char kDeleted[] = " (deleted)";
  const size_t n = sizeof kDeleted - 1;
  return !(m.path.size() >= n && m.path.compare(m.path.size() - n, n, kDeleted) == 0);
}

std::vector<Range> BuildRanges(const std::string& text) {
  std::vector<MapLine> lines;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* lineEnd = nl ? nl : end;
    MapLine m;
    if (ParseLine(p, lineEnd, &m)) lines.push_back(std::move(m));
    p = nl ? nl + 1 : end;
  }
  std::vector<Range> ranges;
  for (size_t k = 0; k < lines.size(); ++k) {
    const MapLine& m = lines[k];
    Range r{m.start, m.end, m.perms[0] == 'r' && m.perms[1] == 'w', false, m.path == "[heap]"};
    if (r.rw && !IsTrustedImage(m)) {
      // Anonymous: trusted when it is (with the reserved, inaccessible rest
      // that follows it, as allocator arenas have) a large reservation.
      uintptr_t reserved = m.end - m.start;
      if (m.path.empty() && k + 1 < lines.size()) {
        const MapLine& next = lines[k + 1];
        if (next.start == m.end && next.path.empty() && next.perms[0] == '-' &&
            next.perms[1] == '-') {
          reserved += next.end - next.start;
        }
      }
      r.verify = !(m.path.empty() && m.perms[3] == 'p' && reserved >= kLargeReservation);
    }
    Range* last = ranges.empty() ? nullptr : &ranges.back();
    if (last && last->end == r.start && last->rw == r.rw && !last->heap && !r.heap) {
      last->end = r.end;  // adjacent and alike: one range, verified if either part is
      last->verify = last->verify || r.verify;
    } else {
      ranges.push_back(r);
    }
  }
  return ranges;
}

// Bumped by every refresh of the mapping table; 0 is never current.
std::atomic<uint64_t> g_generation{1};

// Handle calls check the same few records over and over: each thread keeps
// its last hit, valid until the next refresh, and skips the table and its
// lock. One constant-initialised record in the initial TLS block: no lookup
// function and no guard on this path.
struct LastHit {
  Range range;
  uint64_t generation;
};
thread_local LastHit t_last __attribute__((tls_model("initial-exec"))) = {
    {0, 0, true, false, false}, 0};

class MappingCache {
 public:
  // Yes, or Unknown when the cache cannot vouch for the range.
  enum Answer { Yes, Unknown };

  Answer Check(uintptr_t a, uintptr_t e) {
    if (a >= t_last.range.start && e <= t_last.range.end &&
        t_last.generation == g_generation.load(std::memory_order_acquire)) {
      return Confirm(t_last.range, a, e) ? Yes : Unknown;
    }
    Range hit;
    uint64_t generation;
    {
      std::shared_lock<std::shared_mutex> lock(mutex_);
      if (!Find(a, &hit)) return Unknown;
      generation = g_generation.load(std::memory_order_relaxed);
    }
    // Not (yet) writable may change: allocators reserve inaccessible space and
    // open it up later. Such a range is looked at again like an unknown one.
    if (!hit.rw || e > hit.end) return Unknown;
    t_last.range = hit;
    t_last.generation = generation;
    return Confirm(hit, a, e) ? Yes : Unknown;
  }

  // Re-reads the mappings when the rate limit allows; false otherwise.
  bool Refresh() {
    std::unique_lock<std::shared_mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - lastRefill_).count();
    lastRefill_ = now;
    tokens_ = std::min(kRefreshBurst, tokens_ + elapsed * kRefreshPerSecond);
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    std::string text;
    if (!ReadMaps(&text)) {
      usable_ = false;
      return true;
    }
    ranges_ = BuildRanges(text);
    usable_ = true;
    g_generation.fetch_add(1, std::memory_order_release);
    return true;
  }

  bool Usable() {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return usable_;
  }

 private:
  bool Find(uintptr_t a, Range* out) const {
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), a,
                               [](uintptr_t v, const Range& r) { return v < r.start; });
    if (it == ranges_.begin()) return false;
    --it;
    if (a >= it->end) return false;
    *out = *it;
    return true;
  }

  static bool Confirm(const Range& r, uintptr_t a, uintptr_t e) {
    if (r.heap) {
      const uintptr_t brk = reinterpret_cast<uintptr_t>(sbrk(0));
      if (brk != static_cast<uintptr_t>(-1) && e > brk) return false;
    }
    if (!r.verify) return true;
    return StillMapped(a, e) && Readable(a, e);
  }

  // The first and last byte can be read, asked of the kernel so a fault is
  // an error code. Where the call is not allowed, mapped has to do.
  static bool Readable(uintptr_t a, uintptr_t e) {
    static std::atomic<bool> unavailable{false};
    if (unavailable.load(std::memory_order_relaxed)) return true;
    char sink[2];
    iovec local{sink, 2};
    iovec remote[2] = {{reinterpret_cast<void*>(a), 1}, {reinterpret_cast<void*>(e - 1), 1}};
    const ssize_t n = process_vm_readv(getpid(), &local, 1, remote, 2, 0);
    if (n == 2) return true;
    if (n < 0 && (errno == ENOSYS || errno == EPERM)) {
      unavailable.store(true, std::memory_order_relaxed);
      return true;
    }
    return false;
  }

 public:
  static bool StillMapped(uintptr_t a, uintptr_t e) {
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t from = a & ~(page - 1);
    const uintptr_t to = (e + page - 1) & ~(page - 1);
    return msync(reinterpret_cast<void*>(from), to - from, MS_ASYNC) == 0;
  }

 private:
  std::shared_mutex mutex_;
  std::vector<Range> ranges_;
  bool usable_ = true;
  double tokens_ = kRefreshBurst;
  std::chrono::steady_clock::time_point lastRefill_ = std::chrono::steady_clock::now();
};

MappingCache& Cache() {
  static MappingCache* cache = new MappingCache;  // used until the very end of the process
  return *cache;
}

}  // namespace

extern "C" {

void* MemAllocP(size_t size) { return std::malloc(size ? size : 1); }

int MemFreeF(void* block) {
  std::free(block);
  return TWXML_OK;
}

namespace {

int CheckBuffer(const void* p, size_t size);

}  // namespace

int SafeChkBufF(const void* p, size_t size) {
  // The common case first: inside the thread's last hit, in a range trusted
  // without a system call (the heap still bounded by the current break).
  // Nothing else is touched, errno included.
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  const uintptr_t e = a + size;
  if (p != nullptr && e > a && a >= t_last.range.start && e <= t_last.range.end &&
      !t_last.range.verify && t_last.generation == g_generation.load(std::memory_order_acquire) &&
      (!t_last.range.heap || e <= reinterpret_cast<uintptr_t>(sbrk(0)))) {
    return TWXML_OK;
  }
  const int saved = errno;  // a check leaves the caller's errno alone
  const int rc = CheckBuffer(p, size);
  errno = saved;
  return rc;
}

}  // extern "C"

namespace {

int CheckBuffer(const void* p, size_t size) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  if (p == nullptr) return TWXML_E_HANDLE;
  if (size == 0) return TWXML_OK;
  if (a + size < a) return TWXML_E_HANDLE;  // wraps around the address space
  const uintptr_t e = a + size;
  MappingCache& cache = Cache();
  if (cache.Check(a, e) == MappingCache::Yes) return TWXML_OK;
  // Unmapped (garbage) is settled without re-reading the table; a mapped
  // range the cache cannot vouch for is looked up afresh.
  if (!MappingCache::StillMapped(a, e)) return TWXML_E_HANDLE;
  if (!cache.Usable()) return TWXML_OK;  // no table to read: mapped is all we can know
  if (!cache.Refresh()) return TWXML_E_HANDLE;  // re-read too often just now
  if (!cache.Usable()) return TWXML_OK;
  return cache.Check(a, e) == MappingCache::Yes ? TWXML_OK : TWXML_E_HANDLE;
}

}  // namespace
