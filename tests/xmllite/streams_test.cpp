// The memory and file byte streams, driven through IStream as the streaming
// module drives them: reading and writing, never seeking.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "lite_internal.h"
#include "twxml/platform/com_internal.h"

namespace {

// The COM surface every stream shares: its identities and one count.
void ExpectComSurface(IStream* s) {
  for (const IID* iid : {&IID_IUnknown, &IID_IStream, &IID_ISequentialStream}) {
    void* out = nullptr;
    EXPECT_EQ(S_OK, s->QueryInterface(*iid, &out));
    EXPECT_EQ(static_cast<void*>(s), out);
    EXPECT_EQ(1u, s->Release()) << "the query added one reference";
  }
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(E_NOINTERFACE, s->QueryInterface(IID_IPersistStream, &out));
  EXPECT_EQ(reinterpret_cast<void*>(0x1234), out);
}

ULONGLONG Size(IStream* s) {
  STATSTG stat{};
  EXPECT_EQ(S_OK, s->Stat(&stat, STATFLAG_DEFAULT));
  EXPECT_EQ(nullptr, stat.pwcsName);
  return stat.cbSize.QuadPart;
}

// The reading stream hands out the text and its zero byte; the writing one
// appends to the builder and leaves it alive. Neither seeks nor goes the other way.
TEST(MemStream, ReadingAndWriting) {
  StringBuilder builder(32768);
  IStream* r = twxml::lite::NewReadingMemStream("ab");
  IStream* w = twxml::lite::NewWritingMemStream(&builder);
  ASSERT_NE(nullptr, r);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(nullptr, twxml::lite::NewReadingMemStream(nullptr));
  LARGE_INTEGER zero{};
  char buffer[8] = "xxxxxxx";
  ULONG n = 99;
  for (IStream* s : {r, w}) {
    ExpectComSurface(s);
    EXPECT_EQ(E_NOTIMPL, s->Seek(zero, s == r ? STREAM_SEEK_SET : STREAM_SEEK_END, nullptr));
  }
  EXPECT_EQ(3u, Size(r));
  EXPECT_EQ(S_OK, r->Read(buffer, 2, &n));
  EXPECT_EQ(2u, n);
  EXPECT_EQ(S_OK, r->Read(buffer + 2, 5, &n)) << "a short read is no failure";
  EXPECT_EQ(1u, n);
  EXPECT_EQ(0, std::memcmp(buffer, "ab\0xxxx", 8));
  EXPECT_EQ(S_OK, r->Read(buffer, 5, nullptr));
  EXPECT_EQ(S_OK, r->Read(buffer, 5, &n));
  EXPECT_EQ(0u, n);
  EXPECT_EQ(3u, Size(r)) << "the size does not shrink as it is read";
  EXPECT_EQ(E_FAIL, r->Write("z", 1, &n));

  EXPECT_EQ(S_OK, w->Write("hello", 5, &n));
  EXPECT_EQ(5u, n);
  EXPECT_EQ(S_OK, w->Write("", 0, &n));
  EXPECT_EQ(0u, n);
  EXPECT_EQ(S_OK, w->Write(" world", 6, nullptr));
  EXPECT_EQ(11u, Size(w));
  EXPECT_EQ(E_FAIL, w->Read(buffer, 4, &n));
  EXPECT_EQ(0u, r->Release());
  EXPECT_EQ(0u, w->Release());
  ASSERT_EQ(11u, builder.GetLength());
  EXPECT_EQ(0, std::memcmp(builder.GetData(), "hello world", 11));
}

TEST(FileStream, OpeningReadingAndWriting) {
  const std::string path = "/tmp/twxml_streams_" + std::to_string(getpid()) + ".xml";
  IStream* s = reinterpret_cast<IStream*>(1);
  std::remove(path.c_str());
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), twxml::lite::OpenFileStream(path.c_str(), false, &s));
  EXPECT_EQ(nullptr, s);
  EXPECT_NE(0, access(path.c_str(), F_OK)) << "reading creates nothing";
  EXPECT_NE(S_OK, twxml::lite::OpenFileStream(nullptr, false, &s));

  std::ofstream(path) << "old content that is longer";
  ASSERT_EQ(S_OK, twxml::lite::OpenFileStream(path.c_str(), true, &s));
  std::stringstream now;
  now << std::ifstream(path).rdbuf();
  EXPECT_EQ("", now.str()) << "opening for writing empties at once";
  ExpectComSurface(s);
  ULONG n = 0;
  EXPECT_EQ(S_OK, s->Write("<a>12345</a>", 12, &n));
  EXPECT_EQ(12u, n);
  EXPECT_EQ(12u, Size(s));
  char buffer[16];
  EXPECT_NE(S_OK, s->Read(buffer, 4, &n)) << "a writing file cannot be read";
  EXPECT_EQ(0u, s->Release());

  ASSERT_EQ(S_OK, twxml::lite::OpenFileStream(path.c_str(), false, &s));
  EXPECT_EQ(S_OK, s->Read(buffer, 16, &n));
  EXPECT_EQ("<a>12345</a>", std::string(buffer, n));
  EXPECT_EQ(S_OK, s->Read(buffer, 4, &n));
  EXPECT_EQ(0u, n) << "end of file is S_OK with nothing read";
  EXPECT_EQ(0u, s->Release());
  std::remove(path.c_str());
}

}  // namespace
