// Completion, hover, definitions and quick fixes as an editor asks corvanexml-check --lsp
// for them, on the fixture web application (a bundle com.demo.Res) and the demo tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_run.h"
#include "lsp_client.h"

namespace {

using lsp_test::json;
using lsp_test::LspClient;

class LspFeaturesTest : public ::testing::Test {
 protected:
  LspFeaturesTest() : folder_("lsp_features_test") {
    std::filesystem::copy(std::string(CORVANE_FIXTURES) + "/checker/resources/app", folder_.path("app"),
                          std::filesystem::copy_options::recursive);
  }
  std::string path(const std::string& rel) const { return folder_.path(rel); }
  std::string uri(const std::string& rel) const { return "file://" + path(rel); }

  // Opens text as the document rel and waits for its first diagnostics: by then the tree is read.
  json open(LspClient& client, const std::string& rel, const std::string& text) {
    client.notify("textDocument/didOpen",
                  {{"textDocument", {{"uri", uri(rel)}, {"languageId", "xml"}, {"version", 1}, {"text", text}}}});
    return client.diagnostics(uri(rel));
  }
  // The answer to a request about the document rel at a position.
  json ask(LspClient& client, const std::string& method, const std::string& rel, const json& position) {
    client.request(++id_, method, {{"textDocument", {{"uri", uri(rel)}}}, {"position", position}});
    return client.response(id_)["result"];
  }
  json codeActions(LspClient& client, const std::string& rel, const json& range, json context = json::object()) {
    if (!context.contains("diagnostics")) context["diagnostics"] = json::array();
    client.request(++id_, "textDocument/codeAction",
                   {{"textDocument", {{"uri", uri(rel)}}}, {"range", range}, {"context", context}});
    return client.response(id_)["result"];
  }

