// Schemas far larger than real ones, generated here. Reading them must not recurse once per
// superclass, must not copy inherited attributes into every class and must read a long
// definition in one pass: with any of those faults these tests crash or do not end.
#include <gtest/gtest.h>

#include <string>

#include "schema_parser.h"
#include "tree_schema.h"

namespace corvane::client {
namespace {

using Names = std::vector<std::string>;

TreeSchema SchemaOf(const std::string& text) {
  SchemaDefinitions definitions;
  ParseSchemaText(text, "generated", definitions);
  return TreeSchema(definitions);
}

Names MayOf(const TreeSchema& schema, std::string_view className) {
  const auto found = schema.findClass(className);
  return found ? schema.classItems(found->classIndex)[4] : Names{};
}

TEST(TreeSchemaSize, DeepChainAndLongCycleResolveWithoutRecursion) {
  // c0 SUP c1 SUP ... c19999, the deepest class first, each with one attribute of its own.
  constexpr std::size_t kDepth = 20000;
  std::string text;
  for (std::size_t i = 0; i < kDepth; ++i) {
    const std::string n = std::to_string(i);
    text += "objectclass ( 1.2." + n + " NAME 'c" + n + "'";
    if (i + 1 < kDepth) text += " SUP c" + std::to_string(i + 1);
    text += " MAY a" + n + " )\n";
  }
  SchemaDefinitions definitions;
  ParseSchemaText(text, "generated", definitions);
  const TreeSchema chain(definitions);
  const Names deepest = MayOf(chain, "c0");
  ASSERT_EQ(deepest.size(), kDepth);
  EXPECT_EQ(deepest.front(), "a0");
  EXPECT_EQ(deepest.back(), "a19999");
  EXPECT_EQ(MayOf(chain, "c10000").size(), kDepth - 10000);
  EXPECT_EQ(MayOf(chain, "c19999"), Names{"a19999"});

  // The same chain closed to a cycle by making c19999 a subclass of c0.
  definitions.objectClasses.back().superClasses = {"c0"};
  testing::internal::CaptureStderr();
  const TreeSchema cycle(definitions);
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_EQ(MayOf(cycle, "c12345").size(), kDepth);
  EXPECT_EQ(MayOf(cycle, "c19999").size(), kDepth);
  // One warning for the whole cycle, at the line of its first class.
  EXPECT_EQ(warnings.find("generated:1: warning: "), 0u) << warnings.substr(0, 500);
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings.substr(0, 500);
}

// One base class with many attributes and as many subclasses: copying the base's attributes
// into each subclass takes their product in memory.
TEST(TreeSchemaSize, WideFanOfSubclassesSharesTheInheritedAttributes) {
  constexpr std::size_t kWidth = 20000;
  std::string text = "objectclass ( 1.1 NAME 'base' MAY ( b0";
  for (std::size_t i = 1; i < kWidth; ++i) text += " $ b" + std::to_string(i);
  text += " ) )\n";
  for (std::size_t i = 0; i < kWidth; ++i) {
    const std::string n = std::to_string(i);
    text += "objectclass ( 1.2." + n + " NAME 's" + n + "' SUP base MUST b7 MAY s" + n + " )\n";
  }
  const TreeSchema fan = SchemaOf(text);
  const auto last = fan.findClass("s19999");
  ASSERT_TRUE(last);
  const auto items = fan.classItems(last->classIndex);
  EXPECT_EQ(items[3], Names{"b7"});
  ASSERT_EQ(items[4].size(), kWidth);  // own s19999, then the base's without the mandatory b7
  EXPECT_EQ(items[4].front(), "s19999");
  EXPECT_EQ(items[4].back(), "b19999");
}

TEST(SchemaParserSize, DefinitionsOverManyLinesAreReadInOnePass) {
  constexpr std::size_t kLines = 100000;
  std::string text = "objectclass ( 1.1 NAME 'long'\n\tMAY ( m0\n";
  for (std::size_t i = 1; i < kLines; ++i) text += "\t$ m" + std::to_string(i) + "\n";
  text += "\t) )\n";
  const std::size_t openLine = kLines + 3;
  text += "objectclass ( 1.2 NAME 'open'\n";
  for (std::size_t i = 0; i < kLines; ++i) text += "\tMAY u" + std::to_string(i) + "\n";
  text += "objectclass ( 1.3 NAME 'after' MAY z )\n";

  SchemaDefinitions definitions;
  testing::internal::CaptureStderr();
  ParseSchemaText(text, "generated", definitions);
  const std::string warnings = testing::internal::GetCapturedStderr();
  ASSERT_EQ(definitions.objectClasses.size(), 2u);
  EXPECT_EQ(definitions.objectClasses[0].may.size(), kLines);
  EXPECT_EQ(definitions.objectClasses[1].names, Names{"after"});
  EXPECT_EQ(warnings.find("generated:" + std::to_string(openLine) + ": warning: definition skipped: "), 0u) << warnings;
}

}  // namespace
}  // namespace corvane::client
