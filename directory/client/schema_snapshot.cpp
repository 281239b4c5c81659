#include "schema_snapshot.h"

#include <string>
#include <vector>

namespace corvane::client {
namespace {

std::vector<std::string> Texts(std::span<const std::string_view> views) { return {views.begin(), views.end()}; }

}  // namespace

std::size_t AddSnapshotDefinitions(const SchemaSnapshot& snapshot, std::string_view sourceName,
                                   SchemaDefinitions& out) {
  const std::size_t source = out.sources.size();
  out.sources.emplace_back(sourceName);
  out.attributeTypes.reserve(out.attributeTypes.size() + snapshot.attributeTypes.size());
  for (const SnapshotAttributeType& a : snapshot.attributeTypes)
    out.attributeTypes.push_back({std::string(a.oid), Texts(a.names)});
  out.objectClasses.reserve(out.objectClasses.size() + snapshot.objectClasses.size());
  for (const SnapshotObjectClass& c : snapshot.objectClasses)
    out.objectClasses.push_back({std::string(c.oid),
                                 Texts(c.names),
                                 Texts(c.superClasses),
                                 c.kind,
                                 Texts(c.must),
                                 Texts(c.may),
                                 Texts(c.containedIn),
                                 Texts(c.namedBy),
                                 {source, c.line}});
  return snapshot.attributeTypes.size() + snapshot.objectClasses.size();
}

}  // namespace corvane::client
