// Random sequences of writer calls with good and bad arguments: a refused
// call never changes the output, and whenever the document is ended with
// success, an independent parser accepts what was written.
#include <libxml/parser.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace twxml::xmlwriter::test {
namespace {

class Caller {
 public:
  Caller(IXmlWriter* w, uint32_t seed) : w_(w), rng_(seed) {}

  // One random call; returns its result.
  HRESULT step(std::string* what) {
    switch (pick(20)) {
      case 0:
      case 1:
      case 2: {
        auto p = prefix();
        auto n = name();
        auto u = uri();
        *what = "WriteStartElement";
        return w_->WriteStartElement(p, n.c_str(), u);
      }
      case 3:
      case 4: {
        auto p = prefix();
        auto n = name();
        auto u = uri();
        auto v = text();
        *what = "WriteAttributeString";
        return w_->WriteAttributeString(p, n.c_str(), u, v.c_str());
      }
      case 5:
        *what = "WriteEndElement";
        return w_->WriteEndElement();
      case 6:
        *what = "WriteFullEndElement";
        return w_->WriteFullEndElement();
      case 7: {
        auto t = text();
        *what = "WriteString";
        return w_->WriteString(t.c_str());
      }
      case 8: {
        auto t = text();
        *what = "WriteCData";
        return w_->WriteCData(t.c_str());
      }
      case 9: {
        auto t = text();
        *what = "WriteComment";
        return w_->WriteComment(t.c_str());
      }
      case 10: {
        auto n = name();
        auto t = text();
        *what = "WriteProcessingInstruction";
        return w_->WriteProcessingInstruction(n.c_str(), t.c_str());
      }
      case 11: {
        static const char16_t chars[] = {u'a', u'<', 0x1, 0xD800, 0xFFFE, u'\u20ac', u'\t'};
        *what = "WriteCharEntity";
        return w_->WriteCharEntity(chars[pick(7)]);
      }
      case 12: {
        auto p = prefix();
        auto n = name();
        auto u = uri();
        auto v = text();
        *what = "WriteElementString";
        return w_->WriteElementString(p, n.c_str(), u, pick(4) ? v.c_str() : nullptr);
      }
      case 13: {
        static const char16_t* const ws[] = {u" ", u"\n\t", u"x", u""};
        *what = "WriteWhitespace";
        return w_->WriteWhitespace(ws[pick(4)]);
      }
      case 14: {
        *what = "WriteStartDocument";
        return w_->WriteStartDocument(static_cast<XmlStandalone>(pick(3)));
      }
      case 15: {
        auto n = name();
        *what = "WriteDocType";
        return w_->WriteDocType(n.c_str(), nullptr, pick(2) ? u"x.dtd" : nullptr, nullptr);
      }
      case 16: {
        auto n = name();
        *what = "WriteQualifiedName";
        return w_->WriteQualifiedName(n.c_str(), uri());
      }
      case 17: {
        auto n = name();
        *what = pick(2) ? "WriteName" : "WriteNmToken";
        return *what == "WriteName" ? w_->WriteName(n.c_str()) : w_->WriteNmToken(n.c_str());
      }
      case 18: {
        auto t = text();
        *what = "WriteChars";
        return w_->WriteChars(t.data(), static_cast<UINT>(t.size() / 2));
      }
      default: {
        static const char16_t* const refs[] = {u"amp", u"lt", u"quot", u"1x", u"x y"};
        *what = "WriteEntityRef";
        return w_->WriteEntityRef(refs[pick(5)]);
      }
    }
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  const char16_t* prefix() {
    static const char16_t* const p[] = {nullptr, nullptr, nullptr, u"", u"a", u"b", u"xml",
                                        u"xmlns", u"1"};
    return p[pick(9)];
  }
  const char16_t* uri() {
    static const char16_t* const u[] = {nullptr, nullptr, nullptr, u"", u"urn:a", u"urn:b",
                                        u"http://www.w3.org/XML/1998/namespace",
                                        u"http://www.w3.org/2000/xmlns/"};
    return u[pick(8)];
  }
  std::u16string name() {
    static const char16_t* const n[] = {u"e", u"f", u"lang", u"space", u"xmlns", u"x-1",
                                        u"\u00e9t\u00e9", u"\u20ac", u"1bad", u"", u"a:b",
                                        u"XmL", u"\U0001D49C"};
    return n[pick(13)];
  }
  std::u16string text() {
    static const char16_t* const pieces[] = {u"t",  u"<&>", u"\"'", u"]]>", u"--", u"-",
                                             u"?>", u"\r\n", u"\u20ac", u"\u0001", u"\xD800",
                                             u"\U0001F600", u" ", u"preserve", u"default"};
    std::u16string s;
    for (int i = pick(4); i > 0; --i) s += pieces[pick(15)];
    return s;
  }

  IXmlWriter* w_;
  std::mt19937 rng_;
};

TEST(XmlWriterSequences, RefusalsLeaveNoTraceAndEndedDocumentsParse) {
  int parsed = 0;
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE(seed);
    const char16_t* enc = seed % 3 == 0 ? u"ISO-8859-1" : nullptr;
    WriterFixture w(enc);
    const XmlConformanceLevel level =
        seed % 4 == 0 ? XmlConformanceLevel_Fragment
                      : (seed % 4 == 1 ? XmlConformanceLevel_Auto : XmlConformanceLevel_Document);
    ASSERT_EQ(w->SetProperty(XmlWriterProperty_ConformanceLevel, level), S_OK);
    ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, seed % 5 == 0), S_OK);
    Caller caller(w.get(), seed);
    bool fragment = level == XmlConformanceLevel_Fragment;
    bool startedDocument = false, declared = false;
    const int calls = 20 + static_cast<int>(seed % 60);
    for (int i = 0; i < calls; ++i) {
      const std::string before = w.text();
      std::string what;
      HRESULT hr = caller.step(&what);
      if ((what == "WriteStartDocument" || what == "WriteDocType") && hr == S_OK)
        startedDocument = true;
      if (what == "WriteStartDocument" && hr == S_OK) declared = true;
      if (FAILED(hr)) {
        ASSERT_EQ(w.text(), before) << what << " failed with " << hr << " but wrote";
      }
    }
    if (level == XmlConformanceLevel_Auto && !startedDocument) fragment = true;
    if (w->WriteEndDocument() != S_OK) continue;
    const std::string& out = w.stream()->data();
    std::string doc = out;
    // Without a declaration nothing names the encoding.
    if (enc && !declared) continue;
    if (fragment) {
      doc = "<wrap>" + out + "</wrap>";
    }
    xmlDocPtr d = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "seq.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    EXPECT_NE(d, nullptr) << "not well formed:\n" << doc;
    if (d) ++parsed;
    xmlFreeDoc(d);
  }
  EXPECT_GT(parsed, 100);  // enough sequences ended in a document to mean something
}

}  // namespace
}  // namespace twxml::xmlwriter::test
