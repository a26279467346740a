#include "fake_platform.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <sstream>

namespace fake {

LiteState lite;
DomState dom;
int failNothrowAt = 0;

void Reset() {
  lite = LiteState();
  dom = DomState();
  failNothrowAt = 0;
}

DomNode* DomStore::Make(DomNode::Kind kind) {
  nodes.push_back(std::make_unique<DomNode>());
  nodes.back()->kind = kind;
  return nodes.back().get();
}

namespace {

std::string Str(const char* s) { return s ? std::string(s) : std::string("(null)"); }

std::u16string Widen(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    char32_t cp;
    int n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else { cp = c & 0x07; n = 4; }
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Narrow(const WCHAR* w) {
  std::string out;
  for (; w && *w; ++w) {
    char32_t cp = *w;
    if (cp >= 0xD800 && cp < 0xDC00 && w[1]) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[1] - 0xDC00);
      ++w;
    }
    if (cp < 0x80) out += static_cast<char>(cp);
    else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
    else if (cp < 0x10000) { out += static_cast<char>(0xE0 | (cp >> 12)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
    else { out += static_cast<char>(0xF0 | (cp >> 18)); out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
  }
  return out;
}

std::string Escape(const std::string& s, bool attr) {
  std::string out;
  for (char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '&') out += "&amp;";
    else if (c == '>') out += "&gt;";
    else if (attr && c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') { out += s[i]; continue; }
    size_t semi = s.find(';', i);
    std::string ent = s.substr(i + 1, semi - i - 1);
    if (ent == "amp") out += '&';
    else if (ent == "lt") out += '<';
    else if (ent == "gt") out += '>';
    else if (ent == "quot") out += '"';
    else if (ent == "apos") out += '\'';
    i = semi;
  }
  return out;
}

// A small iterative parser for the documents the tests feed the fake DOM:
// elements, attributes, text, comments, declarations. False when malformed.
bool Parse(const std::string& in, DomStore& store) {
  std::vector<DomNode*> open;
  size_t i = 0;
  while (i < in.size()) {
    if (in[i] != '<') {
      size_t lt = in.find('<', i);
      if (lt == std::string::npos) lt = in.size();
      std::string text = in.substr(i, lt - i);
      if (text.find_first_not_of(" \t\r\n") != std::string::npos) {
        if (open.empty()) return false;
        DomNode* t = store.Make(DomNode::Text);
        t->text = Unescape(text);
        t->parent = open.back();
        open.back()->children.push_back(t);
      }
      i = lt;
      continue;
    }
    if (in.compare(i, 4, "<!--") == 0) {
      size_t end = in.find("-->", i);
      if (end == std::string::npos) return false;
      if (!open.empty()) {
        DomNode* c = store.Make(DomNode::Comment);
        c->text = in.substr(i + 4, end - i - 4);
        c->parent = open.back();
        open.back()->children.push_back(c);
      }
      i = end + 3;
      continue;
    }
    if (in.compare(i, 2, "<?") == 0) {
      size_t end = in.find("?>", i);
      if (end == std::string::npos) return false;
      i = end + 2;
      continue;
    }
    size_t gt = in.find('>', i);
    if (gt == std::string::npos) return false;
    if (in[i + 1] == '/') {
      std::string name = in.substr(i + 2, gt - i - 2);
      if (open.empty() || open.back()->name != name) return false;
      open.pop_back();
      i = gt + 1;
      continue;
    }
    bool selfClosing = in[gt - 1] == '/';
    std::string tag = in.substr(i + 1, gt - i - 1 - (selfClosing ? 1 : 0));
    DomNode* e = store.Make(DomNode::Element);
    size_t p = tag.find_first_of(" \t\r\n");
    e->name = tag.substr(0, p);
    if (e->name.empty()) return false;
    while (p != std::string::npos) {
      p = tag.find_first_not_of(" \t\r\n", p);
      if (p == std::string::npos) break;
      size_t eq = tag.find('=', p);
      if (eq == std::string::npos) return false;
      char q = tag[eq + 1];
      size_t close = tag.find(q, eq + 2);
      if (close == std::string::npos) return false;
      e->attrs.emplace_back(tag.substr(p, eq - p), Unescape(tag.substr(eq + 2, close - eq - 2)));
      p = close + 1;
    }
    if (open.empty()) {
      if (store.root) return false;
      store.root = e;
    } else {
      e->parent = open.back();
      open.back()->children.push_back(e);
    }
    if (!selfClosing) open.push_back(e);
    i = gt + 1;
  }
  return open.empty() && store.root != nullptr;
}

void SerialiseNode(const DomNode* root, std::string& out) {
  // Iterative, so deep documents do not exhaust the stack.
  struct Frame { const DomNode* n; size_t next; };
  std::vector<Frame> stack{{root, 0}};
  while (!stack.empty()) {
    Frame& f = stack.back();
    const DomNode* n = f.n;
    if (f.next == 0) {
      if (n->kind == DomNode::Text) { out += Escape(n->text, false); stack.pop_back(); continue; }
      if (n->kind == DomNode::Comment) { out += "<!--" + n->text + "-->"; stack.pop_back(); continue; }
      out += "<" + n->name;
      for (auto& [k, v] : n->attrs) out += " " + k + "=\"" + Escape(v, true) + "\"";
      if (n->children.empty()) { out += "/>"; stack.pop_back(); continue; }
      out += ">";
    }
    if (f.next < n->children.size()) {
      const DomNode* child = n->children[f.next++];
      stack.push_back({child, 0});
      continue;
    }
    out += "</" + n->name + ">";
    stack.pop_back();
  }
}

class FakeNode : public KxXMLNode {
 public:
  FakeNode(std::shared_ptr<DomStore> store, DomNode* node) : store_(std::move(store)), node_(node) {
    ++dom.liveNodes;
  }
  ~FakeNode() override { --dom.liveNodes; }
  DomNode* Node() const { return node_; }

  WCHAR* GetNameBstr() override {
    if (node_->kind != DomNode::Element) return nullptr;
    return SysAllocString(Widen(node_->name).c_str());
  }
  int AppendNodeF(KxXMLNode* child) override {
    auto* c = static_cast<FakeNode*>(child);
    Attach(node_, c->node_);
    return 0;
  }
  WCHAR* GetValueBstr() override { return nullptr; }
  int PutValueF(WCHAR*) override { return -1; }
  int AppendAttributeF(char* name, int value) override {
    std::string text = std::to_string(value);
    return AppendAttributeF(name, text.data());
  }
  int AppendAttributeF(char* name, char* value) override {
    dom.attrNames.push_back(Str(name));
    if (node_->kind != DomNode::Element) return -1;
    if (name == nullptr || *name == '\0' || *name == ':' || std::strchr(name, ' ') != nullptr) {
      throw DomError{-2147024809};
    }
    for (auto& a : node_->attrs) {
      if (a.first == name) {
        a.second = value ? value : "";
        return 0;
      }
    }
    node_->attrs.emplace_back(name, value ? value : "");
    return 0;
  }
  int AppendAttributeF(WCHAR*, int) override { return -1; }
  int AppendAttributeF(WCHAR*, WCHAR*) override { return -1; }
  KxXMLNode* GetNextChildNodePo(KxXMLNode* previous) override {
    const DomNode* parent = node_;
    size_t start = 0;
    if (previous != nullptr) {
      DomNode* prev = static_cast<FakeNode*>(previous)->node_;
      parent = prev->parent;
      if (parent == nullptr) return nullptr;
      for (start = 0; start < parent->children.size(); ++start) {
        if (parent->children[start] == prev) break;
      }
      ++start;
    }
    for (size_t k = start; k < parent->children.size(); ++k) {
      if (parent->children[k]->kind == DomNode::Element) return new FakeNode(store_, parent->children[k]);
    }
    return nullptr;
  }
  int ExtractNameF(char*, char*, unsigned int) override { return 30; }
  bool IsThisNameB(char*, char*) override { return false; }
  void GetTagNameV(char* buffer, unsigned int) override { *buffer = 0; }
  int GetAttributeF(char* name, char* buffer, unsigned int size) override {
    const std::string* v = Find(name);
    if (v == nullptr) return 30;
    StrNCopyRTrimV(v->c_str(), buffer, size);
    return 0;
  }
  int GetAttributeF(char* name, int* value) override {
    const std::string* v = Find(name);
    if (v == nullptr) return 30;
    char* end = nullptr;
    long long n = std::strtoll(v->c_str(), &end, 10);
    if (v->empty() || *end != '\0' || n < INT32_MIN || n > INT32_MAX) return 30;
    *value = static_cast<int>(n);
    return 0;
  }
  char* GetValuePsz(char* buffer, unsigned int size) override {
    buffer[0] = '\0';
    for (DomNode* c : node_->children) {
      if (c->kind != DomNode::Text) continue;
      if (c->text.size() < size) {
        std::memcpy(buffer, c->text.c_str(), c->text.size() + 1);
        return buffer;
      }
      return strdup(c->text.c_str());
    }
    return buffer;
  }
  KxXMLNode* FindChildNodePo(char*, char*) override { return nullptr; }

  static void Attach(DomNode* parent, DomNode* child) {
    if (child->parent != nullptr) {
      auto& sib = child->parent->children;
      for (size_t k = 0; k < sib.size(); ++k) {
        if (sib[k] == child) {
          sib.erase(sib.begin() + static_cast<long>(k));
          break;
        }
      }
    }
    child->parent = parent;
    parent->children.push_back(child);
  }

 private:
  const std::string* Find(const char* name) const {
    if (name == nullptr || node_->kind != DomNode::Element) return nullptr;
    for (auto& a : node_->attrs) {
      if (a.first == name) return &a.second;
    }
    return nullptr;
  }
  std::shared_ptr<DomStore> store_;
  DomNode* node_;
};

class FakeParser : public KxXMLParser {
 public:
  FakeParser() : store_(std::make_shared<DomStore>()) { ++dom.liveParsers; }
  ~FakeParser() override { --dom.liveParsers; }

  int LoadFromStreamF(KxStream* stream) override {
    std::string bytes(stream->GetContentSizeUl(), '\0');
    for (size_t done = 0; done < bytes.size();) {
      unsigned int chunk = static_cast<unsigned int>(std::min<size_t>(1024, bytes.size() - done));
      if (stream->ReadF(&bytes[done], chunk) != 0) return 12;
      done += chunk;
    }
    auto fresh = std::make_shared<DomStore>();
    if (!Parse(bytes, *fresh)) return 12;
    if (dom.loadNoRoot) fresh->root = nullptr;
    store_ = fresh;
    return 0;
  }
  void SaveToStreamV(KxStream* stream) override {
    ++dom.saveCalls;
    if (dom.saveThrows) throw DomError{-2147467259};
    std::string text = Serialise(*store_);
    stream->WriteF(text.data(), static_cast<unsigned int>(text.size()));
  }
  int PutRootElementF(KxXMLNode* element) override {
    ++dom.putRootCalls;
    if (dom.putRootFails) return -1;
    store_->root = static_cast<FakeNode*>(element)->Node();
    return 0;
  }
  KxXMLNode* GetRootElementP() override {
    return store_->root ? new FakeNode(store_, store_->root) : nullptr;
  }
  KxXMLNode* CreateElementP(char* name, char* namespaceUri) override {
    dom.createdNames.push_back(Str(name));
    dom.createdNs.push_back(Str(namespaceUri));
    DomNode* e = store_->Make(DomNode::Element);
    e->name = name;
    e->hasNamespace = namespaceUri != nullptr;
    if (namespaceUri) e->namespaceUri = namespaceUri;
    return new FakeNode(store_, e);
  }
  KxXMLNode* CreateElementP(WCHAR*, WCHAR*) override { return nullptr; }
  KxXMLNode* CreateTextP(char*) override { return nullptr; }
  KxXMLNode* CreateTextP(WCHAR*) override { return nullptr; }
  KxXMLNode* CreateCommentP(char*) override { return nullptr; }
  KxXMLNode* CreateCommentP(WCHAR*) override { return nullptr; }
  int AppendElementF(KxXMLNode* parent, KxXMLNode* child) override {
    if (dom.appendFails) return -1;
    return parent->AppendNodeF(child);
  }
  int AppendElementF(KxXMLNode*, char*, char*) override { return -1; }
  int AppendElementF(KxXMLNode*, WCHAR*, WCHAR*) override { return -1; }
  int AppendTextF(KxXMLNode* parent, char* text) override {
    DomNode* t = store_->Make(DomNode::Text);
    t->text = text ? text : "";
    FakeNode::Attach(static_cast<FakeNode*>(parent)->Node(), t);
    return 0;
  }
  int AppendTextF(KxXMLNode*, WCHAR*) override { return -1; }
  int AppendCommentF(KxXMLNode*, char*) override { return -1; }
  int AppendCommentF(KxXMLNode*, WCHAR*) override { return -1; }
  int SetEncodingF(char* encoding) override {
    dom.encodings.push_back(Str(encoding));
    store_->declaration = encoding ? encoding : "UTF-8";
    return 0;
  }

 private:
  std::shared_ptr<DomStore> store_;
};

// Kernel streams: memory (reading a caller buffer, or growing) and files.
class FakeStream : public KxStream {
 public:
  FakeStream() { ++dom.liveStreams; }
  ~FakeStream() override {
    if (!path_.empty()) {
      std::ofstream(path_, std::ios::binary) << data_;
    }
    --dom.liveStreams;
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
  int RewindF() override {
    pos_ = 0;
    return 0;
  }
  char* GetMemP() override { return memory_ ? data_.data() : nullptr; }

  std::string data_;
  size_t pos_ = 0;
  bool memory_ = false;
  std::string path_;  // a file being written
};

}  // namespace

std::string Serialise(const DomStore& store) {
  std::string out;
  if (!store.declaration.empty()) out += "<?xml version='1.0' encoding='" + store.declaration + "'?>";
  if (store.root) SerialiseNode(store.root, out);
  return out;
}

}  // namespace fake

using fake::dom;
using fake::lite;

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
  int magic;
  bool file;
};

namespace {

std::string Arg(const char* s) { return s ? std::string(s) : std::string("(null)"); }

int Answer(const char* fn, const std::string& args) {
  lite.calls.push_back(std::string(fn) + " " + args);
  auto it = lite.status.find(fn);
  return it == lite.status.end() ? 0 : it->second;
}

int CopyOut(const std::string& text, char* buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return 30;
  if (text.size() < size) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), size - 1);
  buffer[size - 1] = '\0';
  return 30;
}

}  // namespace

