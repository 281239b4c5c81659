// An LDAP server that attacks its client: it binds anyone and then misbehaves in one way.
// It serves one connection after another on a free loopback port, and stops with its
// object, or by itself after a minute or 8 GiB sent, whichever comes first.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace corvane::client::test {

class HostileServer {
 public:
  enum class Mode {
    Flood,            // the subschema search answered by entries without end
    Drip,             // the root entry's answer sent one byte every 20 ms, without end
    WrongMessageId,   // the bind answered under another message id
    ClosesMidAnswer,  // the root entry's answer broken off half-way
    Garbage,          // bytes that are no LDAP at all, then the connection closed
    StrangeMessage,   // the root entry's answer after a message of no LDAP type
  };
  // A flood entry holds valuesPerEntry attributeTypes values of valueBytes bytes each.
  explicit HostileServer(Mode mode, std::size_t valuesPerEntry = 64, std::size_t valueBytes = 1);
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;
  int port() const { return port_; }
  std::string url() const;
  // Bytes sent on all connections so far.
  std::size_t sent() const { return sent_; }

 private:
  void serve();
  void serveClient(int client);
  bool send(int client, const std::string& bytes);

  Mode mode_;
  std::size_t valuesPerEntry_, valueBytes_;
  int port_ = 0;
  int socket_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> sent_{0};
  std::thread thread_;
};

}  // namespace corvane::client::test
