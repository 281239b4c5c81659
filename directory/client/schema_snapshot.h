// Schema definitions parsed when the program was built, kept as constant data beside the
// text they were parsed from, so that a schema file holding exactly that text needs no parse.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "schema_parser.h"

namespace corvane::client {

struct SnapshotAttributeType {
  std::string_view oid;
  std::span<const std::string_view> names;
};

struct SnapshotObjectClass {
  std::string_view oid;
  std::span<const std::string_view> names;
  std::span<const std::string_view> superClasses;
  ClassKind kind;
  std::span<const std::string_view> must;
  std::span<const std::string_view> may;
  std::span<const std::string_view> containedIn;
  std::span<const std::string_view> namedBy;
  std::size_t line;  // where the class begins in the text
};

// A schema text and the definitions a parse of it gives without a name extension; only a
// text that parses without a warning is kept so.
struct SchemaSnapshot {
  std::string_view text;
  std::span<const SnapshotAttributeType> attributeTypes;
  std::span<const SnapshotObjectClass> objectClasses;
};

// The demo tree's schema as the build found it.
extern const SchemaSnapshot kDemoSchemaSnapshot;

// Adds the snapshot's definitions to out and returns how many, as ParseSchemaText(
// snapshot.text, sourceName, out) would when out has no name extension.
std::size_t AddSnapshotDefinitions(const SchemaSnapshot& snapshot, std::string_view sourceName, SchemaDefinitions& out);

}  // namespace corvane::client
