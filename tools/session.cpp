// Opening a document for an element-by-element walk, and what to say when
// the walk cannot go on.
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace twxml_cli {

void EnsureCom() {
  static thread_local bool done = false;
  if (!done) {
    done = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  }
}

bool ChoosesDom(const std::string& command, bool forceDom) {
  if (forceDom) return true;
  if (XmlLiteIsDllFoundB()) return false;
  std::fprintf(stderr, "twxml: %s: the streaming module is not available; using the document engine\n",
               command.c_str());
  return true;
}

int OpenSession(const std::string& command, const std::string& path, bool forceDom,
                ReaderSession* session) {
  std::string error;
  if (!Readable(path.c_str(), &error)) {
    std::fprintf(stderr, "twxml: %s: %s: cannot read: %s\n", command.c_str(), path.c_str(),
                 error.c_str());
    return kExitBad;
  }
  EnsureCom();
  session->dom = ChoosesDom(command, forceDom);
  int status = XmlInterface::CreateReaderFromFileF(const_cast<char*>(path.c_str()),
                                                   &session->reader, forceDom);
  if (status == TWXML_E_NOTFOUND && session->dom) {
    std::fprintf(stderr, "twxml: %s: the document engine is not available\n", command.c_str());
    return kExitUsage;
  }
  if (status != 0) {
    if (session->dom) {
      Diagnosis d = CheckWithDom(path.c_str());
      if (!d.wellFormed) {
        std::fprintf(stderr, "%s\n", Describe(path.c_str(), d).c_str());
        return kExitBad;
      }
    }
    std::fprintf(stderr, "twxml: %s: %s: cannot open a reader (status %d)\n", command.c_str(),
                 path.c_str(), status);
    return kExitBad;
  }
  session->cursor = session->dom ? OpenDomCursor(path.c_str(), &error)
                                 : OpenReaderCursor(path.c_str(), &error);
  if (!session->cursor) {
    std::fprintf(stderr, "twxml: %s: %s\n", command.c_str(), error.c_str());
    return kExitBad;
  }
  return kExitOk;
}

int ReportWalkFailure(const std::string& command, const std::string& path, bool dom, bool stuck) {
  Diagnosis d = dom ? CheckWithDom(path.c_str()) : CheckWithReader(path.c_str());
  if (!d.wellFormed) {
    std::fprintf(stderr, "%s\n", Describe(path.c_str(), d).c_str());
  } else if (stuck) {
    std::fprintf(stderr,
                 "twxml: %s: %s: the streaming engine does not step over a processing "
                 "instruction, CDATA section or document type declaration here (try --dom)\n",
                 command.c_str(), path.c_str());
  } else {
    std::fprintf(stderr, "twxml: %s: %s: the walk was interrupted\n", command.c_str(),
                 path.c_str());
  }
  return kExitBad;
}

std::string AttributeValue(XmlInterface& x, bool dom, const AttrInfo& a, char* buffer) {
  // The streaming engine looks attributes up by local name in no namespace.
  bool askEngine = dom || (a.ns.empty() && a.prefix.empty());
  if (askEngine) {
    const std::string& name = dom ? a.qname : a.local;
    if (x.GetAttrValueToBufB(const_cast<char*>(name.c_str()), buffer, kValueBufferSize)) {
      return buffer;
    }
  }
  return a.value;
}

bool SameElement(const char* engineName, bool dom, const ElemInfo& info) {
  return (dom ? info.qname : info.local) == engineName;
}

}  // namespace twxml_cli
