// libFuzzer target: any bytes as a plug-in file read from standard input by the command-line
// checker, in a small web application and against a small schema file, in every output
// format and with unused directives reported. The first byte chooses the format. A finding
// is a crash, a sanitizer report or a hang; messages are never findings.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "options.h"
#include "run.h"

namespace {

// A web application with a bundle and a page, and a schema file beside it; returns the path
// the document is checked under.
std::string MakeWebApp(std::string& schemaFile) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "corvane-cli-fuzz";
  fs::create_directories(root / "webapp/WEB-INF/classes/com/acme");
  fs::create_directories(root / "webapp/portal/modules/Mod/skins/default/devices/default");
  std::ofstream(root / "webapp/WEB-INF/classes/com/acme/Res.properties") << "Task.A=a\nModule.Mod=c\n";
  std::ofstream(root / "webapp/portal/modules/Mod/skins/default/devices/default/Page.jsp") << "<p/>";
  schemaFile = (root / "fuzz.schema").string();
  std::ofstream(schemaFile) << "attributetype ( 1.1 NAME ( 'CN' 'Surname' ) )\n"
                               "objectclass ( 2.1 NAME 'User' MAY ( CN $ Surname ) )\n"
                               "objectclass ( 2.2 NAME 'Extra' AUXILIARY MAY CN )\n";
  return (root / "webapp/portal/modules/Mod/Mod.xml").string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane::cli;
  static std::string schemaFile;
  static const std::string documentPath = MakeWebApp(schemaFile);
  if (size == 0) return 0;
  constexpr OutputFormat kFormats[] = {OutputFormat::Text, OutputFormat::List, OutputFormat::Github,
                                       OutputFormat::Json, OutputFormat::Sarif};
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
