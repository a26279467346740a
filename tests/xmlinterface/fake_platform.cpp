#include "fake_platform.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>

namespace fake {

State st;
int failNothrowAt = 0;

namespace {

std::string Arg(const char* s) { return s ? std::string(s) : std::string("(null)"); }

// Copies text out the way the narrowing routines do: cut and 30 when it does
// not fit.
int CopyOut(const std::string& text, char* buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return 30;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return text.size() < size ? 0 : 30;
}

// The fake document: ASCII names, no escapes (the real document class is
// checked against libxml2 elsewhere).
struct Node {
  bool text = false;
  std::string name;  // element name, or the text
  std::vector<std::pair<std::string, std::string>> attrs;
  Node* parent = nullptr;
  std::vector<Node*> children;
};

struct Store {
  std::vector<std::unique_ptr<Node>> nodes;
  Node* root = nullptr;
  std::string encoding;
  Node* Make(bool text, std::string name) {
    nodes.push_back(std::make_unique<Node>());
    nodes.back()->text = text;
    nodes.back()->name = std::move(name);
    return nodes.back().get();
  }
  static void Attach(Node* parent, Node* child) {
    if (child->parent) std::erase(child->parent->children, child);
    child->parent = parent;
    parent->children.push_back(child);
  }
  // Elements, attributes in single or double quotes, text; declarations and
  // comments are passed over. False when malformed.
  bool Parse(const std::string& in) {
    std::vector<Node*> open;
    for (size_t i = 0; i < in.size();) {
      size_t lt = in.find('<', i);
      if (lt != i) {
        std::string t = in.substr(i, lt == std::string::npos ? std::string::npos : lt - i);
        if (t.find_first_not_of(" \t\r\n") != std::string::npos) {
          if (open.empty()) return false;
          Attach(open.back(), Make(true, t));
        }
        if (lt == std::string::npos) break;
        i = lt;
      }
      if (in.compare(i, 2, "<?") == 0 || in.compare(i, 2, "<!") == 0) {
        size_t end = in.find('>', i);
        if (end == std::string::npos) return false;
        i = end + 1;
        continue;
      }
      size_t gt = in.find('>', i);
      if (gt == std::string::npos) return false;
      if (in[i + 1] == '/') {
        if (open.empty() || open.back()->name != in.substr(i + 2, gt - i - 2)) return false;
        open.pop_back();
        i = gt + 1;
        continue;
      }
      bool empty = in[gt - 1] == '/';
      std::string tag = in.substr(i + 1, gt - i - 1 - empty);
      size_t p = tag.find(' ');
      Node* e = Make(false, tag.substr(0, p));
      while (p != std::string::npos && (p = tag.find_first_not_of(' ', p)) != std::string::npos) {
        size_t eq = tag.find('='), close = tag.find(tag[eq + 1], eq + 2);
        e->attrs.emplace_back(tag.substr(p, eq - p), tag.substr(eq + 2, close - eq - 2));
        tag.erase(0, close + 1);
        p = 0;
      }
      if (!open.empty()) Attach(open.back(), e);
      else if (root) return false;
      else root = e;
      if (!empty) open.push_back(e);
      i = gt + 1;
    }
    return open.empty() && root != nullptr;
  }
  // Iterative, so that deep documents do not exhaust the stack.
  std::string Serialise() const {
    std::string out;
    if (!encoding.empty()) out += "<?xml version='1.0' encoding='" + encoding + "'?>";
    std::vector<std::pair<const Node*, size_t>> stack;
    if (root) stack.emplace_back(root, 0);
    while (!stack.empty()) {
      auto& [n, next] = stack.back();
      if (n->text) {
        out += n->name;
        stack.pop_back();
        continue;
      }
      if (next == 0) {
        out += "<" + n->name;
        for (auto& [k, v] : n->attrs) out += " " + k + "=\"" + v + "\"";
        out += n->children.empty() ? "/>" : ">";
      }
      if (next < n->children.size()) {
        stack.emplace_back(n->children[next++], 0);
      } else {
        if (!n->children.empty()) out += "</" + n->name + ">";
        stack.pop_back();
      }
    }
    return out;
  }
};

#define FAKE_UNUSED(ret, name, ...) \
  ret name(__VA_ARGS__) override { return {}; }

class FakeNode : public KxXMLNode {
 public:
  FakeNode(std::shared_ptr<Store> store, Node* node) : node_(node), store_(std::move(store)) {
    ++st.liveObjects;
  }
  ~FakeNode() override { --st.liveObjects; }
  Node* node_;

