// Node objects over DOM nodes whose answers the test controls: reference
// discipline, the walk when the DOM fails, names and values as narrow text,
// attributes and the error information carried by a refusal.
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "twxml/platform/win32_internal.h"

using namespace dom_test;

TEST(NodeObject, HoldsExactlyOneReference) {
  FakeNode n(NODE_ELEMENT, u"a"), other(NODE_ELEMENT, u"b");
  {
    KxXMLNodeImpl node(n.node());
    EXPECT_EQ(n.refs, 2u);
    KxXMLNodeImpl copy(node), assigned(other.node());
    EXPECT_EQ(n.refs, 3u);
    assigned = node;
    EXPECT_EQ(other.refs, 1u);
    KxXMLNodeImpl& alias = assigned;
    assigned = alias;
    EXPECT_EQ(n.refs, 4u);
    IXMLDOMNode* got = node.GetInterfaceP();
    EXPECT_EQ(got, n.node());
    EXPECT_EQ(n.refs, 5u);
    got->Release();
  }
  EXPECT_EQ(n.refs, 1u);
  KxXMLNodeImpl empty(nullptr), emptyCopy(empty);
  EXPECT_EQ(empty.GetInterfaceP(), nullptr);
  EXPECT_EQ(emptyCopy.GetInterfaceP(), nullptr);
}

