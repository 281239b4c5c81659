#include "web_app.h"

#include <gtest/gtest.h>

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
