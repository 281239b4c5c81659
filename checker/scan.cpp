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
  thread_local std::string label;  // its room kept from item to item
  label.assign(name).append(" (").append(s.NodeInfo.Id).append(")");
  s.tree.setText(item, label);
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
  // Another file may lie in another web application, where a bundle has another file.
  s.NodeInfo.Resource.KeysBundle.clear();
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

void ForgetCarriedState(ScanState& s) {
  // All back as new, but the lists keep the room they grew, which the next file would make
  // again.
  TNodeInfo fresh;
  std::swap(fresh.Classes, s.NodeInfo.Classes);
  std::swap(fresh.Attributes, s.NodeInfo.Attributes);
  std::swap(fresh.AttributeItems, s.NodeInfo.AttributeItems);
  s.NodeInfo = std::move(fresh);
  ClearItemInfo(s.NodeInfo);
}

namespace {

// The depth-first walk: tree items for the nodes, the rules for the text elements. One frame
// per entered node that has children; the explicit stack replaces recursion so that depth is
// limited by memory, not by the call stack.
class Walk {
 public:
  Walk(ScanState& s, const XmlDocument& doc) : s_(s), doc_(doc) {}

  // Enters a node: sets the item kind and, when it has children, makes it the frame whose
  // children are walked next. False for a node without children.
  bool enter(NodeId n, TreeItem item, int level) {
    SetKindOnEntry(s_.NodeInfo, doc_.name(n), level);
    if (doc_.node(n).children == 0) return false;
    push(n, item, level, doc_.firstChild(n));
    return true;
  }
  // Enters the document element as enter does, whose children are then given one by one
  // (visit) as a load finishes them.
  void enterFollowing(NodeId root, TreeItem item) {
    SetKindOnEntry(s_.NodeInfo, doc_.name(root), 0);
    push(root, item, 0, kNoNode);
  }
  // Walks until only `frames` frames are left.
  void runTo(std::size_t frames) {
    while (stack_.size() > frames) {
      Frame& frame = stack_.back();
      if (frame.nextChild == kNoNode) {
        leave();
        continue;
      }
      const NodeId child = frame.nextChild;
      frame.nextChild = doc_.node(child).nextSibling;
      visit(child);
    }
  }
  // Adds the item of a child of the innermost frame and runs its rules or enters it.
  void visit(NodeId child) {
    const Frame& frame = stack_.back();
    if (doc_.isTextElement(child)) {
      const std::string_view name = doc_.name(child);
      const std::string_view text = doc_.elementText(child);
      const TreeItem item = s_.tree.addChild(frame.item, {name, text, true}, child);
      if (!frame.rulesAllowed || s_.NodeInfo.Kind == ikNone) return;
      const RuleContext context{name, text, doc_.name(frame.node), frame.level, item, frame.item};
      for (const Rule rule : kTextElementRules) rule(s_, context);
      return;
    }
    const TreeItem item = s_.tree.addChild(frame.item, {doc_.name(child), {}, false}, child);
    if (!enter(child, item, frame.level + 1)) finishChild(child, item);
  }
  // Leaves the innermost frame: its item is expanded, and ends an item when it is one.
  void leave() {
    const Frame done = stack_.back();
    s_.tree.expand(done.item);
    stack_.pop_back();
    if (!stack_.empty()) finishChild(done.node, done.item);
  }

 private:
  struct Frame {
    NodeId node;
    TreeItem item;
    int level;
    NodeId nextChild;
    bool rulesAllowed;  // the node's name does not contain "obs"
  };

  void push(NodeId n, TreeItem item, int level, NodeId firstChild) {
    stack_.push_back({n, item, level, firstChild, doc_.name(n).find("obs") == std::string_view::npos});
  }
  void finishChild(NodeId child, TreeItem item) {
    if (IsItemElement(doc_.name(child))) FinishItemElement(s_, doc_.name(child), item);
  }

