// The two engines as the commands use them: the streaming reader and writer
// of the loadable module (bound by name, as the library binds it), and the
// DOM document.
#pragma once

#include <string>

#include "twxml/platform/com.h"
#include "twxml/platform/msxml.h"
#include "twxml/platform/xmllite.h"

namespace twxml_cli {

// Holds one COM reference.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  void reset(T* p = nullptr) {
    if (p_) p_->Release();
    p_ = p;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Whether the streaming module can be loaded.
bool StreamingAvailable();
// The engine a command uses: the document engine when asked for or when the
// module is missing (said on standard error).
bool ChooseDom(const std::string& command, bool askedForDom);

// New streaming readers and writers; null with the reason.
Ref<IXmlReader> NewReader(std::string* error);
Ref<IXmlWriter> NewWriter(std::string* error);
// The writer output for a stream in the named encoding.
HRESULT NewWriterOutput(IUnknown* stream, const std::u16string& encoding, Ref<IUnknown>* out);

// Initialises COM on this thread (once), as the document engine needs.
HRESULT EnsureCom();
// A DOM document that keeps all white space; null with the reason.
Ref<IXMLDOMDocument> NewDomDocument(std::string* error);
// Loads the stream into the document; S_OK or the failure.
HRESULT LoadDom(IXMLDOMDocument* document, IStream* stream);

}  // namespace twxml_cli
