// twxml check: the first well-formedness error of each file.
#include <algorithm>
#include <cstdio>

#include "cli.h"

namespace twxml_cli {

bool ParseArguments(const std::string& command, const std::vector<std::string>& args,
                    const std::vector<std::string>& accepted, Arguments* out, int* status) {
  auto accepts = [&](const char* name) {
    return std::find(accepted.begin(), accepted.end(), name) != accepted.end();
  };
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a == "--dom" && accepts("dom")) {
      out->dom = true;
    } else if (options && a == "--indent" && accepts("indent")) {
      out->indent = true;
    } else if (options && accepts("encoding") &&
               (a == "--encoding" || a.rfind("--encoding=", 0) == 0)) {
      if (a == "--encoding") {
        if (i + 1 >= args.size()) {
          *status = UsageError(command, "option '--encoding' needs a name");
          return false;
        }
        out->encoding = args[++i];
      } else {
        out->encoding = a.substr(11);
      }
      if (out->encoding.empty()) {
        *status = UsageError(command, "option '--encoding' needs a name");
        return false;
      }
      out->hasEncoding = true;
    } else if (options && a.size() > 1 && a[0] == '-') {
      *status = UsageError(command, "unknown option '" + a + "'");
      return false;
    } else {
      out->operands.push_back(a);
    }
  }
  return true;
}

int RunCheck(const std::vector<std::string>& args) {
  Arguments a;
  int status = kExitUsage;
  if (!ParseArguments("check", args, {"dom"}, &a, &status)) return status;
  if (a.operands.empty()) return UsageError("check", "no file given");

  int result = kExitOk;
  for (const std::string& path : a.operands) {
    Diagnosis d = a.dom ? CheckWithDom(path.c_str()) : CheckWithReader(path.c_str());
    if (d.wellFormed) continue;
    if (!d.opened) {
      std::fprintf(stdout, "%s: cannot read: %s\n", path.c_str(), d.message.c_str());
      std::fflush(stdout);
      result = kExitBad;
      continue;
    }
    if (d.engineMissing) {
      // The engine itself is missing: no file can be checked.
      std::fprintf(stderr, "twxml: check: %s\n", d.message.c_str());
      return kExitUsage;
    }
    std::fprintf(stdout, "%s\n", Describe(path.c_str(), d).c_str());
    std::fflush(stdout);
    result = kExitBad;
  }
  return result;
}

}  // namespace twxml_cli
