// Building documents through the node interfaces: names and values, the
// rules the model enforces, attributes, text, namespaces on output, and the
// lifetime of node objects relative to their document and tree.
#include <functional>
#include <string>
#include <vector>

#include "dom_test_util.h"

using namespace domtest;

namespace {

class DomModel : public DomTest {};

TEST_F(DomModel, NamesTypesAndValuesOfEveryKind) {
  auto d = NewDoc();
  struct Case {
    int type;
    const char16_t* name;
    const char16_t* ns;
    DOMNodeType wantType;
    const char* wantName;
    const char* wantTypeString;
    bool hasValue;
    const char* prefix;
    const char* base;
    const char* uri;
  } cases[] = {
      {NODE_ELEMENT, u"item", nullptr, NODE_ELEMENT, "item", "element", false, "", "item", ""},
      {NODE_ELEMENT, u"p:item", u"urn:p", NODE_ELEMENT, "p:item", "element", false, "p", "item", "urn:p"},
      {NODE_ELEMENT, u"item", u"", NODE_ELEMENT, "item", "element", false, "", "item", ""},
      {NODE_ATTRIBUTE, u"size", nullptr, NODE_ATTRIBUTE, "size", "attribute", true, "", "size", ""},
      {NODE_ATTRIBUTE, u"xmlns:q", nullptr, NODE_ATTRIBUTE, "xmlns:q", "attribute", true, "xmlns", "q",
       "http://www.w3.org/2000/xmlns/"},
      {NODE_TEXT, nullptr, nullptr, NODE_TEXT, "#text", "text", true, "", "", ""},
      {NODE_COMMENT, nullptr, nullptr, NODE_COMMENT, "#comment", "comment", true, "", "", ""},
      {NODE_CDATA_SECTION, nullptr, nullptr, NODE_CDATA_SECTION, "#cdata-section", "cdatasection", true, "", "", ""},
      {NODE_PROCESSING_INSTRUCTION, u"style", nullptr, NODE_PROCESSING_INSTRUCTION, "style", "processinginstruction",
       true, "", "style", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wantName);
    auto n = Create(d, c.type, c.name, c.ns);
    ASSERT_TRUE(n);
    DOMNodeType t;
    EXPECT_EQ(n->get_nodeType(&t), S_OK);
    EXPECT_EQ(t, c.wantType);
    EXPECT_EQ(Name(n), c.wantName);
    Bstr ts, pfx, base, uri;
    n->get_nodeTypeString(ts.out());
    EXPECT_EQ(U8(ts.str()), c.wantTypeString);
    n->get_prefix(pfx.out());
    n->get_baseName(base.out());
    n->get_namespaceURI(uri.out());
    EXPECT_EQ(U8(pfx.str()), c.prefix);
    EXPECT_EQ(U8(base.str()), c.base);
    EXPECT_EQ(U8(uri.str()), c.uri);
    VARIANT v;
    HRESULT hr = n->get_nodeValue(&v);
    EXPECT_EQ(v.vt, c.hasValue ? VT_BSTR : VT_NULL);
    EXPECT_EQ(hr, c.hasValue ? S_OK : S_FALSE);
    VariantClear(&v);
  }
  Bstr dn;
  d->get_nodeName(dn.out());
  EXPECT_EQ(U8(dn.str()), "#document");
  VARIANT v;
  EXPECT_EQ(d->get_nodeValue(&v), S_FALSE);
  EXPECT_EQ(v.vt, VT_NULL);
}

TEST_F(DomModel, TypeMayBeGivenAsNumberTextOrName) {
  auto d = NewDoc();
  VARIANT t = VStr(u"8");
  Ptr<IXMLDOMNode> n;
  EXPECT_EQ(d->createNode(t, nullptr, nullptr, n.out()), S_OK);
  EXPECT_EQ(Name(n), "#comment");
  VariantClear(&t);
  t = VStr(u"element");
  Bstr name(u"e");
  EXPECT_EQ(d->createNode(t, name, nullptr, n.out()), S_OK);
  EXPECT_EQ(Name(n), "e");
  VariantClear(&t);
  t.vt = VT_I4;
  t.lVal = NODE_DOCUMENT;
  EXPECT_TRUE(FAILED(d->createNode(t, name, nullptr, n.out())));
  EXPECT_FALSE(n);
  EXPECT_FALSE(TakeErrorDescription().empty());
}

TEST_F(DomModel, BuildsAndSerialisesADocument) {
  auto d = NewDoc();
  Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  Ptr<IXMLDOMProcessingInstruction> decl;
  Bstr target(u"xml"), data(u"version='1.0' encoding='UTF-8'");
  ASSERT_EQ(d->createProcessingInstruction(target, data, decl.out()), S_OK);
  ASSERT_EQ(Append(doc, decl.as<IXMLDOMNode>(IID_IXMLDOMNode)), S_OK);
  auto root = Create(d, NODE_ELEMENT, u"root");
  ASSERT_EQ(Append(doc, root), S_OK);
  auto rootEl = root.as<IXMLDOMElement>(IID_IXMLDOMElement);
  VARIANT v = VStr(u"a<b&\"c\"\t\n");
  Bstr an(u"attr");
  EXPECT_EQ(rootEl->setAttribute(an, v), S_OK);
  VariantClear(&v);
  auto text = Create(d, NODE_TEXT, nullptr);
  Bstr tv(u"x < y & z > w\r");
  EXPECT_EQ(text->put_text(tv), S_OK);
  EXPECT_EQ(Append(root, text), S_OK);
  auto cm = Create(d, NODE_COMMENT, nullptr);
  Bstr cv(u" note ");
  EXPECT_EQ(cm->put_text(cv), S_OK);
  EXPECT_EQ(Append(root, cm), S_OK);
  auto cd = Create(d, NODE_CDATA_SECTION, nullptr);
  Bstr cdv(u"a]]>b");
  EXPECT_EQ(cd->put_text(cdv), S_OK);
  EXPECT_EQ(Append(root, cd), S_OK);
  auto empty = Create(d, NODE_ELEMENT, u"empty");
  EXPECT_EQ(Append(root, empty), S_OK);
  auto pi = Create(d, NODE_PROCESSING_INSTRUCTION, u"go");
  EXPECT_EQ(Append(root, pi), S_OK);

  EXPECT_EQ(Xml(root),
            "<root attr=\"a&lt;b&amp;&quot;c&quot;&#9;&#10;\">x &lt; y &amp; z &gt; w&#13;<!-- note -->"
            "<![CDATA[a]]]]><![CDATA[>b]]><empty/><?go?></root>");
  EXPECT_EQ(Xml(d), "<?xml version='1.0' encoding='UTF-8'?>\r\n" + Xml(root) + "\r\n");
  EXPECT_EQ(Text(root), "x < y & z > w\ra]]>b");

  Ptr<IXMLDOMElement> de;
  ASSERT_EQ(d->get_documentElement(de.out()), S_OK);
  EXPECT_EQ(Name(de), "root");
  Ptr<IXMLDOMNode> first;
  ASSERT_EQ(d->get_firstChild(first.out()), S_OK);
  EXPECT_EQ(Name(first), "xml");
}

TEST_F(DomModel, RefusalsCarryErrorInformationAndChangeNothing) {
  auto d = NewDoc();
  Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto root = Create(d, NODE_ELEMENT, u"root");
  ASSERT_EQ(Append(doc, root), S_OK);
  auto child = Create(d, NODE_ELEMENT, u"child");
  ASSERT_EQ(Append(root, child), S_OK);
  auto grand = Create(d, NODE_ELEMENT, u"grand");
  ASSERT_EQ(Append(child, grand), S_OK);
  auto text = Create(d, NODE_TEXT, nullptr);
  auto comment = Create(d, NODE_COMMENT, nullptr);
  auto attr = Create(d, NODE_ATTRIBUTE, u"a");
  auto decl = Create(d, NODE_PROCESSING_INSTRUCTION, u"xml");  // empty data: not a declaration
  EXPECT_FALSE(decl);
  TakeErrorDescription();
  Ptr<IXMLDOMProcessingInstruction> decl1, decl2;
  Bstr xmlT(u"xml"), xmlD(u"version=\"1.0\"");
  ASSERT_EQ(d->createProcessingInstruction(xmlT, xmlD, decl1.out()), S_OK);
  ASSERT_EQ(d->createProcessingInstruction(xmlT, xmlD, decl2.out()), S_OK);
  auto d1 = decl1.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto d2 = decl2.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto rootEl = root.as<IXMLDOMElement>(IID_IXMLDOMElement);
  const std::string before = Xml(d);

  struct Refusal {
    const char* what;
    std::function<HRESULT()> call;
  };
  std::vector<Refusal> refusals = {
      {"second document element", [&] { return Append(doc, Create(d, NODE_ELEMENT, u"second")); }},
      {"node under itself", [&] { return Append(child, child); }},
      {"node under its descendant", [&] { return Append(grand, root); }},
      {"declaration not first", [&] { return Append(doc, d1); }},
      {"declaration under an element", [&] { return Append(root, d1); }},
      {"text at document level", [&] { return Append(doc, text); }},
      {"child under text", [&] { return Append(text, comment); }},
      {"attribute as child", [&] { return Append(root, attr); }},
      {"invalid element name", [&] {
         Ptr<IXMLDOMElement> e;
         Bstr n(u"1abc");
         return d->createElement(n, e.out());
       }},
      {"element name with two colons", [&] {
         Ptr<IXMLDOMNode> n;
         VARIANT t;
         VariantInit(&t);
         t.vt = VT_I4;
         t.lVal = NODE_ELEMENT;
         Bstr nm(u"a:b:c");
         return d->createNode(t, nm, nullptr, n.out());
       }},
      {"element in the xmlns prefix", [&] {
         Ptr<IXMLDOMNode> n;
         VARIANT t;
         VariantInit(&t);
         t.vt = VT_I4;
         t.lVal = NODE_ELEMENT;
         Bstr nm(u"xmlns:a"), ns(u"urn:x");
         return d->createNode(t, nm, ns, n.out());
       }},
      {"invalid attribute name", [&] {
         VARIANT v = VStr(u"1");
         Bstr n(u"has space");
         HRESULT hr = rootEl->setAttribute(n, v);
         VariantClear(&v);
         return hr;
       }},
      {"control character in attribute", [&] {
         VARIANT v = VStr(u"a\x01");
         Bstr n(u"ok");
         HRESULT hr = rootEl->setAttribute(n, v);
         VariantClear(&v);
         return hr;
       }},
      {"lone surrogate in text", [&] {
         const char16_t bad[] = {u'a', char16_t(0xD800), 0};
         Bstr b(bad);
         return child->put_text(b);
       }},
      {"U+FFFE in text node", [&] {
         Ptr<IXMLDOMText> t;
         const char16_t bad[] = {char16_t(0xFFFE), 0};
         Bstr b(bad);
         return d->createTextNode(b, t.out());
       }},
      {"double hyphen in comment", [&] {
         Bstr b(u"a--b");
         return comment->put_text(b);
       }},
      {"comment ending in hyphen", [&] {
         Ptr<IXMLDOMComment> c;
         Bstr b(u"a-");
         return d->createComment(b, c.out());
       }},
      {"PI data with end marker", [&] {
         Ptr<IXMLDOMProcessingInstruction> p;
         Bstr t(u"t"), b(u"a?>b");
         return d->createProcessingInstruction(t, b, p.out());
       }},
      {"PI target reserved", [&] {
         Ptr<IXMLDOMProcessingInstruction> p;
         Bstr t(u"XmL"), b(u"x");
         return d->createProcessingInstruction(t, b, p.out());
       }},
      {"malformed declaration", [&] {
         Ptr<IXMLDOMProcessingInstruction> p;
         Bstr t(u"xml"), b(u"encoding='UTF-8'");
         return d->createProcessingInstruction(t, b, p.out());
       }},
      {"reference node of another parent", [&] {
         Ptr<IXMLDOMNode> out;
         return root->insertBefore(Create(d, NODE_ELEMENT, u"x").get(), VUnk(grand.get()), out.out());
       }},
      {"node of another document", [&] { return Append(root, Create(NewDoc(), NODE_ELEMENT, u"alien")); }},
      {"remove a node that is no child", [&] {
         Ptr<IXMLDOMNode> out;
         return root->removeChild(grand.get(), out.out());
       }},
      {"put_text on the document", [&] {
         Bstr b(u"x");
         return doc->put_text(b);
       }},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    TakeErrorDescription();
    HRESULT hr = r.call();
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_FALSE(TakeErrorDescription().empty());
    EXPECT_EQ(Xml(d), before);
  }

  // A declaration may go first, but only once; nothing goes before it.
  Ptr<IXMLDOMNode> first, out;
  ASSERT_EQ(d->get_firstChild(first.out()), S_OK);
  EXPECT_EQ(doc->insertBefore(d1.get(), VUnk(first.get()), out.out()), S_OK);
  EXPECT_TRUE(FAILED(doc->insertBefore(d2.get(), VUnk(d1.get()), out.out())));
  EXPECT_TRUE(FAILED(doc->insertBefore(comment.get(), VUnk(d1.get()), out.out())));
  EXPECT_EQ(Append(doc, comment), S_OK);
  EXPECT_EQ(Xml(d), "<?xml version=\"1.0\"?>\r\n<root><child><grand/></child></root>\r\n<!---->\r\n");
}

TEST_F(DomModel, ErrorInformationIsAnnounced) {
  auto d = NewDoc();
  auto sei = d.as<ISupportErrorInfo>(IID_ISupportErrorInfo);
  ASSERT_TRUE(sei);
  EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IXMLDOMDocument), S_OK);
  auto e = Create(d, NODE_ELEMENT, u"e");
  auto esei = e.as<ISupportErrorInfo>(IID_ISupportErrorInfo);
  ASSERT_TRUE(esei);
  EXPECT_EQ(esei->InterfaceSupportsErrorInfo(IID_IXMLDOMElement), S_OK);
  EXPECT_EQ(esei->InterfaceSupportsErrorInfo(IID_IStream), S_FALSE);
}

