// libFuzzer target: any bytes as a plug-in file read from standard input by the command-line
// checker, in a small web application and against a small schema file, in every output
// format and with unused directives reported. The first byte chooses the format. A finding
// is a crash, a sanitizer report or a hang; messages are never findings.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_webapp.h"
#include "options.h"
#include "run.h"

namespace {

// A small schema file beside the web application.
std::string MakeSchemaFile() {
  const std::string path = MakeFuzzWebApp("corvane-cli-fuzz") + "fuzz.schema";
  std::ofstream(path) << "attributetype ( 1.1 NAME ( 'CN' 'Surname' ) )\n"
                         "objectclass ( 2.1 NAME 'User' MAY ( CN $ Surname ) )\n"
                         "objectclass ( 2.2 NAME 'Extra' AUXILIARY MAY CN )\n";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane::cli;
  static const std::string schemaFile = MakeSchemaFile();
  static const std::string documentPath = MakeFuzzWebApp("corvane-cli-fuzz") + "portal/modules/Mod/Mod.xml";
  if (size == 0) return 0;
  constexpr OutputFormat kFormats[] = {OutputFormat::Text, OutputFormat::List, OutputFormat::Github, OutputFormat::Json,
                                       OutputFormat::Sarif};
  Options options;
  options.format = kFormats[data[0] % 5];
  options.showTree = data[0] % 5 < 2 && (data[0] & 0x80) != 0;
  options.reportUnusedDirectives = true;
  options.quiet = true;
  options.schemaFiles = {schemaFile};
  options.stdinFileName = documentPath;
  options.inputs = {kStdinInput};
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::ostringstream out, err;
  RunChecks(options, in, out, err);
  return 0;
}
