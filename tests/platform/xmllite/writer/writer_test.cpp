// Behaviour of the writer in UTF-8: markup, escaping, refusals, namespace
// declarations, indentation, properties and streaming to the stream.
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace twxml::xmlwriter::test {
namespace {

using Script = std::function<void(IXmlWriter*)>;

// Runs a script on a fresh writer (no declaration) and returns the text.
std::string run(const Script& script, bool indent = false,
                XmlConformanceLevel level = XmlConformanceLevel_Document) {
  WriterFixture w;
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_Indent, indent), S_OK);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_ConformanceLevel, level), S_OK);
  script(w.get());
  return w.text();
}

TEST(XmlWriter, BasicDocument) {
  WriterFixture w;
  ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"root", nullptr), S_OK);
  ASSERT_EQ(w->WriteAttributeString(nullptr, u"id", nullptr, u"7"), S_OK);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"empty", nullptr), S_OK);
  ASSERT_EQ(w->WriteEndElement(), S_OK);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"full", nullptr), S_OK);
  ASSERT_EQ(w->WriteFullEndElement(), S_OK);
  ASSERT_EQ(w->WriteElementString(nullptr, u"v", nullptr, u"x<y"), S_OK);
  ASSERT_EQ(w->WriteElementString(nullptr, u"n", nullptr, nullptr), S_OK);
  ASSERT_EQ(w->WriteElementString(nullptr, u"e", nullptr, u""), S_OK);
  ASSERT_EQ(w->WriteComment(u" note "), S_OK);
  ASSERT_EQ(w->WriteProcessingInstruction(u"pi", u"data here"), S_OK);
  ASSERT_EQ(w->WriteProcessingInstruction(u"bare", nullptr), S_OK);
  ASSERT_EQ(w->WriteCData(u"a]]>b"), S_OK);
  ASSERT_EQ(w->WriteCharEntity(u'\u00e9'), S_OK);
  ASSERT_EQ(w->WriteSurrogateCharEntity(0xDE00, 0xD83D), S_OK);
  ASSERT_EQ(w->WriteEntityRef(u"amp"), S_OK);
  ASSERT_EQ(w->WriteChars(u"abcdef", 3), S_OK);
  ASSERT_EQ(w->WriteRaw(u"<raw/>"), S_OK);
  ASSERT_EQ(w->WriteName(u"a:b"), S_OK);
  ASSERT_EQ(w->WriteNmToken(u"-1"), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  EXPECT_EQ(w.stream()->data(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<root id=\"7\"><empty/><full></full><v>x&lt;y</v><n/><e></e><!-- note -->"
            "<?pi data here?><?bare?><![CDATA[a]]]]><![CDATA[>b]]>&#xE9;&#x1F600;&amp;abc"
            "<raw/>a:b-1</root>");
}

TEST(XmlWriter, DeclarationVariants) {
  struct Case {
    XmlStandalone standalone;
    bool omit;
    const char* expected;
  } cases[] = {
      {XmlStandalone_Omit, false, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>"},
      {XmlStandalone_Yes, false, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r/>"},
      {XmlStandalone_No, false, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?><r/>"},
      {XmlStandalone_Yes, true, "<r/>"},
  };
  for (const Case& c : cases) {
    WriterFixture w;
    ASSERT_EQ(w->SetProperty(XmlWriterProperty_OmitXmlDeclaration, c.omit), S_OK);
    ASSERT_EQ(w->WriteStartDocument(c.standalone), S_OK);
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w.stream()->data(), c.expected);
  }
  WriterFixture w;
  EXPECT_EQ(w->WriteStartDocument(static_cast<XmlStandalone>(7)), E_INVALIDARG);
}

TEST(XmlWriter, Escaping) {
  struct Case {
    std::u16string in;
    const char* text;
    const char* attr;
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
  for (const Case& c : cases) {
    std::string text = run([&](IXmlWriter* w) {
      ASSERT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), S_OK);
      ASSERT_EQ(w->WriteString(c.in.c_str()), S_OK);
      ASSERT_EQ(w->WriteEndElement(), S_OK);
    });
    EXPECT_EQ(text, std::string("<a>") + c.text + "</a>");
    std::string attr = run([&](IXmlWriter* w) {
      ASSERT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), S_OK);
      ASSERT_EQ(w->WriteAttributeString(nullptr, u"v", nullptr, c.in.c_str()), S_OK);
      ASSERT_EQ(w->WriteEndElement(), S_OK);
    });
    EXPECT_EQ(attr, std::string("<a v=\"") + c.attr + "\"/>");
  }
}

