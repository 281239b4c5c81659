// What an editor is told about a plug-in file being written: completion, hover, definitions
// and quick fixes, over a web application on disk and a small schema served from a file.
#include "editor_queries.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "catalogue.h"
#include "cli_run.h"
#include "directory_session.h"
#include "plain_sinks.h"
#include "scan.h"

using namespace corvane;
using namespace cli_test;

namespace {

const std::string kSchema =
    "attributetype ( 1.1 NAME 'CN' )\nattributetype ( 1.2 NAME 'Surname' )\nattributetype ( 1.3 NAME 'Title' )\n"
    "attributetype ( 1.4 NAME 'Given Name' )\nattributetype ( 1.5 NAME 'Member' )\n"
    "attributetype ( 1.6 NAME 'Mailbox Location' )\nattributetype ( 1.7 NAME 'Locality' )\n"
    "attributetype ( 1.8 NAME 'Location' )\n"
    "objectclass ( 2.1 NAME 'Top' MUST 'CN' )\n"
    "objectclass ( 2.2 NAME 'Person' SUP 'Top' MUST 'Surname' MAY 'Title' )\n"
    "objectclass ( 2.3 NAME 'User' SUP 'Person' MAY ( 'Given Name' $ 'Locality' ) )\n"
    "objectclass ( 2.4 NAME 'Group' SUP 'Top' MAY ( 'Member' $ 'Location' ) )\n"
    "objectclass ( 2.5 NAME 'Mailbox' AUXILIARY MAY 'Mailbox Location' )\n";

// The plug-in's text; '|' marks where the editor's cursor is and is taken out.
const std::string kPlugin =
    "<plugin>\n"
    "  <role><id>Admins</id></role>\n"
    "  <task>\n"
    "    <id>CreateUser</id>\n"
    "    <object-type-name>User</object-type-name>\n"
    "    <resource-properties-file>com.acme.Res</resource-properties-file>\n"
    "    <display-name-key>user.name</display-name-key>\n"
    "    <role-assignment>Admins</role-assignment>\n"
    "    <merge-template>Users.list</merge-template>\n"
    "    <attributes><attribute-name>CN</attribute-name></attributes>\n"
    "  </task>\n"
    "  <role><id>Late</id></role>\n"
    "</plugin>\n";

class EditorQueriesTest : public testing::Test {
 protected:
  EditorQueriesTest() : folder_("corvane_editor_queries") {
    folder_.write("tree.schema", kSchema);
    folder_.write("app/WEB-INF/classes/com/acme/Res.properties", "title=Create a user\nuser.name=Name of the user\n");
    folder_.write("app/WEB-INF/classes/Other.properties", "a=1");
    folder_.write("app/portal/modules/Users/skins/default/devices/default/create.jsp", "");
    folder_.write("app/portal/modules/Users/skins/default/devices/browser/list.jsp", "");
    client::ResetClient();
    client::ClientInit(0, 0);
    EXPECT_EQ(client::ServeSchemaFiles({folder_.path("tree.schema")}), "");
    EXPECT_TRUE(directory_.start());
    EXPECT_EQ(directory_.changeTree(directory_.primaryTree()), 0);
    directory_.readSchema(state_.schema);
  }

  // The document with the cursor taken out, and the cursor's offset.
  std::pair<EditorDocument, std::size_t> at(const std::string& marked) {
    text_ = marked;
    const std::size_t cursor = text_.find('|');
    text_.erase(cursor, 1);
    return {EditorDocument{text_, path_}, cursor};
  }
  std::optional<Completion> complete(const std::string& marked) {
    const auto [doc, offset] = at(marked);
    return CompleteAt(doc, offset, facts_);
  }
  std::vector<std::string> labels(const std::string& marked) {
    std::vector<std::string> list;
    if (std::optional<Completion> c = complete(marked)) {
      std::sort(c->candidates.begin(), c->candidates.end(),
                [](const Candidate& a, const Candidate& b) { return a.sortText < b.sortText; });
      for (const Candidate& candidate : c->candidates) list.push_back(candidate.label + " | " + candidate.detail);
    }
    return list;
  }
  std::string hover(const std::string& marked) {
    const auto [doc, offset] = at(marked);
    const std::optional<Hover> h = HoverAt(doc, offset, facts_);
    return h ? h->markdown : "";
  }
  std::optional<Location> definition(const std::string& marked) {
    const auto [doc, offset] = at(marked);
    return DefinitionAt(doc, offset);
  }
  // kPlugin with the cursor put after the first occurrence of what.
  static std::string After(const std::string& what) {
    std::string text = kPlugin;
    return text.insert(text.find(what) + what.size(), "|");
  }
  // The suggestion of each finding a check of text gives, as "message => text (certain)".
  std::vector<std::string> suggestions(const std::string& text) {
    PlainTree tree;
    PlainMessages messages;
    ScanState state(tree, messages);
    state.schema = state_.schema;
    const CheckOutcome outcome = CheckText(state, path_, text);
    const Suggester suggester(state.schema);
    std::vector<std::string> found;
    for (const Message& m : messages.sorted()) {
      const std::optional<Suggestion> s = suggester.of(m, tree, *outcome.document, state.WebAppRoot);
      std::string line = m.text + " => ";
      if (s && s->append) line += s->append->path.substr(folder_.root().string().size()) + " += " + s->append->text;
      if (s && !s->append) line += s->text + (s->certain ? " (certain)" : " (guess)");
      found.push_back(line);
    }
    return found;
  }

