// The reader handle's stepping core against a scripted reader: every row of
// the navigation table, the documented call sequences with the exact number
// of reads, end of input, failures, refusals and bad handles.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

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
    Close();
    EXPECT_EQ(0, fake::stats().liveReaders);
    fake::Uninstall();
  }
  void Open(std::vector<Node> nodes, int failAt = -1) {
    fake::Script script;
    script.nodes = std::move(nodes);
    script.failAt = failAt;
    OpenScript(std::move(script));
  }
  void OpenScript(fake::Script script) {
    Close();
    fake::Install(std::move(script));
    h_ = XmlLiteCreateMemReaderH("<ignored/>");
    ASSERT_NE(nullptr, h_);
  }
  void Close() {
    if (h_ != nullptr) {
      EXPECT_EQ(0, XmlLiteCloseReaderF(h_));
    }
    h_ = nullptr;
  }
  int reads() const { return fake::stats().reads; }
  std::string Name() {
    char buffer[64];
    EXPECT_EQ(0, XmlLiteGetElemNameToBufF(h_, buffer, sizeof buffer));
    return buffer;
  }
  std::string Value() {
    char buffer[64] = "untouched";
    EXPECT_EQ(0, XmlLiteGetElemValueToBufF(h_, buffer, sizeof buffer));
    return buffer;
  }
  // Runs a sequence of calls: R read, P peek, E read end, S skip level; each
  // followed by its expected status, e.g. "R0 P0 E30".
  void Steps(const std::string& steps) {
    std::istringstream in(steps);
    for (std::string step; in >> step;) {
      SCOPED_TRACE(step);
      const int expected = std::stoi(step.substr(1));
      switch (step[0]) {
        case 'R': EXPECT_EQ(expected, XmlLiteReadElemF(h_)); break;
        case 'P': EXPECT_EQ(expected, XmlLitePeekElemF(h_)); break;
        case 'E': EXPECT_EQ(expected, XmlLiteReadEndElemF(h_)); break;
        case 'S': EXPECT_EQ(expected, XmlLiteSkipLevelF(h_)); break;
      }
    }
  }
  uint32_t held() const { return h_->lookAheadType; }
  _XmlLiteReaderS* h_ = nullptr;
};

constexpr int kEof = -76, kFail = -255;  // step outcomes that are no node

TEST_F(ReaderCore, NavigationTableByLookAheadState) {
  const struct {
    uint32_t slotBefore;  // 0 = empty
    int step;             // node type the step gives, or kEof / kFail
    char fn;              // R, P or E
    int status;
    uint32_t slotAfter;
  } rows[] = {
      {0, 1, 'R', 0, 0},       {0, 1, 'P', 0, 1},       {0, 1, 'E', 30, 1},      {0, 15, 'R', 30, 15},
      {0, 15, 'P', 30, 15},    {0, 15, 'E', 0, 0},      {0, 3, 'R', 30, 3},      {0, 3, 'P', 30, 3},
      {0, 3, 'E', 30, 3},      {0, 4, 'R', 30, 4},      {0, 7, 'P', 30, 7},      {0, 10, 'E', 30, 10},
      {0, kEof, 'R', 76, 0},   {0, kEof, 'P', 76, 0},   {0, kEof, 'E', 76, 0},   {0, kFail, 'R', 255, 0},
      {0, kFail, 'P', 255, 0}, {0, kFail, 'E', 255, 0}, {1, 0, 'R', 0, 0},       {1, 0, 'P', 0, 1},
      {1, 0, 'E', 30, 1},      {15, 0, 'R', 30, 15},    {15, 0, 'P', 30, 15},    {15, 0, 'E', 0, 0},
      {3, 0, 'R', 30, 3},      {3, 0, 'P', 30, 3},      {3, 0, 'E', 30, 3},      {4, 0, 'R', 30, 4},
      {4, 0, 'P', 30, 4},      {4, 0, 'E', 30, 4},      {7, 0, 'R', 30, 7},      {7, 0, 'P', 30, 7},
      {7, 0, 'E', 30, 7},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "slot " << row.slotBefore << " step " << row.step << " " << row.fn);
    std::vector<Node> nodes;
    if (row.step > 0) nodes.push_back(Node{static_cast<XmlNodeType>(row.step), u"n", u"v"});
    Open(nodes, row.step == kFail ? 0 : -1);
    h_->lookAheadType = row.slotBefore;
    Steps(row.fn + std::to_string(row.status));
    EXPECT_EQ(row.slotAfter, held());
    EXPECT_EQ(row.slotBefore != 0 ? 0 : 1, reads()) << "a held node is answered without reading";
  }
}

