// The stream adapter between KxStream and the DOM's COM streams: chunking,
// failures at every step, and its small COM surface.
#include <gtest/gtest.h>

#include <numeric>

#include "fakes.h"
#include "persist_stream.h"

using dom_test::FakeIStream;
using dom_test::FakeKxStream;

namespace {

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
  return s;
}

}  // namespace

TEST(PersistToStream, SaveMovesTheKxStreamInChunksOf1024) {
  // Sizes around the chunk boundary, table-driven.
  const struct {
    size_t size;
    std::vector<ULONG> chunks;
  } cases[] = {
      {0, {}},
      {1, {1}},
      {1023, {1023}},
      {1024, {1024}},
      {1025, {1024, 1}},
      {3000, {1024, 1024, 952}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    FakeKxStream source(Pattern(c.size));
    FakeIStream target;
    KxPersistToStream adapter(&source);
    EXPECT_EQ(adapter.Save(&target, TRUE), S_OK);
    EXPECT_EQ(target.writeSizes, c.chunks);
    EXPECT_EQ(std::vector<ULONG>(source.readSizes.begin(), source.readSizes.end()), c.chunks);
    EXPECT_EQ(target.data, source.data);
  }
}

TEST(PersistToStream, SaveAsksForTheContentSize) {
  // GetContentSizeUl, not GetSizeUl, bounds what is read.
  FakeKxStream source(Pattern(2000));
  source.contentSizeOverride = 1500;
  FakeIStream target;
  KxPersistToStream adapter(&source);
  EXPECT_EQ(adapter.Save(&target, FALSE), S_OK);
  EXPECT_EQ(target.data, source.data.substr(0, 1500));
}

TEST(PersistToStream, SaveFailures) {
  {
    // ReadF fails on the second chunk: exactly one chunk reached the target.
    FakeKxStream source(Pattern(3000));
    source.failReadAt = 2;
    FakeIStream target;
    KxPersistToStream adapter(&source);
    EXPECT_EQ(adapter.Save(&target, TRUE), E_FAIL);
    EXPECT_EQ(target.writeSizes, (std::vector<ULONG>{1024}));
    EXPECT_EQ(source.readSizes.size(), 2u);
    EXPECT_EQ(target.data, source.data.substr(0, 1024));
  }
  {
    // A failing Write: the failing code is not passed on, the loop stops.
    FakeKxStream source(Pattern(3000));
    FakeIStream target;
    target.failWriteAt = 2;
    KxPersistToStream adapter(&source);
    EXPECT_EQ(adapter.Save(&target, TRUE), E_FAIL);
    EXPECT_EQ(target.writeSizes.size(), 2u);
    EXPECT_EQ(source.readSizes.size(), 2u);
  }
  {
    // A short write counts as a failure.
    FakeKxStream source(Pattern(3000));
    FakeIStream target;
    target.shortWriteAt = 1;
    KxPersistToStream adapter(&source);
    EXPECT_EQ(adapter.Save(&target, TRUE), E_FAIL);
    EXPECT_EQ(target.writeSizes.size(), 1u);
  }
  {
    // S_FALSE with the full count is success.
    FakeKxStream source(Pattern(1500));
    FakeIStream target;
    target.writeResult = S_FALSE;
    KxPersistToStream adapter(&source);
    EXPECT_EQ(adapter.Save(&target, TRUE), S_OK);
    EXPECT_EQ(target.data, source.data);
  }
}

TEST(PersistToStream, LoadMovesTheComStreamInChunksOf1024) {
  for (size_t size : {0u, 1u, 1024u, 1025u, 5000u}) {
    SCOPED_TRACE(size);
    FakeIStream source(Pattern(size));
    FakeKxStream target;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), S_OK);
    EXPECT_EQ(source.statFlags, static_cast<DWORD>(STATFLAG_NONAME));
    EXPECT_EQ(target.data, source.data);
    for (size_t i = 0; i < target.writeSizes.size(); ++i) {
      EXPECT_EQ(target.writeSizes[i], i + 1 < target.writeSizes.size() ? 1024u : size - 1024 * i);
    }
    EXPECT_EQ(source.readSizes.size(), (size + 1023) / 1024);
  }
}

