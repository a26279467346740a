// Properties checked with an independent parser: random documents written in
// several encodings parse back to the content that was written. (Random call
// sequences with good and bad arguments: the writer fuzz harness.)
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/iconv_text.h"
#include "test_support.h"
#include "twxml/platform/simd.h"

namespace twxml::xmlwriter::test {
namespace {

using twtest::utf8;
using Events = std::vector<std::string>;  // "E{uri}name[attrs]", "/E", "Ttext", "Ctext", "Pt data"

std::string str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

xmlDocPtr parse(const std::string& bytes, int options = 0) {
  return xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "doc.xml", nullptr,
                       options | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
}

std::string elementEvent(const std::string& uri, const std::string& name, Events attrs) {
  std::sort(attrs.begin(), attrs.end());
  std::string e = "E{" + uri + "}" + name + "[";
  for (const std::string& a : attrs) e += std::to_string(a.size()) + ":" + a + " ";
  return e + "]";
}

void fromLibxml(xmlNode* n, Events& out) {
  for (; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) {
      Events attrs;
      for (xmlAttr* a = n->properties; a; a = a->next) {
        xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
        attrs.push_back((a->ns ? str(a->ns->href) : "") + "|" + str(a->name) + "=" + str(v));
        xmlFree(v);
      }
      out.push_back(elementEvent(n->ns ? str(n->ns->href) : "", str(n->name), attrs));
      fromLibxml(n->children, out);
      out.push_back("/E");
    } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      out.push_back("T" + str(n->content));
    } else if (n->type == XML_COMMENT_NODE) {
      out.push_back("C" + str(n->content));
    } else if (n->type == XML_PI_NODE) {
      out.push_back("P" + str(n->name) + " " + str(n->content));
    }
  }
}

// Adjacent text merged; empty text, and with indentation blank text, dropped.
std::string canonical(const Events& in, bool dropBlank) {
  Events merged;
  for (const std::string& e : in) {
    if (e[0] == 'T' && !merged.empty() && merged.back()[0] == 'T') merged.back() += e.substr(1);
    else merged.push_back(e);
  }
  std::string out;
  for (const std::string& e : merged) {
    if (e[0] == 'T' && (e.size() == 1 || (dropBlank && e.find_first_not_of(" \t\r\n", 1) ==
                                                           std::string::npos)))
      continue;
    out += std::to_string(e.size()) + ":" + e + "\n";
  }
  return out;
}

class Generator {
 public:
  Generator(IXmlWriter* w, uint32_t seed, bool unicode) : w_(w), rng_(seed), unicode_(unicode) {}

