// The command line's formats, the positions they report, and what the program says on
// standard error when a tree cannot be read. Positions here were counted by hand.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "cli_run.h"
#include "d_util.h"
#include "plain_sinks.h"
#include "scan.h"

using namespace corvane::cli;
using namespace cli_test;
using nlohmann::json;

namespace {

// Tabs and non-ASCII characters count one column each; lines end in CR LF; the second
// duplicate id's start tag goes on over the next line.
const std::string kPositions =
    "<plugin>\r\n"
    "\t<task><id>\xC3\x84</id>\r\n"
    "\t\t<id>\xC3\x84</id><id\r\n"
    "   >\xC3\x84</id>\r\n"
    "  <role-assignment>\xC3\xA9</role-assignment>\r\n"
    "\t</task>\r\n"
    "</plugin>\r\n";

// Msg 003 and Msg 004 come from a key and a bundle one line apart, Msg 002 from an attribute
// inside <attributes>: the window attaches each to a neighbour of the element meant.
const std::string kNeighbours =
    "<plugin>\n"
    "  <task>\n"
    "    <id>T</id>\n"
    "    <display-name-key>Missing</display-name-key>\n"
    "    <resource-properties-file>R</resource-properties-file>\n"
    "    <resource-properties-file>Nope</resource-properties-file>\n"
    "    <display-name-key>K</display-name-key>\n"
    "    <object-type-name>User</object-type-name>\n"
    "    <attributes>\n"
    "      <attribute-name>Given Name</attribute-name>\n"
    "      <attribute-name>Fax</attribute-name>\n"
    "    </attributes>\n"
    "  </task>\n"
    "</plugin>\n";

const std::string kSchema =
    "attributetype ( 1.1 NAME 'Given Name' )\nattributetype ( 1.2 NAME 'Fax' )\n"
    "objectclass ( 1.3 NAME 'User' MAY 'Given Name' )\n";

struct ProcessResult {
  int status;
  std::string output;
};

ProcessResult RunProcess(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "popen failed"};
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string ProgramBeside(const std::string& name) {
  return (std::filesystem::path(corvane::ProgramFileName("")).parent_path() / name).string();
}

class CliFormatTest : public testing::Test {
 protected:
  CliFormatTest() : folder_("corvane_cli_format"), here_(folder_.root()) {
    folder_.write("pos.xml", kPositions);
    folder_.write("broken.xml", "<plugin>\n<task>\n</plugin>");
    folder_.write("a,b:c.xml", "<plugin>\n<task>\n</plugin>");
    folder_.write("pct.xml", "<plugin><task><id>5%</id><id>5%</id></task></plugin>");
    folder_.write("clean.xml", "<plugin/>");
    folder_.write("tree.schema", kSchema);
    folder_.write("web/WEB-INF/classes/R.properties", "K=v\n");
    folder_.write("web/portal/loc.xml", kNeighbours);
  }

  TempFolder folder_;
  InFolder here_;
};

}  // namespace

TEST_F(CliFormatTest, TextLinesAreOrderedByPositionAndStayOneLine) {
  const RunResult r = RunCli({"pos.xml", "clean.xml", "broken.xml"});
  EXPECT_EQ(r.status, kExitMessages);
  EXPECT_EQ(r.out,
            "pos.xml:3:3: Msg 008: Duplicate ID: \xC3\x84\n"
            "pos.xml:3:13: Msg 008: Duplicate ID: \xC3\x84\n"
            "pos.xml:5:3: Msg 007: Unknown Role ID: \xC3\xA9\n"
            "broken.xml:3:10: Msg 100: XML Error: \"Opening and ending tag mismatch: task line 2 and plugin "
            "Line: 3 </plugin>\"\n");
  EXPECT_EQ(r.err, "4 findings in 2 files\n");

  // The window's order and its multi-line texts stay available.
  EXPECT_EQ(RunCli({"--format", "list", "pos.xml"}).out,
            "Msg 007: Unknown Role ID: \xC3\xA9\nMsg 008: Duplicate ID: \xC3\x84\nMsg 008: Duplicate ID: \xC3\x84\n");
}

