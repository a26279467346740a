// The document object over a DOM document class of the test's own,
// registered under CLSID_DOMDocument in a binary without the real DOM: the
// exact calls it makes (node types, names, namespace URIs, the declaration's
// data), their failures and the references left behind. Also the object
// without any DOM document, the narrow forms reaching the wide ones through
// the table, and the module entry.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <memory>
#include <thread>

#include "fakes.h"
#include "module_entry.h"
#include "twxml/platform/com_internal.h"

using namespace dom_test;

namespace {

class FakeDocument;
FakeDocument* g_document = nullptr;
bool g_refuseDocument = false;

class FakeDocument : public NodeStub<IXMLDOMDocument>, public ISupportErrorInfo {
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
    if (left == 0) {
      if (g_document == this) g_document = nullptr;
      delete this;
    }
    return left;
  }
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IXMLDOMDocument ? supportsErrorInfo : S_FALSE;
  }

  HRESULT createNode(VARIANT type, BSTR name, BSTR uri, IXMLDOMNode** out) override {
    *out = nullptr;
    calls.push_back(u"create " + std::u16string(1, static_cast<char16_t>(u'0' + type.lVal)) +
                    (type.vt == VT_I4 ? u"" : u"?") + u" " + Show(name) + u" " + Show(uri));
    if (refuseNodes || (name && std::u16string(name) == u"bad")) return E_INVALIDARG;
    made.push_back(std::make_unique<FakeNode>(static_cast<DOMNodeType>(type.lVal), name ? name : u"#node"));
    made.back()->refuseText = refuseText;
    (*out = made.back()->node())->AddRef();
    return S_OK;
  }
  HRESULT createProcessingInstruction(BSTR target, BSTR data, IXMLDOMProcessingInstruction**) override {
    calls.push_back(u"pi " + Show(target) + u" " + Show(data));
    return E_NOTIMPL;  // no instruction face among the fakes: refused after recording
  }
  HRESULT get_documentElement(IXMLDOMElement** out) override {
    *out = nullptr;
    if (rootFails) return E_FAIL;
    if (!root) return S_FALSE;
    (*out = root)->AddRef();
    return S_OK;
  }
  HRESULT putref_documentElement(IXMLDOMElement* element) override {
    if (refuseRoot) return E_FAIL;
    root = element;
    return S_OK;
  }
  // load and save drive the adapter they are given, as a DOM would.
  HRESULT load(VARIANT source, VARIANT_BOOL* success) override {
    *success = VARIANT_FALSE;
    IPersistStream* persist = Persist(source);
    if (!persist) return E_INVALIDARG;
    Bytes sink;
    const HRESULT hr = persist->Save(&sink, TRUE);
    persist->Release();
    loaded = sink.data;
    if (loadResult != S_OK) return loadResult;
    *success = SUCCEEDED(hr) && loadSucceeds ? VARIANT_TRUE : VARIANT_FALSE;
    return *success ? S_OK : S_FALSE;
  }
  HRESULT save(VARIANT destination) override {
    IPersistStream* persist = Persist(destination);
    if (!persist) return E_INVALIDARG;
    Bytes source(saved);
    HRESULT hr = persist->Load(&source);
    persist->Release();
    if (SUCCEEDED(hr) && saveResult != S_OK) hr = saveResult;
    IErrorInfo* info = nullptr;
    if (FAILED(hr) && TwCreateErrorInfo(GUID_NULL, u"fake", u"cannot save", &info) == S_OK) {
      SetErrorInfo(0, info);
      info->Release();
    }
    return hr;
  }
  HRESULT get_firstChild(IXMLDOMNode** out) override {
    *out = nullptr;
    return E_FAIL;
  }
  DOM_TEST_NOTIMPL(createElement, BSTR, IXMLDOMElement**)
  DOM_TEST_NOTIMPL(createTextNode, BSTR, IXMLDOMText**)
  DOM_TEST_NOTIMPL(createComment, BSTR, IXMLDOMComment**)
  DOM_TEST_NOTIMPL(createCDATASection, BSTR, IXMLDOMCDATASection**)
  DOM_TEST_NOTIMPL(createAttribute, BSTR, IXMLDOMAttribute**)
  DOM_TEST_NOTIMPL(loadXML, BSTR, VARIANT_BOOL*)
  DOM_TEST_NOTIMPL(get_parseError, IXMLDOMParseError**)
  DOM_TEST_NOTIMPL(get_async, VARIANT_BOOL*)
  DOM_TEST_NOTIMPL(put_async, VARIANT_BOOL)
  DOM_TEST_NOTIMPL(get_preserveWhiteSpace, VARIANT_BOOL*)
  DOM_TEST_NOTIMPL(put_preserveWhiteSpace, VARIANT_BOOL)

  ULONG refs = 1;
  std::vector<std::u16string> calls;
  std::vector<std::unique_ptr<FakeNode>> made;
  IXMLDOMElement* root = nullptr;
  std::string loaded, saved;
  bool refuseNodes = false, refuseText = false, rootFails = false, refuseRoot = false, loadSucceeds = true;
  HRESULT loadResult = S_OK, saveResult = S_OK, supportsErrorInfo = S_OK;

 private:
  static IPersistStream* Persist(VARIANT v) {
    IPersistStream* persist = nullptr;
    if (v.vt == VT_UNKNOWN) v.punkVal->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist));
    return persist;
  }
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
    fake->AddRef();  // alive past the document object for the final checks
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
  // Runs f, which must raise; checks the code and whether information came along.
  template <class F>
  static void ExpectRaise(F f, HRESULT code, bool info) {
    try {
      f();
      ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), code);
      EXPECT_EQ(error.ErrorInfo() != nullptr, info);
      if (info) {
        EXPECT_EQ(error.Description(), u"cannot save");
      }
    }
    ClearErrorInfo();
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
  std::unique_ptr<KxXMLParser> other(XmlGetParserP());  // a document of its own
  ASSERT_TRUE(other);
  EXPECT_NE(g_document, fake);
}

