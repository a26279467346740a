// xmlcore: streaming, non-validating XML 1.0 (fifth edition) + Namespaces 1.0
// pull parser. Input is pulled in chunks from a byte-source callback and
// decoded to UTF-8; every string the parser hands out is UTF-8 and stays
// valid until the next call to next(). Names (of elements, attributes,
// targets) have at least sixteen readable bytes from their start, so a
// caller may load a short one whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "twxml/platform/utf.h"

namespace twxml::xmlcore {

enum class NodeType : uint8_t {
  None = 0,
  Element = 1,
  Attribute = 2,
  Text = 3,
  CData = 4,
  ProcessingInstruction = 7,
  Comment = 8,
  DocumentType = 10,
  Whitespace = 13,
  EndElement = 15,
  XmlDeclaration = 17,
};

// Error classes; the reader maps each onto its own failure code.
enum class Error : uint8_t {
  None = 0,
  Syntax,          // markup does not match the grammar
  InvalidChar,     // a character outside the allowed ranges
  Encoding,        // bytes not valid in the document's encoding
  UnsupportedEncoding,
  UnexpectedEnd,   // input ended inside the document
  TagMismatch,     // end tag does not match start tag
  DuplicateAttribute,
  Namespace,       // namespace constraint violated
  UndeclaredEntity,
  EntityRecursion,
  EntityLimit,     // entity expansion limits exceeded
  DepthLimit,      // MaxElementDepth exceeded
  DtdProhibited,
  Stream,          // the byte source failed
  OutOfMemory,
  NoInput,
  Limit,           // a token or name larger than the parser takes
};

// What went wrong, finer than the class: each has one line in the message
// table (messages.cpp) and belongs to one Error class. None stands for the
// class's own message.
enum class Msg : uint8_t {
  None,
  TwoRoots,
  TextOutsideRoot,
  NoRoot,
  UnquotedValue,
  CommentDashes,
  CDataEndInText,
  UndefinedEntity,
  DuplicateAttribute,
  TagMismatch,
  UndeclaredPrefix,
  EntityRecursion,
  DefaultsTooLarge,
  InvalidUtf8,
  InvalidUtf16,
  InvalidBytes,
  EncodingMismatch,
  UnsupportedEncoding,
  EncodingRefused,
  NulByte,
  CharRef,
  TokenTooLarge,
  NameTooLong,
  DeclarationTooLong,
  EncodingNameTooLong,
  Count
};

// The class a message belongs to.
Error errorOf(Msg m);
// The message text, with detail (a name, an encoding) put in where the
// message names one; detail is cut to a readable length.
std::string errorText(Error e, Msg m, std::string_view detail);

// Reads up to n bytes into buf. Returns the count read (0 = end of input)
// or a negative value when the source failed.
using ReadFn = long (*)(void* ctx, void* buf, size_t n);

struct Str {
  const char* p = "";
  uint32_t n = 0;
  std::string_view view() const { return {p, n}; }
};

struct Attribute {
  Str qname;
  Str prefix;
  Str local;
  Str ns;
  Str value;
  bool isDefault = false;
  uint32_t offset = 0;  // stream offset of the name, for line/column
};

struct Options {
  bool prohibitDtd = false;
  uint32_t maxElementDepth = 0;            // 0 = unlimited
  uint32_t maxEntityExpansion = 100000;    // 0 = unlimited
  // Largest token (a text run, a tag, a comment, the internal subset); the
  // default is limits::kMaxToken, smaller values serve tests.
  size_t maxTokenBytes = size_t(1) << 30;
};

// Takes the nodes of a document as Parser::run parses them, each while the
// Parser's accessors describe it. A false answer stops the run.
class Sink {
 public:
  virtual bool startElement() = 0;
  virtual bool endElement() = 0;
  virtual bool text() = 0;   // Text and Whitespace
  virtual bool other() = 0;  // every other kind: type() tells which

 protected:
  ~Sink() = default;
};

class Parser {
 public:
  Parser();
  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Starts over on a new input; options are taken as they are now.
  void reset(ReadFn fn, void* ctx);
  Options& options();

  // Advances to the next node. 1 = a node, 0 = end of input, -1 = error
  // (and every later call answers -1 again).
  int next();
  // Parses the rest of the input and hands each node to sink in place of
  // returning it: for callers that take every node, it spares them a
  // dispatch on the type per node. 0 = end of input, -1 = error (as next),
  // 1 = the sink stopped the run.
  int run(Sink& sink);

  NodeType type() const { return v_->type; }
  Str qname() const { return v_->qname; }
  Str prefix() const { return v_->prefix; }
  Str localName() const { return v_->local; }
  Str namespaceUri() const { return v_->ns; }
  Str value() const { return v_->value; }
  bool isEmptyElement() const { return v_->empty; }
  uint32_t depth() const { return v_->depth; }
  uint32_t attributeCount() const { return v_->nattrs; }
  const Attribute& attribute(uint32_t i) const { return v_->attrs[i]; }
  // Line (1-based) and column (1-based, in characters) of the node start,
  // or of the given attribute.
  void position(uint32_t* line, uint32_t* col) const;
  void attributePosition(uint32_t i, uint32_t* line, uint32_t* col) const;
  bool eof() const;

  Error error() const;
  uint32_t errorLine() const;
  uint32_t errorColumn() const;
  // The failure as text from the message table (empty without failure).
  const std::string& errorMessage() const;

  // The attribute of the current element with this local name (UTF-8) in
  // namespace ns (null: in no namespace), or -1. Constant time per call on
  // wide elements: an index is built on the first look-up.
  int findAttribute(std::string_view local, const std::string_view* ns);

  // While set, the next steps pass over white space (text of white space
  // only) and comments instead of reporting them: for callers that would
  // drop them anyway. Everything is parsed and checked the same.
  void passOver(bool whitespace, bool comments);

  // Hash probes and comparisons made by namespace resolution, the
  // duplicate-attribute check and findAttribute since reset: tests bound
  // this work on wide documents instead of timing it.
  uint64_t lookupProbes() const;

  // References this processor left unexpanded since reset (an external
  // entity, or one only the external subset may declare): how many, and the
  // name and position of the first. Callers that copy a document use it to
  // avoid passing off an incomplete copy as whole.
  uint64_t skippedReferences(std::string* first, uint32_t* line, uint32_t* col) const;

 private:
  struct Impl;
  // The current node, kept where the accessors (inline) read it.
  struct View {
    NodeType type = NodeType::None;
    bool empty = false;
    uint32_t depth = 0;
    uint32_t nattrs = 0;
    Str qname, prefix, local, ns, value;
    const Attribute* attrs = nullptr;
  };
  const View* v_ = nullptr;
  std::unique_ptr<Impl> d;
};

// UTF-8 to UTF-16 conversion of text the parser produced (always valid).
// out must hold n units; returns units written (no terminator added).
inline size_t utf8ToUtf16(const char* s, size_t n, char16_t* out) {
  return twxml::utf::Utf8ToUtf16(s, n, out);
}

}  // namespace twxml::xmlcore
