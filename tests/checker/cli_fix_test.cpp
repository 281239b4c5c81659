// --fix and --diff, the suggestions of the machine formats, and the editor helpers read the
// checker's output. Bytes are compared whole: a fix must change nothing but the names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli_run.h"
#include "d_util.h"

using namespace corvane::cli;
using namespace cli_test;
using nlohmann::json;

namespace {

const std::string kSchema =
    "attributetype ( 1.1 NAME 'Given Name' )\nattributetype ( 1.2 NAME 'CN' )\nattributetype ( 1.3 NAME 'cn' )\n"
    "objectclass ( 1.4 NAME 'User' MAY ( 'Given Name' $ 'CN' ) )\n";

// A byte order mark, CR LF line ends, tabs, non-ASCII text, a character reference and a
// comment: only the three names with one correction may change.
const std::string kBefore =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<plugin>\r\n"
    "\t<task><id>\xC3\x84rger</id>\t<!-- \xC3\xA9t\xC3\xA9 -->\r\n"
    "\t\t<object-type-name>user</object-type-name>\r\n"
    "\t\t<attributes><attribute-name>given name</attribute-name><attribute-name>Cn</attribute-name>"
    "<attribute-name>given&#32;name</attribute-name></attributes>\r\n"
    "\t\t<url-param><param-key>eDirSearch</param-key><param-value>Organizational Unit \xC3\x84</param-value>"
    "</url-param>\r\n"
    "\t</task>\r\n"
    "</plugin>";

const std::string kAfter =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<plugin>\r\n"
    "\t<task><id>\xC3\x84rger</id>\t<!-- \xC3\xA9t\xC3\xA9 -->\r\n"
    "\t\t<object-type-name>User</object-type-name>\r\n"
    "\t\t<attributes><attribute-name>Given Name</attribute-name><attribute-name>Cn</attribute-name>"
    "<attribute-name>given&#32;name</attribute-name></attributes>\r\n"
    "\t\t<url-param><param-key>eDirSearch</param-key><param-value>Organizational_Unit_\xC3\x84</param-value>"
    "</url-param>\r\n"
    "\t</task>\r\n"
    "</plugin>";

// What a shell command printed, both streams; empty when it could not run.
std::string Shell(const TempFolder& folder, const std::string& command) {
  const std::string output = folder.path("shell.out");
  if (std::system((command + " >'" + output + "' 2>&1").c_str()) == -1) return {};
  return folder.read("shell.out");
}

class CliFixTest : public testing::Test {
 protected:
  CliFixTest() : folder_("corvane_cli_fix"), here_(folder_.root()) {
    folder_.write("tree.schema", kSchema);
    folder_.write("p.xml", kBefore);
    ::chmod(folder_.path("p.xml").c_str(), 0640);
  }

  RunResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--schema", "tree.schema"});
    return RunCli(args);
  }

  TempFolder folder_;
  InFolder here_;
};

}  // namespace

TEST_F(CliFixTest, DiffShowsTheCertainCorrectionsAndWritesNothing) {
  const RunResult r = run({"--diff", "p.xml"});
  EXPECT_EQ(r.status, kExitMessages);
  EXPECT_EQ(r.out,
            "--- p.xml\n+++ p.xml\n@@ -1,8 +1,8 @@\n"
            " \xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            " <plugin>\r\n"
            " \t<task><id>\xC3\x84rger</id>\t<!-- \xC3\xA9t\xC3\xA9 -->\r\n"
            "-\t\t<object-type-name>user</object-type-name>\r\n"
            "-\t\t<attributes><attribute-name>given name</attribute-name><attribute-name>Cn</attribute-name>"
            "<attribute-name>given&#32;name</attribute-name></attributes>\r\n"
            "-\t\t<url-param><param-key>eDirSearch</param-key><param-value>Organizational Unit \xC3\x84</param-value>"
            "</url-param>\r\n"
            "+\t\t<object-type-name>User</object-type-name>\r\n"
            "+\t\t<attributes><attribute-name>Given Name</attribute-name><attribute-name>Cn</attribute-name>"
            "<attribute-name>given&#32;name</attribute-name></attributes>\r\n"
            "+\t\t<url-param><param-key>eDirSearch</param-key><param-value>Organizational_Unit_\xC3\x84</param-value>"
            "</url-param>\r\n"
            " \t</task>\r\n"
            " </plugin>\n\\ No newline at end of file\n");
  EXPECT_EQ(folder_.read("p.xml"), kBefore);
  // What patch makes of it is what --fix writes.
  folder_.write("patch.diff", r.out);
  Shell(folder_, "patch -s -p0 < patch.diff");
  EXPECT_EQ(folder_.read("p.xml"), kAfter);
}

