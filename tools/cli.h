// The twxml command line program: arguments and commands.
#pragma once

#include <string>
#include <vector>

namespace twxml_cli {

// Exit statuses, the same for every command.
enum ExitStatus { kExitOk = 0, kExitBad = 1, kExitUsage = 2 };

struct Arguments {
  bool dom = false;
  bool indent = false;
  bool hasEncoding = false;
  std::string encoding;
  std::vector<std::string> operands;
};
// Parses the options a command accepts ("dom", "indent", "encoding"; -q and
// -v are accepted by every command and set the verbosity); "--" ends the
// options and "-" is an operand. False after printing a usage error.
bool ParseArguments(const std::string& command, const std::vector<std::string>& args,
                    const std::vector<std::string>& accepted, Arguments* out, int* status);
// For the commands that take [--dom] FILE...: the files and whether the
// document engine reads them. False with the exit status set.
bool ParseFileCommand(const std::string& command, const std::vector<std::string>& args,
                      Arguments* out, bool* dom, int* status);
// Sets the verbosity for -q/--quiet or -v/--verbose; false for other words.
bool VerbosityOption(const std::string& arg);

// ---- Commands -------------------------------------------------------------
int RunCheck(const std::vector<std::string>& args);
int RunOutline(const std::vector<std::string>& args);
int RunCopy(const std::vector<std::string>& args);
int RunBench(const std::vector<std::string>& args);

// Usage text of one command (or of the program for an empty name); null for
// an unknown command.
const char* UsageText(const std::string& command);
// "twxml: <command>: <message>" on stderr plus a hint to --help; kExitUsage.
int UsageError(const std::string& command, const std::string& message);
bool IsHelp(const std::string& arg);

}  // namespace twxml_cli
