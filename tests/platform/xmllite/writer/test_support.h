// Test helpers: a stream that collects the output (optionally failing part
// way) and a writer over one, released at the end of the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mem_istream.h"
#include "twxml/platform/xmllite.h"

namespace twxml::xmlwriter::test {

// A stream that collects what is written; failAfter: total bytes accepted
// before every Write fails with failure.
class StringStream final : public twtest::MemIStreamBase {
 public:
  explicit StringStream(size_t failAfter = SIZE_MAX, HRESULT failure = STG_E_MEDIUMFULL,
                        bool sequentialOnly = false)
      : failAfter_(failAfter), failure_(failure), sequentialOnly_(sequentialOnly) {}
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (sequentialOnly_ && iid == IID_IStream) return *out = nullptr, E_NOINTERFACE;
    return MemIStreamBase::QueryInterface(iid, out);
  }
  HRESULT Read(void*, ULONG, ULONG* read) override { return (read ? *read = 0 : 0), S_FALSE; }
  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    ++writes_;
    size_t part = data_.size() + count > failAfter_ ? failAfter_ - data_.size() : count;
    data_.append(static_cast<const char*>(data), part);
    if (written) *written = part == count ? count : 0;
    return part == count ? S_OK : failure_;
  }
  const std::string& data() const { return data_; }
  int writes() const { return writes_; }

 protected:
  size_t size() const override { return data_.size(); }

 private:
  std::string data_;
  size_t failAfter_;
  HRESULT failure_;
  bool sequentialOnly_;
  int writes_ = 0;
};

// A writer over a collecting stream (optionally through an encoding).
class WriterFixture {
 public:
  explicit WriterFixture(const char16_t* encoding = nullptr, StringStream* stream = nullptr)
      : stream_(stream ? stream : new StringStream()) {
    EXPECT_EQ(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&w_), nullptr), S_OK);
    IUnknown* out = stream_;
    if (encoding) { EXPECT_EQ(CreateXmlWriterOutputWithEncodingName(stream_, nullptr, encoding, &out), S_OK); }
    EXPECT_EQ(w_->SetOutput(out), S_OK);
    if (encoding) out->Release();
  }
  ~WriterFixture() { w_->Release(), stream_->Release(); }
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
