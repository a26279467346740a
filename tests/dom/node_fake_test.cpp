// Node objects over DOM nodes whose answers the test controls: reference
// discipline, the walk, names and values as narrow text, attributes and the
// error information carried by a refusal.
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "twxml/twxml.h"

using dom_test::FakeNode;

namespace {

char* C(const char* text) { return const_cast<char*>(text); }
WCHAR* W(const char16_t* text) { return const_cast<WCHAR*>(text); }

std::u16string TakeBstr(BSTR text) {
  std::u16string s = text ? std::u16string(text) : u"<null>";
  SysFreeString(text);
  return s;
}

// Drops whatever error information a test left on the thread.
void ClearErrorInfo() {
  IErrorInfo* info = nullptr;
  GetErrorInfo(0, &info);
  if (info) info->Release();
}

}  // namespace

TEST(NodeObject, HoldsExactlyOneReference) {
  FakeNode n(NODE_ELEMENT, u"a");
  {
    KxXMLNodeImpl node(n.node());
    EXPECT_EQ(n.refs, 2u);
    KxXMLNodeImpl copy(node);
    EXPECT_EQ(n.refs, 3u);
    FakeNode other(NODE_ELEMENT, u"b");
    KxXMLNodeImpl assigned(other.node());
    assigned = node;
    EXPECT_EQ(other.refs, 1u);
    EXPECT_EQ(n.refs, 4u);
    KxXMLNodeImpl& alias = assigned;
    assigned = alias;
    EXPECT_EQ(n.refs, 4u);
    IXMLDOMNode* got = node.GetInterfaceP();
    EXPECT_EQ(got, n.node());
    EXPECT_EQ(n.refs, 5u);
    got->Release();
  }
  EXPECT_EQ(n.refs, 1u);

  KxXMLNodeImpl empty(nullptr);
  EXPECT_EQ(empty.GetInterfaceP(), nullptr);
  KxXMLNodeImpl emptyCopy(empty);
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
  char buffer[8] = "keep";
  EXPECT_EQ(node->ExtractNameF(C(""), buffer, sizeof buffer), 30);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_FALSE(node->IsThisNameB(C(""), C("")));
  node->GetTagNameV(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "keep");
  EXPECT_EQ(node->GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");
  std::strcpy(buffer, "keep");
  int number = 99;
  EXPECT_EQ(node->GetAttributeF(C("a"), buffer, sizeof buffer), 30);
  EXPECT_EQ(node->GetAttributeF(C("a"), &number), 30);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(number, 99);
  // Never raises, whatever the name.
  EXPECT_EQ(node->AppendAttributeF(C("a b"), C("v")), -1);
  EXPECT_EQ(node->AppendAttributeF(C("a b"), 5), -1);
  EXPECT_EQ(node->AppendAttributeF(W(u"a b"), 5), -1);
  EXPECT_EQ(node->AppendAttributeF(W(u"a b"), nullptr), -1);
  EXPECT_EQ(c.refs, 2u);
}

TEST(NodeObject, NameValueAndText) {
  FakeNode e(NODE_ELEMENT, u"p:item");
  FakeNode t(NODE_TEXT, u"#text", u"hello");
  KxXMLNodeImpl element(e.node());
  KxXMLNodeImpl text(t.node());
  EXPECT_EQ(TakeBstr(element.GetNameBstr()), u"p:item");
  EXPECT_EQ(element.GetValueBstr(), nullptr);
  EXPECT_EQ(TakeBstr(text.GetValueBstr()), u"hello");
  // A value of another type than text is no value.
  t.valueIsNumber = true;
  EXPECT_EQ(text.GetValueBstr(), nullptr);
  t.valueIsNumber = false;
  e.hasName = false;
  EXPECT_EQ(element.GetNameBstr(), nullptr);

  EXPECT_EQ(text.PutValueF(W(u"new")), 0);
  EXPECT_EQ(t.text, u"new");
  EXPECT_EQ(text.PutValueF(nullptr), 0);
  EXPECT_EQ(t.text, u"");
  t.refuseText = true;
  EXPECT_EQ(text.PutValueF(W(u"x")), -1);
}

TEST(NodeObject, AppendNode) {
  FakeNode p(NODE_ELEMENT, u"p");
  FakeNode c(NODE_ELEMENT, u"c");
  KxXMLNodeImpl parent(p.node());
  KxXMLNodeImpl child(c.node());
  KxXMLNodeImpl empty(nullptr);
  EXPECT_EQ(parent.AppendNodeF(&empty), -1);
  EXPECT_EQ(parent.AppendNodeF(nullptr), -1);
  p.refuseChildren = true;
  EXPECT_EQ(parent.AppendNodeF(&child), -1);
  EXPECT_TRUE(p.children.empty());
  p.refuseChildren = false;
  EXPECT_EQ(parent.AppendNodeF(&child), 0);
  ASSERT_EQ(p.children.size(), 1u);
  // The returned node reference and the call's own are both given back.
  EXPECT_EQ(c.refs, 2u);
  EXPECT_EQ(p.refs, 2u);
}

TEST(NodeObject, WalkOverElementChildren) {
  FakeNode root(NODE_ELEMENT, u"root");
  FakeNode comment(NODE_COMMENT, u"#comment", u"c");
  FakeNode a(NODE_ELEMENT, u"a");
  FakeNode text(NODE_TEXT, u"#text", u"t");
  FakeNode pi(NODE_PROCESSING_INSTRUCTION, u"pi");
  FakeNode b(NODE_ELEMENT, u"b");
  for (FakeNode* n : {&comment, &a, &text, &pi, &b}) root.Append(n);
  KxXMLNodeImpl node(root.node());

  std::unique_ptr<KxXMLNode> first(node.GetNextChildNodePo(nullptr));
  ASSERT_TRUE(first);
  EXPECT_EQ(TakeBstr(first->GetNameBstr()), u"a");
  std::unique_ptr<KxXMLNode> second(node.GetNextChildNodePo(first.get()));
  ASSERT_TRUE(second);
  EXPECT_EQ(TakeBstr(second->GetNameBstr()), u"b");
  EXPECT_EQ(node.GetNextChildNodePo(second.get()), nullptr);
  // A previous node object without DOM node starts from the first child.
  KxXMLNodeImpl empty(nullptr);
  std::unique_ptr<KxXMLNode> again(node.GetNextChildNodePo(&empty));
  ASSERT_TRUE(again);
  EXPECT_EQ(TakeBstr(again->GetNameBstr()), u"a");
  again.reset();
  first.reset();
  second.reset();
  EXPECT_EQ(root.refs, 2u);
  for (FakeNode* n : {&comment, &a, &text, &pi, &b}) EXPECT_EQ(n->refs, 1u);

  // A node whose type cannot be read is passed over.
  a.typeFails = true;
  std::unique_ptr<KxXMLNode> skipped(node.GetNextChildNodePo(nullptr));
  ASSERT_TRUE(skipped);
  EXPECT_EQ(TakeBstr(skipped->GetNameBstr()), u"b");
  skipped.reset();
  a.typeFails = false;

  // A failing sibling step ends the walk; every reference taken is back.
  comment.nextSiblingFails = true;
  EXPECT_EQ(node.GetNextChildNodePo(nullptr), nullptr);
  comment.nextSiblingFails = false;
  root.firstChildFails = true;
  EXPECT_EQ(node.GetNextChildNodePo(nullptr), nullptr);
  root.firstChildFails = false;
  EXPECT_EQ(root.refs, 2u);
  for (FakeNode* n : {&comment, &a, &text, &pi, &b}) EXPECT_EQ(n->refs, 1u);

  // A previous node that is not a child of this node: its own siblings.
  FakeNode other(NODE_ELEMENT, u"other");
  FakeNode x(NODE_ELEMENT, u"x");
  FakeNode y(NODE_COMMENT, u"#comment");
  FakeNode z(NODE_ELEMENT, u"z");
  for (FakeNode* n : {&x, &y, &z}) other.Append(n);
  KxXMLNodeImpl foreign(x.node());
  std::unique_ptr<KxXMLNode> sibling(node.GetNextChildNodePo(&foreign));
  ASSERT_TRUE(sibling);
  EXPECT_EQ(TakeBstr(sibling->GetNameBstr()), u"z");

  // Only text and comments: nothing; no children: nothing.
  FakeNode flat(NODE_ELEMENT, u"flat");
  FakeNode t1(NODE_TEXT, u"#text", u"1");
  FakeNode c1(NODE_COMMENT, u"#comment", u"2");
  flat.Append(&t1);
  flat.Append(&c1);
  KxXMLNodeImpl flatNode(flat.node());
  EXPECT_EQ(flatNode.GetNextChildNodePo(nullptr), nullptr);
  FakeNode leaf(NODE_ELEMENT, u"leaf");
  KxXMLNodeImpl leafNode(leaf.node());
  EXPECT_EQ(leafNode.GetNextChildNodePo(nullptr), nullptr);
}

TEST(NodeNames, ExtractIsThisAndTagName) {
  FakeNode e(NODE_ELEMENT, u"xs:element  ");
  e.name = u"xs:element";
  KxXMLNodeImpl node(e.node());
  char buffer[16];

  std::strcpy(buffer, "untouched");
  EXPECT_EQ(node.ExtractNameF(C("XS:"), buffer, 8), 0);
  EXPECT_STREQ(buffer, "element");
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(node.ExtractNameF(C("XS:"), buffer, 7), 30);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(node.ExtractNameF(C("xsd:"), buffer, sizeof buffer), 30);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(node.ExtractNameF(C(""), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "xs:element");
  EXPECT_EQ(node.ExtractNameF(nullptr, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "xs:element");
  // A leading text longer than the name.
  EXPECT_EQ(node.ExtractNameF(C("xs:elementary"), buffer, sizeof buffer), 30);

  node.GetTagNameV(buffer, 6);
  EXPECT_STREQ(buffer, "xs:el");
  node.GetTagNameV(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "xs:element");

  FakeNode t(NODE_ELEMENT, u"MyTable");
  KxXMLNodeImpl table(t.node());
  EXPECT_TRUE(table.IsThisNameB(C(""), C("My Table")));
  EXPECT_TRUE(table.IsThisNameB(C(""), C("MYTABLE   ")));
  EXPECT_TRUE(table.IsThisNameB(nullptr, C("mytable")));
  EXPECT_FALSE(table.IsThisNameB(C(""), C("MyTabl")));
  EXPECT_FALSE(table.IsThisNameB(C("x:"), C("MyTable")));
  EXPECT_FALSE(table.IsThisNameB(C(""), nullptr));
  FakeNode t2(NODE_ELEMENT, u"MyTable2");
  KxXMLNodeImpl table2(t2.node());
  EXPECT_FALSE(table2.IsThisNameB(C(""), C("MyTable")));
  EXPECT_TRUE(node.IsThisNameB(C("XS:"), C("Element")));

  // Trailing blanks of the DOM's name are dropped from the rest.
  FakeNode padded(NODE_ELEMENT, u"p:name  ");
  KxXMLNodeImpl paddedNode(padded.node());
  EXPECT_EQ(paddedNode.ExtractNameF(C("P:"), buffer, 5), 0);
  EXPECT_STREQ(buffer, "name");

  // Non-ASCII names convert whole, even where a unit takes three bytes.
  FakeNode cjk(NODE_ELEMENT, u"\u65e5\u672c:\u8a9e");
  KxXMLNodeImpl cjkNode(cjk.node());
  const std::string rest = dom_test::Narrow(u"\u8a9e");
  EXPECT_EQ(cjkNode.ExtractNameF(const_cast<char*>(dom_test::Narrow(u"\u65e5\u672c:").c_str()), buffer,
                                 sizeof buffer),
            0);
  EXPECT_EQ(buffer, rest);
  cjkNode.GetTagNameV(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), dom_test::Narrow(u"\u65e5\u672c:\u8a9e"));
}

TEST(NodeValues, FirstTextChildAsNarrowText) {
  FakeNode e(NODE_ELEMENT, u"e");
  FakeNode comment(NODE_COMMENT, u"#comment", u"no");
  FakeNode text(NODE_TEXT, u"#text", u"hello");
  FakeNode child(NODE_ELEMENT, u"child");
  FakeNode more(NODE_TEXT, u"#text", u"more");
  for (FakeNode* n : {&comment, &text, &child, &more}) e.Append(n);
  KxXMLNodeImpl node(e.node());

  char buffer[16];
  EXPECT_EQ(node.GetValuePsz(buffer, 6), buffer);
  EXPECT_STREQ(buffer, "hello");

  // Does not fit: a new narrow copy, the buffer left empty.
  char* copy = node.GetValuePsz(buffer, 5);
  ASSERT_NE(copy, buffer);
  EXPECT_STREQ(copy, "hello");
  EXPECT_STREQ(buffer, "");
  MemFreeF(copy);
  // A size of 0 always takes the allocating path.
  copy = node.GetValuePsz(buffer, 0);
  ASSERT_NE(copy, buffer);
  EXPECT_STREQ(copy, "hello");
  MemFreeF(copy);

  // The text's value is not text: empty.
  text.valueIsNumber = true;
  std::strcpy(buffer, "x");
  EXPECT_EQ(node.GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");
  text.valueIsNumber = false;

  // No text child at all, or only a CDATA section: empty.
  FakeNode bare(NODE_ELEMENT, u"bare");
  FakeNode cdata(NODE_CDATA_SECTION, u"#cdata-section", u"c");
  KxXMLNodeImpl bareNode(bare.node());
  std::strcpy(buffer, "x");
  EXPECT_EQ(bareNode.GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");
  bare.Append(&cdata);
  std::strcpy(buffer, "x");
  EXPECT_EQ(bareNode.GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");

  // A text node has no children.
  KxXMLNodeImpl textNode(text.node());
  EXPECT_EQ(textNode.GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");

  // The fit test counts UTF-16 units; a narrow form that is longer is cut
  // on a character boundary.
  FakeNode accents(NODE_ELEMENT, u"a");
  FakeNode accented(NODE_TEXT, u"#text", u"h\u00e9llo");
  accents.Append(&accented);
  KxXMLNodeImpl accentsNode(accents.node());
  EXPECT_EQ(accentsNode.GetValuePsz(buffer, 6), buffer);
  EXPECT_EQ(std::string(buffer), dom_test::Narrow(u"h\u00e9ll"));
  EXPECT_EQ(accentsNode.GetValuePsz(buffer, 7), buffer);
  EXPECT_EQ(std::string(buffer), dom_test::Narrow(u"h\u00e9llo"));

  // Only the node objects of this test hold references now.
  for (FakeNode* n : {&e, &text, &bare}) EXPECT_EQ(n->refs, 2u);
  for (FakeNode* n : {&comment, &child, &more, &cdata}) EXPECT_EQ(n->refs, 1u);
}

TEST(NodeNames, FindChildNodeLeavesNothingBehind) {
  FakeNode root(NODE_ELEMENT, u"root");
  FakeNode a(NODE_ELEMENT, u"a");
  FakeNode t(NODE_TEXT, u"#text", u"b");
  FakeNode b1(NODE_ELEMENT, u"x:b");
  FakeNode b2(NODE_ELEMENT, u"x:b");
  for (FakeNode* n : {&a, &t, &b1, &b2}) root.Append(n);
  KxXMLNodeImpl node(root.node());

  std::unique_ptr<KxXMLNode> found(node.FindChildNodePo(C("X:"), C("B")));
  ASSERT_TRUE(found);
  IXMLDOMNode* dom = static_cast<KxXMLNodeImpl*>(found.get())->GetInterfaceP();
  EXPECT_EQ(dom, b1.node());
  dom->Release();
  found.reset();
  EXPECT_EQ(node.FindChildNodePo(C(""), C("c")), nullptr);
  EXPECT_EQ(node.FindChildNodePo(C(""), C("b")), nullptr);
  EXPECT_EQ(root.refs, 2u);
  for (FakeNode* n : {&a, &t, &b1, &b2}) EXPECT_EQ(n->refs, 1u);
}

TEST(NodeAttributes, ReadAsTextAndNumber) {
  FakeNode e(NODE_ELEMENT, u"e");
  e.attributes = {{u"size", u"12  "},
                  {u"count", u"12"},
                  {u"neg", u"-2147483648"},
                  {u"big", u"2147483648"},
                  {u"word", u"abc"},
                  {u"empty", u""},
                  {u"long", u"abcdefghij"},
                  {u"\u00e9", u"\u00e9t\u00e9"}};
  KxXMLNodeImpl node(e.node());
  char buffer[16];
  int number = -77;

  EXPECT_EQ(node.GetAttributeF(C("size"), buffer, 16), 0);
  EXPECT_STREQ(buffer, "12");
  EXPECT_EQ(node.GetAttributeF(C("count"), &number), 0);
  EXPECT_EQ(number, 12);
  EXPECT_EQ(node.GetAttributeF(C("neg"), &number), 0);
  EXPECT_EQ(number, INT32_MIN);

  // Not there, not a number, out of range, empty: 30 and nothing written.
  std::strcpy(buffer, "keep");
  number = -77;
  for (const char* name : {"missing", "big", "word", "empty"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(node.GetAttributeF(C(name), &number), 30);
    EXPECT_EQ(number, -77);
  }
  EXPECT_EQ(node.GetAttributeF(C("missing"), buffer, sizeof buffer), 30);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(node.GetAttributeF(nullptr, buffer, sizeof buffer), 30);
  EXPECT_EQ(node.GetAttributeF(C("empty"), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");

  EXPECT_EQ(node.GetAttributeF(C("long"), buffer, 5), 0);
  EXPECT_STREQ(buffer, "abcd");
  const std::string accented = dom_test::Narrow(u"\u00e9");
  EXPECT_EQ(node.GetAttributeF(const_cast<char*>(accented.c_str()), buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), dom_test::Narrow(u"\u00e9t\u00e9"));

  // The DOM failing: 30.
  e.getAttributeFails = true;
  std::strcpy(buffer, "keep");
  EXPECT_EQ(node.GetAttributeF(C("size"), buffer, sizeof buffer), 30);
  EXPECT_EQ(node.GetAttributeF(C("count"), &number), 30);
  EXPECT_STREQ(buffer, "keep");
  e.getAttributeFails = false;

  // Not an element: 30 for reading, -1 for setting.
  FakeNode t(NODE_TEXT, u"#text", u"t");
  KxXMLNodeImpl text(t.node());
  EXPECT_EQ(text.GetAttributeF(C("size"), buffer, sizeof buffer), 30);
  EXPECT_EQ(text.GetAttributeF(C("size"), &number), 30);
  EXPECT_EQ(text.AppendAttributeF(C("id"), 1), -1);
  EXPECT_EQ(text.AppendAttributeF(C("id"), C("v")), -1);
  EXPECT_EQ(e.refs, 2u);
  EXPECT_EQ(t.refs, 2u);
}

TEST(NodeAttributes, SetFromTextAndNumber) {
  FakeNode e(NODE_ELEMENT, u"e");
  KxXMLNodeImpl node(e.node());
  EXPECT_EQ(node.AppendAttributeF(C("id"), -5), 0);
  EXPECT_EQ(e.lastSetType, VT_I4);
  ASSERT_EQ(e.attributes.size(), 1u);
  EXPECT_EQ(e.attributes[0].second, u"-5");
  EXPECT_EQ(node.AppendAttributeF(C("id"), 7), 0);
  EXPECT_EQ(e.attributes[0].second, u"7");
  EXPECT_EQ(node.AppendAttributeF(C("name"), C("value")), 0);
  EXPECT_EQ(e.lastSetType, VT_BSTR);
  BSTR value = SysAllocString(u"wide");
  EXPECT_EQ(node.AppendAttributeF(W(u"w"), value), 0);
  SysFreeString(value);
  EXPECT_EQ(node.AppendAttributeF(W(u"n"), 42), 0);
  ASSERT_EQ(e.attributes.size(), 4u);
  EXPECT_EQ(e.attributes[2].second, u"wide");
  EXPECT_EQ(e.attributes[3].second, u"42");
  EXPECT_EQ(e.refs, 2u);
}

TEST(NodeAttributes, RefusalRaisesComErrorWithErrorInfo) {
  FakeNode e(NODE_ELEMENT, u"e");
  e.attributes = {{u"keep", u"1"}};
  KxXMLNodeImpl node(e.node());
  e.setAttributeResult = E_INVALIDARG;
  e.errorText = u"bad name";
  try {
    node.AppendAttributeF(C("a b"), C("v"));
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_INVALIDARG);
    ASSERT_NE(error.ErrorInfo(), nullptr);
    EXPECT_EQ(error.Description(), u"bad name");
  }
  EXPECT_EQ(e.askedErrorInfoFor, IID_IXMLDOMElement);
  // The number form raises through the wide form too.
  try {
    node.AppendAttributeF(C("a b"), 3);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_INVALIDARG);
    EXPECT_NE(error.ErrorInfo(), nullptr);
  }
  // Any success from InterfaceSupportsErrorInfo is enough for elements.
  e.supportsErrorInfo = S_FALSE;
  try {
    node.AppendAttributeF(W(u"x y"), 3);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_NE(error.ErrorInfo(), nullptr);
  }
  // An element that does not report error information: none carried.
  e.supportsErrorInfo = E_NOINTERFACE;
  try {
    node.AppendAttributeF(W(u"x y"), 3);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_INVALIDARG);
    EXPECT_EQ(error.ErrorInfo(), nullptr);
  }
  ClearErrorInfo();
  e.offersErrorInfo = false;
  try {
    node.AppendAttributeF(W(u"x y"), 3);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.ErrorInfo(), nullptr);
  }
  ClearErrorInfo();
  // The element keeps what it had, and no reference is left behind.
  ASSERT_EQ(e.attributes.size(), 1u);
  EXPECT_EQ(e.attributes[0].second, u"1");
  EXPECT_EQ(e.refs, 2u);
}

namespace {

// Records which wide form the narrow forms reach through the table.
class RecordingNode : public KxXMLNodeImpl {
 public:
  explicit RecordingNode(IXMLDOMNode* node) : KxXMLNodeImpl(node) {}
  int AppendAttributeF(WCHAR* name, int value) override {
    calls.push_back(u"number " + std::u16string(name ? name : u"<null>") + u"=" +
                    (value < 0 ? u"-" : u"") + static_cast<char16_t>(u'0' + (value < 0 ? -value : value)));
    return 11;
  }
  int AppendAttributeF(WCHAR* name, WCHAR* value) override {
    calls.push_back(u"text " + std::u16string(name ? name : u"<null>") + u"=" +
                    std::u16string(value ? value : u"<null>") +
                    (!value || SysStringLen(value) == std::char_traits<char16_t>::length(value) ? u"" : u"!"));
    return 12;
  }
  int ExtractNameF(char*, char* buffer, unsigned int size) override {
    ++extracts;
    return strcpy_s(buffer, size, "Picked") == 0 ? 0 : 30;
  }
  using KxXMLNodeImpl::AppendAttributeF;
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
  const std::vector<std::u16string> expected = {u"number id=5", u"number id=-3", u"text n=v",
                                                u"text n=<null>", u"text <null>=v"};
  EXPECT_EQ(node.calls, expected);
  EXPECT_TRUE(e.attributes.empty());
  // IsThisNameB reaches ExtractNameF through the table as well.
  EXPECT_TRUE(base->IsThisNameB(C(""), C("picked")));
  EXPECT_EQ(node.extracts, 1);
}
