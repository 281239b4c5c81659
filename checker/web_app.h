// The web application around a checked file: where its resource bundles and JSP pages lie,
// and a cache so that each properties file is read and each page probed once per check, or
// once per run of checks.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvane {

// The part of the file's folder before "portal"; empty when the path has no "portal".
std::string ExtractWebAppRoot(std::string_view fileName);
// root + "WEB-INF/classes/" + bundle with "." as "/" + ".properties".
std::string PropertiesPath(std::string_view root, std::string_view bundle);
// root + "portal/modules/<module>/skins/default/devices/<device>/<page>.jsp".
std::string JspPath(std::string_view root, std::string_view module, std::string_view device, std::string_view page);

// One line of a properties file as the key lookups read it.
struct PropertiesLine {
  std::string_view key;    // the text before the first "=" (the whole line without one)
  std::string_view value;  // the text after it
  std::size_t line = 0;    // counted from 0
};
// The lines of a properties file, split as KeyTable::Parse splits them (LF, CR LF, lone CR).
std::vector<PropertiesLine> PropertiesLines(std::string_view content);

// The keys of one properties file, looked up exactly with ASCII letter case ignored.
class KeyTable {
 public:
  // Each line's text before its first "=" (a line without "=" whole); nothing trimmed.
  static KeyTable Parse(std::string_view content);
  bool contains(std::string_view key) const;
  std::size_t size() const { return folded_.size(); }

 private:
  // Hash and equality with ASCII letter case ignored, so that a key is looked up as given.
  struct FoldedHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const;
  };
  struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  std::unordered_set<std::string, FoldedHash, FoldedEqual> folded_;  // each key in upper case
};

// Files of the web application as seen during one check, or during a run of checks.
class WebAppFiles {
 public:
  // Keeps what was read and probed past clear(): for a run of checks over files that
  // leaves the bundles and pages as they are while it lasts (the command line's), so that
  // a thousand plug-in files of one web application read each bundle once.
  void keepAcrossChecks() { keepAcrossChecks_ = true; }
  // The keys of the properties file at path, read on first use. Throws std::runtime_error
  // when the file cannot be read; ask fileExists first.
  std::shared_ptr<const KeyTable> keys(const std::string& path);
  // Whether a regular file exists at path, probed on first use.
  bool fileExists(const std::string& path);
  // Every file asked about since the last clear, once each: read, probed, found or not.
  std::vector<std::string> paths() const;
  // Forgets everything (a new check begins), unless it is kept across checks.
  void clear();

 private:
  bool keepAcrossChecks_ = false;
  std::unordered_map<std::string, std::shared_ptr<const KeyTable>> keys_;
  std::unordered_map<std::string, bool> exists_;
};

}  // namespace corvane
