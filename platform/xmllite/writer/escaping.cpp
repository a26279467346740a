// The composition buffer and escaping: text, values and names are checked,
// escaped and encoded into the buffer in one pass.
#include "xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "output.h"
#include "writer_text.h"

namespace twxml::xmlwriter {

using namespace detail;

// ---- Output primitives ------------------------------------------------------

HRESULT XmlWriter::ready() const {
  if (!stream_) return E_UNEXPECTED;
  return broken_;
}

HRESULT XmlWriter::flushBuffer() {
  if (pos_ == 0) return S_OK;
  HRESULT hr = S_OK;
  if (base_ != buf_.get())
    target_->CommitRoom(pos_);
  else
    hr = sink_.write(stream_, base_, pos_, bom_);
  pos_ = mark_ = 0;
  flushedInCall_ = true;
  if (FAILED(hr)) {
    broken_ = hr;
  } else if (target_ != nullptr) {
    composeIntoTarget();
  }
  return hr;
}

void XmlWriter::composeIntoTarget() {
  // Without room there (memory ran out), the own buffer goes on, and the
  // stream's Write reports what it can take at the next flush.
  char* room = target_->ReserveRoom(kBufferSize + kSlack);
  base_ = room != nullptr ? room : buf_.get();
}

// A call that composes at most `worst` bytes gets them in one piece, so that
// a refusal found half way can be taken back. Calls bigger than the buffer
// are streamed in pieces; their callers check the text first.
HRESULT XmlWriter::beginCall(size_t worst, bool* chunked) {
  *chunked = worst > kBufferSize;
  if (!*chunked && pos_ + worst > kBufferSize) {
    HRESULT hr = flushBuffer();
    if (FAILED(hr)) return hr;
  }
  flushedInCall_ = false;
  mark_ = pos_;
  return S_OK;
}

HRESULT XmlWriter::fail(HRESULT hr) {
  if (FAILED(broken_)) return broken_;
  if (!flushedInCall_) {
    pos_ = mark_;
  } else {
    // Part of the call already reached the stream: nothing more may follow.
    broken_ = hr;
  }
  return hr;
}

HRESULT XmlWriter::putAsciiSlow(const char* s, size_t n) {
  while (n > 0) {
    const size_t space = this->space();
    if (space == 0) {
      HRESULT hr = flushBuffer();
      if (FAILED(hr)) return hr;
      continue;
    }
    size_t k = std::min(space, n);
    std::memcpy(base_ + pos_, s, k);
    pos_ += k;
    s += k;
    n -= k;
  }
  return S_OK;
}

HRESULT XmlWriter::putIndent(size_t depth) {
  static const char kSpaces[] = "\n                                                               ";
  HRESULT hr = putAscii(kSpaces, 1);
  size_t n = depth * 2;
  while (SUCCEEDED(hr) && n > 0) {
    size_t k = std::min(n, sizeof kSpaces - 2);
    hr = putAscii(kSpaces + 1, k);
    n -= k;
  }
  return hr;
}

HRESULT XmlWriter::putCharRef(uint32_t cp) {
  HRESULT hr = ensure(16);
  if (FAILED(hr)) return hr;
  char* p = putRef(base_ + pos_, cp);
  pos_ = static_cast<size_t>(p - base_);
  return S_OK;
}

// Escapes (per M), checks and encodes s[0..n) at p in one pass; the caller
// has made room for kMaxPerUnit bytes per unit. A surrogate pair (a UTF-8
// sequence) must not be cut by n. Runs of plain ASCII go through the
// escaping scan's kernel. Returns the end of the output, or null with *hr set.
template <XmlWriter::Esc M, typename C>
inline char* XmlWriter::encodeText(const C* s, size_t n, char* p, HRESULT* hr) {
  const uint8_t* table = classes_[static_cast<int>(M)];
  size_t i = 0;
  // One character that is not plain ASCII (or any character, for encodings
  // that lack some of ASCII).
  auto one = [&]() __attribute__((always_inline)) -> bool {
    uint32_t c = static_cast<std::make_unsigned_t<C>>(s[i++]);
    if (c < 0x80) {
      const uint8_t k = table[c];
      if (k == 0) {
        *p++ = static_cast<char>(c);
      } else if (k == 1) {
        *hr = WR_E_INVALIDCHARACTER;
        return false;
      } else if (k == 9) {
        p = putRef(p, c);
      } else {
        std::memcpy(p, kEscapes[k].text, 8);
        p += kEscapes[k].len;
      }
      return true;
    }
    if constexpr (sizeof(C) == 1) {
      c = nextUtf8(s, n, &i);
      if ((c | 1) == 0xFFFF) {
        *hr = WR_E_INVALIDCHARACTER;
        return false;
      }
    } else if (isSurrogate(c)) {
      if (c >= 0xDC00 || i >= n || !isLowSurrogate(s[i])) {
        *hr = WR_E_INVALIDSURROGATEPAIR;
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i] - 0xDC00u);
      ++i;
    } else if (c >= 0xFFFE) {
      *hr = WR_E_INVALIDCHARACTER;
      return false;
    }
    if (c >= sink_.reprLimit() && !sink_.representable(c)) {
      if (M == Esc::Verbatim) {
        *hr = WR_E_INVALIDCHARACTER;
        return false;
      }
      p = putRef(p, c);
      return true;
    }
    p += twxml::utf::PutUtf8(c, p);
    return true;
  };
  if constexpr (sizeof(C) == 1) {
    if (n >= 32 && asciiPlain_ && sink_.reprLimit() >= 0x110000) {
      // UTF-8 into an encoding that holds every character: the clean part
      // (well formed, no control characters but tab and line feed, no
      // U+FFFE or U+FFFF) goes as it is but for the mode's escapes; the
      // rest one by one.
      const auto run = escapes_->runClean[static_cast<int>(M)];
      const auto* bytes = reinterpret_cast<const unsigned char*>(s);
      while (i < n) {
        const size_t clean = i + cleanScan_(bytes + i, n - i);
        while (i < clean) {
          const size_t k = run(s + i, clean - i, p);
          p += k;
          i += k;
          if (i < clean && !one()) return nullptr;
        }
        if (i < n && !one()) return nullptr;
      }
      return p;
    }
  }
  if (asciiPlain_) {
    // Runs of plain ASCII from the vector kernel, the rest one by one.
    const auto run = [this] {
      if constexpr (sizeof(C) == 1) return escapes_->run8[static_cast<int>(M)];
      else return escapes_->run[static_cast<int>(M)];
    }();
    for (;;) {
      const size_t k = run(s + i, n - i, p);
      p += k;
      i += k;
      if (i >= n) return p;
      if (!one()) return nullptr;
    }
  }
  while (i < n) {
    const uint32_t c = static_cast<std::make_unsigned_t<C>>(s[i]);
    if (c < 0x80 && table[c] == 0) {
      *p++ = static_cast<char>(c);
      ++i;
    } else if (!one()) {
      return nullptr;
    }
  }
  return p;
}

