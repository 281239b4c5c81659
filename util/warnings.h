// Warnings are lines on standard error, where the command-line checker's users read them. The
// window has no such place, so a piece of work can listen for the warnings it causes and
// show them itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Writes line and a newline to standard error, and hands line to the captures listening on
// this thread.
void WriteWarning(std::string_view line);

// Hands line only to the captures listening on this thread: for a warning that went to
// standard error once already and still explains a failure that is repeated.
void NoteWarning(std::string_view line);

// Collects the warning lines written on this thread while it lives. Captures nest; each one
// alive gets every line.
class WarningCapture {
 public:
  WarningCapture();
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  // The lines joined by newlines; empty when there was none.
  std::string text() const;

 private:
  friend void NoteWarning(std::string_view line);

  std::vector<std::string> lines_;
  WarningCapture* outer_;
};

}  // namespace corvane
