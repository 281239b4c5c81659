// The walk over a loaded plug-in document and the file-selection flow around it.
#pragma once

#include <memory>
#include <string>
#include <system_error>

#include "scan_state.h"
#include "xml_document.h"

namespace corvane {

// Element names that make an item: page, private-page, module, task, book, role.
bool IsItemElement(std::string_view name);

// Empties Classes, Attributes, Id, SearchClass and PreCreate.
void ClearItemInfo(TNodeInfo& info);
// Empties DisplayKey and Bundle of Resource; its other fields stay.
void ClearResource(TNodeInfo& info);
// Empties the message list and the id list, then the per-item state.
void ClearMessages(ScanState& s);
// Forgets what the checks so far leave for the next one (the bundle and key remembered, the
// item kind), so that it finds what it would as the first check of a session.
void ForgetCarriedState(ScanState& s);

// Walks node's children depth-first in document order, adding tree items under treeNode and
// running the rules; level is node's depth (0 for the document element). Never recurses.
void ScanNode(ScanState& s, const XmlDocument& doc, NodeId node, TreeItem treeNode, int level);

// The full path under which a file the user named is checked: a relative path is put below
// the current folder. "." steps and repeated '/' go, ".." stays: after a symbolic link it
// leads where the link leads, so only the file system may resolve it. Empty, with ec set,
// when there is no such path (an empty path, a current folder that no longer exists).
std::string FullPathToCheck(const std::string& path, std::error_code& ec);

// What checking one file left behind.
struct CheckOutcome {
  std::unique_ptr<XmlDocument> document;  // kept alive for the tree items' labels
  std::optional<LoadError> loadError;     // the file could not be loaded
  std::optional<std::string> walkError;   // the walk stopped early
};

// Shows a loaded document and walks it: a fresh tree with the file's item and the document
// element's item, then ScanNode. A failure in the walk becomes "Msg 100" and is returned.
std::optional<std::string> ScanDocument(ScanState& s, const XmlDocument& doc);

// Checks one file as "Select File" does: clears the messages, derives the web application
// folder, loads the file, fills the tree and walks it. Failures become "Msg 100". With
// sourceText, the file's bytes are kept there for display (the file is still read once).
CheckOutcome CheckFile(ScanState& s, const std::string& path, std::string* sourceText = nullptr);
// Checks a file as above that a folder's walk found and vetted: only that very file is read,
// so a path changed meanwhile into a link to another file is a file that cannot be opened.
CheckOutcome CheckFile(ScanState& s, const std::string& path, const FoundFile& found,
                       std::string* sourceText = nullptr);
// Checks a file loaded beforehand (perhaps on another thread) as CheckFile checks the file at
// path: clears the messages, derives the web application folder, fills the tree and walks
// it; a load error becomes "Msg 100". The load needs nothing of s, so it may run ahead.
CheckOutcome CheckLoaded(ScanState& s, const std::string& path, LoadResult loaded);
// Checks a file as CheckFile does, with the same outcome, while it loads: the file is parsed
// on a thread of its own and each child of the document element is walked once it is
// finished. With found, only the file a walk found is read.
// With sourceText, the file's bytes are kept there, as CheckFile keeps them.
CheckOutcome CheckFileFollowingLoad(ScanState& s, const std::string& path, const std::optional<FoundFile>& found,
                                    std::string* sourceText = nullptr);
// Checks a document held in memory as CheckFile checks the file at path: the web application
// is the one around path.
CheckOutcome CheckText(ScanState& s, const std::string& path, std::string_view content);

}  // namespace corvane
