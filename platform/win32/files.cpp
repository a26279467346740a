// File calls over POSIX descriptors.
//
// A HANDLE is a heap record registered in a process-wide table, so a handle
// that was never made here (or was closed) is answered with
// ERROR_INVALID_HANDLE instead of touching a stray descriptor.
//
// Share modes are emulated with flock(), which offers only shared and
// exclusive locks per open file:
//   - an opener that will write takes LOCK_EX unless it lets others write too;
//   - a read-only opener that does not let others write takes LOCK_SH
//     (LOCK_EX when it shares nothing at all);
//   - openers that share writing take no lock.
// So a writer that shares reading still excludes other writers and the
// readers that do not allow writing; a reader that allows writing is never
// excluded. A conflict is ERROR_SHARING_VIOLATION. Locks are advisory: they
// only bind other users of these calls.
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "internal.h"

namespace {

constexpr uint32_t kFileMagic = 0x46494C45;  // "FILE"
constexpr DWORD kErrorAlreadyExists = 183;

struct FileRecord {
  uint32_t magic;
  int fd;
  bool canRead;
  bool canWrite;
};

struct HandleTable {
  std::mutex mutex;
  std::unordered_set<const void*> live;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives every static destructor
  return *table;
}

// The record behind a handle, or null (last error set) when it is not one of ours.
FileRecord* Lookup(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HandleTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.live.count(h) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<FileRecord*>(h);
}

int LockFor(DWORD access, DWORD share) {
  const bool writes = (access & GENERIC_WRITE) != 0;
  if (share & FILE_SHARE_WRITE) return 0;
  if (writes) return LOCK_EX;
  return (share & FILE_SHARE_READ) ? LOCK_SH : LOCK_EX;
}

}  // namespace

extern "C" {

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, void* /*security*/,
                   DWORD disposition, DWORD /*attributes*/, HANDLE /*templateFile*/) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (path[0] == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const bool canRead = (access & GENERIC_READ) != 0;
  const bool canWrite = (access & GENERIC_WRITE) != 0;
  int flags = O_CLOEXEC | O_NONBLOCK;  // O_NONBLOCK: never hang opening a FIFO
  flags |= canWrite ? (canRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  bool truncate = false;
  switch (disposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!canWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      truncate = true;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  if (truncate && !canWrite) flags = (flags & ~O_ACCMODE) | (canRead ? O_RDWR : O_WRONLY);

  struct stat before;
  const bool existed = ::stat(path, &before) == 0;
  int fd;
  do {
    fd = ::open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    tw::win32::SetLastErrorFromErrno(errno, path);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  // Share check before truncation, so a refused opener damages nothing.
  const int lock = LockFor(access, shareMode);
  if (lock != 0 && S_ISREG(st.st_mode)) {
    int r;
    do {
      r = ::flock(fd, lock | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
      const int err = errno;
      ::close(fd);
      SetLastError(err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION
                                      : tw::win32::ErrorFromErrno(err, path));
      return INVALID_HANDLE_VALUE;
    }
  }
  if (truncate && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    tw::win32::SetLastErrorFromErrno(err, path);
    return INVALID_HANDLE_VALUE;
  }

  FileRecord* rec = new (std::nothrow) FileRecord{kFileMagic, fd, canRead, canWrite};
  if (rec == nullptr) {
    ::close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  try {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> guard(t.mutex);
    t.live.insert(rec);
  } catch (const std::bad_alloc&) {
    delete rec;
    ::close(fd);  // and with it the share lock
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  // As the platform does: opening an existing file with CREATE_ALWAYS or
  // OPEN_ALWAYS succeeds and says so in the last error.
  const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(reportsExisting && existed ? kErrorAlreadyExists : ERROR_SUCCESS);
  return rec;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* /*overlapped*/) {
  if (read) *read = 0;
  FileRecord* rec = Lookup(file);
  if (rec == nullptr) return FALSE;
  if (buffer == nullptr && toRead != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!rec->canRead) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD total = 0;
  char* p = static_cast<char*>(buffer);
  while (total < toRead) {
    const ssize_t n = ::read(rec->fd, p + total, toRead - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (read) *read = total;
      tw::win32::SetLastErrorFromErrno(errno);
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with fewer bytes
    total += static_cast<DWORD>(n);
  }
  if (read) *read = total;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               void* /*overlapped*/) {
  if (written) *written = 0;
  FileRecord* rec = Lookup(file);
  if (rec == nullptr) return FALSE;
  if (buffer == nullptr && toWrite != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!rec->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD total = 0;
  const char* p = static_cast<const char*>(buffer);
  while (total < toWrite) {
    const ssize_t n = ::write(rec->fd, p + total, toWrite - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = total;
      tw::win32::SetLastErrorFromErrno(errno);
      return FALSE;
    }
    if (n == 0) {
      if (written) *written = total;
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    total += static_cast<DWORD>(n);
  }
  if (written) *written = total;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPos, DWORD method) {
  FileRecord* rec = Lookup(file);
  if (rec == nullptr) return FALSE;
  int whence;
  switch (method) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
  }
  if (whence == SEEK_SET && distance.QuadPart < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return FALSE;
  }
  const off_t pos = ::lseek(rec->fd, static_cast<off_t>(distance.QuadPart), whence);
  if (pos < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : tw::win32::ErrorFromErrno(errno));
    return FALSE;
  }
  if (newPos) newPos->QuadPart = pos;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  FileRecord* rec = Lookup(file);
  if (rec == nullptr) return FALSE;
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct stat st;
  if (::fstat(rec->fd, &st) != 0) {
    tw::win32::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  size->QuadPart = st.st_size;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    HandleTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.live.erase(handle) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  FileRecord* rec = static_cast<FileRecord*>(handle);
  const int fd = rec->fd;
  rec->magic = 0;
  delete rec;
  if (::close(fd) != 0 && errno != EINTR) {
    tw::win32::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