// Every refused call leaves the output as it was and the writer usable.
TEST(XmlWriter, RefusedCallsLeaveNoTrace) {
  const std::u16string lone_high = u"a\xD800";
  const std::u16string lone_low = u"\xDC00z";
  const std::u16string reversed = u"\xDC00\xD800";
  struct Case {
    const char* what;
    std::function<HRESULT(IXmlWriter*)> call;
    HRESULT expected;
  } cases[] = {
      {"control in text", [](IXmlWriter* w) { return w->WriteString(u"a\u0001b"); },
       WR_E_INVALIDCHARACTER},
      {"NUL via WriteChars", [](IXmlWriter* w) { return w->WriteChars(u"a\0b", 3); },
       WR_E_INVALIDCHARACTER},
      {"U+FFFE", [](IXmlWriter* w) { return w->WriteString(u"\ufffe"); }, WR_E_INVALIDCHARACTER},
      {"U+FFFF in attr",
       [](IXmlWriter* w) { return w->WriteAttributeString(nullptr, u"x", nullptr, u"\uffff"); },
       WR_E_INVALIDCHARACTER},
      {"lone high", [&](IXmlWriter* w) { return w->WriteString(lone_high.c_str()); },
       WR_E_INVALIDSURROGATEPAIR},
      {"lone low", [&](IXmlWriter* w) { return w->WriteString(lone_low.c_str()); },
       WR_E_INVALIDSURROGATEPAIR},
      {"reversed pair", [&](IXmlWriter* w) { return w->WriteString(reversed.c_str()); },
       WR_E_INVALIDSURROGATEPAIR},
      {"split pair in WriteChars",
       [&](IXmlWriter* w) { return w->WriteChars(u"x\U0001F600", 2); },
       WR_E_INVALIDSURROGATEPAIR},
      {"control in attr",
       [](IXmlWriter* w) { return w->WriteAttributeString(nullptr, u"x", nullptr, u"\u000b"); },
       WR_E_INVALIDCHARACTER},
      {"control in comment", [](IXmlWriter* w) { return w->WriteComment(u"\u0002"); },
       WR_E_INVALIDCHARACTER},
      {"double hyphen comment", [](IXmlWriter* w) { return w->WriteComment(u"a--b"); },
       WR_E_INVALIDCHARACTER},
      {"trailing hyphen comment", [](IXmlWriter* w) { return w->WriteComment(u"a-"); },
       WR_E_INVALIDCHARACTER},
      {"PI end in PI", [](IXmlWriter* w) { return w->WriteProcessingInstruction(u"p", u"a?>b"); },
       WR_E_INVALIDCHARACTER},
      {"PI named xml", [](IXmlWriter* w) { return w->WriteProcessingInstruction(u"XmL", u"a"); },
       WR_E_INVALIDNAME},
      {"PI with colon", [](IXmlWriter* w) { return w->WriteProcessingInstruction(u"a:b", u""); },
       WR_E_INVALIDNAME},
      {"control in CDATA", [](IXmlWriter* w) { return w->WriteCData(u"\u0008"); },
       WR_E_INVALIDCHARACTER},
      {"element name digit", [](IXmlWriter* w) { return w->WriteStartElement(nullptr, u"1a", nullptr); },
       WR_E_INVALIDNAME},
      {"element name colon", [](IXmlWriter* w) { return w->WriteStartElement(nullptr, u"a:b", nullptr); },
       WR_E_INVALIDNAME},
      {"element name empty", [](IXmlWriter* w) { return w->WriteStartElement(nullptr, u"", nullptr); },
       WR_E_INVALIDNAME},
      {"element name null", [](IXmlWriter* w) { return w->WriteStartElement(nullptr, nullptr, nullptr); },
       WR_E_INVALIDNAME},
      {"element name space", [](IXmlWriter* w) { return w->WriteStartElement(nullptr, u"a b", nullptr); },
       WR_E_INVALIDNAME},
      {"element name lone surrogate",
       [&](IXmlWriter* w) { return w->WriteStartElement(nullptr, lone_high.c_str(), nullptr); },
       WR_E_INVALIDNAME},
      {"bad prefix", [](IXmlWriter* w) { return w->WriteStartElement(u"-p", u"a", u"urn:x"); },
       WR_E_INVALIDNAME},
      {"attribute name", [](IXmlWriter* w) { return w->WriteAttributeString(nullptr, u"a=", nullptr, u""); },
       WR_E_INVALIDNAME},
      {"duplicate attribute",
       [](IXmlWriter* w) { return w->WriteAttributeString(nullptr, u"id", nullptr, u"2"); },
       WR_E_DUPLICATEATTRIBUTE},
      {"bad xml:space",
       [](IXmlWriter* w) { return w->WriteAttributeString(u"xml", u"space", nullptr, u"keep"); },
       WR_E_INVALIDXMLSPACE},
      {"undeclared prefix", [](IXmlWriter* w) { return w->WriteStartElement(u"q", u"a", nullptr); },
       WR_E_NAMESPACEUNDECLARED},
      {"undeclared attribute prefix",
       [](IXmlWriter* w) { return w->WriteAttributeString(u"q", u"a", nullptr, u""); },
       WR_E_NAMESPACEUNDECLARED},
      {"prefix with empty uri", [](IXmlWriter* w) { return w->WriteStartElement(u"q", u"a", u""); },
       WR_E_NSPREFIXWITHEMPTYNSURI},
      {"xmlns element prefix", [](IXmlWriter* w) { return w->WriteStartElement(u"xmlns", u"a", nullptr); },
       WR_E_XMLNSPREFIXDECLARATION},
      {"xml prefix rebound",
       [](IXmlWriter* w) { return w->WriteAttributeString(u"xmlns", u"xml", nullptr, u"urn:x"); },
       WR_E_XMLPREFIXDECLARATION},
      {"xmlns prefix declared",
       [](IXmlWriter* w) { return w->WriteAttributeString(u"xmlns", u"xmlns", nullptr, u"urn:x"); },
       WR_E_XMLNSPREFIXDECLARATION},
      {"xml uri to other prefix",
       [](IXmlWriter* w) {
         return w->WriteAttributeString(u"xmlns", u"p", nullptr,
                                        u"http://www.w3.org/XML/1998/namespace");
       },
       WR_E_XMLURIDECLARATION},
      {"xmlns uri declared",
       [](IXmlWriter* w) {
         return w->WriteAttributeString(u"xmlns", u"p", nullptr, u"http://www.w3.org/2000/xmlns/");
       },
       WR_E_XMLNSURIDECLARATION},
      {"undeclaring a prefix",
       [](IXmlWriter* w) { return w->WriteAttributeString(u"xmlns", u"p", nullptr, u""); },
       WR_E_NSPREFIXWITHEMPTYNSURI},
      {"rebinding on one element",
       [](IXmlWriter* w) { return w->WriteAttributeString(u"xmlns", u"b", nullptr, u"urn:other"); },
       WR_E_NSPREFIXDECLARED},
      {"whitespace with text", [](IXmlWriter* w) { return w->WriteWhitespace(u" x "); },
       WR_E_NONWHITESPACE},
      {"undeclared entity", [](IXmlWriter* w) { return w->WriteEntityRef(u"nbsp"); },
       WR_E_INVALIDACTION},
      {"char entity surrogate", [](IXmlWriter* w) { return w->WriteCharEntity(0xD800); },
       WR_E_INVALIDSURROGATEPAIR},
      {"char entity control", [](IXmlWriter* w) { return w->WriteCharEntity(0x1F); },
       WR_E_INVALIDCHARACTER},
      {"bad surrogate entity",
       [](IXmlWriter* w) { return w->WriteSurrogateCharEntity(0xD800, 0xDC00); },
       WR_E_INVALIDSURROGATEPAIR},
      {"bad name token", [](IXmlWriter* w) { return w->WriteNmToken(u"a b"); }, WR_E_INVALIDNAME},
      {"undeclared qname uri",
       [](IXmlWriter* w) { return w->WriteQualifiedName(u"a", u"urn:nowhere"); },
       WR_E_NAMESPACEUNDECLARED},
      {"start document late", [](IXmlWriter* w) { return w->WriteStartDocument(XmlStandalone_Omit); },
       WR_E_INVALIDACTION},
      {"doctype inside", [](IXmlWriter* w) { return w->WriteDocType(u"r", nullptr, nullptr, nullptr); },
       WR_E_INVALIDACTION},
      {"chars null", [](IXmlWriter* w) { return w->WriteChars(nullptr, 2); }, E_INVALIDARG},
  };
  for (const Case& c : cases) {
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

TEST(XmlWriter, DocumentStateRules) {
  {
    WriterFixture w;  // an end with nothing open
    EXPECT_EQ(w->WriteEndElement(), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteFullEndElement(), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteAttributeString(nullptr, u"a", nullptr, u""), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteEndDocument(), WR_E_INVALIDACTION);  // no root yet
    EXPECT_EQ(w->WriteString(u"text"), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteCData(u"c"), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteCharEntity(u'a'), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteString(u" \n"), S_OK);  // white space may stand outside
    EXPECT_EQ(w.text(), " \n");
  }
  {
    WriterFixture w;  // a second root; attributes after content
    ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
    EXPECT_EQ(w->WriteStartDocument(XmlStandalone_Omit), WR_E_INVALIDACTION);
    ASSERT_EQ(w->WriteDocType(u"r", u"-//T//x", u"r.dtd", nullptr), S_OK);
    EXPECT_EQ(w->WriteDocType(u"r", nullptr, nullptr, nullptr), WR_E_INVALIDACTION);
    ASSERT_EQ(w->WriteComment(u"c"), S_OK);
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteString(u"x"), S_OK);
    EXPECT_EQ(w->WriteAttributeString(nullptr, u"a", nullptr, u""), WR_E_INVALIDACTION);
    ASSERT_EQ(w->WriteEndElement(), S_OK);
    EXPECT_EQ(w->WriteStartElement(nullptr, u"r2", nullptr), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteElementString(nullptr, u"r2", nullptr, u"v"), WR_E_INVALIDACTION);
    ASSERT_EQ(w->WriteProcessingInstruction(u"after", u"root"), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w->WriteComment(u"late"), WR_E_INVALIDACTION);
    EXPECT_EQ(w->WriteEndDocument(), WR_E_INVALIDACTION);
    EXPECT_EQ(w.stream()->data(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE r PUBLIC \"-//T//x\" \"r.dtd\">"
              "<!--c--><r>x</r><?after root?>");
  }
  {
    WriterFixture w;  // WriteEndDocument closes everything
    ASSERT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), S_OK);
    ASSERT_EQ(w->WriteStartElement(nullptr, u"b", nullptr), S_OK);
    ASSERT_EQ(w->WriteStartElement(nullptr, u"c", nullptr), S_OK);
    ASSERT_EQ(w->WriteString(u"x"), S_OK);
    ASSERT_EQ(w->WriteStartElement(nullptr, u"d", nullptr), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w.stream()->data(), "<a><b><c>x<d/></c></b></a>");
  }
  {
    WriterFixture w;  // no output: nothing works
    ASSERT_EQ(w->SetOutput(nullptr), S_OK);
    EXPECT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), E_UNEXPECTED);
    EXPECT_EQ(w->Flush(), E_UNEXPECTED);
  }
  {
    WriterFixture w;  // doctype forms; entity references once a DTD exists
    ASSERT_EQ(w->WriteDocType(u"r", nullptr, u"it's.dtd", u"<!ENTITY e \"v\">"), S_OK);
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteEntityRef(u"e"), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w.stream()->data(),
              "<!DOCTYPE r SYSTEM \"it's.dtd\" [<!ENTITY e \"v\">]><r>&e;</r>");
    WriterFixture v;
    EXPECT_EQ(v->WriteDocType(u"r", u"bad{pubid", u"s", nullptr), WR_E_INVALIDCHARACTER);
    EXPECT_EQ(v->WriteDocType(u"r", u"p", nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(v->WriteDocType(u"r", nullptr, u"'\"", nullptr), WR_E_INVALIDCHARACTER);
    EXPECT_EQ(v->WriteDocType(u"1r", nullptr, nullptr, nullptr), WR_E_INVALIDNAME);
    EXPECT_EQ(v.text(), "");
  }
}

