// SortMessages and the plain message list against the order they stand in for:
// std::stable_sort with MessageOrder.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "plain_sinks.h"
#include "sinks.h"

using namespace corvane;

namespace {

// Text, code and item of each line, so that a line parted from its own item shows.
std::vector<std::tuple<std::string, int, TreeItem>> Lines(const std::vector<Message>& messages) {
  std::vector<std::tuple<std::string, int, TreeItem>> out;
  for (const Message& m : messages) out.emplace_back(m.text, m.code, m.item);
  return out;
}

void ExpectStableSortOrder(std::vector<Message> messages) {
  std::vector<Message> expected = messages;
  std::stable_sort(expected.begin(), expected.end(), MessageOrder);
  PlainMessages list;
  for (const Message& m : messages) list.add(m);
  ASSERT_EQ(Lines(list.lines()), Lines(messages));
  SortMessages(messages);
  ASSERT_EQ(Lines(messages), Lines(expected));
  ASSERT_EQ(Lines(list.sorted()), Lines(expected));
}

// Lines that share long beginnings and differ in letter case, in characters between the
// upper and lower case letters ("[", "_", "`"), in bytes above 127 (0xE1 is "a" with the
// top bit), in NUL and in their length.
std::vector<Message> RandomLines(std::size_t count, std::mt19937& rng) {
  static const std::string kAlphabet = [] {
    const char chars[] = "aAbBzZ@[_`{~ 09\n\x7f\x80\xc1\xe1\xfa\xff";
    return std::string(chars, sizeof chars);  // with the closing NUL
  }();
  const std::vector<std::string> beginnings = {"",
                                               "Msg 001: Schema - Attribute not found: \"",
                                               "MSG 001: schema - attribute NOT found: \"",
                                               "Msg 006: Schema - Class not found: \"",
                                               "Msg 00",
                                               "m"};
  std::vector<Message> lines;
  for (std::size_t i = 0; i < count; ++i) {
    std::string text = beginnings[rng() % beginnings.size()];
    for (std::size_t n = rng() % 24; n > 0; --n) text.push_back(kAlphabet[rng() % kAlphabet.size()]);
    lines.push_back({std::move(text), static_cast<int>(i % 7), i});
  }
  // Repeats: the same line, and the same line in other letter case.
  for (std::size_t i = 0; i < count / 4; ++i) {
    Message copy = lines[rng() % lines.size()];
    if (rng() % 2 == 0)
      std::transform(copy.text.begin(), copy.text.end(), copy.text.begin(),
                     [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    copy.item = count + i;
    lines.push_back(std::move(copy));
  }
  std::shuffle(lines.begin(), lines.end(), rng);
  return lines;
}

}  // namespace

TEST(MessageSort, RandomListsOfEverySizeSortAsStableSortDoes) {
  std::mt19937 rng(20260);
  for (const std::size_t count : {0, 1, 2, 3, 15, 16, 17, 40, 300, 5000, 20000}) {
    SCOPED_TRACE(count);
    ExpectStableSortOrder(RandomLines(count, rng));
  }
}

TEST(MessageSort, LinesThatDifferOnlyFarInOrOnlyInLengthOrCase) {
  // Long shared runs, prefixes of each other, and lines equal but for case: order within
  // those is the order they were added in.
  std::vector<Message> lines;
  const std::string base(70, 'q');
  for (std::size_t i = 0; i < 200; ++i) {
    std::string text = base.substr(0, i % 67);
    if (i % 3 == 0) text.append("Tail").push_back(static_cast<char>('a' + i % 26));
    if (i % 5 == 0) text = base;
    if (i % 7 == 0) text = std::string(70, 'Q');
    lines.push_back({std::move(text), 0, i});
  }
  // Longer than the blocks the plain list keeps its texts in.
  lines.push_back({std::string(100000, 'q') + "a", 0, lines.size()});
  lines.push_back({std::string(100000, 'Q'), 0, lines.size()});
  ExpectStableSortOrder(lines);

  std::vector<Message> same(100, Message{"Msg 008: Duplicate ID: X", 8, 0});
  for (std::size_t i = 0; i < same.size(); ++i) same[i].item = i;
  ExpectStableSortOrder(same);
}
