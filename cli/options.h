// Command-line options of corvanexml-check.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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
  bool carryOver = false;                // --carry-over: state carries from file to file
  unsigned jobs = 0;                     // --jobs N: files read at once; 0 for one per core
  bool fix = false;                      // --fix
  bool diff = false;                     // --diff
  bool lsp = false;                      // --lsp: serve editors over the Language Server Protocol
  OutputFormat format = OutputFormat::Text;
  bool formatGiven = false;                  // --format was given, not left to the default
  std::vector<std::string> excludes;         // --exclude GLOB (repeatable)
  std::optional<std::string> stdinFileName;  // --stdin-filename PATH
  CodeSet ignored;                           // --ignore CODE (repeatable)
  std::optional<std::string> baseline;       // --baseline FILE
  std::optional<std::string> writeBaseline;  // --write-baseline FILE
  std::optional<std::string> output;         // --output FILE
  std::vector<std::string> inputs;           // files and folders, as given; kStdinInput for stdin
};

// Parses argv; on a usage error returns nothing and sets error.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);
// Sets the option that takes a value, named as on the command line ("--format"), as the
// command line would; false, with the reason in error, when the value does not fit.
bool SetOption(Options& options, std::string_view name, const std::string& value, std::string& error);
// Why the options cannot go together; empty when they can.
std::string OptionConflict(const Options& options);
// How many files the run reads at once: --jobs, or one per core (at least one).
unsigned JobCount(const Options& options);

// The --help text.
std::string HelpText();
// The --version line.
std::string VersionText();

// A file to check.
struct InputFile {
  std::string path;                 // as given, or as a folder's walk found it
  std::optional<FoundFile> walked;  // found by a walk: the file it vetted, the only one read
};

// What the inputs stand for.
struct ExpandedInputs {
  std::vector<InputFile> files;
  std::vector<std::string> unreadableFolders;  // "folder: reason"
  std::vector<std::string> notFollowed;        // "link: not followed: ..." for each refused link
};

// Whether an exclude pattern matches entry by its path below folder or by its name alone.
bool MatchesExclude(const std::filesystem::path& entry, const std::filesystem::path& folder,
                    const std::vector<std::string>& excludes);

// Whether a file or folder is left out of the files to check, besides the exclude patterns.
using LeftOut = std::function<bool(const std::string&)>;

// The files to check: each input that is a folder stands for every *.xml file below it, in
// sorted path order, leaving out every file and folder that an exclude pattern matches (by
// its path below the input or by its name) or that leftOut names; other inputs are taken
// as they are, unless leftOut names them (standard input is always taken). A folder
// below an input that cannot be read is named in unreadableFolders and the walk goes on
// without it. A link found by the walk is taken only when it leads to a file inside the
// folder walked; one that leads outside is named in notFollowed. Links to folders are not
// entered: one inside leads where the walk goes anyway.
ExpandedInputs ExpandInputs(const std::vector<std::string>& inputs, const std::vector<std::string>& excludes,
                            const LeftOut& leftOut = {});

}  // namespace corvane::cli