TEST_F(ReaderCore, CallSequencesAndTheReadsTheyCost) {
  // <r><a/><b>x</b></r>: the end of an empty element is reported without reading.
  Open({Elem("r"), Empty("a"), Elem("b"), Text("x"), End(), End()});
  Steps("R0 R0");
  EXPECT_EQ("a", Name());
  EXPECT_TRUE(h_->emptyElementPending);
  Steps("R30");  // the reported end of a is now held
  EXPECT_EQ(2, reads());
  EXPECT_EQ(15u, held());
  Steps("E0 R0 E30");  // the text x is held
  EXPECT_EQ(3u, held());
  EXPECT_EQ("x", Value());
  Steps("E0 E0 R76");

  // Declarations, comments and white space never reach the caller.
  Open({Node{XmlNodeType_XmlDeclaration}, Node{XmlNodeType_Comment}, Node{XmlNodeType_Whitespace}, Elem("r"),
        Node{XmlNodeType_Whitespace}, Node{XmlNodeType_Comment}, End(), Node{XmlNodeType_Comment},
        Node{XmlNodeType_Whitespace}});
  Steps("P0");
  EXPECT_EQ(4, reads());
  Steps("R0 E0");
  EXPECT_EQ(7, reads());
  Steps("R76");
  EXPECT_EQ(0u, held());

  // A peeked start stays held until read.
  Open({Elem("a"), Elem("b"), End(), End()});
  Steps("P0 P0 E30");
  EXPECT_EQ(1u, held());
  Steps("R0");
  EXPECT_EQ(1, reads());
  EXPECT_EQ("a", Name());
  Steps("R0");
  EXPECT_EQ(2, reads());
  EXPECT_EQ("b", Name());

  // Skipping a level: <r><a><b/><c>t</c></a><d/></r>.
  Open({Elem("r"), Elem("a"), Empty("b"), Elem("c"), Text("t"), End(), End(), Empty("d"), End()});
  Steps("R0 R0 S0");
  EXPECT_EQ(7, reads());
  Steps("R0");
  EXPECT_EQ("d", Name());
  Steps("S0");  // right after an empty element only the pending end is consumed
  EXPECT_EQ(8, reads());
  EXPECT_FALSE(h_->emptyElementPending);
  Steps("E0 S76");

  // After a peek, skipping consumes b, its end and </a> and keeps the start held.
  Open({Elem("r"), Elem("a"), Empty("b"), End(), End()});
  Steps("R0 P0 S0");
  EXPECT_EQ(1u, held());
  const int before = reads();
  Steps("R0");
  EXPECT_EQ(before, reads());
  Steps("E0");
}

TEST_F(ReaderCore, EndOfInputAndFailureLeaveTheSlotAndKeepAnswering) {
  Open({Elem("r"), Text("t")});
  Steps("R0 E30");
  h_->lookAheadType = 0;
  for (int i = 0; i < 3; ++i) Steps("R76 P76 E76 S76");
  EXPECT_EQ(0u, held());

  Open({Elem("r"), Elem("a"), End()}, 2);
  Steps("R0 R0");
  for (int i = 0; i < 3; ++i) Steps("R255 E255 S255");
  EXPECT_EQ(0u, held());
  EXPECT_EQ("", Value());
}

