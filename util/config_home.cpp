#include "config_home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace corvane {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const passwd* account = getpwuid(getuid());
  return account != nullptr ? account->pw_dir : "/";
}

std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && std::filesystem::path(xdg).is_absolute()) return xdg;
  return HomeFolder() + "/.config";
}

}  // namespace corvane
