// The handle interface over the real streaming module: the documented
// navigation and text extraction on real documents, failures that keep
// answering, files shared as files are, a document written in several
// encodings to memory and files and read back by the file reader and by
// libxml2, and narrow text, cut to the caller's buffer, in a Latin-1 thread
// locale. (Generated documents through the streaming engine of XmlInterface,
// which is these functions call for call: tests/xmlinterface.)
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "corpus.h"
#include "support/files.h"
#include "test_locales.h"
#include "twxml/handles.h"
#include "twxml/kernel.h"

namespace {

class Module : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, XmlLiteIsDllFoundB()) << "the module is built beside the library"; }
};

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
  return std::string(dir ? dir : "/tmp") + "/twxml_module_" + std::to_string(getpid()) + "_" + name;
}

// Runs a call sequence written as text: R read, P peek, E read end, S skip
// level, N name, V value, A the attribute "k"; each with its expected status
// and, for N, V and A, ":" and the expected text ("R0 N0:a E30 V0:x").
void Steps(_XmlLiteReaderS* r, const std::string& steps) {
  std::istringstream in(steps);
  for (std::string step; in >> step;) {
    SCOPED_TRACE(step);
    const size_t colon = step.find(':');
    char buffer[64] = "";
    const int status = step[0] == 'R'   ? XmlLiteReadElemF(r)
                       : step[0] == 'P' ? XmlLitePeekElemF(r)
                       : step[0] == 'E' ? XmlLiteReadEndElemF(r)
                       : step[0] == 'S' ? XmlLiteSkipLevelF(r)
                       : step[0] == 'N' ? XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer)
                       : step[0] == 'V' ? XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer)
                                        : XmlLiteGetAttrValueToBufF(r, "k", buffer, sizeof buffer);
    EXPECT_EQ(std::stoi(step.substr(1, colon - 1)), status);
    if (colon != std::string::npos) {
      EXPECT_EQ(step.substr(colon + 1), buffer);
    }
  }
}

TEST_F(Module, NavigationAndTextOnRealDocuments) {
  const struct {
    const char* doc;
    const char* steps;
  } cases[] = {
      // The end of an empty element is reported on its own; a text in the way is held.
      {"<r><a/><b>x</b></r>", "R0 R0 N0:a R30 E0 R0 E30 V0:x E0 E0 R76"},
      // Declarations, comments and white space never reach the caller.
      {"<?xml version='1.0'?>\n<!-- c --><r>\n  <!-- x --> <a/>\n</r>\n<!-- after -->\n", "P0 R0 R0 E0 E0 R76"},
      // A peeked start stays held: peeked twice, refused as an end, then read.
      {"<a><b/></a>", "P0 P0 E30 R0 N0:a R0 N0:b E0 E0 R76"},
      // Skipping a level; right after an empty element, only its pending end.
      {"<r><a><b/><c>t</c></a><d/></r>", "R0 R0 S0 R0 N0:d S0 E0 S76"},
      // After a peek, skipping reads on from the peeked start, which stays held.
      {"<r><a><b/></a></r>", "R0 P0 S0 R0 E0 R76"},
      // An instruction or a CDATA section in the slot stays there for good.
      {"<r><?pi data?><c/></r>", "R0 R30 P30 E30 R30"},
      {"<r><![CDATA[c]]><c/></r>", "R0 R30 P30 E30"},
      // The local name, the attribute without namespace; the reader stands on it.
      {"<r><x:item xmlns:x='u' x:k='1' k='2'>t</x:item></r>", "R0 P0 N0:item R0 A0:2 N0:k V0:t E0 E0 R76 S76"},
      // Values: the first text after the start; what is not text stays held.
      {"<a>hello</a>", "R0 V0:hello E0"},
      {"<\xC3\xA9 k='\xE2\x82\xAC'>\xC3\xBC\xF0\x9F\x98\x80</\xC3\xA9>",
       "R0 N0:\xC3\xA9 A0:\xE2\x82\xAC V0:\xC3\xBC\xF0\x9F\x98\x80 E0"},
      {"<a></a>", "R0 V0: E0"},
      {"<a/>", "R0 V0: E0 R76"},
      {"<a>   </a>", "R0 V0: E0"},
      {"<a><b>t</b></a>", "R0 V0: R0 N0:b"},
      {"<a>x<!--c-->y</a>", "R0 V0:x E30 V0:y E0"},
      {"<a><![CDATA[c]]></a>", "R0 V0: E30"},
      // The end of input keeps answering.
      {"<r/>", "R0 E0 R76 P76 E76 S76 R76 V0:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.doc);
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(c.doc);
    ASSERT_NE(nullptr, r);
    Steps(r, c.steps);
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
}

TEST_F(Module, MalformedDocumentsAnswer255AndKeepAnsweringIt) {
  for (const char* doc : {"<r><a></b></r>", "<r>", "", "<r a='1' a='2'/>", "<r>&undefined;</r>", "<r/><second/>",
                          "<x:r/>", "\x01<r/>"}) {
    SCOPED_TRACE(doc);
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(doc);
    ASSERT_NE(nullptr, r);
    int status = 0;
    for (int i = 0; i < 10 && status != 255; ++i) {
      status = XmlLiteReadElemF(r);
      if (status == 30) status = XmlLiteReadEndElemF(r);
    }
    EXPECT_EQ(255, status);
    Steps(r, "R255 P255 E255 S255 V0:");
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
}

TEST_F(Module, FileReadersAndWritersShareAsFilesDo) {
  const std::string path = TempPath("doc.xml");
  EXPECT_EQ(nullptr, XmlLiteCreateFileReaderH(nullptr));
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH((TempPath("no/such/dir") + "/x.xml").c_str(), 0, nullptr));
  _XmlLiteWriterS* w = XmlLiteCreateFileWriterH(path.c_str(), 1, nullptr);
  ASSERT_NE(nullptr, w);
  char* text = reinterpret_cast<char*>(1);
  unsigned int length = 5;
  EXPECT_EQ(30, XmlLiteGetMemF(w, &text, &length)) << "a file writer has no text to hand out";
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(0u, length);
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH(path.c_str(), 0, nullptr)) << "nobody else may write it";
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));

  // Readers share the file with readers only; closed, they let it be written.
  _XmlLiteReaderS* r = XmlLiteCreateFileReaderH(path.c_str());
  _XmlLiteReaderS* r2 = XmlLiteCreateFileReaderH(path.c_str());
  ASSERT_NE(nullptr, r);
  ASSERT_NE(nullptr, r2);
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH(path.c_str(), 0, nullptr));
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r2));
  w = XmlLiteCreateFileWriterH(path.c_str(), 0, "UTF-16");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  // An emptied file is no document.
  std::ofstream(path, std::ios::trunc).close();
  r = XmlLiteCreateFileReaderH(path.c_str());
  ASSERT_NE(nullptr, r);
  const int status = XmlLiteReadElemF(r);
  EXPECT_TRUE(status == 255 || status == 76) << status;
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  std::remove(path.c_str());
}

