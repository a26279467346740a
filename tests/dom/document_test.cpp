// The document face over the real DOM document class: documents built
// through the classes are saved and parsed back with libxml2, generated
// documents are loaded and walked side by side with libxml2's tree, and
// refusals of the DOM reach the caller as _com_error. Skipped where no DOM
// document class is registered.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "fakes.h"
#include "twxml/twxml.h"

using dom_test::FakeKxStream;

namespace {

char* C(const char* text) { return const_cast<char*>(text); }
char* C(const std::string& text) { return const_cast<char*>(text.c_str()); }
WCHAR* W(const char16_t* text) { return const_cast<WCHAR*>(text); }
const char* X(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

using Document = std::unique_ptr<KxXMLParser>;
using Node = std::unique_ptr<KxXMLNode>;

class DomDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    probe.reset(XmlGetParserP());
    if (!probe) GTEST_SKIP() << "no DOM document class registered";
  }
  void TearDown() override {
    probe.reset();
    CoUninitialize();
  }

  static std::string Save(KxXMLParser& document) {
    FakeKxStream out;
    document.SaveToStreamV(&out);
    return out.data;
  }

  // Parses saved bytes with libxml2; null when they are not well-formed.
  static std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> Parse(const std::string& bytes) {
    return {xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                          XML_PARSE_NONET),
            xmlFreeDoc};
  }

  static std::string TagName(KxXMLNode& node) {
    char buffer[256];
    node.GetTagNameV(buffer, sizeof buffer);
    return buffer;
  }

  static std::string Value(KxXMLNode& node) {
    char buffer[64];
    char* value = node.GetValuePsz(buffer, sizeof buffer);
    std::string text = value;
    if (value != buffer) MemFreeF(value);
    return text;
  }

  Document probe{nullptr};
};

xmlNodePtr FirstElement(xmlNodePtr node) {
  for (; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE) return node;
  return nullptr;
}

std::string NsOf(xmlNodePtr node) { return node->ns && node->ns->href ? X(node->ns->href) : ""; }

}  // namespace

