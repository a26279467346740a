// The writer handle against a scripted writer that logs its calls into its
// output: argument passing, result mapping, the encoding choice, ending the
// document exactly once, and bad handles.
#include <gtest/gtest.h>
#include <strings.h>

#include "fake_module.h"

namespace {

std::string TakeMem(_XmlLiteWriterS* w, int expected = 0) {
  char* text = reinterpret_cast<char*>(1);
  unsigned int length = 99;
  EXPECT_EQ(expected, XmlLiteGetMemF(w, &text, &length));
  if (text == nullptr) {
    EXPECT_EQ(0u, length);
    return "(none)";
  }
  std::string out(text, length);
  EXPECT_EQ('\0', text[length]);
  MemFreeF(text);
  return out;
}

class WriterCore : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(0, fake::stats().liveWriters);
    EXPECT_EQ(0, fake::stats().liveOutputs);
    EXPECT_EQ(0, fake::stats().liveReaders);
    fake::Uninstall();
  }
  static _XmlLiteWriterS* Make(fake::Script script = {}, int indent = 0, const char* encoding = nullptr) {
    fake::Install(std::move(script));
    return XmlLiteCreateMemWriterH(indent, encoding);
  }
};

TEST_F(WriterCore, CallsReachTheWriterInOrderAndTheDocumentEndsOnce) {
  _XmlLiteWriterS* w = Make();
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(-1, fake::stats().indentSet);
  EXPECT_EQ(0, fake::stats().outputRequests);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "root", nullptr));
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, "x", "item", "urn:x"));
  EXPECT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "id", nullptr, "7"));
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "text"));
  EXPECT_EQ(0, XmlLiteWriteValueF(w, nullptr));
  EXPECT_EQ(0, XmlLiteWriteEndElemF(w));
  const std::string expected =
      "startdoc 0\nstart (null):root:(null)\nstart x:item:urn:x\nattr (null):id:(null)=7\n"
      "string text\nstring (null)\nend\nenddoc\n";
  EXPECT_EQ(expected, TakeMem(w));
  EXPECT_EQ(expected, TakeMem(w)) << "a fresh copy of the same text";
  EXPECT_EQ(1, fake::stats().endDocuments);
  EXPECT_EQ(1, fake::stats().flushes);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::stats().endDocuments) << "close does not end twice";

  // No writes: the empty document. Close ends and flushes an open one.
  w = Make({}, 1);
  EXPECT_EQ(1, fake::stats().indentSet);
  EXPECT_EQ("startdoc 0\nenddoc\n", TakeMem(w));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  w = Make();
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(0, fake::stats().endDocuments);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::stats().endDocuments);
  EXPECT_EQ(1, fake::stats().flushes);
}

TEST_F(WriterCore, RefusedWritesAre255AndTheHandleStaysUsable) {
  for (HRESULT answer : {E_FAIL, S_FALSE, WR_E_INVALIDACTION}) {
    fake::Script script;
    script.writeResult = answer;
    _XmlLiteWriterS* w = Make(script);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(255, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
    EXPECT_EQ(255, XmlLiteWriteAttrF(w, nullptr, "a", nullptr, "v"));
    EXPECT_EQ(255, XmlLiteWriteValueF(w, "v"));
    EXPECT_EQ(255, XmlLiteWriteEndElemF(w));
    EXPECT_EQ(1, XmlLiteIsWriterHndValidB(w));
    EXPECT_NE("(none)", TakeMem(w));
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  }
  fake::Script script;
  script.writerCreate = E_OUTOFMEMORY;
  EXPECT_EQ(nullptr, Make(script));
  EXPECT_EQ(nullptr, Make(script, 1, "UTF-16"));
}

TEST_F(WriterCore, EncodingChoice) {
  // UTF-8 in any letter case (and no name) writes straight to the stream.
  for (const char* name : {(const char*)nullptr, "UTF-8", "utf-8", "Utf-8", "UTF8", "UTF-16", "ISO-8859-1"}) {
    SCOPED_TRACE(name ? name : "(null)");
    const bool output = name && strcasecmp(name, "UTF-8") != 0;
    _XmlLiteWriterS* w = Make({}, 0, name);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(output ? 1 : 0, fake::stats().outputRequests);
    if (output) {
      EXPECT_EQ(fake::Narrow(fake::stats().outputEncoding.c_str()), name);
    }
    EXPECT_EQ("startdoc 0\nenddoc\n", TakeMem(w));  // either way the text reaches the builder
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  }
  // A refused encoding still gives a working handle writing straight to the stream.
  fake::Script refuse;
  refuse.outputResult = WR_E_UNKNOWNENCODING;
  _XmlLiteWriterS* w = Make(refuse, 0, "no-such-encoding");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(1, fake::stats().outputRequests);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ("startdoc 0\nstart (null):a:(null)\nenddoc\n", TakeMem(w));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

TEST_F(WriterCore, NarrowArgumentsAndBadHandles) {
  _XmlLiteWriterS* w = Make();
  // Longer than the on-stack buffer, so the heap path is taken too.
  const std::string longText(5000, 'q');
  EXPECT_EQ(0, XmlLiteWriteValueF(w, longText.c_str()));
  EXPECT_EQ("string " + longText, fake::stats().writerCalls.back());
  // Bytes the code page does not map are replaced or passed on as null.
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "bad \xff\xfe bytes"));
  EXPECT_EQ(0u, fake::stats().writerCalls.back().rfind("string ", 0));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));

  _XmlLiteReaderS* reader = XmlLiteCreateMemReaderH("<a/>");
  ASSERT_NE(nullptr, reader);
  alignas(16) unsigned char garbage[64] = {0x52, 0x72};  // magic bytes swapped
  std::vector<_XmlLiteWriterS*> bad = {nullptr, reinterpret_cast<_XmlLiteWriterS*>(garbage),
                                       reinterpret_cast<_XmlLiteWriterS*>(reader)};
#if !TWXML_TEST_ASAN
  _XmlLiteWriterS* closed = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, closed);
  EXPECT_EQ(0, XmlLiteCloseWriterF(closed));
  bad.push_back(closed);
#endif
  for (_XmlLiteWriterS* b : bad) {
    EXPECT_EQ(0, XmlLiteIsWriterHndValidB(b));
    EXPECT_EQ(44, XmlLiteWriteStartElemF(b, nullptr, "a", nullptr));
    EXPECT_EQ(44, XmlLiteWriteAttrF(b, nullptr, "a", nullptr, "v"));
    EXPECT_EQ(44, XmlLiteWriteValueF(b, "v"));
    EXPECT_EQ(44, XmlLiteWriteEndElemF(b));
    EXPECT_EQ("(none)", TakeMem(b, 44));
    EXPECT_EQ(44, XmlLiteCloseWriterF(b));
  }
  EXPECT_EQ(1, XmlLiteIsReaderHndValidB(reader));
  EXPECT_EQ(0, XmlLiteCloseReaderF(reader));
}

}  // namespace
