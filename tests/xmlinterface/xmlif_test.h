// What the XmlInterface tests share: COM on the thread, the streaming module
// present, and short ways to make, step and read objects.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <sstream>
#include <string>

#include "twxml/twxml.h"

namespace xmlif_test {

inline char* S(const char* text) { return const_cast<char*>(text); }
inline char* S(const std::string& text) { return const_cast<char*>(text.c_str()); }

struct Deleter {
  void operator()(XmlInterface* p) const { delete p; }
};
using Ptr = std::unique_ptr<XmlInterface, Deleter>;

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    if (!XmlLiteIsDllFoundB()) GTEST_SKIP() << "streaming module not built";
  }
  void TearDown() override { CoUninitialize(); }
  // The streaming engine reads the caller's text in place: the fixture keeps
  // every text alive until the test ends.
  Ptr Reader(const std::string& text, bool dom) {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateReaderFromMemF(S(texts_.emplace_back(text)), text.size(), &p, dom), 0);
    return Ptr(p);
  }
  static Ptr Writer(bool dom, bool indent = false, const char* encoding = nullptr) {
    XmlInterface* p = nullptr;
    EXPECT_EQ(XmlInterface::CreateWriterToMemF(&p, indent, dom, S(encoding)), 0);
    return Ptr(p);
  }
  static std::string Take(XmlInterface& w) {
    unsigned int size = 0;
    char* text = w.AllocMemP(&size);
    std::string out = text ? std::string(text, size) : "<null>";
    MemFreeF(text);
    return out;
  }
  static std::string Name(XmlInterface& x) {
    char buf[512];
    return x.GetElemNameToBufB(buf, sizeof buf) ? buf : "<false>";
  }
  // Steps a reader: S select, P peek, E end, K skip, V value, each followed
  // by + (true) or - (false) and, when given, the name of the current
  // element then (for V: the value).
  static void Walk(XmlInterface& x, const std::string& steps) {
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
      SCOPED_TRACE(s);
      char value[64] = "";
      const bool got = s[0] == 'S'   ? x.SelectElemB()
                       : s[0] == 'P' ? x.PeekElemB()
                       : s[0] == 'E' ? x.EndElemB()
                       : s[0] == 'K' ? x.SkipLevelB()
                                     : x.GetElemValueToBufB(value, sizeof value);
      EXPECT_EQ(s[1] == '+', got);
      if (s.size() > 2) {
        EXPECT_EQ(s.substr(2), s[0] == 'V' ? value : Name(x));
      }
    }
  }
  std::deque<std::string> texts_;
};

}  // namespace xmlif_test
