// Run with the streaming module hidden (TWXML_TEST_MODULE_DIR names an empty
// folder): the library still loads, the probe answers 0 from every thread,
// creators give null handles and nothing crashes. Exit status 0 means pass.
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "twxml/twxml.h"

namespace {
int failures = 0;
void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}
}  // namespace

int main() {
  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { found += XmlLiteIsDllFoundB(); });
  for (std::thread& t : threads) t.join();
  Check(found.load() == 0, "probe answers 0 on every thread");
  Check(XmlLiteIsDllFoundB() == 0, "probe answer is cached");

  Check(XmlLiteCreateMemReaderH("<a/>") == nullptr, "memory reader without module");
  Check(XmlLiteCreateMemWriterH(1, "UTF-16") == nullptr, "memory writer without module");
  Check(XmlLiteCreateFileReaderH("/nonexistent/file.xml") == nullptr, "file reader");
  char buffer[4] = "abc";
  char* text = buffer;
  unsigned int length = 3;
  Check(XmlLiteReadElemF(nullptr) == 44, "null reader handle");
  Check(XmlLiteGetElemNameToBufF(nullptr, buffer, sizeof buffer) == 44, "null name handle");
  Check(XmlLiteWriteValueF(nullptr, "x") == 44, "null writer handle");
  Check(XmlLiteGetMemF(nullptr, &text, &length) == 44 && text == nullptr && length == 0,
        "null writer GetMem");
  Check(buffer[0] == 'a', "buffer untouched");
  if (failures == 0) std::printf("module hidden: probe 0, creators null, nothing crashed\n");
  return failures == 0 ? 0 : 1;
}
