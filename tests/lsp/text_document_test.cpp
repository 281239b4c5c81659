#include "text_document.h"

#include <gtest/gtest.h>

using namespace corvane::lsp;

// Lines end at a LF, a CR LF or a lone CR; an index of the first lines alone answers for them
// exactly as the whole index does, and edits land where the whole index puts them.
TEST(TextDocument, LinesEndAtEveryKindOfBreakAndEditsLandOnThem) {
  const std::string text = "a\r\nbb\rccc\n\nd\xc3\xa9\xf0\x9f\x98\x80x\r";
  const LineIndex all(text);
  const LineIndex firstTwo(text, 1);
  for (const PositionEncoding encoding : {PositionEncoding::Utf16, PositionEncoding::Utf8}) {
    EXPECT_EQ(all.offset({1, 2}, encoding), 5u);
    EXPECT_EQ(firstTwo.offset({1, 2}, encoding), 5u);
    EXPECT_FALSE(firstTwo.offset({2, 0}, encoding));
    EXPECT_EQ(all.offset({3, 0}, encoding), 10u);  // the empty line
    EXPECT_EQ(all.offset({4, 0}, encoding), 11u);
    EXPECT_EQ(all.offset({5, 0}, encoding), text.size());
    EXPECT_FALSE(all.offset({6, 0}, encoding));
  }
  EXPECT_EQ(all.offset({4, 4}, PositionEncoding::Utf16), 18u);  // past the emoji's two units
  EXPECT_EQ(all.offset({4, 7}, PositionEncoding::Utf8), 18u);
  EXPECT_EQ(all.position(18, PositionEncoding::Utf16).character, 4u);

  std::string edited = text;
  ASSERT_TRUE(ApplyChanges(edited, {{Position{4, 0}, Position{4, 1}, "D"}, {Position{1, 0}, Position{2, 1}, "-"}},
                           PositionEncoding::Utf16));
  EXPECT_EQ(edited, "a\r\n-cc\n\nD\xc3\xa9\xf0\x9f\x98\x80x\r");
  EXPECT_FALSE(ApplyChanges(edited, {{Position{9, 0}, Position{9, 0}, "?"}}, PositionEncoding::Utf16));
  ASSERT_TRUE(ApplyChanges(edited, {{std::nullopt, std::nullopt, "whole"}, {Position{0, 5}, Position{0, 5}, "!"}},
                           PositionEncoding::Utf16));
  EXPECT_EQ(edited, "whole!");
}

// Positions and offsets agree on every line of a long text, whichever break ends each line,
// and a partial index knows the lines up to its last and no more.
TEST(TextDocument, EveryLineOfALongTextIsFoundBothWays) {
  const char* const breaks[] = {"\n", "\r\n", "\r"};
  std::string text;
  std::vector<std::size_t> starts;
  for (std::size_t line = 0; line < 70; ++line) {
    starts.push_back(text.size());
    text += std::string(line % 5, 'x') + "\xc3\xa9" + breaks[line % 3];
  }
  starts.push_back(text.size());  // the empty last line
  const LineIndex all(text);
  const LineIndex firstForty(text, 39);
  for (std::size_t line = 0; line < starts.size(); ++line) {
    const auto at = static_cast<std::uint32_t>(line);
    const std::size_t afterAccent = starts[line] + line % 5 + (line < 70 ? 2 : 0);
    EXPECT_EQ(all.offset({at, 0}, PositionEncoding::Utf8), starts[line]) << line;
    const Position p = all.position(afterAccent, PositionEncoding::Utf16);
    EXPECT_EQ(p.line, at);
    EXPECT_EQ(p.character, line < 70 ? line % 5 + 1 : 0) << line;
    EXPECT_EQ(firstForty.offset({at, 0}, PositionEncoding::Utf8).has_value(), line < 40) << line;
  }
  EXPECT_FALSE(all.offset({71, 0}, PositionEncoding::Utf8));
}
