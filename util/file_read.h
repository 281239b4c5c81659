// Reading files the user names: only regular files are opened, and never in a way that
// blocks on a FIFO or a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace corvane {

// Which file a path names: the device and inode stat gives.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the file at path, links followed; nothing when it cannot be looked at.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Opens a regular file for reading; -1 with the reason (the system's text, "not a regular
// file", or kSystemFileReason) in reason. A file of /proc, /sys or /dev is never opened:
// such files hold the process's environment and the kernel's state, and some block or
// drain what they read. With expected (the identity of a regular file found at path), only
// that very file is read; whatever the path names instead by then is refused. With size,
// the file's size when it was opened is put there.
int OpenRegularFile(const std::string& path, std::string& reason, const FileIdentity* expected = nullptr,
                    std::uint64_t* size = nullptr);
inline constexpr char kSystemFileReason[] = "a file of the system (/proc, /sys or /dev), never read";
// The devices whose files lie outside /proc, /sys and /dev by whichever path they are opened,
// after a mount table (the text of /proc/self/mountinfo): those mounted only elsewhere, of
// no kind of file system that belongs to the system, and not that of the mount holding one
// of those folders (as "/" does where /dev is no mount of its own). OpenRegularFile looks no
// further at a file on one of them. Empty when the table cannot be read, or shows nothing
// that holds one of those folders.
std::unordered_set<std::uint64_t> DevicesOutsideSystemFolders(std::string_view mountTable);
// Reads an open file to its end straight into the result, and closes it; nothing, with the
// reason in reason, when a read fails. Nothing passes through another buffer, so a caller
// that reads a secret has only the result to wipe.
std::optional<std::string> ReadToEnd(int fd, std::string& reason);
// The same for at most limit bytes from the file's start, for files of which only a little
// is wanted, whatever their size.
std::optional<std::string> ReadAtMost(int fd, std::size_t limit, std::string& reason);
// The same for a file that stays open, expected to hold `expected` bytes (0: not known), as
// its descriptor's look said when it was opened.
std::optional<std::string> ReadOpenFile(int fd, std::size_t expected, std::size_t limit, std::string& reason);
// The whole content of a regular file; nothing, with the reason in reason, when it cannot
// be read.
std::optional<std::string> ReadRegularFile(const std::string& path, std::string& reason);

}  // namespace corvane
