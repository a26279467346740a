// twxml: check, outline, copy and measure XML documents with the library.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "files.h"
#include "twxml/version.h"

namespace twxml_cli {

namespace {

const char kProgramUsage[] = R"(NAME
    twxml - check, outline, copy and measure XML documents

SYNOPSIS
    twxml [-q | -v] COMMAND [OPTIONS] FILE...
    twxml check [--dom] FILE...
    twxml outline [--dom] FILE...
    twxml copy [--dom] [--indent] [--encoding NAME] IN OUT
    twxml copy [--dom] [--indent] [--encoding NAME] IN... FOLDER
    twxml bench [--dom] FILE...
    twxml help [COMMAND]
    twxml COMMAND --help
    twxml --version

DESCRIPTION
    twxml reads and writes XML documents with the twxml library. Without
    --dom a command uses the streaming engine (the loadable reader/writer
    module); with --dom it uses the document engine, which holds the whole
    document in memory and works without the module. When the module is
    missing, the document engine stands in (and the program says so).

    check     report the first well-formedness error of each file
    outline   print the element tree with attributes and text
    copy      read a document and write it again, every node kept
    bench     measure read and write speed in MB/s

    A FILE of "-" is standard input; each input is read once, so pipes
    work. Text is handled as UTF-8.

OPTIONS
    -q, --quiet     print no diagnostics (the exit status still tells)
    -v, --verbose   add detail: failure codes, engine choices, files found
                    well-formed
    These options may also follow the command.

DIAGNOSTICS
    Diagnostics go to standard error, one line each, the same from both
    engines:

        FILE:LINE:COL: error: message
        FILE: error: message              (no position, e.g. unreadable)

EXIT STATUS
    0   success (for check: every file is well-formed)
    1   a file is not well-formed, cannot be read or cannot be written,
        or output was lost
    2   usage error
)";

const char kCheckUsage[] = R"(NAME
    twxml check - report the first well-formedness error of each file

SYNOPSIS
    twxml check [-q | -v] [--dom] FILE...

DESCRIPTION
    Parses each FILE ("-" for standard input) completely. For a file that
    is not well-formed XML 1.0 with namespaces, prints one line on standard
    error:

        FILE:LINE:COL: error: message

    Files that cannot be read are reported as "FILE: error: cannot read:
    reason" and count as bad. Nothing is printed for good files (with -v, a
    note that they are well-formed).

OPTIONS
    --dom     load each file into the document engine instead of running the
              streaming reader over it
    -q, -v    fewer or more diagnostics

EXIT STATUS
    0   every file is well-formed
    1   at least one file is not well-formed or cannot be read
    2   usage error
)";

const char kOutlineUsage[] = R"(NAME
    twxml outline - print the element tree of a document

SYNOPSIS
    twxml outline [-q | -v] [--dom] FILE...

DESCRIPTION
    Prints one line per element: its qualified name, its attributes as
    name="value" (namespace declarations and attributes supplied by the
    document type included), and, after a colon, its text up to its first
    child element, with surrounding white space trimmed and inner line
    breaks folded to a blank. Control characters, line separators,
    backslashes and quotes in values are escaped (\n, \t, \x01, \u2028,
    \\, \"), so each element stays on one line.

    Elements are indented by two blanks per level down to level 20; deeper
    elements keep that indentation and show their level: "[21] name".

    Both engines print the same outline. When several files are given,
    each outline is headed by "==> FILE <==". The streaming engine prints
    the outline of a bad document up to the error.

OPTIONS
    --dom     read with the document engine
    -q, -v    fewer or more diagnostics

EXIT STATUS
    0   the outlines were printed
    1   a file cannot be read or is not well-formed, or the outline could
        not be written
    2   usage error
)";

const char kCopyUsage[] = R"(NAME
    twxml copy - read a document and write it again

SYNOPSIS
    twxml copy [-q | -v] [--dom] [--indent] [--encoding NAME] IN OUT
    twxml copy [-q | -v] [--dom] [--indent] [--encoding NAME] IN... FOLDER

