// Kernel memory, the buffer check and the string builder.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "twxml/kernel.h"
#include "twxml/platform/mapping_pool.h"

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

TEST(Memory, AllocFreeAndExhaustion) {
  void* p = MemAllocP(0);
  EXPECT_NE(nullptr, p);
  EXPECT_EQ(0, MemFreeF(p));
  EXPECT_EQ(0, MemFreeF(nullptr));
  EXPECT_EQ(nullptr, MemAllocP(~size_t(0) / 2));  // exhausted: null, no fault
  // Only live kernel blocks are freed: twice, or someone else's, is refused.
  void* foreign = std::malloc(16);
  EXPECT_EQ(44, MemFreeF(foreign));
  std::free(foreign);
  char stack[16];
  EXPECT_EQ(44, MemFreeF(stack));
  p = MemAllocP(32);
  EXPECT_EQ(0, MemFreeF(p));
  EXPECT_EQ(44, MemFreeF(p));
}

TEST(SafeChk, LiveMemoryFromEveryKindOfStorageAndThread) {
  char stack[64] = {};
  static char global[128];
  std::unique_ptr<char[]> small(new char[24]);
  std::vector<char> large(8 << 20);  // a mapping of its own
  EXPECT_EQ(0, SafeChkBufF(stack, sizeof stack));
  EXPECT_EQ(0, SafeChkBufF(stack, 0));
  EXPECT_EQ(0, SafeChkBufF(global, sizeof global));
  EXPECT_EQ(0, SafeChkBufF(small.get(), 24));
  EXPECT_EQ(0, SafeChkBufF(large.data(), large.size()));
  // Many threads at once, each checking its own heap blocks and garbage.
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i) {
        void* p = MemAllocP(static_cast<size_t>(16 + (i % 7) * 100));
        if (SafeChkBufF(p, 16) != 0) ++wrong;
        if (SafeChkBufF(reinterpret_cast<void*>(uintptr_t(0x100 + t)), 4) == 0) ++wrong;
        MemFreeF(p);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, wrong.load());
  void* other = nullptr;  // another thread's heap
  std::thread([&other] { other = MemAllocP(64); }).join();
  EXPECT_EQ(0, SafeChkBufF(other, 64));
  MemFreeF(other);
}

TEST(SafeChk, RefusesNullGarbageReadOnlyAndUnmappedMemory) {
  EXPECT_NE(0, SafeChkBufF(nullptr, 1));
  EXPECT_NE(0, SafeChkBufF(nullptr, 0));
  for (uintptr_t g : {uintptr_t(1), uintptr_t(0xFFF), uintptr_t(0x1000), uintptr_t(0xdeadbeef00ull),
                      uintptr_t(0x7fffffffffffull), ~uintptr_t(0) - 8, uintptr_t(0xffffffffff600000ull)}) {
    EXPECT_NE(0, SafeChkBufF(reinterpret_cast<void*>(g), 8)) << std::hex << g;
  }
  char stack[16] = {};
  EXPECT_NE(0, SafeChkBufF(stack, ~size_t(0)));  // wraps around
  EXPECT_NE(0, SafeChkBufF("literal text in a read-only segment", 8));
  void* ro = mmap(nullptr, kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, ro);
  EXPECT_NE(0, SafeChkBufF(ro, 8));
  munmap(ro, kPage);
  // A private page between inaccessible guards, checked, then unmapped.
  char* region = static_cast<char*>(
      mmap(nullptr, 3 * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, static_cast<void*>(region));
  ASSERT_EQ(0, mprotect(region + kPage, kPage, PROT_READ | PROT_WRITE));
  EXPECT_EQ(0, SafeChkBufF(region + kPage, kPage));
  EXPECT_NE(0, SafeChkBufF(region, 8));
  EXPECT_NE(0, SafeChkBufF(region + kPage + 8, kPage));  // runs into the guard
  munmap(region + kPage, kPage);
  EXPECT_NE(0, SafeChkBufF(region + kPage, 8));
  munmap(region, 3 * kPage);
  // Shared mappings are checked too.
  char* shared = static_cast<char*>(
      mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, static_cast<void*>(shared));
  EXPECT_EQ(0, SafeChkBufF(shared, kPage));
  munmap(shared, kPage);
  EXPECT_NE(0, SafeChkBufF(shared, 16));
}

TEST(StringBuilder, GrowsAcrossManyAppendsAndKeepsZeroBytes) {
  StringBuilder sb(16);
  std::string expect;
  for (int i = 0; i < 80000; ++i) {  // from the heap into a mapping on the way
    std::string piece(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
    piece += std::to_string(i);
    ASSERT_EQ(0, sb.Append(piece.data(), static_cast<unsigned>(piece.size())));
    expect += piece;
  }
  EXPECT_EQ(expect, std::string(sb.GetData(), sb.GetLength()));
  char* text = sb.AllocText(true);
  EXPECT_EQ(expect, std::string(text));
  MemFreeF(text);

  StringBuilder z(0);  // no initial storage at all
  ASSERT_EQ(0, z.Append("a\0b", 3));
  text = z.AllocText(true);
  EXPECT_EQ(0, std::memcmp(text, "a\0b\0", 4));  // terminated after the zero byte
  MemFreeF(text);
  EXPECT_EQ(0, z.Append(nullptr, 0));
  EXPECT_NE(0, z.Append(nullptr, 5));
  EXPECT_EQ(3u, z.GetLength());
  z.Clear();
  text = z.AllocText(true);
  EXPECT_STREQ("", text);
  MemFreeF(text);
  std::unique_ptr<StringBuilder> owned(new StringBuilder(32768));  // virtual destructor
  owned->Append("x", 1);
  StringBuilder large(3 << 20);  // a mapping from the start
  ASSERT_EQ(0, large.Append(expect.data(), static_cast<unsigned>(expect.size())));
  EXPECT_EQ(expect, std::string(large.GetData(), large.GetLength()));
}

// Large blocks and large builders live in mappings that the next one of
// their kind takes over, pages and all.
TEST(Memory, LargeBlocksAndBuildersReuseTheirMappings) {
  namespace pool = twxml::win32::pool;
  for (pool::Role role : {pool::kKernelBlocks, pool::kBuilderText}) {
    size_t bytes = 0, touched = 0;
    while (void* p = pool::Take(role, 0, &bytes, &touched)) munmap(p, bytes);
  }
  const size_t n = 3 << 20;
  char* p = static_cast<char*>(MemAllocP(n));
  ASSERT_NE(nullptr, p);
  std::memset(p, 'x', n);
  EXPECT_EQ(0, SafeChkBufF(p, n));
  EXPECT_EQ(0, MemFreeF(p));
  EXPECT_EQ(44, MemFreeF(p));
  char* q = static_cast<char*>(MemAllocP(n - 100));
  EXPECT_EQ(p, q);
  EXPECT_EQ(0, MemFreeF(q));

  const std::string chunk(250000, 'c');
  const char* first = nullptr;
  {
    StringBuilder a(32768);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(0, a.Append(chunk.data(), 250000));
    first = a.GetData();
  }
  StringBuilder b(32768);
  for (int i = 0; i < 12; ++i) ASSERT_EQ(0, b.Append(chunk.data(), 250000));
  EXPECT_EQ(first, b.GetData());
  EXPECT_EQ(std::string(3000000, 'c'), std::string(b.GetData(), b.GetLength()));
}

}  // namespace
