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
  if (doc.node(id).kind() == NodeKind::Text) out.append("=").append(doc.text(id));
  out.push_back('\n');
  for (NodeId c = doc.firstChild(id); c != kNoNode; c = doc.node(c).nextSibling) Describe(doc, c, depth + 1, out);
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

// The parser hands text over in pieces: blanks that markup follows are dropped, blanks that
// a reference or more text follows begin the text.
TEST(XmlLoad, BlanksStayWithTheTextTheyBegin) {
  EXPECT_EQ(Describe("<r>\n  &amp;x<a/>\n  <!--c-->\n  y\n</r>"),
            "r\n  #text=\n  &x\n  a\n  #comment\n  #text=\n  y\n\n");
  EXPECT_EQ(Describe("<r>\t&#32;\tx<a/>\t</r>"), "r\n  #text=\t \tx\n  a\n");
}

TEST(XmlLoad, TextElementsHoldExactlyOneTextNode) {
  LoadResult r = LoadXmlMemory("<r><a>x</a><b><![CDATA[x]]></b><c>x<!--y--></c><d/></r>");
  ASSERT_FALSE(r.error);
  const XmlDocument& doc = *r.document;
  std::vector<bool> isText;
  for (NodeId c = doc.firstChild(doc.root()); c != kNoNode; c = doc.node(c).nextSibling) {
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
  EXPECT_NE(ErrorOf("<!DOCTYPE r [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><r>&a;</r>"), "no error");
}

// Elements and comments know where they begin, and keep their texts beside it; a text has
// no position of its own.
TEST(XmlLoad, ElementsAndCommentsKnowWhereTheyBegin) {
  LoadResult r =
      LoadXmlMemory("<!--p-->\n<r>\n  <a\n     x='>'>t</a><b>\xC3\xA9</b><c/>\n <!-- c -->mixed</r>\n<!--e-->");
  ASSERT_FALSE(r.error);
  const XmlDocument& doc = *r.document;
  const NodeId a = doc.firstChild(doc.root());
  const NodeId b = doc.node(a).nextSibling;
  const NodeId c = doc.node(b).nextSibling;
  const NodeId comment = doc.node(c).nextSibling;
  const NodeId mixed = doc.node(comment).nextSibling;
  EXPECT_EQ(doc.position(a).line, 2u + 1);
  EXPECT_EQ(doc.position(a).column, 3u);
  EXPECT_EQ(doc.position(b).line, 3u + 1);
  EXPECT_EQ(doc.position(b).column, 17u);
  EXPECT_EQ(doc.position(c).column, 25u);
  EXPECT_EQ(doc.elementText(a), "t");
  EXPECT_EQ(doc.position(comment).line, 5u);
  EXPECT_EQ(doc.position(comment).column, 2u);
  EXPECT_EQ(doc.text(comment), " c ");
  EXPECT_EQ(doc.text(mixed), "mixed");
  EXPECT_EQ(doc.position(mixed).line, 0u);
  EXPECT_EQ(doc.text(doc.root()), "");
  ASSERT_EQ(doc.prologComments().size(), 1u);
  ASSERT_EQ(doc.epilogComments().size(), 1u);
  EXPECT_EQ(doc.position(doc.prologComments()[0]).line, 1u);
  EXPECT_EQ(doc.text(doc.prologComments()[0]), "p");
  EXPECT_EQ(doc.position(doc.epilogComments()[0]).line, 6u);
  EXPECT_EQ(doc.text(doc.epilogComments()[0]), "e");
  EXPECT_EQ(doc.innerComments(), std::vector<NodeId>{comment});
  EXPECT_EQ(doc.textElementCount(), 2u);  // a and b
}

// Where a start tag begins is found by looking back from its end, several bytes at a time:
// whatever the characters before it and inside it, and wherever it starts in the parser's
// input, its column counts characters, not bytes.
TEST(XmlLoad, StartTagsAreFoundWhateverTheirLengthAndCharacters) {
  for (int before = 0; before < 18; ++before) {
    for (int inside = 0; inside < 18; ++inside) {
      std::string text = "<r>";
      for (int i = 0; i < before; ++i) text += i % 2 == 0 ? "\xC3\xA9" : "x";
      text += "<a v='";
      for (int i = 0; i < inside; ++i) text += i % 3 == 0 ? "\xE2\x82\xAC" : "-";
      text += "'/>\n  <b\nw='\xC3\xBC'\n/></r>";
      LoadResult r = LoadXmlMemory(text);
      ASSERT_FALSE(r.error) << text;
      const XmlDocument& doc = *r.document;
      EXPECT_EQ(doc.position(doc.root()).column, 1u);
      NodeId a = doc.firstChild(doc.root());
      if (doc.node(a).kind() != NodeKind::Element) a = doc.node(a).nextSibling;
      const NodeId b = doc.node(a).nextSibling;
      EXPECT_EQ(doc.position(a).line, 1u) << text;
      EXPECT_EQ(doc.position(a).column, 4u + static_cast<std::uint32_t>(before)) << text;
      EXPECT_EQ(doc.position(b).line, 2u) << text;
      EXPECT_EQ(doc.position(b).column, 3u) << text;
    }
  }
}

// Most tags are '<' and the name alone, found that many characters back; blanks or a line
// break inside the tag, or a name of several bytes a character, must not shift the column.
TEST(XmlLoad, TagsOfANameAloneStartWhereTheirNameSaysWhateverItsCharacters) {
  const std::string tags[] = {"<a/>", "<a>x</a>", "<n\xC3\xA9\xE2\x82\xAC/>", "<p:q\xC3\xBC/>", "<a />", "<a\n/>"};
  for (const std::string& tag : tags) {
    for (int before = 0; before < 12; ++before) {
      std::string text = "<r xmlns:p='urn:p'>\n";
      for (int i = 0; i < before; ++i) text += i % 2 == 0 ? "\xC3\xA9" : "x";
      text += tag + "</r>";
      LoadResult r = LoadXmlMemory(text);
      ASSERT_FALSE(r.error) << text;
      const XmlDocument& doc = *r.document;
      NodeId tagged = doc.firstChild(doc.root());
      if (doc.node(tagged).kind() != NodeKind::Element) tagged = doc.node(tagged).nextSibling;
      EXPECT_EQ(doc.position(tagged).line, 2u) << text;
      EXPECT_EQ(doc.position(tagged).column, 1u + static_cast<std::uint32_t>(before)) << text;
    }
  }
}

// A large document's storage is set up ahead of the load on another thread; one with more
// nodes than its size promised outgrows that storage half-way, and loads all the same.
TEST(XmlLoad, LargeDocumentsThatOutgrowTheirStorageLoadWhole) {
  constexpr std::size_t kElements = 2'500'000;  // "<a/>" is 4 bytes: 10 MB, a node each
  std::string text = "<r>";
  text.reserve(kElements * 6 + 8);
  for (std::size_t i = 0; i < kElements; ++i) text += i % 2 == 0 ? "<a/>" : "<b>t</b>";
  text += "</r>";
  LoadResult r = LoadXmlMemory(text);
  ASSERT_FALSE(r.error) << r.error->message;
  const XmlDocument& doc = *r.document;
  EXPECT_EQ(doc.nodeCount(), 1 + kElements + kElements / 2);
  NodeId last = doc.firstChild(doc.root());
  for (NodeId next = last; next != kNoNode; next = doc.node(next).nextSibling) last = next;
  EXPECT_EQ(doc.name(last), "b");
  EXPECT_EQ(doc.elementText(last), "t");
  EXPECT_EQ(doc.position(last).column, 4u + 4 * (kElements / 2) + 8 * (kElements / 2 - 1));
  // Read from a file, its bytes kept as they are read, in room set up ahead too.
  const fs::path file = TempFile("large.xml", text);
  std::string kept;
  const LoadResult read = LoadXmlFileKeepingText(file.string(), kept);
  ASSERT_FALSE(read.error) << read.error->message;
  EXPECT_EQ(read.document->nodeCount(), doc.nodeCount());
  EXPECT_TRUE(kept == text);
  fs::remove(file);
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

// A file's bytes are kept as they are read for the parse: all of them, as they are in the
// file (CR LF too), also when the parse stops at an error long before the end; none for a
// file that cannot be read. The walk beside the load keeps them the same way.
TEST(XmlLoad, KeptBytesAreTheWholeFileWhereverTheParseStops) {
  std::string wellFormed = "<r>\r\n";
  for (int i = 0; i < 20000; ++i) wellFormed += "<a>" + std::to_string(i) + "</a>\r\n";
  wellFormed += "</r>\r\n";
  const std::string broken = "<r>\n<a></b>\n" + wellFormed;
  for (const bool whole : {true, false}) {
    const std::string& bytes = whole ? wellFormed : broken;
    const fs::path path = TempFile("kept.xml", bytes);
    std::string kept = "left from before";
    const LoadResult loaded = LoadXmlFileKeepingText(path.string(), kept);
    EXPECT_EQ(loaded.error.has_value(), !whole);
    EXPECT_EQ(kept, bytes);
    PlainTree tree;
    PlainMessages messages;
    ScanState state(tree, messages);
    std::string followed;
    const CheckOutcome outcome = CheckFileFollowingLoad(state, path.string(), std::nullopt, &followed);
    EXPECT_EQ(outcome.document != nullptr, whole);
    EXPECT_EQ(followed, bytes);
    fs::remove(path);
  }
  std::string kept = "left from before";
  EXPECT_TRUE(LoadXmlFileKeepingText("/nonexistent/corvane.xml", kept).error->unreadable);
  EXPECT_TRUE(kept.empty());
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
  EXPECT_EQ(tree.items().back().depth(), static_cast<std::uint32_t>(depth) + 2);
  EXPECT_EQ(tree.label(tree.items().size() - 1, outcome.document.get()), "id: X");
  EXPECT_EQ(tree.label(2, outcome.document.get()), "task ()");  // the outermost item keeps no id
}

namespace {

// A document whose one entity holds `body` and is used `uses` times.
std::string Amplified(const std::string& body, int uses) {
  std::string xml = "<!DOCTYPE r [<!ENTITY e '" + body + "'>]>\n<r>";
  for (int i = 0; i < uses; ++i) xml += "&e;";
  return xml + "</r>";
}

std::string Repeat(std::string_view piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out.append(piece);
  return out;
}

}  // namespace

TEST(XmlLoad, EntityExpansionBeyondTenTimesTheFileIsRefused) {
  // Text or elements multiplied by a short file (the elements' markup stays below the limit,
  // the nodes made from it do not), or an entity whose text multiplies another's, so that
  // the limit is reached inside an expansion.
  const std::string nested = "<!DOCTYPE r [<!ENTITY t '" + std::string(10'000, 'x') + "'><!ENTITY e '" +
                             Repeat("&t;", 100) + "'>]>\n" + "<r>" + Repeat("&e;", 20) + "</r>";
  for (const std::string& xml :
       {Amplified(std::string(100'000, 'x'), 100'000), Amplified(Repeat("<a/>", 1000), 2'000), nested}) {
    const std::string error = ErrorOf(xml);
    EXPECT_TRUE(error.starts_with("Entities expand to more than 10000000 bytes (the file has " +
                                  std::to_string(xml.size()) + "): refused\nLine: 2\n<r>&e;&e;"))
        << error.substr(0, 200);
  }
  // Up to the floor of 10 MB a small file may expand as it likes, also through entities that
  // use entities: here five levels that each double the one below.
  const std::string xml = Amplified(std::string(10'000, 'x'), 990);
  LoadResult r = LoadXmlMemory(xml);
  ASSERT_FALSE(r.error) << r.error->message;
  EXPECT_EQ(r.document->elementText(r.document->root()).size(), 9'900'000u);
  std::string doubled = "<!DOCTYPE r [<!ENTITY e0 'xxxxx'>";
  for (int i = 1; i <= 5; ++i) {
    const std::string below = "&e" + std::to_string(i - 1) + ";";
    doubled += "<!ENTITY e" + std::to_string(i) + " '" + below + below + "'>";
  }
  EXPECT_EQ(Describe(doubled + "]><r><id>&e5;</id></r>"), "r\n  id\n    #text=" + std::string(160, 'x') + "\n");
}

TEST(XmlLoad, OnlyContentModelsNestedTooDeeplyMeetALimitOfTheParser) {
  const auto declaration = [](int depth) {
    return "<!DOCTYPE r [<!ELEMENT r " + std::string(depth, '(') + "a" + std::string(depth, ')') + ">]><r/>";
  };
  const std::string error = ErrorOf(declaration(2049));
  EXPECT_EQ(error,
            "An element declaration is nested too deeply: the document exceeds the parser's size limits\n"
            "Line: 1\n<!DOCTYPE r [<!ELEMENT r " +
                std::string(15, '('));
  EXPECT_EQ(ErrorOf(declaration(2048)), "no error");
  // Texts, values, comments and tags longer than ten million bytes load like shorter ones.
  const std::string longText(10'000'001, 'x');
  LoadResult r = LoadXmlMemory("<r a='" + longText + "'><" + std::string(60'000, 'n') + "/><!--" + longText + "-->" +
                               longText + "</r>");
  ASSERT_FALSE(r.error) << r.error->message.substr(0, 200);
  const XmlDocument& doc = *r.document;
  const NodeId text = doc.node(doc.node(doc.firstChild(doc.root())).nextSibling).nextSibling;
  EXPECT_EQ(doc.text(text).size(), longText.size());
}

TEST(XmlLoad, TheErrorShowsTheStartOfItsLineFromTheDocument) {
  // Far into a long line the parser's buffer no longer holds the line's start.
  const std::string longLine = "<r>\n<q>" + std::string(2000, 'y') + "&z;</q>\n</r>";
  const std::string expected = "Entity 'z' not defined\nLine: 2\n<q>" + std::string(37, 'y');
  EXPECT_EQ(ErrorOf(longLine), expected);
  // Forty characters, not bytes.
  EXPECT_EQ(ErrorOf("<r>\n<q>" + Repeat("\xC3\xA9", 60) + "&z;</q>\n</r>"),
            "Entity 'z' not defined\nLine: 2\n<q>" + Repeat("\xC3\xA9", 37));
  // At the end of the file the line is the one the parser names, not the last one it read.
  EXPECT_EQ(ErrorOf("<r>\n  <a>x</a>\n\n"), "Premature end of data in tag r line 1\nLine: 4\n");
  // An error inside an entity's text is shown where the reference stands.
  EXPECT_EQ(ErrorOf("<!DOCTYPE r [<!ENTITY e '<a>'>]>\n<r>\n\n  <b>&e;</b></r>"),
            "Premature end of data in tag a line 1\nLine: 4\n  <b>&e;</b></r>");
  // Bytes that are no UTF-8 do not make the message invalid text, and the reason stays on its
  // line.
  EXPECT_EQ(ErrorOf("<r>\n<a>Zo\xEB\xEB</a></r>"),
            "Input is not proper UTF-8, indicate encoding ! Bytes: 0xEB 0xEB 0x3C 0x2F\nLine: 2\n"
            "<a>Zo\xEF\xBF\xBD\xEF\xBF\xBD</a></r>");
  // In another encoding the line is shown as UTF-8 text.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("<r>\n<q>Zo\xEB&z;</q></r>")) utf16 += std::string{c, '\0'};
  EXPECT_EQ(ErrorOf(utf16), "Entity 'z' not defined\nLine: 2\n<q>Zo\xC3\xAB&z;</q></r>");
  // A unit that is no character is skipped whole, and the rest of the line stays readable.
  std::string surrogate = "\xFF\xFE";
  for (char c : std::string("<r>\n<q>A")) surrogate += std::string{c, '\0'};
  surrogate += std::string("\x00\xD8", 2);
  for (char c : std::string("B</q></r>")) surrogate += std::string{c, '\0'};
  const std::string error = ErrorOf(surrogate);
  EXPECT_TRUE(
      error.ends_with("\nLine: 2\n<q>A\xEF\xBF\xBD"
                      "B</q></r>"))
      << error;

  // A file streamed from disk gives the same line, after the parser moved far past the start.
  const std::string far = Repeat("<a>filler</a>\n", 80'000);
  const std::string xml = "<r>\n" + far + "<q>" + std::string(200'000, 'y') + "&z;</q>\n</r>";
  const fs::path file = TempFile("long_line.xml", xml);
  LoadResult r = LoadXmlFile(file.string());
  fs::remove(file);
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->message, "Entity 'z' not defined\nLine: 80002\n<q>" + std::string(37, 'y'));
}

TEST(XmlLoad, LinesEndAtALineFeedACarriageReturnOrBoth) {
  for (const auto& [name, eol] : {std::pair{"LF", "\n"}, std::pair{"CR LF", "\r\n"}, std::pair{"CR", "\r"}}) {
    const std::string end = eol;
    EXPECT_EQ(ErrorOf("<r>" + end + "<a/>" + end + end + "<b></c>" + end + "</r>" + end),
              "Opening and ending tag mismatch: b line 4 and c\nLine: 4\n<b></c>")
        << name;
    LoadResult r = LoadXmlMemory("<r>" + end + "  <a/>" + end + end + "<b>" + end + "</b></r>");
    ASSERT_FALSE(r.error) << name;
    const XmlDocument& doc = *r.document;
    const NodeId a = doc.firstChild(doc.root());
    const NodeId b = doc.node(a).nextSibling;
    EXPECT_EQ(doc.position(a).line, 2u) << name;
    EXPECT_EQ(doc.position(a).column, 3u) << name;
    EXPECT_EQ(doc.position(b).line, 4u) << name;
    EXPECT_EQ(doc.position(b).column, 1u) << name;
  }
  // In UTF-16 the line ends are units of two bytes: the byte 0x0D of U+0D15 is no CR.
  const auto utf16 = [](std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) bytes.append({static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)});
    return bytes;
  };
  EXPECT_EQ(ErrorOf(utf16(u"<r>\r<q>\r\n<b></c></q></r>")),
            "Opening and ending tag mismatch: b line 3 and c\nLine: 3\n<b></c></q></r>");
  EXPECT_EQ(Describe(utf16(u"<r>\r\u0D15\r\n</r>")), "r\n  #text=\n\xE0\xB4\x95\n\n");
  // Read from disk in pieces, a CR LF that two pieces share still ends one line.
  const std::string xml = "<r>\r\n" + Repeat("<ab/>\r\n", 160'000) + "<b></c></r>";
  const fs::path file = TempFile("crlf.xml", xml);
  LoadResult fromFile = LoadXmlFile(file.string());
  fs::remove(file);
  ASSERT_TRUE(fromFile.error);
  EXPECT_EQ(fromFile.error->message, "Opening and ending tag mismatch: b line 160002 and c\nLine: 160002\n<b></c></r>");
}

namespace {

// A load's outcome in one string: each node with its line and column, or the error.
std::string Outcome(const LoadResult& r) {
  if (r.error) return "error: " + r.error->message;
  std::string out;
  const XmlDocument& doc = *r.document;
  for (NodeId id = doc.root(); id != kNoNode && id < doc.nodeCount(); ++id) {
    const SourcePosition at = doc.position(id);
    out.append(doc.name(id)).append(" ").append(std::to_string(at.line)).append(":").append(std::to_string(at.column));
    if (doc.node(id).kind() == NodeKind::Text) out.append("=").append(doc.text(id));
    out.push_back('\n');
  }
  return out;
}

std::string Utf16(std::string_view ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) bytes.append({c, '\0'});
  return bytes;
}

}  // namespace

// A small file is parsed where it lies once read; a large one piece by piece as it is read.
// Both give what the same bytes give from memory: in every encoding, with every kind of line
// end, and far past the parser's first kilobytes.
TEST(XmlLoad, FilesLoadAlikeReadWholeOrInPieces) {
  const std::string body = Repeat("  <item kind='a'>text of some length &amp; more</item>\r\n", 40);
  const std::pair<std::string, std::string> cases[] = {
      {"utf-8", "<?xml version='1.0' encoding='UTF-8'?>\r\n<r>\r\n" + body + "<b>Zo\xC3\xAB</b>\r</r>"},
      {"latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?>\n<r>\n" + body + "<b>Zo\xEB</b></r>"},
      {"utf-16", Utf16("<r>\r\n" + body + "<b>x</b></r>")},
      {"error far in", "<r>\n" + body + "<b></c></r>"},
      {"error in latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?>\n<r>\n" + body + "<b>\xEB</c></r>"},
  };
  for (const auto& [name, xml] : cases) {
    const std::string expected = Outcome(LoadXmlMemory(xml, "doc.xml"));
    ASSERT_EQ(expected.find("error: Cannot"), std::string::npos) << name;
    // Lines of blanks after the document element change nothing but the file's size.
    const std::string pad = "\n" + std::string(600'000, ' ');
    const std::string blanks = name == "utf-16" ? Utf16(pad).substr(2) : pad + pad;
    for (const std::string& bytes : {xml, xml + blanks}) {
      const fs::path file = TempFile("alike.xml", bytes);
      std::string outcome = Outcome(LoadXmlFile(file.string()));
      fs::remove(file);
      // The file's path stands where the document's name stood.
      for (std::size_t at; (at = outcome.find(file.string())) != std::string::npos;) {
        outcome.replace(at, file.string().size(), "doc.xml");
      }
      EXPECT_EQ(outcome, expected) << name << ", " << bytes.size() << " bytes";
    }
  }
}

// Files loaded one after another on a thread share the parser's state: nothing a file
// declared, nor any element a failed file left open, counts in the next one.
TEST(XmlLoad, FilesLoadedOneAfterAnotherKnowNothingOfEachOther) {
  const std::pair<std::string, std::string> laterFiles[] = {{"<r>\n<b>&e;</b>\n</r>", "Entity 'e' not defined"},
                                                            {"<r>\n<a:b/>\n</r>", "Namespace prefix a on b"}};
  for (const auto& [later, error] : laterFiles) {
    const fs::path alone = TempFile("later.xml", later);
    const std::string expected = Outcome(LoadXmlFile(alone.string()));
    EXPECT_NE(expected.find(error), std::string::npos) << expected;
    for (const char* first :
         {"<!DOCTYPE r [<!ENTITY e 'x'>]>\n<r xmlns:a='urn:a'><a:b>&e;</a:b></r>",
          "<!DOCTYPE r [<!ENTITY e 'x'>]>\n<r xmlns:a='urn:a'><a:b xmlns:c='urn:c'>&e;<c:d></a:b></r>",
          "<?xml version='1.0' encoding='ISO-8859-1'?>\n<r xmlns:a='urn:a'><a:b>\xEB</c></r>"}) {
      const fs::path before = TempFile("first.xml", first);
      EXPECT_EQ(Outcome(LoadXmlFile(before.string())), Outcome(LoadXmlMemory(first, before.string()))) << first;
      EXPECT_EQ(Outcome(LoadXmlFile(alone.string())), expected) << "after " << first;
      fs::remove(before);
    }
    fs::remove(alone);
  }
}
