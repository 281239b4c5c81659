#include "report.h"

#include <algorithm>
#include <string_view>

#include "d_util.h"
#include "rule_info.h"
#include "visible_text.h"
#include "web_app.h"

namespace corvane::cli {

namespace {

// A message's item path keeps at most kPathLabels labels: the first kPathHead (the file, the
// document element, the item element) and the last kPathTail, with "…" between them. A path
// as deep as the document would make the report quadratic in its depth.
constexpr std::size_t kPathLabels = 16;
constexpr std::uint32_t kPathHead = 3;
constexpr std::size_t kPathTail = kPathLabels - kPathHead - 1;
constexpr std::string_view kElided = "…";

// Item paths of one file. The item at depth kPathHead - 1 above each item is found once for
// the whole tree, when a path first needs it, so deep messages cost no walk to the top.
class ItemPaths {
 public:
  ItemPaths(const PlainTree& tree, const XmlDocument* doc) : tree_(tree), doc_(doc) {}

  std::vector<std::string> of(TreeItem item) {
    const auto& items = tree_.items();
    if (items[item].depth() < kPathLabels) return tree_.labelPath(item, doc_);
    std::vector<std::string> path;
    path.reserve(kPathLabels);
    for (TreeItem i = headOf(item); i != kNoItem; i = items[i].parent) path.push_back(tree_.label(i, doc_));
    std::reverse(path.begin(), path.end());
    path.emplace_back(kElided);
    const std::size_t tail = path.size();
    TreeItem i = item;
    for (std::size_t n = 0; n < kPathTail; ++n, i = items[i].parent) path.push_back(tree_.label(i, doc_));
    std::reverse(path.begin() + static_cast<std::ptrdiff_t>(tail), path.end());
    return path;
  }

 private:
  TreeItem headOf(TreeItem item) {
    const auto& items = tree_.items();
    if (heads_.empty()) {
      // Items come in pre-order: a parent always before its children.
      heads_.resize(items.size());
      for (TreeItem i = 0; i < items.size(); ++i)
        heads_[i] = items[i].depth() < kPathHead ? i : heads_[items[i].parent];
    }
    return heads_[item];
  }

