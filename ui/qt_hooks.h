// The window's versions of the services the core reaches through hooks: modal message
// boxes with one OK button, the desktop's clipboard, and repainting during long directory
// reads.
#pragma once

namespace corvane {

// Installs the Qt hooks; call once the application object exists.
void InstallQtPlatformHooks();

}  // namespace corvane
