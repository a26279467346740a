// The reader handle's stepping core and text extraction against a scripted
// reader: every row of the navigation table, the documented call sequences,
// end of input, failures and caller buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_module.h"

using fake::Elem;
using fake::Empty;
using fake::End;
using fake::Node;
using fake::Text;

namespace {

class ReaderCore : public ::testing::Test {
 protected:
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));
    }
    EXPECT_EQ(0, fake::stats().liveReaders);
    fake::Uninstall();
  }
  _XmlLiteReaderS* Open(std::vector<Node> nodes, int failAt = -1) {
    fake::ReaderScript script;
    script.nodes = std::move(nodes);
    script.failAt = failAt;
    return OpenScript(std::move(script));
  }
  _XmlLiteReaderS* OpenScript(fake::ReaderScript script) {
    fake::Install(std::move(script));
    handle_ = XmlLiteCreateMemReaderH("<ignored/>");
    EXPECT_NE(nullptr, handle_);
    return handle_;
  }
  int reads() const { return fake::stats().reads; }
  std::string Name() {
    char buffer[64];
    EXPECT_EQ(0, XmlLiteGetElemNameToBufF(handle_, buffer, sizeof buffer));
    return buffer;
  }
  std::string Value(int expected = 0) {
    char buffer[64] = "untouched";
    EXPECT_EQ(expected, XmlLiteGetElemValueToBufF(handle_, buffer, sizeof buffer));
    return buffer;
  }
  _XmlLiteReaderS* handle_ = nullptr;
};

enum Fn { kRead, kPeek, kReadEnd };
constexpr int kEof = -76, kFail = -255;  // step outcomes that are no node

struct NavRow {
  uint32_t slotBefore;  // 0 = empty
  int step;             // node type the step gives, or kEof / kFail
  Fn fn;
  int status;
  uint32_t slotAfter;
};

int Call(Fn fn, _XmlLiteReaderS* h) {
  switch (fn) {
    case kRead: return XmlLiteReadElemF(h);
    case kPeek: return XmlLitePeekElemF(h);
    case kReadEnd: return XmlLiteReadEndElemF(h);
  }
  return -1;
}

TEST_F(ReaderCore, NavigationTableByLookAheadState) {
  const NavRow rows[] = {
      {0, 1, kRead, 0, 0},       {0, 1, kPeek, 0, 1},        {0, 1, kReadEnd, 30, 1},
      {0, 15, kRead, 30, 15},    {0, 15, kPeek, 30, 15},     {0, 15, kReadEnd, 0, 0},
      {0, 3, kRead, 30, 3},      {0, 3, kPeek, 30, 3},       {0, 3, kReadEnd, 30, 3},
      {0, 4, kRead, 30, 4},      {0, 7, kPeek, 30, 7},       {0, 10, kReadEnd, 30, 10},
      {0, kEof, kRead, 76, 0},   {0, kEof, kPeek, 76, 0},    {0, kEof, kReadEnd, 76, 0},
      {0, kFail, kRead, 255, 0}, {0, kFail, kPeek, 255, 0},  {0, kFail, kReadEnd, 255, 0},
      {1, 0, kRead, 0, 0},       {1, 0, kPeek, 0, 1},        {1, 0, kReadEnd, 30, 1},
      {15, 0, kRead, 30, 15},    {15, 0, kPeek, 30, 15},     {15, 0, kReadEnd, 0, 0},
      {3, 0, kRead, 30, 3},      {3, 0, kPeek, 30, 3},       {3, 0, kReadEnd, 30, 3},
  };
  for (const NavRow& row : rows) {
    SCOPED_TRACE("slot " + std::to_string(row.slotBefore) + " step " + std::to_string(row.step) +
                 " fn " + std::to_string(row.fn));
    std::vector<Node> nodes;
    if (row.step > 0) nodes.push_back(Node{static_cast<XmlNodeType>(row.step), u"n", u"v"});
    Open(nodes, row.step == kFail ? 0 : -1);
    handle_->lookAheadType = row.slotBefore;
    EXPECT_EQ(row.status, Call(row.fn, handle_));
    EXPECT_EQ(row.slotAfter, handle_->lookAheadType);
    EXPECT_EQ(row.slotBefore != 0 ? 0 : 1, reads()) << "a held node is answered without reading";
    EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));
    handle_ = nullptr;
  }
}