TEST_F(FakeDomDocument, ElementsJoinTheRememberedNamespace) {
  const struct {
    const char* name;
    const char* uri;
    bool made;
    const char16_t* call;
  } steps[] = {
      {"a", "urn:u", true, u"create 1 a urn:u"},
      {"b", nullptr, true, u"create 1 b urn:u"},
      {"p:item", nullptr, true, u"create 1 p:item <null>"},
      {"c", nullptr, true, u"create 1 c urn:u"},
      {"bad", "urn:v", false, u"create 1 bad urn:v"},  // refused: the remembered URI stays
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
  // The node type of the non-virtual form goes through; the rule applies to it too.
  auto* impl = static_cast<KxXMLParserImpl*>(parser.get());
  std::unique_ptr<KxXMLNode> typed(impl->CreateElementP(7, W(u"t"), W(u"urn:t")));
  EXPECT_EQ(fake->calls.back(), u"create 7 t urn:t");
  std::unique_ptr<KxXMLNode> after(parser->CreateElementP(W(u"h"), nullptr));
  EXPECT_EQ(fake->calls.back(), u"create 1 h urn:t");
}

TEST_F(FakeDomDocument, TextCommentAndDeclaration) {
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

  // The declaration's data, whatever the encoding's length; the fake refuses it.
  for (const std::string& encoding : std::vector<std::string>{"", "iso-8859-1", std::string(300, 'X')}) {
    EXPECT_EQ(parser->SetEncodingF(encoding.empty() ? nullptr : C(encoding)), -1);
    const std::string expected = "pi xml version='1.0' encoding='" + (encoding.empty() ? "UTF-8" : encoding) + "'";
    EXPECT_EQ(fake->calls.back(), std::u16string(expected.begin(), expected.end()));
  }
}

TEST_F(FakeDomDocument, RootElement) {
  EXPECT_EQ(parser->GetRootElementP(), nullptr);
  FakeNode e(NODE_ELEMENT, u"top"), t(NODE_TEXT, u"#text", u"t");
  KxXMLNodeImpl element(e.node()), text(t.node());
  EXPECT_EQ(parser->PutRootElementF(&text), -1);
  fake->refuseRoot = true;
  EXPECT_EQ(parser->PutRootElementF(&element), -1);
  fake->refuseRoot = false;
  EXPECT_EQ(parser->PutRootElementF(&element), 0);
  std::unique_ptr<KxXMLNode> root(parser->GetRootElementP());
  ASSERT_TRUE(root);
  EXPECT_EQ(TakeBstr(root->GetNameBstr()), u"top");
  fake->rootFails = true;
  EXPECT_EQ(parser->GetRootElementP(), nullptr);
  root.reset();
  fake->root = nullptr;
  EXPECT_EQ(e.refs, 2u);
  EXPECT_EQ(t.refs, 2u);
}

TEST_F(FakeDomDocument, LoadAndSaveGoThroughTheAdapterInChunks) {
  const std::string bytes(2500, 'x');
  Bytes good(bytes), rejected(bytes), failing(bytes);
  EXPECT_EQ(parser->LoadFromStreamF(&good), 0);
  EXPECT_EQ(fake->loaded, bytes);
  EXPECT_EQ(good.readSizes, (std::vector<ULONG>{1024, 1024, 452}));
  fake->loadSucceeds = false;
  EXPECT_EQ(parser->LoadFromStreamF(&rejected), 12);
  fake->loadResult = E_OUTOFMEMORY;
  EXPECT_EQ(parser->LoadFromStreamF(&failing), 12);

  fake->saved = std::string(1500, 's');
  Bytes out, refusing, again;
  EXPECT_NO_THROW(parser->SaveToStreamV(&out));
  EXPECT_EQ(out.data, fake->saved);
  EXPECT_EQ(out.writeSizes, (std::vector<ULONG>{1024, 476}));
  // A stream that refuses bytes: the adapter's E_FAIL reaches the caller,
  // and what was written before the failure stays.
  refusing.failWriteAt = 2;
  ExpectRaise([&] { parser->SaveToStreamV(&refusing); }, E_FAIL, true);
  EXPECT_EQ(refusing.data.size(), 1024u);
  // The document's own failure; its information only when it reports it
  // for the document face with S_OK.
  fake->saveResult = E_ACCESSDENIED;
  ExpectRaise([&] { parser->SaveToStreamV(&again); }, E_ACCESSDENIED, true);
  fake->supportsErrorInfo = S_FALSE;
  ExpectRaise([&] { parser->SaveToStreamV(&again); }, E_ACCESSDENIED, false);
}

// ---- Without any DOM document, and through the table ---------------------

TEST(DocumentObject, WithoutDomDocumentEveryOperationFailsQuietly) {
  KxXMLParser* fromThread = reinterpret_cast<KxXMLParser*>(1);
  std::thread([&] { fromThread = XmlGetParserP(); }).join();  // no COM there
  EXPECT_EQ(fromThread, nullptr);

  KxXMLParserImpl document;  // COM is not initialised on this thread either
  EXPECT_FALSE(document.IsValidB());
  Bytes stream("<a/>");
  EXPECT_EQ(document.LoadFromStreamF(&stream), 44);
  EXPECT_NO_THROW(document.SaveToStreamV(&stream));
  EXPECT_EQ(stream.data, "<a/>");
  EXPECT_TRUE(stream.readSizes.empty() && stream.writeSizes.empty());
  EXPECT_EQ(document.GetRootElementP(), nullptr);
  EXPECT_EQ(document.SetEncodingF(nullptr), -1);
  EXPECT_EQ(document.SetEncodingF(C("UTF-8")), -1);
  FakeNode p(NODE_ELEMENT, u"p"), c(NODE_ELEMENT, u"c");
  KxXMLNodeImpl parent(p.node()), child(c.node()), empty(nullptr);
  EXPECT_EQ(document.PutRootElementF(&child), -1);
  EXPECT_EQ(document.CreateElementP(C("a"), C("urn:x")), nullptr);
  EXPECT_EQ(document.CreateElementP(W(u"a"), nullptr), nullptr);
  EXPECT_EQ(document.CreateElementP(NODE_ELEMENT, W(u"a"), nullptr), nullptr);
  EXPECT_EQ(document.CreateTextP(C("t")), nullptr);
  EXPECT_EQ(document.CreateCommentP(W(u"t")), nullptr);
  EXPECT_EQ(document.AppendElementF(&parent, C("a"), nullptr), -1);
  EXPECT_EQ(document.AppendTextF(&parent, W(u"t")), -1);
  EXPECT_EQ(document.AppendCommentF(&parent, C("t")), -1);
  EXPECT_TRUE(p.children.empty());
  // Appending one node object to another needs no document and answers
  // what the parent answers.
  EXPECT_EQ(document.AppendElementF(&parent, &child), 0);
  EXPECT_EQ(p.children.size(), 1u);
  p.refuseChildren = true;
  EXPECT_EQ(document.AppendElementF(&parent, &child), -1);
  EXPECT_EQ(document.AppendElementF(&empty, &child), -1);
  EXPECT_EQ(document.AppendElementF(&parent, &empty), -1);
  EXPECT_EQ(p.refs, 2u);
  EXPECT_EQ(c.refs, 2u);
  KxXMLParserImpl copy(document);  // copies stay without document
  EXPECT_FALSE(copy.IsValidB());
  copy = document;
  EXPECT_FALSE(copy.IsValidB());
}

namespace {

// Overrides the wide create and append operations only, so the calls
// recorded are those the library makes through the table.
class RecordingDocument : public KxXMLParserImpl {
 public:
  using KxXMLParserImpl::AppendCommentF;
  using KxXMLParserImpl::AppendElementF;
  using KxXMLParserImpl::AppendTextF;
  using KxXMLParserImpl::CreateCommentP;
  using KxXMLParserImpl::CreateElementP;
  using KxXMLParserImpl::CreateTextP;
  KxXMLNode* CreateElementP(WCHAR* name, WCHAR* uri) override { return Make(u"element " + Show(name) + u" " + Show(uri)); }
  KxXMLNode* CreateTextP(WCHAR* text) override { return Make(u"text " + Show(text)); }
  KxXMLNode* CreateCommentP(WCHAR* text) override { return Make(u"comment " + Show(text)); }
  int AppendElementF(KxXMLNode* parent, WCHAR* name, WCHAR* uri) override {
    return appends ? Log(u"append element " + Show(name) + u" " + Show(uri), 5)
                   : KxXMLParserImpl::AppendElementF(parent, name, uri);
  }
  int AppendTextF(KxXMLNode* parent, WCHAR* text) override {
    return appends ? Log(u"append text " + Show(text), 6) : KxXMLParserImpl::AppendTextF(parent, text);
  }
  int AppendCommentF(KxXMLNode* parent, WCHAR* text) override {
    return appends ? Log(u"append comment " + Show(text), 7) : KxXMLParserImpl::AppendCommentF(parent, text);
  }
  int Log(std::u16string call, int answer) {
    calls.push_back(std::move(call));
    return answer;
  }
  KxXMLNode* Make(std::u16string call) {
    calls.push_back(std::move(call));
    if (refuse) return nullptr;
    made.push_back(std::make_unique<FakeNode>(NODE_TEXT, u"made"));
    return new KxXMLNodeImpl(made.back()->node());
  }
  std::vector<std::u16string> calls;
  std::vector<std::unique_ptr<FakeNode>> made;
  bool refuse = false, appends = false;
};

}  // namespace

TEST(DocumentObject, NarrowFormsCallWideFormsThroughTheTable) {
  RecordingDocument document;
  KxXMLParser* base = &document;
  // Bytes that are not text in the thread's code page reach the wide form
  // as the platform converts them (or as null where it refuses).
  char invalid[] = "\xff\xfe";
  WCHAR platform[8] = {};
  const std::u16string converted =
      MultiByteToWideChar(CP_THREAD_ACP, 0, invalid, -1, platform, 8) ? platform : u"<null>";
  std::vector<std::unique_ptr<KxXMLNode>> nodes;
  nodes.emplace_back(base->CreateElementP(C("p:item"), C("urn:x")));
  nodes.emplace_back(base->CreateElementP(C("item"), nullptr));
  nodes.emplace_back(base->CreateElementP(C("caf\xc3\xa9"), invalid));
  nodes.emplace_back(base->CreateTextP(C("hello")));
  nodes.emplace_back(base->CreateTextP(invalid));
  nodes.emplace_back(base->CreateCommentP(C("note")));
  nodes.emplace_back(base->CreateCommentP(static_cast<char*>(nullptr)));
  for (auto& n : nodes) EXPECT_TRUE(n);
  document.appends = true;
  KxXMLNodeImpl parent(nullptr);
  EXPECT_EQ(base->AppendElementF(&parent, C("a"), C("urn:y")), 5);
  EXPECT_EQ(base->AppendElementF(&parent, invalid, nullptr), 5);
  EXPECT_EQ(base->AppendTextF(&parent, C("t")), 6);
  EXPECT_EQ(base->AppendCommentF(&parent, C("c")), 7);
  const std::vector<std::u16string> expected = {
      u"element p:item urn:x", u"element item <null>", u"element caf\u00e9 " + converted,
      u"text hello", u"text " + converted, u"comment note", u"comment <null>",
      u"append element a urn:y", u"append element " + converted + u" <null>", u"append text t",
      u"append comment c"};
  EXPECT_EQ(document.calls, expected);
}

TEST(DocumentObject, AppendCoresCreateThroughTheTableAndDropTheirNode) {
  RecordingDocument document;
  FakeNode p(NODE_ELEMENT, u"p");
  KxXMLNodeImpl parent(p.node()), empty(nullptr);
  EXPECT_EQ(document.AppendElementF(&parent, C("a"), C("urn:a")), 0);
  EXPECT_EQ(document.AppendTextF(&parent, C("t")), 0);
  EXPECT_EQ(document.AppendCommentF(&parent, W(u"c")), 0);
  EXPECT_EQ(document.calls, (std::vector<std::u16string>{u"element a urn:a", u"text t", u"comment c"}));
  EXPECT_EQ(p.children.size(), 3u);
  for (auto& made : document.made) EXPECT_EQ(made->refs, 1u);  // the parent holds the nodes
  // A parent that refuses, one without DOM node, none at all: -1, nothing kept.
  p.refuseChildren = true;
  EXPECT_EQ(document.AppendTextF(&parent, C("t2")), -1);
  EXPECT_EQ(document.made.back()->refs, 1u);
  EXPECT_EQ(document.AppendTextF(&empty, C("t3")), -1);
  EXPECT_EQ(document.AppendTextF(nullptr, C("t4")), -1);
  // Creation refused: -1 without calling the parent.
  p.refuseChildren = false;
  document.refuse = true;
  EXPECT_EQ(document.AppendElementF(&parent, C("b"), nullptr), -1);
  EXPECT_EQ(p.children.size(), 3u);
}

TEST(DocumentObject, OverlongNarrowTextConvertsToNull) {
  // 0x3FFFFFFF bytes and a terminator: one unit more than may convert.
  const size_t length = 0x3FFFFFFF;
  void* block = mmap(nullptr, length + 1, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(block, MAP_FAILED);
  char* text = static_cast<char*>(block);
  std::memset(text, 'a', length);
  text[length] = 0;
  RecordingDocument document;
  std::unique_ptr<KxXMLNode> node(document.CreateTextP(text));
  text[16] = 0;
  std::unique_ptr<KxXMLNode> shorter(document.CreateTextP(text));
  munmap(block, length + 1);
  EXPECT_EQ(document.calls, (std::vector<std::u16string>{u"text <null>", u"text aaaaaaaaaaaaaaaa"}));
}

TEST(ModuleEntry, StoresTheHandleOnProcessAttachOnly) {
  const HINSTANCE loaded = moduleHandle;  // stored by the load-time call
  EXPECT_NE(loaded, nullptr);
  int marker = 0;
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_EQ(DllMain(&marker, reason, nullptr), TRUE);
    EXPECT_EQ(moduleHandle, loaded);
  }
  EXPECT_EQ(DllMain(&marker, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(moduleHandle, static_cast<HINSTANCE>(&marker));
  EXPECT_EQ(DllMain(loaded, DLL_PROCESS_ATTACH, reinterpret_cast<LPVOID>(1)), TRUE);
  EXPECT_EQ(moduleHandle, loaded);
}