TEST(XmlWriter, ConformanceLevels) {
  // A fragment takes any sequence of top-level content but no declaration.
  EXPECT_EQ(run(
                [](IXmlWriter* w) {
                  EXPECT_EQ(w->WriteStartDocument(XmlStandalone_Omit), WR_E_INVALIDACTION);
                  EXPECT_EQ(w->WriteString(u"t&"), S_OK);
                  EXPECT_EQ(w->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
                  EXPECT_EQ(w->WriteElementString(nullptr, u"b", nullptr, nullptr), S_OK);
                  EXPECT_EQ(w->WriteCData(u"c"), S_OK);
                  EXPECT_EQ(w->WriteEndDocument(), S_OK);
                },
                false, XmlConformanceLevel_Fragment),
            "t&amp;<a/><b/><![CDATA[c]]>");
  // Auto: WriteStartDocument first makes a document.
  EXPECT_EQ(run(
                [](IXmlWriter* w) {
                  EXPECT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
                  EXPECT_EQ(w->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
                  EXPECT_EQ(w->WriteElementString(nullptr, u"b", nullptr, nullptr),
                            WR_E_INVALIDACTION);
                },
                false, XmlConformanceLevel_Auto),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>");
  // Auto: anything else first makes a fragment.
  EXPECT_EQ(run(
                [](IXmlWriter* w) {
                  EXPECT_EQ(w->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
                  EXPECT_EQ(w->WriteElementString(nullptr, u"b", nullptr, nullptr), S_OK);
                  EXPECT_EQ(w->WriteStartDocument(XmlStandalone_Omit), WR_E_INVALIDACTION);
                },
                false, XmlConformanceLevel_Auto),
            "<a/><b/>");
}

TEST(XmlWriter, Namespaces) {
  struct Case {
    const char* what;
    Script script;
    const char* expected;
  } cases[] = {
      {"prefix declared once",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"a", u"urn:1");
         w->WriteStartElement(u"p", u"b", u"urn:1");
         w->WriteEndDocument();
       },
       "<p:a xmlns:p=\"urn:1\"><p:b/></p:a>"},
      {"default namespace declared once",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"a", u"urn:1");
         w->WriteStartElement(nullptr, u"b", u"urn:1");
         w->WriteStartElement(nullptr, u"c", nullptr);
         w->WriteEndDocument();
       },
       "<a xmlns=\"urn:1\"><b><c/></b></a>"},
      {"no namespace undeclares the default",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"a", u"urn:1");
         w->WriteStartElement(nullptr, u"b", u"");
         w->WriteStartElement(nullptr, u"c", u"");
         w->WriteEndDocument();
       },
       "<a xmlns=\"urn:1\"><b xmlns=\"\"><c/></b></a>"},
      {"no namespace without a default in scope",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"a", u"");
         w->WriteEndDocument();
       },
       "<a/>"},
      {"null prefix reuses a bound prefix",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"a", u"urn:1");
         w->WriteStartElement(nullptr, u"b", u"urn:1");
         w->WriteEndDocument();
       },
       "<p:a xmlns:p=\"urn:1\"><p:b/></p:a>"},
      {"empty prefix asks for the default namespace",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"a", u"urn:1");
         w->WriteStartElement(u"", u"b", u"urn:1");
         w->WriteEndDocument();
       },
       "<p:a xmlns:p=\"urn:1\"><b xmlns=\"urn:1\"/></p:a>"},
      {"shadowed prefix is not reused",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"a", u"urn:1");
         w->WriteStartElement(u"p", u"b", u"urn:2");
         w->WriteStartElement(nullptr, u"c", u"urn:1");
         w->WriteEndDocument();
       },
       "<p:a xmlns:p=\"urn:1\"><p:b xmlns:p=\"urn:2\"><c xmlns=\"urn:1\"/></p:b></p:a>"},
      {"scope ends with the element",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"r", nullptr);
         w->WriteStartElement(u"p", u"a", u"urn:1");
         w->WriteEndElement();
         w->WriteStartElement(u"p", u"b", u"urn:1");
         w->WriteEndDocument();
       },
       "<r><p:a xmlns:p=\"urn:1\"/><p:b xmlns:p=\"urn:1\"/></r>"},
      {"explicit declarations count for scope",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"r", nullptr);
         w->WriteAttributeString(u"xmlns", u"p", nullptr, u"urn:1");
         w->WriteAttributeString(nullptr, u"xmlns", nullptr, u"urn:d");
         w->WriteAttributeString(u"xmlns", u"p", nullptr, u"urn:1");
         w->WriteStartElement(u"p", u"a", u"urn:1");
         w->WriteAttributeString(u"xmlns", u"p", nullptr, u"urn:1");
         w->WriteStartElement(nullptr, u"b", u"urn:d");
         w->WriteEndDocument();
       },
       "<r xmlns:p=\"urn:1\" xmlns=\"urn:d\"><p:a><b/></p:a></r>"},
      {"declaration through the xmlns namespace",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"r", nullptr);
         w->WriteAttributeString(nullptr, u"q", u"http://www.w3.org/2000/xmlns/", u"urn:q");
         w->WriteAttributeString(u"q", u"x", nullptr, u"1");
         w->WriteEndDocument();
       },
       "<r xmlns:q=\"urn:q\" q:x=\"1\"/>"},
      {"attribute in a namespace gets a prefix",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"r", u"urn:d");
         w->WriteAttributeString(nullptr, u"x", u"urn:d", u"1");
         w->WriteAttributeString(nullptr, u"y", u"urn:a", u"2");
         w->WriteAttributeString(nullptr, u"z", u"urn:a", u"3");
         w->WriteAttributeString(u"k", u"w", u"urn:k", u"4");
         w->WriteAttributeString(u"k", u"v", nullptr, u"5");
         w->WriteEndDocument();
       },
       "<r xmlns=\"urn:d\" xmlns:ns1=\"urn:d\" ns1:x=\"1\" xmlns:ns2=\"urn:a\" ns2:y=\"2\" "
       "ns2:z=\"3\" xmlns:k=\"urn:k\" k:w=\"4\" k:v=\"5\"/>"},
      {"attribute reuses the element prefix",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"r", u"urn:1");
         w->WriteAttributeString(nullptr, u"x", u"urn:1", u"1");
         w->WriteAttributeString(u"p", u"y", u"urn:1", u"2");
         w->WriteAttributeString(nullptr, u"z", nullptr, u"3");
         w->WriteEndDocument();
       },
       "<p:r xmlns:p=\"urn:1\" p:x=\"1\" p:y=\"2\" z=\"3\"/>"},
      {"xml prefix is always bound",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"r", nullptr);
         w->WriteAttributeString(u"xml", u"lang", nullptr, u"en");
         w->WriteAttributeString(nullptr, u"space", u"http://www.w3.org/XML/1998/namespace",
                                 u"preserve");
         w->WriteAttributeString(u"xmlns", u"xml", nullptr,
                                 u"http://www.w3.org/XML/1998/namespace");
         w->WriteEndDocument();
       },
       "<r xml:lang=\"en\" xml:space=\"preserve\"/>"},
      {"uri escaped in declarations",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"r", u"urn:a&b\"c");
         w->WriteEndDocument();
       },
       "<p:r xmlns:p=\"urn:a&amp;b&quot;c\"/>"},
      {"same local name in two namespaces",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"r", nullptr);
         w->WriteAttributeString(u"a", u"x", u"urn:a", u"1");
         w->WriteAttributeString(u"b", u"x", u"urn:b", u"2");
         w->WriteAttributeString(nullptr, u"x", nullptr, u"3");
         EXPECT_EQ(w->WriteAttributeString(u"c", u"x", u"urn:a", u"4"), WR_E_DUPLICATEATTRIBUTE);
         w->WriteEndDocument();
       },
       "<r xmlns:a=\"urn:a\" a:x=\"1\" xmlns:b=\"urn:b\" b:x=\"2\" x=\"3\"/>"},
      {"an attribute's inherited prefix cannot be rebound on its element",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"r", u"urn:1");
         w->WriteStartElement(nullptr, u"c", nullptr);
         w->WriteAttributeString(u"p", u"x", nullptr, u"1");
         EXPECT_EQ(w->WriteAttributeString(u"xmlns", u"p", nullptr, u"urn:2"),
                   WR_E_NSPREFIXDECLARED);
         EXPECT_EQ(w->WriteAttributeString(u"p", u"y", u"urn:2", u""), WR_E_NSPREFIXDECLARED);
         w->WriteEndDocument();
       },
       "<p:r xmlns:p=\"urn:1\"><c p:x=\"1\"/></p:r>"},
      {"qualified names as text",
       [](IXmlWriter* w) {
         w->WriteStartElement(u"p", u"r", u"urn:1");
         w->WriteQualifiedName(u"v", u"urn:1");
         w->WriteString(u" ");
         w->WriteQualifiedName(u"w", nullptr);
         w->WriteString(u" ");
         w->WriteQualifiedName(u"lang", u"http://www.w3.org/XML/1998/namespace");
         w->WriteEndDocument();
       },
       "<p:r xmlns:p=\"urn:1\">p:v w xml:lang</p:r>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.script), c.expected);
  }
}

