#include "slapd_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "loopback.h"

extern char** environ;

namespace corvane::client::test {
namespace {

using ::corvane::test::LoopbackAddress;

int Listen(int& port) { return ::corvane::test::ListenOnLoopback(port); }

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port);
  const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// A certificate authority and a server certificate for 127.0.0.1 that it signed.
bool MakeCertificates(const std::string& folder) {
  const std::string q = " 2>/dev/null >/dev/null";
  const std::string f = folder + "/";
  std::ofstream(f + "san.cnf") << "subjectAltName=IP:127.0.0.1\n";
  return std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Corvane-Test-CA -keyout " + f +
                      "ca.key -out " + f + "ca.crt" + q)
                         .c_str()) == 0 &&
         std::system(("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + f + "server.key -out " + f +
                      "server.csr" + q)
                         .c_str()) == 0 &&
         std::system(("openssl x509 -req -days 2 -in " + f + "server.csr -CA " + f + "ca.crt -CAkey " + f +
                      "ca.key -CAcreateserial -extfile " + f + "san.cnf -out " + f + "server.crt" + q)
                         .c_str()) == 0;
}

}  // namespace

bool SlapdAvailable() { return std::filesystem::exists(kSlapd); }

int FreeLoopbackPort() {
  int port = 0;
  const int fd = Listen(port);
  if (fd >= 0) close(fd);
  return port;
}

std::string LoopbackUrl(const char* scheme, int port) {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/";
}

SlapdServer::SlapdServer(const std::string& folder, const SlapdOptions& options) {
  const std::string conf = folder + "/slapd.conf";
  std::ofstream out(conf);
  for (const auto& schema : options.schemaFiles) out << "include " << schema << "\n";
  out << "pidfile " << folder << "/slapd.pid\nargsfile " << folder << "/slapd.args\n";
  for (const auto& rule : options.access) out << rule << "\n";
  if (options.tls) {
    if (!MakeCertificates(folder)) return;
    caFile_ = folder + "/ca.crt";
    out << "TLSCertificateFile " << folder << "/server.crt\nTLSCertificateKeyFile " << folder << "/server.key\n";
  }
  if (options.database) {
    std::filesystem::create_directories(folder + "/db");
    out << "modulepath /usr/lib/ldap\nmoduleload back_mdb\ndatabase mdb\nmaxsize 16777216\n"
        << "suffix \"" << kSuffix << "\"\nrootdn \"" << kRootDn << "\"\nrootpw " << kRootPassword << "\n"
        << "directory " << folder << "/db\n";
  }
  out.close();
  ports_.push_back(FreeLoopbackPort());
  url_ = LoopbackUrl("ldap", ports_.back());
  std::string listen = url_;
  if (options.tls) {
    ports_.push_back(FreeLoopbackPort());
    tlsUrl_ = LoopbackUrl("ldaps", ports_.back());
    listen += " " + tlsUrl_;
  }
  const char* argv[] = {kSlapd, "-f", conf.c_str(), "-h", listen.c_str(), "-d", "0", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The server must not hold the test's output open after the test ends.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, kSlapd, &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
}

bool SlapdServer::ready() const {
  for (int tries = 0; pid_ > 0 && tries < 500; ++tries) {
    bool all = true;
    for (const int port : ports_) all = all && Accepts(port);
    if (all) return true;
    if (waitpid(pid_, nullptr, WNOHANG) != 0) return false;
    poll(nullptr, 0, 20);
  }
  return false;
}

void SlapdServer::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

SilentServer::SilentServer() : socket_(Listen(port_)) {}
SilentServer::~SilentServer() {
  if (socket_ >= 0) close(socket_);
}

BrokenServer::BrokenServer(Fault fault) : fault_(fault), socket_(Listen(port_)), thread_([this] { serve(); }) {}

BrokenServer::~BrokenServer() {
  // Wakes the accept when no client came.
  shutdown(socket_, SHUT_RDWR);
  thread_.join();
  close(socket_);
}

void BrokenServer::serve() {
  const int client = accept(socket_, nullptr, nullptr);
  if (client < 0) return;
  unsigned char request[512];
  // The bind is message 1: a success, with no matched DN and no diagnostic.
  const unsigned char bound[] = {0x30, 0x0c, 0x02, 0x01, 0x01, 0x61, 0x07, 0x0a, 0x01, 0x00, 0x04, 0x00, 0x04, 0x00};
  // The search is message 2: an entry announced at 256 bytes, of which a few come ...
  const unsigned char broken[] = {0x30, 0x82, 0x01, 0x00, 0x02, 0x01, 0x02, 0x64, 0x82, 0x00, 0xf9, 0x04, 0x00};
  // ... or a message announced at a gigabyte.
  const unsigned char huge[] = {0x30, 0x84, 0x40, 0x00, 0x00, 0x00, 0x02, 0x01, 0x02};
  const bool hangUp = fault_ == Fault::HangsUpMidAnswer;
  if (read(client, request, sizeof request) > 0 && send(client, bound, sizeof bound, MSG_NOSIGNAL) > 0 &&
      read(client, request, sizeof request) > 0) {
    if (hangUp)
      send(client, broken, sizeof broken, MSG_NOSIGNAL);
    else
      send(client, huge, sizeof huge, MSG_NOSIGNAL);
  }
  // Waiting, the server stays until the client goes.
  while (!hangUp && read(client, request, sizeof request) > 0) {
  }
  close(client);
}

}  // namespace corvane::client::test
