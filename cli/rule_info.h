// What the command line tells about each kind of finding: the rule id that JSON, SARIF and
// baselines share, a name, a level and help texts; and the code lists users write.
#pragma once

#include <bitset>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane::cli {

// Not a catalogue message: a suppression directive that silenced nothing.
inline constexpr int kUnusedDirective = 0;

struct RuleInfo {
  int code;
  std::string_view name;         // PascalCase, as SARIF viewers show it
  std::string_view description;  // what a finding means
  std::string_view fix;          // what to do about it
};

// Every rule: the catalogue's codes in ascending order, then the unused directive.
std::span<const RuleInfo> Rules();
// The rule of a catalogue code or kUnusedDirective.
const RuleInfo& RuleOf(int code);
// Its position in Rules().
std::size_t RuleIndex(int code);
// "Msg004", or "UnusedDirective".
std::string RuleId(int code);
// "Key not found": the catalogue's title, or "Unused directive".
std::string_view RuleTitle(int code);
// "004"; empty for kUnusedDirective.
std::string CodeDigits(int code);
// "error" for Msg 100, "warning" for everything else.
std::string_view Level(int code);

// Message codes, each bit indexed by its code.
using CodeSet = std::bitset<128>;
// Parses a comma-separated list of codes, each "Msg004" or "004", or "UnusedDirective" for
// kUnusedDirective (letter case and blanks around them ignored); nothing, with error set,
// when an entry is neither.
std::optional<CodeSet> ParseCodes(std::string_view list, std::string& error);

}  // namespace corvane::cli
