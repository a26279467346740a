// The document object without a DOM document, the way narrow and append
// forms reach the wide create operations through the table, the factory on
// a thread without COM, the module entry and StringBuilderException.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <memory>
#include <thread>

#include "fakes.h"
#include "module_entry.h"
#include "twxml/twxml.h"

using dom_test::FakeKxStream;
using dom_test::FakeNode;

namespace {

char* C(const char* text) { return const_cast<char*>(text); }
WCHAR* W(const char16_t* text) { return const_cast<WCHAR*>(text); }
std::u16string Show(const WCHAR* text) { return text ? std::u16string(text) : u"<null>"; }

}  // namespace

TEST(DocumentFactory, ThreadWithoutComGetsNull) {
  KxXMLParser* parser = reinterpret_cast<KxXMLParser*>(1);
  std::thread([&] { parser = XmlGetParserP(); }).join();
  EXPECT_EQ(parser, nullptr);
}

TEST(DocumentObject, WithoutDomDocumentEveryOperationFailsQuietly) {
  // This test thread never initialises COM, so creating the document fails.
  KxXMLParserImpl document;
  EXPECT_FALSE(document.IsValidB());
  FakeKxStream stream("<a/>");
  EXPECT_EQ(document.LoadFromStreamF(&stream), 44);
  EXPECT_NO_THROW(document.SaveToStreamV(&stream));
  EXPECT_EQ(stream.data, "<a/>");
  EXPECT_TRUE(stream.readSizes.empty());
  EXPECT_TRUE(stream.writeSizes.empty());
  EXPECT_EQ(document.GetRootElementP(), nullptr);
  EXPECT_EQ(document.SetEncodingF(nullptr), -1);
  EXPECT_EQ(document.SetEncodingF(C("UTF-8")), -1);

  FakeNode p(NODE_ELEMENT, u"p");
  FakeNode c(NODE_ELEMENT, u"c");
  KxXMLNodeImpl parent(p.node());
  KxXMLNodeImpl child(c.node());
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

  // Appending one node object to another needs no document at all and
  // answers what the parent answers.
  EXPECT_EQ(document.AppendElementF(&parent, &child), 0);
  EXPECT_EQ(p.children.size(), 1u);
  p.refuseChildren = true;
  EXPECT_EQ(document.AppendElementF(&parent, &child), -1);
  KxXMLNodeImpl empty(nullptr);
  EXPECT_EQ(document.AppendElementF(&empty, &child), -1);
  EXPECT_EQ(document.AppendElementF(&parent, &empty), -1);
  EXPECT_EQ(p.refs, 2u);
  EXPECT_EQ(c.refs, 2u);

  // Copies of an object without document stay without one.
  KxXMLParserImpl copy(document);
  EXPECT_FALSE(copy.IsValidB());
  copy = document;
  EXPECT_FALSE(copy.IsValidB());
}

namespace {

// Overrides the wide create operations only; everything else is the
// library's, so the calls recorded are those made through the table.
class RecordingDocument : public KxXMLParserImpl {
 public:
  using KxXMLParserImpl::AppendCommentF;
  using KxXMLParserImpl::AppendElementF;
  using KxXMLParserImpl::AppendTextF;
  using KxXMLParserImpl::CreateCommentP;
  using KxXMLParserImpl::CreateElementP;
  using KxXMLParserImpl::CreateTextP;

  KxXMLNode* CreateElementP(WCHAR* name, WCHAR* namespaceUri) override {
    calls.push_back(u"element " + Show(name) + u" " + Show(namespaceUri));
    return Make();
  }
  KxXMLNode* CreateTextP(WCHAR* text) override {
    calls.push_back(u"text " + Show(text));
    return Make();
  }
  KxXMLNode* CreateCommentP(WCHAR* text) override {
    calls.push_back(u"comment " + Show(text));
    return Make();
  }

  KxXMLNode* Make() {
    if (refuse) return nullptr;
    made.push_back(std::make_unique<FakeNode>(NODE_TEXT, u"made"));
    return new KxXMLNodeImpl(made.back()->node());
  }

