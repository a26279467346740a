// The twxml program run as a user runs it: exit statuses, messages, the
// outline of the bundled sample, copies read back with libxml2, bench.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "corpus.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/twxml_cli_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Runs twxml with args (already shell-quoted where needed).
  Result Twxml(const std::string& args, const std::string& env = "") {
    Result r;
    std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
    std::string cmd = env + " '" TWXML_TOOL "' " + args + " >'" + out + "' 2>'" + err + "'";
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
  }
  std::string Path(const std::string& name) { return dir_ + "/" + name; }

  std::string dir_;
};

const std::string kSample = TWXML_EXAMPLES_DIR "/catalogue.xml";
const std::string kNoModule = "TWXML_TEST_MODULE_DIR='" TWXML_EMPTY_DIR "'";

TEST_F(Cli, UsageAndHelp) {
  Result r = Twxml("");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing command"), std::string::npos);
  r = Twxml("frobnicate");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
  r = Twxml("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "EXIT STATUS"})
    EXPECT_NE(r.out.find(section), std::string::npos) << section;
  for (const char* command : {"check", "outline", "copy", "bench"}) {
    r = Twxml(std::string(command) + " --help");
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_NE(r.out.find(std::string("twxml ") + command + " -"), std::string::npos) << command;
    EXPECT_EQ(Twxml(std::string("help ") + command).out, r.out);
  }
  EXPECT_EQ(Twxml("help nope").status, 2);

  struct {
    const char* args;
    const char* message;
  } bad[] = {
      {"check", "no file given"},
      {"check --bogus x.xml", "unknown option '--bogus'"},
      {"outline", "no file given"},
      {"outline a.xml b.xml", "one file only"},
      {"outline --indent a.xml", "unknown option '--indent'"},
      {"copy a.xml", "needs IN and OUT"},
      {"copy a.xml b.xml c.xml", "needs IN and OUT"},
      {"copy --encoding", "needs a name"},
      {"copy --encoding NO-SUCH-CHARSET a.xml b.xml", "unknown encoding 'NO-SUCH-CHARSET'"},
      {"bench", "needs exactly one FILE"},
  };
  for (const auto& b : bad) {
    r = Twxml(b.args);
    EXPECT_EQ(r.status, 2) << b.args;
    EXPECT_NE(r.err.find(b.message), std::string::npos) << b.args << ": " << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos) << b.args;
    EXPECT_TRUE(r.out.empty()) << b.args;
  }
}

