// The resolved schema of one tree: class and attribute names in delivery order, lookups by
// name or OID with letter case ignored, and each class's item lists with the attributes it
// inherits from all its superclasses. Classes keep only their own attributes; the inherited
// ones are gathered when a class is read, so that deep or wide inheritance costs no more
// memory than its definitions.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "client_types.h"
#include "schema_parser.h"
#include "string_list.h"

namespace corvane::client {

class TreeSchema {
 public:
  // A class as delivered: its index and one of its names.
  struct ClassName {
    std::size_t classIndex;
    std::string name;
  };

  // Warns on standard error, with file and line, about inheritance cycles and superclasses
  // that the definitions do not define.
  explicit TreeSchema(const SchemaDefinitions& definitions);

  // Every name of every class, in definition order.
  const std::vector<ClassName>& classNames() const { return classNames_; }
  // Every name of every attribute, in definition order.
  const std::vector<std::string>& attributeNames() const { return attributeNames_; }
  // The class called nameOrOid, under the tree's own spelling of that name.
  std::optional<ClassName> findClass(std::string_view nameOrOid) const;
  // Flags word and object identifier of a class.
  ClassRecord classRecord(std::size_t classIndex) const;
  // Item lists 0 to 4 of a class; lists 3 and 4 give every name of each attribute, inherited
  // ones included, but none equal (letter case aside) to a name of another attribute before
  // it: names in them that differ only in letter case are spellings of one attribute. Every
  // class of an inheritance cycle inherits from all the others.
  std::array<std::vector<std::string>, kClassItemLists> classItems(std::size_t classIndex) const;

 private:
  struct Attribute {
    std::vector<std::string> names;
  };
  struct Class {
    std::vector<std::string> names;
    std::string oid;
    std::uint32_t flags = 0;
    std::vector<std::string> superClasses;  // as item list 0 shows them
    std::vector<std::size_t> supers;        // indexes of the defined ones
    std::vector<std::string> containedIn;
    std::vector<std::string> namedBy;
    std::vector<std::size_t> must;  // attribute indexes of the class's own attributes
    std::vector<std::size_t> may;
  };

  void addAttributes(const SchemaDefinitions& definitions);
  void addClasses(const SchemaDefinitions& definitions);
  void resolveClasses(const SchemaDefinitions& definitions);
  void warnAboutCycles(const SchemaDefinitions& definitions) const;
  std::size_t attributeIndex(const std::string& reference);
  // Attribute indexes by their names in upper case, as far as an item list gave them.
  using NameOwners = std::unordered_map<std::string, std::size_t>;
  std::vector<std::string> attributeNamesOf(const std::vector<std::size_t>& indexes, NameOwners& owners) const;

  std::vector<Attribute> attributes_;
  StringList attributeLookup_;  // names and OIDs, object = attribute index
  std::vector<Class> classes_;
  StringList classLookup_;  // names and OIDs, object = class index
  std::vector<ClassName> classNames_;
  std::vector<std::string> attributeNames_;
};

}  // namespace corvane::client
