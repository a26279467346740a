// The XmlInterface class, both engines and the factories over recording
// stand-ins: which call each operation makes, how answers map to results,
// the DOM engine's stack of cursors, and every status of the factories.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dom_engine.h"
#include "fake_platform.h"
#include "lite_engine.h"

namespace {

using fake::dom;
using fake::lite;

char* S(const char* text) { return const_cast<char*>(text); }

struct Deleter {
  void operator()(XmlInterface* p) const { delete p; }
};
using Ptr = std::unique_ptr<XmlInterface, Deleter>;

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  void TearDown() override {
    // Everything an object or factory made has been given back.
    EXPECT_EQ(lite.openReaders, 0);
    EXPECT_EQ(lite.openWriters, 0);
    EXPECT_EQ(dom.liveParsers, 0);
    EXPECT_EQ(dom.liveNodes, 0);
    EXPECT_EQ(dom.liveStreams, 0);
  }

  Ptr DomReader(const std::string& text) {
    XmlInterface* p = nullptr;
    int status = XmlInterface::CreateReaderFromMemF(S(text.c_str()), text.size(), &p, true);
    EXPECT_EQ(status, 0);
    return Ptr(p);
  }

  Ptr DomWriter(char* encoding = nullptr) {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, false, true, encoding), 0);
    return Ptr(p);
  }

  static std::string Name(XmlInterface& x) {
    char buf[128] = "?";
    if (!x.GetElemNameToBufB(buf, sizeof buf)) return "<false>";
    return buf;
  }

  static std::string Text(XmlInterface* x) {
    unsigned int size = 0;
    char* text = x->AllocMemP(&size);
    if (text == nullptr) return "<null>";
    std::string out(text, size);
    MemFreeF(text);
    return out;
  }
};

// ---- The class's own members ----------------------------------------------

// Answers GetElemNameToBufB from a fixed name, failing (with the text cut)
// when it does not fit, as the narrowing routines do; records the steps.
class NameOnly : public XmlInterface {
 public:
  explicit NameOnly(std::string name) : name_(std::move(name)) {}
  std::vector<int> steps;
  bool ReadElemB(bool peek) override {
    steps.push_back(peek ? 1 : 0);
    return true;
  }
  bool EndElemB() override { return false; }
  bool GetElemNameToBufB(char* buffer, unsigned int size) override {
    if (size == 0) return false;
    size_t n = std::min<size_t>(name_.size(), size - 1);
    std::memcpy(buffer, name_.data(), n);
    buffer[n] = '\0';
    return name_.size() < size;
  }
  bool GetAttrValueToBufB(char*, char*, unsigned int) override { return false; }
  bool GetAttrValueToIntB(char*, int*) override { return false; }
  bool GetElemValueToBufB(char*, unsigned int) override { return false; }
  bool SkipLevelB() override { return false; }
  bool WriteStartElemNsB(char*, char*, char*) override { return false; }
  bool WriteStartElemB(char*) override { return false; }
  bool WriteAttrNsB(char*, char*, char*, char*) override { return false; }
  bool WriteAttrB(char*, char*) override { return false; }
  bool WriteIntAttrNsB(char*, char*, char*, int) override { return false; }
  bool WriteIntAttrB(char*, int) override { return false; }
  bool WriteValueB(char*) override { return false; }
  char* AllocMemP(unsigned int*) override { return nullptr; }
  void FlushV() override {}

 private:
  std::string name_;
};

TEST(XmlInterfaceMembers, PeekAndSelectStepThroughReadElem) {
  NameOnly x("a");
  EXPECT_TRUE(x.PeekElemB());
  EXPECT_TRUE(x.SelectElemB());
  EXPECT_EQ(x.steps, (std::vector<int>{1, 0}));
}

TEST(XmlInterfaceMembers, ExtractName) {
  struct Case {
    const char* element;
    const char* leading;
    unsigned int size;
    bool result;
    const char* buffer;  // what the buffer holds afterwards ("#" = untouched)
  } cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.element) + " / " + (c.leading ? c.leading : "(null)"));
    NameOnly x(c.element);
    char buffer[64];
    std::strcpy(buffer, "#");
    EXPECT_EQ(x.ExtractNameB(S(c.leading), buffer, c.size), c.result);
    EXPECT_STREQ(buffer, c.buffer);
  }
}

