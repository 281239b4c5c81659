// The language server as an editor meets it: corvanexml-check --lsp in a process of its own,
// spoken to over pipes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "cli_run.h"
#include "lsp_client.h"

namespace {

using lsp_test::json;
using lsp_test::LspClient;

// The fixture web application (a bundle com.demo.Res) copied where it may be changed, with
// a plug-in file of its own and a project file that ignores Msg 002.
class LspTest : public ::testing::Test {
 protected:
  LspTest() : folder_("lsp_test") {
    std::filesystem::copy(std::string(CORVANE_FIXTURES) + "/checker/resources/app", folder_.path("app"),
                          std::filesystem::copy_options::recursive);
    folder_.write("app/.corvanexml.toml", "ignore = [\"Msg002\"]\n");
  }
  std::string path(const std::string& rel) const { return folder_.path(rel); }
  std::string uri(const std::string& rel) const { return "file://" + path(rel); }
  static json Open(const std::string& uri, const std::string& text, int version = 1) {
    return {{"textDocument", {{"uri", uri}, {"languageId", "xml"}, {"version", version}, {"text", text}}}};
  }
  static json Edit(const std::string& uri, int version, json changes) {
    return {{"textDocument", {{"uri", uri}, {"version", version}}}, {"contentChanges", std::move(changes)}};
  }
  static json Range(int line, int from, int to) {
    return {{"start", {{"line", line}, {"character", from}}}, {"end", {{"line", line}, {"character", to}}}};
  }
  static std::vector<std::string> Codes(const json& params) {
    std::vector<std::string> codes;
    for (const json& d : params["diagnostics"]) codes.push_back(d["code"]);
    return codes;
  }

  cli_test::TempFolder folder_;
};

constexpr char kPlugin[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<plugin>
  <task>
    <id>T1</id>
    <!-- corvanexml-check disable=Msg006 -->
    <object-type-name>NoSuchClass</object-type-name>
  </task>
  <task>
    <id>T1</id>
    <object-type-name>NoSuchClass2</object-type-name>
    <attribute-name>noSuchAttribute</attribute-name>
    <resource-properties-file>com.demo.Res</resource-properties-file>
    <display-name-key>Missing.Key</display-name-key>
    <resource-properties-file>com.demo.Res</resource-properties-file>
  </task>
  <task><id>&amp;</id><id>&amp;</id></task>
</plugin>
)";

TEST_F(LspTest, LifeCycle_RequestsFollowTheProtocolAndShutdownExitsWithZero) {
  LspClient client;
  client.request(7, "textDocument/hover", json::object());
  EXPECT_EQ(client.response(7)["error"]["code"], -32002);
  const json init = client.initialize();
  EXPECT_EQ(init["result"]["capabilities"]["positionEncoding"], "utf-16");
  EXPECT_EQ(init["result"]["capabilities"]["textDocumentSync"]["change"], 2);
  client.request(2, "initialize", {{"capabilities", json::object()}});
  EXPECT_EQ(client.response(2)["error"]["code"], -32600);
  client.notify("$/unknownNotification");
  client.request(3, "workspace/unknownRequest");
  EXPECT_EQ(client.response(3)["error"]["code"], -32601);
  client.request(4, "shutdown", nullptr);
  EXPECT_TRUE(client.response(4)["result"].is_null());
  client.request(5, "textDocument/hover", json::object());
  EXPECT_EQ(client.response(5)["error"]["code"], -32600);
  client.notify("exit");
  EXPECT_EQ(client.exitStatus(), 0);
}

TEST_F(LspTest, LifeCycle_ExitWithoutShutdownOrEndOfInputGiveOne) {
  {
    LspClient client;
    client.initialize();
    client.notify("exit");
    EXPECT_EQ(client.exitStatus(), 1);
  }
  LspClient client;
  client.initialize();
  EXPECT_EQ(client.exitStatus(), 1);
}

TEST_F(LspTest, SavedFile_DiagnosticsAreTheCommandLinesFindings) {
  folder_.write("app/portal/modules/Demo/Demo.xml", kPlugin);
  const cli_test::RunResult cli =
      cli_test::RunProgramIn(folder_, "--format json " + path("app/portal/modules/Demo/Demo.xml"));
  ASSERT_EQ(cli.status, 1) << cli.err;
  const json expected = json::parse(cli.out)["files"][0]["messages"];
  ASSERT_GE(expected.size(), 3U);

  LspClient client;
  client.initialize();
  const std::string demo = uri("app/portal/modules/Demo/Demo.xml");
  client.notify("textDocument/didOpen", Open(demo, kPlugin, 3));
  const json published = client.diagnostics(demo);
  EXPECT_EQ(published["version"], 3);
  const json& diagnostics = published["diagnostics"];
  ASSERT_EQ(diagnostics.size(), expected.size()) << diagnostics.dump(1);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(diagnostics[i]["code"], expected[i]["rule"]);
    EXPECT_EQ(diagnostics[i]["message"], expected[i]["text"]);
    EXPECT_EQ(diagnostics[i]["range"]["start"]["line"].get<int>() + 1, expected[i]["line"]);
    EXPECT_EQ(diagnostics[i]["severity"], expected[i]["level"] == "error" ? 1 : 2);
    EXPECT_EQ(diagnostics[i]["source"], "corvanexml");
    EXPECT_TRUE(diagnostics[i]["codeDescription"]["href"].get<std::string>().ends_with("README.md#messages"));
  }
  // Msg 008 covers the id's text; where the text is written with a reference, the start tag.
  const auto duplicate = std::find_if(diagnostics.begin(), diagnostics.end(),
                                      [](const json& d) { return d["message"] == "Msg 008: Duplicate ID: T1"; });
  ASSERT_NE(duplicate, diagnostics.end());
  EXPECT_EQ((*duplicate)["range"], Range(8, 8, 10));
  const auto escaped = std::find_if(diagnostics.begin(), diagnostics.end(),
                                    [](const json& d) { return d["message"] == "Msg 008: Duplicate ID: &"; });
  ASSERT_NE(escaped, diagnostics.end());
  EXPECT_EQ((*escaped)["range"], Range(15, 22, 26));

