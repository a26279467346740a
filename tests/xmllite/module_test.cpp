// The handle interface over the real streaming module: documents written
// through the writer handle read back the same through the reader handle and
// through libxml2, in every output encoding; the documented navigation
// sequences on real documents; file readers and writers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <atomic>

#include "tree_util.h"
#include "twxml/kernel.h"

namespace {

class Module : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, XmlLiteIsDllFoundB()) << "the module is built beside the library"; }
};

// The writer may not be in the module yet; say so instead of failing.
_XmlLiteWriterS* MemWriter(int indent, const char* encoding) {
  return XmlLiteCreateMemWriterH(indent, encoding);
}
#define REQUIRE_WRITER(w) \
  if ((w) == nullptr) GTEST_SKIP() << "the module has no writer yet"

std::string Take(_XmlLiteWriterS* w) {
  char* text = nullptr;
  unsigned int length = 0;
  EXPECT_EQ(0, XmlLiteGetMemF(w, &text, &length));
  std::string out = text ? std::string(text, length) : std::string();
  MemFreeF(text);
  return out;
}

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/twxml_module_" + std::to_string(getpid()) + "_" +
         name;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST_F(Module, RoundTripThroughBothReaders) {
  for (int indent : {0, 1}) {
    std::mt19937 rng(1234 + indent);
    for (int i = 0; i < 60; ++i) {
      SCOPED_TRACE("indent " + std::to_string(indent) + " document " + std::to_string(i));
      tree::Element doc = tree::Random(rng);
      _XmlLiteWriterS* w = MemWriter(indent, nullptr);
      REQUIRE_WRITER(w);
      ASSERT_EQ(0, tree::Write(w, doc));
      std::string text = Take(w);
      EXPECT_EQ(0, XmlLiteCloseWriterF(w));

      tree::Element viaLibxml2;
      std::string error;
      ASSERT_TRUE(tree::ParseWithLibxml2(text, &viaLibxml2, &error)) << error << "\n" << text;
      EXPECT_EQ(doc, viaLibxml2) << tree::Dump(doc) << "---\n" << tree::Dump(viaLibxml2) << text;

      _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(text.c_str());
      ASSERT_NE(nullptr, r);
      ASSERT_EQ(0, XmlLiteReadElemF(r));
      tree::Element viaHandle;
      ASSERT_TRUE(tree::Read(r, doc, &viaHandle, &error)) << error << "\n" << text;
      EXPECT_EQ(doc, viaHandle) << tree::Dump(doc) << "---\n" << tree::Dump(viaHandle) << text;
      EXPECT_EQ(76, XmlLiteReadElemF(r));
      EXPECT_EQ(0, XmlLiteCloseReaderF(r));
    }
  }
}

TEST_F(Module, EveryOutputEncodingParses) {
  struct Case {
    const char* name;     // asked of the writer
    const char* declared; // what libxml2 should find (case-insensitive), null: UTF-8
  };
  const Case cases[] = {{nullptr, nullptr},          {"UTF-8", nullptr},
                        {"utf-8", nullptr},          {"UTF-16", "UTF-16"},
                        {"ISO-8859-1", "ISO-8859-1"}, {"windows-1252", "windows-1252"},
                        {"US-ASCII", "US-ASCII"},    {"EUC-JP", "EUC-JP"},
                        {"UTF-16BE", "UTF-16BE"},    {"KOI8-R", "KOI8-R"}};
  std::mt19937 rng(99);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(default)");
    // Characters no single-byte set holds, so character references are needed.
    tree::Element doc{"root", {}, "", {tree::Random(rng, true)}};
    doc.children.push_back(tree::Element{"t", {{"v", "\xe2\x82\xac \xf0\x9f\x98\x80"}},
                                         "\xe4\xb8\xad \xc3\xa9", {}});
    _XmlLiteWriterS* w = MemWriter(1, c.name);
    REQUIRE_WRITER(w);
    ASSERT_EQ(0, tree::Write(w, doc));
    std::string bytes = Take(w);
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
    tree::Element parsed;
    std::string error, encoding;
    ASSERT_TRUE(tree::ParseWithLibxml2(bytes, &parsed, &error, &encoding)) << error;
    EXPECT_EQ(doc, parsed) << tree::Dump(doc) << "---\n" << tree::Dump(parsed);
    if (c.declared != nullptr) {
      EXPECT_EQ(0, strcasecmp(c.declared, encoding.c_str())) << encoding;
    } else {
      EXPECT_TRUE(encoding.empty() || strcasecmp(encoding.c_str(), "UTF-8") == 0) << encoding;
    }
  }
  // A name nobody knows still gives a working writer in the default encoding.
  _XmlLiteWriterS* w = MemWriter(0, "no-such-encoding-xyz");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  tree::Element parsed;
  std::string error;
  EXPECT_TRUE(tree::ParseWithLibxml2(Take(w), &parsed, &error)) << error;
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

