#include "file_read.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "d_util.h"
#include "vector_room.h"

namespace corvane {

namespace {

// Whether folder is path or a folder above it (paths without links).
bool Holds(std::string_view folder, std::string_view path) {
  return folder == "/" || (path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/'));
}

constexpr std::string_view kSystemFolders[] = {"/proc", "/sys", "/dev"};

// Whether a path without links lies in the system's own folders.
bool InSystemFolder(std::string_view real) {
  return std::any_of(std::begin(kSystemFolders), std::end(kSystemFolders),
                     [real](std::string_view top) { return Holds(top, real); });
}

// The kinds of file system that hold the system's state rather than files.
bool IsSystemKind(std::string_view kind) {
  for (const std::string_view system : {"proc", "sysfs", "debugfs", "tracefs", "securityfs", "cgroup", "cgroup2", "bpf",
                                        "efivarfs", "pstore", "devpts"}) {
    if (kind == system) return true;
  }
  return false;
}

// A field of the mount table, whose blanks and backslashes are written as "\ooo".
std::string Unescaped(std::string_view field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                       field.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos;
    if (!octal) {
      text.push_back(field[i]);
      continue;
    }
    text.push_back(static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
    i += 3;
  }
  return text;
}

struct Mount {
  std::uint64_t device = 0;
  std::string point;
  bool systemKind = false;  // its kind of file system belongs to the system
};

// The next field of a line, taken from rest: fields are separated by blanks.
std::string_view NextField(std::string_view& rest) {
  const std::size_t start = std::min(rest.find_first_not_of(" \t"), rest.size());
  const std::size_t end = std::min(rest.find_first_of(" \t", start), rest.size());
  const std::string_view field = rest.substr(start, end - start);
  rest.remove_prefix(end);
  return field;
}

// "major:minor" as a device number.
std::optional<std::uint64_t> DeviceOf(std::string_view numbers) {
  unsigned major = 0;
  unsigned minor = 0;
  const char* const end = numbers.data() + numbers.size();
  const auto [afterMajor, majorError] = std::from_chars(numbers.data(), end, major);
  if (majorError != std::errc{} || afterMajor == end || *afterMajor != ':') return std::nullopt;
  const auto [afterMinor, minorError] = std::from_chars(afterMajor + 1, end, minor);
  if (minorError != std::errc{} || afterMinor != end) return std::nullopt;
  return makedev(major, minor);
}

// The mounts of a mount table's text, in the order of its lines: a later mount over a point
// hides those before it. Nothing when a line cannot be read.
std::optional<std::vector<Mount>> MountsOf(std::string_view table) {
  std::vector<Mount> mounts;
  while (!table.empty()) {
    const std::size_t lineEnd = std::min(table.find('\n'), table.size());
    // "id parent major:minor root point options [optional...] - kind source options"
    std::string_view rest = table.substr(0, lineEnd);
    table.remove_prefix(std::min(lineEnd + 1, table.size()));
    NextField(rest);  // id
    NextField(rest);  // parent
    const std::optional<std::uint64_t> device = DeviceOf(NextField(rest));
    NextField(rest);  // root
    const std::string_view point = NextField(rest);
    std::string_view field = NextField(rest);
    while (!field.empty() && field != "-") field = NextField(rest);
    const std::string_view kind = NextField(rest);
    if (!device || point.empty() || kind.empty()) return std::nullopt;
    mounts.push_back({*device, Unescaped(point), IsSystemKind(kind)});
  }
  return mounts;
}

// DevicesOutsideSystemFolders of the mounts.
std::unordered_set<std::uint64_t> DevicesOutside(const std::vector<Mount>& mounts) {
  std::unordered_set<std::uint64_t> system;
  for (const Mount& mount : mounts) {
    if (mount.systemKind || InSystemFolder(mount.point)) system.insert(mount.device);
  }
  for (const std::string_view folder : kSystemFolders) {
    const Mount* holder = nullptr;
    for (const Mount& mount : mounts) {
      if (Holds(mount.point, folder) && (holder == nullptr || mount.point.size() >= holder->point.size())) {
        holder = &mount;
      }
    }
    // A root of the process's own, whose mount the table leaves out: nothing tells where
    // the folder's files lie.
    if (holder == nullptr) return {};
    system.insert(holder->device);
  }
  std::unordered_set<std::uint64_t> outside;
  for (const Mount& mount : mounts) {
    if (!system.contains(mount.device)) outside.insert(mount.device);
  }
  return outside;
}

// The devices outside the system's folders as the mount table tells at the first use. A
// device mounted later is looked at in full; only a mount under /dev, /proc or /sys made
// meanwhile, which takes the administrator, goes unseen.
const std::unordered_set<std::uint64_t>& TrustedDevices() {
  static const std::unordered_set<std::uint64_t> devices = [] {
    std::ifstream file("/proc/self/mountinfo");
    std::ostringstream table;
    table << file.rdbuf();
    return file.bad() ? std::unordered_set<std::uint64_t>{} : DevicesOutsideSystemFolders(table.str());
  }();
  return devices;
}

// Whether an open file belongs to the system: by its file system's kind, and by where the
// kernel says the descriptor's file lies (a /dev file is on an ordinary kind of file system).
// A file on a device that only holds files elsewhere is neither, and costs no look.
bool IsSystemFile(int fd, std::uint64_t device) {
  if (TrustedDevices().contains(device)) return false;
  struct statfs fs {};
  if (::fstatfs(fd, &fs) == 0) {
    switch (fs.f_type) {
      case PROC_SUPER_MAGIC:
      case SYSFS_MAGIC:
      case DEBUGFS_MAGIC:
      case TRACEFS_MAGIC:
      case SECURITYFS_MAGIC:
      case CGROUP_SUPER_MAGIC:
      case CGROUP2_SUPER_MAGIC:
      case BPF_FS_MAGIC:
      case EFIVARFS_MAGIC:
      case PSTOREFS_MAGIC:
      case DEVPTS_SUPER_MAGIC: return true;
      default: break;
    }
  }
  char real[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(link.c_str(), real, sizeof real);
  return n > 0 && InSystemFolder(std::string_view(real, static_cast<std::size_t>(n)));
}

}  // namespace

std::unordered_set<std::uint64_t> DevicesOutsideSystemFolders(std::string_view mountTable) {
  const std::optional<std::vector<Mount>> mounts = MountsOf(mountTable);
  return mounts ? DevicesOutside(*mounts) : std::unordered_set<std::uint64_t>{};
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

HeldFolder::~HeldFolder() { ::close(fd_); }

std::optional<FileIdentity> IdentityOf(const FoundFile& found) {
  struct stat st {};
  if (found.folder == nullptr) return found.identity;
  if (::fstatat(found.folder->fd(), found.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

int OpenRegularFile(const std::string& path, std::string& reason, const FoundFile* found, std::uint64_t* size) {
  // Looked at before opening, as opening a device may act on it, unless whoever found the
  // file saw a regular file there: a look now would tell no more, as the path may name
  // another file by the time it is opened either way. The descriptor is looked at below, for
  // what was opened and where it really lies.
  struct stat st {};
  if (found == nullptr && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    reason = "not a regular file";
    return -1;
  }
  // Without O_NONBLOCK opening a FIFO waits for a writer.
  constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  const bool inFolder = found != nullptr && found->folder != nullptr;
  const int fd =
      inFolder ? ::openat(found->folder->fd(), found->name.c_str(), kFlags | O_NOFOLLOW) : ::open(path.c_str(), kFlags);
  if (fd < 0) {
    reason = inFolder && errno == ELOOP ? kNoLongerFoundReason : ErrnoText(errno);
    return -1;
  }
  const auto refuse = [&](const char* why) {
    ::close(fd);
    reason = why;
    return -1;
  };
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse("not a regular file");
  if (IsSystemFile(fd, st.st_dev)) return refuse(kSystemFileReason);
  if (found != nullptr && !inFolder && FileIdentity{st.st_dev, st.st_ino} != found->identity) {
    return refuse(kNoLongerFoundReason);
  }
  // O_NONBLOCK stays: reads of a regular file do not heed it, and a run over many small
  // files spends its time in system calls.
  if (size != nullptr) *size = static_cast<std::uint64_t>(st.st_size);
  return fd;
}

std::optional<std::string> ReadToEnd(int fd, std::string& reason) {
  return ReadAtMost(fd, std::string().max_size(), reason);
}

std::optional<std::string> ReadAtMost(int fd, std::size_t limit, std::string& reason) {
  struct stat st {};
  const std::size_t expected =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  std::optional<std::string> content = ReadOpenFile(fd, expected, limit, reason);
  ::close(fd);
  return content;
}

std::optional<std::string> ReadOpenFile(int fd, std::size_t expected, std::size_t limit, std::string& reason) {
  constexpr std::size_t kChunk = 65536;
  // Room is cleared before it is read into, so a file whose size is known is read in one
  // piece of that size and one byte more, to see its end (or that it grew).
  std::string content;
  if (expected > 0) ReserveInHugePages(content, std::min(expected + 1, limit));
  while (content.size() < limit) {
    const std::size_t size = content.size();
    const std::size_t chunk = std::min(expected > 0 && size <= expected ? expected - size + 1 : kChunk, limit - size);
    content.resize(size + chunk);
    const ssize_t n = ::read(fd, content.data() + size, chunk);
    content.resize(size + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n == 0) break;
    // Fewer bytes than asked for, the last of those the file held when it was opened: its
    // end, which a further read would only confirm.
    if (n > 0 && static_cast<std::size_t>(n) < chunk && content.size() == expected) break;
    if (n < 0 && errno != EINTR) {
      reason = ErrnoText(errno);
      return std::nullopt;
    }
  }
  return content;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::string& reason) {
  const int fd = OpenRegularFile(path, reason);
  if (fd < 0) return std::nullopt;
  return ReadToEnd(fd, reason);
}

}  // namespace corvane