TEST(XmlInterfaceMembers, IsThisName) {
  struct Case {
    const char* element;
    const char* leading;
    const char* name;
    bool result;
  } cases[] = {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.element) + " / " + (c.name ? c.name : "(null)"));
    NameOnly x(c.element);
    EXPECT_EQ(x.IsThisNameB(S(c.leading), S(c.name)), c.result);
  }
}

// ---- Streaming engine --------------------------------------------------------

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

class LiteEngine : public Fixture {
 protected:
  Ptr Reader() {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r/>"), 4, &p), 0);
    lite.calls.clear();
    return Ptr(p);
  }
  Ptr Writer() {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, false), 0);
    lite.calls.clear();
    return Ptr(p);
  }
};

TEST_F(LiteEngine, ReaderOperationsAreOneHandleCallEach) {
  Ptr r = Reader();
  char buf[32];
  int v = 0;
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_TRUE(r->GetElemNameToBufB(buf, 32));
  EXPECT_STREQ(buf, "elem");
  lite.attrs["id"] = "17";
  EXPECT_TRUE(r->GetAttrValueToBufB(S("id"), buf, 20));
  EXPECT_STREQ(buf, "17");
  EXPECT_TRUE(r->GetAttrValueToIntB(S("id"), &v));
  EXPECT_EQ(v, 17);
  EXPECT_TRUE(r->GetElemValueToBufB(buf, 32));
  EXPECT_STREQ(buf, "value");
  EXPECT_TRUE(r->SkipLevelB());
  EXPECT_EQ(lite.calls, (std::vector<std::string>{
                            "XmlLitePeekElemF ", "XmlLiteReadElemF ", "XmlLiteReadEndElemF ",
                            "XmlLiteGetElemNameToBufF 32", "XmlLiteGetAttrValueToBufF id,20",
                            "XmlLiteGetAttrValueToBufF id,256", "XmlLiteGetElemValueToBufF 32",
                            "XmlLiteSkipLevelF "}));

  // Any non-zero answer is false, whatever the code.
  for (int code : {30, 44, 76, 255, 1}) {
    lite.status["XmlLiteReadElemF"] = code;
    lite.status["XmlLiteReadEndElemF"] = code;
    lite.status["XmlLiteSkipLevelF"] = code;
    EXPECT_FALSE(r->SelectElemB());
    EXPECT_FALSE(r->EndElemB());
    EXPECT_FALSE(r->SkipLevelB());
  }
}