  TempFolder folder_;
  PlainTree tree_;
  PlainMessages messages_;
  ScanState state_{tree_, messages_};
  DirectorySession directory_;
  SchemaFacts facts_{state_.schema};
  std::string path_ = folder_.path("app/portal/modules/Users/Users.xml");
  std::string text_;
};

}  // namespace

TEST_F(EditorQueriesTest, ContextFindsTheValueAndItsItemAlsoWhileTheTagsAreUnfinished) {
  auto [doc, offset] = at(After("<object-type-name>Us"));
  EditorContext c = ContextAt(doc.text, offset);
  EXPECT_EQ(c.element, "object-type-name");
  EXPECT_EQ(c.value, "User");
  EXPECT_EQ(c.valueRange, (ByteRange{text_.find(">User<") + 1, 4}));
  EXPECT_EQ(c.item, "task");
  EXPECT_EQ(c.itemId, "CreateUser");
  EXPECT_EQ(c.classes, std::vector<std::string>{"User"});
  EXPECT_EQ(c.bundle, "com.acme.Res");

  // An empty value, a value left unclosed before the next element and one at the text's end.
  for (const std::string& marked :
       {std::string("<plugin><page><object-type-name>|</object-type-name></page></plugin>"),
        std::string("<plugin><page><object-type-name>|\n  <id>P</id></page></plugin>"),
        std::string("<plugin><page><id>P</id>\n<object-type-name>Gr|  \n  <attributes><attribute-name>"),
        std::string("<plugin><page><object-type-name>Gr|</object-type-n")}) {
    SCOPED_TRACE(marked);
    std::tie(doc, offset) = at(marked);
    c = ContextAt(doc.text, offset);
    EXPECT_EQ(c.element, "object-type-name");
    EXPECT_EQ(c.item, "page");
    const std::size_t begin = text_.find("name>") + 5;
    EXPECT_EQ(c.valueRange, (ByteRange{begin, offset - begin}));
  }
  // References are resolved; a cursor inside a tag or between elements is in no value.
  std::tie(doc, offset) = at("<plugin><book><id>A&amp;B&#x20AC;|</id></book></plugin>");
  EXPECT_EQ(ContextAt(doc.text, offset).value, "A&B\xE2\x82\xAC");
  std::tie(doc, offset) = at("<plugin><book><object-type-na|me>User</object-type-name></book></plugin>");
  EXPECT_EQ(ContextAt(doc.text, offset).element, "");
  EXPECT_EQ(ContextAt(doc.text, offset).item, "book");
  std::tie(doc, offset) = at("<plugin><book><id>A</id>|<!-- <id>B</id> --></book></plugin>");
  EXPECT_EQ(ContextAt(doc.text, offset).element, "");
}

TEST_F(EditorQueriesTest, ClassesAndAttributesPutTheItemsOwnFirst) {
  const std::optional<Completion> classes =
      complete("<plugin><task><object-type-name>|</object-type-name></task></plugin>");
  ASSERT_TRUE(classes);
  EXPECT_EQ(classes->range, (ByteRange{32, 0}));
  EXPECT_EQ(labels("<plugin><task><object-type-name>|"),
            (std::vector<std::string>{"Top | class", "Person | class", "User | class", "Group | class",
                                      "Mailbox | auxiliary class"}));

  EXPECT_EQ(labels("<plugin><task><object-type-name>User</object-type-name>\n"
                   "<attributes><attribute-name>G|\n</attributes></task></plugin>"),
            (std::vector<std::string>{"Surname | MUST of User, from Person", "CN | MUST of User, from Top",
                                      "Given Name | MAY of User", "Locality | MAY of User",
                                      "Title | MAY of User, from Person", "Mailbox Location | auxiliary: Mailbox",
                                      "Member | attribute", "Location | attribute"}));
}

