// Availability probe and run-time binding of the streaming module. The module
// is never linked: the library must load on systems that lack it.
#include <atomic>
#include <cstring>
#include <new>

#include "lite_internal.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/win32_internal.h"

namespace {

// -1 not probed yet, else the answer. Threads racing through the first probe
// each load the module and store the same answer; the loader counts the
// extra loads and nothing is ever unloaded.
std::atomic<int> g_probeAnswer{-1};
std::atomic<HMODULE> g_module{nullptr};

std::atomic<PFN_CreateXmlReader> g_reader{nullptr};
std::atomic<PFN_CreateXmlWriter> g_writer{nullptr};
std::atomic<PFN_CreateXmlWriterOutputWithEncodingName> g_output{nullptr};

template <typename Fn>
Fn Bind(std::atomic<Fn>& slot, const char* name) {
  Fn fn = slot.load(std::memory_order_acquire);
  if (fn != nullptr) return fn;
  if (!XmlLiteIsDllFoundB()) return nullptr;
  HMODULE module = g_module.load(std::memory_order_acquire);
  if (module == nullptr) return nullptr;
  // Through void*: the loader hands out untyped entry points.
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (fn != nullptr) slot.store(fn, std::memory_order_release);
  return fn;
}

}  // namespace

extern "C" TWXML_API BOOL XmlLiteIsDllFoundB(void) {
  int answer = g_probeAnswer.load(std::memory_order_acquire);
  if (answer >= 0) return answer;
  HMODULE module = LoadLibraryA("XmlLite.dll");
  if (module != nullptr) g_module.store(module, std::memory_order_release);
  answer = module != nullptr ? 1 : 0;
  g_probeAnswer.store(answer, std::memory_order_release);
  return answer;
}

namespace twxml::lite {

PFN_CreateXmlReader ReaderFactory() { return Bind(g_reader, "CreateXmlReader"); }
PFN_CreateXmlWriter WriterFactory() { return Bind(g_writer, "CreateXmlWriter"); }
PFN_CreateXmlWriterOutputWithEncodingName OutputFactory() {
  return Bind(g_output, "CreateXmlWriterOutputWithEncodingName");
}

void SetFactoriesForTest(PFN_CreateXmlReader reader, PFN_CreateXmlWriter writer,
                         PFN_CreateXmlWriterOutputWithEncodingName output) {
  g_reader.store(reader, std::memory_order_release);
  g_writer.store(writer, std::memory_order_release);
  g_output.store(output, std::memory_order_release);
}

WideArg::WideArg(const char* text) : WideArg(text, twxml::win32::ThreadCodePageIsUtf8()) {}

WideArg::WideArg(const char* text, bool utf8) {
  if (utf8) {
    fromUtf8(text);
    return;
  }
  if (text == nullptr) return;
  const size_t n = std::strlen(text) + 1;
  if (n > kMaxBytes) return;
  // n bytes never make more than n units.
  WCHAR* buffer = room(n);
  if (buffer == nullptr ||
      MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(n), buffer,
                          static_cast<int>(n)) == 0)
    return;
  set(buffer);
}

}  // namespace twxml::lite
