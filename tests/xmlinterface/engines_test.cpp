// Both engines of XmlInterface over the real library: the same read and
// write scenarios through the streaming engine and the document engine give
// the same answers where the two are meant to agree, and libxml2's reading
// of the same documents is the expected answer. The specified differences
// (qualified names on the document engine, text handling, number parsing)
// are checked on their own.
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "corpus.h"
#include "support/files.h"
#include "xmlif_test.h"

namespace {

using namespace xmlif_test;

char* OrNull(const std::string& s) { return s.empty() ? nullptr : S(s); }

class Engines : public Fixture {};

bool PureInteger(const std::string& v) {
  if (v.empty() || v.size() > 9) return false;
  size_t i = (v[0] == '-' || v[0] == '+') ? 1 : 0;
  if (i == v.size()) return false;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return false;
  }
  return true;
}

// Walks a data document (each element holds text or children) with random
// but repeatable choices: peeks before steps, skipping whole levels, reading
// attributes, numbers and values. Records every answer in a trace and
// compares each with libxml2's reading.
class ReadWalk {
 public:
  ReadWalk(XmlInterface& x, bool dom, unsigned seed) : x_(x), dom_(dom), rng_(seed) {}

  void Root(const corpus::Node& root) {
    int peeks = Roll(3);
    for (int i = 0; i < peeks; ++i) Expect(x_.PeekElemB(), true, "peek root");
    Expect(x_.SelectElemB(), true, "select root");
    Element(root);
    Expect(x_.SelectElemB(), false, "select after root");
    Expect(x_.EndElemB(), false, "end after root");
  }

  std::string trace;
  std::vector<std::string> errors;