  // The position just after the first occurrence of marker in text (ASCII before it on its line).
  static json After(const std::string& text, const std::string& marker) {
    const std::size_t at = text.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    const std::size_t end = at + marker.size();
    const std::size_t lineStart = text.rfind('\n', end - 1) + 1;
    return {{"line", std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n')},
            {"character", end - lineStart}};
  }
  static json Range(int line, int from, int to) {
    return {{"start", {{"line", line}, {"character", from}}}, {"end", {{"line", line}, {"character", to}}}};
  }
  static std::vector<std::string> Labels(const json& items) {
    std::vector<std::string> labels;
    for (const json& item : items) labels.push_back(item["label"]);
    return labels;
  }
  // The item of a label; null when there is none.
  static json Item(const json& items, const std::string& label) {
    const auto it = std::find_if(items.begin(), items.end(), [&](const json& i) { return i["label"] == label; });
    return it == items.end() ? json() : *it;
  }

  cli_test::TempFolder folder_;
  int id_ = 100;
};

constexpr char kTask[] =
    "<plugin>\n"
    "  <role><id>Admins</id></role>\n"
    "  <task>\n"
    "    <id>T1</id>\n"
    "    <object-type-name>User</object-type-name>\n"
    "    <attributes><attribute-name>CN</attribute-name></attributes>\n"
    "    <resource-properties-file>com.demo.Res</resource-properties-file>\n"
    "    <display-name-key>my_key</display-name-key>\n"
    "    <role-assignment>Admins</role-assignment>\n"
    "  </task>\n"
    "</plugin>\n";

TEST_F(LspFeaturesTest, Completion_OffersWhatEachValueTakesAndReplacesTheWholeValue) {
  LspClient client;
  json caps = client.initialize()["result"]["capabilities"];
  json triggers = caps["completionProvider"]["triggerCharacters"];
  EXPECT_NE(std::find(triggers.begin(), triggers.end(), ">"), triggers.end());
  const std::string doc = "app/portal/modules/Demo/Task.xml";
  open(client, doc, kTask);

  json classes = ask(client, "textDocument/completion", doc, After(kTask, "<object-type-name>Us"));
  EXPECT_FALSE(classes["isIncomplete"]);
  json user = Item(classes["items"], "User");
  ASSERT_FALSE(user.is_null());
  EXPECT_EQ(user["kind"], 7);
  EXPECT_EQ(user["textEdit"], json({{"range", Range(4, 22, 26)}, {"newText", "User"}}));
  json auxiliary = Item(classes["items"], "Mail Recipient");
  EXPECT_EQ(auxiliary["detail"], "auxiliary class");

  // The item's own class's attributes sort first, inherited ones marked; auxiliary ones next.
  json attributes = ask(client, "textDocument/completion", doc, After(kTask, "<attribute-name>"))["items"];
  ASSERT_FALSE(attributes.empty());
  std::sort(attributes.begin(), attributes.end(),
            [](const json& a, const json& b) { return a["sortText"] < b["sortText"]; });
  EXPECT_EQ(attributes[0]["kind"], 10);
  EXPECT_EQ(attributes[0]["textEdit"]["range"], Range(5, 32, 34));
  const auto details = [&](std::size_t i) { return attributes[i]["detail"].get<std::string>(); };
  const auto firstOther = std::find_if(attributes.begin(), attributes.end(), [](const json& a) {
    return !a["detail"].get<std::string>().ends_with("of User") &&
           a["detail"].get<std::string>().find("of User, from ") == std::string::npos;
  });
  const auto own = static_cast<std::size_t>(firstOther - attributes.begin());
  ASSERT_GT(own, 2U);
  EXPECT_EQ(Item(attributes, "CN")["detail"], "MUST of User, from Person");
  EXPECT_EQ(Item(attributes, "Login Disabled")["detail"], "MAY of User");
  EXPECT_TRUE(details(own).starts_with("auxiliary: ")) << details(own);

  json keys = ask(client, "textDocument/completion", doc, After(kTask, "<display-name-key>"))["items"];
  const std::vector<std::string> labels = Labels(keys);
  EXPECT_NE(std::find(labels.begin(), labels.end(), "Book.Title"), labels.end());
  EXPECT_NE(std::find(labels.begin(), labels.end(), "my_key"), labels.end());
  EXPECT_EQ(Item(keys, "Book.Title")["kind"], 21);
  EXPECT_EQ(Item(keys, "Book.Title")["detail"], "Title");

  // Outside any value there is nothing to offer.
  EXPECT_TRUE(ask(client, "textDocument/completion", doc, After(kTask, "<attributes>")).is_null());
}

// An editor asks as soon as the file is open, before the first check has read the tree.
TEST_F(LspFeaturesTest, Completion_AskedAsTheFileOpensWaitsForTheTree) {
  LspClient client;
  client.initialize();
  const std::string doc = "app/portal/modules/Demo/Task.xml";
  client.notify("textDocument/didOpen",
                {{"textDocument", {{"uri", uri(doc)}, {"languageId", "xml"}, {"version", 1}, {"text", kTask}}}});
  json classes = ask(client, "textDocument/completion", doc, After(kTask, "<object-type-name>Us"));
  EXPECT_FALSE(Item(classes["items"], "User").is_null());
}

TEST_F(LspFeaturesTest, Completion_WorksOnUnsavedTextLeftUnclosed) {
  LspClient client;
  client.initialize();
  const std::string doc = "app/portal/modules/Demo/Typing.xml";
  open(client, doc, "<plugin/>\n");
  // The editor's text, not the file on disk, is what is asked about; it is not well-formed.
  const std::string typing =
      "<plugin>\n"
      "  <task>\n"
      "    <object-type-name>Use\n"
      "    <resource-properties-file>com.demo.Res</resource-properties-file>\n"
      "    <display-name-key>";
  client.notify("textDocument/didChange", {{"textDocument", {{"uri", uri(doc)}, {"version", 2}}},
                                           {"contentChanges", json::array({{{"text", typing}}})}});
  json classes = ask(client, "textDocument/completion", doc, After(typing, "<object-type-name>Use"));
  ASSERT_FALSE(Item(classes["items"], "User").is_null());
  EXPECT_EQ(Item(classes["items"], "User")["textEdit"]["range"], Range(2, 22, 25));
  json keys = ask(client, "textDocument/completion", doc, After(typing, "<display-name-key>"));
  ASSERT_FALSE(Item(keys["items"], "Book.Title").is_null());
  EXPECT_EQ(Item(keys["items"], "Book.Title")["textEdit"]["range"], Range(4, 22, 22));
}

TEST_F(LspFeaturesTest, HoverAndDefinition_PointAtTheClassTheIdAndTheBundleLine) {
  LspClient client;
  json caps = client.initialize()["result"]["capabilities"];
  EXPECT_EQ(caps["hoverProvider"], true);
  EXPECT_EQ(caps["definitionProvider"], true);
  const std::string doc = "app/portal/modules/Demo/Task.xml";
  open(client, doc, kTask);

  json hover = ask(client, "textDocument/hover", doc, After(kTask, "<object-type-name>Us"));
  EXPECT_EQ(hover["contents"]["kind"], "markdown");
  const std::string text = hover["contents"]["value"];
  EXPECT_TRUE(text.starts_with("**User**: class")) << text;
  EXPECT_NE(text.find("Superclasses: Organizational Person, Person, Top"), std::string::npos) << text;
  EXPECT_EQ(hover["range"], Range(4, 22, 26));

  json role = ask(client, "textDocument/definition", doc, After(kTask, "<role-assignment>Ad"));
  EXPECT_EQ(role, json({{"uri", uri(doc)}, {"range", Range(1, 12, 18)}}));
  // The key's line in its bundle: the second one.
  json key = ask(client, "textDocument/definition", doc, After(kTask, "<display-name-key>my"));
  EXPECT_EQ(key, json({{"uri", uri("app/WEB-INF/classes/com/demo/Res.properties")}, {"range", Range(1, 0, 0)}}));
  EXPECT_TRUE(ask(client, "textDocument/definition", doc, After(kTask, "<id>T")).is_null());
}

// The findings' corrections: a letter-case slip (certain), a guess at the nearest class, blanks
// in a class name, and a key missing from its bundle. A comment with a character of two UTF-16
// units stands before the first so that its range must be counted in those units. A silenced
// finding listed among them must not shift the others' corrections.
constexpr char kFaults[] =
    "<plugin>\n"
    "  <task>\n"
    "    <id>T1</id>\n"
    "    <!--\xF0\x9F\x98\x80--><object-type-name>user</object-type-name>\n"
    "  </task>\n"
    "  <task>\n"
    "    <id>T2</id>\n"
    "    <object-type-name>Usr</object-type-name>\n"
    "  </task>\n"
    "  <task>\n"
    "    <id>T3</id>\n"
    "    <url-param><param-key>eDirSearch</param-key><param-value>Organizational Unit</param-value></url-param>\n"
    "    <resource-properties-file>com.demo.Res</resource-properties-file>\n"
    "    <display-name-key>Missing.Key</display-name-key>\n"
    "  </task>\n"
    "  <task>\n"
    "    <id>T4</id>\n"
    "    <!-- corvanexml-check disable=Msg006 -->\n"
    "    <object-type-name>Grop</object-type-name>\n"
    "  </task>\n"
    "</plugin>\n";

TEST_F(LspFeaturesTest, CodeActions_CorrectNamesAndAddAMissingKeyToTheBundle) {
  // The bundle's last line has no line end: the key added must start a line of its own.
  folder_.write("app/WEB-INF/classes/com/demo/Res.properties", "Book.Title=Title\nmy_key=x");
  LspClient client;
  json caps = client.initialize(
      {{"workspace", {{"workspaceEdit", {{"documentChanges", true}}}}},
       {"textDocument", {{"codeAction", {{"codeActionLiteralSupport", json::object()}}}}}})["result"]["capabilities"];
  EXPECT_EQ(caps["codeActionProvider"]["codeActionKinds"], json::array({"quickfix"}));
  const std::string doc = "app/portal/modules/Demo/Faults.xml";
  open(client, doc, kFaults);

  // The one edit of an action, checked to be of the file named.
  const auto edit = [](json action, const std::string& file) {
    json change = action["edit"]["documentChanges"][0];
    EXPECT_EQ(change["textDocument"]["uri"], file);
    EXPECT_EQ(change["edits"].size(), 1U);
    return change["edits"][0];
  };

  json caseSlip = codeActions(client, doc, Range(3, 33, 33));
  ASSERT_EQ(caseSlip.size(), 1U) << caseSlip.dump(1);
  EXPECT_EQ(caseSlip[0]["kind"], "quickfix");
  EXPECT_EQ(caseSlip[0]["isPreferred"], true);
  EXPECT_EQ(caseSlip[0]["diagnostics"][0]["code"], "Msg006");
  EXPECT_EQ(caseSlip[0]["edit"]["documentChanges"][0]["textDocument"]["version"], 1);
  EXPECT_EQ(edit(caseSlip[0], uri(doc)), json({{"range", Range(3, 31, 35)}, {"newText", "User"}}));

  json guess = codeActions(client, doc, Range(7, 0, 44));
  ASSERT_EQ(guess.size(), 1U) << guess.dump(1);
  EXPECT_FALSE(guess[0].value("isPreferred", false));
  EXPECT_EQ(edit(guess[0], uri(doc)), json({{"range", Range(7, 22, 25)}, {"newText", "User"}}));

  json blanks = codeActions(client, doc, Range(11, 70, 70));
  ASSERT_EQ(blanks.size(), 1U) << blanks.dump(1);
  EXPECT_EQ(blanks[0]["diagnostics"][0]["code"], "Msg009");
  EXPECT_EQ(edit(blanks[0], uri(doc)), json({{"range", Range(11, 61, 80)}, {"newText", "Organizational_Unit"}}));

  const std::string bundle = "app/WEB-INF/classes/com/demo/Res.properties";
  json key = codeActions(client, doc, Range(13, 25, 25));
  ASSERT_EQ(key.size(), 1U) << key.dump(1);
  EXPECT_EQ(key[0]["diagnostics"][0]["code"], "Msg003");
  EXPECT_TRUE(key[0]["edit"]["documentChanges"][0]["textDocument"]["version"].is_null());
  json append = edit(key[0], uri(bundle));
  EXPECT_EQ(append, json({{"range", Range(1, 8, 8)}, {"newText", "\nMissing.Key=\n"}}));
  // Applied as the editor applies it, the edit clears the finding.
  folder_.write(bundle, folder_.read(bundle) + append["newText"].get<std::string>());
  client.notify("workspace/didChangeWatchedFiles", {{"changes", json::array({{{"uri", uri(bundle)}, {"type", 2}}})}});
  json after = client.diagnostics(uri(doc));
  EXPECT_TRUE(std::none_of(after["diagnostics"].begin(), after["diagnostics"].end(), [](const json& d) {
    return d["code"] == "Msg003";
  })) << after.dump(1);

  // A request for other kinds of action gets none.
  EXPECT_TRUE(codeActions(client, doc, Range(3, 33, 33), {{"only", json::array({"refactor"})}}).empty());
}

TEST_F(LspFeaturesTest, CodeActions_ChangesForAPlainClientAndNothingForAnEditedText) {
  LspClient client;
  json caps = client.initialize()["result"]["capabilities"];
  // A client without code action literals is told only that there are actions.
  EXPECT_EQ(caps["codeActionProvider"], true);
  const std::string doc = "app/portal/modules/Demo/Stale.xml";
  const std::string text = "<plugin><task><id>T1</id><object-type-name>user</object-type-name></task></plugin>\n";
  open(client, doc, text);
  json fix = codeActions(client, doc, Range(0, 45, 45));
  ASSERT_EQ(fix.size(), 1U) << fix.dump(1);
  EXPECT_EQ(fix[0]["edit"]["changes"][uri(doc)], json::array({{{"range", Range(0, 43, 47)}, {"newText", "User"}}}));
  // The name corrected by hand; the request follows at once, before its check can be
  // published. The corrections found for version 1 no longer fit: none is offered.
  client.sendRaw(
      LspClient::Frame({{"jsonrpc", "2.0"},
                        {"method", "textDocument/didChange"},
                        {"params",
                         {{"textDocument", {{"uri", uri(doc)}, {"version", 2}}},
                          {"contentChanges", json::array({{{"range", Range(0, 43, 44)}, {"text", "U"}}})}}}}) +
      LspClient::Frame({{"jsonrpc", "2.0"},
                        {"id", 9},
                        {"method", "textDocument/codeAction"},
                        {"params",
                         {{"textDocument", {{"uri", uri(doc)}}},
                          {"range", Range(0, 45, 45)},
                          {"context", {{"diagnostics", json::array()}}}}}}));
  EXPECT_EQ(client.response(9)["result"], json::array());
}

}  // namespace
