// Trees served by a live directory: the system's slapd, started by each test with its own
// configuration, and servers that fail on purpose.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "client_fixture.h"
#include "d_nw.h"
#include "dir_client.h"
#include "directory_session.h"
#include "plain_sinks.h"
#include "scan.h"
#include "slapd_server.h"

namespace corvane::client {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using test::kRootDn;
using test::kRootPassword;
using test::kSystemSchemas;

// Names that plug-in files use live beside the LDAP names in an extension field.
const char* const kWidgetSchema =
    "attributetype ( 1.3.6.1.4.1.55555.1.1 NAME 'corvaneWidgetLabel' EQUALITY caseIgnoreMatch\n"
    "  SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 X-CORVANE-NAME 'Widget Label' )\n"
    "attributetype ( 1.3.6.1.4.1.55555.1.2 NAME 'corvaneWidgetColour' EQUALITY caseIgnoreMatch\n"
    "  SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 X-CORVANE-NAME 'Widget Colour' )\n"
    "objectclass ( 1.3.6.1.4.1.55555.2.1 NAME 'corvaneWidget' SUP top STRUCTURAL\n"
    "  MUST corvaneWidgetLabel MAY cn X-CORVANE-NAME 'Corvane Widget' )\n"
    "attributetype ( 1.3.6.1.4.1.55555.1.3 NAME 'corvaneOu' EQUALITY caseIgnoreMatch\n"
    "  SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 X-CORVANE-NAME 'CORVANEOU' )\n"
    "objectclass ( 1.3.6.1.4.1.55555.2.2 NAME 'corvaneColoured' SUP top AUXILIARY\n"
    "  MAY ( corvaneWidgetColour $ corvaneOu ) X-CORVANE-NAME 'Coloured Thing' )\n";

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

Names Texts(const StringList& list) {
  Names out;
  for (const auto& entry : list.entries()) out.push_back(entry.text);
  return out;
}

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// The subschema entry as ldapsearch prints it, one value per line.
std::string LdapsearchSubschema(const std::string& url) {
  return Run("LDAPNOINIT=1 ldapsearch -x -LLL -o ldif-wrap=no -H " + url +
             " -b cn=Subschema -s base '(objectClass=subschema)' attributeTypes objectClasses");
}

// The quoted texts after NAME in each value of attribute, read as plainly as a person would.
Names NamesIn(const std::string& ldif, const std::string& attribute) {
  Names names;
  std::istringstream in(ldif);
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with(attribute + ": ")) continue;
    std::size_t at = line.find(" NAME ");
    if (at == std::string::npos) continue;
    at += 6;
    const bool list = line[at] == '(';
    const std::size_t end = list ? line.find(')', at) : line.find('\'', line.find('\'', at) + 1);
    for (std::size_t open = line.find('\'', at); open < end; open = line.find('\'', line.find('\'', open + 1) + 1))
      names.push_back(line.substr(open + 1, line.find('\'', open + 1) - open - 1));
  }
  return names;
}

class LdapTest : public test::ClientTest {
 protected:
  void SetUp() override {
    test::ClientTest::SetUp();
    if (!test::SlapdAvailable() || !fs::is_directory(kSystemSchemas)) GTEST_SKIP() << "no slapd";
    std::ofstream(home_ + "/widget.schema") << kWidgetSchema;
    passwordFile_ = writePassword("root.password", kRootPassword);
  }
  test::SlapdOptions options(bool database, bool tls) const {
    return {{kSystemSchemas + "/core.schema", kSystemSchemas + "/cosine.schema",
             kSystemSchemas + "/inetorgperson.schema", home_ + "/widget.schema"},
            database,
            tls,
            {}};
  }
  std::string writePassword(const std::string& name, const std::string& password) const {
    const std::string path = home_ + "/" + name;
    std::ofstream(path) << password << "\n";
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    return path;
  }
  // A context on the tree, or 0 with the client's warnings in warnings_.
  ContextHandle changeTo(const std::string& tree, ResultCode expected = 0) {
    if (ClientInit(0, 0) != 0) return 0;
    ContextHandle ctx = 0;
    EXPECT_EQ(CtxCreate(&ctx), 0);
    testing::internal::CaptureStderr();
    const ResultCode code = corvane::DSChangeCurrentTree(ctx, tree);
    warnings_ = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, expected) << tree << ": " << warnings_;
    return ctx;
  }

  std::string passwordFile_;
  std::string warnings_;
};

