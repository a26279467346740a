// The XmlInterface class, both engines and the factories over recording
// stand-ins: which call each operation makes, how answers map to results,
// the document engine's stack of cursors, and every status of the factories.
// Behaviour the real layers can show is checked in engines_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dom_engine.h"
#include "fake_platform.h"
#include "lite_engine.h"

namespace {

using fake::st;
using Strings = std::vector<std::string>;

char* S(const char* text) { return const_cast<char*>(text); }

struct Deleter {
  void operator()(XmlInterface* p) const { delete p; }
};
using Ptr = std::unique_ptr<XmlInterface, Deleter>;
XmlInterface* const kSentinel = reinterpret_cast<XmlInterface*>(0x1);

std::string Name(XmlInterface& x) {
  char buf[128] = "?";
  return x.GetElemNameToBufB(buf, sizeof buf) ? buf : "<false>";
}

std::string Text(XmlInterface& x) {
  unsigned int size = 0;
  char* text = x.AllocMemP(&size);
  if (text == nullptr) return "<null>";
  std::string out(text, size);
  MemFreeF(text);
  return out;
}

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  // Everything an object or factory made has been given back.
  void TearDown() override { EXPECT_EQ(st.live, 0); }
  static Ptr Reader(const char* text, bool dom) {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S(text), std::strlen(text), &p, dom), 0);
    st.calls.clear();
    return Ptr(p);
  }
  static Ptr Writer(bool dom, const char* encoding = nullptr) {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, false, dom, S(encoding)), 0);
    st.calls.clear();
    return Ptr(p);
  }
  static XmlInterfaceToDOM& Dom(Ptr& p) { return dynamic_cast<XmlInterfaceToDOM&>(*p); }
};

class LiteEngine : public Fixture {};

// ---- The class's own members, over a streaming reader --------------------

TEST_F(LiteEngine, ExtractAndIsThisName) {
  struct {
    const char *element, *leading;
    unsigned int size;
    bool result;
    const char* buffer;  // what the buffer holds afterwards ("#" = untouched)
  } extract[] = {
      {"TBLCustomer", "Tbl", 32, true, "Customer"},
      {"TBLCustomer", "tBL", 9, true, "Customer"},
      {"TBLCustomer", "Tbl", 8, true, "Custome"},  // cut to the caller's size
      {"TBLCustomer", "Tbl", 5, false, "#"},       // the whole name does not fit
      {"Tb", "Tbl", 32, false, "#"},               // shorter than the leading text
      {"TxlCustomer", "Tbl", 32, false, "#"},
      {"Order  ", "", 32, true, "Order"},          // empty leading text trims
      {"Orders", "", 6, true, "Order"},
      {"Order  ", nullptr, 32, true, "Order  "},   // no leading text: as given
      {"Order", nullptr, 3, false, "Or"},          // the name's own cut
      {"xs:element", "XS:", 8, true, "element"},
  };
  for (auto& c : extract) {
    SCOPED_TRACE(std::string(c.element) + " / " + (c.leading ? c.leading : "(null)"));
    st.elemName = c.element;
    char buffer[64] = "#";
    EXPECT_EQ(Reader("<r/>", false)->ExtractNameB(S(c.leading), buffer, c.size), c.result);
    EXPECT_STREQ(buffer, c.buffer);
  }

  struct {
    const char *element, *leading, *name;
    bool result;
  } is[] = {
      {"Order", nullptr, "order", true},
      {"Order", "", "ORDER", true},
      {"Orders", nullptr, "Order", false},  // does not fit the exact-size buffer
      {"Ord", nullptr, "Order", false},
      {"TblCustomer", "tbl", "customer", true},
      {"TblCustomer", "tbl", "Custom", false},
      {"TblCustomerX", "Tbl", "Customer", true},  // one extra character is cut off
      {"TblCustomerXY", "Tbl", "Customer", false},
      {"Customer", "Tbl", "Customer", false},
      {"Order", nullptr, nullptr, false},
  };
  for (auto& c : is) {
    SCOPED_TRACE(std::string(c.element) + " / " + (c.name ? c.name : "(null)"));
    st.elemName = c.element;
    EXPECT_EQ(Reader("<r/>", false)->IsThisNameB(S(c.leading), S(c.name)), c.result);
  }
}

// ---- Streaming engine ------------------------------------------------------

