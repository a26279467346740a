// File calls: dispositions, errors, share modes, handle checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "twxml/platform/win32_internal.h"

namespace fs = std::filesystem;

namespace {

class Files : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/twxml-files-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    std::ofstream(Path("f"), std::ios::binary) << "keep me";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::string Text() const {  // what file "f" holds
    std::ifstream in(Path("f"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  fs::path dir_;
};

constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ;

TEST_F(Files, WriteSeekReadSizeRoundTrip) {
  HANDLE h = Open(Path("a"), R | W, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &done, nullptr));
  EXPECT_EQ(11u, done);
  LARGE_INTEGER size{}, to{}, pos{};
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(11, size.QuadPart);
  to.QuadPart = 6;
  ASSERT_TRUE(SetFilePointerEx(h, to, &pos, FILE_BEGIN));
  EXPECT_EQ(6, pos.QuadPart);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ("world", std::string(buf, done));  // end of file: success with fewer bytes
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(0u, done);
  to.QuadPart = -3;
  ASSERT_TRUE(SetFilePointerEx(h, to, &pos, FILE_END));
  EXPECT_EQ(8, pos.QuadPart);
  to.QuadPart = -1;
  SetLastError(0);
  EXPECT_FALSE(SetFilePointerEx(h, to, &pos, FILE_BEGIN));
  EXPECT_EQ(ERROR_NEGATIVE_SEEK, GetLastError());
  EXPECT_FALSE(SetFilePointerEx(h, to, &pos, 7));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, DispositionsAndErrors) {
  const struct {
    std::string path;
    DWORD access, share, disposition, error;  // 0 and 183 (it existed): opens
    const char* after;                        // content of "f" afterwards
  } cases[] = {
      {Path("missing"), R, SR, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, "keep me"},
      {Path("missing"), W, 0, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND, "keep me"},
      {Path("no/such/dir/x"), R, SR, OPEN_EXISTING, ERROR_PATH_NOT_FOUND, "keep me"},
      {Path("nodir/x"), W, 0, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, "keep me"},
      {"", R, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND, "keep me"},
      {dir_.string(), R, SR, OPEN_EXISTING, ERROR_ACCESS_DENIED, "keep me"},
      {dir_.string(), W, 0, OPEN_EXISTING, ERROR_ACCESS_DENIED, "keep me"},
      {Path("f"), R, 0, 99, ERROR_INVALID_PARAMETER, "keep me"},
      {Path("f"), R, 0, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER, "keep me"},
      {Path("f"), W, 0, CREATE_NEW, ERROR_FILE_EXISTS, "keep me"},
      {Path("f"), W, 0, OPEN_ALWAYS, 183, "keep me"},  // existing: kept, reported
      {Path("f"), W, 0, TRUNCATE_EXISTING, 0, ""},
      {Path("f"), W, 0, CREATE_ALWAYS, 183, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.disposition));
    std::ofstream(Path("f"), std::ios::binary) << "keep me";
    SetLastError(0);
    HANDLE h = Open(c.path, c.access, c.share, c.disposition);
    EXPECT_EQ(c.error, GetLastError());
    EXPECT_EQ(c.error == 0 || c.error == 183, h != INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(c.after, Text());
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(nullptr, R, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  // Access rights: the handle's, then the file's permission bits.
  DWORD done = 7;
  char c;
  HANDLE r = Open(Path("f"), R, SR, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(r, "x", 1, &done, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(0u, done);
  EXPECT_FALSE(ReadFile(r, nullptr, 1, &done, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  CloseHandle(r);
  HANDLE w = Open(Path("f"), W, 0, OPEN_EXISTING);
  EXPECT_FALSE(ReadFile(w, &c, 1, &done, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  CloseHandle(w);
  if (geteuid() == 0) return;  // permission bits do not bind root
  chmod(Path("f").c_str(), 0444);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("f"), W, 0, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  chmod(Path("f").c_str(), 0000);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("f"), R, SR, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(Files, ShareModes) {
  const std::string p = Path("f");
  auto refused = [&](DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    SetLastError(0);
    const bool no = Open(p, access, share, disposition) == INVALID_HANDLE_VALUE;
    return no && GetLastError() == ERROR_SHARING_VIOLATION;
  };
  // A writer that shares reading excludes writers and readers that do not allow writing.
  HANDLE w = Open(p, W, SR, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, w);
  EXPECT_TRUE(refused(W, SR));
  EXPECT_TRUE(refused(R, SR));
  EXPECT_TRUE(refused(W, 0, CREATE_ALWAYS));
  EXPECT_EQ("keep me", Text());  // a refused CREATE_ALWAYS leaves the file alone
  HANDLE tolerant = Open(p, R, SR | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, tolerant);
  CloseHandle(tolerant);
  EXPECT_TRUE(CloseHandle(w));
  // Readers that share reading coexist and keep writers out until the last closes.
  HANDLE r1 = Open(p, R, SR, OPEN_EXISTING), r2 = Open(p, R, SR, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, r1);
  ASSERT_NE(INVALID_HANDLE_VALUE, r2);
  EXPECT_TRUE(refused(W, SR));
  CloseHandle(r1);
  EXPECT_TRUE(refused(W, SR));
  CloseHandle(r2);
  HANDLE excl = Open(p, R, 0, OPEN_EXISTING);  // an exclusive reader keeps readers out too
  ASSERT_NE(INVALID_HANDLE_VALUE, excl);
  EXPECT_TRUE(refused(R, SR));
  CloseHandle(excl);
  w = Open(p, W, SR, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, w);
  CloseHandle(w);
}

TEST_F(Files, GarbageAndClosedHandlesAndPerThreadError) {
  HANDLE h = Open(Path("f"), R, SR, OPEN_EXISTING);
  ASSERT_TRUE(CloseHandle(h));
  char buf[4];
  DWORD done = 5;
  LARGE_INTEGER size{};
  int local = 0;
  for (HANDLE b : {HANDLE(nullptr), INVALID_HANDLE_VALUE, h, reinterpret_cast<HANDLE>(0x1234),
                   static_cast<HANDLE>(&local)}) {
    SetLastError(0);
    EXPECT_FALSE(ReadFile(b, buf, 1, &done, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ(0u, done);
    EXPECT_FALSE(WriteFile(b, buf, 1, &done, nullptr));
    EXPECT_FALSE(GetFileSizeEx(b, &size));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(SetFilePointerEx(b, size, nullptr, FILE_BEGIN));
    EXPECT_FALSE(CloseHandle(b));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  }
  SetLastError(77);
  std::thread([] {
    EXPECT_EQ(0u, GetLastError());
    SetLastError(5);
  }).join();
  EXPECT_EQ(77u, GetLastError());
}

}  // namespace
