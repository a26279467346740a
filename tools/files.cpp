// Document sources and targets over file descriptors.
#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnosis.h"

namespace twxml_cli {

namespace {

// The parts of a stream that only read or write in order.
class SequentialStream : public IStream {
 public:
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
  HRESULT Write(const void*, ULONG, ULONG* written) override {
    if (written) *written = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return STG_E_INVALIDFUNCTION; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
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
    stat->type = STGTY_STREAM;
    return S_OK;
  }
  HRESULT Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 protected:
  virtual ~SequentialStream() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

class MemoryStream final : public SequentialStream {
 public:
  explicit MemoryStream(const std::string& bytes) : bytes_(bytes) {}
  HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
    size_t n = std::min<size_t>(count, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n < count ? S_FALSE : S_OK;
  }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

class FdStream final : public SequentialStream {
 public:
  FdStream(int fd, bool owned, int* writeErrno) : fd_(fd), owned_(owned), writeErrno_(writeErrno) {}

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
  HRESULT Write(const void* data, ULONG count, ULONG* written) override {
    ULONG done = 0;
    while (done < count) {
      ssize_t n = ::write(fd_, static_cast<const char*>(data) + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // The first failure is the one worth telling.
        if (writeErrno_ != nullptr && *writeErrno_ == 0) *writeErrno_ = n < 0 ? errno : EIO;
        if (written) *written = done;
        return n < 0 && errno == ENOSPC ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
      }
      done += static_cast<ULONG>(n);
    }
    if (written) *written = done;
    return S_OK;
  }

 private:
  ~FdStream() override {
    if (owned_) ::close(fd_);
  }
  int fd_;
  bool owned_;
  int* writeErrno_;
};

bool stdinTaken = false;

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

IStream* NewFdStream(int fd, bool owned, int* writeErrno) { return new FdStream(fd, owned, writeErrno); }

IStream* NewMemoryStream(const std::string& bytes) { return new MemoryStream(bytes); }

// ---- Input ---------------------------------------------------------------

Input::~Input() {
  if (fd_ >= 0) ::close(fd_);
}

bool Input::Open(const std::string& operand) {
  name_ = operand == "-" ? "<stdin>" : operand;
  std::string error;
  if (!OpenFd(operand, &error)) {
    ReportError(name_, "cannot read: " + error);
    return false;
  }
  return true;
}

bool Input::OpenFd(const std::string& operand, std::string* error) {
  if (operand == "-") {
    if (stdinTaken) {
      *error = "standard input was read already";
      return false;
    }
    stdinTaken = true;
    fd_ = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  } else {
    fd_ = ::open(operand.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd_ < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    *error = std::strerror(EISDIR);
    return false;
  }
  return true;
}

IStream* Input::Stream() {
  // The stream has a descriptor of its own on the same open file.
  int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 3);
  return fd < 0 ? nullptr : NewFdStream(fd, true, nullptr);
}

bool Input::ReadAll(std::string* bytes) {
  bytes->clear();
  char block[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd_, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ReportError(name_, std::string("cannot read: ") + std::strerror(errno));
      return false;
    }
    if (n == 0) return true;
    bytes->append(block, static_cast<size_t>(n));
  }
}

// ---- Output --------------------------------------------------------------

Output::~Output() { Abandon(); }

void Output::Abandon() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ownsFd_ = false;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
}

bool Output::Open(const std::string& path, std::string* error) {
  if (path == "-") {
    name_ = "<stdout>";
    std::fflush(stdout);
    fd_ = 1;
    return true;
  }
  name_ = path;
  target_ = path;
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    // The file a link points to is replaced, not the link.
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) {
      *error = std::strerror(errno);
      return false;
    }
    target_ = real;
    std::free(real);
  }
  mode_t mode;
  bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode)) {
      *error = std::strerror(EISDIR);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (fd_ < 0) {
        *error = std::strerror(errno);
        return false;
      }
      ownsFd_ = true;
      return true;
    }
    if (::access(target_.c_str(), W_OK) != 0) {
      *error = std::strerror(errno);
      return false;
    }
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    *error = std::strerror(errno);
    return false;
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::string base = target_.substr(target_.rfind('/') + 1);
  std::string pattern = Folder(target_) + "/." + base + ".twxml-XXXXXX";
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    *error = std::strerror(errno);
    return false;
  }
  ownsFd_ = true;
  temporary_ = pattern;
  ::fchmod(fd_, mode);
  if (exists && ::geteuid() == 0 && ::fchown(fd_, st.st_uid, st.st_gid) != 0) {
    // Best effort: the copy is then owned by whoever runs the command.
  }
  return true;
}

IStream* Output::Stream() { return NewFdStream(fd_, false, &writeErrno_); }

std::string Output::WriteFailure() const {
  return writeErrno_ != 0 ? std::strerror(writeErrno_) : std::string();
}

bool Output::Commit(std::string* error) {
  if (writeErrno_ != 0) {
    *error = WriteFailure();
    Abandon();
    return false;
  }
  if (ownsFd_) {
    int fd = fd_;
    fd_ = -1;
    ownsFd_ = false;
    if (::close(fd) != 0) {
      *error = std::strerror(errno);
      Abandon();
      return false;
    }
  }
  if (!temporary_.empty()) {
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
      *error = std::strerror(errno);
      Abandon();
      return false;
    }
    temporary_.clear();
  }
  return true;
}

// ---- Standard output -------------------------------------------------------

namespace {
int stdoutErrno = 0;  // why standard output first failed
}  // namespace

bool PutStdout(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
  if (stdoutErrno == 0) stdoutErrno = errno ? errno : EIO;
  return false;
}

bool FinishStdout() {
  if (std::fflush(stdout) != 0 && stdoutErrno == 0) stdoutErrno = errno ? errno : EIO;
  if (stdoutErrno == 0 && !std::ferror(stdout)) return true;
  ReportError("<stdout>", std::string("cannot write: ") + std::strerror(stdoutErrno ? stdoutErrno : EIO));
  std::clearerr(stdout);
  stdoutErrno = 0;
  return false;
}

}  // namespace twxml_cli
