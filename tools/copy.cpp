// twxml copy: a document read and written again, node by node through the
// streaming engine or loaded and saved whole through the document engine.
#include <iconv.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "cli.h"
#include "diagnosis.h"
#include "engines.h"
#include "files.h"
#include "text.h"

namespace twxml_cli {

namespace {

struct CopyOptions {
  bool dom = false;
  bool indent = false;
  std::string encoding;  // empty: the document's own
};

bool KnownEncoding(const std::string& name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

// The encoding a declaration names, or empty.
std::string DeclaredEncoding(IXmlReader* reader) {
  std::string name;
  if (reader->MoveToAttributeByName(u"encoding", nullptr) == S_OK) {
    LPCWSTR value = nullptr;
    if (reader->GetValue(&value, nullptr) == S_OK) name = Utf8(value);
  }
  reader->MoveToElement();
  return name;
}

// Reports why a copy failed: the output, the writer or the input.
void ReportCopyFailure(Input& in, Output& out, IXmlReader* reader, HRESULT hr) {
  std::string lost = out.WriteFailure();
  if (!lost.empty()) {
    ReportError(out.name(), "cannot write: " + lost);
  } else {
    ReportError(in.name(), ReaderProblem(reader, hr));
  }
}

// A copy without the references the engine could not expand would pass for
// the whole document: it is refused instead.
bool LostReferences(Input& in, IUnknown* engine) {
  Problem p;
  if (!SkippedReferences(engine, &p)) return false;
  p.message += "; a copy would lose it";
  ReportError(in.name(), p);
  return true;
}

bool CopyStreaming(Input& in, Output& out, const CopyOptions& o) {
  std::string error;
  Ref<IXmlReader> reader = NewReader(&error);
  Ref<IXmlWriter> writer = reader ? NewWriter(&error) : Ref<IXmlWriter>();
  if (!writer) {
    ReportError(in.name(), error);
    return false;
  }
  Ref<IStream> source(in.Stream());
  reader->SetInput(source.get());
  XmlNodeType type;
  HRESULT hr = reader->Read(&type);
  if (hr != S_OK) {
    ReportError(in.name(), ReaderProblem(reader.get(), hr == S_FALSE ? WC_E_ROOTELEMENT : hr));
    return false;
  }
  // The copy keeps the document's encoding unless told otherwise.
  std::string encoding = o.encoding;
  if (encoding.empty() && type == XmlNodeType_XmlDeclaration) encoding = DeclaredEncoding(reader.get());
  Ref<IStream> target(out.Stream());
  Ref<IUnknown> output;
  if (!encoding.empty() && FAILED(NewWriterOutput(target.get(), Widen(encoding), &output))) {
    if (!o.encoding.empty()) {
      ReportError(out.name(), "the writer cannot produce the encoding '" + encoding + "'");
      return false;
    }
    ReportNote(in.name(), "the writer cannot produce the document's encoding '" + encoding +
                              "'; the copy is in UTF-8");
  }
  if (!output) target->QueryInterface(IID_IUnknown, output.outVoid());
  writer->SetProperty(XmlWriterProperty_Indent, o.indent ? TRUE : FALSE);
  writer->SetOutput(output.get());
  // A copy always starts with a declaration naming its encoding.
  if (type != XmlNodeType_XmlDeclaration) hr = writer->WriteStartDocument(XmlStandalone_Omit);
  while (hr == S_OK) hr = writer->WriteNode(reader.get(), TRUE);
  if (hr == S_FALSE) hr = writer->WriteEndDocument();
  if (SUCCEEDED(hr)) hr = writer->Flush();
  if (FAILED(hr)) {
    ReportCopyFailure(in, out, reader.get(), hr);
    return false;
  }
  writer.reset();
  return !LostReferences(in, reader.get());
}

// The declaration the saved document starts with: the given encoding, or
// the document's own (UTF-8 when it has none), its standalone kept.
HRESULT Declare(IXMLDOMDocument* document, const std::string& encoding) {
  Ref<IXMLDOMNode> first;
  document->get_firstChild(first.out());
  std::string data, standalone;
  bool hasDeclaration = false;
  if (first) {
    DOMNodeType type = NODE_INVALID;
    BSTR name = nullptr;
    first->get_nodeType(&type);
    first->get_nodeName(&name);
    hasDeclaration = type == NODE_PROCESSING_INSTRUCTION && name && Utf8(name) == "xml";
    SysFreeString(name);
    if (hasDeclaration) {
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(first->get_nodeValue(&value)) && value.vt == VT_BSTR) data = Utf8(value.bstrVal);
      VariantClear(&value);
    }
  }
  if (hasDeclaration && encoding.empty()) return S_OK;
  size_t at = data.find("standalone");
  if (at != std::string::npos) standalone = " " + data.substr(at);
  std::u16string text = Widen("version='1.0' encoding='" + (encoding.empty() ? "UTF-8" : encoding) +
                              "'" + standalone);
  BSTR target = SysAllocString(u"xml");
  BSTR body = SysAllocString(text.c_str());
  Ref<IXMLDOMProcessingInstruction> pi;
  HRESULT hr = document->createProcessingInstruction(target, body, pi.out());
  SysFreeString(target);
  SysFreeString(body);
  if (FAILED(hr)) return hr;
  Ref<IXMLDOMNode> node, replaced;
  if (FAILED(hr = pi->QueryInterface(IID_IXMLDOMNode, node.outVoid()))) return hr;
  if (hasDeclaration) return document->replaceChild(node.get(), first.get(), replaced.out());
  VARIANT before;
  VariantInit(&before);
  before.vt = VT_UNKNOWN;
  before.punkVal = first.get();
  return document->insertBefore(node.get(), before, replaced.out());
}

bool CopyDom(Input& in, Output& out, const CopyOptions& o) {
  std::string error;
  Ref<IXMLDOMDocument> document = NewDomDocument(&error);
  if (!document) {
    ReportError(in.name(), error);
    return false;
  }
  Ref<IStream> source(in.Stream());
  HRESULT hr = LoadDom(document.get(), source.get());
  if (FAILED(hr)) {
    ReportError(in.name(), DomProblem(document.get(), hr));
    return false;
  }
  if (LostReferences(in, document.get())) return false;
  if (FAILED(hr = Declare(document.get(), o.encoding))) {
    ReportError(in.name(), "the declaration could not be set: " + MessageFor(hr));
    return false;
  }
  Ref<IStream> target(out.Stream());
  VARIANT destination;
  VariantInit(&destination);
  destination.vt = VT_UNKNOWN;
  destination.punkVal = target.get();
  hr = document->save(destination);
  if (FAILED(hr)) {
    std::string lost = out.WriteFailure();
    ReportError(out.name(), lost.empty() ? "cannot save: " + MessageFor(hr) : "cannot write: " + lost);
    return false;
  }
  return true;
}

bool CopyOne(const std::string& from, const std::string& to, const CopyOptions& o) {
  Input in;
  Output out;
  std::string error;
  if (!in.Open(from)) return false;
  if (!out.Open(to, &error)) {
    ReportError(to, "cannot write: " + error);
    return false;
  }
  // A copy that fails leaves the target as it was (Output's destructor).
  if (!(o.dom ? CopyDom(in, out, o) : CopyStreaming(in, out, o))) return false;
  if (!out.Commit(&error)) {
    ReportError(out.name(), "cannot write: " + error);
    return false;
  }
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int RunCopy(const std::vector<std::string>& args) {
  Arguments a;
  int status = kExitUsage;
  if (!ParseArguments("copy", args, {"dom", "indent", "encoding"}, &a, &status)) return status;
  if (a.operands.size() < 2) return UsageError("copy", "needs IN and OUT");
  const std::string last = a.operands.back();
  const bool folder = IsFolder(last);
  if (a.operands.size() > 2 && !folder) {
    return UsageError("copy", "several files are copied into a folder, and '" + last + "' is none");
  }
  if (a.hasEncoding && !KnownEncoding(a.encoding)) {
    return UsageError("copy", "unknown encoding '" + a.encoding + "'");
  }
  CopyOptions o;
  o.dom = ChooseDom("copy", a.dom);
  o.indent = a.indent;
  o.encoding = a.encoding;
  if (o.dom && o.indent) ReportNotice("copy", "--indent has no effect on the document engine");
  int result = kExitOk;
  std::set<std::string> written;
  for (size_t i = 0; i + 1 < a.operands.size(); ++i) {
    const std::string& from = a.operands[i];
    std::string to = last;
    if (folder) {
      if (from == "-") {
        ReportError("<stdin>", "standard input has no name to copy into '" + last + "' under");
        result = kExitBad;
        continue;
      }
      to = last + "/" + from.substr(from.rfind('/') + 1);
    }
    if (!written.insert(to).second) {
      ReportError(from, "not copied: '" + to + "' holds the copy of an earlier file");
      result = kExitBad;
      continue;
    }
    if (!CopyOne(from, to, o)) result = kExitBad;
  }
  if (!FinishStdout()) result = kExitBad;
  return result;
}

}  // namespace twxml_cli
