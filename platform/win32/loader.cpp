// Loader calls over the dynamic loader.
//
// A module name maps to a shared object built with this project: directory
// and ".dll" dropped, lower-cased, "libtw" in front and ".so" behind
// ("XmlLite.dll" -> "libtwxmllite.so"). It is looked for next to the object
// holding this code (the library, or a program linking it statically; for a
// program in a "bin" folder also in the sibling "lib" folder), then by bare
// name on the loader path. When TWXML_TEST_MODULE_DIR is set, only that folder
// is searched: tests use it to hide or substitute modules.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>

#include "internal.h"

namespace {

std::string ModuleFileName(const char* name) {
  std::string base(name);
  const size_t slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base = base.substr(slash + 1);
  if (base.size() > 4) {
    std::string tail = base.substr(base.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (tail == ".dll") base.resize(base.size() - 4);
  }
  for (char& c : base) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return "libtw" + base + ".so";
}

void* TryOpen(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

extern "C" {

HMODULE LoadLibraryA(LPCSTR name) {
  if (name == nullptr || name[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string file = ModuleFileName(name);
  if (file == "libtw.so") {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  void* h = nullptr;
  if (const char* only = std::getenv("TWXML_TEST_MODULE_DIR")) {
    h = TryOpen(std::string(only) + "/" + file);
  } else {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&LoadLibraryA), &info) != 0 && info.dli_fname != nullptr) {
      char real[PATH_MAX];
      if (realpath(info.dli_fname, real) != nullptr) {
        const std::string dir = DirOf(real);
        if (!dir.empty()) {
          h = TryOpen(dir + "/" + file);
          if (h == nullptr && dir.size() >= 4 && dir.compare(dir.size() - 4, 4, "/bin") == 0) {
            h = TryOpen(dir.substr(0, dir.size() - 3) + "lib/" + file);
          }
        }
      }
    }
    if (h == nullptr) h = TryOpen(file);
  }
  if (h == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(module, name);
  if (sym == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
