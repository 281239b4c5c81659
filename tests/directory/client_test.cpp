// The stand-in directory client: its schema parser and resolution, its connections file,
// its block-wise reads, and the schema files of the system's LDAP server.
#include <gtest/gtest.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "client_fixture.h"
#include "connections.h"
#include "d_nw.h"
#include "dir_client.h"
#include "directory_session.h"
#include "scan_state.h"
#include "schema_file.h"
#include "schema_parser.h"
#include "tree_schema.h"

namespace corvane::client {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

const std::string kFixtures = CORVANE_DIRECTORY_FIXTURES;
using test::ClientTest;
using test::kSystemSchemas;

TreeSchema SchemaOf(std::string_view text) {
  SchemaDefinitions definitions;
  ParseSchemaText(text, "inline", definitions);
  return TreeSchema(definitions);
}

Names ClassNamesOf(const TreeSchema& schema) {
  Names names;
  for (const auto& c : schema.classNames()) names.push_back(c.name);
  return names;
}

std::array<Names, kClassItemLists> ItemsOf(const TreeSchema& schema, std::string_view className) {
  const auto found = schema.findClass(className);
  return found ? schema.classItems(found->classIndex) : std::array<Names, kClassItemLists>{};
}

bool Contains(const Names& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(SchemaParser, BothSpellingsMixedInOneFile) {
  SchemaDefinitions definitions;
  std::string error;
  ASSERT_TRUE(ReadSchemaFile(kFixtures + "/mixed_spellings.ldif", definitions, error)) << error;
  const TreeSchema schema(definitions);

  EXPECT_EQ(schema.attributeNames(), (Names{"Given Name", "givenName", "Surname", "Object Class", "CN"}));
  EXPECT_EQ(ClassNamesOf(schema), (Names{"Top", "Person", "Mail Recipient"}));
  const auto person = ItemsOf(schema, "person");
  EXPECT_EQ(person[0], Names{"Top"});
  EXPECT_EQ(person[3], (Names{"Surname", "CN", "Object Class"}));
  EXPECT_EQ(person[4], (Names{"Given Name", "givenName"}));
  const auto mail = schema.findClass("Mail Recipient");
  ASSERT_TRUE(mail);
  EXPECT_EQ(schema.classRecord(mail->classIndex).flags, kClassAuxiliary);
  EXPECT_EQ(schema.classItems(mail->classIndex)[4], (Names{"Mail", "Given Name", "givenName"}));
}

TEST(SchemaParser, BrokenDefinitionsAreSkippedWithAWarningNamingTheLine) {
  testing::internal::CaptureStderr();
  const TreeSchema schema = SchemaOf(
      "attributetype ( 1.1 NAME 'ok1' )\n"
      "attributetype ( 1.2 NAME 'open quote )\n"
      "attributeTypes: ( 1.3 NAME 'no close'\n"
      "attributetype ( 1.4 NAME 'extra' ) junk\n"
      "attributeype ( 1.5 NAME 'misspelt' )\n"
      "objectclass 1.6 NAME 'no parenthesis'\n"
      "attributetype ( 1.7 NAME ( 'ok2' '' ) )\n"
      "attributetype ( 1.8 NAME 'ok3' )\n");
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_EQ(schema.attributeNames(), (Names{"ok1", "ok3"}));
  for (const char* line : {"inline:2:", "inline:3:", "inline:4:", "inline:5:", "inline:6:", "inline:7:"})
    EXPECT_NE(warnings.find(line), std::string::npos) << line << " in " << warnings;
}

TEST(SchemaParser, IndentedDefinitionsAreReadInSchemaSpellingAndWarnedInLdif) {
  testing::internal::CaptureStderr();
  const TreeSchema schema = SchemaOf(
      "attributetype ( 1.1 NAME 'flush' )\n"
      "  attributetype ( 1.2 NAME 'indented' )\n"
      "\tobjectclass ( 1.3 NAME 'Indented Class' MAY indented )\n"
      "objectclass ( 1.4 NAME 'Open'\n"
      "    MAY flush\n"
      "    objectclass ( 1.5 NAME 'Next' MAY flush )\n"
      "dn: cn=schema\n"
      "attributeTypes: ( 1.6 NAME 'ldif' DESC 'folded\n"
      " objectclass ( inside quotes' )\n"
      "  attributeTypes: ( 1.7 NAME 'ldif indented' )\n"
      " objectClasses: ( 1.8 NAME 'LDIF Class' )\n");
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_EQ(schema.attributeNames(), (Names{"flush", "indented", "ldif"}));
  EXPECT_EQ(ClassNamesOf(schema), (Names{"Indented Class", "Next"}));
  for (const char* line : {"inline:4:", "inline:10:", "inline:11:"})
    EXPECT_NE(warnings.find(line), std::string::npos) << line << " in " << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 3) << warnings;
}

// Editors on some systems start a UTF-8 file with a byte-order mark; it must not cost the
// file its first definition, in either spelling.
TEST(SchemaParser, ByteOrderMarkAtTheStartIsSkipped) {
  testing::internal::CaptureStderr();
  const TreeSchema ldif = SchemaOf(
      "\xEF\xBB\xBF"
      "attributeTypes: ( 1.1 NAME 'first' )\nattributeTypes: ( 1.2 NAME 'second' )\n");
  const std::string path = testing::TempDir() + "/bom.schema";
  std::ofstream(path, std::ios::binary) << "\xEF\xBB\xBF"
                                           "objectclass ( 1.3 NAME 'Only' MAY first )\n";
  SchemaDefinitions definitions;
  std::string error;
  EXPECT_TRUE(ReadSchemaFile(path, definitions, error)) << error;
  const std::string warnings = testing::internal::GetCapturedStderr();
  fs::remove(path);
  EXPECT_EQ(ldif.attributeNames(), (Names{"first", "second"}));
  EXPECT_EQ(ClassNamesOf(TreeSchema(definitions)), Names{"Only"});
  EXPECT_EQ(warnings, "");
}

// A value of the name extension that cannot be a name costs that value alone, never the
// definition with its other names.
TEST(SchemaParser, ABadNameExtensionValueIsWarnedAndDroppedAlone) {
  SchemaDefinitions definitions;
  definitions.nameExtension = "X-CORVANE-NAME";
  const std::string tooLong(kMaxSchemaNameBytes, 'L');
  testing::internal::CaptureStderr();
  ParseSchemaText(
      "attributetype ( 1.1 NAME 'loginDisabled' X-CORVANE-NAME '' )\n"
      "attributetype ( 1.2 NAME 'fullName' X-CORVANE-NAME ( '" +
          tooLong +
          "' 'Full Name' ) )\n"
          "objectclass ( 1.3 NAME 'user' MAY loginDisabled X-CORVANE-NAME ( '' 'User' ) )\n",
      "inline", definitions);
  const std::string warnings = testing::internal::GetCapturedStderr();
  const TreeSchema schema(definitions);
  EXPECT_EQ(schema.attributeNames(), (Names{"loginDisabled", "fullName", "Full Name"}));
  EXPECT_EQ(ClassNamesOf(schema), (Names{"user", "User"}));
  EXPECT_EQ(ItemsOf(schema, "User")[4], Names{"loginDisabled"});
  for (const char* line : {"inline:1:", "inline:2:", "inline:3:"})
    EXPECT_NE(warnings.find(line), std::string::npos) << line << " in " << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 3) << warnings;
}