TEST(LiteEngineText, NumbersBothWays) {
  struct {
    const char* text;
    int value;
  } in[] = {{"12abc", 12}, {"abc", 0}, {"  -42", -42}, {"+7", 7}, {"", 0}, {"\t 0x10", 0},
            {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"99999999999", INT_MAX},
            {"-99999999999", INT_MIN}, {"- 5", 0}, {"3.9", 3}};
  for (auto& c : in) EXPECT_EQ(twxml_detail::LeadingNumber(c.text), c.value) << c.text;
  for (int v : {0, -5, 7, INT_MAX, INT_MIN, 1000000}) {
    char text[13];
    twxml_detail::IntToText(v, text);
    EXPECT_EQ(std::string(text), std::to_string(v));
  }
}

// Each operation is one handle call; any non-zero answer is false.
TEST_F(LiteEngine, OperationsMapToHandleCalls) {
  Ptr r = Reader("<r/>", false);
  char buf[32];
  int v = 0;
  st.attrs["id"] = "17";
  EXPECT_TRUE(r->PeekElemB() && r->SelectElemB() && r->EndElemB());
  EXPECT_TRUE(r->GetElemNameToBufB(buf, 32));
  EXPECT_STREQ(buf, "elem");
  EXPECT_TRUE(r->GetAttrValueToBufB(S("id"), buf, 20));
  EXPECT_STREQ(buf, "17");
  EXPECT_TRUE(r->GetAttrValueToIntB(S("id"), &v));
  EXPECT_EQ(v, 17);
  EXPECT_TRUE(r->GetElemValueToBufB(buf, 32));
  EXPECT_STREQ(buf, "value");
  EXPECT_TRUE(r->SkipLevelB());
  EXPECT_EQ(st.calls, (Strings{"XmlLitePeekElemF ", "XmlLiteReadElemF ", "XmlLiteReadEndElemF ",
                               "XmlLiteGetElemNameToBufF 32", "XmlLiteGetAttrValueToBufF id,20",
                               "XmlLiteGetAttrValueToBufF id,256", "XmlLiteGetElemValueToBufF 32",
                               "XmlLiteSkipLevelF "}));
  // A number longer than the 256-byte scratch does not fit: false, untouched.
  st.attrs["long"] = std::string(300, '7');
  EXPECT_FALSE(r->GetAttrValueToIntB(S("long"), &v));
  EXPECT_FALSE(r->GetAttrValueToIntB(S("missing"), &v));
  EXPECT_EQ(v, 17);
  for (int code : {30, 44, 76, 255, 1}) {
    for (const char* fn : {"XmlLiteReadElemF", "XmlLiteReadEndElemF", "XmlLiteSkipLevelF"})
      st.status[fn] = code;
    EXPECT_FALSE(r->SelectElemB() || r->EndElemB() || r->SkipLevelB());
  }

  Ptr w = Writer(false);
  EXPECT_TRUE(w->WriteStartElemNsB(S("p"), S("root"), S("urn:x")));
  EXPECT_TRUE(w->WriteStartElemB(S("child")));
  EXPECT_TRUE(w->WriteAttrNsB(S("p"), S("a"), S("urn:x"), S("1")));
  EXPECT_TRUE(w->WriteAttrB(S("b"), S("2")));
  EXPECT_TRUE(w->WriteIntAttrNsB(S("p"), S("n"), S("urn:x"), -5));
  EXPECT_TRUE(w->WriteIntAttrB(S("m"), INT_MIN));
  EXPECT_TRUE(w->WriteValueB(S("text")));
  EXPECT_TRUE(w->EndElemB());  // a writer's end closes the open element
  w->FlushV();
  st.memText = "<doc>x</doc>";
  EXPECT_EQ(Text(*w), "<doc>x</doc>");
  EXPECT_EQ(st.calls, (Strings{"XmlLiteWriteStartElemF p,root,urn:x",
                               "XmlLiteWriteStartElemF (null),child,(null)",
                               "XmlLiteWriteAttrF p,a,urn:x,1", "XmlLiteWriteAttrF (null),b,(null),2",
                               "XmlLiteWriteAttrF p,n,urn:x,-5",
                               "XmlLiteWriteAttrF (null),m,(null),-2147483648",
                               "XmlLiteWriteValueF text", "XmlLiteWriteEndElemF ",
                               "XmlLiteGetMemF "}));
  st.status["XmlLiteWriteAttrF"] = 255;
  EXPECT_FALSE(w->WriteAttrB(S("bad name"), S("x")));
  unsigned int size = 77;
  st.status["XmlLiteGetMemF"] = 1;
  EXPECT_EQ(w->AllocMemP(&size), nullptr);

  // Operations of the other kind are false without a call; so is a reader's
  // AllocMemP.
  st.calls.clear();
  char keep[16] = "keep";
  EXPECT_FALSE(r->WriteStartElemB(S("a")) || r->WriteAttrB(S("a"), S("b")) ||
               r->WriteIntAttrB(S("a"), 1) || r->WriteValueB(S("t")));
  EXPECT_FALSE(w->SelectElemB() || w->PeekElemB() || w->SkipLevelB() ||
               w->GetElemNameToBufB(keep, 16) || w->GetAttrValueToIntB(S("a"), &v) ||
               w->GetElemValueToBufB(keep, 16));
  EXPECT_EQ(r->AllocMemP(&size), nullptr);
  EXPECT_STREQ(keep, "keep");
  EXPECT_EQ(v, 17);
  EXPECT_EQ(size, 77u);
  r.reset();
  w.reset();
  EXPECT_EQ(st.calls, (Strings{"XmlLiteCloseReaderF ", "XmlLiteCloseWriterF "}));
}