  const PlainTree& tree_;
  const XmlDocument* doc_;
  std::vector<TreeItem> heads_;
};

// Lines deeper than this are indented as deep as this, and say their depth in figures.
constexpr std::uint32_t kIndentDepth = 100;

// A folder written relative to base, keeping its closing '/'; as it is when no relative path
// leads there.
std::string RelativeFolder(const std::string& folder, const std::filesystem::path& base) {
  const bool closed = folder.ends_with('/');
  const std::filesystem::path relative =
      std::filesystem::path(folder.substr(0, folder.size() - (closed ? 1 : 0))).lexically_relative(base);
  if (relative.empty()) return folder;
  if (relative == ".") return {};
  return relative.generic_string() + (closed ? "/" : "");
}

// Where a finding about tree item `at` points in the source: the start of its element; for
// a file that failed to load, where the load failed; line 0 when nowhere.
SourcePosition FindingPosition(const PlainTree& tree, const XmlDocument* doc, TreeItem at,
                               const std::optional<LoadError>& loadError) {
  if (at != kNoItem) return tree.positionAt(at, doc);
  if (loadError) return {loadError->line, loadError->column};
  return {};
}

}  // namespace

void PutInPositionOrder(std::vector<ReportedMessage>& messages) {
  const std::vector<std::uint64_t> keys =
      PositionKeys(messages, [](const ReportedMessage& m) -> const ReportedMessage& { return m; });
  std::vector<std::uint32_t> order = StableKeyOrder(keys);
  for (std::size_t first = 0; first < order.size();) {
    std::size_t end = first + 1;
    while (end < order.size() && keys[order[end]] == keys[order[first]]) ++end;
    if (end - first > 1) {
      std::stable_sort(
          order.begin() + static_cast<std::ptrdiff_t>(first), order.begin() + static_cast<std::ptrdiff_t>(end),
          [&](std::uint32_t a, std::uint32_t b) { return CompareText(messages[a].text, messages[b].text) < 0; });
    }
    first = end;
  }
  // A long report is put in order where it is, not copied.
  ApplyOrder(messages, order);
}

FileReport MakeFileReport(const std::string& path, const std::string& fullPath, const PlainTree& tree,
                          const XmlDocument* doc, std::span<const ListedMessage> sorted,
                          const std::optional<LoadError>& loadError, bool itemPaths) {
  FileReport report;
  report.path = path;
  report.fullPath = fullPath;
  report.unreadable = loadError && loadError->unreadable;
  report.messages = ReportedMessages(tree, doc, sorted, loadError, itemPaths);
  return report;
}

std::vector<ReportedMessage> ReportedMessages(const PlainTree& tree, const XmlDocument* doc,
                                              std::span<const ListedMessage> sorted,
                                              const std::optional<LoadError>& loadError, bool itemPaths) {
  std::vector<ReportedMessage> messages;
  messages.reserve(sorted.size());
  ItemPaths paths(tree, doc);
  // The messages are in the list's order, not the document's: each one's item, and then its
  // node, is asked for a few messages ahead.
  constexpr std::size_t kReadAhead = 8;
  const auto& items = tree.items();
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i + 2 * kReadAhead < sorted.size() && PointedItem(sorted[i + 2 * kReadAhead]) < items.size()) {
      __builtin_prefetch(&items[PointedItem(sorted[i + 2 * kReadAhead])]);
    }
    if (const TreeItem ahead = i + kReadAhead < sorted.size() ? PointedItem(sorted[i + kReadAhead]) : kNoItem;
        doc != nullptr && ahead < items.size() && items[ahead].node != kNoNode) {
      __builtin_prefetch(&doc->node(items[ahead].node));
    }
    const ListedMessage& m = sorted[i];
    ReportedMessage r;
    r.text = m.text;
    r.code = m.code;
    const TreeItem at = PointedItem(m);
    const SourcePosition position = FindingPosition(tree, doc, at, loadError);
    r.line = position.line;
    r.column = position.column;
    if (at < items.size()) r.node = items[at].node;
    if (itemPaths && at != kNoItem) {
      if (std::vector<std::string> path = paths.of(at); !path.empty()) {
        r.itemPath = std::make_unique<const std::vector<std::string>>(std::move(path));
      }
    }
    messages.push_back(std::move(r));
  }
  return messages;
}

ReportedMessage MessageAtNode(const XmlDocument& doc, NodeId node, std::string_view text, int code, TextBlocks& texts) {
  const SourcePosition at = doc.position(node);
  return {texts.add(text), code, at.line, at.column, {}, {}, node};
}

std::optional<std::pair<std::size_t, std::size_t>> ParseErrorLine(const ReportedMessage& m) {
  constexpr std::string_view kLine = "\nLine: ";
  if (m.code != kXmlError) return std::nullopt;
  const std::string_view text = m.text;
  const std::size_t line = text.rfind(kLine);
  if (line == std::string_view::npos) return std::nullopt;
  const std::size_t digits = line + kLine.size();
  const std::size_t end = text.find_first_not_of("0123456789", digits);
  if (end == std::string_view::npos || end == digits || text[end] != '\n') return std::nullopt;
  return std::pair{line, end - line};
}

std::string PortableText(const FileReport& file, const ReportedMessage& m, const std::filesystem::path& base) {
  std::string text(m.text);
  if (const auto line = ParseErrorLine(m)) text.erase(line->first, line->second);
  const std::string root = ExtractWebAppRoot(file.fullPath);
  if (root.empty()) return text;
  return ReplaceSub(text, root, RelativeFolder(root, base), true, true);
}

void WriteTreeText(std::ostream& out, const PlainTree& tree, const XmlDocument* doc) {
  // Written in pieces: the tree of a large file is larger than the file.
  constexpr std::size_t kChunk = 1 << 16;
  std::string text;
  for (TreeItem i = 0; i < tree.items().size(); ++i) {
    const std::uint32_t depth = tree.items()[i].depth();
    text.append(std::size_t{2} * std::min(depth, kIndentDepth), ' ');
    if (depth > kIndentDepth) text.append("[depth ").append(std::to_string(depth)).append("] ");
    AppendVisible(text, tree.label(i, doc));
    text.push_back('\n');
    if (text.size() >= kChunk) {
      out << text;
      text.clear();
    }
  }
  out << text;
}

}  // namespace corvane::cli