TEST(TreeSchemaTest, InheritanceByNameOrOidWithCyclesAndUnknownClasses) {
  const std::string classes =
      "objectclass ( 3.1 NAME 'Base' MUST A MAY ( b $ 2.3 ) )\n"
      "objectclass ( 3.2 NAME ( 'Derived' 'Child' ) SUP 3.1 MUST b )\n"
      "objectclass ( 3.3 NAME 'Loop1' SUP Loop2 MUST a )\n"
      "objectclass ( 3.4 NAME 'Loop2' SUP ( Base $ Loop1 ) MAY c )\n"
      "objectclass ( 3.5 NAME 'Below' SUP Loop2 MAY zz )\n"
      "objectclass ( 3.6 NAME 'Self' SUP Self MAY c )\n"
      "objectclass ( 3.7 NAME 'Orphan' SUP Missing MAY zz )\n";
  testing::internal::CaptureStderr();
  const TreeSchema schema = SchemaOf(
      "attributetype ( 2.1 NAME ( 'a' 'alpha' ) )\n"
      "attributetype ( 2.2 NAME 'b' )\n"
      "attributetype ( 2.3 NAME 'c' )\n" +
      classes);
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ClassNamesOf(schema), (Names{"Base", "Derived", "Child", "Loop1", "Loop2", "Below", "Self", "Orphan"}));
  EXPECT_EQ(schema.findClass("child")->name, "Child");
  EXPECT_EQ(schema.findClass("3.2")->name, "Derived");
  const auto derived = ItemsOf(schema, "Child");
  EXPECT_EQ(derived[0], Names{"Base"});
  EXPECT_EQ(derived[3], (Names{"b", "a", "alpha"}));
  EXPECT_EQ(derived[4], Names{"c"});
  // Every class of a cycle carries the attributes of the whole cycle and of what lies above it.
  for (const char* member : {"Loop1", "Loop2", "Below"}) {
    const auto items = ItemsOf(schema, member);
    EXPECT_EQ(std::set<std::string>(items[3].begin(), items[3].end()), (std::set<std::string>{"a", "alpha"})) << member;
    EXPECT_TRUE(Contains(items[4], "b") && Contains(items[4], "c")) << member;
  }
  EXPECT_EQ(ItemsOf(schema, "Below")[4].front(), "zz");
  EXPECT_EQ(ItemsOf(schema, "Self")[4], Names{"c"});
  EXPECT_EQ(ItemsOf(schema, "Orphan")[0], Names{"Missing"});
  EXPECT_EQ(ItemsOf(schema, "Orphan")[4], Names{"zz"});
  for (const char* line : {"inline:6:", "inline:9:", "inline:10:"})
    EXPECT_NE(warnings.find(line), std::string::npos) << line << " in " << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 3) << warnings;

  // The order in which a cycle's classes are defined does not matter.
  testing::internal::CaptureStderr();
  const TreeSchema reversed = SchemaOf(
      "objectclass ( 3.4 NAME 'Loop2' SUP Loop1 MAY c )\n"
      "objectclass ( 3.3 NAME 'Loop1' SUP Loop2 MUST a )\n");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("inline:1:"), std::string::npos);
  for (const char* member : {"Loop1", "Loop2"}) {
    EXPECT_EQ(ItemsOf(reversed, member)[3], Names{"a"}) << member;
    EXPECT_EQ(ItemsOf(reversed, member)[4], Names{"c"}) << member;
  }
}

