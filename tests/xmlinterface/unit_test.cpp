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

std::string TempFile(const char* content) {
  char path[] = "/tmp/twxml_xmlif_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, content, std::strlen(content)), static_cast<ssize_t>(std::strlen(content)));
  close(fd);
  return path;
}

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  // Everything an object or factory made has been given back.
  void TearDown() override {
    EXPECT_EQ(st.openHandles, 0);
    EXPECT_EQ(st.liveObjects, 0);
  }
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

// ---- The class's own members ----------------------------------------------

// Answers GetElemNameToBufB from a fixed name, failing (with the text cut)
// when it does not fit, as the narrowing routines do; records the steps.
class NameOnly : public XmlInterface {
 public:
  explicit NameOnly(std::string name) : name_(std::move(name)) {}
  std::vector<int> steps;
  bool ReadElemB(bool peek) override {
    steps.push_back(peek);
    return true;
  }
  bool GetElemNameToBufB(char* buffer, unsigned int size) override {
    if (size == 0) return false;
    std::strncpy(buffer, name_.c_str(), size - 1)[size - 1] = '\0';
    return name_.size() < size;
  }
#define NO(ret, name, ...) \
  ret name(__VA_ARGS__) override { return {}; }
  NO(bool, EndElemB)
  NO(bool, GetAttrValueToBufB, char*, char*, unsigned int)
  NO(bool, GetAttrValueToIntB, char*, int*)
  NO(bool, GetElemValueToBufB, char*, unsigned int)
  NO(bool, SkipLevelB)
  NO(bool, WriteStartElemNsB, char*, char*, char*)
  NO(bool, WriteStartElemB, char*)
  NO(bool, WriteAttrNsB, char*, char*, char*, char*)
  NO(bool, WriteAttrB, char*, char*)
  NO(bool, WriteIntAttrNsB, char*, char*, char*, int)
  NO(bool, WriteIntAttrB, char*, int)
  NO(bool, WriteValueB, char*)
  NO(char*, AllocMemP, unsigned int*)
#undef NO
  void FlushV() override {}

 private:
  std::string name_;
};

TEST(XmlInterfaceMembers, PeekSelectExtractAndIsThisName) {
  NameOnly stepper("a");
  EXPECT_TRUE(stepper.PeekElemB());
  EXPECT_TRUE(stepper.SelectElemB());
  EXPECT_EQ(stepper.steps, (std::vector<int>{1, 0}));

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
    NameOnly x(c.element);
    char buffer[64] = "#";
    EXPECT_EQ(x.ExtractNameB(S(c.leading), buffer, c.size), c.result);
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
    NameOnly x(c.element);
    EXPECT_EQ(x.IsThisNameB(S(c.leading), S(c.name)), c.result);
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

class LiteEngine : public Fixture {};

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

TEST_F(DomEngine, SteppingAndPeeking) {
  Ptr r = Reader("<?xml version='1.0'?><r>t1<!--c--><a/><b>x<c/></b><d><e/></d><f/></r>", true);
  EXPECT_TRUE(Dom(r).PeekPending());
  EXPECT_TRUE(r->PeekElemB() && r->PeekElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());  // takes the peeked r without moving
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());  // text and comments never stop a step
  EXPECT_EQ(Name(*r), "a");
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "c");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_TRUE(r->EndElemB());  // closes b
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_EQ(Name(*r), "d");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "d");
  EXPECT_TRUE(r->SelectElemB());  // the child comes next
  EXPECT_EQ(Name(*r), "e");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_TRUE(r->EndElemB());
  // An end right after a peek pops the peeked element; the pending flag stays.
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_EQ(Name(*r), "f");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "r");
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