// ---- Document engine ---------------------------------------------------------

class DomEngine : public Fixture {};

// The cursor stack around peeks; the walk itself is checked over the real
// document class.
TEST_F(DomEngine, PeekingAndTheEmptyStack) {
  Ptr r = Reader("<?xml version='1.0'?><r><!--c--><a/><f/></r>", true);
  EXPECT_TRUE(Dom(r).PeekPending());
  EXPECT_TRUE(r->PeekElemB() && r->PeekElemB());
  EXPECT_TRUE(r->SelectElemB());  // takes the peeked r without moving
  EXPECT_FALSE(Dom(r).PeekPending());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB() && r->EndElemB());  // a
  // An end right after a peek pops the peeked element; the pending flag stays.
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_EQ(Name(*r), "f");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(Dom(r).PeekPending());
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Dom(r).StackTop(), -1);
  // Every operation answers false once the stack is empty.
  char buf[8] = "keep";
  int v = 3;
  EXPECT_FALSE(r->SelectElemB() || r->PeekElemB() || r->EndElemB() ||
               r->GetElemNameToBufB(buf, 8) || r->GetAttrValueToBufB(S("x"), buf, 8) ||
               r->GetAttrValueToIntB(S("x"), &v) || r->GetElemValueToBufB(buf, 8) ||
               r->SkipLevelB());
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(v, 3);
}

TEST_F(DomEngine, WritesOnceAndSurvivesFailures) {
  Ptr w = Writer(true);
  char buf[8] = "keep";
  EXPECT_FALSE(w->GetElemNameToBufB(buf, 8) || w->WriteAttrB(S("a"), S("b")) ||
               w->WriteValueB(S("t")) || w->EndElemB());  // nothing started yet
  st.fail = {"putroot"};
  EXPECT_FALSE(w->WriteStartElemB(S("r")));
  EXPECT_EQ(Dom(w).StackTop(), -1);
  st.fail.clear();
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  st.fail = {"append"};
  EXPECT_FALSE(w->WriteStartElemB(S("c")));
  EXPECT_EQ(Name(*w), "r");
  st.fail.clear();
  // The document is written once; later calls do not save again.
  EXPECT_EQ(Text(*w), "<r/>");
  EXPECT_EQ(Text(*w), "<r/>");
  w->FlushV();
  w.reset();
  EXPECT_EQ(st.saveCalls, 1);
  // A second document element goes through PutRootElementF again.
  w = Writer(true);
  ASSERT_TRUE(w->WriteStartElemB(S("first")) && w->EndElemB() && w->WriteStartElemB(S("second")));
  EXPECT_EQ(st.putRootCalls, 4);
  EXPECT_EQ(Text(*w), "<second/>");
  // A failing save reaches the caller once; later calls and the destructor
  // do not try again.
  w = Writer(true);
  st.fail = {"save"};
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  EXPECT_THROW(w->FlushV(), fake::DomError);
  EXPECT_EQ(Text(*w), "");
  w->FlushV();
  w.reset();
  EXPECT_EQ(st.saveCalls, 3);
  // A failing final save in the destructor stays inside; everything is
  // released all the same (the fixture checks).
  w = Writer(true);
  ASSERT_TRUE(w->WriteStartElemB(S("r")) && w->WriteStartElemB(S("open")));
  w.reset();
  EXPECT_EQ(st.saveCalls, 4);
}

