// Names and character data of the library's own DOM read in place (see
// twxml/platform/msxml_internal.h) and given in the narrow forms the node
// object hands out. With the thread's code page UTF-8 the stored UTF-8 is
// that form already (the conversion would give exactly it: stored text is
// well formed and holds no zero); otherwise it is widened and converted as
// the DOM's BSTR would be.
#pragma once

#include <optional>

#include "dom_support.h"
#include "twxml/document.h"
#include "twxml/platform/msxml_internal.h"

namespace twxml_dom {

// A node's name (what GetNameBstr gives) as narrow text for the length of a
// call: read from the record when the node is the library's own and its
// GetNameBstr is KxXMLNodeImpl's; otherwise GetNameBstr is called through the
// table.
class NarrowName {
 public:
  NarrowName(KxXMLNode* node, IXMLDOMNode* domNode);
  ~NarrowName();
  NarrowName(const NarrowName&) = delete;
  NarrowName& operator=(const NarrowName&) = delete;
  // Whether GetNameBstr gives a name at all.
  bool present() const { return present_; }
  // The narrow name; null when it has no narrow form.
  char* get() const { return utf8_ ? utf8_ : wide_ ? wide_->get() : nullptr; }

 private:
  bool present_ = false;
  BSTR owned_ = nullptr;
  char* utf8_ = nullptr;
  LocalBuffer<char, 256> copy_;
  std::optional<NarrowText> wide_;
};

// Record i's text into a caller's buffer as StrNCopyRTrimV copies its narrow
// form: cut to size - 1 bytes, zero-terminated, trailing blanks dropped.
// False when memory for a conversion cannot be had.
bool CopyTrimmed(const twdom::NodeRecord& node, uint32_t i, char* buffer, unsigned int size);

// GetValuePsz's narrow form of a text: with k its UTF-16 length, into the
// buffer when k is below size (as VarCnvBStrToStrBufF), otherwise a new copy
// (as VarCnvBStrToStrF); the buffer when the copy cannot be made. text may be
// null (nothing to convert: the buffer).
char* ValueText(const WCHAR* text, size_t k, char* buffer, unsigned int size);
// The same for record i's text.
char* ValueText(const twdom::NodeRecord& node, uint32_t i, char* buffer, unsigned int size);

// GetNameBstr's text into a caller's buffer as VarCnvBStrToStrBufF puts it,
// with its status (TWXML_E_NOTFOUND, nothing written, when the node gives no
// name). A UTF-8 thread gets the library's own names from their records,
// without a BSTR.
int NameIntoBuffer(KxXMLNode* node, char* buffer, unsigned int size);

// Record i's text as zero-terminated UTF-16 for the length of a call; null
// when memory for it cannot be had.
class RecordText {
 public:
  RecordText(const twdom::NodeRecord& node, uint32_t i);
  WCHAR* get() const { return ok_ ? buffer_.get() : nullptr; }
  size_t units() const { return units_; }

 private:
  size_t units_ = 0;
  LocalBuffer<WCHAR, 512> buffer_;
  bool ok_ = false;
};

}  // namespace twxml_dom
