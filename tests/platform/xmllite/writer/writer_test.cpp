// Behaviour of the writer: markup, escaping, refusals, namespace
// declarations, indentation, properties, streaming to the stream and output
// encodings.
#include <functional>
#include <string>

#include "support/iconv_text.h"
#include "test_support.h"
#include "twxml/platform/simd.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/xmllite_internal.h"
#include "xml_writer.h"

namespace twxml::xmlwriter::test {
namespace {

using Script = std::function<void(IXmlWriter*)>;
#define SCRIPT(...) [&](IXmlWriter* w) { __VA_ARGS__; }
#define OK(call) EXPECT_EQ(w->call, S_OK)

// Runs a script on a fresh writer (no declaration), ends the document and
// returns the text.
std::string run(const Script& script, bool indent = false,
                XmlConformanceLevel level = XmlConformanceLevel_Document) {
  WriterFixture w;
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_Indent, indent), S_OK);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_ConformanceLevel, level), S_OK);
  script(w.get());
  w->WriteEndDocument();  // refused without a trace when the script ended it
  return w.text();
}

struct ScriptCase {
  const char* what;
  Script script;
  const char* expected;
};

TEST(XmlWriter, Markup) {
  const ScriptCase cases[] = {
      {"every node kind",
       SCRIPT(OK(WriteStartDocument(XmlStandalone_Omit)); OK(WriteStartElement(nullptr, u"root", nullptr));
              OK(WriteAttributeString(nullptr, u"id", nullptr, u"7"));
              OK(WriteStartElement(nullptr, u"empty", nullptr)); OK(WriteEndElement());
              OK(WriteStartElement(nullptr, u"full", nullptr)); OK(WriteFullEndElement());
              OK(WriteElementString(nullptr, u"v", nullptr, u"x<y"));
              OK(WriteElementString(nullptr, u"n", nullptr, nullptr));
              OK(WriteElementString(nullptr, u"e", nullptr, u""));
              OK(WriteComment(u" note ")); OK(WriteProcessingInstruction(u"pi", u"data here"));
              OK(WriteProcessingInstruction(u"bare", nullptr)); OK(WriteCData(u"a]]>b"));
              OK(WriteChars(u"abcdef", 3)); OK(WriteEndDocument())),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><root id=\"7\"><empty/><full></full>"
       "<v>x&lt;y</v><n/><e></e><!-- note --><?pi data here?><?bare?>"
       "<![CDATA[a]]]]><![CDATA[>b]]>abc</root>"},
      {"standalone; WriteEndDocument closes everything",
       SCRIPT(EXPECT_EQ(w->WriteStartDocument(static_cast<XmlStandalone>(7)), E_INVALIDARG);
              OK(WriteStartDocument(XmlStandalone_No));
              for (auto n : {u"a", u"b"}) w->WriteStartElement(nullptr, n, nullptr);
              w->WriteString(u"x"); w->WriteStartElement(nullptr, u"d", nullptr)),
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><a><b>x<d/></b></a>"},
      {"declaration omitted",
       SCRIPT(w->SetProperty(XmlWriterProperty_OmitXmlDeclaration, TRUE);
              OK(WriteStartDocument(XmlStandalone_Yes)); w->WriteStartElement(nullptr, u"r", nullptr)),
       "<r/>"},
      {"doctype forms",
       SCRIPT(EXPECT_EQ(w->WriteDocType(u"r", u"bad{pubid", u"s", nullptr), WR_E_INVALIDCHARACTER);
              EXPECT_EQ(w->WriteDocType(u"r", u"p", nullptr, nullptr), E_INVALIDARG);
              EXPECT_EQ(w->WriteDocType(u"r", nullptr, u"'\"", nullptr), WR_E_INVALIDCHARACTER);
              EXPECT_EQ(w->WriteDocType(u"1r", nullptr, nullptr, nullptr), WR_E_INVALIDNAME);
              w->WriteDocType(u"r", nullptr, u"it's.dtd", u"<!ENTITY e \"v\">");
              w->WriteStartElement(nullptr, u"r", nullptr)),
       "<!DOCTYPE r SYSTEM \"it's.dtd\" [<!ENTITY e \"v\">]><r/>"},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.script), c.expected);
  }
}

