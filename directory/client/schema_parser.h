// Reads attribute type and object class definitions from schema text, in LDIF/subschema
// spelling ("attributeTypes:", "olcObjectClasses:", ...) and in OpenLDAP schema spelling
// ("attributetype ( ... )"), both possibly mixed in one file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::client {

// One attribute type as written.
struct AttributeTypeDefinition {
  std::string oid;
  std::vector<std::string> names;
};

enum class ClassKind { Structural, Abstract, Auxiliary };

// One object class as written; attribute and class references are names or OIDs.
struct ObjectClassDefinition {
  std::string oid;
  std::vector<std::string> names;
  std::vector<std::string> superClasses;
  ClassKind kind = ClassKind::Structural;
  std::vector<std::string> must;
  std::vector<std::string> may;
  std::vector<std::string> containedIn;  // X-CONTAINED-IN
  std::vector<std::string> namedBy;      // X-NAMED-BY
};

// Definitions in the order in which they were read.
struct SchemaDefinitions {
  std::vector<AttributeTypeDefinition> attributeTypes;
  std::vector<ObjectClassDefinition> objectClasses;
};

// Adds the definitions of text to out. A definition that cannot be parsed is skipped with
// a warning on standard error naming sourceName and its line.
void ParseSchemaText(std::string_view text, std::string_view sourceName, SchemaDefinitions& out);
// Reads and parses one file; on failure returns false and leaves a reason in error.
bool ReadSchemaFile(const std::string& path, SchemaDefinitions& out, std::string& error);

}  // namespace corvane::client
