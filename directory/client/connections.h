// The client's connections file: one section per connection, named after its tree, in
// the order in which the client offers them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::client {

// How long an LDAP tree waits for its server at each step unless its section says otherwise.
inline constexpr int kDefaultLdapTimeoutSeconds = 10;

// One connection as configured; a tree is served from schema files or, with url, over LDAP.
struct ConnectionConfig {
  std::string treeName;
  std::vector<std::string> schemaFiles;
  std::string user;     // the logged-in object's name
  std::string context;  // default name context
  bool primary = false;
  std::string url;
  std::string bindDn;
  std::string passwordFile;
  bool startTls = false;                            // TLS on an ldap:// connection before the bind
  std::string tlsCaFile;                            // trusted certificates; the system's when empty
  std::string nameExtension;                        // a definition field whose values are further names
  int timeoutSeconds = kDefaultLdapTimeoutSeconds;  // the longest wait at each step
};

// ConfigHome()/corvane-client: $XDG_CONFIG_HOME/corvane-client, or ~/.config/corvane-client.
std::string ClientConfigFolder();
// The demo tree's schema file beside the program (or the first place looked at).
std::string DemoSchemaPath();
// The demo connection, primary, served from DemoSchemaPath().
ConnectionConfig DemoConnection();
// What reading a connections file took, for tests that see it stays one pass.
struct ConnectionsReadWork {
  std::size_t namesCompared = 0;  // a section's tree name against those before it
};

// Connections described by a connections file's text; relative paths count from folder.
// Lines that cannot be used are skipped with a warning naming sourceName and the line.
std::vector<ConnectionConfig> ParseConnections(std::string_view text, std::string_view sourceName,
                                               const std::string& folder, ConnectionsReadWork* work = nullptr);
// The connections of the configuration folder's connections.ini, or the demo connection
// when there is no such file; false with a reason when the file cannot be read.
bool ReadConnections(std::vector<ConnectionConfig>& out, std::string& error);

}  // namespace corvane::client