TreeSchema SystemTree(std::string_view extension) {
  SchemaDefinitions definitions;
  for (const auto& entry : fs::directory_iterator(kSystemSchemas)) {
    if (entry.path().extension() != extension) continue;
    std::string error;
    EXPECT_TRUE(ReadSchemaFile(entry.path(), definitions, error)) << error;
  }
  return TreeSchema(definitions);
}

std::size_t AuxiliaryCount(const TreeSchema& schema) {
  std::size_t count = 0;
  for (const auto& c : schema.classNames()) count += (schema.classRecord(c.classIndex).flags & kClassAuxiliary) != 0;
  return count;
}

// The schema files of the system's LDAP server, in both spellings, are data this project
// did not write. dsee.schema misspells one keyword that its LDIF twin spells right.
TEST(SystemSchemas, BothSpellingsGiveTheSameClassesWithInheritedAttributes) {
  if (!fs::is_directory(kSystemSchemas)) GTEST_SKIP() << "no " << kSystemSchemas;
  testing::internal::CaptureStderr();
  const TreeSchema fromSchema = SystemTree(".schema");
  const std::string warnings = testing::internal::GetCapturedStderr();
  const TreeSchema fromLdif = SystemTree(".ldif");

  EXPECT_NE(warnings.find("dsee.schema:96:"), std::string::npos) << warnings;
  EXPECT_EQ(fromSchema.classNames().size(), 86u);
  EXPECT_EQ(ClassNamesOf(fromSchema).size(), ClassNamesOf(fromLdif).size());
  EXPECT_EQ(fromSchema.attributeNames().size(), 1151u);
  EXPECT_EQ(fromLdif.attributeNames().size(), 1152u);
  EXPECT_EQ(AuxiliaryCount(fromSchema), 32u);
  EXPECT_EQ(AuxiliaryCount(fromLdif), 32u);

  for (const TreeSchema* schema : {&fromSchema, &fromLdif}) {
    const auto person = ItemsOf(*schema, "inetOrgPerson");
    EXPECT_EQ(person[0], Names{"organizationalPerson"});
    EXPECT_TRUE(Contains(person[3], "sn") && Contains(person[3], "surname") && Contains(person[3], "cn"));
    for (const char* inherited : {"telephoneNumber", "ou", "userPassword", "mail", "displayName"})
      EXPECT_TRUE(Contains(person[4], inherited)) << inherited;
    EXPECT_FALSE(Contains(person[4], "sn"));
  }
}

// Section headers: a comment may follow one and a byte-order mark may precede the first; a
// name the client cannot hand out whole, or one that an earlier section already uses, is
// refused with its settings and a warning that names the line.
TEST(ConnectionsFile, SectionHeadersAreAcceptedOrRefusedWithTheirLine) {
  const std::string longest(32, 'L');
  testing::internal::CaptureStderr();
  const std::vector<ConnectionConfig> connections = ParseConnections(
      "\xEF\xBB\xBF[LAB] ; the lab tree\n"
      "schema = first.schema\n"
      "[" +
          longest +
          "X]\n"
          "schema = cut.schema\n"
          "[" +
          std::string(300, 'N') +
          "]\n"
          "primary = true\n"
          "[ lab ]   # again\n"
          "schema = second.schema\n"
          "primary = true\n"
          "[" +
          longest +
          "]\n"
          "schema = longest.schema\n"
          "[Lab__]\n",
      "test.ini", "/cfg");
  const std::string warnings = testing::internal::GetCapturedStderr();
  Names trees;
  for (const auto& c : connections) trees.push_back(c.treeName);
  EXPECT_EQ(trees, (Names{"LAB", longest}));
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[0].schemaFiles, Names{"/cfg/first.schema"});
  EXPECT_TRUE(connections[0].primary) << "the primary mark of the repeat [ lab ]";
  for (const char* line : {"test.ini:3:", "test.ini:5:", "test.ini:7:", "test.ini:12:"})
    EXPECT_NE(warnings.find(line), std::string::npos) << line << " in " << warnings;
  EXPECT_NE(warnings.find("line 1;"), std::string::npos) << "the duplicate names the first: " << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 4) << warnings;
}

