#include "tree_schema.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace corvane::client {
namespace {

// A definition without NAME is known by its OID alone.
std::vector<std::string> NamesOrOid(const std::vector<std::string>& names, const std::string& oid) {
  return names.empty() ? std::vector<std::string>{oid} : names;
}

// Appends the indexes of from that are not yet in seen.
void AppendNew(std::vector<std::size_t>& to, const std::vector<std::size_t>& from, std::unordered_set<std::size_t>& seen) {
  for (const std::size_t i : from)
    if (seen.insert(i).second) to.push_back(i);
}

}  // namespace

TreeSchema::TreeSchema(const SchemaDefinitions& definitions) {
  addAttributes(definitions);
  addClasses(definitions);
  std::vector<Resolution> state(classes_.size(), Resolution::Pending);
  for (std::size_t i = 0; i < classes_.size(); ++i) resolveClass(i, definitions, state);
}

void TreeSchema::addAttributes(const SchemaDefinitions& definitions) {
  for (const auto& def : definitions.attributeTypes) {
    const std::size_t index = attributes_.size();
    attributes_.push_back({NamesOrOid(def.names, def.oid)});
    for (const auto& name : attributes_.back().names) {
      attributeNames_.push_back(name);
      attributeLookup_.add(name, static_cast<std::int64_t>(index));
    }
    attributeLookup_.add(def.oid, static_cast<std::int64_t>(index));
  }
}

void TreeSchema::addClasses(const SchemaDefinitions& definitions) {
  for (const auto& def : definitions.objectClasses) {
    const std::size_t index = classes_.size();
    Class c;
    c.names = NamesOrOid(def.names, def.oid);
    c.oid = def.oid;
    c.flags = def.kind == ClassKind::Auxiliary ? kClassAuxiliary : 0;
    c.containedIn = def.containedIn;
    c.namedBy = def.namedBy;
    for (const auto& name : c.names) {
      classNames_.push_back({index, name});
      classLookup_.add(name, static_cast<std::int64_t>(index));
    }
    classLookup_.add(def.oid, static_cast<std::int64_t>(index));
    classes_.push_back(std::move(c));
  }
}

// An attribute that the tree does not define is kept under the name it was referred to by.
std::size_t TreeSchema::attributeIndex(const std::string& reference) {
  const std::int64_t found = attributeLookup_.indexOfText(reference);
  if (found >= 0) return static_cast<std::size_t>(attributeLookup_[static_cast<std::size_t>(found)].object);
  const std::size_t index = attributes_.size();
  attributes_.push_back({{reference}});
  attributeLookup_.add(reference, static_cast<std::int64_t>(index));
  return index;
}

void TreeSchema::resolveClass(std::size_t i, const SchemaDefinitions& definitions, std::vector<Resolution>& state) {
  if (state[i] != Resolution::Pending) return;
  state[i] = Resolution::Running;
  const ObjectClassDefinition& def = definitions.objectClasses[i];
  std::vector<std::size_t> ownMust;
  std::vector<std::size_t> ownMay;
  for (const auto& ref : def.must) ownMust.push_back(attributeIndex(ref));
  for (const auto& ref : def.may) ownMay.push_back(attributeIndex(ref));

  std::unordered_set<std::size_t> seenMust;
  std::unordered_set<std::size_t> seenMay;
  std::vector<std::size_t> must;
  std::vector<std::size_t> may;
  AppendNew(must, ownMust, seenMust);
  AppendNew(may, ownMay, seenMay);
  for (const auto& ref : def.superClasses) {
    const auto super = findClass(ref);
    classes_[i].superClasses.push_back(super ? super->name : ref);
    if (!super) continue;
    // A class that is still being resolved lies on an inheritance cycle; it adds nothing.
    resolveClass(super->classIndex, definitions, state);
    if (state[super->classIndex] != Resolution::Done) continue;
    AppendNew(must, classes_[super->classIndex].must, seenMust);
    AppendNew(may, classes_[super->classIndex].may, seenMay);
  }
  std::erase_if(may, [&](std::size_t a) { return seenMust.contains(a); });
  classes_[i].must = std::move(must);
  classes_[i].may = std::move(may);
  state[i] = Resolution::Done;
}

std::optional<TreeSchema::ClassName> TreeSchema::findClass(std::string_view nameOrOid) const {
  const std::int64_t found = classLookup_.indexOfText(nameOrOid);
  if (found < 0) return std::nullopt;
  const auto& entry = classLookup_[static_cast<std::size_t>(found)];
  const auto index = static_cast<std::size_t>(entry.object);
  const auto& names = classes_[index].names;
  const bool isName = std::find(names.begin(), names.end(), entry.text) != names.end();
  return ClassName{index, isName ? entry.text : names.front()};
}

ClassRecord TreeSchema::classRecord(std::size_t classIndex) const {
  ClassRecord record;
  const Class& c = classes_[classIndex];
  record.flags = c.flags;
  std::memcpy(record.objectId, c.oid.data(), std::min(c.oid.size(), sizeof record.objectId - 1));
  return record;
}

std::vector<std::string> TreeSchema::attributeNamesOf(const std::vector<std::size_t>& indexes) const {
  std::vector<std::string> names;
  for (const std::size_t i : indexes) names.insert(names.end(), attributes_[i].names.begin(), attributes_[i].names.end());
  return names;
}

std::array<std::vector<std::string>, kClassItemLists> TreeSchema::classItems(std::size_t classIndex) const {
  const Class& c = classes_[classIndex];
  return {c.superClasses, c.containedIn, c.namedBy, attributeNamesOf(c.must), attributeNamesOf(c.may)};
}

}  // namespace corvane::client
