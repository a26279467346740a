// Kernel memory and the buffer check.
//
// Every block of MemAllocP is entered in the kernel's registry of live blocks
// (block_registry.cpp), so the buffer check answers for the kernel's own
// blocks - handle records above all, checked on every handle call - without
// a system call and without touching the memory. Any other pointer gets a
// fresh look at the process's mappings, read from /proc/self/maps at the
// time of the call: nothing about mappings is cached, because mappings come
// and go (a freed large block, an unmapped region) and a cached view would
// either refuse memory it has not seen yet or vouch for memory that is gone.
// That look costs a file read; callers pass such pointers rarely.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include "block_registry.h"
#include "twxml/kernel.h"
#include "twxml/platform/mapping_pool.h"

namespace {

using twxml::kernel::BlockKind;

bool ParseHex(const char*& p, const char* end, uintptr_t* out) {
  uintptr_t v = 0;
  const char* start = p;
  for (; p < end; ++p) {
    const char c = *p;
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else break;
    v = v * 16 + d;
  }
  *out = v;
  return p != start;
}

enum class Verdict { Yes, No, Unknown };

// Walks the mapping table line by line ("start-end perms ..."): Yes when
// [a, e) lies in mappings that follow one another without a gap and are all
// readable and writable. Unknown when the table cannot be read.
Verdict MappedReadWrite(uintptr_t a, uintptr_t e) {
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Verdict::Unknown;
  char buf[8192];
  size_t have = 0;
  bool skipping = false;  // inside a line longer than the buffer
  uintptr_t covered = a;
  Verdict verdict = Verdict::No;
  bool done = false, readAny = false;
  while (!done) {
    const ssize_t n = ::read(fd, buf + have, sizeof buf - have);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    readAny = true;
    have += static_cast<size_t>(n);
    const char* p = buf;
    const char* end = buf + have;
    while (!done) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      if (nl == nullptr) break;
      if (skipping) {
        skipping = false;
        p = nl + 1;
        continue;
      }
      uintptr_t start = 0, stop = 0;
      const char* q = p;
      if (ParseHex(q, nl, &start) && q < nl && *q++ == '-' && ParseHex(q, nl, &stop) &&
          nl - q >= 3 && *q++ == ' ' && stop > covered) {
        if (start > covered || q[0] != 'r' || q[1] != 'w') {
          done = true;  // a gap or a page that is not read-write
        } else {
          covered = stop;
          if (covered >= e) {
            verdict = Verdict::Yes;
            done = true;
          }
        }
      }
      p = nl + 1;
    }
    have = static_cast<size_t>(end - p);
    if (have == sizeof buf) {  // one line fills the buffer: its start is all we need
      skipping = true;
      have = 0;
    }
    std::memmove(buf, p, have);
  }
  ::close(fd);
  return readAny ? verdict : Verdict::Unknown;
}

// Without the mapping table: mapped (msync fails on unmapped pages) and the
// first and last byte readable (asked of the kernel, so a fault is an error
// code). Writability cannot be told this way.
bool MappedAndReadable(uintptr_t a, uintptr_t e) {
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t from = a & ~(page - 1);
  const uintptr_t to = (e + page - 1) & ~(page - 1);
  if (msync(reinterpret_cast<void*>(from), to - from, MS_ASYNC) != 0) return false;
  char sink[2];
  iovec local{sink, 2};
  iovec remote[2] = {{reinterpret_cast<void*>(a), 1}, {reinterpret_cast<void*>(e - 1), 1}};
  const ssize_t n = process_vm_readv(getpid(), &local, 1, remote, 2, 0);
  return n == 2 || (n < 0 && (errno == ENOSYS || errno == EPERM));
}

int CheckBuffer(const void* p, size_t size) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  if (p == nullptr) return TWXML_E_HANDLE;
  if (size == 0) return TWXML_OK;
  if (a + size < a) return TWXML_E_HANDLE;  // wraps around the address space
  const uintptr_t e = a + size;
  switch (MappedReadWrite(a, e)) {
    case Verdict::Yes: return TWXML_OK;
    case Verdict::No: return TWXML_E_HANDLE;
    case Verdict::Unknown: break;
  }
  return MappedAndReadable(a, e) ? TWXML_OK : TWXML_E_HANDLE;
}

namespace pool = twxml::win32::pool;

// A large block is a pooled mapping, registered with the mapping's size (so
// every registered size from pool::kLarge on is one): texts handed out one
// after another reuse the pages the last one faulted in.
void* MapBlock(size_t size) {
  if (size > SIZE_MAX - pool::kPage) return nullptr;
  const size_t want = (size + pool::kPage - 1) & ~(pool::kPage - 1);
  // The smallest kept mapping that fits is handed out whole, so a buffer that
  // grows by new blocks finds its earlier sizes again; one too small grows to
  // exactly the size, and without any a fresh one is made.
  size_t bytes = 0, touched = 0;
  void* p = pool::Take(pool::kKernelBlocks, want, &bytes, &touched);
  if (p == nullptr || bytes < want) {
    void* grown = pool::Grow(pool::kKernelBlocks, p, &bytes, want, want, &touched);
    if (grown == nullptr && p != nullptr) pool::Give(pool::kKernelBlocks, p, bytes, touched);
    p = grown;
  }
  if (p == nullptr) return nullptr;
  if (!twxml::kernel::RegisterBlock(p, bytes)) {
    pool::Give(pool::kKernelBlocks, p, bytes, pool::kResident);
    return nullptr;
  }
  pool::MarkUnused(static_cast<char*>(p) + size, bytes - size);
  return p;
}

}  // namespace

extern "C" {

void* MemAllocP(size_t size) {
  if (size >= pool::kLarge) return MapBlock(size);
  void* block = std::malloc(size ? size : 1);
  if (block == nullptr) return nullptr;
  if (twxml::kernel::RegisterBlock(block, size)) return block;
  std::free(block);  // the registry could not grow: as good as exhausted
  return nullptr;
}

int MemFreeF(void* block) {
  if (block == nullptr) return TWXML_OK;
  // Only the kernel's own live blocks are freed: a stale or foreign pointer
  // is refused instead of corrupting the heap.
  size_t size = 0;
  if (!twxml::kernel::UnregisterBlock(block, &size)) return TWXML_E_HANDLE;
  if (size >= pool::kLarge)
    pool::Give(pool::kKernelBlocks, block, size, pool::kResident);
  else
    std::free(block);
  return TWXML_OK;
}

int SafeChkBufF(const void* p, size_t size) {
  BlockKind kind;
  if (twxml::kernel::FindBlock(p, size, &kind)) return TWXML_OK;  // a live kernel block
  const int saved = errno;  // a check leaves the caller's errno alone
  const int rc = CheckBuffer(p, size);
  errno = saved;
  return rc;
}

}  // extern "C"
