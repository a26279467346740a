// Saving: every output encoding is read back with libxml2 and compared with
// the model's own tree; failures (unknown encodings, characters markup cannot
// escape, streams refusing writes) come back with error information.
#include <random>
#include <string>

#include "dom_oracle.h"
#include "dom_test_stream.h"

using namespace domtest;

namespace {

class DomSave : public DomTest {};

const char16_t* const kTexts[] = {
    u"plain text",  u"a < b && c > d", u"quote \" and apostrophe '", u"caf\u00e9 na\u00efve",
    u"euro \u20ac", u"\u4e2d\u6587\u5b57", u"astral \U0001F600 \U00010348", u"tab\there",
    u"]]> in text", u"line\nbreak",
};
const char16_t* const kLatinNames[] = {u"item", u"r\u00e9sum\u00e9", u"data-1", u"x.y", u"_u"};
const char16_t* const kAsciiNames[] = {u"item", u"list", u"data-1", u"x.y", u"_u"};
const char16_t* const kAnyNames[] = {u"item", u"\u540d\u524d", u"r\u00e9sum\u00e9", u"\u0394elta", u"x.y"};

/* A document of random shape with every node kind, text from kTexts. */
enum Names { kAny, kLatin, kAscii };

Ptr<IXMLDOMDocument> Sample(const char16_t* encoding, Names repertoire, unsigned seed, int elements = 300) {
  auto d = NewDoc();
  Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  if (encoding) {
    std::u16string data = u"version='1.0' encoding='" + std::u16string(encoding) + u"'";
    Ptr<IXMLDOMProcessingInstruction> decl;
    Bstr t(u"xml"), dd(data);
    EXPECT_EQ(d->createProcessingInstruction(t, dd, decl.out()), S_OK);
    Append(doc, decl.as<IXMLDOMNode>(IID_IXMLDOMNode));
  }
  std::mt19937 rng(seed);
  auto pick = [&](auto& arr) { return arr[rng() % (sizeof(arr) / sizeof(arr[0]))]; };
  const auto& names = repertoire == kAny ? kAnyNames : repertoire == kLatin ? kLatinNames : kAsciiNames;
  auto root = Create(d, NODE_ELEMENT, u"root", u"urn:root");
  Append(doc, root);
  std::vector<Ptr<IXMLDOMNode>> open{root};
  for (int i = 0; i < elements; ++i) {
    Ptr<IXMLDOMNode> parent = open[rng() % open.size()];
    int kind = rng() % 10;
    if (kind < 4) {
      Ptr<IXMLDOMNode> e;
      if (rng() % 4 == 0) {
        std::u16string q = u"p:" + std::u16string(pick(names));
        e = Create(d, NODE_ELEMENT, q.c_str(), rng() % 2 ? u"urn:p1" : u"urn:p2");
      } else {
        e = Create(d, NODE_ELEMENT, pick(names));
      }
      auto el = e.as<IXMLDOMElement>(IID_IXMLDOMElement);
      int attrs = rng() % 4;
      for (int a = 0; a < attrs; ++a) {
        std::u16string an = std::u16string(u"a") + char16_t(u'0' + a);
        VARIANT v = VStr(pick(kTexts));
        Bstr bn(an);
        EXPECT_EQ(el->setAttribute(bn, v), S_OK);
        VariantClear(&v);
      }
      Append(parent, e);
      open.push_back(e);
    } else {
      static const int kinds[] = {NODE_TEXT, NODE_TEXT, NODE_COMMENT, NODE_CDATA_SECTION, NODE_PROCESSING_INSTRUCTION,
                                  NODE_TEXT};
      int k = kinds[rng() % 6];
      auto n = Create(d, k, k == NODE_PROCESSING_INSTRUCTION ? u"pi" : nullptr);
      const char16_t* t = pick(kTexts);
      Bstr b(k == NODE_COMMENT || k == NODE_PROCESSING_INSTRUCTION ? (repertoire == kAscii ? u"note" : u"note \u00e9") : t);
      EXPECT_EQ(n->put_text(b), S_OK);
      Append(parent, n);
    }
  }
  return d;
}

std::string SaveBytes(const Ptr<IXMLDOMDocument>& d, HRESULT* hr = nullptr) {
  TestStream s;
  HRESULT r = d->save(VUnk(&s));
  if (hr) {
    *hr = r;
  } else {
    EXPECT_EQ(r, S_OK) << TakeErrorDescription();
  }
  EXPECT_EQ(s.refs, 1u);  // the document keeps no reference
  return s.data_;
}

TEST_F(DomSave, EveryEncodingReadsBackTheSameTree) {
  struct Case {
    const char16_t* encoding;
    Names names;
    const char* mustContain;
  } cases[] = {
      {nullptr, kAny, "\xe2\x82\xac"},
      {u"UTF-8", kAny, "encoding='UTF-8'"},
      {u"utf-16", kAny, nullptr},
      {u"ISO-8859-1", kLatin, "&#x20AC;"},
      {u"windows-1252", kLatin, "\x80"},
      {u"US-ASCII", kAscii, "&#xE9;"},
      {u"Shift_JIS", kAscii, nullptr},
      {u"UTF-16BE", kAny, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding ? U8(c.encoding) : "none");
    for (unsigned seed : {1u, 2u, 3u}) {
      auto d = Sample(c.encoding, c.names, seed);
      std::string bytes = SaveBytes(d);
      ASSERT_FALSE(bytes.empty());
      if (c.mustContain && seed == 1) {
        EXPECT_NE(bytes.find(c.mustContain), std::string::npos);
      }
      if (c.encoding && U8(c.encoding) == "utf-16") {
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
      }
      CDataAsText() = c.names != kAny;
      std::string want = DomCanonOf(d);
      ASSERT_FALSE(want.empty());
      EXPECT_TRUE(SameTree(LibxmlCanonOf(bytes), want));
      CDataAsText() = false;
    }
  }
}

TEST_F(DomSave, XmlPropertyIsTheUtf8OutputAsText) {
  auto d = Sample(nullptr, kAny, 9);
  Bstr x;
  ASSERT_EQ(d->get_xml(x.out()), S_OK);
  EXPECT_EQ(U8(x.str()), SaveBytes(d));
  // With a declaration naming another encoding the text is still UTF-16 text.
  auto l = Sample(u"ISO-8859-1", kLatin, 9);
  ASSERT_EQ(l->get_xml(x.out()), S_OK);
  EXPECT_NE(x.str().find(u"\u20ac"), std::u16string::npos);
}

TEST_F(DomSave, LargeDocumentsPassInManyBlocks) {
  auto d = Sample(u"UTF-8", kAny, 5, 20000);
  std::string bytes = SaveBytes(d);
  EXPECT_GT(bytes.size(), 256u * 1024);
  EXPECT_TRUE(SameTree(LibxmlCanonOf(bytes), DomCanonOf(d)));
}

TEST_F(DomSave, FailuresReportErrorInformation) {
  auto sei = [](const Ptr<IXMLDOMDocument>& d) {
    auto s = d.as<ISupportErrorInfo>(IID_ISupportErrorInfo);
    return s && s->InterfaceSupportsErrorInfo(IID_IXMLDOMDocument) == S_OK;
  };
  {
    auto d = Sample(u"x-no-such-encoding", kAny, 1, 10);
    TakeErrorDescription();
    HRESULT hr;
    SaveBytes(d, &hr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_TRUE(sei(d));
    EXPECT_FALSE(TakeErrorDescription().empty());
  }
  {
    // A name that ISO-8859-1 cannot hold cannot be escaped either.
    auto d = NewDoc();
    Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
    Ptr<IXMLDOMProcessingInstruction> decl;
    Bstr t(u"xml"), dd(u"version='1.0' encoding='ISO-8859-1'");
    d->createProcessingInstruction(t, dd, decl.out());
    Append(doc, decl.as<IXMLDOMNode>(IID_IXMLDOMNode));
    Append(doc, Create(d, NODE_ELEMENT, u"\u540d"));
    HRESULT hr;
    SaveBytes(d, &hr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(TakeErrorDescription().empty());
  }
  for (size_t limit : {size_t(0), size_t(10), size_t(70000), size_t(300000)}) {
    SCOPED_TRACE(limit);
    auto d = Sample(u"UTF-8", kAny, 4, 20000);
    TestStream s;
    s.failWriteAfter = limit;
    TakeErrorDescription();
    HRESULT hr = d->save(VUnk(&s));
    EXPECT_TRUE(FAILED(hr));
    EXPECT_LE(s.data_.size(), limit);
    EXPECT_FALSE(TakeErrorDescription().empty());
    EXPECT_EQ(s.refs, 1u);
  }
  {
    auto d = Sample(nullptr, kAny, 1, 5);
    VARIANT v = VStr(u"file.xml");
    EXPECT_TRUE(FAILED(d->save(v)));
    VariantClear(&v);
    EXPECT_FALSE(TakeErrorDescription().empty());
  }
}

TEST_F(DomSave, PersistableAndSequentialDestinations) {
  auto d = Sample(u"UTF-16", kAny, 11, 2000);
  std::string direct = SaveBytes(d);
  TestPersist p;
  ASSERT_EQ(d->save(VUnk(&p)), S_OK);
  EXPECT_EQ(p.bytes, direct);
  EXPECT_EQ(p.refs, 1u);
  TestStream seq;
  seq.sequentialOnly = true;
  ASSERT_EQ(d->save(VUnk(&seq)), S_OK);
  EXPECT_EQ(seq.data_, direct);
}

}  // namespace
