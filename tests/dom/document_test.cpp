// The document face over the real DOM document class: documents built
// through the classes are saved and parsed back with libxml2, generated
// documents are loaded and walked side by side with libxml2's tree, and
// refusals of the DOM reach the caller as _com_error. Skipped where no DOM
// document class is registered.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>

#include "common/test_locales.h"
#include "dom_objects.h"
#include "fakes.h"

using namespace dom_test;

namespace {

const char* X(const xmlChar* text) { return reinterpret_cast<const char*>(text); }
const xmlChar* U(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

using Document = std::unique_ptr<KxXMLParser>;
using Node = std::unique_ptr<KxXMLNode>;
using Parsed = std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>;

std::string TagName(KxXMLNode& node) {
  char buffer[256];
  node.GetTagNameV(buffer, sizeof buffer);
  return buffer;
}

class DomDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    doc.reset(XmlGetParserP());
    if (!doc) GTEST_SKIP() << "no DOM document class registered";
  }
  void TearDown() override {
    doc.reset();
    CoUninitialize();
  }
  static std::string Save(KxXMLParser& document) {
    Bytes out;
    document.SaveToStreamV(&out);
    return out.data;
  }
  // Parses saved bytes with libxml2; null when they are not well-formed.
  static Parsed Parse(const std::string& bytes) {
    return {xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, XML_PARSE_NONET),
            xmlFreeDoc};
  }
  static std::string Value(KxXMLNode& node) {
    char buffer[256];
    char* value = node.GetValuePsz(buffer, sizeof buffer);
    std::string text = value;
    if (value != buffer) MemFreeF(value);
    return text;
  }
  static std::string Content(xmlNodePtr node) {
    xmlChar* text = xmlNodeGetContent(node);
    std::string out = text ? X(text) : "";
    xmlFree(text);
    return out;
  }
  static std::string Prop(xmlNodePtr node, const char* name) {
    xmlChar* text = xmlGetProp(node, U(name));
    std::string out = text ? X(text) : "<none>";
    xmlFree(text);
    return out;
  }
  Document doc{nullptr};
};

xmlNodePtr FirstElement(xmlNodePtr node) {
  while (node && node->type != XML_ELEMENT_NODE) node = node->next;
  return node;
}

std::string NsOf(xmlNodePtr node) { return node->ns && node->ns->href ? X(node->ns->href) : ""; }

}  // namespace

