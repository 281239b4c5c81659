#include "d_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "d_xml.h"
#include "platform_hooks.h"

using namespace corvane;

TEST(XmlTag, EmptyContentGivesEmptyElementAndNothingIsEscaped) {
  EXPECT_EQ(XmlTag("row", ""), "<row/>");
  EXPECT_EQ(XmlTag("row", " "), "<row> </row>");
  EXPECT_EQ(XmlTag("a", "x<y"), "<a>x<y</a>");
}

TEST(Search, PositionsCountFromOneAndFoldOnlyAscii) {
  EXPECT_EQ(PosText("b", "aBc"), 2u);
  EXPECT_EQ(PosText("", "abc"), 0u);
  EXPECT_EQ(PosStr("B", "abc", true), 0u);
  EXPECT_EQ(PosStr("B", "abc", false), 2u);
  EXPECT_EQ(IndexOfString("html", {"HTML", "HTM"}, false), 0);
  EXPECT_EQ(IndexOfString("html", {"HTML", "HTM"}, true), -1);
  EXPECT_EQ(IndexOfString("é", {"É"}, false), -1);
  EXPECT_FALSE(StringInList("x", {}, false));
}

TEST(Cutting, BeforeAfterAndSplit) {
  EXPECT_EQ(StrBefore("a=b=c", "=", true), "a");
  EXPECT_EQ(StrBefore("a=b=c", "=", false), "a=");
  EXPECT_EQ(StrAfter("a=b=c", "=", true), "b=c");
  EXPECT_EQ(StrAfter("a=b=c", "=", false), "=b=c");
  EXPECT_EQ(StrBefore("abc", "x", true), "abc");
  EXPECT_EQ(StrAfter("abc", "", true), "abc");

  SplitResult r = SplitAt("one two three", " ");
  EXPECT_EQ(r.left, "one");
  EXPECT_EQ(r.right, "two three");
  r = SplitAt("one", " ");
  EXPECT_EQ(r.left, "one");
  EXPECT_EQ(r.right, "");
  r = SplitAt("", " ");
  EXPECT_EQ(r.left, "");
  EXPECT_EQ(r.right, "");
}

TEST(Cutting, JoinTrimAndPrefix) {
  EXPECT_EQ(JoinNonEmpty("", "x", " "), "x");
  EXPECT_EQ(JoinNonEmpty("a", "b", " "), "a b");
  EXPECT_EQ(TrimLeftChars(" ..TXT", " ."), "TXT");
  EXPECT_EQ(TrimRightChars("abc\r\n\r", "\r\n"), "abc");
  EXPECT_EQ(TrimRightChars("\r\n", "\r\n"), "");
  EXPECT_EQ(TrimLeftChars("abc", ""), "abc");
  EXPECT_EQ(EnsurePrefix("ini", "."), ".ini");
  EXPECT_EQ(EnsurePrefix(".ini", "."), ".ini");
  EXPECT_EQ(EnsurePrefix("", "."), ".");
  EXPECT_EQ(EnsurePrefix("x", ""), "x");
}

TEST(Replacing, ReplaceSubCasesAndNoEndlessGrowth) {
  EXPECT_EQ(ReplaceSub("aXbxc", "x", "-", false, true), "a-b-c");
  EXPECT_EQ(ReplaceSub("aXbxc", "x", "-", true, true), "aXb-c");
  EXPECT_EQ(ReplaceSub("aXbxc", "x", "-", false, false), "a-bxc");
  EXPECT_EQ(ReplaceSub("aa", "a", "aa", true, true), "aaaa");
  EXPECT_EQ(ReplaceSub("abc", "B", "b", false, true), "abc");
  EXPECT_EQ(ReplaceSub("abc", "", "x", true, true), "abc");
  EXPECT_EQ(ReplaceSub("CN=admin.CN=x", "CN=", "", true, false), "admin.CN=x");
  EXPECT_EQ(ReplaceChars("a.b.c", ".", '\\'), "a\\b\\c");
}

TEST(FileNames, ChangeExtensionLooksOnlyAtTheLastComponent) {
  EXPECT_EQ(ChangeExtension("/dir/prog.exe", "ini"), "/dir/prog.ini");
  EXPECT_EQ(ChangeExtension("/dir/prog.exe", ".ini"), "/dir/prog.ini");
  EXPECT_EQ(ChangeExtension("/dir.x/prog", "ini"), "/dir.x/prog.ini");
  EXPECT_EQ(ChangeExtension("/dir/prog", ""), "/dir/prog.");
  const std::string own = ProgramFileName("txt");
  EXPECT_TRUE(own.ends_with("/util_tests.txt")) << own;
}

// A character set may hold characters of several bytes: each is one character, never cut.
TEST(CharacterSets, Utf8CharactersAreWholeCharacters) {
  EXPECT_EQ(TrimLeftChars("\u00e9t\u00e9", "\u00e8"), "\u00e9t\u00e9");  // \u00e8 and \u00e9 share a lead byte
  EXPECT_EQ(TrimLeftChars("\u00e9\u00e9t\u00e9", "\u00e9"), "t\u00e9");
  EXPECT_EQ(TrimRightChars("t\u00e9\u00e9", "\u00e9"), "t");
  EXPECT_EQ(TrimRightChars("t\u00e9", "\u00e8"), "t\u00e9");
  EXPECT_EQ(TrimRightChars("x\u20ac\u20ac", "\u20ac."), "x");
  EXPECT_EQ(ReplaceChars("a\u00e9b\u00e8", "\u00e9", '_'), "a_b\u00e8");
  EXPECT_EQ(ReplaceChars("a\u20acb", "\u20ac", ' '), "a b");
  // Bytes that form no character are characters of their own, and still match themselves.
  EXPECT_EQ(TrimLeftChars("\xff\xff"
                          "a",
                          "\xff"),
            "a");
  EXPECT_EQ(TrimRightChars("a\xc3", "\xc3"), "a");
}