TEST(PersistToStream, LoadFailures) {
  {
    // Stat fails: E_FAIL at once, nothing read.
    FakeIStream source(Pattern(100));
    source.statResult = STG_E_ACCESSDENIED;
    FakeKxStream target;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), E_FAIL);
    EXPECT_TRUE(source.readSizes.empty());
  }
  {
    // A short read on the second chunk: that chunk never reaches WriteF.
    FakeIStream source(Pattern(3000));
    source.shortReadAt = 2;
    FakeKxStream target;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), E_FAIL);
    EXPECT_EQ(target.writeSizes, (std::vector<unsigned int>{1024}));
    EXPECT_EQ(target.data, source.data.substr(0, 1024));
  }
  {
    // A failing Read.
    FakeIStream source(Pattern(3000));
    source.failReadAt = 1;
    FakeKxStream target;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), E_FAIL);
    EXPECT_TRUE(target.writeSizes.empty());
  }
  {
    // WriteF refuses the second chunk: the first one stays written.
    FakeIStream source(Pattern(3000));
    FakeKxStream target;
    target.failWriteAt = 2;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), E_FAIL);
    EXPECT_EQ(target.writeSizes.size(), 2u);
    EXPECT_EQ(source.readSizes.size(), 2u);
    EXPECT_EQ(target.data, source.data.substr(0, 1024));
  }
  {
    // Only the low 32 bits of a 4 GiB-plus size count: 4 GiB + 10 moves 10.
    FakeIStream source(Pattern(10));
    source.reportedSize = (1ll << 32) + 10;
    FakeKxStream target;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), S_OK);
    EXPECT_EQ(target.data, source.data);
  }
  {
    // Exactly 4 GiB reads as empty.
    FakeIStream source(Pattern(10));
    source.reportedSize = 1ll << 32;
    FakeKxStream target;
    KxPersistToStream adapter(&target);
    EXPECT_EQ(adapter.Load(&source), S_OK);
    EXPECT_TRUE(source.readSizes.empty());
    EXPECT_TRUE(target.data.empty());
  }
}

TEST(PersistToStream, ComSurface) {
  FakeKxStream stream(Pattern(77));
  KxPersistToStream adapter(&stream);

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(adapter.QueryInterface(IID_IPersist, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(adapter.QueryInterface(IID_IStream, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  EXPECT_EQ(adapter.QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<IPersistStream*>(&adapter));
  EXPECT_EQ(adapter.QueryInterface(IID_IPersistStream, &out), S_OK);
  EXPECT_EQ(out, static_cast<IPersistStream*>(&adapter));
  // Construction gave 1, the two answers 2 more.
  EXPECT_EQ(adapter.AddRef(), 4u);
  EXPECT_EQ(adapter.Release(), 3u);
  EXPECT_EQ(adapter.Release(), 2u);
  EXPECT_EQ(adapter.Release(), 1u);

  CLSID id = CLSID{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  const CLSID before = id;
  EXPECT_EQ(adapter.GetClassID(&id), E_NOTIMPL);
  EXPECT_EQ(id, before);
  EXPECT_EQ(adapter.IsDirty(), S_OK);
  EXPECT_EQ(adapter.IsDirty(), S_OK);

  ULARGE_INTEGER size;
  size.QuadPart = ~0ull;
  EXPECT_EQ(adapter.GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 77u);
  EXPECT_EQ(adapter.GetSizeMax(nullptr), E_FAIL);
}

TEST(PersistToStream, LastReleaseDestroysAHeapAdapterButNotItsStream) {
  auto* stream = new FakeKxStream("abc");
  auto* adapter = new KxPersistToStream(stream);
  EXPECT_EQ(adapter->AddRef(), 2u);
  EXPECT_EQ(adapter->Release(), 1u);
  EXPECT_EQ(adapter->Release(), 0u);  // freed here; ASan would see a leak otherwise
  EXPECT_EQ(stream->GetSizeUl(), 3u);
  delete stream;
}
