// The project file .corvanexml.toml: found upward from each checked file, completed and
// overridden by the command line, and refused with its file, line and key when wrong.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "cli_run.h"

using namespace corvane::cli;
using namespace cli_test;
using nlohmann::json;

namespace {

const char kDuplicateAndRole[] =
    "<plugin><task><id>T</id><id>T</id><role-assignment>X</role-assignment></task></plugin>";
const char kDuplicateAndWidget[] =
    "<plugin><task><id>T</id><id>T</id><object-type-name>Widget</object-type-name></task></plugin>";

class CliProjectFileTest : public testing::Test {
 protected:
  CliProjectFileTest() : folder_("corvane_cli_project"), here_(folder_.root()) {}

  // The rules of each file a JSON report names, by path.
  static std::map<std::string, std::vector<std::string>> Rules(const RunResult& r) {
    std::map<std::string, std::vector<std::string>> rules;
    const json report = json::parse(r.out);
    for (const json& file : report["files"]) {
      auto& list = rules[file["path"].get<std::string>()];
      for (const json& message : file["messages"]) list.push_back(message["rule"].get<std::string>());
    }
    return rules;
  }

  TempFolder folder_;
  InFolder here_;
};

}  // namespace

TEST_F(CliProjectFileTest, EachFileFollowsTheNearestProjectFileAboveIt) {
  for (const char* file : {"proj/web/portal/a.xml", "proj/web/portal/old/b.xml", "proj/web/WEB-INF/web.xml",
                           "proj/web/portal/sub/c.xml"}) {
    folder_.write(file, kDuplicateAndRole);
  }
  // Patterns count from the project file's folder; a folder's name leaves out all below it.
  folder_.write("proj/.corvanexml.toml", "exclude = [\"web/WEB-INF/*\", \"old\"]\nignore = [\"Msg007\"]\n");
  // The nearer file governs its folder alone: the upper file's codes do not count there.
  folder_.write("proj/web/portal/sub/.corvanexml.toml", "ignore = [\"Msg008\"]\n");

  using Found = std::map<std::string, std::vector<std::string>>;
  EXPECT_EQ(Rules(RunCli({"--format=json", "proj"})),
            (Found{{"proj/web/portal/a.xml", {"Msg008"}}, {"proj/web/portal/sub/c.xml", {"Msg007"}}}));
  // From below, with the codes of the command line added to the file's.
  EXPECT_EQ(Rules(RunCli({"--format=json", "--ignore=Msg008", "proj/web/portal"})),
            (Found{{"proj/web/portal/a.xml", {}}, {"proj/web/portal/sub/c.xml", {"Msg007"}}}));
  // A file named on the command line (as pre-commit and editors name them) is left out too.
  const RunResult named = RunCli({"--format=json", "proj/web/portal/old/b.xml", "proj/web/WEB-INF/web.xml"});
  EXPECT_EQ(Rules(named), Found{}) << named.err;
  // A buffer counts where --stdin-filename says it lives.
  EXPECT_EQ(RunCli({"--stdin-filename", "proj/web/portal/sub/new.xml", "-"}, kDuplicateAndRole).out,
            "proj/web/portal/sub/new.xml:1:35: Msg 007: Unknown Role ID: X\n");
}

TEST_F(CliProjectFileTest, TheFirstInputsProjectFileSetsTheRunAndTheCommandLineWins) {
  folder_.write("proj/portal/a.xml", kDuplicateAndWidget);
  folder_.write("proj/widgets.schema", "objectclass ( 1.2 NAME 'Widget' )\n");
  folder_.write("proj/.corvanexml.toml",
                "# the team's settings\nschema = [\"widgets.schema\"]\nbaseline = \"known.json\"\nformat = \"json\"\n");

  // Writing a baseline sets the project's aside; the schema file is found from the project's folder.
  const RunResult recorded = RunCli({"--write-baseline", "proj/known.json", "proj/portal/a.xml"});
  ASSERT_EQ(recorded.status, kExitClean) << recorded.err;
  EXPECT_EQ(json::parse(folder_.read("proj/known.json"))["findings"].size(), 1u);

  // Run from below, the paths still count from the project file's folder.
  InFolder below(folder_.root() / "proj/portal");
  const RunResult run = RunCli({"a.xml"});
  EXPECT_EQ(run.status, kExitClean) << run.err;
  EXPECT_EQ(json::parse(run.out)["files"][0]["messages"], json::array());

  // The demo tree knows no Widget; the baseline still excuses the duplicate.
  const RunResult own = RunCli({"--format", "text", "--tree", "CORVANE_DEMO", "a.xml"});
  EXPECT_EQ(own.status, kExitMessages) << own.err;
  EXPECT_EQ(own.out, "a.xml:1:35: Msg 006: Schema - Class not found: \"Widget\" (T)\n");

  // What the project's format cannot go with is a usage error that names the project file.
  const RunResult conflict = RunCli({"--show-tree", "a.xml"});
  EXPECT_EQ(conflict.status, kExitTrouble);
  EXPECT_NE(conflict.err.find("--show-tree goes with --format text or list (with the settings of " +
                              folder_.path("proj/.corvanexml.toml") + ")"),
            std::string::npos)
      << conflict.err;
}