// Each header is looked up once among the names before it, as the client compares them:
// letter case and a '_' filling aside.
TEST(ConnectionsFile, ManySectionsAreCheckedForRepeatsInOnePass) {
  constexpr std::size_t kSections = 3000;
  std::string text;
  for (std::size_t i = 0; i < kSections; ++i) text += "[Tree" + std::to_string(i) + "]\nschema = t.schema\n";
  text += "[tree7__]\n[TREE2999]\n[Tree3000_]\n[tree3000]\n";
  testing::internal::CaptureStderr();
  ConnectionsReadWork work;
  const std::vector<ConnectionConfig> connections = ParseConnections(text, "many.ini", "/cfg", &work);
  const std::string warnings = testing::internal::GetCapturedStderr();
  ASSERT_EQ(connections.size(), kSections + 1);
  EXPECT_EQ(connections.back().treeName, "Tree3000_");
  EXPECT_EQ(warnings,
            "many.ini:6001: warning: tree tree7__ already has a section at line 15; this one is ignored with its "
            "settings\n"
            "many.ini:6002: warning: tree TREE2999 already has a section at line 5999; this one is ignored with its "
            "settings\n"
            "many.ini:6004: warning: tree tree3000 already has a section at line 6003; this one is ignored with its "
            "settings\n");
  // Comparing each header with every one before it would take kSections² / 2.
  EXPECT_LE(work.namesCompared, 2 * kSections);
}

// Only what follows a header's closing bracket can be a comment; a tree name's length counts
// characters, and a refused name is quoted in whole characters; a section that repeats a tree
// is refused, but the tree keeps the primary mark it gave.
TEST(ConnectionsFile, HeaderBracketsNameLengthInCharactersAndThePrimaryMarkOfARepeat) {
  const std::string umlaut = "\xC3\x84";
  std::string seventeen, thirtyOne;
  for (int i = 0; i < 17; ++i) seventeen += umlaut;
  for (int i = 0; i < 31; ++i) thirtyOne += umlaut;
  testing::internal::CaptureStderr();
  const std::string text = "[MY TREE #2] ; the second\nschema = two.schema\n[" + seventeen + "]\n[A" + thirtyOne +
                           umlaut + "]\n[my tree #2]\nschema = again.schema\nprimary = true\n[LAB]\n";
  const std::vector<ConnectionConfig> connections = ParseConnections(text, "test.ini", "/cfg");
  const std::string warnings = testing::internal::GetCapturedStderr();
  Names trees;
  for (const auto& c : connections) trees.push_back(c.treeName);
  EXPECT_EQ(trees, (Names{"MY TREE #2", seventeen, "LAB"}));
  ASSERT_EQ(connections.size(), 3u);
  EXPECT_TRUE(connections[0].primary);
  EXPECT_EQ(connections[0].schemaFiles, Names{"/cfg/two.schema"});
  EXPECT_EQ(warnings, "test.ini:4: warning: tree name 'A" + thirtyOne +
                          "...' longer than 32 characters; section ignored with its settings\n"
                          "test.ini:5: warning: tree my tree #2 already has a section at line 1; this one is ignored "
                          "with its settings, but its 'primary = true' marks that section\n");
}

// A value the client cannot use is warned with its line and leaves the setting as it was.
TEST(ConnectionsFile, LdapSettingsAreReadAndBadValuesWarnedWithTheirLine) {
  testing::internal::CaptureStderr();
  const std::vector<ConnectionConfig> connections = ParseConnections(
      "[LAB]\n"
      "url = ldap://lab:389\n"
      "starttls = yes\n"
      "tls-ca-file = ca/lab.pem\n"
      "name-extension = x-corvane-name   ; names with blanks\n"
      "timeout = 3\n"
      "[PROD]\n"
      "starttls = maybe\n"
      "timeout = 0\n"
      "timeout = 2.5\n"
      "name-extension = NAME\n",
      "test.ini", "/cfg");
  const std::string warnings = testing::internal::GetCapturedStderr();
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_TRUE(connections[0].startTls);
  EXPECT_EQ(connections[0].tlsCaFile, "/cfg/ca/lab.pem");
  EXPECT_EQ(connections[0].nameExtension, "X-CORVANE-NAME");
  EXPECT_EQ(connections[0].timeoutSeconds, 3);
  EXPECT_FALSE(connections[1].startTls);
  EXPECT_EQ(connections[1].timeoutSeconds, kDefaultLdapTimeoutSeconds);
  EXPECT_EQ(connections[1].nameExtension, "");
  for (const char* line : {"test.ini:8:", "test.ini:9:", "test.ini:10:", "test.ini:11:"})
    EXPECT_NE(warnings.find(line), std::string::npos) << line << " in " << warnings;
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 4) << warnings;
}

