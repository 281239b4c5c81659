// A finding keeps its identity wherever the checkout lives and whoever runs the check:
// baselines and SARIF fingerprints in a copy of the checkout and after lines move, SARIF
// locations without ".." steps, silenced findings kept in SARIF as suppressed, and each
// file's findings independent of the other files of the run.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_run.h"

using namespace corvane::cli;
using namespace cli_test;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr char kModule[] = "webapp/portal/modules/M/";

// Findings that quote files of the web application (a missing bundle, a missing page) and a
// file that is not well-formed.
constexpr char kNamesFiles[] =
    "<plugin><task><id>T</id><resource-properties-file>com.acme.Gone</resource-properties-file>"
    "<display-name-key>K</display-name-key><merge-template>Gone.page</merge-template></task></plugin>";
constexpr char kBroken[] = "<plugin>\n<task>a & b</task>\n</plugin>\n";

class CliPortableTest : public testing::Test {
 protected:
  CliPortableTest() : folder_("corvane_cli_portable") {}

  // A checkout below the test's folder; linesAbove blank lines stand before the parse error.
  void writeCheckout(const std::string& top, int linesAbove) const {
    folder_.write(top + "/" + kModule + "M.xml", kNamesFiles);
    folder_.write(top + "/" + kModule + "broken.xml",
                  std::string(static_cast<std::size_t>(linesAbove), '\n') + kBroken);
  }

  // Runs the checker from a folder below the test's folder.
  RunResult runIn(const std::string& top, const std::vector<std::string>& args) const {
    const InFolder here(folder_.path(top));
    return RunCli(args);
  }

  TempFolder folder_;
};

// Each result's rule and fingerprint.
std::vector<std::pair<std::string, json>> Fingerprints(const std::string& sarif) {
  std::vector<std::pair<std::string, json>> fingerprints;
  const json log = json::parse(sarif);
  for (const json& result : log["runs"][0]["results"]) {
    fingerprints.emplace_back(result["ruleId"], result["partialFingerprints"]);
  }
  return fingerprints;
}

json ArtifactOf(const std::string& sarif) {
  return json::parse(sarif)["runs"][0]["results"][0]["locations"][0]["physicalLocation"]["artifactLocation"];
}

}  // namespace

TEST_F(CliPortableTest, BaselinesAndFingerprintsHoldInACopyOfTheCheckoutAndAfterLinesMove) {
  writeCheckout("one", 0);
  ASSERT_EQ(runIn("one", {"--write-baseline", "baseline.json", "webapp"}).status, kExitClean);
  const std::string sarif = runIn("one", {"--format=sarif", "webapp"}).out;
  const json recorded = json::parse(folder_.read("one/baseline.json"))["findings"];
  ASSERT_EQ(recorded.size(), 3u) << recorded;
  for (const json& entry : recorded) {
    const std::string text = entry["text"];
    EXPECT_EQ(text.find(folder_.root().string()), std::string::npos) << text;
    EXPECT_EQ(text.find("Line:"), std::string::npos) << text;
  }
  EXPECT_EQ(recorded[0]["text"],
            "Msg 004: File not found: com.acme.Gone (webapp/WEB-INF/classes/com/acme/Gone.properties)");
  EXPECT_EQ(recorded[2]["text"], "Msg 100: XML Error: \"xmlParseEntityRef: no name\n<task>a & b</task>\"");

  // The copy has five more lines above the parse error, and brings the baseline along.
  writeCheckout("two", 5);
  fs::copy_file(folder_.path("one/baseline.json"), folder_.path("two/baseline.json"));
  const RunResult copy = runIn("two", {"--baseline", "baseline.json", "webapp"});
  EXPECT_EQ(copy.status, kExitClean) << copy.out;
  EXPECT_EQ(copy.out, "");
  const auto moved = Fingerprints(runIn("two", {"--format=sarif", "webapp"}).out);
  EXPECT_EQ(moved, Fingerprints(sarif));
  ASSERT_EQ(moved.size(), 3u);
  EXPECT_EQ(moved[2].first, "Msg100");

  // A baseline of the earlier format, whose texts hold the full paths, still excuses them.
  const std::string page = folder_.path("one/webapp/portal/modules/Gone/skins/default/devices/default/page.jsp");
  const json earlier{{"version", 1},
                     {"findings",
                      {{{"path", std::string(kModule) + "M.xml"},
                        {"rule", "Msg010"},
                        {"text", "Msg 010: Missing JSP: Gone.page (" + page + ")"}}}}};
  folder_.write("one/earlier.json", earlier.dump());
  EXPECT_EQ(runIn("one", {"--baseline", "earlier.json", std::string(kModule) + "M.xml"}).out,
            std::string(kModule) + "M.xml:1:25: Msg 004: File not found: com.acme.Gone (" +
                folder_.path("one/webapp/WEB-INF/classes/com/acme/Gone.properties") + ")\n");
}

