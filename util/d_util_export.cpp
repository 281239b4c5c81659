#include "d_util_export.h"

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "automation.h"
#include "d_util.h"
#include "d_xml.h"
#include "file_write.h"
#include "platform_hooks.h"

namespace corvane {
namespace {

constexpr std::string_view kCrLf = "\r\n";
// U+FFFD REPLACEMENT CHARACTER in UTF-8.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

struct TargetKeyword {
  std::string_view keyword;
  ExportTarget target;
};

// Tried in this order; the first keyword equal to the target wins.
constexpr TargetKeyword kTargetKeywords[] = {
    {"HTML", ExportTarget::Html},
    {"HTM", ExportTarget::Html},
    {"XML", ExportTarget::Xml},
    {"TXT", ExportTarget::Text},
    {"DOC", ExportTarget::Text},
    {"ASCII", ExportTarget::Text},
    {"QP", ExportTarget::QuattroPro},
    {"WB3", ExportTarget::QuattroPro},
    {"XLS", ExportTarget::Excel},
    {"EXCEL", ExportTarget::Excel},
    {"CLIPBOARD", ExportTarget::Clipboard},
};

// A path shorter than this cannot name a file the user meant.
constexpr std::size_t kMinTargetPathLength = 3;

// Lines of a text ending at CR, LF or CR LF; a break at the very end opens no further line,
// so an empty text has no lines at all.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

void AddLine(std::string& document, std::string_view line) {
  document.append(line);
  document.append(kCrLf);
}

// Files get CR LF after every line, whatever breaks a cell's text brought along.
std::string WithCrLfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::string_view line : SplitLines(text)) AddLine(out, line);
  return out;
}

// Every line break (CR, LF or CR LF) becomes CR LF, the break the HTML and separated-text
// layouts know inside a cell; unlike WithCrLfLines, no break is added at the end.
std::string CrLfBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      out.push_back(text[i]);
      continue;
    }
    out.append(kCrLf);
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

// A list entry as its cell: a single space keeps an empty entry visible as a row of its
// own, and an entry of several lines (a parse error with its line and source excerpt)
// stays one cell, so the rows after it keep their place.
std::string EntryCell(std::string_view entry) { return entry.empty() ? std::string(" ") : CrLfBreaks(entry); }

// A cell may hold anything; the XML document must still parse. Invalid UTF-8 and the
// characters XML 1.0 does not allow become U+FFFD, one for each maximal ill-formed
// subsequence as Unicode recommends, so valid neighbours are never swallowed.
std::string XmlCharacters(std::string_view s) {
  // Of the whole characters, XML 1.0 forbids the C0 controls but TAB, LF and CR, and the
  // non-characters U+FFFE and U+FFFF.
  const auto allowed = [](std::string_view ch) {
    if (ch.size() == 1) return static_cast<unsigned char>(ch[0]) >= 0x20 || ch == "\t" || ch == "\n" || ch == "\r";
    return ch != "\xEF\xBF\xBE" && ch != "\xEF\xBF\xBF";
  };
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char ch = NextUtf8Char(s, i);
    const std::string_view sequence = s.substr(i, ch.size);
    out.append(ch.wellFormed && allowed(sequence) ? sequence : kReplacement);
    i += ch.size;
  }
  return out;
}

// Element text: markup characters escaped, "&" first so no escape is escaped again.
std::string XmlEscaped(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': out.append("&amp;"); break;
      case '<': out.append("&lt;"); break;
      case '>': out.append("&gt;"); break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string XmlText(std::string_view s) { return XmlEscaped(XmlCharacters(s)); }

// The distinct lines of a cell, sorted ignoring letter case; of lines that differ only in
// case the one met first stays, which the stable sort brings to the front of its run.
std::string ValueElements(std::string_view cellText) {
  const std::string text = XmlCharacters(cellText);
  std::vector<std::string_view> lines = SplitLines(text);
  std::stable_sort(lines.begin(), lines.end(),
                   [](std::string_view a, std::string_view b) { return CompareText(a, b) < 0; });
  lines.erase(
      std::unique(lines.begin(), lines.end(), [](std::string_view a, std::string_view b) { return SameText(a, b); }),
      lines.end());
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out.append("<value index=\"").append(std::to_string(i)).append("\">");
    out.append(XmlEscaped(lines[i])).append("</value>");
  }
  return out;
}

