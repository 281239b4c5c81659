// Inline directives looked up for findings: which directive counts as used among nested ones
// that silence the same code, and that each finding costs a bounded number of scope visits
// however deep the directives nest.
#include <gtest/gtest.h>

#include "plain_sinks.h"
#include "scan.h"
#include "suppression.h"

using namespace corvane;
using namespace corvane::cli;

namespace {

// A document scanned as the checker scans it, and the tree items of its <x> elements.
struct Scanned {
  explicit Scanned(std::string_view text) : loaded(LoadXmlMemory(text)) {
    ScanState state(tree, messages);
    ScanDocument(state, doc());
    for (TreeItem i = 0; i < tree.items().size(); ++i) {
      const NodeId node = tree.items()[i].node;
      if (node != kNoNode && doc().name(node) == "x") xs.push_back(i);
    }
  }
  const XmlDocument& doc() const { return *loaded.document; }
  // The texts of the directives that silenced nothing.
  std::vector<std::string> unusedTexts(const Suppressions& directives) const {
    std::vector<std::string> texts;
    for (const NodeId comment : directives.unused()) texts.emplace_back(doc().text(comment));
    return texts;
  }

  LoadResult loaded;
  PlainTree tree;
  PlainMessages messages;
  std::vector<TreeItem> xs;
};

ListedMessage At(TreeItem item, int code) { return {"finding", code, item, kNoItem}; }

}  // namespace

TEST(SuppressionTest, TheNearestDirectiveForACodeIsTheOneUsed) {
  const Scanned s(
      "<!--corvanexml-check disable=Msg007-->"
      "<plugin>"
      "<!--corvanexml-check disable=Msg007--><!--corvanexml-check disable=Msg007,Msg008-->"
      "<x>"
      "<!--corvanexml-check disable=Msg008--><x/>"
      "<!--corvanexml-check disable=Msg009--><x/>"
      "</x>"
      "<x/>"
      "</plugin>");
  ASSERT_EQ(s.xs.size(), 4u);
  Suppressions directives(s.tree, s.doc());
  std::vector<ListedMessage> messages = {At(s.xs[1], 7), At(s.xs[1], 8), At(s.xs[2], 7), At(s.xs[2], 8),
                                         At(s.xs[3], 9)};
  RemoveSilenced(messages, {}, directives);
  // Only Msg009 outside the directive for it is left; the first of two directives in one
  // place that both silence a code is the one used, and the file's own one is never reached.
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].code, 9);
  EXPECT_EQ(s.unusedTexts(directives),
            (std::vector<std::string>{"corvanexml-check disable=Msg007", "corvanexml-check disable=Msg009"}));

  // A finding for the file as a whole is silenced by the file's directive alone.
  std::vector<ListedMessage> fileWide = {At(kNoItem, 7), At(kNoItem, 8)};
  RemoveSilenced(fileWide, {}, directives);
  ASSERT_EQ(fileWide.size(), 1u);
  EXPECT_EQ(fileWide[0].code, 8);
  EXPECT_EQ(s.unusedTexts(directives), std::vector<std::string>{"corvanexml-check disable=Msg009"});
}

TEST(SuppressionTest, DeeplyNestedDirectivesAreNotWalkedForEveryFinding) {
  // Each <x> holds the next behind a directive for Msg008; the file's directive silences
  // Msg007, so a finding of that code deep down passes every scope above it.
  constexpr std::size_t kDepth = 3000;
  std::string text = "<!--corvanexml-check disable=Msg007--><plugin>";
  for (std::size_t i = 0; i < kDepth; ++i) text += "<!--corvanexml-check disable=Msg008--><x>";
  for (std::size_t i = 0; i < kDepth; ++i) text += "</x>";
  text += "</plugin>";
  const Scanned s(text);
  ASSERT_EQ(s.xs.size(), kDepth);
  Suppressions directives(s.tree, s.doc());
  std::vector<ListedMessage> messages;
  for (const TreeItem x : s.xs) {
    messages.push_back(At(x, 7));
    messages.push_back(At(x, 8));
  }
  RemoveSilenced(messages, {}, directives);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(directives.unused().empty());
  // Every scope is passed once per code; walking up for each finding would take depth² / 2.
  EXPECT_LE(directives.scopeVisits(), 4 * kDepth);
}

// Comments inside the document element are looked at for directives before the items are:
// a directive written with blanks before it, or a wrong one, among comments that are none,
// still counts, and ordinary comments alone open no scope.
TEST(SuppressionTest, DirectivesAmongOrdinaryCommentsAreFoundHoweverTheyStart) {
  const Scanned plain("<plugin><!-- roles --><x/><!--corvanexml-checker disable--><x/></plugin>");
  Suppressions none(plain.tree, plain.doc());
  std::vector<ListedMessage> kept = {At(plain.xs[0], 7), At(plain.xs[1], 7)};
  RemoveSilenced(kept, {}, none);
  EXPECT_EQ(kept.size(), 2u);
  EXPECT_TRUE(none.problems().empty());

  const Scanned s(
      "<plugin><!-- roles --><x/>"
      "<!--\n  corvanexml-check disable=Msg007 --><x/>"
      "<!-- tasks --><!--corvanexml-check silence--><x/></plugin>");
  ASSERT_EQ(s.xs.size(), 3u);
  Suppressions directives(s.tree, s.doc());
  std::vector<ListedMessage> messages = {At(s.xs[0], 7), At(s.xs[1], 7), At(s.xs[2], 7)};
  RemoveSilenced(messages, {}, directives);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].item, s.xs[0]);
  EXPECT_EQ(messages[1].item, s.xs[2]);
  ASSERT_EQ(directives.problems().size(), 1u);
}
