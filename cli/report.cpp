#include "report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "catalogue.h"

namespace corvane::cli {

namespace {

using json = nlohmann::ordered_json;

std::string CodeText(int code) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", code);
  return digits;
}

std::string RuleId(int code) { return "Msg" + CodeText(code); }

// A path as a URI reference: relative paths stay relative, absolute ones become file URIs.
std::string PathUri(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string uri = !path.empty() && path[0] == '/' ? "file://" : "";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(hex[c >> 4]);
      uri.push_back(hex[c & 15]);
    }
  }
  return uri;
}

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
    if (items[item].depth < kPathLabels) return tree_.labelPath(item, doc_);
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
      for (TreeItem i = 0; i < items.size(); ++i) heads_[i] = items[i].depth < kPathHead ? i : heads_[items[i].parent];
    }
    return heads_[item];
  }

  const PlainTree& tree_;
  const XmlDocument* doc_;
  std::vector<TreeItem> heads_;
};

// Lines deeper than this are indented as deep as this, and say their depth in figures.
constexpr std::uint32_t kIndentDepth = 100;

std::string Dump(const json& document) { return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

FileReport MakeFileReport(const std::string& path, const PlainTree& tree, const XmlDocument* doc,
                          const std::vector<Message>& sorted, const std::optional<LoadError>& loadError) {
  FileReport report{path, {}};
  report.messages.reserve(sorted.size());
  ItemPaths paths(tree, doc);
  for (const Message& m : sorted) {
    ReportedMessage r;
    r.text = m.text;
    r.code = m.code;
    if (m.item != kNoItem) {
      const NodeId node = tree.items()[m.item].node;
      if (doc != nullptr && node != kNoNode) {
        r.line = doc->node(node).line;
        r.column = doc->node(node).column;
      }
      r.itemPath = paths.of(m.item);
    } else if (loadError) {
      r.line = loadError->line;
      r.column = loadError->column;
    }
    report.messages.push_back(std::move(r));
  }
  return report;
}

void WriteTreeText(std::ostream& out, const PlainTree& tree, const XmlDocument* doc) {
  // Written in pieces: the tree of a large file is larger than the file.
  constexpr std::size_t kChunk = 1 << 16;
  std::string text;
  for (TreeItem i = 0; i < tree.items().size(); ++i) {
    const std::uint32_t depth = tree.items()[i].depth;
    text.append(2 * std::min(depth, kIndentDepth), ' ');
    if (depth > kIndentDepth) text.append("[depth ").append(std::to_string(depth)).append("] ");
    text.append(tree.label(i, doc)).push_back('\n');
    if (text.size() >= kChunk) {
      out << text;
      text.clear();
    }
  }
  out << text;
}

void WriteMessageText(std::ostream& out, const std::vector<Message>& sorted) {
  for (const Message& m : sorted) out << m.text << '\n';
}

std::string JsonReport(const std::vector<FileReport>& files) {
  json list = json::array();
  for (const FileReport& file : files) {
    json messages = json::array();
    for (const ReportedMessage& m : file.messages) {
      json entry{{"text", m.text}, {"code", CodeText(m.code)}};
      entry["line"] = m.line > 0 ? json(m.line) : json(nullptr);
      entry["column"] = m.column > 0 ? json(m.column) : json(nullptr);
      entry["item"] = m.itemPath.empty() ? json(nullptr) : json(m.itemPath);
      messages.push_back(std::move(entry));
    }
    list.push_back({{"path", file.path}, {"messages", std::move(messages)}});
  }
  return Dump({{"files", std::move(list)}});
}

std::string SarifReport(const std::vector<FileReport>& files) {
  json rules = json::array();
  for (const MessageCode code : kAllMessageCodes) {
    rules.push_back({{"id", RuleId(code)},
                     {"shortDescription", {{"text", std::string(MessageTitle(code))}}},
                     {"defaultConfiguration", {{"level", code == kXmlError ? "error" : "warning"}}}});
  }
  json results = json::array();
  for (const FileReport& file : files) {
    for (const ReportedMessage& m : file.messages) {
      json physical{{"artifactLocation", {{"uri", PathUri(file.path)}}}};
      if (m.line > 0) {
        physical["region"] = {{"startLine", m.line}};
        if (m.column > 0) physical["region"]["startColumn"] = m.column;
      }
      json result{{"ruleId", RuleId(m.code)},
                  {"level", m.code == kXmlError ? "error" : "warning"},
                  {"message", {{"text", m.text}}},
                  {"locations", json::array({{{"physicalLocation", std::move(physical)}}})}};
      const auto index = std::find(std::begin(kAllMessageCodes), std::end(kAllMessageCodes), m.code) - std::begin(kAllMessageCodes);
      result["ruleIndex"] = index;
      results.push_back(std::move(result));
    }
  }
  json run{{"tool",
            {{"driver", {{"name", "corvanexml-check"}, {"version", "1.02"}, {"rules", std::move(rules)}}}}},
           {"columnKind", "unicodeCodePoints"},
           {"results", std::move(results)}};
  return Dump({{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
               {"version", "2.1.0"},
               {"runs", json::array({std::move(run)})}});
}

}  // namespace corvane::cli