TEST_F(EditorQueriesTest, KeysBundlesIdsAndPagesComeFromTheWebApplicationAndTheFile) {
  EXPECT_EQ(labels(After("<display-name-key>")),
            (std::vector<std::string>{"title | Create a user", "user.name | Name of the user"}));
  EXPECT_EQ(labels(After("<resource-properties-file>")),
            (std::vector<std::string>{"Other | WEB-INF/classes/Other.properties",
                                      "com.acme.Res | WEB-INF/classes/com/acme/Res.properties"}));
  EXPECT_EQ(labels(After("<role-assignment>")),
            (std::vector<std::string>{"Admins | role, line 2", "CreateUser | task, line 4",
                                      "Late | role, line 12 (below: move it up)"}));
  EXPECT_EQ(labels(After("<merge-template>")),
            (std::vector<std::string>{"Users.create | page under default", "Users.list | page under browser"}));
  // The range is the whole value, whatever part of it the cursor is in.
  const std::optional<Completion> c = complete(After("<merge-template>Us"));
  ASSERT_TRUE(c);
  EXPECT_EQ(text_.substr(c->range.offset, c->range.length), "Users.list");
  EXPECT_FALSE(complete(After("<id>Cre")));
}

TEST_F(EditorQueriesTest, HoverTellsWhatANameMeans) {
  EXPECT_EQ(hover(After("<object-type-name>Us")),
            "**User**: class\n\nSuperclasses: Person, Top\n\nMUST: Surname, CN\n\nMAY: Given Name, Locality, Title");
  EXPECT_EQ(hover(After("<attribute-name>C")), "**CN**: attribute\n\nDeclared by: Top");
  EXPECT_EQ(hover(After("<display-name-key>user")), "**user.name** in `com.acme.Res`:\n\nName of the user");
  EXPECT_EQ(hover(After("<role-assignment>Ad")), "`Admins`: the role on line 2");
  EXPECT_EQ(hover("<plugin><task><object-type-name>Mail|box</object-type-name></task></plugin>"),
            "**Mailbox**: auxiliary class\n\nSuperclasses: none\n\nMUST: none\n\nMAY: Mailbox Location");
  EXPECT_EQ(hover("<plugin><task><attribute-name>Nope|</attribute-name></task></plugin>"),
            "`Nope`: no attribute of the tree's schema");
  EXPECT_EQ(hover("<plugin><task><display-name-key>k|</display-name-key></task></plugin>"),
            "`k`: no bundle (resource-properties-file) for this key");
}

TEST_F(EditorQueriesTest, DefinitionsLandOnTheLineThatDefines) {
  const std::optional<Location> id = definition(After("<role-assignment>Adm"));
  ASSERT_TRUE(id);
  EXPECT_EQ(id->path, path_);
  EXPECT_EQ(id->line, 1u);
  EXPECT_EQ(id->column, 12u);
  EXPECT_EQ(text_.substr(id->range.offset, id->range.length), "Admins");

  const std::optional<Location> key = definition(After("<display-name-key>"));
  ASSERT_TRUE(key);
  EXPECT_EQ(key->path, folder_.path("app/WEB-INF/classes/com/acme/Res.properties"));
  EXPECT_EQ(key->line, 1u);
  const std::optional<Location> bundle = definition(After("<resource-properties-file>com"));
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->path, key->path);
  EXPECT_EQ(bundle->line, 0u);
  // The page under the browser device when there is none under default.
  const std::optional<Location> page = definition(After("<merge-template>"));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->path, folder_.path("app/portal/modules/Users/skins/default/devices/browser/list.jsp"));

  EXPECT_FALSE(definition("<plugin><task><role-assignment>Nobody|</role-assignment></task></plugin>"));
  EXPECT_FALSE(definition("<plugin><task><merge-template>Users.gone|</merge-template></task></plugin>"));
}