TEST(XmlWriter, Escaping) {
  const struct {
    std::u16string in;
    const char *text, *attr;
  } cases[] = {
      {u"plain", "plain", "plain"},
      {u"a<b>c&d", "a&lt;b&gt;c&amp;d", "a&lt;b&gt;c&amp;d"},
      {u"]]>", "]]&gt;", "]]&gt;"},
      {u"q\"'", "q\"'", "q&quot;'"},
      {u"t\tn\nr\r", "t\tn\nr&#xD;", "t&#x9;n&#xA;r&#xD;"},
      {u"\u00e9\u20ac\u4e2d", "\xc3\xa9\xe2\x82\xac\xe4\xb8\xad", "\xc3\xa9\xe2\x82\xac\xe4\xb8\xad"},
      {u"\U0001F600", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {u"\u007f\u0085\ufffd", "\x7f\xc2\x85\xef\xbf\xbd", "\x7f\xc2\x85\xef\xbf\xbd"},
      {u"", "", ""},
  };
  // At every vector level, with the characters at every place of a block.
  for (int l = 0; l <= int(simd::Best()); ++l) {
    simd::Force(simd::Level(l));
    for (const auto& c : cases) {
      for (size_t pad : {0, 5, 9, 15, 17, 31, 40}) {
        const std::u16string in = std::u16string(pad, u'x') + c.in + std::u16string(pad % 7, u'y');
        const std::string before(pad, 'x'), after(pad % 7, 'y');
        EXPECT_EQ(run(SCRIPT(OK(WriteStartElement(nullptr, u"a", nullptr)); OK(WriteString(in.c_str())))),
                  "<a>" + before + c.text + after + "</a>") << l;
        EXPECT_EQ(run(SCRIPT(OK(WriteStartElement(nullptr, u"a", nullptr));
                             OK(WriteAttributeString(nullptr, u"v", nullptr, in.c_str())))),
                  "<a v=\"" + before + c.attr + after + "\"/>") << l;
      }
    }
  }
  simd::Force(simd::Best());
}

// Every refused call leaves the output as it was and the writer usable.
TEST(XmlWriter, RefusedCallsLeaveNoTrace) {
  const std::u16string high = u"a\xD800", low = u"\xDC00z", reversed = u"\xDC00\xD800";
  const char16_t* xmlUri = u"http://www.w3.org/XML/1998/namespace";
#define REFUSE(call, hr) {#call, [&](IXmlWriter* w) -> HRESULT { return w->call; }, hr}
  const struct {
    const char* what;
    std::function<HRESULT(IXmlWriter*)> call;
    HRESULT expected;
  } cases[] = {
      REFUSE(WriteString(u"a\u0001b"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteChars(u"a\0b", 3), WR_E_INVALIDCHARACTER),
      REFUSE(WriteString(u"\ufffe"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteAttributeString(nullptr, u"x", nullptr, u"\uffff"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteString(high.c_str()), WR_E_INVALIDSURROGATEPAIR),
      REFUSE(WriteString(low.c_str()), WR_E_INVALIDSURROGATEPAIR),
      REFUSE(WriteString(reversed.c_str()), WR_E_INVALIDSURROGATEPAIR),
      REFUSE(WriteChars(u"x\U0001F600", 2), WR_E_INVALIDSURROGATEPAIR),
      REFUSE(WriteAttributeString(nullptr, u"x", nullptr, u"\u000b"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteComment(u"\u0002"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteComment(u"a--b"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteComment(u"a-"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteProcessingInstruction(u"p", u"a?>b"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteProcessingInstruction(u"XmL", u"a"), WR_E_INVALIDNAME),
      REFUSE(WriteProcessingInstruction(u"a:b", u""), WR_E_INVALIDNAME),
      REFUSE(WriteCData(u"\u0008"), WR_E_INVALIDCHARACTER),
      REFUSE(WriteStartElement(nullptr, u"1a", nullptr), WR_E_INVALIDNAME),
      REFUSE(WriteStartElement(nullptr, u"a:b", nullptr), WR_E_INVALIDNAME),
      REFUSE(WriteStartElement(nullptr, u"", nullptr), WR_E_INVALIDNAME),
      REFUSE(WriteStartElement(nullptr, nullptr, nullptr), WR_E_INVALIDNAME),
      REFUSE(WriteStartElement(nullptr, u"a b", nullptr), WR_E_INVALIDNAME),
      REFUSE(WriteStartElement(nullptr, high.c_str(), nullptr), WR_E_INVALIDNAME),
      REFUSE(WriteStartElement(u"-p", u"a", u"urn:x"), WR_E_INVALIDNAME),
      REFUSE(WriteAttributeString(nullptr, u"a=", nullptr, u""), WR_E_INVALIDNAME),
      REFUSE(WriteAttributeString(nullptr, u"id", nullptr, u"2"), WR_E_DUPLICATEATTRIBUTE),
      REFUSE(WriteAttributeString(u"xml", u"space", nullptr, u"keep"), WR_E_INVALIDXMLSPACE),
      REFUSE(WriteStartElement(u"q", u"a", nullptr), WR_E_NAMESPACEUNDECLARED),
      REFUSE(WriteAttributeString(u"q", u"a", nullptr, u""), WR_E_NAMESPACEUNDECLARED),
      REFUSE(WriteStartElement(u"q", u"a", u""), WR_E_NSPREFIXWITHEMPTYNSURI),
      REFUSE(WriteStartElement(u"xmlns", u"a", nullptr), WR_E_XMLNSPREFIXDECLARATION),
      REFUSE(WriteAttributeString(u"xmlns", u"xml", nullptr, u"urn:x"), WR_E_XMLPREFIXDECLARATION),
      REFUSE(WriteAttributeString(u"xmlns", u"xmlns", nullptr, u"urn:x"),
             WR_E_XMLNSPREFIXDECLARATION),
      REFUSE(WriteAttributeString(u"xmlns", u"p", nullptr, xmlUri), WR_E_XMLURIDECLARATION),
      REFUSE(WriteAttributeString(u"xmlns", u"p", nullptr, u"http://www.w3.org/2000/xmlns/"),
             WR_E_XMLNSURIDECLARATION),
      REFUSE(WriteAttributeString(u"xmlns", u"p", nullptr, u""), WR_E_NSPREFIXWITHEMPTYNSURI),
      REFUSE(WriteAttributeString(u"xmlns", u"b", nullptr, u"urn:other"), WR_E_NSPREFIXDECLARED),
      REFUSE(WriteWhitespace(u" x "), WR_E_NONWHITESPACE),
      REFUSE(WriteStartDocument(XmlStandalone_Omit), WR_E_INVALIDACTION),
      REFUSE(WriteDocType(u"r", nullptr, nullptr, nullptr), WR_E_INVALIDACTION),
      REFUSE(WriteChars(nullptr, 2), E_INVALIDARG),
  };
#undef REFUSE
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriterFixture w;
    ASSERT_EQ(w->WriteStartElement(u"b", u"root", u"urn:b"), S_OK);
    ASSERT_EQ(w->WriteAttributeString(nullptr, u"id", nullptr, u"1"), S_OK);
    const std::string before = w.text();
    EXPECT_EQ(c.call(w.get()), c.expected);
    EXPECT_EQ(w.text(), before);
    // Still usable: attributes can follow, and the document ends well formed.
    ASSERT_EQ(w->WriteAttributeString(nullptr, u"ok", nullptr, u"1"), S_OK);
    ASSERT_EQ(w->WriteString(u"t"), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w.stream()->data(), "<b:root xmlns:b=\"urn:b\" id=\"1\" ok=\"1\">t</b:root>");
  }
}

// Calls out of place are refused by document state and conformance level.
TEST(XmlWriter, DocumentStateAndConformance) {
  const XmlConformanceLevel doc = XmlConformanceLevel_Document;
  const struct {
    const char* what;
    XmlConformanceLevel level;
    Script script;
    const char* expected;
  } cases[] = {
      {"nothing open", doc,
       SCRIPT(for (auto hr : {w->WriteEndElement(), w->WriteFullEndElement(),
                              w->WriteAttributeString(nullptr, u"a", nullptr, u""), w->WriteEndDocument(),
                              w->WriteString(u"text"), w->WriteCData(u"c")})
                EXPECT_EQ(hr, WR_E_INVALIDACTION);
              OK(WriteString(u" \n"))),  // white space may stand outside
       " \n"},
      {"a second root; attributes after content", doc,
       SCRIPT(OK(WriteStartDocument(XmlStandalone_Omit));
              EXPECT_EQ(w->WriteStartDocument(XmlStandalone_Omit), WR_E_INVALIDACTION);
              OK(WriteDocType(u"r", u"-//T//x", u"r.dtd", nullptr));
              EXPECT_EQ(w->WriteDocType(u"r", nullptr, nullptr, nullptr), WR_E_INVALIDACTION);
              OK(WriteComment(u"c")); OK(WriteStartElement(nullptr, u"r", nullptr)); OK(WriteString(u"x"));
              EXPECT_EQ(w->WriteAttributeString(nullptr, u"a", nullptr, u""), WR_E_INVALIDACTION);
              OK(WriteEndElement());
              EXPECT_EQ(w->WriteStartElement(nullptr, u"r2", nullptr), WR_E_INVALIDACTION);
              EXPECT_EQ(w->WriteElementString(nullptr, u"r2", nullptr, u"v"), WR_E_INVALIDACTION);
              OK(WriteProcessingInstruction(u"after", u"root")); OK(WriteEndDocument());
              EXPECT_EQ(w->WriteComment(u"late"), WR_E_INVALIDACTION);
              EXPECT_EQ(w->WriteEndDocument(), WR_E_INVALIDACTION)),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE r PUBLIC \"-//T//x\" \"r.dtd\">"
       "<!--c--><r>x</r><?after root?>"},
      {"no output: nothing works", doc,
       SCRIPT(OK(SetOutput(nullptr)); EXPECT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), E_UNEXPECTED);
              EXPECT_EQ(w->Flush(), E_UNEXPECTED); auto* s = new StringStream(); OK(SetOutput(s)); s->Release()),
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.script, false, c.level), c.expected);
  }
}

TEST(XmlWriter, NamespaceDeclarations) {
  const char16_t* xmlUri = u"http://www.w3.org/XML/1998/namespace";
#define START(p, l, u) w->WriteStartElement(p, l, u)
#define ATTR(p, l, u, v) w->WriteAttributeString(p, l, u, v)
  const ScriptCase cases[] = {
      {"prefix declared once", SCRIPT(START(u"p", u"a", u"urn:1"); START(u"p", u"b", u"urn:1")),
       "<p:a xmlns:p=\"urn:1\"><p:b/></p:a>"},
      {"default namespace declared once",
       SCRIPT(START(nullptr, u"a", u"urn:1"); START(nullptr, u"b", u"urn:1");
              START(nullptr, u"c", nullptr)),
       "<a xmlns=\"urn:1\"><b><c/></b></a>"},
      {"no namespace undeclares the default",
       SCRIPT(START(nullptr, u"a", u"urn:1"); START(nullptr, u"b", u""); START(nullptr, u"c", u"")),
       "<a xmlns=\"urn:1\"><b xmlns=\"\"><c/></b></a>"},
      {"no namespace without a default in scope", SCRIPT(START(nullptr, u"a", u"")), "<a/>"},
      {"null prefix reuses a bound prefix",
       SCRIPT(START(u"p", u"a", u"urn:1"); START(nullptr, u"b", u"urn:1")),
       "<p:a xmlns:p=\"urn:1\"><p:b/></p:a>"},
      {"empty prefix asks for the default namespace",
       SCRIPT(START(u"p", u"a", u"urn:1"); START(u"", u"b", u"urn:1")),
       "<p:a xmlns:p=\"urn:1\"><b xmlns=\"urn:1\"/></p:a>"},
      {"shadowed prefix is not reused",
       SCRIPT(START(u"p", u"a", u"urn:1"); START(u"p", u"b", u"urn:2");
              START(nullptr, u"c", u"urn:1")),
       "<p:a xmlns:p=\"urn:1\"><p:b xmlns:p=\"urn:2\"><c xmlns=\"urn:1\"/></p:b></p:a>"},
      {"scope ends with the element",
       SCRIPT(START(nullptr, u"r", nullptr); START(u"p", u"a", u"urn:1"); w->WriteEndElement();
              START(u"p", u"b", u"urn:1")),
       "<r><p:a xmlns:p=\"urn:1\"/><p:b xmlns:p=\"urn:1\"/></r>"},
      {"explicit declarations count for scope",
       SCRIPT(START(nullptr, u"r", nullptr); ATTR(u"xmlns", u"p", nullptr, u"urn:1");
              ATTR(nullptr, u"xmlns", nullptr, u"urn:d"); ATTR(u"xmlns", u"p", nullptr, u"urn:1");
              START(u"p", u"a", u"urn:1"); ATTR(u"xmlns", u"p", nullptr, u"urn:1");
              START(nullptr, u"b", u"urn:d")),
       "<r xmlns:p=\"urn:1\" xmlns=\"urn:d\"><p:a><b/></p:a></r>"},
      {"declaration through the xmlns namespace",
       SCRIPT(START(nullptr, u"r", nullptr);
              ATTR(nullptr, u"q", u"http://www.w3.org/2000/xmlns/", u"urn:q");
              ATTR(u"q", u"x", nullptr, u"1")),
       "<r xmlns:q=\"urn:q\" q:x=\"1\"/>"},
      {"attribute in a namespace gets a prefix",
       SCRIPT(START(nullptr, u"r", u"urn:d"); ATTR(nullptr, u"x", u"urn:d", u"1");
              ATTR(nullptr, u"y", u"urn:a", u"2"); ATTR(nullptr, u"z", u"urn:a", u"3");
              ATTR(u"k", u"w", u"urn:k", u"4"); ATTR(u"k", u"v", nullptr, u"5")),
       "<r xmlns=\"urn:d\" xmlns:ns1=\"urn:d\" ns1:x=\"1\" xmlns:ns2=\"urn:a\" ns2:y=\"2\" "
       "ns2:z=\"3\" xmlns:k=\"urn:k\" k:w=\"4\" k:v=\"5\"/>"},
      {"attribute reuses the element prefix",
       SCRIPT(START(u"p", u"r", u"urn:1"); ATTR(nullptr, u"x", u"urn:1", u"1");
              ATTR(u"p", u"y", u"urn:1", u"2"); ATTR(nullptr, u"z", nullptr, u"3")),
       "<p:r xmlns:p=\"urn:1\" p:x=\"1\" p:y=\"2\" z=\"3\"/>"},
      {"xml prefix is always bound",
       SCRIPT(START(nullptr, u"r", nullptr); ATTR(u"xml", u"lang", nullptr, u"en");
              ATTR(nullptr, u"space", xmlUri, u"preserve"); ATTR(u"xmlns", u"xml", nullptr, xmlUri)),
       "<r xml:lang=\"en\" xml:space=\"preserve\"/>"},
      {"uri escaped in declarations", SCRIPT(START(u"p", u"r", u"urn:a&b\"c")),
       "<p:r xmlns:p=\"urn:a&amp;b&quot;c\"/>"},
      {"same local name in two namespaces",
       SCRIPT(START(nullptr, u"r", nullptr); ATTR(u"a", u"x", u"urn:a", u"1");
              ATTR(u"b", u"x", u"urn:b", u"2"); ATTR(nullptr, u"x", nullptr, u"3");
              EXPECT_EQ(ATTR(u"c", u"x", u"urn:a", u"4"), WR_E_DUPLICATEATTRIBUTE)),
       "<r xmlns:a=\"urn:a\" a:x=\"1\" xmlns:b=\"urn:b\" b:x=\"2\" x=\"3\"/>"},
      {"an attribute's inherited prefix cannot be rebound on its element",
       SCRIPT(START(u"p", u"r", u"urn:1"); START(nullptr, u"c", nullptr);
              ATTR(u"p", u"x", nullptr, u"1");
              EXPECT_EQ(ATTR(u"xmlns", u"p", nullptr, u"urn:2"), WR_E_NSPREFIXDECLARED);
              EXPECT_EQ(ATTR(u"p", u"y", u"urn:2", u""), WR_E_NSPREFIXDECLARED)),
       "<p:r xmlns:p=\"urn:1\"><c p:x=\"1\"/></p:r>"},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.script), c.expected);
  }
}

TEST(XmlWriter, Indentation) {
  const ScriptCase cases[] = {
      {"nested elements",
       SCRIPT(w->WriteStartDocument(XmlStandalone_Omit); w->WriteComment(u"c");
              START(nullptr, u"a", nullptr); START(nullptr, u"b", nullptr);
              w->WriteElementString(nullptr, u"c", nullptr, u"text");
              w->WriteElementString(nullptr, u"d", nullptr, nullptr); w->WriteEndElement();
              w->WriteProcessingInstruction(u"p", nullptr); START(nullptr, u"e", nullptr);
              w->WriteFullEndElement()),
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--c-->\n<a>\n  <b>\n    <c>text</c>\n"
       "    <d/>\n  </b>\n  <?p?>\n  <e></e>\n</a>"},
      {"mixed content stays as written",
       SCRIPT(START(nullptr, u"a", nullptr); START(nullptr, u"p", nullptr); w->WriteString(u"x");
              START(nullptr, u"b", nullptr); START(nullptr, u"i", nullptr); w->WriteString(u"y");
              w->WriteEndElement(); w->WriteComment(u"c"); w->WriteEndElement();
              w->WriteString(u"z"); w->WriteEndElement(); START(nullptr, u"q", nullptr)),
       "<a>\n  <p>x<b><i>y</i><!--c--></b>z</p>\n  <q/>\n</a>"},
      {"text after a child stops indentation from there on",
       SCRIPT(START(nullptr, u"a", nullptr); START(nullptr, u"b", nullptr); w->WriteEndElement();
              w->WriteString(u"t"); START(nullptr, u"c", nullptr)),
       "<a>\n  <b/>t<c/></a>"},
  };
  for (const ScriptCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.script, true), c.expected);
  }
  // One indentation of 66000 spaces, longer than the buffer, streams in pieces.
  WriterFixture w;
  const size_t depth = 33000;
  for (size_t i = 0; i < depth; ++i) ASSERT_EQ(START(nullptr, u"e", nullptr), S_OK);
  ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, TRUE), S_OK);
  ASSERT_EQ(START(nullptr, u"c", nullptr), S_OK);
  ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, FALSE), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  std::string expected;
  for (size_t i = 0; i < depth; ++i) expected += "<e>";
  expected += "\n" + std::string(2 * depth, ' ') + "<c/>";
  for (size_t i = 0; i < depth; ++i) expected += "</e>";
  EXPECT_TRUE(w.stream()->data() == expected);
}
#undef START
#undef ATTR