// One document through the memory and the file writer gives the same bytes
// in each encoding; libxml2 and the file reader handle (which finds the
// encoding from the bytes) read it back. Its characters are not all in any
// single-byte set, and one value is longer than the handle's on-stack
// conversion buffer.
TEST_F(Module, OutputEncodingsInMemoryAndFiles) {
  const struct {
    const char* name;      // asked of the writer
    const char* declared;  // what libxml2 should find (case-insensitive)
  } cases[] = {{nullptr, "UTF-8"},           {"utf-8", "UTF-8"},   {"UTF-16", "UTF-16"},
               {"ISO-8859-1", "ISO-8859-1"}, {"EUC-JP", "EUC-JP"}, {"UTF-16BE", "UTF-16BE"}};
  const std::string path = TempPath("enc.xml"), value = "\xe2\x82\xac \xf0\x9f\x98\x80 <&>",
                    text = "\xe4\xb8\xad \xc3\xa9" + std::string(3000, 'q');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(default)");
    std::string bytes;
    for (bool file : {false, true}) {
      _XmlLiteWriterS* w = file ? XmlLiteCreateFileWriterH(path.c_str(), 1, c.name) : XmlLiteCreateMemWriterH(1, c.name);
      ASSERT_NE(nullptr, w);
      EXPECT_EQ(0, XmlLiteWriteStartElemF(w, "p", "root", "urn:p"));
      EXPECT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "v", nullptr, value.c_str()));
      EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "t", nullptr));
      EXPECT_EQ(0, XmlLiteWriteValueF(w, text.c_str()));
      if (!file) {
        bytes = Take(w);
        EXPECT_EQ(bytes, Take(w)) << "a second copy of the same text";
      }
      EXPECT_EQ(0, XmlLiteCloseWriterF(w));  // ends, flushes and closes a file
    }
    EXPECT_EQ(bytes, twtest::Slurp(path));
    corpus::Node parsed;
    std::string error, encoding;
    ASSERT_TRUE(corpus::Parse(bytes, &parsed, &error, &encoding)) << error;
    EXPECT_EQ(0, strcasecmp(c.declared, encoding.empty() ? "UTF-8" : encoding.c_str())) << encoding;
    EXPECT_EQ(parsed.QName() + parsed.ns + parsed.attrs.at(0).value + parsed.children.at(0).text,
              "p:rooturn:p" + value + text);
    _XmlLiteReaderS* r = XmlLiteCreateFileReaderH(path.c_str());
    ASSERT_NE(nullptr, r);
    static char buffer[4096];
    EXPECT_EQ(0, XmlLiteReadElemF(r));
    EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(r, "v", buffer, sizeof buffer));
    EXPECT_EQ(value, buffer);
    EXPECT_EQ(0, XmlLiteReadElemF(r));
    EXPECT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
    EXPECT_EQ(text, buffer);
    Steps(r, "E0 E0 R76");
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
  // A name nobody knows still gives a working writer in the default encoding;
  // a writer that wrote nothing gives an empty document.
  for (const char* name : {"no-such-encoding-xyz", "UTF-8", ""}) {
    _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, name);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, *name ? XmlLiteWriteStartElemF(w, nullptr, "a", nullptr) : 0);
    EXPECT_EQ(std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + (*name ? "<a/>" : ""), Take(w));
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  }
  std::remove(path.c_str());
}

