// Command-line options of corvanexml-check.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "file_read.h"
#include "rule_info.h"

namespace corvane::cli {

enum class OutputFormat { Text, List, Github, Json, Sarif };

// The input that stands for standard input.
inline constexpr char kStdinInput[] = "-";

struct Options {
  std::vector<std::string> schemaFiles;  // --schema FILE (repeatable)
  std::optional<std::string> tree;       // --tree NAME
  bool listTrees = false;                // --list-trees
  bool showTree = false;                 // --show-tree
  bool help = false;                     // --help
  bool version = false;                  // --version
  bool exitZero = false;                 // --exit-zero
  bool quiet = false;                    // --quiet
  bool reportUnusedDirectives = false;   // --report-unused-directives
  OutputFormat format = OutputFormat::Text;
  std::vector<std::string> excludes;         // --exclude GLOB (repeatable)
  std::optional<std::string> stdinFileName;  // --stdin-filename PATH
  CodeSet ignored;                           // --ignore CODE (repeatable)
  std::optional<std::string> baseline;       // --baseline FILE
  std::optional<std::string> writeBaseline;  // --write-baseline FILE
  std::vector<std::string> inputs;           // files and folders, as given; kStdinInput for stdin
};

// Parses argv; on a usage error returns nothing and sets error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

// The --help text.
std::string HelpText();
// The --version line.
std::string VersionText();

// A file to check.
struct InputFile {
  std::string path;                    // as given, or as a folder's walk found it
  std::optional<FileIdentity> walked;  // found by a walk: the file it vetted, the only one read
};

// What the inputs stand for.
struct ExpandedInputs {
  std::vector<InputFile> files;
  std::vector<std::string> unreadableFolders;  // "folder: reason"
  std::vector<std::string> notFollowed;        // "link: not followed: ..." for each refused link
};

// The files to check: each input that is a folder stands for every *.xml file below it, in
// sorted path order, leaving out every file and folder that an exclude pattern matches (by
// its path below the input or by its name); other inputs are taken as they are. A folder
// below an input that cannot be read is named in unreadableFolders and the walk goes on
// without it. A link found by the walk is taken only when it leads to a file inside the
// folder walked; one that leads outside is named in notFollowed. Links to folders are not
// entered: one inside leads where the walk goes anyway.
ExpandedInputs ExpandInputs(const std::vector<std::string>& inputs, const std::vector<std::string>& excludes);

}  // namespace corvane::cli