TEST_F(DomEngine, WriterBuildsTheDocument) {
  Ptr w = Writer(true);
  char buf[8] = "keep";
  EXPECT_FALSE(w->GetElemNameToBufB(buf, 8) || w->WriteAttrB(S("a"), S("b")) ||
               w->WriteValueB(S("t")) || w->EndElemB());  // nothing started yet
  EXPECT_TRUE(w->WriteStartElemNsB(S("p"), S("root"), S("urn:p")));
  EXPECT_TRUE(w->WriteStartElemNsB(S("  "), S("plain"), nullptr));  // a blank prefix is none
  EXPECT_TRUE(w->WriteAttrNsB(S("q"), S("a"), S("urn:ignored"), S("1")));
  EXPECT_TRUE(w->WriteIntAttrNsB(S("q"), S("n"), S("urn:ignored"), -5));
  EXPECT_TRUE(w->WriteIntAttrB(S("m"), 42));
  // Refused names reach the caller; an empty prefix is joined all the same.
  EXPECT_THROW(w->WriteAttrNsB(S(""), S("x"), nullptr, S("1")), fake::DomError);
  EXPECT_THROW(w->WriteIntAttrNsB(S(""), S("y"), nullptr, 1), fake::DomError);
  EXPECT_TRUE(w->WriteValueB(S("text")));
  EXPECT_EQ(Name(*w), "plain");  // read operations read the open element
  EXPECT_FALSE(w->SelectElemB());
  EXPECT_TRUE(w->EndElemB());
  EXPECT_TRUE(w->WriteStartElemB(S("empty")));
  EXPECT_TRUE(w->EndElemB());
  EXPECT_TRUE(w->EndElemB());
  EXPECT_FALSE(w->EndElemB());
  EXPECT_EQ(st.domCalls,
            (Strings{"mem (null),32768,,1,1", "SetEncodingF (null)", "CreateElementP p:root,urn:p", "CreateElementP plain,(null)",
                     "AppendAttributeF q:a", "AppendAttributeF q:n", "AppendAttributeF m",
                     "AppendAttributeF :x", "AppendAttributeF :y", "CreateElementP empty,(null)"}));
  // The document is written once; later elements never reach the output.
  std::string first = Text(*w);
  EXPECT_EQ(first, "<?xml version='1.0' encoding='UTF-8'?><p:root><plain q:a=\"1\" q:n=\"-5\" "
                   "m=\"42\">text</plain><empty/></p:root>");
  ASSERT_TRUE(w->WriteStartElemB(S("later")));
  EXPECT_EQ(Text(*w), first);
  w->FlushV();
  w.reset();
  EXPECT_EQ(st.saveCalls, 1);

  // A second document element goes through PutRootElementF again.
  st.putRootCalls = 0;
  w = Writer(true, "ISO-8859-1");
  ASSERT_TRUE(w->WriteStartElemB(S("first")) && w->EndElemB() && w->WriteStartElemB(S("second")));
  EXPECT_EQ(st.putRootCalls, 2);
  EXPECT_EQ(Text(*w), "<?xml version='1.0' encoding='ISO-8859-1'?><second/>");
}

TEST_F(DomEngine, FailedAppendsAndSaves) {
  Ptr w = Writer(true);
  st.putRootFails = true;
  EXPECT_FALSE(w->WriteStartElemB(S("r")));
  EXPECT_EQ(Dom(w).StackTop(), -1);
  st.putRootFails = false;
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  st.appendFails = true;
  EXPECT_FALSE(w->WriteStartElemB(S("c")));
  EXPECT_EQ(Name(*w), "r");
  st.appendFails = false;
  // A failing save reaches the caller once; later calls and the destructor
  // do not try again.
  st.saveThrows = true;
  EXPECT_THROW(w->FlushV(), fake::DomError);
  EXPECT_EQ(Text(*w), "");
  w->FlushV();
  w.reset();
  EXPECT_EQ(st.saveCalls, 1);
  // A failing final save in the destructor stays inside; everything is
  // released all the same (the fixture checks).
  w = Writer(true);
  ASSERT_TRUE(w->WriteStartElemB(S("r")) && w->WriteStartElemB(S("open")));
  w.reset();
  EXPECT_EQ(st.saveCalls, 2);
}

