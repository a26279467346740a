#include "fake_platform.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <type_traits>
#include "twxml/platform/win32_internal.h"

namespace fake {

State st;
int failNothrowAt = 0;

namespace {

std::string Arg(const char* s) { return s ? s : "(null)"; }
bool Fails(const char* what) { return st.fail.count(what) != 0; }

// Copies text out the way the narrowing routines do: cut and 30 when it does
// not fit.
int CopyOut(const std::string& text, char* buffer, unsigned int size) {
  if (buffer == nullptr || size == 0) return 30;
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return text.size() < size ? 0 : 30;
}

// Elements only: names, values and attributes are checked over the real
// document class.
struct Node {
  std::string name;
  Node* parent = nullptr;
  std::vector<Node*> children;
};

struct Store {
  std::vector<std::unique_ptr<Node>> nodes;
  Node* root = nullptr;
  Node* Make(std::string name) {
    nodes.push_back(std::make_unique<Node>(Node{std::move(name), nullptr, {}}));
    return nodes.back().get();
  }
  static void Attach(Node* parent, Node* child) {
    child->parent = parent;
    parent->children.push_back(child);
  }
  // Tags only; text, comments and declarations are passed over.
  bool Parse(const std::string& in) {
    std::vector<Node*> open;
    for (size_t lt = in.find('<'); lt != std::string::npos; lt = in.find('<', lt + 1)) {
      size_t gt = in.find('>', lt);
      if (gt == std::string::npos) return false;
      if (in[lt + 1] == '?' || in[lt + 1] == '!') continue;
      if (in[lt + 1] == '/') {
        if (open.empty()) return false;
        open.pop_back();
        continue;
      }
      bool empty = in[gt - 1] == '/';
      Node* e = Make(in.substr(lt + 1, gt - lt - 1 - empty));
      if (!open.empty()) Attach(open.back(), e);
      else if (root) return false;
      else root = e;
      if (!empty) open.push_back(e);
    }
    return open.empty() && root != nullptr;
  }
};

#define FAKE_UNUSED(ret, name, ...) \
  ret name(__VA_ARGS__) override { return {}; }

class FakeNode : public KxXMLNode {
 public:
  FakeNode(std::shared_ptr<Store> store, Node* node) : node_(node), store_(std::move(store)) {
    ++st.live;
  }
  ~FakeNode() override { --st.live; }
  Node* node_;

  WCHAR* GetNameBstr() override {
    return SysAllocString(std::u16string(node_->name.begin(), node_->name.end()).c_str());
  }
  int AppendNodeF(KxXMLNode* child) override {
    Store::Attach(node_, static_cast<FakeNode*>(child)->node_);
    return 0;
  }
  int AppendAttributeF(char* name, int) override { return AppendAttributeF(name, nullptr); }
  int AppendAttributeF(char* name, char*) override {
    st.domCalls.push_back("AppendAttributeF " + node_->name + "," + Arg(name));
    return 0;
  }
  KxXMLNode* GetNextChildNodePo(KxXMLNode* previous) override {
    Node* prev = previous ? static_cast<FakeNode*>(previous)->node_ : nullptr;
    Node* parent = prev ? prev->parent : node_;
    auto& c = parent->children;
    auto next = prev ? std::find(c.begin(), c.end(), prev) + 1 : c.begin();
    return next == c.end() ? nullptr : new FakeNode(store_, *next);
  }
  char* GetValuePsz(char* buffer, unsigned int) override { return &(*buffer = '\0'); }
  int GetAttributeF(char*, char*, unsigned int) override { return 30; }
  int GetAttributeF(char*, int*) override { return 30; }
  FAKE_UNUSED(WCHAR*, GetValueBstr)
  FAKE_UNUSED(int, PutValueF, WCHAR*)
  FAKE_UNUSED(int, AppendAttributeF, WCHAR*, int)
  FAKE_UNUSED(int, AppendAttributeF, WCHAR*, WCHAR*)
  FAKE_UNUSED(int, ExtractNameF, char*, char*, unsigned int)
  FAKE_UNUSED(bool, IsThisNameB, char*, char*)
  FAKE_UNUSED(KxXMLNode*, FindChildNodePo, char*, char*)
  void GetTagNameV(char*, unsigned int) override {}

