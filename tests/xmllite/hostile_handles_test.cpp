// Hostile handles: every pointer that is not an open handle of the right kind
// answers 44 from every handle function, never faults and is never written;
// the open handles stay untouched. (Many open handles from many threads:
// tests/lib/concurrency_test.cpp.)
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <vector>

#include "fake_module.h"

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

void ExpectBadReader(_XmlLiteReaderS* h, const char* what) {
  SCOPED_TRACE(what);
  char buffer[8] = "same";
  EXPECT_EQ(0, XmlLiteIsReaderHndValidB(h));
  EXPECT_EQ(44, XmlLiteReadElemF(h));
  EXPECT_EQ(44, XmlLitePeekElemF(h));
  EXPECT_EQ(44, XmlLiteReadEndElemF(h));
  EXPECT_EQ(44, XmlLiteSkipLevelF(h));
  EXPECT_EQ(44, XmlLiteGetElemNameToBufF(h, buffer, sizeof buffer));
  EXPECT_EQ(44, XmlLiteGetAttrValueToBufF(h, "a", buffer, sizeof buffer));
  EXPECT_EQ(44, XmlLiteGetElemValueToBufF(h, buffer, sizeof buffer));
  EXPECT_EQ(44, XmlLiteCloseReaderF(h));
  EXPECT_STREQ("same", buffer);
}

void ExpectBadWriter(_XmlLiteWriterS* w, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(0, XmlLiteIsWriterHndValidB(w));
  EXPECT_EQ(44, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(44, XmlLiteWriteAttrF(w, nullptr, "a", nullptr, "v"));
  EXPECT_EQ(44, XmlLiteWriteValueF(w, "v"));
  EXPECT_EQ(44, XmlLiteWriteEndElemF(w));
  char* text = reinterpret_cast<char*>(1);
  unsigned int length = 99;
  EXPECT_EQ(44, XmlLiteGetMemF(w, &text, &length));
  EXPECT_EQ(44, XmlLiteCloseWriterF(w));
}

// Memory that looks like an open handle of either kind: both magics.
void StampMagic(void* p, uint16_t magic) { std::memcpy(p, &magic, sizeof magic); }

TEST(HostileHandles, EveryKindOfBadPointerIs44AndNeverFaults) {
  fake::Install();
  _XmlLiteReaderS* reader = XmlLiteCreateMemReaderH("<a/>");
  _XmlLiteWriterS* writer = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, reader);
  ASSERT_NE(nullptr, writer);

  // Each case gives a pointer and says whether it carries the magic of the
  // kind it is tried as; both kinds are tried.
  struct Case {
    const char* what;
    std::function<void*(uint16_t magic)> make;
  };
  alignas(16) unsigned char stack[64];
  std::vector<void*> blocks;
  const Case cases[] = {
      {"null", [](uint16_t) -> void* { return nullptr; }},
      {"garbage address", [](uint16_t) -> void* { return reinterpret_cast<void*>(0xdeadbeef00ull); }},
      {"stack bytes carrying the magic",
       [&](uint16_t m) -> void* { std::memset(stack, 0, sizeof stack); StampMagic(stack, m); return stack; }},
      {"a live kernel block carrying the magic",
       [&](uint16_t m) -> void* {
         void* p = blocks.emplace_back(MemAllocP(256));
         std::memset(p, 0, 256);
         StampMagic(p, m);
         return p;
       }},
      {"inside an open handle", [&](uint16_t m) -> void* {
         return m == kXmlLiteReaderMagic ? static_cast<void*>(reinterpret_cast<char*>(reader) + 8)
                                         : static_cast<void*>(reinterpret_cast<char*>(writer) + 8);
       }},
      {"read-only page carrying the magic", [](uint16_t m) -> void* {
         void* p = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
         StampMagic(p, m);
         mprotect(p, kPage, PROT_READ);
         return p;
       }},
      {"an unmapped mapping", [](uint16_t m) -> void* {
         void* p = mmap(nullptr, 4 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
         StampMagic(p, m);
         munmap(p, 4 * kPage);
         return p;
       }},
      {"a freed large block (returned to the system)", [](uint16_t m) -> void* {
         void* p = std::malloc(64 << 20);
         StampMagic(p, m);
         std::free(p);
         return p;
       }},
      {"a page now merged into an inaccessible mapping", [](uint16_t m) -> void* {
         char* p = static_cast<char*>(
             mmap(nullptr, 3 * kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
         mprotect(p + kPage, kPage, PROT_READ | PROT_WRITE);
         StampMagic(p + kPage, m);
         mprotect(p + kPage, kPage, PROT_NONE);  // one mapping again, none of it usable
         return p + kPage;
       }},
  };
  for (const Case& c : cases) {
    ExpectBadReader(static_cast<_XmlLiteReaderS*>(c.make(kXmlLiteReaderMagic)), c.what);
    ExpectBadWriter(static_cast<_XmlLiteWriterS*>(c.make(kXmlLiteWriterMagic)), c.what);
  }
  // The other kind's handle, and handles after close even when their memory
  // is handed out again and made to carry the magic.
  ExpectBadReader(reinterpret_cast<_XmlLiteReaderS*>(writer), "a writer handle");
  ExpectBadWriter(reinterpret_cast<_XmlLiteWriterS*>(reader), "a reader handle");
  EXPECT_EQ(1, XmlLiteIsReaderHndValidB(reader)) << "not touched";
  EXPECT_EQ(1, XmlLiteIsWriterHndValidB(writer)) << "not touched";
  EXPECT_EQ(0, XmlLiteCloseReaderF(reader));
  EXPECT_EQ(0, XmlLiteCloseWriterF(writer));
  for (void* p : blocks) MemFreeF(p);
  ExpectBadReader(reader, "a closed reader");
  ExpectBadWriter(writer, "a closed writer");
  for (int i = 0; i < 2000; ++i) {
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH("<a/>");
    ASSERT_EQ(0, XmlLiteCloseReaderF(r));
    auto* reuse = static_cast<_XmlLiteReaderS*>(MemAllocP(sizeof(_XmlLiteReaderS)));
    reuse->magic = kXmlLiteReaderMagic;  // what a free-list link may happen to look like
    ASSERT_EQ(0, XmlLiteIsReaderHndValidB(r)) << "round " << i;
    ASSERT_EQ(44, XmlLiteReadElemF(r));
    MemFreeF(reuse);
  }
  fake::Uninstall();
}

}  // namespace
