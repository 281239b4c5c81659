#include "options.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>

#include "d_util.h"

namespace corvane::cli {

namespace {

std::optional<OutputFormat> ParseFormat(const std::string& name) {
  constexpr std::pair<std::string_view, OutputFormat> kFormats[] = {
      {"text", OutputFormat::Text}, {"list", OutputFormat::List},   {"github", OutputFormat::Github},
      {"json", OutputFormat::Json}, {"sarif", OutputFormat::Sarif},
  };
  for (const auto& [formatName, format] : kFormats) {
    if (formatName == name) return format;
  }
  return std::nullopt;
}

struct Flag {
  std::string_view name;
  bool Options::*member;
};

constexpr Flag kFlags[] = {
    {"--help", &Options::help},
    {"-h", &Options::help},
    {"--version", &Options::version},
    {"--show-tree", &Options::showTree},
    {"--list-trees", &Options::listTrees},
    {"--exit-zero", &Options::exitZero},
    {"--quiet", &Options::quiet},
    {"-q", &Options::quiet},
    {"--report-unused-directives", &Options::reportUnusedDirectives},
    {"--carry-over", &Options::carryOver},
    {"--fix", &Options::fix},
    {"--diff", &Options::diff},
    {"--lsp", &Options::lsp},
};

// Stores an option's value, or says in error why it cannot.
using Setter = bool (*)(Options&, const std::string& value, std::string& error);

struct ValueOption {
  std::string_view name;
  Setter set;
};

// Keeps the value as given: added to a list option, or replacing a single one.
template <auto Member>
bool Keep(Options& o, const std::string& v, std::string&) {
  if constexpr (requires { (o.*Member).push_back(v); }) {
    (o.*Member).push_back(v);
  } else {
    o.*Member = v;
  }
  return true;
}

bool SetFormat(Options& o, const std::string& v, std::string& error) {
  const auto format = ParseFormat(v);
  if (!format)
    error = "unknown format '" + v + "' (text, list, github, json or sarif)";
  else
    o.format = *format;
  o.formatGiven = format.has_value();
  return format.has_value();
}

bool SetJobs(Options& o, const std::string& v, std::string& error) {
  unsigned jobs = 0;
  const char* end = v.data() + v.size();
  const auto [stop, ec] = std::from_chars(v.data(), end, jobs);
  if (v.empty() || ec != std::errc() || stop != end || jobs == 0) {
    error = "--jobs takes a positive whole number of files to read at once, not '" + v + "'";
    return false;
  }
  o.jobs = jobs;
  return true;
}

bool AddIgnored(Options& o, const std::string& v, std::string& error) {
  const auto codes = ParseCodes(v, error);
  if (codes) o.ignored |= *codes;
  return codes.has_value();
}

const ValueOption kValueOptions[] = {
    {"--schema", &Keep<&Options::schemaFiles>},
    {"--tree", &Keep<&Options::tree>},
    {"--format", &SetFormat},
    {"--exclude", &Keep<&Options::excludes>},
    {"--stdin-filename", &Keep<&Options::stdinFileName>},
    {"--ignore", &AddIgnored},
    {"--baseline", &Keep<&Options::baseline>},
    {"--write-baseline", &Keep<&Options::writeBaseline>},
    {"--output", &Keep<&Options::output>},
    {"--jobs", &SetJobs},
};

template <typename Option, std::size_t N>
const Option* Find(const Option (&options)[N], std::string_view name) {
  const auto it = std::find_if(std::begin(options), std::end(options), [&](const Option& o) { return o.name == name; });
  return it == std::end(options) ? nullptr : it;
}

// Why --fix or --diff cannot go with the other options; empty when it can.
std::string FixConflict(const Options& options, bool readsStdin) {
  if (options.fix && options.diff) return "--fix and --diff cannot be used together";
  if (!options.fix && !options.diff) return {};
  const std::string name = options.fix ? "--fix" : "--diff";
  if (options.writeBaseline) return name + " and --write-baseline cannot be used together";
  if (options.fix && readsStdin) return "--fix cannot rewrite standard input ('-'): use --diff";
  if (options.diff && (options.format != OutputFormat::Text || options.showTree || options.output)) {
    return "--diff writes a patch to standard output: it goes with no --format, --show-tree or --output";
  }
  return {};
}

}  // namespace

std::string OptionConflict(const Options& options) {
  const auto stdinReads = std::count(options.inputs.begin(), options.inputs.end(), kStdinInput);
  if (!options.schemaFiles.empty() && options.tree) return "--schema and --tree cannot be used together";
  if (stdinReads > 1) return "standard input ('-') can be read only once";
  if (options.stdinFileName && stdinReads == 0) {
    return "--stdin-filename names the document read from '-': give '-' too";
  }
  if (options.baseline && options.writeBaseline) return "--baseline and --write-baseline cannot be used together";
  if (options.output && options.writeBaseline) return "--output and --write-baseline cannot be used together";
  if (options.showTree && options.format != OutputFormat::Text && options.format != OutputFormat::List) {
    return "--show-tree goes with --format text or list";
  }
  if (std::string fixing = FixConflict(options, stdinReads > 0); !fixing.empty()) return fixing;
  if (options.lsp && !options.inputs.empty()) return "--lsp checks the documents an editor opens: it takes no FILE";
  if (options.lsp && (options.fix || options.diff)) return "--lsp cannot be used with --fix or --diff";
  const bool checksFiles = !options.help && !options.version && !options.listTrees && !options.lsp;
  if (checksFiles && options.inputs.empty()) return "no file to check";
  return {};
}

unsigned JobCount(const Options& options) {
  if (options.jobs > 0) return options.jobs;
  return std::max(1U, std::thread::hardware_concurrency());
}

bool SetOption(Options& options, std::string_view name, const std::string& value, std::string& error) {
  const ValueOption* option = Find(kValueOptions, name);
  return option != nullptr && option->set(options, value, error);
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
  Options options;
  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg.empty() || arg[0] != '-' || arg == kStdinInput) {
      options.inputs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    if (const Flag* flag = Find(kFlags, name)) {
      if (equals != std::string::npos) {
        error = "option " + name + " takes no value";
        return std::nullopt;
      }
      options.*(flag->member) = true;
      continue;
    }
    const ValueOption* option = Find(kValueOptions, name);
    if (option == nullptr) {
      error = "unknown option " + arg;
      return std::nullopt;
    }
    if (equals == std::string::npos && i + 1 == args.size()) {
      error = "option " + name + " needs a value";
      return std::nullopt;
    }
    const std::string& value = equals != std::string::npos ? arg.substr(equals + 1) : args[++i];
    if (!option->set(options, value, error)) return std::nullopt;
  }
  error = OptionConflict(options);
  if (!error.empty()) return std::nullopt;
  return options;
}

