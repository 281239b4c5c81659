// Reading files the user names: only regular files are opened, and never in a way that
// blocks on a FIFO or a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// A folder held open by a descriptor (closed with it): files found in it are opened by their
// names there, without looking up the path to it again, and a link put in place of the
// folder later leads nowhere.
class HeldFolder {
 public:
  explicit HeldFolder(int fd) : fd_(fd) {}
  ~HeldFolder();
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// A regular file a folder's walk found, the only file to be read for its path: its entry
// `name` in a folder held open, where a link put in its place is not followed; or, without a
// folder, the file of `identity` (where the walk held no folder, or found it through a link).
struct FoundFile {
  std::shared_ptr<const HeldFolder> folder;
  std::string name;
  FileIdentity identity;
};
// The identity of the file found: for an entry of a held folder the entry's now, otherwise
// the one the walk saw; nothing when it cannot be looked at.
std::optional<FileIdentity> IdentityOf(const FoundFile& found);

inline constexpr char kNoLongerFoundReason[] = "no longer the file that was found there";

// Opens a regular file for reading; -1 with the reason (the system's text, "not a regular
// file", kSystemFileReason or kNoLongerFoundReason) in reason. A file of /proc, /sys or /dev
// is never opened: such files hold the process's environment and the kernel's state, and
// some block or drain what they read. With found (what a walk found at path), only that very
// file is read; whatever the path names instead by then is refused. With size, the file's
// size when it was opened is put there.
int OpenRegularFile(const std::string& path, std::string& reason, const FoundFile* found = nullptr,
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
