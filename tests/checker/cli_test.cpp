#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "scan.h"

using namespace corvane::cli;
using namespace cli_test;
namespace fs = std::filesystem;

namespace {

// Makes permission bits count for this thread: as root, the effective capabilities that
// override them are dropped until the end of the scope. inactive() when that is not possible.
class PermissionsApply {
 public:
  PermissionsApply() {
    if (::geteuid() != 0) return;
    if (::syscall(SYS_capget, &header_, saved_) != 0) {
      inactive_ = true;
      return;
    }
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    inactive_ = !dropped_;
  }
  ~PermissionsApply() {
    if (dropped_) ::syscall(SYS_capset, &header_, saved_);
  }
  bool inactive() const { return inactive_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
  bool inactive_ = false;
};

// A page whose role assignment, naming no id, lies depth levels below it.
std::string DeepDocument(int depth) {
  std::string xml = "<plugin><page><id>P</id>";
  for (int i = 0; i < depth; ++i) xml += "<a>";
  xml += "<role-assignment>X</role-assignment>";
  for (int i = 0; i < depth; ++i) xml += "</a>";
  return xml + "</page></plugin>";
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
    Write("names.xml",
          "<plugin><task><id>T</id><object-type-name>User</object-type-name>"
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
  const RunResult r = RunCli({"--format", "list", Path("web")});
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
  const std::string b = Path("web/portal/modules/M/b.xml");
  const std::string tree = b + "\n  plugin\n    task (T)\n      id: T\n      id: T\n\n";
  EXPECT_EQ(RunCli({"--show-tree", "--format=list", b}).out, tree + "Msg 008: Duplicate ID: T\n");
  EXPECT_EQ(RunCli({"--show-tree", b}).out, tree + b + ":1:25: Msg 008: Duplicate ID: T\n");
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
  EXPECT_EQ(run["tool"]["driver"]["rules"].size(), 11u);
  const auto& result = run["results"][0];
  EXPECT_EQ(result["ruleId"], "Msg008");
  EXPECT_EQ(run["tool"]["driver"]["rules"][result["ruleIndex"].get<int>()]["id"], "Msg008");
  const auto& location = result["locations"][0]["physicalLocation"];
  EXPECT_EQ(location["artifactLocation"]["uri"], "file://" + Path("web/portal/modules/M/b.xml"));
  EXPECT_EQ(location["region"]["startLine"], 1);
}

TEST_F(CliTest, NamesAreCheckedAgainstTheSelectedTree) {
  const RunResult own = RunCli({"--format=list", "--schema", Path("tree.schema"), Path("names.xml")});
  EXPECT_EQ(own.status, kExitMessages);
  EXPECT_EQ(own.out, "Msg 001: Schema - Attribute not found: \"Nickname\" (T)\n");
  // The demo tree knows both names of this class, but not the nickname either.
  EXPECT_EQ(RunCli({"--format=list", "--tree", "corvane_demo", Path("names.xml")}).out, own.out);
  EXPECT_EQ(RunCli({"--format=list", Path("names.xml")}).out, own.out);
}

TEST_F(CliTest, UnknownTreesAndUnreadableSchemasAreUsageErrors) {
  const RunResult tree = RunCli({"--tree", "NOPE", Path("names.xml")});
  EXPECT_EQ(tree.status, kExitTrouble);
  EXPECT_NE(tree.err.find("CORVANE_DEMO"), std::string::npos);
  const RunResult schema = RunCli({"--schema", Path("missing.schema"), Path("names.xml")});
  EXPECT_EQ(schema.status, kExitTrouble);
  EXPECT_NE(schema.err.find("missing.schema"), std::string::npos) << schema.err;
  EXPECT_EQ(schema.out, "");
  fs::create_directories(root_ / "corvane-client");
  Write("corvane-client/connections.ini", "[BROKEN]\nschema = missing.schema\nprimary = true\n");
  const RunResult broken = RunCli({Path("names.xml")});
  EXPECT_EQ(broken.status, kExitTrouble);
  EXPECT_NE(broken.err.find("'BROKEN' cannot be read"), std::string::npos) << broken.err;
  fs::remove(root_ / "corvane-client/connections.ini");

  const RunResult trees = RunCli({"--list-trees"});
  EXPECT_EQ(trees.status, kExitClean);
  EXPECT_EQ(trees.out, "CORVANE_DEMO\n");
}

TEST_F(CliTest, ArgumentsThatNameNoFileAreReportedAndTheOthersStillChecked) {
  const std::string b = Path("web/portal/modules/M/b.xml");
  const RunResult empty = RunCli({"--format=list", b, ""});
  EXPECT_EQ(empty.status, kExitTrouble);
  EXPECT_EQ(empty.out, b + ":\nMsg 008: Duplicate ID: T\n");
  EXPECT_NE(empty.err.find("''"), std::string::npos) << empty.err;

  // A relative path cannot be made full once the current folder is gone.
  const InFolder gone(root_ / "gone");
  fs::remove(root_ / "gone");
  const RunResult relative = RunCli({"--format=list", "x.xml", b});
  EXPECT_EQ(relative.status, kExitTrouble);
  EXPECT_EQ(relative.out, b + ":\nMsg 008: Duplicate ID: T\n");
  EXPECT_NE(relative.err.find("'x.xml'"), std::string::npos) << relative.err;
}

TEST_F(CliTest, JsonItemPathsOfDeepMessagesAreElidedInTheMiddle) {
  // File, document element, page, 12 levels of <a>, the assignment: 16 labels are shown whole.
  Write("fits.xml", DeepDocument(12));
  const auto fits = nlohmann::json::parse(RunCli({"--format", "json", Path("fits.xml")}).out);
  const auto& whole = fits["files"][0]["messages"][0]["item"];
  EXPECT_EQ(whole.size(), 16u);
  EXPECT_EQ(std::count(whole.begin(), whole.end(), "…"), 0);

  Write("deep.xml", DeepDocument(300));
  const auto deep = nlohmann::json::parse(RunCli({"--format", "json", Path("deep.xml")}).out);
  const auto& item = deep["files"][0]["messages"][0]["item"];
  ASSERT_EQ(item.size(), 16u);
  EXPECT_EQ(item[0], Path("deep.xml"));
  EXPECT_EQ(item[2], "page (P)");
  EXPECT_EQ(item[3], "…");
  EXPECT_EQ(item[14], "a");
  EXPECT_EQ(item[15], "role-assignment: X");
}

TEST_F(CliTest, ShowTreeIndentsAHundredLevelsThenWritesTheDepth) {
  Write("deep.xml", DeepDocument(150));
  const std::string out = RunCli({"--show-tree", Path("deep.xml")}).out;
  const std::string cap(200, ' ');
  // The <a> elements lie at depths 3 to 152, the assignment at 153.
  EXPECT_NE(out.find("\n" + cap + "a\n" + cap + "[depth 101] a\n"), std::string::npos);
  EXPECT_NE(out.find("\n" + cap + "[depth 153] role-assignment: X\n"), std::string::npos);
}

TEST_F(CliTest, ConnectionsThatSelectNoTreeAreUsageErrors) {
  const std::string schema = "schema = " + Path("tree.schema") + "\n";
  const auto primary = [&](const std::string& tree) { return "[" + tree + "]\n" + schema + "primary = true\n"; };
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"garbage", "\x01\x02 garbage\n[\n"},
      {"no primary", "[A]\n" + schema + "[B]\n" + schema},
      {"name beyond the info buffer", primary(std::string(300, 'L'))},
      {"name longer than a tree name", primary(std::string(40, 'L'))},
      {"name of fill characters only", primary("___")},
  };
  fs::create_directories(root_ / "corvane-client");
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    Write("corvane-client/connections.ini", text);
    const RunResult r = RunCli({Path("names.xml")});
    EXPECT_EQ(r.status, kExitTrouble);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("connections.ini"), std::string::npos) << r.err;
  }
  fs::remove(root_ / "corvane-client/connections.ini");
  fs::create_directory(root_ / "corvane-client/connections.ini");
  for (const std::vector<std::string>& args : {std::vector<std::string>{Path("names.xml")}, {"--list-trees"}}) {
    const RunResult r = RunCli(args);
    EXPECT_EQ(r.status, kExitTrouble) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("connections.ini"), std::string::npos) << r.err;
  }
}