TEST_F(DomModel, FacesFollowTheNodeKind) {
  auto d = NewDoc();
  struct Case {
    int type;
    const char16_t* name;
    std::vector<const IID*> yes;
    std::vector<const IID*> no;
  } cases[] = {
      {NODE_ELEMENT, u"e", {&IID_IXMLDOMElement}, {&IID_IXMLDOMText, &IID_IXMLDOMAttribute, &IID_IXMLDOMDocument}},
      {NODE_TEXT, nullptr, {&IID_IXMLDOMText, &IID_IXMLDOMCharacterData}, {&IID_IXMLDOMElement, &IID_IXMLDOMCDATASection}},
      {NODE_CDATA_SECTION, nullptr, {&IID_IXMLDOMCDATASection, &IID_IXMLDOMText}, {&IID_IXMLDOMComment}},
      {NODE_COMMENT, nullptr, {&IID_IXMLDOMComment, &IID_IXMLDOMCharacterData}, {&IID_IXMLDOMText}},
      {NODE_PROCESSING_INSTRUCTION, u"p", {&IID_IXMLDOMProcessingInstruction}, {&IID_IXMLDOMCharacterData}},
      {NODE_ATTRIBUTE, u"a", {&IID_IXMLDOMAttribute}, {&IID_IXMLDOMElement}},
  };
  for (const Case& c : cases) {
    auto n = Create(d, c.type, c.name);
    Ptr<IUnknown> id1 = n.as<IUnknown>(IID_IUnknown);
    for (const IID* iid : c.yes) {
      Ptr<IUnknown> f = n.as<IUnknown>(*iid);
      ASSERT_TRUE(f) << c.type;
      // Every face leads back to the same identity.
      Ptr<IUnknown> id2 = f.as<IUnknown>(IID_IUnknown);
      EXPECT_EQ(id1.get(), id2.get());
    }
    for (const IID* iid : c.no) {
      EXPECT_FALSE(n.as<IUnknown>(*iid)) << c.type;
    }
  }
}