TEST_F(Cli, Check) {
  Spit(Path("good.xml"), "<?xml version='1.0'?><r a='1'><x/>text</r>\n");
  Spit(Path("bad.xml"), "<r>\n  <a>\n</r>\n");
  Spit(Path("worse.xml"), "<r a='1' a='2'/>");
  mkdir(Path("dir.xml").c_str(), 0755);
  for (const std::string dom : {"", "--dom "}) {
    SCOPED_TRACE(dom);
    Result r = Twxml("check " + dom + Path("good.xml") + " '" + kSample + "'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.out.empty());

    r = Twxml("check " + dom + Path("bad.xml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_search(r.out, std::regex("^" + Path("bad.xml") + ":3:[0-9]+: .+\n$")))
        << r.out;

    r = Twxml("check " + dom + Path("good.xml") + " " + Path("worse.xml") + " " +
              Path("missing.xml") + " " + Path("dir.xml") + " " + Path("bad.xml"));
    EXPECT_EQ(r.status, 1);
    std::istringstream lines(r.out);
    std::string line;
    std::vector<std::string> got;
    while (std::getline(lines, line)) got.push_back(line);
    ASSERT_EQ(got.size(), 4u) << r.out;
    EXPECT_TRUE(std::regex_match(got[0], std::regex(Path("worse.xml") + ":1:[0-9]+: .+"))) << got[0];
    EXPECT_EQ(got[1], Path("missing.xml") + ": cannot read: No such file or directory");
    EXPECT_EQ(got[2], Path("dir.xml") + ": cannot read: Is a directory");
    EXPECT_TRUE(std::regex_match(got[3], std::regex(Path("bad.xml") + ":3:[0-9]+: .+"))) << got[3];
  }
  // Without the module the streaming check cannot run; the document one can.
  Result r = Twxml("check " + Path("good.xml"), kNoModule);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot be loaded"), std::string::npos);
  EXPECT_EQ(Twxml("check --dom " + Path("good.xml"), kNoModule).status, 0);
}

TEST_F(Cli, OutlineOfTheSample) {
  for (const char* variant : {"stream", "dom"}) {
    SCOPED_TRACE(variant);
    bool dom = std::string(variant) == "dom";
    Result r = Twxml(std::string("outline ") + (dom ? "--dom " : "") + "'" + kSample + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    std::string golden = Slurp(std::string(TWXML_TOOLS_TEST_DIR "/catalogue.") + variant + ".outline");
    EXPECT_EQ(r.out, golden);
  }
  // Without the module the document engine stands in, and says so.
  Result r = Twxml("outline '" + kSample + "'", kNoModule);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("using the document engine"), std::string::npos);
  EXPECT_EQ(r.out, Slurp(TWXML_TOOLS_TEST_DIR "/catalogue.dom.outline"));
}

TEST_F(Cli, OutlineFailures) {
  Spit(Path("bad.xml"), "<r>\n<a x='1'>t</a>\n<b>\n</r>");
  Spit(Path("pi.xml"), "<r><a/><?target data?><b/></r>");
  for (const std::string dom : {"", "--dom "}) {
    Result r = Twxml("outline " + dom + Path("bad.xml"));
    EXPECT_EQ(r.status, 1) << dom;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(Path("bad.xml") + ":4:[0-9]+: "))) << r.err;
    r = Twxml("outline " + dom + Path("missing.xml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos);
  }
  // A processing instruction stops the streaming engine, not the other.
  Result r = Twxml("outline " + Path("pi.xml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("try --dom"), std::string::npos) << r.err;
  r = Twxml("outline --dom " + Path("pi.xml"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "r\n  a\n  b\n");
}

// The sample as libxml2 reads it, attributes and text included.
corpus::Node Sample() {
  corpus::Node n;
  std::string error;
  EXPECT_TRUE(corpus::Parse(Slurp(kSample), &n, &error)) << error;
  return n;
}

TEST_F(Cli, CopyKeepsTheDocument) {
  corpus::Node want = Sample();
  struct {
    const char* options;
    const char* encodingInDeclaration;
  } variants[] = {
      {"", nullptr},
      {"--indent", nullptr},
      {"--encoding ISO-8859-1", "ISO-8859-1"},
      {"--encoding=UTF-16 --indent", nullptr},
      {"--dom", nullptr},
      {"--dom --encoding windows-1252", "windows-1252"},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(v.options);
    Result r = Twxml(std::string("copy ") + v.options + " '" + kSample + "' " + Path("out.xml"));
    ASSERT_EQ(r.status, 0) << r.err;
    std::string bytes = Slurp(Path("out.xml"));
    corpus::Node got;
    std::string error;
    ASSERT_TRUE(corpus::Parse(bytes, &got, &error)) << error << bytes;
    EXPECT_EQ(got, want) << bytes;
    if (v.encodingInDeclaration != nullptr) {
      EXPECT_NE(bytes.find(v.encodingInDeclaration), std::string::npos) << bytes.substr(0, 80);
    }
  }
  // Indentation puts elements on lines of their own.
  std::string plain, indented;
  ASSERT_EQ(Twxml("copy '" + kSample + "' -").status, 0);
  plain = Twxml("copy '" + kSample + "' -").out;
  indented = Twxml("copy --indent '" + kSample + "' -").out;
  EXPECT_GT(std::count(indented.begin(), indented.end(), '\n'),
            std::count(plain.begin(), plain.end(), '\n') + 10);
  EXPECT_NE(indented.find("\n  <book"), std::string::npos) << indented;
}

TEST_F(Cli, CopyFailures) {
  Spit(Path("bad.xml"), "<r><a></r>");
  Result r = Twxml("copy " + Path("bad.xml") + " " + Path("out.xml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(std::regex_search(r.err, std::regex(Path("bad.xml") + ":1:[0-9]+: "))) << r.err;
  EXPECT_NE(access(Path("out.xml").c_str(), F_OK), 0) << "no half-written copy is left";
  r = Twxml("copy '" + kSample + "' /nonexistent/dir/out.xml");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
  r = Twxml("copy " + Path("missing.xml") + " " + Path("out.xml"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
  Spit(Path("same.xml"), "<r/>");
  r = Twxml("copy " + Path("same.xml") + " " + Path("same.xml"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(Slurp(Path("same.xml")), "<r/>");
}

TEST_F(Cli, Bench) {
  for (const std::string dom : {"", "--dom "}) {
    Result r = Twxml("bench " + dom + "'" + kSample + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("read +[0-9.]+ MB/s"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("write +[0-9.]+ MB/s"))) << r.out;
    EXPECT_NE(r.out.find(dom.empty() ? "streaming" : "document"), std::string::npos);
    EXPECT_TRUE(r.err.empty()) << "no progress bar off a terminal: " << r.err;
  }
  Result r = Twxml("bench " + Path("missing.xml"));
  EXPECT_EQ(r.status, 1);
}

}  // namespace