TEST_F(DomDocument, BuiltDocumentSavesWithDeclarationNamespacesAndEscaping) {
  ASSERT_EQ(doc->SetEncodingF(nullptr), 0);
  Node root(doc->CreateElementP(C("order"), C("urn:orders")));
  ASSERT_TRUE(root);
  ASSERT_EQ(doc->PutRootElementF(root.get()), 0);
  EXPECT_EQ(root->AppendAttributeF(C("id"), -5), 0);
  EXPECT_EQ(root->AppendAttributeF(C("id"), 7), 0);
  EXPECT_EQ(root->AppendAttributeF(C("note"), C("a<b & \"c\" 'd' >")), 0);
  EXPECT_EQ(root->AppendAttributeF(C("caf\xc3\xa9"), C("cr\xc3\xa8me \xe6\x97\xa5\xe6\x9c\xac")), 0);
  EXPECT_EQ(doc->AppendCommentF(root.get(), C(" first ")), 0);
  Node item(doc->CreateElementP(C("item"), nullptr));  // joins urn:orders
  ASSERT_TRUE(item);
  ASSERT_EQ(doc->AppendElementF(root.get(), item.get()), 0);
  EXPECT_EQ(doc->AppendTextF(item.get(), C("Fish & Chips <deluxe> \xf0\x9f\x98\x80")), 0);
  EXPECT_EQ(doc->AppendElementF(root.get(), C("g:wrap"), C("urn:gifts")), 0);  // the remembered URI stays
  EXPECT_EQ(doc->AppendElementF(root.get(), C("after"), nullptr), 0);
  EXPECT_EQ(doc->AppendElementF(root.get(), C("plain"), C("")), 0);  // back to no namespace
  EXPECT_EQ(doc->AppendElementF(root.get(), C("plain2"), nullptr), 0);
  EXPECT_EQ(doc->AppendElementF(root.get(), C("my item!"), nullptr), 0);  // illegal characters dropped
  EXPECT_EQ(doc->AppendTextF(root.get(), W(u"tail \u00e9")), 0);

  const std::string saved = Save(*doc);
  ASSERT_EQ(saved.rfind("<?xml", 0), 0u) << saved;
  auto parsed = Parse(saved);
  ASSERT_TRUE(parsed) << saved;
  EXPECT_STREQ(X(parsed->version), "1.0");
  ASSERT_NE(parsed->encoding, nullptr);
  EXPECT_STREQ(X(parsed->encoding), "UTF-8");
  xmlNodePtr r = xmlDocGetRootElement(parsed.get());
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(X(r->name), "order");
  EXPECT_EQ(NsOf(r), "urn:orders");
  EXPECT_EQ(Prop(r, "id"), "7");
  EXPECT_EQ(Prop(r, "note"), "a<b & \"c\" 'd' >");
  EXPECT_EQ(Prop(r, "caf\xc3\xa9"), "cr\xc3\xa8me \xe6\x97\xa5\xe6\x9c\xac");
  ASSERT_NE(r->children, nullptr);
  EXPECT_EQ(r->children->type, XML_COMMENT_NODE);
  EXPECT_STREQ(X(r->children->content), " first ");
  const std::pair<const char*, const char*> expected[] = {{"item", "urn:orders"}, {"wrap", "urn:gifts"},
                                                          {"after", "urn:orders"}, {"plain", ""},
                                                          {"plain2", ""},          {"myitem", ""}};
  xmlNodePtr e = FirstElement(r->children);
  EXPECT_EQ(Content(e), "Fish & Chips <deluxe> \xf0\x9f\x98\x80");
  for (const auto& [name, ns] : expected) {
    ASSERT_NE(e, nullptr) << name;
    EXPECT_STREQ(X(e->name), name);
    EXPECT_EQ(NsOf(e), ns) << name;
    e = FirstElement(e->next);
  }
  EXPECT_EQ(e, nullptr);
  ASSERT_EQ(r->last->type, XML_TEXT_NODE);
  EXPECT_STREQ(X(r->last->content), "tail \xc3\xa9");
}

TEST_F(DomDocument, EncodingDeclaration) {
  // The only child of an empty document.
  EXPECT_EQ(doc->SetEncodingF(nullptr), 0);
  EXPECT_NE(Save(*doc).find("version='1.0' encoding='UTF-8'"), std::string::npos) << Save(*doc);
  // Another encoding, in the caller's letter case, ahead of an existing root.
  Document other(XmlGetParserP());
  Node root(other->CreateElementP(C("r"), nullptr));
  ASSERT_EQ(other->PutRootElementF(root.get()), 0);
  EXPECT_EQ(other->AppendTextF(root.get(), C("caf\xc3\xa9")), 0);
  EXPECT_EQ(other->SetEncodingF(C("iso-8859-1")), 0);
  const std::string saved = Save(*other);
  EXPECT_EQ(saved.rfind("<?xml", 0), 0u);
  EXPECT_NE(saved.find("iso-8859-1"), std::string::npos) << saved;
  EXPECT_NE(saved.find("caf\xe9"), std::string::npos) << saved;
  auto parsed = Parse(saved);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(Content(xmlDocGetRootElement(parsed.get())), "caf\xc3\xa9");
  // A second declaration: whatever the DOM decides, a refusal is -1 and the
  // document still saves with one declaration.
  if (other->SetEncodingF(C("UTF-8")) != 0) {
    EXPECT_EQ(Save(*other), saved);
  }
}

