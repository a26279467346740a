// The stream adapter between KxStream and the DOM's COM streams: the content
// both ways, failures at every step and how far the bytes got.
#include <gtest/gtest.h>

#include "fakes.h"
#include "persist_stream.h"

using dom_test::Bytes;

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

}  // namespace

// Content that loads and saves whole: the document tests' documents.
TEST(PersistToStream, ContentSizeAndSizeMax) {
  // Save reads GetContentSizeUl bytes; the size announced up front is
  // GetSizeUl (null: E_FAIL).
  Bytes source(Pattern(2000)), target;
  source.contentSize = 1500;
  KxPersistToStream adapter(&source);
  ULARGE_INTEGER size{};
  EXPECT_EQ(adapter.GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 2000u);
  EXPECT_EQ(adapter.GetSizeMax(nullptr), E_FAIL);
  EXPECT_EQ(adapter.Save(&target, FALSE), S_OK);
  EXPECT_EQ(target.data, source.data.substr(0, 1500));
}

TEST(PersistToStream, SaveAndLoadFailures) {
  // Which fault is set on the KxStream (kx) or COM stream (com), and what
  // reached the far side before the adapter gave up.
  enum Fault { kNone, kFailRead, kShortRead, kFailWrite, kShortWrite, kStat, kWriteSFalse };
  const struct {
    bool save;
    Fault kxFault, comFault;
    int at;
    HRESULT result;
    size_t moved, reads, writes;
  } cases[] = {
      {true, kFailRead, kNone, 2, E_FAIL, 1024, 2, 1},     // ReadF fails on the second chunk
      {true, kNone, kFailWrite, 2, E_FAIL, 1024, 2, 2},    // the Write code is not passed on
      {true, kNone, kShortWrite, 1, E_FAIL, 1023, 1, 1},   // a short write is a failure
      {true, kNone, kWriteSFalse, 0, S_OK, 3000, 3, 3},    // S_FALSE with the full count is success
      {false, kNone, kStat, 0, E_FAIL, 0, 0, 0},           // Stat fails: nothing read
      {false, kNone, kShortRead, 2, E_FAIL, 1024, 2, 1},   // a short chunk never reaches WriteF
      {false, kNone, kFailRead, 1, E_FAIL, 0, 1, 0},
      {false, kFailWrite, kNone, 2, E_FAIL, 1024, 2, 2},   // the first chunk stays written
  };
  auto apply = [](Bytes& s, Fault f, int at) {
    if (f == kFailRead) s.failReadAt = at;
    if (f == kShortRead) s.shortReadAt = at;
    if (f == kFailWrite) s.failWriteAt = at;
    if (f == kShortWrite) s.shortWriteAt = at;
    if (f == kStat) s.statResult = STG_E_ACCESSDENIED;
    if (f == kWriteSFalse) s.writeResult = S_FALSE;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.save << " " << c.kxFault << " " << c.comFault);
    Bytes kx(c.save ? Pattern(3000) : ""), com(c.save ? "" : Pattern(3000));
    apply(kx, c.kxFault, c.at);
    apply(com, c.comFault, c.at);
    KxPersistToStream adapter(&kx);
    EXPECT_EQ(c.save ? adapter.Save(&com, TRUE) : adapter.Load(&com), c.result);
    const Bytes& from = c.save ? kx : com;
    const Bytes& to = c.save ? com : kx;
    EXPECT_EQ(to.data, Pattern(3000).substr(0, c.moved));
    EXPECT_EQ(from.readSizes.size(), c.reads);
    EXPECT_EQ(to.writeSizes.size(), c.writes);
  }
  // Only the low 32 bits of a stream's size count: 4 GiB + 10 moves 10,
  // exactly 4 GiB nothing.
  for (long long size : {(1ll << 32) + 10, 1ll << 32}) {
    Bytes source(Pattern(10)), target;
    source.reportedSize = size;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), S_OK);
    EXPECT_EQ(target.data, size & 0xFFFFFFFF ? source.data : "");
  }
}
