// The command line against a repository written by a stranger: links out of a walked
// folder, special files, standard input that cannot be read, and a baseline path that is
// itself a checked file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli_run.h"
#include "d_util.h"
#include "plain_sinks.h"
#include "scan.h"

using namespace corvane::cli;
using namespace cli_test;
namespace fs = std::filesystem;

namespace {

const char kDuplicate[] = "<plugin><task><id>T</id><id>T</id></task></plugin>";
const char kToken[] = "tok-31337";
const char kModule[] = "tree/portal/modules/M/";

class CliWalkTest : public testing::Test {
 protected:
  CliWalkTest() : folder_("corvane_cli_walk"), here_(folder_.root()) {
    folder_.write(std::string(kModule) + "a.xml", kDuplicate);
    folder_.write("outside/secret.xml", "TOKEN=fake-secret-4711");
    folder_.write("outside/folder/c.xml", kDuplicate);
    ::mkfifo(folder_.path("outside/pipe.xml").c_str(), 0600);
  }
  void link(const std::string& target, const std::string& name) const {
    fs::create_symlink(target, folder_.path(kModule + name));
  }

  // Runs the program as a CI job would, bounded in time: a run that blocks ends with 124
  // and fails the test instead of hanging it.
  RunResult run(const std::string& args) const {
    return RunProgramIn(folder_, args, std::string("CORVANE_WALK_TOKEN=") + kToken, "timeout 20");
  }

  TempFolder folder_;
  InFolder here_;
};

}  // namespace

TEST_F(CliWalkTest, LinksOutOfTheWalkedFolderAreNamedAndNotFollowed) {
  link("/proc/self/environ", "env.xml");
  link(folder_.path("outside/secret.xml"), "secret.xml");
  link("../../../../outside/secret.xml", "relative.xml");
  link(folder_.path("outside/folder"), "out");
  link(folder_.path("outside/pipe.xml"), "pipe.xml");
  // Inside the tree links work, and neither loops nor a way back up make the walk go round.
  link("a.xml", "inside.xml");
  link("../M", "again");
  link("loop2.xml", "loop1.xml");
  link("loop1.xml", "loop2.xml");
  ::mkfifo(folder_.path(std::string(kModule) + "fifo.xml").c_str(), 0600);

  const RunResult r = run("--format github tree");
  ASSERT_NE(r.status, 124) << "the run blocked";
  EXPECT_EQ(r.status, kExitMessages) << r.err;
  // Neither the environment nor the secret, only the file inside and the link to it.
  EXPECT_EQ(r.out,
            "::warning file=tree/portal/modules/M/a.xml,line=1,col=25,title=Msg 008::Duplicate ID: T\n"
            "::warning file=tree/portal/modules/M/inside.xml,line=1,col=25,title=Msg 008::Duplicate ID: T\n");
  // Each link out is named, in path order; the links inside are not.
  std::string named;
  for (std::size_t i = r.err.find(kModule); i != std::string::npos; i = r.err.find(kModule, i + 1)) {
    named += r.err.substr(i, r.err.find('\n', i) - i) + "\n";
  }
  std::string outside;
  for (const char* name : {"env.xml", "out", "pipe.xml", "relative.xml", "secret.xml"}) {
    outside += std::string(kModule) + name + ": not followed: the link leads outside tree\n";
  }
  EXPECT_EQ(named, outside) << r.err;
}

TEST_F(CliWalkTest, ANamedFileIsCheckedThroughAnyLinkButNeverAsASpecialFile) {
  folder_.write("outside/dup.xml", kDuplicate);
  link(folder_.path("outside/dup.xml"), "named.xml");
  EXPECT_EQ(RunCli({"--format=list", std::string(kModule) + "named.xml"}).out, "Msg 008: Duplicate ID: T\n");

  link("/proc/self/environ", "env.xml");
  const RunResult r = run(std::string(kModule) + "env.xml outside/pipe.xml /dev/zero " + kModule + "a.xml");
  ASSERT_NE(r.status, 124) << "the run blocked";
  EXPECT_EQ(r.status, kExitTrouble);
  const std::string here = folder_.root().string() + "/";
  EXPECT_EQ(r.out, std::string(kModule) + "env.xml: Msg 100: XML Error: \"Cannot open " + here + kModule + "env.xml: " +
                       corvane::kSystemFileReason + "\"\n" + "outside/pipe.xml: Msg 100: XML Error: \"Cannot open " +
                       here + "outside/pipe.xml: not a regular file\"\n" +
                       "/dev/zero: Msg 100: XML Error: \"Cannot open /dev/zero: not a regular file\"\n" + kModule +
                       "a.xml:1:25: Msg 008: Duplicate ID: T\n");
}

