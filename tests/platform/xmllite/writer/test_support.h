// Test helpers: an IStream over a std::string (optionally failing after a
// number of bytes) and a writer over one, released at the end of the test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "twxml/platform/xmllite.h"

namespace twxml::xmlwriter::test {

class StringStream : public IStream {
 public:
  // failAfter: total bytes accepted before every Write fails with failure.
  explicit StringStream(size_t failAfter = SIZE_MAX, HRESULT failure = STG_E_MEDIUMFULL,
                        bool sequentialOnly = false)
      : failAfter_(failAfter), failure_(failure), sequentialOnly_(sequentialOnly) {}
  virtual ~StringStream() = default;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    bool ok = iid == IID_IUnknown || iid == IID_ISequentialStream ||
              (iid == IID_IStream && !sequentialOnly_);
    *out = ok ? static_cast<IStream*>(this) : nullptr;
    if (ok) AddRef();
    return ok ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Read(void*, ULONG, ULONG* read) override { return (read ? *read = 0 : 0), S_FALSE; }
  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    ++writes_;
    size_t part = data_.size() + count > failAfter_ ? failAfter_ - data_.size() : count;
    data_.append(static_cast<const char*>(data), part);
    if (written) *written = part == count ? count : 0;
    return part == count ? S_OK : failure_;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

  const std::string& data() const { return data_; }
  int writes() const { return writes_; }
  ULONG refs() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{1};
  std::string data_;
  size_t failAfter_;
  HRESULT failure_;
  bool sequentialOnly_;
  int writes_ = 0;
};

class WriterFixture {
 public:
  explicit WriterFixture(const char16_t* encoding = nullptr, StringStream* stream = nullptr)
      : stream_(stream ? stream : new StringStream()) {
    EXPECT_EQ(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&w_), nullptr), S_OK);
    IUnknown* out = stream_;
    if (encoding) {
      EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(stream_, nullptr, encoding, &out), S_OK);
    }
    EXPECT_EQ(w_->SetOutput(out), S_OK);
    if (encoding) out->Release();
  }
  ~WriterFixture() {
    if (w_) w_->Release();
    stream_->Release();
  }
  WriterFixture(const WriterFixture&) = delete;
  WriterFixture& operator=(const WriterFixture&) = delete;
  IXmlWriter* operator->() { return w_; }
  IXmlWriter* get() { return w_; }
  StringStream* stream() { return stream_; }
  std::string text() {  // everything written so far, after a Flush
    EXPECT_EQ(w_->Flush(), S_OK);
    return stream_->data();
  }

 private:
  StringStream* stream_;
  IXmlWriter* w_ = nullptr;
};

}  // namespace twxml::xmlwriter::test
