// The project file: settings a project keeps beside its XML files, so that everyone who
// checks them (a CI job, a pre-commit hook, an editor) checks them the same way.
#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "options.h"

namespace corvane::cli {

// The name looked for in a checked file's folder and every folder above it.
inline constexpr char kProjectFileName[] = ".corvanexml.toml";

// What a project file sets; its keys are named after the options. Paths are made to count
// from the project file's folder.
struct ProjectFile {
  std::string path;                      // the file itself
  std::filesystem::path folder;          // its folder, links resolved
  std::vector<std::string> schemaFiles;  // schema = [...]
  std::optional<std::string> tree;       // tree = "..."
  std::vector<std::string> excludes;     // exclude = [...], matched below folder
  CodeSet ignored;                       // ignore = [...]
  std::optional<std::string> baseline;   // baseline = "..."
  std::optional<OutputFormat> format;    // format = "..."
  std::optional<bool> carryOver;         // carry-over = true|false
};

// Reads the project file at path, which lies in folder. Nothing, with "PATH:LINE: ..." in
// error, when it cannot be read, is not TOML, or holds a key or value the options refuse.
std::optional<ProjectFile> ReadProjectFile(const std::filesystem::path& path, const std::filesystem::path& folder,
                                           std::string& error);

// The project files of one run. Each folder's is looked up once: a walk asks for every
// file and folder it meets.
class ProjectFiles {
 public:
  // The project file that governs what a checked path holds: for a folder the nearest one
  // in it or above it, for a file the nearest one in its folder or above, for "" the
  // current folder's. Nothing when there is none, or when it is bad (error() says why).
  const ProjectFile* forPath(const std::string& path);
  // As forPath, for a path that names a file (as a folder's walk found it): asks the file
  // system nothing about the path itself.
  const ProjectFile* forFile(const std::string& path);
  // Whether the project file of path's folder leaves path out: path, or a folder between
  // that project file and path, matches one of its exclude patterns by its path below the
  // project file's folder or by its name.
  bool excludes(const std::string& path);
  // Why the first bad project file met cannot be used; empty while there is none.
  const std::string& error() const { return error_; }

 private:
  struct Folder {
    std::filesystem::path real;  // links resolved
    const ProjectFile* project;
  };
  const Folder& folder(const std::filesystem::path& given);
  // The folder that holds path, as folder finds it for path's parent. A walk asks about the
  // entries of one folder one after another: the last folder asked for is kept at hand.
  const Folder& folderOf(const std::string& path);
  const ProjectFile* nearest(const std::filesystem::path& real);
  const ProjectFile* load(const std::filesystem::path& real);

  std::unordered_map<std::string, Folder> given_;                // by the folder as the caller named it
  std::unordered_map<std::string, const ProjectFile*> nearest_;  // by the real folder
  std::deque<ProjectFile> files_;                                // stable addresses for the maps
  std::string error_;
  std::string lastParent_;  // the last path folderOf was asked about, up to its last '/'
  const Folder* lastFolder_ = nullptr;
};

// The options of a run: those given, completed by the project file for the run-wide
// settings the command line leaves open (tree or schema, baseline, format, carry-over).
// Nothing, with the reason in error, when the result does not go together.
std::optional<Options> WithProjectFile(const Options& given, const ProjectFile* project, std::string& error);

}  // namespace corvane::cli