std::string VersionText() { return "corvanexml-check " CORVANE_VERSION "\n"; }

std::string HelpText() {
  return R"(Usage: corvanexml-check [OPTION]... FILE|FOLDER|-...
       corvanexml-check --list-trees
       corvanexml-check --lsp [--tree NAME | --schema FILE]...

Checks console plug-in XML files (books, pages, tasks, modules, roles, translator
files) and prints every problem as a numbered message line, "Msg 001" to "Msg 010"
and "Msg 100". Ids, role assignments, resource keys of the web application around
the file (the part of its path before "portal"), JSP pages, and the class and
attribute names of the directory schema are checked.

FILE...            files checked one after another, each from a fresh state, so a
                   file has the same findings whichever files share the run; a
                   folder stands for every *.xml file below it, in sorted path
                   order, leaving out hidden folders and folders with a CACHEDIR.TAG
                   (links that lead out of the folder are named and not followed);
                   a folder that leaves no file to check is a usage error
--carry-over       check the files as if each were chosen in turn in one window
                   session: the bundle and key remembered carry over to the next
-                  the document from standard input
--stdin-filename PATH
                   where the document read from '-' lives: its web application,
                   bundles and pages are found from PATH, and findings name it
--exclude GLOB     leave out the files and folders of a folder's walk whose path
                   below that folder, or whose name, matches GLOB (repeatable),
                   e.g. --exclude web.xml --exclude 'WEB-INF/*'
--jobs N           check up to N files at once, ahead of their turn (default:
                   one per core); the output is the same for every N. With
                   --carry-over only the reading runs ahead; with --fix each
                   file is read in its turn, after the fixes of the files before it

Directory tree:
--schema FILE      check names against this schema file (RFC 4512 definitions,
                   LDIF or OpenLDAP spelling); repeat it to join several files
--tree NAME        check names against a tree of the client's connections
                   (default: the tree of the primary connection)
--list-trees       print the client's trees, one per line, and stop

Output (findings on standard output, a summary line on standard error):
--format text      one line per finding, PATH:LINE:COL: Msg NNN: text, ordered by
                   file, line and column; a line break in a message is a blank;
                   nothing for a file without findings (the default)
--format list      per file the message list as the window shows it (ascending,
                   letter case ignored, messages as written); with several files
                   each file's path and ":" first
--format github    GitHub Actions workflow commands (::warning, ::error for Msg 100)
--format json      one JSON document: the version, per file its path and its
                   findings with text, code, rule, level, line, column and the tree
                   item's labels from the file down (more than 16: the first 3, "…",
                   the last 12)
