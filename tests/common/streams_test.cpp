// KxStream base behaviour and the kernel's memory and file streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"

namespace fs = std::filesystem;

namespace {

using Stream = std::unique_ptr<KxStream>;
std::string Mem(KxStream& s) { return std::string(s.GetMemP(), s.GetSizeUl()); }
std::string Copy(KxStream& s, unsigned* size = nullptr) {
  char* c = s.AllocMemP(size);
  std::string out = c ? c : "<null>";
  MemFreeF(c);
  return out;
}

TEST(MemStream, ReaderReadsCallerBytesInPlace) {
  char text[] = "0123456789";
  int status = -5;
  Stream s(StreamCreateMemStreamP(text, 10, "", 0, 0, &status));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, status);
  EXPECT_EQ(text, s->GetMemP());  // not copied
  EXPECT_EQ(10u, s->GetContentSizeUl());
  char buf[8] = {};
  EXPECT_EQ(0, s->ReadF(buf, 4));
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
  EXPECT_EQ("0123456789", Copy(*s, &size));
  EXPECT_EQ(10u, size);
  s.reset();
  EXPECT_STREQ("0123456789", text);  // the caller's bytes stay the caller's
}

TEST(MemStream, WriterGrowsOwnsItsMemoryAndAlwaysWritesStatus) {
  int status = -5;
  Stream s(StreamCreateMemStreamP(nullptr, 16, "", 1, 1, &status));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(0, status);
  unsigned size = 7;
  EXPECT_EQ("", Copy(*s, &size));  // nothing written yet: the empty text
  EXPECT_EQ(0u, size);
  std::string expect;
  for (int i = 0; i < 5000; ++i) {
    std::string piece = "<e n=\"" + std::to_string(i) + "\"/>";
    ASSERT_EQ(0, s->WriteF(piece.data(), static_cast<unsigned>(piece.size())));
    expect += piece;
  }
  EXPECT_EQ(expect, Mem(*s));
  EXPECT_EQ(expect, Copy(*s));
  char buf[6];
  EXPECT_EQ(0, s->ReadF(buf, 6));  // what was written can be read back
  EXPECT_EQ("<e n=\"", std::string(buf, 6));
  EXPECT_EQ(0, s->WriteF(nullptr, 0));
  EXPECT_NE(0, s->WriteF(nullptr, 3));

  EXPECT_EQ(nullptr, StreamCreateMemStreamP(nullptr, 16, "", 0, 0, &status));
  EXPECT_EQ(TWXML_E_CREATE, status);
  status = -5;
  EXPECT_EQ(nullptr, StreamCreateMemStreamP(nullptr, 1ul << 40, "", 1, 1, &status));
  EXPECT_NE(0, status);
  EXPECT_NE(-5, status);
  EXPECT_NE(nullptr, Stream(StreamCreateMemStreamP(nullptr, 0, nullptr, 1, 1, &status)));
  EXPECT_EQ(0, status);
  EXPECT_NE(nullptr, Stream(StreamCreateMemStreamP(nullptr, 0, "", 1, 1, nullptr)));
  // A growable stream over caller bytes copies them before growing.
  char text[] = "abc";
  Stream g(StreamCreateMemStreamP(text, 3, "", 1, 0, &status));
  ASSERT_NE(nullptr, g);
  EXPECT_EQ(0, g->WriteF(const_cast<char*>("def"), 3));
  EXPECT_EQ("abcdef", Mem(*g));
  EXPECT_STREQ("abc", text);
}

TEST(FileStreams, WriteThenReadSharingAndUnreadablePaths) {
  char tmpl[] = "/tmp/twxml-streams-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string dir = tmpl, p = dir + "/doc.xml";
  {
    Stream w(StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, w->WriteF(const_cast<char*>("<a>"), 3));
    EXPECT_EQ(0, w->WriteF(const_cast<char*>("</a>"), 4));
    EXPECT_EQ(7u, w->GetSizeUl());  // bytes written
    EXPECT_EQ(nullptr, w->GetMemP());
    unsigned size = 99;
    EXPECT_EQ("<null>", Copy(*w, &size));  // no memory to copy
    EXPECT_EQ(99u, size);                  // untouched
    char c;
    EXPECT_NE(0, w->ReadF(&c, 1));
    // While it is open nobody else writes; readers are not welcome either.
    EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
  }  // deleting closes the file
  Stream r(StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(7u, r->GetContentSizeUl());  // the size through the base
  char buf[8] = {};
  EXPECT_EQ(0, r->ReadF(buf, 7));
  EXPECT_STREQ("<a></a>", buf);
  EXPECT_NE(0, r->ReadF(buf, 1));
  EXPECT_EQ(0, r->RewindF());
  EXPECT_EQ(0, r->ReadF(buf, 3));
  EXPECT_NE(0, r->WriteF(buf, 1));
  // A second reader is fine; rewriting is not while readers are open.
  Stream r2(StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
  EXPECT_NE(nullptr, r2);
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 2, 0));
  r.reset();
  r2.reset();
  Stream(StreamCreateFileStreamP(p.c_str(), 0, 2, 0)).reset();  // mode 2 empties the file
  EXPECT_EQ(0u, fs::file_size(p));
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 1, 0));  // unknown mode

  // The file calls' errors come through.
  SetLastError(0);
  EXPECT_EQ(nullptr, StreamCreateFileStreamP((dir + "/no/dir/x.xml").c_str(), 0, 2, 0));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(dir.c_str(), 0, 0, 0));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(nullptr, StreamCreateFileStreamP(nullptr, 0, 0, 0));
  if (geteuid() != 0) {
    fs::permissions(p, fs::perms::none);
    EXPECT_EQ(nullptr, StreamCreateFileStreamP(p.c_str(), 0, 0, 0));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  }
  fs::remove_all(dir);
}

}  // namespace