TEST_F(DomEngine, StackGrowsToItsLimit) {
  // 70000 levels: the stack doubles from 128 up to 65536 entries and stops.
  std::string doc;
  for (int i = 0; i < 70000; ++i) doc += "<e>";
  for (int i = 0; i < 70000; ++i) doc += "</e>";
  {
    Ptr r = Reader(doc.c_str(), true);
    EXPECT_EQ(Dom(r).StackCapacity(), 128u);
    for (int i = 0; i < 128; ++i) ASSERT_TRUE(r->SelectElemB());
    fake::failNothrowAt = 1;  // the larger array cannot be had: nothing changes
    EXPECT_FALSE(r->SelectElemB());
    EXPECT_EQ(Dom(r).StackCapacity(), 128u);
    EXPECT_EQ(Dom(r).StackTop(), 127);
    fake::failNothrowAt = 0;
  }
  Ptr r = Reader(doc.c_str(), true);
  int entered = 0;
  while (r->SelectElemB()) ++entered;
  EXPECT_EQ(entered, 65536);
  EXPECT_EQ(Dom(r).StackCapacity(), 65536u);
  EXPECT_EQ(Dom(r).StackTop(), 65535);
  EXPECT_TRUE(r->EndElemB());  // leaves the deepest element that was entered
  EXPECT_EQ(Dom(r).StackTop(), 65534);
  EXPECT_FALSE(r->SelectElemB());  // the cursor already stands on the child
  r.reset();

  Ptr w = Writer(true);
  for (int i = 0; i < 65536; ++i) ASSERT_TRUE(w->WriteStartElemB(S(i ? "e" : "top"))) << i;
  EXPECT_FALSE(w->WriteStartElemB(S("over")));  // added to the document, not entered
  EXPECT_EQ(Dom(w).StackTop(), 65535);
  EXPECT_TRUE(w->WriteAttrB(S("a"), S("1")));  // applies to the enclosing element
  EXPECT_EQ(st.domCalls.back(), "AppendAttributeF e,a");
}

// ---- Factories --------------------------------------------------------------

class Factories : public Fixture {};

TEST_F(Factories, EngineChoice) {
  for (BOOL found : {1, 0}) {
    for (bool force : {false, true}) {
      fake::Reset();
      st.dllFound = found;
      XmlInterface* p = nullptr;
      ASSERT_EQ(XmlInterface::CreateReaderFromMemF(S("<r/>"), 4, &p, force), 0);
      EXPECT_EQ(dynamic_cast<XmlInterfaceToLite*>(p) != nullptr, found && !force);
      EXPECT_EQ(dynamic_cast<XmlInterfaceToDOM*>(p) != nullptr, !found || force);
      delete p;
      ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false, force, nullptr), 0);
      EXPECT_EQ(dynamic_cast<XmlInterfaceToLite*>(p) != nullptr, found && !force);
      delete p;
      // The probe is asked on every call that could take the streaming engine.
      EXPECT_EQ(st.probeCalls, force ? 0 : 2);
    }
  }
}

std::string TempFile(const char* content) {
  char path[] = "/tmp/twxml_xmlif_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content, std::strlen(content)), static_cast<ssize_t>(std::strlen(content)));
  close(fd);
  return path;
}

