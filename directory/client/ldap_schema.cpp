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

// Why a subschema entry cannot serve as a tree, when it gave no attribute types or no object
// classes: a server whose access rules keep them from the bound identity returns the entry
// all the same, only without them, and against such a tree every name would be reported.
std::string MissingDefinitions(const std::string& base, bool noAttributeTypes, bool noObjectClasses,
                               const ConnectionConfig& config) {
  std::string missing = noAttributeTypes ? "no attribute types" : "";
  if (noObjectClasses) missing += missing.empty() ? "no object classes" : " and no object classes";
  if (missing.empty()) return {};
  return "the subschema entry " + base + " gives " + missing +
         "; the server's access rules may keep attributeTypes and objectClasses from " +
         (config.bindDn.empty() ? "anonymous users" : config.bindDn);
}

// The library would otherwise apply ldap.conf and any ldaprc in the current or home folder,
// which can turn off certificate checks behind the user's back; only the connections file
// configures a connection. The library reads them once, when first used; this is set while
// the program starts, before any other thread runs.
[[maybe_unused]] const bool kLibraryFilesIgnored =
    ::setenv("LDAPNOINIT", "1", 1) == 0;  // NOLINT(concurrency-mt-unsafe)

}  // namespace

bool ReadLdapSchema(const ConnectionConfig& config, SchemaDefinitions& out, LdapTreeFacts& facts, std::string& error) {
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
  const std::size_t attributeTypes = out.attributeTypes.size();
  const std::size_t objectClasses = out.objectClasses.size();
  ParseSchemaText(text, config.url, out);
  error = MissingDefinitions(base, out.attributeTypes.size() == attributeTypes,
                             out.objectClasses.size() == objectClasses, config);
  return error.empty();
}

}  // namespace corvane::client
