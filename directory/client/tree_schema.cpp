#include "tree_schema.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "d_util.h"
#include "warnings.h"

namespace corvane::client {
namespace {

// A definition without NAME is known by its OID alone.
std::span<const std::string> NamesOrOid(const std::vector<std::string>& names, const std::string& oid) {
  return names.empty() ? std::span(&oid, 1) : std::span(names);
}

// What the definitions of one kind add to the schema: an entry each, their names (the OID
// of one without NAME), and a lookup text for each name and each OID.
struct Room {
  std::size_t entries = 0;
  std::size_t names = 0;
  std::size_t lookups = 0;
};

template <typename Definition>
Room RoomFor(const std::vector<Definition>& defs) {
  Room room{defs.size(), 0, defs.size()};
  for (const Definition& def : defs) room.names += std::max<std::size_t>(def.names.size(), 1);
  room.lookups += room.names;
  return room;
}

// Appends the indexes of from that are not yet marked in seen, and marks them.
void AppendNew(std::vector<std::size_t>& to, const std::vector<std::size_t>& from, std::vector<char>& seen) {
  for (const std::size_t i : from) {
    if (seen[i] != 0) continue;
    seen[i] = 1;
    to.push_back(i);
  }
}

// Every directory knows the root class without a definition, so schema files name it as a
// superclass without defining it.
bool IsTop(std::string_view reference) { return SameText(reference, "top") || reference == "2.5.6.0"; }

void Warn(const std::string& where, const std::string& what) { WriteWarning(where + ": warning: " + what); }

// "'a', 'b' and 'c'", naming at most a few of many.
std::string NameList(const std::vector<std::string>& names, std::size_t total) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() && names.size() == total ? " and " : ", ";
    text += '\'' + names[i] + '\'';
  }
  if (total > names.size()) text += " and " + std::to_string(total - names.size()) + " more";
  return text;
}

}  // namespace

void TreeSchema::NameLookup::reserve(std::size_t count) {
  entries_.reserve(count);
  index_.reserve(count);
}

void TreeSchema::NameLookup::add(std::string_view text, std::size_t index) {
  const auto at = [this](std::size_t i) { return entries_[i].text; };
  index_.reserve(entries_.size() + 1);
  entries_.push_back({text, index});
  index_.insert(entries_.size() - 1, at);
}

std::optional<TreeSchema::NameLookup::Found> TreeSchema::NameLookup::find(std::string_view text) const {
  const std::int64_t found = index_.find(text, [this](std::size_t i) { return entries_[i].text; });
  if (found < 0) return std::nullopt;
  return entries_[static_cast<std::size_t>(found)];
}

TreeSchema::TreeSchema(SchemaDefinitions definitions) : definitions_(std::move(definitions)) {
  addAttributes();
  addClasses();
  resolveClasses();
  warnAboutCycles();
}

void TreeSchema::addAttributes() {
  const Room room = RoomFor(definitions_.attributeTypes);
  attributes_.reserve(room.entries);
  attributeNames_.reserve(room.names);
  attributeLookup_.reserve(room.lookups);
  for (const auto& def : definitions_.attributeTypes) {
    const std::size_t index = attributes_.size();
    attributes_.push_back({NamesOrOid(def.names, def.oid)});
    for (const auto& name : attributes_.back().names) {
      attributeNames_.push_back(name);
      attributeLookup_.add(name, index);
    }
    attributeLookup_.add(def.oid, index);
  }
}

void TreeSchema::addClasses() {
  const Room room = RoomFor(definitions_.objectClasses);
  classes_.reserve(room.entries);
  classNames_.reserve(room.names);
  classLookup_.reserve(room.lookups);
  for (const auto& def : definitions_.objectClasses) {
    const std::size_t index = classes_.size();
    Class c;
    c.names = NamesOrOid(def.names, def.oid);
    c.flags = def.kind == ClassKind::Auxiliary ? kClassAuxiliary : 0;
    for (const auto& name : c.names) {
      classNames_.push_back({index, name});
      classLookup_.add(name, index);
    }
    classLookup_.add(def.oid, index);
    classes_.push_back(std::move(c));
  }
}

// An attribute that the tree does not define is kept under the name it was referred to by.
std::size_t TreeSchema::attributeIndex(const std::string& reference) {
  if (const auto found = attributeLookup_.find(reference)) return found->index;
  const std::size_t index = attributes_.size();
  const std::string& name = undefinedNames_.emplace_front(reference);
  attributes_.push_back({std::span(&name, 1)});
  attributeLookup_.add(name, index);
  return index;
}

void TreeSchema::resolveClasses() {
  for (std::size_t i = 0; i < classes_.size(); ++i) {
    const ObjectClassDefinition& def = definitions_.objectClasses[i];
    Class& c = classes_[i];
    c.must.reserve(def.must.size());
    c.may.reserve(def.may.size());
    c.superClasses.reserve(def.superClasses.size());
    c.supers.reserve(def.superClasses.size());
    for (const auto& ref : def.must) c.must.push_back(attributeIndex(ref));
    for (const auto& ref : def.may) c.may.push_back(attributeIndex(ref));
    for (const auto& ref : def.superClasses) {
      const auto super = findClass(ref);
      c.superClasses.push_back(super ? super->name : ref);
      if (super)
        c.supers.push_back(super->classIndex);
      else if (!IsTop(ref))
        Warn(definitions_.describe(def.where),
             "superclass '" + ref + "' of class '" + c.names.front() + "' is not defined");
    }
  }
}

