// Internal helpers of the document face: call-local text conversions, a
// scoped COM reference and the error information taken for a refusal.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include "twxml/platform/com.h"
#include "twxml/platform/win32.h"

namespace twxml_dom {

// Longest text (in units, terminator included) that is converted at all.
inline constexpr size_t kMaxConvertUnits = 0x3FFFFFFF;

// A buffer that lives for one call: short texts stay on the stack, long ones
// go to the heap. Reserve answers false when the heap refuses.
template <typename T, size_t N>
class LocalBuffer {
 public:
  LocalBuffer() = default;
  LocalBuffer(const LocalBuffer&) = delete;
  LocalBuffer& operator=(const LocalBuffer&) = delete;

  bool Reserve(size_t count) {
    if (count <= N) {
      data_ = stack_;
    } else {
      heap_.reset(new (std::nothrow) T[count]);
      data_ = heap_.get();
    }
    return data_ != nullptr;
  }
  T* get() const { return data_; }

 private:
  T stack_[N];
  std::unique_ptr<T[]> heap_;
  T* data_ = nullptr;
};

// Narrow text (thread code page) as wide text for the duration of a call.
// Null for a null text, a text of 0x3FFFFFFF bytes or more, and a refused
// conversion.
class WideText {
 public:
  explicit WideText(const char* text);
  WCHAR* get() const { return ok_ ? buffer_.get() : nullptr; }

 private:
  LocalBuffer<WCHAR, 256> buffer_;
  bool ok_ = false;
};

// Wide text as narrow text (thread code page) for the duration of a call.
// Null for a null text, a text of 0x3FFFFFFF units or more, and a refused
// conversion. The buffer is sized by the conversion itself: one UTF-16 unit
// may take three bytes when the code page is UTF-8.
class NarrowText {
 public:
  explicit NarrowText(const WCHAR* text);
  char* get() const { return ok_ ? buffer_.get() : nullptr; }

 private:
  static constexpr size_t kShortUnits = 128;
  LocalBuffer<char, kShortUnits * 4> buffer_;
  bool ok_ = false;
};

// Narrow text as a new BSTR, freed when the object goes. Null for a null
// text, a refused conversion or a failed allocation.
class BstrText {
 public:
  explicit BstrText(const char* text);
  ~BstrText();
  BstrText(const BstrText&) = delete;
  BstrText& operator=(const BstrText&) = delete;
  BSTR get() const { return bstr_; }

 private:
  static constexpr size_t kShortBytes = 256;
  BSTR bstr_ = nullptr;
};

// One counted reference, given back when the holder goes.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Out parameter for calls that hand a reference over.
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  void reset() {
    if (p_) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }

 private:
  T* p_ = nullptr;
};

// The error information the thread holds for a failed call on object, when
// object says through ISupportErrorInfo that iid reports it. requireSOk
// demands S_OK from InterfaceSupportsErrorInfo; otherwise any success counts.
// The reference (or null) belongs to the caller.
IErrorInfo* TakeErrorInfo(IUnknown* object, REFIID iid, bool requireSOk);

}  // namespace twxml_dom