TEST(XmlWriter, Indentation) {
  struct Case {
    const char* what;
    Script script;
    const char* expected;
  } cases[] = {
      {"nested elements",
       [](IXmlWriter* w) {
         w->WriteStartDocument(XmlStandalone_Omit);
         w->WriteComment(u"c");
         w->WriteStartElement(nullptr, u"a", nullptr);
         w->WriteStartElement(nullptr, u"b", nullptr);
         w->WriteElementString(nullptr, u"c", nullptr, u"text");
         w->WriteElementString(nullptr, u"d", nullptr, nullptr);
         w->WriteEndElement();
         w->WriteProcessingInstruction(u"p", nullptr);
         w->WriteStartElement(nullptr, u"e", nullptr);
         w->WriteFullEndElement();
         w->WriteEndDocument();
       },
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--c-->\n<a>\n  <b>\n    <c>text</c>\n"
       "    <d/>\n  </b>\n  <?p?>\n  <e></e>\n</a>"},
      {"mixed content stays as written",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"a", nullptr);
         w->WriteStartElement(nullptr, u"p", nullptr);
         w->WriteString(u"x");
         w->WriteStartElement(nullptr, u"b", nullptr);
         w->WriteStartElement(nullptr, u"i", nullptr);
         w->WriteString(u"y");
         w->WriteEndElement();
         w->WriteComment(u"c");
         w->WriteEndElement();
         w->WriteString(u"z");
         w->WriteEndElement();
         w->WriteStartElement(nullptr, u"q", nullptr);
         w->WriteEndDocument();
       },
       "<a>\n  <p>x<b><i>y</i><!--c--></b>z</p>\n  <q/>\n</a>"},
      {"text after a child stops indentation from there on",
       [](IXmlWriter* w) {
         w->WriteStartElement(nullptr, u"a", nullptr);
         w->WriteStartElement(nullptr, u"b", nullptr);
         w->WriteEndElement();
         w->WriteString(u"t");
         w->WriteStartElement(nullptr, u"c", nullptr);
         w->WriteEndDocument();
       },
       "<a>\n  <b/>t<c/></a>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run(c.script, true), c.expected);
  }
}