  WCHAR* GetNameBstr() override {
    std::u16string w(node_->name.begin(), node_->name.end());
    return node_->text ? nullptr : SysAllocString(w.c_str());
  }
  int AppendNodeF(KxXMLNode* child) override {
    Store::Attach(node_, static_cast<FakeNode*>(child)->node_);
    return 0;
  }
  int AppendAttributeF(char* name, int value) override {
    return AppendAttributeF(name, std::to_string(value).data());
  }
  int AppendAttributeF(char* name, char* value) override {
    st.domCalls.push_back("AppendAttributeF " + Arg(name));
    if (!name || !*name || *name == ':' || std::strchr(name, ' ')) throw DomError{-2147024809};
    node_->attrs.emplace_back(name, value);
    return 0;
  }
  KxXMLNode* GetNextChildNodePo(KxXMLNode* previous) override {
    Node* parent = node_;
    size_t k = 0;
    if (previous != nullptr) {
      Node* prev = static_cast<FakeNode*>(previous)->node_;
      parent = prev->parent;
      if (parent == nullptr) return nullptr;
      while (parent->children[k] != prev) ++k;
      ++k;
    }
    for (; k < parent->children.size(); ++k) {
      if (!parent->children[k]->text) return new FakeNode(store_, parent->children[k]);
    }
    return nullptr;
  }
  int GetAttributeF(char* name, char* buffer, unsigned int size) override {
    const std::string* v = Find(name);
    return v ? CopyOut(*v, buffer, size) : 30;
  }
  int GetAttributeF(char* name, int* value) override {
    const std::string* v = Find(name);
    char* end = nullptr;
    long n = v ? std::strtol(v->c_str(), &end, 10) : 0;
    if (!v || v->empty() || *end) return 30;
    *value = static_cast<int>(n);
    return 0;
  }
  char* GetValuePsz(char* buffer, unsigned int size) override {
    buffer[0] = '\0';
    for (Node* c : node_->children) {
      if (c->text) return c->name.size() < size ? std::strcpy(buffer, c->name.c_str()) : strdup(c->name.c_str());
    }
    return buffer;
  }
  FAKE_UNUSED(WCHAR*, GetValueBstr)
  FAKE_UNUSED(int, PutValueF, WCHAR*)
  FAKE_UNUSED(int, AppendAttributeF, WCHAR*, int)
  FAKE_UNUSED(int, AppendAttributeF, WCHAR*, WCHAR*)
  FAKE_UNUSED(int, ExtractNameF, char*, char*, unsigned int)
  FAKE_UNUSED(bool, IsThisNameB, char*, char*)
  FAKE_UNUSED(KxXMLNode*, FindChildNodePo, char*, char*)
  void GetTagNameV(char*, unsigned int) override {}

 private:
  const std::string* Find(const char* name) const {
    for (auto& a : node_->attrs) {
      if (name && a.first == name) return &a.second;
    }
    return nullptr;
  }
  std::shared_ptr<Store> store_;
};

class FakeParser : public KxXMLParser {
 public:
  FakeParser() { ++st.liveObjects; }
  ~FakeParser() override { --st.liveObjects; }

