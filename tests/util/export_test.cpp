#include "d_util_export.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "automation.h"
#include "platform_hooks.h"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

// Each test gets a fresh folder, its own message boxes and a clipboard holding "before".
class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "corvane-export-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    SetMessageBoxHook([this](MsgDlgKind kind, const std::string& msg) {
      if (msg.starts_with("Invalid target")) {
        EXPECT_EQ(kind, MsgDlgKind::mtError);
      }
      boxes.push_back(msg);
    });
    SetClipboardText("before");
    // No spreadsheet program is started from a test, whether one is installed or not.
    RegisterAutomationServer("Excel.Application", []() -> std::shared_ptr<AutomationObject> {
      throw AutomationError("no server in tests");
    });
  }
  void TearDown() override {
    RegisterAutomationServer("Excel.Application", CreateCalcApplication);
    SetMessageBoxHook({});
    SetClipboardHooks({}, {});
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  std::string path(const std::string& name) const { return folder + "/" + name; }
  static std::string read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return (std::stringstream() << in.rdbuf()).str();
  }
  std::string exported(const std::vector<std::string>& items, const std::string& name) {
    ExportStrings(items, "", path(name));
    return read(path(name));
  }
  std::size_t filesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  std::string folder;
  std::vector<std::string> boxes;
};

}  // namespace

TEST_F(Export, EmptyListGivesOneEmptyRow) {
  const std::string xml = exported({}, "list.xml");
  EXPECT_TRUE(
      std::regex_search(xml, std::regex("\r\n<table rowCount=\"1\" colCount=\"1\" fixedRows=\"0\" fixedCols=\"0\" "
                                        "date=\"\\d{4}-\\d\\d-\\d\\d\" time=\"\\d\\d:\\d\\d:\\d\\d\"/>\r\n")));
  EXPECT_NE(xml.find("<row value=\"0\">\r\n<row/>\r\n</row>\r\n</document>\r\n"), std::string::npos);
  EXPECT_EQ(xml.find("<cell>"), std::string::npos);
  EXPECT_NE(exported({}, "list.html").find("<tr>\r\n<td><br></td>\r\n</tr>"), std::string::npos);
}

TEST_F(Export, EmptyItemIsOneSpaceAndMarkupIsEscaped) {
  const std::vector<std::string> items{"x", "", "a<b&c"};
  const std::string xml = exported(items, "list.xml");
  EXPECT_NE(xml.find("<row> </row>"), std::string::npos);
  EXPECT_NE(xml.find("<row>a&lt;b&amp;c</row>"), std::string::npos);
  const std::string html = exported(items, "list.html");
  EXPECT_NE(html.find("<td> </td>"), std::string::npos);
  EXPECT_NE(html.find("<td>a&lt;b&amp;c</td>"), std::string::npos);
  EXPECT_EQ(exported(items, "list.txt"), "x\r\n \r\na<b&c\r\n");
}

// Entries of every shape, the last one plain so that a lost row shows as a missing last entry.
class ExportEntries : public Export {
 protected:
  const std::string huge = std::string(1 << 20, 'x') + "\nend";
  const std::vector<std::string> items{"Msg 001 - first\nsecond line",
                                       "Msg 100 - reason\r\nLine: 12\r\n  <bad attr=\"x\">",
                                       "cr\rsplit",
                                       "",
                                       "ends with break\n",
                                       huge,
                                       "Msg 008 last"};
  // The separated text: multi-line entries quoted as one cell, their double quotes apostrophes.
  std::string text(const std::string& lineBreak) const {
    return "\"Msg 001 - first" + lineBreak + "second line\"\r\n\"Msg 100 - reason" + lineBreak + "Line: 12" +
           lineBreak + "  <bad attr='x'>\"\r\n\"cr" + lineBreak + "split\"\r\n \r\nends with break\r\n\"" +
           std::string(1 << 20, 'x') + lineBreak + "end\"\r\nMsg 008 last\r\n";
  }
};

TEST_F(ExportEntries, TextAndClipboardKeepEveryEntryInItsOwnRow) {
  EXPECT_EQ(exported(items, "list.txt"), text("\r\n"));
  ExportStrings(items, "Clipboard", "");
  EXPECT_EQ(ClipboardText(), text("\n"));
  SetClipboardText("before");
  ExportStrings(items, "xls", "");  // the spreadsheet takes the same text
  EXPECT_EQ(ClipboardText(), text("\n"));
}

