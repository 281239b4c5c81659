#include "d_win.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "platform_hooks.h"

using namespace corvane;
namespace fs = std::filesystem;
using Words = std::vector<std::string>;

namespace {

// A fresh folder below the system's temporary folder, removed with everything in it.
struct TempFolder {
  std::string path = [] {
    std::string pattern = (fs::temp_directory_path() / "corvane-win-XXXXXX").string();
    return ::mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("mkdtemp failed");
  }();
  ~TempFolder() {
    std::error_code ignored;  // a destructor must not throw
    fs::remove_all(path, ignored);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Sets (or with nullopt unsets) an environment variable for one scope.
struct ScopedEnv {
  const char* name;
  std::optional<std::string> old;
  ScopedEnv(const char* n, std::optional<std::string> value) : name(n) {
    if (const char* v = std::getenv(n)) old = v;
    value ? ::setenv(n, value->c_str(), 1) : ::unsetenv(n);
  }
  ~ScopedEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
};

void WriteFile(const std::string& path, const std::string& text, bool executable = false) {
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

// The text of Path once it exists, polling with a deadline; nullopt when it never appears.
std::optional<std::string> WaitForFile(const std::string& path) {
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    if (!fs::exists(path)) continue;
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    fs::remove(path);
    return text.str();
  }
  return std::nullopt;
}

using Request = std::tuple<std::string, std::string, std::string>;

// File, parameters and folder that ShellRun hands to the hook instead of opening anything.
Request Requested(const std::string& line) {
  ShellRequest seen{"<none>", "", "", 0};
  SetShellOpenHook([&](const ShellRequest& r) {
    seen = r;
    return 33;
  });
  EXPECT_EQ(ShellRun(line, 7), 33);
  EXPECT_EQ(seen.showCmd, 7);
  SetShellOpenHook({});
  return {seen.file, seen.parameters, seen.folder};
}

}  // namespace

TEST(ShellRun, FindsTheLongestExistingFileWordByWord) {
  TempFolder temp;
  fs::create_directories(temp / "My Tools");
  fs::create_directories(temp / "tools");
  WriteFile(temp / "My Tools/run me", "", true);
  WriteFile(temp / "tools x", "");
  WriteFile(temp / "a b", "");

  EXPECT_EQ(Requested(temp / "My Tools/run me -x  --level 2"),
            Request(temp / "My Tools/run me", "-x  --level 2", temp / "My Tools/"));
  // A folder is not a file, so the search goes on past it.
  EXPECT_EQ(Requested(temp / "tools x -v"), Request(temp / "tools x", "-v", temp.path + "/"));
  // Two spaces give an empty word: the search stops, the text after them becomes parameters.
  EXPECT_EQ(Requested(temp / "a  b c"), Request(temp / "a", "b c", temp.path + "/"));
  EXPECT_EQ(Requested("https://www.example.org/plugins?x=1"), Request("https://www.example.org/plugins?x=1", "", ""));
  EXPECT_EQ(Requested(""), Request("", "", ""));
}

TEST(ShellRun, InternalCommandGoesToTheInterpreter) {
  {
    ScopedEnv comspec("comspec", "/usr/bin/cmd-like");
    EXPECT_EQ(Requested("VER"), Request("/usr/bin/cmd-like", "/C VER", "/usr/bin/"));
    EXPECT_EQ(Requested("ver"), Request("/usr/bin/cmd-like", "/C ver", "/usr/bin/"));
    EXPECT_EQ(Requested("dir  /w"), Request("/usr/bin/cmd-like", "/C dir  /w", "/usr/bin/"));
    // With an argument the candidate is the whole line, which names no command.
    EXPECT_EQ(Requested("dir /w"), Request("dir /w", "", "dir /"));
  }
  ScopedEnv comspec("comspec", std::nullopt);
  EXPECT_EQ(Requested("Ver"), Request("", "/C Ver", ""));
}

TEST(SplitShellWords, QuotesAndEscapesWithoutAnyExpansion) {
  EXPECT_EQ(SplitShellWords(" \t\n "), Words{});
  EXPECT_EQ(SplitShellWords("  a\t b  "), (Words{"a", "b"}));
  EXPECT_EQ(SplitShellWords("'a  b' x'y'\"z\" '' \"\""), (Words{"a  b", "xyz", "", ""}));
  EXPECT_EQ(SplitShellWords(R"(a\ b \' '\x' "a\"b\\c\d\$")"), (Words{"a b", "'", R"(\x)", R"(a"b\c\d$)"}));
  EXPECT_EQ(SplitShellWords("a\\\nb \"c\\\nd\" e\\"), (Words{"ab", "cd", "e\\"}));
  EXPECT_EQ(SplitShellWords("'open ended"), (Words{"open ended"}));
  EXPECT_EQ(SplitShellWords("$HOME ~/x * `id` $(id) a;b c|d \"$HOME\""),
            (Words{"$HOME", "~/x", "*", "`id`", "$(id)", "a;b", "c|d", "$HOME"}));
}

TEST(OpenWithDesktop, StartsProgramDetachedInItsFolderWithSplitParameters) {
  TempFolder temp;
  fs::create_directories(temp / "work dir");
  const std::string out = temp / "out";
  // Waits for a "go" file that the test creates only after the call returned: had the call
  // waited for the program, the program would report "no-go".
  WriteFile(temp / "record", R"(#!/bin/sh
i=0
while [ ! -e go ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done
{ [ -e go ] && echo go || echo no-go; pwd -P; readlink /proc/$$/fd/0
  for a in "$@"; do printf '[%s]\n' "$a"; done; } > "$OUT.part"
mv "$OUT.part" "$OUT"
)",
            true);
  ScopedEnv outEnv("OUT", out);  // the started program inherits the environment
  ASSERT_EQ(
      OpenWithDesktop({temp / "record", R"(-a "two words" 'it''s' back\ slash $HOME * "")", temp / "work dir", 1}), 42);
  errno = 0;  // the helper child was reaped: no zombie of ours is left
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  WriteFile(temp / "work dir/go", "");
  EXPECT_EQ(WaitForFile(out), "go\n" + fs::canonical(temp / "work dir").string() +
                                  "\n/dev/null\n[-a]\n[two words]\n[its]\n[back slash]\n[$HOME]\n[*]\n[]\n");
}

TEST(OpenWithDesktop, DocumentsAndAddressesGoToTheDefaultHandler) {
  TempFolder temp;
  fs::create_directories(temp / "bin");
  const std::string record = temp / "opened";
  WriteFile(temp / "bin/xdg-open", R"(#!/bin/sh
printf '%s:%s' "$#" "$1" > "$OUT.part" && /bin/mv "$OUT.part" "$OUT"
)",
            true);
  ScopedEnv outEnv("OUT", record);
  WriteFile(temp / "notes.txt", "not a program\n");
  {
    ScopedEnv path("PATH", temp / "bin");
    const fs::path before = fs::current_path();
    fs::current_path(temp.path);  // a relative document reaches the handler as a full path
    EXPECT_EQ(OpenWithDesktop({"notes.txt", "ignored words", "", 1}), 42);
    fs::current_path(before);
    EXPECT_EQ(WaitForFile(record), "1:" + (temp / "notes.txt"));
    EXPECT_EQ(OpenWithDesktop({"https://www.example.org/a b", "", "", 1}), 42);
    EXPECT_EQ(WaitForFile(record), "1:https://www.example.org/a b");
  }
  ScopedEnv path("PATH", temp / "nowhere");
  EXPECT_EQ(OpenWithDesktop({"mailto:someone@example.org", "", "", 1}), 31);
}

TEST(OpenWithDesktop, NothingToOpenIsFileNotFound) {
  TempFolder temp;
  EXPECT_EQ(OpenWithDesktop({temp / "missing", "", "", 1}), 2);
  EXPECT_EQ(OpenWithDesktop({temp.path, "", "", 1}), 2);
  EXPECT_EQ(OpenWithDesktop({"www.example.org", "", "", 1}), 2);
  EXPECT_EQ(ShellRun("", 1), 2);  // no hook: the real action, given an empty file
}

// A program still running when the watch ends is left running (the window repainting
// meanwhile); one that ends within it is reaped and its status given; one that cannot start
// is refused as StartProgram refuses it.
TEST(StartProgramWatched, ReportsOnlyAnEndWithinTheWatch) {
  using std::chrono::steady_clock;
  TempFolder temp;
  WriteFile(temp / "wait", R"(#!/bin/sh
i=0
while [ ! -e "$1" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done
echo ran > "$1.done"
)",
            true);
  WriteFile(temp / "fail", "#!/bin/sh\nexit 3\n", true);
  int repaints = 0;
  SetPendingEventsHook([&repaints] { ++repaints; });
  auto start = steady_clock::now();
  const StartWatch running =
      StartProgramWatched(temp / "wait", {temp / "wait", temp / "go"}, "", std::chrono::milliseconds(300));
  EXPECT_GE(steady_clock::now() - start, std::chrono::milliseconds(300));
  SetPendingEventsHook({});
  EXPECT_EQ(running.result, 42);
  EXPECT_FALSE(running.ended);
  EXPECT_GT(repaints, 0);
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  WriteFile(temp / "go", "");
  EXPECT_EQ(WaitForFile(temp / "go.done"), "ran\n");

  start = steady_clock::now();
  const StartWatch failed = StartProgramWatched(temp / "fail", {temp / "fail"}, "", std::chrono::seconds(20));
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(failed.result, 42);
  ASSERT_TRUE(failed.ended);
  EXPECT_TRUE(WIFEXITED(failed.waitStatus));
  EXPECT_EQ(WEXITSTATUS(failed.waitStatus), 3);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);

  const StartWatch missing = StartProgramWatched(temp / "missing", {temp / "missing"}, "", std::chrono::seconds(20));
  EXPECT_EQ(missing.result, 2);
  EXPECT_FALSE(missing.ended);
}
