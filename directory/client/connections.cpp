#include "connections.h"

#include <charconv>
#include <filesystem>
#include <optional>
#include <sstream>
#include <unordered_map>

#include "client_types.h"
#include "config_home.h"
#include "d_util.h"
#include "file_read.h"
#include "dir_client.h"
#include "schema_parser.h"
#include "warnings.h"

namespace corvane::client {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxTimeoutSeconds = 3600;

std::string ExpandHome(const std::string& path) {
  if (path == "~" || path.starts_with("~/")) return HomeFolder() + path.substr(1);
  return path;
}

std::string ResolvePath(const std::string& path, const std::string& folder) {
  const std::string expanded = ExpandHome(path);
  return fs::path(expanded).is_absolute() ? expanded : (fs::path(folder) / expanded).string();
}

std::string Trim(std::string_view s) { return TrimLeftChars(TrimRightChars(s, " \t\r"), " \t"); }

// A ';' or '#' after a blank starts a comment; schema files are joined by ';' without one.
std::string_view StripComment(std::string_view value) {
  for (std::size_t i = 1; i < value.size(); ++i)
    if ((value[i] == ';' || value[i] == '#') && (value[i - 1] == ' ' || value[i - 1] == '\t'))
      return value.substr(0, i);
  return value;
}

// The tree name between the brackets of a section header, which only blanks or a comment
// may follow; a '#' or ';' inside the brackets is part of the name.
std::optional<std::string> HeaderName(std::string_view header) {
  for (std::size_t close = header.find(']'); close != std::string_view::npos; close = header.find(']', close + 1)) {
    const std::string rest = Trim(header.substr(close + 1));
    if (rest.empty() || rest.front() == ';' || rest.front() == '#') return Trim(header.substr(1, close - 1));
  }
  return std::nullopt;
}

std::optional<bool> FlagValue(const std::string& value) {
  if (SameText(value, "true") || SameText(value, "yes") || value == "1") return true;
  if (SameText(value, "false") || SameText(value, "no") || value == "0") return false;
  return std::nullopt;
}

// A setting line's key, upper case, and its value without a comment.
struct Setting {
  std::string key;
  std::string value;
};

std::optional<Setting> SettingOf(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Setting{UpperCaseAscii(Trim(line.substr(0, eq))), Trim(StripComment(line.substr(eq + 1)))};
}

class ConnectionsReader {
 public:
  ConnectionsReader(std::string_view sourceName, const std::string& folder) : source_(sourceName), folder_(folder) {}

