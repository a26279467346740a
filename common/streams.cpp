// KxStream's base behaviour and the kernel's file and memory streams.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "mem_append.h"
#include "twxml/kernel.h"
#include "twxml/platform/win32_internal.h"

// ---- KxStream base --------------------------------------------------------

KxStream::~KxStream() {}

char* KxStream::GetMemP() { return nullptr; }

unsigned int KxStream::GetContentSizeUl() { return GetSizeUl(); }

char* KxStream::AllocMemP(unsigned int* size) {
  const char* mem = GetMemP();
  if (mem == nullptr) return nullptr;
  const unsigned int n = GetSizeUl();
  char* copy = static_cast<char*>(MemAllocP(static_cast<size_t>(n) + 1));
  if (copy == nullptr) return nullptr;
  if (n) std::memcpy(copy, mem, n);
  copy[n] = 0;
  if (size) *size = n;
  return copy;
}

namespace {

// ---- file stream ----------------------------------------------------------

class FileStream final : public KxStream {
 public:
  FileStream(HANDLE file, bool writer) : file_(file), writer_(writer) {}
  ~FileStream() override { CloseHandle(file_); }

  int WriteF(void* bytes, unsigned int count) override {
    if (!writer_) return TWXML_E_NOTFOUND;
    if (count == 0) return TWXML_OK;
    if (bytes == nullptr) return TWXML_E_NOTFOUND;
    DWORD done = 0;
    const BOOL ok = WriteFile(file_, bytes, count, &done, nullptr);
    written_ += done;
    return ok && done == count ? TWXML_OK : TWXML_E_NOTFOUND;
  }

  int ReadF(void* buffer, unsigned int count) override {
    if (writer_) return TWXML_E_NOTFOUND;
    if (count == 0) return TWXML_OK;
    if (buffer == nullptr) return TWXML_E_NOTFOUND;
    DWORD done = 0;
    if (!ReadFile(file_, buffer, count, &done, nullptr)) return TWXML_E_NOTFOUND;
    return done == count ? TWXML_OK : TWXML_E_EOF;
  }

  // A reader holds the file's bytes, a writer those it has written.
  unsigned int GetSizeUl() override {
    if (writer_) return written_ > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(written_);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_, &size)) return 0;
    return size.QuadPart > UINT_MAX ? UINT_MAX : static_cast<unsigned int>(size.QuadPart);
  }

  int RewindF() override {
    if (writer_) return TWXML_E_NOTFOUND;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    return SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) ? TWXML_OK : TWXML_E_NOTFOUND;
  }

 private:
  HANDLE file_;
  bool writer_;
  uint64_t written_ = 0;
};

// ---- memory stream --------------------------------------------------------

// Bytes [0, size_) are the content; reads move pos_ through them, writes
// append (growable streams only).
class MemStream final : public KxStream {
 public:
  MemStream(char* data, unsigned int size, unsigned int capacity, bool growable, bool owns)
      : data_(data), size_(size), capacity_(capacity), growable_(growable), owns_(owns) {}
  ~MemStream() override {
    if (owns_) MemFreeF(data_);
  }

  int WriteF(void* bytes, unsigned int count) override {
    if (count == 0) return TWXML_OK;
    if (bytes == nullptr || !growable_) return TWXML_E_NOTFOUND;
    const int status = Reserve(count, false);
    if (status != TWXML_OK) return status;
    std::memmove(data_ + size_, bytes, count);
    size_ += count;
    return TWXML_OK;
  }

