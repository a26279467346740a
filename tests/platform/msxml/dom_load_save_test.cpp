// Loading and saving against libxml2: generated documents load to libxml2's
// tree and what is saved reads back to it; bad input, hostile input and
// failing streams leave an empty document with a parse error or a failed save
// with error information. (Other sources, save encodings and deep documents:
// the document face's tests and the twxml program's copies.)
#include <random>
#include <string>
#include <vector>

#include "dom_oracle.h"

using namespace domtest;

namespace {

class DomLoadSave : public DomTest {};

/* Loads bytes through an IStream; the load's result and success flag agree. */
HRESULT Load(const Ptr<IXMLDOMDocument>& d, const std::string& bytes) {
  TestStream s(bytes);
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = d->load(VUnk(&s), &ok);
  EXPECT_EQ(s.refs, 1u);  // no reference to the source is kept
  EXPECT_EQ(ok == VARIANT_TRUE, hr == S_OK);
  return hr;
}

std::string Save(const Ptr<IXMLDOMDocument>& d) {
  TestStream s;
  EXPECT_EQ(d->save(VUnk(&s)), S_OK) << TakeErrorDescription();
  EXPECT_EQ(s.refs, 1u);
  return s.data_;
}

LONG ParseErrorCode(const Ptr<IXMLDOMDocument>& d, LONG* line = nullptr, LONG* pos = nullptr, Bstr* reason = nullptr) {
  Ptr<IXMLDOMParseError> pe;
  EXPECT_EQ(d->get_parseError(pe.out()), S_OK);
  LONG code = 0;
  pe->get_errorCode(&code);
  if (line) pe->get_line(line);
  if (pos) pe->get_linepos(pos);
  if (reason) pe->get_reason(reason->out());
  return code;
}

/* A random document: namespaces, attributes, mixed content, comments, PIs,
   CDATA, internal entities, attribute defaults, character references,
   non-ASCII text (also only in the last bytes of short texts), white space
   that is dropped and white space kept by xml:space. Names of one length
   differ only inside, and two URIs only before their last eight bytes. */
std::string Generate(unsigned seed, int elements) {
  std::mt19937 rng(seed);
  auto pick = [&](std::initializer_list<const char*> l) { return std::string(l.begin()[rng() % l.size()]); };
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE root [<!ENTITY ent \"entity &#38;#38; text\">\n"
      "<!ENTITY nested \"[&ent;]\"><!ATTLIST item fixed CDATA \"dflt\">]>\n<!-- prolog --><?prolog data?>\n"
      "<root xmlns=\"urn:default\" xmlns:a=\"urn:a\" xmlns:b=\"urn:b\" xmlns:c=\"urn:aa:same-tail\"\n"
      "      xmlns:d=\"urn:bb:same-tail\">";
  std::vector<std::string> open{"root"};
  for (int made = 0; made < elements || open.size() > 1;) {
    int k = rng() % 12;
    if (made >= elements || (k == 0 && open.size() > 1)) {
      out += "</" + open.back() + ">" + (rng() % 2 ? pick({"\n  ", " ", "\t\n"}) : "");
      open.pop_back();
    } else if (k >= 1 && k <= 3) {
      std::string name = pick({"item", "a:item", "b:thing", "x-y.z", "n\xC3\xA4me", "a:\xE5\x90\x8D", "tag", "tbg",
                               "abcde", "abxde", "abcdefg", "abcxefg", "c:item", "d:item"});
      out += "<" + name;
      const char* an[] = {"id", "a:ref", "b:kind", "val", "c:ref", "d:ref", "tag", "tbg"};
      for (int i = 0, n = rng() % 9; i < n; ++i) {
        out += std::string(" ") + an[i] + "=\"" +
               pick({"1", "x &amp; y", "&lt;tag&gt;", "caf\xC3\xA9", "&ent;", "&#x20AC;&#65;", "a\tb", "  sp  ",
                     "&quot;q&quot;", "'", "abcd\xE2\x82\xAC", "abcdefgh\xC3\xA9", "a value longer than a block, &quot;quoted&quot;\tand &lt;marked&gt;"}) +
               "\"";
      }
      if (rng() % 5 == 0) out += " xml:space=\"" + pick({"preserve", "default"}) + "\"";
      if (rng() % 6 == 0) {
        out += "/>";
      } else {
        out += ">";
        open.push_back(name);
      }
      ++made;
    } else if (k >= 10) {
      out += "<item/>";
      ++made;
    } else {
      out += k <= 5   ? pick({"text", "a &lt; b", "x &amp;&amp; y", "&ent;", "&nested;", "caf\xC3\xA9 \xE2\x82\xAC",
                              "\xF0\x9F\x98\x80", "&#x1F600;", "&#10;line", "tail ", "abcd\xC3\xA9",
                              "text past the first block: x &gt; y &amp;&amp; caf\xC3\xA9 &#13;"})
             : k == 6 ? pick({"\n    ", "  ", "\n", " \t "})
             : k == 7 ? pick({"<!-- c -->", "<!---->", "<!-- \xC3\xA9 -->"})
             : k == 8 ? pick({"<?pi data?>", "<?target?>", "<?t  spaced data ?>"})
                      : pick({"<![CDATA[raw <text> & stuff]]>", "<![CDATA[]]>", "<![CDATA[a]]b]]>", "<![CDATA[  ]]>"});
    }
  }
  return out + "</root>\n<!-- trailing -->\n";
}

TEST_F(DomLoadSave, GeneratedDocumentsMatchLibxml2AndRoundTrip) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::string xml = Generate(seed, 200);
    std::string want = LibxmlCanonOf(xml);
    ASSERT_FALSE(want.empty()) << "generator made a bad document";
    auto d = NewDoc();
    ASSERT_EQ(Load(d, xml), S_OK) << xml;
    EXPECT_TRUE(SameTree(DomCanonOf(d), want));
    // Kept white space where the document asks for none to be dropped.
    auto p = NewDoc();
    ASSERT_EQ(p->put_preserveWhiteSpace(VARIANT_TRUE), S_OK);
    ASSERT_EQ(Load(p, xml), S_OK);
    EXPECT_TRUE(SameTree(DomCanonOf(p), LibxmlCanonOf(xml, true)));
    // What is saved reads back to the same tree, in libxml2 and in the model.
    std::string saved = Save(d);
    EXPECT_TRUE(SameTree(LibxmlCanonOf(saved), want));
    auto again = NewDoc();
    ASSERT_EQ(Load(again, saved), S_OK);
    EXPECT_TRUE(SameTree(DomCanonOf(again), want));
    EXPECT_EQ(Save(again), saved);
  }
}

