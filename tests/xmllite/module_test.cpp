// The handle interface over the real streaming module: documents written
// through the writer handle read back the same through the reader handle and
// through libxml2, in memory and in files, in several output encodings; the
// documented navigation on real documents; buffer cuts on real text. Random
// documents are generated as element trees.
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "steps.h"
#include "twxml/kernel.h"

namespace tree {

// Elements hold either text or children (no mixed content); names are ASCII
// or UTF-8 (asciiNames: only names every output encoding can hold), attribute
// values and texts UTF-8. Read() asks for the attribute names of `shape`, as
// the handle cannot enumerate attributes.
struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::string text;
  std::vector<Element> children;
  bool operator==(const Element&) const = default;
};

std::string Dump(const Element& e, int depth = 0) {
  std::string pad(depth * 2, ' ');
  std::string out = pad + "<" + e.name;
  for (const auto& [k, v] : e.attrs) out += " " + k + "=[" + v + "]";
  out += ">";
  if (!e.text.empty()) out += " text=[" + e.text + "]";
  out += "\n";
  for (const Element& c : e.children) out += Dump(c, depth + 1);
  return out;
}
inline void PrintTo(const Element& e, std::ostream* os) { *os << "\n" << Dump(e); }

namespace {

const char* const kNames[] = {"a", "item", "Record", "x-y", "n.1", "_u",
                              "long_element_name_with_digits_0123", "caf\xc3\xa9",
                              "\xe4\xb8\xad\xe6\x96\x87"};
const char* const kPieces[] = {"plain", " ", "<", ">", "&", "\"", "'", "]]>", "\t", "\n",
                               "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "&amp;", "x",
                               "0123456789"};

std::string RandomText(std::mt19937& rng, bool allowEmpty) {
  std::uniform_int_distribution<int> count(allowEmpty ? 0 : 1, 6);
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::string out;
  int n = count(rng);
  for (int i = 0; i < n; ++i) out += kPieces[piece(rng)];
  // Only-blank text reads as ignorable white space: keep one visible char.
  if (!out.empty() && out.find_first_not_of(" \t\n") == std::string::npos) out += "v";
  return out;
}

}  // namespace

Element Random(std::mt19937& rng, bool asciiNames = false, int depth = 0) {
  std::uniform_int_distribution<size_t> name(0, std::size(kNames) - (asciiNames ? 4 : 1));
  std::uniform_int_distribution<int> small(0, 3);
  Element e;
  e.name = kNames[name(rng)];
  int attrs = small(rng);
  for (int i = 0; i < attrs; ++i) {
    std::string key = std::string(kNames[name(rng)]) + std::to_string(i);
    e.attrs.emplace_back(key, RandomText(rng, true));
  }
  int children = depth < 4 ? small(rng) : 0;
  if (children == 0) {
    if (small(rng) != 0) e.text = RandomText(rng, false);
  } else {
    for (int i = 0; i < children; ++i) e.children.push_back(Random(rng, asciiNames, depth + 1));
  }
  return e;
}

int Write(_XmlLiteWriterS* w, const Element& e) {
  int status = XmlLiteWriteStartElemF(w, nullptr, e.name.c_str(), nullptr);
  for (const auto& [k, v] : e.attrs)
    if (status == 0) status = XmlLiteWriteAttrF(w, nullptr, k.c_str(), nullptr, v.c_str());
  if (status == 0 && !e.text.empty()) status = XmlLiteWriteValueF(w, e.text.c_str());
  for (const Element& c : e.children)
    if (status == 0) status = Write(w, c);
  if (status == 0) status = XmlLiteWriteEndElemF(w);
  return status;
}

