#include "diagnostics.h"

#include <optional>
#include <vector>

#include "catalogue.h"
#include "json_text.h"
#include "rule_info.h"
#include "source_span.h"

namespace corvane::lsp {

namespace {

using nlohmann::json;

constexpr int kSeverityError = 1;
constexpr int kSeverityWarning = 2;

// The bytes of the element (or comment) that starts at start: its text where the source
// writes it as it reads, else its start tag.
ByteRange ElementRange(std::string_view text, std::size_t start, const XmlDocument& doc, NodeId node) {
  if (doc.node(node).kind() == NodeKind::Element && doc.isTextElement(node)) {
    if (const std::optional<SourceSpan> value = TextElementSpan(text, start, doc, node)) {
      return {value->offset, value->length};
    }
  }
  const std::optional<std::size_t> end = StartTagEnd(text, start);
  return {start, end ? *end + 1 - start : 0};
}

// A quick fix as a diagnostic's data carries it, its range counted as the session counts.
json FixJson(const QuickFix& fix, const LineIndex& lines, PositionEncoding encoding) {
  json data = {{"title", fix.title}, {"preferred", fix.preferred}, {"newText", fix.newText}};
  if (!fix.path.empty()) {
    data["path"] = fix.path;
  } else {
    data["range"] = RangeJson(lines, fix.range, encoding);
  }
  return data;
}

}  // namespace

json PositionJson(const Position& p) { return {{"line", p.line}, {"character", p.character}}; }

json RangeJson(const LineIndex& lines, ByteRange range, PositionEncoding encoding) {
  return {{"start", PositionJson(lines.position(range.offset, encoding))},
          {"end", PositionJson(lines.position(range.offset + range.length, encoding))}};
}

DiagnosticList Diagnostics(const cli::FileReport& report, const XmlDocument* doc, std::string_view text,
                           PositionEncoding encoding, std::span<const std::optional<QuickFix>> fixes) {
  // Every finding's place is found in one pass over the text.
  std::vector<SourcePosition> starts;
  starts.reserve(report.messages.size());
  for (const cli::ReportedMessage& m : report.messages) starts.push_back({m.line, m.column});
  const std::vector<std::optional<std::size_t>> offsets = ByteOffsets(text, starts);
  const LineIndex lines(text);
  const std::string href = cli::ReadmeUri() + "#messages";
  DiagnosticList list;
  list.text.pop_back();  // "[]" without its end, which is written after the last
  for (std::size_t i = 0; i < report.messages.size(); ++i) {
    const cli::ReportedMessage& m = report.messages[i];
    ByteRange bytes;
    if (offsets[i] && doc != nullptr && m.node != kNoNode && m.node < doc->nodeCount()) {
      bytes = ElementRange(text, *offsets[i], *doc, m.node);
    } else if (offsets[i]) {
      bytes = {*offsets[i], lines.lineEnd(*offsets[i]) - *offsets[i]};
    }
    json diagnostic = {
        {"range", RangeJson(lines, bytes, encoding)},
        {"severity", m.code == kXmlError ? kSeverityError : kSeverityWarning},
        {"code", cli::RuleId(m.code)},
        {"codeDescription", {{"href", href}}},
        {"source", "corvanexml"},
        {"message", m.text},
    };
    if (i > 0) list.text += ',';
    // Each is written as it is made: a long list is never held as a tree.
    if (i < fixes.size() && fixes[i]) {
      diagnostic["data"] = {{"fix", FixJson(*fixes[i], lines, encoding)}};
      list.text += WriteJson(diagnostic);
      list.corrected.push_back(std::move(diagnostic));
    } else {
      list.text += WriteJson(diagnostic);
    }
  }
  list.text += ']';
  return list;
}

}  // namespace corvane::lsp
