#include "options.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "d_util.h"

namespace corvane::cli {

namespace {

std::optional<OutputFormat> ParseFormat(const std::string& name) {
  if (name == "text") return OutputFormat::Text;
  if (name == "json") return OutputFormat::Json;
  if (name == "sarif") return OutputFormat::Sarif;
  return std::nullopt;
}

}  // namespace

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options options;
  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
      options.inputs.push_back(arg);
      continue;
    }
    const auto value = [&]() -> const std::string* {
      if (i + 1 < args.size()) return &args[++i];
      error = "option " + arg + " needs a value";
      return nullptr;
    };
    if (arg == "--") {
      onlyFiles = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--show-tree") {
      options.showTree = true;
    } else if (arg == "--list-trees") {
      options.listTrees = true;
    } else if (arg == "--schema") {
      const std::string* file = value();
      if (file == nullptr) return std::nullopt;
      options.schemaFiles.push_back(*file);
    } else if (arg == "--tree") {
      const std::string* name = value();
      if (name == nullptr) return std::nullopt;
      options.tree = *name;
    } else if (arg == "--format") {
      const std::string* name = value();
      if (name == nullptr) return std::nullopt;
      const auto format = ParseFormat(*name);
      if (!format) {
        error = "unknown format '" + *name + "' (text, json or sarif)";
        return std::nullopt;
      }
      options.format = *format;
    } else {
      error = "unknown option " + arg;
      return std::nullopt;
    }
  }
  if (!options.schemaFiles.empty() && options.tree) {
    error = "--schema and --tree cannot be used together";
    return std::nullopt;
  }
  if (!options.help && !options.listTrees && options.inputs.empty()) {
    error = "no file to check";
    return std::nullopt;
  }
  return options;
}

std::string HelpText() {
  return R"(Usage: corvanexml-check [--schema FILE | --tree NAME] [--show-tree]
                         [--format text|json|sarif] FILE...
       corvanexml-check --list-trees

Checks console plug-in XML files (books, pages, tasks, modules, roles, translator
files) and prints every problem as a numbered message line, "Msg 001" to "Msg 010"
and "Msg 100". Ids, role assignments, resource keys of the web application around
the file (the part of its path before "portal"), JSP pages, and the class and
attribute names of the directory schema are checked.

FILE...            files checked one after another, as if each were chosen in turn
                   in one window session (resource state carries over); a folder
                   stands for every *.xml file below it, in sorted path order
--schema FILE      check names against this schema file (RFC 4512 definitions,
                   LDIF or OpenLDAP spelling); repeat it to join several files
--tree NAME        check names against a tree of the client's connections
                   (default: the tree of the primary connection)
--list-trees       print the client's trees, one per line, and stop
--show-tree        print the node tree before the messages (two spaces per depth,
                   the file's full path at depth 0), then an empty line; deeper
                   than 100 the indent stays and "[depth N] " starts the line
--format text      message lines in the list's order (ascending, letter case
                   ignored); with several files, each file's path and ":" first
--format json      one JSON document: per file its path and its messages with
                   text, code, source line and column and the tree item's labels
                   from the file down (more than 16: the first 3, "…", the last 12)
--format sarif     SARIF 2.1.0, one rule per message code, one location per result
--help             this text

Exit status: 0 no message, 1 at least one message, 2 a usage error, no tree to
check against, or a file or folder that could not be read at all (the others are
still checked).
)";
}

std::vector<std::string> ExpandInputs(const std::vector<std::string>& inputs, std::vector<std::string>& unreadable) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (!fs::is_directory(input, ec)) {
      files.push_back(input);
      continue;
    }
    // Folder by folder, so that one that cannot be read is named and the rest still walked;
    // links to folders are not followed, links to files are.
    std::vector<std::string> found;
    std::vector<fs::path> folders{input};
    while (!folders.empty()) {
      const fs::path folder = std::move(folders.back());
      folders.pop_back();
      fs::directory_iterator it(folder, ec);
      for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_symlink(typeError) && it->is_directory(typeError)) {
          folders.push_back(it->path());
        } else if (it->is_regular_file(typeError) && SameText(it->path().extension().string(), ".xml")) {
          found.push_back(it->path().string());
        }
      }
      if (ec) unreadable.push_back(folder.string() + ": " + ec.message());
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

}  // namespace corvane::cli
