#include "ini_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "file_write.h"
#include "temp_folder.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

using test::ReadRaw;
using test::TempFolder;
using test::WriteRaw;

mode_t Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

}  // namespace

TEST(IniFile, MissingFileIsCreatedInWriteOrderAndReadsBack) {
  TempFolder dir;
  const std::string path = dir / "CorvaneXml.ini";
  IniFile ini = IniFile::Load(path);
  EXPECT_FALSE(ini.readString("Settings", "MainForm.Top"));
  EXPECT_EQ(ini.readInteger("Settings", "MainForm.Top", 201), 201);
  ASSERT_TRUE(ini.writeInteger("Settings", "MainForm.Top", 201));
  ASSERT_TRUE(ini.writeInteger("Settings", "MainForm.Left", -5));
  ASSERT_TRUE(ini.writeString("Settings", "MainForm.Width", " 820 "));
  EXPECT_TRUE(ini.changed());
  std::string reason;
  ASSERT_TRUE(ini.save(reason)) << reason;
  EXPECT_EQ(ReadRaw(path), "[Settings]\nMainForm.Top=201\nMainForm.Left=-5\nMainForm.Width=820\n");
  const mode_t mask = ::umask(022);
  ::umask(mask);
  EXPECT_EQ(Mode(path), 0666 & ~mask);

  IniFile again = IniFile::Load(path);
  EXPECT_EQ(again.readInteger("SETTINGS", "mainform.left", 0), -5);
  ASSERT_TRUE(again.writeInteger("settings", "MAINFORM.TOP", 201));
  EXPECT_FALSE(again.changed()) << "an equal value is no change";
  EXPECT_FALSE(again.writeString("S", "a=b", "1"));
  EXPECT_FALSE(again.writeString("a]b", "k", "1"));
  EXPECT_FALSE(again.writeString("S", "k", "1\n[T]"));
  EXPECT_FALSE(again.changed());
}

TEST(IniFile, WritesTouchOnlyTheirOwnLines) {
  TempFolder dir;
  const std::string path = dir / "settings.ini";
  const std::string head = "; by hand\n[Other]\nMainForm.Top=1\n\n[ settings ]   # the window\n";
  const std::string tail = "odd line\nmainform.top=6\nKeep=  as is  \n";
  const std::string end = "\n; end of section\n[SETTINGS]\nMainForm.Left=9\n";
  WriteRaw(path, head + "  mainform.TOP = 5\n" + tail + end);
  IniFile ini = IniFile::Load(path);
  EXPECT_EQ(ini.readInteger("Settings", "MainForm.Top", 0), 5);
  EXPECT_EQ(ini.readString("Settings", "keep"), "as is");
  EXPECT_FALSE(ini.readString("Settings", "MainForm.Left")) << "the first of two equal sections wins";

  ASSERT_TRUE(ini.writeInteger("Settings", "MainForm.Top", 300));
  ASSERT_TRUE(ini.writeInteger("Settings", "MainForm.Left", 10));
  ASSERT_TRUE(ini.writeInteger("Empty", "Key", 1));
  std::string reason;
  ASSERT_TRUE(ini.save(reason)) << reason;
  EXPECT_EQ(ReadRaw(path), head + "mainform.TOP=300\n" + tail + "MainForm.Left=10\n" + end + "\n[Empty]\nKey=1\n");

  WriteRaw(path, "\xEF\xBB\xBF[Settings]\r\nA=1\r\n[Next]");
  ini = IniFile::Load(path);
  EXPECT_EQ(ini.readInteger("settings", "a", 0), 1);
  ASSERT_TRUE(ini.writeInteger("Settings", "B", 2));
  ASSERT_TRUE(ini.writeInteger("Next", "C", 3));
  ASSERT_TRUE(ini.save(reason)) << reason;
  EXPECT_EQ(ReadRaw(path), "\xEF\xBB\xBF[Settings]\r\nA=1\r\nB=2\r\n[Next]\r\nC=3\r\n");
}

