#include "file_write.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "temp_folder.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

using test::ReadRaw;
using test::TempFolder;
using test::WriteRaw;

struct stat Stat(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

struct Outcome {
  bool written = false;
  std::string reason;
};

// Root may write any file, so the permission cases need a user without that power: as root
// the call runs in a child process that has become "nobody"; as anyone else it runs here.
class AsUser : public ::testing::Test {
 protected:
  static bool root() { return ::geteuid() == 0; }
  static uid_t userId() {
    const passwd* nobody = ::getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
  }
  // Hands a file or folder to the user the writes run as.
  static void own(const std::string& path) {
    if (root()) {
      ASSERT_EQ(::chown(path.c_str(), userId(), userId()), 0);
    }
  }
  static Outcome write(const std::string& path, const std::string& content) {
    Outcome outcome;
    if (!root()) {
      outcome.written = WriteFileAtomically(path, content, outcome.reason);
      return outcome;
    }
    int fds[2];
    if (::pipe(fds) != 0) return {false, "pipe failed"};
    const uid_t user = userId();
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(fds[0]);
      if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(2);
      std::string reason;
      const bool written = WriteFileAtomically(path, content, reason);
      [[maybe_unused]] const ssize_t sent = ::write(fds[1], reason.data(), reason.size());
      ::_exit(written ? 0 : 1);
    }
    ::close(fds[1]);
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
      outcome.reason.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "the child could not become the user: " << status;
    outcome.written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return outcome;
  }
  void SetUp() override { own(dir.path); }

  TempFolder dir;
};

}  // namespace

TEST_F(AsUser, FileWithoutWritePermissionStaysAsItIs) {
  const std::string file = dir / "list.txt";
  WriteRaw(file, "old");
  own(file);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  const Outcome outcome = write(file, "new");
  EXPECT_FALSE(outcome.written);
  EXPECT_EQ(outcome.reason, "Permission denied");
  EXPECT_EQ(ReadRaw(file), "old");
  EXPECT_EQ(Stat(file).st_mode & 07777, 0444u);
  EXPECT_EQ(dir.entries(), 1);
}

// The folder forbids a temporary file, the file itself does not: written as a shell's ">" would.
TEST_F(AsUser, WritableFileInReadOnlyFolderIsWrittenInPlace) {
  const std::string file = dir / "list.txt";
  WriteRaw(file, "old and longer");
  own(file);
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  const ino_t inode = Stat(file).st_ino;
  ASSERT_EQ(::chmod(dir.path.c_str(), 0555), 0);
  const Outcome outcome = write(file, "new");
  EXPECT_TRUE(outcome.written) << outcome.reason;
  EXPECT_EQ(ReadRaw(file), "new");
  EXPECT_EQ(Stat(file).st_ino, inode);
  EXPECT_EQ(Stat(file).st_mode & 07777, 0644u);
  EXPECT_FALSE(write(dir / "other.txt", "new").written);  // a new file has nowhere to go
  EXPECT_EQ(dir.entries(), 1);
}

// Replacing a file the writer cannot give back to its owner would make it the writer's.
TEST_F(AsUser, SomeoneElsesWritableFileKeepsItsOwner) {
  if (!root()) GTEST_SKIP() << "needs a second user to own the file";
  const std::string file = dir / "shared.txt";
  WriteRaw(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
  const ino_t inode = Stat(file).st_ino;
  const Outcome outcome = write(file, "new");
  EXPECT_TRUE(outcome.written) << outcome.reason;
  EXPECT_EQ(ReadRaw(file), "new");
  EXPECT_EQ(Stat(file).st_uid, 0u);
  EXPECT_EQ(Stat(file).st_ino, inode);
  EXPECT_EQ(dir.entries(), 1);
}

TEST(AtomicWrite, HardLinkedFileIsWrittenInPlaceForEveryName) {
  TempFolder dir;
  WriteRaw(dir / "a.txt", "old");
  ASSERT_EQ(::link((dir / "a.txt").c_str(), (dir / "b.txt").c_str()), 0);
  std::string reason;
  ASSERT_TRUE(WriteFileAtomically(dir / "a.txt", "new", reason)) << reason;
  EXPECT_EQ(ReadRaw(dir / "a.txt"), "new");
  EXPECT_EQ(ReadRaw(dir / "b.txt"), "new");
  EXPECT_EQ(Stat(dir / "a.txt").st_nlink, 2u);
  EXPECT_EQ(dir.entries(), 2);
}

TEST(AtomicWrite, OrdinaryFileIsReplacedByRenameKeepingTheMode) {
  TempFolder dir;
  const std::string file = dir / "list.txt";
  WriteRaw(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  const ino_t inode = Stat(file).st_ino;
  std::string reason;
  ASSERT_TRUE(WriteFileAtomically(file, "new", reason)) << reason;
  EXPECT_EQ(ReadRaw(file), "new");
  EXPECT_NE(Stat(file).st_ino, inode);
  EXPECT_EQ(Stat(file).st_mode & 07777, 0640u);
  EXPECT_EQ(dir.entries(), 1);
}
