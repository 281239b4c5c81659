// Servers for the live-directory tests: the system's slapd with a configuration of the
// test's own, and sockets that misbehave on purpose. Each runs on a free loopback port and
// ends with its object.
#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace corvane::client::test {

inline constexpr const char* kSlapd = "/usr/sbin/slapd";
inline constexpr const char* kRootDn = "cn=admin,o=test";
inline constexpr const char* kRootPassword = "s3cret-Pa55";
inline constexpr const char* kSuffix = "o=test";

struct SlapdOptions {
  std::vector<std::string> schemaFiles;  // included in this order
  bool database = false;                 // kSuffix, administered by kRootDn with kRootPassword
  bool tls = false;                      // a certificate made now by openssl, and an ldaps port
  std::vector<std::string> access;       // "access to ..." rules, in this order
};

class SlapdServer {
 public:
  SlapdServer(const std::string& folder, const SlapdOptions& options);
  ~SlapdServer() { stop(); }
  SlapdServer(const SlapdServer&) = delete;
  SlapdServer& operator=(const SlapdServer&) = delete;

  // Waits, polling with a bound, until every port takes connections; false when the server
  // ended or never did.
  bool ready() const;
  void stop();
  const std::string& url() const { return url_; }        // ldap://127.0.0.1:port/
  const std::string& tlsUrl() const { return tlsUrl_; }  // ldaps://127.0.0.1:port/
  const std::string& caFile() const { return caFile_; }  // the authority that signed its certificate

 private:
  std::vector<int> ports_;
  std::string url_, tlsUrl_, caFile_;
  pid_t pid_ = 0;
};

// A loopback port that takes connections and never says a word.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  int port() const { return port_; }

 private:
  int port_ = 0;  // before socket_, which is made with it
  int socket_ = -1;
};

// A server that accepts one anonymous bind and then answers the first search wrongly: it
// breaks off in the middle of the answer, or announces an answer of a gigabyte and waits.
class BrokenServer {
 public:
  enum class Fault { HangsUpMidAnswer, AnnouncesAGigabyte };
  explicit BrokenServer(Fault fault);
  ~BrokenServer();
  BrokenServer(const BrokenServer&) = delete;
  BrokenServer& operator=(const BrokenServer&) = delete;
  int port() const { return port_; }

 private:
  void serve();
  Fault fault_;
  int port_ = 0;
  int socket_ = -1;
  std::thread thread_;
};

bool SlapdAvailable();
int FreeLoopbackPort();
std::string LoopbackUrl(const char* scheme, int port);

}  // namespace corvane::client::test