TEST_F(DomModel, AttributesReadWriteAndMap) {
  auto d = NewDoc();
  auto e = Create(d, NODE_ELEMENT, u"e").as<IXMLDOMElement>(IID_IXMLDOMElement);
  Bstr id(u"id"), name(u"name"), missing(u"missing");
  VARIANT v;
  EXPECT_EQ(e->getAttribute(missing, &v), S_FALSE);
  EXPECT_EQ(v.vt, VT_NULL);
  VARIANT n;
  VariantInit(&n);
  n.vt = VT_I4;
  n.lVal = -5;
  EXPECT_EQ(e->setAttribute(id, n), S_OK);
  ASSERT_EQ(e->getAttribute(id, &v), S_OK);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(U8(v.bstrVal), "-5");
  VariantClear(&v);
  n.lVal = 7;
  EXPECT_EQ(e->setAttribute(id, n), S_OK);
  e->getAttribute(id, &v);
  EXPECT_EQ(U8(v.bstrVal), "7");
  VariantClear(&v);
  VARIANT s = VStr(u"caf\u00e9 \U0001F600");
  EXPECT_EQ(e->setAttribute(name, s), S_OK);
  VariantClear(&s);
  EXPECT_EQ(Xml(e), "<e id=\"7\" name=\"caf\u00e9 \U0001F600\"/>");

  Ptr<IXMLDOMNamedNodeMap> map;
  ASSERT_EQ(e->get_attributes(map.out()), S_OK);
  LONG len = 0;
  map->get_length(&len);
  EXPECT_EQ(len, 2);
  Ptr<IXMLDOMNode> a1;
  ASSERT_EQ(map->get_item(1, a1.out()), S_OK);
  EXPECT_EQ(Name(a1), "name");
  EXPECT_EQ(map->get_item(2, a1.out()), S_FALSE);
  Ptr<IXMLDOMAttribute> an;
  ASSERT_EQ(e->getAttributeNode(id, an.out()), S_OK);
  Ptr<IXMLDOMNode> viaMap;
  ASSERT_EQ(map->getNamedItem(id, viaMap.out()), S_OK);
  EXPECT_EQ(an.as<IUnknown>(IID_IUnknown).get(), viaMap.as<IUnknown>(IID_IUnknown).get());
  Ptr<IXMLDOMNode> parent;
  EXPECT_EQ(an->get_parentNode(parent.out()), S_FALSE);

  // A new attribute node joins through the map; removal leaves it usable.
  Ptr<IXMLDOMAttribute> extra;
  Bstr en(u"extra");
  ASSERT_EQ(d->createAttribute(en, extra.out()), S_OK);
  VARIANT ev = VStr(u"x");
  EXPECT_EQ(extra->put_value(ev), S_OK);
  VariantClear(&ev);
  Ptr<IXMLDOMNode> added;
  EXPECT_EQ(map->setNamedItem(extra.as<IXMLDOMNode>(IID_IXMLDOMNode).get(), added.out()), S_OK);
  EXPECT_EQ(Xml(e), "<e id=\"7\" name=\"caf\u00e9 \U0001F600\" extra=\"x\"/>");
  EXPECT_EQ(e->removeAttribute(id), S_OK);
  EXPECT_EQ(e->removeAttribute(id), S_FALSE);
  EXPECT_EQ(Xml(e), "<e name=\"caf\u00e9 \U0001F600\" extra=\"x\"/>");
  EXPECT_EQ(Xml(an), "id=\"7\"");
  Ptr<IXMLDOMNode> removed;
  EXPECT_EQ(map->removeNamedItem(en, removed.out()), S_OK);
  EXPECT_EQ(Name(removed), "extra");
  map->get_length(&len);
  EXPECT_EQ(len, 1);
}