TEST_F(DomDocument, LoadingAndTheRootElement) {
  EXPECT_EQ(doc->GetRootElementP(), nullptr);
  Bytes empty, malformed("<a><b></a>"), failing(std::string(3000, ' ') + "<a/>");
  failing.failReadAt = 2;
  for (Bytes* bad : {&empty, &malformed, &failing}) EXPECT_EQ(doc->LoadFromStreamF(bad), 12);

  Bytes good("<?xml version='1.0'?>\n<!-- c -->\n<top a='1'><x/>text<y/></top>");
  ASSERT_EQ(doc->LoadFromStreamF(&good), 0);
  Node root(doc->GetRootElementP()), again(doc->GetRootElementP());
  ASSERT_TRUE(root && again);
  EXPECT_NE(again.get(), root.get());
  EXPECT_EQ(TagName(*root), "top");
  EXPECT_EQ(TagName(*again), "top");
  EXPECT_EQ(Value(*root), "text");
  // A text node cannot be the document element.
  Node text(doc->CreateTextP(C("t")));
  ASSERT_TRUE(text);
  EXPECT_EQ(doc->PutRootElementF(text.get()), -1);
  EXPECT_EQ(doc->PutRootElementF(nullptr), -1);
  Node stillTop(doc->GetRootElementP());
  EXPECT_EQ(TagName(*stillTop), "top");
  // The document object may go first; its node objects stay usable.
  doc.reset();
  Node x(root->GetNextChildNodePo(nullptr));
  ASSERT_TRUE(x);
  EXPECT_EQ(TagName(*x), "x");
  int a = 0;
  EXPECT_EQ(root->GetAttributeF(C("a"), &a), 0);
  EXPECT_EQ(a, 1);
}

TEST_F(DomDocument, NodeConstructionEdges) {
  // A null text, or one that does not convert, makes an empty text node.
  Node empty(doc->CreateTextP(static_cast<char*>(nullptr)));
  ASSERT_TRUE(empty);
  const std::u16string nothing = TakeBstr(empty->GetValueBstr());
  EXPECT_TRUE(nothing == u"<null>" || nothing.empty());
  char invalid[] = "\xff";
  EXPECT_TRUE(Node(doc->CreateTextP(invalid)));
  // A text node takes no children.
  Node parent(doc->CreateTextP(C("p")));
  EXPECT_EQ(doc->AppendTextF(parent.get(), C("child")), -1);
  EXPECT_EQ(doc->AppendElementF(parent.get(), C("e"), nullptr), -1);
  Node comment(doc->CreateCommentP(C("note")));
  ASSERT_TRUE(comment);
  EXPECT_EQ(TakeBstr(comment->GetValueBstr()), u"note");
  // Names the DOM refuses once illegal characters are gone: null, and the
  // remembered namespace is unchanged.
  Node first(doc->CreateElementP(C("a"), C("urn:u")));
  ASSERT_TRUE(first);
  EXPECT_EQ(doc->CreateElementP(C("!!"), C("urn:other")), nullptr);
  EXPECT_EQ(doc->CreateElementP(C("1abc"), C("urn:other")), nullptr);
  Node second(doc->CreateElementP(C("b"), nullptr));
  ASSERT_TRUE(second);
  ASSERT_EQ(doc->PutRootElementF(second.get()), 0);
  auto parsed = Parse(Save(*doc));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(NsOf(xmlDocGetRootElement(parsed.get())), "urn:u");
}

TEST_F(DomDocument, RefusalsCarryTheDomErrorInformation) {
  Node root(doc->CreateElementP(C("r"), nullptr));
  ASSERT_EQ(doc->PutRootElementF(root.get()), 0);
  ASSERT_EQ(root->AppendAttributeF(C("keep"), C("1")), 0);
  for (const char* name : {"a b", "1x", "", "<"}) {
    SCOPED_TRACE(name);
    try {
      root->AppendAttributeF(C(name), C("v"));
      ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
      EXPECT_TRUE(FAILED(error.Error()));
      ASSERT_NE(error.ErrorInfo(), nullptr);
      EXPECT_FALSE(error.Description().empty());
    }
  }
  EXPECT_THROW(root->AppendAttributeF(W(u"x y"), 3), _com_error);
  auto parsed = Parse(Save(*doc));
  ASSERT_TRUE(parsed);
  xmlAttrPtr kept = xmlDocGetRootElement(parsed.get())->properties;
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->next, nullptr) << "only the first attribute";
  // A failing stream: the document's own error information comes along.
  ASSERT_EQ(doc->AppendTextF(root.get(), C(std::string(5000, 'x'))), 0);
  Bytes refusing;
  refusing.failWriteAt = 2;
  try {
    doc->SaveToStreamV(&refusing);
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_TRUE(FAILED(error.Error()));
    EXPECT_NE(error.ErrorInfo(), nullptr);
  }
  ClearErrorInfo();
  EXPECT_TRUE(Parse(Save(*doc)));  // the document is unchanged
}

