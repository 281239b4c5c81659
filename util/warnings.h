// Warnings are lines on standard error, where the command-line checker's users read them. The
// window has no such place, so a piece of work can listen for the warnings it causes and
// show them itself.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Writes line and a newline to standard error as WriteLine does, and hands line as it is to
// the captures listening on this thread.
void WriteWarning(std::string_view line);

// Writes line and a newline to out as one line of visible text (see VisibleText): warnings
// carry names from files and servers, which must neither control the terminal nor start a
// line of their own. While a WorkflowCommandStop lives, the line comes framed by it.
void WriteLine(std::ostream& out, std::string_view line);

// While it lives, every line WriteLine and WriteWarning write stands between
// "::stop-commands::TOKEN" and "::TOKEN::", so GitHub Actions, which reads workflow commands
// from standard error too, takes none from the text of the files checked. TOKEN is random
// and new for each stop: a file cannot end the stop by guessing it. One stop at a time.
class WorkflowCommandStop {
 public:
  WorkflowCommandStop();
  ~WorkflowCommandStop();
  WorkflowCommandStop(const WorkflowCommandStop&) = delete;
  WorkflowCommandStop& operator=(const WorkflowCommandStop&) = delete;
};

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
