// Helpers for the reader tests: an in-memory stream with adjustable chunk
// size and failure injection, and a walker that records every node.
#pragma once

#include <string>

#include "../../support/mem_istream.h"
#include "twxml/platform/xmllite.h"
#include "twxml/platform/xmllite_internal.h"

namespace twxml::test {

// Serves data in reads of at most chunk bytes; reads at or past failAt fail.
// Seeking and status stay unsupported, as for a plain sequential source.
class TestStream final : public twtest::MemIStreamBase {
 public:
  explicit TestStream(std::string data, size_t chunk = SIZE_MAX, size_t failAt = SIZE_MAX)
      : data_(std::move(data)), chunk_(chunk), failAt_(failAt) {}
  HRESULT Read(void* buf, ULONG count, ULONG* read) override {
    if (read) *read = 0;
    if (pos_ >= failAt_) return STG_E_READFAULT;
    size_t n = std::min<size_t>({count, data_.size() - pos_, chunk_, failAt_ - pos_});
    std::memcpy(buf, data_.data() + pos_, n);
    pos_ += n;
    if (read) *read = ULONG(n);
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

 protected:
  size_t size() const override { return data_.size(); }

 private:
  std::string data_;
  size_t chunk_, failAt_;
};

// Code units to UTF-8 by hand: lone surrogates must come out too.
inline std::string toUtf8(const WCHAR* s, UINT n) {
  std::string o;
  for (UINT i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00u);
    int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    o += char(tail ? (0xFF00 >> (tail + 1)) | (c >> 6 * tail) : c);
    while (tail--) o += char(0x80 | ((c >> 6 * tail) & 0x3F));
  }
  return o;
}

struct ReaderPtr {
  IXmlReader* r = nullptr;
  ReaderPtr() { TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&r)); }
  ~ReaderPtr() { r->Release(); }
  IXmlReader* operator->() const { return r; }
  // Hands the reader a fresh stream over doc.
  void input(const std::string& doc, size_t chunk = SIZE_MAX, size_t failAt = SIZE_MAX) const {
    TestStream* s = new TestStream(doc, chunk, failAt);
    r->SetInput(s);
    s->Release();
  }
};

struct WalkResult {
  HRESULT hr = S_OK;  // S_FALSE when the document ended normally
  std::string trace;  // one line per node
  size_t nodes = 0;
  UINT errLine = 0, errCol = 0;
};

// Reads every node, recording type, depth, names, value and attributes
// (and, when asked, where the node starts).
inline WalkResult walk(IXmlReader* r, const std::string& doc, size_t chunk = SIZE_MAX,
                       bool record = true, bool positions = false) {
  WalkResult w;
  TestStream* s = new TestStream(doc, chunk);
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  const WCHAR* p;
  UINT n, depth = 0;
  auto get = [&](HRESULT (IXmlReader::*f)(const WCHAR**, UINT*)) {
    (r->*f)(&p, &n);
    return toUtf8(p, n);
  };
  while ((w.hr = r->Read(&t)) == S_OK) {
    ++w.nodes;
    if (!record) continue;
    r->GetDepth(&depth);
    w.trace += std::to_string(int(t)) + " " + std::to_string(depth) + " {" +
               get(&IXmlReader::GetQualifiedName) + "|" + get(&IXmlReader::GetNamespaceUri) + "}";
    if (t == XmlNodeType_Element && r->IsEmptyElement()) w.trace += "/";
    w.trace += " [" + get(&IXmlReader::GetValue) + "]";
    for (HRESULT a = r->MoveToFirstAttribute(); a == S_OK; a = r->MoveToNextAttribute()) {
      w.trace += " @" + get(&IXmlReader::GetQualifiedName);
      std::string ns = get(&IXmlReader::GetNamespaceUri);
      if (!ns.empty()) w.trace += "{" + ns + "}";
      w.trace += "=" + get(&IXmlReader::GetValue) + (r->IsDefault() ? "(d)" : "");
    }
    r->MoveToElement();
    if (positions) {
      UINT line = 0, col = 0;
      r->GetLineNumber(&line);
      r->GetLinePosition(&col);
      w.trace += " " + std::to_string(line) + ":" + std::to_string(col);
    }
    w.trace += "\n";
  }
  if (FAILED(w.hr)) {
    r->GetLineNumber(&w.errLine);
    r->GetLinePosition(&w.errCol);
  }
  return w;
}

inline WalkResult walk(const std::string& doc, size_t chunk = SIZE_MAX, bool record = true,
                       bool positions = false) {
  ReaderPtr r;
  return walk(r.r, doc, chunk, record, positions);
}

}  // namespace twxml::test