// ---- Generated documents walked side by side with libxml2 ----------------

namespace {

// A document with every node kind, namespaces, mixed content and text
// outside ASCII; deterministic for a seed.
std::string Generate(unsigned seed, int elements) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* names[] = {"item", "a:item", "b:row", "Table", "caf\xc3\xa9", "x-y.z", "a:v", "n_1"};
  const char* texts[] = {"plain", "a &amp; b &lt; c &gt; d", "caf\xc3\xa9 cr\xc3\xa8me",
                         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "emoji \xf0\x9f\x98\x80!", "&#233;&#x4E2D; refs",
                         "  padded  ", "line\nbreak"};
  const char* values[] = {"12", "-7", "  12  ", "2147483648", "abc", "", "x &quot;q&quot; &amp; y",
                          "\xc3\xa9t\xc3\xa9", "-2147483648", "tab\there"};
  const char* others[] = {"<!-- c -->", "<![CDATA[<cdata & >]]>", "<?pi data?>", "\n  "};
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- generated -->\n<?app data?>\n";
  out += "<root xmlns=\"urn:default\" xmlns:a=\"urn:a\" xmlns:b=\"urn:b\">";
  std::vector<std::string> stack = {"root"};
  for (int i = 0; i < elements; ++i) {
    const int kind = pick(9);
    if (kind < 4) out += others[kind];
    if (kind == 4 || kind == 5) out += texts[pick(8)];
    if (pick(3) == 0 && stack.size() > 1) {
      out += "</" + stack.back() + ">";
      stack.pop_back();
      continue;
    }
    const std::string name = names[pick(8)];
    out += "<" + name;
    for (int k = pick(4); k > 0; --k) out += " at" + std::to_string(k) + "=\"" + values[pick(10)] + "\"";
    if (pick(5) == 0) out += " b:q=\"ns attr\"";
    if (pick(5) == 0) out += " caf\xc3\xa9=\"\xc3\xa9t\xc3\xa9\"";
    if (pick(4) == 0) {
      out += "/>";
    } else if (stack.size() >= 12) {
      out += std::string(">") + texts[pick(8)] + "</" + name + ">";
    } else {
      out += ">";
      stack.push_back(name);
    }
  }
  for (; !stack.empty(); stack.pop_back()) out += "</" + stack.back() + ">";
  return out;
}

std::string QName(xmlNodePtr node) {
  return (node->ns && node->ns->prefix ? std::string(X(node->ns->prefix)) + ":" : "") + X(node->name);
}

// The first text child that the DOM keeps (white-space-only text is dropped).
std::string FirstText(xmlNodePtr node) {
  for (xmlNodePtr c = node->children; c; c = c->next)
    if (c->type == XML_TEXT_NODE && !xmlIsBlankNode(c)) return X(c->content);
  return "";
}

std::string RTrim(std::string text) {
  while (!text.empty() && std::strchr(" \t\r\n\v\f", text.back())) text.pop_back();
  return text;
}

