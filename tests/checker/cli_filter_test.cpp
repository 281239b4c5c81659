// Which files and findings the command line reports: options, inline directives,
// baselines, standard input and excluded files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "file_read.h"

using namespace corvane::cli;
using namespace cli_test;
using nlohmann::json;

namespace {

class CliFilterTest : public testing::Test {
 protected:
  CliFilterTest() : folder_("corvane_cli_filter"), here_(folder_.root()) {}

  TempFolder folder_;
  InFolder here_;
};

// The paths a JSON report names, in order.
std::vector<std::string> ReportedPaths(const std::string& report) {
  const json document = json::parse(report);
  std::vector<std::string> paths;
  for (const json& file : document["files"]) paths.push_back(file["path"]);
  return paths;
}

const char kDuplicate[] = "<plugin><task><id>T</id><id>T</id></task></plugin>";

}  // namespace

TEST(CliOptionsTest, ValuesTakeBothFormsAndConflictsAreRefused) {
  std::string error;
  const auto options =
      ParseOptions({"--format=github", "--ignore=Msg004", "--ignore", " 003, msg008", "--exclude=web.xml",
                    "--baseline=b.json", "--exit-zero", "-q", "-", "--stdin-filename=x/portal/a.xml"},
                   error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->format, OutputFormat::Github);
  EXPECT_EQ(options->ignored, CodeSet().set(3).set(4).set(8));
  EXPECT_EQ(options->excludes, std::vector<std::string>{"web.xml"});
  EXPECT_EQ(options->baseline, "b.json");
  EXPECT_TRUE(options->exitZero && options->quiet);
  EXPECT_EQ(options->stdinFileName, "x/portal/a.xml");
  EXPECT_EQ(options->inputs, std::vector<std::string>{"-"});
  EXPECT_TRUE(ParseOptions({"--version"}, error));

  const std::vector<std::vector<std::string>> refused = {
      {"--ignore", "005", "a.xml"},
      {"--ignore=Msg", "a.xml"},
      {"--quiet=yes", "a.xml"},
      {"--format=", "a.xml"},
      {"--stdin-filename", "a.xml", "a.xml"},
      {"-", "-"},
      {"--show-tree", "--format", "json", "a.xml"},
      {"--baseline", "a", "--write-baseline", "b", "a.xml"},
      {"a.xml", "--exclude"},
  };
  for (const auto& args : refused) EXPECT_FALSE(ParseOptions(args, error)) << args[0] << " " << args[1];
}

TEST_F(CliFilterTest, DirectivesSilenceTheElementAfterThemOrTheWholeFile) {
  folder_.write("s.xml",
                "<!-- corvanexml-check disable=Msg009 -->\n"
                "<plugin>\n"
                "  <task><id>A</id>\n"
                "    <role-assignment>X</role-assignment>\n"
                "  </task>\n"
                "  <!-- corvanexml-check disable=Msg007, 008 -->\n"
                "  <task><id>A</id>\n"
                "    <role-assignment>Y</role-assignment>\n"
                "  </task>\n"
                "  <task>\n"
                "    <id>B</id>\n"
                "    <!-- corvanexml-check disable -->\n"
                "    <id>B</id>\n"
                "    <id>B</id>\n"
                "\t<!--\r\n corvanexml-check disable=Msg001 -->\n"
                "    <role-assignment>Z</role-assignment>\n"
                "  </task>\n"
                "</plugin>\n");
  const RunResult all = RunCli({"--report-unused-directives", "s.xml"});
  EXPECT_EQ(all.out,
            "s.xml:1:1: Unused directive: corvanexml-check disable=Msg009\n"
            "s.xml:4:5: Msg 007: Unknown Role ID: X\n"
            "s.xml:14:5: Msg 008: Duplicate ID: B\n"
            "s.xml:15:2: Unused directive: corvanexml-check disable=Msg001\n"
            "s.xml:17:5: Msg 007: Unknown Role ID: Z\n");
  EXPECT_EQ(RunCli({"--ignore", "Msg007", "s.xml"}).out, "s.xml:14:5: Msg 008: Duplicate ID: B\n");

  // Before the document element a directive covers the file; one the checker cannot read is
  // said where it stands and silences nothing.
  folder_.write("file.xml", std::string("<?xml version=\"1.0\"?>\n<!-- corvanexml-check disable -->\n") + kDuplicate);
  EXPECT_EQ(RunCli({"file.xml"}).status, kExitClean);
  folder_.write("typo.xml", std::string("<!-- corvanexml-check disable=Msg005 -->") + kDuplicate);
  const RunResult typo = RunCli({"typo.xml"});
  EXPECT_EQ(typo.out, "typo.xml:1:65: Msg 008: Duplicate ID: T\n");
  EXPECT_NE(typo.err.find("typo.xml:1:1: unknown message code 'Msg005'"), std::string::npos) << typo.err;
}

