// Why and where a document failed, from every face of the library: the
// reader handle, XmlInterface over either engine (the document engine fails
// in its factory, so per thread), and the document class. One table of bad
// documents; every face gives the same message and the same position. (More
// messages, from the twxml program: tests/tools/cli_test.cpp.)
#include <gtest/gtest.h>

#include <string>

#include "twxml/twxml.h"

namespace {

struct Report {
  int status = -99;
  unsigned int line = 0, column = 0;
  std::string message;
  bool operator==(const Report&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Report& r) {
  return o << r.status << " " << r.line << ":" << r.column << " '" << r.message << "'";
}

template <class F>
Report Ask(F get) {
  Report r;
  char buffer[512] = "untouched";
  r.status = get(&r.line, &r.column, buffer, unsigned(sizeof buffer));
  r.message = r.status == 0 ? buffer : "";
  return r;
}

char* S(const std::string& s) { return const_cast<char*>(s.c_str()); }

Report ViaHandle(const std::string& doc) {
  _XmlLiteReaderS* h = XmlLiteCreateMemReaderH(doc.c_str());
  EXPECT_NE(h, nullptr);
  Report none = Ask([&](auto... a) { return XmlLiteGetLastErrorF(h, a...); });
  EXPECT_EQ(none.status, TWXML_E_NOTFOUND);
  while (XmlLiteSkipLevelF(h) == TWXML_OK) {
  }
  Report r = Ask([&](auto... a) { return XmlLiteGetLastErrorF(h, a...); });
  XmlLiteCloseReaderF(h);
  return r;
}

Report ViaXmlInterface(const std::string& doc, bool dom) {
  XmlInterface* x = nullptr;
  int status = XmlInterface::CreateReaderFromMemF(S(doc), static_cast<unsigned long>(doc.size()), &x, dom);
  Report load = Ask(XmlInterface::GetLastLoadErrorF);
  if (x == nullptr) {
    EXPECT_EQ(status, TWXML_E_CREATE);
    return load;
  }
  EXPECT_EQ(load.status, TWXML_E_NOTFOUND);
  while (x->SkipLevelB()) {
  }
  Report r = Ask([&](auto... a) { return x->GetLastErrorF(a...); });
  delete x;
  return r;
}

Report ViaDocument(const std::string& doc) {
  KxXMLParser* p = XmlGetParserP();
  int status = 0;
  KxStream* in = StreamCreateMemStreamP(S(doc), static_cast<unsigned long>(doc.size()), S(""), 0, 0, &status);
  EXPECT_EQ(p->LoadFromStreamF(in), TWXML_E_CREATE);
  delete in;
  Report r = Ask([&](auto... a) { return XmlGetLoadErrorF(p, a...); });
  EXPECT_EQ(r, Ask([&](auto... a) { return static_cast<KxXMLParserImpl*>(p)->GetLoadErrorF(a...); }));
  delete p;
  return r;
}

}  // namespace

TEST(Errors, EveryFaceReportsTheSameMessageAndPosition) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  if (!XmlLiteIsDllFoundB()) GTEST_SKIP() << "streaming module not built";
  const struct {
    std::string doc;
    const char* message;
    unsigned int line, column;
  } cases[] = {
      {"<a/>\n<b/>", "two document elements", 2, 1},
      {"<a>\n  &nbsp;</a>", "undefined entity 'nbsp'", 2, 3},
      {"<a x='1' y='2' x='3'/>", "duplicate attribute 'x'", 1, 16},
      {"<p:a/>", "undeclared namespace prefix 'p'", 1, 2},
      {"<a>]]></a>", "']]>' in text", 1, 4},
      {"<a/>text", "text outside the document element", 1, 5},
      {"<a>", "unexpected end of input", 1, 4},
      {"  ", "no document element", 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.doc);
    const Report want{0, c.line, c.column, c.message};
    EXPECT_EQ(ViaHandle(c.doc), want);
    EXPECT_EQ(ViaXmlInterface(c.doc, false), want);
    EXPECT_EQ(ViaXmlInterface(c.doc, true), want);
    EXPECT_EQ(ViaDocument(c.doc), want);
  }
  // Bad handles and objects; a message cut to the caller's buffer.
  EXPECT_EQ(Ask([](auto... a) { return XmlLiteGetLastErrorF(nullptr, a...); }).status, TWXML_E_HANDLE);
  EXPECT_EQ(Ask([](auto... a) { return XmlGetLoadErrorF(nullptr, a...); }).status, TWXML_E_HANDLE);
  _XmlLiteReaderS* h = XmlLiteCreateMemReaderH("<a x=1/>");
  XmlLiteReadElemF(h);
  char small[8];
  unsigned int line = 0;
  EXPECT_EQ(XmlLiteGetLastErrorF(h, &line, nullptr, small, sizeof small), TWXML_E_NOTFOUND);
  EXPECT_STREQ(small, "unquote");
  EXPECT_EQ(line, 1u);
  XmlLiteCloseReaderF(h);
  CoUninitialize();
}
