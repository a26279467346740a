// The element job for parsers that push events: what a caller of such a
// parser writes to get what the handle interface hands out. Names and the
// known attribute values go into caller buffers; character data is gathered
// into a buffer (the parser hands it out in pieces) and taken as one text
// when markup ends it, unless it is only blanks.
#pragma once

#include "engines.h"

namespace twbench {

class ElementJob {
 public:
  ElementJob(Result& r, bool verify) : r_(r), verify_(verify) {}

  // An element starts: returns the attribute names to look for.
  const char* const* element(const char* localName) {
    flush();
    ++r_.work.elements;
    copyToBuffer(localName, name_, sizeof name_);
    r_.touched += static_cast<unsigned char>(name_[0]);
    return knownAttributes(name_);
  }

  void attribute(const char* value, size_t n) {
    ++r_.work.attributes;
    r_.work.attrBytes += copyToBuffer(value, n, value_, sizeof value_);
    r_.touched += static_cast<unsigned char>(value_[0]);
  }

  void characters(const char* s, size_t n) {
    if (n > sizeof text_ - 1 - textLen_) n = sizeof text_ - 1 - textLen_;
    std::memcpy(text_ + textLen_, s, n);
    textLen_ += n;
  }

  // Markup other than character data ends the text gathered so far.
  void flush() {
    if (textLen_ == 0) return;
    text_[textLen_] = 0;
    if (!allBlank(text_, textLen_)) {
      r_.work.textBytes += textLen_;
      r_.touched += static_cast<unsigned char>(text_[0]);
    }
    textLen_ = 0;
  }

  bool verify() const { return verify_; }

 private:
  Result& r_;
  bool verify_;
  char name_[256];
  char value_[4096];
  char text_[4096];
  size_t textLen_ = 0;
};

}  // namespace twbench
