// The writer handle against a scripted writer that logs its calls into its
// output: argument passing, result mapping, the encoding choice, ending the
// document exactly once, and bad handles.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    fake::Uninstall();
  }
};

TEST_F(WriterCore, CallsReachTheWriterInOrderAndTheTextIsTakenOnce) {
  fake::Install({});
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
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
      "startdoc 0\n"
      "start (null):root:(null)\n"
      "start x:item:urn:x\n"
      "attr (null):id:(null)=7\n"
      "string text\n"
      "string (null)\n"
      "end\n"
      "enddoc\n";
  EXPECT_EQ(expected, TakeMem(w));
  EXPECT_EQ(expected, TakeMem(w)) << "a fresh copy of the same text";
  EXPECT_EQ(1, fake::stats().endDocuments);
  EXPECT_EQ(1, fake::stats().flushes);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::stats().endDocuments) << "close does not end twice";
}

TEST_F(WriterCore, NoWritesGiveTheEmptyDocument) {
  fake::Install({});
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(1, nullptr);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(1, fake::stats().indentSet);
  EXPECT_EQ("startdoc 0\nenddoc\n", TakeMem(w));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

TEST_F(WriterCore, CloseEndsAndFlushesOpenDocuments) {
  fake::Install({});
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(0, fake::stats().endDocuments);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::stats().endDocuments);
  EXPECT_EQ(1, fake::stats().flushes);
}

TEST_F(WriterCore, RefusedWritesAre255AndTheHandleStaysUsable) {
  for (HRESULT answer : {E_FAIL, S_FALSE, WR_E_INVALIDACTION}) {
    fake::WriterScript script;
    script.writeResult = answer;
    fake::Install({}, script);
    _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(255, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
    EXPECT_EQ(255, XmlLiteWriteAttrF(w, nullptr, "a", nullptr, "v"));
    EXPECT_EQ(255, XmlLiteWriteValueF(w, "v"));
    EXPECT_EQ(255, XmlLiteWriteEndElemF(w));
    EXPECT_EQ(1, XmlLiteIsWriterHndValidB(w));
    EXPECT_NE("(none)", TakeMem(w));
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  }
}

TEST_F(WriterCore, EncodingChoice) {
  struct Case {
    const char* name;
    bool output;
  };
  const Case cases[] = {{nullptr, false}, {"UTF-8", false}, {"utf-8", false}, {"Utf-8", false},
                        {"UTF8", true},   {"UTF-16", true}, {"ISO-8859-1", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    fake::Install({});
    _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, c.name);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(c.output ? 1 : 0, fake::stats().outputRequests);
    if (c.output) {
      EXPECT_EQ(fake::Narrow(fake::stats().outputEncoding.c_str()), c.name);
    }
    // Either way the text reaches the builder.
    EXPECT_EQ("startdoc 0\nenddoc\n", TakeMem(w));
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  }
  // A refused encoding still gives a working handle writing straight to the stream.
  fake::WriterScript refuse;
  refuse.outputResult = WR_E_UNKNOWNENCODING;
  fake::Install({}, refuse);
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, "no-such-encoding");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(1, fake::stats().outputRequests);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ("startdoc 0\nstart (null):a:(null)\nenddoc\n", TakeMem(w));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

TEST_F(WriterCore, CreationFailureGivesNull) {
  fake::WriterScript script;
  script.createResult = E_OUTOFMEMORY;
  fake::Install({}, script);
  EXPECT_EQ(nullptr, XmlLiteCreateMemWriterH(0, nullptr));
  EXPECT_EQ(nullptr, XmlLiteCreateMemWriterH(1, "UTF-16"));
}

TEST_F(WriterCore, BadHandlesAnswer44) {
  fake::Install({{fake::Elem("a")}});
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
  for (_XmlLiteWriterS* w : bad) {
    EXPECT_EQ(0, XmlLiteIsWriterHndValidB(w));
    EXPECT_EQ(44, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
    EXPECT_EQ(44, XmlLiteWriteAttrF(w, nullptr, "a", nullptr, "v"));
    EXPECT_EQ(44, XmlLiteWriteValueF(w, "v"));
    EXPECT_EQ(44, XmlLiteWriteEndElemF(w));
    EXPECT_EQ("(none)", TakeMem(w, 44));
    EXPECT_EQ(44, XmlLiteCloseWriterF(w));
  }
  EXPECT_EQ(1, XmlLiteIsReaderHndValidB(reader));
  EXPECT_EQ(0, XmlLiteCloseReaderF(reader));
  EXPECT_EQ(0, fake::stats().liveReaders);
}

TEST_F(WriterCore, ConversionsOfNarrowArguments) {
  fake::Install({});
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, w);
  // Longer than the on-stack buffer, so the heap path is taken too.
  std::string longText(5000, 'q');
  EXPECT_EQ(0, XmlLiteWriteValueF(w, longText.c_str()));
  EXPECT_EQ("string " + longText, fake::stats().writerCalls.back());
  // Bytes the code page does not map are replaced or the text passed on as
  // null; the writer decides what that means.
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "bad \xff\xfe bytes"));
  EXPECT_EQ(0u, fake::stats().writerCalls.back().rfind("string ", 0));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
}

}  // namespace