TEST_F(LdapTest, ListsAreTheSubschemaEntryAndTheBoundDnAndNamingContextFillTheGaps) {
  const test::SlapdServer server(home_, options(true, false));
  ASSERT_TRUE(server.ready());
  writeConnections("[LIVE]\nurl = " + server.url() + "\nbind-dn = " + kRootDn + "\npassword-file = " + passwordFile_ +
                   "\n[NAMED]\nurl = " + server.url() + "\nname-extension = x-corvane-name\ncontext = o=elsewhere\n");
  const ContextHandle ctx = changeTo("LIVE");
  ASSERT_NE(ctx, 0);
  EXPECT_EQ(corvane::GetMyName(ctx), kRootDn);
  EXPECT_EQ(corvane::GetContextString(ctx, kContextNameContext), test::kSuffix);

  const std::string ldif = LdapsearchSubschema(server.url());
  StringList classes, attributes, widget;
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
  EXPECT_EQ(corvane::ReadAttributeList(ctx, attributes), 0);
  EXPECT_EQ(Sorted(Texts(classes)), Sorted(NamesIn(ldif, "objectClasses")));
  EXPECT_EQ(Sorted(Texts(attributes)), Sorted(NamesIn(ldif, "attributeTypes")));
  EXPECT_GT(classes.size(), 50u);
  EXPECT_FALSE(classes.contains("Corvane Widget"));

  // The same server under the names the plug-in files use, beside the LDAP names; the
  // section's own context wins over the server's.
  ASSERT_EQ(corvane::DSChangeCurrentTree(ctx, "NAMED"), 0);
  EXPECT_EQ(corvane::GetMyName(ctx), "");
  EXPECT_EQ(corvane::GetContextString(ctx, kContextNameContext), "o=elsewhere");
  StringList aux;
  EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
  EXPECT_EQ(corvane::GetClassAttributes(ctx, "Corvane Widget", widget), 0);
  EXPECT_EQ(corvane::ReadAuxAttributeList(ctx, aux), 0);
  EXPECT_TRUE(classes.contains("Corvane Widget") && classes.contains("corvaneWidget"));
  EXPECT_TRUE(classes.contains("Coloured Thing"));
  for (const char* name : {"Widget Label", "corvaneWidgetLabel", "cn", "commonName", "objectClass"})
    EXPECT_TRUE(widget.contains(name)) << name;
  EXPECT_TRUE(aux.contains("Widget Colour") && aux.contains("corvaneWidgetColour"));
  // A native name that differs from the LDAP name in letter case alone is a name as well.
  EXPECT_TRUE(aux.contains("CORVANEOU") && aux.contains("corvaneOu"));
  EXPECT_EQ(CtxFree(ctx), 0);
}

// A server whose access rules keep the definitions from the bound identity still returns its
// subschema entry, only without them. Such a tree fails the change with a reason that names
// the entry and the likely cause, instead of reporting every name of every file.
TEST_F(LdapTest, ASubschemaEntryWithoutClassesOrAttributesFailsTheChange) {
  test::SlapdOptions hiding = options(true, false);
  hiding.access = {"access to dn.base=\"cn=Subschema\" attrs=attributeTypes by * none",
                   "access to dn.base=\"cn=Subschema\" attrs=objectClasses by anonymous none by * read",
                   "access to * by * read"};
  const test::SlapdServer server(home_, hiding);
  ASSERT_TRUE(server.ready());
  writeConnections("[ANONYMOUS]\nurl = " + server.url() + "\n[BOUND]\nurl = " + server.url() +
                   "\nbind-dn = " + kRootDn + "\npassword-file = " + passwordFile_ + "\n");
  const std::pair<const char*, std::string> cases[] = {
      {"ANONYMOUS",
       "the subschema entry cn=Subschema gives no attribute types and no object classes; the server's "
       "access rules may keep attributeTypes and objectClasses from anonymous users"},
      {"BOUND", std::string("the subschema entry cn=Subschema gives no attribute types; the server's access rules may "
                            "keep attributeTypes and objectClasses from ") +
                    kRootDn},
  };
  for (const auto& [tree, expected] : cases) {
    ResetClient();
    changeTo(tree, kCodeSchemaUnavailable);
    EXPECT_NE(warnings_.find("warning: tree " + std::string(tree) + ": cannot read the schema from " + server.url() +
                             ": " + expected),
              std::string::npos)
        << warnings_;
  }
}

