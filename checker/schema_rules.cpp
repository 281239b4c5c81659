// Class and attribute names held against the schema of the current directory tree.
#include "catalogue.h"
#include "d_util.h"
#include "rules.h"
#include "vector_room.h"

namespace corvane {

namespace {

//                                    none  book       page  task  transl. module     role
constexpr LevelFilter kAttributeNameLevels = {0, kAnyLevel, 2, 2, 0, kAnyLevel, kAnyLevel};
constexpr LevelFilter kObjectTypeLevels = {0, 1, 1, 1, 0, kAnyLevel, kAnyLevel};
constexpr LevelFilter kUrlParamLevels = {0, kAnyLevel, kAnyLevel, 2, kAnyLevel, kAnyLevel, kAnyLevel};

// Names the console accepts without a schema lookup.
constexpr std::string_view kPassThroughAttributes = "|[Entry Rights]|[All Attributes Rights]|Password Management|";
constexpr std::string_view kPassThroughClasses = "|*|[root]|[partitions]|[non-partitions]|[leafs]|[containers]|";

bool InNameSet(std::string_view set, std::string_view name) {
  for (std::size_t at = set.find(name); at != std::string_view::npos; at = set.find(name, at + 1)) {
    const std::size_t end = at + name.size();
    if (at > 0 && set[at - 1] == '|' && end < set.size() && set[end] == '|') return true;
  }
  return false;
}

// Reads a class's attributes into the cache the first time the class is met. The class and
// its attributes are cached together or not at all, so a check that fails half-way leaves no
// class that seems read.
void LoadClassAttributes(SchemaView& schema, const std::string& className) {
  if (schema.ClassAttrList.contains(className)) return;
  StringList attributes;
  if (schema.GetClassAttributes) schema.GetClassAttributes(className, attributes);
  std::vector<std::string> lines;
  lines.reserve(attributes.size() + 1);
  lines.push_back(className);
  for (const StringList::Entry& attribute : attributes.entries()) lines.push_back(className + "*" + attribute.text);
  schema.ClassAttrList.addAll(std::move(lines));
}

}  // namespace

namespace {

// What the attribute and class rules share: the element's name and level tests, the key
// lookup of translator files (also for names passed through), and the names accepted
// without lookup. True when the name is to be looked up in the schema.
bool SchemaNameToLookUp(ScanState& s, const RuleContext& c, std::string_view element, const LevelFilter& levels,
                        std::string_view keyPrefix, std::string_view passThrough) {
  if (c.name != element) return false;
  if (!LevelAllowed(levels, s.NodeInfo.Kind, c.level)) return false;
  if (s.NodeInfo.Kind == ikTranslator) {
    CheckKey(s, s.NodeInfo.Resource.Bundle, std::string(keyPrefix).append(c.text), c, c.item);
  }
  return !InNameSet(passThrough, c.text);
}

}  // namespace

void CheckAttributeName(ScanState& s, const RuleContext& c) {
  if (!SchemaNameToLookUp(s, c, "attribute-name", kAttributeNameLevels, "Attribute.", kPassThroughAttributes)) return;
  if (s.schema.SchemaAttributeList.contains(c.text)) {
    MakeRoomForOne(s.NodeInfo.AttributeItems);
    s.NodeInfo.Attributes.add(std::string(c.text), static_cast<std::int64_t>(c.parentItem));
    s.NodeInfo.AttributeItems.push_back(c.item);
  } else {
    AddMessage(s.messages, c.item, kAttributeNotFound, c.text, s.NodeInfo.Id);
  }
}

void CheckObjectType(ScanState& s, const RuleContext& c) {
  if (!SchemaNameToLookUp(s, c, "object-type-name", kObjectTypeLevels, "ObjectType.", kPassThroughClasses)) return;
  if (s.schema.SchemaClassList.contains(c.text)) {
    s.NodeInfo.Classes.add(std::string(c.text));
    LoadClassAttributes(s.schema, std::string(c.text));
  } else {
    AddMessage(s.messages, c.item, kClassNotFound, c.text, s.NodeInfo.Id);
  }
}

void CheckUrlParam(ScanState& s, const RuleContext& c) {
  TNodeInfo& info = s.NodeInfo;
  if (c.parentName != "url-param") {
    info.UrlParam.Key.clear();
    info.UrlParam.Value.clear();
    return;
  }
  if (!LevelAllowed(kUrlParamLevels, info.Kind, c.level)) return;
  if (c.name == "param-key") info.UrlParam.Key = c.text;
  if (c.name == "param-value") info.UrlParam.Value = c.text;
  const std::string& value = info.UrlParam.Value;
  if (info.UrlParam.Key == "eDirSearch" && !value.empty()) {
    info.SearchClass = ReplaceChars(value, "_", ' ');
    if (value.find(' ') != std::string::npos) AddMessage(s.messages, c.item, kBadClassName, value);
  }
  // CheckPreCreate: a "preCreate" value marks the item, whatever its key.
  if (c.name == "param-value" && c.text == "preCreate") info.PreCreate = true;
}

void CheckItemEnd(ScanState& s) {
  TNodeInfo& info = s.NodeInfo;
  if (info.PreCreate && !info.SearchClass.empty()) {
    info.Classes.clear();
    info.Classes.add(info.SearchClass);
  }
  // The window attaches these lines to the element around the attribute names; the
  // attribute-name element itself is where the finding lies.
  const auto itemsOf = [&info](std::size_t i) {
    return MessageItems(static_cast<TreeItem>(info.Attributes[i].object), info.AttributeItems[i]);
  };
  for (std::size_t i = 0; i < info.Attributes.size(); ++i) {
    const std::string& attribute = info.Attributes[i].text;
    if (!s.schema.SchemaAttributeList.contains(attribute)) {
      AddMessage(s.messages, itemsOf(i), kAttributeNotFound, attribute, info.Id);
    }
  }
  std::string classAttribute;
  for (const StringList::Entry& schemaClass : info.Classes.entries()) {
    LoadClassAttributes(s.schema, schemaClass.text);
    for (std::size_t i = 0; i < info.Attributes.size(); ++i) {
      const std::string& attribute = info.Attributes[i].text;
      classAttribute.assign(schemaClass.text).append("*").append(attribute);
      if (s.schema.ClassAttrList.contains(classAttribute)) continue;
      AddMessage(s.messages, itemsOf(i), kAuxiliaryAttribute, attribute, schemaClass.text, info.Id);
    }
  }
}

}  // namespace corvane
