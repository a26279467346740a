// Behaviour of IXmlReader the library relies on: node sequence, names,
// namespaces, attribute access, defaults, entities, encodings, positions.
#include <gtest/gtest.h>

#include "reader_util.h"

using namespace twxml::test;

namespace {

std::u16string u16(const WCHAR* p, UINT n) { return std::u16string(p, n); }

struct Case {
  const char* doc;
  const char* trace;
};

}  // namespace

TEST(XmlReader, NodeSequences) {
  const Case cases[] = {
      {"<a/>", "1 0 {a|}/ []\n"},
      {"<?xml version='1.0'?>\n<r><!--c--><?pi d?>t<![CDATA[<x>]]> </r>",
       "17 0 {xml|} [] @version=1.0\n13 0 {|} [\n]\n1 0 {r|} []\n8 1 {|} [c]\n"
       "7 1 {pi|} [d]\n3 1 {|} [t]\n4 1 {|} [<x>]\n13 1 {|} [ ]\n15 0 {r|} []\n"},
      {"<r a='1' b=\"x&amp;y\"><c/></r>",
       "1 0 {r|} [] @a=1 @b=x&y\n1 1 {c|}/ []\n15 0 {r|} []\n"},
      {"<p:r xmlns:p='urn:p' xmlns='urn:d'><c p:a='1' a='2'/></p:r>",
       "1 0 {p:r|urn:p} [] @xmlns:p{http://www.w3.org/2000/xmlns/}=urn:p "
       "@xmlns{http://www.w3.org/2000/xmlns/}=urn:d\n"
       "1 1 {c|urn:d}/ [] @p:a{urn:p}=1 @a=2\n15 0 {p:r|urn:p} []\n"},
      {"<r xml:lang='en'/>", "1 0 {r|}/ [] @xml:lang{http://www.w3.org/XML/1998/namespace}=en\n"},
      // End-of-line handling and attribute value normalisation.
      {"<r a='x\r\ny\tz'>1\r\n2\r3</r>", "1 0 {r|} [] @a=x y z\n3 1 {|} [1\n2\n3]\n15 0 {r|} []\n"},
      {"<r a='&#10;&#x20;&#9;'>&#60;&#x10000;</r>",
       "1 0 {r|} [] @a=\n \t\n3 1 {|} [<\xF0\x90\x80\x80]\n15 0 {r|} []\n"},
      // Internal subset: entities, defaults, tokenized normalisation.
      {"<!DOCTYPE r [<!ENTITY e 'v<b>x</b>w'><!ATTLIST r t NMTOKENS #IMPLIED d CDATA 'dv'>]>"
       "<r t='  a   b '>1&e;2</r>",
       "10 0 {r|} [<!ENTITY e 'v<b>x</b>w'><!ATTLIST r t NMTOKENS #IMPLIED d CDATA 'dv'>]\n"
       "1 0 {r|} [] @t=a b @d=dv(d)\n3 1 {|} [1v]\n1 1 {b|} []\n3 2 {|} [x]\n"
       "15 1 {b|} []\n3 1 {|} [w2]\n15 0 {r|} []\n"},
      {"<!DOCTYPE r SYSTEM 'x.dtd'><r>&undeclared;</r>",
       "10 0 {r|} [] @SYSTEM=x.dtd\n1 0 {r|} []\n15 0 {r|} []\n"},
      {"<!DOCTYPE r [<!ENTITY a '&#38;#60;'>]><r x='&a;'/>",
       "10 0 {r|} [<!ENTITY a '&#38;#60;'>]\n1 0 {r|}/ [] @x=<\n"},
  };
  for (const Case& c : cases) {
    WalkResult w = walk(c.doc);
    EXPECT_EQ(w.hr, S_FALSE) << c.doc;
    EXPECT_EQ(w.trace, c.trace) << c.doc;
    // The same in one-byte chunks: refills never change the result.
    WalkResult w1 = walk(c.doc, 1);
    EXPECT_EQ(w1.trace, c.trace) << c.doc;
  }
}

