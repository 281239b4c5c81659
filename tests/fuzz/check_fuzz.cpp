// libFuzzer target: any bytes as a plug-in file inside a small web application (a bundle
// and a JSP page), loaded and walked with a small schema. A finding is a crash, a sanitizer
// report or a hang; messages are never findings.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_webapp.h"
#include "plain_sinks.h"
#include "scan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  static PlainTree tree;
  static PlainMessages messages;
  static const std::string webApp = MakeFuzzWebApp("corvane-fuzz-webapp");
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