// The checker adds an attribute's findings in the order of the task's object types; at one
// position they keep the list's order (by text) in every format, with or without a baseline.
TEST_F(CliFormatTest, FindingsAtOnePositionKeepTheListsOrder) {
  folder_.write("aux.xml",
                "<plugin>\n<task><id>T</id><object-type-name>User</object-type-name>"
                "<object-type-name>Organizational Unit</object-type-name><object-type-name>Device</object-type-name>\n"
                "<attributes><attribute-name>Mail Quota</attribute-name></attributes></task>\n</plugin>");
  const std::vector<std::string> classes = {"Device", "Organizational Unit", "User"};
  std::string expected;
  for (const std::string& c : classes)
    expected += "aux.xml:3:13: Msg 002: Auxiliary Attribute: \"Mail Quota\" for \"" + c + "\" (T)\n";
  EXPECT_EQ(RunCli({"aux.xml"}).out, expected);
  RunCli({"--write-baseline", "clean.baseline", "clean.xml"});
  EXPECT_EQ(RunCli({"--baseline", "clean.baseline", "aux.xml"}).out, expected);
  const std::string github = RunCli({"--format", "github", "aux.xml"}).out;
  EXPECT_LT(github.find("for \"Device\""), github.find("for \"Organizational Unit\""));
  EXPECT_LT(github.find("for \"Organizational Unit\""), github.find("for \"User\""));
  // SARIF names findings a directive silenced too, in the same order.
  const std::string silenced = "<!-- corvanexml-check disable=Msg002 -->\n";
  folder_.write("quiet.xml", silenced + folder_.read("aux.xml"));
  for (const std::string file : {"aux.xml", "quiet.xml"}) {
    const json results = json::parse(RunCli({"--format", "sarif", file}).out)["runs"][0]["results"];
    ASSERT_EQ(results.size(), classes.size()) << file;
    for (std::size_t i = 0; i < classes.size(); ++i) {
      EXPECT_NE(results[i]["message"]["text"].get<std::string>().find(classes[i]), std::string::npos) << file << i;
      EXPECT_EQ(results[i].contains("suppressions"), file == "quiet.xml") << file << i;
    }
  }
}

TEST_F(CliFormatTest, SummaryCountsAndExitStatusFollowTheOptions) {
  EXPECT_EQ(RunCli({"pct.xml"}).err, "1 finding in 1 file\n");
  const RunResult clean = RunCli({"clean.xml", "clean.xml"});
  EXPECT_EQ(clean.status, kExitClean);
  EXPECT_EQ(clean.err, "no findings in 2 files\n");
  const RunResult quiet = RunCli({"--quiet", "--exit-zero", "pct.xml"});
  EXPECT_EQ(quiet.status, kExitClean);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "pct.xml:1:26: Msg 008: Duplicate ID: 5%\n");
  // A file that cannot be read is still a failure.
  EXPECT_EQ(RunCli({"--exit-zero", "missing.xml"}).status, kExitTrouble);
}

TEST_F(CliFormatTest, WorkflowCommandsEscapeDataAndProperties) {
  const RunResult r = RunCli({"--format=github", "pos.xml", "pct.xml", "a,b:c.xml"});
  EXPECT_EQ(r.out,
            "::warning file=pos.xml,line=3,col=3,title=Msg 008::Duplicate ID: \xC3\x84\n"
            "::warning file=pos.xml,line=3,col=13,title=Msg 008::Duplicate ID: \xC3\x84\n"
            "::warning file=pos.xml,line=5,col=3,title=Msg 007::Unknown Role ID: \xC3\xA9\n"
            "::warning file=pct.xml,line=1,col=26,title=Msg 008::Duplicate ID: 5%25\n"
            "::error file=a%2Cb%3Ac.xml,line=3,col=10,title=Msg 100::XML Error: \"Opening and ending tag mismatch: "
            "task line 2 and plugin%0ALine: 3%0A</plugin>\"\n");
}

TEST_F(CliFormatTest, JsonCarriesVersionRuleAndLevel) {
  const json doc = json::parse(RunCli({"--format", "json", "pos.xml", "broken.xml"}).out);
  EXPECT_EQ(VersionText(), "corvanexml-check " + doc["version"].get<std::string>() + "\n");
  const json& role = doc["files"][0]["messages"][0];
  EXPECT_EQ(role["rule"], "Msg007");
  EXPECT_EQ(role["code"], "007");
  EXPECT_EQ(role["level"], "warning");
  EXPECT_EQ(role["line"], 5);
  EXPECT_EQ(role["column"], 3);
  EXPECT_EQ(doc["files"][1]["messages"][0]["level"], "error");
}

TEST_F(CliFormatTest, FindingsPointAtTheElementThatHoldsWhatIsWrong) {
  const RunResult r = RunCli({"--schema", "tree.schema", "web/portal/loc.xml"});
  EXPECT_EQ(r.out,
            "web/portal/loc.xml:4:5: Msg 003: Key not found: R/Missing\n"
            "web/portal/loc.xml:6:5: Msg 004: File not found: Nope (" +
                folder_.path("web/WEB-INF/classes/Nope.properties") +
                ")\n"
                "web/portal/loc.xml:11:7: Msg 002: Auxiliary Attribute: \"Fax\" for \"User\" (T)\n");

  // The window still attaches the lines where it always did.
  corvane::PlainTree tree;
  corvane::PlainMessages messages;
  corvane::ScanState state(tree, messages);
  state.schema.SchemaClassList.add("User");
  for (const char* attribute : {"Given Name", "Fax"}) state.schema.SchemaAttributeList.add(attribute);
  state.schema.GetClassAttributes = [](const std::string&, corvane::StringList& attributes) {
    attributes.add("Given Name");
    return 0;
  };
  const corvane::CheckOutcome outcome = corvane::CheckFile(state, folder_.path("web/portal/loc.xml"));
  std::set<std::string> attachedTo;
  for (const corvane::Message& m : messages.lines()) attachedTo.insert(tree.label(m.item, outcome.document.get()));
  EXPECT_EQ(attachedTo, (std::set<std::string>{"resource-properties-file: R", "display-name-key: K", "attributes"}));
}

