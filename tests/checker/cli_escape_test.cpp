// Checked files are written by strangers: nothing they hold may control the terminal, add a
// line to the output, or act as a workflow command, and odd file names must stay exact where
// findings are recorded.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "cli_run.h"
#include "d_util.h"
#include "report.h"
#include "visible_text.h"

using namespace corvane::cli;
using namespace cli_test;
using nlohmann::json;

namespace {

// What a terminal would act on, or a byte that is not UTF-8, with its place; empty for none.
std::string RawControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const corvane::Utf8Char ch = corvane::NextUtf8Char(text, i);
    const std::size_t n = ch.wellFormed ? ch.size : 0;
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if ((c < 0x20 && c != '\n') || c == 0x7F || n == 0 || c1) {
      return "byte " + std::to_string(c) + " at " + std::to_string(i) + " in: " + corvane::VisibleText(text);
    }
    i += n;
  }
  return {};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Clear screen, colour, a window title, a clipboard write, then what the attacker wants read.
const std::string kTerminalAttack = "\x1b]52;c;ZWNobw==\x07\x1b[2J\x1b]2;x\x07\x1b[42m ok";
// C1 controls and DEL are valid XML 1.0 characters; ESC comes only in a parse error's source line.
const std::string kC1 =
    "\xC2\x9B"
    "2J\xC2\x9D"
    "0;t\xC2\x9C\x7F";
const std::string kForgedLine =
    "\nforged.xml:1:1: Msg 008: Duplicate ID: Z\n::error file=README.md::Security review passed";

class CliEscapeTest : public testing::Test {
 protected:
  CliEscapeTest() : folder_("corvane_cli_escape"), here_(folder_.root()) {
    folder_.write("ids.xml", "<plugin><task><id>A" + kC1 + kForgedLine + "</id><id>A" + kC1 + kForgedLine +
                                 "</id></task></plugin>");
    folder_.write("esc.xml", "<plugin>\n" + kTerminalAttack + "<task>\n</plugin>");
    folder_.write(
        "walk/e\x1b]2;x\x07\xC2\x9B"
        "2J.xml",
        "<plugin><task><id>T</id><id>T</id></task></plugin>");
  }

  TempFolder folder_;
  InFolder here_;
};

}  // namespace

TEST_F(CliEscapeTest, NoFormatForAPersonLetsControlCharactersThrough) {
  const std::vector<std::vector<std::string>> runs = {
      {"ids.xml", "esc.xml", "walk"},
      {"--format=list", "ids.xml", "esc.xml", "walk"},
      {"--format=github", "ids.xml", "esc.xml", "walk"},
      {"--show-tree", "ids.xml", "walk"},
      {"--show-tree", "--format=list", "ids.xml", "walk"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args[0]);
    const RunResult r = RunCli(args);
    EXPECT_EQ(r.status, kExitMessages);
    EXPECT_EQ(RawControl(r.out), "");
    EXPECT_EQ(RawControl(r.err), "");
  }
  EXPECT_EQ(RunCli({"esc.xml"}).out,
            "esc.xml:2:1: Msg 100: XML Error: \"PCDATA invalid Char value 27 Line: 2 "
            "\\x1b]52;c;ZWNobw==\\x07\\x1b[2J\\x1b]2;x\\x07\\x1b[42m ok<task>\"\n");
  EXPECT_EQ(RunCli({"walk"}).out, "walk/e\\x1b]2;x\\x07\\u009b2J.xml:1:25: Msg 008: Duplicate ID: T\n");
  // The list keeps a parse error's own lines.
  EXPECT_EQ(RunCli({"--format=list", "esc.xml"}).out,
            "Msg 100: XML Error: \"PCDATA invalid Char value 27\nLine: 2\n"
            "\\x1b]52;c;ZWNobw==\\x07\\x1b[2J\\x1b]2;x\\x07\\x1b[42m ok<task>\"\n");
}

TEST_F(CliEscapeTest, EveryFindingAndWarningStaysOneLine) {
  folder_.write("names/n\nforged.xml:1:1: Msg 008: Duplicate ID: X\r\n.xml",
                "<plugin><task><id>T</id><id>T</id></task></plugin>");
  folder_.write("directive.xml", "<!-- corvanexml-check disable=Msg008," + kForgedLine + " -->\n<plugin/>");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"names", "ids.xml", "directive.xml"},
                                               {"--format=list", "names", "ids.xml", "missing\nforged.xml"}}) {
    const RunResult r = RunCli(args);
    for (const std::string& line : Lines(r.out + r.err)) {
      EXPECT_FALSE(line.starts_with("forged.xml") || line.starts_with("::")) << line;
    }
  }
  const RunResult text = RunCli({"names", "ids.xml", "directive.xml"});
  const std::vector<std::string> findings = Lines(text.out);
  EXPECT_EQ(text.err.substr(text.err.rfind('\n', text.err.size() - 2) + 1),
            std::to_string(findings.size()) + " findings in 2 files\n");
  EXPECT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0], "names/n forged.xml:1:1: Msg 008: Duplicate ID: X  .xml:1:25: Msg 008: Duplicate ID: T");
  EXPECT_NE(text.err.find("unknown message code 'forged.xml:1:1: Msg 008: Duplicate ID: Z "
                          "::error file=README.md::Security review passed'"),
            std::string::npos)
      << text.err;
}