TEST_F(CliProjectFileTest, CarryOverInTheProjectFileCarriesStateFromFileToFile) {
  // A translator file that names a key, and one that names the bundle it is not in.
  folder_.write("web/WEB-INF/classes/R.properties", "Other=x\n");
  folder_.write("web/portal/A.xml", "<dir-translator><display-name-key>K</display-name-key></dir-translator>");
  folder_.write("web/portal/B.xml",
                "<dir-translator><resource-properties-file>R</resource-properties-file></dir-translator>");
  folder_.write("web/.corvanexml.toml", "carry-over = false\n");
  EXPECT_EQ(RunCli({"web"}).out, "");
  EXPECT_EQ(RunCli({"--carry-over", "web"}).out, "web/portal/B.xml:1:17: Msg 003: Key not found: R/K\n");
  folder_.write("web/.corvanexml.toml", "carry-over = true\n");
  EXPECT_EQ(RunCli({"web"}).out, "web/portal/B.xml:1:17: Msg 003: Key not found: R/K\n");
}

TEST_F(CliProjectFileTest, ABadKeyOrValueIsAUsageErrorNamingFileLineAndKey) {
  const std::string project = folder_.path("proj/.corvanexml.toml");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"format = \"xml\"\n", ":1: key 'format': unknown format 'xml'"},
      {"# codes\n\nignore = [\"Msg004\",\n  \"Msg005\"]\n", ":4: key 'ignore': "},
      {"ignore = [\"Msg004\", 7]\n", ":1: key 'ignore': expected a string"},
      {"exclude = \"web.xml\"\n", ":1: key 'exclude': expected a list of strings"},
      {"carry-over = \"no\"\n", ":1: key 'carry-over': expected true or false"},
      {"baseline = \"\"\n", ":1: key 'baseline': an empty string names nothing"},
      {"tree = \"PROD\"\nschema = [\"a.schema\"]\n", ":2: key 'schema': schema and tree cannot be used together"},
      {"format = \"text\"\nzzz = 1\n[checker]\nquiet = true\n", ":2: unknown key 'zzz'"},
      {"format = \"text\"\nformat = \"json\"\n", ":2: not TOML: "},
  };
  folder_.write("proj/portal/a.xml", kDuplicateAndRole);
  for (const auto& [text, expected] : cases) {
    folder_.write("proj/.corvanexml.toml", text);
    const RunResult r = RunCli({"proj/portal/a.xml"});
    EXPECT_EQ(r.status, kExitTrouble) << text;
    EXPECT_EQ(r.out, "") << text;
    EXPECT_NE(r.err.find(project + expected), std::string::npos) << text << r.err;
  }

  // One met only on the walk stops the run before anything is written.
  folder_.write("proj/.corvanexml.toml", "format = \"text\"\n");
  folder_.write("proj/portal/z/.corvanexml.toml", "ignore = \"Msg004\"\n");
  folder_.write("proj/portal/z/b.xml", kDuplicateAndRole);
  const RunResult walked = RunCli({"proj"});
  EXPECT_EQ(walked.status, kExitTrouble);
  EXPECT_EQ(walked.out, "");
  EXPECT_NE(walked.err.find(folder_.path("proj/portal/z/.corvanexml.toml") + ":1: key 'ignore'"), std::string::npos)
      << walked.err;
}