  client.notify("textDocument/didClose", {{"textDocument", {{"uri", demo}}}});
  const json closed = client.diagnostics(demo);
  EXPECT_TRUE(closed["diagnostics"].empty());
}

TEST_F(LspTest, Edits_IncrementalChangesCountUtf16Units) {
  LspClient client;
  client.initialize();
  const std::string doc = uri("app/portal/modules/Demo/Edit.xml");
  // "ä" is one UTF-16 unit and two bytes, the emoji two units and four bytes.
  client.notify("textDocument/didOpen",
                Open(doc, "<plugin><book><id>ä😀</id></book><book><id>ä😀X</id></book></plugin>"));
  EXPECT_TRUE(client.diagnostics(doc)["diagnostics"].empty());
  client.notify("textDocument/didChange", Edit(doc, 2, json::array({{{"range", Range(0, 46, 47)}, {"text", ""}}})));
  const json after = client.diagnostics(doc);
  EXPECT_EQ(after["version"], 2);
  ASSERT_EQ(Codes(after), std::vector<std::string>{"Msg008"});
  EXPECT_EQ(after["diagnostics"][0]["range"], Range(0, 43, 46));
  // Several changes in one notification apply in order; a new line moves what follows.
  client.notify(
      "textDocument/didChange",
      Edit(doc, 3,
           json::array({{{"range", Range(0, 33, 33)}, {"text", "\n"}}, {{"range", Range(1, 10, 10)}, {"text", "Y"}}})));
  const json moved = client.diagnostics(doc);
  EXPECT_TRUE(moved["diagnostics"].empty()) << moved.dump();
  client.notify("textDocument/didChange", Edit(doc, 4, json::array({{{"range", Range(1, 10, 11)}, {"text", ""}}})));
  EXPECT_EQ(client.diagnostics(doc)["diagnostics"][0]["range"], Range(1, 10, 13));
}

TEST_F(LspTest, Edits_Utf8PositionsWhenTheClientOffersThem) {
  LspClient client;
  const json init = client.initialize({{"general", {{"positionEncodings", {"utf-16", "utf-8"}}}}});
  EXPECT_EQ(init["result"]["capabilities"]["positionEncoding"], "utf-8");
  const std::string doc = uri("app/portal/modules/Demo/Edit.xml");
  client.notify("textDocument/didOpen",
                Open(doc, "<plugin><book><id>ä😀</id></book><book><id>ä😀X</id></book></plugin>"));
  client.diagnostics(doc);
  client.notify("textDocument/didChange", Edit(doc, 2, json::array({{{"range", Range(0, 52, 53)}, {"text", ""}}})));
  const json after = client.diagnostics(doc);
  ASSERT_EQ(Codes(after), std::vector<std::string>{"Msg008"});
  EXPECT_EQ(after["diagnostics"][0]["range"], Range(0, 46, 52));
}