TEST_F(EditorQueriesTest, NamesAreCorrectedWhenOneIsCertainOrClearlyNearest) {
  const std::string prefix = "Msg 006: Schema - Class not found: ";
  EXPECT_EQ(
      suggestions("<plugin><task><id>T</id><object-type-name>user</object-type-name>"
                  "<object-type-name>Usr</object-type-name><object-type-name>Pesron</object-type-name>"
                  "<object-type-name>Psn</object-type-name></task></plugin>"),
      (std::vector<std::string>{prefix + "\"Pesron\" (T) => Person (guess)", prefix + "\"Psn\" (T) => ",
                                prefix + "\"user\" (T) => User (certain)", prefix + "\"Usr\" (T) => User (guess)"}));
  // Locatiy is two edits from both Locality and Location.
  EXPECT_EQ(suggestions("<plugin><page><id>P</id><c><attribute-name>Locatiy</attribute-name>"
                        "<attribute-name>Localty</attribute-name></c></page></plugin>"),
            (std::vector<std::string>{"Msg 001: Schema - Attribute not found: \"Localty\" (P) => Locality (guess)",
                                      "Msg 001: Schema - Attribute not found: \"Locatiy\" (P) => "}));
  EXPECT_EQ(suggestions("<plugin><task><id>T</id><url-param><param-key>eDirSearch</param-key>"
                        "<param-value>Mail box</param-value></url-param></task></plugin>"),
            (std::vector<std::string>{"Msg 009: Bad Class Name: \"Mail box\" (use \"_\") => Mail_box (certain)"}));
}

TEST_F(EditorQueriesTest, AMissingKeyIsAddedToItsBundleOnALineOfItsOwn) {
  EXPECT_EQ(suggestions("<plugin><task><id>T</id><resource-properties-file>com.acme.Res</resource-properties-file>"
                        "<display-name-key>new key</display-name-key></task>"
                        "<task><id>U</id><resource-properties-file>Other</resource-properties-file>"
                        "<display-name-key>b</display-name-key></task></plugin>"),
            (std::vector<std::string>{
                "Msg 003: Key not found: com.acme.Res/new key => /app/WEB-INF/classes/com/acme/Res.properties += "
                "new_key=\n",
                "Msg 003: Key not found: Other/b => /app/WEB-INF/classes/Other.properties += \nb=\n"}));

  const Suggestion add{0, {}, "Add the key to the bundle.", true, FileAppend{"/x/Other.properties", "\nb=\n"}};
  const std::optional<QuickFix> fix = QuickFixOf(add, XmlDocument(), "");
  ASSERT_TRUE(fix);
  EXPECT_EQ(fix->title, "Add \"b=\" to /x/Other.properties");
  EXPECT_EQ(fix->newText, "\nb=\n");
}

TEST_F(EditorQueriesTest, QuickFixesReplaceTheValueAndFixAppliesOnlyCertainOnes) {
  const std::string text =
      "<plugin>\n<task><id>T</id>\n<object-type-name>Usr</object-type-name>"
      "<object-type-name>user</object-type-name></task></plugin>\n";
  PlainTree tree;
  PlainMessages messages;
  ScanState state(tree, messages);
  state.schema = state_.schema;
  const CheckOutcome outcome = CheckText(state, path_, text);
  const Suggester suggester(state.schema);
  std::vector<std::string> fixes;
  for (const Message& m : messages.sorted()) {
    const std::optional<Suggestion> s = suggester.of(m, tree, *outcome.document);
    ASSERT_TRUE(s);
    const std::optional<QuickFix> fix = QuickFixOf(*s, *outcome.document, text);
    ASSERT_TRUE(fix);
    fixes.push_back(fix->title + " @" + text.substr(fix->range.offset, fix->range.length) +
                    (fix->preferred ? " preferred" : ""));
  }
  EXPECT_EQ(fixes, (std::vector<std::string>{"Change to \"User\" @user preferred", "Change to \"User\" @Usr"}));

  // The guess is offered in JSON, but --fix leaves it, and its finding, alone.
  folder_.write("app/portal/p.xml", text);
  const InFolder here(folder_.root());
  const RunResult json = RunCli({"--schema", "tree.schema", "--format", "json", "app/portal/p.xml"});
  std::vector<std::string> offered;
  const nlohmann::json report = nlohmann::json::parse(json.out);
  for (const nlohmann::json& m : report["files"][0]["messages"]) {
    if (m.contains("suggestion")) offered.push_back(m["suggestion"]["description"].get<std::string>());
  }
  EXPECT_EQ(offered, (std::vector<std::string>{"Use the schema's spelling.",
                                               "Use the schema's nearest name (a guess: check it is the one meant)."}));
  const RunResult fixed = RunCli({"--schema", "tree.schema", "--fix", "app/portal/p.xml"});
  std::string after = text;
  EXPECT_EQ(folder_.read("app/portal/p.xml"), after.replace(after.find(">user<"), 6, ">User<"));
  EXPECT_EQ(fixed.out, "app/portal/p.xml:3:1: Msg 006: Schema - Class not found: \"Usr\" (T)\n");
}
