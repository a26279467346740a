// A short tour of the library's support services and, when the streaming
// module is there, of the handle interface: builds a small document, saves it
// to a file (argv[1], or a temporary file), reads it back and walks it.
#include <twxml/twxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "kernel_tour: %s failed\n", what);
  return 1;
}

// Walks the elements below the current one, printing their names indented.
void Walk(_XmlLiteReaderS* reader, int depth) {
  char name[64];
  char id[32];
  while (XmlLiteReadElemF(reader) == TWXML_OK) {
    XmlLiteGetElemNameToBufF(reader, name, sizeof name);
    const bool hasId = XmlLiteGetAttrValueToBufF(reader, "id", id, sizeof id) == TWXML_OK;
    std::printf("%*s<%s>%s%s\n", depth * 2, "", name, hasId ? " id=" : "", hasId ? id : "");
    Walk(reader, depth + 1);
    XmlLiteReadEndElemF(reader);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // 1. Build the text with the kernel's growable buffer.
  StringBuilder text(32768);
  const char* head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog>\n";
  text.Append(head, static_cast<unsigned>(std::strlen(head)));
  for (int i = 1; i <= 3; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "  <book id=\"b%d\"><title>Volume %d</title></book>\n", i, i);
    text.Append(line, static_cast<unsigned>(std::strlen(line)));
  }
  text.Append("</catalog>\n", 11);
  char* doc = text.AllocText(true);
  if (doc == nullptr) return Fail("AllocText");

  // 2. Save it through a file stream and read it back.
  std::string path = argc > 1 ? argv[1] : "/tmp/twxml-kernel-tour-" + std::to_string(getpid()) + ".xml";
  KxStream* out = StreamCreateFileStreamP(path.c_str(), 0, 2, 0);
  if (out == nullptr) return Fail("StreamCreateFileStreamP (write)");
  out->WriteF(doc, text.GetLength());
  delete out;
  KxStream* in = StreamCreateFileStreamP(path.c_str(), 0, 0, 0);
  if (in == nullptr) return Fail("StreamCreateFileStreamP (read)");
  std::string back(in->GetContentSizeUl(), '\0');
  const int rc = in->ReadF(back.data(), static_cast<unsigned>(back.size()));
  delete in;
  if (rc != 0 || back != doc) return Fail("reading back");
  std::printf("wrote and re-read %zu bytes: %s\n", back.size(), path.c_str());
  MemFreeF(doc);

  // 3. Wide text to narrow text, cut on a character boundary when too long.
  char small[8];
  const int cut = VarCnvBStrToStrBufF(u"Gr\u00fc\u00dfe \U0001F600", small, sizeof small);
  std::printf("converted into 8 bytes: \"%s\" (status %d)\n", small, cut);

  // 4. Walk the document with the handle interface when the module loads.
  if (!XmlLiteIsDllFoundB()) {
    std::printf("streaming module not found: skipping the walk\n");
  } else {
    _XmlLiteReaderS* reader = XmlLiteCreateFileReaderH(path.c_str());
    if (reader == nullptr) return Fail("XmlLiteCreateFileReaderH");
    Walk(reader, 0);
    XmlLiteCloseReaderF(reader);
  }
  if (argc <= 1) unlink(path.c_str());
  return 0;
}
