// D_NW against a scripted client: codes, failure paths and the lists it leaves behind.
#include <gtest/gtest.h>

#include "d_nw.h"
#include "fake_client.h"
#include "platform_hooks.h"

namespace corvane {
namespace {

using test::FakeClass;
using test::Script;

// Collects the texts of the error boxes shown while it lives.
class MessageBoxes {
 public:
  MessageBoxes() {
    SetMessageBoxHook([this](MsgDlgKind, const std::string& text) { shown.push_back(text); });
  }
  ~MessageBoxes() { SetMessageBoxHook({}); }
  std::vector<std::string> shown;
};

class DNwTest : public ::testing::Test {
 protected:
  test::FakeClientScope fake;
  MessageBoxes boxes;
};

// The client starts only once per process, so the whole start-up story is one test.
TEST_F(DNwTest, StartNetWareClient_FailuresThenScanFallbackThenNoSecondStart) {
  Script().initCode = 0x0003FFFF;
  const ResultCode first = StartNetWareClient();
  if (first == 0 && Script().initCalls == 0) GTEST_SKIP() << "the client was started earlier in this process";
  EXPECT_EQ(first, 0x0003FFFF);
  Script().initCode = 0x00050000;  // high bits do not count
  Script().primaryCode = 0x1234;
  Script().scanEndCode = 0x00428802;
  Script().errorTexts[0x8802] = "No more connections";
  EXPECT_EQ(StartNetWareClient(), 0x00428802);
  EXPECT_EQ(boxes.shown,
            (std::vector<std::string>{
                "Could not initialize NetWare Client. InitNetWare returned error 0xFFFF ()",
                "Could not find server/tree connection. InitNetWare returned error 0x8802 (No more connections)"}));

  Script().treeInfo = {"FIRST"};
  EXPECT_EQ(InitNetWare(), 0);
  const int calls = Script().initCalls;
  Script().initCode = 0x8801;
  EXPECT_EQ(InitNetWare(), 0);
  EXPECT_EQ(Script().initCalls, calls);
}

TEST_F(DNwTest, NetWareErrorText_ClientTextElseSystemTextElseEmpty) {
  Script().errorTexts[0x8801] = "No primary connection";
  EXPECT_EQ(NetWareErrorText(0x8801), "0x8801 (No primary connection)");
  EXPECT_EQ(NetWareErrorText(1), "0x0001 (Operation not permitted)");
  EXPECT_EQ(NetWareErrorText(0x8888), "0x8888 ()");
  EXPECT_EQ(NetWareErrorText(-1004), "0xFFFFFC14 ()");
  ShowNetWareError(0, "nothing");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(DNwTest, FillTreeList_TrimsNamesAndKeepsTheFirstOfEqualNames) {
  Script().treeInfo = {
      "NINELETTR" + std::string(23, '_'), "OWN_NAME__", "", "nineLETTR", std::string(40, 'X'), "BROKEN"};
  Script().infoCodes[6] = client::kCodeInvalidConnection;
  int pending = 0;
  SetPendingEventsHook([&] { ++pending; });
  StringList trees;
  trees.add("KEPT", 99);
  FillTreeList(trees);
  SetPendingEventsHook({});

  ASSERT_EQ(trees.lines(), (std::vector<std::string>{"KEPT", "NINELETTR", "OWN_NAME", std::string(32, 'X')}));
  EXPECT_EQ(trees[1].object, 1);
  EXPECT_EQ(trees[3].object, 5);
  EXPECT_EQ(pending, 6);
  EXPECT_EQ(GetConnectionTreeName(6).code, client::kCodeInvalidConnection);
  Script().primary = 2;
  EXPECT_EQ(GetCurrentTreeName(), "OWN_NAME");
  Script().primaryCode = client::kCodeNoPrimaryConnection;
  EXPECT_EQ(GetCurrentTreeName(), "");
}

TEST_F(DNwTest, DSChangeCurrentTree_SetsTreeOnlyWhenItDiffersAndAlwaysTheNameContext) {
  Script().contextTree = "DEMO";
  Script().defaultName = ".O=demo";
  EXPECT_EQ(DSChangeCurrentTree(1, "demo"), 0);
  EXPECT_EQ(Script().keysSet, std::vector<std::uint32_t>{client::kContextNameContext});
  EXPECT_EQ(Script().nameContext, "O=demo");

  Script().defaultName = "";
  EXPECT_EQ(DSChangeCurrentTree(1, "OTHER"), 0);
  EXPECT_EQ(Script().contextTree, "OTHER");
  EXPECT_EQ(Script().nameContext, "[Root]");
  Script().defaultName = "O=x";
  Script().defaultNameCode = client::kCodeNoTree;
  EXPECT_EQ(DSChangeCurrentTree(1, ""), 0);
  EXPECT_EQ(Script().nameContext, "[Root]");
  EXPECT_EQ(DSSetTreeAndContext(1, "", "..OU=a"), 0);
  EXPECT_EQ(Script().nameContext, ".OU=a");

  Script().keysSet.clear();
  Script().treeSetCode = client::kCodeUnknownTree;
  EXPECT_EQ(DSChangeCurrentTree(1, "MISSING"), client::kCodeUnknownTree);
  EXPECT_EQ(Script().keysSet, std::vector<std::uint32_t>{client::kContextTreeName});
}

TEST_F(DNwTest, ContextHelpers) {
  Script().nameContext = "CN=a.CN=b.cn=c";
  EXPECT_EQ(GetContextString(1, client::kContextNameContext), "a.CN=b.cn=c");
  Script().flags = 0x11;
  ChangeContextFlags(1, '+', 4);
  ChangeContextFlags(1, '-', 1);
  ChangeContextFlags(1, '*', 0xFF);
  EXPECT_EQ(Script().flags, 0x14u);
  Script().myName = "CN=admin.O=demo";
  EXPECT_EQ(GetMyName(1), "CN=admin.O=demo");
  EXPECT_EQ(StripLeadingDot("."), "");
}

TEST_F(DNwTest, Reads_KeepWhatEarlierBlocksDeliveredAndFreeTheirBuffers) {
  Script().classes = {{"A", 0x20, {}}, {"B", 0, {}}, {"C", 0x21, {}}};
  Script().attributes = {"a1", "a2", "a3", "a4"};
  Script().perBlock = 2;
  StringList classes, attributes;
  EXPECT_EQ(ReadClassList(1, classes), 0);
  EXPECT_EQ(ReadAttributeList(1, attributes), 0);
  EXPECT_EQ(classes.lines(), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(classes[2].object, 0x21);
  EXPECT_EQ(attributes.size(), 4u);

  Script().reads = 0;
  Script().failReadAt = 1;
  StringList partial;
  EXPECT_EQ(ReadClassList(1, partial), Script().failCode);
  EXPECT_EQ(partial.lines(), (std::vector<std::string>{"A", "B"}));
  Script().reads = 0;
  partial.clear();
  EXPECT_EQ(ReadAttributeList(1, partial), Script().failCode);
  EXPECT_EQ(partial.lines(), (std::vector<std::string>{"a1", "a2"}));
  EXPECT_EQ(Script().liveBuffers, 0);

  Script().allocCode = client::kCodeInvalidBufferSize;
  StringList none;
  EXPECT_EQ(ReadClassList(1, none), client::kCodeInvalidBufferSize);
  EXPECT_EQ(ReadClassDefinition(1, "A", none), client::kCodeInvalidBufferSize);
  EXPECT_TRUE(none.empty());
}

TEST_F(DNwTest, ReadClassDefinition_KeepsMandatoryAndOptionalOnceIgnoringCase) {
  Script().classes = {
      {"User", 0, {{{"Person"}, {"Organization"}, {"CN"}, {"CN", "Surname"}, {"cn", "Title", "SURNAME"}}}},
      {"Empty", 0, {}},
      {"Group", 0, {{{}, {}, {}, {"Member"}, {"title"}}}}};
  StringList attributes;
  EXPECT_EQ(ReadClassDefinition(1, "User", attributes), 0);
  ASSERT_EQ(attributes.lines(), (std::vector<std::string>{"CN", "Surname", "Title"}));
  EXPECT_EQ(attributes[0].object, 3);
  EXPECT_EQ(attributes[2].object, 4);

  StringList empty, unknown, all;
  EXPECT_EQ(GetClassAttributes(1, "Empty", empty), 0);
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(GetClassAttributes(1, "Nobody", unknown), client::kCodeNoSuchClass);
  EXPECT_TRUE(unknown.empty());
  EXPECT_EQ(GetClassAttributes(1, "", all), 0);
  EXPECT_EQ(all.lines(), (std::vector<std::string>{"CN", "Surname", "Title", "Member"}));

  Script().attributes = {"x", "X", "x"};
  StringList star;
  EXPECT_EQ(GetClassAttributes(1, "*", star), 0);
  EXPECT_EQ(star.size(), 3u);

  // A read that leaves the handle where it was ends the loop instead of repeating it.
  Script().stallHandle = true;
  Script().reads = 0;
  StringList stalled;
  EXPECT_EQ(ReadClassDefinition(1, "", stalled), 0);
  EXPECT_EQ(Script().reads, 2);
}

// Names that differ only in letter case within one item list of one class are spellings of
// one attribute, also when a class too large for a block goes on in the next one under its
// name; against other lists and other classes letter case does not count.
TEST_F(DNwTest, ReadClassDefinition_KeepsTheSpellingsOfOneItemList) {
  Script().classes = {{"Wide", 0x20, {{{}, {}, {}, {"cn", "CN"}, {"Cn", "ou", "OU"}}}},
                      {"Wide", 0x20, {{{}, {}, {}, {}, {"Ou", "title"}}}},
                      {"Other", 0x20, {{{}, {}, {}, {"CN"}, {"Title", "l", "L"}}}}};
  StringList wide, all, aux;
  EXPECT_EQ(ReadClassDefinition(1, "Wide", wide), 0);
  EXPECT_EQ(wide.lines(), (std::vector<std::string>{"cn", "CN", "ou", "OU", "Ou", "title"}));
  EXPECT_EQ(ReadClassDefinition(1, "", all), 0);
  EXPECT_EQ(all.lines(), (std::vector<std::string>{"cn", "CN", "ou", "OU", "Ou", "title", "l", "L"}));
  EXPECT_EQ(ReadAuxAttributeList(1, aux), 0);
  EXPECT_EQ(aux.lines(), (std::vector<std::string>{"CN", "Title", "l", "L", "ou", "OU", "Ou"}));
}

TEST_F(DNwTest, ReadAuxAttributeList_VisitsAuxiliaryClassesFromTheLast) {
  Script().classes = {{"Plain", 0, {{{}, {}, {}, {"p"}, {}}}},
                      {"A", 0x20, {{{}, {}, {}, {"m1"}, {"o1", "o2"}}}},
                      {"B", 0x20, {{{}, {}, {}, {}, {"o2", "O1"}}}}};
  StringList aux;
  aux.add("old");
  EXPECT_EQ(ReadAuxAttributeList(1, aux), 0);
  EXPECT_EQ(aux.lines(), (std::vector<std::string>{"o2", "O1", "m1"}));

  Script().classes = {{"Plain", 0, {}}};
  EXPECT_EQ(ReadAuxAttributeList(1, aux), 0);
  EXPECT_TRUE(aux.empty());

  aux.add("kept");
  Script().reads = 0;
  Script().failReadAt = 0;
  EXPECT_EQ(ReadAuxAttributeList(1, aux), Script().failCode);
  EXPECT_EQ(aux.lines(), std::vector<std::string>{"kept"});
}

}  // namespace
}  // namespace corvane
