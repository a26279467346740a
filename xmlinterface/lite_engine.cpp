// XmlInterface over the handle functions of the streaming module.
#include "lite_engine.h"

#include <charconv>
#include <climits>

#include "twxml/handles.h"

namespace twxml_detail {

int LeadingNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulate as a negative number so INT_MIN is reachable; saturate beyond.
  long long acc = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  bool saturated = false;
  while (*p >= '0' && *p <= '9') {
    if (!saturated) {
      acc = acc * 10 + (*p - '0');
      if (acc > limit) {
        acc = limit;
        saturated = true;
      }
    }
    ++p;
  }
  return static_cast<int>(negative ? -acc : acc);
}

void IntToText(int value, char* out) {
  auto result = std::to_chars(out, out + 12, value);
  *result.ptr = '\0';
}

}  // namespace twxml_detail

XmlInterfaceToLite::XmlInterfaceToLite(_XmlLiteReaderS* reader)
    : readerHandle(reader), writerHandle(nullptr) {}

XmlInterfaceToLite::XmlInterfaceToLite(_XmlLiteWriterS* writer)
    : readerHandle(nullptr), writerHandle(writer) {}

XmlInterfaceToLite::~XmlInterfaceToLite() {
  if (readerHandle != nullptr) {
    XmlLiteCloseReaderF(readerHandle);
    readerHandle = nullptr;
  }
  // Closing the writer ends and flushes its document.
  if (writerHandle != nullptr) {
    XmlLiteCloseWriterF(writerHandle);
    writerHandle = nullptr;
  }
}

bool XmlInterfaceToLite::ReadElemB(bool peek) {
  return (peek ? XmlLitePeekElemF(readerHandle) : XmlLiteReadElemF(readerHandle)) == 0;
}

bool XmlInterfaceToLite::EndElemB() {
  if (readerHandle != nullptr) return XmlLiteReadEndElemF(readerHandle) == 0;
  return XmlLiteWriteEndElemF(writerHandle) == 0;
}

bool XmlInterfaceToLite::GetElemNameToBufB(char* buffer, unsigned int size) {
  return XmlLiteGetElemNameToBufF(readerHandle, buffer, size) == 0;
}

bool XmlInterfaceToLite::GetAttrValueToBufB(char* name, char* buffer, unsigned int size) {
  return XmlLiteGetAttrValueToBufF(readerHandle, name, buffer, size) == 0;
}

bool XmlInterfaceToLite::GetAttrValueToIntB(char* name, int* value) {
  char scratch[256];
  if (XmlLiteGetAttrValueToBufF(readerHandle, name, scratch, sizeof scratch) != 0) return false;
  if (value != nullptr) *value = twxml_detail::LeadingNumber(scratch);
  return true;
}

bool XmlInterfaceToLite::GetElemValueToBufB(char* buffer, unsigned int size) {
  return XmlLiteGetElemValueToBufF(readerHandle, buffer, size) == 0;
}

bool XmlInterfaceToLite::SkipLevelB() { return XmlLiteSkipLevelF(readerHandle) == 0; }

bool XmlInterfaceToLite::WriteStartElemNsB(char* prefix, char* name, char* namespaceUri) {
  return XmlLiteWriteStartElemF(writerHandle, prefix, name, namespaceUri) == 0;
}

bool XmlInterfaceToLite::WriteStartElemB(char* name) {
  return XmlLiteWriteStartElemF(writerHandle, nullptr, name, nullptr) == 0;
}

bool XmlInterfaceToLite::WriteAttrNsB(char* prefix, char* name, char* namespaceUri,
                                      char* value) {
  return XmlLiteWriteAttrF(writerHandle, prefix, name, namespaceUri, value) == 0;
}

bool XmlInterfaceToLite::WriteAttrB(char* name, char* value) {
  return XmlLiteWriteAttrF(writerHandle, nullptr, name, nullptr, value) == 0;
}

bool XmlInterfaceToLite::WriteIntAttrNsB(char* prefix, char* name, char* namespaceUri,
                                         int value) {
  char text[13];
  twxml_detail::IntToText(value, text);
  return XmlLiteWriteAttrF(writerHandle, prefix, name, namespaceUri, text) == 0;
}

bool XmlInterfaceToLite::WriteIntAttrB(char* name, int value) {
  char text[13];
  twxml_detail::IntToText(value, text);
  return XmlLiteWriteAttrF(writerHandle, nullptr, name, nullptr, text) == 0;
}

bool XmlInterfaceToLite::WriteValueB(char* text) {
  return XmlLiteWriteValueF(writerHandle, text) == 0;
}

char* XmlInterfaceToLite::AllocMemP(unsigned int* size) {
  char* copy = nullptr;
  unsigned int length = 0;
  if (XmlLiteGetMemF(writerHandle, &copy, &length) != 0) return nullptr;
  if (size != nullptr) *size = length;
  return copy;
}

// The handle writes as it goes; there is nothing to finish early.
void XmlInterfaceToLite::FlushV() {}