TEST_F(ReaderCore, EmptyElementEndIsReportedWithoutReading) {
  // <r><a/><b>x</b></r>
  Open({Elem("r"), Empty("a"), Elem("b"), Text("x"), End(), End()});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("r", Name());
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("a", Name());
  EXPECT_TRUE(handle_->emptyElementPending);
  EXPECT_EQ(2, reads());
  EXPECT_EQ(30, XmlLiteReadElemF(handle_));  // the reported end of a is now held
  EXPECT_EQ(2, reads());
  EXPECT_EQ(15u, handle_->lookAheadType);
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("b", Name());
  EXPECT_EQ(30, XmlLiteReadEndElemF(handle_));  // the text x is held
  EXPECT_EQ(3u, handle_->lookAheadType);
  EXPECT_EQ("x", Value());
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(76, XmlLiteReadElemF(handle_));
}

TEST_F(ReaderCore, IgnorableNodesNeverReachTheCaller) {
  Open({Node{XmlNodeType_XmlDeclaration}, Node{XmlNodeType_Comment}, Node{XmlNodeType_Whitespace},
        Elem("r"), Node{XmlNodeType_Whitespace}, Node{XmlNodeType_Comment}, End(),
        Node{XmlNodeType_Comment}, Node{XmlNodeType_Whitespace}});
  EXPECT_EQ(0, XmlLitePeekElemF(handle_));
  EXPECT_EQ(4, reads());
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(7, reads());
  EXPECT_EQ(76, XmlLiteReadElemF(handle_));
  EXPECT_EQ(0u, handle_->lookAheadType);
}

TEST_F(ReaderCore, PeekAndReadInterplay) {
  Open({Elem("a"), Elem("b"), End(), End()});
  EXPECT_EQ(0, XmlLitePeekElemF(handle_));
  EXPECT_EQ(0, XmlLitePeekElemF(handle_));
  EXPECT_EQ(1, reads());
  EXPECT_EQ(30, XmlLiteReadEndElemF(handle_));  // the peeked element stays held
  EXPECT_EQ(1u, handle_->lookAheadType);
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(1, reads());
  EXPECT_EQ("a", Name());
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(2, reads());
  EXPECT_EQ("b", Name());
}

TEST_F(ReaderCore, HeldNonElementNodesBlockNavigation) {
  for (XmlNodeType type : {XmlNodeType_ProcessingInstruction, XmlNodeType_CDATA}) {
    Open({Elem("r"), Node{type, u"pi", u"data"}, Elem("c"), End(), End()});
    EXPECT_EQ(0, XmlLiteReadElemF(handle_));
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(30, XmlLiteReadElemF(handle_));
      EXPECT_EQ(30, XmlLitePeekElemF(handle_));
      EXPECT_EQ(30, XmlLiteReadEndElemF(handle_));
    }
    EXPECT_EQ(2, reads());
    EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));
    handle_ = nullptr;
  }
}

TEST_F(ReaderCore, EndOfInputAndFailureLeaveTheSlotAndKeepAnswering) {
  Open({Elem("r"), Text("t")});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(30, XmlLiteReadEndElemF(handle_));
  handle_->lookAheadType = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(76, XmlLiteReadElemF(handle_));
    EXPECT_EQ(76, XmlLitePeekElemF(handle_));
    EXPECT_EQ(76, XmlLiteReadEndElemF(handle_));
    EXPECT_EQ(76, XmlLiteSkipLevelF(handle_));
    EXPECT_EQ(0u, handle_->lookAheadType);
  }
  EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));

  Open({Elem("r"), Elem("a"), End()}, 2);
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(255, XmlLiteReadElemF(handle_));
    EXPECT_EQ(255, XmlLiteReadEndElemF(handle_));
    EXPECT_EQ(255, XmlLiteSkipLevelF(handle_));
    EXPECT_EQ(0u, handle_->lookAheadType);
  }
  char buffer[8] = "keep";
  EXPECT_EQ(0, XmlLiteGetElemValueToBufF(handle_, buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);
}

TEST_F(ReaderCore, SkipLevel) {
  // <r><a><b/><c>t</c></a><d/></r>
  Open({Elem("r"), Elem("a"), Empty("b"), Elem("c"), Text("t"), End(), End(), Empty("d"), End()});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(0, XmlLiteSkipLevelF(handle_));
  EXPECT_EQ(7, reads());
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("d", Name());
  // Right after an empty element only the pending end is consumed.
  EXPECT_EQ(0, XmlLiteSkipLevelF(handle_));
  EXPECT_EQ(8, reads());
  EXPECT_FALSE(handle_->emptyElementPending);
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(76, XmlLiteSkipLevelF(handle_));
}

