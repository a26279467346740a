// Hostile and edge documents through both engines over the parser core: the
// pull reader and the document load reach the same verdict in the same words
// at the same place, and wide documents cost the parser a bounded number of
// look-up probes per name (work is counted, never timed; the document's own
// look-ups: the document face's tests).
#include "dom_test_util.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"
#include "xmlcore.h"

using namespace domtest;

namespace {

// The text, then `zeros` zero bytes (SIZE_MAX: zeros without end).
class Source final : public twtest::MemIStreamBase {
 public:
  Source(std::string text, size_t zeros) : text_(std::move(text)), zeros_(zeros) {}
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    char* out = static_cast<char*>(buffer);
    size_t n = 0;
    for (; n < count; ++n, ++pos_) {
      if (pos_ < text_.size()) out[n] = text_[pos_];
      else if (pos_ - text_.size() < zeros_) out[n] = 0;
      else break;
    }
    if (read) *read = ULONG(n);
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  size_t served() const { return pos_; }

 protected:
  size_t size() const override { return 0; }

 private:
  std::string text_;
  size_t zeros_;
};

struct Verdict {
  bool ok = false;
  HRESULT hr = S_OK;
  std::string message;
  UINT line = 0, column = 0;
  bool operator==(const Verdict&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Verdict& v) {
  return o << (v.ok ? "ok" : "refused") << " 0x" << std::hex << v.hr << std::dec << " " << v.line << ":"
           << v.column << " '" << v.message << "'";
}

Verdict Read(const std::string& text, size_t zeros) {
  Verdict v;
  IXmlReader* r = nullptr;
  EXPECT_EQ(TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&r)), S_OK);
  auto* s = new Source(text, zeros);
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  while ((v.hr = r->Read(&t)) == S_OK) {
  }
  v.ok = v.hr == S_FALSE;
  v.hr = v.ok ? S_OK : v.hr;
  Ptr<IXmlReaderError> e;
  EXPECT_EQ(r->QueryInterface(IID_IXmlReaderError, e.vout()), S_OK);
  const WCHAR* m = nullptr;
  EXPECT_EQ(e->GetLastError(&v.line, &v.column, &m), v.ok ? S_FALSE : S_OK);
  v.message = U8(m);
  r->Release();
  return v;
}

Verdict Load(const Ptr<IXMLDOMDocument>& d, const std::string& text, size_t zeros) {
  Verdict v;
  auto* s = new Source(text, zeros);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  d->load(VUnk(s), &loaded);
  s->Release();
  v.ok = loaded == VARIANT_TRUE;
  Ptr<IXMLDOMParseError> pe;
  d->get_parseError(pe.out());
  LONG code = 0, line = 0, col = 0;
  pe->get_errorCode(&code);
  pe->get_line(&line);
  pe->get_linepos(&col);
  v.hr = code;
  v.line = UINT(line);
  v.column = UINT(col);
  v.message = Str(pe, &IXMLDOMParseError::get_reason);
  return v;
}

std::string repeat(const std::string& s, size_t n) {
  std::string o;
  while (n--) o += s;
  return o;
}

struct Case {
  const char* what;
  std::string text;
  const char* message;  // "" when the document is accepted
  size_t zeros = 0;
};

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  Verdict r = Read(c.text, c.zeros);
  EXPECT_EQ(r.message, c.message);
  EXPECT_EQ(r.ok, !*c.message);
  EXPECT_EQ(Load(NewDoc(), c.text, c.zeros), r);
}

// Nested entities that grow to `bytes` once expanded.
std::string grownEntities(size_t bytes) {
  std::string d = "<!DOCTYPE r [<!ENTITY e0 '" + std::string(100, 'x') + "'>";
  int level = 0;
  for (size_t size = 100; size < bytes; size *= 10, ++level)
    d += "<!ENTITY e" + std::to_string(level + 1) + " '" + repeat("&e" + std::to_string(level) + ";", 10) + "'>";
  return d + "<!ATTLIST i d CDATA '&e" + std::to_string(level) + ";'>";
}

// The parser core itself over a text in memory.
struct CoreOver {
  std::string text;
  size_t at = 0;
  twxml::xmlcore::Parser p;
  explicit CoreOver(std::string t, size_t maxToken = size_t(1) << 30) : text(std::move(t)) {
    p.options().maxTokenBytes = maxToken;
    p.reset(
        [](void* c, void* buf, size_t want) -> long {
          auto* self = static_cast<CoreOver*>(c);
          size_t k = std::min(want, self->text.size() - self->at);
          std::memcpy(buf, self->text.data() + self->at, k);
          self->at += k;
          return long(k);
        },
        this);
  }
};

}  // namespace