  std::vector<std::u16string> calls;
  std::vector<std::unique_ptr<FakeNode>> made;
  bool refuse = false;
};

// Overrides the wide append forms, to see the narrow ones reach them.
class RecordingAppends : public KxXMLParserImpl {
 public:
  using KxXMLParserImpl::AppendCommentF;
  using KxXMLParserImpl::AppendElementF;
  using KxXMLParserImpl::AppendTextF;
  int AppendElementF(KxXMLNode*, WCHAR* name, WCHAR* namespaceUri) override {
    calls.push_back(u"element " + Show(name) + u" " + Show(namespaceUri));
    return 5;
  }
  int AppendTextF(KxXMLNode*, WCHAR* text) override {
    calls.push_back(u"text " + Show(text));
    return 6;
  }
  int AppendCommentF(KxXMLNode*, WCHAR* text) override {
    calls.push_back(u"comment " + Show(text));
    return 7;
  }
  std::vector<std::u16string> calls;
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
  const std::vector<std::u16string> expected = {
      u"element p:item urn:x", u"element item <null>", u"element caf\u00e9 " + converted,
      u"text hello",          u"text " + converted,    u"comment note",
      u"comment <null>"};
  EXPECT_EQ(document.calls, expected);

  RecordingAppends appends;
  KxXMLParser* appendBase = &appends;
  KxXMLNodeImpl parent(nullptr);
  EXPECT_EQ(appendBase->AppendElementF(&parent, C("a"), C("urn:y")), 5);
  EXPECT_EQ(appendBase->AppendElementF(&parent, invalid, nullptr), 5);
  EXPECT_EQ(appendBase->AppendTextF(&parent, C("t")), 6);
  EXPECT_EQ(appendBase->AppendCommentF(&parent, C("c")), 7);
  const std::vector<std::u16string> appended = {u"element a urn:y", u"element " + converted + u" <null>",
                                                u"text t", u"comment c"};
  EXPECT_EQ(appends.calls, appended);
}

TEST(DocumentObject, AppendCoresCreateThroughTheTableAndDropTheirNode) {
  RecordingDocument document;
  FakeNode p(NODE_ELEMENT, u"p");
  KxXMLNodeImpl parent(p.node());
  EXPECT_EQ(document.AppendElementF(&parent, C("a"), C("urn:a")), 0);
  EXPECT_EQ(document.AppendTextF(&parent, C("t")), 0);
  EXPECT_EQ(document.AppendCommentF(&parent, W(u"c")), 0);
  const std::vector<std::u16string> expected = {u"element a urn:a", u"text t", u"comment c"};
  EXPECT_EQ(document.calls, expected);
  ASSERT_EQ(p.children.size(), 3u);
  // The node objects made on the way are gone; the parent holds the nodes.
  for (auto& made : document.made) EXPECT_EQ(made->refs, 1u);

  // A parent that refuses: -1, and nothing is kept.
  p.refuseChildren = true;
  EXPECT_EQ(document.AppendTextF(&parent, C("t2")), -1);
  EXPECT_EQ(document.made.back()->refs, 1u);
  EXPECT_EQ(p.children.size(), 3u);
  // A parent node object without DOM node, and no parent at all.
  KxXMLNodeImpl empty(nullptr);
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
  // One byte shorter still converts; the head of the text is enough to see.
  text[16] = 0;
  std::unique_ptr<KxXMLNode> shorter(document.CreateTextP(text));
  munmap(block, length + 1);
  const std::vector<std::u16string> expected = {u"text <null>", u"text aaaaaaaaaaaaaaaa"};
  EXPECT_EQ(document.calls, expected);
}

TEST(ModuleEntry, StoresTheHandleOnProcessAttachOnly) {
  // The load-time call has already stored this image's base.
  const HINSTANCE loaded = moduleHandle;
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

TEST(StringBuilderExceptionClass, KeepsThePointerNotACopy) {
  static const char first[] = "first";
  static const char second[] = "second";
  StringBuilderException a(first);
  StringBuilderException b(second);
  EXPECT_EQ(a.message, first);
  StringBuilderException& result = (a = b);
  EXPECT_EQ(&result, &a);
  EXPECT_EQ(a.message, second);
  StringBuilderException none(nullptr);
  EXPECT_EQ(none.message, nullptr);
}
