#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dir_client.h"
#include "options.h"
#include "run.h"

using namespace corvane::cli;
namespace fs = std::filesystem;

namespace {

struct RunResult {
  int status;
  std::string out;
};

// Each run starts from the client's own connections, as a new process would.
void RestartClient() {
  corvane::client::ResetClient();
  corvane::client::ClientInit(0, 0);
}

RunResult RunCli(const std::vector<std::string>& args) {
  RestartClient();
  std::string error;
  const auto options = ParseOptions(args, error);
  if (!options) return {kExitTrouble, error};
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunChecks(*options, out, err);
  return {status, out.str() + err.str()};
}

class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("corvane_cli_" + std::to_string(::getpid()));
    fs::create_directories(root_ / "web/portal/modules/M/sub");
    Write("web/portal/modules/M/b.xml", "<plugin><task><id>T</id><id>T</id></task></plugin>");
    Write("web/portal/modules/M/sub/a.xml", "<plugin><book><id>A</id></book></plugin>");
    Write("web/portal/modules/M/notes.txt", "not xml");
    Write("broken.xml", "<plugin>\n<task>\n</plugin>");
    Write("names.xml", "<plugin><task><id>T</id><object-type-name>User</object-type-name>"
                       "<a><attribute-name>Given Name</attribute-name><attribute-name>Nickname</attribute-name>"
                       "</a></task></plugin>");
    Write("tree.schema", "attributetype ( 1.1 NAME 'Given Name' )\nobjectclass ( 1.2 NAME 'User' MAY 'Given Name' )\n");
    // No connections file here: the client offers its demo tree.
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(root_); }
  void Write(const std::string& rel, const std::string& text) { std::ofstream(root_ / rel) << text; }
  std::string Path(const std::string& rel) const { return (root_ / rel).string(); }

  fs::path root_;
};

}  // namespace

TEST_F(CliTest, UsageErrorsAreRefused) {
  std::string error;
  EXPECT_FALSE(ParseOptions({}, error));
  EXPECT_FALSE(ParseOptions({"--format", "csv", "x.xml"}, error));
  EXPECT_FALSE(ParseOptions({"--bogus", "x.xml"}, error));
  EXPECT_FALSE(ParseOptions({"x.xml", "--schema"}, error));
  EXPECT_FALSE(ParseOptions({"--schema", "a", "--tree", "b", "x.xml"}, error));
  const auto options = ParseOptions({"--", "--show-tree"}, error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->inputs, std::vector<std::string>{"--show-tree"});
}

TEST_F(CliTest, AFolderStandsForItsXmlFilesInPathOrderWithHeaders) {
  const RunResult r = RunCli({Path("web")});
  EXPECT_EQ(r.status, kExitMessages);
  EXPECT_EQ(r.out, Path("web") + "/portal/modules/M/b.xml:\nMsg 008: Duplicate ID: T\n" + Path("web") +
                       "/portal/modules/M/sub/a.xml:\n");
}

TEST_F(CliTest, ExitStatusTellsCleanFindingsAndUnreadable) {
  EXPECT_EQ(RunCli({Path("web/portal/modules/M/sub/a.xml")}).status, kExitClean);
  EXPECT_EQ(RunCli({Path("broken.xml")}).status, kExitMessages);
  const RunResult missing = RunCli({Path("web/portal/modules/M/sub/a.xml"), Path("missing.xml")});
  EXPECT_EQ(missing.status, kExitTrouble);
  EXPECT_NE(missing.out.find("Msg 100: XML Error: \"Cannot open"), std::string::npos);
}

TEST_F(CliTest, ShowTreePrintsItemsThenAnEmptyLineThenMessages) {
  const RunResult r = RunCli({"--show-tree", Path("web/portal/modules/M/b.xml")});
  EXPECT_EQ(r.out, Path("web/portal/modules/M/b.xml") +
                       "\n  plugin\n    task (T)\n      id: T\n      id: T\n\nMsg 008: Duplicate ID: T\n");
}

TEST_F(CliTest, JsonCarriesCodeLineColumnAndItemPath) {
  const RunResult r = RunCli({"--format", "json", Path("web/portal/modules/M/b.xml"), Path("broken.xml")});
  const auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["files"].size(), 2u);
  const auto& dup = doc["files"][0]["messages"][0];
  EXPECT_EQ(dup["code"], "008");
  EXPECT_EQ(dup["line"], 1);
  EXPECT_EQ(dup["column"], 25);
  EXPECT_EQ(dup["item"].back(), "id: T");
  const auto& parse = doc["files"][1]["messages"][0];
  EXPECT_EQ(parse["code"], "100");
  EXPECT_EQ(parse["line"], 3);
  EXPECT_TRUE(parse["item"].is_null());
}

TEST_F(CliTest, SarifHasOneRulePerCodeAndPhysicalLocations) {
  const RunResult r = RunCli({"--format", "sarif", Path("web/portal/modules/M/b.xml")});
  const auto log = nlohmann::json::parse(r.out);
  EXPECT_EQ(log["version"], "2.1.0");
  const auto& run = log["runs"][0];
  EXPECT_EQ(run["tool"]["driver"]["rules"].size(), 10u);
  const auto& result = run["results"][0];
  EXPECT_EQ(result["ruleId"], "Msg008");
  EXPECT_EQ(run["tool"]["driver"]["rules"][result["ruleIndex"].get<int>()]["id"], "Msg008");
  const auto& location = result["locations"][0]["physicalLocation"];
  EXPECT_EQ(location["artifactLocation"]["uri"], "file://" + Path("web/portal/modules/M/b.xml"));
  EXPECT_EQ(location["region"]["startLine"], 1);
}

TEST_F(CliTest, NamesAreCheckedAgainstTheSelectedTree) {
  const RunResult own = RunCli({"--schema", Path("tree.schema"), Path("names.xml")});
  EXPECT_EQ(own.status, kExitMessages);
  EXPECT_EQ(own.out, "Msg 001: Schema - Attribute not found: \"Nickname\" (T)\n");
  // The demo tree knows both names of this class, but not the nickname either.
  EXPECT_EQ(RunCli({"--tree", "corvane_demo", Path("names.xml")}).out, own.out);
  EXPECT_EQ(RunCli({Path("names.xml")}).out, own.out);
}

TEST_F(CliTest, UnknownTreesAndUnreadableSchemasAreUsageErrors) {
  const RunResult tree = RunCli({"--tree", "NOPE", Path("names.xml")});
  EXPECT_EQ(tree.status, kExitTrouble);
  EXPECT_NE(tree.out.find("CORVANE_DEMO"), std::string::npos);
  EXPECT_EQ(RunCli({"--schema", Path("missing.schema"), Path("names.xml")}).status, kExitTrouble);
  fs::create_directories(root_ / "corvane-client");
  Write("corvane-client/connections.ini", "[BROKEN]\nschema = missing.schema\nprimary = true\n");
  const RunResult broken = RunCli({Path("names.xml")});
  EXPECT_EQ(broken.status, kExitTrouble);
  EXPECT_NE(broken.out.find("'BROKEN' cannot be read"), std::string::npos) << broken.out;
  fs::remove(root_ / "corvane-client/connections.ini");

  std::ostringstream trees;
  RestartClient();
  ListTrees(trees);
  EXPECT_EQ(trees.str(), "CORVANE_DEMO\n");
}
