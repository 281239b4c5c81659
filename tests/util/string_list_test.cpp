#include "string_list.h"

#include <gtest/gtest.h>

using namespace corvane;

// The hash index must answer what a linear search from the front would.
TEST(StringList, LookupsAnswerTheFirstEqualEntry) {
  StringList list;
  list.add("User", 1);
  list.add("user", 2);
  list.add("User", 3);
  EXPECT_EQ(list.indexOf("User"), 0);
  EXPECT_EQ(list.indexOf("user"), 1);
  EXPECT_EQ(list.indexOf("USER"), -1);
  EXPECT_EQ(list.indexOfText("USER"), 0);
  list.add("Group");
  EXPECT_EQ(list.indexOfText("group"), 3);  // added after the folded index was built
  EXPECT_EQ(list.size(), 4u);
}

TEST(StringList, RemovingKeepsOrderAndIndexes) {
  StringList list;
  for (int i = 0; i < 6; ++i) list.add(std::string("n").append(std::to_string(i % 3)), i);
  list.removeIf([](const StringList::Entry& e) { return e.object < 3; });
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].text, "n0");
  EXPECT_EQ(list.indexOf("n2"), 2);
  EXPECT_EQ(list.indexOfText("N1"), 1);
  list.clear();
  EXPECT_FALSE(list.contains("n0"));
}

// Past many growths of the index, every text still answers its first entry, in both cases.
TEST(StringList, LargeListsKeepAnsweringTheFirstEntry) {
  StringList list;
  for (int i = 0; i < 3000; ++i) list.add("Name " + std::to_string(i % 1000), i);
  list.addAll({"NAME 5", "extra"});
  for (int i = 0; i < 1000; i += 37) {
    const std::string text = "Name " + std::to_string(i);
    EXPECT_EQ(list.indexOf(text), i);
    EXPECT_EQ(list.indexOfText("NAME " + std::to_string(i)), i);
  }
  EXPECT_EQ(list.indexOf("NAME 5"), 3000);
  EXPECT_EQ(list.indexOf("extra"), 3001);
  EXPECT_EQ(list.indexOf("Name 1000"), -1);
  list.removeIf([](const StringList::Entry& e) { return e.object < 1000; });
  EXPECT_EQ(list.indexOf("Name 0"), 0);
  EXPECT_EQ(list.indexOfText("name 999"), 999);
  list.clear();
  list.add("Name 0");
  EXPECT_EQ(list.indexOf("Name 0"), 0);
  EXPECT_EQ(list.size(), 1u);
}

// Texts are compared eight bytes at a time: at every length and position only ASCII letters
// match across case, and bytes that differ by the case bit but are no letters ('@' and '`',
// '[' and '{', UTF-8's "ä" and "Ä") do not.
TEST(StringList, LettersAndOnlyLettersMatchAcrossCaseAtEveryPosition) {
  const std::pair<char, char> same[] = {{'a', 'A'}, {'z', 'Z'}, {'m', 'M'}};
  const std::pair<char, char> apart[] = {{'@', '`'}, {'[', '{'}, {'\xA4', '\x84'}, {'a', 'b'}};
  for (std::size_t length = 1; length <= 20; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      SCOPED_TRACE(testing::Message() << length << " " << at);
      // A list of the text with `one` at `at`, and the text with `other` there instead.
      const auto listAndLookup = [&](char one, char other) {
        std::string text(length, 'x');
        text[at] = one;
        StringList list;
        list.add(text);
        text[at] = other;
        return std::pair{std::move(list), text};
      };
      for (const auto& [one, other] : same) {
        const auto [list, text] = listAndLookup(one, other);
        EXPECT_EQ(list.indexOfText(text), 0);
        EXPECT_EQ(list.indexOf(text), -1);
      }
      for (const auto& [one, other] : apart) {
        const auto [list, text] = listAndLookup(one, other);
        EXPECT_EQ(list.indexOfText(text), -1);
      }
    }
  }
}
