// Where this user's configuration files live; the window's settings and the directory
// client's connections are both kept there.
#pragma once

#include <string>

namespace corvane {

// $HOME, or the account's home folder where HOME is not set (as for some services).
std::string HomeFolder();
// $XDG_CONFIG_HOME when it is an absolute path, else the home folder's ".config". A relative
// value would name a different folder from each working folder, so it counts as unset.
std::string ConfigHome();

}  // namespace corvane