TEST_F(DomEngine, StackGrowsToItsLimit) {
  // 70000 levels: the stack doubles from 128 up to 65536 entries and stops.
  std::string doc;
  for (int i = 0; i < 70000; ++i) doc += "<e>";
  for (int i = 0; i < 70000; ++i) doc += "</e>";
  for (bool failGrowth : {true, false}) {
    Ptr r = Reader(doc.c_str(), true);
    EXPECT_EQ(Dom(r).StackCapacity(), 128u);
    for (int i = 0; i < 128; ++i) ASSERT_TRUE(r->SelectElemB());
    if (!failGrowth) break;
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
  for (int i = 0; i < 65536; ++i) ASSERT_TRUE(w->WriteStartElemB(S("e"))) << i;
  EXPECT_FALSE(w->WriteStartElemB(S("over")));  // added to the document, not entered
  EXPECT_EQ(Dom(w).StackTop(), 65535);
  EXPECT_TRUE(w->WriteAttrB(S("a"), S("1")));  // applies to the enclosing element
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

TEST_F(Factories, Readers) {
  for (bool force : {false, true}) {
    XmlInterface* p = kSentinel;
    EXPECT_EQ(XmlInterface::CreateReaderFromFileF(S("/nonexistent/dir/f.xml"), &p, force), 30);
    EXPECT_EQ(XmlInterface::CreateReaderFromFileF(nullptr, &p, force), 30);
    EXPECT_EQ(p, kSentinel);  // untouched on this path
  }
  EXPECT_TRUE(st.calls.empty() && st.domCalls.empty());

  std::string path = TempFile("<r><a/></r>");
  XmlInterface* p = nullptr;
  ASSERT_EQ(XmlInterface::CreateReaderFromFileF(S(path.c_str()), &p), 0);
  EXPECT_NE(dynamic_cast<XmlInterfaceToLite*>(p), nullptr);
  delete p;
  ASSERT_EQ(XmlInterface::CreateReaderFromFileF(S(path.c_str()), &p, true), 0);
  EXPECT_TRUE(p->SelectElemB() && p->SelectElemB());
  EXPECT_EQ(Name(*p), "a");
  delete p;
  EXPECT_EQ(st.domCalls.back(), "file " + path + ",0");
  // Only length bytes count on the document path; the streaming path reads
  // to the zero.
  char text[] = "<r><a/></r>GARBAGE";
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, 11, &p, true), 0);
  delete p;
  EXPECT_EQ(st.domCalls.back(), "mem buffer,11,,0,0");
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, 3, &p), 0);
  delete p;
  EXPECT_EQ(st.calls.back(), "XmlLiteCloseReaderF ");
  EXPECT_EQ(st.calls.end()[-2], "XmlLiteCreateMemReaderH <r><a/></r>GARBAGE");
  // Not well-formed: 12 at once on the document path; the streaming path
  // makes a reader.
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r>"), 3, &p, true), 12);
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(S("<r>"), 3, &p), 0);
  delete p;
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r/>"), 4, nullptr), 30);

  // Failures below: the status, a null result, nothing left over, and no
  // second try on the other engine.
  struct {
    const char* what;
    bool* flag;
    bool file, dom;
    int status, parserCalls;
  } cases[] = {
      {"handle", &st.createFails, true, false, 12, 0},
      {"handle", &st.createFails, false, false, 12, 0},
      {"file stream", &st.fileStreamFails, true, true, 12, 0},
      {"parser", &st.parserFails, true, true, 30, 1},
      {"parser", &st.parserFails, false, true, 30, 1},
      {"no root", &st.loadNoRoot, false, true, 12, 1},
      {"null stream", &st.memStreamNull, false, true, 1, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + (c.file ? " file" : " memory"));
    fake::Reset();
    *c.flag = true;
    p = kSentinel;
    int status = c.file ? XmlInterface::CreateReaderFromFileF(S(path.c_str()), &p, c.dom)
                        : XmlInterface::CreateReaderFromMemF(text, 11, &p, c.dom);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(st.getParserCalls, c.parserCalls);
    EXPECT_EQ(st.liveObjects, 0);
  }
  fake::Reset();
  st.memStreamStatus = 7;
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(text, 11, &p, true), 7);
  EXPECT_EQ(p, nullptr);
  std::remove(path.c_str());
}

