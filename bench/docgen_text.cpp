// The text-heavy benchmark document: articles with long paragraphs, mixed
// content, code in CDATA sections, long log blocks, and names from many
// namespaces, some declared on the element that uses them.
//
// White space alone stands only between elements of element-only content,
// never between two inline elements, so DOMs that drop blank text nodes all
// keep the same text.
#include <cstdio>

#include "docgen.h"
#include "docgen_common.h"

namespace twbench {
namespace {

const char* const kDefaultNs = "urn:twxml:bench:text";
const char* const kNamespaces[][2] = {
    {"dc", "urn:twxml:bench:dc"},       {"x", "urn:twxml:bench:x"},
    {"m", "urn:twxml:bench:math"},      {"l", "urn:twxml:bench:link"},
    {"r", "urn:twxml:bench:review"},    {"t", "urn:twxml:bench:typography"},
    {"c", "urn:twxml:bench:code"},      {"s", "urn:twxml:bench:source"},
    {"geo", "urn:twxml:bench:geo"},     {"i18n", "urn:twxml:bench:i18n"},
    {"ann", "urn:twxml:bench:annotation"}, {"q", "urn:twxml:bench:quote"}};

const char* const kWords[] = {
    "the", "of", "and", "a", "to", "in", "is", "that", "for", "it", "as", "was", "with", "be",
    "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have",
    "an", "had", "they", "you", "were", "their", "one", "all", "we", "can", "her", "has",
    "there", "been", "if", "more", "when", "will", "would", "who", "so", "no", "parser",
    "document", "element", "attribute", "namespace", "character", "reference", "stream",
    "buffer", "memory", "benchmark", "throughput", "latency", "caf\xC3\xA9", "na\xC3\xAFve",
    "r\xC3\xA9sum\xC3\xA9", "\xC3\xBC" "ber", "Stra\xC3\x9F" "e", "\xE6\x9D\xB1\xE4\xBA\xAC",
    "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "\xCE\xB1\xCE\xB2\xCE\xB3",
    "\xF0\x9F\x93\x9A", "5 < 7", "A & B", "x > y", "\"quoted\"", "it's"};
const char* const kInline[][2] = {{"t", "em"}, {"t", "strong"}, {"l", "a"}, {"m", "math"},
                                  {"q", "cite"}, {"ann", "note"}, {"geo", "place"}};
const char* const kCode[] = {
    "if (a < b && c > d) { swap(a, c); }",
    "for (int i = 0; i < n; ++i) sum += v[i] & mask;",
    "std::string s = \"<tag attr='1'>\";",
    "return x->next ? x->next : &sentinel;",
    "while (*p && *p != '<') ++p;  // scan to markup",
    "# comment: nothing to <escape> here",
    "template <class T> T max(T a, T b) { return a > b ? a : b; }"};
const char* const kLangs[] = {"en", "de", "fr", "ja", "ru", "el"};
const char* const kStates[] = {"draft", "review", "final", "archived"};

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  // A run of words, starting and ending with a word; now and then an entity
  // or a character reference in place of a word.
  void words(size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (i) out_ += ' ';
      switch (rng_.below(40)) {
        case 0: out_ += "&#x2014;"; break;
        case 1: out_ += "&#233;t&#233;"; break;
        case 2: out_ += "&amp;c."; break;
        case 3: out_ += "&lt;&gt;"; break;
        default: {
          std::string w = rng_.pick(kWords);
          escapeText(out_, w, false);
        }
      }
    }
  }

  void paragraph(size_t segments) {
    out_ += "      <p>";
    for (size_t s = 0; s < segments; ++s) {
      words(10 + rng_.below(50));
      if (s + 1 == segments) break;
      const char* const* el = kInline[rng_.below(sizeof kInline / sizeof kInline[0])];
      out_ += ' ';
      open(el[0], el[1]);
      if (el[1][0] == 'a') attr("l:href", "https://example.org/doc?id=7&part=3");
      out_ += '>';
      words(1 + rng_.below(5));
      close(el[0], el[1]);
      out_ += ' ';
    }
    out_ += ".</p>\n";
  }

  void listing() {
    out_ += "      <c:listing c:lang=\"cpp\"><![CDATA[\n";
    size_t lines = 5 + rng_.below(40);
    for (size_t i = 0; i < lines; ++i) {
      out_ += "  ";
      out_ += rng_.pick(kCode);
      out_ += '\n';
    }
    out_ += "]]></c:listing>\n";
  }

  // One long run of character data, up to tens of kilobytes.
  void log(size_t article) {
    out_ += "    <x:log>";
    size_t lines = 100 + rng_.below(400);
    char buf[80];
    for (size_t i = 0; i < lines; ++i) {
      std::snprintf(buf, sizeof buf, "%06zu.%03zu ", article, i);
      out_ += buf;
      words(6 + rng_.below(10));
      out_ += '\n';
    }
    out_ += "</x:log>\n";
  }

  void article(size_t n) {
    char id[32];
    std::snprintf(id, sizeof id, "A%07zu", n);
    out_ += "  <article";
    attr("id", id);
    attr("xml:lang", rng_.pick(kLangs));
    attr("r:state", rng_.pick(kStates));
    out_ += ">\n    <dc:title>";
    words(3 + rng_.below(8));
    out_ += "</dc:title>\n    <dc:creator";
    std::snprintf(id, sizeof id, "P%05zu", rng_.below(100000));
    attr("s:ref", id);
    out_ += '>';
    words(2);
    out_ += "</dc:creator>\n    <abstract>";
    words(80 + rng_.below(250));
    out_ += "</abstract>\n";
    // A namespace declared on the section only, its URI new for each article.
    std::snprintf(id, sizeof id, "%zu", n % 5000);
    out_ += "    <section xmlns:loc=\"urn:twxml:bench:local:";
    out_ += id;
    out_ += "\" loc:kind=\"body\">\n";
    size_t paragraphs = 3 + rng_.below(6);
    for (size_t p = 0; p < paragraphs; ++p) {
      paragraph(1 + rng_.below(8));
      if (rng_.below(3) == 0) listing();
      if (rng_.below(4) == 0) {
        out_ += "      <loc:aside>";
        words(20 + rng_.below(60));
        out_ += "</loc:aside>\n";
      }
    }
    out_ += "    </section>\n";
    if (rng_.below(8) == 0) log(n);
    out_ += "  </article>\n";
  }

 private:
  void open(const char* prefix, const char* local) {
    out_ += '<';
    out_ += prefix;
    out_ += ':';
    out_ += local;
  }
  void close(const char* prefix, const char* local) {
    out_ += "</";
    out_ += prefix;
    out_ += ':';
    out_ += local;
    out_ += '>';
  }
  void attr(const char* name, const std::string& value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    escapeText(out_, value, true);
    out_ += '"';
  }

  std::string& out_;
  Rng rng_;
};

}  // namespace

std::string renderTextDocument(size_t targetBytes) {
  std::string out;
  out.reserve(targetBytes + 64 * 1024);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<!-- twxml benchmark document: text-heavy articles -->\n";
  out += "<library xmlns=\"";
  out += kDefaultNs;
  out += '"';
  for (const auto& ns : kNamespaces) {
    out += " xmlns:";
    out += ns[0];
    out += "=\"";
    out += ns[1];
    out += '"';
  }
  out += ">\n";
  Writer w(out);
  for (size_t n = 1; out.size() < targetBytes; ++n) w.article(n);
  out += "</library>\n";
  return out;
}

}  // namespace twbench
