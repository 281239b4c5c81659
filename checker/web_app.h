// The web application around a checked file: where its resource bundles and JSP pages lie,
// and a per-check cache so that each properties file is read and each page probed once.
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

// The keys of one properties file, looked up exactly with ASCII letter case ignored.
class KeyTable {
 public:
  // Each line's text before its first "=" (a line without "=" whole); nothing trimmed.
  static KeyTable Parse(std::string_view content);
  bool contains(std::string_view key) const;
  std::size_t size() const { return folded_.size(); }

 private:
  std::unordered_set<std::string> folded_;
};

// Files of the web application as seen during one check.
class WebAppFiles {
 public:
  // The keys of the properties file at path, read on first use. Throws std::runtime_error
  // when the file cannot be read; ask fileExists first.
  std::shared_ptr<const KeyTable> keys(const std::string& path);
  // Whether a regular file exists at path, probed on first use.
  bool fileExists(const std::string& path);
  // Every file asked about since the last clear, once each: read, probed, found or not.
  std::vector<std::string> paths() const;
  // Forgets everything (a new check begins).
  void clear();

 private:
  std::unordered_map<std::string, std::shared_ptr<const KeyTable>> keys_;
  std::unordered_map<std::string, bool> exists_;
};

}  // namespace corvane