TEST_F(CliFormatTest, SarifIsValidAndStableWhenLinesMove) {
  const RunResult r = RunCli({"--format", "sarif", "pos.xml", "missing.xml"});
  EXPECT_EQ(r.status, kExitTrouble);
  EXPECT_EQ(SarifSchemaErrors(folder_, r.out), "");

  const json run = json::parse(r.out)["runs"][0];
  EXPECT_EQ(run["originalUriBaseIds"]["%SRCROOT%"]["uri"], "file://" + folder_.root().string() + "/");
  EXPECT_EQ(run["results"][0]["locations"][0]["physicalLocation"]["artifactLocation"],
            (json{{"uri", "pos.xml"}, {"uriBaseId", "%SRCROOT%"}}));
  // The file that could not be read is the tool's failure, not a finding.
  EXPECT_EQ(run["results"].size(), 3u);
  const json& invocation = run["invocations"][0];
  EXPECT_EQ(invocation["executionSuccessful"], false);
  EXPECT_EQ(invocation["toolExecutionNotifications"][0]["locations"][0]["physicalLocation"]["artifactLocation"]["uri"],
            "missing.xml");
  for (const json& rule : run["tool"]["driver"]["rules"]) {
    EXPECT_TRUE(rule["helpUri"].get<std::string>().ends_with("README.md#messages")) << rule["id"];
    EXPECT_GT(rule["help"]["text"].get<std::string>().size(),
              rule["fullDescription"]["text"].get<std::string>().size());
  }

  folder_.write("pos.xml", "<!-- one line\nmore -->" + kPositions);
  const json moved = json::parse(RunCli({"--format", "sarif", "pos.xml"}).out)["runs"][0]["results"];
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(moved[i]["partialFingerprints"], run["results"][i]["partialFingerprints"]);
    EXPECT_EQ(moved[i]["locations"][0]["physicalLocation"]["region"]["startLine"],
              run["results"][i]["locations"][0]["physicalLocation"]["region"]["startLine"].get<int>() + 1);
  }
  // Equal findings in one file stay apart.
  EXPECT_NE(moved[1]["partialFingerprints"], moved[2]["partialFingerprints"]);
}

TEST_F(CliFormatTest, ATreeWhoseSchemaCannotBeReadIsExplainedBeforeTheClientsError) {
  folder_.write("corvane-client/connections.ini", "[BROKEN]\nschema = missing.schema\nprimary = true\n");
  const ProcessResult r = RunProcess("XDG_CONFIG_HOME=" + Quoted(folder_.root().string()) + " " +
                                     Quoted(ProgramBeside("corvanexml-check")) + " pct.xml 2>&1 >/dev/null");
  EXPECT_EQ(r.status, kExitTrouble);
  const std::size_t words = r.output.find("warning: tree BROKEN: cannot read schema file " +
                                          folder_.path("corvane-client/missing.schema") + ": No such file");
  const std::size_t code = r.output.find("Error FFFFFC13: DSChangeCurrentTree");
  EXPECT_NE(words, std::string::npos) << r.output;
  EXPECT_LT(words, code) << r.output;
}

TEST_F(CliFormatTest, OutputWritesTheReportToAFileButNeverOverACheckedOne) {
  folder_.write("out/portal/a.xml", "<plugin><task><id>T</id><id>T</id></task></plugin>");
  folder_.write("report.json", "the previous report");
  const RunResult report = RunCli({"--output", "report.json", "--format=json", "out"});
  EXPECT_EQ(report.status, kExitMessages);
  EXPECT_EQ(report.out, "");
  EXPECT_NE(report.err.find("in 1 file"), std::string::npos) << report.err;
  EXPECT_EQ(json::parse(folder_.read("report.json"))["files"][0]["path"], "out/portal/a.xml");
  EXPECT_EQ(RunCli({"--output=report.txt", "out"}).out, "");
  EXPECT_EQ(folder_.read("report.txt"), "out/portal/a.xml:1:25: Msg 008: Duplicate ID: T\n");

  // A checked file, named or found by the walk, is refused before anything is written.
  for (const char* target : {"out/portal/a.xml", "./out/portal/../portal/a.xml"}) {
    const RunResult clash = RunCli({"--output", target, "out"});
    EXPECT_EQ(clash.status, kExitTrouble) << target;
    EXPECT_NE(clash.err.find("a file being checked"), std::string::npos) << clash.err;
  }
  EXPECT_EQ(folder_.read("out/portal/a.xml"), "<plugin><task><id>T</id><id>T</id></task></plugin>");
  const RunResult missing = RunCli({"--output", "missing/report.txt", "out"});
  EXPECT_EQ(missing.status, kExitTrouble);
  EXPECT_NE(missing.err.find("cannot write missing/report.txt"), std::string::npos) << missing.err;
  std::string error;
  EXPECT_FALSE(ParseOptions({"--output", "r.txt", "--write-baseline", "b.json", "out"}, error));
}
