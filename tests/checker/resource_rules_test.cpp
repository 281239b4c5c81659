// Resource lookups across files of one session, where the remembered bundle carries over.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "file_read.h"
#include "plain_sinks.h"
#include "scan.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

class ResourceSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    app_ = fs::temp_directory_path() / ("corvane_resources_" + std::to_string(::getpid())) / "app";
    fs::create_directories(app_ / "WEB-INF/classes");
    fs::create_directories(app_ / "portal");
  }
  void TearDown() override { fs::remove_all(app_.parent_path()); }

  std::vector<std::string> check(const std::string& name, const std::string& xml) {
    std::ofstream(app_ / "portal" / name) << xml;
    CheckFile(state_, (app_ / "portal" / name).string());
    std::vector<std::string> lines;
    for (const Message& m : messages_.sorted()) lines.push_back(m.text);
    return lines;
  }

  static std::string Task(const std::string& id, const std::string& bundle, const std::string& key) {
    return "<task><id>" + id + "</id><resource-properties-file>" + bundle + "</resource-properties-file>" +
           "<display-name-key>" + key + "</display-name-key></task>";
  }

  fs::path app_;
  PlainTree tree_;
  PlainMessages messages_;
  ScanState state_{tree_, messages_};
};

}  // namespace

// A bundle file that exists but fails to read ends the walk; the bundle stays remembered as
// found, so the next file looks its key up in the keys of the last read that succeeded (none
// here) instead of calling the file missing.
TEST_F(ResourceSessionTest, AnUnreadableBundleStaysFoundForTheNextFile) {
  // A regular file by stat whose every read fails, even for root.
  const fs::path unreadable = app_ / "WEB-INF/classes/Bad.properties";
  fs::create_symlink("/proc/self/mem", unreadable);
  std::string reason;
  if (ReadRegularFile(unreadable.string(), reason)) GTEST_SKIP() << "/proc/self/mem is readable here";

  const std::vector<std::string> first =
      check("one.xml", "<plugin>" + Task("A", "Gone", "k") + Task("B", "Bad", "k") + "</plugin>");
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0], "Msg 004: File not found: Gone (" + (app_ / "WEB-INF/classes/Gone.properties").string() + ")");
  EXPECT_EQ(first[1], "Msg 100: XML Error: \"Cannot read " + unreadable.string() + ": " + reason + "\"");

  EXPECT_EQ(check("two.xml", "<plugin>" + Task("C", "Bad", "other") + "</plugin>"),
            (std::vector<std::string>{"Msg 003: Key not found: Bad/other"}));
}

// Items that name the bundle the item before named find its keys as they were left, but a
// file of another web application looks the bundle up in its own.
TEST_F(ResourceSessionTest, ABundleIsLookedUpInTheWebApplicationOfEachFile) {
  std::ofstream(app_ / "WEB-INF/classes/Res.properties") << "k=K\n";
  const fs::path other = app_.parent_path() / "other";
  fs::create_directories(other / "WEB-INF/classes");
  fs::create_directories(other / "portal");
  std::ofstream(other / "WEB-INF/classes/Res.properties") << "m=M\n";

  EXPECT_EQ(check("one.xml", "<plugin>" + Task("A", "Res", "k") + Task("B", "Res", "m") + "</plugin>"),
            (std::vector<std::string>{"Msg 003: Key not found: Res/m"}));
  std::ofstream(other / "portal/two.xml") << "<plugin>" + Task("C", "Res", "k") + Task("D", "Res", "m") + "</plugin>";
  CheckFile(state_, (other / "portal/two.xml").string());
  std::vector<std::string> lines;
  for (const Message& m : messages_.sorted()) lines.push_back(m.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"Msg 003: Key not found: Res/k"}));
}