// The declaration that drives the save encoding: the document face's tests
// and the twxml program's copies.
TEST_F(DomLoadSave, NoEncodingFromOtherInstructionsNothingFetched) {
  auto d = NewDoc(), again = NewDoc();
  // A PI whose target merely begins with "xml" names no encoding.
  ASSERT_EQ(Load(d, "<?xmlfoo encoding=\"ISO-8859-1\"?><r>\xC3\xA9</r>"), S_OK);
  EXPECT_EQ(Text(d), "\xC3\xA9");
  ASSERT_EQ(Load(again, Save(d)), S_OK);
  EXPECT_EQ(Text(again), "\xC3\xA9");
  // An external DTD or entity is never fetched.
  ASSERT_EQ(Load(d, "<!DOCTYPE a SYSTEM 'file:///etc/passwd'><a/>"), S_OK);
  EXPECT_EQ(Xml(d), "<a/>\r\n");
  if (Load(d, "<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>[&e;]</a>") == S_OK) {
    EXPECT_EQ(Text(d), "[]");
  }
}

TEST_F(DomLoadSave, BadAndHostileInputLeaveAnEmptyDocumentAndAParseError) {
  std::string laughs = "<!DOCTYPE a [<!ENTITY a0 'xxxxxxxxxx'>";
  for (int i = 1; i <= 7; ++i) {
    std::string ref = "&a" + std::to_string(i - 1) + ";";
    laughs += "<!ENTITY a" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) laughs += ref;
    laughs += "'>";
  }
  laughs += "]><a>&a7;</a>";
  struct Case {
    const char* what;
    std::string xml;
    LONG line;  // 0: not checked
  } cases[] = {
      {"empty", "", 0},
      {"only a prolog", "<?xml version=\"1.0\"?><!-- c -->", 0},
      {"mismatch", "<a>\n  <b></c></a>", 2},
      {"bad char", "<a>\x01</a>", 1},
      {"recursive entity", "<!DOCTYPE a [<!ENTITY e '&e;'>]><a>&e;</a>", 1},
      {"billion laughs", laughs, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = NewDoc();
    ASSERT_EQ(Load(d, "<old><kept/></old>"), S_OK);
    Ptr<IXMLDOMElement> old;
    ASSERT_EQ(d->get_documentElement(old.out()), S_OK);
    EXPECT_EQ(Load(d, c.xml), S_FALSE);
    Node child;
    EXPECT_EQ(d->get_firstChild(child.out()), S_FALSE);
    EXPECT_EQ(Xml(d), "");
    LONG line = 0, pos = 0;
    Bstr reason;
    EXPECT_TRUE(FAILED(ParseErrorCode(d, &line, &pos, &reason)));
    EXPECT_FALSE(reason.str().empty());
    if (c.line) {
      EXPECT_EQ(line, c.line);
      EXPECT_GT(pos, 0);
    }
    EXPECT_EQ(Xml(old), "<old><kept/></old>");  // the earlier content stays usable for its holder
    ASSERT_EQ(Load(d, "<fine/>"), S_OK);       // and the document loads again; the error clears
    EXPECT_EQ(ParseErrorCode(d), 0);
  }
  // A string whose declaration is not well formed fails too.
  auto d = NewDoc();
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(d->loadXML(Bstr(u"<?xml version=\"1.0\" encoding=\"ISO-8859-\u00ff1\"?><r/>"), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
}

TEST_F(DomLoadSave, StreamsFailingPartWay) {
  std::string xml = Generate(3, 8000);
  for (size_t at : {size_t(0), size_t(1), size_t(100), xml.size() / 2}) {
    SCOPED_TRACE(at);
    auto d = NewDoc();
    TestStream s(xml);
    s.failReadAfter = at;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(d->load(VUnk(&s), &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(Xml(d), "");
    EXPECT_TRUE(FAILED(ParseErrorCode(d)));
  }
  auto d = NewDoc();
  // A large document passes in many blocks; a target refusing writes at any
  // point fails the save with error information and keeps no reference.
  ASSERT_EQ(Load(d, xml), S_OK);
  std::string full = Save(d);
  ASSERT_GT(full.size(), 256u * 1024);
  EXPECT_TRUE(SameTree(LibxmlCanonOf(full), DomCanonOf(d)));
  for (size_t limit : {size_t(0), size_t(10), size_t(70000), full.size() - 1}) {
    SCOPED_TRACE(limit);
    TestStream s;
    s.failWriteAfter = limit;
    TakeErrorDescription();
    EXPECT_TRUE(FAILED(d->save(VUnk(&s))));
    EXPECT_LE(s.data_.size(), limit);
    EXPECT_FALSE(TakeErrorDescription().empty());
    EXPECT_EQ(s.refs, 1u);
  }
}

// An encoding the save cannot honour fails with error information instead of
// writing bytes that do not read back: unknown names, and encodings that do
// not write markup as itself (UTF-7 writes '<' as "+ADw-").
TEST_F(DomLoadSave, EncodingsThatCannotCarryTheDocumentAreRefused) {
  for (const char* name : {"x-no-such-encoding", "UTF-7"}) {
    SCOPED_TRACE(name);
    auto d = NewDoc();
    VARIANT_BOOL ok;
    ASSERT_EQ(d->loadXML(Bstr(U16("<?xml version=\"1.0\" encoding=\"" + std::string(name) + "\"?><r>x</r>")), &ok), S_OK);
    TestStream s;
    TakeErrorDescription();
    EXPECT_TRUE(FAILED(d->save(VUnk(&s))));
    EXPECT_FALSE(TakeErrorDescription().empty());
  }
}

}  // namespace