TEST_F(LiteEngine, AttributeNumbers) {
  Ptr r = Reader();
  int v = 99;
  lite.attrs["a"] = "12abc";
  lite.attrs["b"] = "abc";
  EXPECT_TRUE(r->GetAttrValueToIntB(S("a"), &v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(r->GetAttrValueToIntB(S("b"), &v));
  EXPECT_EQ(v, 0);
  v = 99;
  EXPECT_FALSE(r->GetAttrValueToIntB(S("missing"), &v));
  EXPECT_EQ(v, 99);
  // A text longer than the 256-byte scratch does not fit: false, untouched.
  lite.attrs["long"] = std::string(300, '7');
  EXPECT_FALSE(r->GetAttrValueToIntB(S("long"), &v));
  EXPECT_EQ(v, 99);
}

TEST_F(LiteEngine, WriterOperationsAreOneHandleCallEach) {
  Ptr w = Writer();
  EXPECT_TRUE(w->WriteStartElemNsB(S("p"), S("root"), S("urn:x")));
  EXPECT_TRUE(w->WriteStartElemB(S("child")));
  EXPECT_TRUE(w->WriteAttrNsB(S("p"), S("a"), S("urn:x"), S("1")));
  EXPECT_TRUE(w->WriteAttrB(S("b"), S("2")));
  EXPECT_TRUE(w->WriteIntAttrNsB(S("p"), S("n"), S("urn:x"), -5));
  EXPECT_TRUE(w->WriteIntAttrB(S("m"), INT_MIN));
  EXPECT_TRUE(w->WriteValueB(S("text")));
  EXPECT_TRUE(w->EndElemB());
  w->FlushV();
  EXPECT_EQ(lite.calls, (std::vector<std::string>{
                            "XmlLiteWriteStartElemF p,root,urn:x",
                            "XmlLiteWriteStartElemF (null),child,(null)",
                            "XmlLiteWriteAttrF p,a,urn:x,1",
                            "XmlLiteWriteAttrF (null),b,(null),2",
                            "XmlLiteWriteAttrF p,n,urn:x,-5",
                            "XmlLiteWriteAttrF (null),m,(null),-2147483648",
                            "XmlLiteWriteValueF text", "XmlLiteWriteEndElemF "}));
  lite.status["XmlLiteWriteAttrF"] = 255;
  EXPECT_FALSE(w->WriteAttrB(S("bad name"), S("x")));
}

TEST_F(LiteEngine, AllocMem) {
  Ptr w = Writer();
  lite.memText = "<doc>x</doc>";
  unsigned int size = 77;
  EXPECT_EQ(Text(w.get()), "<doc>x</doc>");
  char* text = w->AllocMemP(nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "<doc>x</doc>");
  MemFreeF(text);
  lite.status["XmlLiteGetMemF"] = 1;
  EXPECT_EQ(w->AllocMemP(&size), nullptr);
  EXPECT_EQ(size, 77u);

  Ptr r = Reader();
  EXPECT_EQ(r->AllocMemP(&size), nullptr);
  EXPECT_EQ(size, 77u);
}

TEST_F(LiteEngine, OperationsOfTheOtherKindAreFalse) {
  Ptr r = Reader();
  Ptr w = Writer();
  char buf[16] = "keep";
  int v = 5;
  EXPECT_FALSE(r->WriteStartElemB(S("a")));
  EXPECT_FALSE(r->WriteAttrB(S("a"), S("b")));
  EXPECT_FALSE(r->WriteIntAttrB(S("a"), 1));
  EXPECT_FALSE(r->WriteValueB(S("t")));
  EXPECT_FALSE(w->SelectElemB());
  EXPECT_FALSE(w->PeekElemB());
  EXPECT_FALSE(w->SkipLevelB());
  EXPECT_FALSE(w->GetElemNameToBufB(buf, 16));
  EXPECT_FALSE(w->GetAttrValueToIntB(S("a"), &v));
  EXPECT_FALSE(w->GetElemValueToBufB(buf, 16));
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(lite.calls.empty());
  // EndElemB serves both: a writer's closes the open element.
  EXPECT_TRUE(w->EndElemB());
  EXPECT_EQ(lite.calls.back(), "XmlLiteWriteEndElemF ");
}

TEST_F(LiteEngine, DeletingClosesTheHandle) {
  Ptr r = Reader();
  Ptr w = Writer();
  r.reset();
  w.reset();
  EXPECT_EQ(lite.calls, (std::vector<std::string>{"XmlLiteCloseReaderF ", "XmlLiteCloseWriterF "}));
}

// ---- DOM engine ---------------------------------------------------------------

class DomEngine : public Fixture {};

TEST_F(DomEngine, SteppingWalksElementChildren) {
  Ptr r = DomReader("<r><a/><b><c/></b></r>");
  auto& d = dynamic_cast<XmlInterfaceToDOM&>(*r);
  EXPECT_TRUE(d.PeekPending());
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "a");
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "b");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "c");
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "b");
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(d.StackTop(), -1);
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_FALSE(r->PeekElemB());
  EXPECT_FALSE(r->EndElemB());
  // Every read answers false once the stack is empty.
  char buf[8] = "keep";
  int v = 3;
  EXPECT_FALSE(r->GetElemNameToBufB(buf, 8));
  EXPECT_FALSE(r->GetAttrValueToBufB(S("x"), buf, 8));
  EXPECT_FALSE(r->GetAttrValueToIntB(S("x"), &v));
  EXPECT_FALSE(r->GetElemValueToBufB(buf, 8));
  EXPECT_FALSE(r->SkipLevelB());
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(v, 3);
}