TEST(XmlReader, RejectsMalformed) {
  const char* bad[] = {
      "", "<a>", "<a></b>", "<a/><b/>", "text<a/>", "<a x='1' x='2'/>",
      "<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>", "<p:a/>", "<a xmlns:p=''/>",
      "<a xmlns:xml='urn:x'/>", "<a xmlns:xmlns='urn:x'/>", "<a>&undeclared;</a>",
      "<a>]]></a>", "<a><!-- -- --></a>", "<a>&#0;</a>", "<a>\x01</a>", "<?xml version='1.0'?><?xml version='1.0'?><a/>",
      " <?xml version='1.0'?><a/>", "<a b='<'/>", "<!DOCTYPE a [<!ENTITY e '&e;'>]><a>&e;</a>",
      "<!DOCTYPE a [<!ENTITY e '<b>'>]><a>&e;</b></a>", "<a:b:c/>", "<a>\xff</a>", "<a>\xc0\x80</a>",
      "<a/>junk", "<a/><!DOCTYPE a>", "<a x=1/>", "<?xml version='2.0'?><a/>", "<1a/>",
  };
  for (const char* d : bad) {
    WalkResult w = walk(d);
    EXPECT_TRUE(FAILED(w.hr)) << d << " -> " << std::hex << w.hr;
  }
}

TEST(XmlReader, HandleLayerContract) {
  ReaderPtr r;
  TestStream* s = new TestStream("<r><a id='7' p:q='x' xmlns:p='urn:p'/><b>hi</b></r>");
  ASSERT_EQ(r->SetInput(s), S_OK);
  s->Release();
  XmlNodeType t;
  ASSERT_EQ(r->Read(&t), S_OK);
  ASSERT_EQ(r->Read(&t), S_OK);
  EXPECT_EQ(t, XmlNodeType_Element);
  EXPECT_TRUE(r->IsEmptyElement());
  const WCHAR* p;
  UINT n;
  EXPECT_EQ(r->MoveToAttributeByName(u"q", nullptr), S_FALSE);  // q has a namespace
  EXPECT_EQ(r->MoveToAttributeByName(u"missing", nullptr), S_FALSE);
  EXPECT_EQ(r->MoveToAttributeByName(u"q", u"urn:p"), S_OK);
  ASSERT_EQ(r->MoveToAttributeByName(u"id", nullptr), S_OK);
  ASSERT_EQ(r->GetValue(&p, &n), S_OK);
  EXPECT_EQ(u16(p, n), u"7");
  EXPECT_EQ(p[n], 0);
  ASSERT_EQ(r->GetLocalName(&p, &n), S_OK);
  EXPECT_EQ(u16(p, n), u"id");
  // Standing on an attribute, Read goes on after the element.
  ASSERT_EQ(r->Read(&t), S_OK);
  EXPECT_EQ(t, XmlNodeType_Element);
  r->GetLocalName(&p, &n);
  EXPECT_EQ(u16(p, n), u"b");
  EXPECT_FALSE(r->IsEmptyElement());
  ASSERT_EQ(r->Read(&t), S_OK);
  EXPECT_EQ(t, XmlNodeType_Text);
  WCHAR buf[2];
  UINT got;
  EXPECT_EQ(r->ReadValueChunk(buf, 1, &got), S_OK);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(buf[0], u'h');
  r->GetValue(&p, &n);
  EXPECT_EQ(u16(p, n), u"i");
  EXPECT_EQ(r->ReadValueChunk(buf, 2, &got), S_OK);
  EXPECT_EQ(r->ReadValueChunk(buf, 2, &got), S_FALSE);
  ASSERT_EQ(r->Read(&t), S_OK);
  EXPECT_EQ(t, XmlNodeType_EndElement);
  ASSERT_EQ(r->Read(&t), S_OK);
  EXPECT_EQ(t, XmlNodeType_EndElement);
  EXPECT_FALSE(r->IsEOF());
  EXPECT_EQ(r->Read(&t), S_FALSE);
  EXPECT_TRUE(r->IsEOF());
  EXPECT_EQ(r->Read(&t), S_FALSE);
}

