#include "file_read.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

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
