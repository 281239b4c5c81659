// Baselines: the findings a project has accepted for now, so that only new ones are
// reported. Each is recorded as its file's path relative to the baseline's folder, its rule
// id and its message text; no line numbers, so edits that move lines keep it recorded.
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

  // Removes the file's findings that the baseline records: each recorded finding excuses
  // one equal finding, so a second one is still reported.
  void excuse(FileReport& file);

 private:
  explicit Baseline(std::string folder) : folder_(std::move(folder)) {}

  std::string folder_;
  std::map<std::string, std::size_t> counts_;  // by finding key, see the source
};

// Records the findings of files in a baseline file, written whole; false, with the reason,
// when it cannot be written.
bool WriteBaseline(const std::string& file, const std::vector<FileReport>& files, std::string& reason);

}  // namespace corvane::cli
