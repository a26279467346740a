// KxStream base behaviour and the kernel's memory and file streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "twxml/kernel.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<KxStream> Own(KxStream* s) { return std::unique_ptr<KxStream>(s); }

// Overrides only the pure operations; optionally shows memory.
class MinimalStream : public KxStream {
 public:
  explicit MinimalStream(char* mem = nullptr, unsigned size = 0) : mem_(mem), size_(size) {}
  int WriteF(void*, unsigned) override { return 1; }
  int ReadF(void*, unsigned) override { return 1; }
  unsigned GetSizeUl() override { return size_; }
  int RewindF() override { return 0; }
  char* GetMemP() override { return mem_ ? mem_ : KxStream::GetMemP(); }

 private:
  char* mem_;
  unsigned size_;
};

TEST(KxStreamBase, DefaultsAndAllocMem) {
  MinimalStream none(nullptr, 17);
  EXPECT_EQ(nullptr, none.GetMemP());
  EXPECT_EQ(17u, none.GetContentSizeUl());  // through the table
  unsigned size = 99;
  EXPECT_EQ(nullptr, none.AllocMemP(&size));
  EXPECT_EQ(99u, size);  // untouched

  char bytes[] = "abc";
  MinimalStream empty(bytes, 0);
  char* copy = empty.AllocMemP(&size);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(0u, size);
  EXPECT_EQ(0, copy[0]);
  MemFreeF(copy);

  MinimalStream some(bytes, 2);
  copy = some.AllocMemP(nullptr);
  EXPECT_STREQ("ab", copy);
  MemFreeF(copy);
}

TEST(MemStream, ReaderReadsCallerBytesInPlace) {
  char text[] = "0123456789";
  int status = -5;
  auto s = Own(StreamCreateMemStreamP(text, 10, "", 0, 0, &status));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, status);
  EXPECT_EQ(text, s->GetMemP());  // not copied
  EXPECT_EQ(10u, s->GetSizeUl());
  EXPECT_EQ(10u, s->GetContentSizeUl());
  char buf[8] = {};
  EXPECT_EQ(0, s->ReadF(buf, 4));
  EXPECT_EQ("0123", std::string(buf, 4));
  EXPECT_EQ(0, s->ReadF(buf, 4));
  EXPECT_EQ("4567", std::string(buf, 4));
  EXPECT_NE(0, s->ReadF(buf, 4));  // only two left: delivered, but not "exactly"
  EXPECT_EQ("89", std::string(buf, 2));
  EXPECT_NE(0, s->ReadF(buf, 1));
  EXPECT_EQ(0, s->ReadF(buf, 0));
  EXPECT_EQ(0, s->RewindF());
  EXPECT_EQ(0, s->ReadF(buf, 8));
  EXPECT_EQ("01234567", std::string(buf, 8));
  EXPECT_NE(0, s->WriteF(buf, 1));  // a reader takes no bytes
  unsigned size = 0;
  char* copy = s->AllocMemP(&size);
  EXPECT_EQ(10u, size);
  EXPECT_STREQ("0123456789", copy);
  MemFreeF(copy);
  s.reset();
  EXPECT_STREQ("0123456789", text);  // the caller's bytes stay the caller's
}

TEST(MemStream, WriterGrowsAndOwnsItsMemory) {
  int status = -5;
  auto s = Own(StreamCreateMemStreamP(nullptr, 16, "", 1, 1, &status));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, status);
  EXPECT_EQ(0u, s->GetSizeUl());
  unsigned size = 7;
  char* copy = s->AllocMemP(&size);  // nothing written yet: the empty text
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(0u, size);
  MemFreeF(copy);
  std::string expect;
  for (int i = 0; i < 5000; ++i) {
    std::string piece = "<e n=\"" + std::to_string(i) + "\"/>";
    ASSERT_EQ(0, s->WriteF(piece.data(), static_cast<unsigned>(piece.size())));
    expect += piece;
  }
  EXPECT_EQ(expect.size(), s->GetSizeUl());
  EXPECT_EQ(expect, std::string(s->GetMemP(), s->GetSizeUl()));
  copy = s->AllocMemP(&size);
  EXPECT_EQ(expect, std::string(copy));
  MemFreeF(copy);
  // What was written can be read back.
  char buf[6];
  EXPECT_EQ(0, s->ReadF(buf, 6));
  EXPECT_EQ("<e n=\"", std::string(buf, 6));
  EXPECT_EQ(0, s->WriteF(nullptr, 0));
  EXPECT_NE(0, s->WriteF(nullptr, 3));
}

