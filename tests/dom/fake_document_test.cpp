// The document object over a DOM document class of the test's own,
// registered under CLSID_DOMDocument in a binary without the real DOM: the
// exact calls the document object makes (node types, names, namespace URIs,
// the declaration's data, the reference child), their failures, and the
// reference counts left behind.
#include <gtest/gtest.h>

#include <memory>

#include "fakes.h"
#include "twxml/twxml.h"

using dom_test::FakeIStream;
using dom_test::FakeKxStream;
using dom_test::FakeNode;

namespace {

char* C(const char* text) { return const_cast<char*>(text); }
WCHAR* W(const char16_t* text) { return const_cast<WCHAR*>(text); }
std::u16string Show(const WCHAR* text) { return text ? std::u16string(text) : u"<null>"; }

class FakeDocument;
FakeDocument* g_document = nullptr;
bool g_refuseDocument = false;

class FakeDocument : public IXMLDOMDocument, public ISupportErrorInfo {
 public:
  virtual ~FakeDocument() = default;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IXMLDOMNode || iid == IID_IXMLDOMDocument) {
      *out = static_cast<IXMLDOMDocument*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    const ULONG left = --refs;
    if (left == 0) {
      if (g_document == this) g_document = nullptr;
      delete this;
    }
    return left;
  }
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IXMLDOMDocument ? supportsErrorInfo : S_FALSE;
  }

  // The calls the document object makes.
  HRESULT createNode(VARIANT type, BSTR name, BSTR uri, IXMLDOMNode** out) override {
    *out = nullptr;
    calls.push_back(u"create " + std::u16string(1, static_cast<char16_t>(u'0' + type.lVal)) +
                    (type.vt == VT_I4 ? u"" : u"?") + u" " + Show(name) + u" " + Show(uri));
    if (refuseNodes || (name && std::u16string(name) == u"bad")) return E_INVALIDARG;
    made.push_back(std::make_unique<FakeNode>(static_cast<DOMNodeType>(type.lVal),
                                              name ? name : u"#node"));
    made.back()->refuseText = refuseText;
    *out = made.back()->node();
    (*out)->AddRef();
    return S_OK;
  }
  HRESULT createProcessingInstruction(BSTR target, BSTR data,
                                      IXMLDOMProcessingInstruction**) override {
    calls.push_back(u"pi " + Show(target) + u" " + Show(data));
    // No processing instruction face among the fakes: refused after recording.
    return refusePi ? E_FAIL : E_NOTIMPL;
  }
  HRESULT get_documentElement(IXMLDOMElement** out) override {
    *out = nullptr;
    if (rootFails) return E_FAIL;
    if (!root) return S_FALSE;
    *out = root;
    root->AddRef();
    return S_OK;
  }
  HRESULT putref_documentElement(IXMLDOMElement* element) override {
    if (refuseRoot) return E_FAIL;
    root = element;
    return S_OK;
  }
  HRESULT load(VARIANT source, VARIANT_BOOL* success) override {
    *success = VARIANT_FALSE;
    IPersistStream* persist = nullptr;
    if (source.vt != VT_UNKNOWN ||
        FAILED(source.punkVal->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist))))
      return E_INVALIDARG;
    FakeIStream sink;
    const HRESULT hr = persist->Save(&sink, TRUE);
    persist->Release();
    loaded = sink.data;
    if (loadResult != S_OK) return loadResult;
    *success = SUCCEEDED(hr) && loadSucceeds ? VARIANT_TRUE : VARIANT_FALSE;
    return *success ? S_OK : S_FALSE;
  }
  HRESULT save(VARIANT destination) override {
    IPersistStream* persist = nullptr;
    if (destination.vt != VT_UNKNOWN ||
        FAILED(destination.punkVal->QueryInterface(IID_IPersistStream,
                                                   reinterpret_cast<void**>(&persist))))
      return E_INVALIDARG;
    FakeIStream source(saved);
    HRESULT hr = persist->Load(&source);
    persist->Release();
    if (SUCCEEDED(hr) && saveResult != S_OK) hr = saveResult;
    if (FAILED(hr)) {
      auto* info = new dom_test::FakeErrorInfo(u"cannot save");
      SetErrorInfo(0, info);
      info->Release();
    }
    return hr;
  }
  HRESULT get_firstChild(IXMLDOMNode** out) override {
    *out = nullptr;
    return E_FAIL;
  }

  // Everything else is not asked for.
  HRESULT get_nodeName(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_nodeValue(VARIANT*) override { return E_NOTIMPL; }
  HRESULT put_nodeValue(VARIANT) override { return E_NOTIMPL; }
  HRESULT get_nodeType(DOMNodeType*) override { return E_NOTIMPL; }
  HRESULT get_parentNode(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_childNodes(IXMLDOMNodeList**) override { return E_NOTIMPL; }
  HRESULT get_lastChild(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_previousSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_nextSibling(IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_attributes(IXMLDOMNamedNodeMap**) override { return E_NOTIMPL; }
  HRESULT insertBefore(IXMLDOMNode*, VARIANT, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT replaceChild(IXMLDOMNode*, IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT removeChild(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT appendChild(IXMLDOMNode*, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT hasChildNodes(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT get_ownerDocument(IXMLDOMDocument**) override { return E_NOTIMPL; }
  HRESULT cloneNode(VARIANT_BOOL, IXMLDOMNode**) override { return E_NOTIMPL; }
  HRESULT get_nodeTypeString(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_text(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_text(BSTR) override { return E_NOTIMPL; }
  HRESULT get_xml(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_namespaceURI(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_prefix(BSTR*) override { return E_NOTIMPL; }
  HRESULT get_baseName(BSTR*) override { return E_NOTIMPL; }
  HRESULT createElement(BSTR, IXMLDOMElement**) override { return E_NOTIMPL; }
  HRESULT createTextNode(BSTR, IXMLDOMText**) override { return E_NOTIMPL; }
  HRESULT createComment(BSTR, IXMLDOMComment**) override { return E_NOTIMPL; }
  HRESULT createCDATASection(BSTR, IXMLDOMCDATASection**) override { return E_NOTIMPL; }
  HRESULT createAttribute(BSTR, IXMLDOMAttribute**) override { return E_NOTIMPL; }
  HRESULT loadXML(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT get_parseError(IXMLDOMParseError**) override { return E_NOTIMPL; }
  HRESULT get_async(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_async(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT get_preserveWhiteSpace(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT put_preserveWhiteSpace(VARIANT_BOOL) override { return E_NOTIMPL; }

  ULONG refs = 1;
  std::vector<std::u16string> calls;
  std::vector<std::unique_ptr<FakeNode>> made;
  IXMLDOMElement* root = nullptr;
  std::string loaded;
  std::string saved;
  bool refuseNodes = false;
  bool refuseText = false;
  bool refusePi = false;
  bool rootFails = false;
  bool refuseRoot = false;
  bool loadSucceeds = true;
  HRESULT loadResult = S_OK;
  HRESULT saveResult = S_OK;
  HRESULT supportsErrorInfo = S_OK;
};

HRESULT MakeFakeDocument(IUnknown* outer, REFIID iid, void** out) {
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (g_refuseDocument) return E_NOINTERFACE;
  auto* document = new FakeDocument();
  const HRESULT hr = document->QueryInterface(iid, out);
  document->Release();
  if (SUCCEEDED(hr)) g_document = document;
  return hr;
}

class FakeDomDocument : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(TwRegisterClass(CLSID_DOMDocument, &MakeFakeDocument), S_OK);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    g_refuseDocument = false;
    parser.reset(XmlGetParserP());
    ASSERT_TRUE(parser);
    ASSERT_NE(g_document, nullptr);
    fake = g_document;
    // Keeps the fake alive past the document object for the final checks.
    fake->AddRef();
  }
  void TearDown() override {
    parser.reset();
    if (fake) {
      EXPECT_EQ(fake->refs, 1u);
      for (auto& node : fake->made) EXPECT_EQ(node->refs, 1u);
      fake->Release();
    }
    CoUninitialize();
  }
  std::unique_ptr<KxXMLParser> parser;
  FakeDocument* fake = nullptr;
};

}  // namespace

TEST_F(FakeDomDocument, TheFactoryHandsOutOnlyUsableDocuments) {
  g_refuseDocument = true;
  EXPECT_EQ(XmlGetParserP(), nullptr);
  KxXMLParserImpl direct;
  EXPECT_FALSE(direct.IsValidB());
  g_refuseDocument = false;
  // Independent objects, each over a document of its own.
  std::unique_ptr<KxXMLParser> other(XmlGetParserP());
  ASSERT_TRUE(other);
  EXPECT_NE(g_document, fake);
}

TEST_F(FakeDomDocument, ElementsJoinTheRememberedNamespace) {
  struct Step {
    const char* name;
    const char* uri;
    bool made;
    const char16_t* call;
  } steps[] = {
      {"a", "urn:u", true, u"create 1 a urn:u"},
      {"b", nullptr, true, u"create 1 b urn:u"},
      {"p:item", nullptr, true, u"create 1 p:item <null>"},
      {"c", nullptr, true, u"create 1 c urn:u"},
      {"bad", "urn:v", false, u"create 1 bad urn:v"},
      {"c2", nullptr, true, u"create 1 c2 urn:u"},
      {"my item!", nullptr, true, u"create 1 myitem urn:u"},
      {"q :x", nullptr, true, u"create 1 q:x <null>"},
      {"d", "", true, u"create 1 d "},
      {"e", nullptr, true, u"create 1 e "},
      {"p:f", "urn:p", true, u"create 1 p:f urn:p"},
      {"g", nullptr, true, u"create 1 g "},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    std::unique_ptr<KxXMLNode> node(parser->CreateElementP(C(step.name), C(step.uri)));
    EXPECT_EQ(node != nullptr, step.made);
    EXPECT_EQ(fake->calls.back(), step.call);
  }
  // The node type of the non-virtual form goes through unchanged, and the
  // namespace rule applies to it too.
  auto* impl = static_cast<KxXMLParserImpl*>(parser.get());
  std::unique_ptr<KxXMLNode> typed(impl->CreateElementP(7, W(u"t"), W(u"urn:t")));
  EXPECT_EQ(fake->calls.back(), u"create 7 t urn:t");
  std::unique_ptr<KxXMLNode> after(parser->CreateElementP(W(u"h"), nullptr));
  EXPECT_EQ(fake->calls.back(), u"create 1 h urn:t");
}

TEST_F(FakeDomDocument, TextAndCommentNodes) {
  std::unique_ptr<KxXMLNode> text(parser->CreateTextP(C("hello")));
  ASSERT_TRUE(text);
  EXPECT_EQ(fake->calls.back(), u"create 3 <null> <null>");
  EXPECT_EQ(fake->made.back()->text, u"hello");
  std::unique_ptr<KxXMLNode> comment(parser->CreateCommentP(W(u"note")));
  EXPECT_EQ(fake->calls.back(), u"create 8 <null> <null>");
  EXPECT_EQ(fake->made.back()->text, u"note");
  std::unique_ptr<KxXMLNode> empty(parser->CreateTextP(static_cast<WCHAR*>(nullptr)));
  ASSERT_TRUE(empty);
  EXPECT_EQ(fake->made.back()->text, u"");
  // Setting the text fails: null, and the new node is let go.
  fake->refuseText = true;
  EXPECT_EQ(parser->CreateTextP(C("x")), nullptr);
  EXPECT_EQ(fake->made.back()->refs, 1u);
  EXPECT_EQ(parser->CreateCommentP(C("x")), nullptr);
  fake->refuseText = false;
  fake->refuseNodes = true;
  EXPECT_EQ(parser->CreateTextP(C("x")), nullptr);
  FakeNode p(NODE_ELEMENT, u"p");
  KxXMLNodeImpl parent(p.node());
  EXPECT_EQ(parser->AppendTextF(&parent, C("x")), -1);
  EXPECT_EQ(parser->AppendElementF(&parent, C("e"), nullptr), -1);
  EXPECT_TRUE(p.children.empty());
}

TEST_F(FakeDomDocument, DeclarationData) {
  // The fake refuses the instruction after recording what it was asked.
  EXPECT_EQ(parser->SetEncodingF(nullptr), -1);
  EXPECT_EQ(fake->calls.back(), u"pi xml version='1.0' encoding='UTF-8'");
  EXPECT_EQ(parser->SetEncodingF(C("iso-8859-1")), -1);
  EXPECT_EQ(fake->calls.back(), u"pi xml version='1.0' encoding='iso-8859-1'");
  const std::string longName(300, 'X');
  EXPECT_EQ(parser->SetEncodingF(C(longName.c_str())), -1);
  EXPECT_EQ(fake->calls.back(),
            u"pi xml version='1.0' encoding='" + std::u16string(300, u'X') + u"'");
}

TEST_F(FakeDomDocument, RootElement) {
  EXPECT_EQ(parser->GetRootElementP(), nullptr);
  FakeNode e(NODE_ELEMENT, u"top");
  FakeNode t(NODE_TEXT, u"#text", u"t");
  KxXMLNodeImpl element(e.node());
  KxXMLNodeImpl text(t.node());
  EXPECT_EQ(parser->PutRootElementF(&text), -1);
  fake->refuseRoot = true;
  EXPECT_EQ(parser->PutRootElementF(&element), -1);
  fake->refuseRoot = false;
  EXPECT_EQ(parser->PutRootElementF(&element), 0);
  std::unique_ptr<KxXMLNode> root(parser->GetRootElementP());
  ASSERT_TRUE(root);
  BSTR name = root->GetNameBstr();
  EXPECT_EQ(Show(name), u"top");
  SysFreeString(name);
  fake->rootFails = true;
  EXPECT_EQ(parser->GetRootElementP(), nullptr);
  fake->rootFails = false;
  root.reset();
  fake->root = nullptr;
  EXPECT_EQ(e.refs, 2u);
  EXPECT_EQ(t.refs, 2u);
}

TEST_F(FakeDomDocument, LoadPullsTheStreamThroughTheAdapter) {
  const std::string bytes = std::string(2500, 'x');
  FakeKxStream good(bytes);
  EXPECT_EQ(parser->LoadFromStreamF(&good), 0);
  EXPECT_EQ(fake->loaded, bytes);
  EXPECT_EQ(good.readSizes, (std::vector<unsigned int>{1024, 1024, 452}));
  fake->loadSucceeds = false;
  FakeKxStream rejected(bytes);
  EXPECT_EQ(parser->LoadFromStreamF(&rejected), 12);
  fake->loadSucceeds = true;
  fake->loadResult = E_OUTOFMEMORY;
  FakeKxStream failing(bytes);
  EXPECT_EQ(parser->LoadFromStreamF(&failing), 12);
}

TEST_F(FakeDomDocument, SaveRaisesWithErrorInformationOnlyWhenTheDocumentReportsIt) {
  fake->saved = std::string(1500, 's');
  FakeKxStream out;
  EXPECT_NO_THROW(parser->SaveToStreamV(&out));
  EXPECT_EQ(out.data, fake->saved);
  EXPECT_EQ(out.writeSizes, (std::vector<unsigned int>{1024, 476}));

  fake->saveResult = E_ACCESSDENIED;
  FakeKxStream again;
  try {
    parser->SaveToStreamV(&again);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_ACCESSDENIED);
    ASSERT_NE(error.ErrorInfo(), nullptr);
    EXPECT_EQ(error.Description(), u"cannot save");
  }
  // Anything but S_OK from InterfaceSupportsErrorInfo: no information.
  fake->supportsErrorInfo = S_FALSE;
  try {
    parser->SaveToStreamV(&again);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_ACCESSDENIED);
    EXPECT_EQ(error.ErrorInfo(), nullptr);
  }
  IErrorInfo* left = nullptr;
  GetErrorInfo(0, &left);
  if (left) left->Release();
  // A stream that refuses bytes: the adapter's E_FAIL reaches the caller.
  fake->saveResult = S_OK;
  fake->supportsErrorInfo = S_OK;
  FakeKxStream refusing;
  refusing.failWriteAt = 1;
  try {
    parser->SaveToStreamV(&refusing);
    FAIL() << "no exception";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), E_FAIL);
    EXPECT_NE(error.ErrorInfo(), nullptr);
  }
}
