// The pull state machine: the sliding input buffer, entity sources, one
// token per step with a restart when the token runs past the data at hand,
// failures and their positions, and the Parser's public face.
#include <algorithm>

#include "parser_impl.h"

namespace twxml::xmlcore {

using detail::kChunk;
using detail::kKeepBytes;
using detail::kPad;

Parser::Impl::Impl() {
  cap = kChunk + kPad;
  buf = static_cast<char*>(std::malloc(cap));
  if (!buf) throw std::bad_alloc();
}

Parser::Impl::~Impl() { std::free(buf); }

// ---------------------------------------------------------------- input

bool Parser::Impl::endOfInput() {
  if (dec.error() != Error::None) {
    failOff = base + len;
    errDetail = dec.encodingName();
    throw Fail{dec.error(), dec.message()};
  }
  return false;
}

void Parser::Impl::failMsg(Msg m, std::string_view detail, const char* at) {
  if (at) errAt = at;
  errDetail.assign(detail);
  throw Fail{errorOf(m), m};
}

void Parser::Impl::refill(size_t keep) {
  advanceLc(base + keep);
  if (keep > 0) {
    std::memmove(buf, buf + keep, len - keep);
    len -= keep;
    base += keep;
  }
  // One token (a text run, a tag, the internal subset) must fit in the
  // 32-bit lengths handed out.
  if (len > opt.maxTokenBytes) failMsg(Msg::TokenTooLarge);
  size_t want = std::max(kChunk, len);
  if (cap > kKeepBytes && cap > 4 * (len + want + kPad)) {
    // A huge token has passed: give the buffer back down to size.
    size_t ncap = len + want + kPad;
    if (char* nb = static_cast<char*>(std::realloc(buf, ncap))) {
      buf = nb;
      cap = ncap;
    }
  }
  if (cap < len + want + kPad) {
    size_t ncap = std::max(cap * 2, len + want + kPad);
    char* nb = static_cast<char*>(std::realloc(buf, ncap));
    if (!nb) throw std::bad_alloc();
    buf = nb;
    cap = ncap;
  }
  size_t got = 0;
  while (want - got >= 8 && !eof) {
    size_t n = dec.decode(buf + len + got, want - got);
    if (n == 0) eof = true;
    got += n;
  }
  len += got;
  std::memset(buf + len, 0, kPad);
}

// Line and column are counted only when asked for (a failure, a position
// query), from the last place they were known, by the line-feed kernel.
void Parser::Impl::advanceLc(uint64_t abs) const {
  if (abs <= lcOff) return;
  const char* from = buf + (lcOff - base);
  const char* e = buf + (abs - base);
  const char* lastNl = nullptr;
  lcLine += uint32_t(kern->lines(from, e, &lastNl));
  const char* p = from;
  if (lastNl) {
    lcCol = 0;
    p = lastNl + 1;
  }
  lcCol += uint32_t(kern->chars(p, e));
  lcOff = abs;
}

void Parser::Impl::lineCol(uint64_t abs, uint32_t* line, uint32_t* col) const {
  if (abs >= lcOff && abs <= base + len) advanceLc(abs);
  *line = lcLine;
  *col = lcCol + 1;
}

// ------------------------------------------------------------ entities
void Parser::Impl::skipReference(std::string_view name, const char* at) {
  const auto a = reinterpret_cast<uintptr_t>(at);
  const bool inMain = srcs.empty() && a >= reinterpret_cast<uintptr_t>(buf) &&
                      a <= reinterpret_cast<uintptr_t>(buf + len);
  const uint64_t off = inMain ? base + uint64_t(at - buf) : curOffset();
  // A token that ran past the data at hand is read again: the same
  // reference is not counted twice.
  if (lastSkipOff != UINT64_MAX && off <= lastSkipOff) return;
  lastSkipOff = off;
  if (skippedRefs++ == 0) {
    skippedName.assign(name);
    lineCol(off, &skippedLine, &skippedCol);
  }
}

void Parser::Impl::pushEntity(int idx, const char* resume) {
  if (srcs.empty())
    mainPos = size_t(resume - buf);
  else
    srcs.back().p = resume;
  Entity& e = entities[size_t(idx)];
  for (const Src& s : srcs)
    if (s.ent == idx) failMsg(Msg::EntityRecursion, e.name);
  if (srcs.size() >= 64) detail::fail(Error::EntityRecursion);
  countExpansion(e.len);
  srcs.push_back(Src{e.text.data(), e.text.data() + e.len, idx, uint32_t(frames.size())});
  cur = srcs.back().p;
  lim = srcs.back().end;
}

void Parser::Impl::popEntity() {
  if (frames.size() != srcs.back().depth) detail::fail(Error::Syntax);
  leaveSource();
}

void Parser::Impl::leaveSource() {
  srcs.pop_back();
  if (srcs.empty()) {
    cur = buf + mainPos;
    lim = buf + len;
  } else {
    cur = srcs.back().p;
    lim = srcs.back().end;
  }
}

// ----------------------------------------------------------- driver
void Parser::Impl::clearBuffers() {
  // Memory taken by one huge node goes back once it is passed.
  if (scratch.capacity() > kKeepBytes) scratch.release();
  if (text.capacity() > kKeepBytes) text.release();
  scratch.clear();
  text.clear();
}

int Parser::Impl::next() {
  Pull p;
  return advance(p);
}

int Parser::Impl::run(Sink& sink) {
  ToSink s{sink};
  return advance(s);
}

template <class Deliver>
int Parser::Impl::advance(Deliver& d) {
  if (__builtin_expect(state >= State::Done || !hasInput, 0)) {
    if (state == State::Err) return -1;
    if (state == State::Done) return 0;
    setError(Error::NoInput);
    return -1;
  }
  for (;;) {
    finishNode();
    // What a token that runs past the data at hand starts over from.
    const char* const tokenCur = cur;
    const bool nested = !srcs.empty();
    const size_t nestedKeep = mainPos;
    if (nested) savedSrcs = srcs;
    tokenCounted = false;
    try {
      clearNode();
      const int r = step(d);
      if (r > 0) return 1;
      if (r < 0) {
        state = State::Done;
        node.type = NodeType::None;
        clearStrings();
        return 0;
      }
    } catch (NeedMore&) {
      if (!restart(tokenCur, nested ? nestedKeep : size_t(tokenCur - buf), nested)) return -1;
    } catch (Fail& f) {
      setError(f.e, f.m);
      return -1;
    } catch (std::bad_alloc&) {
      setError(Error::OutOfMemory);
      return -1;
    }
  }
}

// A token ran past the data at hand: more is read behind what the token
// needs and the token starts over. False when that failed.
bool Parser::Impl::restart(const char* tokenCur, size_t keep, bool nested) {
  if (tokenCounted) {
    expansions = tokenExpansions;
    expandedBytes = tokenExpandedBytes;
  }
  if (nested)
    srcs = savedSrcs;
  else
    srcs.clear();
  try {
    refill(keep);
  } catch (std::bad_alloc&) {
    setError(Error::OutOfMemory);
    return false;
  } catch (Fail& f) {
    setError(f.e, f.m);
    return false;
  }
  if (srcs.empty()) {
    cur = buf;  // the token restarts at the front of the buffer
    lim = buf + len;
  } else {
    mainPos = 0;
    cur = tokenCur;
    lim = srcs.back().end;
  }
  return true;
}

void Parser::Impl::setError(Error e, Msg m) {
  bounded = false;
  try {
    errText = errorText(e, m, errDetail);
  } catch (const std::bad_alloc&) {
    errText.clear();  // the class still tells what failed
  }
  errDetail.clear();
  uint64_t off = failOff != UINT64_MAX ? failOff : curOffset();
  if (failOff == UINT64_MAX && errAt && srcs.empty() && errAt >= buf && errAt <= buf + len)
    off = base + uint64_t(errAt - buf);
  errAt = nullptr;
  if (base + len >= off && off >= lcOff) advanceLc(off);
  errLine = lcLine;
  errCol = lcCol + 1;
  err = e;
  state = State::Err;
  clearNode();
  clearStrings();
}

// Parses one token. 1: a node is ready; 0: nothing to report (or the node
// went to a sink that goes on); -1: end.
template <class Deliver>
int Parser::Impl::step(Deliver& d) {
  if (cur == lim) {
    if (!srcs.empty()) {
      popEntity();
      return 0;
    }
    moreOrEnd();
    if (state == State::Content) detail::fail(Error::UnexpectedEnd);
    if (state != State::Epilog) failMsg(Msg::NoRoot);
    return -1;
  }
  // White space passed over up to the next markup would make no node: it
  // is stepped over here rather than parsed as a text token of its own.
  // Only inside the root, where no state depends on it.
  if (skipSpace && state == State::Content && isSpace(*cur)) {
    const char* q = cur + 1;
    while (isSpace(*q)) ++q;
    if (*q == '<') cur = q;  // the zero bytes after lim stop the run there
  }
  nodeOff = curOffset();
  if (*cur != '<') return d.text(parseText());
  avail(2);
  char c = cur[1];
  if (c == '/') return d.endElement(parseEndTag());
  if (c == '?') return d.other(parsePI());
  if (c == '!') {
    avail(4);
    if (cur[2] == '-' && cur[3] == '-') return d.other(parseComment());
    if (cur[2] == '[') return d.other(parseCData());
    avail(9);
    if (detail::startsWith(cur, "<!DOCTYPE", 9)) return d.other(parseDoctype());
    detail::fail(Error::Syntax);
  }
  return d.element(parseStartTag());
}

void Parser::Impl::reset(ReadFn fn, void* ctx) {
  kern = &scan::Active();
  vec = simd::Active() != simd::Level::Plain;
  dec.reset(fn, ctx);
  hasInput = fn != nullptr;
  len = 0;
  base = 0;
  eof = false;
  std::memset(buf, 0, kPad);
  cur = lim = buf;
  srcs.clear();
  mainPos = 0;
  lcOff = 0;
  lcLine = 1;
  lcCol = 0;
  state = State::Start;
  err = Error::None;
  errLine = errCol = 0;
  errText.clear();
  errDetail.clear();
  probes = 0;
  frames.clear();
  names.clear();
  bindings.clear();
  nsArena.assign(detail::kXmlNs);
  nsArena.append(detail::kXmlnsNs);
  pendingPop = false;
  skipSpace = skipComments = false;
  seenDoctype = false;
  standalone = false;
  resetDtd();
  expansions = expandedBytes = 0;
  tokenCounted = false;
  skippedRefs = 0;
  lastSkipOff = UINT64_MAX;
  skippedName.clear();
  skippedLine = skippedCol = 0;
  bounded = false;
  failOff = UINT64_MAX;
  errAt = nullptr;
  node.depth = 0;
  node.attrs = attrs.data();
  clearNode();
  clearStrings();
}

// -------------------------------------------------------------- Parser API
Parser::Parser() : d(std::make_unique<Impl>()) { v_ = &d->node; }
Parser::~Parser() = default;

Options& Parser::options() { return d->opt; }
void Parser::reset(ReadFn fn, void* ctx) { d->reset(fn, ctx); }
int Parser::next() { return d->next(); }
int Parser::run(Sink& sink) { return d->run(sink); }
void Parser::position(uint32_t* line, uint32_t* col) const {
  d->lineCol(d->nodeOff + (d->node.type == NodeType::Element ? 1 : 0), line, col);
}
void Parser::attributePosition(uint32_t i, uint32_t* line, uint32_t* col) const {
  d->lineCol(d->nodeOff + d->attrs[i].offset, line, col);
}
bool Parser::eof() const { return d->state == Impl::State::Done; }
Error Parser::error() const { return d->err; }
uint32_t Parser::errorLine() const { return d->errLine; }
uint32_t Parser::errorColumn() const { return d->errCol; }
const std::string& Parser::errorMessage() const { return d->errText; }
int Parser::findAttribute(std::string_view local, const std::string_view* ns) {
  return d->findAttribute(local, ns);
}
uint64_t Parser::lookupProbes() const { return d->probes; }
void Parser::passOver(bool whitespace, bool comments) {
  d->skipSpace = whitespace;
  d->skipComments = comments;
}
uint64_t Parser::skippedReferences(std::string* first, uint32_t* line, uint32_t* col) const {
  if (first) *first = d->skippedName;
  if (line) *line = d->skippedLine;
  if (col) *col = d->skippedCol;
  return d->skippedRefs;
}

}  // namespace twxml::xmlcore
