// The web application around a checked file: where its resource bundles and JSP pages lie,
// and a cache so that each properties file is read and each page probed once per check, or
// once per run of checks.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "text_index.h"

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
  // How many different keys, letter case ignored.
  std::size_t size() const { return spans_.size(); }

 private:
  std::string_view keyAt(std::size_t i) const {
    return std::string_view(keys_).substr(spans_[i].first, spans_[i].second);
  }

  std::string keys_;                                        // the keys, one after another
  std::vector<std::pair<std::size_t, std::size_t>> spans_;  // offset and length of each in keys_
  TextIndex index_{TextIndex::Match::Folded};
};

// What checks have learnt of files by their paths: the keys of each properties file read and
// whether each file probed is there. Checks on several threads may share it; each file is
// read or probed once, by the check that asks first.
class FileFacts {
 public:
  // The keys of the properties file at path, read on first use. Throws std::runtime_error
  // when the file cannot be read; ask fileExists first.
  std::shared_ptr<const KeyTable> keys(const std::string& path);
  // Whether a regular file exists at path, probed on first use.
  bool fileExists(const std::string& path);
  // Every file asked about, once each: read, probed, found or not.
  std::vector<std::string> paths() const;
  void clear();

 private:
  // Held while a file is read, so that a check that asks for it meanwhile waits for it.
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<const KeyTable>> keys_;
  std::unordered_map<std::string, bool> exists_;
};

// Files of the web application as seen during one check, or during a run of checks.
class WebAppFiles {
 public:
  // Keeps what was read and probed past clear(), in facts, which the files of other checks
  // may share: for a run of checks over files that leaves the bundles and pages as they are
  // while it lasts (the command line's), so that a thousand plug-in files of one web
  // application read each bundle once, also when they are checked on several threads.
  void keepAcrossChecks(std::shared_ptr<FileFacts> facts);
  // As FileFacts::keys and FileFacts::fileExists.
  std::shared_ptr<const KeyTable> keys(const std::string& path);
  bool fileExists(const std::string& path) { return facts_->fileExists(path); }

  // The properties file of a bundle in the web application at root, and whether it exists.
  struct BundleFile {
    std::string path;
    bool exists = false;
  };
  // The file of bundle under root, worked out once per bundle name and probed as fileExists.
  const BundleFile& bundleFile(std::string_view root, std::string_view bundle);
  // The JSP page a merge template ("Module.page") names in the web application at root.
  struct TemplatePage {
    std::string underDefault;  // its path under the default device
    bool exists = false;       // it exists there or under the browser device
  };
  // The page of mergeTemplate under root, worked out once per template and probed as fileExists.
  const TemplatePage& templatePage(std::string_view root, std::string_view mergeTemplate);
  // Every file asked about since the last clear, once each: read, probed, found or not.
  std::vector<std::string> paths() const;
  // Forgets everything (a new check begins), unless it is kept across checks.
  void clear();

 private:
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  template <typename T>
  using ByName = std::unordered_map<std::string, T, NameHash, std::equal_to<>>;

  // Forgets the bundles and templates worked out unless they were worked out under root.
  void useRoot(std::string_view root);

  bool keepAcrossChecks_ = false;
  std::shared_ptr<FileFacts> facts_ = std::make_shared<FileFacts>();
  // By the short names the rules read, so that each item's lookup makes no path.
  std::string namesRoot_;
  ByName<BundleFile> bundles_;
  ByName<TemplatePage> templates_;
  // Kept across checks: the keys read, each in a handle of this one's own. Handed out again
  // and again, a handle of the shared facts would have threads checking at once take turns
  // at its count.
  ByName<std::shared_ptr<const KeyTable>> keys_;
};

}  // namespace corvane
