// Writing files whole: the content goes to a temporary file beside the target, which then
// takes the target's place in one rename, so a crash or a full disk leaves either the old
// file or the new one, never half of one. Where a rename would change what the user has (a
// hard link, a folder that takes no new file, an owner the writer cannot give the new file)
// the file is written in place, as a shell's ">" would.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Replaces the file at path with content (creating it when absent), through a symbolic
// link to the link's target, keeping the permission bits and owner of the file it replaces;
// false, with the reason (the system's text) in reason. A file the writer may not write is
// never touched; otherwise a failure leaves the previous file as it was, except for a
// failed write in place, which leaves what the write got to.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& reason);
// Writes all of content to a file descriptor, going on after interruptions; false when a
// write fails, with errno saying why (EIO for a write that took nothing).
bool WriteAll(int fd, std::string_view content);

}  // namespace corvane
