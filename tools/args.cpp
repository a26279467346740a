// Command line options shared by the commands.
#include <algorithm>
#include <cstdio>

#include "cli.h"
#include "diagnosis.h"
#include "engines.h"

namespace twxml_cli {

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

bool VerbosityOption(const std::string& arg) {
  if (arg == "-q" || arg == "--quiet") {
    SetVerbosity(Verbosity::kQuiet);
  } else if (arg == "-v" || arg == "--verbose") {
    SetVerbosity(Verbosity::kVerbose);
  } else {
    return false;
  }
  return true;
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "twxml: %s%s%s\n", command.c_str(), command.empty() ? "" : ": ",
               message.c_str());
  std::fprintf(stderr, "Try 'twxml %s%s--help' for more information.\n", command.c_str(),
               command.empty() ? "" : " ");
  return kExitUsage;
}

bool ParseArguments(const std::string& command, const std::vector<std::string>& args,
                    const std::vector<std::string>& accepted, Arguments* out, int* status) {
  auto accepts = [&](const char* name) {
    return std::find(accepted.begin(), accepted.end(), name) != accepted.end();
  };
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options || a == "-" || a.empty() || a[0] != '-') {
      out->operands.push_back(a);
    } else if (a == "--") {
      options = false;
    } else if (VerbosityOption(a)) {
    } else if (a == "--dom" && accepts("dom")) {
      out->dom = true;
    } else if (a == "--indent" && accepts("indent")) {
      out->indent = true;
    } else if (accepts("encoding") && (a == "--encoding" || a.rfind("--encoding=", 0) == 0)) {
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
    } else {
      *status = UsageError(command, "unknown option '" + a + "'");
      return false;
    }
  }
  return true;
}

bool ParseFileCommand(const std::string& command, const std::vector<std::string>& args,
                      Arguments* out, bool* dom, int* status) {
  if (!ParseArguments(command, args, {"dom"}, out, status)) return false;
  if (out->operands.empty()) {
    *status = UsageError(command, "no file given");
    return false;
  }
  *dom = ChooseDom(command, out->dom);
  return true;
}

}  // namespace twxml_cli