TEST_F(DomModel, TextOfTreesAndReplacingChildren) {
  auto d = NewDoc();
  auto e = Create(d, NODE_ELEMENT, u"e");
  auto add = [&](int type, const char16_t* name, const char16_t* text) {
    auto n = Create(d, type, name);
    Bstr b(text);
    if (text) {
      EXPECT_EQ(n->put_text(b), S_OK);
    }
    EXPECT_EQ(Append(e, n), S_OK);
    return n;
  };
  add(NODE_TEXT, nullptr, u"one ");
  add(NODE_COMMENT, nullptr, u"skip");
  auto inner = add(NODE_ELEMENT, u"i", nullptr);
  auto t2 = Create(d, NODE_TEXT, nullptr);
  Bstr two(u"two ");
  t2->put_text(two);
  Append(inner, t2);
  add(NODE_CDATA_SECTION, nullptr, u"three");
  add(NODE_PROCESSING_INSTRUCTION, u"pi", u"skip too");
  EXPECT_EQ(Text(e), "one two three");
  EXPECT_EQ(Text(inner), "two ");

  Bstr repl(u"only");
  EXPECT_EQ(e->put_text(repl), S_OK);
  EXPECT_EQ(Xml(e), "<e>only</e>");
  Ptr<IXMLDOMNodeList> kids;
  e->get_childNodes(kids.out());
  LONG len;
  kids->get_length(&len);
  EXPECT_EQ(len, 1);
  // The old children live on, detached.
  Ptr<IXMLDOMNode> p;
  EXPECT_EQ(inner->get_parentNode(p.out()), S_FALSE);
  EXPECT_EQ(Xml(inner), "<i>two </i>");
  EXPECT_EQ(e->put_text(nullptr), S_OK);
  EXPECT_EQ(Xml(e), "<e/>");
}

