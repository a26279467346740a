// The document and its content: declaration, document type, text, CDATA,
// comments, processing instructions, references, names and the end.
#include "xml_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "output.h"
#include "writer_text.h"

namespace twxml::xmlwriter {

using namespace detail;

// ---- Calls --------------------------------------------------------------------

HRESULT XmlWriter::WriteStartDocument(XmlStandalone standalone) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    // Callers across the module boundary may pass any number: look at it as one.
    int sa;
    static_assert(sizeof sa == sizeof standalone);
    std::memcpy(&sa, &standalone, sizeof sa);
    if (sa < XmlStandalone_Omit || sa > XmlStandalone_No) return E_INVALIDARG;
    if (started_ || mode_ == Mode::Fragment) return WR_E_INVALIDACTION;
    mode_ = Mode::Document;
    if (!omitDecl_) {
      bool chunked;
      hr = beginCall(128, &chunked);
      if (FAILED(hr)) return hr;
      std::string decl = "<?xml version=\"1.0\" encoding=\"";
      decl += sink_.spec().declName;
      decl += '"';
      if (sa == XmlStandalone_Yes) decl += " standalone=\"yes\"";
      if (sa == XmlStandalone_No) decl += " standalone=\"no\"";
      decl += "?>";
      hr = putAscii(decl);
      if (FAILED(hr)) return fail(hr);
      anyOutput_ = true;
    }
    started_ = true;
    return S_OK;
  });
}

HRESULT XmlWriter::WriteDocType(LPCWSTR name, LPCWSTR publicId, LPCWSTR systemId,
                                LPCWSTR subset) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (ended_ || mode_ == Mode::Fragment || rootStarted_ || doctypeDone_)
      return WR_E_INVALIDACTION;
    u16view n = view(name), pub = view(publicId), sys = view(systemId), sub = view(subset);
    if (!isValidName(n.data(), n.size(), NameKind::Name)) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkNameChars(n))) return hr;
    if (publicId) {
      if (!systemId) return E_INVALIDARG;
      for (char16_t c : pub)
        if (!isPubidChar(c)) return WR_E_INVALIDCHARACTER;
      if (FAILED(hr = checkChars(pub.data(), pub.size(), true))) return hr;
    }
    if (contains(sys, u"\"") && contains(sys, u"'")) return WR_E_INVALIDCHARACTER;
    if (FAILED(hr = checkChars(sys.data(), sys.size(), true))) return hr;
    if (FAILED(hr = checkChars(sub.data(), sub.size(), true))) return hr;
    const char* q = contains(sys, u"\"") ? "'" : "\"";

    const bool ind = indent_ && anyOutput_;
    bool chunked;
    hr = beginCall(64 + (n.size() + pub.size() + sys.size() + sub.size()) * kMaxPerUnit, &chunked);
    if (FAILED(hr)) return hr;
    if (ind) hr = putIndent(0);
    if (SUCCEEDED(hr)) hr = putAscii("<!DOCTYPE ");
    if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(n.data(), n.size());
    if (SUCCEEDED(hr) && publicId) {
      hr = putAscii(" PUBLIC \"");
      if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(pub.data(), pub.size());
      if (SUCCEEDED(hr)) hr = putAscii("\"");
    } else if (SUCCEEDED(hr) && systemId) {
      hr = putAscii(" SYSTEM");
    }
    if (SUCCEEDED(hr) && systemId) {
      hr = putAscii(" ");
      if (SUCCEEDED(hr)) hr = putAscii(q, 1);
      if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(sys.data(), sys.size());
      if (SUCCEEDED(hr)) hr = putAscii(q, 1);
    }
    if (SUCCEEDED(hr) && subset) {
      hr = putAscii(" [");
      if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(sub.data(), sub.size());
      if (SUCCEEDED(hr)) hr = putAscii("]");
    }
    if (SUCCEEDED(hr)) hr = putAscii(">");
    if (FAILED(hr)) return fail(hr);
    if (mode_ == Mode::Auto) mode_ = Mode::Document;
    doctypeDone_ = started_ = anyOutput_ = true;
    return S_OK;
  });
}

HRESULT XmlWriter::WriteEndDocument() {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (ended_) return WR_E_INVALIDACTION;
    if (mode_ == Mode::Document && !rootStarted_) return WR_E_INVALIDACTION;
    while (!stack_.empty()) {
      hr = writeEnd(false);
      if (FAILED(hr)) return hr;
    }
    ended_ = true;
    hr = flushBuffer();
    if (SUCCEEDED(hr)) hr = sink_.finish(stream_);
    if (FAILED(hr)) broken_ = hr;
    return hr;
  });
}

