// Threads: the first availability probe raced by many threads, then eight
// threads each creating, using and closing their own handles, documents and
// XmlInterface objects on both engines, with bad-handle checks mixed in and
// thousands of handles open at once. Built with the thread sanitizer by
// scripts/test; here it also checks every answer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "twxml/twxml.h"

namespace {

char* S(const char* text) { return const_cast<char*>(text); }

const char kDoc[] = "<r xmlns:p='urn:p'><p:e n='7'>seven</p:e><e n='8'/></r>";

// One thread's work; every wrong answer counts.
void Work(int id, std::atomic<int>* wrong) {
  auto check = [wrong](bool ok) { *wrong += ok ? 0 : 1; };
  check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  std::vector<_XmlLiteReaderS*> open;  // held open to the end
  for (int round = 0; round < 40; ++round) {
    // Handles: read, write, close; a closed one is refused.
    _XmlLiteReaderS* r = XmlLiteCreateMemReaderH(kDoc);
    char buf[32];
    check(XmlLiteReadElemF(r) == 0 && XmlLiteReadElemF(r) == 0);
    check(XmlLiteGetElemNameToBufF(r, buf, sizeof buf) == 0 && std::strcmp(buf, "e") == 0);
    check(XmlLiteGetAttrValueToBufF(r, "n", buf, sizeof buf) == 0 && std::strcmp(buf, "7") == 0);
    check(XmlLiteCloseReaderF(r) == 0);
    check(XmlLiteIsReaderHndValidB(r) == 0 && XmlLiteReadElemF(r) == 44);
    _XmlLiteWriterS* w = XmlLiteCreateMemWriterH(round % 2, "UTF-8");
    check(XmlLiteWriteStartElemF(w, nullptr, "t", nullptr) == 0 &&
          XmlLiteWriteValueF(w, std::to_string(id).c_str()) == 0);
    char* text = nullptr;
    unsigned int length = 0;
    check(XmlLiteGetMemF(w, &text, &length) == 0 && text != nullptr);
    MemFreeF(text);
    check(XmlLiteIsReaderHndValidB(reinterpret_cast<_XmlLiteReaderS*>(w)) == 0);
    check(XmlLiteCloseWriterF(w) == 0);
    check(XmlLiteWriteValueF(w, "x") == 44);
    for (int k = 0; k < 10; ++k) open.push_back(XmlLiteCreateMemReaderH(kDoc));
    for (_XmlLiteReaderS* h : open) check(XmlLiteIsReaderHndValidB(h) == 1);

    // The document face.
    KxXMLParser* parser = XmlGetParserP();
    check(parser != nullptr);
    if (parser != nullptr) {
      int status = 0;
      KxStream* in = StreamCreateMemStreamP(S(kDoc), sizeof kDoc - 1, S(""), 0, 0, &status);
      check(parser->LoadFromStreamF(in) == 0);
      delete in;
      KxXMLNode* root = parser->GetRootElementP();
      check(root != nullptr);
      if (root != nullptr) {
        KxXMLNode* child = root->GetNextChildNodePo(nullptr);
        int n = 0;
        check(child != nullptr && child->GetAttributeF(S("n"), &n) == 0 && n == 7);
        delete child;
        check(parser->AppendTextF(root, S("more")) == 0);
        delete root;
      }
      KxStream* out = StreamCreateMemStreamP(nullptr, 32768, S(""), 1, 1, &status);
      parser->SaveToStreamV(out);
      check(out->GetSizeUl() > sizeof kDoc);
      delete out;
      delete parser;
    }

    // XmlInterface on both engines.
    for (bool dom : {false, true}) {
      char doc[sizeof kDoc];
      std::memcpy(doc, kDoc, sizeof kDoc);
      XmlInterface* x = nullptr;
      check(XmlInterface::CreateReaderFromMemF(doc, sizeof kDoc - 1, &x, dom) == 0);
      int n = 0;
      check(x->SelectElemB() && x->SelectElemB() && x->GetAttrValueToIntB(S("n"), &n) && n == 7);
      delete x;
      check(XmlInterface::CreateWriterToMemF(&x, true, dom, nullptr) == 0);
      check(x->WriteStartElemB(S("w")) && x->WriteIntAttrB(S("id"), id) && x->EndElemB());
      unsigned int size = 0;
      char* written = x->AllocMemP(&size);
      check(written != nullptr && std::strstr(written, "<w id=\"") != nullptr);
      MemFreeF(written);
      delete x;
    }
  }
  for (_XmlLiteReaderS* h : open) check(XmlLiteCloseReaderF(h) == 0);
  CoUninitialize();
}

TEST(Concurrency, FirstProbeThenEightThreadsOnEveryFace) {
  // The first call of the probe in this process, raced.
  std::atomic<bool> go{false};
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      found += XmlLiteIsDllFoundB();
    });
  }
  go = true;
  for (auto& th : threads) th.join();
  ASSERT_EQ(8, found.load()) << "every racer sees the module";

  threads.clear();
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t) threads.emplace_back(Work, t, &wrong);
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, wrong.load());
}

}  // namespace
