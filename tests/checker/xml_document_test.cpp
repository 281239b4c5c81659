#include "xml_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "plain_sinks.h"
#include "scan.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// The document as "name" / "name=text" lines, indented by depth, for compact assertions.
void Describe(const XmlDocument& doc, NodeId id, int depth, std::string& out) {
  out.append(2 * depth, ' ').append(doc.name(id));
  if (doc.node(id).kind == NodeKind::Text) out.append("=").append(doc.text(id));
  out.push_back('\n');
  for (NodeId c = doc.node(id).firstChild; c != kNoNode; c = doc.node(c).nextSibling) Describe(doc, c, depth + 1, out);
}

std::string Describe(std::string_view xml) {
  LoadResult r = LoadXmlMemory(xml);
  if (r.error) return "error: " + r.error->message;
  std::string out;
  Describe(*r.document, r.document->root(), 0, out);
  return out;
}

std::string ErrorOf(std::string_view xml) {
  LoadResult r = LoadXmlMemory(xml);
  return r.error ? r.error->message : "no error";
}

fs::path TempFile(const std::string& name, const std::string& bytes) {
  const fs::path path = fs::temp_directory_path() / ("corvane_xml_" + std::to_string(::getpid()) + "_" + name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

TEST(XmlLoad, NodesAreNamedAsADomNamesThemAndBlankTextIsDropped) {
  EXPECT_EQ(Describe("<r>\n  <a>x</a>\n  <!--c-->\n  <b><![CDATA[d]]></b>\n  <?pi data?>\n  <m>t<i/> u </m>\n"
                     "  <p:q xmlns:p='urn:x'> </p:q>\n</r>"),
            "r\n  a\n    #text=x\n  #comment\n  b\n    #cdata-section\n  pi\n  m\n    #text=t\n    i\n"
            "    #text= u \n  p:q\n");
}

TEST(XmlLoad, TextElementsHoldExactlyOneTextNode) {
  LoadResult r = LoadXmlMemory("<r><a>x</a><b><![CDATA[x]]></b><c>x<!--y--></c><d/></r>");
  ASSERT_FALSE(r.error);
  const XmlDocument& doc = *r.document;
  std::vector<bool> isText;
  for (NodeId c = doc.node(doc.root()).firstChild; c != kNoNode; c = doc.node(c).nextSibling) {
    isText.push_back(doc.isTextElement(c));
  }
  EXPECT_EQ(isText, (std::vector<bool>{true, false, false, false}));
}

TEST(XmlLoad, EntitiesExpandButExternalOnesAreNeverRead) {
  EXPECT_EQ(Describe("<!DOCTYPE r [<!ENTITY e 'A&amp;B'>]><r><a>&e;&#x43;</a></r>"), "r\n  a\n    #text=A&BC\n");
  const fs::path secret = TempFile("secret.xml", "<id>secret</id>");
  const std::string xml = "<!DOCTYPE r [<!ENTITY s SYSTEM '" + secret.string() + "'>]><r><a>&s;</a></r>";
  EXPECT_EQ(Describe(xml).find("secret"), std::string::npos);
  fs::remove(secret);
}

TEST(XmlLoad, EncodingsAreDecodedToUtf8) {
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?><r>Zo\xEB</r>";
  const std::string cp1252 = "<?xml version='1.0' encoding='windows-1252'?><r>\x80uro</r>";
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<r>Zo")) utf16 += std::string{c, '\0'};
  utf16 += std::string("\xEB\x00", 2);
  for (char c : std::string("</r>")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(Describe(latin1), "r\n  #text=Zo\xC3\xAB\n");
  EXPECT_EQ(Describe(cp1252), "r\n  #text=\xE2\x82\xACuro\n");
  EXPECT_EQ(Describe(utf16), "r\n  #text=Zo\xC3\xAB\n");
}

TEST(XmlLoad, ParseErrorsGiveReasonLineAndFortyCharactersOfTheLine) {
  EXPECT_EQ(ErrorOf("<a>\n <b>\n</a>\n"), "Opening and ending tag mismatch: b line 2 and a\nLine: 3\n</a>");
  const std::string longLine = "<r>" + std::string(60, 'x') + "&y;</r>";
  EXPECT_EQ(ErrorOf(longLine), "Entity 'y' not defined\nLine: 1\n<r>" + std::string(37, 'x'));
  // What a conforming parser refuses: a second root, text after the root, a stray "&".
  for (const char* bad : {"<a/><b/>", "<a/>tail", "<a>&</a>", "", "<a>\xC3</a>"}) {
    EXPECT_NE(ErrorOf(bad), "no error") << bad;
  }
  LoadResult r = LoadXmlMemory("<a>\n\n  <b></c>\n</a>");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->line, 3u);
  EXPECT_FALSE(r.error->unreadable);
}

TEST(XmlLoad, EntityBombsAreRefused) {
  std::string xml = "<!DOCTYPE r [<!ENTITY a0 'lol'>";
  for (int i = 1; i < 10; ++i) {
    xml += "<!ENTITY a" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) xml += "&a" + std::to_string(i - 1) + ";";
    xml += "'>";
  }
  xml += "]><r>&a9;</r>";
  EXPECT_NE(ErrorOf(xml), "no error");
}

TEST(XmlLoad, ElementsKnowWhereTheirStartTagBegins) {
  LoadResult r = LoadXmlMemory("<r>\n  <a\n     x='>'>t</a><b>\xC3\xA9</b><c/>\n</r>");
  ASSERT_FALSE(r.error);
  const XmlDocument& doc = *r.document;
  const NodeId a = doc.node(doc.root()).firstChild;
  const NodeId b = doc.node(a).nextSibling;
  const NodeId c = doc.node(b).nextSibling;
  EXPECT_EQ(doc.node(a).line, 2u);
  EXPECT_EQ(doc.node(a).column, 3u);
  EXPECT_EQ(doc.node(b).line, 3u);
  EXPECT_EQ(doc.node(b).column, 17u);
  EXPECT_EQ(doc.node(c).column, 25u);
}

TEST(XmlLoad, FilesThatCannotBeReadAreReportedAsUnreadable) {
  LoadResult missing = LoadXmlFile("/nonexistent/corvane.xml");
  ASSERT_TRUE(missing.error);
  EXPECT_TRUE(missing.error->unreadable);
  EXPECT_NE(missing.error->message.find("No such file"), std::string::npos);

  LoadResult folder = LoadXmlFile(fs::temp_directory_path().string());
  ASSERT_TRUE(folder.error);
  EXPECT_TRUE(folder.error->unreadable);

  // A FIFO must not block the check waiting for a writer.
  const fs::path fifo = fs::temp_directory_path() / ("corvane_fifo_" + std::to_string(::getpid()) + ".xml");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  LoadResult pipe = LoadXmlFile(fifo.string());
  fs::remove(fifo);
  ASSERT_TRUE(pipe.error);
  EXPECT_TRUE(pipe.error->unreadable);
}

TEST(XmlLoad, DeepNestingIsLoadedAndWalkedCompletely) {
  constexpr int depth = 100'000;
  std::string xml = "<plugin>";
  for (int i = 0; i < depth; ++i) xml += "<task>";
  xml += "<id>X</id>";
  for (int i = 0; i < depth; ++i) xml += "</task>";
  xml += "</plugin>";
  const fs::path file = TempFile("deep.xml", xml);

  PlainTree tree;
  PlainMessages messages;
  ScanState state(tree, messages);
  const CheckOutcome outcome = CheckFile(state, file.string());
  fs::remove(file);
  ASSERT_FALSE(outcome.loadError);
  ASSERT_FALSE(outcome.walkError);
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(tree.items().size(), static_cast<std::size_t>(depth) + 3);
  EXPECT_EQ(tree.items().back().depth, static_cast<std::uint32_t>(depth) + 2);
  EXPECT_EQ(tree.label(tree.items().size() - 1, outcome.document.get()), "id: X");
  EXPECT_EQ(tree.label(2, outcome.document.get()), "task ()");  // the outermost item keeps no id
}
