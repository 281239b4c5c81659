// What corvanexml-check prints: finding lines, the window's message list, workflow
// commands, a JSON document or a SARIF log.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"
#include "key_order.h"
#include "plain_sinks.h"
#include "source_span.h"
#include "text_blocks.h"
#include "xml_document.h"

namespace corvane::cli {

// A finding's one certain correction and the bytes of the file it replaces.
struct Fix {
  SourceSpan span;
  std::string replacement;
  std::string_view description;  // what the change does
  bool certain = true;           // --fix and --diff apply only certain fixes; a guess is only shown
};

// One finding with where it points in the source.
struct ReportedMessage {
  std::string_view text;  // kept in its report's texts
  int code = 0;
  std::uint32_t line = 0;    // 0: unknown
  std::uint32_t column = 0;  // 0: unknown
  // Labels from the top-level item down, the middle of a deep path elided; null for none.
  // Held apart, as only JSON asks for them.
  std::unique_ptr<const std::vector<std::string>> itemPath;
  // Only where fixes were looked for; held apart, as few findings have one.
  std::unique_ptr<const Fix> fix;
  NodeId node = kNoNode;  // the element (or comment) it points at; kNoNode for none
};

// A finding's line and column as one key that orders by line, then column.
inline std::uint64_t PositionKey(std::uint32_t line, std::uint32_t column) {
  return std::uint64_t{line} << 32 | column;
}

// The position key of the finding that finding(item) gives, for each item.
template <typename Item, typename FindingOf>
std::vector<std::uint64_t> PositionKeys(const std::vector<Item>& items, FindingOf finding) {
  std::vector<std::uint64_t> keys;
  keys.reserve(items.size());
  for (const Item& item : items) {
    const ReportedMessage& m = finding(item);
    keys.push_back(PositionKey(m.line, m.column));
  }
  return keys;
}

// items ordered by the line, then the column, of the finding that finding(item) gives; equal
// positions keep their order. Sorted on compact keys rather than through the findings: a
// file may have hundreds of thousands. Most often they come in that order already (see
// ReportOrder), and are then given back as they are.
template <typename Item, typename FindingOf>
std::vector<Item> InPositionOrder(std::vector<Item> items, FindingOf finding) {
  const auto before = [&](const Item& a, const Item& b) {
    const ReportedMessage& first = finding(a);
    const ReportedMessage& second = finding(b);
    return PositionKey(first.line, first.column) < PositionKey(second.line, second.column);
  };
  if (std::is_sorted(items.begin(), items.end(), before)) return items;
  const std::vector<std::uint64_t> keys = PositionKeys(items, finding);
  std::vector<Item> ordered;
  ordered.reserve(items.size());
  for (const std::uint32_t i : StableKeyOrder(keys)) ordered.push_back(items[i]);
  return ordered;
}

struct FileReport {
  std::string path;                       // as the user gave it
  std::string fullPath;                   // as it was checked; empty for standard input without a name
  std::vector<ReportedMessage> messages;  // in the list's order, or by position (ReportOrder)
  TextBlocks texts;                       // where the texts of messages, silenced and excused are
  bool unreadable = false;                // its one message says why the file could not be read
  bool stopped = false;                   // the check stopped half-way; its Msg 100 says why
  // Findings kept out of the report, which SARIF still names as suppressed: those a directive
  // in the file silences, and those the baseline excuses.
  std::vector<ReportedMessage> silenced{};
  std::vector<ReportedMessage> excused{};

  // Whether m says why the file was not checked through: a failure of the run, no finding.
  bool failureOf(const ReportedMessage& m) const { return unreadable || (stopped && m.code == kXmlError); }
};

// What SARIF tells about the run besides the files' findings.
struct RunSummary {
  std::vector<std::string> troubles;  // what could not be checked or written, and why
  bool successful = true;             // nothing went wrong, not even a file that cannot be read

  // Records a trouble and says it on err.
  void fail(std::ostream& err, std::string trouble);
};

// Puts findings in line and column order, and those at one position in the list's order
// (by text, letter case ignored, equal texts as they come): the order that findings in the
// list's order take when they are put in line order.
void PutInPositionOrder(std::vector<ReportedMessage>& messages);
// Collects the messages of one checked file with their source positions (the element that
// holds what is wrong) and, with itemPaths, their tree labels.
// Their texts stay where they are: the report's texts are to hold them.
std::vector<ReportedMessage> ReportedMessages(const PlainTree& tree, const XmlDocument* doc,
                                              std::span<const ListedMessage> listed,
                                              const std::optional<LoadError>& loadError, bool itemPaths);
// The same in a report of the file at path (fullPath, with the folders named).
FileReport MakeFileReport(const std::string& path, const std::string& fullPath, const PlainTree& tree,
                          const XmlDocument* doc, std::span<const ListedMessage> listed,
                          const std::optional<LoadError>& loadError, bool itemPaths);
// Where an element or comment of doc starts, as a finding there reports it, with its text
// kept in texts.
ReportedMessage MessageAtNode(const XmlDocument& doc, NodeId node, std::string_view text, int code, TextBlocks& texts);

// Where a parse error's line number stands in its text: the "\nLine: N" after the reason, as
// offset and length; nothing for another message.
std::optional<std::pair<std::size_t, std::size_t>> ParseErrorLine(const ReportedMessage& m);
// The text that identifies a finding wherever the checkout lives and however lines move: the
// message with the file's web application folder written relative to base, and without a
// parse error's line number.
std::string PortableText(const FileReport& file, const ReportedMessage& m, const std::filesystem::path& base);

// Writes the tree's items, one per line, two spaces of indent per depth.
void WriteTreeText(std::ostream& out, const PlainTree& tree, const XmlDocument* doc);
// Writes one line per finding, PATH:LINE:COL: text, ordered by line and column.
void WriteFindingLines(std::ostream& out, const FileReport& file);
// Writes the messages as the window lists them, one per line.
void WriteMessageList(std::ostream& out, const FileReport& file);
// Writes one GitHub Actions workflow command per finding.
void WriteWorkflowCommands(std::ostream& out, const FileReport& file);

// Counts for the summary line.
struct Tally {
  std::size_t findings = 0;
  std::size_t filesWithFindings = 0;
  std::size_t files = 0;

  void add(const FileReport& file);
};
// "3 findings in 2 files", or "no findings in 5 files" (the files checked).
std::string SummaryLine(const Tally& tally);

// A file's path as JSON reports and baselines record it. A path that is UTF-8 is kept as it
// is; in another, "%" and each byte that is no part of valid UTF-8 are written %XX and
// percent is true (the record says "pathEncoding": "percent"), so the name stays exact.
struct RecordedPath {
  std::string text;
  bool percent = false;
};
RecordedPath RecordPath(const std::string& path);
// The path a record names; nothing when a percent-encoded text holds a "%" without two hex
// digits after it.
std::optional<std::string> RecordedPathBytes(const std::string& text, bool percent);

// The README shipped with the program as a file URI: until the project has a home page, the
// place that explains the tool and, in its message table, every rule.
std::string ReadmeUri();

// The JSON document for all files.
std::string JsonReport(const std::vector<FileReport>& files);
// The SARIF 2.1.0 log for all files; relative paths are taken from the current folder.
std::string SarifReport(const std::vector<FileReport>& files, const RunSummary& run);

}  // namespace corvane::cli
