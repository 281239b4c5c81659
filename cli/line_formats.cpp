// The formats written file by file, a line per finding, and the summary line.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

#include "catalogue.h"
#include "report.h"
#include "rule_info.h"
#include "visible_text.h"

namespace corvane::cli {

namespace {

// The findings ordered by line and column; equal positions keep the list's order.
std::vector<const ReportedMessage*> ByPosition(const FileReport& file) {
  std::vector<const ReportedMessage*> findings;
  findings.reserve(file.messages.size());
  for (const ReportedMessage& m : file.messages) findings.push_back(&m);
  return InPositionOrder(std::move(findings), [](const ReportedMessage* m) -> const ReportedMessage& { return *m; });
}

// A workflow command's value with the characters GitHub reads as syntax escaped; a property
// value (inProperty) also may not hold the separators of the properties.
std::string EscapeWorkflowValue(std::string_view value, bool inProperty) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    switch (c) {
      case '%': out += "%25"; break;
      case '\r': out += "%0D"; break;
      case '\n': out += "%0A"; break;
      case ':': out += inProperty ? "%3A" : ":"; break;
      case ',': out += inProperty ? "%2C" : ","; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// The message's text as visible text (see VisibleText) on the lines the window shows: a
// parse error keeps the two line breaks before and after its "Line: N". Any other line
// break, from the file's text or a name, is a blank, so the file cannot add a line.
std::string ShownText(const ReportedMessage& m) {
  const std::string_view text = m.text;
  const auto line = ParseErrorLine(m);
  if (!line) return VisibleText(text);
  const auto [start, length] = *line;
  std::string shown = VisibleText(text.substr(0, start));
  shown.append(text.substr(start, length + 1));
  AppendVisible(shown, text.substr(start + length + 1));
  return shown;
}

// The shown text without its leading "Msg NNN: ", which the command's title carries.
std::string TextAfterCode(const ReportedMessage& m) {
  std::string text = ShownText(m);
  const std::string prefix = "Msg " + CodeDigits(m.code) + ": ";
  if (m.code != kUnusedDirective && text.starts_with(prefix)) text.erase(0, prefix.size());
  return text;
}

std::string CommandTitle(int code) {
  return code == kUnusedDirective ? std::string(RuleTitle(code)) : "Msg " + CodeDigits(code);
}

void AppendNumber(std::string& out, std::uint32_t n) {
  char digits[16];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

std::string Counted(std::size_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
}

}  // namespace

void WriteFindingLines(std::ostream& out, const FileReport& file) {
  // Lines are made in a buffer and written in large pieces: a file may have hundreds of
  // thousands of findings.
  constexpr std::size_t kChunk = 1 << 16;
  constexpr std::size_t kReadAhead = 8;
  // Room kept from file to file.
  thread_local std::string lines;
  thread_local std::string path;
  lines.clear();
  path.clear();
  AppendVisible(path, file.path);
  const std::vector<const ReportedMessage*> order = ByPosition(file);
  for (std::size_t i = 0; i < order.size(); ++i) {
    // The findings are read out of the list's order: each, and then its text, is asked for a
    // few lines ahead.
    if (i + 2 * kReadAhead < order.size()) __builtin_prefetch(order[i + 2 * kReadAhead]);
    if (i + kReadAhead < order.size()) __builtin_prefetch(order[i + kReadAhead]->text.data());
    const ReportedMessage* m = order[i];
    lines.append(path);
    if (m->line > 0) AppendNumber(lines.append(1, ':'), m->line);
    if (m->line > 0 && m->column > 0) AppendNumber(lines.append(1, ':'), m->column);
    // A finding stays one line, also when its message has line breaks (a parse error's),
    // and its file's text and name control no terminal.
    AppendVisible(lines.append(": "), m->text);
    lines.push_back('\n');
    if (lines.size() >= kChunk) {
      out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
      lines.clear();
    }
  }
  out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
}

void WriteMessageList(std::ostream& out, const FileReport& file) {
  for (const ReportedMessage& m : file.messages) out << ShownText(m) << '\n';
}

void WriteWorkflowCommands(std::ostream& out, const FileReport& file) {
  const std::string path = EscapeWorkflowValue(VisibleText(file.path), true);
  for (const ReportedMessage* m : ByPosition(file)) {
    out << "::" << Level(m->code) << " file=" << path;
    if (m->line > 0) out << ",line=" << m->line;
    if (m->line > 0 && m->column > 0) out << ",col=" << m->column;
    out << ",title=" << EscapeWorkflowValue(CommandTitle(m->code), true)
        << "::" << EscapeWorkflowValue(TextAfterCode(*m), false) << '\n';
  }
}

void Tally::add(const FileReport& file) {
  ++files;
  findings += file.messages.size();
  if (!file.messages.empty()) ++filesWithFindings;
}

std::string SummaryLine(const Tally& tally) {
  if (tally.findings == 0) return "no findings in " + Counted(tally.files, "file");
  return Counted(tally.findings, "finding") + " in " + Counted(tally.filesWithFindings, "file");
}

}  // namespace corvane::cli
