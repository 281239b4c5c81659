// libFuzzer target: any bytes as an LDAP server's answer. The client parses nothing of the
// wire itself (the LDAP library does), so it reads a tree from a loopback server that sends
// the input and hangs up; the read must end at once, within its bounds, whatever came.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "../directory/loopback.h"
#include "ldap_schema.h"

namespace {

int Listen(int& port) {
  const int fd = corvane::test::ListenOnLoopback(port);
  if (fd < 0) std::abort();
  return fd;
}

// Sends the answer whatever was asked, then reads the requests until the client goes.
void Answer(int listener, const std::uint8_t* data, std::size_t size) {
  pollfd waiting{listener, POLLIN, 0};
  if (poll(&waiting, 1, 5000) <= 0) return;
  const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return;
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = send(client, data + done, size - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  shutdown(client, SHUT_WR);
  pollfd readable{client, POLLIN, 0};
  char request[4096];
  while (poll(&readable, 1, 5000) > 0 && read(client, request, sizeof request) > 0) {
  }
  close(client);
}

}  // namespace

// The LDAP library (2.5) loses the request of a bind whose answer it cannot decode, a few
// kilobytes per connection; that is its own, not the client's. The library has no frame
// pointers, so only the slow unwinder sees that the request is where a leak comes from.
extern "C" const char* __lsan_default_suppressions() { return "leak:ldap_send_server_request\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int port = 0;
  static const int listener = Listen(port);
  std::thread server(Answer, listener, data, size);
  corvane::client::ConnectionConfig config;
  config.treeName = "FUZZ";
  config.url = "ldap://127.0.0.1:" + std::to_string(port) + "/";
  config.timeoutSeconds = 1;
  corvane::client::SchemaDefinitions definitions;
  corvane::client::LdapTreeFacts facts;
  std::string error;
  (void)corvane::client::ReadLdapSchema(config, definitions, facts, error);
  server.join();
  return 0;
}
