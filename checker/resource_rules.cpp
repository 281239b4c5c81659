// Ids must be unique, role assignments must name an id met before, display keys must exist
// in the item's bundle, and merge templates must exist as JSP pages.
#include "catalogue.h"
#include "d_util.h"
#include "rules.h"
#include "scan.h"

namespace corvane {

namespace {

//                                 none  book  page  task  transl.    module     role
constexpr LevelFilter kIdLevels = {0, 1, 1, 1, kAnyLevel, 1, 1};
constexpr LevelFilter kRoleAssignmentLevels = {0, 1, kAnyLevel, 1, kAnyLevel, kAnyLevel, kAnyLevel};
constexpr LevelFilter kResourceKeyLevels = {0, 1, 1, 1, kAnyLevel, kAnyLevel, kAnyLevel};
constexpr LevelFilter kMergeTemplateLevels = {0, kAnyLevel, 1, 1, kAnyLevel, kAnyLevel, kAnyLevel};

// In a page, a chapter's keys sit one level deeper than the page's own.
bool ResourceKeyLevelAllowed(TItemKind kind, const RuleContext& c) {
  if (kind == ikPage && c.parentName == "chapter") return c.level == 2;
  return LevelAllowed(kResourceKeyLevels, kind, c.level);
}

}  // namespace

bool LevelAllowed(const LevelFilter& filter, TItemKind kind, int level) {
  const int required = filter[kind];
  return required == kAnyLevel || required == level;
}

void CheckId(ScanState& s, const RuleContext& c) {
  if (c.name != "id" || c.parentName == "chapter") return;
  if (!LevelAllowed(kIdLevels, s.NodeInfo.Kind, c.level)) return;
  s.NodeInfo.Id = c.text;
  if (!s.IdList.insert(s.NodeInfo.Id)) AddMessage(s.messages, c.item, kDuplicateId, s.NodeInfo.Id);
}

void CheckRoleAssignment(ScanState& s, const RuleContext& c) {
  if (c.name != "role-assignment") return;
  if (!LevelAllowed(kRoleAssignmentLevels, s.NodeInfo.Kind, c.level)) return;
  if (!s.IdList.contains(c.text)) AddMessage(s.messages, c.item, kUnknownRoleId, c.text);
}

void CheckResourceKey(ScanState& s, const RuleContext& c) {
  if (s.WebAppRoot.empty()) return;
  const bool isBundle = c.name == "resource-properties-file";
  if (!isBundle && c.name != "display-name-key") return;
  if (!ResourceKeyLevelAllowed(s.NodeInfo.Kind, c)) return;
  TResource& resource = s.NodeInfo.Resource;
  if (isBundle) {
    LoadProperties(s, c.text);
    resource.BundleItem = c.item;
  } else {
    resource.DisplayKey = c.text;
    resource.DisplayKeyItem = c.item;
  }
  if (!resource.Bundle.empty() && !resource.DisplayKey.empty()) {
    CheckKey(s, resource.Bundle, resource.DisplayKey, c, resource.DisplayKeyItem);
  }
}

void LoadProperties(ScanState& s, std::string_view bundle) {
  TResource& resource = s.NodeInfo.Resource;
  if (bundle == resource.Bundle) return;
  // The bundle is remembered only with what was found for it, also when memory runs out:
  // with room made first, the copies cannot fail.
  resource.Bundle.reserve(bundle.size());
  resource.KeysBundle.reserve(bundle.size());
  // Most items name the bundle the item before them named: its file and keys are held.
  if (bundle == resource.KeysBundle) {
    resource.Bundle.assign(bundle);
    return;
  }
  const WebAppFiles::BundleFile& file = s.files.bundleFile(s.WebAppRoot, bundle);
  resource.FileName.reserve(file.path.size());
  resource.Bundle.assign(bundle);
  resource.FileName.assign(file.path);
  resource.Found = file.exists;
  resource.KeysBundle.clear();
  // A file that exists but cannot be read throws and ends the walk with the bundle
  // remembered as found: until a read succeeds its lookups use the keys of the last read.
  if (resource.Found) resource.Keys = s.files.keys(resource.FileName);
  resource.KeysBundle.assign(bundle);
}

void CheckKey(ScanState& s, const std::string& bundle, const std::string& key, const RuleContext& c, TreeItem keyItem) {
  LoadProperties(s, bundle);
  const TResource& resource = s.NodeInfo.Resource;
  // The window attaches the line to the element just read; the finding lies in the key's
  // element, or in the bundle's for a missing file (the key's when no bundle element was read).
  if (resource.Found) {
    // Before any read succeeded the key table is empty.
    const bool blanks = key.find(' ') != std::string::npos;
    if (!resource.Keys || !resource.Keys->contains(blanks ? ReplaceChars(key, " ", '_') : key)) {
      AddMessage(s.messages, {c.item, keyItem}, kKeyNotFound, bundle, key);
    }
  } else {
    const TreeItem bundleItem = resource.BundleItem != kNoItem ? resource.BundleItem : keyItem;
    AddMessage(s.messages, {c.item, bundleItem}, kFileNotFound, bundle, resource.FileName);
  }
  ClearResource(s.NodeInfo);
}

void CheckMergeTemplate(ScanState& s, const RuleContext& c) {
  if (c.name != "merge-template") return;
  if (!LevelAllowed(kMergeTemplateLevels, s.NodeInfo.Kind, c.level)) return;
  const WebAppFiles::TemplatePage& page = s.files.templatePage(s.WebAppRoot, c.text);
  if (!page.exists) AddMessage(s.messages, c.item, kMissingJsp, c.text, page.underDefault);
}

}  // namespace corvane