TEST(XmlWriter, IndentationLongerThanTheBufferStreamsInPieces) {
  WriterFixture w;
  const size_t depth = 33000;  // one indentation of 66000 spaces
  for (size_t i = 0; i < depth; ++i)
    ASSERT_EQ(w->WriteStartElement(nullptr, u"e", nullptr), S_OK);
  ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, TRUE), S_OK);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"c", nullptr), S_OK);
  ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, FALSE), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  std::string expected;
  for (size_t i = 0; i < depth; ++i) expected += "<e>";
  expected += "\n" + std::string(2 * depth, ' ') + "<c/>";
  for (size_t i = 0; i < depth; ++i) expected += "</e>";
  EXPECT_TRUE(w.stream()->data() == expected);
}

TEST(XmlWriter, Properties) {
  WriterFixture w;
  LONG_PTR v = -1;
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_Indent, &v), S_OK);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_ByteOrderMark, &v), S_OK);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_OmitXmlDeclaration, &v), S_OK);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_ConformanceLevel, &v), S_OK);
  EXPECT_EQ(v, XmlConformanceLevel_Document);
  EXPECT_EQ(w->GetProperty(99, &v), E_INVALIDARG);
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_Indent, nullptr), E_INVALIDARG);
  EXPECT_EQ(w->SetProperty(99, 1), E_INVALIDARG);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_ConformanceLevel, 5), E_INVALIDARG);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_Indent, 1), S_OK);
  EXPECT_EQ(w->GetProperty(XmlWriterProperty_Indent, &v), S_OK);
  EXPECT_EQ(v, 1);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), S_OK);
  // Properties that shape the document are fixed once it has begun.
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_ConformanceLevel, XmlConformanceLevel_Fragment),
            WR_E_INVALIDACTION);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_OmitXmlDeclaration, 1), WR_E_INVALIDACTION);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_ByteOrderMark, 0), WR_E_INVALIDACTION);
  EXPECT_EQ(w->SetProperty(XmlWriterProperty_Indent, 0), S_OK);
}

