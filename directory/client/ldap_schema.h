// Reads the schema of a live directory over LDAP, from the server's subschema entry.
#pragma once

#include <string>

#include "connections.h"
#include "schema_parser.h"

namespace corvane::client {

// What a live directory says about itself beside its definitions.
struct LdapTreeFacts {
  std::string namingContext;  // the first naming context of the root entry, if any
};

// Adds the attribute types and object classes that the server at config.url publishes,
// connecting and binding as the connection describes. On failure, also when the server gives
// no attribute types or no object classes, returns false with a reason in error.
bool ReadLdapSchema(const ConnectionConfig& config, SchemaDefinitions& out, LdapTreeFacts& facts, std::string& error);

}  // namespace corvane::client