TEST(NodeObject, WithoutDomNodeEveryOperationFailsQuietly) {
  std::unique_ptr<KxXMLNode> node(new KxXMLNodeImpl(nullptr));
  FakeNode c(NODE_ELEMENT, u"c");
  KxXMLNodeImpl child(c.node());
  EXPECT_EQ(node->GetNameBstr(), nullptr);
  EXPECT_EQ(node->GetValueBstr(), nullptr);
  EXPECT_EQ(node->PutValueF(W(u"x")), -1);
  EXPECT_EQ(node->AppendNodeF(&child), -1);
  EXPECT_EQ(node->GetNextChildNodePo(nullptr), nullptr);
  EXPECT_EQ(node->GetNextChildNodePo(&child), nullptr);
  EXPECT_EQ(node->FindChildNodePo(C(""), C("c")), nullptr);
  EXPECT_FALSE(node->IsThisNameB(C(""), C("")));
  char buffer[8] = "keep";
  int number = 99;
  EXPECT_EQ(node->ExtractNameF(C(""), buffer, sizeof buffer), 30);
  EXPECT_EQ(node->GetAttributeF(C("a"), buffer, sizeof buffer), 30);
  EXPECT_EQ(node->GetAttributeF(C("a"), &number), 30);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(number, 99);
  node->GetTagNameV(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "keep");
  EXPECT_EQ(node->GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");
  // Never raises, whatever the name.
  EXPECT_EQ(node->AppendAttributeF(C("a b"), C("v")), -1);
  EXPECT_EQ(node->AppendAttributeF(C("a b"), 5), -1);
  EXPECT_EQ(node->AppendAttributeF(W(u"a b"), 5), -1);
  EXPECT_EQ(node->AppendAttributeF(W(u"a b"), nullptr), -1);
  EXPECT_EQ(c.refs, 2u);
}

TEST(NodeObject, NameValueTextAndAppend) {
  FakeNode e(NODE_ELEMENT, u"p:item"), t(NODE_TEXT, u"#text", u"hello"), c(NODE_ELEMENT, u"c");
  KxXMLNodeImpl element(e.node()), text(t.node()), child(c.node()), empty(nullptr);
  EXPECT_EQ(TakeBstr(element.GetNameBstr()), u"p:item");
  EXPECT_EQ(element.GetValueBstr(), nullptr);
  EXPECT_EQ(TakeBstr(text.GetValueBstr()), u"hello");
  t.valueIsNumber = true;  // a value of another type than text is no value
  EXPECT_EQ(text.GetValueBstr(), nullptr);
  e.hasName = false;
  EXPECT_EQ(element.GetNameBstr(), nullptr);
  EXPECT_EQ(text.PutValueF(W(u"new")), 0);
  EXPECT_EQ(t.text, u"new");
  EXPECT_EQ(text.PutValueF(nullptr), 0);
  EXPECT_EQ(t.text, u"");
  t.refuseText = true;
  EXPECT_EQ(text.PutValueF(W(u"x")), -1);

  EXPECT_EQ(element.AppendNodeF(&empty), -1);
  EXPECT_EQ(element.AppendNodeF(nullptr), -1);
  e.refuseChildren = true;
  EXPECT_EQ(element.AppendNodeF(&child), -1);
  EXPECT_TRUE(e.children.empty());
  e.refuseChildren = false;
  EXPECT_EQ(element.AppendNodeF(&child), 0);
  EXPECT_EQ(e.children.size(), 1u);
  // The returned node reference and the call's own are both given back.
  EXPECT_EQ(c.refs, 2u);
  EXPECT_EQ(e.refs, 2u);
}

TEST(NodeObject, WalkOverElementChildren) {
  FakeNode root(NODE_ELEMENT, u"root"), comment(NODE_COMMENT, u"#comment", u"c"), a(NODE_ELEMENT, u"a"),
      text(NODE_TEXT, u"#text", u"t"), pi(NODE_PROCESSING_INSTRUCTION, u"pi", u"d"), b(NODE_ELEMENT, u"b");
  FakeNode* all[] = {&comment, &a, &text, &pi, &b};
  for (FakeNode* n : all) root.Append(n);
  KxXMLNodeImpl node(root.node()), empty(nullptr);
  auto next = [&](KxXMLNode* previous) {
    std::unique_ptr<KxXMLNode> found(node.GetNextChildNodePo(previous));
    return found ? TakeBstr(found->GetNameBstr()) : u"<none>";
  };
  std::unique_ptr<KxXMLNode> first(node.GetNextChildNodePo(nullptr));
  ASSERT_TRUE(first);
  std::unique_ptr<KxXMLNode> second(node.GetNextChildNodePo(first.get()));
  ASSERT_TRUE(second);
  EXPECT_EQ(TakeBstr(first->GetNameBstr()), u"a");
  EXPECT_EQ(TakeBstr(second->GetNameBstr()), u"b");
  EXPECT_EQ(next(second.get()), u"<none>");
  EXPECT_EQ(next(&empty), u"a");  // a previous object without DOM node: from the start
  first.reset();
  second.reset();
  a.typeFails = true;  // a node whose type cannot be read is passed over
  EXPECT_EQ(next(nullptr), u"b");
  a.typeFails = false;
  comment.nextSiblingFails = true;  // a failing step ends the walk
  EXPECT_EQ(next(nullptr), u"<none>");
  comment.nextSiblingFails = false;
  root.firstChildFails = true;
  EXPECT_EQ(next(nullptr), u"<none>");
  EXPECT_EQ(root.refs, 2u);
  for (FakeNode* n : all) EXPECT_EQ(n->refs, 1u);

  // A previous node that is not a child of this node: its own siblings.
  FakeNode other(NODE_ELEMENT, u"other"), x(NODE_ELEMENT, u"x"), y(NODE_COMMENT, u"#c"), z(NODE_ELEMENT, u"z");
  for (FakeNode* n : {&x, &y, &z}) other.Append(n);
  KxXMLNodeImpl foreign(x.node());
  EXPECT_EQ(next(&foreign), u"z");
}

TEST(NodeNames, ExtractIsThisTagNameAndFind) {
  const struct {
    const char16_t* name;
    const char* prefix;
    unsigned size;
    int status;
    const char* rest;  // null: buffer untouched
  } extracts[] = {
      {u"xs:element", "XS:", 8, 0, "element"},
      {u"xs:element", "XS:", 7, 30, nullptr},
      {u"xs:element", "xsd:", 16, 30, nullptr},
      {u"xs:element", "", 16, 0, "xs:element"},
      {u"xs:element", nullptr, 16, 0, "xs:element"},
      {u"xs:element", "xs:elementary", 16, 30, nullptr},
      {u"p:name  ", "P:", 5, 0, "name"},  // trailing blanks of the DOM's name are dropped
      {u"\u65e5\u672c:\u8a9e", "\xe6\x97\xa5\xe6\x9c\xac:", 16, 0, "\xe8\xaa\x9e"},
  };
  for (const auto& x : extracts) {
    SCOPED_TRACE(x.prefix ? x.prefix : "<null>");
    FakeNode e(NODE_ELEMENT, x.name);
    KxXMLNodeImpl node(e.node());
    char buffer[16] = "untouched";
    EXPECT_EQ(node.ExtractNameF(C(x.prefix), buffer, x.size), x.status);
    EXPECT_STREQ(buffer, x.rest ? x.rest : "untouched");
  }
  FakeNode xs(NODE_ELEMENT, u"xs:element"), cjk(NODE_ELEMENT, u"\u65e5\u672c:\u8a9e");
  KxXMLNodeImpl node(xs.node()), cjkNode(cjk.node());
  char buffer[16];
  node.GetTagNameV(buffer, 6);
  EXPECT_STREQ(buffer, "xs:el");
  node.GetTagNameV(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "xs:element");
  cjkNode.GetTagNameV(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "\xe6\x97\xa5\xe6\x9c\xac:\xe8\xaa\x9e");

  // Blanks are ignored and letter case does not count.
  FakeNode t(NODE_ELEMENT, u"MyTable"), t2(NODE_ELEMENT, u"MyTable2");
  KxXMLNodeImpl table(t.node()), table2(t2.node());
  EXPECT_TRUE(table.IsThisNameB(C(""), C("My Table")));
  EXPECT_TRUE(table.IsThisNameB(C(""), C("MYTABLE   ")));
  EXPECT_TRUE(table.IsThisNameB(nullptr, C("mytable")));
  EXPECT_TRUE(node.IsThisNameB(C("XS:"), C("Element")));
  EXPECT_FALSE(table.IsThisNameB(C(""), C("MyTabl")));
  EXPECT_FALSE(table.IsThisNameB(C("x:"), C("MyTable")));
  EXPECT_FALSE(table.IsThisNameB(C(""), nullptr));
  EXPECT_FALSE(table2.IsThisNameB(C(""), C("MyTable")));

  // The first match in document order; nothing left behind.
  FakeNode root(NODE_ELEMENT, u"root"), a(NODE_ELEMENT, u"a"), text(NODE_TEXT, u"#text", u"b"),
      b1(NODE_ELEMENT, u"x:b"), b2(NODE_ELEMENT, u"x:b");
  for (FakeNode* n : {&a, &text, &b1, &b2}) root.Append(n);
  KxXMLNodeImpl parent(root.node());
  std::unique_ptr<KxXMLNode> found(parent.FindChildNodePo(C("X:"), C("B")));
  ASSERT_TRUE(found);
  IXMLDOMNode* dom = static_cast<KxXMLNodeImpl*>(found.get())->GetInterfaceP();
  EXPECT_EQ(dom, b1.node());
  dom->Release();
  found.reset();
  EXPECT_EQ(parent.FindChildNodePo(C(""), C("c")), nullptr);
  EXPECT_EQ(parent.FindChildNodePo(C(""), C("b")), nullptr);
  EXPECT_EQ(root.refs, 2u);
  for (FakeNode* n : {&a, &text, &b1, &b2}) EXPECT_EQ(n->refs, 1u);
}

TEST(NodeValues, FirstTextChildAsNarrowText) {
  FakeNode e(NODE_ELEMENT, u"e"), comment(NODE_COMMENT, u"#comment", u"no"), text(NODE_TEXT, u"#text", u"hello"),
      child(NODE_ELEMENT, u"child"), more(NODE_TEXT, u"#text", u"more");
  for (FakeNode* n : {&comment, &text, &child, &more}) e.Append(n);
  KxXMLNodeImpl node(e.node());
  char buffer[16];
  EXPECT_EQ(node.GetValuePsz(buffer, 6), buffer);
  EXPECT_STREQ(buffer, "hello");
  // Does not fit, or a size of 0: a new narrow copy, the buffer left empty.
  for (unsigned size : {5u, 0u}) {
    std::strcpy(buffer, "x");
    char* copy = node.GetValuePsz(buffer, size);
    ASSERT_NE(copy, buffer);
    EXPECT_STREQ(copy, "hello");
    if (size) {
      EXPECT_STREQ(buffer, "");
    }
    MemFreeF(copy);
  }
  // Empty: a value that is not text, no text child, only CDATA, a text node.
  FakeNode bare(NODE_ELEMENT, u"bare"), cdata(NODE_CDATA_SECTION, u"#cdata-section", u"c");
  KxXMLNodeImpl bareNode(bare.node()), textNode(text.node());
  auto emptyValue = [&](KxXMLNodeImpl& n) {
    std::strcpy(buffer, "x");
    return n.GetValuePsz(buffer, sizeof buffer) == buffer && buffer[0] == 0;
  };
  text.valueIsNumber = true;
  EXPECT_TRUE(emptyValue(node));
  text.valueIsNumber = false;
  EXPECT_TRUE(emptyValue(bareNode));
  bare.Append(&cdata);
  EXPECT_TRUE(emptyValue(bareNode));
  EXPECT_TRUE(emptyValue(textNode));
  // The fit test counts UTF-16 units; a longer narrow form is cut on a
  // character boundary.
  FakeNode accents(NODE_ELEMENT, u"a"), accented(NODE_TEXT, u"#text", u"h\u00e9llo");
  accents.Append(&accented);
  KxXMLNodeImpl accentsNode(accents.node());
  EXPECT_EQ(accentsNode.GetValuePsz(buffer, 6), buffer);
  EXPECT_STREQ(buffer, "h\xc3\xa9ll");
  EXPECT_EQ(accentsNode.GetValuePsz(buffer, 7), buffer);
  EXPECT_STREQ(buffer, "h\xc3\xa9llo");
  accented.text = u"a\U0001F600b";  // four units; the four-byte character does not fit in 5
  EXPECT_EQ(accentsNode.GetValuePsz(buffer, 5), buffer);
  EXPECT_STREQ(buffer, "a");
  EXPECT_EQ(accentsNode.GetValuePsz(buffer, 7), buffer);
  EXPECT_STREQ(buffer, "a\xf0\x9f\x98\x80" "b");
  for (FakeNode* n : {&e, &text, &bare}) EXPECT_EQ(n->refs, 2u);
  for (FakeNode* n : {&comment, &child, &more, &cdata}) EXPECT_EQ(n->refs, 1u);
}

TEST(NodeAttributes, ReadAndSetAsTextAndNumber) {
  // The value rules (blanks, numbers and their range) are walked on real
  // documents; here the cut, the name's conversion and the DOM failing.
  FakeNode e(NODE_ELEMENT, u"e"), t(NODE_TEXT, u"#text", u"t");
  e.attributes = {{u"count", u"12"}, {u"long", u"abcdefghij"}, {u"\u00e9", u"\u00e9t\u00e9"}};
  KxXMLNodeImpl node(e.node()), text(t.node());
  char buffer[16];
  int number = -77;
  EXPECT_EQ(node.GetAttributeF(C("long"), buffer, 5), 0);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(node.GetAttributeF(C("\xc3\xa9"), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "\xc3\xa9t\xc3\xa9");
  // Not there, no name, the DOM failing, no element: 30 and nothing written.
  std::strcpy(buffer, "keep");
  EXPECT_EQ(node.GetAttributeF(C("missing"), buffer, sizeof buffer), 30);
  EXPECT_EQ(node.GetAttributeF(C("missing"), &number), 30);
  EXPECT_EQ(node.GetAttributeF(nullptr, buffer, sizeof buffer), 30);
  e.getAttributeFails = true;
  EXPECT_EQ(node.GetAttributeF(C("long"), buffer, sizeof buffer), 30);
  EXPECT_EQ(node.GetAttributeF(C("count"), &number), 30);
  e.getAttributeFails = false;
  EXPECT_EQ(text.GetAttributeF(C("long"), buffer, sizeof buffer), 30);
  EXPECT_EQ(text.GetAttributeF(C("count"), &number), 30);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(number, -77);
  EXPECT_EQ(text.AppendAttributeF(C("id"), 1), -1);  // setting: -1
  EXPECT_EQ(text.AppendAttributeF(C("id"), C("v")), -1);

  // Setting: numbers as VT_I4, texts as VT_BSTR, the same name replaced.
  FakeNode s(NODE_ELEMENT, u"s");
  KxXMLNodeImpl set(s.node());
  EXPECT_EQ(set.AppendAttributeF(C("id"), -5), 0);
  EXPECT_EQ(s.lastSetType, VT_I4);
  EXPECT_EQ(s.attributes.back().second, u"-5");
  EXPECT_EQ(set.AppendAttributeF(C("id"), 7), 0);
  EXPECT_EQ(set.AppendAttributeF(C("name"), C("value")), 0);
  EXPECT_EQ(s.lastSetType, VT_BSTR);
  BSTR value = SysAllocString(u"wide");
  EXPECT_EQ(set.AppendAttributeF(W(u"w"), value), 0);
  SysFreeString(value);
  EXPECT_EQ(set.AppendAttributeF(W(u"n"), 42), 0);
  const decltype(s.attributes) expected = {{u"id", u"7"}, {u"name", u"value"}, {u"w", u"wide"}, {u"n", u"42"}};
  EXPECT_EQ(s.attributes, expected);
  for (FakeNode* n : {&e, &t, &s}) EXPECT_EQ(n->refs, 2u);
}

TEST(NodeAttributes, RefusalRaisesComErrorWithErrorInfo) {
  FakeNode e(NODE_ELEMENT, u"e");
  e.attributes = {{u"keep", u"1"}};
  KxXMLNodeImpl node(e.node());
  e.setAttributeResult = E_INVALIDARG;
  e.errorText = u"bad name";
  // How the element reports error information, and whether it is carried.
  const struct {
    bool offers;
    HRESULT supports;
    bool carried;
  } cases[] = {{true, S_OK, true}, {true, S_FALSE, true}, {true, E_NOINTERFACE, false}, {false, S_OK, false}};
  for (const auto& c : cases) {
    e.offersErrorInfo = c.offers;
    e.supportsErrorInfo = c.supports;
    for (int form = 0; form < 3; ++form) {
      SCOPED_TRACE(testing::Message() << c.supports << " form " << form);
      try {
        if (form == 0) node.AppendAttributeF(C("a b"), C("v"));
        if (form == 1) node.AppendAttributeF(C("a b"), 3);  // through the wide form too
        if (form == 2) node.AppendAttributeF(W(u"x y"), 3);
        ADD_FAILURE() << "no exception";
      } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_INVALIDARG);
        EXPECT_EQ(error.ErrorInfo() != nullptr, c.carried);
        if (c.carried) {
          EXPECT_EQ(error.Description(), u"bad name");
        }
      }
      ClearErrorInfo();
    }
  }
  EXPECT_EQ(e.askedErrorInfoFor, IID_IXMLDOMElement);
  // The element keeps what it had, and no reference is left behind.
  EXPECT_EQ(e.attributes.size(), 1u);
  EXPECT_EQ(e.refs, 2u);
}

