#include "hostile_ldap_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "loopback.h"

namespace corvane::client::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLifetime = std::chrono::seconds(60);
constexpr std::size_t kMostBytesSent = std::size_t{8} << 30;
constexpr std::size_t kLargestRequest = 1 << 20;
constexpr int kPollMs = 50;

// Just enough BER for the answers this server gives: definite lengths, in four bytes when
// they do not fit in one.
std::string Length(std::size_t n) {
  if (n < 0x80) return std::string(1, static_cast<char>(n));
  std::string out(1, '\x84');
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xff);
  return out;
}
std::string Tlv(unsigned char tag, const std::string& content) {
  return static_cast<char>(tag) + Length(content.size()) + content;
}
std::string Integer(int value) {
  std::string bytes;
  do {
    bytes.insert(bytes.begin(), static_cast<char>(value & 0xff));
    value >>= 8;
  } while (value != 0);
  if (static_cast<unsigned char>(bytes[0]) & 0x80) bytes.insert(bytes.begin(), '\0');
  return Tlv(0x02, bytes);
}
std::string Octets(const std::string& text) { return Tlv(0x04, text); }
// LDAPMessage ::= SEQUENCE { messageID INTEGER, protocolOp [APPLICATION n] ... }
std::string Message(int id, const std::string& op) { return Tlv(0x30, Integer(id) + op); }
// An LDAPResult of success under the operation's tag: BindResponse 0x61, SearchResultDone 0x65.
std::string Success(unsigned char tag) { return Tlv(tag, Tlv(0x0a, std::string(1, '\0')) + Octets("") + Octets("")); }
std::string Entry(const std::string& dn, const std::string& type, const std::vector<std::string>& values) {
  std::string set;
  for (const auto& value : values) set += Octets(value);
  return Tlv(0x64, Octets(dn) + Tlv(0x30, Tlv(0x30, Octets(type) + Tlv(0x31, set))));
}

struct Request {
  int id = 0;
  unsigned char op = 0;  // the protocolOp's tag: 0x60 bind, 0x63 search, 0x42 unbind
};

// Splits the next whole request off pending; false while it is incomplete, and when it is no
// LDAPMessage at all (then bad is set).
bool SplitRequest(std::string& pending, Request& request, bool& bad) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(pending[i]); };
  if (pending.size() < 2) return false;
  std::size_t header = 2, length = byte(1);
  if (byte(0) != 0x30 || length == 0x80 || length > 0x84) return bad = true, false;
  if (length > 0x80) {
    header += length & 0x7f;
    if (pending.size() < header) return false;
    length = 0;
    for (std::size_t i = 2; i < header; ++i) length = length << 8 | byte(i);
  }
  if (length > kLargestRequest || length < 5) return bad = true, false;
  if (pending.size() < header + length) return false;
  const std::size_t idLength = byte(header + 1);
  if (byte(header) != 0x02 || idLength == 0 || idLength > 4 || 2 + idLength >= length) return bad = true, false;
  request.id = 0;
  for (std::size_t i = 0; i < idLength; ++i) request.id = request.id << 8 | byte(header + 2 + i);
  request.op = byte(header + 2 + idLength);
  pending.erase(0, header + length);
  return true;
}

int Listen(int& port) { return ::corvane::test::ListenOnLoopback(port); }

}  // namespace

HostileServer::HostileServer(Mode mode, std::size_t valuesPerEntry, std::size_t valueBytes)
    : mode_(mode), valuesPerEntry_(valuesPerEntry), valueBytes_(valueBytes), socket_(Listen(port_)), thread_([this] {
        serve();
      }) {}

HostileServer::~HostileServer() {
  // Every wait of the server is a short poll that looks at this.
  stopping_ = true;
  thread_.join();
  if (socket_ >= 0) close(socket_);
}

std::string HostileServer::url() const { return "ldap://127.0.0.1:" + std::to_string(port_) + "/"; }

void HostileServer::serve() {
  const auto end = Clock::now() + kLifetime;
  pollfd listening{socket_, POLLIN, 0};
  while (socket_ >= 0 && !stopping_ && Clock::now() < end && sent_ < kMostBytesSent) {
    if (poll(&listening, 1, kPollMs) <= 0) continue;
    const int client = accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    serveClient(client);
    close(client);
  }
}

bool HostileServer::send(int client, const std::string& bytes) {
  const auto end = Clock::now() + kLifetime;
  for (std::size_t done = 0; done < bytes.size();) {
    if (stopping_ || Clock::now() > end || sent_ > kMostBytesSent) return false;
    const ssize_t n = ::send(client, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      sent_ += static_cast<std::size_t>(n);
    } else if (errno == EAGAIN || errno == EINTR) {
      pollfd writable{client, POLLOUT, 0};
      poll(&writable, 1, kPollMs);
    } else {
      return false;
    }
  }
  return true;
}

void HostileServer::serveClient(int client) {
  const auto end = Clock::now() + kLifetime;
  std::string pending;
  int searches = 0;
  for (;;) {
    Request request;
    bool bad = false;
    while (!SplitRequest(pending, request, bad)) {
      if (bad || stopping_ || Clock::now() > end) return;
      pollfd readable{client, POLLIN, 0};
      if (poll(&readable, 1, kPollMs) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(client, buffer, sizeof buffer);
      if (n <= 0) return;
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    if (request.op == 0x42) return;
    if (request.op == 0x60) {
      if (mode_ == Mode::Garbage) {
        // A fixed sequence, so that every run sees the same bytes.
        std::string garbage;
        for (std::uint32_t x = 12345; garbage.size() < 4096;)
          garbage += static_cast<char>((x = x * 1103515245 + 12345) >> 24);
        send(client, garbage);
        return;
      }
      const int id = mode_ == Mode::WrongMessageId ? request.id + 41 : request.id;
      if (!send(client, Message(id, Success(0x61)))) return;
    } else if (request.op == 0x63 && ++searches == 1) {
      const std::string root = Message(request.id, Entry("", "subschemaSubentry", {"cn=Subschema"}));
      if (mode_ == Mode::ClosesMidAnswer) {
        send(client, root.substr(0, root.size() / 2));
        return;
      }
      if (mode_ == Mode::Drip) {
        const std::string slow = Message(request.id, Entry("", "subschemaSubentry", {std::string(1 << 20, 'x')}));
        for (const char c : slow) {
          if (!send(client, std::string(1, c))) return;
          poll(nullptr, 0, 20);
        }
        return;
      }
      const std::string strange = mode_ == Mode::StrangeMessage ? Message(request.id, Success(0x00)) : "";
      if (!send(client, strange + root + Message(request.id, Success(0x65)))) return;
    } else if (request.op == 0x63) {
      if (mode_ != Mode::Flood) {
        if (!send(client, Message(request.id, Success(0x65)))) return;
        continue;
      }
      const std::vector<std::string> values(valuesPerEntry_, std::string(valueBytes_, 'a'));
      const std::string entry = Message(request.id, Entry("cn=Subschema", "attributeTypes", values));
      std::string batch;
      while (batch.size() < 65536) batch += entry;
      while (send(client, batch)) {
      }
      return;
    }
  }
}

}  // namespace corvane::client::test
