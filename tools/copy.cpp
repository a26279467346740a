// twxml copy: read through one engine, write through the XmlInterface writer.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"

namespace twxml_cli {

namespace {

char* C(const std::string& s) { return const_cast<char*>(s.c_str()); }
char* OrNull(const std::string& s) { return s.empty() ? nullptr : C(s); }

const char kXmlnsUri[] = "http://www.w3.org/2000/xmlns/";

class CopySink final : public WalkSink {
 public:
  CopySink(ReaderSession& s, XmlInterface& w, bool domWriter)
      : s_(s), w_(w), domWriter_(domWriter), buffer_(new char[kValueBufferSize]) {}

  bool Enter(XmlInterface& x, int) override {
    char name[4096];
    if (!x.GetElemNameToBufB(name, sizeof name)) name[0] = '\0';
    ElemInfo info;
    if (!s_.cursor->Next(&info)) return false;
    if (!SameElement(name, s_.dom, info)) {
      error_ = "the element structure could not be followed at <" + std::string(name) + ">";
      return false;
    }
    if (!w_.WriteStartElemNsB(OrNull(info.prefix), C(info.local), OrNull(info.ns))) {
      error_ = "the writer refused the element <" + info.qname + ">";
      return false;
    }
    // Declarations first, so the writer does not declare them again.
    for (const AttrInfo& a : info.attrs) {
      if (!a.IsNamespaceDeclaration()) continue;
      std::string value = AttributeValue(x, s_.dom, a, buffer_.get());
      if (a.prefix.empty()) {
        w_.WriteAttrNsB(nullptr, C(a.local), domWriter_ ? nullptr : const_cast<char*>(kXmlnsUri),
                        C(value));
      } else {
        w_.WriteAttrNsB(C(a.prefix), C(a.local), domWriter_ ? nullptr : const_cast<char*>(kXmlnsUri),
                        C(value));
      }
      // A refusal means the writer has declared the namespace itself.
    }
    for (const AttrInfo& a : info.attrs) {
      if (a.IsNamespaceDeclaration()) continue;
      std::string value = AttributeValue(x, s_.dom, a, buffer_.get());
      if (!w_.WriteAttrNsB(OrNull(a.prefix), C(a.local), OrNull(a.ns), C(value))) {
        error_ = "the writer refused the attribute " + a.qname + " of <" + info.qname + ">";
        return false;
      }
    }
    return true;
  }
  bool Value(const char* text, int) override { return Text(text); }
  bool MoreText(const char* text, int) override { return Text(text); }
  bool Leave(int) override {
    if (w_.EndElemB()) return true;
    error_ = "the writer refused to close an element";
    return false;
  }
  const std::string& error() const { return error_; }

 private:
  bool Text(const char* text) {
    if (*text == '\0' || w_.WriteValueB(const_cast<char*>(text))) return true;
    error_ = "the writer refused a text";
    return false;
  }
  ReaderSession& s_;
  XmlInterface& w_;
  bool domWriter_;
  std::unique_ptr<char[]> buffer_;
  std::string error_;
};

bool KnownEncoding(const std::string& name) {
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool WriteAll(FILE* out, const char* data, size_t size) {
  return std::fwrite(data, 1, size, out) == size && std::fflush(out) == 0;
}

}  // namespace

int RunCopy(const std::vector<std::string>& args) {
  Arguments a;
  int status = kExitUsage;
  if (!ParseArguments("copy", args, {"dom", "indent", "encoding"}, &a, &status)) return status;
  if (a.operands.size() != 2) return UsageError("copy", "needs IN and OUT");
  const std::string& in = a.operands[0];
  const std::string& out = a.operands[1];
  if (a.hasEncoding && !KnownEncoding(a.encoding)) {
    return UsageError("copy", "unknown encoding '" + a.encoding + "'");
  }
  if (out != "-" && SameFile(in, out)) return UsageError("copy", "IN and OUT are the same file");

  ReaderSession session;
  status = OpenSession("copy", in, a.dom, &session);
  if (status != kExitOk) return status;
  bool domWriter = session.dom;
  if (domWriter && a.indent) {
    std::fprintf(stderr, "twxml: copy: --indent has no effect on the document engine\n");
  }

  // The streaming engine's file writer always writes UTF-8, so another
  // encoding (and standard output) goes through a memory writer.
  bool toMemory = out == "-" || (a.hasEncoding && !domWriter);
  char* encoding = a.hasEncoding ? C(a.encoding) : nullptr;
  XmlInterface* writer = nullptr;
  if (toMemory) {
    status = XmlInterface::CreateWriterToMemF(&writer, a.indent, a.dom, encoding);
  } else {
    // Learn why a file cannot be written before the factory tries it.
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      std::fprintf(stderr, "twxml: copy: %s: cannot write: %s\n", out.c_str(), std::strerror(errno));
      return kExitBad;
    }
    ::close(fd);
    status = XmlInterface::CreateWriterToFileF(C(out), &writer, a.indent, a.dom, encoding);
  }
  if (status == TWXML_E_NOTFOUND && domWriter) {
    std::fprintf(stderr, "twxml: copy: the document engine is not available\n");
    return kExitUsage;
  }
  if (status != 0 || writer == nullptr) {
    std::fprintf(stderr, "twxml: copy: %s: cannot open a writer (status %d)\n", out.c_str(), status);
    return kExitBad;
  }
  std::unique_ptr<XmlInterface> owned(writer);

  CopySink sink(session, *writer, domWriter);
  bool stuck = false;
  if (!Walk(*session.reader, sink, &stuck)) {
    // No half-copied document is left behind.
    try {
      owned.reset();
    } catch (...) {
    }
    if (out != "-") ::unlink(out.c_str());
    if (!sink.error().empty()) {
      std::fprintf(stderr, "twxml: copy: %s: %s\n", in.c_str(), sink.error().c_str());
      return kExitBad;
    }
    return ReportWalkFailure("copy", in, session.dom, stuck);
  }

  try {
    if (toMemory) {
      unsigned int size = 0;
      char* text = writer->AllocMemP(&size);
      if (text == nullptr) {
        std::fprintf(stderr, "twxml: copy: the document could not be finished\n");
        return kExitBad;
      }
      bool written;
      if (out == "-") {
        written = WriteAll(stdout, text, size);
      } else {
        FILE* f = std::fopen(out.c_str(), "wb");
        written = f != nullptr && WriteAll(f, text, size);
        if (f != nullptr) written = std::fclose(f) == 0 && written;
      }
      MemFreeF(text);
      if (!written) {
        std::fprintf(stderr, "twxml: copy: %s: cannot write: %s\n", out.c_str(), std::strerror(errno));
        return kExitBad;
      }
    } else {
      writer->FlushV();
    }
    owned.reset();  // a file writer's document is complete once it is deleted
  } catch (const _com_error& e) {
    std::string why = Utf8(reinterpret_cast<const WCHAR*>(e.Description().c_str()));
    if (why.empty()) why = e.ErrorMessage();
    std::fprintf(stderr, "twxml: copy: %s: cannot write: %s\n", out.c_str(), why.c_str());
    return kExitBad;
  }
  return kExitOk;
}

}  // namespace twxml_cli