// Counted eight bytes at a time with the rest taken from the last eight: every length and
// every place of a character of two, three or four bytes, beside ASCII.
TEST(CharacterSets, Utf8LengthCountsCharactersWhereverTheyLie) {
  for (const std::string wide : {"\u00e9", "\u20ac", "\U0001F600"}) {
    for (std::size_t length = 0; length <= 24; ++length) {
      EXPECT_EQ(Utf8Length(std::string(length, 'a')), length);
      for (std::size_t at = 0; at <= length; ++at) {
        const std::string text = std::string(at, 'a') + wide + std::string(length - at, 'b');
        EXPECT_EQ(Utf8Length(text), length + 1) << "length " << length << ", at " << at << ", " << wide;
      }
    }
  }
  EXPECT_EQ(Utf8Length("\u00e9\u00e9\u00e9\u00e9\u00e9"), 5u);  // ten bytes, continuations on both sides of eight
}

// A program file replaced while it runs is still found by its own name.
TEST(FileNames, ProgramFileNameOfAReplacedProgram) {
  if (const char* probe = std::getenv("CORVANE_PROGRAM_FILE_PROBE")) {
    std::filesystem::remove(std::filesystem::read_symlink("/proc/self/exe"));
    std::ofstream(probe) << ProgramFileName("txt");
    return;
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("corvane-exe-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path copy = folder / "prog";
  std::filesystem::copy_file("/proc/self/exe", copy);
  const std::string probe = (folder / "probe").string();
  const std::string command = "CORVANE_PROGRAM_FILE_PROBE='" + probe + "' '" + copy.string() +
                              "' --gtest_filter=FileNames.ProgramFileNameOfAReplacedProgram >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(probe);
  const std::string reported((std::istreambuf_iterator<char>(in)), {});
  std::filesystem::remove_all(folder);
  EXPECT_EQ(reported, (folder / "prog.txt").string());
}

// A data file beside the program wins (the build tree); else the installed data folder has
// it; when neither has it, the path beside the program is what a message names.
TEST(FileNames, DataFileBesideTheProgramThenInstalled) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("corvane-data-" + std::to_string(::getpid()));
  const fs::path bin = root / "usr/bin";
  const fs::path data = bin / InstalledDataFolder();
  fs::create_directories(bin);
  fs::create_directories(data);
  const auto touch = [](const fs::path& file) { std::ofstream(file) << "x"; };
  EXPECT_EQ(FindDataFile(bin.string(), "Info.txt"), (bin / "Info.txt").string());
  touch(data / "Info.txt");
  EXPECT_EQ(FindDataFile(bin.string(), "Info.txt"), (data / "Info.txt").lexically_normal().string());
  touch(bin / "Info.txt");
  EXPECT_EQ(FindDataFile(bin.string(), "Info.txt"), (bin / "Info.txt").string());
  fs::create_directories(bin / "Folder");  // a folder of that name is no data file
  touch(data / "Folder");
  EXPECT_EQ(FindDataFile(bin.string(), "Folder"), (data / "Folder").lexically_normal().string());
  fs::remove_all(root);
}

TEST(RawText, TrailingNulOnlyForShortTexts) {
  std::string empty;
  EnsureTrailingNul(empty);
  EXPECT_EQ(empty, std::string(1, '\0'));
  std::string ended("ab\0", 3);
  EnsureTrailingNul(ended);
  EXPECT_EQ(ended.size(), 3u);
  std::string longText(300, 'x');
  EnsureTrailingNul(longText);
  EXPECT_EQ(longText.size(), 300u);
  EXPECT_STREQ(StrToPChar(std::string()), "");
}

TEST(MessageBoxes, ErrorCodeGoesThroughTheHook) {
  std::vector<std::string> shown;
  SetMessageBoxHook([&](MsgDlgKind kind, const std::string& text) {
    EXPECT_EQ(kind, MsgDlgKind::mtError);
    shown.push_back(text);
  });
  ShowErrorCode(0, "nothing");
  ShowErrorCode(35, "X");
  ShowErrorCode(-1, "DSChangeCurrentTree");
  SetMessageBoxHook(nullptr);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "Error 0023: X");
  EXPECT_EQ(shown[1], "Error FFFFFFFF: DSChangeCurrentTree");
}

TEST(MessageBoxes, DetailsReachAHookThatTakesThemAndNeverStandardError) {
  std::vector<std::string> shown;
  SetMessageBoxHook(
      [&](MsgDlgKind, const std::string& text, const std::string& details) { shown.push_back(text + "|" + details); });
  ShowErrorCode(-1005, "DSChangeCurrentTree", "warning: tree B: why");
  ShowMsgDlg(MsgDlgKind::mtWarning, "plain");
  SetMessageBoxHook({});
  EXPECT_EQ(shown, (std::vector<std::string>{"Error FFFFFC13: DSChangeCurrentTree|warning: tree B: why", "plain|"}));

  // The default box is a line on standard error, where the details went already.
  testing::internal::CaptureStderr();
  ShowErrorCode(-1005, "DSChangeCurrentTree", "warning: tree B: why");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error FFFFFC13: DSChangeCurrentTree\n");
}
