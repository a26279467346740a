// Uses each face of the installed library through the umbrella header: the
// kernel services, the platform calls callers need, the handle functions
// (which load the streaming module installed next to the library), the
// document classes and XmlInterface.
#include <twxml/twxml.h>

#include <cstdio>
#include <cstring>

static_assert(TWXML_VERSION_MAJOR == 8, "the version header belongs to this library");

int main() {
  int status = -1;
  KxStream* out = StreamCreateMemStreamP(nullptr, 32768, "", 1, 1, &status);
  if (out == nullptr || status != 0) return 1;
  char text[] = "<greeting lang='fr'>caf\xC3\xA9</greeting>";
  if (out->WriteF(text, sizeof text - 1) != 0) return 2;
  char* copy = out->AllocMemP(nullptr);
  if (copy == nullptr || std::strcmp(copy, text) != 0) return 3;
  MemFreeF(copy);

  BSTR wide = SysAllocString(u"caf\u00e9");
  char narrow[16];
  if (VarCnvBStrToStrBufF(wide, narrow, sizeof narrow) != TWXML_OK) return 4;
  SysFreeString(wide);
  if (std::strcmp(narrow, "caf\xC3\xA9") != 0) return 5;

  // The handle functions: the installed library finds its module.
  if (!XmlLiteIsDllFoundB()) return 6;
  _XmlLiteReaderS* reader = XmlLiteCreateMemReaderH(text);
  char lang[8];
  if (XmlLiteReadElemF(reader) != TWXML_OK ||
      XmlLiteGetAttrValueToBufF(reader, "lang", lang, sizeof lang) != TWXML_OK) {
    return 7;
  }
  XmlLiteCloseReaderF(reader);

  // The document classes and XmlInterface's document engine need COM.
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 8;
  KxXMLParser* parser = XmlGetParserP();
  KxStream* in = StreamCreateMemStreamP(text, sizeof text - 1, "", 0, 0, &status);
  if (parser == nullptr || in == nullptr || parser->LoadFromStreamF(in) != TWXML_OK) return 9;
  delete in;
  KxXMLNode* root = parser->GetRootElementP();
  char value[16];
  if (root == nullptr || root->GetValuePsz(value, sizeof value) == nullptr) return 10;
  delete root;
  delete parser;
  delete out;

  XmlInterface* xml = nullptr;
  if (XmlInterface::CreateReaderFromMemF(text, sizeof text - 1, &xml, true) != 0) return 11;
  char name[16];
  const bool ok = xml->SelectElemB() && xml->GetElemNameToBufB(name, sizeof name);
  delete xml;
  if (!ok) return 12;
  CoUninitialize();
  std::printf("%s %s %s %s %s\n", TWXML_VERSION_STRING, narrow, lang, value, name);
  return 0;
}
