// The module exports the factories and nothing of the parser, and the
// reader it makes works like the in-process one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "reader_util.h"

TEST(XmlLiteModule, FactoryReadsAndParserStaysHidden) {
  void* m = dlopen(TWXML_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(m, nullptr) << dlerror();
  auto create = reinterpret_cast<PFN_CreateXmlReader>(dlsym(m, "CreateXmlReader"));
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(dlsym(m, "TwCreateXmlReaderInProc"), nullptr);
  EXPECT_EQ(dlsym(m, "_ZN5twxml7xmlcore6Parser4nextEv"), nullptr);
  EXPECT_EQ(create(IID_IXmlReader, nullptr, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(create(IID_IStream, &out, nullptr), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  IXmlReader* r = nullptr;
  ASSERT_EQ(create(IID_IXmlReader, reinterpret_cast<void**>(&r), nullptr), S_OK);
  twxml::test::WalkResult w = twxml::test::walk(r, "<a x='1'><b/>t</a>");
  EXPECT_EQ(w.hr, S_FALSE);
  EXPECT_EQ(w.trace, "1 0 {a|} [] @x=1\n1 1 {b|}/ []\n3 1 {|} [t]\n15 0 {a|} []\n");
  EXPECT_EQ(r->Release(), 0u);
  // Only the factories leave the module.
  std::unique_ptr<FILE, int (*)(FILE*)> p(popen("nm -D --defined-only '" TWXML_MODULE_PATH "' 2>/dev/null", "r"), pclose);
  char line[512];
  while (p && fgets(line, sizeof line, p.get())) {
    std::string l(line);
    EXPECT_TRUE(l.find("CreateXmlReader") != l.npos || l.find("CreateXmlWriter") != l.npos) << "unexpected export: " << l;
  }
}