bool Read(_XmlLiteReaderS* r, const Element& shape, Element* out, std::string* error) {
  static thread_local char buffer[1 << 16];
  int s = XmlLiteGetElemNameToBufF(r, buffer, sizeof buffer);
  if (s != 0) return *error = "name " + std::to_string(s), false;
  out->name = buffer;
  for (const auto& attr : shape.attrs) {
    s = XmlLiteGetAttrValueToBufF(r, attr.first.c_str(), buffer, sizeof buffer);
    if (s != 0) return *error = "attr " + attr.first + " " + std::to_string(s), false;
    out->attrs.emplace_back(attr.first, buffer);
  }
  s = XmlLiteGetAttrValueToBufF(r, "absent-attribute", buffer, sizeof buffer);
  if (s != 30) return *error = "absent attr " + std::to_string(s), false;
  s = XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer);
  if (s != 0) return *error = "value " + std::to_string(s), false;
  out->text = buffer;
  for (size_t i = 0;; ++i) {
    s = XmlLiteReadElemF(r);
    if (s == 30) break;
    if (s != 0) return *error = "child " + std::to_string(s), false;
    if (i >= shape.children.size()) return *error = "extra child in " + out->name, false;
    out->children.emplace_back();
    if (!Read(r, shape.children[i], &out->children.back(), error)) return false;
  }
  s = XmlLiteReadEndElemF(r);
  if (s != 0) return *error = "end of " + out->name + " " + std::to_string(s), false;
  return true;
}

namespace {

std::string Str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

void Convert(xmlNode* node, Element* out) {
  out->name = Str(node->name);
  for (xmlAttr* a = node->properties; a; a = a->next) {
    xmlChar* v = xmlNodeListGetString(node->doc, a->children, 1);
    out->attrs.emplace_back(Str(a->name), Str(v));
    xmlFree(v);
  }
  for (xmlNode* c = node->children; c; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) {
      out->children.emplace_back();
      Convert(c, &out->children.back());
    } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
      out->text += Str(c->content);
    }
  }
  // Text around child elements is only layout (indentation) here.
  if (!out->children.empty()) out->text.clear();
  if (out->text.find_first_not_of(" \t\r\n") == std::string::npos) out->text.clear();
}

}  // namespace

bool ParseWithLibxml2(const std::string& bytes, Element* out, std::string* error,
                      std::string* encoding = nullptr) {
  xmlDoc* doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "mem.xml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) {
    const xmlError* e = xmlGetLastError();
    *error = e && e->message ? e->message : "libxml2 refused the document";
    return false;
  }
  if (encoding) *encoding = Str(doc->encoding);
  xmlNode* root = xmlDocGetRootElement(doc);
  if (root) Convert(root, out);
  xmlFreeDoc(doc);
  return root != nullptr;
}

}  // namespace tree

namespace {

class Module : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, XmlLiteIsDllFoundB()) << "the module is built beside the library"; }
};

std::string Take(_XmlLiteWriterS* w) {
  char* text = nullptr;
  unsigned int length = 0;
  EXPECT_EQ(0, XmlLiteGetMemF(w, &text, &length));
  std::string out = text ? std::string(text, length) : std::string();
  MemFreeF(text);
  return out;
}

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/twxml_module_" + std::to_string(getpid()) + "_" + name;
}

std::string Slurp(const std::string& path) {
  std::stringstream ss;
  ss << std::ifstream(path, std::ios::binary).rdbuf();
  return ss.str();
}