 private:
  std::shared_ptr<Store> store_;
};

class FakeParser : public KxXMLParser {
 public:
  FakeParser() { ++st.live; }
  ~FakeParser() override { --st.live; }

  int LoadFromStreamF(KxStream* stream) override {
    std::string bytes(stream->GetContentSizeUl(), '\0');
    if (stream->ReadF(bytes.data(), static_cast<unsigned int>(bytes.size())) != 0 ||
        !store_->Parse(bytes))
      return 12;
    if (Fails("noroot")) store_->root = nullptr;
    return 0;
  }
  void SaveToStreamV(KxStream* stream) override {
    ++st.saveCalls;
    if (Fails("save")) throw DomError{-2147467259};
    std::string text = store_->root ? "<" + store_->root->name + "/>" : "";
    stream->WriteF(text.data(), static_cast<unsigned int>(text.size()));
  }
  int PutRootElementF(KxXMLNode* element) override {
    ++st.putRootCalls;
    if (Fails("putroot")) return -1;
    store_->root = static_cast<FakeNode*>(element)->node_;
    return 0;
  }
  KxXMLNode* GetRootElementP() override {
    return store_->root ? new FakeNode(store_, store_->root) : nullptr;
  }
  KxXMLNode* CreateElementP(char* name, char*) override {
    return new FakeNode(store_, store_->Make(name));
  }
  int AppendElementF(KxXMLNode* parent, KxXMLNode* child) override {
    return Fails("append") ? -1 : parent->AppendNodeF(child);
  }
  int AppendTextF(KxXMLNode*, char*) override { return 0; }
  int SetEncodingF(char* encoding) override {
    st.domCalls.push_back("SetEncodingF " + Arg(encoding));
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

// Kernel streams over a string: memory (growable ones hand out their bytes)
// and files (read at once, written when deleted).
class FakeStream : public KxStream {
 public:
  FakeStream(std::string data, std::string path, bool memory)
      : data_(std::move(data)), path_(std::move(path)), memory_(memory) {
    ++st.live;
  }
  ~FakeStream() override {
    if (!path_.empty()) std::ofstream(path_, std::ios::binary) << data_;
    --st.live;
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

 private:
  std::string data_, path_;  // path_: a file being written
  size_t pos_ = 0;
  bool memory_;
};

}  // namespace
}  // namespace fake

using fake::st;

// ---- Non-throwing allocation with failure injection ----------------------

// Each form calls its own throwing form, so the matching delete stays right.
template <class F>
void* Injected(F allocate) noexcept {
  if (fake::failNothrowAt > 0 && --fake::failNothrowAt == 0) return nullptr;
  try {
    return allocate();
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return Injected([n] { return ::operator new(n); });
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return Injected([n] { return ::operator new[](n); });
}

// ---- Handle functions ------------------------------------------------------

struct _XmlLiteReaderS {};
struct _XmlLiteWriterS {
  bool file;
};

namespace {

template <class... A>
std::string Args(const char* first, A... rest) {
  if constexpr (sizeof...(A) == 0) return fake::Arg(first);
  else return fake::Arg(first) + "," + Args(rest...);
}
std::string N(long n) { return std::to_string(n); }

// A null handle (the other kind's operations) answers 44 without a record.
int Answer(const void* handle, const char* fn, const std::string& args) {
  if (handle == nullptr) return 44;
  st.calls.push_back(std::string(fn) + " " + args);
  auto it = st.status.find(fn);
  return it == st.status.end() ? 0 : it->second;
}

template <class H>
H* Create(const char* fn, const std::string& args, bool file = false) {
  st.calls.push_back(std::string(fn) + " " + args);
  if (st.fail.count("create")) return nullptr;
  ++st.live;
  if constexpr (std::is_same_v<H, _XmlLiteWriterS>) return new H{file};
  else return new H{};
}

template <class H>
int Close(const char* fn, H* h) {
  if (h == nullptr) return 44;
  st.calls.push_back(std::string(fn) + " ");
  --st.live;
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
  return Create<_XmlLiteReaderS>("XmlLiteCreateMemReaderH", Args(text));
}
_XmlLiteReaderS* XmlLiteCreateFileReaderH(const char* path) {
  return Create<_XmlLiteReaderS>("XmlLiteCreateFileReaderH", Args(path));
}
BOOL XmlLiteIsReaderHndValidB(_XmlLiteReaderS* reader) { return reader != nullptr; }
FAKE_STEP(XmlLiteReadElemF)
FAKE_STEP(XmlLitePeekElemF)
FAKE_STEP(XmlLiteReadEndElemF)
FAKE_STEP(XmlLiteSkipLevelF)
int XmlLiteCloseReaderF(_XmlLiteReaderS* r) { return Close("XmlLiteCloseReaderF", r); }

int XmlLiteGetElemNameToBufF(_XmlLiteReaderS* r, char* buffer, unsigned int size) {
  int s = Answer(r, "XmlLiteGetElemNameToBufF", N(size));
  return s ? s : fake::CopyOut(st.elemName, buffer, size);
}
int XmlLiteGetAttrValueToBufF(_XmlLiteReaderS* r, const char* name, char* buffer, unsigned int size) {
  int s = Answer(r, "XmlLiteGetAttrValueToBufF", Args(name, N(size).c_str()));
  auto it = st.attrs.find(fake::Arg(name));
  return s ? s : it == st.attrs.end() ? 30 : fake::CopyOut(it->second, buffer, size);
}
int XmlLiteGetLastErrorF(_XmlLiteReaderS*, unsigned int*, unsigned int*, char*, unsigned int) {
  return 30;
}
int XmlGetLoadErrorF(KxXMLParser*, unsigned int*, unsigned int*, char*, unsigned int) { return 30; }
int XmlLiteGetElemValueToBufF(_XmlLiteReaderS* r, char* buffer, unsigned int size) {
  int s = Answer(r, "XmlLiteGetElemValueToBufF", N(size));
  return s ? s : fake::CopyOut("value", buffer, size);
}

_XmlLiteWriterS* XmlLiteCreateMemWriterH(int indent, const char* encoding) {
  return Create<_XmlLiteWriterS>("XmlLiteCreateMemWriterH", Args(N(indent).c_str(), encoding));
}
_XmlLiteWriterS* XmlLiteCreateFileWriterH(const char* path, int indent, const char* encoding) {
  return Create<_XmlLiteWriterS>("XmlLiteCreateFileWriterH",
                                 Args(path, N(indent).c_str(), encoding), true);
}
BOOL XmlLiteIsWriterHndValidB(_XmlLiteWriterS* writer) { return writer != nullptr; }
int XmlLiteWriteStartElemF(_XmlLiteWriterS* w, const char* prefix, const char* local, const char* ns) {
  return Answer(w, "XmlLiteWriteStartElemF", Args(prefix, local, ns));
}
int XmlLiteWriteAttrF(_XmlLiteWriterS* w, const char* prefix, const char* local, const char* ns,
                      const char* value) {
  return Answer(w, "XmlLiteWriteAttrF", Args(prefix, local, ns, value));
}
int XmlLiteWriteValueF(_XmlLiteWriterS* w, const char* text) {
  return Answer(w, "XmlLiteWriteValueF", Args(text));
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
  st.domCalls.push_back("file " + Args(path, N(mode).c_str()));
  if (st.fail.count("filestream")) return nullptr;
  std::stringstream in;
  if (mode == 0) in << std::ifstream(path, std::ios::binary).rdbuf();
  return new fake::FakeStream(in.str(), mode == 0 ? "" : path, false);
}

KxStream* StreamCreateMemStreamP(char* buffer, unsigned long size, const char* name, int growable,
                                 int ownsBuffer, int* status) {
  st.domCalls.push_back("mem " + Args(buffer ? "buffer" : nullptr, N(size).c_str(), name,
                                      N(growable).c_str(), N(ownsBuffer).c_str()));
  *status = st.memStreamStatus;
  if (st.memStreamStatus != 0 || st.fail.count("memnull")) return nullptr;
  return new fake::FakeStream(buffer ? std::string(buffer, size) : "", "", growable != 0);
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
  return st.fail.count("parser") ? nullptr : new fake::FakeParser();
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
  if (size) *size = GetSizeUl();
  return strndup(mem, GetSizeUl());
}
