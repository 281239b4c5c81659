// Runs corvanexml-check's work in the test process, as a new process would start it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "d_util.h"
#include "dir_client.h"
#include "options.h"
#include "run.h"

namespace cli_test {

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Each run starts from the client's own connections, as a new process would.
inline RunResult RunCli(const std::vector<std::string>& args, const std::string& stdinText = {}) {
  using namespace corvane::cli;
  corvane::client::ResetClient();
  corvane::client::ClientInit(0, 0);
  std::string error;
  const auto options = ParseOptions(args, error);
  if (!options) return {kExitTrouble, {}, error};
  std::istringstream in(stdinText);
  std::ostringstream out;
  std::ostringstream err;
  const int status = options->listTrees ? ListTrees(out, err) : RunChecks(*options, in, out, err);
  return {status, out.str(), err.str()};
}

// A fresh folder below the system's temporary folder, removed at the end; the client's
// configuration is looked for in it, where there is none, so the demo tree is offered.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name)
      : root_(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(root_);
    ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  }
  ~TempFolder() { std::filesystem::remove_all(root_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Writes a file below the folder, creating its folders; the text is written byte for byte.
  void write(const std::string& rel, const std::string& text) const {
    std::filesystem::create_directories((root_ / rel).parent_path());
    std::ofstream(root_ / rel, std::ios::binary) << text;
  }
  std::string read(const std::string& rel) const {
    std::ifstream in(root_ / rel, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string path(const std::string& rel) const { return (root_ / rel).string(); }
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

// Moves into a folder for its lifetime and back afterwards.
class InFolder {
 public:
  explicit InFolder(const std::filesystem::path& folder) : previous_(std::filesystem::current_path()) {
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
  }
  ~InFolder() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// A word quoted for the shell.
inline std::string Quoted(const std::string& word) {
  return "'" + corvane::ReplaceSub(word, "'", "'\\''", true, true) + "'";
}

// Runs corvanexml-check as a process of its own in folder, where its configuration is looked
// for: environment (NAME=value ...) and wrapper (a command that runs it, such as a time
// limit) stand before it, args after it; its standard error is kept in stderr.txt there.
inline RunResult RunProgramIn(const TempFolder& folder, const std::string& args, const std::string& environment = {},
                              const std::string& wrapper = {}) {
  const std::string program =
      (std::filesystem::path(corvane::ProgramFileName("")).parent_path() / "corvanexml-check").string();
  const std::string root = Quoted(folder.root().string());
  const std::string command = "cd " + root + " && " + environment + " XDG_CONFIG_HOME=" + root + " " + wrapper + " " +
                              Quoted(program) + " " + args + " 2>stderr.txt";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, folder.read("stderr.txt")};
}

// What the SARIF 2.1.0 schema finds wrong with a log, one line per error; empty when it is
// valid. The log and the validating script are written into folder.
inline std::string SarifSchemaErrors(const TempFolder& folder, const std::string& log) {
  folder.write("log.sarif", log);
  folder.write("validate.py",
               "import json, sys, jsonschema\n"
               "schema = json.load(open(sys.argv[1]))\n"
               "log = json.load(open(sys.argv[2]))\n"
               "checker = jsonschema.Draft4Validator(schema, format_checker=jsonschema.FormatChecker())\n"
               "errors = [f'{list(e.path)}: {e.message}' for e in checker.iter_errors(log)]\n"
               "print('\\n'.join(errors), end='')\n"
               "sys.exit(1 if errors else 0)\n");
  const std::string command =
      "python3 '" + folder.path("validate.py") + "' '" CORVANE_SARIF_SCHEMA "' '" + folder.path("log.sarif") + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return status == 0 || !output.empty() ? output : "the validation failed";
}

}  // namespace cli_test