// Reads the whole document through a reader handle into `out`; 76 must follow.
void ReadBack(_XmlLiteReaderS* r, const tree::Element& shape, tree::Element* out) {
  ASSERT_NE(nullptr, r);
  ASSERT_EQ(0, XmlLiteReadElemF(r));
  std::string error;
  ASSERT_TRUE(tree::Read(r, shape, out, &error)) << error;
  EXPECT_EQ(76, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
}

TEST_F(Module, RoundTripThroughBothReaders) {
  for (int indent : {0, 1}) {
    std::mt19937 rng(1234 + indent);
    for (int i = 0; i < 60; ++i) {
      SCOPED_TRACE("indent " + std::to_string(indent) + " document " + std::to_string(i));
      const tree::Element doc = tree::Random(rng);
      _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(indent, nullptr);
      ASSERT_NE(nullptr, w);
      ASSERT_EQ(0, tree::Write(w, doc));
      const std::string text = Take(w);
      EXPECT_EQ(0, XmlLiteCloseWriterF(w));
      tree::Element viaLibxml2, viaHandle;
      std::string error;
      ASSERT_TRUE(tree::ParseWithLibxml2(text, &viaLibxml2, &error)) << error << "\n" << text;
      EXPECT_EQ(doc, viaLibxml2) << text;
      ReadBack(XmlLiteCreateMemReaderH(text.c_str()), doc, &viaHandle);
      EXPECT_EQ(doc, viaHandle) << text;
    }
  }
}

// The same document through the memory and the file writer gives the same
// bytes in each encoding; libxml2 and the file reader handle (which finds the
// encoding from the bytes) read it back.
TEST_F(Module, OutputEncodingsInMemoryAndFiles) {
  const struct {
    const char* name;      // asked of the writer
    const char* declared;  // what libxml2 should find (case-insensitive), null: UTF-8
  } cases[] = {{nullptr, nullptr},           {"utf-8", nullptr},   {"UTF-16", "UTF-16"},
               {"ISO-8859-1", "ISO-8859-1"}, {"EUC-JP", "EUC-JP"}, {"UTF-16BE", "UTF-16BE"}};
  const std::string path = TempPath("enc.xml");
  std::mt19937 rng(99);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(default)");
    // Characters no single-byte set holds, so character references are needed.
    tree::Element doc{"root", {{"e", "\xc3\xa9\xe2\x82\xac"}}, "", {tree::Random(rng, true)}};
    doc.children.push_back(tree::Element{"t", {{"v", "\xe2\x82\xac \xf0\x9f\x98\x80"}}, "\xe4\xb8\xad \xc3\xa9", {}});
    _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(1, c.name);
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(0, tree::Write(w, doc));
    const std::string bytes = Take(w);
    EXPECT_EQ(0, XmlLiteCloseWriterF(w));
    w = XmlLiteCreateFileWriterH(path.c_str(), 1, c.name);
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(0, tree::Write(w, doc));
    ASSERT_EQ(0, XmlLiteCloseWriterF(w));  // ends, flushes and closes the file
    EXPECT_EQ(bytes, Slurp(path));

    tree::Element parsed, back;
    std::string error, encoding;
    ASSERT_TRUE(tree::ParseWithLibxml2(bytes, &parsed, &error, &encoding)) << error;
    EXPECT_EQ(doc, parsed);
    EXPECT_EQ(0, strcasecmp(c.declared ? c.declared : "UTF-8", encoding.empty() ? "UTF-8" : encoding.c_str()))
        << encoding;
    ReadBack(XmlLiteCreateFileReaderH(path.c_str()), doc, &back);
    EXPECT_EQ(doc, back);
  }
  // A name nobody knows still gives a working writer in the default encoding.
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, "no-such-encoding-xyz");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  tree::Element parsed;
  std::string error;
  EXPECT_TRUE(tree::ParseWithLibxml2(Take(w), &parsed, &error)) << error;
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  std::remove(path.c_str());
}

