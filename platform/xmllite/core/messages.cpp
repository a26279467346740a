// The one message table: every failure the parser reports, in the words the
// reader, the document loader and every face over them hand out. "%s" takes
// the failure's detail (a name or an encoding).
#include <iterator>
#include <string>

#include "parse_limits.h"
#include "xmlcore.h"

namespace twxml::xmlcore {

namespace {

struct Line {
  Msg msg;
  Error cls;
  const char* text;
};

constexpr Line kLines[] = {
    {Msg::None, Error::None, "no error"},
    {Msg::TwoRoots, Error::Syntax, "two document elements"},
    {Msg::TextOutsideRoot, Error::Syntax, "text outside the document element"},
    {Msg::NoRoot, Error::UnexpectedEnd, "no document element"},
    {Msg::UnquotedValue, Error::Syntax, "unquoted attribute value"},
    {Msg::CommentDashes, Error::Syntax, "'--' inside a comment"},
    {Msg::CDataEndInText, Error::Syntax, "']]>' in text"},
    {Msg::UndefinedEntity, Error::UndeclaredEntity, "undefined entity '%s'"},
    {Msg::DuplicateAttribute, Error::DuplicateAttribute, "duplicate attribute '%s'"},
    {Msg::TagMismatch, Error::TagMismatch, "end tag does not match start tag '%s'"},
    {Msg::UndeclaredPrefix, Error::Namespace, "undeclared namespace prefix '%s'"},
    {Msg::EntityRecursion, Error::EntityRecursion, "entity '%s' refers to itself"},
    {Msg::DefaultsTooLarge, Error::EntityLimit, "defaulted attribute values exceed the expansion limit"},
    {Msg::InvalidUtf8, Error::Encoding, "invalid UTF-8"},
    {Msg::InvalidUtf16, Error::Encoding, "invalid UTF-16"},
    {Msg::InvalidBytes, Error::Encoding, "bytes not valid in the encoding '%s'"},
    {Msg::EncodingMismatch, Error::Encoding, "the encoding declaration contradicts the byte order mark or layout ('%s')"},
    {Msg::UnsupportedEncoding, Error::UnsupportedEncoding, "unsupported encoding '%s'"},
    {Msg::EncodingRefused, Error::UnsupportedEncoding,
     "encoding '%s' refused: it does not carry markup byte for byte"},
    {Msg::NulByte, Error::InvalidChar, "NUL byte in the input"},
    {Msg::CharRef, Error::InvalidChar, "character reference to a character XML does not allow"},
    {Msg::TokenTooLarge, Error::Limit, "text or markup larger than the 1 GiB limit"},
    {Msg::NameTooLong, Error::Limit, "name longer than the 16 MiB limit"},
    {Msg::DeclarationTooLong, Error::UnsupportedEncoding,
     "XML declaration longer than the 4096-character limit"},
    {Msg::EncodingNameTooLong, Error::UnsupportedEncoding,
     "encoding name longer than the 64-character limit"},
};
static_assert(std::size(kLines) == size_t(Msg::Count), "one line per message");
static_assert(limits::kMaxDeclaration == 4096 && limits::kMaxEncodingName == 64 &&
                  limits::kMaxToken == size_t(1) << 30 && limits::kMaxName == size_t(16) << 20,
              "the messages name the limits");

// The class's own message, when nothing finer is known.
const char* classText(Error e) {
  switch (e) {
    case Error::None: return "no error";
    case Error::Syntax: return "syntax error";
    case Error::InvalidChar: return "character not allowed in XML";
    case Error::Encoding: return "bytes not valid in the document's encoding";
    case Error::UnsupportedEncoding: return "unsupported encoding";
    case Error::UnexpectedEnd: return "unexpected end of input";
    case Error::TagMismatch: return "end tag does not match start tag";
    case Error::DuplicateAttribute: return "duplicate attribute";
    case Error::Namespace: return "namespace constraint violated";
    case Error::UndeclaredEntity: return "undefined entity";
    case Error::EntityRecursion: return "recursive entity reference";
    case Error::EntityLimit: return "entity expansion limit exceeded";
    case Error::DepthLimit: return "element depth limit exceeded";
    case Error::DtdProhibited: return "document type declaration not allowed";
    case Error::Stream: return "the input stream failed";
    case Error::OutOfMemory: return "out of memory";
    case Error::NoInput: return "no input";
    case Error::Limit: return "size limit exceeded";
  }
  return "error";
}

constexpr size_t kMaxDetail = 120;  // bytes of a name shown in a message

}  // namespace

Error errorOf(Msg m) { return kLines[size_t(m)].cls; }

std::string errorText(Error e, Msg m, std::string_view detail) {
  if (m == Msg::None || size_t(m) >= size_t(Msg::Count)) return classText(e);
  std::string out;
  for (const char* p = kLines[size_t(m)].text; *p; ++p) {
    if (p[0] != '%' || p[1] != 's') {
      out += *p;
      continue;
    }
    ++p;
    if (detail.size() <= kMaxDetail) {
      out.append(detail);
      continue;
    }
    // Cut on a character boundary.
    size_t n = kMaxDetail;
    while (n > 0 && (static_cast<unsigned char>(detail[n]) & 0xC0) == 0x80) --n;
    out.append(detail.substr(0, n));
    out += "...";
  }
  return out;
}

}  // namespace twxml::xmlcore
