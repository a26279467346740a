// Shared pieces of the twxml commands: text, file streams, the streaming
// reader module, the DOM, well-formedness diagnosis, element cursors and the
// XmlInterface walk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace twxml_cli {

// ---- Text -------------------------------------------------------------------

std::string Utf8(const WCHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string Utf8(const WCHAR* text) {
  if (text == nullptr) return std::string();
  size_t n = 0;
  while (text[n] != 0) ++n;
  return Utf8(text, n);
}

std::string Trimmed(const std::string& text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0, e = text.size();
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  std::string out;
  out.reserve(e - b);
  for (size_t i = b; i < e;) {
    if (!blank(text[i])) {
      out += text[i++];
      continue;
    }
    size_t j = i;
    bool lineEnd = false;
    while (j < e && blank(text[j])) lineEnd |= text[j] == '\n' || text[j] == '\r', ++j;
    if (lineEnd)
      out += ' ';
    else
      out.append(text, i, j - i);
    i = j;
  }
  return out;
}

// ---- File stream ------------------------------------------------------------

namespace {

class FileStream final : public IStream {
 public:
  explicit FileStream(int fd) : fd_(fd) {}

  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    ULONG done = 0;
    while (done < count) {
      ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        if (read) *read = done;
        return STG_E_READFAULT;
      }
      if (n == 0) break;
      done += static_cast<ULONG>(n);
    }
    if (read) *read = done;
    return done < count ? S_FALSE : S_OK;
  }
  HRESULT Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT Seek(LARGE_INTEGER distance, DWORD origin, ULARGE_INTEGER* position) override {
    int whence = origin == STREAM_SEEK_SET ? SEEK_SET : origin == STREAM_SEEK_CUR ? SEEK_CUR : SEEK_END;
    off_t at = ::lseek(fd_, static_cast<off_t>(distance.QuadPart), whence);
    if (at < 0) return STG_E_INVALIDFUNCTION;
    if (position) position->QuadPart = static_cast<ULONGLONG>(at);
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    std::memset(stat, 0, sizeof *stat);
    struct stat st;
    if (::fstat(fd_, &st) != 0) return STG_E_ACCESSDENIED;
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = static_cast<ULONGLONG>(st.st_size);
    return S_OK;
  }
  HRESULT Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  ~FileStream() { ::close(fd_); }
  int fd_;
  std::atomic<ULONG> refs_{1};
};

int OpenForReading(const char* path, std::string* error) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    *error = std::strerror(EISDIR);
    return -1;
  }
  return fd;
}

}  // namespace

IStream* OpenFileStream(const char* path, std::string* error) {
  int fd = OpenForReading(path, error);
  if (fd < 0) return nullptr;
  return new FileStream(fd);
}