TEST_F(LspTest, Stale_OnlyTheNewestVersionIsPublishedLast) {
  LspClient client;
  client.initialize();
  const std::string doc = uri("app/portal/modules/Demo/Many.xml");
  std::string burst = LspClient::Frame({{"jsonrpc", "2.0"},
                                        {"method", "textDocument/didOpen"},
                                        {"params", Open(doc, "<plugin><book><id>A</id></book></plugin>")}});
  constexpr int kLast = 40;
  for (int version = 2; version <= kLast; ++version) {
    // The last text repeats the id; every earlier one does not.
    const std::string id = version == kLast ? "A" : "B" + std::to_string(version);
    burst += LspClient::Frame({{"jsonrpc", "2.0"},
                               {"method", "textDocument/didChange"},
                               {"params", Edit(doc, version,
                                               json::array({{{"text", "<plugin><book><id>A</id></book><book><id>" + id +
                                                                          "</id></book></plugin>"}}}))}});
  }
  client.sendRaw(burst);
  std::vector<int> versions;
  json last;
  while (versions.empty() || versions.back() != kLast) {
    last = client.diagnostics(doc);
    if (last.is_null()) break;
    versions.push_back(last["version"]);
  }
  EXPECT_TRUE(std::is_sorted(versions.begin(), versions.end()));
  EXPECT_EQ(Codes(last), std::vector<std::string>{"Msg008"});
  // Nothing older comes after the newest.
  client.request(9, "shutdown", nullptr);
  client.response(9);
  for (const json& m : client.skipped) EXPECT_NE(m.value("method", ""), "textDocument/publishDiagnostics") << m;
}

TEST_F(LspTest, WatchedFiles_AKeyAddedToABundleClearsItsFinding) {
  LspClient client;
  const json init = client.initialize({{"workspace", {{"didChangeWatchedFiles", {{"dynamicRegistration", true}}}}}});
  const json registration = client.readUntil(
      [](const json& m) { return m.value("method", "") == "client/registerCapability"; }, "registration");
  EXPECT_EQ(registration["params"]["registrations"][0]["method"], "workspace/didChangeWatchedFiles");
  client.send({{"jsonrpc", "2.0"}, {"id", registration["id"]}, {"result", nullptr}});
  const std::string doc = uri("app/portal/modules/Demo/Keys.xml");
  client.notify("textDocument/didOpen",
                Open(doc,
                     "<plugin><book><display-name-key>New.Key</display-name-key>"
                     "<resource-properties-file>com.demo.Res</resource-properties-file></book></plugin>"));
  EXPECT_EQ(Codes(client.diagnostics(doc)), std::vector<std::string>{"Msg003"});
  folder_.write("app/WEB-INF/classes/com/demo/Res.properties", "New.Key=x\n");
  client.notify(
      "workspace/didChangeWatchedFiles",
      {{"changes", json::array({{{"uri", uri("app/WEB-INF/classes/com/demo/Res.properties")}, {"type", 2}}})}});
  EXPECT_TRUE(client.diagnostics(doc)["diagnostics"].empty());
}

TEST_F(LspTest, Configuration_AFailedTreeChangeIsShownAndTheTreeStays) {
  const char* text = "<plugin><task><object-type-name>NoSuchClass</object-type-name></task></plugin>";
  LspClient client;
  client.initialize(json::object(), {{"corvanexml", {{"tree", "CORVANE_DEMO"}}}});
  const std::string doc = uri("app/portal/modules/Demo/Tree.xml");
  client.notify("textDocument/didOpen", Open(doc, text));
  const std::vector<std::string> before = Codes(client.diagnostics(doc));
  EXPECT_EQ(before, std::vector<std::string>{"Msg006"});
  client.notify("workspace/didChangeConfiguration", {{"settings", {{"tree", "NO_SUCH_TREE"}}}});
  const json shown =
      client.readUntil([](const json& m) { return m.value("method", "") == "window/showMessage"; }, "showMessage");
  EXPECT_EQ(shown["params"]["type"], 1);
  EXPECT_NE(shown["params"]["message"].get<std::string>().find("NO_SUCH_TREE"), std::string::npos);
  client.notify("textDocument/didChange", Edit(doc, 2, json::array({{{"text", std::string(text) + "\n"}}})));
  EXPECT_EQ(Codes(client.diagnostics(doc)), before);
}