TEST(XmlReader, FailureIsSticky) {
  ReaderPtr r;
  TestStream* s = new TestStream("<r><a></b></r>");
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  EXPECT_EQ(r->Read(&t), S_OK);
  EXPECT_EQ(r->Read(&t), S_OK);
  HRESULT hr = r->Read(&t);
  EXPECT_EQ(hr, WC_E_ELEMENTMATCH);
  UINT line = 0, col = 0;
  r->GetLineNumber(&line);
  r->GetLinePosition(&col);
  EXPECT_EQ(line, 1u);
  EXPECT_EQ(col, 9u);  // the name in the end tag
  EXPECT_EQ(r->Read(&t), hr);
  const WCHAR* p;
  EXPECT_EQ(r->GetLocalName(&p, nullptr), hr);
  EXPECT_EQ(r->MoveToFirstAttribute(), hr);
}

TEST(XmlReader, StreamFailureAndNoInput) {
  ReaderPtr r;
  XmlNodeType t;
  EXPECT_TRUE(FAILED(r->Read(&t)));
  TestStream* s = new TestStream(std::string("<r>") + std::string(100000, 'x') + "</r>", 4096, 70000);
  r->SetInput(s);
  s->Release();
  HRESULT hr;
  while ((hr = r->Read(&t)) == S_OK) {
  }
  EXPECT_EQ(hr, STG_E_READFAULT);
}

TEST(XmlReader, Properties) {
  ReaderPtr r;
  LONG_PTR v = -1;
  EXPECT_EQ(r->GetProperty(XmlReaderProperty_DtdProcessing, &v), S_OK);
  EXPECT_EQ(v, DtdProcessing_Parse);
  EXPECT_EQ(r->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit), S_OK);
  WalkResult w = walk(r.r, "<!DOCTYPE a><a/>");
  EXPECT_EQ(w.hr, WC_E_DTDPROHIBITED);
  EXPECT_EQ(r->SetProperty(XmlReaderProperty_MaxElementDepth, 3), S_OK);
  EXPECT_EQ(walk(r.r, "<a><b><c/></b></a>").hr, S_FALSE);
  EXPECT_EQ(walk(r.r, "<a><b><c><d/></c></b></a>").hr, SC_E_MAXELEMENTDEPTH);
  EXPECT_EQ(r->SetProperty(XmlReaderProperty_ConformanceLevel, XmlConformanceLevel_Document), S_OK);
  EXPECT_EQ(r->SetProperty(12345, 0), E_INVALIDARG);
}