--format sarif     SARIF 2.1.0 for code scanning
--show-tree        with text or list: print each file's node tree first (two spaces
                   per depth, the file's full path at depth 0), then an empty line;
                   deeper than 100 the indent stays and "[depth N] " starts the line
--quiet, -q        no summary line
--output FILE      write the findings to FILE instead of standard output, whole,
                   at the end of the run (refused when FILE is a file being checked)

Which findings count:
--ignore CODE      drop every finding with this code, Msg004 or 004, or with the
                   rule UnusedDirective (repeatable; a comma-separated list works too)
                   In the file, <!-- corvanexml-check disable=Msg003,Msg004 -->
                   drops those codes in the element that follows the comment and
                   everything inside it, or in the whole file when it stands
                   before the document element; "disable" alone drops every code
                   but Msg100
--report-unused-directives
                   report each such comment that dropped nothing
--baseline FILE    report only findings not recorded in FILE (each recorded finding
                   excuses one equal finding)
--write-baseline FILE
                   record the findings in FILE (path relative to FILE's folder, code
                   and text; no line numbers) instead of printing them
--exit-zero        findings do not make the exit status 1

Fixes (only where one correction is certain: blanks in an eDirSearch class name
become "_" (Msg 009); a class or attribute name takes the schema's spelling when
exactly one schema name equals it with letter case ignored (Msg 001, Msg 006)):
--fix              correct the files in place (every other byte stays, the file
                   keeps its mode), say each change on standard error, and report
                   the findings left
--diff             print the corrections as a unified diff and change nothing

Editors:
--lsp              serve an editor over the Language Server Protocol on standard
                   input and output (logs on standard error): each open document
                   is checked as it is typed, as if it were saved where it lives;
                   --tree, --schema, --ignore and --report-unused-directives count

--help, -h         this text
--version          the version

Project file: .corvanexml.toml, the nearest one in the folder of a checked file
or above it, sets these options for the project with keys of the same names:
schema = ["a.schema"] or tree = "NAME", exclude = ["WEB-INF/*"],
ignore = ["Msg004"], baseline = "FILE", format = "text", carry-over = false.
Paths in it count from its folder. Options given on the command line win; the
excludes and ignored codes of both count. The first input's project file gives
the tree, baseline, format and carry-over of the whole run.

Exit status: 0 no finding, 1 at least one finding, 2 a usage error (a bad project
file too), no tree to check against, a baseline that cannot be read or written, an
--output file that cannot be written, a file or folder that could not be read at
all, or a check that stopped half-way (the others are still checked).
)";
}

