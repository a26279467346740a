// twxml: check, outline, copy and measure XML documents with the library.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"

namespace twxml_cli {

namespace {

const char kProgramUsage[] = R"(NAME
    twxml - check, outline, copy and measure XML documents

SYNOPSIS
    twxml check [--dom] FILE...
    twxml outline [--dom] FILE
    twxml copy [--dom] [--indent] [--encoding NAME] IN OUT
    twxml bench [--dom] FILE
    twxml help [COMMAND]
    twxml COMMAND --help

DESCRIPTION
    twxml reads and writes XML documents with the twxml library. Without
    --dom a command uses the streaming engine (the loadable reader/writer
    module); with --dom it uses the document engine, which holds the whole
    document in memory and works without the module.

    check     report the first well-formedness error of each file
    outline   print the element tree with attributes and text
    copy      read a document and write it again
    bench     measure read and write speed in MB/s

    Text is handled as UTF-8.

EXIT STATUS
    0   success (for check: every file is well-formed)
    1   a file is not well-formed, cannot be read or cannot be written
    2   usage error, or the chosen engine is not available
)";

const char kCheckUsage[] = R"(NAME
    twxml check - report the first well-formedness error of each file

SYNOPSIS
    twxml check [--dom] FILE...

DESCRIPTION
    Parses each FILE completely. For a file that is not well-formed XML 1.0
    with namespaces, prints one line on standard output:

        FILE:LINE:COL: message

    Files that cannot be read are reported as "FILE: reason" and count as
    bad. Nothing is printed for good files.

OPTIONS
    --dom     load each file into the document engine instead of running the
              streaming reader over it

EXIT STATUS
    0   every file is well-formed
    1   at least one file is not well-formed or cannot be read
    2   usage error, or the engine is not available
)";

const char kOutlineUsage[] = R"(NAME
    twxml outline - print the element tree of a document

SYNOPSIS
    twxml outline [--dom] FILE

DESCRIPTION
    Reads FILE element by element through the XmlInterface reader and prints
    one line per element, indented by two blanks per level: the element
    name as the engine gives it, its attributes as name="value", and, after
    a colon, the element's text with surrounding white space trimmed.

    The two engines answer differently where the library says they do: the
    streaming engine gives local names, the document engine qualified names
    (prefix included); the streaming engine's text is the text right after
    the start tag, the document engine's the first text child.

OPTIONS
    --dom     read with the document engine

EXIT STATUS
    0   the outline was printed
    1   the file cannot be read or is not well-formed (FILE:LINE:COL: message)
    2   usage error, or the engine is not available
)";

const char kCopyUsage[] = R"(NAME
    twxml copy - read a document and write it again

SYNOPSIS
    twxml copy [--dom] [--indent] [--encoding NAME] IN OUT

DESCRIPTION
    Reads IN element by element through the XmlInterface reader and writes
    elements, namespace declarations, attributes and text through the
    XmlInterface writer into OUT ("-" writes to standard output). Comments,
    processing instructions and the document type are not carried over.
    Attribute values are read through the engine; namespace-qualified
    attributes, which the streaming engine cannot look up by name, are taken
    from the element's own parse.

OPTIONS
    --dom             read and write with the document engine
    --indent          indent the output (streaming engine only)
    --encoding NAME   encoding of the output (UTF-8 when not given), for
                      example UTF-16, ISO-8859-1, windows-1252

EXIT STATUS
    0   OUT was written
    1   IN cannot be read or is not well-formed, or OUT cannot be written
    2   usage error, or the engine is not available
)";

const char kBenchUsage[] = R"(NAME
    twxml bench - measure read and write speed

SYNOPSIS
    twxml bench [--dom] FILE

DESCRIPTION
    Loads FILE into memory, then times two jobs through XmlInterface:
    reading (every element's name, its attributes and its value) and
    writing the same elements, attributes and text into memory. Reports
    MB/s of the input for reading and of the output for writing. Small
    files are run repeatedly and the best run counts. On a terminal a
    progress bar is shown for runs that take more than a second.

OPTIONS
    --dom     measure the document engine

EXIT STATUS
    0   measured
    1   the file cannot be read or is not well-formed
    2   usage error, or the engine is not available
)";

}  // namespace

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

const char* UsageText(const std::string& command) {
  if (command.empty()) return kProgramUsage;
  if (command == "check") return kCheckUsage;
  if (command == "outline") return kOutlineUsage;
  if (command == "copy") return kCopyUsage;
  if (command == "bench") return kBenchUsage;
  return nullptr;
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "twxml: %s%s%s\n", command.c_str(), command.empty() ? "" : ": ",
               message.c_str());
  std::fprintf(stderr, "Try 'twxml %s%s--help' for more information.\n", command.c_str(),
               command.empty() ? "" : " ");
  return kExitUsage;
}

}  // namespace twxml_cli

int main(int argc, char** argv) {
  using namespace twxml_cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("", "missing command");
  std::string command = args.front();
  args.erase(args.begin());
  if (IsHelp(command)) {
    std::fputs(UsageText(""), stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("twxml %s\n", TWXML_VERSION_STRING);
    return kExitOk;
  }
  if (command == "help") {
    const char* text = UsageText(args.empty() ? "" : args.front());
    if (text == nullptr) return UsageError("help", "unknown command '" + args.front() + "'");
    std::fputs(text, stdout);
    return kExitOk;
  }
  if (UsageText(command) == nullptr) return UsageError("", "unknown command '" + command + "'");
  for (const std::string& a : args) {
    if (a == "--") break;
    if (IsHelp(a)) {
      std::fputs(UsageText(command), stdout);
      return kExitOk;
    }
  }
  if (command == "check") return RunCheck(args);
  if (command == "outline") return RunOutline(args);
  if (command == "copy") return RunCopy(args);
  return RunBench(args);
}