// The same definitions give the same messages whether they come from the server or from a
// file that holds what the server published.
TEST_F(LdapTest, PluginCheckedLiveGivesTheMessagesOfTheSameDefinitionsInAFile) {
  const test::SlapdServer server(home_, options(false, false));
  ASSERT_TRUE(server.ready());
  std::ofstream(home_ + "/published.ldif") << LdapsearchSubschema(server.url());
  const std::string plugin = home_ + "/plugin.xml";
  std::ofstream(plugin)
      << "<plugin>\n  <task>\n    <id>T1</id>\n"
         "    <object-type-name>Corvane Widget</object-type-name>\n"
         "    <object-type-name>inetOrgPerson</object-type-name>\n"
         "    <object-type-name>Ghost Widget</object-type-name>\n"
         "    <attributes>\n      <attribute-name>Widget Label</attribute-name>\n"
         "      <attribute-name>Widget Colour</attribute-name>\n"
         "      <attribute-name>mail</attribute-name>\n"
         "      <attribute-name>Nonsense</attribute-name>\n    </attributes>\n"
         "    <url-param><param-key>eDirSearch</param-key><param-value>Corvane_Widget</param-value></url-param>\n"
         "  </task>\n</plugin>\n";
  writeConnections("[LIVE]\nurl = " + server.url() + "\nname-extension = X-CORVANE-NAME\n[FILES]\nschema = " + home_ +
                   "/published.ldif\nname-extension = X-CORVANE-NAME\n");
  // The session's start leaves the client as it finds it once the process has started it.
  ASSERT_EQ(ClientInit(0, 0), 0);
  const auto messagesOn = [&](const std::string& tree) {
    PlainTree items;
    PlainMessages messages;
    ScanState state(items, messages);
    DirectorySession directory;
    StringList aux;
    std::string texts;
    if (!directory.start() || directory.changeTree(tree) != 0) return texts;
    directory.readSchema(state.schema, aux);
    CheckFile(state, plugin);
    for (const Message& message : messages.sorted()) texts += message.text + "\n";
    return texts;
  };
  const std::string live = messagesOn("LIVE");
  EXPECT_NE(live.find("Ghost Widget"), std::string::npos) << live;
  EXPECT_NE(live.find("Nonsense"), std::string::npos) << live;
  EXPECT_EQ(live.find("not found: \"Widget Label\""), std::string::npos) << live;
  EXPECT_EQ(live, messagesOn("FILES"));
}

// Each way a server can fail ends the change with the client's code and one line that says
// what happened, within the section's time-out, and never shows the password.
TEST_F(LdapTest, FailuresGiveACodeAndAReadableTextWithinTheTimeout) {
  test::SlapdServer server(home_, options(true, false));
  ASSERT_TRUE(server.ready());
  const test::SilentServer silent;
  const test::BrokenServer dying(test::BrokenServer::Fault::HangsUpMidAnswer);
  const test::BrokenServer boasting(test::BrokenServer::Fault::AnnouncesAGigabyte);
  const std::string wrong = writePassword("wrong.password", "not-the-Pa55");
  writeConnections("[WRONG]\nurl = " + server.url() + "\nbind-dn = " + kRootDn + "\npassword-file = " + wrong +
                   "\n[STOPPED]\nurl = " + server.url() +
                   "\n[SILENT]\nurl = " + test::LoopbackUrl("ldap", silent.port()) +
                   "\ntimeout = 1\n[SILENT-TLS]\nurl = " + test::LoopbackUrl("ldaps", silent.port()) +
                   "\ntimeout = 1\n[DYING]\nurl = " + test::LoopbackUrl("ldap", dying.port()) + "\ntimeout = 5\n" +
                   "[HUGE]\nurl = " + test::LoopbackUrl("ldap", boasting.port()) + "\ntimeout = 5\n");
  const std::pair<const char*, std::string> cases[] = {
      {"WRONG", std::string("bind as ") + kRootDn + " refused: Invalid credentials (LDAP result 49)"},
      {"STOPPED", "cannot connect to " + server.url() + ": Can't contact LDAP server (LDAP result -1)"},
      {"SILENT", "no answer from " + test::LoopbackUrl("ldap", silent.port()) +
                     " within 1 s while binding anonymously (LDAP result -5)"},
      {"SILENT-TLS",
       "no answer from " + test::LoopbackUrl("ldaps", silent.port()) + " within 1 s while connecting (LDAP result -5)"},
      {"DYING", "reading the root entry: connection to " + test::LoopbackUrl("ldap", dying.port()) +
                    " lost: Can't contact LDAP server (LDAP result -1)"},
      {"HUGE", "reading the root entry: the answer of " + test::LoopbackUrl("ldap", boasting.port()) +
                   " is announced larger than 64 MiB; connection closed: Can't contact LDAP server (LDAP result -1)"},
  };
  for (const auto& [tree, expected] : cases) {
    if (std::string_view(tree) == "STOPPED") server.stop();
    ResetClient();
    changeTo(tree, kCodeSchemaUnavailable);
    EXPECT_NE(warnings_.find("warning: tree " + std::string(tree) + ": cannot read the schema from "),
              std::string::npos)
        << warnings_;
    EXPECT_NE(warnings_.find(expected), std::string::npos) << warnings_;
    EXPECT_EQ(warnings_.find("Pa55"), std::string::npos) << warnings_;
  }
}