TEST_F(Module, NavigationOnRealDocuments) {
  char buffer[64];
  _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(
      "<?xml version='1.0'?>\n<!-- c --><r>\n  <a/>\n  <b>x</b><?pi data?><x:item xmlns:x='u'/></r>");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer));
  EXPECT_STREQ("a", buffer);
  EXPECT_EQ(30, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteReadEndElemF(r));
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(30, XmlLiteReadEndElemF(r));  // the text x is held
  EXPECT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
  EXPECT_STREQ("x", buffer);
  EXPECT_EQ(0, XmlLiteReadEndElemF(r));
  EXPECT_EQ(30, XmlLiteReadElemF(r));  // the processing instruction is held for good
  EXPECT_EQ(30, XmlLitePeekElemF(r));
  EXPECT_EQ(30, XmlLiteReadEndElemF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));

  r = XmlLiteCreateMemReaderH("<r><x:item xmlns:x='u' x:k='1' k='2'>t</x:item></r>");
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLitePeekElemF(r));
  EXPECT_EQ(0, XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer));
  EXPECT_STREQ("item", buffer);
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(r, "k", buffer, sizeof buffer));
  EXPECT_STREQ("2", buffer) << "the attribute without namespace";
  EXPECT_EQ(0, XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer));
  EXPECT_STREQ("k", buffer);
  EXPECT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
  EXPECT_STREQ("t", buffer);
  EXPECT_EQ(0, XmlLiteReadEndElemF(r));
  EXPECT_EQ(0, XmlLiteReadEndElemF(r));
  EXPECT_EQ(76, XmlLiteReadElemF(r));
  EXPECT_EQ(76, XmlLiteSkipLevelF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
}

