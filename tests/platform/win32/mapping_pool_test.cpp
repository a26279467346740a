// The pool of kept mappings: which one a user gets, what it still holds,
// and what goes when the pool is over its limit.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>

#include "twxml/platform/mapping_pool.h"
#include "twxml/platform/sanitizer.h"


namespace pool = twxml::win32::pool;

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// Empties a role, so each test starts from a known pool.
void Drain(pool::Role role) {
  size_t bytes = 0, touched = 0;
  while (void* p = pool::Take(role, 0, &bytes, &touched)) munmap(p, bytes);
}

bool Mapped(void* p) {
  unsigned char v;
  return mincore(p, pool::kPage, &v) == 0;
}

TEST(MappingPool, TakesTheSmallestThatFitsOrTheLargestAndKeepsWhatWasWritten) {
  const pool::Role role = pool::kKernelBlocks;
  Drain(role);
  void* a = pool::Map(2 * kMiB);
  void* b = pool::Map(8 * kMiB);
  void* c = pool::Map(4 * kMiB);
  ASSERT_TRUE(a && b && c);
  std::memset(b, 'b', 8 * kMiB);
  const size_t kept = pool::KeptBytes();
  pool::Give(role, a, 2 * kMiB, 0);
  pool::Give(role, b, 8 * kMiB, 8 * kMiB);
  pool::Give(role, c, 4 * kMiB, pool::kResident);  // never written: nothing resident
  EXPECT_EQ(kept + 8 * kMiB, pool::KeptBytes());

  size_t bytes = 0, touched = 0;
  EXPECT_EQ(c, pool::Take(role, 3 * kMiB, &bytes, &touched));  // smallest of at least 3
  EXPECT_EQ(4 * kMiB, bytes);
  pool::Give(role, c, bytes, 0);
  EXPECT_EQ(b, pool::Take(role, 16 * kMiB, &bytes, &touched));  // none fits: the largest
  EXPECT_EQ(8 * kMiB, touched);
  EXPECT_EQ('b', static_cast<char*>(b)[8 * kMiB - 1]);  // the pages kept their bytes
  EXPECT_EQ(c, pool::Take(role, 0, &bytes, &touched));    // 0: the largest left
  EXPECT_EQ(a, pool::Take(role, 0, &bytes, &touched));
  EXPECT_EQ(nullptr, pool::Take(role, 0, &bytes, &touched));
  EXPECT_EQ(kept, pool::KeptBytes());
  for (void* p : {a, b, c}) munmap(p, p == a ? 2 * kMiB : p == b ? 8 * kMiB : 4 * kMiB);
}

TEST(MappingPool, GrowsMovingTheBytesAndRefusesBeyondItsLimit) {
  const pool::Role role = pool::kBuilderText;
  Drain(role);
  size_t bytes = 0, touched = 0;
  void* p = pool::Grow(role, nullptr, &bytes, 100, 1 << 30, &touched);
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(64u << 10, bytes);  // the first size
  std::memset(p, 'x', bytes);
  void* q = pool::Grow(role, p, &bytes, 5 * kMiB, 1 << 30, &touched);
  ASSERT_NE(nullptr, q);
  EXPECT_EQ(8 * kMiB, bytes);  // doubled until it fits
  EXPECT_EQ('x', static_cast<char*>(q)[(64 << 10) - 1]);
  EXPECT_EQ(nullptr, pool::Grow(role, q, &bytes, 9 * kMiB, 8 * kMiB, &touched));
  EXPECT_EQ(8 * kMiB, bytes);  // refused: as it was
  q = pool::Grow(role, q, &bytes, 9 * kMiB, 12 * kMiB, &touched);
  ASSERT_NE(nullptr, q);
  EXPECT_EQ(12 * kMiB, bytes);  // doubling capped at the limit
  pool::Give(role, q, bytes, size_t(64) << 10);
  // The next user of the role starts from the kept mapping.
  size_t bytes2 = 0, touched2 = 0;
  void* r = pool::Grow(role, nullptr, &bytes2, 1000, 1 << 30, &touched2);
  EXPECT_EQ(q, r);
  EXPECT_EQ(12 * kMiB, bytes2);
  EXPECT_EQ(size_t(64) << 10, touched2);
  munmap(r, bytes2);
}

TEST(MappingPool, OverItsLimitTheMappingsKeptLongestGo) {
  // Mappings never written cost no memory; the pool counts what it is told.
  const size_t big = 200 * kMiB;
  for (int r = 0; r < pool::kRoles; ++r) Drain(static_cast<pool::Role>(r));
  void* m[3];
  for (void*& p : m) ASSERT_NE(nullptr, p = pool::Map(big));
  pool::Give(pool::kDomNodes, m[0], big, big);
  pool::Give(pool::kDomText, m[1], big, big);
  EXPECT_EQ(2 * big, pool::KeptBytes());
  pool::Give(pool::kBuilderText, m[2], big, big);  // over the limit: the oldest goes
  EXPECT_FALSE(Mapped(m[0]));
  EXPECT_TRUE(Mapped(m[1]));
  EXPECT_EQ(2 * big, pool::KeptBytes());
  size_t bytes = 0, touched = 0;
  EXPECT_EQ(nullptr, pool::Take(pool::kDomNodes, 0, &bytes, &touched));
  // A role's slots run out before the limit: its own oldest goes.
  Drain(pool::kDomText);
  Drain(pool::kBuilderText);
  void* small[5];
  for (void*& p : small) ASSERT_NE(nullptr, p = pool::Map(kMiB));
  for (void* p : small) pool::Give(pool::kDomInput, p, kMiB, kMiB);
  EXPECT_FALSE(Mapped(small[0]));
  EXPECT_EQ(4 * kMiB, pool::KeptBytes());
  Drain(pool::kDomInput);
  // More than the whole limit is never kept.
  void* huge = pool::Map(3 * big);
  ASSERT_NE(nullptr, huge);
  pool::Give(pool::kDomInput, huge, 3 * big, 3 * big);
  EXPECT_FALSE(Mapped(huge));
  EXPECT_EQ(0u, pool::KeptBytes());
}

#ifdef TWXML_ASAN
// What a user gave back is nobody's: touching it is reported.
TEST(MappingPoolDeathTest, TheAddressCheckerReportsUseOfAKeptMapping) {
  void* p = pool::Map(kMiB);
  ASSERT_NE(nullptr, p);
  pool::Give(pool::kDomText, p, kMiB, 0);
  EXPECT_DEATH(static_cast<volatile char*>(p)[100] = 1, "use-after-poison");
}
#endif

}  // namespace