TEST_F(Factories, Writers) {
  XmlInterface* p = nullptr;
  std::string path = TempFile("");
  char* out = S(path.c_str());
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(out, &p, true, false, S("ISO-8859-1")), 0);
  delete p;
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, true, false, S("ISO-8859-1")), 0);
  delete p;
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false), 0);  // short forms: not forced,
  delete p;                                                    // no encoding
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(out, &p, false), 0);
  delete p;
  // A file takes UTF-8 whatever was asked.
  EXPECT_EQ(st.calls, (Strings{"XmlLiteCreateFileWriterH " + path + ",1,UTF-8",
                               "XmlLiteCloseWriterF ", "XmlLiteCreateMemWriterH 1,ISO-8859-1",
                               "XmlLiteCloseWriterF ", "XmlLiteCreateMemWriterH 0,(null)",
                               "XmlLiteCloseWriterF ",
                               "XmlLiteCreateFileWriterH " + path + ",0,UTF-8",
                               "XmlLiteCloseWriterF "}));
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(out, &p, true, true, S("windows-1252")), 0);
  delete p;
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, true, true, nullptr), 0);
  delete p;
  EXPECT_EQ(st.domCalls, (Strings{"file " + path + ",2", "SetEncodingF windows-1252",
                                  "mem (null),32768,,1,1", "SetEncodingF (null)"}));

  struct {
    const char* what;
    void (*setup)();
    bool file, dom;
    int status, parserCalls;
  } cases[] = {
      {"handle", [] { st.createFails = true; }, false, false, 12, 0},
      {"handle", [] { st.createFails = true; }, true, false, 12, 0},
      {"file stream", [] { st.fileStreamFails = true; }, true, true, 12, 0},
      {"memory stream", [] { st.memStreamStatus = 12; }, false, true, 12, 0},
      {"parser", [] { st.parserFails = true; }, false, true, 30, 1},
      {"parser", [] { st.parserFails = true; }, true, true, 30, 1},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + (c.file ? " file" : " memory"));
    fake::Reset();
    c.setup();
    p = kSentinel;
    int status = c.file ? XmlInterface::CreateWriterToFileF(out, &p, false, c.dom, nullptr)
                        : XmlInterface::CreateWriterToMemF(&p, false, c.dom, nullptr);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(st.getParserCalls, c.parserCalls);
    EXPECT_EQ(st.liveObjects, 0);  // a stream made before the failure is deleted
  }

  // A memory stream creator that answers 0 without a stream: a writer that
  // keeps its document in memory only.
  fake::Reset();
  st.memStreamNull = true;
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false, true, nullptr), 0);
  EXPECT_TRUE(p->WriteStartElemB(S("r")));
  EXPECT_EQ(p->AllocMemP(nullptr), nullptr);
  p->FlushV();
  delete p;
  EXPECT_EQ(st.saveCalls, 0);
  std::remove(out);
}

TEST_F(Factories, AllocationFailures) {
  // The engine object, then (document engine) its stack array.
  for (bool force : {false, true}) {
    for (int at = 1; at <= (force ? 2 : 1); ++at) {
      SCOPED_TRACE(std::to_string(force) + " " + std::to_string(at));
      XmlInterface* p = kSentinel;
      fake::failNothrowAt = at;
      EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r/>"), 4, &p, force), 1);
      EXPECT_EQ(p, nullptr);
      p = kSentinel;
      fake::failNothrowAt = at;
      EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, false, force, nullptr), 1);
      EXPECT_EQ(p, nullptr);
    }
  }
  fake::failNothrowAt = 0;
}

}  // namespace