TEST(XmlWriter, FactoriesAndInterfaces) {
  void* p = nullptr;
  EXPECT_EQ(CreateXmlWriter(IID_IUnknown, &p, nullptr), S_OK);
  ASSERT_NE(p, nullptr);
  IUnknown* unk = static_cast<IUnknown*>(p);
  void* q = nullptr;
  EXPECT_EQ(unk->QueryInterface(IID_IXmlWriter, &q), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(static_cast<IXmlWriter*>(q)), unk);
  static_cast<IXmlWriter*>(q)->Release();
  EXPECT_EQ(unk->QueryInterface(IID_IStream, &q), E_NOINTERFACE);
  EXPECT_EQ(q, nullptr);
  EXPECT_EQ(unk->Release(), 0u);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateXmlWriter(IID_IStream, &p, nullptr), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CreateXmlWriter(IID_IXmlWriter, nullptr, nullptr), E_INVALIDARG);

  // SetOutput takes a stream that only answers ISequentialStream, and refuses
  // objects that are no stream.
  WriterFixture w;
  auto* seq = new StringStream(SIZE_MAX, STG_E_MEDIUMFULL, true);
  EXPECT_EQ(w->SetOutput(seq), S_OK);
  EXPECT_EQ(w->WriteElementString(nullptr, u"a", nullptr, u"b"), S_OK);
  EXPECT_EQ(w->Flush(), S_OK);
  EXPECT_EQ(seq->data(), "<a>b</a>");
  IXmlWriter* other = nullptr;
  ASSERT_EQ(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&other), nullptr), S_OK);
  EXPECT_EQ(w->SetOutput(other), E_NOINTERFACE);
  other->Release();
  EXPECT_EQ(seq->refs(), 1u);  // the writer let the old output go
  seq->Release();
}