// Compares one element and, recursively, its element children; counts them.
void Compare(KxXMLNode& ours, xmlNodePtr theirs, int& compared) {
  ++compared;
  const std::string name = QName(theirs);
  char buffer[256];
  ours.GetTagNameV(buffer, sizeof buffer);
  ASSERT_EQ(std::string(buffer), name);
  EXPECT_TRUE(ours.IsThisNameB(C(""), C(name)));
  char* value = ours.GetValuePsz(buffer, sizeof buffer);
  EXPECT_EQ(std::string(value), FirstText(theirs)) << name;
  if (value != buffer) MemFreeF(value);

  for (xmlAttrPtr a = theirs->properties; a; a = a->next) {
    const std::string attribute = (a->ns && a->ns->prefix ? std::string(X(a->ns->prefix)) + ":" : "") + X(a->name);
    xmlChar* raw = xmlNodeListGetString(theirs->doc, a->children, 1);
    const std::string text = raw ? X(raw) : "";
    xmlFree(raw);
    ASSERT_EQ(ours.GetAttributeF(C(attribute), buffer, sizeof buffer), 0) << attribute;
    EXPECT_EQ(std::string(buffer), RTrim(text)) << attribute;
    // Numbers: an optionally signed decimal within 32 bits. Blanks around
    // are the variant coercion's business: only a success is checked then.
    int number = 12345;
    const int status = ours.GetAttributeF(C(attribute), &number);
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    const bool numeric = !text.empty() && end != text.c_str() && *end == 0 && errno == 0 &&
                         parsed >= INT32_MIN && parsed <= INT32_MAX;
    if (status == 0) {
      EXPECT_EQ(number, parsed) << attribute << "=" << text;
    }
    if (text == RTrim(text) && text[0] != ' ') {
      EXPECT_EQ(status, numeric ? 0 : 30) << attribute << "=" << text;
      if (!numeric) {
        EXPECT_EQ(number, 12345) << attribute;
      }
    }
  }
  EXPECT_EQ(ours.GetAttributeF(C("no-such"), buffer, sizeof buffer), 30);

  Node child(ours.GetNextChildNodePo(nullptr));
  xmlNodePtr theirChild = FirstElement(theirs->children);
  if (theirChild) {  // found by name: the first in document order
    Node found(ours.FindChildNodePo(C(""), C(QName(theirChild))));
    ASSERT_TRUE(found);
    EXPECT_EQ(TagName(*found), QName(theirChild));
  }
  for (; child && theirChild; theirChild = FirstElement(theirChild->next)) {
    Compare(*child, theirChild, compared);
    child.reset(ours.GetNextChildNodePo(child.get()));
  }
  EXPECT_FALSE(child) << "extra element under " << name;
  EXPECT_EQ(theirChild, nullptr) << "missing element under " << name;
}

}  // namespace

TEST_F(DomDocument, GeneratedDocumentsWalkLikeLibxml2) {
  int total = 0;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    const std::string text = Generate(seed, 1500);
    auto oracle = Parse(text);
    ASSERT_TRUE(oracle) << "generator made a malformed document";
    Document loaded(XmlGetParserP());
    Bytes in(text);
    ASSERT_EQ(loaded->LoadFromStreamF(&in), 0);
    Node root(loaded->GetRootElementP());
    ASSERT_TRUE(root);
    int compared = 0;
    Compare(*root, xmlDocGetRootElement(oracle.get()), compared);
    total += compared;
    // Saved and loaded again, the document walks the same.
    const std::string saved = Save(*loaded);
    auto reparsed = Parse(saved);
    ASSERT_TRUE(reparsed);
    Document again(XmlGetParserP());
    Bytes in2(saved);
    ASSERT_EQ(again->LoadFromStreamF(&in2), 0);
    Node root2(again->GetRootElementP());
    int compared2 = 0;
    Compare(*root2, xmlDocGetRootElement(reparsed.get()), compared2);
    EXPECT_EQ(compared2, compared);
  }
  EXPECT_GT(total, 2000);
}

