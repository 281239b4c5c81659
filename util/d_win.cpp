#include "d_win.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "d_util.h"
#include "platform_hooks.h"

namespace corvane {

namespace {

// Results of the open action, in the numbering callers already know from the desktop shell.
constexpr std::int32_t kOutOfResources = 0;
constexpr std::int32_t kFileNotFound = 2;
constexpr std::int32_t kPathNotFound = 3;
constexpr std::int32_t kAccessDenied = 5;
constexpr std::int32_t kBadFormat = 11;
constexpr std::int32_t kNoAssociation = 31;
constexpr std::int32_t kAccepted = 42;

// The interpreter's built-in commands exist as no file, so the word search never finds them.
const std::vector<std::string> kInternalCommands = {"CD",  "COPY", "DEL", "DIR", "ECHO",     "MD",   "PATH", "PROMPT",
                                                    "REM", "REN",  "RD",  "SET", "TRUENAME", "TYPE", "VER"};

// The program has one user-interface thread; the hook is set at start and read there.
ShellOpenHook shellOpenHook;

// A folder is not something the open action can start, so it does not end the word search.
bool IsExistingFile(const std::string& name) {
  struct stat info {};
  return !name.empty() && ::stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// "scheme:" as addresses begin (letter, then letters, digits, "+", "-", "."). One letter is
// not enough: "C:" is a drive from a path written elsewhere, not an address.
bool HasUrlScheme(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isAlpha(text[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!isAlpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

// An address has no folder: its "/" separate the parts of a path on some server.
std::string FolderOf(const std::string& file, bool isAddress) {
  if (isAddress) return {};
  const std::size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Inside double quotes a backslash escapes only these; before anything else it is kept.
bool EscapableInDoubleQuotes(char c) { return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n'; }

// The started program's working folder is the request's folder, so a relative name must be
// resolved against the folder the caller looked it up in.
std::string AbsolutePath(const std::string& name) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(name, error);
  return error ? name : path.string();
}

// What the processes of a start report back through the pipe: the program's child when it
// cannot become the program, the watcher when the program ended while watched (error then
// holds the wait status).
enum class StartStage : int { fork, folder, input, exec, ended };
struct StartFailure {
  StartStage stage;
  int error;
};

void Report(int pipeFd, StartStage stage, int error) {
  const StartFailure failure{stage, error};
  [[maybe_unused]] const ssize_t written = ::write(pipeFd, &failure, sizeof failure);
}

[[noreturn]] void ReportAndExit(int pipeFd, StartStage stage, int error) {
  Report(pipeFd, stage, error);
  ::_exit(127);
}

std::int32_t ResultOf(const StartFailure& failure) {
  const int e = failure.error;
  switch (failure.stage) {
    case StartStage::fork: return kOutOfResources;
    case StartStage::folder: return (e == EACCES || e == EPERM) ? kAccessDenied : kPathNotFound;
    case StartStage::input: return kOutOfResources;
    case StartStage::ended: return kAccepted;
    case StartStage::exec: break;
  }
  if (e == ENOENT || e == ENOTDIR || e == ELOOP || e == ENAMETOOLONG) return kFileNotFound;
  if (e == EACCES || e == EPERM || e == ETXTBSY) return kAccessDenied;
  if (e == ENOEXEC) return kBadFormat;
  return kOutOfResources;
}

// How often a watch looks whether the program has ended: often enough that a quick failure
// is not kept waiting for, seldom enough to cost nothing.
constexpr long kWatchStepNs = 20'000'000;

void SleepOneWatchStep() {
  const timespec step{0, kWatchStepNs};
  ::nanosleep(&step, nullptr);
}

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Runs in the middle process: reaps the program if it ends within watchMs and reports how.
// Only async-signal-safe calls, since this process is a copy of a threaded one.
void WatchProgram(int pipeFd, pid_t program, long long watchMs) {
  const long long end = MonotonicMs() + watchMs;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(program, &status, WNOHANG);
    if (done == program) {
      Report(pipeFd, StartStage::ended, status);
      return;
    }
    if ((done < 0 && errno != EINTR) || MonotonicMs() >= end) return;
    SleepOneWatchStep();
  }
}

// Runs in the program's own process until exec replaces it; reports and exits on failure.
[[noreturn]] void BecomeProgram(int pipeFd, const char* programPath, char* const* argv, const char* folderPath) {
  // Signals we block or ignore must not carry over into an unrelated program.
  sigset_t none;
  ::sigemptyset(&none);
  ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  ::sigaction(SIGPIPE, &byDefault, nullptr);
  if (folderPath && ::chdir(folderPath) != 0) ReportAndExit(pipeFd, StartStage::folder, errno);
  const int input = ::open("/dev/null", O_RDONLY);
  if (input < 0 || ::dup2(input, STDIN_FILENO) < 0) ReportAndExit(pipeFd, StartStage::input, errno);
  if (input != STDIN_FILENO) ::close(input);
  ::execv(programPath, argv);
  ReportAndExit(pipeFd, StartStage::exec, errno);
}

// Waits for the middle process, which ends at once or, while it watches, within the watch;
// the window repaints during a watch.
void WaitForMiddle(pid_t middle, bool watching) {
  int status = 0;
  if (!watching) {
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return;
  }
  for (;;) {
    const pid_t done = ::waitpid(middle, &status, WNOHANG);
    if (done == middle || (done < 0 && errno != EINTR)) return;
    ProcessPendingEvents();
    SleepOneWatchStep();
  }
}

// The first report in the pipe; end-of-file (every writer gone without a word) means the
// program started and was not seen to end.
StartWatch ReadReport(int fd) {
  StartFailure failure{};
  std::size_t got = 0;
  auto* bytes = reinterpret_cast<char*>(&failure);
  while (got < sizeof failure) {
    const ssize_t n = ::read(fd, bytes + got, sizeof failure - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got == 0) return {kAccepted, false, 0};
  if (got < sizeof failure) return {kOutOfResources, false, 0};
  if (failure.stage == StartStage::ended) return {kAccepted, true, failure.error};
  return {ResultOf(failure), false, 0};
}

// Starts Program with Args (Args[0] included) in Folder and returns without waiting for it,
// after watching it for watchMs when that is above 0. The double fork leaves the program to
// init, so no zombie waits for this process to reap it; the middle process does the
// watching, reaping the program itself when it ends meanwhile. The close-on-exec pipe reads
// end-of-file exactly when exec succeeded and nothing ended, and a report otherwise. Between
// fork and exec only async-signal-safe calls are made.
StartWatch Launch(const std::string& program, std::vector<std::string> args, const std::string& folder,
                  long long watchMs = 0) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const char* programPath = program.c_str();
  const char* folderPath = folder.empty() ? nullptr : folder.c_str();

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {kOutOfResources, false, 0};

  const pid_t middle = ::fork();
  if (middle < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return {kOutOfResources, false, 0};
  }
  if (middle == 0) {
    ::close(fds[0]);
    ::setsid();  // away from our terminal and process group: closing us does not end it
    const pid_t child = ::fork();
    if (child < 0) ReportAndExit(fds[1], StartStage::fork, errno);
    if (child == 0) BecomeProgram(fds[1], programPath, argv.data(), folderPath);
    if (watchMs > 0) WatchProgram(fds[1], child, watchMs);
    ::_exit(0);
  }

  ::close(fds[1]);
  WaitForMiddle(middle, watchMs > 0);
  const StartWatch outcome = ReadReport(fds[0]);
  ::close(fds[0]);
  return outcome;
}

// Documents and addresses go to the desktop's default program, chosen by xdg-open.
std::int32_t OpenWithHandler(const std::string& target, const std::string& folder) {
  const std::string handler = FindOnPath("xdg-open");
  if (handler.empty()) return kNoAssociation;
  const std::int32_t result = Launch(handler, {handler, target}, folder).result;
  return result == kFileNotFound ? kNoAssociation : result;
}

}  // namespace

// Searched before forking, so that the child only calls what is safe there.
std::string FindOnPath(const std::string& program) {
  const std::string path = GetEnvVar("PATH");
  std::string_view rest = path;
  if (rest.empty()) rest = "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    // An empty entry means the current folder.
    std::string candidate(folder.empty() ? std::string_view(".") : folder);
    candidate += '/';
    candidate += program;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string_view::npos) return {};
    rest.remove_prefix(colon + 1);
  }
}

void SetShellOpenHook(ShellOpenHook hook) { shellOpenHook = std::move(hook); }

std::string GetEnvVar(std::string_view name) {
  // Both programs change their environment only before any other thread is started.
  const char* value = std::getenv(std::string(name).c_str());  // NOLINT(concurrency-mt-unsafe)
  return value ? std::string(value) : std::string();
}

bool IsInternalCommand(std::string_view word) { return StringInList(word, kInternalCommands, false); }

std::int32_t ShellRun(std::string_view commandLine, std::int32_t showCmd) {
  // Grow the candidate one word at a time, so a program whose path holds spaces is found
  // before its options are mistaken for part of its name. Two spaces in a row give an empty
  // word and end the search; what follows them stays in Rest as parameters.
  std::string rest(commandLine);
  std::string candidate;
  std::string word;
  bool found = false;
  do {
    SplitResult split = SplitAt(rest, " ");
    word = std::move(split.left);
    rest = std::move(split.right);
    candidate = JoinNonEmpty(candidate, word, " ");
    found = IsExistingFile(candidate);
  } while (!found && !word.empty());

  ShellRequest request;
  request.showCmd = showCmd;
  if (!found && IsInternalCommand(candidate)) {
    request.file = GetEnvVar("comspec");
    request.parameters = "/C " + std::string(commandLine);
  } else {
    request.file = candidate;
    request.parameters = rest;
  }
  request.folder = FolderOf(request.file, !found && HasUrlScheme(request.file));
  return shellOpenHook ? shellOpenHook(request) : OpenWithDesktop(request);
}

std::int32_t ShellRunNormal(std::string_view commandLine) { return ShellRun(commandLine, 1); }

std::int32_t ShellOpen(std::string_view target) { return ShellRunNormal(target); }

std::vector<std::string> SplitShellWords(std::string_view text) {
  // Quoting only: no variables, globs, "~" or command substitution, and operators such as
  // ";" or "|" are ordinary characters, because nothing here is ever handed to a shell.
  // An unclosed quote runs to the end of the text rather than losing the word.
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;  // separate from word.empty(): '' is a word of its own
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (IsBlank(c)) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
    } else if (c == '\\') {
      if (i + 1 == n) {  // nothing left to escape: the backslash stays
        word += c;
        inWord = true;
        ++i;
      } else if (text[i + 1] == '\n') {  // a continued line joins its neighbours
        i += 2;
      } else {
        word += text[i + 1];
        inWord = true;
        i += 2;
      }
    } else if (c == '\'') {
      inWord = true;
      const std::size_t close = text.find('\'', i + 1);
      const std::size_t end = close == std::string_view::npos ? n : close;
      word.append(text.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (c == '"') {
      inWord = true;
      ++i;
      while (i < n && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < n && EscapableInDoubleQuotes(text[i + 1])) {
          if (text[i + 1] != '\n') word += text[i + 1];
          i += 2;
        } else {
          word += text[i++];
        }
      }
      ++i;  // the closing quote
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::int32_t StartProgram(const std::string& program, std::vector<std::string> args, const std::string& folder) {
  return Launch(program, std::move(args), folder).result;
}

StartWatch StartProgramWatched(const std::string& program, std::vector<std::string> args, const std::string& folder,
                               std::chrono::milliseconds watch) {
  return Launch(program, std::move(args), folder, std::max<long long>(watch.count(), 1));
}

std::int32_t OpenWithDesktop(const ShellRequest& request) {
  // There is no window state to give a started program here; the desktop places windows.
  if (request.file.empty()) return kFileNotFound;
  struct stat info {};
  if (::stat(request.file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    const std::string path = AbsolutePath(request.file);
    if (::access(path.c_str(), X_OK) != 0) return OpenWithHandler(path, request.folder);
    std::vector<std::string> args{path};
    for (std::string& word : SplitShellWords(request.parameters)) args.push_back(std::move(word));
    return Launch(path, std::move(args), request.folder).result;
  }
  if (HasUrlScheme(request.file)) return OpenWithHandler(request.file, request.folder);
  return kFileNotFound;
}

}  // namespace corvane