TEST_F(DomDocument, BuiltDocumentSavesWithDeclarationNamespacesAndEscaping) {
  Document doc(XmlGetParserP());
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->SetEncodingF(nullptr), 0);
  Node root(doc->CreateElementP(C("order"), C("urn:orders")));
  ASSERT_TRUE(root);
  ASSERT_EQ(doc->PutRootElementF(root.get()), 0);
  EXPECT_EQ(root->AppendAttributeF(C("id"), -5), 0);
  EXPECT_EQ(root->AppendAttributeF(C("id"), 7), 0);
  EXPECT_EQ(root->AppendAttributeF(C("note"), C("a<b & \"c\" 'd' >")), 0);
  EXPECT_EQ(root->AppendAttributeF(C("caf\xc3\xa9"), C("cr\xc3\xa8me \xe6\x97\xa5\xe6\x9c\xac")), 0);
  EXPECT_EQ(doc->AppendCommentF(root.get(), C(" first ")), 0);

  // Unprefixed without a URI: joins urn:orders.
  Node item(doc->CreateElementP(C("item"), nullptr));
  ASSERT_TRUE(item);
  ASSERT_EQ(doc->AppendElementF(root.get(), item.get()), 0);
  EXPECT_EQ(doc->AppendTextF(item.get(), C("Fish & Chips <deluxe> \xf0\x9f\x98\x80")), 0);
  // Prefixed with its own URI; the remembered one stays.
  EXPECT_EQ(doc->AppendElementF(root.get(), C("g:wrap"), C("urn:gifts")), 0);
  EXPECT_EQ(doc->AppendElementF(root.get(), C("after"), nullptr), 0);
  // The empty URI is a URI the caller gave: back to no namespace.
  EXPECT_EQ(doc->AppendElementF(root.get(), C("plain"), C("")), 0);
  EXPECT_EQ(doc->AppendElementF(root.get(), C("plain2"), nullptr), 0);
  // Illegal name characters are dropped.
  EXPECT_EQ(doc->AppendElementF(root.get(), C("my item!"), nullptr), 0);
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
  xmlChar* id = xmlGetProp(r, reinterpret_cast<const xmlChar*>("id"));
  EXPECT_STREQ(X(id), "7");
  xmlFree(id);
  xmlChar* note = xmlGetProp(r, reinterpret_cast<const xmlChar*>("note"));
  EXPECT_STREQ(X(note), "a<b & \"c\" 'd' >");
  xmlFree(note);
  xmlChar* cafe = xmlGetProp(r, reinterpret_cast<const xmlChar*>("caf\xc3\xa9"));
  EXPECT_STREQ(X(cafe), "cr\xc3\xa8me \xe6\x97\xa5\xe6\x9c\xac");
  xmlFree(cafe);

  ASSERT_NE(r->children, nullptr);
  EXPECT_EQ(r->children->type, XML_COMMENT_NODE);
  EXPECT_STREQ(X(r->children->content), " first ");
  const struct {
    const char* name;
    const char* ns;
  } expected[] = {{"item", "urn:orders"}, {"wrap", "urn:gifts"}, {"after", "urn:orders"},
                  {"plain", ""},          {"plain2", ""},        {"myitem", ""}};
  xmlNodePtr e = FirstElement(r->children);
  for (const auto& x : expected) {
    ASSERT_NE(e, nullptr) << x.name;
    EXPECT_STREQ(X(e->name), x.name);
    EXPECT_EQ(NsOf(e), x.ns) << x.name;
    e = FirstElement(e->next);
  }
  EXPECT_EQ(e, nullptr);
  xmlNodePtr itemNode = FirstElement(r->children);
  xmlChar* text = xmlNodeGetContent(itemNode);
  EXPECT_STREQ(X(text), "Fish & Chips <deluxe> \xf0\x9f\x98\x80");
  xmlFree(text);
  xmlNodePtr last = r->last;
  ASSERT_EQ(last->type, XML_TEXT_NODE);
  EXPECT_STREQ(X(last->content), "tail \xc3\xa9");
}

TEST_F(DomDocument, EncodingDeclaration) {
  {
    // The only child of an empty document.
    Document doc(XmlGetParserP());
    EXPECT_EQ(doc->SetEncodingF(nullptr), 0);
    FakeKxStream bytes;
    doc->SaveToStreamV(&bytes);
    EXPECT_NE(bytes.data.find("version='1.0' encoding='UTF-8'"), std::string::npos)
        << bytes.data;
  }
  {
    // Another encoding, in the caller's letter case, ahead of an existing root.
    Document doc(XmlGetParserP());
    Node root(doc->CreateElementP(C("r"), nullptr));
    ASSERT_EQ(doc->PutRootElementF(root.get()), 0);
    EXPECT_EQ(doc->AppendTextF(root.get(), C("caf\xc3\xa9")), 0);
    EXPECT_EQ(doc->SetEncodingF(C("iso-8859-1")), 0);
    const std::string saved = Save(*doc);
    EXPECT_EQ(saved.rfind("<?xml", 0), 0u);
    EXPECT_NE(saved.find("iso-8859-1"), std::string::npos) << saved;
    EXPECT_NE(saved.find("caf\xe9"), std::string::npos) << saved;
    auto parsed = Parse(saved);
    ASSERT_TRUE(parsed);
    xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(parsed.get()));
    EXPECT_STREQ(X(text), "caf\xc3\xa9");
    xmlFree(text);
    // A second declaration in front of the first: whatever the DOM decides,
    // a refusal is -1 and the document still saves with one declaration.
    if (doc->SetEncodingF(C("UTF-8")) != 0) {
      const std::string again = Save(*doc);
      EXPECT_EQ(again, saved);
    }
  }
}

