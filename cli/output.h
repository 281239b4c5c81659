// Where the findings go: each file's as it is checked in the formats written line by line,
// all at the end in the formats written as one document or as a baseline.
#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "report.h"

namespace corvane::cli {

class Output {
 public:
  // severalFiles: the message list then names each file before its messages. With
  // --output the findings are kept for that file instead of going to out.
  Output(const Options& options, std::ostream& out, bool severalFiles)
      : options_(options), out_(options.output ? file_ : out), severalFiles_(severalFiles) {}

  // What --show-tree shows of a checked file before its findings (nothing without it), made
  // wherever the file was checked: it needs only the options, tree and doc.
  static std::string TreeText(const Options& options, const PlainTree& tree, const XmlDocument* doc);
  // Takes a checked file's findings and its TreeText. The findings are moved from file only
  // where they are kept for the end; otherwise file stays as it was, for the caller to free.
  void add(FileReport&& file, std::string_view treeText);
  // Writes what was kept for the end and, unless quiet, the summary line to err. A baseline
  // or --output file that cannot be written is said on err and makes the run unsuccessful.
  void finish(RunSummary& run, std::ostream& err);
  // What the summary counts.
  const Tally& tally() const { return tally_; }

 private:
  const Options& options_;
  std::ostringstream file_;  // what goes to the --output file, written whole at the end
  std::ostream& out_;
  bool severalFiles_;
  Tally tally_;
  std::vector<FileReport> kept_;
};

}  // namespace corvane::cli
