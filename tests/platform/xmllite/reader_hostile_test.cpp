// Hostile input: entity bombs, extreme nesting and attribute counts, input
// cut at every byte, bytes invalid in the declared encoding, failing
// streams. Every case must end in S_FALSE or a failure code, never a crash,
// hang or unbounded growth.
#include <gtest/gtest.h>

#include "reader_util.h"

using namespace twxml::test;

namespace {

std::string billionLaughs(int levels, int fanout) {
  std::string d = "<!DOCTYPE r [<!ENTITY e0 'lol'>";
  for (int i = 1; i <= levels; ++i) {
    d += "<!ENTITY e" + std::to_string(i) + " '";
    for (int k = 0; k < fanout; ++k) d += "&e" + std::to_string(i - 1) + ";";
    d += "'>";
  }
  return d + "]><r>&e" + std::to_string(levels) + ";</r>";
}

}  // namespace

TEST(XmlReaderHostile, EntityExpansionIsBounded) {
  // Exponential: stopped by the expansion count.
  EXPECT_EQ(walk(billionLaughs(9, 10), SIZE_MAX, false).hr, SC_E_MAXENTITYEXPANSION);
  // The same in an attribute value.
  std::string attr = billionLaughs(9, 10);
  attr.replace(attr.find("<r>&e9;</r>"), 11, "<r a='&e9;'/>");
  EXPECT_EQ(walk(attr, SIZE_MAX, false).hr, SC_E_MAXENTITYEXPANSION);
  // Quadratic: one large entity referenced many times; stopped by volume.
  std::string quad = "<!DOCTYPE r [<!ENTITY big '" + std::string(100000, 'x') + "'>]><r>";
  for (int i = 0; i < 2000; ++i) quad += "&big;";
  quad += "</r>";
  EXPECT_EQ(walk(quad, SIZE_MAX, false).hr, SC_E_MAXENTITYEXPANSION);
  // A small, legitimate use passes, and the limit is configurable.
  EXPECT_EQ(walk(billionLaughs(3, 10), SIZE_MAX, false).hr, S_FALSE);
  ReaderPtr r;
  ASSERT_EQ(r->SetProperty(XmlReaderProperty_MaxEntityExpansion, 100), S_OK);
  EXPECT_EQ(walk(r.r, billionLaughs(3, 10), SIZE_MAX, false).hr, SC_E_MAXENTITYEXPANSION);
  ASSERT_EQ(r->SetProperty(XmlReaderProperty_MaxEntityExpansion, 0), S_OK);
  EXPECT_EQ(walk(r.r, billionLaughs(4, 10), SIZE_MAX, false).hr, S_FALSE);
  // Recursion through parameter and general entities.
  EXPECT_EQ(walk("<!DOCTYPE r [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><r>&a;</r>").hr,
            WC_E_NORECURSION);
  EXPECT_EQ(walk("<!DOCTYPE r [<!ENTITY % p '&#37;q;'><!ENTITY % q '&#37;p;'> %p;]><r/>").hr,
            WC_E_NORECURSION);
}

TEST(XmlReaderHostile, MillionDeepNesting) {
  const size_t depth = 1000000;
  std::string doc;
  doc.reserve(depth * 7 + 16);
  for (size_t i = 0; i < depth; ++i) doc += "<a>";
  for (size_t i = 0; i < depth; ++i) doc += "</a>";
  // With a limit: a clean failure.
  ReaderPtr limited;
  ASSERT_EQ(limited->SetProperty(XmlReaderProperty_MaxElementDepth, 256), S_OK);
  EXPECT_EQ(walk(limited.r, doc, SIZE_MAX, false).hr, SC_E_MAXELEMENTDEPTH);
  // By default there is no limit: it reads, without recursion.
  ReaderPtr r;
  WalkResult w = walk(r.r, doc, SIZE_MAX, false);
  EXPECT_EQ(w.hr, S_FALSE);
  EXPECT_EQ(w.nodes, depth * 2);
  // Deep but truncated: fails at the end of input.
  doc.resize(300000);
  EXPECT_EQ(walk(r.r, doc, SIZE_MAX, false).hr, MX_E_INPUTEND);
  // Deeply nested content-model groups in the internal subset.
  std::string dtd = "<!DOCTYPE r [<!ELEMENT r " + std::string(100000, '(') + "a" +
                    std::string(100000, ')') + ">]><r/>";
  EXPECT_TRUE(FAILED(walk(dtd, SIZE_MAX, false).hr));
}

