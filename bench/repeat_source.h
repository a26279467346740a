// A document made on the fly from one in memory: its prolog and root start
// tag, the root's content `repeat` times, and the root's end tag, handed out
// in pieces of at most 64 KB. A streaming parser fed from it never sees the
// whole text at once, so its peak memory shows what it keeps itself.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

namespace twbench {

class RepeatSource {
 public:
  RepeatSource(const std::string& doc, unsigned repeat)
      : doc_(doc), repeat_(repeat), left_(repeat) {
    // The root start tag ends at the first '>' after the first '<' that
    // opens neither a declaration, a comment nor a processing instruction.
    size_t p = 0;
    while ((p = doc.find('<', p)) != std::string::npos && (doc[p + 1] == '?' || doc[p + 1] == '!'))
      ++p;
    bodyBegin_ = p == std::string::npos ? doc.size() : doc.find('>', p);
    bodyBegin_ = bodyBegin_ == std::string::npos ? doc.size() : bodyBegin_ + 1;
    bodyEnd_ = doc.rfind("</");
    if (bodyEnd_ == std::string::npos || bodyEnd_ < bodyBegin_) bodyEnd_ = bodyBegin_;
    end_ = bodyBegin_;  // the head first
  }

  // The next piece, or 0 at the end.
  size_t next(const char** piece) {
    if (!advance()) return 0;
    size_t n = std::min<size_t>(end_ - pos_, kPiece);
    *piece = doc_.data() + pos_;
    pos_ += n;
    total_ += n;
    return n;
  }

  // Copies up to size bytes, as a stream's read does.
  size_t read(char* buffer, size_t size) {
    size_t done = 0;
    while (done < size && advance()) {
      size_t n = std::min(end_ - pos_, size - done);
      std::memcpy(buffer + done, doc_.data() + pos_, n);
      pos_ += n;
      done += n;
    }
    total_ += done;
    return done;
  }

  // Bytes handed out so far, and in all.
  size_t total() const { return total_; }
  size_t size() const { return doc_.size() + (bodyEnd_ - bodyBegin_) * (repeat_ - 1); }

 private:
  static constexpr size_t kPiece = 64 * 1024;

  // Moves on to the next range of the document once the current one is used up.
  bool advance() {
    while (pos_ == end_) {
      if (left_ > 0) {
        --left_;
        pos_ = bodyBegin_;
        end_ = bodyEnd_;
      } else if (end_ != doc_.size()) {
        pos_ = bodyEnd_;
        end_ = doc_.size();
      } else {
        return false;
      }
    }
    return true;
  }

  const std::string& doc_;
  unsigned repeat_, left_;
  size_t bodyBegin_ = 0, bodyEnd_ = 0;
  size_t pos_ = 0, end_ = 0, total_ = 0;
};

}  // namespace twbench