TEST_F(ClientTest, ConnectionsFileListsTreesAndFailsAtTheChangeToAnUnreadableOne) {
  writeConnections(
      "; trees of the test\n"
      "[LAB__]\n"
      "schema = " +
      kFixtures + "/mixed_spellings.ldif;" + kFixtures +
      "/mixed_spellings.ldif   ; twice\n"
      "user = CN=tester.O=lab\n"
      "context = O=lab\n"
      "[PROD]\n"
      "url = ldap://127.0.0.1:1/\n"
      "bind-dn = cn=reader,o=corp\n"
      "password-file = ~/prod.password\n"
      "primary = true\n"
      "[BROKEN]\n"
      "schema = missing.schema\n"
      "[NOTHING]\n"
      "schema = nothing.xml\n");
  std::ofstream(home_ + "/corvane-client/nothing.xml") << "<?xml version=\"1.0\"?>\n<plugin/>\n";
  ASSERT_EQ(ClientInit(0, 0), 0);
  ConnHandle conn = 0;
  ASSERT_EQ(ConnGetPrimary(&conn), 0);
  EXPECT_EQ(treeInfo(conn), "PROD" + std::string(28, '_'));
  std::uint32_t iterator = 0;
  Names trees;
  while (ConnScan(&iterator, &conn) == 0) trees.push_back(corvane::TrimTreeName(treeInfo(conn)));
  EXPECT_EQ(trees, (Names{"LAB", "PROD", "BROKEN", "NOTHING"}));

  ContextHandle ctx = 0;
  ASSERT_EQ(CtxCreate(&ctx), 0);
  EXPECT_EQ(corvane::GetContextTreeName(ctx), "");  // no tree until the first change
  testing::internal::CaptureStderr();
  // The primary tree itself fails at the change, so the window can show the failure.
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "PROD"), kCodeSchemaUnavailable);
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "broken"), kCodeSchemaUnavailable);
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "broken"), kCodeSchemaUnavailable);
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "NOWHERE"), kCodeUnknownTree);
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "NOTHING"), kCodeSchemaUnavailable);
  corvane::StringList classes;
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), kCodeNoTree);
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_NE(warnings.find(home_ + "/corvane-client/missing.schema"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("ldap://127.0.0.1:1/"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find(home_ + "/corvane-client/nothing.xml"), std::string::npos) << warnings;
  const std::string missing = "missing.schema";
  EXPECT_EQ(warnings.find(missing), warnings.rfind(missing)) << "warned once: " << warnings;

  ASSERT_EQ(corvane::DSChangeCurrentTree(ctx, "lab"), 0);
  EXPECT_EQ(corvane::GetMyName(ctx), "CN=tester.O=lab");
  EXPECT_EQ(corvane::GetContextString(ctx, kContextNameContext), "O=lab");
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
  EXPECT_EQ(classes.size(), 6u);
  // A failed change leaves nothing of the tree before to be read under the new name.
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "NOWHERE"), kCodeUnknownTree);
  EXPECT_EQ(corvane::GetContextTreeName(ctx), "");
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), kCodeNoTree);
  EXPECT_EQ(CtxFree(ctx), 0);
}

