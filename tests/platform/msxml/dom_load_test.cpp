// Loading: generated documents are loaded through every kind of source and
// compared with libxml2's tree; saved output reloads to the same tree; bad
// input gives a parse error and an empty document, never a half-built one.
#include <random>
#include <string>

#include "dom_oracle.h"
#include "dom_test_stream.h"

using namespace domtest;

namespace {

class DomLoad : public DomTest {};

/* Loads UTF-8 bytes through an IStream; returns the load's HRESULT. */
HRESULT LoadBytes(const Ptr<IXMLDOMDocument>& d, const std::string& bytes, VARIANT_BOOL* ok = nullptr) {
  TestStream s(bytes);
  VARIANT_BOOL success = VARIANT_FALSE;
  HRESULT hr = d->load(VUnk(&s), &success);
  EXPECT_EQ(s.refs, 1u);  // no reference to the source is kept
  if (ok) *ok = success;
  EXPECT_EQ(success == VARIANT_TRUE, hr == S_OK);
  return hr;
}

std::string SaveBytes(const Ptr<IXMLDOMDocument>& d) {
  TestStream s;
  EXPECT_EQ(d->save(VUnk(&s)), S_OK);
  return s.data_;
}

/* A random document as text: namespaces, attributes, mixed content,
   comments, PIs, CDATA, internal entities, character references, non-ASCII
   text, white space that is dropped and white space kept by xml:space. */
std::string Generate(unsigned seed, int elements) {
  std::mt19937 rng(seed);
  auto pick = [&](std::initializer_list<const char*> l) { return *(l.begin() + rng() % l.size()); };
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out +=
      "<!DOCTYPE root [\n"
      "  <!ENTITY ent \"entity &#38;#38; text\">\n"
      "  <!ENTITY nested \"[&ent;]\">\n"
      "  <!ATTLIST item fixed CDATA \"dflt\">\n"
      "]>\n<!-- prolog comment -->\n<?prolog data?>\n";
  out += "<root xmlns=\"urn:default\" xmlns:a=\"urn:a\" xmlns:b=\"urn:b\">";
  std::vector<std::string> open{"root"};
  int made = 0;
  while (made < elements || open.size() > 1) {
    int k = rng() % 12;
    if (made >= elements || (k == 0 && open.size() > 1)) {
      out += "</" + open.back() + ">";
      open.pop_back();
      if (rng() % 2) out += pick({"\n  ", " ", "\t\n"});
      continue;
    }
    switch (k) {
      case 1:
      case 2:
      case 3: {
        std::string name = pick({"item", "a:item", "b:thing", "n\xC3\xA4me", "x-y.z", "a:\xE5\x90\x8D"});
        out += "<" + name;
        int attrs = rng() % 4;
        const char* an[] = {"id", "a:ref", "b:kind", "val"};
        for (int i = 0; i < attrs; ++i) {
          out += std::string(" ") + an[i] + "=\"" +
                 pick({"1", "x &amp; y", "&lt;tag&gt;", "caf\xC3\xA9", "&ent;", "&#x20AC;&#65;", "a\tb", "  sp  ",
                       "&quot;q&quot;", "'"}) +
                 "\"";
        }
        if (rng() % 5 == 0) out += std::string(" xml:space=\"") + pick({"preserve", "default"}) + "\"";
        if (rng() % 6 == 0) {
          out += "/>";
        } else {
          out += ">";
          std::string bare = name;
          open.push_back(bare);
        }
        ++made;
        break;
      }
      case 4:
      case 5:
        out += pick({"text", "a &lt; b", "x &amp;&amp; y", "&ent;", "&nested;", "caf\xC3\xA9 \xE2\x82\xAC",
                     "\xF0\x9F\x98\x80", "&#x1F600;", "&#10;line", "tail "});
        break;
      case 6:
        out += pick({"\n    ", "  ", "\n", " \t "});
        break;
      case 7:
        out += pick({"<!-- c -->", "<!---->", "<!-- \xC3\xA9 -->"});
        break;
      case 8:
        out += pick({"<?pi data?>", "<?target?>", "<?t  spaced data ?>"});
        break;
      case 9:
        out += pick({"<![CDATA[raw <text> & stuff]]>", "<![CDATA[]]>", "<![CDATA[  ]]>", "<![CDATA[a]]b]]>"});
        break;
      default:
        out += "<item/>";
        ++made;
        break;
    }
  }
  out += "</root>\n<!-- trailing -->\n";
  return out;
}

TEST_F(DomLoad, GeneratedDocumentsMatchLibxml2) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::string xml = Generate(seed, 200);
    std::string want = LibxmlCanonOf(xml);
    ASSERT_FALSE(want.empty()) << "generator made a bad document";
    auto d = NewDoc();
    ASSERT_EQ(LoadBytes(d, xml), S_OK) << xml;
    EXPECT_TRUE(SameTree(DomCanonOf(d), want));
    // Kept white space where the document asks for none to be dropped.
    auto p = NewDoc();
    ASSERT_EQ(p->put_preserveWhiteSpace(VARIANT_TRUE), S_OK);
    ASSERT_EQ(LoadBytes(p, xml), S_OK);
    EXPECT_TRUE(SameTree(DomCanonOf(p), LibxmlCanonOf(xml, true)));
  }
}