TEST(XmlWriter, SetOutputFlushesAndRestarts) {
  auto* first = new StringStream();
  auto* second = new StringStream();
  WriterFixture w;
  ASSERT_EQ(w->SetOutput(first), S_OK);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"a", nullptr), S_OK);
  ASSERT_EQ(w->SetOutput(second), S_OK);  // what was composed goes to the first stream
  EXPECT_EQ(first->data(), "<a");
  ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);  // a new document
  ASSERT_EQ(w->WriteElementString(nullptr, u"b", nullptr, nullptr), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  EXPECT_EQ(second->data(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><b/>");
  first->Release();
  second->Release();
}

TEST(XmlWriter, ReleaseFlushes) {
  auto* s = new StringStream();
  {
    WriterFixture w(nullptr, s);
    s->AddRef();
    ASSERT_EQ(w->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
    EXPECT_EQ(s->data(), "");
  }
  EXPECT_EQ(s->data(), "<a/>");
  EXPECT_EQ(s->refs(), 1u);
  s->Release();
}

TEST(XmlWriter, OutputIsStreamedInBufferSizedPieces) {
  auto* s = new StringStream();
  WriterFixture w(nullptr, s);
  ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
  std::u16string chunk(1000, u'x');
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(w->WriteElementString(nullptr, u"e", nullptr, chunk.c_str()), S_OK);
  // About 1 MB written in pieces of at most the buffer size, before any Flush.
  EXPECT_GT(s->writes(), 10);
  EXPECT_GT(s->data().size(), 900000u);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  EXPECT_EQ(s->data().size(), 3 + 1000 * (3 + 1000 + 4) + 4);
}

TEST(XmlWriter, LargeCallsAreCheckedBeforeAnythingIsWritten) {
  std::u16string big(200000, u'a');
  big[150000] = u'<';
  WriterFixture w;
  ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
  ASSERT_EQ(w->WriteString(big.c_str()), S_OK);
  std::u16string bad = big;
  bad[199999] = 0x0001;
  const std::string before = w.text();
  EXPECT_EQ(w->WriteString(bad.c_str()), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteAttributeString(nullptr, u"a", nullptr, u"v"), WR_E_INVALIDACTION);
  bad[199999] = 0xD800;
  EXPECT_EQ(w->WriteComment(bad.c_str()), WR_E_INVALIDSURROGATEPAIR);
  EXPECT_EQ(w->WriteCData(bad.c_str()), WR_E_INVALIDSURROGATEPAIR);
  EXPECT_EQ(w.text(), before);
  ASSERT_EQ(w->WriteCData(big.c_str()), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  const std::string& out = w.stream()->data();
  EXPECT_EQ(out.size(), 3 + (200000 + 3) + (9 + 200000 + 3) + 4);
  EXPECT_EQ(out.substr(3 + 150000, 4), "&lt;");
}

TEST(XmlWriter, StreamFailureIsReportedAndSticks) {
  for (size_t failAt : {size_t(0), size_t(10), size_t(70000), size_t(150000)}) {
    SCOPED_TRACE(failAt);
    auto* s = new StringStream(failAt, STG_E_WRITEFAULT);
    WriterFixture w(nullptr, s);
    HRESULT hr = S_OK;
    std::u16string text(100, u'y');
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
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

}  // namespace
}  // namespace twxml::xmlwriter::test