TEST_F(CliEscapeTest, GithubReadsNoCommandFromTheFilesText) {
  folder_.write("directive.xml", "<!-- corvanexml-check disable=" + kForgedLine + " -->\n<plugin/>");
  std::set<std::string> tokens;
  for (int run = 0; run < 2; ++run) {
    const RunResult r = RunCli({"--format=github", "ids.xml", "directive.xml", "walk"});
    EXPECT_EQ(r.status, kExitMessages);
    // Our annotations are commands, with the file's text escaped inside them.
    const std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0],
              "::warning file=ids.xml,line=3,col=52,title=Msg 008::Duplicate ID: A\\u009b2J\\u009d0;t\\u009c\\x7f "
              "forged.xml:1:1: Msg 008: Duplicate ID: Z ::error file=README.md::Security review passed");
    EXPECT_EQ(out[1], "::warning file=walk/e\\x1b]2;x\\x07\\u009b2J.xml,line=1,col=25,title=Msg 008::Duplicate ID: T");
    // Whatever else echoes the files' text stands where the runner reads no commands.
    const std::regex stop("::stop-commands::([0-9a-f]{32})");
    std::smatch match;
    std::string token;
    for (const std::string& line : Lines(r.err)) {
      if (token.empty() && std::regex_match(line, match, stop)) {
        token = match[1];
        tokens.insert(token);
      } else if (!token.empty() && line == "::" + token + "::") {
        token.clear();
      } else if (token.empty()) {
        EXPECT_EQ(line, "2 findings in 2 files");
      }
    }
    EXPECT_EQ(token, "");
    EXPECT_NE(r.err.find("corvanexml-check: directive.xml:1:"), std::string::npos) << r.err;
  }
  EXPECT_EQ(tokens.size(), 2u);
}

TEST_F(CliEscapeTest, NamesThatAreNotUtf8AreRecordedExactly) {
  const std::string duplicate = "<plugin><task><id>T</id><id>T</id></task></plugin>";
  folder_.write("odd/b\xff.xml", duplicate);
  folder_.write("odd/c%41.xml", duplicate);
  folder_.write("odd/d%\xfe.xml", duplicate);
  // A message that names a path with such a byte is matched as the baseline could keep it.
  folder_.write("odd/w\xfe/portal/m.xml",
                "<plugin><task><id>T</id><resource-properties-file>N</resource-properties-file>"
                "<display-name-key>K</display-name-key></task></plugin>");
  const RunResult written = RunCli({"--write-baseline", "baseline.json", "odd"});
  EXPECT_EQ(written.status, kExitClean) << written.err;
  const json recorded = json::parse(folder_.read("baseline.json"))["findings"];
  ASSERT_EQ(recorded.size(), 4u);
  // A name that is UTF-8 is written as it is, so baselines that exist go on matching.
  EXPECT_EQ(recorded[0], (json{{"path", "odd/b%FF.xml"},
                               {"pathEncoding", "percent"},
                               {"rule", "Msg008"},
                               {"text", "Msg 008: Duplicate ID: T"}}));
  EXPECT_EQ(recorded[1], (json{{"path", "odd/c%41.xml"}, {"rule", "Msg008"}, {"text", "Msg 008: Duplicate ID: T"}}));
  EXPECT_EQ(recorded[2]["path"], "odd/d%25%FE.xml");

  const RunResult excused = RunCli({"--baseline", "baseline.json", "odd"});
  EXPECT_EQ(excused.status, kExitClean);
  EXPECT_EQ(excused.out, "");

  // The same name under an encoding the baseline does not state is another file.
  folder_.write("odd/b%FF.xml", duplicate);
  EXPECT_EQ(RunCli({"--baseline", "baseline.json", "odd/b%FF.xml"}).status, kExitMessages);

  const json report = json::parse(RunCli({"--format=json", "odd/b\xff.xml", "odd/c%41.xml"}).out)["files"];
  EXPECT_EQ(RecordedPathBytes(report[0]["path"], true), "odd/b\xff.xml");
  EXPECT_EQ(report[0]["pathEncoding"], "percent");
  EXPECT_EQ(report[1]["path"], "odd/c%41.xml");
  EXPECT_FALSE(report[1].contains("pathEncoding"));
}
