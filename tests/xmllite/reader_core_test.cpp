// The reader handle's stepping core against a scripted reader: every row of
// the navigation table, the documented call sequences with the exact number
// of reads, end of input, failures and refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_module.h"
#include "steps.h"

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
  // Adds H held slot, C reads so far and F the pending empty-element end.
  void Steps(const std::string& steps) {
    ::Steps(h_, steps, [this](char what, int n) {
      switch (what) {
        case 'H': EXPECT_EQ(static_cast<uint32_t>(n), held()) << "held"; break;
        case 'C': EXPECT_EQ(n, reads()) << "reads"; break;
        case 'F': EXPECT_EQ(n != 0, h_->emptyElementPending) << "pending end"; break;
        default: ADD_FAILURE() << "unknown step " << what;
      }
    });
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
  const Node comment{XmlNodeType_Comment}, blank{XmlNodeType_Whitespace, u"", u"   "};
  const struct {
    std::vector<Node> nodes;
    const char* steps;
  } cases[] = {
      // <r><a/><b>x</b></r>: the end of an empty element is reported, and then held, without reading.
      {{Elem("r"), Empty("a"), Elem("b"), Text("x"), End(), End()},
       "R0 R0 N0:a F1 R30 C2 H15 E0 R0 E30 H3 V0:x E0 E0 R76"},
      // Declarations, comments and white space never reach the caller.
      {{Node{XmlNodeType_XmlDeclaration}, comment, blank, Elem("r"), blank, comment, End(), comment, blank},
       "P0 C4 R0 E0 C7 R76 H0"},
      // A peeked start stays held until read.
      {{Elem("a"), Elem("b"), End(), End()}, "P0 P0 E30 H1 R0 C1 N0:a R0 C2 N0:b"},
      // Skipping a level; right after an empty element only its pending end.
      {{Elem("r"), Elem("a"), Empty("b"), Elem("c"), Text("t"), End(), End(), Empty("d"), End()},
       "R0 R0 S0 C7 R0 N0:d S0 C8 F0 E0 S76"},
      // After a peek, skipping consumes b, its end and </a>; the start stays held.
      {{Elem("r"), Elem("a"), Empty("b"), End(), End()}, "R0 P0 S0 H1 C4 R0 C4 E0"},
      // End of input and failure keep answering and leave the slot empty.
      {{Elem("r"), Text("t")}, "R0 E30 R30 H3 V0:t E76 R76 P76 E76 S76 R76 H0"},
      // The element's value and what it leaves held.
      {{Elem("a"), Text("hello"), End()}, "R0 V0:hello H0"},
      {{Elem("a"), End()}, "R0 V0: H15"},
      {{Elem("a"), blank, End()}, "R0 V0: H15"},
      {{Elem("a"), Elem("b"), Text("t"), End(), End()}, "R0 V0: H1"},
      {{Elem("a"), Node{XmlNodeType_CDATA, u"", u"c"}, End()}, "R0 V0: H4"},
      {{Elem("a"), Text("x"), comment, Text("y"), End()}, "R0 V0:x H0 E30 V0:y E0"},  // y by the next step
      {{Empty("a")}, "R0 V0: H15 C1 E0"},
      {{Elem("a")}, "R0 V0: H0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.steps);
    Open(c.nodes);
    Steps(c.steps);
  }
  // A failing reader: 255 from then on, the slot empty, the value empty.
  Open({Elem("r"), Elem("a"), End()}, 2);
  Steps("R0 R0 R255 E255 S255 R255 E255 S255 H0 V0:");
}

TEST_F(ReaderCore, AttributesAndRefusals) {
  Open({Elem("e", {{u"id", u"42"}, {u"name", u"n"}}), End()});
  Steps("R0");
  char buffer[16];
  EXPECT_EQ(0, XmlLiteGetAttrValueToBufF(h_, "id", buffer, sizeof buffer));
  EXPECT_STREQ("42", buffer);
  EXPECT_TRUE(fake::stats().lastAttrNamespaceNull);
  Steps("N0:id");  // the reader stands on the attribute
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

TEST_F(ReaderCore, Creation) {
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
}

}  // namespace