  ScanState& s_;
  const XmlDocument& doc_;
  std::vector<Frame> stack_;
};

// The file's item and the document element's item, first in a fresh tree.
TreeItem AddTopItems(ScanState& s, const XmlDocument& doc, NodeId root) {
  const TreeItem top = s.tree.addChild(kNoItem, {s.XmlFileName, {}, false}, kNoNode);
  const TreeItem rootItem = s.tree.addChild(top, {doc.name(root), {}, false}, root);
  s.tree.expand(top);
  return rootItem;
}

// Walks a document as its load hands out the document element's children, which is what
// ScanDocument does once the load is over. Returns why the walk stopped early, if it did.
std::optional<std::string> WalkFollowing(ScanState& s, StreamedLoad& load) {
  StreamedLoad::Part part;
  std::optional<Walk> walk;
  bool anyChild = false;
  const auto startOnce = [&] {
    if (walk || part.root == kNoNode) return;
    s.tree.reserve(part.expectedNodes);
    walk.emplace(s, *part.document);
    walk->enterFollowing(part.root, AddTopItems(s, *part.document, part.root));
  };
  try {
    while (load.next(part)) {
      const auto reading = load.reading();
      startOnce();
      for (const NodeId child : part.children) {
        walk->visit(child);
        walk->runTo(1);
      }
      anyChild = true;
    }
    const auto reading = load.reading();
    startOnce();
    // The document element's frame, which ScanNode would not have entered without children.
    if (walk && anyChild) walk->runTo(0);
  } catch (const std::exception& e) {
    AddMessage(s.messages, kNoItem, kXmlError, e.what());
    return e.what();
  }
  return std::nullopt;
}

}  // namespace

void ScanNode(ScanState& s, const XmlDocument& doc, NodeId node, TreeItem treeNode, int level) {
  Walk walk(s, doc);
  if (walk.enter(node, treeNode, level)) walk.runTo(0);
}

CheckOutcome CheckLoaded(ScanState& s, const std::string& path, LoadResult loaded) {
  BeginCheck(s, path);
  return ScanLoaded(s, std::move(loaded));
}

CheckOutcome CheckFile(ScanState& s, const std::string& path, std::string* sourceText) {
  return CheckLoaded(s, path, sourceText == nullptr ? LoadXmlFile(path) : LoadXmlFileKeepingText(path, *sourceText));
}

CheckOutcome CheckFile(ScanState& s, const std::string& path, const FoundFile& found, std::string* sourceText) {
  return CheckLoaded(
      s, path, sourceText == nullptr ? LoadXmlFile(path, &found) : LoadXmlFileKeepingText(path, *sourceText, &found));
}

namespace {

// Walks a document while it loads, once the check has begun; what a document that does not
// load leaves is only its Msg 100, as if it had never been walked.
CheckOutcome FollowLoad(ScanState& s, StreamedLoad& load) {
  const TNodeInfo carried = s.NodeInfo;
  s.tree.clear();
  std::optional<std::string> walkError = WalkFollowing(s, load);
  LoadResult loaded = load.result();
  if (loaded.error) {
    ClearMessages(s);
    s.NodeInfo = carried;
    s.tree.clear();
    return ScanLoaded(s, std::move(loaded));
  }
  CheckOutcome outcome;
  outcome.document = std::move(loaded.document);
  outcome.walkError = std::move(walkError);
  return outcome;
}

}  // namespace

CheckOutcome CheckFileFollowingLoad(ScanState& s, const std::string& path, const std::optional<FoundFile>& found,
                                    std::string* sourceText) {
  BeginCheck(s, path);
  StreamedLoad load(path, found, sourceText);
  return FollowLoad(s, load);
}

CheckOutcome CheckText(ScanState& s, const std::string& path, std::string_view content) {
  BeginCheck(s, path);
  return ScanLoaded(s, LoadXmlMemory(content, path));
}

std::optional<std::string> ScanDocument(ScanState& s, const XmlDocument& doc) {
  s.tree.clear();
  // Running out of memory for the tree stops the check as any failure of the walk does.
  try {
    s.tree.reserve(doc.nodeCount() - doc.textElementCount());
    ScanNode(s, doc, doc.root(), AddTopItems(s, doc, doc.root()), 0);
  } catch (const std::exception& e) {
    AddMessage(s.messages, kNoItem, kXmlError, e.what());
    return e.what();
  }
  return std::nullopt;
}

}  // namespace corvane
