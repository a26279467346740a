// Differential tests of the streaming reader against libxml2's reader:
// on well-formed documents both must report the same node sequence (see
// normalise() for the documented differences that are removed first); on
// damaged documents both must agree on accept or reject.
#include <gtest/gtest.h>

#include <string>

#include "docgen.h"
#include "oracle.h"
#include "xmlgen.h"

namespace twdiff {
namespace {

// Compares the two walks; the message names the first differing node.
::testing::AssertionResult sameWalk(const std::string& doc) {
  Walk ours = readOurs(doc);
  Walk peer = readLibxml2(doc);
  if (!peer.accepted)
    return ::testing::AssertionFailure()
           << "libxml2 rejects a generated document (" << peer.error
           << "): " << printable(doc);
  if (!ours.accepted)
    return ::testing::AssertionFailure() << "our reader rejects (" << ours.error
                                         << "): " << printable(doc);
  normalise(ours);
  normalise(peer);
  size_t n = std::min(ours.nodes.size(), peer.nodes.size());
  for (size_t i = 0; i < n; ++i)
    if (!(ours.nodes[i] == peer.nodes[i]))
      return ::testing::AssertionFailure()
             << "node " << i << " differs\n  ours:    " << describe(ours.nodes[i])
             << "\n  libxml2: " << describe(peer.nodes[i]) << "\n  document: " << printable(doc);
  if (ours.nodes.size() != peer.nodes.size())
    return ::testing::AssertionFailure()
           << "node count " << ours.nodes.size() << " vs libxml2 " << peer.nodes.size()
           << "\n  first extra: "
           << describe(ours.nodes.size() > n ? ours.nodes[n] : peer.nodes[n])
           << "\n  document: " << printable(doc);
  return ::testing::AssertionSuccess();
}

TEST(ReaderDiff, ConstructSamplesMatch) {
  for (const std::string& doc : twgen::constructSamples()) EXPECT_TRUE(sameWalk(doc));
}

TEST(ReaderDiff, RandomDocumentsMatch) {
  twgen::Options plain;
  twgen::Options noDtd;
  noDtd.doctype = false;
  twgen::Options asciiDeep;
  asciiDeep.nonAscii = false;
  asciiDeep.maxDepth = 12;
  asciiDeep.maxChildren = 3;
  int failures = 0;
  for (uint64_t seed = 1; seed <= 600 && failures < 5; ++seed) {
    const twgen::Options& o = seed % 3 == 0 ? noDtd : seed % 3 == 1 ? plain : asciiDeep;
    std::string doc = twgen::randomDocument(seed, o);
    auto r = sameWalk(doc);
    if (!r) ++failures;
    EXPECT_TRUE(r) << "seed " << seed;
  }
}

TEST(ReaderDiff, EncodingsMatch) {
  struct Enc {
    const char* name;
    bool bom;
    bool latin1;
  };
  const Enc encs[] = {{"UTF-8", true, false},        {"UTF-16", true, false},
                      {"UTF-16BE", true, false},     {"UTF-16LE", true, false},
                      {"ISO-8859-1", false, true},   {"windows-1252", false, true},
                      {"ISO-8859-15", false, true}};
  int failures = 0;
  for (uint64_t seed = 1000; seed < 1040 && failures < 5; ++seed) {
    for (const Enc& e : encs) {
      twgen::Options o;
      o.latin1Only = e.latin1;
      std::string doc = twgen::randomDocument(seed, o), encoded;
      ASSERT_TRUE(twgen::encodeDocument(doc, e.name, e.bom, &encoded)) << e.name;
      auto r = sameWalk(encoded);
      if (!r) ++failures;
      EXPECT_TRUE(r) << "seed " << seed << " encoding " << e.name;
    }
  }
}

// libxml2 does not read UTF-32 from memory, so there our reader is held to
// its own answers on the same document in UTF-8.
TEST(ReaderDiff, Utf32ReadsLikeUtf8) {
  for (uint64_t seed = 1100; seed < 1120; ++seed) {
    std::string doc = twgen::randomDocument(seed);
    for (const char* enc : {"UTF-32", "UTF-32BE"}) {
      std::string encoded, utf8;
      ASSERT_TRUE(twgen::encodeDocument(doc, enc, true, &encoded));
      ASSERT_TRUE(twgen::encodeDocument(doc, "UTF-8", false, &utf8));
      Walk wide = readOurs(encoded), narrow = readOurs(utf8);
      ASSERT_TRUE(narrow.accepted) << narrow.error << ": " << printable(utf8);
      EXPECT_TRUE(wide.accepted) << enc << ": " << wide.error;
      normalise(wide);
      normalise(narrow);
      EXPECT_TRUE(wide.nodes == narrow.nodes) << enc << " seed " << seed;
    }
  }
}

TEST(ReaderDiff, RecordDocumentMatches) {
  // The benchmark's record-style document, a few hundred records.
  std::string doc = twbench::renderDocument(twbench::makeRecords(256 * 1024));
  EXPECT_TRUE(sameWalk(doc));
}

TEST(ReaderDiff, DamagedDocumentsAgreeOnRejection) {
  int disagreements = 0, rejected = 0, total = 0;
  std::string report;
  for (uint64_t seed = 1; seed <= 1500; ++seed) {
    twgen::Options o;
    o.maxDepth = 4;
    std::string doc = twgen::randomDocument(seed % 300 + 5000, o);
    twgen::Mutation kind;
    std::string bad = twgen::mutate(doc, seed, &kind);
    Walk ours = readOurs(bad);
    Walk peer = readLibxml2(bad);
    ++total;
    if (!peer.accepted) ++rejected;
    if (ours.accepted == peer.accepted) continue;
    if (++disagreements <= 8)
      report += std::string("\n  ") + twgen::mutationName(kind) + ": ours " +
                (ours.accepted ? "accepts" : "rejects (" + ours.error + ")") + ", libxml2 " +
                (peer.accepted ? "accepts" : "rejects (" + peer.error + ")") + "\n    " +
                printable(bad, 400);
  }
  EXPECT_EQ(disagreements, 0) << disagreements << " of " << total << " damaged documents"
                              << report;
  // The mutations must mostly damage: otherwise this test proves little.
  EXPECT_GT(rejected, total / 2);
}

TEST(ReaderDiff, KnownMalformedRejectedByBoth) {
  const char* const docs[] = {
      "",
      "<r>",
      "<r></s>",
      "<r a='1' a='2'/>",
      "<r xmlns:p='urn:x' xmlns:q='urn:x' p:a='1' q:a='2'/>",
      "<p:r/>",
      "<r xmlns:p=''/>",
      "<r>&undeclared;</r>",
      "<!DOCTYPE r [<!ENTITY e '&e;'>]><r>&e;</r>",
      "<r>]]></r>",
      "<r><!-- a -- b --></r>",
      "<?xml version='1.0'?><?xml version='1.0'?><r/>",
      "<r/><s/>",
      "<r>\x01</r>",
      "<r>\xC3</r>",
      "<r a='<'/>",
      "<1r/>",
      "<r xmlns:xmlns='urn:x'/>",
      "<r xmlns:xml='urn:not-xml'/>",
      "<r>&#0;</r>",
      "<r>&#xD800;</r>",
  };
  for (const char* d : docs) {
    std::string doc(d);
    Walk ours = readOurs(doc), peer = readLibxml2(doc);
    EXPECT_FALSE(peer.accepted) << "libxml2 accepts " << printable(doc);
    EXPECT_FALSE(ours.accepted) << "our reader accepts " << printable(doc);
  }
}

}  // namespace
}  // namespace twdiff
