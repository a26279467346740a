// Output encodings: names, byte order marks, characters the encoding cannot
// hold, and stateful encodings across flushes.
#include <string>

#include "support/iconv_text.h"
#include "test_support.h"

namespace twxml::xmlwriter::test {
namespace {

std::string decode(const std::string& bytes, const char* encoding) {
  std::string out;
  EXPECT_TRUE(twtest::convert(bytes, encoding, "UTF-8", &out)) << encoding;
  return out;
}

TEST(XmlWriterEncoding, NamesAliasesAndByteOrderMarks) {
  const struct {
    const char16_t* name;
    HRESULT expected;
    const char* declared;
  } cases[] = {
      {u"UTF-8", S_OK, "UTF-8"}, {u"utf8", S_OK, "UTF-8"}, {u"UTF-16", S_OK, "UTF-16"},
      {u"iso-8859-1", S_OK, "iso-8859-1"},
      // Common aliases are declared by their registered name, others as given.
      {u"latin1", S_OK, "ISO-8859-1"}, {u"windows-1252", S_OK, "windows-1252"},
      {u"CP1252", S_OK, "windows-1252"}, {u"sjis", S_OK, "Shift_JIS"},
      {u"koi8-u", S_OK, "koi8-u"}, {u"Shift_JIS", S_OK, "Shift_JIS"}, {u"EUC-JP", S_OK, "EUC-JP"},
      {u"GB18030", S_OK, "GB18030"}, {u"KOI8-R", S_OK, "KOI8-R"}, {u"US-ASCII", S_OK, "US-ASCII"},
      {u"no-such-encoding", WR_E_UNKNOWNENCODING, nullptr},
      {u"UTF-8//TRANSLIT", WR_E_UNKNOWNENCODING, nullptr},  // not an encoding name
      {u"", WR_E_UNKNOWNENCODING, nullptr}, {u"\u00e9t\u00e9", WR_E_UNKNOWNENCODING, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::u16string(c.name)));
    auto* s = new StringStream();
    IUnknown* out = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(s, nullptr, c.name, &out), c.expected);
    if (c.expected == S_OK) {
      IXmlWriter* w = nullptr;
      ASSERT_EQ(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&w), nullptr), S_OK);
      ASSERT_EQ(w->SetOutput(out), S_OK);
      out->Release();
      ASSERT_EQ(w->SetProperty(XmlWriterProperty_ByteOrderMark, FALSE), S_OK);
      ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
      ASSERT_EQ(w->WriteElementString(nullptr, u"a", nullptr, nullptr), S_OK);
      ASSERT_EQ(w->WriteEndDocument(), S_OK);
      w->Release();
      const bool wide = c.declared == std::string("UTF-16");
      EXPECT_EQ(wide ? decode(s->data(), "UTF-16LE") : s->data(),
                std::string("<?xml version=\"1.0\" encoding=\"") + c.declared + "\"?><a/>");
    } else {
      EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(s->Release(), 0u);  // nobody kept a reference
  }
  // UTF-16 is little-endian and has a byte order mark unless told otherwise.
  WriterFixture w(u"utf-16");
  ASSERT_EQ(w->WriteStartDocument(XmlStandalone_Omit), S_OK);
  ASSERT_EQ(w->WriteElementString(nullptr, u"a", nullptr, u"\u00e9\U0001F600"), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  std::u16string expected = u"\ufeff<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u00e9\U0001F600</a>";
  EXPECT_EQ(w.stream()->data(),
            std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2));

  auto* s = new StringStream();
  IUnknown* out = nullptr;
  EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(s, nullptr, nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(nullptr, nullptr, u"UTF-8", &out), E_INVALIDARG);
  EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(s, nullptr, u"UTF-8", nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(w.get(), nullptr, u"UTF-8", &out), E_NOINTERFACE);
  // The output object answers IUnknown and its own interface identifier.
  ASSERT_EQ(CreateXmlWriterOutputWithEncodingName(s, nullptr, u"UTF-8", &out), S_OK);
  void* p = nullptr;
  EXPECT_EQ(out->QueryInterface(IID_IXmlWriterOutput, &p), S_OK);
  static_cast<IUnknown*>(p)->Release();
  EXPECT_EQ(out->QueryInterface(IID_IStream, &p), E_NOINTERFACE);
  EXPECT_EQ(out->Release(), 0u);
  EXPECT_EQ(s->Release(), 0u);
}

