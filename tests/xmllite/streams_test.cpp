// The file byte stream, driven through IStream as the streaming module drives
// it: opening, reading and writing, never seeking. (The memory stream: every
// memory reader and writer of the handle and XmlInterface tests.)
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