TEST(IniFile, IntegerIsReadOnlyFromAWholeDecimalNumberIn32Bits) {
  TempFolder dir;
  WriteRaw(dir / "n.ini",
           "[N]\na= \t42 \nb=+7\nc=-2147483648\nd=2147483647\ne=000000000000000000012\n"
           "f=2147483648\ng=-2147483649\nh=12px\ni=\nj=0x10\nk=1e3\nl=+\nm=- 5\nn=1 2\n");
  const IniFile ini = IniFile::Load(dir / "n.ini");
  const std::pair<const char*, std::int32_t> expected[] = {
      {"a", 42}, {"b", 7},  {"c", INT32_MIN}, {"d", INT32_MAX}, {"e", 12}, {"f", -1}, {"g", -1}, {"h", -1},
      {"i", -1}, {"j", -1}, {"k", -1},        {"l", -1},        {"m", -1}, {"n", -1}, {"z", -1}};
  for (const auto& [key, value] : expected) EXPECT_EQ(ini.readInteger("N", key, -1), value) << key;
}

TEST(AtomicWrite, FailureLeavesThePreviousFileAndNoTemporary) {
  TempFolder dir;
  const std::string path = dir / "list.html";
  WriteRaw(path, "old");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::string reason;
  EXPECT_FALSE(WriteFileAtomically(path + "/child", "new", reason));
  EXPECT_EQ(reason, "Not a directory");
  EXPECT_FALSE(WriteFileAtomically(dir / "missing/list.html", "new", reason));
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_FALSE(WriteFileAtomically(dir / "fifo", "new", reason));
  EXPECT_EQ(reason, "not a regular file");

  // A file size limit stops the write halfway, for root too.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteFileAtomically(path, std::string(4096, 'x'), reason);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(reason, "File too large");

  EXPECT_EQ(ReadRaw(path), "old");
  EXPECT_EQ(dir.entries(), 2);
}

TEST(AtomicWrite, WritesThroughSymbolicLinksKeepingTheMode) {
  TempFolder dir;
  fs::create_directory(dir / "real");
  WriteRaw(dir / "real/settings.ini", "old");
  ASSERT_EQ(::chmod((dir / "real/settings.ini").c_str(), 0640), 0);
  fs::create_symlink("real/settings.ini", dir / "hop");
  fs::create_symlink("hop", dir / "settings.ini");
  fs::create_symlink("real/new.ini", dir / "dangling");
  fs::create_symlink("loop", dir / "loop");

  std::string reason;
  ASSERT_TRUE(WriteFileAtomically(dir / "settings.ini", "new", reason)) << reason;
  EXPECT_TRUE(fs::is_symlink(dir / "settings.ini"));
  EXPECT_EQ(ReadRaw(dir / "real/settings.ini"), "new");
  EXPECT_EQ(Mode(dir / "real/settings.ini"), 0640u);
  ASSERT_TRUE(WriteFileAtomically(dir / "dangling", "created", reason)) << reason;
  EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
  EXPECT_EQ(ReadRaw(dir / "real/new.ini"), "created");
  EXPECT_FALSE(WriteFileAtomically(dir / "loop", "x", reason));
  EXPECT_EQ(reason, "Too many levels of symbolic links");
  EXPECT_EQ(dir.entries(), 5);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), fs::directory_iterator()), 2);
}

// A last line that ends in a lone CR reads as the line it is, before and after a write, so
// the key goes to the section the reader finds.
TEST(IniFile, LastLineEndingInCarriageReturnKeepsItsMeaning) {
  IniFile ini = IniFile::Parse("[Settings\r", "x.ini");
  ASSERT_TRUE(ini.writeInteger("Settings", "MainForm.Top", 7));
  const IniFile again = IniFile::Parse(ini.text(), "x.ini");
  EXPECT_EQ(again.readInteger("Settings", "MainForm.Top", 0), 7);
  EXPECT_EQ(ini.text(), "[Settings\r\nMainForm.Top=7\r\n");
}
