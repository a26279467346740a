// The document and node objects over a DOM of the test's own that fails
// where the real one never does (registered in a binary without the real
// DOM): each failure has its documented answer, error information goes
// with a refusal only as its object reports it, and every reference taken
// is given back.
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"

using namespace dom_test;

namespace {

// A DOM document that makes fake nodes and refuses everything else: its
// root, loading, saving (with error information).
class FakeDocument : public DocumentStub, public ISupportErrorInfo {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IXMLDOMNode || iid == IID_IXMLDOMDocument)
      *out = static_cast<IXMLDOMDocument*>(this);
    else if (iid == IID_ISupportErrorInfo)
      *out = static_cast<ISupportErrorInfo*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    const ULONG left = --refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IXMLDOMDocument ? supportsErrorInfo : S_FALSE;
  }
  HRESULT createNode(VARIANT type, BSTR, BSTR, IXMLDOMNode** out) override {
    made.push_back(std::make_unique<FakeNode>(static_cast<DOMNodeType>(type.lVal), u"#node"));
    (*out = made.back()->node())->AddRef();
    return S_OK;
  }
  HRESULT get_documentElement(IXMLDOMElement** out) override { return *out = nullptr, E_FAIL; }
  HRESULT putref_documentElement(IXMLDOMElement*) override { return E_FAIL; }
  HRESULT load(VARIANT, VARIANT_BOOL* success) override { return *success = VARIANT_FALSE, E_OUTOFMEMORY; }
  HRESULT save(VARIANT) override { return SetError(u"cannot save"), E_ACCESSDENIED; }

  ULONG refs = 1;
  std::vector<std::unique_ptr<FakeNode>> made;
  HRESULT supportsErrorInfo = S_OK;
};

FakeDocument* g_document = nullptr;

HRESULT MakeFakeDocument(IUnknown*, REFIID iid, void** out) {
  g_document = new FakeDocument();
  const HRESULT hr = g_document->QueryInterface(iid, out);
  g_document->Release();
  return hr;
}

// Runs f, which must raise code; says whether error information came along.
template <class F>
bool Raises(F f, HRESULT code) {
  bool info = false;
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), code);
    info = error.ErrorInfo() != nullptr;
  }
  ClearErrorInfo();
  return info;
}

}  // namespace

TEST(InjectedFailures, DocumentObject) {
  ASSERT_EQ(TwRegisterClass(CLSID_DOMDocument, &MakeFakeDocument), S_OK);
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  std::unique_ptr<KxXMLParser> parser(XmlGetParserP());
  ASSERT_TRUE(parser);
  FakeDocument* fake = g_document;
  fake->AddRef();  // alive past the document object for the final checks
  EXPECT_EQ(parser->GetRootElementP(), nullptr);
  FakeNode e(NODE_ELEMENT, u"e");
  KxXMLNodeImpl element(e.node());
  EXPECT_EQ(parser->PutRootElementF(&element), -1);
  Bytes bytes("<a/>");
  EXPECT_EQ(parser->LoadFromStreamF(&bytes), 12);
  // A text or comment whose text cannot be set: null, the node let go.
  EXPECT_EQ(parser->CreateTextP(C("x")), nullptr);
  EXPECT_EQ(parser->CreateCommentP(W(u"x")), nullptr);
  ASSERT_EQ(fake->made.size(), 2u);
  // The document's refusal to save carries its error information only when
  // it answers S_OK for the document face.
  EXPECT_TRUE(Raises([&] { parser->SaveToStreamV(&bytes); }, E_ACCESSDENIED));
  fake->supportsErrorInfo = S_FALSE;
  EXPECT_FALSE(Raises([&] { parser->SaveToStreamV(&bytes); }, E_ACCESSDENIED));
  parser.reset();
  EXPECT_EQ(fake->refs, 1u);
  for (auto& node : fake->made) EXPECT_EQ(node->refs, 1u);
  EXPECT_EQ(e.refs, 2u);  // the caller's node object only
  fake->Release();
  CoUninitialize();
}