TEST_F(ReaderCore, ElementValueAndWhatItLeavesHeld) {
  const struct {
    std::vector<Node> content;  // after the start of a
    std::string value;
    uint32_t held;
  } cases[] = {
      {{Text("hello"), End()}, "hello", 0},
      {{End()}, "", 15},
      {{Node{XmlNodeType_Whitespace, u"", u"   "}, End()}, "", 15},
      {{Elem("b"), Text("t"), End(), End()}, "", 1},
      {{Node{XmlNodeType_CDATA, u"", u"c"}, End()}, "", 4},
      {{Text("x"), Node{XmlNodeType_Comment}, Text("y"), End()}, "x", 0},
      {{}, "", 0},  // end of input
  };
  for (const auto& c : cases) {
    std::vector<Node> nodes{Elem("a")};
    nodes.insert(nodes.end(), c.content.begin(), c.content.end());
    Open(nodes);
    Steps("R0");
    EXPECT_EQ(c.value, Value());
    EXPECT_EQ(c.held, held());
  }
  // <a>x<!--c-->y</a>: y is read by the next step, and a second call gives it.
  Open({Elem("a"), Text("x"), Node{XmlNodeType_Comment}, Text("y"), End()});
  Steps("R0");
  EXPECT_EQ("x", Value());
  Steps("E30");
  EXPECT_EQ("y", Value());
  Steps("E0");
  // An empty element: its reported end is held, nothing read.
  Open({Empty("a")});
  Steps("R0");
  EXPECT_EQ("", Value());
  EXPECT_EQ(15u, held());
  EXPECT_EQ(1, reads());
  Steps("E0");
}

TEST_F(ReaderCore, AttributesAndRefusals) {
  Open({Elem("e", {{u"id", u"42"}, {u"name", u"n"}}), End()});
  Steps("R0");
  char buffer[16];
  EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(h_, "id", buffer, sizeof buffer));
  EXPECT_STREQ("42", buffer);
  EXPECT_TRUE(fake::stats().lastAttrNamespaceNull);
  EXPECT_EQ("id", Name()) << "the reader stands on the attribute";
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(30, XmlLiteGetAttrValueToBufF(h_, "missing", buffer, sizeof buffer));
  EXPECT_EQ(30, XmlLiteGetAttrValueToBufF(h_, nullptr, buffer, sizeof buffer));
  EXPECT_TRUE(fake::stats().lastAttrAskedNull);
  EXPECT_STREQ("untouched", buffer);
  Steps("E0");  // stepping from an attribute goes on after the element

  // Anything but S_OK from the reader is a refusal: 255, the buffer kept.
  fake::Script script;
  script.nodes = {Elem("e", {{u"a", u"1"}}), Text("t"), End()};
  script.nameResult = E_FAIL;
  script.valueResult = S_FALSE;
  script.moveResult = E_INVALIDARG;
  OpenScript(script);
  Steps("R0");
  std::strcpy(buffer, "same");
  EXPECT_EQ(255, XmlLiteGetElemNameToBufF(h_, buffer, sizeof buffer));
  EXPECT_EQ(255, XmlLiteGetAttrValueToBufF(h_, "a", buffer, sizeof buffer));
  EXPECT_EQ(255, XmlLiteGetElemValueToBufF(h_, buffer, sizeof buffer));
  EXPECT_STREQ("same", buffer);
  Steps("E0");  // the text was consumed
}

TEST_F(ReaderCore, CreationAndBadHandles) {
  fake::Script refused;
  refused.readerCreate = E_OUTOFMEMORY;
  fake::Install(refused);
  EXPECT_EQ(nullptr, XmlLiteCreateMemReaderH("<a/>"));
  EXPECT_EQ(0, fake::stats().liveReaders);
  Open({Elem("a")});
  EXPECT_TRUE(fake::stats().inputWasStream);
  EXPECT_EQ(kXmlLiteReaderMagic, h_->magic);
  EXPECT_EQ(0u, held());
  EXPECT_FALSE(h_->emptyElementPending);
  EXPECT_EQ(1, XmlLiteIsReaderHndValidB(h_));

  _XmlLiteWriterS* writer = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, writer);
  alignas(16) unsigned char garbage[64];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  std::vector<_XmlLiteReaderS*> bad = {nullptr, reinterpret_cast<_XmlLiteReaderS*>(garbage),
                                       reinterpret_cast<_XmlLiteReaderS*>(writer)};
#if !TWXML_TEST_ASAN
  // A freed record: readable only because nothing reuses it between the calls.
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
}

}  // namespace
