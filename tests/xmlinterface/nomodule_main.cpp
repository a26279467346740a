// Run with the streaming module hidden (TWXML_TEST_MODULE_DIR names an empty
// folder): the library still loads, the probe answers 0 from every thread
// and never asks again, the handle creators give null, and every factory
// takes the document engine whether the caller forces it or not. The first
// argument is the module, put in place halfway. Exit status 0 means pass.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "twxml/twxml.h"

namespace {

int failures = 0;
void Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "FAILED: %s\n", what), ++failures;
}

char* S(const char* text) { return const_cast<char*>(text); }

// The document engine names elements with their prefix.
void ReadsWithDocumentEngine(int status, XmlInterface* x, const char* what) {
  char name[32];
  int n = 0;
  Check(status == 0 && x != nullptr && x->SelectElemB() && x->GetElemNameToBufB(name, sizeof name) &&
            std::strcmp(name, "p:r") == 0 && x->SelectElemB() && x->GetAttrValueToIntB(S("n"), &n) &&
            n == 7,
        what);
  delete x;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const char* dir = std::getenv("TWXML_TEST_MODULE_DIR");
  if (argc < 2 || dir == nullptr) return std::fprintf(stderr, "usage: module path, TWXML_TEST_MODULE_DIR\n"), 2;
  const fs::path placed = fs::path(dir) / fs::path(argv[1]).filename();
  std::error_code ec;
  fs::remove(placed, ec);  // left behind by an interrupted earlier run
  Check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)), "COM initialised");
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { found += XmlLiteIsDllFoundB(); });
  for (std::thread& t : threads) t.join();
  Check(found.load() == 0 && XmlLiteIsDllFoundB() == 0, "the probe answers 0 on every thread");
  Check(XmlLiteCreateMemReaderH("<a/>") == nullptr && XmlLiteCreateMemWriterH(1, "UTF-16") == nullptr,
        "no handle without the module");
  // The answer is never probed again: with the module in place now, the
  // probe still answers 0, the creators give null, the factories take the
  // document engine.
  fs::copy_file(argv[1], placed, fs::copy_options::overwrite_existing, ec);
  Check(!ec, "module copied into the searched folder");
  Check(XmlLiteIsDllFoundB() == 0 && XmlLiteCreateMemReaderH("<a/>") == nullptr, "the probe is not repeated");

  char doc[] = "<p:r xmlns:p='urn:p'><p:a n='7'>text</p:a></p:r>";
  XmlInterface* x = nullptr;
  int status = XmlInterface::CreateReaderFromMemF(doc, sizeof doc - 1, &x);
  ReadsWithDocumentEngine(status, x, "memory reader");

  char path[] = "/tmp/twxml_nomodule_XXXXXX";
  int fd = mkstemp(path);
  Check(fd >= 0 && write(fd, doc, sizeof doc - 1) == static_cast<ssize_t>(sizeof doc - 1), "temporary file");
  close(fd);
  status = XmlInterface::CreateReaderFromFileF(path, &x);
  ReadsWithDocumentEngine(status, x, "file reader");

  // Writers: the document engine's declaration carries the encoding asked
  // for even in a file, which the streaming engine never does.
  x = nullptr;
  Check(XmlInterface::CreateWriterToFileF(path, &x, true, false, S("ISO-8859-1")) == 0 &&
            x->WriteStartElemB(S("out")) && x->WriteValueB(S("caf\xc3\xa9")),
        "file writer");
  delete x;
  std::stringstream ss;
  ss << std::ifstream(path, std::ios::binary).rdbuf();
  Check(ss.str().find("encoding='ISO-8859-1'") != std::string::npos, "file declares its encoding");
  Check(ss.str().find("<out>caf\xe9</out>") != std::string::npos, "file holds the text");
  unlink(path);

  x = nullptr;
  Check(XmlInterface::CreateWriterToMemF(&x, true) == 0 && x->WriteStartElemNsB(S("p"), S("r"), S("urn:p")) &&
            x->EndElemB(),
        "memory writer");
  char* text = x != nullptr ? x->AllocMemP(nullptr) : nullptr;
  Check(text != nullptr && std::strstr(text, "version='1.0' encoding='UTF-8'") != nullptr &&
            std::strstr(text, "<p:r") != nullptr,
        "the document engine's declaration and element");
  MemFreeF(text);
  delete x;
  fs::remove(placed, ec);
  CoUninitialize();
  if (failures == 0) std::printf("all checks passed\n");
  return failures == 0 ? 0 : 1;
}