// Text-like content: closes an open start tag, marks the element as holding
// text (so indentation stays out of it) and writes the escaped text.
template <typename C>
HRESULT XmlWriter::writeTextLike(const C* s, size_t n, Esc esc, bool markMixed) {
  const size_t worst = 2 + n * kMaxPerUnit;
  HRESULT hr;
  if (worst > kBufferSize && FAILED(hr = checkChars(s, n, esc == Esc::Verbatim))) return hr;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr)) {
    switch (esc) {
      case Esc::Text: hr = putText<Esc::Text>(s, n); break;
      case Esc::Attr: hr = putText<Esc::Attr>(s, n); break;
      case Esc::Verbatim: hr = putText<Esc::Verbatim>(s, n); break;
    }
  }
  if (FAILED(hr)) return fail(hr);
  tagOpen_ = false;
  if (n > 0) {
    if (markMixed && !stack_.empty()) stack_.back().mixed = true;
    if (markMixed && stack_.empty()) topMixed_ = true;
    started_ = anyOutput_ = true;
  }
  return S_OK;
}

HRESULT XmlWriter::checkContentAllowed() {
  if (ended_) return WR_E_INVALIDACTION;
  if (stack_.empty()) {
    resolveAuto();
    if (mode_ == Mode::Document) return WR_E_INVALIDACTION;
  }
  return S_OK;
}

HRESULT XmlWriter::WriteString(LPCWSTR text) {
  return guarded([&] { return contentCall(text, len16(text), false); });
}

HRESULT XmlWriter::WriteChars(const WCHAR* chars, UINT count) {
  return charsCall(chars, count, false);
}

HRESULT XmlWriter::charsCall(const WCHAR* chars, UINT count, bool raw) {
  return guarded([&]() -> HRESULT {
    if (!chars && count) return E_INVALIDARG;
    return contentCall(chars, count, raw);
  });
}

// Text (escaped) or raw markup (verbatim) at the current position.
template <typename C>
HRESULT XmlWriter::contentCall(const C* s, size_t n, bool raw) {
  HRESULT hr = ready();
  if (FAILED(hr)) return hr;
  if (ended_) return WR_E_INVALIDACTION;
  if (stack_.empty()) {
    resolveAuto();
    if (!raw && mode_ == Mode::Document) {
      // Only white space can stand outside the root element.
      if (!allWhitespace(s, n)) return WR_E_INVALIDACTION;
      return writeTextLike(s, n, Esc::Verbatim, false);
    }
  }
  return writeTextLike(s, n, raw ? Esc::Verbatim : Esc::Text, true);
}

HRESULT XmlWriter::WriteWhitespace(LPCWSTR whitespace) {
  return readyCall([&]() -> HRESULT {
    const u16view ws = view(whitespace);
    if (!allWhitespace(ws.data(), ws.size())) return WR_E_NONWHITESPACE;
    if (ended_) return WR_E_INVALIDACTION;
    if (stack_.empty()) resolveAuto();
    // Inside an element the white space is character data: a carriage
    // return goes as a reference, or it would be read back as a line feed.
    return writeTextLike(ws.data(), ws.size(), stack_.empty() ? Esc::Verbatim : Esc::Text,
                         !stack_.empty());
  });
}

HRESULT XmlWriter::WriteRaw(LPCWSTR data) {
  return guarded([&] { return contentCall(data, len16(data), true); });
}

HRESULT XmlWriter::WriteRawChars(const WCHAR* chars, UINT count) {
  return charsCall(chars, count, true);
}