TEST(InjectedFailures, NodeObject) {
  FakeNode root(NODE_ELEMENT, u"root"), comment(NODE_COMMENT, u"#comment"), a(NODE_ELEMENT, u"a"),
      text(NODE_TEXT, u"#text"), b(NODE_ELEMENT, u"b");
  for (FakeNode* n : {&comment, &a, &text, &b}) root.Append(n);
  KxXMLNodeImpl node(root.node()), textNode(text.node());
  text.valueIsNumber = true;
  auto next = [&] {
    std::unique_ptr<KxXMLNode> found(node.GetNextChildNodePo(nullptr));
    return found ? TakeBstr(found->GetNameBstr()) : u"<none>";
  };
  // A DOM of another make is walked through its COM calls: element children
  // only, in order, each found from the one before.
  std::u16string names;
  std::unique_ptr<KxXMLNode> c(node.GetNextChildNodePo(nullptr));
  for (int i = 0; c && i < 4; ++i, c.reset(node.GetNextChildNodePo(c.get())))
    names += TakeBstr(c->GetNameBstr()) + u" ";
  c.reset();
  EXPECT_EQ(names, u"a b ");
  a.typeFails = true;  // a node whose type cannot be read is passed over
  EXPECT_EQ(next(), u"b");
  comment.nextSiblingFails = true;  // a failing step ends the walk
  EXPECT_EQ(next(), u"<none>");
  root.firstChildFails = true;
  EXPECT_EQ(next(), u"<none>");
  root.firstChildFails = false;
  comment.nextSiblingFails = false;
  // Values of another type than text are none.
  char buffer[16] = "x";
  EXPECT_EQ(textNode.GetValueBstr(), nullptr);
  EXPECT_EQ(node.GetValuePsz(buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(textNode.PutValueF(W(u"t")), -1);
  // No name: nothing to give or compare.
  root.hasName = false;
  std::strcpy(buffer, "keep");
  EXPECT_EQ(node.GetNameBstr(), nullptr);
  EXPECT_EQ(node.ExtractNameF(C(""), buffer, sizeof buffer), 30);
  EXPECT_FALSE(node.IsThisNameB(C(""), C("root")));
  EXPECT_STREQ(buffer, "keep");
  node.GetTagNameV(buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
  // Attributes the DOM cannot read: 30, nothing written.
  std::strcpy(buffer, "keep");
  int number = -77;
  EXPECT_EQ(node.GetAttributeF(C("a"), buffer, sizeof buffer), 30);
  EXPECT_EQ(node.GetAttributeF(C("a"), &number), 30);
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(number, -77);
  // A refused attribute raises the DOM's code, with the element's error
  // information whenever the element reports it for its face at all.
  const struct {
    bool offers;
    HRESULT supports;
    bool carried;
  } cases[] = {{true, S_OK, true}, {true, S_FALSE, true}, {true, E_NOINTERFACE, false}, {false, S_OK, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.offers << " " << c.supports);
    root.offersErrorInfo = c.offers;
    root.supportsErrorInfo = c.supports;
    EXPECT_EQ(Raises([&] { node.AppendAttributeF(C("a b"), C("v")); }, E_INVALIDARG), c.carried);
    EXPECT_EQ(Raises([&] { node.AppendAttributeF(C("a b"), 3); }, E_INVALIDARG), c.carried);
    EXPECT_EQ(Raises([&] { node.AppendAttributeF(W(u"x y"), MakeBstr(u"v").get()); }, E_INVALIDARG), c.carried);
  }
  // Every reference taken was given back.
  EXPECT_EQ(root.refs, 2u);
  EXPECT_EQ(text.refs, 2u);
  for (FakeNode* n : {&comment, &a, &b}) EXPECT_EQ(n->refs, 1u);
}
