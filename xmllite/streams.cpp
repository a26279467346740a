// The two byte streams that feed the streaming reader and writer: one over
// memory (a caller's text, or a growable builder) and one over an open file.
// Reference counts are atomic because the module's objects hold them.
#include <atomic>
#include <cstring>
#include <new>

#include "lite_internal.h"
#include "twxml/platform/com_internal.h"

namespace {

// Shared by both streams: identity, reference counting and the operations
// neither supports.
class StreamBase : public IStream {
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IStream || iid == IID_ISequentialStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return E_NOTIMPL; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

// A writing memory stream also lends its builder's room to a writer that
// composes into it (ITwByteTarget), which saves copying every byte once.
class MemStream final : public StreamBase, public ITwByteTarget {
 public:
  MemStream(const char* source, uint32_t sourceLength, StringBuilder* sink)
      : source_(source), readPos_(0), sourceLength_(sourceLength), sink_(sink), refCount_(1) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (out != nullptr && iid == IID_TwByteTarget && sink_ != nullptr) {
      *out = static_cast<ITwByteTarget*>(this);
      AddRef();
      return S_OK;
    }
    return StreamBase::QueryInterface(iid, out);
  }

  char* ReserveRoom(size_t count) override {
    if (sink_ == nullptr || count > 0xFFFFFFFFu) return nullptr;
    return sink_->Reserve(static_cast<unsigned int>(count));
  }
  void CommitRoom(size_t count) override { sink_->Commit(static_cast<unsigned int>(count)); }

  ULONG AddRef() override { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
      // Neither the caller's text nor the builder belongs to the stream.
      source_ = nullptr;
      sink_ = nullptr;
      delete this;
    }
    return count;
  }

  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    if (source_ == nullptr) return E_FAIL;
    uint32_t n = sourceLength_ - readPos_;
    if (count < n) n = count;
    if (n > 0) std::memcpy(buffer, source_ + readPos_, n);
    readPos_ += n;
    if (read != nullptr) *read = n;
    return S_OK;  // short and empty reads too: the stream never says S_FALSE
  }

  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    if (sink_ == nullptr) return E_FAIL;
    // A builder out of memory must not pass for a complete document.
    if (count > 0 && sink_->Append(data, count) != TWXML_OK) {
      if (written != nullptr) *written = 0;
      return E_OUTOFMEMORY;
    }
    if (written != nullptr) *written = count;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }

  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    stat->cbSize.u.HighPart = 0;
    stat->cbSize.u.LowPart = source_ != nullptr ? sourceLength_ : sink_->GetLength();
    return S_OK;
  }

 private:
  const char* source_;
  uint32_t readPos_;
  uint32_t sourceLength_;
  StringBuilder* sink_;
  std::atomic<uint32_t> refCount_;
};

HRESULT LastErrorResult() { return HRESULT_FROM_WIN32(GetLastError()); }

class FileStream final : public StreamBase {
 public:
  explicit FileStream(HANDLE file) : file_(file), refCount_(1) {}

  ULONG AddRef() override { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) {
      if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
      delete this;
    }
    return count;
  }

  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    return ReadFile(file_, buffer, count, read, nullptr) ? S_OK : LastErrorResult();
  }

  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    return WriteFile(file_, data, count, written, nullptr) ? S_OK : LastErrorResult();
  }

  HRESULT Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) override {
    DWORD method;
    switch (origin) {
      case STREAM_SEEK_SET: method = FILE_BEGIN; break;
      case STREAM_SEEK_CUR: method = FILE_CURRENT; break;
      case STREAM_SEEK_END: method = FILE_END; break;
      default: return STG_E_INVALIDFUNCTION;
    }
    // Both position types are 64-bit counts laid out alike.
    return SetFilePointerEx(file_, distance, reinterpret_cast<PLARGE_INTEGER>(newPosition),
                            method)
               ? S_OK
               : LastErrorResult();
  }

  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    return GetFileSizeEx(file_, reinterpret_cast<PLARGE_INTEGER>(&stat->cbSize))
               ? S_OK
               : LastErrorResult();
  }

 private:
  HANDLE file_;
  std::atomic<uint32_t> refCount_;
};

}  // namespace

namespace twxml::lite {

IStream* NewReadingMemStream(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = std::strlen(text);
  // The zero byte is the last byte handed out; the count must fit 32 bits.
  if (length >= 0xFFFFFFFFu) return nullptr;
  return new (std::nothrow) MemStream(text, static_cast<uint32_t>(length + 1), nullptr);
}

IStream* NewWritingMemStream(StringBuilder* sink) {
  if (sink == nullptr) return nullptr;
  return new (std::nothrow) MemStream(nullptr, 0, sink);
}

HRESULT OpenFileStream(const char* path, bool forWriting, IStream** out) {
  *out = nullptr;
  if (path == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
  HANDLE file = CreateFileA(path, forWriting ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                            nullptr, forWriting ? CREATE_ALWAYS : OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastErrorResult();
  IStream* stream = new (std::nothrow) FileStream(file);
  if (stream == nullptr) {
    CloseHandle(file);
    return E_OUTOFMEMORY;
  }
  *out = stream;
  return S_OK;
}

}  // namespace twxml::lite