TEST_F(DomLoad, SavedDocumentsReloadToTheSameTree) {
  for (unsigned seed = 100; seed < 110; ++seed) {
    SCOPED_TRACE(seed);
    std::string xml = Generate(seed, 300);
    auto d = NewDoc();
    ASSERT_EQ(LoadBytes(d, xml), S_OK);
    std::string canon = DomCanonOf(d);
    std::string saved = SaveBytes(d);
    EXPECT_TRUE(SameTree(LibxmlCanonOf(saved), canon));
    auto again = NewDoc();
    ASSERT_EQ(LoadBytes(again, saved), S_OK);
    EXPECT_TRUE(SameTree(DomCanonOf(again), canon));
    EXPECT_EQ(SaveBytes(again), saved);
  }
}

TEST_F(DomLoad, EverySourceKindGivesTheSameDocument) {
  std::string xml = Generate(7, 100);
  auto ref = NewDoc();
  ASSERT_EQ(LoadBytes(ref, xml), S_OK);
  std::string want = DomCanonOf(ref);

  auto viaText = NewDoc();
  VARIANT_BOOL ok;
  Bstr text(U16(xml));
  ASSERT_EQ(viaText->loadXML(text, &ok), S_OK);
  EXPECT_TRUE(SameTree(DomCanonOf(viaText), want));

  auto viaPersist = NewDoc();
  TestPersist p;
  p.bytes = xml;
  ASSERT_EQ(viaPersist->load(VUnk(&p), &ok), S_OK);
  EXPECT_EQ(p.refs, 1u);
  EXPECT_TRUE(SameTree(DomCanonOf(viaPersist), want));

  auto viaSequential = NewDoc();
  TestStream seq(xml);
  seq.sequentialOnly = true;
  seq.maxChunk = 7;  // short reads are not the end
  ASSERT_EQ(viaSequential->load(VUnk(&seq), &ok), S_OK);
  EXPECT_TRUE(SameTree(DomCanonOf(viaSequential), want));

  // The same text as UTF-16 with a byte order mark.
  std::u16string wide = u"\uFEFF" + U16(xml);
  size_t declEnd = wide.find(u"?>");
  wide.replace(0, declEnd + 2, u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
  auto viaUtf16 = NewDoc();
  ASSERT_EQ(LoadBytes(viaUtf16, std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)), S_OK);
  EXPECT_TRUE(SameTree(DomCanonOf(viaUtf16), want));
}

