// The rules that run for each text element, in their fixed order, and the end-of-item check.
#pragma once

#include <array>

#include "scan_state.h"

namespace corvane {

using Rule = void (*)(ScanState&, const RuleContext&);

// Ids, roles, resource keys and pages.
void CheckId(ScanState& s, const RuleContext& c);
void CheckRoleAssignment(ScanState& s, const RuleContext& c);
void CheckResourceKey(ScanState& s, const RuleContext& c);
void CheckMergeTemplate(ScanState& s, const RuleContext& c);
// Looks up key, named by the element keyItem, in the bundle's properties file; Msg 003 or
// Msg 004 when it cannot be found.
void CheckKey(ScanState& s, const std::string& bundle, const std::string& key, const RuleContext& c, TreeItem keyItem);
// Reads the bundle's key table into Resource unless it is the remembered bundle.
void LoadProperties(ScanState& s, std::string_view bundle);

// Schema names.
void CheckAttributeName(ScanState& s, const RuleContext& c);
void CheckObjectType(ScanState& s, const RuleContext& c);
void CheckUrlParam(ScanState& s, const RuleContext& c);
// Runs when an item element ends.
void CheckItemEnd(ScanState& s);

// The seven rules in the order in which they run.
inline constexpr std::array<Rule, 7> kTextElementRules = {
    CheckId,          CheckAttributeName, CheckObjectType, CheckUrlParam, CheckRoleAssignment,
    CheckResourceKey, CheckMergeTemplate,
};

// Where a rule may run: the required depth of P per item kind, kAnyLevel for no restriction.
inline constexpr int kAnyLevel = -1;
using LevelFilter = std::array<int, 7>;  // indexed by TItemKind; ikNone is never consulted
bool LevelAllowed(const LevelFilter& filter, TItemKind kind, int level);

}  // namespace corvane
