// The XmlInterface contract over the real library, case by case: names with
// leading text, the streaming engine's numbers and operations of the other
// kind, the document engine's cursor stack, peeks, saves and its limit, and
// every factory status. Allocation failures are injected by making this
// program's non-throwing allocations fail in turn.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <thread>

#include "xmlif_test.h"

namespace {
// The nth non-throwing allocation from now fails (1 = the next); 0 or less:
// none does.
std::atomic<int> g_failNothrowAt{0};

template <class F>
void* Injected(F allocate) noexcept {
  if (g_failNothrowAt.load() > 0 && --g_failNothrowAt == 0) return nullptr;
  try {
    return allocate();
  } catch (...) {
    return nullptr;
  }
}
}  // namespace

// Each form calls its own throwing form, so the matching delete stays right.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return Injected([n] { return ::operator new(n); });
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return Injected([n] { return ::operator new[](n); });
}

namespace {

using namespace xmlif_test;

class Contract : public Fixture {};

TEST_F(Contract, NamesWithLeadingText) {
  const struct {
    const char *element, *leading;
    unsigned int size;
    bool result;
    const char* buffer;  // afterwards ("#" = untouched)
  } extract[] = {
      {"TBLCustomer", "Tbl", 32, true, "Customer"}, {"TBLCustomer", "tBL", 9, true, "Customer"},
      {"TBLCustomer", "Tbl", 8, true, "Custome"},   // cut to the caller's size
      {"TBLCustomer", "Tbl", 5, false, "#"},        // the whole name does not fit
      {"Tb", "Tbl", 32, false, "#"},                {"TxlCustomer", "Tbl", 32, false, "#"},
      {"Orders", "", 6, true, "Order"},             {"Order", nullptr, 3, false, "Or"},
  };
  const struct {
    const char *element, *leading, *name;
    bool result;
  } is[] = {
      {"Order", nullptr, "order", true},         {"Order", "", "ORDER", true},
      {"Orders", nullptr, "Order", false},       {"Ord", nullptr, "Order", false},
      {"TblCustomer", "tbl", "customer", true},  {"TblCustomer", "tbl", "Custom", false},
      {"TblCustomerX", "Tbl", "Customer", true},  // one extra character is cut off
      {"TblCustomerXY", "Tbl", "Customer", false}, {"Customer", "Tbl", "Customer", false},
      {"Order", nullptr, nullptr, false},
  };
  for (bool dom : {false, true}) {
    for (const auto& c : extract) {
      SCOPED_TRACE(std::string(c.element) + " / " + (c.leading ? c.leading : "(null)"));
      Ptr x = Reader("<" + std::string(c.element) + "/>", dom);
      ASSERT_TRUE(x->SelectElemB());
      char buffer[64] = "#";
      EXPECT_EQ(x->ExtractNameB(S(c.leading), buffer, c.size), c.result);
      EXPECT_STREQ(buffer, c.buffer);
    }
    for (const auto& c : is) {
      SCOPED_TRACE(std::string(c.element) + " / " + (c.name ? c.name : "(null)"));
      Ptr x = Reader("<" + std::string(c.element) + "/>", dom);
      ASSERT_TRUE(x->SelectElemB());
      EXPECT_EQ(x->IsThisNameB(S(c.leading), S(c.name)), c.result);
    }
  }
}

TEST_F(Contract, StreamingEngineNumbersAndOperationsOfTheOtherKind) {
  const struct {
    const char* text;
    int value;
  } numbers[] = {{"12abc", 12},          {"abc", 0},         {"  -42", -42},           {"+7", 7},
                 {"", 0},                {" 0x10", 0},       {"2147483647", INT_MAX},  {"- 5", 0},
                 {"-2147483648", INT_MIN}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
                 {"3.9", 3}};
  std::string doc = "<r";
  for (size_t i = 0; i < std::size(numbers); ++i)
    doc += " n" + std::to_string(i) + "='" + numbers[i].text + "'";
  doc += " long='" + std::string(300, '7') + "'/>";
  Ptr r = Reader(doc, false);
  ASSERT_TRUE(r->SelectElemB());
  for (size_t i = 0; i < std::size(numbers); ++i) {
    int v = 12345;
    EXPECT_TRUE(r->GetAttrValueToIntB(S(("n" + std::to_string(i)).c_str()), &v)) << numbers[i].text;
    EXPECT_EQ(v, numbers[i].value) << numbers[i].text;
  }
  // A number longer than the engine's scratch does not fit; a missing one is
  // not there: false, the value kept.
  int v = 17;
  EXPECT_FALSE(r->GetAttrValueToIntB(S("long"), &v));
  EXPECT_FALSE(r->GetAttrValueToIntB(S("missing"), &v));
  EXPECT_EQ(v, 17);

  Ptr w = Writer(false);
  ASSERT_TRUE(w->WriteStartElemB(S("w")));
  const int values[] = {-5, 0, INT_MAX, INT_MIN};
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(w->WriteIntAttrB(S(std::string(1, char('a' + i)).c_str()), values[i]));
  ASSERT_TRUE(w->WriteIntAttrNsB(S("p"), S("k"), S("urn:p"), 42));
  w->FlushV();  // changes nothing
  char* text = w->AllocMemP(nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::strstr(text, "a=\"-5\" b=\"0\" c=\"2147483647\" d=\"-2147483648\""), nullptr) << text;
  EXPECT_NE(std::strstr(text, "p:k=\"42\""), nullptr) << text;
  MemFreeF(text);

  // Operations of the other kind answer false and touch nothing.
  char keep[16] = "keep";
  unsigned int size = 77;
  v = 17;
  EXPECT_FALSE(r->WriteStartElemB(S("a")) || r->WriteAttrB(S("a"), S("b")) ||
               r->WriteIntAttrB(S("a"), 1) || r->WriteValueB(S("t")));
  EXPECT_FALSE(w->SelectElemB() || w->PeekElemB() || w->SkipLevelB() ||
               w->GetElemNameToBufB(keep, 16) || w->GetAttrValueToIntB(S("a"), &v) ||
               w->GetElemValueToBufB(keep, 16));
  EXPECT_EQ(r->AllocMemP(&size), nullptr);
  EXPECT_STREQ(keep, "keep");
  EXPECT_EQ(v, 17);
  EXPECT_EQ(size, 77u);
}

TEST_F(Contract, DocumentEngineStackAndPeeks) {
  Ptr x = Reader("<r><a/><b><c/></b></r>", true);
  Walk(*x, "S+r S+a S- E+r S+b S+c S- E+b S- E+r S- E+ S-");
  // Text, comments and instructions never stop a step; an end right after
  // a peek leaves the peek pending, so the next select does not move.
  x = Reader("<?xml version='1.0'?><r><!--c-->t<?p d?><a/>text<?pi x?><f/></r>", true);
  Walk(*x, "P+r P+r S+r S+a E+r P+f E+r S+r S- E+ S- P- E- K-");
  char buf[8] = "keep";
  int v = 3;
  EXPECT_FALSE(x->GetElemNameToBufB(buf, 8) || x->GetAttrValueToBufB(S("x"), buf, 8) ||
               x->GetAttrValueToIntB(S("x"), &v) || x->GetElemValueToBufB(buf, 8));
  EXPECT_STREQ(buf, "keep");
  EXPECT_EQ(v, 3);

  // The reader's 65,536-level limit: the twxml program's bench test.
  // A writer at the limit adds the element, empty, without entering it.
  Ptr w = Writer(true);
  for (int i = 0; i < 65536; ++i) ASSERT_TRUE(w->WriteStartElemB(S(i ? "e" : "top"))) << i;
  EXPECT_FALSE(w->WriteStartElemB(S("over")));
  EXPECT_TRUE(w->WriteAttrB(S("a"), S("1")));  // on the enclosing element
  EXPECT_NE(Take(*w).find("<e a=\"1\"><over/></e>"), std::string::npos);
}

// A step that cannot have its node object or a larger stack answers false
// and leaves the reader where it was.
TEST_F(Contract, DocumentEngineStepsSurviveAllocationFailures) {
  std::string doc;
  for (int i = 0; i < 200; ++i) doc += "<e" + std::to_string(i) + ">";
  for (int i = 199; i >= 0; --i) doc += "</e" + std::to_string(i) + ">";
  int refused = 0;
  for (int k = 1;; ++k) {
    Ptr x = Reader(doc, true);
    for (int i = 0; i < 128; ++i) ASSERT_TRUE(x->SelectElemB());  // the stack's first size
    g_failNothrowAt = k;
    const bool stepped = x->SelectElemB();
    const bool reached = g_failNothrowAt.exchange(0) == 0;
    if (!reached) {
      EXPECT_TRUE(stepped);
      break;
    }
    SCOPED_TRACE(k);
    if (stepped) {
      EXPECT_EQ(Name(*x), "e128");
    } else {
      ++refused;
      EXPECT_EQ(Name(*x), "e127");
      EXPECT_TRUE(x->EndElemB());
      EXPECT_EQ(Name(*x), "e126");
    }
  }
  EXPECT_GE(refused, 2);  // the node object and the larger stack
}

TEST_F(Contract, DocumentEngineWritesOnce) {
  Ptr w = Writer(true);
  char buf[8] = "keep";
  EXPECT_FALSE(w->GetElemNameToBufB(buf, 8) || w->WriteAttrB(S("a"), S("b")) ||
               w->WriteValueB(S("t")) || w->EndElemB());  // nothing started yet
  EXPECT_STREQ(buf, "keep");
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  w->FlushV();
  const std::string first = Take(*w);
  EXPECT_NE(first.find("<r/>"), std::string::npos) << first;
  ASSERT_TRUE(w->WriteStartElemB(S("late")));  // stays in memory
  EXPECT_EQ(Take(*w), first);
  // A second document element goes to the document again.
  w = Writer(true);
  ASSERT_TRUE(w->WriteStartElemB(S("first")) && w->EndElemB() && w->WriteStartElemB(S("second")));
  EXPECT_NE(Take(*w).find("<second/>"), std::string::npos);
  // A save that fails reaches the caller once; nothing tries it again.
  XmlInterface* p = nullptr;
  ASSERT_EQ(XmlInterface::CreateWriterToFileF(S("/dev/full"), &p, false, true, nullptr), 0);
  w.reset(p);
  ASSERT_TRUE(w->WriteStartElemB(S("r")));
  EXPECT_THROW(w->FlushV(), _com_error);
  EXPECT_NO_THROW(w->FlushV());
  EXPECT_EQ(w->AllocMemP(nullptr), nullptr);  // a file has no memory output
  EXPECT_NO_THROW(w.reset());
  IErrorInfo* info = nullptr;  // what the failure left for this thread
  if (GetErrorInfo(0, &info) == S_OK && info) info->Release();
}

enum Kind { kFileReader, kMemReader, kFileWriter, kMemWriter };

// Readers read `path`, writers write `path` with ".out" added.
int Make(Kind kind, bool dom, const std::string& path, XmlInterface** p, unsigned long length = 0) {
  static char text[] = "<r><a/></r>";
  const std::string out = path + ".out";
  switch (kind) {
    case kFileReader: return XmlInterface::CreateReaderFromFileF(S(path.c_str()), p, dom);
    case kMemReader: return XmlInterface::CreateReaderFromMemF(text, length ? length : 11, p, dom);
    case kFileWriter: return XmlInterface::CreateWriterToFileF(S(out.c_str()), p, false, dom, nullptr);
    case kMemWriter: return XmlInterface::CreateWriterToMemF(p, false, dom, nullptr);
  }
  return -1;
}

// Every failure gives its status and a null object, and is not tried again
// on the other engine.
TEST_F(Contract, FactoryFailures) {
  char path[] = "/tmp/twxml_contract_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "<r/>", 4), 4);
  close(fd);
  const struct {
    Kind kind;
    bool dom;
    const char* path;
    unsigned long length;
    int status;
  } cases[] = {
      {kFileReader, false, "/no/such/file.xml", 0, 30}, {kFileReader, true, "/no/such/file.xml", 0, 30},
      {kFileWriter, false, "/no/such/folder", 0, 12},   {kFileWriter, true, "/no/such/folder", 0, 12},
      {kMemReader, true, "", 5, 12},                     // "<r><a" is not well-formed
      {kMemReader, true, "", 1ul << 33, 12},             // the memory stream refuses the length
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << (c.dom ? " dom" : " lite"));
    XmlInterface* p = nullptr;
    EXPECT_EQ(Make(c.kind, c.dom, c.path, &p, c.length), c.status);
    EXPECT_EQ(p, nullptr);
  }
  // Without COM on the thread no document object can be made: 30.
  std::thread([&] {
    for (Kind kind : {kFileReader, kMemReader, kFileWriter, kMemWriter}) {
      XmlInterface* p = reinterpret_cast<XmlInterface*>(1);
      EXPECT_EQ(Make(kind, true, path, &p), 30) << kind;
      EXPECT_EQ(p, nullptr);
    }
  }).join();
  // Each non-throwing allocation made in turn to fail: 1 when an object or
  // the stack cannot be had, 12 or 30 where a layer below gave up instead.
  for (Kind kind : {kFileReader, kMemReader, kFileWriter, kMemWriter}) {
    for (bool dom : {false, true}) {
      std::set<int> seen;
      for (int k = 1;; ++k) {
        XmlInterface* p = reinterpret_cast<XmlInterface*>(1);
        g_failNothrowAt = k;
        const int status = Make(kind, dom, path, &p);
        const bool reached = g_failNothrowAt.exchange(0) == 0;
        Ptr owned(status == 0 ? p : nullptr);
        if (!reached) break;
        SCOPED_TRACE(testing::Message() << "kind " << kind << (dom ? " dom" : " lite") << " allocation " << k);
        if (status != 0) {
          EXPECT_EQ(p, nullptr);
          EXPECT_TRUE(status == 1 || status == 12 || status == 30) << status;
        }
        seen.insert(status);
      }
      EXPECT_EQ(seen.count(1), 1u) << "kind " << kind << (dom ? " dom" : " lite");
    }
  }
  std::remove(path);
  std::remove((std::string(path) + ".out").c_str());
}

}  // namespace