// The strongly connected components of the superclass graph (Tarjan), on an explicit stack
// since a chain of superclasses may be as long as the schema. Each one that holds a cycle is
// warned about once, at the line of its first class.
void TreeSchema::warnAboutCycles() const {
  constexpr std::size_t kUnvisited = std::numeric_limits<std::size_t>::max();
  struct Frame {
    std::size_t cls;
    std::size_t nextSuper;
  };
  const std::size_t n = classes_.size();
  std::vector<std::size_t> order(n, kUnvisited);
  std::vector<std::size_t> low(n, 0);
  std::vector<bool> onStack(n, false);
  std::vector<std::size_t> stack;
  std::vector<Frame> frames;
  std::size_t visited = 0;
  const auto enter = [&](std::size_t v) {
    order[v] = low[v] = visited++;
    stack.push_back(v);
    onStack[v] = true;
    frames.push_back({v, 0});
  };
  for (std::size_t root = 0; root < n; ++root) {
    if (order[root] != kUnvisited) continue;
    enter(root);
    while (!frames.empty()) {
      const std::size_t v = frames.back().cls;
      const std::vector<std::size_t>& supers = classes_[v].supers;
      if (frames.back().nextSuper < supers.size()) {
        const std::size_t w = supers[frames.back().nextSuper++];
        if (order[w] == kUnvisited)
          enter(w);
        else if (onStack[w])
          low[v] = std::min(low[v], order[w]);
        continue;
      }
      frames.pop_back();
      if (!frames.empty()) low[frames.back().cls] = std::min(low[frames.back().cls], low[v]);
      if (low[v] != order[v]) continue;
      std::vector<std::size_t> component;
      std::size_t w = 0;
      do {
        w = stack.back();
        stack.pop_back();
        onStack[w] = false;
        component.push_back(w);
      } while (w != v);
      const bool cycle = component.size() > 1 || std::find(supers.begin(), supers.end(), v) != supers.end();
      if (!cycle) continue;
      std::sort(component.begin(), component.end());
      const std::string where = definitions_.describe(definitions_.objectClasses[component.front()].where);
      if (component.size() == 1) {
        Warn(where, "class '" + classes_[v].names.front() + "' is its own superclass");
        continue;
      }
      std::vector<std::string> names;
      for (std::size_t k = 0; k < std::min<std::size_t>(component.size(), 3); ++k)
        names.push_back(classes_[component[k]].names.front());
      Warn(where, "classes " + NameList(names, component.size()) +
                      " are superclasses of one another; each of them carries the attributes of all");
    }
  }
}

std::optional<TreeSchema::ClassName> TreeSchema::findClass(std::string_view nameOrOid) const {
  const auto found = classLookup_.find(nameOrOid);
  if (!found) return std::nullopt;
  const auto& names = classes_[found->index].names;
  const bool isName = std::find(names.begin(), names.end(), found->text) != names.end();
  return ClassName{found->index, std::string(isName ? found->text : std::string_view(names.front()))};
}

ClassRecord TreeSchema::classRecord(std::size_t classIndex) const {
  ClassRecord record;
  record.flags = classes_[classIndex].flags;
  const std::string& oid = definitions_.objectClasses[classIndex].oid;
  std::memcpy(record.objectId, oid.data(), std::min(oid.size(), sizeof record.objectId - 1));
  return record;
}

std::vector<std::string> TreeSchema::attributeNamesOf(const std::vector<std::size_t>& indexes,
                                                      NameLookup& owners) const {
  std::vector<std::string> names;
  for (const std::size_t i : indexes) {
    for (const auto& name : attributes_[i].names) {
      const auto owner = owners.find(name);
      if (!owner) owners.add(name, i);
      if (!owner || owner->index == i) names.push_back(name);
    }
  }
  return names;
}

std::array<std::vector<std::string>, kClassItemLists> TreeSchema::classItems(std::size_t classIndex) const {
  // Depth first, superclasses in the order named, each class once (so a cycle ends the walk
  // and gives every class on it the same attributes): a class's own attributes come first,
  // then those of its first superclass and that one's superclasses, and so on.
  std::vector<std::size_t> must;
  std::vector<std::size_t> may;
  // Flags by index: a class names few of the schema's attributes and classes, but a look-up
  // in a flag costs less than in a hash set.
  std::vector<char> seenMust(attributes_.size());
  std::vector<char> seenMay(attributes_.size());
  std::vector<char> visited(classes_.size());
  std::vector<std::size_t> pending{classIndex};
  while (!pending.empty()) {
    const std::size_t i = pending.back();
    pending.pop_back();
    if (visited[i] != 0) continue;
    visited[i] = 1;
    const Class& c = classes_[i];
    AppendNew(must, c.must, seenMust);
    AppendNew(may, c.may, seenMay);
    pending.insert(pending.end(), c.supers.rbegin(), c.supers.rend());
  }
  std::erase_if(may, [&](std::size_t a) { return seenMust[a] != 0; });
  const ObjectClassDefinition& def = definitions_.objectClasses[classIndex];
  NameLookup owners;
  std::vector<std::string> mustNames = attributeNamesOf(must, owners);
  return {classes_[classIndex].superClasses, def.containedIn, def.namedBy, std::move(mustNames),
          attributeNamesOf(may, owners)};
}

}  // namespace corvane::client
