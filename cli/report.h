// What corvanexml-check prints: text lines, a JSON document or a SARIF log.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "plain_sinks.h"
#include "xml_document.h"

namespace corvane::cli {

// One message with where it points in the source.
struct ReportedMessage {
  std::string text;
  int code = 0;
  std::uint32_t line = 0;    // 0: unknown
  std::uint32_t column = 0;  // 0: unknown
  // Labels from the top-level item down, the middle of a deep path elided; empty for none.
  std::vector<std::string> itemPath;
};

struct FileReport {
  std::string path;
  std::vector<ReportedMessage> messages;
};

// Collects the messages of one checked file with their source positions and tree labels.
FileReport MakeFileReport(const std::string& path, const PlainTree& tree, const XmlDocument* doc,
                          const std::vector<Message>& sorted, const std::optional<LoadError>& loadError);

// Writes the tree's items, one per line, two spaces of indent per depth.
void WriteTreeText(std::ostream& out, const PlainTree& tree, const XmlDocument* doc);
// Writes the message lines, one per line.
void WriteMessageText(std::ostream& out, const std::vector<Message>& sorted);

// The JSON document for all files.
std::string JsonReport(const std::vector<FileReport>& files);
// The SARIF 2.1.0 log for all files.
std::string SarifReport(const std::vector<FileReport>& files);

}  // namespace corvane::cli