TEST_F(Module, NavigationOnRealDocuments) {
  const struct {
    const char* doc;
    const char* steps;
  } cases[] = {
      {"<?xml version='1.0'?>\n<!-- c --><r>\n  <a/>\n  <b>x</b><?pi data?><c/></r>",
       "R0 R0 N0:a R30 E0 R0 E30 V0:x E0 R30 P30 E30"},  // the instruction is held for good
      {"<r><![CDATA[c]]><c/></r>", "R0 R30 P30 E30"},
      {"<r><x:item xmlns:x='u' x:k='1' k='2'>t</x:item></r>",
       "R0 P0 N0:item R0 A0:2 N0:k V0:t E0 E0 R76 S76"},  // the attribute without namespace
      {"<r><a><b/><c>t</c></a><d/></r>", "R0 R0 S0 R0 N0:d S0 E0 S76"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.doc);
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(c.doc);
    ASSERT_NE(nullptr, r);
    Steps(r, c.steps);
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
}

TEST_F(Module, MalformedDocumentsAnswer255AndKeepAnsweringIt) {
  for (const char* doc : {"<r><a></b></r>", "<r>", "", "<r a='1' a='2'/>", "<r>&undefined;</r>", "<r/><second/>",
                          "<x:r/>", "\x01<r/>"}) {
    SCOPED_TRACE(doc);
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(doc);
    ASSERT_NE(nullptr, r);
    int status = 0;
    for (int i = 0; i < 10 && status != 255; ++i) {
      status = XmlLiteReadElemF(r);
      if (status == 30) status = XmlLiteReadEndElemF(r);
    }
    EXPECT_EQ(255, status);
    EXPECT_EQ(255, XmlLiteReadElemF(r));
    EXPECT_EQ(255, XmlLiteSkipLevelF(r));
    char buffer[8] = "same";
    EXPECT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
}

TEST_F(Module, FileReadersAndWritersShareLikeFiles) {
  const std::string path = TempPath("doc.xml"), missing = TempPath("missing.xml");
  std::remove(missing.c_str());
  EXPECT_EQ(nullptr, XmlLiteCreateFileReaderH(missing.c_str()));
  EXPECT_EQ(-1, access(missing.c_str(), F_OK)) << "reading creates nothing";
  EXPECT_EQ(nullptr, XmlLiteCreateFileReaderH(nullptr));
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH((TempPath("no/such/dir") + "/x.xml").c_str(), 0, nullptr));

  std::ofstream(path) << "previous content";
  _XmlLiteWriterS* w = XmlLiteCreateFileWriterH(path.c_str(), 1, nullptr);
  ASSERT_NE(nullptr, w);
  EXPECT_EQ("", Slurp(path)) << "the file is emptied when the writer is made";
  char* text = reinterpret_cast<char*>(1);
  unsigned int length = 5;
  EXPECT_EQ(30, XmlLiteGetMemF(w, &text, &length));
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(0u, length);
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH(path.c_str(), 0, nullptr)) << "nobody else may write it";
  EXPECT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "a", nullptr));
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));

  // Readers share the file with readers only.
  _XmlLiteReaderS* r = XmlLiteCreateFileReaderH(path.c_str());
  _XmlLiteReaderS* r2 = XmlLiteCreateFileReaderH(path.c_str());
  ASSERT_NE(nullptr, r);
  ASSERT_NE(nullptr, r2);
  EXPECT_EQ(nullptr, XmlLiteCreateFileWriterH(path.c_str(), 0, nullptr));
  EXPECT_EQ(0, XmlLiteReadElemF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  EXPECT_EQ(0, XmlLiteCloseReaderF(r2));
  // Closed readers let the file be written again.
  w = XmlLiteCreateFileWriterH(path.c_str(), 0, "UTF-16");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  // An emptied file is no document.
  std::ofstream(path, std::ios::trunc).close();
  r = XmlLiteCreateFileReaderH(path.c_str());
  ASSERT_NE(nullptr, r);
  const int status = XmlLiteReadElemF(r);
  EXPECT_TRUE(status == 255 || status == 76) << status;
  EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  std::remove(path.c_str());
}