TEST_F(DomEngine, TextCommentsAndInstructionsNeverStopAStep) {
  Ptr r = DomReader("<?xml version='1.0'?><r>t1<!--c--><a>x</a>t2<?pi d?><b/>t3</r>");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "a");
  EXPECT_TRUE(r->EndElemB());  // closes a even though its text was never read
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "b");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_FALSE(r->SelectElemB());
}

TEST_F(DomEngine, PeekKeepsTheElementPending) {
  Ptr r = DomReader("<r><a><b/></a><c/></r>");
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());  // takes r without moving
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_EQ(Name(*r), "a");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "a");
  EXPECT_TRUE(r->SelectElemB());  // the child comes next
  EXPECT_EQ(Name(*r), "b");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_TRUE(r->EndElemB());

  // An end right after a peek pops the peeked element; the pending flag stays.
  EXPECT_TRUE(r->PeekElemB());
  EXPECT_EQ(Name(*r), "c");
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "r");
  EXPECT_FALSE(r->SelectElemB());
}

TEST_F(DomEngine, NamesValuesAndAttributes) {
  Ptr r = DomReader(
      "<p:root xmlns:p='urn:p' n='12' bad='abc' pad='v  '><p:item>hello</p:item>"
      "<mixed><!--c--><k/>later</mixed><long>abcdefghij</long><utf>\xC3\xA9\xC3\xA9\xC3\xA9</utf></p:root>");
  ASSERT_TRUE(r->SelectElemB());
  EXPECT_EQ(Name(*r), "p:root");  // qualified names on this engine
  char buf[64];
  int v = 7;
  EXPECT_TRUE(r->GetAttrValueToIntB(S("n"), &v));
  EXPECT_EQ(v, 12);
  EXPECT_FALSE(r->GetAttrValueToIntB(S("bad"), &v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(r->GetAttrValueToBufB(S("pad"), buf, 64));
  EXPECT_STREQ(buf, "v");
  EXPECT_FALSE(r->GetAttrValueToBufB(S("none"), buf, 64));
  EXPECT_TRUE(r->ExtractNameB(S("P:"), buf, 64));
  EXPECT_STREQ(buf, "root");
  EXPECT_TRUE(r->IsThisNameB(S("p:"), S("ROOT")));

  ASSERT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->GetElemValueToBufB(buf, 64));
  EXPECT_STREQ(buf, "hello");
  // Attributes stay readable after the value was read.
  EXPECT_TRUE(r->EndElemB());
  EXPECT_TRUE(r->GetAttrValueToIntB(S("n"), &v));

  ASSERT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->GetElemValueToBufB(buf, 64));
  EXPECT_STREQ(buf, "later");  // the first text child wherever it stands
  EXPECT_TRUE(r->EndElemB());

  ASSERT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->GetElemValueToBufB(buf, 5));  // a value longer than the buffer
  EXPECT_STREQ(buf, "abcd");
  EXPECT_TRUE(r->EndElemB());

  ASSERT_TRUE(r->SelectElemB());
  EXPECT_TRUE(r->GetElemValueToBufB(buf, 6));  // never half a character
  EXPECT_STREQ(buf, "\xC3\xA9\xC3\xA9");
  EXPECT_TRUE(r->EndElemB());
}

