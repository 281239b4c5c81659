#include "file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>

#include "d_util.h"

namespace corvane {
namespace {

// Linux gives up on a chain of links after 40 steps; so do we, with the same error.
constexpr int kMaxLinkSteps = 40;
// Leaves room for the dot and the ".XXXXXX" suffix within one file name.
constexpr std::size_t kMaxTempBaseLength = NAME_MAX - 8;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path that a chain of symbolic links ends in, followed by hand rather than with
// realpath so that a link to a file that does not exist yet still leads somewhere to
// create it. Sets errno and returns false when the chain cannot be followed.
bool FollowLinks(std::string& path) {
  for (int step = 0; step < kMaxLinkSteps; ++step) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;  // a new file: fine
    if (!S_ISLNK(st.st_mode)) return true;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return false;
    target.resize(static_cast<std::size_t>(n));
    path = target.starts_with('/') || path.find('/') == std::string::npos ? target
                                                                          : FolderOf(path).append("/").append(target);
  }
  errno = ELOOP;
  return false;
}

std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string suffix(6, ' ');
  for (char& c : suffix) c = kChars[pick(engine)];
  return suffix;
}

// Creates a new, unique hidden file in the target's folder. Opening it ourselves with
// mode 0666, instead of through mkstemp's 0600, lets the kernel apply the umask and the
// folder's default ACL exactly as for any other newly created file.
int CreateTempFile(const std::string& target, std::string& tempPath) {
  std::string base = BaseOf(target);
  if (base.size() > kMaxTempBaseLength) base.resize(kMaxTempBaseLength);
  const std::string prefix = FolderOf(target) + "/." + base + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = prefix + RandomSuffix();
    const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is still EEXIST
}

// Makes the rename itself survive a power cut. The new file is in place already when this
// fails, so a failure here is not reported.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool Fail(std::string& reason, int error) {
  reason = ErrnoText(error);
  return false;
}

// Closes its descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, for the error that a late write failure shows only here.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Opens the existing file for writing but leaves it as it is, so a file the writer may not
// write is refused before anything happens to it. With O_NONBLOCK a FIFO that took the
// file's place since it was looked at fails to open instead of waiting for a reader.
int OpenExisting(const std::string& target) {
  return ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Writes into the file itself, as a shell's ">" would: every name and the owner stay, at the
// price of a damaged file when the write fails half-way.
bool WriteInPlace(int fd, std::string_view content, std::string& reason) {
  if (::ftruncate(fd, 0) != 0 || !WriteAll(fd, content) || ::fsync(fd) != 0) return Fail(reason, errno);
  return true;
}

enum class Replaced { yes, no, notHere };

// The owner too, so that root saving a user's file does not hand it over to root. False
// when that is not allowed: the new file would then be the writer's.
bool TakeOverOwnerAndMode(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) return false;
  return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Writes a temporary file and renames it over target; notHere when the folder takes no new
// file from this writer, or when the file would not stay its owner's.
Replaced ReplaceWhole(const std::string& target, const struct stat* old, std::string_view content,
                      std::string& reason) {
  std::string tempPath;
  Descriptor temp(CreateTempFile(target, tempPath));
  if (temp.get() < 0) {
    if (old && (errno == EACCES || errno == EPERM)) return Replaced::notHere;
    Fail(reason, errno);
    return Replaced::no;
  }
  if (old && !TakeOverOwnerAndMode(temp.get(), *old)) {
    ::unlink(tempPath.c_str());
    return Replaced::notHere;
  }
  bool ok = WriteAll(temp.get(), content) && ::fsync(temp.get()) == 0;
  int error = errno;
  if (!temp.close() && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(tempPath.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(tempPath.c_str());
    Fail(reason, error);
    return Replaced::no;
  }
  SyncFolder(FolderOf(target));
  return Replaced::yes;
}

}  // namespace

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& reason) {
  std::string target = path;
  if (!FollowLinks(target)) return Fail(reason, errno);
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0) return ReplaceWhole(target, nullptr, content, reason) == Replaced::yes;
  // A rename would put a regular file in the place of a folder, a FIFO or a device.
  if (!S_ISREG(old.st_mode)) {
    reason = S_ISDIR(old.st_mode) ? ErrnoText(EISDIR) : "not a regular file";
    return false;
  }
  const Descriptor existing(OpenExisting(target));
  if (existing.get() < 0 || ::fstat(existing.get(), &old) != 0) return Fail(reason, errno);
  if (!S_ISREG(old.st_mode)) {
    reason = "not a regular file";
    return false;
  }
  // A rename would split a hard link: the other names would keep the old text.
  if (old.st_nlink > 1) return WriteInPlace(existing.get(), content, reason);
  switch (ReplaceWhole(target, &old, content, reason)) {
    case Replaced::yes: return true;
    case Replaced::no: return false;
    case Replaced::notHere: break;
  }
  return WriteInPlace(existing.get(), content, reason);
}

}  // namespace corvane
