// A checked document's findings as the protocol's diagnostics.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

#include "report.h"
#include "text_document.h"
#include "xml_document.h"

namespace corvane::lsp {

// The diagnostic of each finding, in the report's order: its range covers the element at
// fault (its text where it is a text element written as it reads, else its start tag), or
// for a finding without an element the rest of its line; severity Error for Msg 100 and
// Warning for the others; code "Msg001" and so on, with the README's message table as its
// description; source "corvanexml". text is what was checked, doc what it loaded into.
nlohmann::json Diagnostics(const cli::FileReport& report, const XmlDocument* doc, std::string_view text,
                           PositionEncoding encoding);

}  // namespace corvane::lsp
