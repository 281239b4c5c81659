// --jobs: files read and parsed ahead on other threads leave every byte of the output as it
// is when they are read one at a time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <regex>

#include "ahead_of_turn.h"
#include "cli_run.h"
#include "d_util.h"

using namespace corvane::cli;
using namespace cli_test;
namespace fs = std::filesystem;

namespace {

const char kModule[] = "app/portal/modules/M/";

const char kSchema[] =
    "attributetype ( 1.1.1 NAME 'CN' )\n"
    "attributetype ( 1.1.2 NAME 'Given Name' )\n"
    "attributetype ( 1.1.3 NAME 'Mail Quota' )\n"
    "objectclass ( 1.2.1 NAME 'Top' ABSTRACT MUST 'CN' )\n"
    "objectclass ( 1.2.2 NAME 'User' SUP 'Top' STRUCTURAL MAY 'Given Name' )\n"
    "objectclass ( 1.2.3 NAME 'Organizational Unit' SUP 'Top' STRUCTURAL )\n"
    "objectclass ( 1.2.4 NAME 'Mail Recipient' SUP 'Top' AUXILIARY MAY 'Mail Quota' )\n";

// Msg 001, 002, 006 and 009 (one fixable), from the schema's names.
const char kSchemaNames[] =
    "<plugin>\n"
    "  <task>\n"
    "    <id>T1</id>\n"
    "    <object-type-name>User</object-type-name>\n"
    "    <object-type-name>user</object-type-name>\n"
    "    <object-type-name>Userr</object-type-name>\n"
    "    <url-param><param-key>eDirSearch</param-key><param-value>Organizational Unit</param-value></url-param>\n"
    "    <attributes>\n"
    "      <attribute-name>Given Name</attribute-name>\n"
    "      <attribute-name>Mail Quota</attribute-name>\n"
    "      <attribute-name>Fax</attribute-name>\n"
    "    </attributes>\n"
    "  </task>\n"
    "</plugin>\n";

// Msg 003, 004, 007, 008 and 010.
const char kResources[] =
    "<plugin>\n"
    "  <book>\n"
    "    <id>B1</id>\n"
    "    <id>B1</id>\n"
    "    <role-assignment>Nobody</role-assignment>\n"
    "    <resource-properties-file>com.x.Res</resource-properties-file>\n"
    "    <display-name-key>Unknown</display-name-key>\n"
    "    <resource-properties-file>com.x.Gone</resource-properties-file>\n"
    "    <display-name-key>Known</display-name-key>\n"
    "    <merge-template>M.absent</merge-template>\n"
    "    <merge-template>M.view</merge-template>\n"
    "    <resource-properties-file>com.x.Res</resource-properties-file>\n"
    "  </book>\n"
    "</plugin>\n";

// A key left without its bundle: with --carry-over the next file's first bundle looks it up.
const char kCarried[] =
    "<dir-translator>\n"
    "  <display-name-key>Absent</display-name-key>\n"
    "</dir-translator>\n";

// Directives: one that silences, one left unused, one the checker cannot read.
const char kDirectives[] =
    "<!-- corvanexml-check disable=Msg999 -->\n"
    "<plugin>\n"
    "  <!-- corvanexml-check disable=Msg008 -->\n"
    "  <task><id>D</id><id>D</id></task>\n"
    "  <!-- corvanexml-check disable=Msg007 -->\n"
    "  <task><id>E</id><id>E</id></task>\n"
    "</plugin>\n";

class CliJobsTest : public testing::Test {
 protected:
  CliJobsTest() : folder_("corvane_cli_jobs"), here_(folder_.root()) {
    folder_.write("tree.schema", kSchema);
    folder_.write("app/WEB-INF/classes/com/x/Res.properties", "Known=1\nOther=2\n");
    folder_.write(std::string(kModule) + "skins/default/devices/default/view.jsp", "");
    // More files than the threads keep ahead, in an order that the names decide.
    for (int i = 0; i < 12; ++i) {
      const std::string n = std::to_string(10 + i);
      folder_.write(kModule + n + "a_names.xml", kSchemaNames);
      folder_.write(kModule + n + "b_carried.xml", kCarried);
      folder_.write(kModule + n + "c_resources.xml", kResources);
    }
    folder_.write(std::string(kModule) + "d_directives.xml", kDirectives);
    folder_.write(std::string(kModule) + "e_broken.xml", "<plugin>\n  <task>\n</plugin>\n");
    // Bytes that are no Shift_JIS: the XML library would say so on standard error itself.
    folder_.write(
        std::string(kModule) + "f_encoding.xml",
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<plugin><task><id>\x82\xff\x82</id></task></plugin>\n");
    folder_.write(std::string(kModule) + "g_empty.xml", "");
    folder_.write("stdin.xml", kResources);
  }

  // Runs the program in the folder, its standard input read from stdin.xml.
  RunResult run(const std::string& args) const { return RunProgramIn(folder_, args + " <stdin.xml"); }

  // Runs the arguments with one job and with several, and expects the same of both: status,
  // standard output and standard error (the GitHub format's stop token, which is new in
  // every run, aside). Returns the run with one job.
  RunResult expectSameForAnyJobs(const std::string& args) const {
    const RunResult one = run("--jobs 1 " + args);
    EXPECT_TRUE(one.status == kExitClean || one.status == kExitMessages || one.status == kExitTrouble) << one.err;
    for (const char* jobs : {"4", "2"}) {
      const RunResult many = run(std::string("--jobs ") + jobs + " " + args);
      EXPECT_EQ(many.status, one.status) << "--jobs " << jobs << " " << args;
      EXPECT_EQ(many.out, one.out) << "--jobs " << jobs << " " << args;
      EXPECT_EQ(WithoutToken(many.err), WithoutToken(one.err)) << "--jobs " << jobs << " " << args;
    }
    return one;
  }

  static std::string WithoutToken(const std::string& text) {
    static const std::regex kToken("[0-9a-f]{32}");
    return std::regex_replace(text, kToken, "TOKEN");
  }

  TempFolder folder_;
  InFolder here_;
};

}  // namespace

TEST_F(CliJobsTest, EveryFindingAndTroubleComesOutAsWithOneJob) {
  // A folder, an empty argument, a file that is not there, a file named twice and standard
  // input between them.
  const std::string inputs = "app '' missing.xml - " + std::string(kModule) + "10a_names.xml";
  const RunResult text = expectSameForAnyJobs("--schema tree.schema --report-unused-directives " + inputs);
  EXPECT_EQ(text.status, kExitTrouble);
  for (const char* code : {"Msg 001", "Msg 002", "Msg 003", "Msg 004", "Msg 006", "Msg 007", "Msg 008", "Msg 009",
                           "Msg 010", "Msg 100", "Unused directive"}) {
    EXPECT_NE(text.out.find(code), std::string::npos) << code << " missing from\n" << text.out;
  }
  EXPECT_NE(text.out.find("missing.xml:"), std::string::npos);
  EXPECT_NE(text.err.find("'': an empty argument names no file"), std::string::npos) << text.err;
  EXPECT_NE(text.err.find("d_directives.xml:1:1"), std::string::npos) << text.err;
  EXPECT_EQ(text.err.find("encoding error"), std::string::npos) << text.err;

  for (const char* format : {"list", "github", "json", "sarif"}) {
    expectSameForAnyJobs(std::string("--format ") + format + " --schema tree.schema " + inputs);
  }
  expectSameForAnyJobs("--show-tree --schema tree.schema " + inputs);
  expectSameForAnyJobs("--format list --show-tree --schema tree.schema app");
  expectSameForAnyJobs("--diff --schema tree.schema app");
}

TEST_F(CliJobsTest, CarriedStateAndBaselinesComeOutAsWithOneJob) {
  const RunResult fresh = expectSameForAnyJobs("--schema tree.schema app");
  const RunResult carried = expectSameForAnyJobs("--carry-over --schema tree.schema app");
  // The key each b_carried.xml leaves is looked up in the next file's bundle.
  EXPECT_EQ(fresh.out.find("com.x.Res/Absent"), std::string::npos) << fresh.out;
  EXPECT_NE(carried.out.find("11c_resources.xml:2:3: Msg 003: Key not found: com.x.Res/Absent"), std::string::npos)
      << carried.out;

  // A baseline written with one job and with several is the same file, and excuses the same.
  run("--jobs 1 --schema tree.schema --write-baseline one.baseline app");
  run("--jobs 3 --schema tree.schema --write-baseline three.baseline app");
  EXPECT_FALSE(folder_.read("one.baseline").empty());
  EXPECT_EQ(folder_.read("three.baseline"), folder_.read("one.baseline"));
  folder_.write(std::string(kModule) + "h_new.xml", kResources);
  const RunResult excused = expectSameForAnyJobs("--schema tree.schema --baseline one.baseline app");
  EXPECT_NE(excused.out.find("h_new.xml"), std::string::npos) << excused.out;
  EXPECT_EQ(excused.out.find("10c_resources.xml"), std::string::npos) << excused.out;
}

TEST_F(CliJobsTest, LargeFilesWalkedBesideTheirParseComeOutAsWithOneJob) {
  // The items of two plug-in files, repeated past a megabyte: with several jobs such a file
  // is walked on the main thread while another parses it.
  const auto items = [](const std::string& plugin) {
    const std::size_t begin = plugin.find('\n') + 1;
    return plugin.substr(begin, plugin.rfind("</plugin>") - begin);
  };
  std::string many;
  while (many.size() < (std::size_t{1} << 20)) many += items(kSchemaNames) + items(kResources);
  const std::string module = "large/portal/modules/M/";
  folder_.write(module + "a_large.xml", "<plugin>\n" + many + "</plugin>\n");
  folder_.write(module + "b_carried.xml", kCarried);
  // Broken at its end, after thousands of items were walked.
  folder_.write(module + "c_broken.xml", "<plugin>\n" + many + "<task>\n</plugin>\n");
  folder_.write(module + "d_carried.xml", kCarried);
  folder_.write(module + "e_resources.xml", kResources);
  const RunResult text = expectSameForAnyJobs("--carry-over --schema tree.schema large");
  EXPECT_NE(text.out.find("c_broken.xml:"), std::string::npos) << text.out.substr(0, 2000);
  expectSameForAnyJobs("--format json --schema tree.schema large");
}

TEST_F(CliJobsTest, FixesAreTheSameWithSeveralJobs) {
  folder_.write("fixed/portal/modules/M/a.xml", kSchemaNames);
  // The same file twice: the second check reads what the first fixed.
  const std::string args = "--schema tree.schema --fix fixed fixed/portal/modules/M/a.xml";
  const RunResult one = run("--jobs 1 " + args);
  const std::string fixedOnce = folder_.read("fixed/portal/modules/M/a.xml");
  folder_.write("fixed/portal/modules/M/a.xml", kSchemaNames);
  const RunResult many = run("--jobs 4 " + args);
  EXPECT_EQ(many.status, one.status);
  EXPECT_EQ(many.out, one.out);
  EXPECT_EQ(many.err, one.err);
  EXPECT_EQ(folder_.read("fixed/portal/modules/M/a.xml"), fixedOnce);
  EXPECT_NE(fixedOnce, kSchemaNames);
}

TEST(CliJobsOptionTest, JobsIsAPositiveWholeNumber) {
  std::string error;
  const auto three = ParseOptions({"--jobs", "3", "a.xml"}, error);
  ASSERT_TRUE(three) << error;
  EXPECT_EQ(JobCount(*three), 3U);
  const auto byDefault = ParseOptions({"a.xml"}, error);
  ASSERT_TRUE(byDefault) << error;
  EXPECT_GE(JobCount(*byDefault), 1U);
  EXPECT_TRUE(ParseOptions({"--jobs=1", "a.xml"}, error)) << error;

  for (const char* bad : {"0", "x", "-1", "", "2x", " 2", "+2", "99999999999999999999"}) {
    error.clear();
    EXPECT_FALSE(ParseOptions({"--jobs", bad, "a.xml"}, error)) << bad;
    EXPECT_EQ(error, std::string("--jobs takes a positive whole number of files to read at once, not '") + bad + "'");
  }
  const RunResult missing = RunCli({"a.xml", "--jobs"});
  EXPECT_EQ(missing.status, kExitTrouble);
  EXPECT_EQ(missing.err, "option --jobs needs a value");
}

// The caller takes results in order while it and the threads run the tasks: each task runs
// once, before its turn ends, on a thread numbered from 0 (the caller's) to the workers'
// count, one task at a time on each, and results not taken stay within the budget (one
// result past it, and those under way, at most).
TEST(AheadOfTurnTest, EachTaskRunsOnceBeforeItsTurnAndResultsStayWithinTheBudget) {
  constexpr std::size_t kTasks = 2000;
  constexpr std::size_t kHeld = 10;
  for (const unsigned workers : {0U, 1U, 3U}) {
    SCOPED_TRACE(workers);
    std::vector<std::atomic<int>> runs(kTasks);
    std::atomic<std::size_t> taken{0};
    std::atomic<std::size_t> mostAhead{0};
    std::vector<std::atomic<bool>> busy(workers + 1);
    std::atomic<bool> threadsApart{true};
    {
      corvane::cli::AheadOfTurn ahead(kTasks, workers, 2, 5 * kHeld, [&](std::size_t i, unsigned thread) {
        if (thread > workers || busy[thread].exchange(true)) {
          threadsApart = false;
          return kHeld;
        }
        runs[i].fetch_add(1);
        const std::size_t past = i - std::min(i, taken.load());
        std::size_t most = mostAhead.load();
        while (past > most && !mostAhead.compare_exchange_weak(most, past)) {
        }
        busy[thread] = false;
        return kHeld;
      });
      for (std::size_t i = 0; i < kTasks; ++i) {
        ahead.wait(i);
        ASSERT_EQ(runs[i].load(), 1) << i;
        taken = i + 1;
      }
    }
    for (std::size_t i = 0; i < kTasks; ++i) EXPECT_EQ(runs[i].load(), 1) << i;
    EXPECT_TRUE(threadsApart);
    EXPECT_LE(mostAhead.load(), 5 + 1 + workers + 2);
  }
}
