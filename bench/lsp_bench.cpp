// corvanexml-lsp-bench: times the language server as an editor meets it. It starts
// corvanexml-check --lsp (the one beside this program) as a process of its own, speaks the
// protocol over pipes and opens one plug-in file, then measures one of:
//
//   corvanexml-lsp-bench change FILE RUNS [SERVER_ARG...]
//       RUNS edits of the file's first object-type-name value, one after another: the time
//       from writing each didChange to reading the diagnostics published for its version.
//   corvanexml-lsp-bench completion FILE RUNS [SERVER_ARG...]
//       RUNS completion requests at the start of that value: the time to each answer.
//   corvanexml-lsp-bench burst FILE CHANGES ROUNDS [SERVER_ARG...]
//       ROUNDS bursts of CHANGES such edits written as fast as the server takes them: the
//       time from writing the last change to the diagnostics of its version, and how many
//       diagnostics came for a version older than one published before them.
//
// Every mode waits for the diagnostics of the opened file before it times anything (the
// first check reads the tree), and prints one line of "key=value" words on standard output:
// times in milliseconds (best, median, worst), the file's size, the number of diagnostics
// of the opened file, and the server's memory in KiB from /proc/PID/status: resident before
// the file is opened (VmRSS, once a small file beside it was checked, so that the tree is
// read), the peak once it is checked and the peak at the end (VmHWM, counted from when the
// file is opened). The server's log goes to standard error. Nothing waits for ever: a
// missing answer ends the program with status 1 after a minute.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base_protocol.h"
#include "server_pipes.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(60);
constexpr const char* kPublish = "textDocument/publishDiagnostics";

double MillisecondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// A message from the server and the moment its last byte was read.
struct Received {
  Clock::time_point at;
  json message;
};

// The server as a child process. A thread of its own reads everything the server writes, so
// that the server never blocks on a full pipe while the bench is writing to it.
class Server {
 public:
  explicit Server(const std::vector<std::string>& args)
      : pipes_((fs::read_symlink("/proc/self/exe").parent_path() / "corvanexml-check").string(), args),
        reader_([this] { readAll(); }) {}
  ~Server() {
    pipes_.stop();
    reader_.join();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  pid_t pid() const { return pipes_.pid(); }

  // Writes a message whole; returns once the pipe has taken its last byte.
  void send(const json& message) {
    if (!pipes_.write(corvane::lsp::Framed(message.dump()))) throw std::runtime_error("the server stopped reading");
  }
  void request(int id, const std::string& method, json params) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
  }
  void notify(const std::string& method, json params) {
    send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
  }

  // Takes the messages read so far, in order, up to the first that wanted accepts, and
  // returns that one; the others go to skipped, when given. Fails after kPatience.
  Received next(const std::function<bool(const json&)>& wanted, const std::string& what,
                const std::function<void(const Received&)>& skipped = nullptr) {
    const auto deadline = Clock::now() + kPatience;
    std::unique_lock lock(mutex_);
    while (true) {
      while (!queue_.empty()) {
        Received r = std::move(queue_.front());
        queue_.pop_front();
        if (wanted(r.message)) return r;
        if (skipped) skipped(r);
      }
      if (ended_) throw std::runtime_error("the server ended before " + what);
      if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && queue_.empty()) {
        throw std::runtime_error("no " + what + " within a minute");
      }
    }
  }

  // Tells the server to exit (after shutdown) and waits for it, a bounded time.
  void exit() {
    notify("exit", nullptr);
    pipes_.closeInput();
    pipes_.waitFor(10000);
  }

 private:
  void readAll() {
    corvane::lsp::FrameReader frames;
    std::vector<char> chunk(1 << 16);
    while (true) {
      const ssize_t n = ::read(pipes_.output(), chunk.data(), chunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      frames.feed(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
      while (std::optional<corvane::lsp::Frame> frame = frames.next()) {
        if (!frame->fault.empty()) continue;
        Received received{Clock::now(), json::parse(frame->body)};
        {
          const std::lock_guard lock(mutex_);
          queue_.push_back(std::move(received));
        }
        arrived_.notify_all();
      }
    }
    {
      const std::lock_guard lock(mutex_);
      ended_ = true;
    }
    arrived_.notify_all();
  }

  corvane::lsp::ServerPipes pipes_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable arrived_;
  std::deque<Received> queue_;
  bool ended_ = false;
  std::thread reader_;
};

// Starts the process's peak resident size (VmHWM) again from what it holds now.
void ResetPeak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

// A figure of /proc/PID/status in KiB ("VmRSS", "VmHWM"); 0 when it cannot be read.
long StatusKib(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  }
  return 0;
}

// The edited value: where it lies, as the protocol counts (UTF-16 code units), and its text.
struct Value {
  int line = 0;
  int character = 0;
  std::string text;
};

