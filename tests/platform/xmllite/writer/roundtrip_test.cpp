// Round trip: random documents written through the writer, in random
// encodings, parse with an independent parser and give back the content
// that was written (refused calls leave nothing behind).
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace twxml::xmlwriter::test {
namespace {

std::string utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The content model both sides are reduced to.
struct Node {
  enum Kind { Element, Text, Comment, PI } kind;
  std::string uri, name, text;
  std::vector<std::string> attrs;  // "uri|local=value", sorted
  std::vector<Node> children;
};

std::string quote(const std::string& s) {
  return std::to_string(s.size()) + ":" + s;
}

// Adjacent text merged; with indentation, white-space-only text dropped.
std::string dump(const std::vector<Node>& nodes, bool dropBlank) {
  std::vector<Node> merged;
  for (const Node& n : nodes) {
    if (n.kind == Node::Text && !merged.empty() && merged.back().kind == Node::Text)
      merged.back().text += n.text;
    else
      merged.push_back(n);
  }
  std::string out;
  for (const Node& n : merged) {
    switch (n.kind) {
      case Node::Text:
        if (n.text.empty()) break;
        if (dropBlank && n.text.find_first_not_of(" \t\r\n") == std::string::npos) break;
        out.append("T").append(quote(n.text)).append("\n");
        break;
      case Node::Comment: out.append("C").append(quote(n.text)).append("\n"); break;
      case Node::PI:
        out.append("P").append(quote(n.name)).append(quote(n.text)).append("\n");
        break;
      case Node::Element: {
        std::vector<std::string> attrs = n.attrs;
        std::sort(attrs.begin(), attrs.end());
        out.append("E{").append(n.uri).append("}").append(n.name).append("[");
        for (const std::string& a : attrs) out.append(quote(a)).append(" ");
        out.append("]\n").append(dump(n.children, dropBlank)).append("/E\n");
        break;
      }
    }
  }
  return out;
}

std::string str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

std::vector<Node> fromLibxml(xmlNode* first) {
  std::vector<Node> out;
  for (xmlNode* n = first; n; n = n->next) {
    Node m{};
    switch (n->type) {
      case XML_ELEMENT_NODE:
        m.kind = Node::Element;
        m.uri = n->ns ? str(n->ns->href) : "";
        m.name = str(n->name);
        for (xmlAttr* a = n->properties; a; a = a->next) {
          xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
          m.attrs.push_back((a->ns ? str(a->ns->href) : "") + "|" + str(a->name) + "=" + str(v));
          xmlFree(v);
        }
        m.children = fromLibxml(n->children);
        break;
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        m.kind = Node::Text;
        m.text = str(n->content);
        break;
      case XML_COMMENT_NODE:
        m.kind = Node::Comment;
        m.text = str(n->content);
        break;
      case XML_PI_NODE:
        m.kind = Node::PI;
        m.name = str(n->name);
        m.text = str(n->content);
        break;
      default:
        continue;  // the DTD node, if any
    }
    out.push_back(std::move(m));
  }
  return out;
}

const char16_t* const kEncodings[] = {u"UTF-8",        u"UTF-16",    u"ISO-8859-1",
                                      u"windows-1252", u"Shift_JIS", u"EUC-JP",
                                      u"GB18030",      u"KOI8-R"};

class Generator {
 public:
  Generator(IXmlWriter* w, uint32_t seed, bool unicode) : w_(w), rng_(seed), unicode_(unicode) {}

  std::vector<Node> document() {
    std::vector<Node> top;
    EXPECT_EQ(w_->WriteStartDocument(static_cast<XmlStandalone>(pick(3))), S_OK);
    for (int i = pick(3); i > 0; --i) misc(top);
    // The root must be accepted for the document to end well.
    size_t before = top.size();
    const int trailing = pick(3);
    leaveRootOpen_ = trailing == 0 && chance(50);  // WriteEndDocument closes it
    for (int tries = 0; tries < 50 && top.size() == before; ++tries) element(top, 0);
    for (int i = trailing; i > 0; --i) misc(top);
    EXPECT_EQ(w_->WriteEndDocument(), S_OK);
    return top;
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
        u"a",      u"Z",      u" ",      u"<",      u">",      u"&",      u"\"",     u"'",
        u"\t",     u"\n",     u"\r",     u"]]>",    u"]",      u"\u00e9", u"\u00ff", u"\u20ac",
        u"\u0436", u"\u4e2d", u"\u65e5", u"\u30a2", u"\U0001F600", u"\ufffd", u"\u0085",
        u"\u2028", u"\u00a0", u"\u00a5", u"~",      u"\\",     u"-",      u"?",      u"word ",
        u"\r\n"};
    const int n = chance(3) ? 3000 : pick(12);
    std::u16string s;
    for (int i = 0; i < n; ++i) {
      const std::u16string& piece = pool[pick(static_cast<int>(std::size(pool)))];
      if (noCr && piece.find(u'\r') != std::u16string::npos) continue;
      if (piece.find_first_of(exclude) != std::u16string::npos && !exclude.empty()) continue;
      s += piece;
    }
    return s;
  }

  // A refusal for a character the output encoding lacks is the only one
  // a name or markup may get.
  void expectAcceptedOrUnrepresentable(HRESULT hr) {
    if (hr == S_OK) return;
    EXPECT_FALSE(unicode_);
    EXPECT_EQ(hr, WR_E_INVALIDCHARACTER);
  }

  void misc(std::vector<Node>& into) {
    if (chance(50)) {
      std::u16string c = text(true, u"-");
      HRESULT hr = w_->WriteComment(c.c_str());
      expectAcceptedOrUnrepresentable(hr);
      if (hr == S_OK) into.push_back(Node{Node::Comment, "", "", utf8(c), {}, {}});
    } else {
      std::u16string target = name();
      std::u16string data = u"d";
      data += text(true, u"?");
      HRESULT hr = w_->WriteProcessingInstruction(target.c_str(), data.c_str());
      expectAcceptedOrUnrepresentable(hr);
      if (hr == S_OK) into.push_back(Node{Node::PI, "", utf8(target), utf8(data), {}, {}});
    }
  }

  void element(std::vector<Node>& into, int depth) {
    static const char16_t* const prefixes[] = {nullptr, u"", u"a", u"b", u"p"};
    static const char16_t* const uris[] = {u"", u"urn:a", u"urn:b", u"http://e.com/?q=1&x=\"y\"<"};
    const char16_t* prefix = prefixes[pick(5)];
    const char16_t* uri = uris[pick(4)];
    std::u16string local = name();
    HRESULT hr = w_->WriteStartElement(prefix, local.c_str(), uri);
    if (prefix && *prefix && !*uri) {
      if (hr != WR_E_INVALIDCHARACTER || unicode_) {
        EXPECT_EQ(hr, WR_E_NSPREFIXWITHEMPTYNSURI);
      }
      return;
    }
    expectAcceptedOrUnrepresentable(hr);
    if (hr != S_OK) return;
    Node e{Node::Element, utf8(uri), utf8(local), "", {}, {}};

    std::vector<std::pair<std::string, std::string>> seen;  // (uri, local)
    for (int i = pick(5); i > 0; --i) {
      const char16_t* ap = prefixes[pick(5)];
      const char16_t* au = chance(50) ? nullptr : uris[pick(4)];
      if (!au) ap = nullptr;
      std::u16string al = name();
      std::u16string value = text(false);
      hr = w_->WriteAttributeString(ap, al.c_str(), au, value.c_str());
      const std::string key = (au ? utf8(au) : "") + "|" + utf8(al);
      const bool duplicate =
          std::find(seen.begin(), seen.end(), std::make_pair(au ? utf8(au) : "", utf8(al))) !=
          seen.end();
      if (ap && *ap && au && !*au) {
        if (hr != WR_E_INVALIDCHARACTER || unicode_) {
          EXPECT_EQ(hr, WR_E_NSPREFIXWITHEMPTYNSURI);
        }
      } else if (hr == WR_E_NSPREFIXDECLARED) {
        EXPECT_TRUE(ap && *ap);  // the prefix is bound otherwise on this element
      } else if (duplicate) {
        EXPECT_TRUE(hr == WR_E_DUPLICATEATTRIBUTE || hr == WR_E_INVALIDCHARACTER) << hr;
      } else {
        expectAcceptedOrUnrepresentable(hr);
      }
      if (hr == S_OK) {
        seen.emplace_back(au ? utf8(au) : "", utf8(al));
        e.attrs.push_back(key + "=" + utf8(value));
      }
    }

    const int children = depth < 4 ? pick(6) : 0;
    for (int i = 0; i < children; ++i) {
      switch (pick(10)) {
        case 0:
        case 1:
        case 2:
        case 3: element(e.children, depth + 1); break;
        case 4:
        case 5: {
          std::u16string t = text(false);
          ASSERT_EQ(w_->WriteString(t.c_str()), S_OK);
          e.children.push_back(Node{Node::Text, "", "", utf8(t), {}, {}});
          break;
        }
        case 6: {
          std::u16string t = text(false) + u"tail";
          const UINT n = static_cast<UINT>(t.size() - 4);
          ASSERT_EQ(w_->WriteChars(t.data(), n), S_OK);
          e.children.push_back(Node{Node::Text, "", "", utf8(t.substr(0, n)), {}, {}});
          break;
        }
        case 7: {
          std::u16string t = text(true);
          hr = w_->WriteCData(t.c_str());
          expectAcceptedOrUnrepresentable(hr);
          if (hr == S_OK) e.children.push_back(Node{Node::Text, "", "", utf8(t), {}, {}});
          if (chance(30)) {
            ASSERT_EQ(w_->WriteCharEntity(u'\u20ac'), S_OK);
            e.children.push_back(Node{Node::Text, "", "", "\xe2\x82\xac", {}, {}});
          }
          break;
        }
        default: misc(e.children); break;
      }
    }
    if (depth > 0 || !leaveRootOpen_) {
      ASSERT_EQ(chance(50) ? w_->WriteEndElement() : w_->WriteFullEndElement(), S_OK);
    }
    into.push_back(std::move(e));
  }

  IXmlWriter* w_;
  bool leaveRootOpen_ = false;
  std::mt19937 rng_;
  bool unicode_;
};

TEST(XmlWriterRoundTrip, RandomDocumentsParseBackUnchanged) {
  for (uint32_t seed = 1; seed <= 240; ++seed) {
    SCOPED_TRACE(seed);
    const char16_t* enc = kEncodings[seed % std::size(kEncodings)];
    const bool unicode = enc[0] == u'U';
    const bool indent = seed % 3 == 0;
    WriterFixture w(enc);
    ASSERT_EQ(w->SetProperty(XmlWriterProperty_Indent, indent), S_OK);
    std::vector<Node> expected = Generator(w.get(), seed, unicode).document();
    if (testing::Test::HasFatalFailure()) return;
    const std::string& bytes = w.stream()->data();

    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "doc.xml",
                                  nullptr, XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOENT |
                                               XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    ASSERT_NE(doc, nullptr) << "not well formed:\n" << bytes.substr(0, 2000);
    std::string declared(enc, enc + std::char_traits<char16_t>::length(enc));
    EXPECT_EQ(str(doc->encoding), declared);
    const std::string got = dump(fromLibxml(doc->children), indent);
    const std::string want = dump(expected, indent);
    if (got != want) {
      size_t at = 0;
      while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
      const size_t from = at > 80 ? at - 80 : 0;
      ADD_FAILURE() << "content differs at " << at << "\n got: " << got.substr(from, 160)
                    << "\nwant: " << want.substr(from, 160);
    }
    xmlFreeDoc(doc);
  }
}

}  // namespace
}  // namespace twxml::xmlwriter::test