TEST_F(DomEngine, WriterBuildsTheDocument) {
  Ptr w = DomWriter();
  EXPECT_EQ(dom.encodings, (std::vector<std::string>{"(null)"}));
  char buf[8] = "keep";
  EXPECT_FALSE(w->GetElemNameToBufB(buf, 8));  // nothing started yet
  EXPECT_FALSE(w->WriteAttrB(S("a"), S("b")));
  EXPECT_FALSE(w->WriteValueB(S("t")));
  EXPECT_FALSE(w->EndElemB());

  EXPECT_TRUE(w->WriteStartElemNsB(S("p"), S("root"), S("urn:p")));
  EXPECT_TRUE(w->WriteStartElemNsB(S("  "), S("plain"), nullptr));
  EXPECT_TRUE(w->WriteAttrNsB(S("q"), S("a"), S("urn:ignored"), S("1")));
  EXPECT_TRUE(w->WriteIntAttrNsB(S("q"), S("n"), S("urn:ignored"), -5));
  EXPECT_TRUE(w->WriteIntAttrB(S("m"), 42));
  EXPECT_TRUE(w->WriteValueB(S("a<b")));
  EXPECT_EQ(Name(*w), "plain");  // read operations read the open element
  EXPECT_FALSE(w->SelectElemB());
  EXPECT_TRUE(w->EndElemB());
  EXPECT_TRUE(w->WriteStartElemB(S("empty")));
  EXPECT_TRUE(w->EndElemB());
  EXPECT_TRUE(w->EndElemB());
  EXPECT_FALSE(w->EndElemB());
  EXPECT_EQ(dom.createdNames, (std::vector<std::string>{"p:root", "plain", "empty"}));
  EXPECT_EQ(dom.createdNs, (std::vector<std::string>{"urn:p", "(null)", "(null)"}));
  EXPECT_EQ(Text(w.get()),
            "<?xml version='1.0' encoding='UTF-8'?><p:root><plain q:a=\"1\" q:n=\"-5\" "
            "m=\"42\">a&lt;b</plain><empty/></p:root>");
}

TEST_F(DomEngine, RefusedAttributesReachTheCaller) {
  Ptr w = DomWriter();
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  // An empty prefix is joined all the same.
  EXPECT_THROW(w->WriteAttrNsB(S(""), S("x"), nullptr, S("1")), fake::DomError);
  EXPECT_THROW(w->WriteAttrB(S("bad name"), S("1")), fake::DomError);
  EXPECT_THROW(w->WriteIntAttrNsB(S(""), S("y"), nullptr, 1), fake::DomError);
  EXPECT_EQ(dom.attrNames, (std::vector<std::string>{":x", "bad name", ":y"}));
  EXPECT_TRUE(w->WriteAttrB(S("ok"), S("1")));  // still usable
  EXPECT_EQ(Name(*w), "r");
}

TEST_F(DomEngine, DocumentIsWrittenOnce) {
  Ptr w = DomWriter(S("ISO-8859-1"));
  EXPECT_EQ(dom.encodings, (std::vector<std::string>{"ISO-8859-1"}));
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  std::string first = Text(w.get());
  EXPECT_EQ(first, "<?xml version='1.0' encoding='ISO-8859-1'?><r/>");
  ASSERT_TRUE(w->WriteStartElemB(S("later")));
  EXPECT_EQ(Text(w.get()), first);  // never reaches the output
  w->FlushV();
  EXPECT_EQ(dom.saveCalls, 1);
  w.reset();
  EXPECT_EQ(dom.saveCalls, 1);
}

TEST_F(DomEngine, SecondDocumentElementGoesThroughPutRoot) {
  Ptr w = DomWriter();
  ASSERT_TRUE(w->WriteStartElemB(S("first")));
  ASSERT_TRUE(w->EndElemB());
  ASSERT_TRUE(w->WriteStartElemB(S("second")));
  EXPECT_EQ(dom.putRootCalls, 2);
  EXPECT_EQ(Text(w.get()), "<?xml version='1.0' encoding='UTF-8'?><second/>");
}

TEST_F(DomEngine, FailedAppendsAndSaves) {
  Ptr w = DomWriter();
  dom.putRootFails = true;
  EXPECT_FALSE(w->WriteStartElemB(S("r")));
  EXPECT_EQ(dynamic_cast<XmlInterfaceToDOM&>(*w).StackTop(), -1);
  dom.putRootFails = false;
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  dom.appendFails = true;
  EXPECT_FALSE(w->WriteStartElemB(S("c")));
  EXPECT_EQ(Name(*w), "r");
  dom.appendFails = false;

  // A failing save reaches the caller once; later calls and the destructor
  // do not try again.
  dom.saveThrows = true;
  EXPECT_THROW(w->FlushV(), fake::DomError);
  EXPECT_EQ(Text(w.get()), "");  // the stream holds nothing
  w->FlushV();
  w.reset();
  EXPECT_EQ(dom.saveCalls, 1);
}

