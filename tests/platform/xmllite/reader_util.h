// Helpers for the reader tests: an in-memory stream with adjustable chunk
// size and failure injection, and a walker that records every node.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "../../support/mem_istream.h"
#include "twxml/platform/xmllite.h"

namespace twxml::test {

// Serves data in reads of at most chunk bytes; reads at or past failAt fail.
// Seeking and status stay unsupported, as for a plain sequential source.
class TestStream final : public twtest::MemIStreamBase {
 public:
  explicit TestStream(std::string data, size_t chunk = SIZE_MAX, size_t failAt = SIZE_MAX)
      : data_(std::move(data)), chunk_(chunk), failAt_(failAt) {}

  HRESULT Read(void* buf, ULONG count, ULONG* read) override {
    if (pos_ >= failAt_) {
      if (read) *read = 0;
      return STG_E_READFAULT;
    }
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
  size_t chunk_;
  size_t failAt_;
};

inline std::string toUtf8(const WCHAR* s, UINT n) {
  std::string o;
  for (UINT i = 0; i < n; ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(s[i + 1]) - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      o += char(c);
    } else if (c < 0x800) {
      o += char(0xC0 | (c >> 6));
      o += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      o += char(0xE0 | (c >> 12));
      o += char(0x80 | ((c >> 6) & 0x3F));
      o += char(0x80 | (c & 0x3F));
    } else {
      o += char(0xF0 | (c >> 18));
      o += char(0x80 | ((c >> 12) & 0x3F));
      o += char(0x80 | ((c >> 6) & 0x3F));
      o += char(0x80 | (c & 0x3F));
    }
  }
  return o;
}

struct ReaderPtr {
  IXmlReader* r = nullptr;
  ReaderPtr() { TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&r)); }
  ~ReaderPtr() {
    if (r) r->Release();
  }
  IXmlReader* operator->() const { return r; }
  ReaderPtr(const ReaderPtr&) = delete;
  ReaderPtr& operator=(const ReaderPtr&) = delete;
};

struct WalkResult {
  HRESULT hr = S_OK;  // S_FALSE when the document ended normally
  std::string trace;  // one line per node
  size_t nodes = 0;
  UINT errLine = 0, errCol = 0;
};

// Reads every node, recording type, names, value and attributes.
inline WalkResult walk(IXmlReader* r, const std::string& doc, size_t chunk = SIZE_MAX,
                       bool record = true) {
  WalkResult w;
  TestStream* s = new TestStream(doc, chunk);
  r->SetInput(s);
  s->Release();
  XmlNodeType t;
  for (;;) {
    HRESULT hr = r->Read(&t);
    if (hr != S_OK) {
      w.hr = hr;
      if (FAILED(hr)) {
        r->GetLineNumber(&w.errLine);
        r->GetLinePosition(&w.errCol);
      }
      break;
    }
    ++w.nodes;
    if (!record) continue;
    const WCHAR* p;
    UINT n;
    UINT depth = 0;
    r->GetDepth(&depth);
    w.trace += std::to_string(int(t)) + " " + std::to_string(depth);
    r->GetQualifiedName(&p, &n);
    w.trace += " {" + toUtf8(p, n);
    r->GetNamespaceUri(&p, &n);
    w.trace += "|" + toUtf8(p, n) + "}";
    if (t == XmlNodeType_Element && r->IsEmptyElement()) w.trace += "/";
    r->GetValue(&p, &n);
    w.trace += " [" + toUtf8(p, n) + "]";
    if (r->MoveToFirstAttribute() == S_OK) {
      do {
        r->GetQualifiedName(&p, &n);
        w.trace += " @" + toUtf8(p, n);
        r->GetNamespaceUri(&p, &n);
        if (n) w.trace += "{" + toUtf8(p, n) + "}";
        r->GetValue(&p, &n);
        w.trace += "=" + toUtf8(p, n);
        if (r->IsDefault()) w.trace += "(d)";
      } while (r->MoveToNextAttribute() == S_OK);
      r->MoveToElement();
    }
    w.trace += "\n";
  }
  return w;
}

inline WalkResult walk(const std::string& doc, size_t chunk = SIZE_MAX, bool record = true) {
  ReaderPtr r;
  return walk(r.r, doc, chunk, record);
}

}  // namespace twxml::test