TEST(XmlReader, Encodings) {
  auto utf16 = [](const std::u16string& s, bool be, bool bom) {
    std::string o;
    if (bom) o += be ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : s) {
      char hi = char(c >> 8), lo = char(c & 0xFF);
      o += be ? hi : lo;
      o += be ? lo : hi;
    }
    return o;
  };
  const std::string want = "1 0 {r|} [] @a=\xC3\xA9\n3 1 {|} [\xE2\x82\xAC\xF0\x9D\x84\x9E]\n15 0 {r|} []\n";
  std::u16string doc = u"<r a='\u00e9'>\u20ac\U0001D11E</r>";
  EXPECT_EQ(walk(utf16(doc, false, true)).trace, want);
  EXPECT_EQ(walk(utf16(doc, true, true)).trace, want);
  EXPECT_EQ(walk(utf16(u"<?xml version='1.0' encoding='UTF-16'?>" + doc, false, false)).hr, S_FALSE);
  EXPECT_EQ(walk("\xEF\xBB\xBF<r a='\xC3\xA9'>\xE2\x82\xAC\xF0\x9D\x84\x9E</r>").trace, want);
  WalkResult l1 = walk("<?xml version='1.0' encoding='ISO-8859-1'?><r a='\xE9'/>");
  EXPECT_EQ(l1.trace, "17 0 {xml|} [] @version=1.0 @encoding=ISO-8859-1\n1 0 {r|}/ [] @a=\xC3\xA9\n");
  WalkResult w1252 = walk("<?xml version='1.0' encoding='windows-1252'?><r>\x80</r>");
  EXPECT_NE(w1252.trace.find("[\xE2\x82\xAC]"), std::string::npos);
  WalkResult sjis = walk("<?xml version='1.0' encoding='Shift_JIS'?><r>\x82\xa0</r>");
  EXPECT_NE(sjis.trace.find("[\xE3\x81\x82]"), std::string::npos);
  EXPECT_EQ(walk("<?xml version='1.0' encoding='no-such-charset'?><r/>").hr, MX_E_ENCODING);
  // Invalid bytes: failure with the position of the bad byte.
  WalkResult bad = walk("<r>\nab\xC3(</r>");
  EXPECT_EQ(bad.hr, MX_E_ENCODINGSIGNATURE);
  EXPECT_EQ(bad.errLine, 2u);
  EXPECT_EQ(bad.errCol, 3u);
  EXPECT_TRUE(FAILED(walk("<?xml version='1.0' encoding='US-ASCII'?><r>\xC3\xA9</r>").hr));
  // Zero bytes after the document at the very end count as its end.
  EXPECT_EQ(walk(std::string("<r/>\0", 5)).hr, S_FALSE);
  EXPECT_EQ(walk(std::string("<r/>\n\0\0\0", 8)).hr, S_FALSE);
  EXPECT_TRUE(FAILED(walk(std::string("<r/>\0x", 6)).hr));
  EXPECT_TRUE(FAILED(walk(std::string("<r>\0</r>", 8)).hr));
}

TEST(XmlReader, Positions) {
  ReaderPtr r;
  TestStream* s = new TestStream("<r>\n  <a b='1'/>\n  t\xC3\xA9xt<c/></r>");
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  UINT line, col;
  std::vector<std::string> got;
  while (r->Read(&t) == S_OK) {
    r->GetLineNumber(&line);
    r->GetLinePosition(&col);
    got.push_back(std::to_string(t) + "@" + std::to_string(line) + ":" + std::to_string(col));
    if (r->MoveToFirstAttribute() == S_OK) {
      r->GetLineNumber(&line);
      r->GetLinePosition(&col);
      got.push_back("attr@" + std::to_string(line) + ":" + std::to_string(col));
    }
  }
  std::vector<std::string> want = {"1@1:2", "13@1:4", "1@2:4", "attr@2:6", "3@2:13", "1@3:8", "15@3:11"};
  EXPECT_EQ(got, want);
}

TEST(XmlReader, ErrorPositions) {
  struct Case {
    const char* doc;
    UINT line, col;
  } cases[] = {
      {"<r>\n  <a x='1' x='2'/></r>", 2, 12},  // the second x
      {"<r>\n  text ]]> more</r>", 2, 8},
      {"<r>&#1;</r>", 1, 4},
      {"<r>\n<a b='<'/></r>", 2, 7},
      {"<r>&nope;</r>", 1, 4},
      {"<r>\n  <1a/></r>", 2, 4},
      {"<r>\n  t\xC3\xA9\xFF</r>", 2, 5},  // the bad byte, after a two-byte character
  };
  for (const Case& c : cases) {
    WalkResult w = walk(c.doc);
    EXPECT_TRUE(FAILED(w.hr)) << c.doc;
    EXPECT_EQ(w.errLine, c.line) << c.doc;
    EXPECT_EQ(w.errCol, c.col) << c.doc;
  }
}
