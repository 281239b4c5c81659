// The per-class attribute cache: what it holds and how often it asks the directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "plain_sinks.h"
#include "scan.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

class ClassCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("corvane_schema_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    for (const char* name : {"User", "Group", "Ghost"}) state_.schema.SchemaClassList.add(name);
    for (const char* name : {"CN", "Member", "Surname"}) state_.schema.SchemaAttributeList.add(name);
    state_.schema.GetClassAttributes = [this](const std::string& className, StringList& attributes) {
      ++reads_[className];
      if (className == "User") {
        attributes.add("CN");
        attributes.add("Surname");
      }
      if (className == "Group") attributes.add("Member");
      return className == "Ghost" ? -601 : 0;
    };
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::vector<std::string> check(const std::string& name, const std::string& xml) {
    std::ofstream(folder_ / name) << xml;
    CheckFile(state_, (folder_ / name).string());
    std::vector<std::string> lines;
    for (const Message& m : messages_.sorted()) lines.push_back(m.text);
    return lines;
  }

  fs::path folder_;
  PlainTree tree_;
  PlainMessages messages_;
  ScanState state_{tree_, messages_};
  std::map<std::string, int> reads_;
};

}  // namespace

TEST_F(ClassCacheTest, EachClassIsReadOnceWhileTheTreeStaysSelected) {
  const std::string xml =
      "<plugin><task><id>T</id><object-type-name>User</object-type-name><object-type-name>Ghost</object-type-name>"
      "<object-type-name>User</object-type-name><a><attribute-name>Surname</attribute-name></a></task></plugin>";
  EXPECT_EQ(check("one.xml", xml),
            (std::vector<std::string>{"Msg 002: Auxiliary Attribute: \"Surname\" for \"Ghost\" (T)"}));
  EXPECT_EQ(check("two.xml", xml), check("one.xml", xml));
  EXPECT_EQ(reads_, (std::map<std::string, int>{{"Ghost", 1}, {"User", 1}}));
  // A class the directory cannot read leaves only its bare name.
  EXPECT_EQ(state_.schema.ClassAttrList.lines(),
            (std::vector<std::string>{"User", "User*CN", "User*Surname", "Ghost"}));
}

TEST_F(ClassCacheTest, AttributesOutsideAClassAreAuxiliaryForEveryClassOfTheItem) {
  const std::string xml =
      "<plugin><page><id>P</id><object-type-name>Group</object-type-name><object-type-name>User</object-type-name>"
      "<c><attribute-name>Member</attribute-name><attribute-name>CN</attribute-name></c></page>"
      "<page><id>Q</id><c><attribute-name>Member</attribute-name></c></page></plugin>";
  EXPECT_EQ(check("pages.xml", xml),
            (std::vector<std::string>{"Msg 002: Auxiliary Attribute: \"CN\" for \"Group\" (P)",
                                      "Msg 002: Auxiliary Attribute: \"Member\" for \"User\" (P)"}));
}