TEST_F(CliPortableTest, SarifLocationsHaveNoDotDotStepsAndFollowLinks) {
  writeCheckout("one", 0);
  fs::create_directories(folder_.path("one/elsewhere"));
  const std::string outside = runIn("one/elsewhere", {"--format=sarif", "../webapp/portal/modules/M/M.xml"}).out;
  EXPECT_EQ(ArtifactOf(outside), (json{{"uri", "file://" + folder_.path("one/webapp/portal/modules/M/M.xml")}}));
  // ".." after a link leads where the link leads: to the folder above its target.
  fs::create_directory_symlink(folder_.path("one/webapp/portal/modules"), folder_.path("one/link"));
  const std::string linked = runIn("one", {"--format=sarif", "link/../modules/M/M.xml"}).out;
  EXPECT_EQ(ArtifactOf(linked), (json{{"uri", "webapp/portal/modules/M/M.xml"}, {"uriBaseId", "%SRCROOT%"}}));
  const std::string walked = runIn("one", {"--format=sarif", folder_.path("one/elsewhere/../../one/webapp")}).out;
  EXPECT_EQ(ArtifactOf(walked), (json{{"uri", "webapp/portal/modules/M/M.xml"}, {"uriBaseId", "%SRCROOT%"}}));
}

TEST_F(CliPortableTest, EachFileStartsFreshUnlessStateCarriesOver) {
  // A translator file that names a key, and one that names the bundle it is not in.
  folder_.write("web/WEB-INF/classes/R.properties", "Other=x\n");
  folder_.write("web/portal/A.xml", "<dir-translator><display-name-key>K</display-name-key></dir-translator>");
  folder_.write("web/portal/B.xml",
                "<dir-translator><resource-properties-file>R</resource-properties-file></dir-translator>");
  const InFolder here(folder_.root());
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"web"}, {"web/portal/B.xml"}, {"web/portal/B.xml", "web/portal/A.xml"}}) {
    const RunResult fresh = RunCli(args);
    EXPECT_EQ(fresh.status, kExitClean) << args[0];
    EXPECT_EQ(fresh.out, "") << args[0];
  }
  EXPECT_EQ(RunCli({"--carry-over", "web"}).out, "web/portal/B.xml:1:17: Msg 003: Key not found: R/K\n");
  EXPECT_EQ(RunCli({"--carry-over", "web/portal/B.xml", "web/portal/A.xml"}).out,
            "web/portal/A.xml:1:17: Msg 003: Key not found: R/K\n");
}

TEST_F(CliPortableTest, SarifKeepsSilencedAndExcusedFindingsAsSuppressed) {
  const std::string twoDuplicates =
      "<plugin>\n<!-- corvanexml-check disable=Msg008 -->\n<task><id>T</id><id>T</id></task>\n"
      "<task><id>U</id><id>U</id></task>\n";
  folder_.write("s.xml", twoDuplicates + "</plugin>");
  const InFolder here(folder_.root());
  ASSERT_EQ(RunCli({"--write-baseline", "baseline.json", "s.xml"}).status, kExitClean);
  folder_.write("s.xml", twoDuplicates + "<task><id>V</id><id>V</id></task>\n</plugin>");
  const RunResult text = RunCli({"--baseline", "baseline.json", "s.xml"});
  EXPECT_EQ(text.out, "s.xml:5:17: Msg 008: Duplicate ID: V\n");
  EXPECT_EQ(text.err, "1 finding in 1 file\n");

  const RunResult sarif = RunCli({"--format=sarif", "--baseline", "baseline.json", "s.xml"});
  EXPECT_EQ(sarif.status, kExitMessages);
  EXPECT_EQ(SarifSchemaErrors(folder_, sarif.out), "");
  const json log = json::parse(sarif.out);
  std::map<std::string, json> suppressions;
  for (const json& result : log["runs"][0]["results"]) {
    suppressions[result["message"]["text"]] = result.value("suppressions", json());
  }
  EXPECT_EQ(suppressions, (std::map<std::string, json>{
                              {"Msg 008: Duplicate ID: T", json::array({{{"kind", "inSource"}}})},
                              {"Msg 008: Duplicate ID: U", json::array({{{"kind", "external"}}})},
                              {"Msg 008: Duplicate ID: V", json()},
                          }));
  // Rule names say what the rule finds, not its id again.
  for (const json& rule : log["runs"][0]["tool"]["driver"]["rules"]) {
    EXPECT_NE(rule["name"], rule["id"]);
  }
}
