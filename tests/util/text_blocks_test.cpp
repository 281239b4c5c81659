#include "text_blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "key_order.h"

using namespace corvane;

// Texts stay where they were put while blocks fill up, also past a text longer than a block,
// and the first block serves again after clear().
TEST(TextBlocks, KeptTextsStayInPlaceAcrossBlocks) {
  TextBlocks blocks;
  std::vector<std::string> texts(20000);
  for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = "text " + std::to_string(i);
  texts[5000] = std::string(200000, 'x');
  texts[7000].clear();
  std::vector<std::string_view> kept(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) kept[i] = blocks.add(texts[i]);
  for (std::size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(kept[i], texts[i]) << i;
  blocks.clear();
  EXPECT_EQ(blocks.add("again"), "again");

  // Handed over, the texts stay where they are, and the blocks left behind start afresh.
  const std::string_view kept0 = blocks.add("kept");
  TextBlocks taken = std::move(blocks);
  EXPECT_EQ(kept0, "kept");
  EXPECT_EQ(taken.add("more"), "more");
  EXPECT_EQ(blocks.add("anew"), "anew");  // NOLINT(bugprone-use-after-move): left empty on purpose
  EXPECT_EQ(kept0, "kept");
}

TEST(TextSet, HoldsEachTextOnce) {
  TextSet set;
  EXPECT_FALSE(set.contains("Users.Role.1"));
  EXPECT_TRUE(set.insert("Users.Role.1"));
  EXPECT_FALSE(set.insert("Users.Role.1"));
  EXPECT_TRUE(set.insert("users.role.1"));  // letter case counts
  EXPECT_TRUE(set.insert(""));
  EXPECT_FALSE(set.insert(""));
  EXPECT_EQ(set.size(), 3u);
  for (int i = 0; i < 50000; ++i) ASSERT_TRUE(set.insert("Id." + std::to_string(i)));
  for (int i = 0; i < 50000; i += 97) EXPECT_TRUE(set.contains("Id." + std::to_string(i)));
  EXPECT_FALSE(set.contains("Id.50000"));
  set.clear();
  EXPECT_EQ(set.size(), 0u);
  EXPECT_FALSE(set.contains("Id.5"));
  EXPECT_TRUE(set.insert("Id.5"));
}

// The order is the stable sort's, whichever bits of the keys differ: only the low ones
// (columns), only high ones (lines), or both, with many keys equal, in long lists and short.
TEST(StableKeyOrder, OrdersAsAStableSort) {
  EXPECT_TRUE(StableKeyOrder({}).empty());
  std::mt19937_64 random(7);
  for (const int shift : {0, 20, 32, 53}) {
    std::vector<std::uint64_t> keys(shift == 20 ? 300 : 5000);  // short lists are sorted another way
    for (std::uint64_t& key : keys) key = (random() % 300) << shift | (shift == 32 ? random() % 4 : 0);
    std::vector<std::uint32_t> expected(keys.size());
    for (std::uint32_t i = 0; i < expected.size(); ++i) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](auto a, auto b) { return keys[a] < keys[b]; });
    EXPECT_EQ(StableKeyOrder(keys), expected) << shift;
  }
  const std::vector<std::uint64_t> same(10, 42);
  const std::vector<std::uint32_t> inPlace{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(StableKeyOrder(same), inPlace);
}
