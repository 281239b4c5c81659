// Command-line options of corvanexml-check.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane::cli {

enum class OutputFormat { Text, Json, Sarif };

struct Options {
  std::vector<std::string> schemaFiles;  // --schema FILE (repeatable)
  std::optional<std::string> tree;       // --tree NAME
  bool listTrees = false;                // --list-trees
  bool showTree = false;                 // --show-tree
  bool help = false;                     // --help
  OutputFormat format = OutputFormat::Text;
  std::vector<std::string> inputs;  // files and folders, as given
};

// Parses argv; on a usage error returns nothing and sets error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// The --help text.
std::string HelpText();

// The files to check: each input that is a folder stands for every *.xml file below it, in
// sorted path order; other inputs are taken as they are. Each folder below an input that
// cannot be read is added to unreadable as "folder: reason"; the walk goes on without it.
std::vector<std::string> ExpandInputs(const std::vector<std::string>& inputs, std::vector<std::string>& unreadable);

}  // namespace corvane::cli
