// KxPersistToStream: lets the DOM document load from and save to a KxStream.
// The DOM pulls a document out of a persistable object by asking it to save
// itself into the DOM's stream, and pushes one into it by asking it to load
// from the DOM's stream; so Save reads the KxStream and Load writes it.
// Internal to the library.
#pragma once

#include "twxml/kxstream.h"
#include "twxml/platform/com.h"

class KxPersistToStream : public IPersistStream {
 public:
  // Bytes moved per ReadF/WriteF call and per IStream Read/Write call.
  static constexpr ULONG kChunkSize = 1024;

  explicit KxPersistToStream(KxStream* stream);

  HRESULT QueryInterface(REFIID iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetClassID(CLSID* classId) override;
  HRESULT IsDirty() override;
  HRESULT Load(IStream* source) override;
  HRESULT Save(IStream* target, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  // Leaves the stream alone: it belongs to whoever made it.
  virtual ~KxPersistToStream();

  KxPersistToStream(const KxPersistToStream&) = delete;
  KxPersistToStream& operator=(const KxPersistToStream&) = delete;

 private:
  KxStream* stream;
  ULONG refCount;
};