TEST_F(DomModel, ChildListsAndSiblings) {
  auto d = NewDoc();
  auto e = Create(d, NODE_ELEMENT, u"e");
  std::vector<Ptr<IXMLDOMNode>> kids;
  for (int i = 0; i < 5; ++i) {
    std::u16string n = u"c" + std::u16string(1, char16_t(u'0' + i));
    kids.push_back(Create(d, NODE_ELEMENT, n.c_str()));
    ASSERT_EQ(Append(e, kids.back()), S_OK);
  }
  Ptr<IXMLDOMNodeList> list;
  ASSERT_EQ(e->get_childNodes(list.out()), S_OK);
  LONG len;
  list->get_length(&len);
  EXPECT_EQ(len, 5);
  for (LONG i : {0, 1, 2, 4, 3, 0}) {
    Ptr<IXMLDOMNode> n;
    ASSERT_EQ(list->get_item(i, n.out()), S_OK);
    EXPECT_EQ(n.get(), kids[i].get());  // one node, one object
  }
  Ptr<IXMLDOMNode> n;
  EXPECT_EQ(list->get_item(5, n.out()), S_FALSE);
  EXPECT_EQ(list->get_item(-1, n.out()), S_FALSE);
  int count = 0;
  while (list->nextNode(n.out()) == S_OK) ++count;
  EXPECT_EQ(count, 5);
  list->reset();
  ASSERT_EQ(list->nextNode(n.out()), S_OK);
  EXPECT_EQ(Name(n), "c0");

  // Reordering through insertBefore, replaceChild and removeChild.
  Ptr<IXMLDOMNode> out;
  EXPECT_EQ(e->insertBefore(kids[4].get(), VUnk(kids[0].get()), out.out()), S_OK);
  EXPECT_EQ(e->replaceChild(Create(d, NODE_ELEMENT, u"r").get(), kids[2].get(), out.out()), S_OK);
  EXPECT_EQ(out.get(), kids[2].get());
  EXPECT_EQ(e->removeChild(kids[1].get(), out.out()), S_OK);
  EXPECT_EQ(Xml(e), "<e><c4/><c0/><r/><c3/></e>");
  Ptr<IXMLDOMNode> prev, next, last;
  kids[0]->get_previousSibling(prev.out());
  kids[0]->get_nextSibling(next.out());
  e->get_lastChild(last.out());
  EXPECT_EQ(prev.get(), kids[4].get());
  EXPECT_EQ(Name(next), "r");
  EXPECT_EQ(last.get(), kids[3].get());
  EXPECT_EQ(kids[4]->get_previousSibling(prev.out()), S_FALSE);
  EXPECT_EQ(kids[3]->get_nextSibling(next.out()), S_FALSE);
  VARIANT_BOOL has;
  EXPECT_EQ(kids[3]->hasChildNodes(&has), S_FALSE);
  EXPECT_EQ(has, VARIANT_FALSE);
  // The cached position of the list follows changes of the tree.
  list->get_length(&len);
  EXPECT_EQ(len, 4);
  ASSERT_EQ(list->get_item(3, n.out()), S_OK);
  EXPECT_EQ(Name(n), "c3");
}