// One reading of the local clock, so date and time never straddle midnight.
std::pair<std::string, std::string> LocalDateAndTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const auto two = [](int value) { return ZeroPadded(static_cast<std::uint64_t>(value), 10, 2); };
  return {ZeroPadded(static_cast<std::uint64_t>(local.tm_year) + 1900, 10, 4) + '-' + two(local.tm_mon + 1) + '-' +
              two(local.tm_mday),
          two(local.tm_hour) + ':' + two(local.tm_min) + ':' + two(local.tm_sec)};
}

std::string HtmlCellContent(const std::string& text, bool header) {
  if (text.empty()) return "<br>";
  std::string content = ReplaceSub(text, "&", "&amp;", false, true);
  content = ReplaceSub(content, "<", "&lt;", false, true);
  content = ReplaceSub(content, ">", "&gt;", false, true);
  content = ReplaceSub(content, "'", "&apos;", false, true);
  content = ReplaceSub(content, "\"", "&quot;", false, true);
  content = ReplaceSub(content, "\r\n", "<br>", false, true);
  if (!header) return content;
  std::string bold("<b>");
  bold.append(content).append("</b>");
  return bold;
}

// A cell of the separated text: a multi-line cell is quoted, and its own double quotes
// become apostrophes since the text has no escape for them.
std::string TextItem(const std::string& cellText) {
  std::string item = ReplaceSub(TrimRightChars(cellText, "\r\n"), "\r\n", "\n", true, true);
  if (item.find('\n') == std::string::npos) return item;
  std::string quoted("\"");
  quoted.append(ReplaceChars(item, "\"", '\'')).append("\"");
  return quoted;
}

// Replaces the file whole, so a failed write leaves the previous file as it was.
void WriteDocument(const std::string& fileName, std::string_view document) {
  std::string reason;
  if (!WriteFileAtomically(fileName, WithCrLfLines(document), reason)) {
    std::string message(fileName);
    message.append(": ").append(reason);
    throw std::runtime_error(message);
  }
}

}  // namespace

StringTable::StringTable(std::int32_t rows, std::int32_t cols)
    : RowCount(std::max(rows, std::int32_t{1})),
      ColCount(std::max(cols, std::int32_t{1})),
      Cells(static_cast<std::size_t>(RowCount) * static_cast<std::size_t>(ColCount)) {}

const std::string& StringTable::cell(std::int32_t col, std::int32_t row) const {
  static const std::string kEmpty;
  if (col < 0 || row < 0 || col >= ColCount || row >= RowCount) return kEmpty;
  const std::size_t index =
      static_cast<std::size_t>(col) * static_cast<std::size_t>(RowCount) + static_cast<std::size_t>(row);
  return index < Cells.size() ? Cells[index] : kEmpty;
}

void StringTable::setCell(std::int32_t col, std::int32_t row, std::string text) {
  if (col < 0 || row < 0 || col >= ColCount || row >= RowCount)
    throw std::out_of_range("StringTable cell outside the table");
  const std::size_t index =
      static_cast<std::size_t>(col) * static_cast<std::size_t>(RowCount) + static_cast<std::size_t>(row);
  if (index >= Cells.size()) Cells.resize(static_cast<std::size_t>(RowCount) * static_cast<std::size_t>(ColCount));
  Cells[index] = std::move(text);
}

std::optional<ExportTarget> ExportTargetOf(std::string_view keyword) {
  for (const TargetKeyword& entry : kTargetKeywords) {
    if (SameText(entry.keyword, keyword)) return entry.target;
  }
  return std::nullopt;
}

void ExportStrings(const std::vector<std::string>& items, const std::string& target, const std::string& fileName) {
  // Saving is offered from a context menu; a failure simply leaves no (new) file behind.
  try {
    const auto rows = static_cast<std::int32_t>(std::max<std::size_t>(items.size(), 1));
    StringTable table(rows, 1);
    for (std::size_t k = 0; k < items.size(); ++k) table.setCell(0, static_cast<std::int32_t>(k), EntryCell(items[k]));
    ExportTableTabbed(table, target, fileName);
  } catch (const std::exception&) {
  } catch (...) {
  }
}

void ExportTableTabbed(const StringTable& table, const std::string& target, const std::string& fileName) {
  ExportTable(table, target, fileName, "\t", "");
}

