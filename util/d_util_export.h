// The table export of D_Util: a list or table turned into an HTML, XML or separated-text
// document, or handed to the clipboard or a spreadsheet program, chosen by a keyword or by
// a file name's extension.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A text table; cells are addressed by column and row, both from 0, and read as empty
// text until set.
struct StringTable {
  std::int32_t RowCount = 1;
  std::int32_t ColCount = 1;
  std::int32_t FixedRows = 0;      // leading header rows
  std::int32_t FixedCols = 0;      // leading header columns
  std::vector<std::string> Cells;  // column-major: Cells[col * RowCount + row]

  StringTable(std::int32_t rows, std::int32_t cols);
  const std::string& cell(std::int32_t col, std::int32_t row) const;
  void setCell(std::int32_t col, std::int32_t row, std::string text);
};

// Where an export goes.
enum class ExportTarget { Html, Xml, Text, QuattroPro, Excel, Clipboard };
// The target a keyword selects (ASCII letters case folded), tried in the table's order.
std::optional<ExportTarget> ExportTargetOf(std::string_view keyword);

// Exports a list as a one-column table, one row per entry: an entry of several lines stays
// one cell, an empty one becomes a single space. Every failure ends the export without a
// message.
void ExportStrings(const std::vector<std::string>& items, const std::string& target, const std::string& fileName);
// ExportTable with a TAB between cells and no row trailer.
void ExportTableTabbed(const StringTable& table, const std::string& target, const std::string& fileName);
// Chooses the target (from the file name's extension when target is empty) and exports.
void ExportTable(const StringTable& table, const std::string& target, const std::string& fileName,
                 const std::string& separator, const std::string& rowTrailer);
// The documents, each line followed by CR LF.
std::string TableToXml(const StringTable& table);
std::string TableToHtml(const StringTable& table);
std::string TableToText(const StringTable& table, const std::string& separator, const std::string& rowTrailer);
// Replaces the clipboard's content with TableToText.
void CopyTableToClipboard(const StringTable& table, const std::string& separator, const std::string& rowTrailer);

}  // namespace corvane
