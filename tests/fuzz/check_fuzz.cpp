// libFuzzer target: any bytes as a plug-in file inside a small web application (a bundle
// and a JSP page), loaded and walked with a small schema. A finding is a crash, a sanitizer
// report or a hang; messages are never findings.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "plain_sinks.h"
#include "scan.h"

namespace {

// A web application in the temporary folder: the bundle com.acme.Res and the page
// Mod.Page under default.
std::string MakeWebApp() {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "corvane-fuzz-webapp";
  fs::create_directories(root / "WEB-INF/classes/com/acme");
  fs::create_directories(root / "portal/modules/Mod/skins/default/devices/default");
  std::ofstream(root / "WEB-INF/classes/com/acme/Res.properties") << "Task.A=a\nkey with blank =b\nModule.Mod=c\n";
  std::ofstream(root / "portal/modules/Mod/skins/default/devices/default/Page.jsp") << "<p/>";
  return (root / "").string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  static PlainTree tree;
  static PlainMessages messages;
  static const std::string webApp = MakeWebApp();
  static ScanState state = [] {
    ScanState s(tree, messages);
    for (const char* name : {"User", "Group"}) s.schema.SchemaClassList.add(name);
    for (const char* name : {"CN", "Surname", "Member"}) s.schema.SchemaAttributeList.add(name);
    s.schema.GetClassAttributes = [](const std::string& className, StringList& attributes) {
      if (className == "User") attributes.add("Surname");
      return 0;
    };
    return s;
  }();
  // State carries over between inputs, as it does between files of one session.
  ClearMessages(state);
  state.XmlFileName = webApp + "portal/modules/Mod/Mod.xml";
  state.WebAppRoot = webApp;
  state.files.clear();
  LoadResult loaded = LoadXmlMemory(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!loaded.document) return 0;
  ScanDocument(state, *loaded.document);
  for (const Message& m : messages.sorted()) {
    if (m.item != kNoItem) (void)tree.labelPath(m.item, loaded.document.get());
  }
  return 0;
}
