// The growable in-memory stream the document exchanges bytes through.
#include <algorithm>
#include <cstring>

#include "dom_objects.h"

namespace twdom {

/* ---- MemoryStream ------------------------------------------------------- */

ULONG MemoryStream::AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
ULONG MemoryStream::Release() {
  ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (n == 0) delete this;
  return n;
}

HRESULT MemoryStream::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

bool MemoryStream::resize(size_t n) {
  size_t have = data_.size();
  if (n <= have) {
    data_.truncate(n);
    return true;
  }
  char* more = room(n - have);
  if (!more) return false;
  std::memset(more, 0, n - have);
  grew(n - have);
  return true;
}

HRESULT MemoryStream::Read(void* buffer, ULONG count, ULONG* read) {
  size_t n = pos_ < data_.size() ? std::min<size_t>(count, data_.size() - pos_) : 0;
  if (n) std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  if (read) *read = ULONG(n);
  return n == count ? S_OK : S_FALSE;
}

HRESULT MemoryStream::Write(const void* data, ULONG count, ULONG* written) {
  // Appending (a save) copies once, without zeroing the room first.
  if (pos_ == data_.size() && count) {
    char* more = room(count);
    if (more) {
      std::memcpy(more, data, count);
      grew(count);
      pos_ += count;
      if (written) *written = count;
      return S_OK;
    }
  }
  if (pos_ + count > data_.size() && !resize(pos_ + count)) {
    if (written) *written = 0;
    return STG_E_MEDIUMFULL;
  }
  if (count) std::memcpy(data_.data() + pos_, data, count);
  pos_ += count;
  if (written) *written = count;
  return S_OK;
}

HRESULT MemoryStream::Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* newPosition) {
  int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? int64_t(pos_) : int64_t(data_.size());
  if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
  int64_t p = base + distance.QuadPart;
  if (p < 0) return STG_E_INVALIDFUNCTION;
  pos_ = size_t(p);
  if (newPosition) newPosition->QuadPart = uint64_t(p);
  return S_OK;
}

HRESULT MemoryStream::SetSize(ULARGE_INTEGER newSize) {
  return resize(size_t(newSize.QuadPart)) ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT MemoryStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_NOTIMPL; }
HRESULT MemoryStream::Commit(DWORD) { return S_OK; }
HRESULT MemoryStream::Revert() { return S_OK; }
HRESULT MemoryStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
HRESULT MemoryStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT MemoryStream::Stat(STATSTG* stat, DWORD) {
  if (!stat) return STG_E_INVALIDPOINTER;
  std::memset(stat, 0, sizeof(*stat));
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = data_.size();
  return S_OK;
}

HRESULT MemoryStream::Clone(IStream** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

}  // namespace twdom