  void readLine(std::string_view raw) {
    ++line_;
    const std::string line = Trim(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') return;
    if (line.front() == '[') return startSection(line);
    // The lines of a refused section go with the warning about its header.
    if (skipping_) return keepPrimaryMarkOfRepeat(line);
    const std::optional<Setting> setting = SettingOf(line);
    if (!setting) return warn("line without '=' ignored");
    if (!current_) return warn("setting outside a connection section ignored");
    setKey(setting->key, setting->value);
  }

  std::vector<ConnectionConfig> result() && {
    finishRepeat();
    return std::move(connections_);
  }
  const ConnectionsReadWork& work() const { return work_; }

 private:
  // Where a tree's section begins, and its connection.
  struct Section {
    std::size_t line = 0;
    std::size_t connection = 0;
  };
  // A section refused for repeating a tree; warned about once its own lines are read.
  struct Repeat {
    std::string name;
    std::size_t line = 0;
    Section earlier;
    bool primary = false;
  };

  void warnAt(std::size_t line, std::string_view what) const {
    WriteWarning(source_ + ':' + std::to_string(line) + ": warning: " + std::string(what));
  }
  void warn(std::string_view what) const { warnAt(line_, what); }

  void startSection(const std::string& line) {
    finishRepeat();
    current_ = nullptr;
    skipping_ = true;
    const std::optional<std::string> name = HeaderName(line);
    if (!name) return warn("section header without a closing ']' ignored with its settings");
    if (name->empty()) return warn("section without a tree name ignored with its settings");
    // The client hands tree names out in 32 characters; a longer one could be listed but
    // never chosen.
    if (Utf8Length(*name) > kTreeNameChars)
      return warn("tree name '" + std::string(Utf8Prefix(*name, kTreeNameChars)) + "...' longer than " +
                  std::to_string(kTreeNameChars) + " characters; section ignored with its settings");
    // Names are compared as the client hands them out, filled up with '_' (letter case
    // aside), so the index holds each name in that form.
    ++work_.namesCompared;
    const auto [earlier, added] =
        sectionOfTree_.try_emplace(UpperCaseAscii(TrimRightChars(*name, "_")), Section{line_, connections_.size()});
    if (!added) {
      repeat_ = Repeat{*name, line_, earlier->second};
      return;
    }
    skipping_ = false;
    connections_.push_back({});
    connections_.back().treeName = *name;
    current_ = &connections_.back();
  }

  // Writing a tree's name twice must not cost the file its primary connection: the mark of
  // the refused section goes to the tree's section.
  void keepPrimaryMarkOfRepeat(std::string_view line) {
    const std::optional<Setting> setting = SettingOf(line);
    if (!repeat_ || !setting || setting->key != "PRIMARY") return;
    if (const std::optional<bool> primary = FlagValue(setting->value)) repeat_->primary = *primary;
  }

  void finishRepeat() {
    if (!repeat_) return;
    std::string what = "tree " + repeat_->name + " already has a section at line " +
                       std::to_string(repeat_->earlier.line) + "; this one is ignored with its settings";
    if (repeat_->primary) {
      connections_[repeat_->earlier.connection].primary = true;
      what += ", but its 'primary = true' marks that section";
    }
    warnAt(repeat_->line, what);
    repeat_.reset();
  }

  void setKey(const std::string& key, const std::string& value) {
    ConnectionConfig& c = *current_;
    if (key == "SCHEMA") return setSchemaFiles(value);
    if (key == "USER")
      c.user = value;
    else if (key == "CONTEXT")
      c.context = value;
    else if (key == "PRIMARY")
      setFlag(c.primary, "primary", value);
    else if (key == "URL")
      c.url = value;
    else if (key == "BIND-DN")
      c.bindDn = value;
    else if (key == "PASSWORD-FILE")
      c.passwordFile = ResolvePath(value, folder_);
    else if (key == "STARTTLS")
      setFlag(c.startTls, "starttls", value);
    else if (key == "TLS-CA-FILE")
      c.tlsCaFile = ResolvePath(value, folder_);
    else if (key == "NAME-EXTENSION")
      setNameExtension(value);
    else if (key == "TIMEOUT")
      setTimeout(value);
    else
      warn("unknown setting '" + key + "' ignored");
  }

  void setSchemaFiles(const std::string& value) {
    std::string_view rest = value;
    while (!rest.empty()) {
      const std::size_t semicolon = rest.find(';');
      const std::string file = Trim(rest.substr(0, semicolon));
      if (!file.empty()) current_->schemaFiles.push_back(ResolvePath(file, folder_));
      rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    }
  }

  void setFlag(bool& flag, std::string_view key, const std::string& value) {
    if (const std::optional<bool> on = FlagValue(value))
      flag = *on;
    else
      warn(std::string(key) + " must be true or false");
  }

  // Extension fields are named X-... in a definition; any other word would be a keyword of
  // the definition itself.
  void setNameExtension(const std::string& value) {
    const bool valid = value.size() > 2 && SameText(value.substr(0, 2), "X-") &&
                       value.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
                           std::string::npos;
    if (valid)
      current_->nameExtension = UpperCaseAscii(value);
    else
      warn("name-extension must name an extension field such as X-DISPLAY-NAME; '" + value + "' ignored");
  }

  void setTimeout(const std::string& value) {
    int seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec == std::errc() && end == value.data() + value.size() && seconds >= 1 && seconds <= kMaxTimeoutSeconds)
      current_->timeoutSeconds = seconds;
    else
      warn("timeout must be a whole number of seconds from 1 to " + std::to_string(kMaxTimeoutSeconds) + "; " +
           std::to_string(current_->timeoutSeconds) + " s kept");
  }

  std::string source_;
  std::string folder_;
  std::size_t line_ = 0;
  std::vector<ConnectionConfig> connections_;
  // The section of each tree, by its name without the '_' filling, upper case.
  std::unordered_map<std::string, Section> sectionOfTree_;
  ConnectionConfig* current_ = nullptr;
  bool skipping_ = false;
  std::optional<Repeat> repeat_;
  ConnectionsReadWork work_;
};

}  // namespace

std::string ClientConfigFolder() { return ConfigHome() + "/corvane-client"; }

std::string DemoSchemaPath() { return ProgramDataFile("trees/demo.schema"); }

ConnectionConfig DemoConnection() {
  ConnectionConfig demo;
  demo.treeName = kDemoTreeName;
  demo.schemaFiles = {DemoSchemaPath()};
  demo.user = "CN=admin.O=demo";
  demo.context = "O=demo";
  demo.primary = true;
  return demo;
}

std::vector<ConnectionConfig> ParseConnections(std::string_view text, std::string_view sourceName,
                                               const std::string& folder, ConnectionsReadWork* work) {
  ConnectionsReader reader(sourceName, folder);
  std::istringstream in{std::string(SkipByteOrderMark(text))};
  for (std::string line; std::getline(in, line);) reader.readLine(line);
  if (work) *work = reader.work();
  return std::move(reader).result();
}

bool ReadConnections(std::vector<ConnectionConfig>& out, std::string& error) {
  const std::string folder = ClientConfigFolder();
  const std::string path = folder + "/connections.ini";
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    out = {DemoConnection()};
    return true;
  }
  std::string reason;
  const std::optional<std::string> content = ReadRegularFile(path, reason);
  if (!content) {
    error = path + ": " + reason;
    return false;
  }
  out = ParseConnections(*content, path, folder);
  return true;
}

}  // namespace corvane::client