TEST_F(DomModel, DocumentElementIsReplaced) {
  auto d = NewDoc();
  Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto c = Create(d, NODE_COMMENT, nullptr);
  Append(doc, c);
  auto a = Create(d, NODE_ELEMENT, u"a");
  auto b = Create(d, NODE_ELEMENT, u"b");
  auto c2 = Create(d, NODE_COMMENT, nullptr);
  EXPECT_EQ(d->putref_documentElement(a.as<IXMLDOMElement>(IID_IXMLDOMElement).get()), S_OK);
  Append(doc, c2);
  EXPECT_EQ(d->putref_documentElement(b.as<IXMLDOMElement>(IID_IXMLDOMElement).get()), S_OK);
  EXPECT_EQ(Xml(d), "<!---->\r\n<b/>\r\n<!---->\r\n");
  Ptr<IXMLDOMNode> p;
  EXPECT_EQ(a->get_parentNode(p.out()), S_FALSE);
  Ptr<IXMLDOMNode> out;
  EXPECT_EQ(doc->replaceChild(a.get(), b.get(), out.out()), S_OK);
  EXPECT_EQ(Xml(d), "<!---->\r\n<a/>\r\n<!---->\r\n");
  EXPECT_TRUE(FAILED(d->putref_documentElement(nullptr)));
}