TEST_F(CliFixTest, FixRewritesOnlyTheNamesKeepsTheModeAndReportsWhatIsLeft) {
  const RunResult r = run({"--fix", "p.xml"});
  EXPECT_EQ(folder_.read("p.xml"), kAfter);
  struct stat st {};
  ASSERT_EQ(::stat(folder_.path("p.xml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(r.err,
            "p.xml:4:21: fixed Msg 006: \"user\" -> \"User\"\n"
            "p.xml:5:31: fixed Msg 001: \"given name\" -> \"Given Name\"\n"
            "p.xml:6:60: fixed Msg 009: \"Organizational Unit \xC3\x84\" -> \"Organizational_Unit_\xC3\x84\"\n"
            "2 findings in 1 file\n");
  // The ambiguous name and the one written with a reference are left, and reported.
  EXPECT_EQ(r.out,
            "p.xml:5:58: Msg 001: Schema - Attribute not found: \"Cn\" (\xC3\x84rger)\n"
            "p.xml:5:93: Msg 001: Schema - Attribute not found: \"given name\" (\xC3\x84rger)\n");
  EXPECT_EQ(r.status, kExitMessages);

  // Nothing left to fix: the file is not written again.
  EXPECT_EQ(run({"--diff", "p.xml"}).out, "");
}

TEST_F(CliFixTest, ImpossibleCombinationsAreUsageErrors) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--fix", "--diff", "p.xml"},
           {"--fix", "-"},
           {"--diff", "--format", "json", "p.xml"},
           {"--fix", "--write-baseline", "b.json", "p.xml"},
       }) {
    SCOPED_TRACE(args[1]);
    EXPECT_EQ(run(args).status, kExitTrouble);
  }
  EXPECT_EQ(folder_.read("p.xml"), kBefore);
  // Standard input can still be shown corrected.
  EXPECT_NE(RunCli({"--schema", "tree.schema", "--diff", "--stdin-filename", "p.xml", "-"}, kBefore)
                .out.find("+\t\t<object-type-name>User<"),
            std::string::npos);
}

TEST_F(CliFixTest, JsonAndSarifCarryTheSameCorrections) {
  const json files = json::parse(run({"--format", "json", "p.xml"}).out)["files"][0]["messages"];
  std::vector<json> suggestions;
  for (const json& m : files) {
    if (m.contains("suggestion")) suggestions.push_back(m["suggestion"]);
  }
  ASSERT_EQ(suggestions.size(), 3u);
  EXPECT_EQ(suggestions[1], (json{{"text", "User"},
                                  {"description", "Use the schema's spelling."},
                                  {"startLine", 4},
                                  {"startColumn", 21},
                                  {"endLine", 4},
                                  {"endColumn", 25}}));

  const RunResult sarif = run({"--format", "sarif", "p.xml"});
  folder_.write("log.sarif", sarif.out);
  const std::string validation = Shell(folder_,
                                       "python3 -c 'import json, sys, jsonschema\n"
                                       "schema, log = (json.load(open(f)) for f in sys.argv[1:])\n"
                                       "jsonschema.Draft4Validator(schema).validate(log)' '" +
                                           std::string(CORVANE_SARIF_SCHEMA) + "' log.sarif && echo valid");
  EXPECT_EQ(validation, "valid\n");
  std::size_t fixes = 0;
  const json log = json::parse(sarif.out);
  for (const json& result : log["runs"][0]["results"]) {
    if (!result.contains("fixes")) continue;
    ++fixes;
    const json& change = result["fixes"][0]["artifactChanges"][0];
    EXPECT_EQ(change["artifactLocation"], result["locations"][0]["physicalLocation"]["artifactLocation"]);
    if (result["message"]["text"] == "Msg 006: Schema - Class not found: \"user\" (\xC3\x84rger)") {
      EXPECT_EQ(change["replacements"][0],
                (json{{"deletedRegion", {{"startLine", 4}, {"startColumn", 21}, {"endLine", 4}, {"endColumn", 25}}},
                      {"insertedContent", {{"text", "User"}}}}));
    }
  }
  EXPECT_EQ(fixes, 3u);
}

