// Servers that attack the client: each one must end the tree change with a warning that
// says why, within the time-out and in bounded memory, and never end the program.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "client_fixture.h"
#include "d_nw.h"
#include "d_util.h"
#include "hostile_ldap_server.h"

extern char** environ;

namespace corvane::client {
namespace {

namespace fs = std::filesystem;
using Mode = test::HostileServer::Mode;

struct Outcome {
  bool exited = false;  // false: ended by a signal, or killed for taking too long
  int status = -1;      // the exit status, or the signal
  long peakMb = 0;
  double seconds = 0;
  std::string errors;  // standard error
};

// The peak resident memory of a running process, in MB; 0 once it has ended.
long PeakMb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6) / 1024;
  return 0;
}

// Runs corvanexml-check beside this program as a separate process, since a signal would end
// this one; one that runs longer than limit is killed. Its peak memory is sampled while it
// runs: the rusage of a child counts the memory of the process it was forked from.
Outcome RunChecker(const std::vector<std::string>& args, const std::string& errorsFile, std::chrono::seconds limit) {
  const std::string program = (fs::path(ProgramFileName("")).parent_path() / "corvanexml-check").string();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  Outcome outcome;
  int started[2];
  if (pipe2(started, O_CLOEXEC) != 0) return outcome;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  close(started[1]);
  // The pipe closes when the program replaces the fork, whose memory is not the program's.
  char none;
  while (pid > 0 && read(started[0], &none, 1) < 0 && errno == EINTR) {
  }
  close(started[0]);
  if (pid < 0) return outcome;
  int status = 0;
  bool killed = false;
  for (;;) {
    outcome.peakMb = std::max(outcome.peakMb, PeakMb(pid));
    if (waitpid(pid, &status, WNOHANG) != 0) break;
    if (std::chrono::steady_clock::now() - start > limit) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      killed = true;
      break;
    }
    poll(nullptr, 0, 5);
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.exited = !killed && WIFEXITED(status);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  std::ifstream in(errorsFile);
  outcome.errors.assign(std::istreambuf_iterator<char>(in), {});
  return outcome;
}

class HostileServerTest : public test::ClientTest {
 protected:
  std::string section(const std::string& tree, const std::string& url, int timeout, const std::string& more = "") {
    return "[" + tree + "]\nurl = " + url + "\ntimeout = " + std::to_string(timeout) + "\n" + more;
  }
  // A private file of size bytes, sparse after its text.
  std::string writeLarge(const std::string& name, const std::string& text, off_t size) const {
    const std::string path = home_ + "/" + name;
    std::ofstream(path) << text;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    EXPECT_EQ(truncate(path.c_str(), size), 0);
    return path;
  }
};

TEST_F(HostileServerTest, TheCheckerOutlivesEachHostileServerWithAWarningAndExitStatus2) {
  const test::HostileServer flood(Mode::Flood);
  const test::HostileServer bigFlood(Mode::Flood, 4, 16 << 10);
  const test::HostileServer drip(Mode::Drip);
  const test::HostileServer wrongId(Mode::WrongMessageId);
  const test::HostileServer midAnswer(Mode::ClosesMidAnswer);
  const test::HostileServer garbage(Mode::Garbage);
  const test::HostileServer strange(Mode::StrangeMessage);
  const std::string password = writeLarge("huge.password", "", off_t{1} << 30);
  writeConnections(section("FLOOD", flood.url(), 2) + section("BIGFLOOD", bigFlood.url(), 2) +
                   section("DRIP", drip.url(), 1) + section("WRONGID", wrongId.url(), 1) +
                   section("MIDANSWER", midAnswer.url(), 1) + section("GARBAGE", garbage.url(), 1) +
                   section("STRANGE", strange.url(), 1) +
                   section("PASSWORD", flood.url(), 1, "bind-dn = cn=x\npassword-file = " + password + "\n"));
  const std::string plugin = home_ + "/plugin.xml";
  std::ofstream(plugin) << "<plugin><task><id>T</id><object-type-name>User</object-type-name></task></plugin>\n";
  const struct {
    const char* tree;
    std::string url, reason;
  } cases[] = {
      {"FLOOD", flood.url(),
       "reading cn=Subschema: the answer of " + flood.url() + " holds more than 1,000,000 values; connection closed"},
      {"BIGFLOOD", bigFlood.url(),
       "reading cn=Subschema: the answer of " + bigFlood.url() + " is larger than 64 MiB in all; connection closed"},
      {"DRIP", drip.url(), "no answer from " + drip.url() + " within 1 s while reading the root entry"},
      {"WRONGID", wrongId.url(), "no answer from " + wrongId.url() + " within 1 s while binding anonymously"},
      {"MIDANSWER", midAnswer.url(), "reading the root entry: connection to " + midAnswer.url() + " lost"},
      {"GARBAGE", garbage.url(), "anonymous bind: connection to " + garbage.url() + " lost"},
      // A message of no LDAP type is the server's fault, not a wait that ran out.
      {"STRANGE", strange.url(), "reading the root entry failed: Protocol error (LDAP result 2)"},
      {"PASSWORD", flood.url(), "cannot read the password file " + password + ": its first line is longer than 4 KiB"},
  };
  for (const auto& [tree, url, reason] : cases) {
    SCOPED_TRACE(tree);
    const Outcome run = RunChecker({"--tree", tree, plugin}, home_ + "/errors.txt", std::chrono::seconds(10));
    EXPECT_TRUE(run.exited) << "status or signal " << run.status << " after " << run.seconds << " s, " << run.peakMb
                            << " MB: " << run.errors;
    EXPECT_EQ(run.status, 2) << run.errors;
    EXPECT_NE(
        run.errors.find("warning: tree " + std::string(tree) + ": cannot read the schema from " + url + ": " + reason),
        std::string::npos)
        << run.errors;
    EXPECT_LT(run.peakMb, 300) << run.seconds << " s";
    EXPECT_LT(run.seconds, 5) << run.errors;
  }
}

// The client keeps a closed socket from ending whatever program it runs in, not only the
// two of this project, and stops reading a flood at its bound.
TEST_F(HostileServerTest, AClosedSocketDoesNotEndTheProcessThatUsesTheClient) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const test::HostileServer flood(Mode::Flood);
  const test::HostileServer wrongId(Mode::WrongMessageId);
  writeConnections(section("FLOOD", flood.url(), 2) + section("WRONGID", wrongId.url(), 1));
  const auto changeToEach = [] {
    ContextHandle ctx = 0;
    int code = ClientInit(0, 0) == 0 && CtxCreate(&ctx) == 0 ? 0 : 1;
    for (const char* tree : {"FLOOD", "WRONGID", "FLOOD"})
      if (corvane::DSChangeCurrentTree(ctx, tree) != kCodeSchemaUnavailable) code = 1;
    std::_Exit(code);
  };
  EXPECT_EXIT(changeToEach(), testing::ExitedWithCode(0), "holds more than 1,000,000 values");
}

}  // namespace
}  // namespace corvane::client
