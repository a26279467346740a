// Seed corpus for the harnesses: small valid documents of every construct,
// random generated ones, some re-encoded, and damaged copies, made at test
// time (../harness.h).
#pragma once

#include <string>
#include <vector>

#include "xmlgen.h"

namespace twfuzz {

inline std::vector<std::string> seedDocuments() {
  std::vector<std::string> seeds = twgen::constructSamples();
  for (uint64_t s = 1; s <= 40; ++s) {
    twgen::Options o;
    o.maxDepth = 4;
    o.maxChildren = 4;
    std::string doc = twgen::randomDocument(s, o);
    seeds.push_back(doc);
    twgen::Mutation kind;
    seeds.push_back(twgen::mutate(doc, s, &kind));
    std::string enc;
    if (s % 8 == 0 && twgen::encodeDocument(doc, "UTF-16", true, &enc)) seeds.push_back(enc);
  }
  // Limits and hostile shapes.
  seeds.push_back(std::string(200, '<'));
  seeds.push_back("<!DOCTYPE r [<!ENTITY a 'xxxxxxxx'><!ENTITY b '&a;&a;&a;&a;&a;&a;'>"
                  "<!ENTITY c '&b;&b;&b;&b;&b;&b;'>]><r>&c;&c;</r>");
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "<d>";
  seeds.push_back(deep);
  // Found by fuzzing: a CDATA character the declared encoding cannot hold.
  seeds.push_back("<?xml version=\"1.0\" encoding=\"Big5\"?><em><![CDATA[\xB8]]></em>");
  // Found by fuzzing: text that ends before its first character (a zero).
  seeds.push_back(std::string(1, '\0'));
  return seeds;
}

// The seed documents, each behind every option byte given.
inline std::vector<std::string> seedInputs(const std::vector<unsigned char>& optionBytes) {
  std::vector<std::string> inputs;
  for (const std::string& doc : seedDocuments())
    for (unsigned char opt : optionBytes) inputs.push_back(std::string(1, char(opt)) + doc);
  return inputs;
}

}  // namespace twfuzz