  int LoadFromStreamF(KxStream* stream) override {
    std::string bytes(stream->GetContentSizeUl(), '\0');
    if (stream->ReadF(bytes.data(), static_cast<unsigned int>(bytes.size())) != 0) return 12;
    auto fresh = std::make_shared<Store>();
    if (!fresh->Parse(bytes)) return 12;
    if (st.loadNoRoot) fresh->root = nullptr;
    store_ = fresh;
    return 0;
  }
  void SaveToStreamV(KxStream* stream) override {
    ++st.saveCalls;
    if (st.saveThrows) throw DomError{-2147467259};
    std::string text = store_->Serialise();
    stream->WriteF(text.data(), static_cast<unsigned int>(text.size()));
  }
  int PutRootElementF(KxXMLNode* element) override {
    ++st.putRootCalls;
    if (st.putRootFails) return -1;
    store_->root = static_cast<FakeNode*>(element)->node_;
    return 0;
  }
  KxXMLNode* GetRootElementP() override {
    return store_->root ? new FakeNode(store_, store_->root) : nullptr;
  }
  KxXMLNode* CreateElementP(char* name, char* namespaceUri) override {
    st.domCalls.push_back("CreateElementP " + Arg(name) + "," + Arg(namespaceUri));
    return new FakeNode(store_, store_->Make(false, name));
  }
  int AppendElementF(KxXMLNode* parent, KxXMLNode* child) override {
    return st.appendFails ? -1 : parent->AppendNodeF(child);
  }
  int AppendTextF(KxXMLNode* parent, char* text) override {
    Store::Attach(static_cast<FakeNode*>(parent)->node_, store_->Make(true, text));
    return 0;
  }
  int SetEncodingF(char* encoding) override {
    st.domCalls.push_back("SetEncodingF " + Arg(encoding));
    store_->encoding = encoding ? encoding : "UTF-8";
    return 0;
  }
  FAKE_UNUSED(KxXMLNode*, CreateElementP, WCHAR*, WCHAR*)
  FAKE_UNUSED(KxXMLNode*, CreateTextP, char*)
  FAKE_UNUSED(KxXMLNode*, CreateTextP, WCHAR*)
  FAKE_UNUSED(KxXMLNode*, CreateCommentP, char*)
  FAKE_UNUSED(KxXMLNode*, CreateCommentP, WCHAR*)
  FAKE_UNUSED(int, AppendElementF, KxXMLNode*, char*, char*)
  FAKE_UNUSED(int, AppendElementF, KxXMLNode*, WCHAR*, WCHAR*)
  FAKE_UNUSED(int, AppendTextF, KxXMLNode*, WCHAR*)
  FAKE_UNUSED(int, AppendCommentF, KxXMLNode*, char*)
  FAKE_UNUSED(int, AppendCommentF, KxXMLNode*, WCHAR*)

 private:
  std::shared_ptr<Store> store_ = std::make_shared<Store>();
};

// Kernel streams: memory (a caller's buffer, or growing) and files.
class FakeStream : public KxStream {
 public:
  FakeStream() { ++st.liveObjects; }
  ~FakeStream() override {
    if (!path_.empty()) std::ofstream(path_, std::ios::binary) << data_;
    --st.liveObjects;
  }
  int WriteF(void* bytes, unsigned int count) override {
    data_.append(static_cast<const char*>(bytes), count);
    return 0;
  }
  int ReadF(void* buffer, unsigned int count) override {
    if (pos_ + count > data_.size()) return 1;
    std::memcpy(buffer, data_.data() + pos_, count);
    pos_ += count;
    return 0;
  }
  unsigned int GetSizeUl() override { return static_cast<unsigned int>(data_.size()); }
  int RewindF() override { return static_cast<int>(pos_ = 0); }
  char* GetMemP() override { return memory_ ? data_.data() : nullptr; }

  std::string data_, path_;  // path_: a file being written
  size_t pos_ = 0;
  bool memory_ = false;
};

}  // namespace
}  // namespace fake

using fake::st;

// ---- Non-throwing allocation with failure injection ----------------------

void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (fake::failNothrowAt > 0 && --fake::failNothrowAt == 0) return nullptr;
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  if (fake::failNothrowAt > 0 && --fake::failNothrowAt == 0) return nullptr;
  try {
    return ::operator new[](n);
  } catch (...) {
    return nullptr;
  }
}

// ---- Handle functions ------------------------------------------------------

struct _XmlLiteReaderS {
  int magic;
};
struct _XmlLiteWriterS {
  bool file;
};

