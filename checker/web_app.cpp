#include "web_app.h"

#include <sys/stat.h>

#include <algorithm>
#include <stdexcept>

#include "d_util.h"
#include "file_read.h"

namespace corvane {

std::string ExtractWebAppRoot(std::string_view fileName) {
  const std::size_t slash = fileName.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view{} : fileName.substr(0, slash);
  if (PosStr("portal", fileName, true) == 0) return {};
  if (PosStr("portal", folder, true) == 0) return std::string(folder);
  return StrBefore(folder, "portal", true);
}

std::string PropertiesPath(std::string_view root, std::string_view bundle) {
  constexpr std::string_view kClasses = "WEB-INF/classes/";
  constexpr std::string_view kExtension = ".properties";
  std::string path;
  path.reserve(root.size() + kClasses.size() + bundle.size() + kExtension.size());
  path.append(root).append(kClasses);
  const std::size_t name = path.size();
  path.append(bundle);
  std::replace(path.begin() + static_cast<std::ptrdiff_t>(name), path.end(), '.', '/');
  return path.append(kExtension);
}

std::string JspPath(std::string_view root, std::string_view module, std::string_view device, std::string_view page) {
  std::string path(root);
  path.append("portal/modules/").append(module).append("/skins/default/devices/");
  path.append(device).append("/").append(page).append(".jsp");
  return path;
}

namespace {

// Calls take with each line of a properties file, without its line end.
template <typename Take>
void ForEachLine(std::string_view content, Take take) {
  std::size_t start = 0;
  while (start < content.size()) {
    // The next LF, then a CR before it: two scans of the line, each a memchr.
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    end = std::min(end, content.substr(0, end).find('\r', start));
    take(content.substr(start, end - start));
    // CR LF ends one line, not two.
    start = end + ((end + 1 < content.size() && content[end] == '\r' && content[end + 1] == '\n') ? 2 : 1);
  }
}

}  // namespace

std::vector<PropertiesLine> PropertiesLines(std::string_view content) {
  std::vector<PropertiesLine> lines;
  ForEachLine(content, [&lines](std::string_view line) {
    const std::size_t equals = line.find('=');
    const std::string_view value = equals == std::string_view::npos ? std::string_view{} : line.substr(equals + 1);
    lines.push_back({line.substr(0, equals), value, lines.size()});
  });
  return lines;
}

KeyTable KeyTable::Parse(std::string_view content) {
  KeyTable table;
  table.keys_.reserve(content.size());
  const auto at = [&table](std::size_t i) { return table.keyAt(i); };
  ForEachLine(content, [&](std::string_view line) {
    const std::string_view key = line.substr(0, line.find('='));
    if (table.index_.find(key, at) >= 0) return;
    table.index_.reserve(table.spans_.size() + 1);
    table.spans_.emplace_back(table.keys_.size(), key.size());
    table.keys_.append(key);
    table.index_.insert(table.spans_.size() - 1, at);
  });
  return table;
}

bool KeyTable::contains(std::string_view key) const {
  return index_.find(key, [this](std::size_t i) { return keyAt(i); }) >= 0;
}

namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadWholeFile(const std::string& path) {
  std::string reason;
  std::optional<std::string> content = ReadRegularFile(path, reason);
  if (!content) throw std::runtime_error("Cannot read " + path + ": " + reason);
  return std::move(*content);
}

}  // namespace

std::shared_ptr<const KeyTable> FileFacts::keys(const std::string& path) {
  const std::lock_guard lock(mutex_);
  if (const auto it = keys_.find(path); it != keys_.end()) return it->second;
  auto table = std::make_shared<const KeyTable>(KeyTable::Parse(ReadWholeFile(path)));
  return keys_.emplace(path, std::move(table)).first->second;
}

bool FileFacts::fileExists(const std::string& path) {
  const std::lock_guard lock(mutex_);
  if (const auto it = exists_.find(path); it != exists_.end()) return it->second;
  return exists_.emplace(path, IsRegularFile(path)).first->second;
}

std::vector<std::string> FileFacts::paths() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> all;
  all.reserve(keys_.size() + exists_.size());
  for (const auto& entry : exists_) all.push_back(entry.first);
  // A bundle is probed before it is read, so only an unprobed one adds a path.
  for (const auto& entry : keys_) {
    if (!exists_.contains(entry.first)) all.push_back(entry.first);
  }
  return all;
}

void FileFacts::clear() {
  const std::lock_guard lock(mutex_);
  keys_.clear();
  exists_.clear();
}

void WebAppFiles::keepAcrossChecks(std::shared_ptr<FileFacts> facts) {
  keepAcrossChecks_ = true;
  facts_ = std::move(facts);
}

void WebAppFiles::useRoot(std::string_view root) {
  if (root == namesRoot_) return;
  bundles_.clear();
  templates_.clear();
  namesRoot_ = root;
}

const WebAppFiles::BundleFile& WebAppFiles::bundleFile(std::string_view root, std::string_view bundle) {
  useRoot(root);
  if (const auto it = bundles_.find(bundle); it != bundles_.end()) return it->second;
  BundleFile file{PropertiesPath(root, bundle)};
  file.exists = fileExists(file.path);
  return bundles_.emplace(std::string(bundle), std::move(file)).first->second;
}

const WebAppFiles::TemplatePage& WebAppFiles::templatePage(std::string_view root, std::string_view mergeTemplate) {
  useRoot(root);
  if (const auto it = templates_.find(mergeTemplate); it != templates_.end()) return it->second;
  const std::string module = StrBefore(mergeTemplate, ".", true);
  const std::string page = StrAfter(mergeTemplate, ".", true);
  TemplatePage found{JspPath(root, module, "default", page)};
  found.exists = fileExists(found.underDefault) || fileExists(JspPath(root, module, "browser", page));
  return templates_.emplace(std::string(mergeTemplate), std::move(found)).first->second;
}

std::shared_ptr<const KeyTable> WebAppFiles::keys(const std::string& path) {
  if (!keepAcrossChecks_) return facts_->keys(path);
  if (const auto it = keys_.find(path); it != keys_.end()) return it->second;
  auto shared = std::make_shared<const std::shared_ptr<const KeyTable>>(facts_->keys(path));
  const KeyTable* table = shared->get();
  return keys_.emplace(path, std::shared_ptr<const KeyTable>(std::move(shared), table)).first->second;
}

std::vector<std::string> WebAppFiles::paths() const { return facts_->paths(); }

void WebAppFiles::clear() {
  if (keepAcrossChecks_) return;
  facts_->clear();
  bundles_.clear();
  templates_.clear();
}

}  // namespace corvane