// A schema with a class the demo tree lacks, and without the demo tree's User.
constexpr char kGadgetSchema[] =
    "attributetype ( 1.1 NAME 'CN' )\n"
    "objectclass ( 2.1 NAME 'Top' MUST 'CN' )\n"
    "objectclass ( 2.2 NAME 'Gadget' SUP 'Top' )\n";
constexpr char kGadgetPlugin[] =
    "<plugin><task><id>T</id><object-type-name>Gadget</object-type-name></task>"
    "<task><id>U</id><object-type-name>User</object-type-name></task></plugin>";

// The classes a document's diagnostics say are not in the tree.
std::vector<std::string> UnknownClasses(const json& params) {
  std::vector<std::string> classes;
  for (const json& d : params["diagnostics"]) {
    EXPECT_EQ(d.value("code", ""), "Msg006") << d;
    const std::string message = d.value("message", "");
    for (const char* name : {"Gadget", "User"}) {
      if (message.find(name) != std::string::npos) classes.emplace_back(name);
    }
  }
  return classes;
}

TEST_F(LspTest, ProjectTree_EachDocumentIsCheckedAgainstItsProjectsTree) {
  folder_.write("gadgets/.corvanexml.toml", "schema = [\"gadget.schema\"]\n");
  folder_.write("gadgets/gadget.schema", kGadgetSchema);
  folder_.write("named/.corvanexml.toml", "tree = \"CORVANE_DEMO\"\n");
  LspClient client;
  // As an editor sends its settings when none is set: they leave the tree to the project.
  client.initialize(json::object(), {{"corvanexml", {{"tree", nullptr}, {"schemaFiles", nullptr}}}});
  const std::string gadgets = uri("gadgets/Demo.xml");
  const std::string plain = uri("plain/Demo.xml");
  const std::string named = uri("named/Demo.xml");
  client.notify("textDocument/didOpen", Open(gadgets, kGadgetPlugin));
  EXPECT_EQ(UnknownClasses(client.diagnostics(gadgets)), std::vector<std::string>{"User"});
  client.notify("textDocument/didOpen", Open(plain, kGadgetPlugin));
  EXPECT_EQ(UnknownClasses(client.diagnostics(plain)), std::vector<std::string>{"Gadget"});
  // A tree of the connections file, read after schema files were served.
  client.notify("textDocument/didOpen", Open(named, kGadgetPlugin));
  EXPECT_EQ(UnknownClasses(client.diagnostics(named)), std::vector<std::string>{"Gadget"});
  // The trees read first are kept for the documents that use them.
  client.notify("textDocument/didChange",
                Edit(gadgets, 2, json::array({{{"text", std::string(kGadgetPlugin) + "\n"}}})));
  EXPECT_EQ(UnknownClasses(client.diagnostics(gadgets)), std::vector<std::string>{"User"});

  // Completion offers the classes of the document's tree.
  const auto classesOffered = [&](const std::string& doc, int id) {
    const int at = static_cast<int>(std::string(kGadgetPlugin).find("Gadget"));
    client.request(id, "textDocument/completion",
                   {{"textDocument", {{"uri", doc}}}, {"position", {{"line", 0}, {"character", at}}}});
    const json answer = client.response(id);
    std::vector<std::string> labels;
    for (const json& item : answer["result"]["items"]) labels.push_back(item["label"]);
    return labels;
  };
  const std::vector<std::string> inProject = classesOffered(gadgets, 20);
  EXPECT_NE(std::find(inProject.begin(), inProject.end(), "Gadget"), inProject.end());
  EXPECT_EQ(std::find(inProject.begin(), inProject.end(), "User"), inProject.end());
  const std::vector<std::string> outside = classesOffered(plain, 21);
  EXPECT_EQ(std::find(outside.begin(), outside.end(), "Gadget"), outside.end());
  EXPECT_NE(std::find(outside.begin(), outside.end(), "User"), outside.end());
}

