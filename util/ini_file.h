// A small INI file that is read whole, changed in memory and written back whole. A change
// touches only the line of its key, so comments, blank lines, other sections and other keys
// stay byte for byte as the user left them. Section and key names match with ASCII letters
// folded; values are read and stored without surrounding blanks; of a duplicated section or
// key the first is the one read and written. Lines added by a write end the way the file's
// first line ends (CRLF or LF; LF for a new file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class IniFile {
 public:
  // The file at path, read through ReadRegularFile; a missing or unreadable file reads as
  // empty.
  static IniFile Load(const std::string& path);
  // The file whose content is given, to be saved to path.
  static IniFile Parse(std::string_view content, const std::string& path);

  // The file this object was loaded from and saves to.
  const std::string& path() const { return path_; }

  // The value of key in section, or nothing when the section or the key is absent.
  std::optional<std::string> readString(std::string_view section, std::string_view key) const;
  // The value as a whole decimal number (optional sign) within 32 bits, else defaultValue.
  std::int32_t readInteger(std::string_view section, std::string_view key, std::int32_t defaultValue) const;

  // Sets key in section to value, adding the key after the section's last key or the section
  // at the end of the file; false, changing nothing, when a name or the value would not
  // survive a round trip through the file (a line break, "=" in a key, "]" in a section ...).
  bool writeString(std::string_view section, std::string_view key, std::string_view value);
  // writeString with the value in decimal.
  bool writeInteger(std::string_view section, std::string_view key, std::int32_t value);

  // True when a write has altered the text since Load.
  bool changed() const { return changed_; }
  // The file's text as it would be written.
  std::string text() const;
  // Writes the whole text through WriteFileAtomically, changed or not; false with the reason.
  // A file that exists but could not be read is never replaced, so its content is not lost.
  bool save(std::string& reason) const;

 private:
  struct Line {
    std::string text;  // without its line end
    std::string end;   // "\n", "\r\n", or empty for a last line without one
  };

  std::size_t findSection(std::string_view section) const;
  std::optional<std::string_view> findValue(std::string_view section, std::string_view key) const;
  void insertLine(std::size_t at, std::string text);

  std::string path_;
  std::string loadError_;  // why an existing file could not be read
  std::string bom_;        // a UTF-8 byte order mark in front of the first line, kept as it was
  std::string newline_ = "\n";
  std::vector<Line> lines_;
  bool changed_ = false;
};

}  // namespace corvane