// What each factory asks of the layers below on success.
TEST_F(Factories, CallsBelow) {
  std::string path = TempFile("<r><a/></r>");
  char* file = S(path.c_str());
  char text[] = "<r><a/></r>GARBAGE";
  XmlInterface* p = nullptr;
  for (bool dom : {false, true}) {
    ASSERT_EQ(XmlInterface::CreateReaderFromFileF(file, &p, dom), 0);
    EXPECT_TRUE(p->SelectElemB() && p->SelectElemB());
    delete p;
    // Only length bytes count on the document path; the streaming path reads
    // to the zero.
    ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, dom ? 11 : 3, &p, dom), 0);
    delete p;
  }
  // A file takes UTF-8 whatever was asked; the short forms are not forced and
  // name no encoding.
  for (bool dom : {false, true}) {
    ASSERT_EQ(XmlInterface::CreateWriterToFileF(file, &p, true, dom, S("ISO-8859-1")), 0);
    delete p;
    ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, !dom, dom, S(dom ? nullptr : "windows-1252")), 0);
    delete p;
  }
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false), 0);
  delete p;
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(file, &p, false), 0);
  delete p;
  EXPECT_EQ(st.calls,
            (Strings{"XmlLiteCreateFileReaderH " + path, "XmlLiteReadElemF ", "XmlLiteReadElemF ",
                     "XmlLiteCloseReaderF ", "XmlLiteCreateMemReaderH <r><a/></r>GARBAGE",
                     "XmlLiteCloseReaderF ", "XmlLiteCreateFileWriterH " + path + ",1,UTF-8",
                     "XmlLiteCloseWriterF ", "XmlLiteCreateMemWriterH 1,windows-1252",
                     "XmlLiteCloseWriterF ", "XmlLiteCreateMemWriterH 0,(null)",
                     "XmlLiteCloseWriterF ", "XmlLiteCreateFileWriterH " + path + ",0,UTF-8",
                     "XmlLiteCloseWriterF "}));
  EXPECT_EQ(st.domCalls, (Strings{"file " + path + ",0", "mem buffer,11,,0,0",
                                  "file " + path + ",2", "SetEncodingF ISO-8859-1",
                                  "mem (null),32768,,1,1", "SetEncodingF (null)"}));

  // A memory stream creator that answers 0 without a stream: a writer that
  // keeps its document in memory only.
  fake::Reset();
  st.fail = {"memnull"};
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false, true, nullptr), 0);
  EXPECT_TRUE(p->WriteStartElemB(S("r")));
  EXPECT_EQ(p->AllocMemP(nullptr), nullptr);
  p->FlushV();
  delete p;
  EXPECT_EQ(st.saveCalls, 0);
  std::remove(file);
}

// Every failure below: its status, a null result, nothing left over, and no
// second try on the other engine.
TEST_F(Factories, Failures) {
  std::string path = TempFile("<r/>");
  enum Kind { kFileReader, kMemReader, kFileWriter, kMemWriter };
  struct {
    const char* fail;
    Kind kind;
    bool dom;
    int status, parserCalls;
  } cases[] = {
      {"create", kFileReader, false, 12, 0},    {"create", kMemReader, false, 12, 0},
      {"create", kFileWriter, false, 12, 0},    {"create", kMemWriter, false, 12, 0},
      {"filestream", kFileReader, true, 12, 0}, {"filestream", kFileWriter, true, 12, 0},
      {"parser", kFileReader, true, 30, 1},     {"parser", kMemReader, true, 30, 1},
      {"parser", kFileWriter, true, 30, 1},     {"parser", kMemWriter, true, 30, 1},
      {"noroot", kMemReader, true, 12, 1},      {"memnull", kMemReader, true, 1, 0},
      {"memstatus", kMemReader, true, 7, 0},    {"memstatus", kMemWriter, true, 7, 0},
      {"malformed", kMemReader, true, 12, 1},   {"nothrow1", kMemReader, false, 1, 0},
      {"nothrow1", kMemWriter, false, 1, 0},    {"nothrow1", kMemReader, true, 1, 1},
      {"nothrow1", kMemWriter, true, 1, 1},     {"nothrow2", kMemReader, true, 1, 1},
      {"nothrow2", kMemWriter, true, 1, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::string(c.fail) + " kind " + std::to_string(c.kind) + (c.dom ? " dom" : ""));
    fake::Reset();
    st.fail = {c.fail};
    if (st.fail.count("memstatus")) st.memStreamStatus = 7;
    // The engine object, then (document engine) its stack array.
    if (std::strncmp(c.fail, "nothrow", 7) == 0) fake::failNothrowAt = c.fail[7] - '0';
    char* text = S(st.fail.count("malformed") ? "<r>" : "<r/>");
    char* file = S(path.c_str());
    XmlInterface* p = kSentinel;
    int status = 0;
    switch (c.kind) {
      case kFileReader: status = XmlInterface::CreateReaderFromFileF(file, &p, c.dom); break;
      case kMemReader: status = XmlInterface::CreateReaderFromMemF(text, std::strlen(text), &p, c.dom); break;
      case kFileWriter: status = XmlInterface::CreateWriterToFileF(file, &p, false, c.dom, nullptr); break;
      case kMemWriter: status = XmlInterface::CreateWriterToMemF(&p, false, c.dom, nullptr); break;
    }
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(st.getParserCalls, c.parserCalls);
    EXPECT_EQ(st.live, 0);  // a stream made before the failure is deleted
  }
  // Not well-formed: the streaming path makes a reader all the same.
  fake::Reset();
  XmlInterface* p = nullptr;
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(S("<r>"), 3, &p), 0);
  delete p;
  std::remove(path.c_str());
}

}  // namespace
