// The small web application the fuzz targets check their documents in: the bundle
// com.acme.Res and the page of Mod.Page under default.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

// Makes it in the temporary folder under name and returns its root, ending in "/".
inline std::string MakeFuzzWebApp(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / name;
  fs::create_directories(root / "WEB-INF/classes/com/acme");
  fs::create_directories(root / "portal/modules/Mod/skins/default/devices/default");
  std::ofstream(root / "WEB-INF/classes/com/acme/Res.properties") << "Task.A=a\nkey with blank =b\nModule.Mod=c\n";
  std::ofstream(root / "portal/modules/Mod/skins/default/devices/default/Page.jsp") << "<p/>";
  return (root / "").string();
}
