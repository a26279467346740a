// Fuzz harness for the streaming writer: random call sequences with hostile
// strings (markup characters, controls, lone surrogates, characters the
// output encoding cannot carry), in every output encoding, indented or not.
// Properties: results stay in the writer's set of answers; a call that is
// refused writes nothing; and a document made of accepted calls with one
// complete root reads back with the streaming reader, carrying exactly the
// element names and character data that were written.
//
// With bit 4 of the first byte a twin writer runs beside it, taking start
// tags, attributes and text through the UTF-8 calls (strings made loosely
// UTF-8: lone surrogates and stray bytes make ill-formed sequences) while
// the first writer gets the same strings converted with the replacing
// conversion; every answer and the output must be the same.
//
// Input: byte 0 picks the encoding, indentation, the twin (bit 4) and (bits
// 5 and 6) the vector level; then each call is an operation byte followed
// by the bytes its strings are made of.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../harness.h"
#include "mem_istream.h"
#include "twxml/platform/utf.h"
#include "twxml/platform/xmllite_internal.h"

namespace {

using twfuzz::check;

const char16_t* const kEncodings[] = {u"UTF-8",    u"UTF-16",    u"ISO-8859-1", u"windows-1252",
                                      u"US-ASCII", u"Shift_JIS", u"Big5",       u"KOI8-R"};

// Code units strings are made of: mostly plain, with the awkward ones mixed in.
const char16_t kUnits[] = {u'<',    u'>',    u'&',    u'"',    u'\'',   u']',   u'-',    u'?',
                           u'\t',   u'\n',   u'\r',   u' ',    u':',    u'=',   u'x',    u'1',
                           0x00E9,  0x00FF,  0x0100,  0x20AC,  0x4E2D,  0x3042, 0xFFFD,  0x0416,
                           0xD83D,  0xDE00,  0xDC00,  0xFFFE,  0x0001,  0x001F, 0x007F,  0x0085};

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool done() const { return p_ >= end_; }
  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  // A string of up to 15 units; an empty input gives the empty string.
  std::u16string text() {
    const size_t n = byte() % 16;
    std::u16string s;
    for (size_t i = 0; i < n && !done(); ++i) {
      const uint8_t b = byte();
      s.push_back(b >= 0x80 ? kUnits[b % std::size(kUnits)] : b >= 0x20 ? char16_t(b) : u'a');
    }
    return s;
  }
  // A name: usually from a small set of good ones, sometimes anything.
  std::u16string name() {
    static const char16_t* const kNames[] = {u"r", u"item", u"a1", u"x", u"caf\u00e9", u"\u4e2d",
                                             u"_n-1.2", u"p:q"};
    const uint8_t b = byte();
    if (b < 224) return kNames[b % std::size(kNames)];
    return text();
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// A string as UTF-8, loosely: a lone surrogate is encoded as if it were a
// character (an ill-formed sequence), U+0085 as a stray continuation byte.
std::string LooseUtf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00u);
    char bytes[4];
    if (c == 0x85) out.push_back('\x85');
    else out.append(bytes, twxml::utf::PutUtf8(c, bytes));
  }
  return out;
}

// The twin's side of a string: its loose UTF-8, and what the first writer
// gets instead of the string (the replacing conversion of those bytes).
struct Twin {
  std::string u8;
  std::u16string wide;
  Twin(const std::u16string& s, bool on) : u8(on ? LooseUtf8(s) : std::string()), wide(s) {
    if (!on) return;
    wide.assign(u8.size(), u'\0');
    wide.resize(twxml::utf::Utf8ToUtf16Replacing(u8.data(), u8.size(), wide.data()));
  }
};

// What the written document must read back as, while every call is accepted.
struct Model {
  std::vector<std::u16string> names;  // element local names, in document order
  std::u16string chars;               // character data inside the root element
  int depth = 0, roots = 0;
  bool verifiable = true;  // no raw markup, no entity reference, no indentation
};

bool Known(HRESULT hr) {
  static const HRESULT kAnswers[] = {
      S_OK, E_INVALIDARG, E_FAIL, E_UNEXPECTED, E_OUTOFMEMORY, WR_E_DUPLICATEATTRIBUTE,
      WR_E_INVALIDACTION, WR_E_INVALIDCHARACTER, WR_E_INVALIDNAME, WR_E_INVALIDSURROGATEPAIR,
      WR_E_INVALIDXMLSPACE, WR_E_NAMESPACEUNDECLARED, WR_E_NONWHITESPACE, WR_E_NSPREFIXDECLARED,
      WR_E_NSPREFIXWITHEMPTYNSURI, WR_E_XMLNSPREFIXDECLARATION, WR_E_XMLNSURIDECLARATION,
      WR_E_XMLPREFIXDECLARATION, WR_E_XMLURIDECLARATION};
  for (HRESULT a : kAnswers)
    if (hr == a) return true;
  return false;
}

// The local part of a qualified name the writer was given.
std::u16string Local(const std::u16string& q) {
  const size_t colon = q.find(u':');
  return colon == std::u16string::npos ? q : q.substr(colon + 1);
}

