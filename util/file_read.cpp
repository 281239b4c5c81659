#include "file_read.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

#include "d_util.h"

namespace corvane {

namespace {

// Whether a path without links lies in the system's own folders.
bool InSystemFolder(std::string_view real) {
  for (const std::string_view top : {"/proc", "/sys", "/dev"}) {
    if (real.starts_with(top) && (real.size() == top.size() || real[top.size()] == '/')) return true;
  }
  return false;
}

// Whether an open file belongs to the system: by its file system's kind, and by where the
// kernel says the descriptor's file lies (a /dev file is on an ordinary kind of file system).
bool IsSystemFile(int fd) {
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

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

int OpenRegularFile(const std::string& path, std::string& reason, const FileIdentity* expected, std::uint64_t* size) {
  // Looked at before opening, as opening a device may act on it; the descriptor is looked at
  // again below, as the path may name another file by then, and for where it really lies.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    reason = "not a regular file";
    return -1;
  }
  // Without O_NONBLOCK opening a FIFO waits for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    reason = ErrnoText(errno);
    return -1;
  }
  const auto refuse = [&](const char* why) {
    ::close(fd);
    reason = why;
    return -1;
  };
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return refuse("not a regular file");
  if (IsSystemFile(fd)) return refuse(kSystemFileReason);
  if (expected != nullptr && FileIdentity{st.st_dev, st.st_ino} != *expected) {
    return refuse("no longer the file that was found there");
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
  constexpr std::size_t kChunk = 65536;
  // Room is cleared before it is read into, so a file whose size is known is read in one
  // piece of that size and then one byte more, to see its end (or that it grew).
  struct stat st {};
  const std::size_t expected =
      ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  std::string content;
  while (content.size() < limit) {
    const std::size_t size = content.size();
    const std::size_t chunk = std::min(expected > 0 && size <= expected ? expected - size + 1 : kChunk, limit - size);
    content.resize(size + chunk);
    const ssize_t n = ::read(fd, content.data() + size, chunk);
    content.resize(size + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n == 0) break;
    if (n < 0 && errno != EINTR) {
      reason = ErrnoText(errno);
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  return content;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::string& reason) {
  const int fd = OpenRegularFile(path, reason);
  if (fd < 0) return std::nullopt;
  return ReadToEnd(fd, reason);
}

}  // namespace corvane
