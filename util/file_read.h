// Reading files the user names: only regular files are opened, and never in a way that
// blocks on a FIFO or a device.
#pragma once

#include <optional>
#include <string>

namespace corvane {

// Opens a regular file for reading; -1 with the reason (the system's text, or "not a
// regular file") in reason.
int OpenRegularFile(const std::string& path, std::string& reason);
// Reads an open file to its end straight into the result, and closes it; nothing, with the
// reason in reason, when a read fails. Nothing passes through another buffer, so a caller
// that reads a secret has only the result to wipe.
std::optional<std::string> ReadToEnd(int fd, std::string& reason);
// The whole content of a regular file; nothing, with the reason in reason, when it cannot
// be read.
std::optional<std::string> ReadRegularFile(const std::string& path, std::string& reason);

}  // namespace corvane
