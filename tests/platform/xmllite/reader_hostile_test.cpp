// Hostile input: entity bombs, extreme nesting and attribute counts, input
// cut at every byte, bytes invalid in the declared encoding, failing
// streams. Every case must end in S_FALSE or a failure code, never a crash,
// hang or unbounded growth. (Random bytes: the reader fuzz harness.)
#include <gtest/gtest.h>

#include "reader_util.h"

using namespace twxml::test;

namespace {

std::string billionLaughs(int levels, int fanout, const char* use = "<r>&e#;</r>") {
  std::string d = "<!DOCTYPE r [<!ENTITY e0 'lol'>";
  for (int i = 1; i <= levels; ++i) {
    d += "<!ENTITY e" + std::to_string(i) + " '";
    for (int k = 0; k < fanout; ++k) d += "&e" + std::to_string(i - 1) + ";";
    d += "'>";
  }
  std::string u = use;
  return d + "]>" + u.replace(u.find('#'), 1, std::to_string(levels));
}

std::string repeat(const std::string& s, size_t n) {
  std::string o;
  o.reserve(s.size() * n);
  while (n--) o += s;
  return o;
}

}  // namespace

TEST(XmlReaderHostile, LimitsAndMalformedInput) {
  const size_t depth = 1000000;
  const std::string deep = repeat("<a>", depth) + repeat("</a>", depth);
  const struct {
    const char* what;
    std::string doc;
    HRESULT hr;  // E_FAIL: any failure
    UINT property = 0;
    LONG_PTR value = 0;
    size_t nodes = 0;  // checked when not 0
  } cases[] = {
      {"exponential entities", billionLaughs(9, 10), SC_E_MAXENTITYEXPANSION},
      {"exponential in an attribute", billionLaughs(9, 10, "<r a='&e#;'/>"), SC_E_MAXENTITYEXPANSION},
      {"quadratic: one large entity many times",
       "<!DOCTYPE r [<!ENTITY big '" + std::string(100000, 'x') + "'>]><r>" + repeat("&big;", 2000) + "</r>",
       SC_E_MAXENTITYEXPANSION},
      {"small legitimate use", billionLaughs(3, 10), S_FALSE},
      {"configured limit", billionLaughs(3, 10), SC_E_MAXENTITYEXPANSION, XmlReaderProperty_MaxEntityExpansion, 100},
      {"limit off", billionLaughs(4, 10), S_FALSE, XmlReaderProperty_MaxEntityExpansion, 0},
      {"general entity recursion", "<!DOCTYPE r [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><r>&a;</r>", WC_E_NORECURSION},
      {"parameter entity recursion", "<!DOCTYPE r [<!ENTITY % p '&#37;q;'><!ENTITY % q '&#37;p;'> %p;]><r/>",
       WC_E_NORECURSION},
      {"a million deep, no limit by default, no recursion", deep, S_FALSE, 0, 0, depth * 2},
      {"a million deep with a limit", deep, SC_E_MAXELEMENTDEPTH, XmlReaderProperty_MaxElementDepth, 256},
      {"deep and truncated", deep.substr(0, 300000), MX_E_INPUTEND},
      {"deep content-model groups",
       "<!DOCTYPE r [<!ELEMENT r " + std::string(100000, '(') + "a" + std::string(100000, ')') + ">]><r/>", E_FAIL},
      // Bytes invalid in the encoding (more, at every block offset: reader_fastpath_test.cpp).
      {"overlong", "<r>\xE0\x80\x80</r>", E_FAIL},
      {"U+FFFF", "<r>\xEF\xBF\xBF</r>", E_FAIL},
      {"five-byte form", "<r>\xF8\x88\x80\x80\x80</r>", E_FAIL},
      {"bad continuation after a good one", "<r>\xE4\xB8\xAD\xC2" "A</r>", E_FAIL},
      {"lead byte as continuation", "<r>\xE1\x80\xC0</r>", E_FAIL},
      {"in a name", "<\xC3\xA9\xC3/>", E_FAIL},
      {"UTF-16 lone surrogate", std::string("\xFF\xFE<\0r\0>\0\x00\xD8<\0/\0r\0>\0", 18), E_FAIL},
      {"UTF-16 odd trailing byte", std::string("\xFF\xFE<\0r\0/\0>\0x", 11), E_FAIL},
      {"Shift_JIS pair mapping to nothing", "<?xml version='1.0' encoding='Shift_JIS'?><r>\x85\x40</r>", E_FAIL},
      {"declaration against the byte order mark", "\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><r/>",
       E_FAIL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReaderPtr r;
    if (c.property) { ASSERT_EQ(r->SetProperty(c.property, c.value), S_OK); }
    WalkResult w = walk(r.r, c.doc, SIZE_MAX, false);
    EXPECT_EQ(c.hr == E_FAIL && FAILED(w.hr) ? E_FAIL : w.hr, c.hr) << std::hex << w.hr;
    EXPECT_EQ(c.nodes ? w.nodes : 0, c.nodes);
  }
  // A token read again after each small refill counts its expansions once:
  // the internal subset's defaults expand 3,300 references, and applying
  // them 3,300 more, under a limit of 8,000 at any read size.
  std::string subset = "<!ENTITY e0 'lol'><!ENTITY e1 '" + repeat("&e0;", 10) + "'>";
  for (int i = 0; i < 30; ++i)
    subset += "<!ATTLIST r a" + std::to_string(i) + " CDATA '" + repeat("&e1;", 10) + "'" +
              std::string(100, ' ') + ">";
  const std::string near = "<!DOCTYPE r [" + subset + "]><r/>";
  for (size_t chunk : {size_t(16), size_t(997), SIZE_MAX}) {
    ReaderPtr r;
    ASSERT_EQ(r->SetProperty(XmlReaderProperty_MaxEntityExpansion, 8000), S_OK);
    EXPECT_EQ(walk(r.r, near, chunk, false).hr, S_FALSE) << chunk;
  }
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
    WalkResult w = walk(doc.substr(0, cut), 3);
    // Only the trailing newline may go without harm.
    if (cut == doc.size() - 1) {
      EXPECT_EQ(w.hr, S_FALSE);
      continue;
    }
    EXPECT_TRUE(FAILED(w.hr)) << "cut at " << cut;
    // What was reported before the failure is a prefix of the full walk.
    EXPECT_EQ(full.trace.compare(0, w.trace.size(), w.trace), 0) << "cut at " << cut;
  }
  for (size_t chunk : {1, 2, 3, 5, 7, 16, 64}) EXPECT_EQ(walk(doc, chunk).trace, full.trace) << chunk;
}

