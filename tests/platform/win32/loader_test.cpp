// LoadLibraryA's name mapping and search order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "twxml/platform/win32.h"

namespace fs = std::filesystem;

namespace {

// Sets (or clears) an environment variable for the scope.
class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~EnvScope() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

typedef int (*AnswerFn)(void);

TEST(Loader, FindsModulesNextToTheLibrary) {
  EnvScope env("TWXML_TEST_MODULE_DIR", nullptr);
  // Any spelling of the name maps to libtwtestmod.so.
  for (const char* name : {"TestMod.dll", "testmod", "TESTMOD.DLL", "sub/dir\\TestMod.Dll"}) {
    SCOPED_TRACE(name);
    HMODULE m = LoadLibraryA(name);
    ASSERT_NE(nullptr, m);
    AnswerFn fn = reinterpret_cast<AnswerFn>(GetProcAddress(m, "TwTestAnswer"));
    ASSERT_NE(nullptr, fn);
    EXPECT_EQ(42, fn());
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(m, "NoSuchEntry"));
    EXPECT_EQ(ERROR_PROC_NOT_FOUND, GetLastError());
    EXPECT_TRUE(FreeLibrary(m));
  }
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("NoSuchModule.dll"));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
  EXPECT_EQ(nullptr, LoadLibraryA(nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(nullptr, LoadLibraryA(".dll"));
  EXPECT_EQ(nullptr, GetProcAddress(nullptr, "TwTestAnswer"));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(Loader, TestModuleDirHidesOrSubstitutesModules) {
  char tmpl[] = "/tmp/twxml-mods-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const fs::path dir = tmpl;
  {
    EnvScope env("TWXML_TEST_MODULE_DIR", dir.c_str());
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("TestMod.dll"));  // hidden
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
    fs::copy_file(TWXML_TEST_MODULE_PATH, dir / "libtwtestmod.so");
    HMODULE m = LoadLibraryA("TestMod.dll");  // found there and only there
    ASSERT_NE(nullptr, m);
    EXPECT_NE(nullptr, GetProcAddress(m, "TwTestAnswer"));
    FreeLibrary(m);
  }
  fs::remove_all(dir);
}

}  // namespace
