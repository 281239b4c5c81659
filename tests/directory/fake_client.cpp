#include "fake_client.h"

#include <algorithm>
#include <cstring>

namespace corvane::test {
namespace {

using namespace client;

// What the count/next calls walk through: the classes or attributes of the last block.
struct BlockState {
  std::vector<const FakeClass*> classes;
  std::vector<std::string> attributes;
  std::size_t nextEntry = 0;
  const FakeClass* current = nullptr;
  std::size_t nextList = 0;
  std::size_t nextItem = 0;
  std::string requested;
};

BlockState block;

void Copy(const std::string& text, void* buffer, std::size_t size = kMaxSchemaNameBytes) {
  std::strncpy(static_cast<char*>(buffer), text.c_str(), size - 1);
  static_cast<char*>(buffer)[size - 1] = '\0';
}

ResultCode ClientInit(std::uint32_t, std::uint32_t) {
  ++Script().initCalls;
  return Script().initCode;
}

ResultCode ConnGetPrimary(ConnHandle* conn) {
  *conn = Script().primary;
  return Script().primaryCode;
}

ResultCode ConnScan(std::uint32_t* iterator, ConnHandle* conn) {
  if (*iterator >= Script().treeInfo.size()) return Script().scanEndCode;
  *conn = ++*iterator;
  return 0;
}

ResultCode ConnOpen(ConnHandle conn, std::uint32_t, std::uint32_t, std::uint32_t* reference) {
  *reference = conn;
  return 0;
}

ResultCode ConnGetInfo(ConnHandle conn, std::uint32_t, std::uint32_t size, void* buffer) {
  if (const auto it = Script().infoCodes.find(conn); it != Script().infoCodes.end()) return it->second;
  Copy(Script().treeInfo.at(conn - 1), buffer, size);
  return 0;
}

ResultCode CtxCreate(ContextHandle* ctx) {
  *ctx = 1;
  return 0;
}

ResultCode CtxFree(ContextHandle) { return 0; }

ResultCode CtxGet(ContextHandle, std::uint32_t key, void* value) {
  if (key == kContextFlags) std::memcpy(value, &Script().flags, sizeof Script().flags);
  if (key == kContextTreeName) Copy(Script().contextTree, value, kContextTextBytes);
  if (key == kContextNameContext) Copy(Script().nameContext, value, kContextTextBytes);
  return 0;
}

ResultCode CtxSet(ContextHandle, std::uint32_t key, const void* value) {
  Script().keysSet.push_back(key);
  const char* text = static_cast<const char*>(value);
  if (key == kContextFlags) std::memcpy(&Script().flags, value, sizeof Script().flags);
  if (key == kContextNameContext) Script().nameContext = text;
  if (key != kContextTreeName) return 0;
  if (Script().treeSetCode == 0) Script().contextTree = text;
  return Script().treeSetCode;
}

ResultCode CtxDefaultName(ContextHandle, std::uint32_t size, char* buffer) {
  Copy(Script().defaultName, buffer, size);
  return Script().defaultNameCode;
}

ResultCode CtxMyName(ContextHandle, char* buffer) {
  Copy(Script().myName, buffer, kMyNameBytes);
  return 0;
}

ResultCode BufAlloc(std::uint32_t size, DirBuffer** buffer) {
  if (Script().allocCode != 0) return Script().allocCode;
  *buffer = new DirBuffer{client::BufferBytes(size), 0, 0, 0};
  ++Script().liveBuffers;
  return 0;
}

ResultCode BufFree(DirBuffer* buffer) {
  delete buffer;
  --Script().liveBuffers;
  return 0;
}

ResultCode BufInit(ContextHandle, std::uint32_t, DirBuffer*) { return 0; }

ResultCode BufPutClassName(ContextHandle, DirBuffer*, const char* name) {
  block.requested = name;
  return 0;
}

// Moves the handle over the next block of total entries; the block is [begin, end).
ResultCode NextBlock(std::int32_t* handle, std::size_t total, std::size_t& begin, std::size_t& end) {
  FakeScript& s = Script();
  const int read = s.reads++;
  if (read == s.failReadAt) return s.failCode;
  begin = *handle == kNoIteration ? 0 : static_cast<std::size_t>(*handle);
  end = std::min(begin + s.perBlock, total);
  if (s.stallHandle && read > 0) return 0;
  *handle = end == total ? kNoIteration : static_cast<std::int32_t>(end);
  return 0;
}

ResultCode SchemaReadClasses(ContextHandle, std::uint32_t, std::uint8_t allClasses, DirBuffer*, std::int32_t* handle,
                             DirBuffer*) {
  std::vector<const FakeClass*> selection;
  for (const auto& c : Script().classes)
    if (allClasses || c.name == block.requested) selection.push_back(&c);
  if (selection.empty() && !allClasses) return kCodeNoSuchClass;
  std::size_t begin = 0, end = 0;
  if (const ResultCode code = NextBlock(handle, selection.size(), begin, end); code != 0) return code;
  block.classes.assign(selection.begin() + static_cast<std::ptrdiff_t>(begin),
                       selection.begin() + static_cast<std::ptrdiff_t>(end));
  block.nextEntry = 0;
  return 0;
}

ResultCode SchemaClassCount(ContextHandle, DirBuffer*, std::uint32_t* count) {
  *count = static_cast<std::uint32_t>(block.classes.size());
  return 0;
}

ResultCode SchemaNextClass(ContextHandle, DirBuffer*, char* name, ClassRecord* record) {
  block.current = block.classes.at(block.nextEntry++);
  block.nextList = 0;
  Copy(block.current->name, name);
  record->flags = block.current->flags;
  return 0;
}

ResultCode SchemaItemCount(ContextHandle, DirBuffer*, std::uint32_t* count) {
  *count = static_cast<std::uint32_t>(block.current->items.at(block.nextList++).size());
  block.nextItem = 0;
  return 0;
}

ResultCode SchemaNextItem(ContextHandle, DirBuffer*, char* name) {
  Copy(block.current->items.at(block.nextList - 1).at(block.nextItem++), name);
  return 0;
}

ResultCode SchemaReadAttributes(ContextHandle, std::uint32_t, std::uint8_t, DirBuffer*, std::int32_t* handle,
                                DirBuffer*) {
  const auto& all = Script().attributes;
  std::size_t begin = 0, end = 0;
  if (const ResultCode code = NextBlock(handle, all.size(), begin, end); code != 0) return code;
  block.attributes.assign(all.begin() + static_cast<std::ptrdiff_t>(begin),
                          all.begin() + static_cast<std::ptrdiff_t>(end));
  block.nextEntry = 0;
  return 0;
}

ResultCode SchemaAttributeCount(ContextHandle, DirBuffer*, std::uint32_t* count) {
  *count = static_cast<std::uint32_t>(block.attributes.size());
  return 0;
}

ResultCode SchemaNextAttribute(ContextHandle, DirBuffer*, char* name, AttributeRecord*) {
  Copy(block.attributes.at(block.nextEntry++), name);
  return 0;
}

const char* ErrorText(ResultCode code) {
  const auto it = Script().errorTexts.find(code);
  return it == Script().errorTexts.end() ? "Unknown error" : it->second.c_str();
}

}  // namespace

FakeScript& Script() {
  static FakeScript script;
  return script;
}

FakeClientScope::FakeClientScope()
    : previous_(SetClientFunctions({ClientInit,
                                    ConnGetPrimary,
                                    ConnScan,
                                    ConnOpen,
                                    ConnGetInfo,
                                    CtxCreate,
                                    CtxFree,
                                    CtxGet,
                                    CtxSet,
                                    CtxDefaultName,
                                    CtxMyName,
                                    BufAlloc,
                                    BufFree,
                                    BufInit,
                                    BufPutClassName,
                                    SchemaReadClasses,
                                    SchemaClassCount,
                                    SchemaNextClass,
                                    SchemaItemCount,
                                    SchemaNextItem,
                                    SchemaReadAttributes,
                                    SchemaAttributeCount,
                                    SchemaNextAttribute,
                                    ErrorText})) {
  Script() = FakeScript{};
  block = BlockState{};
}

FakeClientScope::~FakeClientScope() { SetClientFunctions(previous_); }

}  // namespace corvane::test
