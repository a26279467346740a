// The storage layer: text conversions against a reference, name rules, the
// node-object map and the record layout under churn.
#include <random>
#include <string>
#include <cstring>
#include <vector>

#include "dom_store.h"
#include "dom_test_util.h"

using namespace twdom;

namespace {

std::u16string RandomText(std::mt19937& rng, size_t n) {
  std::u16string s;
  std::uniform_int_distribution<int> kind(0, 9);
  while (s.size() < n) {
    int k = kind(rng);
    if (k < 6) {
      s += char16_t(0x20 + rng() % 0x5F);
    } else if (k < 8) {
      s += char16_t(0x80 + rng() % 0x7000);
    } else if (k < 9) {
      s += char16_t(0xE000 + rng() % 0x1FFE);
    } else {
      uint32_t cp = 0x10000 + rng() % 0xFFFFF;
      cp -= 0x10000;
      s += char16_t(0xD800 + (cp >> 10));
      s += char16_t(0xDC00 + (cp & 0x3FF));
    }
  }
  return s;
}

TEST(DomStore, Utf8RoundTripMatchesReference) {
  std::mt19937 rng(42);
  for (int round = 0; round < 300; ++round) {
    std::u16string s = RandomText(rng, rng() % 200);
    std::string mine = ToUtf8(s);
    EXPECT_EQ(mine, domtest::U8(s));
    EXPECT_EQ(ToUtf16(mine), s);
    EXPECT_EQ(Utf16Length(mine.data(), mine.size()), s.size());
    bool ascii = false;
    std::string buf(s.size() * 3, '\0');
    Utf16ToUtf8(s.data(), s.size(), buf.data(), &ascii);
    bool wantAscii = true;
    for (char16_t c : s) wantAscii &= c < 0x80;
    EXPECT_EQ(ascii, wantAscii);
  }
  // Lone surrogates cannot be stored as they are: they become U+FFFD.
  const char16_t lone[] = {u'a', char16_t(0xDC00), u'b'};
  EXPECT_EQ(ToUtf8(std::u16string(lone, 3)), "a\xEF\xBF\xBD" "b");
}

TEST(DomStore, XmlCharactersAndNames) {
  struct {
    std::u16string text;
    bool ok;
  } texts[] = {{u"plain", true},       {u"tab\tlf\ncr\r", true}, {u"\x01", false},
               {u"\uFFFE", false},    {u"\uFFFD", true},        {std::u16string(1, char16_t(0xD800)), false},
               {u"\U0001F600", true}, {u"", true}};
  for (auto& t : texts) EXPECT_EQ(IsXmlText(t.text.data(), t.text.size()), t.ok) << domtest::U8(t.text);

  struct {
    std::u16string text;
    bool qname;
    bool name;
  } names[] = {{u"a", true, true},         {u"a:b", true, true},      {u":a", false, true},
               {u"a:", false, true},        {u"a:b:c", false, true},   {u"1a", false, false},
               {u"-a", false, false},       {u"a-1.b", true, true},    {u"\u00e9t\u00e9", true, true},
               {u"a b", false, false},      {u"", false, false},       {u"_x", true, true},
               {u"\u0300a", false, false},  {u"a\u0300", true, true},  {u"\U00010000", true, true},
               {u"\u00d7", false, false}};
  for (auto& n : names) {
    EXPECT_EQ(IsQName(n.text.data(), n.text.size()), n.qname) << domtest::U8(n.text);
    EXPECT_EQ(IsXmlName(n.text.data(), n.text.size()), n.name) << domtest::U8(n.text);
  }
}

TEST(DomStore, ArraysKeepTheirContentWhileGrowing) {
  GrowArray<uint32_t> a;
  std::mt19937 rng(7);
  std::vector<uint32_t> ref;
  while (ref.size() < 3000000) {
    size_t n = 1 + rng() % 5000;
    ASSERT_TRUE(a.reserveMore(n));
    uint32_t* p = a.extend(n);
    for (size_t i = 0; i < n; ++i) {
      p[i] = uint32_t(rng());
      ref.push_back(p[i]);
    }
  }
  ASSERT_EQ(a.size(), ref.size());
  EXPECT_EQ(std::memcmp(a.data(), ref.data(), ref.size() * 4), 0);
  a.truncate(10);
  EXPECT_EQ(a.size(), 10u);
  EXPECT_EQ(a[9], ref[9]);
}

TEST(DomStore, RecordsLinkUnlinkAndInternNames) {
  Store* s = new Store();
  uint32_t ns = s->internNs(u"urn:x", 5);
  EXPECT_EQ(s->internNs(u"urn:x", 5), ns);
  EXPECT_EQ(s->internNs(u"", 0), 0u);
  uint32_t a = s->internName(u"p:a", 3, ns);
  EXPECT_EQ(s->internName(u"p:a", 3, ns), a);
  EXPECT_NE(s->internName(u"p:a", 3, 0), a);
  EXPECT_EQ(s->name(a).prefixLen16, 1u);
  // Many names: the table grows and keeps every id stable.
  std::vector<uint32_t> ids;
  for (int i = 0; i < 5000; ++i) {
    std::u16string n = domtest::U16("n" + std::to_string(i));
    ids.push_back(s->internName(n.data(), n.size(), 0));
  }
  for (int i = 0; i < 5000; ++i) {
    std::u16string n = domtest::U16("n" + std::to_string(i));
    EXPECT_EQ(s->internName(n.data(), n.size(), 0), ids[i]);
  }

  uint32_t p = s->newNode(kElement, a);
  std::vector<uint32_t> kids;
  for (int i = 0; i < 6; ++i) {
    kids.push_back(s->newNode(kText, 0));
    s->setText(kids.back(), u"t", 1);
    s->link(p, kids.back(), 0);
  }
  auto order = [&] {
    std::vector<uint32_t> v;
    for (uint32_t c = s->firstChild(p); c; c = s->nextSibling(c)) v.push_back(c);
    return v;
  };
  EXPECT_EQ(order(), kids);
  EXPECT_EQ(s->lastChild(p), kids[5]);
  s->unlink(kids[0]);  // first
  s->unlink(kids[5]);  // last
  s->unlink(kids[3]);  // middle
  EXPECT_EQ(order(), (std::vector<uint32_t>{kids[1], kids[2], kids[4]}));
  EXPECT_EQ(s->lastChild(p), kids[4]);
  EXPECT_EQ(s->prevSibling(kids[1]), 0u);
  EXPECT_EQ(s->prevSibling(kids[4]), kids[2]);
  s->link(p, kids[0], kids[1]);
  s->link(p, kids[3], kids[4]);
  s->link(p, kids[5], 0);
  EXPECT_EQ(order(), (std::vector<uint32_t>{kids[0], kids[1], kids[2], kids[3], kids[4], kids[5]}));
  // Appending in place and after the heap moved on.
  s->appendText(kids[5], u"ext", 3);
  EXPECT_EQ(s->text8(kids[5]), "text");
  s->appendText(kids[4], u"\u00e9", 1);
  EXPECT_EQ(s->text8(kids[4]), "t\xC3\xA9");
  EXPECT_EQ(s->text8(kids[5]), "text");
  s->release();
}

}  // namespace
