// File calls: dispositions, errors, share modes, handle checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "twxml/platform/win32.h"

namespace fs = std::filesystem;

namespace {

class Files : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/twxml-files-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::all, ec);
    fs::remove_all(dir_, ec);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  static void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  fs::path dir_;
};

TEST_F(Files, WriteSeekReadSizeRoundTrip) {
  const std::string p = Path("a.bin");
  HANDLE h = Open(p, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &done, nullptr));
  EXPECT_EQ(11u, done);
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(11, size.QuadPart);
  LARGE_INTEGER to{}, pos{};
  to.QuadPart = 6;
  ASSERT_TRUE(SetFilePointerEx(h, to, &pos, FILE_BEGIN));
  EXPECT_EQ(6, pos.QuadPart);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(5u, done);  // end of file: success with fewer bytes
  EXPECT_EQ("world", std::string(buf, done));
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
  EXPECT_EQ("hello world", Get(p));
}

TEST_F(Files, DispositionsAndErrors) {
  const std::string p = Path("d.txt");
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            Open(Path("no/such/dir/x"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("nodir/x"), GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(dir_.string(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(dir_.string(), GENERIC_WRITE, 0, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("", GENERIC_READ, 0, OPEN_EXISTING));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_READ, 0, 99));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_READ, 0, TRUNCATE_EXISTING));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

  Put(p, "old content");
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_WRITE, 0, CREATE_NEW));
  EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());
  HANDLE h = Open(p, GENERIC_WRITE, 0, OPEN_ALWAYS);  // existing: kept, reported
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(183u, GetLastError());
  CloseHandle(h);
  EXPECT_EQ("old content", Get(p));
  h = Open(p, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_EQ("", Get(p));
  Put(p, "again");
  h = Open(p, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  EXPECT_EQ("", Get(p));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(Path("missing"), GENERIC_WRITE, 0, TRUNCATE_EXISTING));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Files, AccessChecks) {
  const std::string p = Path("ro.txt");
  Put(p, "data");
  HANDLE r = Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, r);
  DWORD done = 7;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(r, "x", 1, &done, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_EQ(0u, done);
  char c;
  EXPECT_FALSE(ReadFile(r, nullptr, 1, &done, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  CloseHandle(r);
  HANDLE w = Open(p, GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, w);
  EXPECT_FALSE(ReadFile(w, &c, 1, &done, nullptr));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  CloseHandle(w);
}

TEST_F(Files, PermissionBits) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not bind root";
  const std::string p = Path("ro.txt");
  Put(p, "data");
  chmod(p.c_str(), 0444);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_WRITE, 0, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  chmod(p.c_str(), 0000);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(Files, ShareModes) {
  const std::string p = Path("shared.txt");
  Put(p, "keep me");
  // A writer that shares reading excludes writers and readers that do not allow writing.
  HANDLE w = Open(p, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, w);
  SetLastError(0);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  // A refused CREATE_ALWAYS leaves the file alone.
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_WRITE, 0, CREATE_ALWAYS));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  EXPECT_EQ("keep me", Get(p));
  HANDLE tolerant = Open(p, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, tolerant);
  CloseHandle(tolerant);
  EXPECT_TRUE(CloseHandle(w));

  // Readers that share reading coexist and keep writers out.
  HANDLE r1 = Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE r2 = Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, r1);
  ASSERT_NE(INVALID_HANDLE_VALUE, r2);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
  CloseHandle(r1);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING));
  CloseHandle(r2);
  // An exclusive reader keeps other readers out too.
  HANDLE excl = Open(p, GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, excl);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  CloseHandle(excl);
  // All closed: a writer gets in.
  w = Open(p, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, w);
  CloseHandle(w);
}

TEST_F(Files, GarbageAndClosedHandles) {
  const std::string p = Path("h.txt");
  Put(p, "x");
  HANDLE h = Open(p, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  ASSERT_TRUE(CloseHandle(h));
  char buf[4];
  DWORD done = 5;
  LARGE_INTEGER size{};
  int local = 0;
  const HANDLE bad[] = {nullptr, INVALID_HANDLE_VALUE, h, reinterpret_cast<HANDLE>(0x1234),
                        &local};
  for (HANDLE b : bad) {
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
}

TEST_F(Files, LastErrorIsPerThread) {
  SetLastError(77);
  std::thread([] {
    EXPECT_EQ(0u, GetLastError());
    SetLastError(5);
  }).join();
  EXPECT_EQ(77u, GetLastError());
}

}  // namespace
