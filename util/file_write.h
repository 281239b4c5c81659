// Writing files whole: the content goes to a temporary file beside the target, which then
// takes the target's place in one rename, so a crash or a full disk leaves either the old
// file or the new one, never half of one.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Replaces the file at path with content (creating it when absent), through a symbolic
// link to the link's target, keeping the permission bits of the file it replaces; false,
// with the reason (the system's text) in reason, leaving the previous file as it was.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& reason);

}  // namespace corvane