extern "C" {

BOOL XmlLiteIsDllFoundB(void) {
  ++lite.probeCalls;
  return lite.dllFound;
}

_XmlLiteReaderS* XmlLiteCreateMemReaderH(const char* text) {
  lite.calls.push_back("XmlLiteCreateMemReaderH " + Arg(text));
  if (lite.createFails) return nullptr;
  ++lite.openReaders;
  return new _XmlLiteReaderS{0x7354};
}

_XmlLiteReaderS* XmlLiteCreateFileReaderH(const char* path) {
  lite.calls.push_back("XmlLiteCreateFileReaderH " + Arg(path));
  if (lite.createFails) return nullptr;
  ++lite.openReaders;
  return new _XmlLiteReaderS{0x7354};
}

BOOL XmlLiteIsReaderHndValidB(_XmlLiteReaderS* reader) { return reader != nullptr; }

int XmlLiteReadElemF(_XmlLiteReaderS* r) { return r ? Answer("XmlLiteReadElemF", "") : 44; }
int XmlLitePeekElemF(_XmlLiteReaderS* r) { return r ? Answer("XmlLitePeekElemF", "") : 44; }
int XmlLiteReadEndElemF(_XmlLiteReaderS* r) { return r ? Answer("XmlLiteReadEndElemF", "") : 44; }
int XmlLiteSkipLevelF(_XmlLiteReaderS* r) { return r ? Answer("XmlLiteSkipLevelF", "") : 44; }

int XmlLiteCloseReaderF(_XmlLiteReaderS* r) {
  if (r == nullptr) return 44;
  lite.calls.push_back("XmlLiteCloseReaderF ");
  --lite.openReaders;
  delete r;
  return 0;
}

int XmlLiteGetElemNameToBufF(_XmlLiteReaderS* r, char* buffer, unsigned int size) {
  if (r == nullptr) return 44;
  int s = Answer("XmlLiteGetElemNameToBufF", std::to_string(size));
  return s != 0 ? s : CopyOut(lite.elemName, buffer, size);
}

int XmlLiteGetAttrValueToBufF(_XmlLiteReaderS* r, const char* name, char* buffer,
                              unsigned int size) {
  if (r == nullptr) return 44;
  int s = Answer("XmlLiteGetAttrValueToBufF", Arg(name) + "," + std::to_string(size));
  if (s != 0) return s;
  auto it = name ? lite.attrs.find(name) : lite.attrs.end();
  if (it == lite.attrs.end()) return 30;
  return CopyOut(it->second, buffer, size);
}

int XmlLiteGetElemValueToBufF(_XmlLiteReaderS* r, char* buffer, unsigned int size) {
  if (r == nullptr) return 44;
  int s = Answer("XmlLiteGetElemValueToBufF", std::to_string(size));
  return s != 0 ? s : CopyOut(lite.elemValue, buffer, size);
}

_XmlLiteWriterS* XmlLiteCreateMemWriterH(int indent, const char* encoding) {
  lite.calls.push_back("XmlLiteCreateMemWriterH " + std::to_string(indent) + "," + Arg(encoding));
  if (lite.createFails) return nullptr;
  ++lite.openWriters;
  return new _XmlLiteWriterS{0x7352, false};
}

_XmlLiteWriterS* XmlLiteCreateFileWriterH(const char* path, int indent, const char* encoding) {
  lite.calls.push_back("XmlLiteCreateFileWriterH " + Arg(path) + "," + std::to_string(indent) +
                       "," + Arg(encoding));
  if (lite.createFails) return nullptr;
  ++lite.openWriters;
  return new _XmlLiteWriterS{0x7352, true};
}

BOOL XmlLiteIsWriterHndValidB(_XmlLiteWriterS* writer) { return writer != nullptr; }

int XmlLiteWriteStartElemF(_XmlLiteWriterS* w, const char* prefix, const char* localName,
                           const char* namespaceUri) {
  if (w == nullptr) return 44;
  return Answer("XmlLiteWriteStartElemF", Arg(prefix) + "," + Arg(localName) + "," + Arg(namespaceUri));
}

int XmlLiteWriteAttrF(_XmlLiteWriterS* w, const char* prefix, const char* localName,
                      const char* namespaceUri, const char* value) {
  if (w == nullptr) return 44;
  return Answer("XmlLiteWriteAttrF", Arg(prefix) + "," + Arg(localName) + "," + Arg(namespaceUri) +
                                         "," + Arg(value));
}

int XmlLiteWriteValueF(_XmlLiteWriterS* w, const char* text) {
  if (w == nullptr) return 44;
  return Answer("XmlLiteWriteValueF", Arg(text));
}

int XmlLiteWriteEndElemF(_XmlLiteWriterS* w) {
  if (w == nullptr) return 44;
  return Answer("XmlLiteWriteEndElemF", "");
}

int XmlLiteGetMemF(_XmlLiteWriterS* w, char** text, unsigned int* length) {
  *text = nullptr;
  *length = 0;
  if (w == nullptr) return 44;
  if (w->file) return 30;
  int s = Answer("XmlLiteGetMemF", "");
  if (s != 0) return s;
  *text = static_cast<char*>(std::malloc(lite.memText.size() + 1));
  std::memcpy(*text, lite.memText.c_str(), lite.memText.size() + 1);
  *length = static_cast<unsigned int>(lite.memText.size());
  return 0;
}

int XmlLiteCloseWriterF(_XmlLiteWriterS* w) {
  if (w == nullptr) return 44;
  lite.calls.push_back("XmlLiteCloseWriterF ");
  --lite.openWriters;
  delete w;
  return 0;
}

// ---- Kernel and support ----------------------------------------------------

void* MemAllocP(size_t size) { return std::malloc(size ? size : 1); }
int MemFreeF(void* block) {
  std::free(block);
  return 0;
}

void StrNCopyRTrimV(const char* src, char* dst, unsigned int size) {
  if (dst == nullptr || size == 0) return;
  if (src == nullptr) {
    *dst = '\0';
    return;
  }
  size_t n = std::min<size_t>(std::strlen(src), size - 1);
  std::memcpy(dst, src, n);
  while (n > 0 && std::strchr(" \t\r\n\v\f", dst[n - 1]) != nullptr) --n;
  dst[n] = '\0';
}

unsigned int StrPadGetSizeU(const char* text) {
  if (text == nullptr) return 0;
  size_t n = std::strlen(text);
  while (n > 0 && std::strchr(" \t\r\n\v\f", text[n - 1]) != nullptr) --n;
  return static_cast<unsigned int>(n);
}

KxStream* StreamCreateFileStreamP(const char* path, int, int mode, int) {
  dom.streamCalls.push_back("file " + Arg(path) + "," + std::to_string(mode));
  if (dom.fileStreamFails) return nullptr;
  auto* s = new fake::FakeStream();
  if (mode == 0) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    s->data_ = ss.str();
  } else {
    s->path_ = path;
  }
  return s;
}

