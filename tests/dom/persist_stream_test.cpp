// The stream adapter between KxStream and the DOM's COM streams: chunking,
// failures at every step, its small COM surface and its lifetime.
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

std::vector<ULONG> Chunks(size_t size) {
  std::vector<ULONG> out(size / 1024, 1024);
  if (size % 1024) out.push_back(static_cast<ULONG>(size % 1024));
  return out;
}

}  // namespace

TEST(PersistToStream, BothDirectionsMoveChunksOf1024) {
  for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 3000u, 5000u}) {
    SCOPED_TRACE(size);
    Bytes kx(Pattern(size)), com;
    KxPersistToStream saver(&kx);
    EXPECT_EQ(saver.Save(&com, TRUE), S_OK);
    EXPECT_EQ(com.writeSizes, Chunks(size));
    EXPECT_EQ(kx.readSizes, Chunks(size));
    EXPECT_EQ(com.data, kx.data);

    Bytes back;
    KxPersistToStream loader(&back);
    com.position = 0;
    com.readSizes.clear();
    EXPECT_EQ(loader.Load(&com), S_OK);
    EXPECT_EQ(com.statFlags, static_cast<DWORD>(STATFLAG_NONAME));
    EXPECT_EQ(com.readSizes, Chunks(size));
    EXPECT_EQ(back.writeSizes, Chunks(size));
    EXPECT_EQ(back.data, kx.data);
  }
  // Save reads GetContentSizeUl, not GetSizeUl, bytes.
  Bytes source(Pattern(2000)), target;
  source.contentSize = 1500;
  KxPersistToStream adapter(&source);
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

TEST(PersistToStream, ComSurfaceAndLifetime) {
  Bytes stream(Pattern(77));
  KxPersistToStream adapter(&stream);
  void* out = reinterpret_cast<void*>(1);
  for (const IID* refused : {&IID_IPersist, &IID_IStream}) {
    EXPECT_EQ(adapter.QueryInterface(*refused, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  for (const IID* given : {&IID_IUnknown, &IID_IPersistStream}) {
    EXPECT_EQ(adapter.QueryInterface(*given, &out), S_OK);
    EXPECT_EQ(out, static_cast<IPersistStream*>(&adapter));
  }
  // Construction gave 1, the two answers 2 more.
  EXPECT_EQ(adapter.AddRef(), 4u);
  EXPECT_EQ(adapter.Release(), 3u);
  EXPECT_EQ(adapter.Release(), 2u);
  EXPECT_EQ(adapter.Release(), 1u);
  CLSID id{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  const CLSID before = id;
  EXPECT_EQ(adapter.GetClassID(&id), E_NOTIMPL);
  EXPECT_EQ(id, before);
  EXPECT_EQ(adapter.IsDirty(), S_OK);
  ULARGE_INTEGER size;
  size.QuadPart = ~0ull;
  EXPECT_EQ(adapter.GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 77u);
  EXPECT_EQ(adapter.GetSizeMax(nullptr), E_FAIL);

  // The last release frees a heap adapter (ASan sees a leak otherwise) but
  // not its stream.
  auto* heap = new KxPersistToStream(&stream);
  EXPECT_EQ(heap->AddRef(), 2u);
  EXPECT_EQ(heap->Release(), 1u);
  EXPECT_EQ(heap->Release(), 0u);
  EXPECT_EQ(stream.GetSizeUl(), 77u);
}
