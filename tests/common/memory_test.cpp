// Kernel memory and the buffer check.
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

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

TEST(Memory, AllocAndFree) {
  void* p = MemAllocP(100);
  ASSERT_NE(nullptr, p);
  std::memset(p, 0xAB, 100);
  EXPECT_EQ(0, MemFreeF(p));
  p = MemAllocP(0);
  EXPECT_NE(nullptr, p);
  EXPECT_EQ(0, MemFreeF(p));
  EXPECT_EQ(0, MemFreeF(nullptr));
  EXPECT_EQ(nullptr, MemAllocP(~size_t(0) / 2));  // exhausted: null, no fault
}

TEST(SafeChk, AcceptsLiveMemory) {
  char stack[64] = {};
  EXPECT_EQ(0, SafeChkBufF(stack, sizeof stack));
  static char global[128];
  EXPECT_EQ(0, SafeChkBufF(global, sizeof global));
  std::unique_ptr<char[]> small(new char[24]);
  EXPECT_EQ(0, SafeChkBufF(small.get(), 24));
  std::vector<char> large(8 << 20);  // a mapping of its own
  EXPECT_EQ(0, SafeChkBufF(large.data(), large.size()));
  void* block = MemAllocP(48);
  EXPECT_EQ(0, SafeChkBufF(block, 48));
  MemFreeF(block);
  // Memory of another thread's heap.
  void* other = nullptr;
  std::thread([&other] { other = MemAllocP(64); }).join();
  EXPECT_EQ(0, SafeChkBufF(other, 64));
  MemFreeF(other);
  EXPECT_EQ(0, SafeChkBufF(stack, 0));
}

TEST(SafeChk, RefusesBadAddresses) {
  EXPECT_NE(0, SafeChkBufF(nullptr, 1));
  EXPECT_NE(0, SafeChkBufF(nullptr, 0));
  const uintptr_t garbage[] = {1, 0x10, 0xFFF, 0x1000, 0xdeadbeef00ull, 0x7fffffffffffull,
                               ~uintptr_t(0) - 8, 0xffffffffff600000ull};
  for (uintptr_t g : garbage) {
    EXPECT_NE(0, SafeChkBufF(reinterpret_cast<void*>(g), 8)) << std::hex << g;
  }
  char stack[16] = {};
  EXPECT_NE(0, SafeChkBufF(stack, ~size_t(0)));  // wraps around
  // Read-only memory: a string literal and a read-only mapping.
  EXPECT_NE(0, SafeChkBufF("literal text in a read-only segment", 8));
  void* ro = mmap(nullptr, kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, ro);
  EXPECT_NE(0, SafeChkBufF(ro, 8));
  munmap(ro, kPage);
}

TEST(SafeChk, SeesUnmappedMemory) {
  // A shared mapping followed by an inaccessible page, checked, then unmapped.
  char* space = static_cast<char*>(
      mmap(nullptr, 3 * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, static_cast<void*>(space));
  char* shared = static_cast<char*>(mmap(space, 2 * kPage, PROT_READ | PROT_WRITE,
                                         MAP_SHARED | MAP_ANONYMOUS | MAP_FIXED, -1, 0));
  ASSERT_EQ(space, shared);
  EXPECT_EQ(0, SafeChkBufF(shared, 2 * kPage));
  EXPECT_NE(0, SafeChkBufF(shared + kPage, kPage + 1));  // runs into the guard
  munmap(space + 2 * kPage, kPage);
  munmap(shared, 2 * kPage);
  EXPECT_NE(0, SafeChkBufF(shared, 16));

  // A private page between inaccessible guards, checked, then unmapped.
  char* region = static_cast<char*>(
      mmap(nullptr, 3 * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(MAP_FAILED, static_cast<void*>(region));
  ASSERT_EQ(0, mprotect(region + kPage, kPage, PROT_READ | PROT_WRITE));
  EXPECT_EQ(0, SafeChkBufF(region + kPage, kPage));
  EXPECT_NE(0, SafeChkBufF(region, 8));
  EXPECT_NE(0, SafeChkBufF(region + kPage + 8, kPage));
  munmap(region + kPage, kPage);
  EXPECT_NE(0, SafeChkBufF(region + kPage, 8));
  munmap(region, 3 * kPage);
}

TEST(SafeChk, ManyThreadsAtOnce) {
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
}

TEST(StringBuilder, GrowsAcrossManyAppends) {
  StringBuilder sb(16);
  std::string expect;
  for (int i = 0; i < 20000; ++i) {
    std::string piece(static_cast<size_t>(i % 37), static_cast<char>('a' + i % 26));
    piece += std::to_string(i);
    ASSERT_EQ(0, sb.Append(piece.data(), static_cast<unsigned>(piece.size())));
    expect += piece;
  }
  EXPECT_EQ(expect.size(), sb.GetLength());
  EXPECT_EQ(0, std::memcmp(expect.data(), sb.GetData(), expect.size()));
  char* text = sb.AllocText(true);
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(expect, std::string(text));
  MemFreeF(text);

  // Embedded zero bytes are kept; the copy is still terminated after them.
  StringBuilder z(32768);
  ASSERT_EQ(0, z.Append("a\0b", 3));
  EXPECT_EQ(3u, z.GetLength());
  text = z.AllocText(true);
  EXPECT_EQ(0, std::memcmp(text, "a\0b\0", 4));
  MemFreeF(text);
  EXPECT_EQ(0, z.Append(nullptr, 0));
  EXPECT_NE(0, z.Append(nullptr, 5));
  EXPECT_EQ(3u, z.GetLength());
  z.Clear();
  EXPECT_EQ(0u, z.GetLength());
  text = z.AllocText(true);
  EXPECT_STREQ("", text);
  MemFreeF(text);

  StringBuilder empty(0);  // no initial storage at all
  EXPECT_EQ(0, empty.Append("xyz", 3));
  EXPECT_EQ(std::string("xyz"), std::string(empty.GetData(), empty.GetLength()));
  // Deleting through the virtual destructor.
  std::unique_ptr<StringBuilder> owned(new StringBuilder(32768));
  owned->Append("x", 1);
}

}  // namespace
