// The JSON document and the SARIF log.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>
#include <unordered_map>

#include "d_util.h"
#include "report.h"
#include "rule_info.h"
#include "visible_text.h"

namespace corvane::cli {

namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

std::string Dump(const json& document) { return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n"; }

// A path as a URI reference: relative paths stay relative, absolute ones become file URIs.
std::string PathUri(const std::string& path) {
  return (!path.empty() && path[0] == '/' ? "file://" : "") + PercentEncoded(path);
}

constexpr char kSourceRoot[] = "%SRCROOT%";

// A full path without ".." steps, each taken as the file system takes it: the folder up to
// the last ".." is resolved, links and all, and what follows it stays as named.
fs::path WithoutDotDot(const std::string& fullPath) {
  fs::path path(fullPath);
  auto afterLast = path.begin();
  for (auto it = path.begin(); it != path.end(); ++it) {
    if (*it == "..") afterLast = std::next(it);
  }
  if (afterLast == path.begin()) return path;
  fs::path head;
  for (auto it = path.begin(); it != afterLast; ++it) head /= *it;
  std::error_code ec;
  fs::path resolved = fs::canonical(head, ec);
  if (ec) return path.lexically_normal();
  for (auto it = afterLast; it != path.end(); ++it) resolved /= *it;
  return resolved;
}

// Artifact locations relative to the current folder, so that a log made in a checkout
// names the same files on every machine. Files outside it keep their full path.
class ArtifactLocations {
 public:
  ArtifactLocations() {
    std::error_code ec;
    root_ = fs::current_path(ec);
  }

  json of(const FileReport& file) const {
    if (file.fullPath.empty()) return {{"uri", PathUri(file.path)}};
    const fs::path full = WithoutDotDot(file.fullPath);
    const fs::path below = root_.empty() ? fs::path() : full.lexically_relative(root_);
    if (below.empty() || *below.begin() == "..") return {{"uri", PathUri(full.string())}};
    return {{"uri", PathUri(below.generic_string())}, {"uriBaseId", kSourceRoot}};
  }

  // The folder that paths in finding texts are written relative to.
  const fs::path& root() const { return root_; }

  // The folder %SRCROOT% stands for, as SARIF wants it: a file URI ending in "/".
  json baseIds() const {
    if (root_.empty()) return json::object();
    std::string folder = root_.string();
    if (!folder.ends_with('/')) folder.push_back('/');
    return {{kSourceRoot, {{"uri", PathUri(folder)}}}};
  }

 private:
  fs::path root_;
};

// FNV-1a, 64 bits: stable across runs and machines, unlike std::hash.
std::string StableHash(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return ZeroPadded(hash, 16, 16);
}

// Fingerprints that survive edits which move lines and a move of the checkout: the file, the
// rule and the portable text, with the occurrence's number among equal findings.
class Fingerprints {
 public:
  std::string of(const json& location, int code, const std::string& text) {
    std::string key = location["uri"].get<std::string>();
    key.append(1, '\0').append(RuleId(code)).append(1, '\0').append(text);
    const std::string hash = StableHash(key);
    return hash + ":" + std::to_string(++seen_[hash]);
  }

 private:
  std::unordered_map<std::string, int> seen_;
};

json RuleDescriptors() {
  const std::string helpUri = ReadmeUri() + "#messages";
  json rules = json::array();
  for (const RuleInfo& rule : Rules()) {
    rules.push_back({{"id", RuleId(rule.code)},
                     {"name", rule.name},
                     {"shortDescription", {{"text", RuleTitle(rule.code)}}},
                     {"fullDescription", {{"text", rule.description}}},
                     {"help", {{"text", std::string(rule.description) + " " + std::string(rule.fix)}}},
                     {"helpUri", helpUri},
                     {"defaultConfiguration", {{"level", Level(rule.code)}}}});
  }
  return rules;
}

// The stretch of text a fix replaces: its first character and the one just past it.
json SpanRegion(const SourceSpan& span) {
  return {{"startLine", span.start.line},
          {"startColumn", span.start.column},
          {"endLine", span.end.line},
          {"endColumn", span.end.column}};
}

json SarifFix(const Fix& fix, const json& location) {
  json replacement{{"deletedRegion", SpanRegion(fix.span)}, {"insertedContent", {{"text", fix.replacement}}}};
  json change{{"artifactLocation", location}, {"replacements", json::array({std::move(replacement)})}};
  return {{"description", {{"text", fix.description}}}, {"artifactChanges", json::array({std::move(change)})}};
}

json Result(const ReportedMessage& m, const json& location, const std::string& fingerprint) {
  json physical{{"artifactLocation", location}};
  if (m.line > 0) {
    physical["region"] = {{"startLine", m.line}};
    if (m.column > 0) physical["region"]["startColumn"] = m.column;
  }
  json result{{"ruleId", RuleId(m.code)},
              {"ruleIndex", RuleIndex(m.code)},
              {"level", Level(m.code)},
              {"message", {{"text", m.text}}},
              {"locations", json::array({{{"physicalLocation", std::move(physical)}}})},
              {"partialFingerprints", {{"corvanexmlFinding/v1", fingerprint}}}};
  if (m.fix) result["fixes"] = json::array({SarifFix(*m.fix, location)});
  return result;
}

// A file's findings with the kind of suppression of each (none: reported), by position, so
// that equal findings are numbered alike whichever of them are suppressed.
std::vector<std::pair<const ReportedMessage*, const char*>> FindingsByPosition(const FileReport& file) {
  std::vector<std::pair<const ReportedMessage*, const char*>> findings;
  findings.reserve(file.messages.size() + file.silenced.size() + file.excused.size());
  for (const ReportedMessage& m : file.messages) findings.emplace_back(&m, nullptr);
  for (const ReportedMessage& m : file.silenced) findings.emplace_back(&m, "inSource");
  for (const ReportedMessage& m : file.excused) findings.emplace_back(&m, "external");
  return InPositionOrder(std::move(findings),
                         [](const auto& finding) -> const ReportedMessage& { return *finding.first; });
}

json Notification(std::string_view text) { return {{"level", "error"}, {"message", {{"text", std::string(text)}}}}; }

}  // namespace

std::string ReadmeUri() { return PathUri(ProgramDataFile("README.md")); }

RecordedPath RecordPath(const std::string& path) {
  if (IsValidUtf8(path)) return {path, false};
  static const char* hex = "0123456789ABCDEF";
  RecordedPath recorded{{}, true};
  for (std::size_t i = 0; i < path.size();) {
    const Utf8Char ch = NextUtf8Char(path, i);
    if (ch.wellFormed && path[i] != '%') {
      recorded.text.append(path, i, ch.size);
      i += ch.size;
      continue;
    }
    const auto c = static_cast<unsigned char>(path[i++]);
    recorded.text.push_back('%');
    recorded.text.push_back(hex[c >> 4]);
    recorded.text.push_back(hex[c & 15]);
  }
  return recorded;
}

std::optional<std::string> RecordedPathBytes(const std::string& text, bool percent) {
  if (!percent) return text;
  return PercentDecoded(text);
}

std::string JsonReport(const std::vector<FileReport>& files) {
  json list = json::array();
  for (const FileReport& file : files) {
    json messages = json::array();
    for (const ReportedMessage& m : file.messages) {
      const std::string digits = CodeDigits(m.code);
      json entry{{"text", m.text},
                 {"code", digits.empty() ? json(nullptr) : json(digits)},
                 {"rule", RuleId(m.code)},
                 {"level", Level(m.code)}};
      entry["line"] = m.line > 0 ? json(m.line) : json(nullptr);
      entry["column"] = m.column > 0 ? json(m.column) : json(nullptr);
      entry["item"] = m.itemPath ? json(*m.itemPath) : json(nullptr);
      if (m.fix) {
        json suggestion{{"text", m.fix->replacement}, {"description", m.fix->description}};
        suggestion.update(SpanRegion(m.fix->span));
        entry["suggestion"] = std::move(suggestion);
      }
      messages.push_back(std::move(entry));
    }
    const RecordedPath path = RecordPath(file.path);
    json entry{{"path", path.text}};
    if (path.percent) entry["pathEncoding"] = "percent";
    entry["messages"] = std::move(messages);
    list.push_back(std::move(entry));
  }
  return Dump({{"version", CORVANE_VERSION}, {"files", std::move(list)}});
}

std::string SarifReport(const std::vector<FileReport>& files, const RunSummary& run) {
  const ArtifactLocations locations;
  Fingerprints fingerprints;
  json results = json::array();
  json notifications = json::array();
  for (const std::string& trouble : run.troubles) notifications.push_back(Notification(trouble));
  for (const FileReport& file : files) {
    const json location = locations.of(file);
    if (file.unreadable) {
      // A file that could not be read has no finding, only the reason the tool failed on it.
      for (const ReportedMessage& m : file.messages) {
        json notification = Notification(m.text);
        notification["locations"] = json::array({{{"physicalLocation", {{"artifactLocation", location}}}}});
        notifications.push_back(std::move(notification));
      }
      continue;
    }
    for (const auto& [m, suppression] : FindingsByPosition(file)) {
      json result = Result(*m, location, fingerprints.of(location, m->code, PortableText(file, *m, locations.root())));
      if (suppression != nullptr) result["suppressions"] = json::array({{{"kind", suppression}}});
      results.push_back(std::move(result));
    }
  }
  json driver{{"name", "corvanexml-check"},
              {"version", CORVANE_VERSION},
              {"informationUri", ReadmeUri()},
              {"rules", RuleDescriptors()}};
  json invocation{{"executionSuccessful", run.successful}, {"toolExecutionNotifications", std::move(notifications)}};
  json sarifRun{{"tool", {{"driver", std::move(driver)}}},
                {"invocations", json::array({std::move(invocation)})},
                {"originalUriBaseIds", locations.baseIds()},
                {"columnKind", "unicodeCodePoints"},
                {"results", std::move(results)}};
  return Dump({{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
               {"version", "2.1.0"},
               {"runs", json::array({std::move(sarifRun)})}});
}

}  // namespace corvane::cli
