#include "config_home.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "d_win.h"

namespace corvane {

namespace {

// The account's home folder from the user database; "/" when it has none.
std::string AccountHome() {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return "/";
  return found->pw_dir;
}

}  // namespace

std::string HomeFolder() {
  std::string home = GetEnvVar("HOME");
  return home.empty() ? AccountHome() : home;
}

std::string ConfigHome() {
  std::string xdg = GetEnvVar("XDG_CONFIG_HOME");
  if (std::filesystem::path(xdg).is_absolute()) return xdg;
  return HomeFolder() + "/.config";
}

}  // namespace corvane