TEST_F(CliTest, UnreadableFoldersAreNamedAndTheRestIsChecked) {
  const fs::path locked = root_ / "web/portal/modules/M/locked";
  fs::create_directories(locked);
  Write("web/portal/modules/M/locked/c.xml", "<plugin><task><id>C</id><id>C</id></task></plugin>");
  fs::permissions(locked, fs::perms::none);
  {
    const PermissionsApply permissions;
    if (permissions.inactive()) {
      fs::permissions(locked, fs::perms::owner_all);
      GTEST_SKIP() << "permission bits cannot be made to count";
    }
    const RunResult tree = RunCli({"--format=list", Path("web")});
    EXPECT_EQ(tree.status, kExitTrouble);
    EXPECT_EQ(tree.out, Path("web") + "/portal/modules/M/b.xml:\nMsg 008: Duplicate ID: T\n" + Path("web") +
                            "/portal/modules/M/sub/a.xml:\n");
    EXPECT_NE(tree.err.find(locked.string()), std::string::npos) << tree.err;

    const RunResult only = RunCli({locked.string()});
    EXPECT_EQ(only.status, kExitTrouble);
    EXPECT_EQ(only.out, "");
    EXPECT_NE(only.err.find(locked.string()), std::string::npos) << only.err;
  }
  fs::permissions(locked, fs::perms::owner_all);
}

TEST_F(CliTest, APathThroughALinkIsCheckedWhereTheLinkLeads) {
  // lnk/.. is real/, so the file and its web application are real/portal/M.xml and real/.
  fs::create_directories(root_ / "real/web");
  fs::create_directories(root_ / "real/portal");
  fs::create_directories(root_ / "real/WEB-INF/classes");
  fs::create_directory_symlink(root_ / "real/web", root_ / "lnk");
  Write("real/portal/M.xml",
        "<plugin><book><id>B</id><resource-properties-file>R</resource-properties-file>"
        "<display-name-key>K</display-name-key></book></plugin>");
  Write("real/WEB-INF/classes/R.properties", "K=value\n");
  // Read as text, the path would name this file instead.
  fs::create_directories(root_ / "portal");
  Write("portal/M.xml", "<plugin><task><id>T</id><id>T</id></task></plugin>");

  const RunResult r = RunCli({Path("lnk/../portal/M.xml")});
  EXPECT_EQ(r.status, kExitClean) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(CliPathTest, FullPathsKeepDotDotForTheFileSystemToResolve) {
  std::error_code ec;
  const std::string here = fs::current_path().string();
  EXPECT_EQ(corvane::FullPathToCheck("lnk/../a.xml", ec), here + "/lnk/../a.xml");
  EXPECT_EQ(corvane::FullPathToCheck("/x//./lnk/../a.xml", ec), "/x/lnk/../a.xml");
  // A trailing "." or '/' asks for a folder, and must not turn into the file.
  EXPECT_EQ(corvane::FullPathToCheck("/x/a.xml/.", ec), "/x/a.xml/");
  EXPECT_FALSE(ec);
  EXPECT_EQ(corvane::FullPathToCheck("", ec), "");
  EXPECT_TRUE(ec);
}