TEST_F(CliWalkTest, StandardInputThatCannotBeReadIsOneFailedInput) {
  const RunResult r = run(std::string("--format sarif - ") + kModule + "a.xml < /");
  EXPECT_EQ(r.status, kExitTrouble);
  EXPECT_NE(r.err.find("corvanexml-check: cannot read standard input: Is a directory\n"), std::string::npos) << r.err;
  const nlohmann::json log = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(log.is_discarded()) << r.out;
  const nlohmann::json& sarif = log["runs"][0];
  ASSERT_EQ(sarif["results"].size(), 1u);
  EXPECT_EQ(sarif["results"][0]["ruleId"], "Msg008");
  const nlohmann::json& invocation = sarif["invocations"][0];
  EXPECT_EQ(invocation["executionSuccessful"], false);
  EXPECT_EQ(invocation["toolExecutionNotifications"][0]["message"]["text"],
            "cannot read standard input: Is a directory");
}

TEST_F(CliWalkTest, ABaselineIsNeverWrittenOverACheckedFile) {
  const std::string a = std::string(kModule) + "a.xml";
  folder_.write("P.xml", kDuplicate);
  fs::create_hard_link(folder_.path(a), folder_.path("alias.xml"));
  const std::vector<std::vector<std::string>> refused = {
      {"--write-baseline", "P.xml", "P.xml"},
      {"--write-baseline", "outside/../P.xml", "./P.xml"},
      {"--write-baseline", a, "tree"},
      {"--write-baseline", "alias.xml", "tree"},
      {"--write-baseline", "new.xml", "new.xml"},
      {"--stdin-filename", "P.xml", "--write-baseline", "P.xml", "-"},
  };
  for (const std::vector<std::string>& args : refused) {
    SCOPED_TRACE(args[1] + " " + args.back());
    const RunResult r = RunCli(args, kDuplicate);
    EXPECT_EQ(r.status, kExitTrouble);
    EXPECT_NE(r.err.find("the baseline would overwrite it"), std::string::npos) << r.err;
  }
  EXPECT_EQ(folder_.read("P.xml"), kDuplicate);
  EXPECT_EQ(folder_.read(a), kDuplicate);
  EXPECT_FALSE(fs::exists(folder_.path("new.xml")));

  // Beside the checked files, where the walk takes no file, it is written.
  EXPECT_EQ(RunCli({"--write-baseline", "tree/baseline.json", "tree"}).status, kExitClean);
  EXPECT_TRUE(fs::exists(folder_.path("tree/baseline.json")));
}

TEST_F(CliWalkTest, AWalkedFileReplacedByALinkBeforeItIsReadIsRefused) {
  const ExpandedInputs expanded = ExpandInputs({"tree"}, {});
  ASSERT_EQ(expanded.files.size(), 1u);
  ASSERT_TRUE(expanded.files[0].walked);
  const std::string a = folder_.path(std::string(kModule) + "a.xml");
  fs::remove(a);
  fs::create_symlink(folder_.path("outside/secret.xml"), a);

  corvane::PlainTree tree;
  corvane::PlainMessages messages;
  corvane::ScanState state(tree, messages);
  const corvane::CheckOutcome outcome = corvane::CheckFile(state, a, *expanded.files[0].walked);
  ASSERT_TRUE(outcome.loadError);
  EXPECT_TRUE(outcome.loadError->unreadable);
  EXPECT_EQ(outcome.loadError->message, "Cannot open " + a + ": no longer the file that was found there");
}