DESCRIPTION
    Copies IN ("-" for standard input) to OUT ("-" for standard output), or
    each IN to a file of the same name in FOLDER. The streaming engine
    copies node by node: elements, attributes and namespace declarations as
    written, text, CDATA sections, comments, processing instructions, white
    space and the document type; entity references are expanded and the
    attributes the document type supplies are written out. The document
    engine loads the whole document and saves it; it keeps every node but
    the document type (entities expanded, supplied attributes written).
    Nothing outside the document is read, so a reference to an entity that
    only an external document type declares cannot be expanded: the reader
    leaves it out, and so does the copy.

    Without --indent the copy is canonically equal to its input. A copy
    always starts with an XML declaration naming its encoding: the
    document's own unless --encoding says otherwise. Characters the
    encoding lacks are written as character references; where XML does not
    allow one (in names, comments and processing instructions) the copy
    fails.

    OUT is replaced only when the copy succeeded: the copy is written to a
    temporary file beside it and renamed over it at the end. A device or
    pipe as OUT is written directly.

OPTIONS
    --dom             read and write with the document engine
    --indent          indent the output (streaming engine only); existing
                      white space is kept
    --encoding NAME   encoding of the output, for example UTF-8, UTF-16,
                      ISO-8859-1, windows-1252
    -q, -v            fewer or more diagnostics

EXIT STATUS
    0   every copy was written
    1   an input cannot be read or is not well-formed, or an output cannot
        be written
    2   usage error
)";

const char kBenchUsage[] = R"(NAME
    twxml bench - measure read and write speed

SYNOPSIS
    twxml bench [-q | -v] [--dom] FILE...

DESCRIPTION
    Loads each FILE into memory, then times two jobs through XmlInterface:
    reading (every element's name, its attributes and its value) and
    writing the same elements, attributes and text into memory. Reports
    MB/s of the input for reading and of the output for writing. Small
    files are run repeatedly and the best run counts; every run must walk
    all elements. On a terminal a progress bar is shown for runs that take
    more than a second.

    The streaming XmlInterface engine does not step over processing
    instructions, CDATA sections or a document type; for such documents
    the document engine is measured instead (said with -v).

OPTIONS
    --dom     measure the document engine
    -q, -v    fewer or more diagnostics

EXIT STATUS
    0   measured
    1   a file cannot be read, is not well-formed, or the engine could not
        walk all of it
    2   usage error
)";

}  // namespace

const char* UsageText(const std::string& command) {
  if (command.empty()) return kProgramUsage;
  if (command == "check") return kCheckUsage;
  if (command == "outline") return kOutlineUsage;
  if (command == "copy") return kCopyUsage;
  if (command == "bench") return kBenchUsage;
  return nullptr;
}

// Prints a text on standard output; the exit status says whether it arrived.
int Show(const char* text) {
  PutStdout(text);
  return FinishStdout() ? kExitOk : kExitBad;
}

}  // namespace twxml_cli

int main(int argc, char** argv) {
  using namespace twxml_cli;
  std::vector<std::string> args(argv + 1, argv + argc);
  // Options before the command.
  while (!args.empty() && args.front().size() > 1 && args.front()[0] == '-') {
    const std::string option = args.front();
    if (IsHelp(option)) return Show(UsageText(""));
    if (option == "--version") return Show("twxml " TWXML_VERSION_STRING "\n");
    if (!VerbosityOption(option)) return UsageError("", "unknown option '" + option + "'");
    args.erase(args.begin());
  }
  if (args.empty()) return UsageError("", "missing command");
  std::string command = args.front();
  args.erase(args.begin());
  if (command == "help") {
    const char* text = UsageText(args.empty() ? "" : args.front());
    if (text == nullptr) return UsageError("help", "unknown command '" + args.front() + "'");
    return Show(text);
  }
  if (UsageText(command) == nullptr) return UsageError("", "unknown command '" + command + "'");
  for (const std::string& a : args) {
    if (a == "--") break;
    if (IsHelp(a)) return Show(UsageText(command));
  }
  if (command == "check") return RunCheck(args);
  if (command == "outline") return RunOutline(args);
  if (command == "copy") return RunCopy(args);
  return RunBench(args);
}