namespace {

// Records which wide form the narrow forms reach through the table.
class RecordingNode : public KxXMLNodeImpl {
 public:
  using KxXMLNodeImpl::KxXMLNodeImpl;
  using KxXMLNodeImpl::AppendAttributeF;
  int AppendAttributeF(WCHAR* name, int value) override {
    calls.push_back(u"number " + Show(name) + u"=" + (value < 0 ? u"-" : u"") + char16_t(u'0' + std::abs(value)));
    return 11;
  }
  int AppendAttributeF(WCHAR* name, WCHAR* value) override {
    // "!" marks a text that is no BSTR of its own length.
    const bool bstr = !value || SysStringLen(value) == std::char_traits<char16_t>::length(value);
    calls.push_back(u"text " + Show(name) + u"=" + Show(value) + (bstr ? u"" : u"!"));
    return 12;
  }
  int ExtractNameF(char*, char* buffer, unsigned int size) override {
    ++extracts;
    return strcpy_s(buffer, size, "Picked") == 0 ? 0 : 30;
  }
  std::vector<std::u16string> calls;
  int extracts = 0;
};

}  // namespace

TEST(NodeAttributes, NarrowFormsCallWideFormsThroughTheTable) {
  FakeNode e(NODE_ELEMENT, u"e");
  RecordingNode node(e.node());
  KxXMLNode* base = &node;
  EXPECT_EQ(base->AppendAttributeF(C("id"), 5), 11);
  EXPECT_EQ(base->AppendAttributeF(C("id"), -3), 11);
  EXPECT_EQ(base->AppendAttributeF(C("n"), C("v")), 12);
  EXPECT_EQ(base->AppendAttributeF(C("n"), nullptr), 12);
  EXPECT_EQ(base->AppendAttributeF(nullptr, C("v")), 12);
  const std::vector<std::u16string> expected = {u"number id=5", u"number id=-3", u"text n=v", u"text n=<null>",
                                                u"text <null>=v"};
  EXPECT_EQ(node.calls, expected);
  EXPECT_TRUE(e.attributes.empty());
  EXPECT_TRUE(base->IsThisNameB(C(""), C("picked")));
  EXPECT_EQ(node.extracts, 1);
}
