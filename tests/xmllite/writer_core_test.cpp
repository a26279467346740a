// The writer handle against a scripted writer: the document is ended exactly
// once, refusals map to 255 and leave the handle usable, bad handles are 44.
// (What the real module writes, in every encoding, is module_test.cpp's.)
#include <gtest/gtest.h>

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

_XmlLiteWriterS* Make(HRESULT writeResult = S_OK, HRESULT create = S_OK) {
  fake::Script script;
  script.writeResult = writeResult;
  script.writerCreate = create;
  fake::Install(script);
  return XmlLiteCreateMemWriterH(0, nullptr);
}

TEST(WriterCore, TheDocumentEndsOnceAndRefusalsAre255) {
  _XmlLiteWriterS* w = Make();
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "root", nullptr));
  const std::string longText(5000, 'q');  // longer than the on-stack buffer
  EXPECT_EQ(0, XmlLiteWriteValueF(w, longText.c_str()));
  EXPECT_EQ(u"" + std::u16string(longText.begin(), longText.end()), fake::stats().lastString);
  EXPECT_EQ(0, XmlLiteWriteValueF(w, "bad \xff\xfe bytes")) << "unmapped bytes are replaced, not refused";
  EXPECT_EQ(0, XmlLiteWriteValueF(w, nullptr));
  EXPECT_EQ(0, XmlLiteWriteEndElemF(w));
  const std::string expected = "startdoc\nstart\nstring\nstring\nstring\nend\nenddoc\n";
  EXPECT_EQ(expected, TakeMem(w));
  EXPECT_EQ(expected, TakeMem(w)) << "a fresh copy of the same text";
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::stats().endDocuments) << "neither the second copy nor close ends again";
  EXPECT_EQ(1, fake::stats().flushes);
  // Close ends and flushes an open document.
  w = Make();
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(0, fake::stats().endDocuments);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::stats().endDocuments);
  EXPECT_EQ(1, fake::stats().flushes);

  for (HRESULT answer : {E_FAIL, S_FALSE, WR_E_INVALIDACTION}) {
    w = Make(answer);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(255, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
    EXPECT_EQ(255, XmlLiteWriteAttrF(w, nullptr, "a", nullptr, "v"));
    EXPECT_EQ(255, XmlLiteWriteValueF(w, "v"));
    EXPECT_EQ(255, XmlLiteWriteEndElemF(w));
    EXPECT_EQ(1, XmlLiteIsWriterHndValidB(w));
    EXPECT_NE("(none)", TakeMem(w));
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  }
  EXPECT_EQ(nullptr, Make(S_OK, E_OUTOFMEMORY));
  EXPECT_EQ(nullptr, XmlLiteCreateMemWriterH(1, "UTF-16"));
  EXPECT_EQ(0, fake::stats().liveWriters);
  fake::Uninstall();
}

}  // namespace