TEST_F(DomTest, AmplificationGetsOneVerdictOnBothEngines) {
  const Case cases[] = {
      {"defaulted attribute built from entities on many elements",
       grownEntities(1000000) + "]><r>" + repeat("<i/>", 20000) + "</r>",
       "defaulted attribute values exceed the expansion limit"},
      {"defaulted attribute from one reference per element, past the reference count",
       "<!DOCTYPE r [<!ENTITY e 'x'><!ATTLIST i d CDATA '&e;'>]><r>" + repeat("<i/>", 100001) + "</r>",
       "defaulted attribute values exceed the expansion limit"},
      {"short literal default on many elements", "<!DOCTYPE r [<!ATTLIST i d CDATA 'dflt'>]><r>" +
       repeat("<i/>", 100000) + "</r>", ""},
      {"entities in text", grownEntities(100000000) + "]><r>&e6;</r>", "entity expansion limit exceeded"},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(DomTest, EdgeVerdictsAndMessagesAreTheSameOnBothEngines) {
  const std::string latin1 = "<r>caf\xE9</r>";
  const Case cases[] = {
      {"long declaration", "<?xml version='1.0'" + std::string(100000, ' ') + "encoding='ISO-8859-1'?>" + latin1,
       "XML declaration longer than the 4096-character limit"},
      {"declaration at the limit", "<?xml version='1.0'" + std::string(4096 - 46, ' ') + "encoding='ISO-8859-1'?>" +
       latin1, ""},
      {"long unknown encoding name", "<?xml version='1.0' encoding='" + std::string(100000, 'x') + "'?><r/>",
       "XML declaration longer than the 4096-character limit"},
      {"encoding name past its limit", "<?xml version='1.0' encoding='" + std::string(65, 'x') + "'?><r/>",
       "encoding name longer than the 64-character limit"},
      {"unknown encoding", "<?xml version='1.0' encoding='x-none'?><r/>", "unsupported encoding 'x-none'"},
      {"UTF-7", "<?xml version='1.0' encoding='UTF-7'?><r>+ADw-b/+AD4-</r>",
       "encoding 'UTF-7' refused: it does not carry markup byte for byte"},
      {"invalid UTF-8", "<r>\xC3\x28</r>", "invalid UTF-8"},
      {"UTF-16 declared in a byte document", "<?xml version='1.0' encoding='UTF-16'?><r/>",
       "the encoding declaration contradicts the byte order mark or layout ('UTF-16')"},
      {"NUL inside", std::string("<r>\0</r>", 8), "NUL byte in the input"},
      {"terminator and padding", "<r/>", "", 4096},
      {"endless zeros", "<r/>", "NUL byte in the input", SIZE_MAX},
      {"endless zeros alone", "", "NUL byte in the input", SIZE_MAX},
      {"empty", "", "no document element"},
      {"4 MiB name", "<" + std::string(4 << 20, 'n') + "/>", ""},
      {"name past 16 MiB", "<" + std::string((16 << 20) + 1, 'n') + "/>", "name longer than the 16 MiB limit"},
  };
  for (const Case& c : cases) Check(c);
  // The endless source is refused after a bounded read.
  auto* s = new Source("<r/>", SIZE_MAX);
  VARIANT_BOOL loaded;
  NewDoc()->load(VUnk(s), &loaded);
  EXPECT_LT(s->served(), size_t(1) << 20);
  s->Release();
}

TEST(CoreLimits, TokenPastItsLimitIsNamed) {
  // The 1 GiB limit, lowered for the test: the message is the limit's own.
  CoreOver c("<r>" + std::string(3 << 20, 't') + "</r>", 1 << 20);
  while (c.p.next() > 0) {
  }
  EXPECT_EQ(c.p.error(), twxml::xmlcore::Error::Limit);
  EXPECT_EQ(c.p.errorMessage(), "text or markup larger than the 1 GiB limit");
}

TEST_F(DomTest, WideDocumentsTakeLinearLookupWork) {
  // 100,000 prefixes bound on the root, as many attributes of one local name
  // under them, and a child in each namespace.
  const int n = 100000;
  std::string doc = "<r";
  for (int i = 0; i < n; ++i) doc += " xmlns:p" + std::to_string(i) + "='u" + std::to_string(i) + "'";
  for (int i = 0; i < n; ++i) doc += " p" + std::to_string(i) + ":a='" + std::to_string(i) + "'";
  doc += ">";
  for (int i = 0; i < n; ++i) doc += "<p" + std::to_string(i) + ":c/>";
  doc += "</r>";

  CoreOver c(doc);
  twxml::xmlcore::Parser& p = c.p;
  ASSERT_EQ(p.next(), 1);
  ASSERT_EQ(p.attributeCount(), uint32_t(2 * n));
  for (int i = 0; i < n; i += 7) {
    std::string ns = "u" + std::to_string(i);
    std::string_view v(ns);
    int k = p.findAttribute("a", &v);
    ASSERT_GE(k, 0);
    EXPECT_EQ(p.attribute(uint32_t(k)).value.view(), std::to_string(i));
  }
  EXPECT_EQ(p.findAttribute("a", nullptr), -1);
  int nodes = 1;
  while (p.next() > 0) ++nodes;
  EXPECT_EQ(p.error(), twxml::xmlcore::Error::None);
  EXPECT_EQ(nodes, n + 2);  // the children are empty elements
  // Resolution, the duplicate check and the look-ups: a few probes per name.
  EXPECT_LT(p.lookupProbes(), uint64_t(10) * n);

  // A duplicate expanded name under two prefixes is found in that width.
  std::string dup = doc;
  dup.replace(dup.find(" p99999:a"), 0, " xmlns:q='u99999' q:a='x'");
  EXPECT_EQ(Read(dup, 0).message, "duplicate attribute 'p99999:a'");
}