TEST_F(DomEngine, FailedFinalSaveStillReleasesEverything) {
  Ptr w = DomWriter();
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  ASSERT_TRUE(w->WriteStartElemB(S("open")));
  dom.saveThrows = true;
  w.reset();  // must not throw; the fixture checks nothing is left
  EXPECT_EQ(dom.saveCalls, 1);
}

TEST_F(DomEngine, FileWriterWritesOnDelete) {
  char path[] = "/tmp/twxml_xmlif_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  XmlInterface* p = nullptr;
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(path, &p, true, true, S("UTF-16")), 0);
  Ptr w(p);
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  ASSERT_TRUE(w->WriteStartElemB(S("open")));
  w.reset();
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "<?xml version='1.0' encoding='UTF-16'?><r><open/></r>");
  std::remove(path);
}

TEST_F(DomEngine, StackGrowsToItsLimit) {
  // 70000 levels: the stack doubles from 128 up to 65536 entries and stops.
  const int depth = 70000;
  std::string doc;
  for (int i = 0; i < depth; ++i) doc += "<e>";
  for (int i = 0; i < depth; ++i) doc += "</e>";
  Ptr r = DomReader(doc);
  auto& d = dynamic_cast<XmlInterfaceToDOM&>(*r);
  EXPECT_EQ(d.StackCapacity(), 128u);
  int entered = 0;
  while (r->SelectElemB()) ++entered;
  EXPECT_EQ(entered, 65536);
  EXPECT_EQ(d.StackCapacity(), 65536u);
  EXPECT_EQ(d.StackTop(), 65535);
  // The end leaves the deepest element that was entered.
  EXPECT_TRUE(r->EndElemB());
  EXPECT_EQ(d.StackTop(), 65534);
  EXPECT_FALSE(r->SelectElemB());  // the cursor already stands on the sibling-less child
  r.reset();

  Ptr w = DomWriter();
  auto& dw = dynamic_cast<XmlInterfaceToDOM&>(*w);
  for (int i = 0; i < 65536; ++i) ASSERT_TRUE(w->WriteStartElemB(S("e"))) << i;
  EXPECT_FALSE(w->WriteStartElemB(S("over")));  // added to the document, not entered
  EXPECT_EQ(dw.StackTop(), 65535);
  EXPECT_TRUE(w->WriteAttrB(S("a"), S("1")));  // applies to the enclosing element
  w.reset();
}

TEST_F(DomEngine, StackGrowthFailureChangesNothing) {
  std::string doc;
  for (int i = 0; i < 130; ++i) doc += "<e>";
  for (int i = 0; i < 130; ++i) doc += "</e>";
  Ptr r = DomReader(doc);
  auto& d = dynamic_cast<XmlInterfaceToDOM&>(*r);
  for (int i = 0; i < 128; ++i) ASSERT_TRUE(r->SelectElemB());
  EXPECT_EQ(d.StackTop(), 127);
  fake::failNothrowAt = 1;  // the larger array cannot be had
  EXPECT_FALSE(r->SelectElemB());
  EXPECT_EQ(d.StackCapacity(), 128u);
  EXPECT_EQ(d.StackTop(), 127);
  fake::failNothrowAt = 0;
}

// ---- Factories --------------------------------------------------------------

class Factories : public Fixture {};

