// The client's end of the language server: corvanexml-check --lsp started as a process of
// its own, spoken to over pipes. For the benchmark and the tests, which drive the server as
// an editor does; the server itself needs none of it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace corvane::lsp {

class ServerPipes {
 public:
  // Starts program --lsp args...; its standard error is the caller's. Throws
  // std::runtime_error when it cannot be started.
  ServerPipes(const std::string& program, const std::vector<std::string>& args);
  // Stops the server and closes its output.
  ~ServerPipes();
  ServerPipes(const ServerPipes&) = delete;
  ServerPipes& operator=(const ServerPipes&) = delete;

  pid_t pid() const { return pid_; }
  // What the server writes, to be read.
  int output() const { return fromServer_; }
  // Writes bytes whole; false when the server no longer reads.
  bool write(std::string_view bytes);
  // Closes the server's input, so that it sees its end.
  void closeInput();
  // Waits for the server's end: its exit status, -1 for a signal. Forgets it either way.
  int wait();
  // Waits for its end a bounded time; false, with the server still running, when it
  // did not end.
  bool waitFor(int milliseconds);
  // Kills the server if it still runs and waits for it; what it wrote stays to be read
  // until the output's end.
  void stop();

 private:
  pid_t pid_ = 0;
  int toServer_ = -1;
  int fromServer_ = -1;
};

}  // namespace corvane::lsp
