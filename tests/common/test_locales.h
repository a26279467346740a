// Non-UTF-8 locales for tests, compiled with localedef into a folder of the
// build tree once and reused by every test process (LOCPATH points there).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <locale.h>
#include <string>
#include <unistd.h>

namespace twtest {

// A locale object for name ("de_DE.ISO-8859-1" from source "de_DE" and
// charmap "ISO-8859-1"), or null when it cannot be made here.
inline locale_t MakeLocale(const std::string& source, const std::string& charmap,
                           const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path root = TWXML_TEST_LOCALE_DIR;
  std::error_code ec;
  fs::create_directories(root, ec);
  if (!fs::exists(root / name / "LC_CTYPE")) {
    // Built privately and renamed: parallel tests never see half a locale.
    // localedef's exit code is not used: warnings make it non-zero.
    const fs::path tmp = root / (name + ".tmp" + std::to_string(::getpid()));
    const std::string cmd = "localedef -c -i " + source + " -f " + charmap + " '" +
                            tmp.string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) >= 0 && fs::exists(tmp / "LC_CTYPE")) fs::rename(tmp, root / name, ec);
    fs::remove_all(tmp, ec);
  }
  if (!fs::exists(root / name / "LC_CTYPE")) return nullptr;
  ::setenv("LOCPATH", root.c_str(), 1);
  return newlocale(LC_ALL_MASK, name.c_str(), nullptr);
}

// Makes loc the calling thread's locale for the scope, then frees it.
struct ThreadLocale {
  explicit ThreadLocale(locale_t loc) : loc_(loc), old_(uselocale(loc)) {}
  ~ThreadLocale() {
    uselocale(old_);
    if (loc_) freelocale(loc_);
  }
  ThreadLocale(const ThreadLocale&) = delete;
  locale_t loc_, old_;
};

}  // namespace twtest
