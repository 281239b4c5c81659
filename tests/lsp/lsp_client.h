// Starts corvanexml-check --lsp as a process of its own and speaks the protocol to it over
// pipes. Every read waits a bounded time and fails the test rather than hang.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base_protocol.h"
#include "d_util.h"
#include "server_pipes.h"

namespace lsp_test {

using nlohmann::json;

class LspClient {
 public:
  // Runs the program with args after --lsp; its standard error goes to the test's.
  explicit LspClient(const std::vector<std::string>& args = {})
      : pipes_((std::filesystem::path(corvane::ProgramFileName("")).parent_path() / "corvanexml-check").string(),
               args) {}

  static std::string Frame(const json& message) { return corvane::lsp::Framed(message.dump()); }
  // Writes bytes as they are, in one write where the pipe takes them at once.
  void sendRaw(const std::string& bytes) { ASSERT_TRUE(pipes_.write(bytes)) << "the server stopped reading"; }
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
      if (std::optional<corvane::lsp::Frame> frame = reader_.next()) {
        if (!frame->fault.empty()) {
          ADD_FAILURE() << "the server wrote a bad frame: " << frame->fault;
          return std::nullopt;
        }
        return json::parse(frame->body);
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
    pipes_.closeInput();
    while (fill()) {
    }
    return pipes_.wait();
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
      pollfd p{pipes_.output(), POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) continue;
      char chunk[65536];
      const ssize_t n = ::read(pipes_.output(), chunk, sizeof chunk);
      if (n <= 0) return false;
      reader_.feed(std::string_view(chunk, static_cast<std::size_t>(n)));
      return true;
    }
  }

  corvane::lsp::ServerPipes pipes_;
  corvane::lsp::FrameReader reader_;
};

}  // namespace lsp_test