namespace {

// A null handle (the other kind's operations) answers 44 without a record.
int Answer(const void* handle, const char* fn, const std::string& args) {
  if (handle == nullptr) return 44;
  st.calls.push_back(std::string(fn) + " " + args);
  auto it = st.status.find(fn);
  return it == st.status.end() ? 0 : it->second;
}

template <class H, class... A>
H* Create(const char* fn, const std::string& args, A... init) {
  st.calls.push_back(std::string(fn) + " " + args);
  if (st.createFails) return nullptr;
  ++st.openHandles;
  return new H{init...};
}

template <class H>
int Close(const char* fn, H* h) {
  if (h == nullptr) return 44;
  st.calls.push_back(std::string(fn) + " ");
  --st.openHandles;
  delete h;
  return 0;
}

}  // namespace

#define FAKE_STEP(fn) \
  int fn(_XmlLiteReaderS* r) { return Answer(r, #fn, ""); }

extern "C" {

BOOL XmlLiteIsDllFoundB(void) {
  ++st.probeCalls;
  return st.dllFound;
}
_XmlLiteReaderS* XmlLiteCreateMemReaderH(const char* text) {
  return Create<_XmlLiteReaderS>("XmlLiteCreateMemReaderH", fake::Arg(text), 1);
}
_XmlLiteReaderS* XmlLiteCreateFileReaderH(const char* path) {
  return Create<_XmlLiteReaderS>("XmlLiteCreateFileReaderH", fake::Arg(path), 1);
}
BOOL XmlLiteIsReaderHndValidB(_XmlLiteReaderS* reader) { return reader != nullptr; }
FAKE_STEP(XmlLiteReadElemF)
FAKE_STEP(XmlLitePeekElemF)
FAKE_STEP(XmlLiteReadEndElemF)
FAKE_STEP(XmlLiteSkipLevelF)
int XmlLiteCloseReaderF(_XmlLiteReaderS* r) { return Close("XmlLiteCloseReaderF", r); }

int XmlLiteGetElemNameToBufF(_XmlLiteReaderS* r, char* buffer, unsigned int size) {
  int s = Answer(r, "XmlLiteGetElemNameToBufF", std::to_string(size));
  return s ? s : fake::CopyOut("elem", buffer, size);
}
int XmlLiteGetAttrValueToBufF(_XmlLiteReaderS* r, const char* name, char* buffer, unsigned int size) {
  int s = Answer(r, "XmlLiteGetAttrValueToBufF", fake::Arg(name) + "," + std::to_string(size));
  auto it = st.attrs.find(fake::Arg(name));
  return s ? s : it == st.attrs.end() ? 30 : fake::CopyOut(it->second, buffer, size);
}
int XmlLiteGetElemValueToBufF(_XmlLiteReaderS* r, char* buffer, unsigned int size) {
  int s = Answer(r, "XmlLiteGetElemValueToBufF", std::to_string(size));
  return s ? s : fake::CopyOut("value", buffer, size);
}

_XmlLiteWriterS* XmlLiteCreateMemWriterH(int indent, const char* encoding) {
  return Create<_XmlLiteWriterS>("XmlLiteCreateMemWriterH",
                                 std::to_string(indent) + "," + fake::Arg(encoding), false);
}
_XmlLiteWriterS* XmlLiteCreateFileWriterH(const char* path, int indent, const char* encoding) {
  return Create<_XmlLiteWriterS>(
      "XmlLiteCreateFileWriterH",
      fake::Arg(path) + "," + std::to_string(indent) + "," + fake::Arg(encoding), true);
}
BOOL XmlLiteIsWriterHndValidB(_XmlLiteWriterS* writer) { return writer != nullptr; }
int XmlLiteWriteStartElemF(_XmlLiteWriterS* w, const char* prefix, const char* local, const char* ns) {
  return Answer(w, "XmlLiteWriteStartElemF",
                fake::Arg(prefix) + "," + fake::Arg(local) + "," + fake::Arg(ns));
}
int XmlLiteWriteAttrF(_XmlLiteWriterS* w, const char* prefix, const char* local, const char* ns,
                      const char* value) {
  return Answer(w, "XmlLiteWriteAttrF", fake::Arg(prefix) + "," + fake::Arg(local) + "," +
                                         fake::Arg(ns) + "," + fake::Arg(value));
}
int XmlLiteWriteValueF(_XmlLiteWriterS* w, const char* text) {
  return Answer(w, "XmlLiteWriteValueF", fake::Arg(text));
}
int XmlLiteWriteEndElemF(_XmlLiteWriterS* w) { return Answer(w, "XmlLiteWriteEndElemF", ""); }
int XmlLiteGetMemF(_XmlLiteWriterS* w, char** text, unsigned int* length) {
  *text = nullptr;
  *length = 0;
  int s = w && w->file ? 30 : Answer(w, "XmlLiteGetMemF", "");
  if (s != 0) return s;
  *text = strdup(st.memText.c_str());
  *length = static_cast<unsigned int>(st.memText.size());
  return 0;
}
int XmlLiteCloseWriterF(_XmlLiteWriterS* w) { return Close("XmlLiteCloseWriterF", w); }

// ---- Kernel and support ----------------------------------------------------

void* MemAllocP(size_t size) { return std::malloc(size ? size : 1); }
int MemFreeF(void* block) {
  std::free(block);
  return 0;
}
void StrNCopyRTrimV(const char* src, char* dst, unsigned int size) {
  if (dst == nullptr || size == 0) return;
  std::string cut = std::string(src ? src : "").substr(0, size - 1);  // cut, then trim
  fake::CopyOut(cut.substr(0, StrPadGetSizeU(cut.c_str())), dst, size);
}
unsigned int StrPadGetSizeU(const char* text) {
  size_t n = text ? std::strlen(text) : 0;
  while (n > 0 && std::strchr(" \t\r\n\v\f", text[n - 1]) != nullptr) --n;
  return static_cast<unsigned int>(n);
}

KxStream* StreamCreateFileStreamP(const char* path, int, int mode, int) {
  st.domCalls.push_back("file " + fake::Arg(path) + "," + std::to_string(mode));
  if (st.fileStreamFails) return nullptr;
  auto* s = new fake::FakeStream();
  if (mode == 0) {
    std::stringstream ss;
    ss << std::ifstream(path, std::ios::binary).rdbuf();
    s->data_ = ss.str();
  } else {
    s->path_ = path;
  }
  return s;
}

KxStream* StreamCreateMemStreamP(char* buffer, unsigned long size, const char* name, int growable,
                                 int ownsBuffer, int* status) {
  st.domCalls.push_back("mem " + std::string(buffer ? "buffer" : "(null)") + "," +
                        std::to_string(size) + "," + fake::Arg(name) + "," +
                        std::to_string(growable) + "," + std::to_string(ownsBuffer));
  *status = st.memStreamStatus;
  if (st.memStreamStatus != 0 || st.memStreamNull) return nullptr;
  auto* s = new fake::FakeStream();
  if (buffer != nullptr) s->data_.assign(buffer, size);
  s->memory_ = growable != 0;
  return s;
}

int VarCnvBStrToStrBufF(const WCHAR* text, char* buffer, unsigned int size) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  return fake::CopyOut(narrow, buffer, size);
}

int _access(const char* path, int) { return path && access(path, R_OK) == 0 ? 0 : -1; }
int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
int _strnicmp(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }
UINT GetACP(void) { return CP_UTF8; }

BSTR SysAllocString(const OLECHAR* text) {
  size_t n = std::char_traits<char16_t>::length(text);
  auto* block = static_cast<uint32_t*>(std::malloc(4 + (n + 1) * 2));
  *block = static_cast<uint32_t>(n * 2);
  return static_cast<OLECHAR*>(std::memcpy(block + 1, text, (n + 1) * 2));
}
void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<uint32_t*>(text) - 1);
}

KxXMLParser* XmlGetParserP(void) {
  ++st.getParserCalls;
  return st.parserFails ? nullptr : new fake::FakeParser();
}

}  // extern "C"

KxXMLParser::~KxXMLParser() {}
KxXMLNode::~KxXMLNode() {}
KxStream::~KxStream() {}
char* KxStream::GetMemP() { return nullptr; }
unsigned int KxStream::GetContentSizeUl() { return GetSizeUl(); }
char* KxStream::AllocMemP(unsigned int* size) {
  char* mem = GetMemP();
  if (mem == nullptr) return nullptr;
  unsigned int n = GetSizeUl();
  char* copy = strndup(mem, n);
  if (size) *size = n;
  return copy;
}