TEST_F(Factories, EngineChoice) {
  const char* doc = "<r/>";
  for (BOOL found : {1, 0}) {
    for (bool force : {false, true}) {
      fake::Reset();
      lite.dllFound = found;
      XmlInterface* p = nullptr;
      ASSERT_EQ(XmlInterface::CreateReaderFromMemF(S(doc), 4, &p, force), 0);
      bool isLite = dynamic_cast<XmlInterfaceToLite*>(p) != nullptr;
      EXPECT_EQ(isLite, found && !force);
      EXPECT_EQ(dynamic_cast<XmlInterfaceToDOM*>(p) != nullptr, !isLite);
      delete p;
      ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false, force, nullptr), 0);
      EXPECT_EQ(dynamic_cast<XmlInterfaceToLite*>(p) != nullptr, found && !force);
      delete p;
      // Forced calls need no answer, but the probe is asked on every call
      // that could take the streaming engine.
      EXPECT_EQ(lite.probeCalls, force ? 0 : 2);
    }
  }
}

TEST_F(Factories, ReaderFromFile) {
  char missing[] = "/nonexistent/dir/file.xml";
  XmlInterface* sentinel = reinterpret_cast<XmlInterface*>(0x1);
  for (bool force : {false, true}) {
    XmlInterface* p = sentinel;
    EXPECT_EQ(XmlInterface::CreateReaderFromFileF(missing, &p, force), 30);
    EXPECT_EQ(p, sentinel);  // untouched on this path
  }
  XmlInterface* p = sentinel;
  EXPECT_EQ(XmlInterface::CreateReaderFromFileF(nullptr, &p), 30);
  EXPECT_TRUE(lite.calls.empty());
  EXPECT_TRUE(dom.streamCalls.empty());

  char path[] = "/tmp/twxml_xmlif_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "<r><a/></r>", 11), 11);
  close(fd);

  ASSERT_EQ(XmlInterface::CreateReaderFromFileF(path, &p), 0);
  EXPECT_NE(dynamic_cast<XmlInterfaceToLite*>(p), nullptr);
  delete p;
  lite.createFails = true;
  p = sentinel;
  EXPECT_EQ(XmlInterface::CreateReaderFromFileF(path, &p), 12);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(dom.getParserCalls, 0);  // no second try on the other engine
  lite.createFails = false;

  ASSERT_EQ(XmlInterface::CreateReaderFromFileF(path, &p, true), 0);
  ASSERT_NE(dynamic_cast<XmlInterfaceToDOM*>(p), nullptr);
  EXPECT_TRUE(p->SelectElemB());
  EXPECT_TRUE(p->SelectElemB());
  EXPECT_EQ(Name(*p), "a");
  delete p;
  EXPECT_EQ(dom.streamCalls.back(), std::string("file ") + path + ",0");

  dom.fileStreamFails = true;
  EXPECT_EQ(XmlInterface::CreateReaderFromFileF(path, &p, true), 12);
  EXPECT_EQ(p, nullptr);
  dom.fileStreamFails = false;
  dom.parserFails = true;
  EXPECT_EQ(XmlInterface::CreateReaderFromFileF(path, &p, true), 30);
  dom.parserFails = false;
  std::remove(path);
}

TEST_F(Factories, ReaderFromMemory) {
  // Only length bytes count on the DOM path; the streaming path reads to the zero.
  char text[] = "<r><a/></r>GARBAGE";
  XmlInterface* p = nullptr;
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, 11, &p, true), 0);
  delete p;
  EXPECT_EQ(dom.streamCalls.back(), "mem buffer,11,,0,0");
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, 3, &p, false), 0);
  delete p;
  EXPECT_EQ(lite.calls.front(), "XmlLiteCreateMemReaderH <r><a/></r>GARBAGE");

  struct {
    void (*setup)();
    int status;
  } cases[] = {
      {[] { dom.memStreamStatus = 7; }, 7},
      {[] { dom.memStreamNull = true; }, 1},
      {[] { dom.parserFails = true; }, 30},
      {[] { dom.loadNoRoot = true; }, 12},
  };
  for (auto& c : cases) {
    fake::Reset();
    c.setup();
    p = reinterpret_cast<XmlInterface*>(0x1);
    EXPECT_EQ(XmlInterface::CreateReaderFromMemF(text, 11, &p, true), c.status);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(dom.liveStreams, 0);
    EXPECT_EQ(dom.liveParsers, 0);
  }
  fake::Reset();
  // Not well-formed: 12 at once on the DOM path; the streaming path makes a reader.
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r>"), 3, &p, true), 12);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r>"), 3, &p), 0);
  delete p;
  lite.createFails = true;
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r/>"), 4, &p), 12);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r/>"), 4, nullptr), 30);
}