bool Readable(const char* path, std::string* error) {
  int fd = OpenForReading(path, error);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// ---- Reader module ----------------------------------------------------------

IXmlReader* NewModuleReader(std::string* error) {
  // Bound the way the library binds it: by module name and entry point name.
  static PFN_CreateXmlReader create = [] {
    HMODULE module = LoadLibraryA("XmlLite.dll");
    if (module == nullptr) return static_cast<PFN_CreateXmlReader>(nullptr);
    FARPROC entry = GetProcAddress(module, "CreateXmlReader");
    return reinterpret_cast<PFN_CreateXmlReader>(reinterpret_cast<void*>(entry));
  }();
  if (create == nullptr) {
    *error = "the streaming reader module cannot be loaded (try --dom)";
    return nullptr;
  }
  IXmlReader* reader = nullptr;
  HRESULT hr = create(IID_IXmlReader, reinterpret_cast<void**>(&reader), nullptr);
  if (FAILED(hr) || reader == nullptr) {
    *error = "the streaming reader could not be made: " + FailureMessage(hr);
    return nullptr;
  }
  return reader;
}

std::string FailureMessage(HRESULT hr) {
  struct Entry {
    HRESULT hr;
    const char* text;
  };
  static const Entry kMessages[] = {
      {MX_E_INPUTEND, "unexpected end of input"},
      {MX_E_ENCODING, "unrecognised encoding"},
      {MX_E_ENCODINGSWITCH, "the encoding cannot be switched here"},
      {MX_E_ENCODINGSIGNATURE, "the byte order mark does not match the encoding"},
      {WC_E_WHITESPACE, "white space expected"},
      {WC_E_SEMICOLON, "';' expected"},
      {WC_E_GREATERTHAN, "'>' expected"},
      {WC_E_QUOTE, "quote expected"},
      {WC_E_EQUAL, "'=' expected"},
      {WC_E_LESSTHAN, "'<' not allowed here"},
      {WC_E_HEXDIGIT, "hexadecimal digit expected"},
      {WC_E_DIGIT, "decimal digit expected"},
      {WC_E_LEFTBRACKET, "'[' expected"},
      {WC_E_LEFTPAREN, "'(' expected"},
      {WC_E_XMLCHARACTER, "character not allowed in XML"},
      {WC_E_NAMECHARACTER, "character not allowed in a name"},
      {WC_E_SYNTAX, "syntax error"},
      {WC_E_CDSECT, "malformed CDATA section"},
      {WC_E_COMMENT, "malformed comment"},
      {WC_E_CONDSECT, "malformed conditional section"},
      {WC_E_DECLATTLIST, "malformed attribute-list declaration"},
      {WC_E_DECLDOCTYPE, "malformed document type declaration"},
      {WC_E_DECLELEMENT, "malformed element declaration"},
      {WC_E_DECLENTITY, "malformed entity declaration"},
      {WC_E_DECLNOTATION, "malformed notation declaration"},
      {WC_E_NDATA, "NDATA expected"},
      {WC_E_PUBLIC, "PUBLIC expected"},
      {WC_E_SYSTEM, "SYSTEM expected"},
      {WC_E_NAME, "name expected"},
      {WC_E_ROOTELEMENT, "exactly one document element expected"},
      {WC_E_ELEMENTMATCH, "end tag does not match the start tag"},
      {WC_E_UNIQUEATTRIBUTE, "attribute given twice"},
      {WC_E_TEXTXMLDECL, "misplaced text declaration"},
      {WC_E_LEADINGXML, "names beginning with 'xml' are reserved"},
      {WC_E_TEXTDECL, "malformed text declaration"},
      {WC_E_XMLDECL, "malformed XML declaration"},
      {WC_E_ENCNAME, "malformed encoding name"},
      {WC_E_PUBLICID, "malformed public identifier"},
      {WC_E_PESINTERNALSUBSET, "parameter entity reference inside a declaration of the internal subset"},
      {WC_E_PESBETWEENDECLS, "malformed parameter entity reference between declarations"},
      {WC_E_NORECURSION, "entity refers to itself"},
      {WC_E_ENTITYCONTENT, "malformed entity content"},
      {WC_E_UNDECLAREDENTITY, "undeclared entity"},
      {WC_E_PARSEDENTITY, "reference to an unparsed entity"},
      {WC_E_NOEXTERNALENTITYREF, "reference to an external entity in an attribute value"},
      {WC_E_PI, "malformed processing instruction"},
      {WC_E_SYSTEMID, "malformed system identifier"},
      {WC_E_QUESTIONMARK, "'?' expected"},
      {WC_E_CDSECTEND, "']]>' not allowed in text"},
      {WC_E_MOREDATA, "content after the document element"},
      {WC_E_DTDPROHIBITED, "document type declarations are not allowed"},
      {WC_E_INVALIDXMLSPACE, "xml:space must be 'default' or 'preserve'"},
      {NC_E_NAMECOLON, "misplaced colon in a name"},
      {NC_E_QNAMECHARACTER, "character not allowed in a qualified name"},
      {NC_E_QNAMECOLON, "more than one colon in a qualified name"},
      {NC_E_NAMESPACE, "namespace constraint violated"},
      {NC_E_UNDECLAREDPREFIX, "undeclared namespace prefix"},
      {NC_E_EMPTYURI, "a prefix cannot be bound to the empty namespace name"},
      {NC_E_XMLPREFIXRESERVED, "the prefix 'xml' is reserved"},
      {NC_E_XMLNSPREFIXRESERVED, "the prefix 'xmlns' is reserved"},
      {NC_E_XMLURIRESERVED, "the xml namespace name is reserved"},
      {NC_E_XMLNSURIRESERVED, "the xmlns namespace name is reserved"},
      {SC_E_MAXELEMENTDEPTH, "elements nested too deeply"},
      {SC_E_MAXENTITYEXPANSION, "entity expansion limit exceeded"},
      {STG_E_READFAULT, "read error"},
      {REGDB_E_CLASSNOTREG, "class not registered"},
      {CO_E_NOTINITIALIZED, "COM is not initialised"},
      {E_OUTOFMEMORY, "out of memory"},
      {E_ACCESSDENIED, "access denied"},
      {E_INVALIDARG, "invalid argument"},
      {E_FAIL, "unspecified failure"},
  };
  for (const Entry& e : kMessages) {
    if (e.hr == hr) return e.text;
  }
  char text[48];
  std::snprintf(text, sizeof text, "failure 0x%08X", static_cast<unsigned>(hr));
  return text;
}

// ---- DOM ----------------------------------------------------------------

IXMLDOMDocument* NewDomDocument(std::string* error) {
  static thread_local bool initialised = false;
  if (!initialised) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) {
      *error = "COM cannot be initialised: " + FailureMessage(hr);
      return nullptr;
    }
    initialised = true;
  }
  IXMLDOMDocument* document = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IXMLDOMDocument, reinterpret_cast<void**>(&document));
  if (FAILED(hr) || document == nullptr) {
    *error = "the document class cannot be made: " + FailureMessage(hr);
    return nullptr;
  }
  return document;
}