TEST(XmlReaderHostile, StreamFailsAtEveryOffset) {
  const std::string doc = "<r a='1'>" + std::string(300, 't') + "<c/></r>";
  const std::string big = "<r>" + std::string(100000, 'x') + "</r>";
  for (size_t at = 0; at <= doc.size() + 17; at += 17) {
    ReaderPtr r;
    // The last round: a large text failing part way through its read-ahead.
    at > doc.size() ? r.input(big, 4096, 70000) : r.input(doc, 11, at);
    XmlNodeType t;
    HRESULT hr;
    while ((hr = r->Read(&t)) == S_OK) {
    }
    EXPECT_EQ(hr, STG_E_READFAULT) << at;
    EXPECT_EQ(r->Read(&t), STG_E_READFAULT);
  }
}

TEST(XmlReaderHostile, LineEndsAndHugeNodesAcrossChunks) {
  // CR LF, lone CR and multi-byte characters falling on every chunk edge.
  std::string lf = "<r a='x\ny'>\n", crlf = "<r a='x\r\ny'>\r\n";
  for (int i = 0; i < 3000; ++i) {
    std::string line = "  <l n='" + std::to_string(i) + "'>t\xC3\xA9xt \xE2\x82\xAC " +
                       std::string(size_t(i % 37), 'x') + "</l>";
    lf += line + "\n";
    crlf += line + (i % 5 == 0 ? "\r" : "\r\n");
  }
  WalkResult want = walk(lf + "</r>");
  ASSERT_EQ(want.hr, S_FALSE);
  for (size_t chunk : {size_t(1), size_t(3), size_t(4095), size_t(65536), SIZE_MAX}) {
    WalkResult got = walk(crlf + "</r>", chunk);
    EXPECT_EQ(got.hr, S_FALSE) << chunk;
    EXPECT_EQ(got.trace, want.trace) << chunk;
  }
  // A 20 MB text and a 5 MB attribute value between ordinary nodes.
  ReaderPtr r;
  r.input("<r><a v='" + std::string(5 << 20, 'y') + "'/>" + std::string(20 << 20, 'x') + "&amp;<b/>tail</r>",
          1 << 16);
  XmlNodeType t;
  std::vector<UINT> lengths;
  while (r->Read(&t) == S_OK) {
    const WCHAR* p;
    UINT n = 0;
    if ((t == XmlNodeType_Element && r->MoveToFirstAttribute() == S_OK) || t == XmlNodeType_Text) {
      r->GetValue(&p, &n);
      lengths.push_back(n);
    }
  }
  EXPECT_TRUE(r->IsEOF());
  EXPECT_EQ(lengths, (std::vector<UINT>{5u << 20, (20u << 20) + 1, 4}));
}
