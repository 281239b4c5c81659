#include "server_pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "file_write.h"

extern char** environ;

namespace corvane::lsp {

ServerPipes::ServerPipes(const std::string& program, const std::vector<std::string>& args) {
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("no pipe for the server");
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error("no pipe for the server");
  }
  std::vector<std::string> words{program, "--lsp"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  toServer_ = in[1];
  fromServer_ = out[0];
  if (spawned != 0) {
    pid_ = 0;
    closeInput();
    ::close(fromServer_);
    throw std::runtime_error("cannot start " + program);
  }
}

ServerPipes::~ServerPipes() {
  stop();
  ::close(fromServer_);
}

void ServerPipes::stop() {
  closeInput();
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }
}

bool ServerPipes::write(std::string_view bytes) { return WriteAll(toServer_, bytes); }

void ServerPipes::closeInput() {
  if (toServer_ >= 0) ::close(toServer_);
  toServer_ = -1;
}

int ServerPipes::wait() {
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ServerPipes::waitFor(int milliseconds) {
  for (int waited = 0; waited <= milliseconds; waited += 10) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = 0;
      return true;
    }
    ::poll(nullptr, 0, 10);
  }
  return false;
}

}  // namespace corvane::lsp