namespace {

// Loads path into document; false with a diagnosis otherwise.
bool LoadDocument(IXMLDOMDocument* document, const char* path, Diagnosis* d) {
  std::string error;
  IStream* stream = OpenFileStream(path, &error);
  if (stream == nullptr) {
    d->message = error;
    return false;
  }
  d->opened = true;
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_UNKNOWN;
  source.punkVal = stream;  // the variant borrows our reference
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = document->load(source, &loaded);
  stream->Release();
  if (SUCCEEDED(hr) && loaded != VARIANT_FALSE) {
    d->wellFormed = true;
    return true;
  }
  IXMLDOMParseError* parseError = nullptr;
  LONG code = hr, line = 0, column = 0;
  BSTR reason = nullptr;
  if (SUCCEEDED(document->get_parseError(&parseError)) && parseError != nullptr) {
    parseError->get_errorCode(&code);
    parseError->get_reason(&reason);
    parseError->get_line(&line);
    parseError->get_linepos(&column);
    parseError->Release();
  }
  d->line = line > 0 ? static_cast<unsigned>(line) : 0;
  d->column = column > 0 ? static_cast<unsigned>(column) : 0;
  d->message = Trimmed(Utf8(reason));
  if (d->message.empty()) d->message = FailureMessage(code);
  SysFreeString(reason);
  return false;
}

}  // namespace

// ---- Well-formedness -----------------------------------------------------

Diagnosis CheckWithReader(const char* path) {
  Diagnosis d;
  std::string error;
  IStream* stream = OpenFileStream(path, &error);
  if (stream == nullptr) {
    d.message = error;
    return d;
  }
  d.opened = true;
  IXmlReader* reader = NewModuleReader(&error);
  if (reader == nullptr) {
    stream->Release();
    d.message = error;
    d.engineMissing = true;
    return d;
  }
  reader->SetInput(stream);
  stream->Release();
  XmlNodeType type;
  HRESULT hr;
  while ((hr = reader->Read(&type)) == S_OK) {
  }
  if (hr == S_FALSE) {
    d.wellFormed = true;
  } else {
    UINT line = 0, column = 0;
    reader->GetLineNumber(&line);
    reader->GetLinePosition(&column);
    d.line = line;
    d.column = column;
    d.message = FailureMessage(hr);
  }
  reader->Release();
  return d;
}

Diagnosis CheckWithDom(const char* path) {
  Diagnosis d;
  std::string error;
  if (!Readable(path, &error)) {
    d.message = error;
    return d;
  }
  IXMLDOMDocument* document = NewDomDocument(&error);
  if (document == nullptr) {
    d.opened = true;
    d.message = error;
    d.engineMissing = true;
    return d;
  }
  LoadDocument(document, path, &d);
  document->Release();
  return d;
}

std::string Describe(const char* path, const Diagnosis& d) {
  std::string out = path;
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on
  // ":" + std::string at -O2 and up.
  if (d.line > 0) {
    out += ':';
    out += std::to_string(d.line);
    out += ':';
    out += std::to_string(d.column);
  }
  out += ": ";
  out += d.message;
  return out;
}

// ---- Element cursors ----------------------------------------------------

bool AttrInfo::IsNamespaceDeclaration() const {
  return prefix == "xmlns" || (prefix.empty() && local == "xmlns");
}

