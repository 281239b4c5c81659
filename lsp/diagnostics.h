// A checked document's findings as the protocol's diagnostics.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "editor_queries.h"
#include "report.h"
#include "text_document.h"
#include "xml_document.h"

namespace corvane::lsp {

// A document's diagnostics: written out once, as they are found, and those with a correction
// kept for code actions.
struct DiagnosticList {
  std::string text = "[]";                             // the JSON array of them all
  nlohmann::json corrected = nlohmann::json::array();  // those with a correction
};

// window/showMessage's type for an error.
inline constexpr int kMessageError = 1;

// A position, and a range of a document's bytes, as the protocol writes them, counted as
// encoding says.
nlohmann::json PositionJson(const Position& p);
nlohmann::json RangeJson(const LineIndex& lines, ByteRange range, PositionEncoding encoding);

// The diagnostic of each finding, in the report's order: its range covers the element at
// fault (its text where it is a text element written as it reads, else its start tag), or
// for a finding without an element the rest of its line; severity Error for Msg 100 and
// Warning for the others; code "Msg001" and so on, with the README's message table as its
// description; source "corvanexml". text is what was checked, doc what it loaded into. A
// finding with a quick fix in fixes (one for each of the report's messages, or none at all)
// carries it in "data", as PublishedDiagnostics describes.
DiagnosticList Diagnostics(const cli::FileReport& report, const XmlDocument* doc, std::string_view text,
                           PositionEncoding encoding, std::span<const std::optional<QuickFix>> fixes = {});

}  // namespace corvane::lsp