TEST_F(DomModel, NamespacesAreDeclaredOnOutput) {
  auto d = NewDoc();
  auto root = Create(d, NODE_ELEMENT, u"p:root", u"urn:p");
  auto same = Create(d, NODE_ELEMENT, u"p:same", u"urn:p");
  auto other = Create(d, NODE_ELEMENT, u"p:other", u"urn:other");
  auto dflt = Create(d, NODE_ELEMENT, u"d", u"urn:d");
  auto none = Create(d, NODE_ELEMENT, u"none");
  auto inDefault = Create(d, NODE_ELEMENT, u"again", u"urn:d");
  Append(root, same);
  Append(root, other);
  Append(root, dflt);
  Append(dflt, none);
  Append(dflt, inDefault);
  auto attr = Create(d, NODE_ATTRIBUTE, u"q:at", u"urn:q");
  Bstr av(u"v");
  attr->put_text(av);
  auto dfEl = dflt.as<IXMLDOMElement>(IID_IXMLDOMElement);
  Ptr<IXMLDOMNamedNodeMap> map;
  dfEl->get_attributes(map.out());
  Ptr<IXMLDOMNode> added;
  ASSERT_EQ(map->setNamedItem(attr.get(), added.out()), S_OK);
  EXPECT_EQ(Xml(root),
            "<p:root xmlns:p=\"urn:p\"><p:same/><p:other xmlns:p=\"urn:other\"/>"
            "<d xmlns=\"urn:d\" xmlns:q=\"urn:q\" q:at=\"v\"><none xmlns=\"\"/><again/></d></p:root>");
  // An explicit declaration is kept and not repeated.
  auto rootEl = root.as<IXMLDOMElement>(IID_IXMLDOMElement);
  VARIANT v = VStr(u"urn:p");
  Bstr xp(u"xmlns:p");
  ASSERT_EQ(rootEl->setAttribute(xp, v), S_OK);
  VariantClear(&v);
  EXPECT_EQ(Xml(same), "<p:same xmlns:p=\"urn:p\"/>");
  EXPECT_EQ(Xml(root).rfind("<p:root xmlns:p=\"urn:p\"><p:same/>", 0), 0u);
  // A prefixed name without a namespace is written as given.
  auto loose = Create(d, NODE_ELEMENT, u"x:loose");
  EXPECT_EQ(Xml(loose), "<x:loose/>");
}

TEST_F(DomModel, CloneCopiesShallowOrDeep) {
  auto d = NewDoc();
  auto e = Create(d, NODE_ELEMENT, u"e");
  auto ee = e.as<IXMLDOMElement>(IID_IXMLDOMElement);
  VARIANT v = VStr(u"1");
  Bstr a(u"a");
  ee->setAttribute(a, v);
  VariantClear(&v);
  for (int i = 0; i < 3; ++i) {
    auto c = Create(d, NODE_ELEMENT, u"c");
    auto t = Create(d, NODE_TEXT, nullptr);
    Bstr tv(u"t");
    t->put_text(tv);
    Append(c, t);
    Append(e, c);
  }
  Ptr<IXMLDOMNode> deep, shallow;
  ASSERT_EQ(e->cloneNode(VARIANT_TRUE, deep.out()), S_OK);
  ASSERT_EQ(e->cloneNode(VARIANT_FALSE, shallow.out()), S_OK);
  EXPECT_EQ(Xml(deep), Xml(e));
  EXPECT_EQ(Xml(shallow), "<e a=\"1\"/>");
  // The copy is independent of the original.
  Bstr nv(u"changed");
  deep->put_text(nv);
  EXPECT_EQ(Xml(e), "<e a=\"1\"><c>t</c><c>t</c><c>t</c></e>");
  Ptr<IXMLDOMNode> p;
  EXPECT_EQ(deep->get_parentNode(p.out()), S_FALSE);
}