// A relative XDG_CONFIG_HOME counts as unset: the connections come from ~/.config, the same
// folder the window's settings then use.
TEST_F(ClientTest, RelativeConfigHomeIsIgnored) {
  const char* home = std::getenv("HOME");
  const std::optional<std::string> savedHome = home != nullptr ? std::optional<std::string>(home) : std::nullopt;
  setenv("HOME", home_.c_str(), 1);
  const std::string dotConfig = home_ + "/.config/corvane-client";
  fs::create_directories(dotConfig);
  std::ofstream(dotConfig + "/connections.ini") << "[LAB]\nschema = " + kFixtures + "/mixed_spellings.ldif\n";
  for (const char* setting : {"corvane-client", "./conf", ""}) {
    setenv("XDG_CONFIG_HOME", setting, 1);
    EXPECT_EQ(ClientConfigFolder(), dotConfig) << setting;
  }
  ResetClient();
  EXPECT_EQ(ClientInit(0, 0), 0);
  corvane::StringList trees;
  corvane::FillTreeList(trees);
  EXPECT_EQ(trees.lines(), Names{"LAB"});
  setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
  EXPECT_EQ(ClientConfigFolder(), home_ + "/corvane-client");
  if (savedHome) {
    setenv("HOME", savedHome->c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

// A tree name in letters of two bytes each is filled up to 32 characters, listed whole and
// chosen by that name; a longer one is cut between characters.
TEST_F(ClientTest, TreeNamesCountCharactersNotBytes) {
  const std::string umlaut = "\xC3\x84";
  std::string name;
  for (int i = 0; i < 17; ++i) name += umlaut;
  writeConnections("[" + name + "]\nschema = " + kFixtures + "/mixed_spellings.ldif\nprimary = true\n");
  ASSERT_EQ(ClientInit(0, 0), 0);
  ConnHandle conn = 0;
  ASSERT_EQ(ConnGetPrimary(&conn), 0);
  EXPECT_EQ(treeInfo(conn), name + std::string(15, '_'));
  EXPECT_EQ(corvane::GetCurrentTreeName(), name);
  ContextHandle ctx = 0;
  ASSERT_EQ(CtxCreate(&ctx), 0);
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, name), 0);
  EXPECT_EQ(corvane::GetContextTreeName(ctx), name);
  EXPECT_EQ(CtxFree(ctx), 0);
  EXPECT_EQ(corvane::TrimTreeName("A" + name + name), "A" + name + name.substr(0, 14 * umlaut.size()));
}

// Directories publish the names plug-in files use beside the LDAP names, and the commonest
// differ from them in letter case alone (cn and CN). Each spelling is a name of the tree in
// every list; two different attributes whose names differ only in letter case still count
// once in a class's lists.
TEST_F(ClientTest, NameExtensionSpellingsThatDifferOnlyInLetterCaseAreInEveryList) {
  const std::string path = home_ + "/native.schema";
  std::ofstream(path) << "attributetype ( 2.5.4.3 NAME 'cn' X-CORVANE-NAME 'CN' )\n"
                         "attributetype ( 2.5.4.4 NAME ( 'sn' 'surname' ) X-CORVANE-NAME 'Surname' )\n"
                         "attributetype ( 2.5.4.11 NAME 'ou' X-CORVANE-NAME 'OU' )\n"
                         "attributetype ( 2.5.4.12 NAME 'title' )\n"
                         "attributetype ( 1.1.1 NAME 'Title' )\n"
                         "objectclass ( 2.5.6.6 NAME 'person' MUST ( cn $ sn ) MAY ( title $ 1.1.1 )\n"
                         "  X-CORVANE-NAME 'Person' )\n"
                         "objectclass ( 1.1.2 NAME 'unitMember' AUXILIARY MAY ( ou $ 1.1.1 ) )\n"
                         "objectclass ( 1.1.3 NAME 'named' AUXILIARY MAY ( title $ cn ) )\n";
  writeConnections("[NATIVE]\nschema = " + path + "\nname-extension = X-CORVANE-NAME\n");
  ASSERT_EQ(ClientInit(0, 0), 0);
  ContextHandle ctx = 0;
  ASSERT_EQ(CtxCreate(&ctx), 0);
  ASSERT_EQ(corvane::DSChangeCurrentTree(ctx, "NATIVE"), 0);
  corvane::StringList classes, attributes, person, aux;
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
  EXPECT_EQ(corvane::ReadAttributeList(ctx, attributes), 0);
  EXPECT_EQ(corvane::GetClassAttributes(ctx, "Person", person), 0);
  EXPECT_EQ(corvane::ReadAuxAttributeList(ctx, aux), 0);
  EXPECT_EQ(classes.lines(), (Names{"person", "Person", "unitMember", "named"}));
  EXPECT_EQ(attributes.lines(), (Names{"cn", "CN", "sn", "surname", "Surname", "ou", "OU", "title", "Title"}));
  EXPECT_EQ(person.lines(), (Names{"cn", "CN", "sn", "surname", "Surname", "title"}));
  // The auxiliary classes are read from the last one on.
  EXPECT_EQ(aux.lines(), (Names{"title", "cn", "CN", "ou", "OU"}));
  EXPECT_EQ(CtxFree(ctx), 0);
}

TEST_F(ClientTest, DemoTreeWithoutConnectionsFile) {
  ASSERT_EQ(ClientInit(0, 0), 0);
  corvane::StringList trees;
  corvane::FillTreeList(trees);
  EXPECT_EQ(trees.lines(), Names{std::string(kDemoTreeName)});
  EXPECT_EQ(corvane::GetCurrentTreeName(), kDemoTreeName);

  ContextHandle ctx = 0;
  ASSERT_EQ(CtxCreate(&ctx), 0);
  ASSERT_EQ(corvane::DSChangeCurrentTree(ctx, std::string(kDemoTreeName)), 0);
  EXPECT_EQ(corvane::GetMyName(ctx), "CN=admin.O=demo");
  corvane::StringList classes, attributes, aux, user;
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
  EXPECT_EQ(corvane::ReadAttributeList(ctx, attributes), 0);
  EXPECT_EQ(corvane::ReadAuxAttributeList(ctx, aux), 0);
  EXPECT_EQ(corvane::GetClassAttributes(ctx, "User", user), 0);
  EXPECT_GE(classes.size(), 40u);
  EXPECT_GE(attributes.size(), 150u);
  EXPECT_TRUE(classes.contains("Organizational Unit"));
  for (const char* name : {"CN", "Surname", "Given Name", "Login Disabled", "Group Membership", "Object Class Version"})
    EXPECT_TRUE(user.contains(name)) << name;
  EXPECT_TRUE(aux.contains("UID Number"));
  EXPECT_FALSE(aux.contains("Login Disabled"));
  EXPECT_EQ(CtxFree(ctx), 0);
}

// Counts the class reads the stand-in serves, to see the blocks.
ResultCode (*standInReadClasses)(ContextHandle, std::uint32_t, std::uint8_t, DirBuffer*, std::int32_t*, DirBuffer*);
int classReads = 0;
ResultCode CountedReadClasses(ContextHandle ctx, std::uint32_t level, std::uint8_t all, DirBuffer* request,
                              std::int32_t* handle, DirBuffer* result) {
  ++classReads;
  return standInReadClasses(ctx, level, all, request, handle, result);
}

// The stand-in serving one schema file, with a context on it and its class reads counted
// for the life of the scope.
class CountedSchemaScope {
 public:
  explicit CountedSchemaScope(const std::string& path) {
    EXPECT_EQ(ServeSchemaFiles({path}), "");
    EXPECT_EQ(ClientInit(0, 0), 0);
    EXPECT_EQ(CtxCreate(&ctx), 0);
    corvane::ClientFunctions counted = corvane::StandInClientFunctions();
    standInReadClasses = counted.SchemaReadClasses;
    counted.SchemaReadClasses = CountedReadClasses;
    previous_ = corvane::SetClientFunctions(counted);
    classReads = 0;
  }
  ~CountedSchemaScope() { corvane::SetClientFunctions(previous_); }
  CountedSchemaScope(const CountedSchemaScope&) = delete;
  CountedSchemaScope& operator=(const CountedSchemaScope&) = delete;

  ContextHandle ctx = 0;

 private:
  corvane::ClientFunctions previous_{};
};

TEST_F(ClientTest, LargeSchemaIsReadInSeveralBlocks) {
  const std::string path = home_ + "/large.schema";
  {
    std::ofstream out(path);
    for (int i = 0; i < 3000; ++i) out << "attributetype ( 1.1." << i << " NAME 'Attribute Number " << i << "' )\n";
    for (int i = 0; i < 300; ++i)
      out << "objectclass ( 1.2." << i << " NAME 'Class " << i << "' MAY 'Attribute Number " << i << "' )\n";
  }
  std::optional<CountedSchemaScope> scope(std::in_place, path);
  const ContextHandle ctx = scope->ctx;
  corvane::StringList classes, attributes;
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
  EXPECT_EQ(corvane::ReadAttributeList(ctx, attributes), 0);
  scope.reset();

  EXPECT_GE(classReads, 4);
  ASSERT_EQ(classes.size(), 300u);
  EXPECT_EQ(classes[299].text, "Class 299");
  ASSERT_EQ(attributes.size(), 3000u);
  EXPECT_EQ(attributes[2999].text, "Attribute Number 2999");

  DirBuffer* tiny = nullptr;
  ASSERT_EQ(BufAlloc(16, &tiny), 0);
  std::int32_t handle = kNoIteration;
  EXPECT_EQ(SchemaReadAttributes(ctx, kLevelNames, 1, nullptr, &handle, tiny), kCodeBufferTooSmall);
  handle = 3000;
  EXPECT_EQ(SchemaReadAttributes(ctx, kLevelNames, 1, nullptr, &handle, tiny), kCodeInvalidIteration);
  EXPECT_EQ(BufFree(tiny), 0);
}

// The password file is the one secret: readable by others it is refused, with the fix, and
// its content never shows in a message.
TEST_F(ClientTest, PasswordFileThatOthersCanReadIsRefusedAndThePasswordNeverShown) {
  const std::string secret = "s3cret-Pa55word";
  const std::string path = home_ + "/prod.password";
  std::ofstream(path) << secret << "\n";
  writeConnections("[PROD]\nurl = ldap://127.0.0.1:1/\nbind-dn = cn=reader\npassword-file = " + path + "\n");
  ASSERT_EQ(ClientInit(0, 0), 0);
  ContextHandle ctx = 0;
  ASSERT_EQ(CtxCreate(&ctx), 0);
  using fs::perms;
  for (const perms open : {perms::group_read, perms::others_read}) {
    fs::permissions(path, perms::owner_read | perms::owner_write | open);
    testing::internal::CaptureStderr();
    EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "PROD"), kCodeSchemaUnavailable);
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("chmod 600 " + path), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find(secret), std::string::npos) << warnings;
  }
  // Private, it is used: the change now fails only at the server, still without the secret.
  fs::permissions(path, perms::owner_read | perms::owner_write);
  testing::internal::CaptureStderr();
  EXPECT_EQ(corvane::DSChangeCurrentTree(ctx, "PROD"), kCodeSchemaUnavailable);
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_EQ(warnings.find("chmod"), std::string::npos) << warnings;
  EXPECT_NE(warnings.find("cannot connect to ldap://127.0.0.1:1/: Can't contact LDAP server (LDAP result -1)"),
            std::string::npos)
      << warnings;
  EXPECT_EQ(warnings.find(secret), std::string::npos) << warnings;
  EXPECT_EQ(CtxFree(ctx), 0);
}