template <XmlWriter::Esc M, typename C>
HRESULT XmlWriter::putText(const C* s, size_t n) {
  HRESULT hr = S_OK;
  if (pos_ + n * kMaxPerUnit <= kBufferSize) {
    char* end = encodeText<M>(s, n, base_ + pos_, &hr);
    if (!end) return hr;
    pos_ = static_cast<size_t>(end - base_);
    return S_OK;
  }
  // Longer than the room left: in pieces, never cutting a surrogate pair or
  // a UTF-8 sequence (a byte that is not a continuation byte always starts
  // one, and no sequence has more than three of them).
  size_t i = 0;
  while (i < n) {
    const size_t room = space() / kMaxPerUnit;
    if (room < 4) {
      hr = flushBuffer();
      if (FAILED(hr)) return hr;
      continue;
    }
    size_t stop = std::min(n, i + room);
    if constexpr (sizeof(C) == 1) {
      for (int back = 0; stop < n && back < 3 && (static_cast<unsigned char>(s[stop]) & 0xC0) == 0x80; ++back)
        --stop;
    } else {
      if (stop < n && isHighSurrogate(s[stop - 1])) --stop;
    }
    char* end = encodeText<M>(s + i, stop - i, base_ + pos_, &hr);
    if (!end) return hr;
    pos_ = static_cast<size_t>(end - base_);
    i = stop;
  }
  return S_OK;
}