 private:
  int Roll(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  void Expect(bool got, bool want, const std::string& what) {
    trace += what + (got ? " 1\n" : " 0\n");
    if (got != want) errors.push_back(what + ": answered " + (got ? "true" : "false"));
  }
  void ExpectText(const std::string& got, const std::string& want, const std::string& what) {
    trace += what + " = " + got + "\n";
    if (got != want) errors.push_back(what + ": got \"" + got + "\" want \"" + want + "\"");
  }

  void Element(const corpus::Node& n) {
    char buf[65536];
    // Names: local on the streaming engine, qualified on the document engine.
    std::string name = x_.GetElemNameToBufB(buf, sizeof buf) ? buf : "<false>";
    if (name != (dom_ ? n.QName() : n.local)) {
      errors.push_back("name " + name + " for " + n.QName());
    }
    trace += "element " + n.local + "\n";
    std::string leading = dom_ && !n.prefix.empty() ? n.prefix + ":" : "";
    Expect(x_.IsThisNameB(S(leading), S(n.local)), true, "is " + n.local);

    if (Roll(2)) {
      for (const corpus::Attr& a : n.attrs) {
        if (!a.prefix.empty()) continue;  // the streaming engine looks up no-namespace names only
        bool got = x_.GetAttrValueToBufB(S(a.local), buf, sizeof buf);
        Expect(got, true, "attr " + a.local);
        if (got) ExpectText(buf, a.value, "value of " + a.local);
        if (PureInteger(a.value)) {
          int v = 12345;
          got = x_.GetAttrValueToIntB(S(a.local), &v);
          Expect(got, true, "int " + a.local);
          if (got) ExpectText(std::to_string(v), std::to_string(std::stoi(a.value)), "int of " + a.local);
        }
      }
      std::strcpy(buf, "untouched");
      Expect(x_.GetAttrValueToBufB(S("zz-missing"), buf, sizeof buf), false, "missing attr");
      ExpectText(buf, "untouched", "buffer after missing attr");
    }

    if (Roll(4) == 0) {
      Expect(x_.SkipLevelB(), true, "skip " + n.local);
      return;
    }
    if (n.children.empty()) {
      bool got = x_.GetElemValueToBufB(buf, sizeof buf);
      Expect(got, true, "value");
      ExpectText(got ? buf : "", n.text, "value of " + n.local);
      Expect(x_.EndElemB(), true, "end " + n.local);
      return;
    }
    if (Roll(3) == 0) {
      bool got = x_.GetElemValueToBufB(buf, sizeof buf);
      Expect(got, true, "value");
      ExpectText(got ? buf : "", "", "value of parent " + n.local);
    }
    for (const corpus::Node& child : n.children) {
      int peeks = Roll(3);
      for (int i = 0; i < peeks; ++i) Expect(x_.PeekElemB(), true, "peek");
      Expect(x_.SelectElemB(), true, "select");
      Element(child);
    }
    if (Roll(2)) Expect(x_.PeekElemB(), false, "peek past last child");
    Expect(x_.SelectElemB(), false, "select past last child");
    Expect(x_.EndElemB(), true, "end " + n.local);
  }

  XmlInterface& x_;
  bool dom_;
  std::mt19937 rng_;
};

void CheckReadAgreement(const std::string& name, const std::string& text, unsigned seed) {
  SCOPED_TRACE(name);
  corpus::Node oracle;
  std::string error;
  ASSERT_TRUE(corpus::Parse(text, &oracle, &error)) << error << "\n" << text;
  std::string traces[2];
  for (bool dom : {false, true}) {
    SCOPED_TRACE(dom ? "document engine" : "streaming engine");
    XmlInterface* p = nullptr;
    ASSERT_EQ(XmlInterface::CreateReaderFromMemF(S(text), static_cast<unsigned long>(text.size()),
                                                 &p, dom),
              0);
    Ptr x(p);
    ReadWalk walk(*x, dom, seed);
    walk.Root(oracle);
    for (const std::string& e : walk.errors) ADD_FAILURE() << e << "\n" << text;
    traces[dom] = walk.trace;
  }
  EXPECT_EQ(traces[0], traces[1]);
}

TEST_F(Engines, ReadingGeneratedAndRealDocumentsAgrees) {
  std::mt19937 rng(20261206);
  for (int i = 0; i < 150 && !HasFailure(); ++i) {
    CheckReadAgreement("generated #" + std::to_string(i), corpus::Generate(rng, true), 1000u + i);
  }
  unsigned seed = 7;
  for (const corpus::Named& doc : corpus::RealDocuments()) {
    for (int round = 0; round < 5; ++round) CheckReadAgreement(doc.name, doc.text, seed++);
  }
}

// Writes a tree through an XmlInterface writer. The namespace of prefixed
// names reaches element creation on both engines; attributes of the same
// prefix sit on elements of that namespace, so both can declare it. Without
// close, the last element of each level is left open (for the writer's
// deletion to complete).
bool WriteTree(XmlInterface& w, const corpus::Node& n, bool close = true) {
  bool ok = w.WriteStartElemNsB(OrNull(n.prefix), S(n.local), OrNull(n.ns));
  for (const corpus::Attr& a : n.attrs) {
    if (PureInteger(a.value) && a.prefix.empty())
      ok = ok && w.WriteIntAttrB(S(a.local), std::stoi(a.value));
    else
      ok = ok && w.WriteAttrNsB(OrNull(a.prefix), S(a.local), OrNull(a.ns), S(a.value));
  }
  if (!n.mixed && !n.text.empty()) ok = ok && w.WriteValueB(S(n.text));
  for (const corpus::Node& c : n.children) ok = ok && WriteTree(w, c, close || &c != &n.children.back());
  if (n.mixed) ok = ok && w.WriteValueB(S(n.text));
  return ok && (!close || w.EndElemB());
}

TEST_F(Engines, WrittenDocumentsParseTheSame) {
  std::mt19937 rng(5150);
  const char* encodings[] = {nullptr, "UTF-8", "UTF-16", "ISO-8859-1", "windows-1252"};
  for (int i = 0; i < 60; ++i) {
    const char* encoding = encodings[i % 5];
    bool unicode = encoding == nullptr || std::strncmp(encoding, "UTF", 3) == 0;
    corpus::Node tree = corpus::GenerateTree(rng, i % 2 == 1, !unicode);
    corpus::Node want = corpus::Expected(tree);
    bool indent = i % 3 == 0;
    SCOPED_TRACE("tree #" + std::to_string(i) + " " + (encoding ? encoding : "(default)") +
                 (indent ? " indented" : ""));
    for (bool dom : {false, true}) {
      SCOPED_TRACE(dom ? "document engine" : "streaming engine");
      Ptr w = Writer(dom, indent, encoding);
      ASSERT_TRUE(WriteTree(*w, tree));
      std::string bytes = Take(*w);
      corpus::Node got;
      std::string error;
      ASSERT_TRUE(corpus::Parse(bytes, &got, &error)) << error << "\n" << bytes;
      EXPECT_EQ(got, want) << bytes;
      // The declaration names the encoding asked for.
      if (encoding != nullptr && std::strcmp(encoding, "UTF-16") != 0) {
        EXPECT_NE(bytes.find(encoding), std::string::npos) << bytes.substr(0, 60);
      }
    }
    if (HasFailure()) break;
  }
}

TEST_F(Engines, FileWritersAndReadersAgree) {
  char dir[] = "/tmp/twxml_engines_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::mt19937 rng(77);
  for (int i = 0; i < 10; ++i) {
    corpus::Node tree = corpus::GenerateTree(rng, false, true);
    std::string texts[2];
    for (bool dom : {false, true}) {
      std::string path = std::string(dir) + (dom ? "/dom.xml" : "/lite.xml");
      XmlInterface* p = nullptr;
      ASSERT_EQ(XmlInterface::CreateWriterToFileF(S(path), &p, i % 2 == 0, dom, S("ISO-8859-1")), 0);
      Ptr w(p);
      ASSERT_TRUE(WriteTree(*w, tree, i % 3 != 0));
      EXPECT_EQ(w->AllocMemP(nullptr), nullptr);  // a file has no memory output
      w.reset();  // the file is complete once the writer is deleted, ends or not
      texts[dom] = twtest::Slurp(path);
      corpus::Node got;
      std::string error;
      ASSERT_TRUE(corpus::Parse(texts[dom], &got, &error)) << error;
      EXPECT_EQ(got, corpus::Expected(tree));
      std::remove(path.c_str());
    }
    // Only the document engine declares the asked encoding in a file.
    EXPECT_EQ(texts[0].find("ISO-8859-1"), std::string::npos);
    EXPECT_NE(texts[1].find("ISO-8859-1"), std::string::npos);
  }
  rmdir(dir);
}

// ---- The differences the library specifies -------------------------------

TEST_F(Engines, SpecifiedDifferences) {
  const std::string doc =
      "<p:r xmlns:p='urn:p' n='12abc' m='abc'><p:a k='v'>text<b/>more</p:a><?pi x?><c/></p:r>";
  Ptr lite = Reader(doc, false), dom = Reader(doc, true);
  Walk(*lite, "S+r");
  Walk(*dom, "S+p:r");
  // Numbers: the leading-number rule against the variant conversion.
  int v[4] = {-1, -1, -1, -1};
  EXPECT_TRUE(lite->GetAttrValueToIntB(S("n"), &v[0]) && lite->GetAttrValueToIntB(S("m"), &v[1]));
  EXPECT_FALSE(dom->GetAttrValueToIntB(S("n"), &v[2]) || dom->GetAttrValueToIntB(S("m"), &v[3]));
  EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{12, 0, -1, -1}));
  // The streaming engine: the text right after the start, in the way of
  // steps until read; attributes gone once the reader moved on. A
  // processing instruction stops it for good; the document engine passes
  // over it.
  char buf[8];
  Walk(*lite, "S+a V+text");
  EXPECT_FALSE(lite->GetAttrValueToBufB(S("k"), buf, sizeof buf));
  Walk(*lite, "S+b E+ S- E-");
  EXPECT_EQ(Name(*lite), "");  // a text has no name
  Walk(*lite, "V+more E+ S- S-");
  Walk(*dom, "S+p:a V+text");
  EXPECT_TRUE(dom->GetAttrValueToBufB(S("k"), buf, sizeof buf));
  EXPECT_STREQ(buf, "v");
  Walk(*dom, "S+b E+p:a S- E+p:r S+c");
  // Values longer than the buffer: both hand over what fits, cut on a
  // character boundary; the streaming engine reports the cut as false, the
  // document engine (whose node layer gives a separate copy for a long
  // value) as true.
  for (bool isDom : {false, true}) {
    Ptr x = Reader("<r><v>caf\xc3\xa9 au lait</v></r>", isDom);
    char small[5];
    ASSERT_TRUE(x->SelectElemB() && x->SelectElemB());
    EXPECT_EQ(x->GetElemValueToBufB(small, sizeof small), isDom);
    EXPECT_STREQ(small, "caf");
  }
  // Not well-formed: 12 at once on the document engine; on the streaming
  // engine the factory succeeds and a step fails. Exactly length bytes are
  // read on the document engine; up to the zero on the other.
  XmlInterface* p = nullptr;
  EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S("<r><a></r>"), 10, &p, true), 12);
  EXPECT_EQ(p, nullptr);
  Walk(*Reader("<r><a></r>", false), "S+ S+ S- E-");
  char text[] = "<r/><second/>";
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, 4, &p, true), 0);
  Walk(*Ptr(p), "S+r E+ S-");
  ASSERT_EQ(XmlInterface::CreateReaderFromMemF(text, 4, &p, false), 0);
  Walk(*Ptr(p), "S+r E+ S-");  // the second root is read and refused
  // indent changes the streaming engine's output only.
  std::string out[2][2];
  for (bool isDom : {false, true}) {
    for (bool indent : {false, true}) {
      Ptr w = Writer(isDom, indent);
      EXPECT_TRUE(w->WriteStartElemB(S("r")) && w->WriteStartElemB(S("a")) && w->EndElemB() && w->EndElemB());
      out[isDom][indent] = Take(*w);
    }
  }
  EXPECT_NE(out[0][0], out[0][1]);
  EXPECT_EQ(out[1][0], out[1][1]);
}