TEST_F(ClientTest, ServeSchemaFilesNamesTheFileItCannotReadOrThatDefinesNothing) {
  const std::string error = ServeSchemaFiles({kFixtures + "/mixed_spellings.ldif", home_ + "/absent.schema"});
  EXPECT_NE(error.find(home_ + "/absent.schema"), std::string::npos) << error;

  std::string noise;
  for (unsigned value = 1; noise.size() < 4096; value = value * 1103515245u + 12345u)
    noise.push_back(static_cast<char>(value >> 16));
  const std::pair<const char*, std::string> nothing[] = {
      {"empty.schema", ""},
      {"passwd", "root:x:0:0:root:/root:/bin/bash\nobjectclass:x:1:1::/:/bin/false\n"},
      {"plugin.xml", "<?xml version=\"1.0\"?>\n<plugin>\n  <class name=\"User\"/>\n</plugin>\n"},
      {"noise.bin", noise},
      {"broken.schema", "attributetype ( 1.1 NAME 'never closed'\n"}};
  for (const auto& [name, content] : nothing) {
    const std::string path = home_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    testing::internal::CaptureStderr();
    const std::string refused = ServeSchemaFiles({kFixtures + "/mixed_spellings.ldif", path});
    testing::internal::GetCapturedStderr();
    EXPECT_NE(refused.find(path), std::string::npos) << name << ": " << refused;
  }

  ASSERT_EQ(ClientInit(0, 0), 0);
  EXPECT_EQ(corvane::GetCurrentTreeName(), kDemoTreeName);
  EXPECT_STREQ(ClientErrorText(12345), "Unknown error");
}

