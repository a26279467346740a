// Uses a few exported names of each kind through the umbrella header.
#include <twxml/twxml.h>

#include <cstdio>
#include <cstring>

int main() {
  int status = -1;
  KxStream* out = StreamCreateMemStreamP(nullptr, 32768, "", 1, 1, &status);
  if (out == nullptr || status != 0) return 1;
  const char text[] = "<greeting>caf\xC3\xA9</greeting>";
  if (out->WriteF(const_cast<char*>(text), sizeof text - 1) != 0) return 2;
  char* copy = out->AllocMemP(nullptr);
  delete out;
  if (copy == nullptr || std::strcmp(copy, text) != 0) return 3;
  MemFreeF(copy);

  BSTR wide = SysAllocString(u"caf\u00e9");
  char narrow[16];
  if (VarCnvBStrToStrBufF(wide, narrow, sizeof narrow) != 0) return 4;
  SysFreeString(wide);
  if (std::strcmp(narrow, "caf\xC3\xA9") != 0) return 5;

  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) return 6;
  CoUninitialize();
  std::printf("ok %s\n", narrow);
  return 0;
}