TEST_F(ExportEntries, HtmlKeepsEveryEntryInItsOwnRow) {
  const std::string html = exported(items, "list.html");
  std::size_t rows = 0;
  for (std::size_t at = html.find("<tr>"); at != std::string::npos; at = html.find("<tr>", at + 1)) ++rows;
  EXPECT_EQ(rows, items.size());
  EXPECT_NE(html.find("<td>Msg 100 - reason<br>Line: 12<br>  &lt;bad attr=&quot;x&quot;&gt;</td>"), std::string::npos);
  EXPECT_NE(
      html.find("<td>cr<br>split</td>\r\n</tr>\r\n<tr>\r\n<td> </td>\r\n</tr>\r\n<tr>\r\n<td>ends with break<br></td>"),
      std::string::npos);
  EXPECT_NE(html.find("<br>end</td>"), std::string::npos);
  EXPECT_TRUE(html.ends_with("<td>Msg 008 last</td>\r\n</tr>\r\n</table>\r\n</body></html>\r\n"));
}

TEST_F(ExportEntries, XmlRowHeadHoldsTheWholeEntry) {
  const std::string xml = exported(items, "list.xml");
  EXPECT_NE(xml.find("<table rowCount=\"7\" "), std::string::npos);
  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "list.xml", nullptr, XML_PARSE_NONET);
  ASSERT_NE(doc, nullptr);
  std::vector<std::string> heads;
  xmlNodePtr row = xmlNextElementSibling(xmlFirstElementChild(xmlDocGetRootElement(doc)));
  for (; row != nullptr; row = xmlNextElementSibling(row)) {
    xmlChar* head = xmlNodeGetContent(xmlFirstElementChild(row));
    heads.emplace_back(reinterpret_cast<const char*>(head));
    xmlFree(head);
  }
  xmlFreeDoc(doc);
  // A parser reads every line break as LF.
  EXPECT_EQ(heads,
            (std::vector<std::string>{"Msg 001 - first\nsecond line", "Msg 100 - reason\nLine: 12\n  <bad attr=\"x\">",
                                      "cr\nsplit", " ", "ends with break\n", huge, "Msg 008 last"}));
}

TEST_F(Export, XmlParsesWhateverTheCellsHold) {
  StringTable table(2, 2);
  table.setCell(0, 0, "Name");
  table.setCell(1, 0, "a<b&c>");
  table.setCell(1, 1, "b\r\nA\r\na\nB");
  table.setCell(0, 1,
                "t\x01\tq\x7F]]>'&amp;<x>\xC3(\xFF\xED\xA0\x80\xC0\xAF\xF0\x9F\x98"
                "A\xEF\xBF\xBF \xC3\xA9\xF0\x9F\x98\x80");
  const std::string xml = TableToXml(table);
  ASSERT_EQ(xml.substr(0, xml.find("\r\n")), R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)");
  // Multi-column cells: values sorted ignoring case, the first spelling met kept.
  EXPECT_NE(
      xml.find("<cell><col>a&lt;b&amp;c&gt;</col><value index=\"0\">A</value><value index=\"1\">b</value></cell>"),
      std::string::npos);

  // Past a handful of lines only a stable sort keeps the first spelling.
  std::string many = "Keep";
  for (int i = 0; i < 40; ++i) many.append("\n").append(i % 2 ? std::string("KEEP") : std::to_string(i));
  table.setCell(1, 1, many + "\nkeep");
  EXPECT_NE(TableToXml(table).find(">Keep</value>"), std::string::npos);

  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "export.xml", nullptr, XML_PARSE_NONET);
  ASSERT_NE(doc, nullptr) << xml;
  xmlNodePtr row = xmlFirstElementChild(xmlDocGetRootElement(doc));  // the table line
  row = xmlNextElementSibling(xmlNextElementSibling(row));           // row 1
  xmlChar* head = xmlNodeGetContent(xmlFirstElementChild(row));
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(reinterpret_cast<const char*>(head), "t" + fffd + "\tq\x7F]]>'&amp;<x>" + fffd + "(" + fffd + fffd + fffd +
                                                     fffd + fffd + fffd + fffd + "A" + fffd +
                                                     " \xC3\xA9\xF0\x9F\x98\x80");
  xmlFree(head);
  xmlFreeDoc(doc);
}

