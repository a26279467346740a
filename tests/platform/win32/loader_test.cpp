// LoadLibraryA's name mapping and search order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "twxml/platform/win32_internal.h"

namespace {

typedef int (*AnswerFn)(void);

TEST(Loader, FindsModulesNextToTheLibraryOrInTheTestModuleDir) {
  unsetenv("TWXML_TEST_MODULE_DIR");
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

  // The test module dir hides the modules next to the library, or substitutes its own.
  char tmpl[] = "/tmp/twxml-mods-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  setenv("TWXML_TEST_MODULE_DIR", tmpl, 1);
  SetLastError(0);
  EXPECT_EQ(nullptr, LoadLibraryA("TestMod.dll"));
  EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
  std::filesystem::copy_file(TWXML_TEST_MODULE_PATH, std::string(tmpl) + "/libtwtestmod.so");
  HMODULE m = LoadLibraryA("TestMod.dll");
  EXPECT_NE(nullptr, m);
  EXPECT_NE(nullptr, GetProcAddress(m, "TwTestAnswer"));
  FreeLibrary(m);
  unsetenv("TWXML_TEST_MODULE_DIR");
  std::filesystem::remove_all(tmpl);
}

}  // namespace