// The first object-type-name value of the document.
Value FirstClassValue(const std::string& text) {
  static const std::string kTag = "<object-type-name>";
  const std::size_t open = text.find(kTag);
  if (open == std::string::npos) throw std::runtime_error("the file has no object-type-name");
  const std::size_t start = open + kTag.size();
  const std::size_t end = text.find('<', start);
  Value v;
  v.text = text.substr(start, end - start);
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < start; ++i) {
    if (text[i] == '\n') {
      ++v.line;
      lineStart = i + 1;
    }
  }
  for (std::size_t i = lineStart; i < start; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0) != 0x80) v.character += byte >= 0xF0 ? 2 : 1;  // a lead byte starts a code point
  }
  return v;
}

// A session with one open document whose first class name the bench edits back and forth.
class Session {
 public:
  Session(const std::string& file, const std::vector<std::string>& serverArgs) : server_(serverArgs) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file);
    std::ostringstream text;
    text << in.rdbuf();
    bytes_ = text.str().size();
    value_ = FirstClassValue(text.str());
    uri_ = "file://" + fs::absolute(file).lexically_normal().string();

    server_.request(1, "initialize",
                    {{"processId", ::getpid()}, {"rootUri", nullptr}, {"capabilities", json::object()}});
    server_.next([](const json& m) { return m.contains("id") && m["id"] == 1; }, "answer to initialize");
    server_.notify("initialized", json::object());
    warmUp(fs::path(file).parent_path());
    startKib_ = StatusKib(server_.pid(), "VmRSS");
    ResetPeak(server_.pid());
    server_.notify("textDocument/didOpen",
                   {{"textDocument", {{"uri", uri_}, {"languageId", "xml"}, {"version", 1}, {"text", text.str()}}}});
    diagnosticsCount_ = waitFor(1).message["params"]["diagnostics"].size();
    openPeakKib_ = StatusKib(server_.pid(), "VmHWM");
  }

  Server& server() { return server_; }
  const std::string& uri() const { return uri_; }
  const Value& value() const { return value_; }
  std::size_t bytes() const { return bytes_; }
  long startKib() const { return startKib_; }
  long openPeakKib() const { return openPeakKib_; }
  std::size_t diagnosticsCount() const { return diagnosticsCount_; }
  long stale() const { return stale_; }
  long publications() const { return publications_; }

  // Shuts the server down; the diagnostics that come before its answer are counted.
  void shutdown() {
    server_.request(kShutdownId, "shutdown", nullptr);
    server_.next([](const json& m) { return m.contains("id") && m["id"] == kShutdownId; }, "answer to shutdown",
                 [&](const Received& skipped) {
                   if (isPublication(skipped.message)) count(versionOf(skipped.message));
                 });
  }

  // Writes the next edit: the class name becomes "User", or "Group" where it was "User".
  // Returns the new version.
  int change() {
    const std::string replacement = value_.text == "User" ? "Group" : "User";
    const json range = {
        {"start", {{"line", value_.line}, {"character", value_.character}}},
        {"end", {{"line", value_.line}, {"character", value_.character + static_cast<int>(value_.text.size())}}}};
    value_.text = replacement;
    server_.notify("textDocument/didChange",
                   {{"textDocument", {{"uri", uri_}, {"version", ++version_}}},
                    {"contentChanges", json::array({{{"range", range}, {"text", replacement}}})}});
    return version_;
  }

  // The diagnostics published for version; those read before it are counted.
  Received waitFor(int version) {
    Received r = server_.next([&](const json& m) { return isPublication(m) && versionOf(m) == version; },
                              "diagnostics for version " + std::to_string(version),
                              [&](const Received& skipped) {
                                if (isPublication(skipped.message)) count(versionOf(skipped.message));
                              });
    count(version);
    return r;
  }

 private:
  static constexpr int kShutdownId = 999999;

  // Checks a small file in folder, so that what the server holds for any file (the tree, the
  // checker's own state) is there before the measured file is opened.
  void warmUp(const fs::path& folder) {
    const std::string uri = "file://" + fs::absolute(folder / "warm-up.xml").lexically_normal().string();
    server_.notify(
        "textDocument/didOpen",
        {{"textDocument",
          {{"uri", uri}, {"languageId", "xml"}, {"version", 1}, {"text", "<?xml version=\"1.0\"?>\n<a/>\n"}}}});
    server_.next([&](const json& m) { return m.value("method", "") == kPublish && m["params"]["uri"] == uri; },
                 "diagnostics of the warm-up file");
    server_.notify("textDocument/didClose", {{"textDocument", {{"uri", uri}}}});
  }

  bool isPublication(const json& m) const { return m.value("method", "") == kPublish && m["params"]["uri"] == uri_; }
  static int versionOf(const json& m) { return m["params"].value("version", -1); }
  // A publication for a version older than one published before it is stale.
  void count(int version) {
    ++publications_;
    if (version < newestPublished_) ++stale_;
    newestPublished_ = std::max(newestPublished_, version);
  }

  Server server_;
  std::string uri_;
  Value value_;
  std::size_t bytes_ = 0;
  int version_ = 1;
  int newestPublished_ = 0;
  long stale_ = 0;
  long publications_ = 0;
  long startKib_ = 0;
  long openPeakKib_ = 0;
  std::size_t diagnosticsCount_ = 0;
};

