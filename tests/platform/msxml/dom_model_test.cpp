// Building documents through the node interfaces: the rules the model
// enforces, editing and output of built trees, a tree too deep for
// recursion. (Namespace declarations on output and node objects outliving
// their document: the document face's tests.)
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dom_test_util.h"

using namespace domtest;

namespace {

class DomModel : public DomTest {};

TEST_F(DomModel, RefusalsCarryErrorInformationAndChangeNothing) {
  auto d = NewDoc();
  auto doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto root = Create(d, NODE_ELEMENT, u"root"), child = Create(d, NODE_ELEMENT, u"child");
  auto grand = Create(d, NODE_ELEMENT, u"grand");
  ASSERT_EQ(Append(doc, root), S_OK);
  ASSERT_EQ(Append(root, child), S_OK);
  ASSERT_EQ(Append(child, grand), S_OK);
  auto text = Create(d, NODE_TEXT, nullptr), comment = Create(d, NODE_COMMENT, nullptr);
  auto attr = Create(d, NODE_ATTRIBUTE, u"a");
  Ptr<IXMLDOMProcessingInstruction> decl1, decl2;
  ASSERT_EQ(d->createProcessingInstruction(Bstr(u"xml"), Bstr(u"version=\"1.0\""), decl1.out()), S_OK);
  ASSERT_EQ(d->createProcessingInstruction(Bstr(u"xml"), Bstr(u"version=\"1.0\""), decl2.out()), S_OK);
  auto rootEl = root.as<IXMLDOMElement>(IID_IXMLDOMElement);
  const std::string before = Xml(d);

  auto create = [&](int type, const char16_t* name, const char16_t* ns = nullptr) {
    Node n;
    HRESULT hr = d->createNode(VI4(type), Bstr(name), Bstr(ns), n.out());
    EXPECT_FALSE(n);
    return hr;
  };
  auto element = [&](const char16_t* name, const char16_t* ns = nullptr) { return create(NODE_ELEMENT, name, ns); };
  auto setAttr = [&](const char16_t* name, const char16_t* value) { return rootEl->setAttribute(Bstr(name), VStr(value)); };
  auto pi = [&](const char16_t* target, const char16_t* data) {
    Ptr<IXMLDOMProcessingInstruction> p;
    return d->createProcessingInstruction(Bstr(target), Bstr(data), p.out());
  };
  const char16_t lone[] = {u'a', char16_t(0xD800), 0}, nonChar[] = {char16_t(0xFFFE), 0};
  struct Refusal {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT want;
  } refusals[] = {
      {"second document element", [&] { return Append(doc, Create(d, NODE_ELEMENT, u"second")); }, E_FAIL},
      {"node under itself", [&] { return Append(child, child); }, E_FAIL},
      {"node under its descendant", [&] { return Append(grand, root); }, E_FAIL},
      {"declaration not first", [&] { return Append(doc, decl1); }, E_FAIL},
      {"declaration under an element", [&] { return Append(root, decl1); }, E_FAIL},
      {"text at document level", [&] { return Append(doc, text); }, E_FAIL},
      {"child under text", [&] { return Append(text, comment); }, E_FAIL},
      {"attribute as child", [&] { return Append(root, attr); }, E_FAIL},
      {"node of another document", [&] { return Append(root, Create(NewDoc(), NODE_ELEMENT, u"alien")); }, E_INVALIDARG},
      {"reference node of another parent", [&] {
         Node out;
         return root->insertBefore(Create(d, NODE_ELEMENT, u"x").get(), VUnk(grand.get()), out.out());
       }, E_INVALIDARG},
      {"no document element", [&] { return d->putref_documentElement(nullptr); }, E_INVALIDARG},
      {"document node kind", [&] { return create(NODE_DOCUMENT, u"e"); }, E_INVALIDARG},
      {"element name starting with a digit", [&] {
         Ptr<IXMLDOMElement> e;
         return d->createElement(Bstr(u"1abc"), e.out());
       }, E_INVALIDARG},
      {"element name with two colons", [&] { return element(u"a:b:c"); }, E_INVALIDARG},
      {"element name with empty prefix", [&] { return element(u":a", u"urn:x"); }, E_INVALIDARG},
      {"element name with empty local part", [&] { return element(u"a:", u"urn:x"); }, E_INVALIDARG},
      {"element name starting with a combining mark", [&] { return element(u"\u0300a"); }, E_INVALIDARG},
      {"element name with a non-name character", [&] { return element(u"a\u00d7"); }, E_INVALIDARG},
      {"element in the xmlns prefix", [&] { return element(u"xmlns:a", u"urn:x"); }, E_INVALIDARG},
      {"attribute name with a space", [&] { return setAttr(u"has space", u"1"); }, E_INVALIDARG},
      {"control character in attribute", [&] { return setAttr(u"ok", u"a\x01"); }, E_INVALIDARG},
      {"lone surrogate in text", [&] { return child->put_text(Bstr(lone)); }, E_INVALIDARG},
      {"U+FFFE in a text node", [&] {
         Ptr<IXMLDOMText> t;
         return d->createTextNode(Bstr(nonChar), t.out());
       }, E_INVALIDARG},
      {"double hyphen in comment", [&] { return comment->put_text(Bstr(u"a--b")); }, E_INVALIDARG},
      {"comment ending in hyphen", [&] {
         Ptr<IXMLDOMComment> c;
         return d->createComment(Bstr(u"a-"), c.out());
       }, E_INVALIDARG},
      {"PI data with end marker", [&] { return pi(u"t", u"a?>b"); }, E_INVALIDARG},
      {"PI target reserved", [&] { return pi(u"XmL", u"x"); }, E_INVALIDARG},
      {"declaration without data", [&] { return create(NODE_PROCESSING_INSTRUCTION, u"xml"); }, E_INVALIDARG},
      {"malformed declaration", [&] { return pi(u"xml", u"encoding='UTF-8'"); }, E_INVALIDARG},
      {"put_text on the document", [&] { return doc->put_text(Bstr(u"x")); }, E_FAIL},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    TakeErrorDescription();
    HRESULT hr = r.call();
    EXPECT_EQ(hr, r.want) << std::hex << hr;
    EXPECT_FALSE(TakeErrorDescription().empty());
    EXPECT_EQ(Xml(d), before);
  }

  // A declaration may go first, but only once; nothing goes before it.
  Node first, out;
  ASSERT_EQ(d->get_firstChild(first.out()), S_OK);
  EXPECT_EQ(doc->insertBefore(decl1.get(), VUnk(first.get()), out.out()), S_OK);
  EXPECT_TRUE(FAILED(doc->insertBefore(decl2.get(), VUnk(decl1.get()), out.out())));
  EXPECT_TRUE(FAILED(doc->insertBefore(comment.get(), VUnk(decl1.get()), out.out())));
  EXPECT_EQ(Append(doc, comment), S_OK);
  EXPECT_EQ(Xml(d), "<?xml version=\"1.0\"?>\r\n<root><child><grand/></child></root>\r\n<!---->\r\n");
}

TEST_F(DomModel, BuiltTreesAreEditedAndWrittenOut) {
  auto d = NewDoc();
  auto doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto root = Create(d, NODE_ELEMENT, u"root");
  ASSERT_EQ(Append(doc, root), S_OK);
  auto rootEl = root.as<IXMLDOMElement>(IID_IXMLDOMElement);
  EXPECT_EQ(rootEl->setAttribute(Bstr(u"attr"), VStr(u"a<b&\"c\"\t\n")), S_OK);
  EXPECT_EQ(rootEl->setAttribute(Bstr(u"n"), VI4(-5)), S_OK);
  auto inner = Create(d, NODE_ELEMENT, u"i");
  Append(inner, Create(d, NODE_TEXT, nullptr, nullptr, u"two "));
  for (Node n : {Create(d, NODE_TEXT, nullptr, nullptr, u"x < y & z > w\r"), Create(d, NODE_COMMENT, nullptr, nullptr, u" note "),
                 inner, Create(d, NODE_CDATA_SECTION, nullptr, nullptr, u"a]]>b"), Create(d, NODE_ELEMENT, u"empty"),
                 Create(d, NODE_PROCESSING_INSTRUCTION, u"go")})
    ASSERT_EQ(Append(root, n), S_OK);
  const std::string xml =
      "<root attr=\"a&lt;b&amp;&quot;c&quot;&#9;&#10;\" n=\"-5\">x &lt; y &amp; z &gt; w&#13;<!-- note -->"
      "<i>two </i><![CDATA[a]]]]><![CDATA[>b]]><empty/><?go?></root>";
  EXPECT_EQ(Xml(root), xml);
  EXPECT_EQ(Xml(d), xml + "\r\n");
  EXPECT_EQ(Text(root), "x < y & z > w\rtwo a]]>b");
  VARIANT v;
  ASSERT_EQ(rootEl->getAttribute(Bstr(u"n"), &v), S_OK);
  EXPECT_EQ(U8(v.bstrVal), "-5");
  VariantClear(&v);
  EXPECT_EQ(rootEl->getAttribute(Bstr(u"missing"), &v), S_FALSE);
  EXPECT_EQ(v.vt, VT_NULL);

  // Children moved and replaced keep their siblings linked.
  Node first, out;
  ASSERT_EQ(root->get_firstChild(first.out()), S_OK);
  EXPECT_EQ(root->insertBefore(Create(d, NODE_ELEMENT, u"r").get(), VUnk(first.get()), out.out()), S_OK);
  EXPECT_EQ(root->replaceChild(Create(d, NODE_ELEMENT, u"s").get(), first.get(), out.out()), S_OK);
  EXPECT_EQ(out.get(), first.get());
  EXPECT_EQ(Xml(root), "<root attr=\"a&lt;b&amp;&quot;c&quot;&#9;&#10;\" n=\"-5\"><r/><s/><!-- note -->"
                       "<i>two </i><![CDATA[a]]]]><![CDATA[>b]]><empty/><?go?></root>");
  Node n;
  // Replacing the text drops the children, which live on detached.
  EXPECT_EQ(root->put_text(Bstr(u"only")), S_OK);
  EXPECT_EQ(inner->get_parentNode(n.out()), S_FALSE);
  EXPECT_EQ(Xml(inner), "<i>two </i>");
  // The document element is replaced in place between comments.
  Append(doc, Create(d, NODE_COMMENT, nullptr));
  EXPECT_EQ(d->putref_documentElement(inner.as<IXMLDOMElement>(IID_IXMLDOMElement).get()), S_OK);
  EXPECT_EQ(Xml(d), "<i>two </i>\r\n<!---->\r\n");
  EXPECT_EQ(root->get_parentNode(n.out()), S_FALSE);
}

// Escaping on output, against a byte-at-a-time reference: random values of
// every length around the output's vector steps (so the last bytes of many
// lie at the end of a page of the store), and a text longer than the
// serialiser's copy step with references on both sides of the step.
TEST_F(DomModel, EscapingMatchesAReferenceAtEveryLength) {
  auto escape = [](const std::string& v, bool attr) {
    std::string out;
    for (char c : v) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += attr ? ">" : "&gt;"; break;
        case '"': out += attr ? "&quot;" : "\""; break;
        case '\r': out += "&#13;"; break;
        case '\n': out += attr ? "&#10;" : "\n"; break;
        case '\t': out += attr ? "&#9;" : "\t"; break;
        default: out += c;
      }
    }
    return out;
  };
  static const char* const kPieces[] = {"a", "b", "&", "<", ">", "\"", "\r", "\n", "\t", " ", "\xC3\xA9", "\xE2\x82\xAC", "'"};
  std::mt19937 rng(7);
  auto randomValue = [&](size_t units) {
    std::string v;
    for (size_t i = 0; i < units; ++i) {
      // Mostly plain letters, so runs of every length occur.
      v += rng() % 4 != 0 ? "x" : kPieces[rng() % std::size(kPieces)];
    }
    return v;
  };
  auto d = NewDoc();
  auto root = Create(d, NODE_ELEMENT, u"r");
  ASSERT_EQ(Append(d.as<IXMLDOMNode>(IID_IXMLDOMNode), root), S_OK);
  std::string expected = "<r>";
  for (int k = 0; k < 600; ++k) {
    const std::string value = randomValue(k % 41), text = randomValue((k * 7) % 37);
    auto e = Create(d, NODE_ELEMENT, u"e");
    ASSERT_EQ(e.as<IXMLDOMElement>(IID_IXMLDOMElement)->setAttribute(Bstr(u"a"), VStr(U16(value).c_str())), S_OK);
    if (!text.empty()) {
      ASSERT_EQ(Append(e, Create(d, NODE_TEXT, nullptr, nullptr, U16(text).c_str())), S_OK);
    }
    ASSERT_EQ(Append(root, e), S_OK);
    expected += "<e a=\"" + escape(value, true) + (text.empty() ? "\"/>" : "\">" + escape(text, false) + "</e>");
  }
  std::string longText(200000, 'y');
  for (size_t at : {0u, 15u, 16u, 65535u, 65536u, 65537u, 199999u}) longText[at] = "&<>\r"[at % 4];
  ASSERT_EQ(Append(root, Create(d, NODE_TEXT, nullptr, nullptr, U16(longText).c_str())), S_OK);
  expected += escape(longText, false) + "</r>";
  EXPECT_EQ(Xml(root), expected);
}

TEST_F(DomModel, MillionDeepTreeWithoutRecursion) {
  const int depth = 1000000;
  auto d = NewDoc();
  auto root = Create(d, NODE_ELEMENT, u"r");
  Append(d, root);
  Node cur = root;
  for (int i = 1; i < depth; ++i) {
    auto c = Create(d, NODE_ELEMENT, u"r");
    ASSERT_EQ(Append(cur, c), S_OK);
    cur = c;
  }
  Append(cur, Create(d, NODE_TEXT, nullptr, nullptr, u"bottom"));
  EXPECT_EQ(Text(root), "bottom");
  EXPECT_TRUE(FAILED(Append(cur, root)));  // the cycle check from the bottom walks the whole chain
  TakeErrorDescription();
  Bstr x;
  ASSERT_EQ(d->get_xml(x.out()), S_OK);
  EXPECT_EQ(SysStringLen(x), size_t(depth) * 7 + 6 + 2);
  Node clone;
  ASSERT_EQ(root->cloneNode(VARIANT_TRUE, clone.out()), S_OK);
  EXPECT_EQ(Text(clone), "bottom");
}

}  // namespace
