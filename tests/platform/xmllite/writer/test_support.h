// Test helpers: an IStream over a std::string (optionally failing after a
// number of bytes), and a writer fixture that hands out the text written.
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
    if (iid == IID_IUnknown || iid == IID_ISequentialStream ||
        (iid == IID_IStream && !sequentialOnly_)) {
      AddRef();
      *out = static_cast<IStream*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT Read(void*, ULONG, ULONG* read) override {
    if (read) *read = 0;
    return S_FALSE;
  }
  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    ++writes_;
    if (written) *written = 0;
    if (data_.size() + count > failAfter_) {
      size_t part = failAfter_ - data_.size();
      data_.append(static_cast<const char*>(data), part);
      return failure_;
    }
    data_.append(static_cast<const char*>(data), count);
    if (written) *written = count;
    return S_OK;
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
  void setFailAfter(size_t n) { failAfter_ = n; }

 private:
  std::atomic<ULONG> refs_{1};
  std::string data_;
  size_t failAfter_;
  HRESULT failure_;
  bool sequentialOnly_;
  int writes_ = 0;
};

// A writer over a StringStream, released at the end of the test.
class WriterFixture {
 public:
  explicit WriterFixture(const char16_t* encoding = nullptr, StringStream* stream = nullptr)
      : stream_(stream ? stream : new StringStream()) {
    EXPECT_EQ(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&w_), nullptr), S_OK);
    if (encoding) {
      IUnknown* out = nullptr;
      EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(stream_, nullptr, encoding, &out), S_OK);
      EXPECT_EQ(w_->SetOutput(out), S_OK);
      out->Release();
    } else {
      EXPECT_EQ(w_->SetOutput(stream_), S_OK);
    }
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
  // Everything written so far, after a Flush.
  std::string text() {
    EXPECT_EQ(w_->Flush(), S_OK);
    return stream_->data();
  }

 private:
  StringStream* stream_;
  IXmlWriter* w_ = nullptr;
};

}  // namespace twxml::xmlwriter::test
