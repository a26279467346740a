// Where documents come from and go to. Input is read once, as a stream, so
// pipes and standard input work; output goes to a temporary file beside the
// target and takes the target's place only when everything was written.
#pragma once

#include <memory>
#include <string>

#include "twxml/platform/com.h"

namespace twxml_cli {

// A document source: a file, or standard input for "-" (which can be read
// once per run).
class Input {
 public:
  Input() = default;
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // False after reporting why it cannot be read.
  bool Open(const std::string& operand);
  // The name diagnostics give it: the operand, "<stdin>" for "-".
  const std::string& name() const { return name_; }
  // A new reference to a stream that reads it from where it stands.
  IStream* Stream();
  // All of it into memory; false after reporting why not.
  bool ReadAll(std::string* bytes);

 private:
  bool OpenFd(const std::string& operand, std::string* error);

  int fd_ = -1;
  std::string name_;
};

// A read stream over bytes that outlive it.
IStream* NewMemoryStream(const std::string& bytes);
// A read or write stream over a file descriptor; a write failure is kept
// (as errno) so that it can be reported in words.
IStream* NewFdStream(int fd, bool owned, int* writeErrno);

// A document target: "-" is standard output; an existing file that is not a
// regular file (a device, a pipe) is written in place; otherwise the bytes
// go to a temporary file in the target's folder that Commit renames over
// the target. Until then an existing target stays as it was, and a target
// that is never committed is never touched.
class Output {
 public:
  Output() = default;
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool Open(const std::string& path, std::string* error);
  const std::string& name() const { return name_; }
  // A new reference to the write stream.
  IStream* Stream();
  // Why writing failed (strerror text), or empty.
  std::string WriteFailure() const;
  // Closes and puts the file in place; false with the reason.
  bool Commit(std::string* error);

 private:
  void Abandon();

  int fd_ = -1;
  int writeErrno_ = 0;
  bool ownsFd_ = false;
  std::string name_;
  std::string target_;     // the file the temporary one replaces
  std::string temporary_;  // empty when writing in place
};

// Standard output for a command's results: every write checked.
bool PutStdout(const std::string& text);
// Flushes and checks standard output; false (with a message) if anything
// written there was lost.
bool FinishStdout();

}  // namespace twxml_cli
