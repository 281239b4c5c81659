// One connection to an LDAP server as a connections-file section describes it: TLS by
// ldaps:// or StartTLS with certificates always verified, a simple bind with the password
// of the password file, every wait bounded by the section's time-out and all that the server
// sends bounded in size. Failures come back as one line that names the step, the library's
// text and its result code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "connections.h"

namespace corvane::client {

// The values of one entry's attributes, in the order asked for.
using EntryValues = std::vector<std::vector<std::string>>;

class LdapConnection {
 public:
  LdapConnection();
  ~LdapConnection();
  LdapConnection(const LdapConnection&) = delete;
  LdapConnection& operator=(const LdapConnection&) = delete;

  // Connects, secures and binds; false with the reason in error.
  bool open(const ConnectionConfig& config, std::string& error);
  // The attributes of the one entry at dn that matches filter; false with the reason in
  // error, or with an empty error when there is no such entry.
  bool readEntry(const std::string& dn, const char* filter, const std::vector<const char*>& attributes,
                 EntryValues& values, std::string& error);

 private:
  struct Session;
  std::unique_ptr<Session> session_;
};

// The trusted certificates used when a section names none: the system's bundle.
inline constexpr const char* kSystemCaFile = "/etc/ssl/certs/ca-certificates.crt";

}  // namespace corvane::client