bool MatchesExclude(const std::filesystem::path& entry, const std::filesystem::path& folder,
                    const std::vector<std::string>& excludes) {
  if (excludes.empty()) return false;
  const std::string below = entry.lexically_relative(folder).generic_string();
  const std::string name = entry.filename().string();
  return std::any_of(excludes.begin(), excludes.end(), [&](const std::string& glob) {
    return ::fnmatch(glob.c_str(), below.c_str(), 0) == 0 || ::fnmatch(glob.c_str(), name.c_str(), 0) == 0;
  });
}

namespace {

// Whether a path without links lies in a folder without links, or is that folder.
bool Inside(const std::filesystem::path& real, const std::filesystem::path& folder) {
  return std::mismatch(folder.begin(), folder.end(), real.begin(), real.end()).first == folder.end();
}

// The regular file that path itself names (a link is not followed), by its identity.
std::optional<FoundFile> RegularFileAt(const std::filesystem::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FoundFile{nullptr, {}, FileIdentity{st.st_dev, st.st_ino}};
}

// How many folders with files to check a walk holds open, so that their files are opened by
// their names there (the files of any folder beyond are known by their identities instead):
// at most 256, and a quarter of the descriptors the process may open, to leave room for the
// files read and the connections made meanwhile.
std::size_t MostHeldFolders() {
  constexpr std::size_t kMost = 256;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMost;
  return std::min<std::size_t>(kMost, limit.rlim_cur / 4);
}

// The entries of a folder as the system lists them, without "." and "..".
class FolderEntries {
 public:
  explicit FolderEntries(const std::string& folder) : dir_(::opendir(folder.c_str())) {
    if (dir_ == nullptr) error_ = errno;
  }
  ~FolderEntries() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  FolderEntries(const FolderEntries&) = delete;
  FolderEntries& operator=(const FolderEntries&) = delete;

  // The next entry; nothing at the end, or when the folder cannot be read (error()).
  const dirent* next() {
    while (dir_ != nullptr && error_ == 0) {
      errno = 0;
      // Thread safe for a stream of its own, which the deprecated readdir_r was made for.
      const dirent* entry = ::readdir(dir_);  // NOLINT(concurrency-mt-unsafe)
      if (entry == nullptr) {
        error_ = errno;
        return nullptr;
      }
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") return entry;
    }
    return nullptr;
  }
  std::error_code error() const { return {error_, std::generic_category()}; }

  // The kind of an entry, looked up where the listing does not tell it. A link is not followed.
  unsigned char kindOf(const dirent& entry) const {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type;
    struct stat st {};
    if (!look(entry, st)) return DT_UNKNOWN;
    return S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
  }

  // A regular file listed here: by its name in the folder held open, while fewer than
  // mostHeld folders are held (counting this one in when it is first held), else by its
  // identity.
  std::optional<FoundFile> found(const dirent& entry, std::size_t& held, std::size_t mostHeld) {
    if (holder_ == nullptr && held < mostHeld) {
      const int fd = ::fcntl(::dirfd(dir_), F_DUPFD_CLOEXEC, 0);
      if (fd >= 0) {
        holder_ = std::make_shared<const HeldFolder>(fd);
        ++held;
      }
    }
    if (holder_ != nullptr) return FoundFile{holder_, entry.d_name, {}};
    struct stat st {};
    if (!look(entry, st) || !S_ISREG(st.st_mode)) return std::nullopt;
    return FoundFile{nullptr, {}, FileIdentity{st.st_dev, st.st_ino}};
  }

