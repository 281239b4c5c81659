#include "web_app.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "cli_run.h"

using namespace corvane;

TEST(WebApp, RootIsTheFolderBeforePortal) {
  EXPECT_EQ(ExtractWebAppRoot("/srv/app/portal/modules/X/x.xml"), "/srv/app/");
  EXPECT_EQ(ExtractWebAppRoot("/srv/a/portal/b/portal/x.xml"), "/srv/a/");
  EXPECT_EQ(ExtractWebAppRoot("/srv/app/plugins/x.xml"), "");
  EXPECT_EQ(ExtractWebAppRoot("/srv/Portal/x.xml"), "");  // case-sensitive
  // Only the file's own name holds "portal": the whole folder, without a closing "/".
  EXPECT_EQ(ExtractWebAppRoot("/srv/app/myportal.xml"), "/srv/app");
}

TEST(WebApp, BundleAndPagePaths) {
  EXPECT_EQ(PropertiesPath("/w/", "a.b.Res"), "/w/WEB-INF/classes/a/b/Res.properties");
  EXPECT_EQ(PropertiesPath("", ""), "WEB-INF/classes/.properties");
  EXPECT_EQ(JspPath("/w/", "Mod", "browser", "view"), "/w/portal/modules/Mod/skins/default/devices/browser/view.jsp");
}

TEST(WebApp, KeysAreTheTextBeforeTheFirstEqualsOfEachLine) {
  const KeyTable keys = KeyTable::Parse("a=1\r\nb = 2\rc\n# note=x\n\nd=e=f\r\n");
  for (const char* present : {"a", "A", "b ", "c", "# note", "", "d"}) EXPECT_TRUE(keys.contains(present)) << present;
  for (const char* absent : {"b", "d=e", "1", "a=1"}) EXPECT_FALSE(keys.contains(absent)) << absent;
  EXPECT_EQ(keys.size(), 6u);
}

// What a check found out about a bundle or a page stays for that check only: the next one
// sees files made meanwhile, and another web application never sees the first one's answers.
TEST(WebApp, BundlesAndPagesAreProbedAgainForEachCheckAndEachRoot) {
  const cli_test::TempFolder app("webapp_memo");
  const std::string root = app.path("");
  const char* bundle = "WEB-INF/classes/a/Res.properties";
  WebAppFiles files;
  EXPECT_FALSE(files.bundleFile(root, "a.Res").exists);
  EXPECT_FALSE(files.templatePage(root, "Mod.view").exists);
  app.write(bundle, "key=1\n");
  app.write("portal/modules/Mod/skins/default/devices/browser/view.jsp", "");
  EXPECT_FALSE(files.bundleFile(root, "a.Res").exists);  // the same check
  files.clear();
  EXPECT_TRUE(files.bundleFile(root, "a.Res").exists);
  EXPECT_EQ(files.bundleFile(root, "a.Res").path, app.path(bundle));
  const WebAppFiles::TemplatePage& found = files.templatePage(root, "Mod.view");
  EXPECT_TRUE(found.exists);
  EXPECT_EQ(found.underDefault, app.path("portal/modules/Mod/skins/default/devices/default/view.jsp"));
  EXPECT_FALSE(files.bundleFile("/nowhere/", "a.Res").exists);
  EXPECT_FALSE(files.templatePage("/nowhere/", "Mod.view").exists);
  EXPECT_TRUE(files.bundleFile(root, "a.Res").exists);
}

// Checks of one run that share what they learnt of files, on several threads at once, read
// each bundle and probe each page once: what changes on disk afterwards, and clear(), leave
// their answers as they were.
TEST(WebApp, ChecksSharingFactsReadEachFileOnceWhateverThreadAsksFirst) {
  const cli_test::TempFolder app("webapp_shared");
  const std::string root = app.path("");
  app.write("WEB-INF/classes/a/Res.properties", "key=1\n");
  const auto facts = std::make_shared<FileFacts>();
  std::vector<WebAppFiles> checks(4);
  for (WebAppFiles& files : checks) files.keepAcrossChecks(facts);
  std::vector<std::shared_ptr<const KeyTable>> tables(checks.size());
  {
    std::vector<std::jthread> threads;
    for (std::size_t i = 0; i < checks.size(); ++i) {
      threads.emplace_back([&, i] {
        const WebAppFiles::BundleFile& bundle = checks[i].bundleFile(root, "a.Res");
        if (bundle.exists) tables[i] = checks[i].keys(bundle.path);
        checks[i].templatePage(root, "Mod.view");
      });
    }
  }
  for (const auto& table : tables) EXPECT_EQ(table, tables[0]);
  ASSERT_NE(tables[0], nullptr);
  EXPECT_TRUE(tables[0]->contains("key"));
  app.write("WEB-INF/classes/a/Res.properties", "other=1\n");
  app.write("portal/modules/Mod/skins/default/devices/default/view.jsp", "");
  WebAppFiles later;
  later.keepAcrossChecks(facts);
  later.clear();
  EXPECT_FALSE(later.templatePage(root, "Mod.view").exists);
  EXPECT_TRUE(later.keys(later.bundleFile(root, "a.Res").path)->contains("key"));
  EXPECT_EQ(facts->paths().size(), 3U);  // the bundle and the page under both devices
}
