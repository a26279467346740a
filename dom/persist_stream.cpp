// KxPersistToStream: a KxStream the DOM document loads from and saves to.
#include "persist_stream.h"

#include <algorithm>

#include "mem_append.h"

KxPersistToStream::KxPersistToStream(KxStream* stream) : stream(stream), refCount(1) {}

KxPersistToStream::~KxPersistToStream() {}

HRESULT KxPersistToStream::QueryInterface(REFIID iid, void** out) {
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IPersistStream) {
    *out = static_cast<IPersistStream*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

// Plain arithmetic: the adapter lives inside the one call that made it.
ULONG KxPersistToStream::AddRef() { return ++refCount; }

ULONG KxPersistToStream::Release() {
  if (--refCount == 0) {
    delete this;
    return 0;
  }
  return refCount;
}

HRESULT KxPersistToStream::GetClassID(CLSID*) { return E_NOTIMPL; }

// Always something to save: the adapter keeps no copy of its own.
HRESULT KxPersistToStream::IsDirty() { return S_OK; }

HRESULT KxPersistToStream::Load(IStream* source) {
  STATSTG stat = {};
  if (FAILED(source->Stat(&stat, STATFLAG_NONAME))) return E_FAIL;
  ULONG remaining = stat.cbSize.u.LowPart;
  if (remaining == 0) return S_OK;
  // A memory stream takes the document in one piece, read straight into it.
  if (char* room = twxml::kernel::MemStreamRoom(stream, remaining)) {
    ULONG got = 0;
    const HRESULT hr = source->Read(room, remaining, &got);
    if (FAILED(hr) || got != remaining) return E_FAIL;
    twxml::kernel::MemStreamCommit(stream, remaining);
    return S_OK;
  }
  BYTE chunk[kChunkSize];
  HRESULT status = S_OK;
  while (remaining != 0 && status == S_OK) {
    const ULONG n = std::min(remaining, kChunkSize);
    ULONG got = 0;
    const HRESULT hr = source->Read(chunk, n, &got);
    if (FAILED(hr) || got != n) {
      status = E_FAIL;
    } else if (stream->WriteF(chunk, n) != 0) {
      status = E_FAIL;
    }
    remaining -= n;
  }
  return status;
}

HRESULT KxPersistToStream::Save(IStream* target, BOOL) {
  ULONG remaining = stream->GetContentSizeUl();
  if (remaining == 0) return S_OK;
  BYTE chunk[kChunkSize];
  HRESULT status = S_OK;
  while (remaining != 0 && status == S_OK) {
    const ULONG n = std::min(remaining, kChunkSize);
    if (stream->ReadF(chunk, n) != 0) {
      status = E_FAIL;
    } else {
      ULONG written = 0;
      const HRESULT hr = target->Write(chunk, n, &written);
      if (FAILED(hr) || written != n) status = E_FAIL;
    }
    remaining -= n;
  }
  return status;
}

HRESULT KxPersistToStream::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_FAIL;
  size->u.LowPart = stream->GetSizeUl();
  size->u.HighPart = 0;
  return S_OK;
}
