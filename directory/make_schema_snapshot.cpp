// Writes the C++ source of the demo tree's schema snapshot (client/schema_snapshot.h): the
// definitions the client's own parser finds in a schema file, beside the file's text.
// make_schema_snapshot SCHEMA_FILE OUTPUT_FILE; fails when the file cannot be read or the
// parser warns about any of it, so that the snapshot never stands for a parse that warns.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_read.h"
#include "file_write.h"
#include "schema_parser.h"
#include "warnings.h"

namespace {

using corvane::client::ClassKind;
using corvane::client::SchemaDefinitions;

// A C++ string literal of text: printable ASCII as it is, but for a backslash before quotes,
// backslashes and question marks (which a compiler may take for the start of a trigraph);
// newlines and tabs as \n and \t, any other byte as a three-digit octal escape, which no
// digit after it can lengthen.
std::string Literal(std::string_view text) {
  std::string literal = "\"";
  for (const char c : text) {
    if (c == '\n') {
      literal += "\\n";
    } else if (c == '\t') {
      literal += "\\t";
    } else if (c == '"' || c == '\\' || c == '?') {
      literal += '\\';
      literal += c;
    } else if (c >= ' ' && c <= '~') {
      literal += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      literal += '\\';
      for (int shift = 6; shift >= 0; shift -= 3) literal += static_cast<char>('0' + ((byte >> shift) & 7));
    }
  }
  return literal + '"';
}

// The text as one string_view literal, a line of the source for each of its lines.
std::string TextLiteral(std::string_view text) {
  std::string literal;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
    literal += "\n    " + Literal(text.substr(0, end));
    text.remove_prefix(end);
  }
  return (literal.empty() ? "\"\"" : literal) + "sv";
}

// Every list of values the definitions hold, one after another in one array; each list is
// written as the span of that array it takes.
class ValueLists {
 public:
  std::string span(const std::vector<std::string>& values) {
    if (values.empty()) return "{}";
    std::string span = "{kValues.data() + " + std::to_string(count_) + ", " + std::to_string(values.size()) + "}";
    for (const std::string& value : values) entries_ += "\n    " + Literal(value) + "sv,";
    count_ += values.size();
    return span;
  }
  std::string array() const {
    return "constexpr std::array<std::string_view, " + std::to_string(count_) + "> kValues{" + entries_ + "\n};\n";
  }

 private:
  std::string entries_;
  std::size_t count_ = 0;
};

std::string_view KindName(ClassKind kind) {
  switch (kind) {
    case ClassKind::Structural: return "ClassKind::Structural";
    case ClassKind::Abstract: return "ClassKind::Abstract";
    case ClassKind::Auxiliary: return "ClassKind::Auxiliary";
  }
  return {};
}

std::string SnapshotSource(std::string_view fileName, std::string_view text, const SchemaDefinitions& definitions) {
  ValueLists values;
  std::string attributes;
  for (const auto& a : definitions.attributeTypes)
    attributes += "\n    {" + Literal(a.oid) + "sv, " + values.span(a.names) + "},";
  std::string classes;
  // Appended one after another: the spans are taken from values in the order written.
  for (const auto& c : definitions.objectClasses) {
    classes += "\n    {" + Literal(c.oid) + "sv";
    for (const auto* list : {&c.names, &c.superClasses}) classes += ", " + values.span(*list);
    classes += ", ";
    classes += KindName(c.kind);
    for (const auto* list : {&c.must, &c.may, &c.containedIn, &c.namedBy}) classes += ", " + values.span(*list);
    classes += ", " + std::to_string(c.where.line) + "},";
  }
  return "// Made by make_schema_snapshot from " + std::string(fileName) +
         "; not to be edited.\n"
         "#include <array>\n\n"
         "#include \"schema_snapshot.h\"\n\n"
         "namespace corvane::client {\n"
         "namespace {\n\n"
         "using namespace std::string_view_literals;\n\n"
         "constexpr std::string_view kText =" +
         TextLiteral(text) + ";\n\n" + values.array() + "\nconstexpr std::array<SnapshotAttributeType, " +
         std::to_string(definitions.attributeTypes.size()) + "> kAttributeTypes{{" + attributes +
         "\n}};\n\nconstexpr std::array<SnapshotObjectClass, " + std::to_string(definitions.objectClasses.size()) +
         "> kObjectClasses{{" + classes +
         "\n}};\n\n"
         "}  // namespace\n\n"
         "constinit const SchemaSnapshot kDemoSchemaSnapshot{kText, kAttributeTypes, kObjectClasses};\n\n"
         "}  // namespace corvane::client\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_schema_snapshot SCHEMA_FILE OUTPUT_FILE\n";
    return 2;
  }
  const std::string path = argv[1];
  std::string reason;
  const std::optional<std::string> text = corvane::ReadRegularFile(path, reason);
  if (!text) {
    std::cerr << path << ": " << reason << '\n';
    return 1;
  }
  SchemaDefinitions definitions;
  const corvane::WarningCapture warnings;
  corvane::client::ParseSchemaText(*text, path, definitions);
  if (!warnings.lines().empty()) {
    std::cerr << path << ": the demo tree's schema must be read without a warning\n";
    return 1;
  }
  const std::string fileName = std::filesystem::path(path).filename().string();
  if (!corvane::WriteFileAtomically(argv[2], SnapshotSource(fileName, *text, definitions), reason)) {
    std::cerr << argv[2] << ": " << reason << '\n';
    return 1;
  }
  return 0;
}