// A memory writer composes straight into the text it collects; a file
// writer hands its buffer to the file. Over many buffers' worth of output,
// with refused calls taken back in between, both give the same bytes.
TEST_F(Module, LongDocumentsWithRefusedCallsSameInMemoryAndInFiles) {
  const std::string path = TempPath("long.xml");
  const std::string text = "\xc3\xa9t\xc3\xa9 <&> " + std::string(700, 'w');
  for (const char* encoding : {static_cast<const char*>(nullptr), "UTF-16"}) {
    SCOPED_TRACE(encoding ? encoding : "(default)");
    std::string bytes;
    for (bool file : {false, true}) {
      _XmlLiteWriterS* w = file ? XmlLiteCreateFileWriterH(path.c_str(), 0, encoding)
                                : XmlLiteCreateMemWriterH(0, encoding);
      ASSERT_NE(nullptr, w);
      EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "log", nullptr));
      for (int i = 0; i < 3000; ++i) {
        EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "e", nullptr));
        EXPECT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "n", nullptr, std::to_string(i).c_str()));
        if (i % 97 == 0) {
          EXPECT_NE(0, XmlLiteWriteValueF(w, (text + "\x01").c_str()));
        }
        EXPECT_EQ(0, XmlLiteWriteValueF(w, text.c_str()));
        EXPECT_EQ(0, XmlLiteWriteEndElemF(w));
      }
      if (!file) bytes = Take(w);
      EXPECT_EQ(0, XmlLiteCloseWriterF(w));
    }
    EXPECT_GT(bytes.size(), size_t(2) << 20);
    EXPECT_EQ(bytes, twtest::Slurp(path));
    corpus::Node parsed;
    std::string error, found;
    ASSERT_TRUE(corpus::Parse(bytes, &parsed, &error, &found)) << error;
    ASSERT_EQ(3000u, parsed.children.size());
    EXPECT_EQ(text, parsed.children.at(2999).text);
  }
  std::remove(path.c_str());
}

// Names and values come out, attribute names and writer arguments go in, in
// the thread's code page.
TEST_F(Module, NarrowTextInALatin1ThreadLocale) {
  locale_t latin1 = twtest::MakeLocale("de_DE", "ISO-8859-1", "de_DE.ISO-8859-1");
  if (latin1 == nullptr) GTEST_SKIP() << "localedef could not make a Latin-1 locale here";
  twtest::ThreadLocale scope(latin1);
  _XmlLiteReaderS* r = XmlLiteCreateMemReaderH("<caf\xc3\xa9 pr\xc3\xa9='\xc3\xa0 la carte'>x</caf\xc3\xa9>");
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(0, XmlLiteReadElemF(r));
  char buffer[16];
  EXPECT_EQ(0, XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer));
  EXPECT_STREQ("caf\xe9", buffer);  // one byte per character
  std::vector<char> small(4 + 4, '#');
  EXPECT_EQ(30, XmlLiteGetElemNameToBufF(r, small.data(), 4));  // four bytes and the zero do not fit
  EXPECT_STREQ("caf", small.data());
  EXPECT_EQ('#', small[4]);
  EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(r, "pr\xe9", buffer, sizeof buffer));
  EXPECT_STREQ("\xe0 la carte", buffer);
  EXPECT_EQ(30, XmlLiteGetAttrValueToBufF(r, "pr\xe9", small.data(), 4));
  EXPECT_EQ(std::string("\xe0 l\0#", 5), std::string(small.data(), 5));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "caf\xe9", nullptr));
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "\xe9t\xe9"));
  EXPECT_NE(std::string::npos, Take(w).find("<caf\xc3\xa9>\xc3\xa9t\xc3\xa9</caf\xc3\xa9>"));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

// Plain ASCII reads the same in every code page: under a Shift_JIS locale a
// backslash stays one (as code page 932 has it), short arguments and long.
TEST_F(Module, AsciiWriterArgumentsReadTheSameInEveryCodePage) {
  locale_t sjis = twtest::MakeLocale("ja_JP", "SHIFT_JIS", "ja_JP.SJIS");
  if (sjis == nullptr) GTEST_SKIP() << "localedef could not make a Shift-JIS locale here";
  twtest::ThreadLocale scope(sjis);
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "path", nullptr));
  EXPECT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "dir", nullptr, "C:\\temp"));
  EXPECT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "day", nullptr, "\x93\xFA"));
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "~\\ and a text longer than a short one \\"));
  EXPECT_NE(std::string::npos,
            Take(w).find("<path dir=\"C:\\temp\" day=\"\xe6\x97\xa5\">"
                         "~\\ and a text longer than a short one \\</path>"));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

}  // namespace