 private:
  // Looks at an entry itself, not where a link leads; false when it cannot.
  bool look(const dirent& entry, struct stat& st) const {
    return ::fstatat(::dirfd(dir_), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  }

  DIR* dir_;
  int error_ = 0;
  std::shared_ptr<const HeldFolder> holder_;
};

// Whether a name has the extension .xml, in any letter case (".xml" alone is a hidden name).
bool XmlName(std::string_view name) {
  constexpr std::string_view kExtension = ".xml";
  return name.size() > kExtension.size() && SameText(name.substr(name.size() - kExtension.size()), kExtension);
}

// Whether a folder the walk meets holds no plug-in files of the project: a hidden one (.git,
// an editor's), or a cache or build folder marked by a CACHEDIR.TAG that starts with the
// signature such tags carry.
bool NotProjectFolder(const std::filesystem::path& folder) {
  if (folder.filename().string().starts_with('.')) return true;
  constexpr std::string_view kSignature = "Signature: 8a477f597d28d172789f06886806bc55";
  std::ifstream tag(folder / "CACHEDIR.TAG", std::ios::binary);
  std::string start(kSignature.size(), '\0');
  return tag.read(start.data(), static_cast<std::streamsize>(start.size())) && start == kSignature;
}

}  // namespace

ExpandedInputs ExpandInputs(const std::vector<std::string>& inputs, const std::vector<std::string>& excludes,
                            const LeftOut& leftOut) {
  namespace fs = std::filesystem;
  ExpandedInputs expanded;
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (input == kStdinInput || !fs::is_directory(input, ec)) {
      if (input == kStdinInput || !leftOut || !leftOut(input)) expanded.files.push_back({input, std::nullopt});
      continue;
    }
    // The walked tree may come from a stranger: a link in it must not lead the checker to
    // files around it (an environment in /proc, credentials) and print their lines.
    const fs::path top = fs::canonical(input, ec);
    if (ec) {
      expanded.unreadableFolders.push_back(input + ": " + ec.message());
      continue;
    }
    // Folder by folder, so that one that cannot be read is named and the rest still walked.
    const std::size_t warned = expanded.notFollowed.size();
    std::vector<InputFile> found;
    std::vector<std::string> folders{input};
    std::size_t held = 0;
    const std::size_t mostHeld = MostHeldFolders();
    while (!folders.empty()) {
      const std::string folder = std::move(folders.back());
      folders.pop_back();
      const std::string prefix = folder.ends_with('/') ? folder : folder + '/';
      FolderEntries entries(folder);
      while (const dirent* entry = entries.next()) {
        std::string path = prefix + entry->d_name;
        if ((!excludes.empty() && MatchesExclude(path, input, excludes)) || (leftOut && leftOut(path))) continue;
        const bool xml = XmlName(entry->d_name);
        const unsigned char kind = entries.kindOf(*entry);
        if (kind == DT_DIR) {
          if (!NotProjectFolder(path)) folders.push_back(std::move(path));
          continue;
        }
        if (kind == DT_REG) {
          if (std::optional<FoundFile> file = xml ? entries.found(*entry, held, mostHeld) : std::nullopt) {
            found.push_back({std::move(path), std::move(file)});
          }
          continue;
        }
        if (kind != DT_LNK) continue;
        // A link that leads nowhere, or round in a loop, names nothing to check.
        std::error_code typeError;
        const fs::path target = fs::canonical(path, typeError);
        if (typeError) continue;
        const bool toFolder = fs::is_directory(target, typeError);
        if (!toFolder && !xml) continue;
        if (!Inside(target, top)) {
          expanded.notFollowed.push_back(path.append(": not followed: the link leads outside ").append(input));
        } else if (std::optional<FoundFile> file = toFolder ? std::nullopt : RegularFileAt(target)) {
          // Read through the link as named, but only while it still leads to this file.
          found.push_back({std::move(path), std::move(file)});
        }
      }
      if (entries.error()) expanded.unreadableFolders.push_back(folder + ": " + entries.error().message());
    }
    std::sort(found.begin(), found.end(), [](const InputFile& a, const InputFile& b) { return a.path < b.path; });
    std::sort(expanded.notFollowed.begin() + static_cast<std::ptrdiff_t>(warned), expanded.notFollowed.end());
    expanded.files.insert(expanded.files.end(), std::make_move_iterator(found.begin()),
                          std::make_move_iterator(found.end()));
  }
  return expanded;
}

}  // namespace corvane::cli