TEST_F(CliFilterTest, DirectivesWithNoElementAfterThemSilenceNothingAndAreReported) {
  // After the last child and after the document element no element follows: such a
  // directive covers nothing, not the file.
  folder_.write("after.xml",
                "<plugin><task><id>T</id><id>T</id>\n"
                "<!-- corvanexml-check disable=Msg008 --></task>\n"
                "<!-- corvanexml-check disable -->\n"
                "</plugin>\n"
                "<!-- corvanexml-check disable -->\n"
                "<!-- corvanexml-check enable -->\n");
  const RunResult after = RunCli({"--report-unused-directives", "after.xml"});
  EXPECT_EQ(after.out,
            "after.xml:1:25: Msg 008: Duplicate ID: T\n"
            "after.xml:2:1: Unused directive: corvanexml-check disable=Msg008\n"
            "after.xml:3:1: Unused directive: corvanexml-check disable\n"
            "after.xml:5:1: Unused directive: corvanexml-check disable\n");
  EXPECT_NE(after.err.find("after.xml:6:1: expected \"disable\" or"), std::string::npos) << after.err;
  // Its rule id is ignored like a code.
  const RunResult ignored = RunCli({"--report-unused-directives", "--ignore", "008,UnusedDirective", "after.xml"});
  EXPECT_EQ(ignored.status, kExitClean) << ignored.err;
  EXPECT_EQ(ignored.out, "");
}

TEST_F(CliFilterTest, ACheckThatStoppedHalfWayIsNeitherSilencedIgnoredNorExcused) {
  // A bundle that exists by stat but whose every read fails stops the walk in the first task.
  std::filesystem::create_directories(folder_.path("web/WEB-INF/classes"));
  const std::string bundle = folder_.path("web/WEB-INF/classes/Bad.properties");
  std::filesystem::create_symlink("/proc/self/mem", bundle);
  std::string reason;
  if (corvane::ReadRegularFile(bundle, reason)) GTEST_SKIP() << "/proc/self/mem is readable here";
  const std::string plugin =
      "<plugin>\n"
      "  <task><id>A</id><id>A</id>\n"
      "    <resource-properties-file>Bad</resource-properties-file>\n"
      "    <display-name-key>k</display-name-key></task>\n"
      "  <task><id>A</id></task>\n"
      "</plugin>\n";
  folder_.write("web/portal/p.xml", "<!-- corvanexml-check disable -->\n" + plugin);
  const std::string stopped = "Msg 100: XML Error: \"Cannot read " + bundle + ": " + reason + "\"";

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"web/portal/p.xml"}, {"--ignore", "Msg100", "--exit-zero", "web/portal/p.xml"}}) {
    const RunResult r = RunCli(args);
    EXPECT_EQ(r.status, kExitTrouble) << args[0];
    EXPECT_EQ(r.out, "web/portal/p.xml: " + stopped + "\n") << args[0];
  }
  // Recorded by hand, the line still does not excuse it.
  const json baseline{{"version", 1},
                      {"findings", {{{"path", "web/portal/p.xml"}, {"rule", "Msg100"}, {"text", stopped}}}}};
  folder_.write("baseline.json", baseline.dump());
  const RunResult excused = RunCli({"--baseline", "baseline.json", "web/portal/p.xml"});
  EXPECT_EQ(excused.status, kExitTrouble);
  EXPECT_EQ(excused.out, "web/portal/p.xml: " + stopped + "\n");
  // A baseline records the findings before the stop, not the stop.
  folder_.write("web/portal/q.xml", plugin);
  EXPECT_EQ(RunCli({"--write-baseline", "written.json", "web/portal/q.xml"}).status, kExitTrouble);
  const json written = json::parse(folder_.read("written.json"))["findings"];
  ASSERT_EQ(written.size(), 1u) << written;
  EXPECT_EQ(written[0]["rule"], "Msg008");
}