TEST(XmlReaderHostile, HugeAttributeCounts) {
  std::string doc = "<r";
  for (int i = 0; i < 50000; ++i) doc += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
  doc += "/>";
  ReaderPtr r;
  TestStream* s = new TestStream(doc);
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  ASSERT_EQ(r->Read(&t), S_OK);
  UINT n = 0;
  r->GetAttributeCount(&n);
  EXPECT_EQ(n, 50000u);
  EXPECT_EQ(r->MoveToAttributeByName(u"a49999", nullptr), S_OK);
  const WCHAR* v;
  UINT len;
  r->GetValue(&v, &len);
  EXPECT_EQ(std::u16string(v, len), u"49999");
  EXPECT_EQ(r->Read(&t), S_FALSE);
  // A duplicate far apart is still found (hashed check).
  std::string dup = doc.substr(0, doc.size() - 2) + " a17='x'/>";
  EXPECT_EQ(walk(dup, SIZE_MAX, false).hr, WC_E_UNIQUEATTRIBUTE);
  std::string nsdup = "<r xmlns:p='u' xmlns:q='u'";
  for (int i = 0; i < 100; ++i) nsdup += " p:a" + std::to_string(i) + "='1'";
  nsdup += " q:a42='2'/>";
  EXPECT_EQ(walk(nsdup, SIZE_MAX, false).hr, WC_E_UNIQUEATTRIBUTE);
}

TEST(XmlReaderHostile, TruncatedAtEveryByte) {
  const std::string doc =
      "<?xml version='1.0' encoding='UTF-8'?>\n"
      "<!DOCTYPE r [<!ENTITY e 'x<b>y</b>'><!ATTLIST r d CDATA 'v'>]>\n"
      "<r xmlns:p='urn:p' a=\"1 &amp; 2\"><!-- c --><?pi data?><p:c p:x='&#x20AC;'>t&e;</p:c>"
      "<![CDATA[cd]]>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</r>\n";
  WalkResult full = walk(doc);
  ASSERT_EQ(full.hr, S_FALSE);
  for (size_t cut = 0; cut < doc.size(); ++cut) {
    std::string part = doc.substr(0, cut);
    WalkResult w = walk(part, 3);
    // Only the trailing newline may go without harm.
    if (cut == doc.size() - 1) {
      EXPECT_EQ(w.hr, S_FALSE);
      continue;
    }
    EXPECT_TRUE(FAILED(w.hr)) << "cut at " << cut;
    // What was reported before the failure is a prefix of the full walk.
    EXPECT_EQ(full.trace.compare(0, w.trace.size(), w.trace), 0) << "cut at " << cut;
  }
  // Every chunk size gives the same walk.
  for (size_t chunk : {1, 2, 3, 5, 7, 16, 64}) EXPECT_EQ(walk(doc, chunk).trace, full.trace) << chunk;
}

TEST(XmlReaderHostile, InvalidEncodings) {
  const char* bad[] = {
      "<r>\x80</r>",                  // lone continuation byte
      "<r>\xC3</r>",                  // truncated sequence
      "<r>\xE0\x80\x80</r>",          // overlong
      "<r>\xED\xA0\x80</r>",          // surrogate
      "<r>\xF4\x90\x80\x80</r>",      // beyond U+10FFFF
      "<r>\xEF\xBF\xBF</r>",          // U+FFFF, not a character
      "<r>\xF8\x88\x80\x80\x80</r>",  // five-byte form
      "<r>\xC3\xA9\xE1\x80</r>",       // three-byte form cut short after a good one
      "<r>\xE4\xB8\xAD\xC2" "A</r>",    // bad continuation after a good character
      "<r>\xE1\x80\xC0</r>",            // continuation byte that is a lead byte
      "<r a='\xFF'/>",
      "<\xC3\xA9\xC3/>",
  };
  for (const char* d : bad) EXPECT_TRUE(FAILED(walk(d).hr)) << d;
  // UTF-16 with a lone surrogate, and with an odd trailing byte.
  std::string u16 = std::string("\xFF\xFE<\0r\0>\0\x00\xD8<\0/\0r\0>\0", 18);
  EXPECT_TRUE(FAILED(walk(u16).hr));
  std::string odd = std::string("\xFF\xFE<\0r\0/\0>\0x", 11);
  EXPECT_TRUE(FAILED(walk(odd).hr));
  // Shift_JIS with a byte pair that maps to nothing.
  EXPECT_TRUE(FAILED(walk("<?xml version='1.0' encoding='Shift_JIS'?><r>\x85\x40</r>").hr));
  // A declaration that contradicts the byte order mark.
  EXPECT_TRUE(FAILED(walk("\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><r/>").hr));
}