TEST_F(DomLoad, DeclarationIsKeptAndDrivesTheSaveEncoding) {
  auto d = NewDoc();
  VARIANT_BOOL ok;
  Bstr text(u"<?xml version='1.0' encoding='ISO-8859-1'?><r a='\u20ac'>caf\u00e9 \u4e2d</r>");
  ASSERT_EQ(d->loadXML(text, &ok), S_OK);
  Ptr<IXMLDOMNode> first;
  ASSERT_EQ(d->get_firstChild(first.out()), S_OK);
  EXPECT_EQ(Name(first), "xml");
  EXPECT_EQ(Text(first), "version='1.0' encoding='ISO-8859-1'");
  std::string saved = SaveBytes(d);
  EXPECT_EQ(saved, "<?xml version='1.0' encoding='ISO-8859-1'?>\r\n<r a=\"&#x20AC;\">caf\xE9 &#x4E2D;</r>\r\n");
  auto again = NewDoc();
  ASSERT_EQ(LoadBytes(again, saved), S_OK);
  EXPECT_EQ(DomCanonOf(again), DomCanonOf(d));
}

TEST_F(DomLoad, BadInputLeavesAnEmptyDocumentAndAParseError) {
  struct Case {
    const char* what;
    std::string xml;
    LONG line;
  } cases[] = {
      {"empty", "", 0},
      {"only a prolog", "<?xml version=\"1.0\"?><!-- c -->", 0},
      {"unclosed", "<a><b></b>", 0},
      {"mismatch", "<a>\n  <b></c></a>", 2},
      {"two roots", "<a/><b/>", 1},
      {"bad char", "<a>\x01</a>", 1},
      {"undeclared entity", "<a>&nope;</a>", 1},
      {"undeclared prefix", "<p:a/>", 1},
      {"duplicate attribute", "<a x='1' x='2'/>", 1},
      {"bad utf-8", "<a>\xC3\x28</a>", 1},
      {"recursive entity", "<!DOCTYPE a [<!ENTITY e '&e;'>]><a>&e;</a>", 1},
      {"billion laughs",
       "<!DOCTYPE a [<!ENTITY a0 'xxxxxxxxxx'><!ENTITY a1 '&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;'>"
       "<!ENTITY a2 '&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;'><!ENTITY a3 '&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;'>"
       "<!ENTITY a4 '&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;'><!ENTITY a5 '&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;'>"
       "<!ENTITY a6 '&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;'><!ENTITY a7 '&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;'>"
       "]><a>&a7;</a>",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto d = NewDoc();
    ASSERT_EQ(LoadBytes(d, "<old><kept/></old>"), S_OK);
    Ptr<IXMLDOMElement> old;
    ASSERT_EQ(d->get_documentElement(old.out()), S_OK);
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(LoadBytes(d, c.xml, &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    Ptr<IXMLDOMNode> child;
    EXPECT_EQ(d->get_firstChild(child.out()), S_FALSE);
    EXPECT_EQ(Xml(d), "");
    Ptr<IXMLDOMParseError> pe;
    ASSERT_EQ(d->get_parseError(pe.out()), S_OK);
    LONG code = 0, line = 0, pos = 0;
    pe->get_errorCode(&code);
    pe->get_line(&line);
    pe->get_linepos(&pos);
    Bstr reason;
    pe->get_reason(reason.out());
    EXPECT_TRUE(FAILED(code));
    EXPECT_FALSE(reason.str().empty());
    if (c.line) {
      EXPECT_EQ(line, c.line);
      EXPECT_GT(pos, 0);
    }
    // Content of the earlier load stays usable for whoever holds it.
    EXPECT_EQ(Xml(old), "<old><kept/></old>");
    // And the document loads again afterwards; the error clears.
    ASSERT_EQ(LoadBytes(d, "<fine/>"), S_OK);
    ASSERT_EQ(d->get_parseError(pe.out()), S_OK);
    pe->get_errorCode(&code);
    EXPECT_EQ(code, 0);
  }
}

TEST_F(DomLoad, OnlyTheDeclarationNamesTheEncoding) {
  // A processing instruction whose target merely begins with "xml" names no
  // encoding: the bytes stay UTF-8, and a save and reload keeps the text.
  auto d = NewDoc();
  ASSERT_EQ(LoadBytes(d, "<?xmlfoo encoding=\"ISO-8859-1\"?><r>\xC3\xA9</r>"), S_OK);
  EXPECT_EQ(Text(d), "\xC3\xA9");
  auto again = NewDoc();
  ASSERT_EQ(LoadBytes(again, SaveBytes(d)), S_OK);
  EXPECT_EQ(Text(again), "\xC3\xA9");
  // Text given as a string with a declaration that is not well formed fails.
  VARIANT_BOOL ok = VARIANT_TRUE;
  Bstr bad(u"<?xml version=\"1.0\" encoding=\"ISO-8859-\u00ff1\"?><r/>");
  EXPECT_EQ(d->loadXML(bad, &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
}

TEST_F(DomLoad, NothingExternalIsFetched) {
  auto d = NewDoc();
  VARIANT_BOOL ok;
  LoadBytes(d, "<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>[&e;]</a>", &ok);
  if (ok == VARIANT_TRUE) {
    EXPECT_EQ(Text(d), "[]");
  }
  LoadBytes(d, "<!DOCTYPE a SYSTEM 'file:///etc/passwd'><a/>", &ok);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(Xml(d), "<a/>\r\n");
}

TEST_F(DomLoad, SourcesFailingPartWay) {
  std::string xml = Generate(3, 2000);
  for (size_t at : {size_t(0), size_t(1), size_t(100), xml.size() / 2}) {
    SCOPED_TRACE(at);
    auto d = NewDoc();
    TestStream s(xml);
    s.failReadAfter = at;
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(d->load(VUnk(&s), &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_EQ(Xml(d), "");
    Ptr<IXMLDOMParseError> pe;
    d->get_parseError(pe.out());
    LONG code = 0;
    pe->get_errorCode(&code);
    EXPECT_TRUE(FAILED(code));
  }
  auto d = NewDoc();
  TestPersist p;
  p.bytes = xml;
  p.failSave = true;
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(d->load(VUnk(&p), &ok), S_FALSE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  VARIANT none;
  VariantInit(&none);
  EXPECT_TRUE(FAILED(d->load(none, &ok)));
  EXPECT_FALSE(TakeErrorDescription().empty());
}

TEST_F(DomLoad, DeepDocumentsLoadAndFree) {
  const int depth = 100000;
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<d>";
  xml += "x";
  for (int i = 0; i < depth; ++i) xml += "</d>";
  auto d = NewDoc();
  ASSERT_EQ(LoadBytes(d, xml), S_OK);
  EXPECT_EQ(Text(d), "x");
  EXPECT_EQ(SaveBytes(d), xml + "\r\n");
}

TEST_F(DomLoad, RecordDocumentStaysSmall) {
  // Record-style content: the store holds well under three times the input.
  std::string xml = "<records xmlns:p=\"urn:p\">\n";
  for (int i = 0; i < 20000; ++i) {
    std::string n = std::to_string(i);
    xml += "  <record id=\"" + n + "\" type=\"order\" p:ref=\"r-" + n + "\" status=\"open\">Item " + n +
           " &amp; more</record>\n  <!-- c -->\n  <empty a=\"1\" b=\"2\" p:c=\"3\" d=\"4\"/>\n";
  }
  xml += "</records>\n";
  auto d = NewDoc();
  ASSERT_EQ(LoadBytes(d, xml), S_OK);
  twdom::NodeHandle* h = twdom::HandleOf(d.get());
  ASSERT_TRUE(h);
  EXPECT_LT(h->store->bytesUsed(), xml.size() * 5 / 2);
}

}  // namespace