TEST_F(CliFilterTest, ABaselineKeepsKnownFindingsQuietAfterLinesMove) {
  folder_.write("web/portal/b.xml", "<plugin><task><id>T</id><id>T</id><id>T</id></task></plugin>");
  std::filesystem::create_directory(folder_.path("base"));
  const RunResult written = RunCli({"--write-baseline", "base/baseline.json", "web/portal/b.xml"});
  EXPECT_EQ(written.status, kExitClean);
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(written.err, "baseline base/baseline.json: 2 findings in 1 file\n");
  const json recorded = json::parse(folder_.read("base/baseline.json"))["findings"];
  ASSERT_EQ(recorded.size(), 2u);
  EXPECT_EQ(recorded[0],
            (json{{"path", "../web/portal/b.xml"}, {"rule", "Msg008"}, {"text", "Msg 008: Duplicate ID: T"}}));

  folder_.write("web/portal/b.xml", "\n\n<plugin>\n<task><id>T</id>\n<id>T</id>\n<id>T</id></task></plugin>");
  const RunResult moved = RunCli({"--baseline", "base/baseline.json", "web/portal/b.xml"});
  EXPECT_EQ(moved.status, kExitClean);
  EXPECT_EQ(moved.out, "");

  // Each recorded finding excuses one: a third equal one is new. The paths are the same
  // from wherever the files are named.
  folder_.write("web/portal/b.xml", "<plugin>\n<task><id>T</id>\n<id>T</id>\n<id>T</id>\n<id>T</id></task></plugin>");
  const RunResult more = RunCli({"--baseline", folder_.path("base/baseline.json"), folder_.path("web")});
  EXPECT_EQ(more.status, kExitMessages);
  EXPECT_EQ(more.out, folder_.path("web") + "/portal/b.xml:5:1: Msg 008: Duplicate ID: T\n");

  folder_.write("base/bad.json", "[]");
  const RunResult bad = RunCli({"--baseline", "base/bad.json", "web/portal/b.xml"});
  EXPECT_EQ(bad.status, kExitTrouble);
  EXPECT_NE(bad.err.find("base/bad.json is no baseline"), std::string::npos) << bad.err;
}

TEST_F(CliFilterTest, StandardInputIsCheckedWhereStdinFilenameSaysItLives) {
  folder_.write("web/WEB-INF/classes/R.properties", "K=v\n");
  const std::string unsaved =
      "<plugin><task><id>T</id><resource-properties-file>R</resource-properties-file>\n"
      "<display-name-key>Missing</display-name-key><id>T</id></task></plugin>";
  const RunResult named = RunCli({"--stdin-filename", "web/portal/modules/M/new.xml", "-"}, unsaved);
  EXPECT_EQ(named.out,
            "web/portal/modules/M/new.xml:2:1: Msg 003: Key not found: R/Missing\n"
            "web/portal/modules/M/new.xml:2:45: Msg 008: Duplicate ID: T\n");
  // Without a name there is no web application to look keys up in.
  EXPECT_EQ(RunCli({"-"}, unsaved).out, "<stdin>:2:45: Msg 008: Duplicate ID: T\n");
  EXPECT_EQ(RunCli({"-"}, "<plugin>").status, kExitMessages);
}

TEST_F(CliFilterTest, ExcludedFilesAndFoldersAreLeftOutOfTheWalk) {
  for (const char* file : {"web/WEB-INF/web.xml", "web/WEB-INF/lib/x.xml", "web/log4j.xml", "web/portal/a.xml",
                           "web/portal/old/b.xml", "web/portal/sub/log4j.xml", "web/portal/sub/c.xml"}) {
    folder_.write(file, kDuplicate);
  }
  EXPECT_EQ(ReportedPaths(RunCli({"--format=json", "--exclude", "log4j.xml", "--exclude=WEB-INF", "--exclude",
                                  "portal/o*", "web"})
                              .out),
            (std::vector<std::string>{"web/portal/a.xml", "web/portal/sub/c.xml"}));
  // A pattern matches the path below the folder named, "*" across folders too.
  EXPECT_EQ(
      ReportedPaths(RunCli({"--format=json", "--exclude", "*/log4j.xml", "--exclude", "WEB-INF/*", "web"}).out),
      (std::vector<std::string>{"web/log4j.xml", "web/portal/a.xml", "web/portal/old/b.xml", "web/portal/sub/c.xml"}));
  // Files named on the command line are always checked.
  EXPECT_EQ(ReportedPaths(RunCli({"--format=json", "--exclude", "*", "web/log4j.xml"}).out),
            std::vector<std::string>{"web/log4j.xml"});
}