  Events document() {
    EXPECT_EQ(w_->WriteStartDocument(static_cast<XmlStandalone>(pick(3))), S_OK);
    for (int i = pick(3); i > 0; --i) misc();
    const int trailing = pick(3);
    leaveRootOpen_ = trailing == 0 && chance(50);  // WriteEndDocument closes it
    // The root must be accepted for the document to end well.
    for (int tries = 0; tries < 50 && !element(0); ++tries) {
    }
    for (int i = trailing; i > 0; --i) misc();
    EXPECT_EQ(w_->WriteEndDocument(), S_OK);
    return std::move(events_);
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool chance(int percent) { return pick(100) < percent; }

  std::u16string name() {
    static const std::u16string starts[] = {u"a", u"b", u"Z", u"_", u"\u00e9", u"\u0436",
                                            u"\u4e2d", u"\u30a2", u"\U0001D49C", u"x"};
    static const std::u16string rest[] = {u"a", u"1", u"-", u".", u"\u00b7", u"\u0301",
                                          u"\u00e9", u"\u65e5", u"_", u"z"};
    std::u16string s = starts[pick(10)];
    for (int i = pick(6); i > 0; --i) s += rest[pick(10)];
    return s;
  }

  // Text from a pool that has every escaping case and characters some
  // encodings lack. noCr: CR would come back as LF (CDATA, comments, PIs).
  std::u16string text(bool noCr, const std::u16string& exclude = u"") {
    static const std::u16string pool[] = {
        u"a", u"Z", u" ", u"<", u">", u"&", u"\"", u"'", u"\t", u"\n", u"\r", u"]]>", u"]",
        u"\u00e9", u"\u00ff", u"\u20ac", u"\u0436", u"\u4e2d", u"\u65e5", u"\u30a2",
        u"\U0001F600", u"\ufffd", u"\u0085", u"\u2028", u"\u00a0", u"\u00a5", u"~", u"\\", u"-",
        u"?", u"word ", u"\r\n"};
    std::u16string s;
    for (int i = chance(3) ? 3000 : pick(12); i > 0; --i) {
      const std::u16string& piece = pool[pick(static_cast<int>(std::size(pool)))];
      if ((noCr && piece.find(u'\r') != piece.npos) ||
          (!exclude.empty() && piece.find_first_of(exclude) != piece.npos))
        continue;
      s += piece;
    }
    return s;
  }

  // A refusal for a character the output encoding lacks is the only one a
  // name or markup may get.
  void acceptedOrUnrepresentable(HRESULT hr) { EXPECT_EQ(hr, unicode_ ? S_OK : hr ? WR_E_INVALIDCHARACTER : S_OK); }
  void prefixWithoutUri(HRESULT hr) {
    EXPECT_EQ(hr, !unicode_ && hr == WR_E_INVALIDCHARACTER ? hr : WR_E_NSPREFIXWITHEMPTYNSURI);
  }

  void misc() {
    std::u16string target = name(), data = u"d" + text(true, u"?"), c = text(true, u"-");
    const bool comment = chance(50);
    HRESULT hr = comment ? w_->WriteComment(c.c_str())
                         : w_->WriteProcessingInstruction(target.c_str(), data.c_str());
    acceptedOrUnrepresentable(hr);
    if (hr == S_OK) events_.push_back(comment ? "C" + utf8(c) : "P" + utf8(target) + " " + utf8(data));
  }

  bool element(int depth) {
    static const char16_t* const prefixes[] = {nullptr, u"", u"a", u"b", u"p"};
    static const char16_t* const uris[] = {u"", u"urn:a", u"urn:b", u"http://e.com/?q=1&x=\"y\"<"};
    const char16_t* prefix = prefixes[pick(5)];
    const char16_t* uri = uris[pick(4)];
    std::u16string local = name();
    HRESULT hr = w_->WriteStartElement(prefix, local.c_str(), uri);
    if (prefix && *prefix && !*uri) return prefixWithoutUri(hr), false;
    acceptedOrUnrepresentable(hr);
    if (hr != S_OK) return false;
    const size_t at = events_.size();
    events_.emplace_back();
    Events attrs, seen;  // seen: "uri|local"
    for (int i = pick(5); i > 0; --i) {
      const char16_t* au = chance(50) ? nullptr : uris[pick(4)];
      const char16_t* ap = au ? prefixes[pick(5)] : nullptr;
      std::u16string al = name(), value = text(false);
      hr = w_->WriteAttributeString(ap, al.c_str(), au, value.c_str());
      const std::string key = (au ? utf8(au, std::char_traits<char16_t>::length(au)) : "") + "|" +
                              utf8(al);
      if (ap && *ap && au && !*au) {
        prefixWithoutUri(hr);
      } else if (hr == WR_E_NSPREFIXDECLARED) {
        EXPECT_TRUE(ap && *ap);  // the prefix is bound otherwise on this element
      } else if (std::count(seen.begin(), seen.end(), key)) {
        EXPECT_TRUE(hr == WR_E_DUPLICATEATTRIBUTE || hr == WR_E_INVALIDCHARACTER) << hr;
      } else {
        acceptedOrUnrepresentable(hr);
      }
      if (hr == S_OK) seen.push_back(key), attrs.push_back(key + "=" + utf8(value));
    }
    events_[at] = elementEvent(utf8(uri, std::char_traits<char16_t>::length(uri)), utf8(local),
                               attrs);
    for (int i = depth < 4 ? pick(6) : 0; i > 0; --i) {
      const int kind = pick(10);
      if (kind < 4) {
        element(depth + 1);
      } else if (kind < 7) {  // WriteString, or WriteChars of all but a tail
        std::u16string t = text(false);
        EXPECT_EQ(kind < 6 ? w_->WriteString(t.c_str())
                           : w_->WriteChars((t + u"tail").data(), static_cast<UINT>(t.size())),
                  S_OK);
        events_.push_back("T" + utf8(t));
      } else if (kind == 7) {
        std::u16string t = text(true);
        hr = w_->WriteCData(t.c_str());
        acceptedOrUnrepresentable(hr);
        if (hr == S_OK) events_.push_back("T" + utf8(t));
        if (chance(30)) {
          EXPECT_EQ(w_->WriteCharEntity(u'\u20ac'), S_OK);
          events_.push_back("T\xe2\x82\xac");
        }
      } else {
        misc();
      }
    }
    if (depth > 0 || !leaveRootOpen_) {
      EXPECT_EQ(chance(50) ? w_->WriteEndElement() : w_->WriteFullEndElement(), S_OK);
    }
    events_.push_back("/E");
    return true;
  }

  IXmlWriter* w_;
  std::mt19937 rng_;
  bool unicode_, leaveRootOpen_ = false;
  Events events_;
};

TEST(XmlWriterRoundTrip, RandomDocumentsParseBackUnchanged) {
  const char16_t* const encodings[] = {u"UTF-8",        u"UTF-16",    u"ISO-8859-1",
                                       u"windows-1252", u"Shift_JIS", u"EUC-JP",
                                       u"GB18030",      u"KOI8-R"};
  for (uint32_t seed = 1; seed <= 240; ++seed) {
    SCOPED_TRACE(seed);
    // Every vector level takes its share of the documents.
    simd::Force(simd::Level(seed / 7 % (int(simd::Best()) + 1)));
    const char16_t* enc = encodings[seed % std::size(encodings)];
    const bool indent = seed % 3 == 0;
    WriterFixture w(enc);
    ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, indent), S_OK);
    const Events expected = Generator(w.get(), seed, enc[0] == u'U').document();
    if (testing::Test::HasFailure()) return;
    const std::string& bytes = w.stream()->data();
    xmlDocPtr doc = parse(bytes, XML_PARSE_NOCDATA | XML_PARSE_NOENT);
    ASSERT_NE(doc, nullptr) << "not well formed:\n" << bytes.substr(0, 2000);
    EXPECT_EQ(str(doc->encoding), utf8(enc, std::char_traits<char16_t>::length(enc)));
    Events got;
    fromLibxml(doc->children, got);
    xmlFreeDoc(doc);
    EXPECT_EQ(canonical(got, indent), canonical(expected, indent));
  }
  simd::Force(simd::Best());
}

}  // namespace
}  // namespace twxml::xmlwriter::test
