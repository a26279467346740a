// Copies from the reader: where the shallow, attribute and node copies leave
// the reader, defaults on request, failures passed on. Whole documents are
// the twxml program's copy tests, which copy node by node.
#include <string>

#include "../../../platform/xmllite/reader_util.h"
#include "test_support.h"

namespace twxml::xmlwriter::test {
namespace {

using twxml::test::ReaderPtr;

// The whole document through WriteNode on a reader that has not started.
std::string copy(const std::string& doc, const char16_t* encoding = nullptr, HRESULT want = S_FALSE,
                 BOOL defaults = TRUE) {
  ReaderPtr r;
  r.input(doc);
  WriterFixture w(encoding);
  EXPECT_EQ(w->WriteNode(r.r, defaults), want);
  if (want == S_FALSE) {
    EXPECT_EQ(w->WriteEndDocument(), S_OK);
  }
  return w.text();
}

TEST(NodeCopy, ReaderPositionsAndFailures) {
  ReaderPtr r;
  r.input("<r><a k='1' l='2' m='3'><b/>t</a><c/></r>");
  WriterFixture w;
  XmlNodeType t;
  ASSERT_EQ(r->Read(&t), S_OK);  // r
  EXPECT_EQ(w->WriteNodeShallow(r.r, TRUE), S_OK);
  ASSERT_EQ(r->Read(&t), S_OK);  // a
  // From an attribute: that one and the rest; the reader stays on it.
  ASSERT_EQ(r->MoveToFirstAttribute(), S_OK);
  ASSERT_EQ(r->MoveToNextAttribute(), S_OK);
  EXPECT_EQ(w->WriteStartElement(nullptr, u"copy", nullptr), S_OK);
  EXPECT_EQ(w->WriteAttributes(r.r, TRUE), S_OK);
  LPCWSTR name;
  ASSERT_EQ(r->GetLocalName(&name, nullptr), S_OK);
  EXPECT_EQ(std::u16string(name), u"l");
  EXPECT_EQ(w->WriteEndElement(), S_OK);
  // WriteNode from an attribute copies its element and stops on the next sibling.
  EXPECT_EQ(w->WriteNode(r.r, TRUE), S_OK);
  ASSERT_EQ(r->GetNodeType(&t), S_OK);
  EXPECT_EQ(t, XmlNodeType_Element);
  EXPECT_EQ(w->WriteNode(r.r, TRUE), S_OK);  // c
  EXPECT_EQ(w->WriteNode(r.r, TRUE), S_FALSE);  // the end of r, then the end of input
  EXPECT_EQ(w->WriteNode(r.r, TRUE), S_FALSE);  // nothing more
  EXPECT_EQ(w.text(), "<r><copy l=\"2\" m=\"3\"/><a k=\"1\" l=\"2\" m=\"3\"><b/>t</a><c/></r>");

  WriterFixture none;
  EXPECT_EQ(none->WriteNode(nullptr, TRUE), E_INVALIDARG);
  EXPECT_EQ(none->WriteNodeShallow(nullptr, TRUE), E_INVALIDARG);
  EXPECT_EQ(none->WriteAttributes(nullptr, TRUE), E_INVALIDARG);
  // The reader's failure comes back as it is; the writer's too.
  copy("<r><a></r>", nullptr, WC_E_ELEMENTMATCH);
  copy("<r><!--\xE2\x9C\x93--></r>", u"ISO-8859-1", WR_E_INVALIDCHARACTER);
  // Defaults from the document type only when asked for.
  const std::string dtd = "<!DOCTYPE a [<!ATTLIST a d CDATA 'x'>]><a/>";
  EXPECT_NE(copy(dtd, nullptr, S_FALSE, TRUE).find("<a d=\"x\"/>"), std::string::npos);
  EXPECT_NE(copy(dtd, nullptr, S_FALSE, FALSE).find("<a/>"), std::string::npos);
}

}  // namespace
}  // namespace twxml::xmlwriter::test
