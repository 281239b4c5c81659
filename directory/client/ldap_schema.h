// Reads the schema of a live directory over LDAP, from the server's subschema entry.
#pragma once

#include <string>

#include "connections.h"
#include "schema_parser.h"

namespace corvane::client {

// Adds the attribute types and object classes that the server at config.url publishes,
// binding as config.bindDn with the password in config.passwordFile (anonymously without a
// bind DN). On failure returns false with a reason in error.
bool ReadLdapSchema(const ConnectionConfig& config, SchemaDefinitions& out, std::string& error);

}  // namespace corvane::client