TEST_F(DomModel, NodesOutliveTheirDocumentAndTree) {
  Ptr<IXMLDOMNode> keptRoot, keptText, removed;
  {
    auto d = NewDoc();
    Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
    auto root = Create(d, NODE_ELEMENT, u"root");
    Append(doc, root);
    auto gone = Create(d, NODE_ELEMENT, u"gone");
    Append(root, gone);
    auto t = Create(d, NODE_TEXT, nullptr);
    Bstr tv(u"kept");
    t->put_text(tv);
    Append(gone, t);
    Ptr<IXMLDOMNode> out;
    ASSERT_EQ(root->removeChild(gone.get(), out.out()), S_OK);
    removed = gone;
    keptText = t;
    Ptr<IXMLDOMElement> de;
    d->get_documentElement(de.out());
    keptRoot = de.as<IXMLDOMNode>(IID_IXMLDOMNode);
    EXPECT_EQ(keptRoot.get(), root.get());
  }
  // The document object is gone; its nodes are not.
  EXPECT_EQ(Xml(removed), "<gone>kept</gone>");
  EXPECT_EQ(Text(keptText), "kept");
  Ptr<IXMLDOMNode> parent;
  ASSERT_EQ(keptText->get_parentNode(parent.out()), S_OK);
  EXPECT_EQ(Name(parent), "gone");
  Ptr<IXMLDOMDocument> owner;
  ASSERT_EQ(keptRoot->get_ownerDocument(owner.out()), S_OK);
  Ptr<IXMLDOMElement> de;
  ASSERT_EQ(owner->get_documentElement(de.out()), S_OK);
  EXPECT_EQ(de.as<IUnknown>(IID_IUnknown).get(), keptRoot.as<IUnknown>(IID_IUnknown).get());
  // Still editable: re-attach the removed subtree.
  EXPECT_EQ(Append(keptRoot, removed), S_OK);
  EXPECT_EQ(Xml(owner), "<root><gone>kept</gone></root>\r\n");
  owner = Ptr<IXMLDOMDocument>();
  de = Ptr<IXMLDOMElement>();
  keptRoot = Ptr<IXMLDOMNode>();
  EXPECT_EQ(Xml(removed), "<gone>kept</gone>");
}

TEST_F(DomModel, MillionDeepTreeWithoutRecursion) {
  const int depth = 1000000;
  auto d = NewDoc();
  Ptr<IXMLDOMNode> doc = d.as<IXMLDOMNode>(IID_IXMLDOMNode);
  auto root = Create(d, NODE_ELEMENT, u"r");
  Append(doc, root);
  Ptr<IXMLDOMNode> cur = root;
  for (int i = 1; i < depth; ++i) {
    auto c = Create(d, NODE_ELEMENT, u"r");
    ASSERT_EQ(Append(cur, c), S_OK);
    cur = c;
  }
  auto t = Create(d, NODE_TEXT, nullptr);
  Bstr tv(u"bottom");
  t->put_text(tv);
  Append(cur, t);
  EXPECT_EQ(Text(root), "bottom");
  // A cycle check from the bottom walks the whole chain.
  EXPECT_TRUE(FAILED(Append(cur, root)));
  TakeErrorDescription();
  Bstr x;
  ASSERT_EQ(d->get_xml(x.out()), S_OK);
  EXPECT_EQ(SysStringLen(x), size_t(depth) * 7 + 6 + 2);
  Ptr<IXMLDOMNode> clone;
  ASSERT_EQ(root->cloneNode(VARIANT_TRUE, clone.out()), S_OK);
  EXPECT_EQ(Text(clone), "bottom");
}

}  // namespace