// A class whose definition is larger than one 64,512-byte block comes in several blocks, the
// handle continuing the same class; classes before and after it share blocks as usual.
TEST_F(ClientTest, ClassLargerThanABlockIsServedOverSeveralReads) {
  constexpr int kWide = 6000;
  constexpr int kOwn = 100;
  const auto wideName = [](int i) { return "'Attribute with a rather long name " + std::to_string(i) + "'"; };
  const std::string path = home_ + "/wide.schema";
  {
    std::ofstream out(path);
    out << "objectclass ( 1.1 NAME 'Small Before' MAY x )\n";
    out << "objectclass ( 1.2 NAME 'Wide' AUXILIARY MAY ( " << wideName(0);
    for (int i = 1; i < kWide; ++i) out << " $ " << wideName(i);
    out << " ) )\nobjectclass ( 1.3 NAME 'Wider' SUP Wide MUST ( own0";
    for (int i = 1; i < kOwn; ++i) out << " $ own" << i;
    out << " ) )\nobjectclass ( 1.4 NAME 'Small After' MAY y )\n";
  }
  std::optional<CountedSchemaScope> scope(std::in_place, path);
  const ContextHandle ctx = scope->ctx;
  corvane::StringList wider, aux, all;
  EXPECT_EQ(corvane::GetClassAttributes(ctx, "Wider", wider), 0);
  EXPECT_GE(classReads, 4);
  EXPECT_EQ(corvane::ReadAuxAttributeList(ctx, aux), 0);
  EXPECT_EQ(corvane::GetClassAttributes(ctx, "", all), 0);
  scope.reset();

  ASSERT_EQ(wider.size(), std::size_t{kOwn + kWide});
  EXPECT_EQ(wider[kOwn - 1].text, "own99");
  EXPECT_EQ(wider[kOwn - 1].object, 3);
  EXPECT_EQ(wider[kOwn + kWide - 1].text, "Attribute with a rather long name 5999");
  EXPECT_EQ(wider[kOwn + kWide - 1].object, 4);
  EXPECT_EQ(aux.size(), std::size_t{kWide});
  EXPECT_EQ(all.size(), std::size_t{kOwn + kWide + 2});
  EXPECT_TRUE(all.contains("x") && all.contains("y"));

  // A block too small for even one class is a failure, never an empty success.
  DirBuffer* tiny = nullptr;
  ASSERT_EQ(BufAlloc(64, &tiny), 0);
  std::int32_t handle = kNoIteration;
  EXPECT_EQ(SchemaReadClasses(ctx, kLevelClassDefinitions, 1, nullptr, &handle, tiny), kCodeBufferTooSmall);
  EXPECT_EQ(BufFree(tiny), 0);
}

// Whether a library whose file name has part in it is loaded into this process.
bool LibraryLoaded(const char* part) {
  return dl_iterate_phdr(
             [](dl_phdr_info* info, std::size_t /*size*/, void* wanted) {
               return std::strstr(info->dlpi_name, static_cast<const char*>(wanted)) != nullptr ? 1 : 0;
             },
             const_cast<char*>(part)) != 0;
}

// The LDAP client library and its TLS stack are loaded when a tree is first read from a
// server, not before: a tree of schema files needs none of it.
TEST_F(ClientTest, TheLdapLibraryIsLoadedByTheFirstTreeReadFromAServer) {
  // ctest runs each test in a process of its own; all in one process, one before may have.
  if (LibraryLoaded("libldap")) GTEST_SKIP() << "an earlier test of this process read a tree from a server";
  // Nothing listens on port 1 of the loopback address: the connection is refused at once.
  writeConnections("[FILES]\nschema = " + kFixtures + "/mixed_spellings.ldif\n[DOWN]\nurl = ldap://127.0.0.1:1\n");
  DirectorySession directory;
  ASSERT_TRUE(directory.start());
  ASSERT_EQ(directory.changeTree("FILES"), 0);
  SchemaView schema;
  directory.readSchema(schema);
  EXPECT_FALSE(schema.SchemaClassList.empty());
  EXPECT_FALSE(LibraryLoaded("libldap"));
  EXPECT_NE(directory.changeTree("DOWN"), 0);
  EXPECT_TRUE(LibraryLoaded("libldap"));
}

}  // namespace
}  // namespace corvane::client
