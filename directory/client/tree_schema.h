// The resolved schema of one tree: class and attribute names in delivery order, lookups by
// name or OID with letter case ignored, and each class's item lists with the attributes it
// inherits from all its superclasses. Classes keep only their own attributes; the inherited
// ones are gathered when a class is read, so that deep or wide inheritance costs no more
// memory than its definitions. The schema keeps the definitions it was made of and refers to
// their texts rather than copying them.
#pragma once

#include <array>
#include <cstddef>
#include <forward_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client_types.h"
#include "schema_parser.h"
#include "text_index.h"

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
  explicit TreeSchema(SchemaDefinitions definitions);
  // The schema refers into its own definitions: it may be moved but not copied.
  TreeSchema(const TreeSchema&) = delete;
  TreeSchema& operator=(const TreeSchema&) = delete;
  TreeSchema(TreeSchema&&) = default;

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
  // Texts, each with the index of what it names, found with letter case ignored; of equal
  // texts the first added is found.
  class NameLookup {
   public:
    // Makes room for count texts in all, so that adding them moves nothing.
    void reserve(std::size_t count);
    void add(std::string_view text, std::size_t index);
    struct Found {
      std::string_view text;
      std::size_t index;
    };
    std::optional<Found> find(std::string_view text) const;

   private:
    std::vector<Found> entries_;
    TextIndex index_{TextIndex::Match::Folded};
  };

  // Names lie in definitions_ or, for attributes the definitions refer to but do not define,
  // in undefinedNames_.
  struct Attribute {
    std::span<const std::string> names;
  };
  struct Class {
    std::span<const std::string> names;
    std::uint32_t flags = 0;
    std::vector<std::string> superClasses;  // as item list 0 shows them
    std::vector<std::size_t> supers;        // indexes of the defined ones
    std::vector<std::size_t> must;          // attribute indexes of the class's own attributes
    std::vector<std::size_t> may;
  };

  void addAttributes();
  void addClasses();
  void resolveClasses();
  void warnAboutCycles() const;
  std::size_t attributeIndex(const std::string& reference);
  // Every name of each attribute of indexes, but none that owners (names already given, with
  // letter case ignored) has for another attribute; adds the new ones to owners.
  std::vector<std::string> attributeNamesOf(const std::vector<std::size_t>& indexes, NameLookup& owners) const;

  SchemaDefinitions definitions_;
  std::forward_list<std::string> undefinedNames_;
  std::vector<Attribute> attributes_;
  NameLookup attributeLookup_;  // names and OIDs
  std::vector<Class> classes_;
  NameLookup classLookup_;  // names and OIDs
  std::vector<ClassName> classNames_;
  std::vector<std::string> attributeNames_;
};

}  // namespace corvane::client