  // Capacity for count more bytes: doubling for WriteF's many small
  // appends, exactly that much when the producer said how much comes.
  int Reserve(unsigned int count, bool exact) {
    const uint64_t need = static_cast<uint64_t>(size_) + count;
    if (need > UINT_MAX) return TWXML_E_ALLOC;
    if (need <= capacity_) return TWXML_OK;
    uint64_t grown = capacity_ < 256 || exact ? 256 : static_cast<uint64_t>(capacity_) * 2;
    if (grown < need) grown = need;
    if (grown > UINT_MAX) grown = UINT_MAX;
    // A new kernel block (realloc would move the block out of the kernel's
    // registry, and MemFreeF would then refuse it); the caller's bytes are
    // never resized or freed.
    char* bigger = static_cast<char*>(MemAllocP(static_cast<size_t>(grown)));
    if (bigger == nullptr) return TWXML_E_ALLOC;
    if (size_) std::memcpy(bigger, data_, size_);
    if (owns_) MemFreeF(data_);
    data_ = bigger;
    owns_ = true;
    capacity_ = static_cast<unsigned int>(grown);
    return TWXML_OK;
  }

  char* Room(unsigned int count) {
    if (!growable_ || Reserve(count, true) != TWXML_OK) return nullptr;
    return data_ + size_;
  }
  void Commit(unsigned int count) { size_ += count; }

  int ReadF(void* buffer, unsigned int count) override {
    if (count == 0) return TWXML_OK;
    if (buffer == nullptr) return TWXML_E_NOTFOUND;
    const unsigned int left = size_ - pos_;
    const unsigned int n = count < left ? count : left;
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n == count ? TWXML_OK : TWXML_E_EOF;
  }

  unsigned int GetSizeUl() override { return size_; }

  int RewindF() override {
    pos_ = 0;
    return TWXML_OK;
  }

  char* GetMemP() override { return data_; }

 private:
  char* data_;
  unsigned int size_;
  unsigned int capacity_;
  unsigned int pos_ = 0;
  bool growable_;
  bool owns_;
};

}  // namespace

namespace twxml::kernel {

char* MemStreamRoom(KxStream* stream, unsigned int count) {
  auto* m = dynamic_cast<MemStream*>(stream);
  return m ? m->Room(count) : nullptr;
}

void MemStreamCommit(KxStream* stream, unsigned int count) {
  if (auto* m = dynamic_cast<MemStream*>(stream)) m->Commit(count);
}

}  // namespace twxml::kernel

extern "C" {

KxStream* StreamCreateFileStreamP(const char* path, int /*reserved1*/, int mode,
                                  int /*reserved2*/) {
  if (path == nullptr) return nullptr;
  HANDLE h;
  bool writer;
  if (mode == 0) {
    h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    writer = false;
  } else if (mode == 2) {
    h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    writer = true;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  KxStream* s = new (std::nothrow) FileStream(h, writer);
  if (s == nullptr) {
    CloseHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return s;
}

KxStream* StreamCreateMemStreamP(char* buffer, unsigned long size, const char* /*name*/,
                                 int growable, int ownsBuffer, int* status) {
  auto answer = [status](int code) {
    if (status) *status = code;
  };
  if (size > UINT_MAX) {
    answer(TWXML_E_CREATE);
    return nullptr;
  }
  char* data = buffer;
  unsigned int content = 0;
  unsigned int capacity = 0;
  bool owns = ownsBuffer != 0;
  if (buffer != nullptr) {
    content = static_cast<unsigned int>(size);  // reading the caller's bytes in place
    capacity = content;
  } else {
    if (!growable) {  // nothing to read and no room to write
      answer(TWXML_E_CREATE);
      return nullptr;
    }
    capacity = static_cast<unsigned int>(size);
    owns = true;
    data = static_cast<char*>(MemAllocP(capacity));
    if (data == nullptr) {
      answer(TWXML_E_ALLOC);
      return nullptr;
    }
  }
  KxStream* s = new (std::nothrow) MemStream(data, content, capacity, growable != 0, owns);
  if (s == nullptr) {
    if (buffer == nullptr) MemFreeF(data);
    answer(TWXML_E_ALLOC);
    return nullptr;
  }
  answer(TWXML_OK);
  return s;
}

}  // extern "C"
