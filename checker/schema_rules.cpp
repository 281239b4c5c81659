// Class and attribute names held against the schema of the current directory tree.
#include "rules.h"

namespace corvane {

void CheckAttributeName(ScanState&, const RuleContext&) {}

void CheckObjectType(ScanState&, const RuleContext&) {}

void CheckUrlParam(ScanState&, const RuleContext&) {}

void CheckItemEnd(ScanState&) {}

}  // namespace corvane
