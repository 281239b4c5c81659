// Schema files as a tree configured with them reads them.
#pragma once

#include <string>

#include "schema_parser.h"

namespace corvane::client {

// Reads one file and adds its definitions to out; false with the whole message in error
// when the file cannot be read or holds no definition that can be used. A file holding
// exactly the demo tree's schema as the build found it is not parsed again: its definitions
// come from the build's snapshot, the same as a parse would give.
bool ReadSchemaFile(const std::string& path, SchemaDefinitions& out, std::string& error);

}  // namespace corvane::client
