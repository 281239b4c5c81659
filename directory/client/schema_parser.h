// Reads attribute type and object class definitions from schema text, in LDIF/subschema
// spelling ("attributeTypes:", "olcObjectClasses:", ...) and in OpenLDAP schema spelling
// ("attributetype ( ... )"), both possibly mixed in one file. A keyword line of schema
// spelling may be indented; an indented LDIF definition is warned about and skipped, since
// LDIF reads it as the continuation of the line before.
#pragma once

#include <cstddef>
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

// Where a definition begins: one of SchemaDefinitions::sources and a line of it.
struct SourceLine {
  std::size_t source = 0;
  std::size_t line = 0;
};

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
  SourceLine where;
};

// Definitions in the order in which they were read.
struct SchemaDefinitions {
  std::vector<AttributeTypeDefinition> attributeTypes;
  std::vector<ObjectClassDefinition> objectClasses;
  std::vector<std::string> sources;  // the files or servers read, for warnings
  // An extension field (X-..., upper case) whose values are further names of a definition,
  // after its NAME values; empty for none.
  std::string nameExtension;

  // "source:line" of a definition.
  std::string describe(SourceLine where) const;
};

// Adds the definitions of text to out and returns how many. A definition that cannot be
// parsed is skipped with a warning on standard error naming sourceName and its line.
std::size_t ParseSchemaText(std::string_view text, std::string_view sourceName, SchemaDefinitions& out);

}  // namespace corvane::client