TEST_F(ReaderCore, SkipLevelAfterPeekKeepsThePeekedStartHeld) {
  // <r><a><b/></a></r>
  Open({Elem("r"), Elem("a"), Empty("b"), End(), End()});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(0, XmlLitePeekElemF(handle_));
  EXPECT_EQ(0, XmlLiteSkipLevelF(handle_));  // consumes b, its end and </a>
  EXPECT_EQ(1u, handle_->lookAheadType);
  int before = reads();
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ(before, reads());
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));  // </r>
}

TEST_F(ReaderCore, ElementValue) {
  struct Case {
    std::vector<Node> content;  // after the start of a
    std::string value;
    uint32_t held;
  };
  const Case cases[] = {
      {{Text("hello"), End()}, "hello", 0},
      {{End()}, "", 15},
      {{Node{XmlNodeType_Whitespace, u"", u"   "}, End()}, "", 15},
      {{Elem("b"), Text("t"), End(), End()}, "", 1},
      {{Node{XmlNodeType_CDATA, u"", u"c"}, End()}, "", 4},
      {{Text("x"), Node{XmlNodeType_Comment}, Text("y"), End()}, "x", 0},
  };
  for (const Case& c : cases) {
    std::vector<Node> nodes{Elem("a")};
    nodes.insert(nodes.end(), c.content.begin(), c.content.end());
    Open(nodes);
    EXPECT_EQ(0, XmlLiteReadElemF(handle_));
    EXPECT_EQ(c.value, Value());
    EXPECT_EQ(c.held, handle_->lookAheadType);
    EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));
    handle_ = nullptr;
  }
  // <a>x<!--c-->y</a>: y is read by the next step, and a second call gives it.
  Open({Elem("a"), Text("x"), Node{XmlNodeType_Comment}, Text("y"), End()});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("x", Value());
  EXPECT_EQ(30, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ("y", Value());
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));
  // An empty element: its reported end is held.
  Open({Empty("a")});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("", Value());
  EXPECT_EQ(15u, handle_->lookAheadType);
  EXPECT_EQ(1, reads());
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
  EXPECT_EQ(0, XmlLiteCloseReaderF(handle_));
  // End of input: the empty text and 0.
  Open({Elem("a")});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  EXPECT_EQ("", Value());
  EXPECT_EQ(0u, handle_->lookAheadType);
}

TEST_F(ReaderCore, Attributes) {
  Open({Elem("e", {{u"id", u"42"}, {u"name", u"n"}}), End()});
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  char buffer[16];
  EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(handle_, "id", buffer, sizeof buffer));
  EXPECT_STREQ("42", buffer);
  EXPECT_TRUE(fake::stats().lastAttrNamespaceNull);
  EXPECT_EQ("id", Name()) << "the reader stands on the attribute";
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(30, XmlLiteGetAttrValueToBufF(handle_, "missing", buffer, sizeof buffer));
  EXPECT_STREQ("untouched", buffer);
  EXPECT_EQ(30, XmlLiteGetAttrValueToBufF(handle_, nullptr, buffer, sizeof buffer));
  EXPECT_TRUE(fake::stats().lastAttrAskedNull);
  EXPECT_STREQ("untouched", buffer);
  // Stepping from an attribute goes on with the node after the element.
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_));
}

TEST_F(ReaderCore, ReaderRefusalsAre255AndLeaveTheBuffer) {
  fake::ReaderScript script;
  script.nodes = {Elem("e", {{u"a", u"1"}}), Text("t"), End()};
  script.nameResult = E_FAIL;
  script.valueResult = S_FALSE;  // anything but S_OK counts as a refusal
  script.moveResult = E_INVALIDARG;
  OpenScript(script);
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  char buffer[8] = "same";
  EXPECT_EQ(255, XmlLiteGetElemNameToBufF(handle_, buffer, sizeof buffer));
  EXPECT_EQ(255, XmlLiteGetAttrValueToBufF(handle_, "a", buffer, sizeof buffer));
  EXPECT_EQ(255, XmlLiteGetElemValueToBufF(handle_, buffer, sizeof buffer));
  EXPECT_STREQ("same", buffer);
  EXPECT_EQ(0, XmlLiteReadEndElemF(handle_)) << "the text was consumed";
}