TEST_F(Factories, Writers) {
  XmlInterface* p = nullptr;
  char out[] = "/tmp/twxml_xmlif_writer.xml";
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(out, &p, true, false, S("ISO-8859-1")), 0);
  delete p;
  EXPECT_EQ(lite.calls.front(), std::string("XmlLiteCreateFileWriterH ") + out + ",1,UTF-8");
  lite.calls.clear();
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, true, false, S("ISO-8859-1")), 0);
  delete p;
  EXPECT_EQ(lite.calls.front(), "XmlLiteCreateMemWriterH 1,ISO-8859-1");
  lite.calls.clear();
  // The short forms: not forced, no encoding.
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false), 0);
  delete p;
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(out, &p, false), 0);
  delete p;
  EXPECT_EQ(lite.calls, (std::vector<std::string>{
                            "XmlLiteCreateMemWriterH 0,(null)", "XmlLiteCloseWriterF ",
                            std::string("XmlLiteCreateFileWriterH ") + out + ",0,UTF-8",
                            "XmlLiteCloseWriterF "}));
  lite.createFails = true;
  p = reinterpret_cast<XmlInterface*>(0x1);
  EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, false), 12);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(XmlInterface::CreateWriterToFileF(out, &p, false), 12);
  EXPECT_EQ(dom.getParserCalls, 0);
  lite.createFails = false;

  // DOM path.
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(out, &p, true, true, S("windows-1252")), 0);
  delete p;
  EXPECT_EQ(dom.streamCalls.back(), std::string("file ") + out + ",2");
  EXPECT_EQ(dom.encodings.back(), "windows-1252");
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, true, true, nullptr), 0);
  delete p;
  EXPECT_EQ(dom.streamCalls.back(), "mem (null),32768,,1,1");
  dom.fileStreamFails = true;
  EXPECT_EQ(XmlInterface::CreateWriterToFileF(out, &p, true, true, nullptr), 12);
  dom.fileStreamFails = false;
  dom.memStreamStatus = 12;
  EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, true, true, nullptr), 12);
  dom.memStreamStatus = 0;
  dom.parserFails = true;
  EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, true, true, nullptr), 30);
  EXPECT_EQ(XmlInterface::CreateWriterToFileF(out, &p, true, true, nullptr), 30);
  EXPECT_EQ(dom.liveStreams, 0);  // the stream was deleted
  dom.parserFails = false;

  // A memory stream creator that answers 0 without a stream: a writer that
  // keeps its document in memory only.
  dom.memStreamNull = true;
  dom.saveCalls = 0;
  ASSERT_EQ(XmlInterface::CreateWriterToMemF(&p, false, true, nullptr), 0);
  EXPECT_TRUE(p->WriteStartElemB(S("r")));
  EXPECT_EQ(p->AllocMemP(nullptr), nullptr);
  p->FlushV();
  delete p;
  EXPECT_EQ(dom.saveCalls, 0);
  std::remove(out);
}

TEST_F(Factories, AllocationFailures) {
  char doc[] = "<r/>";
  XmlInterface* p = nullptr;
  for (bool force : {false, true}) {
    // The engine object, then (DOM) its stack array.
    for (int at : {1, 2}) {
      if (!force && at == 2) continue;
      fake::failNothrowAt = at;
      EXPECT_EQ(XmlInterface::CreateReaderFromMemF(doc, 4, &p, force), 1) << force << at;
      EXPECT_EQ(p, nullptr);
      fake::failNothrowAt = at;
      EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, false, force, nullptr), 1) << force << at;
      EXPECT_EQ(p, nullptr);
    }
  }
  fake::failNothrowAt = 0;
  // Handles were closed, documents, nodes and streams deleted: the fixture checks.
}

}  // namespace