namespace {

class ReaderCursor final : public ElementCursor {
 public:
  explicit ReaderCursor(IXmlReader* reader) : reader_(reader) {}
  ~ReaderCursor() override { reader_->Release(); }

  bool Next(ElemInfo* info) override {
    if (!error_.empty()) return false;
    XmlNodeType type;
    HRESULT hr;
    while ((hr = reader_->Read(&type)) == S_OK && type != XmlNodeType_Element) {
    }
    if (hr != S_OK) {
      if (hr != S_FALSE) {
        UINT line = 0, column = 0;
        reader_->GetLineNumber(&line);
        reader_->GetLinePosition(&column);
        error_ = std::to_string(line) + ":" + std::to_string(column) + ": " + FailureMessage(hr);
      }
      return false;
    }
    Names(&info->qname, &info->prefix, &info->local, &info->ns);
    info->attrs.clear();
    for (hr = reader_->MoveToFirstAttribute(); hr == S_OK; hr = reader_->MoveToNextAttribute()) {
      info->attrs.emplace_back();
      AttrInfo& a = info->attrs.back();
      Names(&a.qname, &a.prefix, &a.local, &a.ns);
      LPCWSTR value = nullptr;
      UINT length = 0;
      if (reader_->GetValue(&value, &length) == S_OK) a.value = Utf8(value, length);
    }
    reader_->MoveToElement();
    return true;
  }
  std::string error() const override { return error_; }

 private:
  void Names(std::string* qname, std::string* prefix, std::string* local, std::string* ns) {
    LPCWSTR text = nullptr;
    UINT length = 0;
    *qname = reader_->GetQualifiedName(&text, &length) == S_OK ? Utf8(text, length) : "";
    *prefix = reader_->GetPrefix(&text, &length) == S_OK ? Utf8(text, length) : "";
    *local = reader_->GetLocalName(&text, &length) == S_OK ? Utf8(text, length) : "";
    *ns = reader_->GetNamespaceUri(&text, &length) == S_OK ? Utf8(text, length) : "";
  }
  IXmlReader* reader_;
  std::string error_;
};

template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() { reset(); }
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    reset();
    return &p_;
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

std::string TakeBstr(BSTR text) {
  std::string out = Utf8(text);
  SysFreeString(text);
  return out;
}

class DomCursor final : public ElementCursor {
 public:
  explicit DomCursor(IXMLDOMDocument* document) : document_(document) {}

  bool Next(ElemInfo* info) override {
    if (done_) return false;
    if (!started_) {
      started_ = true;
      Ref<IXMLDOMElement> root;
      if (FAILED(document_->get_documentElement(root.out())) || !root ||
          FAILED(root->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(current_.out())))) {
        done_ = true;
        return false;
      }
      root_ = Ref<IXMLDOMNode>(Raw(current_.get()));
    } else if (!Advance()) {
      done_ = true;
      return false;
    }
    Fill(current_.get(), info);
    return true;
  }
  std::string error() const override { return std::string(); }