TEST(MemStream, StatusIsAlwaysWritten) {
  int status = -5;
  EXPECT_EQ(nullptr, StreamCreateMemStreamP(nullptr, 16, "", 0, 0, &status));
  EXPECT_EQ(TWXML_E_CREATE, status);
  status = -5;
  EXPECT_EQ(nullptr, StreamCreateMemStreamP(nullptr, 1ul << 40, "", 1, 1, &status));
  EXPECT_NE(0, status);
  EXPECT_NE(-5, status);
  status = -5;
  auto s = Own(StreamCreateMemStreamP(nullptr, 0, nullptr, 1, 1, &status));
  EXPECT_NE(nullptr, s);
  EXPECT_EQ(0, status);
  auto quiet = Own(StreamCreateMemStreamP(nullptr, 0, "", 1, 1, nullptr));  // no status wanted
  EXPECT_NE(nullptr, quiet);
  // A growable stream over caller bytes copies them before growing.
  char text[] = "abc";
  auto g = Own(StreamCreateMemStreamP(text, 3, "", 1, 0, &status));
  ASSERT_NE(nullptr, g);
  EXPECT_EQ(0, g->WriteF(const_cast<char*>("def"), 3));
  EXPECT_EQ("abcdef", std::string(g->GetMemP(), g->GetSizeUl()));
  EXPECT_STREQ("abc", text);
}

class FileStreams : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/twxml-streams-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char* name) { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(FileStreams, WriteThenRead) {
  const std::string p = Path("doc.xml");
  {
    auto w = Own(StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, w->WriteF(const_cast<char*>("<a>"), 3));
    EXPECT_EQ(0, w->WriteF(const_cast<char*>("</a>"), 4));
    EXPECT_EQ(7u, w->GetSizeUl());  // bytes written
    EXPECT_EQ(nullptr, w->GetMemP());
    char c;
    EXPECT_NE(0, w->ReadF(&c, 1));
    // While it is open nobody else writes; readers are not welcome either.
    EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
  }  // deleting closes the file
  auto r = Own(StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(7u, r->GetSizeUl());
  EXPECT_EQ(7u, r->GetContentSizeUl());
  char buf[8] = {};
  EXPECT_EQ(0, r->ReadF(buf, 7));
  EXPECT_STREQ("<a></a>", buf);
  EXPECT_NE(0, r->ReadF(buf, 1));
  EXPECT_EQ(0, r->RewindF());
  EXPECT_EQ(0, r->ReadF(buf, 3));
  EXPECT_NE(0, r->WriteF(buf, 1));
  // A second reader is fine; rewriting is not while readers are open.
  auto r2 = Own(StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
  EXPECT_NE(nullptr, r2);
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
  r.reset();
  r2.reset();
  // Mode 2 empties an existing file.
  auto w = Own(StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
  ASSERT_NE(nullptr, w);
  w.reset();
  EXPECT_EQ(0u, fs::file_size(p));
}

TEST_F(FileStreams, UnreadablePaths) {
  SetLastError(0);
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(Path("missing.xml").c_str(), 0, 0, 0));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(Path("no/dir/x.xml").c_str(), 0, 2, 0));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(dir_.c_str(), 0, 0, 0));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(dir_.c_str(), 0, 2, 0));
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(nullptr, 0, 0, 0));
  std::ofstream(Path("x.xml")) << "x";
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(Path("x.xml").c_str(), 0, 1, 0));  // unknown mode
  if (geteuid() != 0) {
    fs::permissions(Path("x.xml"), fs::perms::none);
    EXPECT_EQ(nullptr, StreamCreateFileStreamP(Path("x.xml").c_str(), 0, 0, 0));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  }
}

}  // namespace