TEST_F(ReaderCore, CreationFailureGivesNullAndReleasesTheStream) {
  fake::ReaderScript script;
  script.createResult = E_OUTOFMEMORY;
  fake::Install(script);
  EXPECT_EQ(nullptr, XmlLiteCreateMemReaderH("<a/>"));
  EXPECT_EQ(0, fake::stats().liveReaders);
  fake::Install({});
  _XmlLiteReaderS* h = XmlLiteCreateMemReaderH("<a/>");
  ASSERT_NE(nullptr, h);
  EXPECT_TRUE(fake::stats().inputWasStream);
  EXPECT_EQ(kXmlLiteReaderMagic, h->magic);
  EXPECT_EQ(0u, h->lookAheadType);
  EXPECT_FALSE(h->emptyElementPending);
  EXPECT_EQ(1, XmlLiteIsReaderHndValidB(h));
  EXPECT_EQ(0, XmlLiteCloseReaderF(h));
}

// Texts cut to the buffer: never past its end, always terminated, never in
// the middle of a character.
TEST_F(ReaderCore, BufferCutsOnCharacterBoundaries) {
  // a, e-acute (2 bytes), euro (3 bytes), U+1F600 (4 bytes, a surrogate pair).
  const std::u16string wide = u"a\u00e9\u20ac\U0001F600z";
  const std::string utf8 = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
  const size_t boundaries[] = {0, 1, 3, 6, 10, 11};
  fake::ReaderScript script;
  script.nodes = {Node{XmlNodeType_Element, wide, u""}};
  OpenScript(script);
  EXPECT_EQ(0, XmlLiteReadElemF(handle_));
  for (unsigned int size = 1; size <= utf8.size() + 2; ++size) {
    SCOPED_TRACE(size);
    std::vector<char> buffer(size + 8, '#');
    int status = XmlLiteGetElemNameToBufF(handle_, buffer.data(), size);
    size_t fits = 0;
    for (size_t b : boundaries)
      if (b <= size - 1) fits = b;
    EXPECT_EQ(size > utf8.size() ? 0 : 30, status);
    EXPECT_EQ(utf8.substr(0, fits), std::string(buffer.data()));
    for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ('#', buffer[i]) << "overrun at " << i;
  }
}

TEST(ReaderHandles, BadHandlesAnswer44AndTouchNothing) {
  fake::Install({});
  _XmlLiteWriterS* writer = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, writer);
  alignas(16) unsigned char garbage[64];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  std::vector<_XmlLiteReaderS*> bad = {nullptr, reinterpret_cast<_XmlLiteReaderS*>(garbage),
                                       reinterpret_cast<_XmlLiteReaderS*>(writer)};
#if !TWXML_TEST_ASAN
  // A freed record: readable only because nothing reuses it between the calls.
  fake::Install({{Elem("a")}});
  _XmlLiteReaderS* closed = XmlLiteCreateMemReaderH("<a/>");
  ASSERT_NE(nullptr, closed);
  EXPECT_EQ(0, XmlLiteCloseReaderF(closed));
  bad.push_back(closed);
#endif
  for (_XmlLiteReaderS* h : bad) {
    char buffer[8] = "same";
    EXPECT_EQ(0, XmlLiteIsReaderHndValidB(h));
    EXPECT_EQ(44, XmlLiteReadElemF(h));
    EXPECT_EQ(44, XmlLitePeekElemF(h));
    EXPECT_EQ(44, XmlLiteReadEndElemF(h));
    EXPECT_EQ(44, XmlLiteSkipLevelF(h));
    EXPECT_EQ(44, XmlLiteGetElemNameToBufF(h, buffer, sizeof buffer));
    EXPECT_EQ(44, XmlLiteGetAttrValueToBufF(h, "a", buffer, sizeof buffer));
    EXPECT_EQ(44, XmlLiteGetElemValueToBufF(h, buffer, sizeof buffer));
    EXPECT_EQ(44, XmlLiteCloseReaderF(h));
    EXPECT_STREQ("same", buffer);
  }
  EXPECT_EQ(1, XmlLiteIsWriterHndValidB(writer)) << "the writer was not touched";
  EXPECT_EQ(0, XmlLiteCloseWriterF(writer));
  fake::Uninstall();
}

}  // namespace