// A folder of the walk moved away and replaced by a link to another one: the file read is the
// one found, in the folder found, never its namesake where the link leads.
TEST_F(CliWalkTest, AWalkedFolderReplacedByALinkIsNotFollowed) {
  const ExpandedInputs expanded = ExpandInputs({"tree"}, {});
  ASSERT_EQ(expanded.files.size(), 1u);
  folder_.write("outside/M/a.xml", "<plugin><task><id>TOKEN=fake-secret-4711</id></task></plugin>");
  const std::string module = folder_.path("tree/portal/modules/M");
  fs::rename(module, module + "-moved");
  fs::create_symlink(folder_.path("outside/M"), module);

  corvane::PlainTree tree;
  corvane::PlainMessages messages;
  corvane::ScanState state(tree, messages);
  const std::string a = folder_.path(std::string(kModule) + "a.xml");
  const corvane::CheckOutcome outcome = corvane::CheckFile(state, a, *expanded.files[0].walked);
  ASSERT_FALSE(outcome.loadError) << outcome.loadError->message;
  const std::vector<corvane::Message> lines = messages.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].text, "Msg 008: Duplicate ID: T");
}

// Each folder of a walk is held open while it has files to check, up to a bound; beyond it
// the walk vets files by their identity, and every file is checked all the same.
TEST_F(CliWalkTest, AWalkOfManyFoldersChecksEveryFile) {
  constexpr int kFolders = 300;
  for (int i = 0; i < kFolders; ++i) folder_.write("many/f" + std::to_string(i) + "/a.xml", kDuplicate);
  for (const char* jobs : {"1", "2"}) {
    const RunResult r = RunCli({"--jobs", jobs, "--format=list", "many"});
    EXPECT_EQ(r.status, kExitMessages) << r.err;
    EXPECT_EQ(r.err, "300 findings in 300 files\n");
  }
  // Folders held open leave room for the files to be opened, also where a process may open
  // few files.
  const RunResult limited = RunProgramIn(folder_, "--jobs 2 --format=list many", "ulimit -n 48 &&");
  EXPECT_EQ(limited.status, kExitMessages) << limited.err;
  EXPECT_EQ(limited.err, "300 findings in 300 files\n");
  const ExpandedInputs expanded = ExpandInputs({"many"}, {});
  ASSERT_EQ(expanded.files.size(), static_cast<std::size_t>(kFolders));
  const auto held = std::count_if(expanded.files.begin(), expanded.files.end(),
                                  [](const InputFile& file) { return file.walked && file.walked->folder != nullptr; });
  EXPECT_GT(held, 0);
  EXPECT_LT(held, kFolders);
}

TEST_F(CliWalkTest, HiddenAndCacheFoldersAreNotWalkedUnlessNamed) {
  folder_.write("tree/.git/hooks/h.xml", kDuplicate);
  folder_.write("tree/build/CACHEDIR.TAG", "Signature: 8a477f597d28d172789f06886806bc55\n# a cache\n");
  folder_.write("tree/build/b.xml", kDuplicate);
  folder_.write("tree/notes/CACHEDIR.TAG", "not the signature\n");
  folder_.write("tree/notes/n.xml", kDuplicate);
  folder_.write("tree/.hidden.xml", kDuplicate);
  EXPECT_EQ(RunCli({"--format=list", "tree"}).out,
            "tree/.hidden.xml:\nMsg 008: Duplicate ID: T\n"
            "tree/notes/n.xml:\nMsg 008: Duplicate ID: T\n"
            "tree/portal/modules/M/a.xml:\nMsg 008: Duplicate ID: T\n");
  EXPECT_EQ(RunCli({"--format=list", "tree/.git", "tree/build"}).out,
            "tree/.git/hooks/h.xml:\nMsg 008: Duplicate ID: T\ntree/build/b.xml:\nMsg 008: Duplicate ID: T\n");
}

TEST_F(CliWalkTest, ARunThatFindsNoFileToCheckIsAUsageError) {
  fs::create_directory(folder_.path("empty"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--exclude", "*.xml", "tree"}, std::vector<std::string>{"empty"}}) {
    const RunResult r = RunCli(args);
    EXPECT_EQ(r.status, kExitTrouble) << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no file to check"), std::string::npos) << r.err;
  }
}