// Certificates are checked against the section's authority, or the system's; an untrusted
// one ends the connection before the bind, never falling back to plain text.
TEST_F(LdapTest, TlsConnectionsTrustOnlyTheConfiguredAuthority) {
  const test::SlapdServer server(home_, options(true, true));
  ASSERT_TRUE(server.ready());
  const std::string bind = std::string("bind-dn = ") + kRootDn + "\npassword-file = " + passwordFile_ + "\n";
  const std::string trusted = "tls-ca-file = " + server.caFile() + "\n";
  writeConnections("[LDAPS]\nurl = " + server.tlsUrl() + "\n" + bind + trusted + "[STARTTLS]\nurl = " + server.url() +
                   "\nstarttls = true\n" + bind + trusted + "[LDAPS-SYSTEM]\nurl = " + server.tlsUrl() + "\n" + bind +
                   "[STARTTLS-SYSTEM]\nurl = " + server.url() + "\nstarttls = yes\n" + bind);
  for (const char* tree : {"LDAPS", "STARTTLS"}) {
    ResetClient();
    const ContextHandle ctx = changeTo(tree);
    StringList classes;
    EXPECT_EQ(corvane::ReadClassList(ctx, classes), 0);
    EXPECT_TRUE(classes.contains("inetOrgPerson")) << tree;
  }
  for (const char* tree : {"LDAPS-SYSTEM", "STARTTLS-SYSTEM"}) {
    ResetClient();
    changeTo(tree, kCodeSchemaUnavailable);
    EXPECT_NE(warnings_.find(": certificate not trusted: "), std::string::npos) << warnings_;
    EXPECT_NE(warnings_.find("(trusted certificates: /etc/ssl/certs/ca-certificates.crt)"), std::string::npos)
        << warnings_;
  }
}

// Trusted certificates matter only to TLS: a plain connection never loads them, and a TLS
// connection that cannot use them says it is the CA file. Of a password file only the first
// line counts, however long the rest.
TEST_F(LdapTest, TheCaFileCountsOnlyForTlsAndThePasswordFileOnlyByItsFirstLine) {
  const test::SlapdServer server(home_, options(true, true));
  ASSERT_TRUE(server.ready());
  const auto large = [this](const std::string& name, const std::string& text) {
    const std::string path = home_ + "/" + name;
    std::ofstream(path) << text;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    EXPECT_EQ(truncate(path.c_str(), off_t{1} << 30), 0);
    return path;
  };
  const std::string hugeCa = large("huge-ca.pem", "-----BEGIN CERTIFICATE-----\ngarbage\n");
  const std::string smallCa = home_ + "/small-ca.pem";
  std::ofstream(smallCa) << "-----BEGIN CERTIFICATE-----\nZ2FyYmFnZQ==\n-----END CERTIFICATE-----\n";
  const std::string longPassword = large("long.password", std::string(kRootPassword) + "\n");
  const std::string bind = std::string("bind-dn = ") + kRootDn + "\npassword-file = " + longPassword + "\n";
  writeConnections("[PLAIN]\nurl = " + server.url() + "\ntls-ca-file = " + hugeCa + "\n" + bind +
                   "[LDAPS-HUGE]\nurl = " + server.tlsUrl() + "\ntls-ca-file = " + hugeCa + "\n" +
                   "[STARTTLS-SMALL]\nurl = " + server.url() + "\nstarttls = true\ntls-ca-file = " + smallCa + "\n");
  const auto start = std::chrono::steady_clock::now();
  const ContextHandle ctx = changeTo("PLAIN");
  EXPECT_EQ(corvane::GetMyName(ctx), kRootDn);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  for (const auto& [tree, file] : {std::pair{"LDAPS-HUGE", hugeCa}, std::pair{"STARTTLS-SMALL", smallCa}}) {
    ResetClient();
    changeTo(tree, kCodeSchemaUnavailable);
    EXPECT_NE(warnings_.find("the CA file " + file), std::string::npos) << warnings_;
  }
}

// The library reads ldaprc files once, when it is first used, so the read runs in a fresh
// process. A client address this host does not have would make every connection fail.
TEST_F(LdapTest, LdaprcFilesAreNotRead) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto readLiveTree = [this] {
    int code = 1;
    {
      const test::SlapdServer server(home_, options(false, false));
      writeConnections("[LIVE]\nurl = " + server.url() + "\n");
      for (const char* name : {"/ldaprc", "/.ldaprc"})
        std::ofstream(home_ + name) << "SOCKET_BIND_ADDRESSES 192.0.2.1\n";
      setenv("HOME", home_.c_str(), 1);
      ContextHandle ctx = 0;
      if (server.ready() && chdir(home_.c_str()) == 0 && ClientInit(0, 0) == 0 && CtxCreate(&ctx) == 0)
        code = corvane::DSChangeCurrentTree(ctx, "LIVE") == 0 ? 0 : 2;
    }
    fs::remove_all(home_);
    std::_Exit(code);
  };
  EXPECT_EXIT(readLiveTree(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::client