// A checked name: ASCII names (the usual case) are copied straight in.
HRESULT XmlWriter::putName(u16view name) {
  const size_t n = name.size();
  if (pos_ + n <= kBufferSize) {
    char* p = base_ + pos_;
    size_t i = 0;
    while (i < n && name[i] < 0x80) {
      p[i] = static_cast<char>(name[i]);
      ++i;
    }
    if (i == n) {
      pos_ += n;
      return S_OK;
    }
  }
  return putText<Esc::Verbatim>(name.data(), n);
}

HRESULT XmlWriter::putQName(u16view prefix, u16view local) {
  HRESULT hr = S_OK;
  if (!prefix.empty()) {
    hr = putName(prefix);
    if (SUCCEEDED(hr)) hr = putAscii(":", 1);
  }
  if (SUCCEEDED(hr)) hr = putName(local);
  return hr;
}

HRESULT XmlWriter::putDecl(const Decl& d) {
  HRESULT hr = putAscii(" xmlns", 6);
  if (SUCCEEDED(hr) && !d.prefix.empty()) {
    hr = putAscii(":", 1);
    if (SUCCEEDED(hr)) hr = putName(d.prefix);
  }
  if (SUCCEEDED(hr)) hr = putAscii("=\"", 2);
  if (SUCCEEDED(hr)) hr = putText<Esc::Attr>(d.uri.data(), d.uri.size());
  if (SUCCEEDED(hr)) hr = putAscii("\"", 1);
  return hr;
}

// ---- Checks -------------------------------------------------------------------

template <typename C>
HRESULT XmlWriter::checkChars(const C* s, size_t n, bool verbatim) {
  const uint32_t limit = sink_.reprLimit();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = static_cast<std::make_unsigned_t<C>>(s[i]);
    if constexpr (sizeof(C) == 1) {
      if (c >= 0x80) {
        ++i;
        c = nextUtf8(s, n, &i);
        --i;
      }
      if (!isXmlChar(c)) return WR_E_INVALIDCHARACTER;
    } else if (isSurrogate(c)) {
      if (c >= 0xDC00 || i + 1 >= n || !isLowSurrogate(s[i + 1])) return WR_E_INVALIDSURROGATEPAIR;
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      ++i;
    } else if (!isXmlChar(c)) {
      return WR_E_INVALIDCHARACTER;
    }
    if (verbatim && c >= limit && !sink_.representable(c)) return WR_E_INVALIDCHARACTER;
  }
  return S_OK;
}

HRESULT XmlWriter::checkNameChars(u16view name) {
  if (sink_.reprLimit() >= 0x110000) return S_OK;
  return checkChars(name.data(), name.size(), true);
}


template HRESULT XmlWriter::putText<XmlWriter::Esc::Text>(const char16_t*, size_t);
template HRESULT XmlWriter::putText<XmlWriter::Esc::Attr>(const char16_t*, size_t);
template HRESULT XmlWriter::putText<XmlWriter::Esc::Verbatim>(const char16_t*, size_t);
template HRESULT XmlWriter::putText<XmlWriter::Esc::Text>(const char*, size_t);
template HRESULT XmlWriter::putText<XmlWriter::Esc::Attr>(const char*, size_t);
template HRESULT XmlWriter::putText<XmlWriter::Esc::Verbatim>(const char*, size_t);
template HRESULT XmlWriter::checkChars(const char16_t*, size_t, bool);
template HRESULT XmlWriter::checkChars(const char*, size_t, bool);

}  // namespace twxml::xmlwriter