TEST(XmlWriter, PropertiesFactoriesAndOutputs) {
  WriterFixture w;
  LONG_PTR v = -1;
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_Indent, &v), S_OK);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(w->GetProperty(99, &v), E_INVALIDARG);
  EXPECT_EQ(w->SetProperty(99, 1), E_INVALIDARG);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), S_OK);
  // Indentation may change once the document has begun; what shapes the
  // document may not.
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_OmitXmlDeclaration, 1), WR_E_INVALIDACTION);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_Indent, 1), S_OK);
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_Indent, &v), S_OK);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_Indent, 0), S_OK);

  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateXmlWriter(IID_IStream, &p, nullptr), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CreateXmlWriter(IID_IXmlWriter, nullptr, nullptr), E_INVALIDARG);
  ASSERT_EQ(CreateXmlWriter(IID_IUnknown, &p, nullptr), S_OK);
  IUnknown* other = static_cast<IUnknown*>(p);
  // SetOutput hands what was composed to the old output and starts afresh;
  // it takes a stream that only answers ISequentialStream and refuses objects
  // that are no stream.
  auto* seq = new StringStream(SIZE_MAX, STG_E_MEDIUMFULL, true);
  ASSERT_EQ(w->SetOutput(seq), S_OK);
  EXPECT_EQ(w.stream()->data(), "<a");
  ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
  ASSERT_EQ(w->WriteElementString(nullptr, u"b", nullptr, nullptr), S_OK);
  ASSERT_EQ(w->Flush(), S_OK);
  EXPECT_EQ(seq->data(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><b/>");
  EXPECT_EQ(w->SetOutput(other), E_NOINTERFACE);
  EXPECT_EQ(other->Release(), 0u);
  EXPECT_EQ(seq->Release(), 0u);  // the writer let the old output go
  // Releasing the writer flushes.
  auto* s = new StringStream();
  s->AddRef();
  {
    WriterFixture r(nullptr, s);
    ASSERT_EQ(r->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
    EXPECT_EQ(s->data(), "");
  }
  EXPECT_EQ(s->data(), "<a/>");
  EXPECT_EQ(s->Release(), 0u);
}

TEST(XmlWriter, LargeCallsStreamInPiecesAndAreCheckedFirst) {
  WriterFixture w;
  ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
  std::u16string chunk(1000, u'x'), big(200000, u'a');
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(w->WriteElementString(nullptr, u"e", nullptr, chunk.c_str()), S_OK);
  // About 1 MB written in pieces of at most the buffer size, before any Flush.
  EXPECT_GT(w.stream()->writes(), 10);
  EXPECT_GT(w.stream()->data().size(), 900000u);
  big[150000] = u'<';
  ASSERT_EQ(w->WriteString(big.c_str()), S_OK);
  std::u16string bad = big;
  bad[199999] = 0x0001;
  const std::string before = w.text();
  EXPECT_EQ(w->WriteString(bad.c_str()), WR_E_INVALIDCHARACTER);
  bad[199999] = 0xD800;
  EXPECT_EQ(w->WriteComment(bad.c_str()), WR_E_INVALIDSURROGATEPAIR);
  EXPECT_EQ(w->WriteCData(bad.c_str()), WR_E_INVALIDSURROGATEPAIR);
  EXPECT_EQ(w.text(), before);
  ASSERT_EQ(w->WriteCData(big.c_str()), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  const std::string& out = w.stream()->data();
  const size_t head = 3 + 1000 * (3 + 1000 + 4);
  EXPECT_EQ(out.size(), head + (200000 + 3) + (9 + 200000 + 3) + 4);
  EXPECT_EQ(out.substr(head + 150000, 4), "&lt;");
}

// The UTF-8 calls give what the UTF-16 calls give on the replacing
// conversion of the same bytes: answers and output, in every encoding and at
// every vector level, for long texts whose sequences straddle the pieces
// they are streamed in, ill-formed bytes, refused characters, declarations
// and xml:space values.
TEST(XmlWriter, Utf8CallsMatchTheWideCalls) {
  std::string big;
  for (int i = 0; big.size() < 200000; ++i)
    big += (i % 7 == 0) ? "\xF0\x9F\x98\x80" : (i % 5 == 0) ? "\xE2\x82\xAC" : (i % 3 == 0) ? "\xC3\xA9" : "a<";
  const std::string texts[] = {"plain", "a&b<c>d\"e\r\n\tf", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80",
                               "bad \xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82 end", "\xE2\x82",
                               "\xEF\xBF\xBE", "ctl \x01", "", big, big + "\x01", big + "\xF0\x9F"};
  // Prefixed ones with a URI: bound in scope to it (twice: the second is a
  // duplicate), bound to another, unbound, reserved; and prefixes bound on
  // the tag itself to longer URIs, then used with that URI and with ones
  // that differ only at the end or only near the start.
  const struct {
    const char *prefix, *local, *uri;
  } attrs[] = {{nullptr, "a", nullptr},      {"xml", "space", nullptr}, {"xmlns", "p", nullptr},
               {nullptr, "xmlns", nullptr},  {"q", "b", nullptr},       {"p", "c", "urn:p"},
               {"p", "c", "urn:p"},          {"p", "d", "urn:o"},       {"n", "d", "urn:n"},
               {"xml", "lang", "http://www.w3.org/XML/1998/namespace"}, {"xmlns", "z", "urn:z"},
               {"L", "x", "urn:example:long-uri:17"}, {"L", "y", "urn:example:long-uri:17"},
               {"L", "z", "urn:example:long-uri:18"}, {"L", "w", "urn:exbmple:long-uri:17"},
               {"M", "x", "urn:abcde"}, {"M", "y", "urn:abcde"}, {"M", "z", "urn:abcdf"},
               {"M", "w", "urm:abcde"}};
  const auto wide = [](const std::string& u8) {
    std::u16string w(u8.size(), u'\0');
    w.resize(twxml::utf::Utf8ToUtf16Replacing(u8.data(), u8.size(), w.data()));
    return w;
  };
  const twxml::simd::Level best = twxml::simd::Best();
  for (int level = 0; level <= static_cast<int>(best); ++level) {
    const twxml::simd::Level before = twxml::simd::Force(static_cast<twxml::simd::Level>(level));
    for (const char16_t* encoding : {u"UTF-8", u"ISO-8859-1", u"UTF-16", u"US-ASCII"}) {
      WriterFixture w16(encoding), w8(encoding);
      IXmlWriterUtf8* u8 = nullptr;
      ASSERT_EQ(w8->QueryInterface(IID_TwXmlWriterUtf8, reinterpret_cast<void**>(&u8)), S_OK);
      u8->Release();
      ASSERT_EQ(u8->WriteStartElementUtf8(nullptr, "r", nullptr), S_OK);
      ASSERT_EQ(w16->WriteStartElement(nullptr, u"r", nullptr), S_OK);
      for (const std::string& t : texts) {
        const std::u16string wt = wide(t);
        SCOPED_TRACE(t.substr(0, 40));
        // A name made of the text: refused or not, alike.
        const HRESULT named = u8->WriteStartElementUtf8(nullptr, t.c_str(), nullptr);
        EXPECT_EQ(named, w16->WriteStartElement(nullptr, wt.c_str(), nullptr));
        if (named == S_OK) {
          EXPECT_EQ(w8->WriteEndElement(), w16->WriteEndElement());
        }
        ASSERT_EQ(u8->WriteStartElementUtf8("p", "e", "urn:p"), S_OK);
        ASSERT_EQ(w16->WriteStartElement(u"p", u"e", u"urn:p"), S_OK);
        for (const auto& [prefix, local, uri] : attrs) {
          const std::u16string wp = prefix ? wide(prefix) : u"", wl = wide(local), wu = uri ? wide(uri) : u"";
          EXPECT_EQ(u8->WriteAttributeStringUtf8(prefix, local, uri, t.data(), t.size()),
                    w16->WriteAttributeString(prefix ? wp.c_str() : nullptr, wl.c_str(),
                                              uri ? wu.c_str() : nullptr, wt.c_str()))
              << (prefix ? prefix : "") << ":" << local;
        }
        EXPECT_EQ(u8->WriteStringUtf8(t.data(), t.size()), w16->WriteString(wt.c_str()));
        EXPECT_EQ(w8->WriteEndElement(), w16->WriteEndElement());
      }
      EXPECT_EQ(u8->WriteStringUtf8(nullptr, 0), w16->WriteString(nullptr));
      EXPECT_TRUE(w8.text() == w16.text()) << "level " << level;  // (too long to print)
    }
    twxml::simd::Force(before);
  }
}

TEST(XmlWriter, WideStartTagTakesLinearWork) {
  // 100,000 attributes, then one repeated: the duplicate check probes a
  // bounded number of entries per attribute, not all earlier ones.
  WriterFixture w;
  ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
  const int n = 100000;
  for (int i = 0; i < n; ++i) {
    std::u16string name = u"a";
    for (char c : std::to_string(i)) name += char16_t(c);
    ASSERT_EQ(w->WriteAttributeString(nullptr, name.c_str(), nullptr, u"v"), S_OK);
  }
  EXPECT_EQ(w->WriteAttributeString(nullptr, u"a4242", nullptr, u"v"), WR_E_DUPLICATEATTRIBUTE);
  EXPECT_LT(static_cast<XmlWriter*>(w.get())->attrProbes(), uint64_t(4) * n);
}

TEST(XmlWriter, StreamFailingPartWayIsReportedAndSticks) {
  for (size_t failAt : {size_t(0), size_t(10), size_t(70000), size_t(150000)}) {
    SCOPED_TRACE(failAt);
    auto* s = new StringStream(failAt, STG_E_WRITEFAULT);
    WriterFixture w(nullptr, s);
    HRESULT hr = w->WriteStartElement(nullptr, u"r", nullptr);
    std::u16string text(100, u'y');
    for (int i = 0; i < 3000 && hr == S_OK; ++i)
      hr = w->WriteElementString(nullptr, u"e", nullptr, text.c_str());
    if (hr == S_OK) hr = w->WriteEndDocument();
    if (hr == S_OK) hr = w->Flush();
    EXPECT_EQ(hr, STG_E_WRITEFAULT);
    // Once the output is incomplete, nothing else is written.
    EXPECT_EQ(w->WriteString(u"more"), STG_E_WRITEFAULT);
    EXPECT_EQ(w->Flush(), STG_E_WRITEFAULT);
    EXPECT_LE(s->data().size(), failAt);
    // A new output starts afresh.
    auto* good = new StringStream();
    ASSERT_EQ(w->SetOutput(good), S_OK);
    ASSERT_EQ(w->WriteElementString(nullptr, u"ok", nullptr, nullptr), S_OK);
    ASSERT_EQ(w->Flush(), S_OK);
    EXPECT_EQ(good->data(), "<ok/>");
    good->Release();
  }
}

// Output encodings: names, byte order marks, characters the encoding cannot
// hold, and stateful encodings across flushes.
std::string decode(const std::string& bytes, const char* encoding) {
  std::string out;
  EXPECT_TRUE(twtest::convert(bytes, encoding, "UTF-8", &out)) << encoding;
  return out;
}

TEST(XmlWriterEncoding, NamesAliasesAndByteOrderMarks) {
  const struct {
    const char16_t* name;
    const char* declared;  // nullptr: refused
  } cases[] = {
      // Common aliases are declared by their registered name, others as given.
      {u"utf8", "UTF-8"}, {u"UTF-16", "UTF-16"}, {u"iso-8859-1", "iso-8859-1"}, {u"latin1", "ISO-8859-1"},
      {u"CP1252", "windows-1252"}, {u"sjis", "Shift_JIS"}, {u"koi8-u", "koi8-u"}, {u"US-ASCII", "US-ASCII"},
      {u"no-such-encoding", nullptr}, {u"UTF-8//TRANSLIT", nullptr}, {u"", nullptr}, {u"\u00e9t\u00e9", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.name)));
    auto* s = new StringStream();
    IUnknown* out = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(s, nullptr, c.name, &out),
              c.declared ? S_OK : WR_E_UNKNOWNENCODING);
    if (c.declared) {
      IXmlWriter* w = nullptr;
      ASSERT_EQ(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&w), nullptr), S_OK);
      ASSERT_EQ(w->SetOutput(out), S_OK);
      out->Release();
      ASSERT_EQ(w->SetProperty(XmlWriterProperty_ByteOrderMark, FALSE), S_OK);
      ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
      ASSERT_EQ(w->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
      ASSERT_EQ(w->WriteEndDocument(), S_OK);
      w->Release();
      EXPECT_EQ(c.declared == std::string("UTF-16") ? decode(s->data(), "UTF-16LE") : s->data(),
                std::string("<?xml version=\"1.0\" encoding=\"") + c.declared + "\"?><a/>");
    } else {
      EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(s->Release(), 0u);  // nobody kept a reference
  }
  // UTF-16 is little-endian and has a byte order mark unless told otherwise.
  WriterFixture w(u"utf-16");
  ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
  ASSERT_EQ(w->WriteElementString(nullptr, u"a", nullptr, u"\u00e9\U0001F600"), S_OK);
  std::u16string expected = u"\ufeff<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u00e9\U0001F600</a>";
  EXPECT_EQ(w.text(), std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2));

}

