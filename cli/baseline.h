// Baselines: the findings a project has accepted for now, so that only new ones are
// reported. Each is recorded as its file's path relative to the baseline's folder, its rule
// id and its message text with the web application's folder relative to the baseline's too;
// no line numbers, so a copy of the checkout and edits that move lines keep it recorded.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "report.h"

namespace corvane::cli {

class Baseline {
 public:
  // Reads a baseline file; nothing, with the reason in error, when it cannot be read or
  // holds no baseline.
  static std::optional<Baseline> Read(const std::string& file, std::string& error);

  // Moves the file's findings that the baseline records to its excused ones: each recorded
  // finding excuses one equal finding, so a second one is still reported.
  void excuse(FileReport& file);

 private:
  Baseline(std::string folder, bool printedTexts) : folder_(std::move(folder)), printedTexts_(printedTexts) {}

  // A finding's text as this baseline records it.
  std::string textOf(const FileReport& file, const ReportedMessage& m) const;

  std::string folder_;
  bool printedTexts_;                          // written by a version that recorded texts as printed
  std::map<std::string, std::size_t> counts_;  // by finding key, see the source
};

// Records the findings of files in a baseline file, written whole; false, with the reason,
// when it cannot be written.
bool WriteBaseline(const std::string& file, const std::vector<FileReport>& files, std::string& reason);

}  // namespace corvane::cli