void ExportTable(const StringTable& table, const std::string& target, const std::string& fileName,
                 const std::string& separator, const std::string& rowTrailer) {
  const std::string keyword = target.empty() ? TrimLeftChars(UpperCaseAscii(ExtractFileExt(fileName)), " .") : target;
  const std::optional<ExportTarget> found = ExportTargetOf(keyword);
  if (!found) {
    ShowMsgDlg(MsgDlgKind::mtError, "Invalid target");
    return;
  }
  const ExportTarget kind = *found;
  const bool toFile = kind == ExportTarget::Html || kind == ExportTarget::Xml || kind == ExportTarget::Text;
  if (toFile && Utf8Length(fileName) < kMinTargetPathLength) {
    ShowMsgDlg(MsgDlgKind::mtError, "Invalid target path");
    return;
  }
  // The spreadsheet programs take the table from the clipboard, and it stays there
  // for the user when they fail.
  if (!toFile) CopyTableToClipboard(table, separator, rowTrailer);
  switch (kind) {
    case ExportTarget::Html: WriteDocument(fileName, TableToHtml(table)); break;
    case ExportTarget::Xml: WriteDocument(fileName, TableToXml(table)); break;
    case ExportTarget::Text: WriteDocument(fileName, TableToText(table, separator, rowTrailer)); break;
    case ExportTarget::QuattroPro: ExportToQuattroPro(); break;
    case ExportTarget::Excel: ExportToExcel(); break;
    case ExportTarget::Clipboard: break;
  }
}

std::string TableToXml(const StringTable& table) {
  const auto [date, time] = LocalDateAndTime();
  std::string doc;
  AddLine(doc, R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)");
  AddLine(doc, "<document>");
  std::string tableLine("<table rowCount=\"");
  tableLine.append(std::to_string(table.RowCount)).append("\" colCount=\"").append(std::to_string(table.ColCount));
  tableLine.append("\" fixedRows=\"").append(std::to_string(table.FixedRows));
  tableLine.append("\" fixedCols=\"").append(std::to_string(table.FixedCols));
  tableLine.append("\" date=\"").append(date).append("\" time=\"").append(time).append("\"/>");
  AddLine(doc, tableLine);
  for (std::int32_t r = 0; r < table.RowCount; ++r) {
    std::string rowStart("<row value=\"");
    rowStart.append(std::to_string(r)).append("\">");
    AddLine(doc, rowStart);
    AddLine(doc, XmlTag("row", XmlText(table.cell(0, r))));
    if (table.ColCount > 1) {
      for (std::int32_t c = 0; c < table.ColCount; ++c) {
        // The column is named by its first row's text, header row or not.
        std::string content = XmlTag("col", XmlText(table.cell(c, 0)));
        content.append(ValueElements(table.cell(c, r)));
        AddLine(doc, XmlTag("cell", content));
      }
    }
    AddLine(doc, "</row>");
  }
  AddLine(doc, "</document>");
  return doc;
}

std::string TableToHtml(const StringTable& table) {
  std::string doc;
  AddLine(doc, "<html><body>");
  AddLine(doc, "<table border=1>");
  for (std::int32_t r = 0; r < table.RowCount; ++r) {
    AddLine(doc, "<tr>");
    for (std::int32_t c = 0; c < table.ColCount; ++c) {
      const bool header = c < table.FixedCols || r < table.FixedRows;
      std::string line("<td>");
      line.append(HtmlCellContent(table.cell(c, r), header)).append("</td>");
      AddLine(doc, line);
    }
    AddLine(doc, "</tr>");
  }
  AddLine(doc, "</table>");
  AddLine(doc, "</body></html>");
  return doc;
}

std::string TableToText(const StringTable& table, const std::string& separator, const std::string& rowTrailer) {
  std::string doc;
  for (std::int32_t r = 0; r < table.RowCount; ++r) {
    std::string line = TextItem(table.cell(0, r));
    for (std::int32_t c = 1; c < table.ColCount; ++c) line.append(separator).append(TextItem(table.cell(c, r)));
    AddLine(doc, line);
    if (!rowTrailer.empty()) AddLine(doc, rowTrailer);
  }
  return doc;
}

void CopyTableToClipboard(const StringTable& table, const std::string& separator, const std::string& rowTrailer) {
  SetClipboardText(TableToText(table, separator, rowTrailer));
}

}  // namespace corvane
