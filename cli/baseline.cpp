#include "baseline.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "d_util.h"
#include "file_read.h"
#include "file_write.h"
#include "rule_info.h"
#include "scan.h"

namespace corvane::cli {

namespace {

using json = nlohmann::ordered_json;

// Version 2 records texts as PortableText gives them; version 1 recorded them as printed,
// which is how its baselines are still matched.
constexpr int kFormatVersion = 2;
constexpr int kPrintedTextsVersion = 1;

// Paths are recorded relative to the baseline's own folder, so that a baseline kept in a
// repository holds for every checkout of it.
std::string FolderOf(const std::string& baselineFile) {
  std::error_code ec;
  return std::filesystem::path(FullPathToCheck(baselineFile, ec)).parent_path().string();
}

std::string PathBelow(const FileReport& file, const std::string& folder) {
  if (file.fullPath.empty()) return file.path;
  const std::filesystem::path below = std::filesystem::path(file.fullPath).lexically_relative(folder);
  return below.empty() ? file.fullPath : below.generic_string();
}

struct Entry {
  std::string path;  // the bytes of the name, see RecordPath
  std::string rule;
  std::string text;

  auto operator<=>(const Entry&) const = default;
  std::string key() const { return path + '\0' + rule + '\0' + text; }
};

std::optional<Entry> EntryOf(const json& j) {
  const auto field = [&j](const char* name) -> const json* {
    const auto it = j.find(name);
    return it != j.end() && it->is_string() ? &*it : nullptr;
  };
  if (!j.is_object() || !field("path") || !field("rule") || !field("text")) return std::nullopt;
  // Baselines written before names that are not UTF-8 were encoded have no pathEncoding.
  const json* encoding = field("pathEncoding");
  if (j.contains("pathEncoding") && (!encoding || *encoding != "percent")) return std::nullopt;
  std::optional<std::string> path = RecordedPathBytes(*field("path"), encoding != nullptr);
  if (!path) return std::nullopt;
  return Entry{std::move(*path), *field("rule"), *field("text")};
}

// A message's text as the baseline holds it: JSON has only UTF-8, so a byte that is not
// UTF-8 (in a name the message quotes, such as a bundle's path) was written as U+FFFD.
std::string RecordedText(const std::string& text) {
  if (IsValidUtf8(text)) return text;
  return json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace)).get<std::string>();
}

}  // namespace

std::string Baseline::textOf(const FileReport& file, const ReportedMessage& m) const {
  return RecordedText(printedTexts_ ? std::string(m.text) : PortableText(file, m, folder_));
}

std::optional<Baseline> Baseline::Read(const std::string& file, std::string& error) {
  std::string reason;
  const std::optional<std::string> text = ReadRegularFile(file, reason);
  if (!text) {
    error = "cannot read the baseline " + file + ": " + reason;
    return std::nullopt;
  }
  const json document = json::parse(*text, nullptr, false);
  const auto findings = document.is_object() ? document.find("findings") : document.end();
  if (findings == document.end() || !findings->is_array()) {
    error = file + " is no baseline: a JSON object with a \"findings\" list was expected";
    return std::nullopt;
  }
  const auto version = document.find("version");
  Baseline baseline(FolderOf(file), version != document.end() && *version == kPrintedTextsVersion);
  for (const json& j : *findings) {
    const std::optional<Entry> entry = EntryOf(j);
    if (!entry) {
      error = file +
              " is no baseline: each finding needs a \"path\", a \"rule\" and a \"text\"; a "
              "\"pathEncoding\" must be \"percent\", with each % in the path followed by two hex digits";
      return std::nullopt;
    }
    ++baseline.counts_[entry->key()];
  }
  return baseline;
}

void Baseline::excuse(FileReport& file) {
  const std::string path = PathBelow(file, folder_);
  const auto excused = [&](const ReportedMessage& m) {
    if (file.failureOf(m)) return false;  // not a finding: the file must be checked through again
    const auto it = counts_.find(Entry{path, RuleId(m.code), textOf(file, m)}.key());
    if (it == counts_.end() || it->second == 0) return false;
    --it->second;
    return true;
  };
  std::vector<ReportedMessage> reported;
  for (ReportedMessage& m : file.messages) (excused(m) ? file.excused : reported).push_back(std::move(m));
  file.messages = std::move(reported);
}

bool WriteBaseline(const std::string& file, const std::vector<FileReport>& files, std::string& reason) {
  const std::string folder = FolderOf(file);
  std::vector<Entry> entries;
  for (const FileReport& report : files) {
    const std::string path = PathBelow(report, folder);
    for (const ReportedMessage& m : report.messages) {
      if (!report.failureOf(m)) entries.push_back({path, RuleId(m.code), PortableText(report, m, folder)});
    }
  }
  // Sorted, so that a baseline kept under version control changes only where findings do.
  std::sort(entries.begin(), entries.end());
  json findings = json::array();
  for (const Entry& e : entries) {
    const RecordedPath path = RecordPath(e.path);
    json entry{{"path", path.text}};
    if (path.percent) entry["pathEncoding"] = "percent";
    entry["rule"] = e.rule;
    entry["text"] = e.text;
    findings.push_back(std::move(entry));
  }
  const json document{{"version", kFormatVersion}, {"findings", std::move(findings)}};
  return WriteFileAtomically(file, document.dump(2, ' ', false, json::error_handler_t::replace) + "\n", reason);
}

}  // namespace corvane::cli