// A document far larger than any read the module asks of the stream.
TEST_F(Module, LargeDocumentsStreamThroughMemoryAndFiles) {
  _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(0, nullptr);
  ASSERT_NE(nullptr, w);
  const int kRecords = 20000;
  ASSERT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "records", nullptr));
  for (int i = 0; i < kRecords; ++i) {
    ASSERT_EQ(0, XmlLiteWriteStartElemF(w, nullptr, "record", nullptr));
    ASSERT_EQ(0, XmlLiteWriteAttrF(w, nullptr, "id", nullptr, std::to_string(i).c_str()));
    ASSERT_EQ(0, XmlLiteWriteValueF(w, ("caf\xc3\xa9 number " + std::to_string(i)).c_str()));
    ASSERT_EQ(0, XmlLiteWriteEndElemF(w));
  }
  const std::string text = Take(w);
  EXPECT_EQ(0, XmlLiteCloseWriterF(w));
  ASSERT_GT(text.size(), 500000u);
  const std::string path = TempPath("large.xml");
  std::ofstream(path, std::ios::binary) << text;
  for (bool fromFile : {false, true}) {
    SCOPED_TRACE(fromFile ? "file" : "memory");
    _XmlLiteReaderS* r = fromFile ? XmlLiteCreateFileReaderH(path.c_str()) : XmlLiteCreateMemReaderH(text.c_str());
    ASSERT_NE(nullptr, r);
    ASSERT_EQ(0, XmlLiteReadElemF(r));
    char buffer[64];
    int i = 0;
    for (; XmlLiteReadElemF(r) == 0; ++i) {
      ASSERT_EQ(0, XmlLiteGetAttrValueToBufF(r, "id", buffer, sizeof buffer));
      ASSERT_EQ(std::to_string(i), buffer);
      ASSERT_EQ(0, XmlLiteGetElemValueToBufF(r, buffer, sizeof buffer));
      ASSERT_EQ("caf\xc3\xa9 number " + std::to_string(i), buffer);
      ASSERT_EQ(0, XmlLiteReadEndElemF(r));
    }
    EXPECT_EQ(kRecords, i);
    EXPECT_EQ(0, XmlLiteReadEndElemF(r));  // </records>, held by the last 30
    EXPECT_EQ(76, XmlLiteReadElemF(r));
    EXPECT_EQ(0, XmlLiteCloseReaderF(r));
  }
  std::remove(path.c_str());
}

// Caller buffers of every size over names and values with characters of
// one to four bytes: never overrun, always terminated, cut on a boundary.
TEST_F(Module, BufferCutsOnRealText) {
  const std::string name = "n\xc3\xa9\xe4\xb8\xad";  // 1 + 2 + 3 bytes
  const std::string value = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";
  const std::string doc = "<" + name + " v='" + value + "'>" + value + "</" + name + ">";
  const struct {
    char what;
    const std::string& expected;
    std::vector<size_t> boundaries;
  } cases[] = {{'n', name, {0, 1, 3, 6}}, {'a', value, {0, 1, 3, 6, 10, 11}}, {'t', value, {0, 1, 3, 6, 10, 11}}};
  for (const auto& c : cases) {
    for (unsigned int size = 1; size <= c.expected.size() + 2; ++size) {
      SCOPED_TRACE(std::string(1, c.what) + " size " + std::to_string(size));
      _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(doc.c_str());
      ASSERT_NE(nullptr, r);
      ASSERT_EQ(0, XmlLiteReadElemF(r));
      std::vector<char> buffer(size + 8, '#');
      const int status = c.what == 'n'   ? XmlLiteGetElemNameToBufF(r, buffer.data(), size)
                         : c.what == 'a' ? XmlLiteGetAttrValueToBufF(r, "v", buffer.data(), size)
                                         : XmlLiteGetElemValueToBufF(r, buffer.data(), size);
      size_t fits = 0;
      for (size_t b : c.boundaries) fits = b <= size - 1 ? b : fits;
      EXPECT_EQ(size > c.expected.size() ? 0 : 30, status);
      EXPECT_EQ(c.expected.substr(0, fits), std::string(buffer.data()));
      for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ('#', buffer[i]);
      EXPECT_EQ(0, XmlLiteCloseReaderF(r));
    }
  }
}

TEST_F(Module, ProbeIsStableAcrossRacingThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> found{0};
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { found += XmlLiteIsDllFoundB(); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(8, found.load());
}

}  // namespace
