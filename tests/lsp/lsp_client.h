// Starts corvanexml-check --lsp as a process of its own and speaks the protocol to it over
// pipes. Every read waits a bounded time and fails the test rather than hang.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "d_util.h"

extern char** environ;

namespace lsp_test {

using nlohmann::json;

class LspClient {
 public:
  // Runs the program with args after --lsp; its standard error goes to the test's.
  explicit LspClient(const std::vector<std::string>& args = {}) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const std::string program =
        (std::filesystem::path(corvane::ProgramFileName("")).parent_path() / "corvanexml-check").string();
    std::vector<std::string> words{program, "--lsp"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("cannot start " + program);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    toServer_ = in[1];
    fromServer_ = out[0];
  }
  ~LspClient() {
    if (toServer_ >= 0) ::close(toServer_);
    ::close(fromServer_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  LspClient(const LspClient&) = delete;
  LspClient& operator=(const LspClient&) = delete;

  static std::string Frame(const json& message) {
    const std::string body = message.dump();
    return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  // Writes bytes as they are, in one write where the pipe takes them at once.
  void sendRaw(const std::string& bytes) {
    std::string_view rest = bytes;
    while (!rest.empty()) {
      const ssize_t n = ::write(toServer_, rest.data(), rest.size());
      ASSERT_GT(n, 0) << "the server stopped reading";
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void send(const json& message) { sendRaw(Frame(message)); }
  void request(int id, const std::string& method, json params = json::object()) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
  }
  void notify(const std::string& method, json params = json::object()) {
    send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
  }
  // Initializes the session with the client's capabilities and says it is initialized.
  json initialize(json capabilities = json::object(), json initializationOptions = nullptr) {
    json params = {{"processId", nullptr}, {"rootUri", nullptr}, {"capabilities", std::move(capabilities)}};
    if (!initializationOptions.is_null()) params["initializationOptions"] = std::move(initializationOptions);
    request(1, "initialize", params);
    json answer = response(1);
    notify("initialized");
    return answer;
  }

  // The next message; nothing (and a test failure) when none comes in time.
  std::optional<json> read() {
    while (true) {
      const std::size_t end = buffer_.find("\r\n\r\n");
      if (end != std::string::npos) {
        const std::size_t at = buffer_.find("Content-Length: ");
        const std::size_t length = std::stoul(buffer_.substr(at + 16, end - at - 16));
        if (buffer_.size() >= end + 4 + length) {
          json message = json::parse(buffer_.substr(end + 4, length));
          buffer_.erase(0, end + 4 + length);
          return message;
        }
      }
      if (!fill()) return std::nullopt;
    }
  }
  // Reads until a message satisfies wanted; the others read meanwhile are kept in skipped.
  json readUntil(const std::function<bool(const json&)>& wanted, const std::string& what) {
    while (std::optional<json> message = read()) {
      if (wanted(*message)) return *message;
      skipped.push_back(std::move(*message));
    }
    ADD_FAILURE() << "no " << what << " came";
    return nullptr;
  }
  json response(int id) {
    return readUntil([id](const json& m) { return m.contains("id") && m["id"] == id && !m.contains("method"); },
                     "response " + std::to_string(id));
  }
  // The next diagnostics published for uri.
  json diagnostics(const std::string& uri) {
    return readUntil(
        [&](const json& m) {
          return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == uri;
        },
        "diagnostics for " + uri)["params"];
  }
  // Closes the server's input and waits for its exit status.
  int exitStatus() {
    ::close(toServer_);
    toServer_ = -1;
    while (fill()) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::vector<json> skipped;

 private:
  // Reads more of the server's output; false at its end or when nothing comes in time.
  bool fill() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (true) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ADD_FAILURE() << "the server said nothing in time";
        return false;
      }
      pollfd p{fromServer_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
      char chunk[65536];
      const ssize_t n = ::read(fromServer_, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
  }

  pid_t pid_ = 0;
  int toServer_ = -1;
  int fromServer_ = -1;
  std::string buffer_;
};

}  // namespace lsp_test