void ReadBack(const std::string& bytes, const Model& m) {
  twfuzz::Debug("output", bytes);
  twtest::MemReadStream* in = new twtest::MemReadStream(bytes.data(), bytes.size());
  IXmlReader* r = nullptr;
  check(SUCCEEDED(TwCreateXmlReaderInProc(IID_IXmlReader, reinterpret_cast<void**>(&r))));
  r->SetInput(in);
  in->Release();
  std::vector<std::u16string> names;
  std::u16string chars;
  XmlNodeType type = XmlNodeType_None;
  HRESULT hr;
  while ((hr = r->Read(&type)) == S_OK) {
    UINT depth = 0;
    r->GetDepth(&depth);
    const WCHAR* s = nullptr;
    UINT n = 0;
    if (type == XmlNodeType_Element) {
      r->GetLocalName(&s, &n);
      names.emplace_back(s, n);
    } else if ((type == XmlNodeType_Text || type == XmlNodeType_CDATA ||
                type == XmlNodeType_Whitespace) && depth > 0) {
      r->GetValue(&s, &n);
      chars.append(s, n);
    }
  }
  r->Release();
  check(hr == S_FALSE);  // well-formed
  check(names == m.names);
  check(chars == m.chars);
}

void Run(const uint8_t* data, size_t size) {
  Input in(data, size);
  const uint8_t options = in.byte();
  const char16_t* encoding = kEncodings[options % std::size(kEncodings)];
  const bool indent = (options & 0x80) != 0;
  twfuzz::PickLevel(options >> 5);

  IXmlWriter* w = nullptr;
  check(SUCCEEDED(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&w), nullptr)));
  twtest::MemWriteStream* out = new twtest::MemWriteStream();
  IUnknown* output = nullptr;
  check(SUCCEEDED(CreateXmlWriterOutputWithEncodingName(out, nullptr, encoding, &output)));
  check(SUCCEEDED(w->SetOutput(output)));
  output->Release();
  if (indent) w->SetProperty(XmlWriterProperty_Indent, TRUE);
  IXmlWriter* tw = nullptr;  // the twin
  IXmlWriterUtf8* t8 = nullptr;
  twtest::MemWriteStream* tout = nullptr;
  if (options & 0x10) {
    check(SUCCEEDED(CreateXmlWriter(IID_IXmlWriter, reinterpret_cast<void**>(&tw), nullptr)));
    check(SUCCEEDED(tw->QueryInterface(IID_TwXmlWriterUtf8, reinterpret_cast<void**>(&t8))));
    t8->Release();  // the writer's reference keeps it
    tout = new twtest::MemWriteStream();
    check(SUCCEEDED(CreateXmlWriterOutputWithEncodingName(tout, nullptr, encoding, &output)));
    check(SUCCEEDED(tw->SetOutput(output)));
    output->Release();
    if (indent) tw->SetProperty(XmlWriterProperty_Indent, TRUE);
  }
  const bool twin = tw != nullptr;

  Model m;
  m.verifiable = !indent;  // indentation adds white space of its own
  for (int calls = 0; !in.done() && calls < 200; ++calls) {
    const uint8_t op = in.byte();
    w->Flush();
    const size_t flushed = out->text().size();
    std::u16string a, b, c, d;
    HRESULT hr = S_OK;
    std::u16string written;  // character data the call adds inside the root
    HRESULT thr = S_OK;       // the twin's answer
    bool twinDone = false;    // the twin made the call in its UTF-8 form
    switch (op % 20) {
      case 0: case 1: case 2: {
        const Twin name(in.name(), twin);
        a = name.wide;
        hr = w->WriteStartElement(nullptr, a.c_str(), nullptr);
        if (twin) thr = t8->WriteStartElementUtf8(nullptr, name.u8.c_str(), nullptr), twinDone = true;
        if (hr == S_OK) {
          m.names.push_back(Local(a));
          if (m.depth++ == 0) ++m.roots;
        }
        break;
      }
      case 3: {
        const Twin name(in.name(), twin), uri(in.text(), twin);
        a = name.wide, b = uri.wide;
        hr = w->WriteStartElement(u"p", a.c_str(), b.empty() ? u"urn:p" : b.c_str());
        if (twin)
          thr = t8->WriteStartElementUtf8("p", name.u8.c_str(), b.empty() ? "urn:p" : uri.u8.c_str()),
          twinDone = true;
        if (hr == S_OK) {
          m.names.push_back(a);
          if (m.depth++ == 0) ++m.roots;
        }
        break;
      }
      case 4: case 5:
        hr = w->WriteEndElement();
        if (hr == S_OK && m.depth > 0) --m.depth;
        break;
      case 6:
        hr = w->WriteFullEndElement();
        if (hr == S_OK && m.depth > 0) --m.depth;
        break;
      case 7: {
        const Twin name(in.name(), twin), value(in.text(), twin);
        a = name.wide, b = value.wide;
        hr = w->WriteAttributeString(nullptr, a.c_str(), nullptr, b.c_str());
        if (twin)
          thr = t8->WriteAttributeStringUtf8(nullptr, name.u8.c_str(), nullptr, value.u8.data(),
                                             value.u8.size()),
          twinDone = true;
        break;
      }
      case 8: case 9: {
        const Twin text(in.text(), twin);
        a = text.wide;
        hr = w->WriteString(a.c_str());
        if (twin) thr = t8->WriteStringUtf8(text.u8.data(), text.u8.size()), twinDone = true;
        written = a;
        break;
      }
      case 10:
        a = in.text();
        hr = w->WriteChars(a.data(), static_cast<UINT>(a.size()));
        written = a;
        break;
      case 11:
        a = in.text();
        hr = w->WriteCData(a.c_str());
        written = a;
        break;
      case 12:
        a = in.text();
        if (a.empty()) a = u"x";
        hr = w->WriteCharEntity(a[0]);
        written = a.substr(0, 1);
        break;
      case 13:
        a = in.text();
        hr = w->WriteComment(a.c_str());
        break;
      case 14:
        a = in.name(), b = in.text();
        hr = w->WriteProcessingInstruction(a.c_str(), b.c_str());
        break;
      case 15:
        a = in.text();
        hr = w->WriteWhitespace(a.c_str());
        written = a;
        break;
      case 16:
        a = in.name(), b = in.text();
        hr = w->WriteElementString(nullptr, a.c_str(), nullptr, b.c_str());
        if (hr == S_OK) {
          m.names.push_back(Local(a));
          if (m.depth == 0) ++m.roots;
        }
        written = b;
        break;
      case 17:
        hr = w->WriteSurrogateCharEntity(0xDE00, 0xD83D);
        written = u"\U0001F600";
        break;
      case 18:
        a = in.text();
        hr = w->WriteRaw(a.c_str());
        m.verifiable = m.verifiable && a.empty();
        break;
      case 19:
        a = in.name();
        hr = w->WriteEntityRef(a.c_str());
        m.verifiable = false;
        break;
    }
    check(Known(hr));
    if (twin && !twinDone) {
      // The same call in its UTF-16 form: the twin must stay in step.
      switch (op % 20) {
        case 4: case 5: thr = tw->WriteEndElement(); break;
        case 6: thr = tw->WriteFullEndElement(); break;
        case 10: thr = tw->WriteChars(a.data(), static_cast<UINT>(a.size())); break;
        case 11: thr = tw->WriteCData(a.c_str()); break;
        case 12: thr = tw->WriteCharEntity(a[0]); break;
        case 13: thr = tw->WriteComment(a.c_str()); break;
        case 14: thr = tw->WriteProcessingInstruction(a.c_str(), b.c_str()); break;
        case 15: thr = tw->WriteWhitespace(a.c_str()); break;
        case 16: thr = tw->WriteElementString(nullptr, a.c_str(), nullptr, b.c_str()); break;
        case 17: thr = tw->WriteSurrogateCharEntity(0xDE00, 0xD83D); break;
        case 18: thr = tw->WriteRaw(a.c_str()); break;
        case 19: thr = tw->WriteEntityRef(a.c_str()); break;
      }
    }
    check(!twin || thr == hr);
    twfuzz::Debug(("op " + std::to_string(op % 20) + " -> " + std::to_string(hr)).c_str(), a + u"|" + b);
    if (hr == S_OK) {
      // Element strings carry their text inside themselves; other text
      // counts inside the root (white space outside it is not character data).
      if (m.depth > 0 || op % 20 == 16) m.chars += written;
    } else {
      w->Flush();
      check(out->text().size() == flushed);  // a refused call writes nothing
    }
  }
  const HRESULT end = w->WriteEndDocument();
  check(Known(end));
  const HRESULT flush = w->Flush();
  check(flush == S_OK || Known(flush));
  if (end == S_OK && flush == S_OK && m.verifiable && m.roots == 1 &&
      (encoding[0] == u'U' && encoding[1] == u'T')) {
    ReadBack(out->text(), m);
  }
  if (twin) {
    check(tw->WriteEndDocument() == end);
    check(tw->Flush() == flush);
    check(tout->text() == out->text());
    tw->Release();
    tout->Release();
  }
  w->Release();
  out->Release();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Seeds: a few call programs in each encoding.
  const std::string programs[] = {
      std::string("\x00\x00\x01\x08\x05hello\x07\x01\x02\x03xy\x04", 16),
      std::string("\x01\x02\x00\x0b\x04]]>\x01\x0d\x03-<a\x0e\x01\x02pi\x04", 20),
      std::string("\x02\x00\x04\x09\x04\x80\x88\x98\x99\x0c\x01\x9a\x11\x04", 14),
      std::string("\x86\x00\x05\x10\x03\x02" "ab\x08\x02\xe9\x94\x12\x03<x>\x05", 16)};
  std::vector<std::string> seeds;
  for (int e = 0; e < 16; ++e) {  // each encoding, with and without the twin
    for (std::string seed : programs) {
      seed[0] = static_cast<char>((seed[0] & 0x80) | (e & 7) | (e & 8) << 1);
      seeds.push_back(seed);
    }
  }
  twfuzz::WriteSeedsIfAsked(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size);
  return 0;
}
