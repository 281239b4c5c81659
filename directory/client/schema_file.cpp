#include "schema_file.h"

#include <optional>

#include "file_read.h"
#include "schema_snapshot.h"

namespace corvane::client {
namespace {

// The snapshot holds what a parse without a name extension gives.
std::size_t AddDefinitions(std::string_view text, std::string_view sourceName, SchemaDefinitions& out) {
  const SchemaSnapshot& demo = kDemoSchemaSnapshot;
  if (out.nameExtension.empty() && text == demo.text) return AddSnapshotDefinitions(demo, sourceName, out);
  return ParseSchemaText(text, sourceName, out);
}

}  // namespace

bool ReadSchemaFile(const std::string& path, SchemaDefinitions& out, std::string& error) {
  std::string reason;
  const std::optional<std::string> content = ReadRegularFile(path, reason);
  if (!content) {
    error = "cannot read schema file " + path + ": " + reason;
    return false;
  }
  // Checked against a schema without definitions every name would be reported.
  if (AddDefinitions(*content, path, out) == 0) {
    error = "schema file " + path + " holds no attribute type or object class definition";
    return false;
  }
  return true;
}

}  // namespace corvane::client