HRESULT XmlWriter::WriteCData(LPCWSTR text) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (FAILED(hr = checkContentAllowed())) return hr;
    const u16view t = view(text);
    // Each unit may also cost a section break (below).
    const size_t worst = 16 + t.size() * (kMaxPerUnit + 17);
    if (worst > kBufferSize && FAILED(hr = checkChars(t.data(), t.size(), true))) return hr;
    bool chunked;
    hr = beginCall(worst, &chunked);
    if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
    if (SUCCEEDED(hr)) hr = putAscii("<![CDATA[");
    // "]]>" cannot stand inside a section: end it after "]]" and open the
    // next one before ">". A carriage return would be read back as a line
    // feed: it stands between two sections as a character reference.
    size_t i = 0;
    while (SUCCEEDED(hr)) {
      const size_t j = t.find_first_of(u"]\r", i);
      if (j == u16view::npos) break;
      if (t[j] == u'\r') {
        hr = putText<Esc::Verbatim>(t.data() + i, j - i);
        if (SUCCEEDED(hr)) hr = putAscii("]]>&#xD;<![CDATA[");
        i = j + 1;
      } else if (t.substr(j, 3) == u"]]>") {
        hr = putText<Esc::Verbatim>(t.data() + i, j + 2 - i);
        if (SUCCEEDED(hr)) hr = putAscii("]]><![CDATA[");
        i = j + 2;
      } else {
        hr = putText<Esc::Verbatim>(t.data() + i, j + 1 - i);
        i = j + 1;
      }
    }
    if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(t.data() + i, t.size() - i);
    if (SUCCEEDED(hr)) hr = putAscii("]]>");
    if (FAILED(hr)) return fail(hr);
    tagOpen_ = false;
    if (!stack_.empty()) stack_.back().mixed = true;
    else topMixed_ = true;
    started_ = anyOutput_ = true;
    return S_OK;
  });
}

// open first [sep second] close, with the pieces already checked.
HRESULT XmlWriter::putPieces(std::string_view open, u16view first, std::string_view sep,
                             u16view second, std::string_view close) {
  HRESULT hr = putAscii(open);
  if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(first.data(), first.size());
  if (SUCCEEDED(hr) && !second.empty()) {
    hr = putAscii(sep);
    if (SUCCEEDED(hr)) hr = putText<Esc::Verbatim>(second.data(), second.size());
  }
  if (SUCCEEDED(hr)) hr = putAscii(close);
  return hr;
}

// Markup written as a node of its own (comment, processing instruction):
// indented like an element. `second`, when not empty, follows `sep`.
HRESULT XmlWriter::writeNodeMarkup(std::string_view open, u16view first, std::string_view sep,
                                   u16view second, std::string_view close) {
  const size_t depth = stack_.size();
  const bool mixed = depth > 0 ? stack_.back().mixed : topMixed_;
  const bool ind = indent_ && anyOutput_ && !mixed;
  const size_t worst = 8 + (ind ? 1 + 2 * depth : 0) + open.size() + sep.size() + close.size() +
                       (first.size() + second.size()) * kMaxPerUnit;
  HRESULT hr;
  if (worst > kBufferSize && (FAILED(hr = checkChars(first.data(), first.size(), true)) ||
                              FAILED(hr = checkChars(second.data(), second.size(), true))))
    return hr;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr) && ind) hr = putIndent(depth);
  if (SUCCEEDED(hr)) hr = putPieces(open, first, sep, second, close);
  if (FAILED(hr)) return fail(hr);
  tagOpen_ = false;
  if (depth > 0) stack_.back().hasMarkup = true;
  started_ = anyOutput_ = true;
  return S_OK;
}

HRESULT XmlWriter::WriteComment(LPCWSTR comment) {
  return readyCall([&]() -> HRESULT {
    if (ended_) return WR_E_INVALIDACTION;
    const u16view c = view(comment);
    if (contains(c, u"--") || (!c.empty() && c.back() == u'-')) return WR_E_INVALIDCHARACTER;
    if (stack_.empty()) resolveAuto();
    return writeNodeMarkup("<!--", c, "", u16view(), "-->");
  });
}

HRESULT XmlWriter::WriteProcessingInstruction(LPCWSTR name, LPCWSTR text) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    if (ended_) return WR_E_INVALIDACTION;
    const u16view target = view(name), t = view(text);
    if (!isNCName(target) || equalsIgnoreAsciiCase(target, "xml")) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkNameChars(target))) return hr;
    if (contains(t, u"?>")) return WR_E_INVALIDCHARACTER;
    if (stack_.empty()) resolveAuto();
    return writeNodeMarkup("<?", target, " ", t, "?>");
  });
}

// After a piece of character content: the start tag is closed and the
// enclosing element (or the top level) now holds mixed content.
void XmlWriter::markedMixed() {
  tagOpen_ = false;
  if (!stack_.empty()) stack_.back().mixed = true;
  else topMixed_ = true;
  started_ = anyOutput_ = true;
}