// Characters the encoding lacks, and stateful encodings across flushes.
TEST(XmlWriterEncoding, UnrepresentableCharactersAndStatefulEncodings) {
  WriterFixture w(u"ISO-8859-1");
  ASSERT_EQ(w->WriteStartElement(nullptr, u"r\u00e9", nullptr), S_OK);
  ASSERT_EQ(w->WriteAttributeString(nullptr, u"a", nullptr, u"\u00e9\u20ac\U0001F600"), S_OK);
  ASSERT_EQ(w->WriteString(u"\u00ff\u0100<"), S_OK);
  const std::string before = w.text();
  // Where a character reference cannot stand, the call is refused.
  EXPECT_EQ(w->WriteStartElement(nullptr, u"\u20ac", nullptr), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteStartElement(u"\u0100", u"a", u"urn:x"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteComment(u"\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteCData(u"x\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteProcessingInstruction(u"p", u"\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteProcessingInstruction(u"p\u20ac", u""), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteRaw(u"\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w.text(), before);
  ASSERT_EQ(w->WriteCharEntity(0x20AC), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  EXPECT_EQ(w.stream()->data(),
            "<r\xe9 a=\"\xe9&#x20AC;&#x1F600;\">\xff&#x100;&lt;&#x20AC;</r\xe9>");
  // KOI8-R holds Cyrillic but not Latin accents.
  WriterFixture k(u"KOI8-R");
  ASSERT_EQ(k->WriteElementString(nullptr, u"\u0436", nullptr, u"\u0436\u00e9"), S_OK);
  EXPECT_EQ(decode(k.text(), "KOI8-R"), "<\xd0\xb6>\xd0\xb6&#xE9;</\xd0\xb6>");

  // A long text can end a buffer-sized piece with a character reference for
  // a surrogate pair: the calls that follow must still find their room.
  for (size_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    WriterFixture w(u"ISO-8859-1");
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteString(std::u16string(shift, u'a').c_str()), S_OK);
    ASSERT_EQ(w->WriteString((std::u16string(8190, u'\u20ac') + u"\U0001F600").c_str()), S_OK);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(w->WriteCharEntity(u'\u20ac'), S_OK);
    const std::string before = w.text();
    EXPECT_EQ(w->WriteString(u"x\u0001"), WR_E_INVALIDCHARACTER);  // still no trace
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w.stream()->data().size(), before.size() + 4);
    EXPECT_EQ(w.stream()->data().size(), 3 + shift + 8190 * 8 + 9 + 40 * 8 + 4);
  }
  // ISO-2022-JP shifts in and out; UTF-32 has a byte order mark only once.
  for (const char* enc : {"ISO-2022-JP", "UTF-32", "UTF-16BE"}) {
    SCOPED_TRACE(enc);
    WriterFixture w(std::u16string(enc, enc + std::char_traits<char>::length(enc)).c_str());
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteString(u"\u65e5\u672c"), S_OK);
    ASSERT_EQ(w->Flush(), S_OK);
    ASSERT_EQ(w->WriteString(u"\u8a9e-x"), S_OK);
    ASSERT_EQ(w->Flush(), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(decode(w.stream()->data(), enc), "<r>\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e-x</r>");
  }
}

}  // namespace
}  // namespace twxml::xmlwriter::test
