// The parser core's two ways out: run() hands a sink exactly the nodes
// next() returns, in the same words, whatever the read size; a sink that
// stops leaves the parser on that node, and next() goes on from there.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/xmlcore.h"

namespace {

namespace xc = twxml::xmlcore;

struct Input {
  const std::string* doc;
  size_t pos = 0, chunk;
  static long Read(void* ctx, void* buf, size_t n) {
    Input* in = static_cast<Input*>(ctx);
    n = std::min({n, in->chunk, in->doc->size() - in->pos});
    in->doc->copy(static_cast<char*>(buf), n, in->pos);
    in->pos += n;
    return long(n);
  }
};

// One line per node: type, depth, every string and attribute the
// accessors give.
std::string describe(const xc::Parser& p) {
  std::string s = std::to_string(int(p.type())) + " " + std::to_string(p.depth()) + " " +
                  std::string(p.qname().view()) + "|" + std::string(p.prefix().view()) + "|" +
                  std::string(p.localName().view()) + "{" + std::string(p.namespaceUri().view()) +
                  "}[" + std::string(p.value().view()) + "]" + (p.isEmptyElement() ? "/" : "");
  for (uint32_t i = 0; i < p.attributeCount(); ++i) {
    const xc::Attribute& a = p.attribute(i);
    s += " @" + std::string(a.qname.view()) + "{" + std::string(a.ns.view()) + "}=" +
         std::string(a.value.view()) + (a.isDefault ? "(d)" : "");
  }
  return s + "\n";
}

// Records what it is handed; answers false at node `stopAt` (counted from 1).
class Recorder final : public xc::Sink {
 public:
  Recorder(xc::Parser& p, size_t stopAt) : p_(p), stopAt_(stopAt) {}
  std::string trace, last;
  bool startElement() override { return take(xc::NodeType::Element); }
  bool endElement() override { return take(xc::NodeType::EndElement); }
  bool text() override {
    return take(p_.type() == xc::NodeType::Whitespace ? xc::NodeType::Whitespace : xc::NodeType::Text);
  }
  bool other() override { return take(p_.type()); }

 private:
  bool take(xc::NodeType expected) {
    EXPECT_EQ(p_.type(), expected);
    last = describe(p_);
    trace += last;
    return ++seen_ != stopAt_;
  }
  xc::Parser& p_;
  size_t stopAt_, seen_ = 0;
};

const char* const kDocs[] = {
    "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
    "<!DOCTYPE r [<!ENTITY e 'x<b a=\"1\">y</b>z'><!ATTLIST r d CDATA 'dv' xml:space CDATA #IMPLIED>]>\n"
    "<!-- before --><?pi data?>\n<r xmlns='urn:d' xmlns:p='urn:p' p:a=\"1 &amp; 2\">\n  <p:c/>\n"
    "  t&e;<![CDATA[c<d]]>\xC3\xA9<?q?><!---->  <s xml:space='preserve'>  </s>\n</r>\n<!-- after -->",
    "<a><b><c>deep</c></b><b/><b x='1' y='2'>w</b></a>",
    "<r>\r\n&#x20AC;&lt;</r>",
};

TEST(XmlCoreRun, HandsTheSinkWhatNextReturnsAndStopsWhereAsked) {
  for (const char* text : kDocs) {
    const std::string doc = text;
    for (bool skipSpace : {false, true}) {
      for (size_t chunk : {size_t(1), size_t(7), size_t(64), SIZE_MAX}) {
        SCOPED_TRACE(testing::Message() << doc << " chunk " << chunk << " pass over " << skipSpace);
        std::string pulled;
        size_t nodes = 0;
        {
          xc::Parser p;
          Input in{&doc, 0, chunk};
          p.reset(&Input::Read, &in);
          p.passOver(skipSpace, false);
          while (p.next() > 0) {
            pulled += describe(p);
            ++nodes;
          }
          ASSERT_EQ(p.error(), xc::Error::None);
        }
        ASSERT_GT(nodes, 2u);
        // Stopped at every node in turn (and never), then pulled to the end.
        for (size_t stopAt = 1; stopAt <= nodes + 1; ++stopAt) {
          xc::Parser p;
          Input in{&doc, 0, chunk};
          p.reset(&Input::Read, &in);
          p.passOver(skipSpace, false);
          Recorder r(p, stopAt);
          const int got = p.run(r);
          EXPECT_EQ(got, stopAt <= nodes ? 1 : 0) << stopAt;
          std::string trace = r.trace;
          if (got == 1) {
            EXPECT_EQ(describe(p), r.last) << stopAt;
            while (p.next() > 0) trace += describe(p);
          }
          EXPECT_EQ(trace, pulled) << stopAt;
          EXPECT_EQ(p.error(), xc::Error::None);
        }
      }
    }
  }
}

TEST(XmlCoreRun, FailsLikeNext) {
  const std::string doc = "<r><a>text</b></r>";
  xc::Parser p;
  Input in{&doc, 0, SIZE_MAX};
  p.reset(&Input::Read, &in);
  Recorder r(p, 0);
  EXPECT_EQ(p.run(r), -1);
  EXPECT_EQ(r.trace, "1 0 r||r{}[]\n1 1 a||a{}[]\n3 2 ||{}[text]\n");
  EXPECT_EQ(p.error(), xc::Error::TagMismatch);
  EXPECT_EQ(p.run(r), -1);  // and stays failed, as next() does
  EXPECT_EQ(p.next(), -1);
}

}  // namespace
