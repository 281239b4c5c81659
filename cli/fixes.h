// --fix and --diff: the findings' certain corrections, placed in the file's bytes, applied,
// and shown as a patch.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "report.h"
#include "suggestions.h"

namespace corvane::cli {

// The correction of each message (nothing for one without), placed in source, the bytes doc
// was read from. A correction whose text is not written there as it reads (a reference, a
// CDATA section, another encoding) has no place, and so no fix.
std::vector<std::unique_ptr<const Fix>> FindFixes(const Suggester& suggester, std::span<const ListedMessage> messages,
                                                  const PlainTree& tree, const XmlDocument& doc,
                                                  std::string_view source);

// source with the fixes applied, each stretch of it once.
std::string ApplyFixes(std::string_view source, std::vector<const Fix*> fixes);

// The unified diff from before to after, both labelled path, with three lines of context.
// Fixes change no line end, so the two have the same lines, compared one by one.
std::string UnifiedDiff(std::string_view before, std::string_view after, const std::string& path);

// What --fix or --diff does with a checked file whose bytes are source: the certain fixes of
// its findings, applied (a guess at the name meant is only shown, by the machine formats).
// --diff writes their diff to out. --fix writes the fixed file over the one checked (whole,
// keeping its mode), says each change on err and drops the fixed findings from the report;
// a file it cannot write is a trouble of the run.
void FixFile(const Options& options, FileReport& report, std::string_view source, std::ostream& out, std::ostream& err,
             RunSummary& run);

}  // namespace corvane::cli
