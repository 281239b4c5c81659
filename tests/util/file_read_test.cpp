#include "file_read.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <unordered_set>

#include "temp_folder.h"

using namespace corvane;

namespace {

using test::TempFolder;
using test::WriteRaw;

// Bytes that differ from one position to the next, so that a piece read twice, or left
// out, shows.
std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i * 7 % 26);
  return text;
}

int Open(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

// A regular file is read in a piece of its own size; the sizes about the read size of a
// file of unknown size, and a file that is empty, must come back whole all the same.
TEST(ReadFile, RegularFilesOfEverySizeComeBackWholeAndLimitsHold) {
  const TempFolder folder;
  for (const std::size_t size : {0UL, 1UL, 65535UL, 65536UL, 65537UL, 200000UL}) {
    const std::string path = folder / ("f" + std::to_string(size));
    WriteRaw(path, Pattern(size));
    std::string reason;
    EXPECT_EQ(ReadRegularFile(path, reason), Pattern(size)) << size << " bytes: " << reason;
    for (const std::size_t limit : {0UL, 1UL, 65536UL, size, size + 1}) {
      const std::optional<std::string> head = ReadAtMost(Open(path), limit, reason);
      ASSERT_TRUE(head) << reason;
      EXPECT_EQ(*head, Pattern(size).substr(0, limit)) << size << " bytes, at most " << limit;
    }
  }
}

// A pipe has no size to go by: it is read in pieces until the writer closes it.
TEST(ReadFile, APipeIsReadToItsEnd) {
  int ends[2] = {-1, -1};
  ASSERT_EQ(::pipe(ends), 0);
  const std::string text = Pattern(300000);
  std::thread writer([&] {
    for (std::size_t done = 0; done < text.size();) {
      const ssize_t n = ::write(ends[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(ends[1]);
  });
  std::string reason;
  const std::optional<std::string> read = ReadToEnd(ends[0], reason);
  writer.join();
  ASSERT_TRUE(read) << reason;
  EXPECT_EQ(read->size(), text.size());
  EXPECT_TRUE(*read == text);
}

}  // namespace

// Files on a device the mount table shows only outside /proc, /sys and /dev are opened
// without asking where they lie; any device with a mount in those folders, of a system kind,
// or holding one of those folders as a plain folder, is not trusted, nor is any when the
// table is unreadable or shows no mount that holds them.
TEST(ReadFile, OnlyDevicesMountedOutsideTheSystemFoldersAreTrusted) {
  const auto dev = [](unsigned major, unsigned minor) { return std::uint64_t{makedev(major, minor)}; };
  const std::string table =
      "22 27 0:21 / /proc rw - proc proc rw\n"
      "23 27 0:22 / /sys rw - sysfs sysfs rw\n"
      "24 27 0:6 / /dev rw shared:2 - devtmpfs devtmpfs rw\n"
      "25 24 0:23 / /dev/shm rw - tmpfs tmpfs rw\n"
      "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
      "28 27 8:1 / /srv/my\\040data rw master:1 - ext4 /dev/sda1 rw\n"
      "29 27 8:2 / /home rw - ext4 /dev/sda2 rw\n"
      "30 24 8:2 /x /dev/x rw - ext4 /dev/sda2 rw\n"
      "31 27 0:40 / /mnt/p rw - proc proc rw\n";
  EXPECT_EQ(DevicesOutsideSystemFolders(table), (std::unordered_set<std::uint64_t>{dev(254, 0), dev(8, 1)}));
  // /dev as a folder of "/": every file of "/" may lie in it.
  const std::string plainDev =
      "22 27 0:21 / /proc rw - proc proc rw\n"
      "23 27 0:22 / /sys rw - sysfs sysfs rw\n"
      "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
      "28 27 8:1 / /srv rw - ext4 /dev/sda1 rw\n";
  EXPECT_EQ(DevicesOutsideSystemFolders(plainDev), (std::unordered_set<std::uint64_t>{dev(8, 1)}));
  EXPECT_TRUE(DevicesOutsideSystemFolders("28 27 8:1 / /srv rw - ext4 /dev/sda1 rw\n").empty());
  EXPECT_TRUE(DevicesOutsideSystemFolders(table + "garbage\n").empty());
  EXPECT_TRUE(DevicesOutsideSystemFolders(table + "32 27 8-3 / /mnt/q rw - ext4 /dev/sda3 rw\n").empty());
  EXPECT_TRUE(DevicesOutsideSystemFolders(table + "32 27 8:3 / /mnt/q rw ext4 /dev/sda3 rw\n").empty());
  EXPECT_TRUE(DevicesOutsideSystemFolders("").empty());
}

// A regular file in /dev (a shared memory file) is refused whatever device holds it.
TEST(ReadFile, ARegularFileUnderDevIsNeverOpened) {
  const std::string path = "/dev/shm/corvane_read_test_" + std::to_string(::getpid());
  const int made = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (made < 0) GTEST_SKIP() << "no /dev/shm here";
  ::close(made);
  std::string reason;
  EXPECT_EQ(OpenRegularFile(path, reason), -1);
  EXPECT_EQ(reason, kSystemFileReason);
  ::unlink(path.c_str());
}