KxStream* StreamCreateMemStreamP(char* buffer, unsigned long size, const char* name, int growable,
                                 int ownsBuffer, int* status) {
  dom.streamCalls.push_back("mem " + std::string(buffer ? "buffer" : "(null)") + "," +
                            std::to_string(size) + "," + Arg(name) + "," + std::to_string(growable) +
                            "," + std::to_string(ownsBuffer));
  *status = dom.memStreamStatus;
  if (dom.memStreamStatus != 0 || dom.memStreamNull) return nullptr;
  auto* s = new fake::FakeStream();
  if (buffer != nullptr) s->data_.assign(buffer, size);
  s->memory_ = growable != 0;
  return s;
}

int VarCnvBStrToStrBufF(const WCHAR* text, char* buffer, unsigned int size) {
  return CopyOut(fake::Narrow(text), buffer, size);
}

int _access(const char* path, int) { return path && access(path, R_OK) == 0 ? 0 : -1; }
int _stricmp(const char* a, const char* b) { return strcasecmp(a, b); }
int _strnicmp(const char* a, const char* b, size_t n) { return strncasecmp(a, b, n); }
UINT GetACP(void) { return CP_UTF8; }

BSTR SysAllocString(const OLECHAR* text) {
  size_t n = 0;
  while (text && text[n]) ++n;
  auto* block = static_cast<uint32_t*>(std::malloc(4 + (n + 1) * 2));
  *block = static_cast<uint32_t>(n * 2);
  auto* s = reinterpret_cast<OLECHAR*>(block + 1);
  for (size_t k = 0; k < n; ++k) s[k] = text[k];
  s[n] = 0;
  return s;
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<uint32_t*>(text) - 1);
}

KxXMLParser* XmlGetParserP(void) {
  ++dom.getParserCalls;
  if (dom.parserFails) return nullptr;
  return new fake::FakeParser();
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
  char* copy = static_cast<char*>(MemAllocP(n + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, mem, n);
  copy[n] = '\0';
  if (size) *size = n;
  return copy;
}