// "best=… median=… worst=…" of times in milliseconds.
std::string Summary(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  char line[128];
  const double median = ms.size() % 2 == 1 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
  std::snprintf(line, sizeof line, "best_ms=%.2f median_ms=%.2f worst_ms=%.2f", ms.front(), median, ms.back());
  return line;
}

// Shuts the server down and prints the line: head (which may use the session's counts
// once it is shut down), the times and the memory figures.
void PrintEnd(Session& s, const std::function<std::string()>& head, const std::string& times) {
  s.shutdown();
  const long peakKib = StatusKib(s.server().pid(), "VmHWM");
  std::printf("%s %s bytes=%zu diagnostics=%zu start_kib=%ld open_peak_kib=%ld peak_kib=%ld\n", head().c_str(),
              times.c_str(), s.bytes(), s.diagnosticsCount(), s.startKib(), s.openPeakKib(), peakKib);
  s.server().exit();
}

void MeasureChanges(Session& s, int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    const int version = s.change();
    ms.push_back(MillisecondsBetween(start, s.waitFor(version).at));
  }
  PrintEnd(
      s, [&] { return "change runs=" + std::to_string(runs) + " stale=" + std::to_string(s.stale()); }, Summary(ms));
}

void MeasureCompletion(Session& s, int runs) {
  const json params = {{"textDocument", {{"uri", s.uri()}}},
                       {"position", {{"line", s.value().line}, {"character", s.value().character}}}};
  std::vector<double> ms;
  std::size_t items = 0;
  for (int i = 0; i < runs; ++i) {
    const int id = 100 + i;
    const Clock::time_point start = Clock::now();
    s.server().request(id, "textDocument/completion", params);
    const Received answer =
        s.server().next([id](const json& m) { return m.contains("id") && m["id"] == id && !m.contains("method"); },
                        "answer to completion");
    ms.push_back(MillisecondsBetween(start, answer.at));
    const json& result = answer.message["result"];
    items = result.is_object() ? result.value("items", json::array()).size() : 0;
  }
  PrintEnd(
      s, [&] { return "completion runs=" + std::to_string(runs) + " items=" + std::to_string(items); }, Summary(ms));
}

void MeasureBursts(Session& s, int changes, int rounds) {
  std::vector<double> ms;
  const long before = s.publications();
  for (int round = 0; round < rounds; ++round) {
    for (int i = 1; i < changes; ++i) s.change();
    const Clock::time_point start = Clock::now();
    const int last = s.change();
    ms.push_back(MillisecondsBetween(start, s.waitFor(last).at));
  }
  PrintEnd(
      s,
      [&] {
        return "burst changes=" + std::to_string(changes) + " rounds=" + std::to_string(rounds) +
               " publications=" + std::to_string(s.publications() - before) + " stale=" + std::to_string(s.stale());
      },
      Summary(ms));
}

int Count(const char* text) {
  const int n = std::atoi(text);
  if (n < 1) throw std::runtime_error(std::string("not a positive count: ") + text);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const int counts = mode == "burst" ? 2 : 1;
  if ((mode != "change" && mode != "completion" && mode != "burst") || argc < 3 + counts) {
    std::fprintf(stderr,
                 "usage: corvanexml-lsp-bench change FILE RUNS [SERVER_ARG...]\n"
                 "       corvanexml-lsp-bench completion FILE RUNS [SERVER_ARG...]\n"
                 "       corvanexml-lsp-bench burst FILE CHANGES ROUNDS [SERVER_ARG...]\n");
    return 2;
  }
  // A server that dies mid-write must end this program with a message, not a signal.
  ::signal(SIGPIPE, SIG_IGN);
  try {
    const std::vector<std::string> serverArgs(argv + 3 + counts, argv + argc);
    Session session(argv[2], serverArgs);
    if (mode == "change") MeasureChanges(session, Count(argv[3]));
    if (mode == "completion") MeasureCompletion(session, Count(argv[3]));
    if (mode == "burst") MeasureBursts(session, Count(argv[3]), Count(argv[4]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "corvanexml-lsp-bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