TEST_F(DomDocument, LoadingAndTheRootElement) {
  Document doc(XmlGetParserP());
  EXPECT_EQ(doc->GetRootElementP(), nullptr);

  FakeKxStream empty;
  EXPECT_EQ(doc->LoadFromStreamF(&empty), 12);
  FakeKxStream malformed("<a><b></a>");
  EXPECT_EQ(doc->LoadFromStreamF(&malformed), 12);
  FakeKxStream failing(std::string(3000, ' ') + "<a/>");
  failing.failReadAt = 2;
  EXPECT_EQ(doc->LoadFromStreamF(&failing), 12);

  FakeKxStream good("<?xml version='1.0'?>\n<!-- c -->\n<top a='1'><x/>text<y/></top>");
  ASSERT_EQ(doc->LoadFromStreamF(&good), 0);
  Node root(doc->GetRootElementP());
  ASSERT_TRUE(root);
  EXPECT_EQ(TagName(*root), "top");
  Node again(doc->GetRootElementP());
  ASSERT_TRUE(again);
  EXPECT_NE(again.get(), root.get());
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
  Document doc(XmlGetParserP());
  // A null text (or one that does not convert) makes an empty text node.
  Node empty(doc->CreateTextP(static_cast<char*>(nullptr)));
  ASSERT_TRUE(empty);
  WCHAR* value = empty->GetValueBstr();
  EXPECT_TRUE(value == nullptr || value[0] == 0);
  SysFreeString(value);
  char invalid[] = "\xff";
  Node bad(doc->CreateTextP(invalid));
  ASSERT_TRUE(bad);

  // A text node takes no children: -1 and nothing left behind.
  Node parent(doc->CreateTextP(C("p")));
  EXPECT_EQ(doc->AppendTextF(parent.get(), C("child")), -1);
  EXPECT_EQ(doc->AppendElementF(parent.get(), C("e"), nullptr), -1);

  // Comments carry their text.
  Node comment(doc->CreateCommentP(C("note")));
  ASSERT_TRUE(comment);
  WCHAR* note = comment->GetValueBstr();
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(std::u16string(note), u"note");
  SysFreeString(note);

  // A name the DOM refuses once illegal characters are gone: null, and the
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

TEST_F(DomDocument, AttributeRefusalCarriesTheDomErrorInformation) {
  Document doc(XmlGetParserP());
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
  xmlNodePtr r = xmlDocGetRootElement(parsed.get());
  int count = 0;
  for (xmlAttrPtr a = r->properties; a; a = a->next) ++count;
  EXPECT_EQ(count, 1);
}

TEST_F(DomDocument, FailedSaveRaisesWithTheDocumentErrorInformation) {
  Document doc(XmlGetParserP());
  Node root(doc->CreateElementP(C("r"), nullptr));
  ASSERT_EQ(doc->PutRootElementF(root.get()), 0);
  ASSERT_EQ(doc->AppendTextF(root.get(), C(std::string(5000, 'x'))), 0);
  FakeKxStream refusing;
  refusing.failWriteAt = 2;
  try {
    doc->SaveToStreamV(&refusing);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_TRUE(FAILED(error.Error()));
    EXPECT_NE(error.ErrorInfo(), nullptr);
  }
  // What was written before the failure stays; the document is unchanged.
  EXPECT_EQ(refusing.writeSizes.size(), 2u);
  EXPECT_EQ(refusing.data.size(), 1024u);
  auto parsed = Parse(Save(*doc));
  ASSERT_TRUE(parsed);
}

// ---- Generated documents walked side by side with libxml2 ----------------

namespace {

// A document with every node kind, namespaces, mixed content and text
// outside ASCII; deterministic for a seed.
std::string Generate(unsigned seed, int elements) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* names[] = {"item", "a:item", "b:row", "Table", "caf\xc3\xa9", "x-y.z", "a:v", "n_1"};
  const char* texts[] = {"plain",
                         "a &amp; b &lt; c &gt; d",
                         "caf\xc3\xa9 cr\xc3\xa8me",
                         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
                         "emoji \xf0\x9f\x98\x80!",
                         "&#233;&#x4E2D; refs",
                         "  padded  ",
                         "line\nbreak"};
  const char* values[] = {"12", "-7", "  12  ", "2147483648", "abc", "", "x &quot;q&quot; &amp; y",
                          "\xc3\xa9t\xc3\xa9", "-2147483648", "tab\there"};
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- generated -->\n";
  out += "<?app data?>\n<root xmlns=\"urn:default\" xmlns:a=\"urn:a\" xmlns:b=\"urn:b\">";
  int open = 1;
  std::vector<std::string> stack = {"root"};
  for (int i = 0; i < elements; ++i) {
    switch (pick(9)) {
      case 0:
        out += "<!-- c";
        out += std::to_string(i);
        out += " -->";
        break;
      case 1:
        out += "<![CDATA[<cdata & ";
        out += std::to_string(i);
        out += ">]]>";
        break;
      case 2:
        out += "<?pi ";
        out += std::to_string(i);
        out += "?>";
        break;
      case 3:
        out += "\n  ";
        break;
      case 4:
      case 5:
        out += texts[pick(8)];
        break;
      default:
        break;
    }
    if (pick(3) == 0 && open > 1) {
      out += "</" + stack.back() + ">";
      stack.pop_back();
      --open;
      continue;
    }
    const std::string name = names[pick(8)];
    out += "<" + name;
    const int attributes = pick(4);
    for (int k = 0; k < attributes; ++k) {
      out += " at" + std::to_string(k) + "=\"" + values[pick(10)] + "\"";
    }
    if (pick(5) == 0) out += " b:q=\"ns attr\"";
    if (pick(4) == 0) {
      out += "/>";
    } else {
      out += ">";
      stack.push_back(name);
      ++open;
      if (open > 12) {
        out += texts[pick(8)];
        out += "</" + stack.back() + ">";
        stack.pop_back();
        --open;
      }
    }
  }
  while (!stack.empty()) {
    out += "</" + stack.back() + ">";
    stack.pop_back();
  }
  return out;
}

std::string QName(xmlNodePtr node) {
  std::string name;
  if (node->ns && node->ns->prefix) name = std::string(X(node->ns->prefix)) + ":";
  return name + X(node->name);
}

bool AllBlank(const xmlChar* text) {
  for (; text && *text; ++text)
    if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r') return false;
  return true;
}

// The first text child that the DOM keeps (white-space-only text is dropped).
std::string FirstText(xmlNodePtr node) {
  for (xmlNodePtr c = node->children; c; c = c->next)
    if (c->type == XML_TEXT_NODE && !AllBlank(c->content)) return X(c->content);
  return "";
}

// What GetValuePsz gives for a text: a text of fewer UTF-16 units than the
// buffer's size goes into the buffer, cut to whole characters that fit (a
// multi-byte text may not); longer texts come back whole in a new copy.
std::string FittedText(const std::string& utf8, size_t size) {
  size_t units = 0;
  for (unsigned char c : utf8) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
  if (units >= size) return utf8;
  size_t cut = std::min(utf8.size(), size - 1);
  while (cut > 0 && cut < utf8.size() && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return utf8.substr(0, cut);
}

std::string RTrim(std::string text) {
  while (!text.empty() && std::strchr(" \t\r\n\v\f", text.back())) text.pop_back();
  return text;
}

// Compares one element and, recursively, its element children. Counts the
// elements compared.
void Compare(KxXMLNode& ours, xmlNodePtr theirs, int& compared) {
  ++compared;
  const std::string name = QName(theirs);
  char buffer[256];
  ours.GetTagNameV(buffer, sizeof buffer);
  ASSERT_EQ(std::string(buffer), name);
  EXPECT_TRUE(ours.IsThisNameB(C(""), C(name)));

  char small[8];
  char* value = ours.GetValuePsz(small, sizeof small);
  EXPECT_EQ(std::string(value), FittedText(FirstText(theirs), sizeof small)) << name;
  if (value != small) MemFreeF(value);

  for (xmlAttrPtr a = theirs->properties; a; a = a->next) {
    std::string attribute = a->ns && a->ns->prefix ? std::string(X(a->ns->prefix)) + ":" : "";
    attribute += X(a->name);
    xmlChar* raw = xmlNodeListGetString(theirs->doc, a->children, 1);
    const std::string text = raw ? X(raw) : "";
    xmlFree(raw);
    char got[256];
    ASSERT_EQ(ours.GetAttributeF(C(attribute), got, sizeof got), 0) << attribute;
    EXPECT_EQ(std::string(got), RTrim(text)) << attribute;
    // Numbers: an optionally signed decimal within 32 bits, blanks around.
    int number = 12345;
    const int status = ours.GetAttributeF(C(attribute), &number);
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    const bool numeric = !text.empty() && end != text.c_str() && RTrim(end).empty() && errno == 0 &&
                         parsed >= INT32_MIN && parsed <= INT32_MAX;
    if (text != RTrim(text) || text[0] == ' ') {
      // Surrounding blanks are the variant coercion's business.
      if (status == 0) {
        EXPECT_EQ(number, parsed);
      }
    } else if (numeric) {
      EXPECT_EQ(status, 0) << attribute << "=" << text;
      EXPECT_EQ(number, parsed);
    } else {
      EXPECT_EQ(status, 30) << attribute << "=" << text;
      EXPECT_EQ(number, 12345);
    }
  }
  char missing[4] = "k";
  EXPECT_EQ(ours.GetAttributeF(C("no-such"), missing, sizeof missing), 30);

  Node child(ours.GetNextChildNodePo(nullptr));
  xmlNodePtr theirChild = FirstElement(theirs->children);
  while (child && theirChild) {
    Compare(*child, theirChild, compared);
    child.reset(ours.GetNextChildNodePo(child.get()));
    theirChild = FirstElement(theirChild->next);
  }
  EXPECT_FALSE(child) << "extra element under " << name;
  EXPECT_EQ(theirChild, nullptr) << "missing element under " << name;

  // The first child element found by name is the first in document order.
  if (xmlNodePtr first = FirstElement(theirs->children)) {
    Node found(ours.FindChildNodePo(C(""), C(QName(first))));
    ASSERT_TRUE(found);
    char foundName[256];
    found->GetTagNameV(foundName, sizeof foundName);
    EXPECT_EQ(std::string(foundName), QName(first));
  }
}

}  // namespace

TEST_F(DomDocument, GeneratedDocumentsWalkLikeLibxml2) {
  int total = 0;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(seed);
    const std::string text = Generate(seed, 1500);
    auto oracle = Parse(text);
    ASSERT_TRUE(oracle) << "generator made a malformed document";
    Document doc(XmlGetParserP());
    FakeKxStream in(text);
    ASSERT_EQ(doc->LoadFromStreamF(&in), 0);
    // The adapter asked for the content in chunks of at most 1024 bytes.
    ASSERT_FALSE(in.readSizes.empty());
    for (size_t i = 0; i + 1 < in.readSizes.size(); ++i) EXPECT_EQ(in.readSizes[i], 1024u);
    Node root(doc->GetRootElementP());
    ASSERT_TRUE(root);
    int compared = 0;
    Compare(*root, xmlDocGetRootElement(oracle.get()), compared);
    total += compared;

    // Saved and loaded again, the document walks the same.
    const std::string saved = Save(*doc);
    auto reparsed = Parse(saved);
    ASSERT_TRUE(reparsed);
    Document again(XmlGetParserP());
    FakeKxStream in2(saved);
    ASSERT_EQ(again->LoadFromStreamF(&in2), 0);
    Node root2(again->GetRootElementP());
    int compared2 = 0;
    Compare(*root2, xmlDocGetRootElement(reparsed.get()), compared2);
    EXPECT_EQ(compared2, compared);
  }
  EXPECT_GT(total, 2000);
}
