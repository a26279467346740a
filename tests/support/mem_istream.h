// Minimal IStream objects over memory for benchmarks, fuzz harnesses and
// tests: one that reads a caller's bytes in place, one that collects what is
// written. Deliberately independent of the library's own streams, so a
// measurement or a failure points at the reader, writer or DOM alone.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "twxml/platform/com.h"

namespace twtest {

class MemIStreamBase : public IStream {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (!stat) return E_POINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size();
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) override {
    long long base = origin == STREAM_SEEK_SET   ? 0
                     : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos_)
                                                 : static_cast<long long>(size());
    long long p = base + distance.QuadPart;
    if (p < 0) return STG_E_INVALIDFUNCTION;
    pos_ = static_cast<size_t>(p);
    if (newPosition) newPosition->QuadPart = pos_;
    return S_OK;
  }

 protected:
  virtual ~MemIStreamBase() = default;
  virtual size_t size() const = 0;
  size_t pos_ = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

// Reads the bytes in place; they must outlive the stream. failAfter makes
// reads past that offset fail, to exercise stream failures.
class MemReadStream final : public MemIStreamBase {
 public:
  MemReadStream(const void* data, size_t size, size_t failAfter = SIZE_MAX)
      : data_(static_cast<const char*>(data)), size_(size), failAfter_(failAfter) {}
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    if (read) *read = 0;
    if (pos_ >= failAfter_) return STG_E_READFAULT;
    size_t n = pos_ >= size_ ? 0 : std::min<size_t>(std::min<size_t>(count, maxRead_), size_ - pos_);
    n = std::min(n, failAfter_ - pos_);
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  // Hands out at most n bytes a read, so a reader's refills fall anywhere.
  void limitReads(size_t n) { maxRead_ = n; }

 protected:
  size_t size() const override { return size_; }

 private:
  const char* data_;
  size_t size_;
  size_t failAfter_;
  size_t maxRead_ = SIZE_MAX;
};

// Collects everything written; text() is the bytes so far.
class MemWriteStream final : public MemIStreamBase {
 public:
  explicit MemWriteStream(size_t reserve = 0) { buf_.reserve(reserve); }
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    size_t n = pos_ >= buf_.size() ? 0 : std::min<size_t>(count, buf_.size() - pos_);
    std::memcpy(buffer, buf_.data() + pos_, n);
    pos_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    if (pos_ > buf_.size()) buf_.resize(pos_);
    size_t overlap = std::min<size_t>(count, buf_.size() - pos_);
    std::memcpy(buf_.data() + pos_, data, overlap);
    buf_.append(static_cast<const char*>(data) + overlap, count - overlap);
    pos_ += count;
    if (written) *written = count;
    return S_OK;
  }
  const std::string& text() const { return buf_; }
  void clear() {
    buf_.clear();
    pos_ = 0;
  }

 protected:
  size_t size() const override { return buf_.size(); }

 private:
  std::string buf_;
};

}  // namespace twtest
