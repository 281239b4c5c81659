#include "scan.h"

#include <exception>
#include <filesystem>
#include <utility>
#include <vector>

#include "catalogue.h"
#include "rules.h"

namespace corvane {

namespace {

// The item elements and the kind each sets when it is entered at Level 1.
constexpr std::pair<std::string_view, TItemKind> kItemElements[] = {
    {"book", ikBook},         {"task", ikTask},     {"page", ikPage},
    {"private-page", ikPage}, {"module", ikModule}, {"role", ikRole},
};

const TItemKind* ItemKindOf(std::string_view name) {
  for (const auto& [itemName, kind] : kItemElements) {
    if (itemName == name) return &kind;
  }
  return nullptr;
}

// Sets the item kind when a node at Level 0 or 1 is entered.
void SetKindOnEntry(TNodeInfo& info, std::string_view name, int level) {
  if (level == 0) {
    info.Kind = name == "dir-translator" ? ikTranslator : ikNone;
    return;
  }
  if (level != 1) return;
  if (info.Kind != ikTranslator) info.Kind = ikNone;
  if (const TItemKind* kind = ItemKindOf(name)) info.Kind = *kind;
}

// The end-of-item steps: label with the id, the auxiliary check, then the resets.
void FinishItemElement(ScanState& s, std::string_view name, TreeItem item) {
  std::string label(name);
  label.append(" (").append(s.NodeInfo.Id).append(")");
  s.tree.setText(item, std::move(label));
  CheckItemEnd(s);
  ClearItemInfo(s.NodeInfo);
  ClearResource(s.NodeInfo);
}

// Clears what the last check left and derives the web application from the file's path.
void BeginCheck(ScanState& s, const std::string& path) {
  ClearMessages(s);
  s.XmlFileName = path;
  s.WebAppRoot = ExtractWebAppRoot(path);
  s.files.clear();
}

// Walks a loaded document, or reports why it could not be loaded as Msg 100.
CheckOutcome ScanLoaded(ScanState& s, LoadResult loaded) {
  CheckOutcome outcome;
  if (loaded.error) {
    AddMessage(s.messages, kNoItem, kXmlError, loaded.error->message);
    outcome.loadError = std::move(loaded.error);
    return outcome;
  }
  outcome.document = std::move(loaded.document);
  outcome.walkError = ScanDocument(s, *outcome.document);
  return outcome;
}

}  // namespace

std::string FullPathToCheck(const std::string& path, std::error_code& ec) {
  ec.clear();
  if (path.empty()) {
    ec = std::make_error_code(std::errc::invalid_argument);
    return {};
  }
  std::string full;
  if (path.front() != '/') {
    full = std::filesystem::current_path(ec).string();
    if (ec) return {};
    if (full.ends_with('/')) full.pop_back();
  }
  std::string_view last;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    last = std::string_view(path).substr(start, end - start);
    if (!last.empty() && last != ".") full.append("/").append(last);
    start = end + 1;
  }
  // A path that ends in '/' or "." names a folder and must stay one that the open refuses.
  if (full.empty() || last.empty() || last == ".") full.push_back('/');
  return full;
}

bool IsItemElement(std::string_view name) { return ItemKindOf(name) != nullptr; }

void ClearItemInfo(TNodeInfo& info) {
  info.Classes.clear();
  info.Attributes.clear();
  info.AttributeItems.clear();
  info.PreCreate = false;
  info.Id.clear();
  info.SearchClass.clear();
}

void ClearResource(TNodeInfo& info) {
  info.Resource.DisplayKey.clear();
  info.Resource.Bundle.clear();
  info.Resource.DisplayKeyItem = kNoItem;
  info.Resource.BundleItem = kNoItem;
}

void ClearMessages(ScanState& s) {
  s.messages.clear();
  s.IdList.clear();
  ClearItemInfo(s.NodeInfo);
}

void ForgetCarriedState(ScanState& s) { s.NodeInfo = TNodeInfo{}; }

void ScanNode(ScanState& s, const XmlDocument& doc, NodeId node, TreeItem treeNode, int level) {
  // One frame per entered node that has children; the explicit stack replaces recursion so
  // that depth is limited by memory, not by the call stack.
  struct Frame {
    NodeId node;
    TreeItem item;
    int level;
    NodeId nextChild;
    bool rulesAllowed;  // the node's name does not contain "obs"
  };
  std::vector<Frame> stack;

  const auto enter = [&](NodeId n, TreeItem item, int lvl) {
    SetKindOnEntry(s.NodeInfo, doc.name(n), lvl);
    const XmlDocument::Node& entered = doc.node(n);
    if (entered.childCount == 0) return false;
    stack.push_back({n, item, lvl, entered.firstChild, doc.name(n).find("obs") == std::string_view::npos});
    return true;
  };
  const auto finishChild = [&](NodeId child, TreeItem item) {
    if (IsItemElement(doc.name(child))) FinishItemElement(s, doc.name(child), item);
  };

  if (!enter(node, treeNode, level)) return;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.nextChild == kNoNode) {
      const Frame done = frame;
      s.tree.expand(done.item);
      stack.pop_back();
      if (!stack.empty()) finishChild(done.node, done.item);
      continue;
    }
    const NodeId child = frame.nextChild;
    frame.nextChild = doc.node(child).nextSibling;

    if (doc.isTextElement(child)) {
      const std::string_view name = doc.name(child);
      const std::string_view text = doc.elementText(child);
      const TreeItem item = s.tree.addChild(frame.item, {name, text, true}, child);
      if (!frame.rulesAllowed || s.NodeInfo.Kind == ikNone) continue;
      const RuleContext context{name, text, doc.name(frame.node), frame.level, item, frame.item};
      for (const Rule rule : kTextElementRules) rule(s, context);
      continue;
    }
    const TreeItem item = s.tree.addChild(frame.item, {doc.name(child), {}, false}, child);
    if (!enter(child, item, frame.level + 1)) finishChild(child, item);
  }
}

CheckOutcome CheckFile(ScanState& s, const std::string& path, std::string* sourceText) {
  BeginCheck(s, path);
  return ScanLoaded(s, sourceText == nullptr ? LoadXmlFile(path) : LoadXmlFileKeepingText(path, *sourceText));
}

CheckOutcome CheckFile(ScanState& s, const std::string& path, const FileIdentity& expected, std::string* sourceText) {
  BeginCheck(s, path);
  return ScanLoaded(
      s, sourceText == nullptr ? LoadXmlFile(path, &expected) : LoadXmlFileKeepingText(path, *sourceText, &expected));
}

CheckOutcome CheckText(ScanState& s, const std::string& path, std::string_view content) {
  BeginCheck(s, path);
  return ScanLoaded(s, LoadXmlMemory(content, path));
}

std::optional<std::string> ScanDocument(ScanState& s, const XmlDocument& doc) {
  s.tree.clear();
  // Running out of memory for the tree stops the check as any failure of the walk does.
  try {
    s.tree.reserve(doc.nodeCount());
    const TreeItem top = s.tree.addChild(kNoItem, {s.XmlFileName, {}, false}, kNoNode);
    const TreeItem rootItem = s.tree.addChild(top, {doc.name(doc.root()), {}, false}, doc.root());
    s.tree.expand(top);
    ScanNode(s, doc, doc.root(), rootItem, 0);
  } catch (const std::exception& e) {
    AddMessage(s.messages, kNoItem, kXmlError, e.what());
    return e.what();
  }
  return std::nullopt;
}

}  // namespace corvane
