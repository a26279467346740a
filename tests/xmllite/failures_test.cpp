// The handle functions over a streaming reader and writer that refuse on
// demand: anything but S_OK from them is 255 with the caller's buffer kept,
// a refused creation is a null handle with nothing left alive, a refusing
// writer stays usable, and its document is ended exactly once.
#include <gtest/gtest.h>

#include "fake_module.h"

namespace {

TEST(InjectedFailures, ReaderRefusalsAre255) {
  const struct {
    fake::Script script;
    char call;  // N name, A attribute "a", a attribute "b", V value
    int status;
  } rows[] = {
      {{.nameResult = E_FAIL}, 'N', 255},     {{.valueResult = S_FALSE}, 'A', 255},
      {{.valueResult = E_FAIL}, 'V', 255},    {{.moveResult = E_INVALIDARG}, 'A', 255},
      {{.moveResult = E_INVALIDARG}, 'a', 255}, {{}, 'a', 30},
      {{}, 'A', 0},                            {{}, 'V', 0},
  };
  for (int k = 0; k < 2 * int(std::size(rows)); ++k) {  // through the UTF-16 and the UTF-8 calls
    const auto& row = rows[k % std::size(rows)];
    SCOPED_TRACE(testing::Message() << row.call << " " << row.status << " " << k);
    fake::Script script = row.script;
    script.utf8Calls = k >= int(std::size(rows));
    fake::Install(script);
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH("<ignored/>");
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(0, XmlLiteReadElemF(r));
    char buffer[8] = "same";
    const int status = row.call == 'N'   ? XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer)
                       : row.call == 'V' ? XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer)
                                         : XmlLiteGetAttrValueToBufF(r, row.call == 'A' ? "a" : "b", buffer,
                                                                     sizeof buffer);
    EXPECT_EQ(row.status, status);
    EXPECT_STREQ(status == 0 ? "v" : "same", buffer);
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
    EXPECT_EQ(0, fake::g_stats.liveReaders);
  }
  fake::Install({.readerCreate = E_OUTOFMEMORY});
  EXPECT_EQ(nullptr, XmlLiteCreateMemReaderH("<a/>"));
  EXPECT_EQ(0, fake::g_stats.liveReaders);
  fake::Uninstall();
}

TEST(InjectedFailures, WriterRefusalsAre255AndTheDocumentEndsOnce) {
  for (int k = 0; k < 6; ++k) {  // each answer, through the UTF-16 and the UTF-8 calls
    static const HRESULT kAnswers[] = {E_FAIL, S_FALSE, WR_E_INVALIDACTION};
    const HRESULT answer = kAnswers[k % 3];
    fake::Install({.writeResult = answer, .utf8Calls = k >= 3});
    _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(255, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
    EXPECT_EQ(255, XmlLiteWriteAttrF(w, nullptr, "a", nullptr, "v"));
    EXPECT_EQ(255, XmlLiteWriteValueF(w, "v"));
    EXPECT_EQ(255, XmlLiteWriteEndElemF(w));
    EXPECT_EQ(1, XmlLiteIsWriterHndValidB(w));
    for (int copy = 0; copy < 2; ++copy) {  // the second is a fresh copy
      char* text = nullptr;
      unsigned int length = 9;
      EXPECT_EQ(0, XmlLiteGetMemF(w, &text, &length));
      MemFreeF(text);
    }
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
    EXPECT_EQ(1, fake::g_stats.endDocuments) << "neither the second copy nor close ends again";
  }
  fake::Install();
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(1, nullptr);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  EXPECT_EQ(1, fake::g_stats.endDocuments) << "close ends an open document";
  fake::Install({.writerCreate = E_OUTOFMEMORY});
  EXPECT_EQ(nullptr, XmlLiteCreateMemWriterH(0, nullptr));
  EXPECT_EQ(0, fake::g_stats.liveWriters);
  fake::Uninstall();
}

}  // namespace
