// Test doubles for the byte objects the document loads from and saves to: a
// memory stream that can fail part way, and a persistable object that hands
// over and receives bytes the way the document layer's adapter does.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "twxml/platform/com.h"

namespace domtest {

class TestStream final : public IStream {
 public:
  explicit TestStream(std::string data = std::string()) : data_(std::move(data)) {}
  std::string data_;
  size_t pos_ = 0;
  size_t failWriteAfter = SIZE_MAX;  // bytes accepted before writes fail
  size_t failReadAfter = SIZE_MAX;   // bytes delivered before reads fail
  size_t maxChunk = SIZE_MAX;        // largest read answered at once
  bool sequentialOnly = false;       // answer ISequentialStream but not IStream
  ULONG refs = 1;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || (iid == IID_IStream && !sequentialOnly)) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }  // lives on the test's stack
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    if (pos_ >= failReadAfter) return STG_E_READFAULT;
    size_t n = std::min({size_t(count), data_.size() - std::min(pos_, data_.size()), maxChunk, failReadAfter - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    if (read) *read = ULONG(n);
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void* p, ULONG count, ULONG* written) override {
    if (written) *written = 0;
    if (data_.size() + count > failWriteAfter) return STG_E_MEDIUMFULL;
    data_.append(static_cast<const char*>(p), count);
    if (written) *written = count;
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER d, DWORD origin, ULARGE_INTEGER* np) override {
    int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? int64_t(pos_) : int64_t(data_.size());
    pos_ = size_t(base + d.QuadPart);
    if (np) np->QuadPart = pos_;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* s, DWORD) override {
    std::memset(s, 0, sizeof(*s));
    s->cbSize.QuadPart = data_.size();
    return S_OK;
  }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

/* Answers only IUnknown and IPersistStream: Save copies its bytes into the
   document's stream, Load takes the document's bytes through Stat and Read. */
class TestPersist final : public IPersistStream {
 public:
  std::string bytes;
  bool failSave = false;
  ULONG refs = 1;

  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersistStream) {
      *out = static_cast<IPersistStream*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT IsDirty() override { return S_OK; }
  HRESULT Load(IStream* s) override {
    STATSTG st;
    if (FAILED(s->Stat(&st, STATFLAG_NONAME))) return E_FAIL;
    bytes.assign(size_t(st.cbSize.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
      ULONG n = ULONG(std::min<size_t>(1024, bytes.size() - done)), got = 0;
      if (FAILED(s->Read(bytes.data() + done, n, &got)) || got != n) return E_FAIL;
      done += n;
    }
    return S_OK;
  }
  HRESULT Save(IStream* s, BOOL) override {
    if (failSave) return E_FAIL;
    for (size_t done = 0; done < bytes.size();) {
      ULONG n = ULONG(std::min<size_t>(1024, bytes.size() - done)), put = 0;
      if (FAILED(s->Write(bytes.data() + done, n, &put)) || put != n) return E_FAIL;
      done += n;
    }
    return S_OK;
  }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    size->QuadPart = bytes.size();
    return S_OK;
  }
};

}  // namespace domtest
