// The serialiser's staging buffer: bytes are composed here and handed to the
// encoder in large blocks. It always keeps some spare bytes past what is
// asked for, so the many short pieces of markup (names, quotes, brackets)
// are stored with one room check and a copy without a call, and a vector
// kernel may write a whole block past the end of what it keeps.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>

#include "twxml/platform/short_copy.h"

namespace twdom {

class SaveBuffer {
 public:
  // Spare bytes past any room asked for: a vector store may run into them.
  static constexpr size_t kSlack = 32;

  SaveBuffer() = default;
  SaveBuffer(const SaveBuffer&) = delete;
  SaveBuffer& operator=(const SaveBuffer&) = delete;

  const char* data() const { return base_.get(); }
  size_t size() const { return static_cast<size_t>(p_ - base_.get()); }
  bool empty() const { return p_ == base_.get(); }
  void clear() { p_ = base_.get(); }

  // Room for n bytes (and the slack) at the end; throws std::bad_alloc.
  char* room(size_t n) {
    if (static_cast<size_t>(lim_ - p_) < n + kSlack) grow(n);
    return p_;
  }
  // The first n bytes of the room were written.
  void advance(size_t n) { p_ += n; }

  void put(char c) {
    room(1);
    *p_++ = c;
  }
  // String literals: their length is known here, so the copy is inlined.
  template <size_t N>
  void put(const char (&text)[N]) {
    std::memcpy(room(N - 1), text, N - 1);
    p_ += N - 1;
  }
  void put(std::string_view s) {
    twxml::CopyShort(room(s.size()), s.data(), s.size());
    p_ += s.size();
  }

 private:
  void grow(size_t n) {
    const size_t used = size();
    size_t capacity = static_cast<size_t>(lim_ - base_.get());
    size_t want = used + n + kSlack;
    if (want < capacity * 2) want = capacity * 2;
    if (want < kFirst) want = kFirst;
    std::unique_ptr<char[]> bigger(new char[want]);
    if (used != 0) std::memcpy(bigger.get(), base_.get(), used);
    base_ = std::move(bigger);
    p_ = base_.get() + used;
    lim_ = base_.get() + want;
  }

  static constexpr size_t kFirst = 80 * 1024;  // above the encoder's flush mark

  std::unique_ptr<char[]> base_;
  char* p_ = nullptr;
  char* lim_ = nullptr;
};

}  // namespace twdom
