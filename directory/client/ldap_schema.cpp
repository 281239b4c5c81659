#include "ldap_schema.h"

#include <cstdlib>

#include "d_util.h"
#include "ldap_connection.h"

namespace corvane::client {
namespace {

constexpr const char* kDefaultSubschema = "cn=Subschema";

// The definitions as LDIF lines, so that the one schema parser reads them.
void AppendAsLdif(std::string& text, const char* attribute, const std::vector<std::string>& values) {
  for (const auto& value : values)
    text.append(attribute).append(": ").append(ReplaceChars(value, "\r\n", ' ')).append("\n");
}

}  // namespace

bool ReadLdapSchema(const ConnectionConfig& config, SchemaDefinitions& out, LdapTreeFacts& facts, std::string& error) {
  // The library would otherwise apply ldap.conf and any ldaprc in the current or home
  // folder, which can turn off certificate checks behind the user's back; only the
  // connections file configures a connection. It reads them once, when first used.
  setenv("LDAPNOINIT", "1", 1);
  LdapConnection connection;
  if (!connection.open(config, error)) return false;
  // The root entry names the subschema entry; servers that do not say use the usual name.
  EntryValues root;
  if (!connection.readEntry("", "(objectClass=*)", {"subschemaSubentry", "namingContexts"}, root, error) &&
      !error.empty())
    return false;
  const std::string base = !root.empty() && !root[0].empty() ? root[0].front() : kDefaultSubschema;
  facts.namingContext = root.size() > 1 && !root[1].empty() ? root[1].front() : "";
  EntryValues schema;
  if (!connection.readEntry(base, "(objectClass=subschema)", {"attributeTypes", "objectClasses"}, schema, error)) {
    if (error.empty()) error = "the server has no subschema entry " + base;
    return false;
  }
  std::string text;
  AppendAsLdif(text, "attributeTypes", schema[0]);
  AppendAsLdif(text, "objectClasses", schema[1]);
  ParseSchemaText(text, config.url, out);
  return true;
}

}  // namespace corvane::client
