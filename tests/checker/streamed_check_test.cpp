// A file checked while it loads (CheckFileFollowingLoad) must give exactly what a check after
// the load gives (CheckFile): the same tree, the same messages, the same state carried to the
// next file, also when the load fails after thousands of items were walked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plain_sinks.h"
#include "report.h"
#include "scan.h"

namespace fs = std::filesystem;
using namespace corvane;

namespace {

class StreamedCheck : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("corvane-streamed-" + std::to_string(::getpid()) + "-" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_ / "portal" / "modules" / "Users");
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string write(const std::string& name, const std::string& text) {
    const fs::path path = folder_ / "portal" / "modules" / "Users" / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  enum class Way { AfterLoad, FollowingLoad, FollowingLoadKeepingText };

  // What a session of checks shows: per file its tree, its messages and how it ended.
  static std::string Session(const std::vector<std::string>& paths, Way way) {
    PlainTree tree;
    PlainMessages messages;
    ScanState state(tree, messages);
    std::ostringstream out;
    for (const std::string& path : paths) {
      std::string text;
      const CheckOutcome outcome = way == Way::AfterLoad ? CheckFile(state, path, &text)
                                   : way == Way::FollowingLoad
                                       ? CheckFileFollowingLoad(state, path, std::nullopt)
                                       : CheckFileFollowingLoad(state, path, std::nullopt, &text);
      if (way != Way::FollowingLoad) out << text.size() << " bytes\n";
      out << "== " << path << "\n";
      if (outcome.document) cli::WriteTreeText(out, tree, outcome.document.get());
      for (const Message& m : messages.sorted()) out << m.text << " @" << m.item << "/" << m.source << "\n";
      if (outcome.loadError) out << "load error: " << outcome.loadError->message << "\n";
      if (outcome.walkError) out << "walk error: " << *outcome.walkError << "\n";
      out << "kind " << static_cast<int>(state.NodeInfo.Kind) << ", bundle '" << state.NodeInfo.Resource.Bundle
          << "', ids " << state.IdList.size() << "\n";
    }
    return out.str();
  }

  static void ExpectSameEitherWay(const std::vector<std::string>& paths) {
    const std::string after = Session(paths, Way::AfterLoad);
    EXPECT_EQ(Session(paths, Way::FollowingLoadKeepingText), after);
    const auto withoutSizes = [](const std::string& transcript) {
      std::string out;
      std::istringstream lines(transcript);
      for (std::string line; std::getline(lines, line);) {
        if (!line.ends_with(" bytes")) out += line + "\n";
      }
      return out;
    };
    EXPECT_EQ(Session(paths, Way::FollowingLoad), withoutSizes(after));
  }

  fs::path folder_;
};

// Many roles, so that the load hands out its finished items in several parts, each with
// messages of several kinds: duplicate and unknown ids, a missing bundle, unknown classes.
std::string ManyRoles(int count) {
  std::string xml = "<?xml version=\"1.0\"?>\n<!-- roles -->\n<plugin>\n";
  for (int i = 0; i < count; ++i) {
    const std::string id = "Role." + std::to_string(i % 97 == 0 ? 0 : i);
    xml += "  <role>\n    <id>" + id + "</id>\n";
    xml +=
        "    <resource-properties-file>com.example.Missing" + std::to_string(i % 3) + "</resource-properties-file>\n";
    xml += "    <display-name-key>Key " + std::to_string(i) + "</display-name-key>\n";
    if (i % 5 == 0) xml += "    <role-assignment>Role." + std::to_string(i + 1) + "</role-assignment>\n";
    if (i % 7 == 0) xml += "    <scope><object-type-name>Class " + std::to_string(i) + "</object-type-name></scope>\n";
    xml += "  </role>\n";
    if (i % 1000 == 0) xml += "  text beside the items\n  <!-- a comment among them -->\n  <?pi among them?>\n";
  }
  return xml;
}

TEST_F(StreamedCheck, LargeFilesGiveTheSameTreeMessagesAndCarriedState) {
  const std::string roles = ManyRoles(6000);
  const std::string whole = write("whole.xml", roles + "</plugin>\n");
  // Broken near its end: the items walked before the error must leave nothing behind.
  const std::string broken = write("broken.xml", roles + "  <role><id>x</id></rol>\n</plugin>\n");
  // A display key with no bundle of its own uses the bundle the last file left.
  const std::string carried =
      write("carried.xml", "<plugin><role><display-name-key>K</display-name-key></role></plugin>");
  const std::string missing = (folder_ / "portal" / "modules" / "Users" / "missing.xml").string();
  ExpectSameEitherWay({whole, carried, broken, carried, missing, carried});
}

TEST_F(StreamedCheck, DocumentElementsOfEveryShapeGiveTheSame) {
  ExpectSameEitherWay({
      write("empty.xml", ""),
      write("bare.xml", "<plugin/>"),
      write("text.xml", "<plugin>only text</plugin>"),
      write("comment.xml", "<!-- before --><plugin><!-- inside --></plugin><!-- after -->"),
      write("mixed.xml", "<plugin>a<?pi x?><![CDATA[c]]><role><id>R</id></role>b</plugin>"),
      write("item.xml", "<role><id>R</id><role-assignment>S</role-assignment></role>"),
      write("prolog-error.xml", "<?xml version=\"1.0\"?><plugin><role><id>R</id></role>"),
  });
}

}  // namespace
