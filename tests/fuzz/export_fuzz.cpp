// libFuzzer target: any bytes as the cells of a table (0x1F between cells, 0x1E between
// rows). The XML document must be well-formed whatever the cells hold; the HTML and text
// layouts must not fail.
#include <libxml/parser.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "d_util_export.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  std::vector<std::vector<std::string>> rows{{""}};
  std::size_t columns = 1;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\x1e') {
      rows.push_back({""});
    } else if (c == '\x1f') {
      rows.back().emplace_back();
    } else {
      rows.back().back().push_back(c);
    }
    columns = std::max(columns, rows.back().size());
  }
  if (rows.size() * columns > 4096) return 0;
  StringTable table(static_cast<std::int32_t>(rows.size()), static_cast<std::int32_t>(columns));
  table.FixedRows = size > 0 ? data[0] % static_cast<std::int32_t>(rows.size()) : 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      table.setCell(static_cast<std::int32_t>(c), static_cast<std::int32_t>(r), rows[r][c]);
    }
  }
  const std::string xml = TableToXml(table);
  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "export.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (doc == nullptr) std::abort();  // the export wrote a document no XML parser reads
  xmlFreeDoc(doc);
  (void)TableToHtml(table);
  (void)TableToText(table, "\t", "");
  return 0;
}