TEST_F(Export, SeparatedTextQuotesOnlyMultiLineCells) {
  StringTable table(2, 3);
  table.setCell(0, 0, "abc\r\n");
  table.setCell(1, 0, "a\r\nb");
  table.setCell(2, 0, "\"one\"\ntwo");
  table.setCell(0, 1, "\"q\";x");
  table.setCell(1, 1, "p\rq");
  EXPECT_EQ(TableToText(table, ";", "--"), "abc;\"a\nb\";\"'one'\ntwo\"\r\n--\r\n\"q\";x;p\rq;\r\n--\r\n");
  // A file gets CR LF after every line, also those a cell brings along.
  ExportTable(table, "ascii", path("t.doc"), ";", "");
  EXPECT_EQ(read(path("t.doc")), "abc;\"a\r\nb\";\"'one'\r\ntwo\"\r\n\"q\";x;p\r\nq;\r\n");
}

TEST_F(Export, HtmlBreaksOnlyAtCrLfAndBoldsHeaderCells) {
  StringTable table(2, 2);
  table.FixedRows = 1;
  table.setCell(0, 0, "a\r\nb");
  table.setCell(0, 1, "a\nb'\"");
  EXPECT_NE(
      TableToHtml(table).find("<td><b>a<br>b</b></td>\r\n<td><br></td>\r\n</tr>\r\n<tr>\r\n<td>a\nb&apos;&quot;</td>"),
      std::string::npos);
}

TEST_F(Export, TargetFromKeywordOrExtension) {
  EXPECT_EQ(ExportTargetOf("Htm"), ExportTarget::Html);
  EXPECT_EQ(ExportTargetOf("wb3"), ExportTarget::QuattroPro);
  EXPECT_EQ(ExportTargetOf("Excel"), ExportTarget::Excel);
  EXPECT_EQ(ExportTargetOf("HTMLX"), std::nullopt);
  EXPECT_EQ(ExportTargetOf(".xml"), std::nullopt);  // a given target is not trimmed

  EXPECT_NE(exported({"x"}, "LIST.HTM").find("<html><body>"), std::string::npos);
  EXPECT_NE(exported({"x"}, "list. xml").find("<document>"), std::string::npos);
  EXPECT_TRUE(boxes.empty());

  fs::create_directory(path("d.xml"));
  ExportStrings({"x"}, "", path("d.xml/list"));  // a dot in a folder is no extension
  ExportStrings({"x"}, "csv", path("list.csv"));
  EXPECT_EQ(boxes, (std::vector<std::string>{"Invalid target", "Invalid target"}));
  EXPECT_EQ(ClipboardText(), "before");
  EXPECT_EQ(filesInFolder(), 3u);
}

TEST_F(Export, SpreadsheetAndClipboardTargetsPutTheTableOnTheClipboard) {
  fs::current_path(folder);
  ExportStrings({"x"}, "xml", "ab");
  EXPECT_EQ(ClipboardText(), "before");
  // The spreadsheet target tests no path; without a server it reports that on its own.
  StringTable table(2, 2);
  table.setCell(0, 0, "h1");
  table.setCell(1, 0, "h2");
  table.setCell(0, 1, "v");
  ExportTableTabbed(table, "xls", "ab");
  EXPECT_EQ(ClipboardText(), "h1\th2\r\nv\t\r\n");
  ExportStrings({"a", "b"}, "Clipboard", "");
  EXPECT_EQ(ClipboardText(), "a\r\nb\r\n");
  // A clipboard that cannot be set ends the export before the spreadsheet starts.
  SetClipboardHooks([](const std::string&) { throw std::runtime_error("clipboard busy"); }, {});
  ExportStrings({"d"}, "excel", "");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], "Invalid target path");
  EXPECT_TRUE(boxes[1].starts_with("Error saving to Excel")) << boxes[1];
  EXPECT_EQ(filesInFolder(), 0u);
  fs::current_path(fs::temp_directory_path());
}

TEST_F(Export, FailedWriteKeepsThePreviousFile) {
  const std::string file = path("list.html");
  { std::ofstream(file) << "previous"; }
  // A file size limit makes the write itself fail, whoever runs the test.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit oldLimit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
  rlimit small = oldLimit;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_THROW(ExportTable(StringTable(1, 1), "html", file, "\t", ""), std::runtime_error);
  ExportStrings({"x"}, "html", file);
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(read(file), "previous");
  EXPECT_EQ(filesInFolder(), 1u);  // no temporary file left behind
  EXPECT_TRUE(boxes.empty());
}
