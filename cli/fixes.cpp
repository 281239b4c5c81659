#include "fixes.h"

#include <algorithm>
#include <unordered_map>

#include "file_write.h"
#include "rule_info.h"
#include "warnings.h"

namespace corvane::cli {

namespace {

// Lines of a text, each with its line feed; the last one may have none.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

constexpr std::size_t kContext = 3;

// One line of a hunk; a last line without a line feed says so, as patch expects.
void AppendDiffLine(std::string& diff, char mark, std::string_view line) {
  diff.push_back(mark);
  diff.append(line);
  if (!line.ends_with('\n')) diff.append("\n\\ No newline at end of file\n");
}

// The hunk of lines [first, last) of both texts.
void AppendHunk(std::string& diff, const std::vector<std::string_view>& before,
                const std::vector<std::string_view>& after, std::size_t first, std::size_t last) {
  const std::string range = std::to_string(first + 1) + "," + std::to_string(last - first);
  diff.append("@@ -").append(range).append(" +").append(range).append(" @@\n");
  for (std::size_t i = first; i < last;) {
    if (before[i] == after[i]) {
      AppendDiffLine(diff, ' ', before[i++]);
      continue;
    }
    std::size_t end = i;
    while (end < last && before[end] != after[end]) ++end;
    for (std::size_t k = i; k < end; ++k) AppendDiffLine(diff, '-', before[k]);
    for (std::size_t k = i; k < end; ++k) AppendDiffLine(diff, '+', after[k]);
    i = end;
  }
}

// "PATH:LINE:COL: fixed Msg 009: "A B" -> "A_B"".
std::string ChangeLine(const std::string& path, const ReportedMessage& m, std::string_view old) {
  const SourcePosition at = m.fix->span.start;
  return path + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": fixed Msg " + CodeDigits(m.code) +
         ": \"" + std::string(old) + "\" -> \"" + m.fix->replacement + "\"";
}

// Whether --fix applies the finding's fix: a guess at the name meant is left to a reader.
bool Applied(const ReportedMessage& m) { return m.fix && m.fix->certain; }

// The findings with a fix to apply, in the file's order, one for each stretch of text: a
// class name may be the subject of several findings.
std::vector<const ReportedMessage*> FixedFindings(const FileReport& report) {
  std::vector<const ReportedMessage*> fixed;
  for (const ReportedMessage& m : report.messages) {
    if (Applied(m)) fixed.push_back(&m);
  }
  const auto offset = [](const ReportedMessage* m) { return m->fix->span.offset; };
  std::stable_sort(fixed.begin(), fixed.end(), [&](auto* a, auto* b) { return offset(a) < offset(b); });
  fixed.erase(std::unique(fixed.begin(), fixed.end(), [&](auto* a, auto* b) { return offset(a) == offset(b); }),
              fixed.end());
  return fixed;
}

}  // namespace

std::vector<std::unique_ptr<const Fix>> FindFixes(const Suggester& suggester, std::span<const ListedMessage> messages,
                                                  const PlainTree& tree, const XmlDocument& doc,
                                                  std::string_view source) {
  std::vector<std::unique_ptr<const Fix>> fixes(messages.size());
  std::vector<std::size_t> suggested;
  std::vector<Suggestion> suggestions;
  std::vector<SourcePosition> starts;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const ListedMessage& m = messages[i];
    std::optional<Suggestion> suggestion = suggester.of(m.code, m.text, PointedItem(m), tree, doc);
    // A change to another file (a key added to its bundle) is no fix of this one.
    if (!suggestion || suggestion->append) continue;
    suggested.push_back(i);
    starts.push_back(doc.position(suggestion->element));
    suggestions.push_back(std::move(*suggestion));
  }
  const std::vector<std::optional<std::size_t>> offsets = ByteOffsets(source, starts);
  // Several findings may name one element; its text is looked at once.
  std::unordered_map<NodeId, std::optional<SourceSpan>> spans;
  for (std::size_t k = 0; k < suggestions.size(); ++k) {
    if (!offsets[k]) continue;
    Suggestion& suggestion = suggestions[k];
    const auto [at, fresh] = spans.try_emplace(suggestion.element);
    if (fresh) at->second = TextElementSpan(source, *offsets[k], doc, suggestion.element);
    if (at->second) {
      fixes[suggested[k]] = std::make_unique<const Fix>(
          Fix{*at->second, std::move(suggestion.text), suggestion.description, suggestion.certain});
    }
  }
  return fixes;
}

std::string ApplyFixes(std::string_view source, std::vector<const Fix*> fixes) {
  std::sort(fixes.begin(), fixes.end(), [](const Fix* a, const Fix* b) { return a->span.offset < b->span.offset; });
  std::string fixed;
  fixed.reserve(source.size());
  std::size_t done = 0;
  for (const Fix* fix : fixes) {
    if (fix->span.offset < done) continue;  // the same text, named by another finding
    fixed.append(source.substr(done, fix->span.offset - done)).append(fix->replacement);
    done = fix->span.offset + fix->span.length;
  }
  return fixed.append(source.substr(done));
}

std::string UnifiedDiff(std::string_view before, std::string_view after, const std::string& path) {
  const std::vector<std::string_view> oldLines = Lines(before);
  const std::vector<std::string_view> newLines = Lines(after);
  const std::size_t count = std::min(oldLines.size(), newLines.size());
  std::string diff;
  for (std::size_t i = 0; i < count; ++i) {
    if (oldLines[i] == newLines[i]) continue;
    // A hunk runs on while the next change is close enough for the contexts to meet.
    std::size_t last = i + 1;
    for (std::size_t next = last; next < count && next < last + 2 * kContext; ++next) {
      if (oldLines[next] != newLines[next]) last = next + 1;
    }
    if (diff.empty()) diff.append("--- ").append(path).append("\n+++ ").append(path).append("\n");
    AppendHunk(diff, oldLines, newLines, i - std::min(i, kContext), std::min(count, last + kContext));
    i = last;
  }
  return diff;
}

void FixFile(const Options& options, FileReport& report, std::string_view source, std::ostream& out, std::ostream& err,
             RunSummary& run) {
  const std::vector<const ReportedMessage*> changes = FixedFindings(report);
  if (changes.empty()) return;
  std::vector<const Fix*> fixes;
  fixes.reserve(changes.size());
  for (const ReportedMessage* m : changes) fixes.push_back(&*m->fix);
  const std::string fixed = ApplyFixes(source, fixes);
  if (options.diff) {
    out << UnifiedDiff(source, fixed, report.path);
    return;
  }
  std::string reason;
  if (!WriteFileAtomically(report.fullPath, fixed, reason)) {
    run.fail(err, "cannot write the fixes to " + report.path + ": " + reason);
    return;
  }
  for (const ReportedMessage* m : changes) {
    WriteLine(err, ChangeLine(report.path, *m, source.substr(m->fix->span.offset, m->fix->span.length)));
  }
  std::erase_if(report.messages, Applied);
}

}  // namespace corvane::cli