TEST_F(Engines, PrefixesAndNamespacesWhenWriting) {
  for (bool dom : {false, true}) {
    SCOPED_TRACE(dom ? "document engine" : "streaming engine");
    Ptr w = Writer(dom);
    ASSERT_TRUE(w->WriteStartElemNsB(S("p"), S("root"), S("urn:p")));
    ASSERT_TRUE(w->WriteAttrNsB(S("p"), S("a"), S("urn:p"), S("1")));
    // A prefix of blanks counts as none on the document engine.
    ASSERT_TRUE(w->WriteStartElemNsB(dom ? S("   ") : nullptr, S("plain"), nullptr));
    ASSERT_TRUE(w->EndElemB());
    ASSERT_TRUE(w->EndElemB());
    corpus::Node got;
    std::string error;
    std::string bytes = Take(*w);
    ASSERT_TRUE(corpus::Parse(bytes, &got, &error)) << error << bytes;
    EXPECT_EQ(got.QName(), "p:root");
    EXPECT_EQ(got.ns, "urn:p");
    ASSERT_EQ(got.attrs.size(), 1u);
    EXPECT_EQ(got.attrs[0].ns, "urn:p");
    ASSERT_EQ(got.children.size(), 1u);
    EXPECT_EQ(got.children[0].QName(), "plain");
  }
  // A blank prefix or a bad attribute name: the streaming writer refuses
  // them, the document engine leaves the prefix out and raises its error.
  Ptr lite = Writer(false);
  EXPECT_FALSE(lite->WriteStartElemNsB(S("   "), S("x"), nullptr));
  ASSERT_TRUE(lite->WriteStartElemB(S("r")));
  EXPECT_FALSE(lite->WriteAttrB(S("bad name"), S("1")));
  Ptr dom = Writer(true);
  ASSERT_TRUE(dom->WriteStartElemB(S("r")));
  EXPECT_THROW(dom->WriteAttrB(S("bad name"), S("1")), _com_error);
  // An empty prefix is joined all the same: ":x" is refused too.
  EXPECT_THROW(dom->WriteAttrNsB(S(""), S("x"), nullptr, S("1")), _com_error);
  EXPECT_THROW(dom->WriteIntAttrNsB(S(""), S("y"), nullptr, 1), _com_error);
  EXPECT_TRUE(dom->WriteAttrB(S("good"), S("1")));  // still usable
  EXPECT_NE(Take(*dom).find("good=\"1\""), std::string::npos);
}

}  // namespace