TEST_F(Module, MalformedDocumentsAnswer255AndKeepAnsweringIt) {
  const char* docs[] = {"<r><a></b></r>", "<r>", "", "<r a='1' a='2'/>", "<r>&undefined;</r>",
                        "<r/><second/>", "<x:r/>", "\x01<r/>"};
  for (const char* doc : docs) {
    SCOPED_TRACE(doc);
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(doc);
    ASSERT_NE(nullptr, r);
    int status = 0;
    for (int i = 0; i < 10 && status != 255; ++i) {
      status = XmlLiteReadElemF(r);
      if (status == 30) status = XmlLiteReadEndElemF(r);
    }
    EXPECT_EQ(255, status);
    EXPECT_EQ(255, XmlLiteReadElemF(r));
    EXPECT_EQ(255, XmlLiteSkipLevelF(r));
    char buffer[8] = "same";
    EXPECT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
}

TEST_F(Module, FileReadersAndWriters) {
  const std::string path = TempPath("doc.xml");
  const std::string missing = TempPath("missing.xml");
  std::remove(path.c_str());
  std::remove(missing.c_str());
  EXPECT_EQ(nullptr, XmlLiteCreateFileReaderH(missing.c_str()));
  EXPECT_EQ(-1, access(missing.c_str(), F_OK)) << "reading creates nothing";
  EXPECT_EQ(nullptr, XmlLiteCreateFileReaderH(nullptr));
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH((TempPath("no/such/dir") + "/x.xml").c_str(), 0,
                                              nullptr));

  { std::ofstream(path) << "previous content"; }
  _XmlLiteWriterS* w = XmlLiteCreateFileWriterH(path.c_str(), 1, nullptr);
  REQUIRE_WRITER(w);
  EXPECT_EQ("", Slurp(path)) << "the file is emptied when the writer is made";
  char* text = reinterpret_cast<char*>(1);
  unsigned int length = 5;
  EXPECT_EQ(30, XmlLiteGetMemF(w, &text, &length));
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(0u, length);
  // While it is open nobody else may write it.
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH(path.c_str(), 0, nullptr));
  std::mt19937 rng(7);
  tree::Element doc = tree::Random(rng);
  ASSERT_EQ(0, tree::Write(w, doc));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));  // ends, flushes and closes the file

  tree::Element parsed;
  std::string error;
  ASSERT_TRUE(tree::ParseWithLibxml2(Slurp(path), &parsed, &error)) << error;
  EXPECT_EQ(doc, parsed);

  _XmlLiteReaderS* r = XmlLiteCreateFileReaderH(path.c_str());
  ASSERT_NE(nullptr, r);
  // Readers share the file with readers only.
  _XmlLiteReaderS* r2 = XmlLiteCreateFileReaderH(path.c_str());
  EXPECT_NE(nullptr, r2);
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH(path.c_str(), 0, nullptr));
  ASSERT_EQ(0, XmlLiteReadElemF(r));
  tree::Element viaHandle;
  ASSERT_TRUE(tree::Read(r, doc, &viaHandle, &error)) << error;
  EXPECT_EQ(doc, viaHandle);
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  if (r2 != nullptr) {
    EXPECT_EQ(0, XmlLiteCloseReaderF(r2));
  }

  // Closed readers let the file be written again; an unused writer leaves it empty
  // of content but still a complete (empty) document.
  w = XmlLiteCreateFileWriterH(path.c_str(), 0, "UTF-16");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(44, XmlLiteCloseWriterF(nullptr));

  // An emptied file is no document.
  { std::ofstream(path, std::ios::trunc); }
  r = XmlLiteCreateFileReaderH(path.c_str());
  ASSERT_NE(nullptr, r);
  int status = XmlLiteReadElemF(r);
  EXPECT_TRUE(status == 255 || status == 76) << status;
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  std::remove(path.c_str());
}

// Documents written to files in each encoding read back through the file
// reader handle: the reader finds the encoding from the bytes.
TEST_F(Module, FileRoundTripInEachEncoding) {
  std::mt19937 rng(2024);
  for (const char* encoding : {"UTF-8", "UTF-16", "ISO-8859-1", "windows-1252", "UTF-16BE"}) {
    SCOPED_TRACE(encoding);
    const std::string path = TempPath("enc.xml");
    tree::Element doc{"root", {{"e", "\xc3\xa9\xe2\x82\xac"}}, "", {tree::Random(rng, true)}};
    _XmlLiteWriterS* w = XmlLiteCreateFileWriterH(path.c_str(), 1, encoding);
    REQUIRE_WRITER(w);
    ASSERT_EQ(0, tree::Write(w, doc));
    ASSERT_EQ(0, XmlLiteCloseWriterF(w));
    _XmlLiteReaderS* r = XmlLiteCreateFileReaderH(path.c_str());
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(0, XmlLiteReadElemF(r));
    tree::Element back;
    std::string error;
    ASSERT_TRUE(tree::Read(r, doc, &back, &error)) << error;
    EXPECT_EQ(doc, back);
    EXPECT_EQ(76, XmlLiteReadElemF(r));
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
    std::remove(path.c_str());
  }
}

