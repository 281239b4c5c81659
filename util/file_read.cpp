#include "file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {

int OpenRegularFile(const std::string& path, std::string& reason) {
  // Without O_NONBLOCK opening a FIFO waits for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    reason = "not a regular file";
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

std::optional<std::string> ReadToEnd(int fd, std::string& reason) {
  constexpr std::size_t kChunk = 65536;
  std::string content;
  for (;;) {
    const std::size_t size = content.size();
    content.resize(size + kChunk);
    const ssize_t n = ::read(fd, content.data() + size, kChunk);
    content.resize(size + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n == 0) break;
    if (n < 0 && errno != EINTR) {
      reason = std::strerror(errno);
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