TEST_F(DomDocument, WideAndLongElementsTakeLinearWork) {
  // 100,000 attributes on one element, 1,000,000 children (text between
  // them) under another: every attribute found by name and every child
  // stepped to in work proportional to their number, counted, not timed.
  const int attributes = 100000, children = 1000000;
  std::string text = "<r><w";
  for (int i = 0; i < attributes; ++i) text += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
  text += "/><l>";
  for (int i = 0; i < children; ++i) text += "<c/>t";
  text += "</l></r>";
  Bytes in(text);
  ASSERT_EQ(doc->LoadFromStreamF(&in), 0);
  Node root(doc->GetRootElementP());
  Node wide(root->GetNextChildNodePo(nullptr));
  Node list(root->GetNextChildNodePo(wide.get()));
  ASSERT_TRUE(list);
  IXMLDOMNode* dom = static_cast<KxXMLNodeImpl*>(root.get())->GetInterfaceP();
  const twdom::Store* store = twdom::RecordOf(dom)->store;
  dom->Release();
  const uint64_t probes = store->attrProbes(), steps = store->stepProbes();
  char buffer[16];
  for (int i = 0; i < attributes; ++i) {
    ASSERT_EQ(wide->GetAttributeF(C("a" + std::to_string(i)), buffer, sizeof buffer), 0);
    ASSERT_EQ(std::string(buffer), std::to_string(i));
  }
  int n = 0;
  for (Node c(list->GetNextChildNodePo(nullptr)); c; c.reset(list->GetNextChildNodePo(c.get()))) ++n;
  EXPECT_EQ(n, children);
  EXPECT_LT(store->attrProbes() - probes, uint64_t(4) * attributes);
  EXPECT_LT(store->stepProbes() - steps, uint64_t(3) * children);
}

TEST_F(DomDocument, OwnRecordsReadAsTheComCallsGiveThem) {
  // The same element read through the DOM's own records and through the COM
  // calls (a scripted node): every buffer size, a UTF-8 and a single-byte
  // code page, texts with blanks, non-ASCII and characters outside the BMP.
  const std::u16string texts[] = {u"", u"plain", u"12  ", u"caf\u00E9 na\u00EFve", u"\u6771\u4EAC x",
                                  u"a\U0001F600b", u"  lead"};
  const std::u16string names[] = {u"e", u"caf\u00E9", u"p:item"};
  std::vector<locale_t> locales = {nullptr, twtest::MakeLocale("de_DE", "ISO-8859-1", "de_DE.ISO-8859-1")};
  for (locale_t loc : locales) {
    std::optional<twtest::ThreadLocale> scope;
    if (loc) scope.emplace(loc);
    for (const std::u16string& name : names) {
      for (const std::u16string& text : texts) {
        const std::string name8 = twdom::ToUtf8(name), text8 = twdom::ToUtf8(text);
        Bytes in("<" + name8 + " xmlns:p='urn:p' a='" + text8 + "'>" + text8 + "<x/></" + name8 + ">");
        ASSERT_EQ(doc->LoadFromStreamF(&in), 0);
        Node own(doc->GetRootElementP());
        FakeNode e(NODE_ELEMENT, name), t(NODE_TEXT, u"#text", text);
        if (!text.empty()) e.Append(&t);  // blank-only text is no text node
        e.attributes.emplace_back(u"a", text);
        KxXMLNodeImpl com(e.node());
        for (unsigned size = 0; size <= 20; ++size) {
          SCOPED_TRACE(text8 + " in " + name8 + ", size " + std::to_string(size) + (loc ? ", ISO-8859-1" : ""));
          char a[24] = "keep", b[24] = "keep";
          EXPECT_EQ(own->GetAttributeF(C("a"), a, size), com.GetAttributeF(C("a"), b, size));
          EXPECT_STREQ(a, b);
          own->GetTagNameV(a, size);
          com.GetTagNameV(b, size);
          if (size) {
            EXPECT_STREQ(a, b);
          }
          EXPECT_EQ(own->ExtractNameF(C("p:"), a, size), com.ExtractNameF(C("p:"), b, size));
          EXPECT_STREQ(a, b);
          char* x = own->GetValuePsz(a, size);
          char* y = com.GetValuePsz(b, size);
          EXPECT_STREQ(x, y);
          EXPECT_EQ(x == a, y == b);
          if (x != a) MemFreeF(x);
          if (y != b) MemFreeF(y);
        }
      }
    }
  }
}