TEST_F(LspTest, ProjectTree_TheCommandLinesTreeWinsAndAnUnreadableOneIsShownOnItsDocuments) {
  folder_.write("gadgets/.corvanexml.toml", "schema = [\"gadget.schema\"]\n");
  folder_.write("gadgets/gadget.schema", kGadgetSchema);
  folder_.write("broken/.corvanexml.toml", "schema = [\"missing.schema\"]\n");
  {
    LspClient client({"--tree", "CORVANE_DEMO"});
    client.initialize();
    const std::string gadgets = uri("gadgets/Demo.xml");
    client.notify("textDocument/didOpen", Open(gadgets, kGadgetPlugin));
    EXPECT_EQ(UnknownClasses(client.diagnostics(gadgets)), std::vector<std::string>{"Gadget"});
  }
  LspClient client;
  client.initialize();
  const std::string broken = uri("broken/Demo.xml");
  client.notify("textDocument/didOpen", Open(broken, kGadgetPlugin));
  const json shown = client.diagnostics(broken)["diagnostics"];
  ASSERT_EQ(shown.size(), 1U) << shown;
  EXPECT_EQ(shown[0]["range"], Range(0, 0, 0));
  EXPECT_EQ(shown[0]["severity"], 1);
  const std::string message = shown[0]["message"];
  EXPECT_NE(message.find(path("broken/.corvanexml.toml")), std::string::npos) << message;
  EXPECT_NE(message.find("missing.schema"), std::string::npos) << message;
  // Told again on the next check, and the other documents are checked as before.
  client.notify("textDocument/didChange", Edit(broken, 2, json::array({{{"text", "<plugin/>"}}})));
  EXPECT_EQ(client.diagnostics(broken)["diagnostics"].size(), 1U);
  const std::string plain = uri("plain/Demo.xml");
  client.notify("textDocument/didOpen", Open(plain, kGadgetPlugin));
  EXPECT_EQ(UnknownClasses(client.diagnostics(plain)), std::vector<std::string>{"Gadget"});
}

TEST_F(LspTest, Faults_BadFramesAndParamsGetErrorsAndTheServerStaysUp) {
  LspClient client;
  client.initialize();
  const std::string doc = uri("app/portal/modules/Demo/Faults.xml");
  client.notify("textDocument/didOpen", Open(doc, "<plugin/>\n"));
  client.sendRaw("Content-Length: 5\r\n\r\n{bad}");
  EXPECT_EQ(client.readUntil([](const json& m) { return m.contains("error"); }, "error")["error"]["code"], -32700);
  client.sendRaw("Content-Type: application/vscode-jsonrpc\r\n\r\n");
  EXPECT_EQ(client.readUntil([](const json& m) { return m.contains("error"); }, "error")["error"]["code"], -32700);
  client.sendRaw("Content-Length: 99999999999999999999\r\n\r\n");
  const json huge = client.readUntil([](const json& m) { return m.contains("error"); }, "error");
  EXPECT_NE(huge["error"]["message"].get<std::string>().find("Content-Length"), std::string::npos);
  client.send({{"jsonrpc", "2.0"}, {"id", 2}, {"params", json::object()}});
  EXPECT_EQ(client.response(2)["error"]["code"], -32600);
  const json outside = {{"textDocument", {{"uri", doc}}}, {"position", {{"line", 5}, {"character", 0}}}};
  client.request(3, "textDocument/hover", outside);
  EXPECT_EQ(client.response(3)["error"]["code"], -32602);
  client.request(4, "textDocument/definition",
                 {{"textDocument", {{"uri", doc}}}, {"position", {{"line", 0}, {"character", 10}}}});
  EXPECT_EQ(client.response(4)["error"]["code"], -32602);
  client.request(5, "textDocument/hover", {{"textDocument", {{"uri", doc}}}});
  EXPECT_EQ(client.response(5)["error"]["code"], -32602);
  // A request still waiting when its cancellation arrives is cancelled.
  client.sendRaw(LspClient::Frame(
                     {{"jsonrpc", "2.0"},
                      {"id", 6},
                      {"method", "textDocument/hover"},
                      {"params", {{"textDocument", {{"uri", doc}}}, {"position", {{"line", 0}, {"character", 1}}}}}}) +
                 LspClient::Frame({{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", 6}}}}));
  EXPECT_EQ(client.response(6)["error"]["code"], -32800);
  client.request(7, "textDocument/hover",
                 {{"textDocument", {{"uri", doc}}}, {"position", {{"line", 0}, {"character", 1}}}});
  EXPECT_TRUE(client.response(7)["result"].is_null());
  client.request(8, "shutdown", nullptr);
  client.response(8);
  client.notify("exit");
  EXPECT_EQ(client.exitStatus(), 0);
}

}  // namespace