TEST_F(CliFixTest, VimReadsTheFindingsIntoTheQuickfixList) {
  if (Shell(folder_, "command -v vim").empty()) GTEST_SKIP() << "vim is not installed";
  folder_.write("broken.xml", "<plugin>\n<task>\n</plugin>");
  const std::string bin = std::filesystem::path(corvane::ProgramFileName("")).parent_path().string();
  // :make runs the compiler's command on the current file; a file that cannot be read adds
  // a line without a position.
  const std::string script =
      "compiler corvanexml\n"
      "let &makeprg = 'corvanexml-check --quiet --schema tree.schema p.xml missing.xml broken.xml'\n"
      "silent make\n"
      "call writefile(map(getqflist(), {_, e -> bufname(e.bufnr) .. '|' .. e.lnum .. '|' .. e.col .. '|' .. "
      "e.valid .. '|' .. e.text}), 'qf.txt')\n"
      "qall!\n";
  folder_.write("qf.vim", script);
  Shell(folder_, "PATH='" + bin +
                     "':\"$PATH\" vim -es -N -u NONE -i NONE --cmd 'set rtp^=" CORVANE_SOURCE_DIR
                     "/packaging/vim' -S qf.vim");
  EXPECT_EQ(folder_.read("qf.txt"),
            "p.xml|4|3|1|Msg 006: Schema - Class not found: \"user\" (\xC3\x84rger)\n"
            "p.xml|5|15|1|Msg 001: Schema - Attribute not found: \"given name\" (\xC3\x84rger)\n"
            "p.xml|5|58|1|Msg 001: Schema - Attribute not found: \"Cn\" (\xC3\x84rger)\n"
            "p.xml|5|93|1|Msg 001: Schema - Attribute not found: \"given name\" (\xC3\x84rger)\n"
            "p.xml|6|47|1|Msg 009: Bad Class Name: \"Organizational Unit \xC3\x84\" (use \"_\")\n"
            "missing.xml|0|0|1|Msg 100: XML Error: \"Cannot open " +
                folder_.path("missing.xml") +
                ": No such file or directory\"\n"
                "broken.xml|3|10|1|Msg 100: XML Error: \"Opening and ending tag mismatch: task line 2 and plugin "
                "Line: 3 </plugin>\"\n");
}

TEST_F(CliFixTest, TheReadmesProblemMatcherReadsEveryFindingLine) {
  const std::string readme = [] {
    std::ifstream in(CORVANE_SOURCE_DIR "/README.md");
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }();
  // The matcher's patterns, as JSON strings.
  std::vector<std::regex> patterns;
  const std::regex regexpLine(R"("regexp": ("[^\n]*"),)");
  for (auto it = std::sregex_iterator(readme.begin(), readme.end(), regexpLine); it != std::sregex_iterator(); ++it) {
    patterns.emplace_back(json::parse((*it)[1].str()).get<std::string>());
  }
  ASSERT_EQ(patterns.size(), 2u);
  folder_.write("a:b.xml", "<plugin>\n<task>\n</plugin>");
  const std::string out = run({"p.xml", "missing.xml", "a:b.xml"}).out;
  std::istringstream lines(out);
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    SCOPED_TRACE(line);
    std::smatch located;
    std::smatch fileOnly;
    // Only the file that cannot be read has no position.
    const bool hasPosition = !line.starts_with("missing.xml: ");
    EXPECT_EQ(std::regex_match(line, located, patterns[0]), hasPosition);
    EXPECT_EQ(std::regex_match(line, fileOnly, patterns[1]), !hasPosition);
    const std::smatch& match = hasPosition ? located : fileOnly;
    EXPECT_TRUE(match[1] == "p.xml" || match[1] == "missing.xml" || match[1] == "a:b.xml") << match[1];
  }
  EXPECT_EQ(count, 7u);
}
