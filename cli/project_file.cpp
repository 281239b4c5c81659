#include "project_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <utility>

#include "file_read.h"

namespace corvane::cli {

namespace {

namespace fs = std::filesystem;

// Why a value cannot be used, and its line.
struct Problem {
  std::string why;
  std::uint32_t line = 0;
};

bool Fail(Problem& problem, const toml::node& at, std::string why) {
  problem.why = std::move(why);
  problem.line = at.source().begin.line;
  return false;
}

// A string that is not empty; nothing when the value is something else.
const std::string* Text(const toml::node& value, Problem& problem) {
  const toml::value<std::string>* text = value.as_string();
  if (text == nullptr) {
    Fail(problem, value, "expected a string in double quotes");
    return nullptr;
  }
  if (text->get().empty()) {
    Fail(problem, value, "an empty string names nothing");
    return nullptr;
  }
  return &text->get();
}

// Hands each string of an array to take, which may refuse it.
template <typename Take>
bool ForEachText(const toml::node& value, Problem& problem, Take take) {
  const toml::array* array = value.as_array();
  if (array == nullptr) return Fail(problem, value, R"(expected a list of strings, such as ["a", "b"])");
  for (const toml::node& item : *array) {
    const std::string* text = Text(item, problem);
    if (text == nullptr || !take(*text, item)) return false;
  }
  return true;
}

// A path written in the project file, which counts from the file's folder.
std::string InFolder(const ProjectFile& file, const std::string& path) {
  return (file.folder / path).lexically_normal().string();
}

// The value of an option that takes a single value, checked as the command line checks it.
template <typename Store>
bool AsOption(const toml::node& value, Problem& problem, std::string_view option, Store store) {
  const std::string* text = Text(value, problem);
  if (text == nullptr) return false;
  Options parsed;
  std::string why;
  if (!SetOption(parsed, option, *text, why)) return Fail(problem, value, why);
  store(parsed);
  return true;
}

// The tree comes from schema files or from a named tree, not both.
bool OneTreeSource(const ProjectFile& file, const toml::node& value, Problem& problem) {
  if (!file.schemaFiles.empty() && file.tree) return Fail(problem, value, "schema and tree cannot be used together");
  return true;
}

bool ReadSchema(ProjectFile& file, const toml::node& value, Problem& problem) {
  return ForEachText(value, problem,
                     [&](const std::string& path, const toml::node&) {
                       file.schemaFiles.push_back(InFolder(file, path));
                       return true;
                     }) &&
         OneTreeSource(file, value, problem);
}

bool ReadTree(ProjectFile& file, const toml::node& value, Problem& problem) {
  const std::string* tree = Text(value, problem);
  if (tree != nullptr) file.tree = *tree;
  return tree != nullptr && OneTreeSource(file, value, problem);
}

bool ReadExclude(ProjectFile& file, const toml::node& value, Problem& problem) {
  return ForEachText(value, problem, [&](const std::string& glob, const toml::node&) {
    file.excludes.push_back(glob);
    return true;
  });
}

bool ReadIgnore(ProjectFile& file, const toml::node& value, Problem& problem) {
  return ForEachText(value, problem, [&](const std::string& codes, const toml::node& item) {
    Options parsed;
    std::string why;
    if (!SetOption(parsed, "--ignore", codes, why)) return Fail(problem, item, why);
    file.ignored |= parsed.ignored;
    return true;
  });
}

bool ReadBaseline(ProjectFile& file, const toml::node& value, Problem& problem) {
  const std::string* path = Text(value, problem);
  if (path != nullptr) file.baseline = InFolder(file, *path);
  return path != nullptr;
}

bool ReadFormat(ProjectFile& file, const toml::node& value, Problem& problem) {
  return AsOption(value, problem, "--format", [&](const Options& parsed) { file.format = parsed.format; });
}

bool ReadCarryOver(ProjectFile& file, const toml::node& value, Problem& problem) {
  const toml::value<bool>* on = value.as_boolean();
  if (on == nullptr) return Fail(problem, value, "expected true or false");
  file.carryOver = on->get();
  return true;
}

struct Key {
  std::string_view name;
  bool (*read)(ProjectFile&, const toml::node&, Problem&);
};

constexpr Key kKeys[] = {
    {"schema", &ReadSchema},     {"tree", &ReadTree},     {"exclude", &ReadExclude},      {"ignore", &ReadIgnore},
    {"baseline", &ReadBaseline}, {"format", &ReadFormat}, {"carry-over", &ReadCarryOver},
};

std::string KnownKeys() {
  std::string names;
  for (const Key& key : kKeys) names.append(names.empty() ? "" : ", ").append(key.name);
  return names;
}

std::string At(const std::string& path, std::uint32_t line) { return path + ':' + std::to_string(line) + ": "; }

}  // namespace

std::optional<ProjectFile> ReadProjectFile(const fs::path& path, const fs::path& folder, std::string& error) {
  ProjectFile file;
  file.path = path.string();
  file.folder = folder;
  std::string reason;
  const std::optional<std::string> text = ReadRegularFile(file.path, reason);
  if (!text) {
    error = file.path + ": cannot read the project file: " + reason;
    return std::nullopt;
  }
  toml::table table;
  try {
    table = toml::parse(*text, file.path);
  } catch (const toml::parse_error& e) {
    error = At(file.path, e.source().begin.line) + "not TOML: " + std::string(e.description());
    return std::nullopt;
  }
  // The table is sorted by key; a problem is told where the file first has one.
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  for (const auto& [key, value] : table) entries.emplace_back(&key, &value);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.first->source().begin < b.first->source().begin; });
  for (const auto& [key, value] : entries) {
    const std::string name(key->str());
    const auto* known = std::find_if(std::begin(kKeys), std::end(kKeys), [&](const Key& k) { return k.name == name; });
    if (known == std::end(kKeys)) {
      error = At(file.path, key->source().begin.line) + "unknown key '" + name + "' (the keys: " + KnownKeys() + ")";
      return std::nullopt;
    }
    Problem problem;
    if (!known->read(file, *value, problem)) {
      error = At(file.path, problem.line) + "key '" + name + "': " + problem.why;
      return std::nullopt;
    }
  }
  return file;
}

