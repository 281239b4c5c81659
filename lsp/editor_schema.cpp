#include "editor_schema.h"

namespace corvane::lsp {

namespace {

// What the directory answers for a class it does not know.
constexpr std::int32_t kNoSuchClass = -1;

}  // namespace

EditorSchema::EditorSchema(const SchemaView& schema) {
  view_.SchemaClassList = schema.SchemaClassList;
  view_.SchemaAttributeList = schema.SchemaAttributeList;
  for (const StringList::Entry& c : schema.SchemaClassList.entries()) {
    ClassDefinition definition;
    if (schema.GetClassAttributes) definition.attributesCode = schema.GetClassAttributes(c.text, definition.attributes);
    if (schema.GetSuperClasses) definition.superClassesCode = schema.GetSuperClasses(c.text, definition.superClasses);
    classes_.try_emplace(c.text, std::move(definition));
  }
  view_.GetClassAttributes = [this](const std::string& className, StringList& attributes) {
    const auto it = classes_.find(className);
    if (it == classes_.end()) return kNoSuchClass;
    attributes = it->second.attributes;
    return it->second.attributesCode;
  };
  view_.GetSuperClasses = [this](const std::string& className, StringList& superClasses) {
    const auto it = classes_.find(className);
    if (it == classes_.end()) return kNoSuchClass;
    superClasses = it->second.superClasses;
    return it->second.superClassesCode;
  };
}

}  // namespace corvane::lsp
