// Each folder under fixtures/checker is one case: its input*.xml files are checked in one
// session, in path order, and the labelled tree and message lines of each are compared with
// expected.txt beside them. The case folder's own path reads as $CASE there.
// A case with a tree.schema file is checked against that schema as the selected tree.
// CORVANE_UPDATE_EXPECTED=1 writes the actual output instead (review it before committing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "d_util.h"
#include "dir_client.h"
#include "directory_session.h"
#include "plain_sinks.h"
#include "report.h"
#include "scan.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

fs::path CasesFolder() { return fs::path(CORVANE_FIXTURES) / "checker"; }

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(CasesFolder())) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<fs::path> Inputs(const fs::path& caseFolder) {
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::recursive_directory_iterator(caseFolder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.starts_with("input") && name.ends_with(".xml")) {
      inputs.push_back(fs::relative(entry.path(), caseFolder));
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The walk expands each item after its children, so the whole tree ends up expanded.
void ExpectEveryParentExpanded(const PlainTree& tree) {
  for (const PlainTree::Item& item : tree.items()) {
    if (item.parent == kNoItem) continue;
    EXPECT_TRUE(tree.items()[item.parent].expanded());
  }
}

// following: each file is checked while it loads, as a large file is, rather than after.
std::string RunCase(const fs::path& caseFolder, bool following) {
  PlainTree tree;
  PlainMessages messages;
  ScanState state(tree, messages);
  DirectorySession directory;
  StringList auxAttributes;
  if (fs::exists(caseFolder / "tree.schema")) {
    const std::string treeName = caseFolder.filename().string();
    EXPECT_EQ(client::ServeSchemaFiles({(caseFolder / "tree.schema").string()}, treeName), "");
    EXPECT_TRUE(directory.start());
    EXPECT_EQ(directory.changeTree(treeName), 0);
    directory.readSchema(state.schema, auxAttributes);
  }
  std::ostringstream out;
  for (const fs::path& input : Inputs(caseFolder)) {
    const std::string path = (caseFolder / input).string();
    const CheckOutcome outcome = following ? CheckFileFollowingLoad(state, path, std::nullopt) : CheckFile(state, path);
    out << "== " << input.string() << "\n";
    if (outcome.document) cli::WriteTreeText(out, tree, outcome.document.get());
    ExpectEveryParentExpanded(tree);
    out << '\n';
    for (const Message& m : messages.sorted()) out << m.text << '\n';
  }
  return ReplaceSub(out.str(), caseFolder.string(), "$CASE", true, true);
}

class FixtureCase : public testing::TestWithParam<std::string> {};

TEST_P(FixtureCase, TreeAndMessagesMatchExpected) {
  const fs::path folder = CasesFolder() / GetParam();
  const std::string actual = RunCase(folder, false);
  if (std::getenv("CORVANE_UPDATE_EXPECTED") != nullptr) {
    std::ofstream(folder / "expected.txt", std::ios::binary) << actual;
    GTEST_SKIP() << "expected output written";
  }
  const std::string expected = ReadFile(folder / "expected.txt");
  EXPECT_EQ(actual, expected);
  EXPECT_EQ(RunCase(folder, true), expected) << "checked while loading";
}

INSTANTIATE_TEST_SUITE_P(Checker, FixtureCase, testing::ValuesIn(CaseNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