// Content made of checked names: entity references and name tokens.
HRESULT XmlWriter::writeNamePieces(std::string_view open, u16view first, std::string_view sep,
                                   u16view second, std::string_view close) {
  HRESULT hr;
  if (FAILED(hr = checkNameChars(first)) || FAILED(hr = checkNameChars(second))) return hr;
  const size_t worst = 8 + open.size() + sep.size() + close.size() +
                       (first.size() + second.size()) * kMaxPerUnit;
  bool chunked;
  hr = beginCall(worst, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr)) hr = putPieces(open, first, sep, second, close);
  if (FAILED(hr)) return fail(hr);
  markedMixed();
  return S_OK;
}

HRESULT XmlWriter::WriteEntityRef(LPCWSTR name) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view n = view(name);
    if (!isNCName(n)) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkContentAllowed())) return hr;
    // Other entities would need a declaration, which only a DTD can carry.
    const bool predefined = n == u"lt" || n == u"gt" || n == u"amp" || n == u"quot" || n == u"apos";
    if (!predefined && !doctypeDone_) return WR_E_INVALIDACTION;
    return writeNamePieces("&", n, "", u16view(), ";");
  });
}

HRESULT XmlWriter::WriteName(LPCWSTR name) { return nameCall(name, false); }

HRESULT XmlWriter::WriteNmToken(LPCWSTR nmToken) { return nameCall(nmToken, true); }

// A Name, or with token set an Nmtoken, as character content.
HRESULT XmlWriter::nameCall(LPCWSTR name, bool token) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view n = view(name);
    const NameKind kind = token ? NameKind::NmToken : NameKind::Name;
    if (!isValidName(n.data(), n.size(), kind)) return WR_E_INVALIDNAME;
    if (FAILED(hr = checkContentAllowed())) return hr;
    return writeNamePieces("", n, "", u16view(), "");
  });
}

HRESULT XmlWriter::WriteQualifiedName(LPCWSTR localName, LPCWSTR namespaceUri) {
  return readyCall([&]() -> HRESULT {
    HRESULT hr;
    const u16view local = view(localName), uri = view(namespaceUri);
    if (!isNCName(local)) return WR_E_INVALIDNAME;
    u16view prefix;
    if (!uri.empty()) {
      u16view def;
      if (!(lookupPrefix(u"", &def) && def == uri) && !lookupUri(uri, &prefix)) {
        if (uri != kXmlNs) return WR_E_NAMESPACEUNDECLARED;
        prefix = u"xml";
      }
    }
    if (FAILED(hr = checkContentAllowed())) return hr;
    if (prefix.empty()) return writeNamePieces("", local, "", u16view(), "");
    scratch_.assign(prefix);
    return writeNamePieces("", scratch_, ":", local, "");
  });
}

HRESULT XmlWriter::writeCharRefCall(uint32_t cp) {
  HRESULT hr = checkContentAllowed();
  if (FAILED(hr)) return hr;
  bool chunked;
  hr = beginCall(24, &chunked);
  if (SUCCEEDED(hr) && tagOpen_) hr = closeStartTag();
  if (SUCCEEDED(hr)) hr = putCharRef(cp);
  if (FAILED(hr)) return fail(hr);
  markedMixed();
  return S_OK;
}

HRESULT XmlWriter::WriteCharEntity(WCHAR ch) {
  return readyCall([&]() -> HRESULT {
    if (isSurrogate(ch)) return WR_E_INVALIDSURROGATEPAIR;
    if (!isXmlChar(ch)) return WR_E_INVALIDCHARACTER;
    return writeCharRefCall(ch);
  });
}

HRESULT XmlWriter::WriteSurrogateCharEntity(WCHAR lowChar, WCHAR highChar) {
  return readyCall([&]() -> HRESULT {
    if (!isHighSurrogate(highChar) || !isLowSurrogate(lowChar)) return WR_E_INVALIDSURROGATEPAIR;
    return writeCharRefCall(0x10000 + ((highChar - 0xD800u) << 10) + (lowChar - 0xDC00u));
  });
}


HRESULT XmlWriter::Flush() {
  return readyCall([&]() -> HRESULT {
    // A stateful encoding stays in its current state across a Flush: going
    // back to the initial state is for the end of the output only (iconv
    // would start some encodings over with a new byte order mark).
    return flushBuffer();
  });
}


template HRESULT XmlWriter::writeTextLike(const char16_t*, size_t, Esc, bool);
template HRESULT XmlWriter::contentCall(const char*, size_t, bool);

}  // namespace twxml::xmlwriter