TEST(XmlWriterEncoding, UnrepresentableCharacters) {
  WriterFixture w(u"ISO-8859-1");
  ASSERT_EQ(w->WriteStartElement(nullptr, u"r\u00e9", nullptr), S_OK);
  ASSERT_EQ(w->WriteAttributeString(nullptr, u"a", nullptr, u"\u00e9\u20ac\U0001F600"), S_OK);
  ASSERT_EQ(w->WriteString(u"\u00ff\u0100<"), S_OK);
  const std::string before = w.text();
  // Where a character reference cannot stand, the call is refused.
  EXPECT_EQ(w->WriteStartElement(nullptr, u"\u20ac", nullptr), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteStartElement(u"\u0100", u"a", u"urn:x"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteComment(u"\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteCData(u"x\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteProcessingInstruction(u"p", u"\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteProcessingInstruction(u"p\u20ac", u""), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w->WriteRaw(u"\u20ac"), WR_E_INVALIDCHARACTER);
  EXPECT_EQ(w.text(), before);
  ASSERT_EQ(w->WriteCharEntity(0x20AC), S_OK);
  ASSERT_EQ(w->WriteEndDocument(), S_OK);
  EXPECT_EQ(w.stream()->data(),
            "<r\xe9 a=\"\xe9&#x20AC;&#x1F600;\">\xff&#x100;&lt;&#x20AC;</r\xe9>");
  // KOI8-R holds Cyrillic but not Latin accents.
  WriterFixture k(u"KOI8-R");
  ASSERT_EQ(k->WriteElementString(nullptr, u"\u0436", nullptr, u"\u0436\u00e9"), S_OK);
  EXPECT_EQ(decode(k.text(), "KOI8-R"), "<\xd0\xb6>\xd0\xb6&#xE9;</\xd0\xb6>");

  // A long text can end a buffer-sized piece with a character reference for
  // a surrogate pair: the calls that follow must still find their room.
  for (size_t shift = 0; shift < 8; ++shift) {
    SCOPED_TRACE(shift);
    WriterFixture w(u"ISO-8859-1");
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteString(std::u16string(shift, u'a').c_str()), S_OK);
    ASSERT_EQ(w->WriteString((std::u16string(8190, u'\u20ac') + u"\U0001F600").c_str()), S_OK);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(w->WriteCharEntity(u'\u20ac'), S_OK);
    const std::string before = w.text();
    EXPECT_EQ(w->WriteString(u"x\u0001"), WR_E_INVALIDCHARACTER);  // still no trace
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(w.stream()->data().size(), before.size() + 4);
    EXPECT_EQ(w.stream()->data().size(), 3 + shift + 8190 * 8 + 9 + 40 * 8 + 4);
  }
}

TEST(XmlWriterEncoding, StatefulAndBomEncodingsSurviveFlushes) {
  // ISO-2022-JP shifts in and out; UTF-32 has a byte order mark only once.
  for (const char* enc : {"ISO-2022-JP", "UTF-32", "UTF-16BE"}) {
    SCOPED_TRACE(enc);
    WriterFixture w(std::u16string(enc, enc + std::char_traits<char>::length(enc)).c_str());
    ASSERT_EQ(w->WriteStartElement(nullptr, u"r", nullptr), S_OK);
    ASSERT_EQ(w->WriteString(u"\u65e5\u672c"), S_OK);
    ASSERT_EQ(w->Flush(), S_OK);
    ASSERT_EQ(w->WriteString(u"\u8a9e-x"), S_OK);
    ASSERT_EQ(w->Flush(), S_OK);
    ASSERT_EQ(w->WriteEndDocument(), S_OK);
    EXPECT_EQ(decode(w.stream()->data(), enc), "<r>\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e-x</r>");
  }
}

}  // namespace
}  // namespace twxml::xmlwriter::test