 private:
  static IXMLDOMNode* Raw(IXMLDOMNode* n) {
    n->AddRef();
    return n;
  }
  static bool IsElement(IXMLDOMNode* n) {
    DOMNodeType type = NODE_INVALID;
    return SUCCEEDED(n->get_nodeType(&type)) && type == NODE_ELEMENT;
  }
  // The first element among n and its following siblings.
  static Ref<IXMLDOMNode> ElementFrom(Ref<IXMLDOMNode> n) {
    while (n && !IsElement(n.get())) {
      Ref<IXMLDOMNode> next;
      if (FAILED(n->get_nextSibling(next.out()))) next.reset();
      n = std::move(next);
    }
    return n;
  }
  // Document order: the first element child, else the next element sibling
  // of the nearest node on the way up that has one.
  bool Advance() {
    Ref<IXMLDOMNode> child;
    if (SUCCEEDED(current_->get_firstChild(child.out())) && child) {
      Ref<IXMLDOMNode> found = ElementFrom(std::move(child));
      if (found) {
        current_ = std::move(found);
        return true;
      }
    }
    Ref<IXMLDOMNode> at(Raw(current_.get()));
    while (at && at.get() != root_.get()) {
      Ref<IXMLDOMNode> sibling;
      if (SUCCEEDED(at->get_nextSibling(sibling.out())) && sibling) {
        Ref<IXMLDOMNode> found = ElementFrom(std::move(sibling));
        if (found) {
          current_ = std::move(found);
          return true;
        }
      }
      Ref<IXMLDOMNode> parent;
      if (FAILED(at->get_parentNode(parent.out()))) parent.reset();
      at = std::move(parent);
    }
    return false;
  }
  static void Names(IXMLDOMNode* n, std::string* qname, std::string* prefix, std::string* local,
                    std::string* ns) {
    BSTR text = nullptr;
    *qname = SUCCEEDED(n->get_nodeName(&text)) ? TakeBstr(text) : "";
    text = nullptr;
    *prefix = SUCCEEDED(n->get_prefix(&text)) ? TakeBstr(text) : "";
    text = nullptr;
    *local = SUCCEEDED(n->get_baseName(&text)) ? TakeBstr(text) : "";
    text = nullptr;
    *ns = SUCCEEDED(n->get_namespaceURI(&text)) ? TakeBstr(text) : "";
    if (local->empty()) *local = *qname;
  }
  static void Fill(IXMLDOMNode* n, ElemInfo* info) {
    Names(n, &info->qname, &info->prefix, &info->local, &info->ns);
    info->attrs.clear();
    Ref<IXMLDOMNamedNodeMap> attrs;
    LONG count = 0;
    if (FAILED(n->get_attributes(attrs.out())) || !attrs || FAILED(attrs->get_length(&count))) {
      return;
    }
    for (LONG i = 0; i < count; ++i) {
      Ref<IXMLDOMNode> a;
      if (FAILED(attrs->get_item(i, a.out())) || !a) continue;
      info->attrs.emplace_back();
      AttrInfo& out = info->attrs.back();
      Names(a.get(), &out.qname, &out.prefix, &out.local, &out.ns);
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(a->get_nodeValue(&value)) && value.vt == VT_BSTR) out.value = Utf8(value.bstrVal);
      VariantClear(&value);
    }
  }

  Ref<IXMLDOMDocument> document_;
  Ref<IXMLDOMNode> root_;
  Ref<IXMLDOMNode> current_;
  bool started_ = false;
  bool done_ = false;
};

}  // namespace

std::unique_ptr<ElementCursor> OpenReaderCursor(const char* path, std::string* error) {
  IStream* stream = OpenFileStream(path, error);
  if (stream == nullptr) return nullptr;
  IXmlReader* reader = NewModuleReader(error);
  if (reader == nullptr) {
    stream->Release();
    return nullptr;
  }
  reader->SetInput(stream);
  stream->Release();
  return std::make_unique<ReaderCursor>(reader);
}

std::unique_ptr<ElementCursor> OpenDomCursor(const char* path, std::string* error) {
  IXMLDOMDocument* document = NewDomDocument(error);
  if (document == nullptr) return nullptr;
  Diagnosis d;
  if (!LoadDocument(document, path, &d)) {
    *error = d.opened ? Describe(path, d) : d.message;
    document->Release();
    return nullptr;
  }
  return std::make_unique<DomCursor>(document);
}

// ---- Walking an XmlInterface reader ----------------------------------------

bool Walk(XmlInterface& x, WalkSink& sink, bool* stuck) {
  *stuck = false;
  std::unique_ptr<char[]> value(new char[kValueBufferSize]);
  auto readValue = [&](int depth) {
    value[0] = '\0';
    x.GetElemValueToBufB(value.get(), kValueBufferSize);
    return sink.Value(value.get(), depth);
  };
  if (!x.SelectElemB()) {
    *stuck = true;
    return false;
  }
  int depth = 1;
  if (!sink.Enter(x, depth) || !readValue(depth)) return false;
  int idle = 0;
  while (depth > 0) {
    if (x.SelectElemB()) {
      ++depth;
      if (!sink.Enter(x, depth) || !readValue(depth)) return false;
      idle = 0;
      continue;
    }
    if (x.EndElemB()) {
      if (!sink.Leave(depth)) return false;
      --depth;
      idle = 0;
      continue;
    }
    // Something other than an element or an end stands in the way: on the
    // streaming engine a text node after a child element, read as a value.
    value[0] = '\0';
    x.GetElemValueToBufB(value.get(), kValueBufferSize);
    if (value[0] != '\0') {
      if (!sink.MoreText(value.get(), depth)) return false;
      idle = 0;
      continue;
    }
    if (++idle >= 2) {
      *stuck = true;
      return false;
    }
  }
  return true;
}

}  // namespace twxml_cli