// A document far larger than any read the module asks of the stream.
TEST_F(Module, LargeDocumentsStreamThroughMemoryAndFiles) {
  _XmlLiteWriterS* w = MemWriter(0, nullptr);
  REQUIRE_WRITER(w);
  const int kRecords = 20000;
  ASSERT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "records", nullptr));
  for (int i = 0; i < kRecords; ++i) {
    std::string id = std::to_string(i);
    ASSERT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "record", nullptr));
    ASSERT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "id", nullptr, id.c_str()));
    ASSERT_EQ(0, XmlLiteWriteValueF(w, ("caf\xc3\xa9 number " + id).c_str()));
    ASSERT_EQ(0, XmlLiteWriteEndElemF(w));
  }
  std::string text = Take(w);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  ASSERT_GT(text.size(), 500000u);

  const std::string path = TempPath("large.xml");
  { std::ofstream(path, std::ios::binary) << text; }
  for (bool fromFile : {false, true}) {
    SCOPED_TRACE(fromFile ? "file" : "memory");
    _XmlLiteReaderS* r =
        fromFile ? XmlLiteCreateFileReaderH(path.c_str()) : XmlLiteCreateMemReaderH(text.c_str());
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(0, XmlLiteReadElemF(r));
    char buffer[64];
    int i = 0;
    for (; XmlLiteReadElemF(r) == 0; ++i) {
      ASSERT_EQ(0, XmlLiteGetAttrValueToBufF(r, "id", buffer, sizeof buffer));
      ASSERT_EQ(std::to_string(i), buffer);
      ASSERT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
      ASSERT_EQ("caf\xc3\xa9 number " + std::to_string(i), buffer);
      ASSERT_EQ(0, XmlLiteReadEndElemF(r));
    }
    EXPECT_EQ(kRecords, i);
    EXPECT_EQ(0, XmlLiteReadEndElemF(r));  // </records>, held by the last 30
    EXPECT_EQ(76, XmlLiteReadElemF(r));
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
  std::remove(path.c_str());
}

// Caller buffers of every size over names and values with characters of
// one to four bytes: never overrun, always terminated, cut on a boundary.
TEST_F(Module, BufferCutsOnRealText) {
  const std::string name = "n\xc3\xa9\xe4\xb8\xad";  // 1 + 2 + 3 bytes
  const std::string value = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
  const std::string doc = "<" + name + " v='" + value + "'>" + value + "</" + name + ">";
  struct Case {
    const char* what;
    const std::string& expected;
    std::vector<size_t> boundaries;
  };
  const Case cases[] = {{"name", name, {0, 1, 3, 6}}, {"attr", value, {0, 1, 3, 6, 10, 11}},
                        {"text", value, {0, 1, 3, 6, 10, 11}}};
  for (const Case& c : cases) {
    for (unsigned int size = 1; size <= c.expected.size() + 2; ++size) {
      SCOPED_TRACE(std::string(c.what) + " size " + std::to_string(size));
      _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(doc.c_str());
      ASSERT_NE(nullptr, r);
      ASSERT_EQ(0, XmlLiteReadElemF(r));
      std::vector<char> buffer(size + 8, '#');
      int status;
      if (c.what[0] == 'n')
        status = XmlLiteGetElemNameToBufF(r, buffer.data(), size);
      else if (c.what[0] == 'a')
        status = XmlLiteGetAttrValueToBufF(r, "v", buffer.data(), size);
      else
        status = XmlLiteGetElemValueToBufF(r, buffer.data(), size);
      size_t fits = 0;
      for (size_t b : c.boundaries)
        if (b <= size - 1) fits = b;
      EXPECT_EQ(size > c.expected.size() ? 0 : 30, status);
      EXPECT_EQ(c.expected.substr(0, fits), std::string(buffer.data()));
      for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ('#', buffer[i]);
      EXPECT_EQ(0, XmlLiteCloseReaderF(r));
    }
  }
}

TEST_F(Module, ProbeIsStableAcrossRacingThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { found += XmlLiteIsDllFoundB(); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(8, found.load());
}

}  // namespace
