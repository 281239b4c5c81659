#include "warnings.h"

#include <iostream>
#include <mutex>
#include <random>

#include "visible_text.h"

namespace corvane {

namespace {

thread_local WarningCapture* innermost = nullptr;

// The stop's token, empty while none lives. A client thread may warn while the run's thread
// does; the lock also keeps their framed lines whole.
std::mutex stopLock;
std::string stopToken;

std::string RandomToken() {
  std::random_device random;
  std::uniform_int_distribution<unsigned> nibble(0, 15);
  std::string token;
  for (int i = 0; i < 32; ++i) token.push_back("0123456789abcdef"[nibble(random)]);
  return token;
}

}  // namespace

void WriteLine(std::ostream& out, std::string_view line) {
  std::string text;
  const std::lock_guard lock(stopLock);
  if (!stopToken.empty()) text.append("::stop-commands::").append(stopToken).push_back('\n');
  AppendVisible(text, line);
  text.push_back('\n');
  if (!stopToken.empty()) text.append("::").append(stopToken).append("::\n");
  // In one piece: standard error is unbuffered, and a reader sees the stop before the line.
  out << text;
}

WorkflowCommandStop::WorkflowCommandStop() {
  std::string token = RandomToken();
  const std::lock_guard lock(stopLock);
  stopToken = std::move(token);
}

WorkflowCommandStop::~WorkflowCommandStop() {
  const std::lock_guard lock(stopLock);
  stopToken.clear();
}

void WriteWarning(std::string_view line) {
  WriteLine(std::cerr, line);
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
