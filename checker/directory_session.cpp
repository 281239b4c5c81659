#include "directory_session.h"

#include "d_util.h"
#include "warnings.h"

namespace corvane {

namespace {

constexpr std::uint32_t kTreeChangedFlag = 4;

}  // namespace

void DirectorySession::release() {
  if (context_ != 0) Client().CtxFree(context_);
  context_ = 0;
}

bool DirectorySession::start() {
  if (started_) return true;
  if ((StartNetWareClient() & 0xFFFF) != 0) return false;
  Client().CtxCreate(&context_);
  started_ = true;
  return true;
}

StringList DirectorySession::trees() const {
  StringList list;
  if (started_) FillTreeList(list);
  return list;
}

std::string DirectorySession::primaryTree() const { return started_ ? GetCurrentTreeName() : std::string(); }

ResultCode DirectorySession::changeTree(const std::string& tree) {
  // Why a tree failed is told in warnings; the window's box shows them under its text.
  WarningCapture warnings;
  const ResultCode code = DSChangeCurrentTree(context_, tree);
  ShowErrorCode(code, "DSChangeCurrentTree", warnings.text());
  ChangeContextFlags(context_, '+', kTreeChangedFlag);
  return code;
}

void DirectorySession::readSchema(SchemaView& schema) {
  schema.SchemaClassList.clear();
  schema.SchemaAttributeList.clear();
  schema.ClassAttrList.clear();
  ReadClassList(context_, schema.SchemaClassList);
  ReadAttributeList(context_, schema.SchemaAttributeList);
  const ContextHandle ctx = context_;
  schema.GetClassAttributes = [ctx](const std::string& className, StringList& attributes) {
    return GetClassAttributes(ctx, className, attributes);
  };
  schema.GetSuperClasses = [ctx](const std::string& className, StringList& superClasses) {
    return ReadSuperClasses(ctx, className, superClasses);
  };
}

void DirectorySession::readSchema(SchemaView& schema, StringList& auxAttributes) {
  readSchema(schema);
  auxAttributes.clear();
  ReadAuxAttributeList(context_, auxAttributes);
}

}  // namespace corvane
