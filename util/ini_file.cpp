#include "ini_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <limits>

#include "d_util.h"
#include "file_read.h"
#include "file_write.h"

namespace corvane {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::string_view kBlanks = " \t";

std::string_view TrimBlanks(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == kNone) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

struct ParsedLine {
  enum class Kind { kOther, kHeader, kKey };
  Kind kind = Kind::kOther;
  std::string_view name;
  std::string_view value;
};

// What a line means. Comments, blank lines, lines without "=" and lines with an empty key
// are nothing to us and only ever copied. A "[" without its "]" still opens a section, so
// the keys under a mistyped header do not slip into the section above it.
ParsedLine Classify(std::string_view text) {
  const std::string_view s = TrimBlanks(text);
  if (s.empty() || s.front() == ';' || s.front() == '#') return {};
  if (s.front() == '[') {
    const std::size_t close = s.find(']');
    return {ParsedLine::Kind::kHeader, TrimBlanks(s.substr(1, close == kNone ? kNone : close - 1)), {}};
  }
  const std::size_t eq = s.find('=');
  if (eq == kNone) return {};
  const std::string_view key = TrimBlanks(s.substr(0, eq));
  if (key.empty()) return {};
  return {ParsedLine::Kind::kKey, key, TrimBlanks(s.substr(eq + 1))};
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != kNone; }
bool HasOuterBlanks(std::string_view s) { return TrimBlanks(s).size() != s.size(); }

// Names that Classify would read back as written, so that a later write finds the same
// line instead of adding a second one.
bool WritableSection(std::string_view section) {
  return !HasLineBreak(section) && section.find(']') == kNone && !HasOuterBlanks(section);
}

bool WritableKey(std::string_view key) {
  return !key.empty() && !HasLineBreak(key) && key.find('=') == kNone && !HasOuterBlanks(key) && key.front() != '[' &&
         key.front() != ';' && key.front() != '#';
}

// A whole decimal number within 32 bits: optional sign, digits only. Parsed by hand because
// std::from_chars takes no "+" and the digits may be long with leading zeros.
std::optional<std::int32_t> ParseInteger(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return std::nullopt;
  const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                      : std::int64_t{std::numeric_limits<std::int32_t>::max()};
  std::int64_t magnitude = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

IniFile IniFile::Load(const std::string& path) {
  std::string reason;
  std::optional<std::string> content = ReadRegularFile(path, reason);
  if (content) return Parse(*content, path);
  IniFile ini;
  ini.path_ = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 || errno != ENOENT) ini.loadError_ = reason;
  return ini;
}

IniFile IniFile::Parse(std::string_view content, const std::string& path) {
  IniFile ini;
  ini.path_ = path;
  std::string_view rest = content;
  rest = SkipByteOrderMark(rest);
  ini.bom_ = std::string(content.substr(0, content.size() - rest.size()));
  // A CR before the first LF, or ending a file without LF, says the file ends lines in CR LF.
  const std::size_t firstLf = rest.find('\n');
  if (firstLf == kNone ? rest.ends_with('\r') : firstLf > 0 && rest[firstLf - 1] == '\r') ini.newline_ = "\r\n";
  while (!rest.empty()) {
    const std::size_t lf = rest.find('\n');
    std::string_view text = rest.substr(0, lf);
    // A CR at the very end of the file belongs to the line end, as it does before an LF.
    const bool cr = text.ends_with('\r');
    if (cr) text.remove_suffix(1);
    ini.lines_.push_back({std::string(text), std::string(lf != kNone ? (cr ? "\r\n" : "\n") : (cr ? "\r" : ""))});
    rest.remove_prefix(lf == kNone ? rest.size() : lf + 1);
  }
  return ini;
}

std::size_t IniFile::findSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const ParsedLine line = Classify(lines_[i].text);
    if (line.kind == ParsedLine::Kind::kHeader && SameText(line.name, section)) return i;
  }
  return kNone;
}

std::optional<std::string_view> IniFile::findValue(std::string_view section, std::string_view key) const {
  const std::size_t header = findSection(section);
  if (header == kNone) return std::nullopt;
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    const ParsedLine line = Classify(lines_[i].text);
    if (line.kind == ParsedLine::Kind::kHeader) break;
    if (line.kind == ParsedLine::Kind::kKey && SameText(line.name, key)) return line.value;
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::readString(std::string_view section, std::string_view key) const {
  const std::optional<std::string_view> value = findValue(section, key);
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const {
  const std::optional<std::string_view> value = findValue(section, key);
  if (!value) return defaultValue;
  return ParseInteger(*value).value_or(defaultValue);
}

void IniFile::insertLine(std::size_t at, std::string text) {
  // A last line without a whole line end gets one before anything can follow it.
  if (at == lines_.size() && !lines_.empty() && !lines_.back().end.ends_with('\n')) lines_.back().end = newline_;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), newline_});
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  value = TrimBlanks(value);
  if (!WritableSection(section) || !WritableKey(key) || HasLineBreak(value)) return false;
  const std::string keyLine = std::string(key) + "=" + std::string(value);

  const std::size_t header = findSection(section);
  if (header == kNone) {
    if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty()) insertLine(lines_.size(), "");
    std::string headerLine;
    headerLine.append("[").append(section).append("]");
    insertLine(lines_.size(), std::move(headerLine));
    insertLine(lines_.size(), keyLine);
    changed_ = true;
    return true;
  }
  std::size_t after = header + 1;
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    const ParsedLine line = Classify(lines_[i].text);
    if (line.kind == ParsedLine::Kind::kHeader) break;
    if (line.kind != ParsedLine::Kind::kKey) continue;
    if (SameText(line.name, key)) {
      if (line.value == value) return true;
      // The key keeps the spelling the user gave it; only the value is new.
      lines_[i].text = std::string(line.name) + "=" + std::string(value);
      changed_ = true;
      return true;
    }
    after = i + 1;
  }
  insertLine(after, keyLine);
  changed_ = true;
  return true;
}

bool IniFile::writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
  return writeString(section, key, std::to_string(value));
}

std::string IniFile::text() const {
  std::string out = bom_;
  for (const Line& line : lines_) out.append(line.text).append(line.end);
  return out;
}

bool IniFile::save(std::string& reason) const {
  if (!loadError_.empty()) {
    reason = loadError_;
    return false;
  }
  return WriteFileAtomically(path_, text(), reason);
}

}  // namespace corvane
