#include "warnings.h"

#include <iostream>

namespace corvane {

namespace {

thread_local WarningCapture* innermost = nullptr;

}  // namespace

void WriteWarning(std::string_view line) {
  std::cerr << line << '\n';
  NoteWarning(line);
}

void NoteWarning(std::string_view line) {
  for (WarningCapture* capture = innermost; capture != nullptr; capture = capture->outer_)
    capture->lines_.emplace_back(line);
}

WarningCapture::WarningCapture() : outer_(innermost) { innermost = this; }

// Captures end in the reverse order of their start, being scoped on one thread.
WarningCapture::~WarningCapture() { innermost = outer_; }

std::string WarningCapture::text() const {
  std::string joined;
  for (const std::string& line : lines_) {
    if (!joined.empty()) joined += '\n';
    joined += line;
  }
  return joined;
}

}  // namespace corvane
