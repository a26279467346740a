// Behaviour of IXmlReader the library relies on: node sequences and failures
// with their codes and positions. (Entities, defaults, encodings and line
// ends against libxml2: diff/diff_test.cpp; attribute look-up, stepping and
// failures that stick, through the handles: tests/xmllite/module_test.cpp.)
#include <gtest/gtest.h>

#include "reader_util.h"

using namespace twxml::test;

TEST(XmlReader, NodeSequences) {
  const struct {
    std::string doc;
    const char* trace;
  } cases[] = {
      {"<a/>", "1 0 {a|}/ []\n"},
      {"<?xml version='1.0'?>\n<r><!--c--><?pi d?>t<![CDATA[<x>]]> </r>",
       "17 0 {xml|} [] @version=1.0\n13 0 {|} [\n]\n1 0 {r|} []\n8 1 {|} [c]\n"
       "7 1 {pi|} [d]\n3 1 {|} [t]\n4 1 {|} [<x>]\n13 1 {|} [ ]\n15 0 {r|} []\n"},
      // An undeclared entity after an external subset is no error; entity text
      // is read as markup.
      {"<!DOCTYPE r SYSTEM 'x.dtd'><r>&undeclared;</r>",
       "10 0 {r|} [] @SYSTEM=x.dtd\n1 0 {r|} []\n15 0 {r|} []\n"},
      {"<!DOCTYPE r [<!ENTITY a '&#38;#60;'>]><r x='&a;'/>",
       "10 0 {r|} [<!ENTITY a '&#38;#60;'>]\n1 0 {r|}/ [] @x=<\n"},
      // UTF-16 with a character outside the BMP, also fed one byte at a time.
      {std::string("\xFF\xFE<\0r\0>\0\x3D\xD8\x00\xDE<\0/\0r\0>\0", 20),
       "1 0 {r|} []\n3 1 {|} [\xF0\x9F\x98\x80]\n15 0 {r|} []\n"},
      // Zero bytes after the document at the very end count as its end.
      {std::string("<r/>\0", 5), "1 0 {r|}/ []\n"},
      {std::string("<r/>\n\0\0\0", 8), "1 0 {r|}/ []\n13 0 {|} [\n]\n"},
  };
  for (const auto& c : cases) {
    // Whole and in one-byte chunks: refills never change the result.
    for (size_t chunk : {SIZE_MAX, size_t(1)}) {
      WalkResult w = walk(c.doc, chunk);
      EXPECT_EQ(w.hr, S_FALSE) << c.doc;
      EXPECT_EQ(w.trace, c.trace) << c.doc;
    }
  }
}

// Malformed input fails; where given, with this code and at this position.
TEST(XmlReader, RejectsMalformed) {
  const struct {
    std::string doc;
    HRESULT hr = E_FAIL;  // E_FAIL: any failure
    UINT line = 0, col = 0;
  } cases[] = {
      // (The suite's not-well-formed documents: tests/platform/msxml/w3c_test.cpp.)
      {"<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>"}, {"<p:a/>"}, {"<a xmlns:p=''/>"},
      {"<a xmlns:xml='urn:x'/>"}, {"<a xmlns:xmlns='urn:x'/>"}, {"<a:b:c/>"}, {"<a>\xc0\x80</a>"},
      {"<?xml version='1.0' encoding='US-ASCII'?><r>\xC3\xA9</r>"},
      {std::string("<r/>\0x", 6)}, {std::string("<r>\0</r>", 8)}, {"<r>&#xD800;</r>"},
      {"<r><a></b></r>", WC_E_ELEMENTMATCH, 1, 9},  // the name in the end tag
      {"<r>\n  <a x='1' x='2'/></r>", WC_E_UNIQUEATTRIBUTE, 2, 12},  // the second x
      {"<r>\n  text ]]> more</r>", E_FAIL, 2, 8},
      {"<r>&#1;</r>", E_FAIL, 1, 4},
      {"<r>\n<a b='<'/></r>", E_FAIL, 2, 7},
      {"<r>&nope;</r>", E_FAIL, 1, 4},
      {"<r>\n  <1a/></r>", E_FAIL, 2, 4},
      {"<r>\nab\xC3(</r>", MX_E_ENCODINGSIGNATURE, 2, 3},
      {"<r>\n  t\xC3\xA9\xFF</r>", E_FAIL, 2, 5},  // the bad byte, after a two-byte character
      {"<?xml version='1.0' encoding='no-such-charset'?><r/>", MX_E_ENCODING},
      {"<!DOCTYPE a><a/>", WC_E_DTDPROHIBITED},  // with DTDs prohibited, below
  };
  for (const auto& c : cases) {
    ReaderPtr r;
    if (c.hr == WC_E_DTDPROHIBITED) r->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    WalkResult w = walk(r.r, c.doc);
    EXPECT_TRUE(FAILED(w.hr)) << c.doc << " -> " << std::hex << w.hr;
    if (c.hr != E_FAIL) { EXPECT_EQ(w.hr, c.hr) << c.doc; }
    EXPECT_EQ(c.line ? w.errLine : 0, c.line) << c.doc;
    EXPECT_EQ(c.col ? w.errCol : 0, c.col) << c.doc;
  }
}
