// The checker's state: the scan state the rules share, the lists of the current document
// and tree, and where findings go.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sinks.h"
#include "string_list.h"
#include "text_blocks.h"
#include "web_app.h"

namespace corvane {

// Which kind of top-level element is being walked; the rules restrict themselves by it.
enum TItemKind : std::uint8_t { ikNone = 0, ikBook, ikPage, ikTask, ikTranslator, ikModule, ikRole };

struct TUrlParam {
  std::string Key;    // last "param-key" text
  std::string Value;  // last "param-value" text
};

struct TResource {
  std::string DisplayKey;             // last display-name-key text not yet looked up
  std::string Bundle;                 // the remembered resource-properties-file value
  TreeItem DisplayKeyItem = kNoItem;  // the elements those came from, where a finding points
  TreeItem BundleItem = kNoItem;
  std::string FileName;                  // full path of the properties file last looked for
  bool Found = false;                    // that file existed
  std::shared_ptr<const KeyTable> Keys;  // the keys read from it
  std::string KeysBundle;                // in this check, the bundle those three are of
};

struct TNodeInfo {
  TItemKind Kind = ikNone;
  bool PreCreate = false;   // a url parameter value "preCreate" was met in the current item
  std::string Id;           // the last id the id rule accepted
  std::string SearchClass;  // class named by the "eDirSearch" url parameter, "_" as blanks
  TUrlParam UrlParam;
  TResource Resource;
  StringList Classes;                    // schema classes named in the current item
  StringList Attributes;                 // schema attributes named in the current item, each with its tree item
  std::vector<TreeItem> AttributeItems;  // the attribute-name element of each of them
};

// The schema of the current directory tree as the name rules see it.
struct SchemaView {
  StringList SchemaClassList;
  StringList SchemaAttributeList;
  StringList ClassAttrList;  // cache: "Class" and "Class*Attribute" lines of every class read
  // Reads the attributes of one class from the directory into the list; returns its code.
  std::function<std::int32_t(const std::string& className, StringList& attributes)> GetClassAttributes;
  // Reads the superclasses one class names itself; returns its code. Only the editor's
  // questions about a class need them.
  std::function<std::int32_t(const std::string& className, StringList& superClasses)> GetSuperClasses;
};

struct ScanState {
  ScanState(TreeSink& treeSink, MessageList& messageList) : tree(treeSink), messages(messageList) {}

  TreeSink& tree;
  MessageList& messages;
  TNodeInfo NodeInfo;
  TextSet IdList;  // every id accepted in the current document
  std::string XmlFileName;
  std::string WebAppRoot;
  SchemaView schema;
  WebAppFiles files;  // cache for the length of one check, or shared by a run's checks
};

// One text element and where it sits: what every rule receives.
struct RuleContext {
  std::string_view name;        // C's name
  std::string_view text;        // C's text
  std::string_view parentName;  // P's name
  int level = 0;                // P's depth
  TreeItem item = kNoItem;      // C's tree item
  TreeItem parentItem = kNoItem;
};

}  // namespace corvane