const ProjectFile* ProjectFiles::forPath(const std::string& path) {
  std::error_code ec;
  const bool folderItself = path.empty() || fs::is_directory(path, ec);
  return folder(folderItself ? fs::path(path) : fs::path(path).parent_path()).project;
}

const ProjectFile* ProjectFiles::forFile(const std::string& path) { return folderOf(path).project; }

bool ProjectFiles::excludes(const std::string& path) {
  const Folder& home = folderOf(path);
  if (home.project == nullptr || home.project->excludes.empty()) return false;
  const fs::path& top = home.project->folder;
  // The folders between the project file and path count as well: a file named on the
  // command line was reached by no walk that could have left out its folder.
  fs::path entry = top;
  for (const fs::path& part : (home.real / fs::path(path).filename()).lexically_relative(top)) {
    entry /= part;
    if (MatchesExclude(entry, top, home.project->excludes)) return true;
  }
  return false;
}

const ProjectFiles::Folder& ProjectFiles::folderOf(const std::string& path) {
  // A path's parent depends on nothing after its last '/': paths alike up to there share it.
  const std::size_t slash = path.rfind('/');
  const std::string_view parent = std::string_view(path).substr(0, slash == std::string::npos ? 0 : slash + 1);
  if (lastFolder_ == nullptr || parent != lastParent_) {
    lastFolder_ = &folder(fs::path(path).parent_path());
    lastParent_.assign(parent);
  }
  return *lastFolder_;
}

const ProjectFiles::Folder& ProjectFiles::folder(const fs::path& given) {
  const auto known = given_.find(given.string());
  if (known != given_.end()) return known->second;
  // Searched from where the folder really is, as the file system reads the path.
  std::error_code ec;
  fs::path real = given.empty() ? fs::current_path(ec) : fs::absolute(given, ec);
  if (!ec) real = fs::weakly_canonical(real, ec);
  const ProjectFile* project = ec ? nullptr : nearest(real);
  return given_.emplace(given.string(), Folder{std::move(real), project}).first->second;
}

const ProjectFile* ProjectFiles::nearest(const fs::path& real) {
  std::vector<std::string> passed;
  const ProjectFile* project = nullptr;
  for (fs::path at = real;; at = at.parent_path()) {
    if (const auto known = nearest_.find(at.string()); known != nearest_.end()) {
      project = known->second;
      break;
    }
    passed.push_back(at.string());
    std::error_code ec;
    if (fs::exists(at / kProjectFileName, ec)) {
      project = load(at);
      break;
    }
    if (at == at.parent_path()) break;
  }
  for (std::string& folder : passed) nearest_.emplace(std::move(folder), project);
  return project;
}

const ProjectFile* ProjectFiles::load(const fs::path& real) {
  std::string why;
  std::optional<ProjectFile> file = ReadProjectFile(real / kProjectFileName, real, why);
  if (!file) {
    if (error_.empty()) error_ = std::move(why);
    return nullptr;
  }
  files_.push_back(std::move(*file));
  return &files_.back();
}

std::optional<Options> WithProjectFile(const Options& given, const ProjectFile* project, std::string& error) {
  Options options = given;
  if (project != nullptr) {
    if (options.schemaFiles.empty() && !options.tree) {
      options.schemaFiles = project->schemaFiles;
      options.tree = project->tree;
    }
    if (!options.baseline && !options.writeBaseline) options.baseline = project->baseline;
    if (!options.formatGiven && project->format) options.format = *project->format;
    // The command line can only turn it on.
    options.carryOver = options.carryOver || project->carryOver.value_or(false);
  }
  error = OptionConflict(options);
  if (error.empty()) return options;
  if (project != nullptr) error += " (with the settings of " + project->path + ")";
  return std::nullopt;
}

}  // namespace corvane::cli