TEST(XmlReaderHostile, StreamFailsAtEveryOffset) {
  const std::string doc = "<r a='1'>" + std::string(300, 't') + "<c/></r>";
  for (size_t at = 0; at < doc.size(); at += 17) {
    ReaderPtr r;
    TestStream* s = new TestStream(doc, 11, at);
    r->SetInput(s);
    s->Release();
    XmlNodeType t;
    HRESULT hr;
    while ((hr = r->Read(&t)) == S_OK) {
    }
    EXPECT_EQ(hr, STG_E_READFAULT) << at;
    EXPECT_EQ(r->Read(&t), STG_E_READFAULT);
  }
}

TEST(XmlReaderHostile, RandomBytesNeverCrash) {
  uint64_t x = 88172645463325252ULL;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  const char* pieces[] = {"<", ">", "/", "a", "b:c", "=", "'", "\"", "&", ";", "#", "x", "!--",
                          "-->", "<![CDATA[", "]]>", "<?", "?>", " ", "\n", "\r", "xmlns",
                          "xmlns:b", "&amp;", "&#65;", "<!DOCTYPE a [", "]>", "<!ENTITY e '",
                          "%", "\xC3\xA9", "\xFF", "\0"};
  for (int i = 0; i < 3000; ++i) {
    std::string d;
    int n = int(next() % 40);
    for (int k = 0; k < n; ++k) {
      const char* p = pieces[next() % (sizeof pieces / sizeof *pieces)];
      d.append(p, *p ? std::strlen(p) : 1);
    }
    WalkResult w = walk(d, 1 + next() % 8);
    EXPECT_TRUE(w.hr == S_FALSE || FAILED(w.hr));
  }
}

TEST(XmlReaderHostile, LineEndsAcrossChunks) {
  // CR LF, lone CR and multi-byte characters falling on every chunk edge.
  std::string lf = "<r a='x\ny'>\n", crlf = "<r a='x\r\ny'>\r\n";
  for (int i = 0; i < 3000; ++i) {
    std::string line = "  <l n='" + std::to_string(i) + "'>t\xC3\xA9xt \xE2\x82\xAC " + std::string(size_t(i % 37), 'x') + "</l>";
    lf += line + "\n";
    crlf += line + (i % 5 == 0 ? "\r" : "\r\n");
  }
  lf += "</r>";
  crlf += "</r>";
  WalkResult want = walk(lf);
  ASSERT_EQ(want.hr, S_FALSE);
  for (size_t chunk : {size_t(1), size_t(3), size_t(4095), size_t(65536), SIZE_MAX}) {
    WalkResult got = walk(crlf, chunk);
    EXPECT_EQ(got.hr, S_FALSE) << chunk;
    EXPECT_EQ(got.trace, want.trace) << chunk;
  }
}

TEST(XmlReaderHostile, HugeNodesPass) {
  // A 20 MB text and a 5 MB attribute value between ordinary nodes.
  std::string big(20 << 20, 'x');
  std::string doc = "<r><a v='" + std::string(5 << 20, 'y') + "'/>" + big + "&amp;<b/>tail</r>";
  ReaderPtr r;
  TestStream* s = new TestStream(doc, 1 << 16);
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  std::vector<UINT> lengths;
  while (r->Read(&t) == S_OK) {
    const WCHAR* p;
    UINT n = 0;
    if (t == XmlNodeType_Element && r->MoveToFirstAttribute() == S_OK) {
      r->GetValue(&p, &n);
      lengths.push_back(n);
    } else if (t == XmlNodeType_Text) {
      r->GetValue(&p, &n);
      lengths.push_back(n);
    }
  }
  EXPECT_TRUE(r->IsEOF());
  EXPECT_EQ(lengths, (std::vector<UINT>{5u << 20, (20u << 20) + 1, 4}));
}
