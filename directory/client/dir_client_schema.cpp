// Buffers and schema reads of the directory client. A read serializes as many whole
// entries as fit into the caller's result buffer; the count and next calls read them back.
// Block layout: kind, level and entry count (32 bits each), then the entries; a text is its
// length (32 bits) followed by its bytes.
#include <algorithm>
#include <cstring>

#include "client_state.h"
#include "dir_client.h"

namespace corvane::client {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum BlockKind : std::uint32_t { kClassBlock = 1, kAttributeBlock = 2, kRequestBlock = 3 };
constexpr std::size_t kLevelOffset = 4;
constexpr std::size_t kCountOffset = 8;
constexpr std::size_t kHeaderBytes = 12;

void PutU32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutText(Bytes& out, std::string_view text) {
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

std::uint32_t U32At(const DirBuffer& b, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | b.bytes[offset + static_cast<std::size_t>(i)];
  return value;
}

void SetU32At(DirBuffer& b, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) b.bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Appends bytes when they fit into what is left of the buffer.
bool Append(DirBuffer& b, const Bytes& bytes) {
  if (bytes.size() > b.bytes.size() - b.used) return false;
  std::copy(bytes.begin(), bytes.end(), b.bytes.begin() + static_cast<std::ptrdiff_t>(b.used));
  b.used += bytes.size();
  return true;
}

bool StartBlock(DirBuffer& b, BlockKind kind, std::uint32_t level) {
  b.used = 0;
  b.cursor = 0;
  Bytes header;
  PutU32(header, kind);
  PutU32(header, level);
  PutU32(header, 0);
  return Append(b, header);
}

bool IsBlock(const DirBuffer* b, BlockKind kind) { return b && b->used >= kHeaderBytes && U32At(*b, 0) == kind; }

bool ReadU32(DirBuffer& b, std::uint32_t& value) {
  if (b.used - b.cursor < 4) return false;
  value = U32At(b, b.cursor);
  b.cursor += 4;
  return true;
}

bool ReadText(DirBuffer& b, std::string_view& text) {
  std::uint32_t length = 0;
  if (!ReadU32(b, length) || b.used - b.cursor < length) return false;
  text = std::string_view(reinterpret_cast<const char*>(b.bytes.data() + b.cursor), length);
  b.cursor += length;
  return true;
}

// Callers' name buffers hold kMaxSchemaNameBytes; schema names are never longer.
void CopyName(std::string_view text, char* name) {
  const std::size_t n = std::min(text.size(), kMaxSchemaNameBytes - 1);
  std::memcpy(name, text.data(), n);
  name[n] = '\0';
}

// Fills a block with the entries from the handle's position on that fit and moves the
// handle on; entryBytes(i) serializes entry i.
template <typename EntryBytes>
ResultCode FillBlock(DirBuffer& result, BlockKind kind, std::uint32_t level, std::size_t total, std::int32_t& handle,
                     EntryBytes entryBytes) {
  const bool validHandle = handle == kNoIteration || (handle >= 0 && static_cast<std::size_t>(handle) < total);
  if (!validHandle) return kCodeInvalidIteration;
  if (!StartBlock(result, kind, level)) return kCodeBufferTooSmall;
  const std::size_t start = handle == kNoIteration ? 0 : static_cast<std::size_t>(handle);
  std::size_t next = start;
  while (next < total && Append(result, entryBytes(next))) ++next;
  if (next == start && start < total) return kCodeBufferTooSmall;
  SetU32At(result, kCountOffset, static_cast<std::uint32_t>(next - start));
  handle = next == total ? kNoIteration : static_cast<std::int32_t>(next);
  return 0;
}

Bytes ClassEntry(const TreeSchema& schema, const TreeSchema::ClassName& c, std::uint32_t level) {
  Bytes out;
  PutText(out, c.name);
  if (level == kLevelNames) return out;
  const ClassRecord record = schema.classRecord(c.classIndex);
  PutU32(out, record.flags);
  out.insert(out.end(), record.objectId, record.objectId + sizeof record.objectId);
  if (level != kLevelClassDefinitions) return out;
  for (const auto& items : schema.classItems(c.classIndex)) {
    PutU32(out, static_cast<std::uint32_t>(items.size()));
    for (const auto& item : items) PutText(out, item);
  }
  return out;
}

// The classes a request names, under the tree's spelling; fails on a class it lacks.
ResultCode RequestedClasses(const TreeSchema& schema, DirBuffer* request, std::vector<TreeSchema::ClassName>& out) {
  if (!IsBlock(request, kRequestBlock) || request->operation != kOperationReadClassDef) return kCodeInvalidRequest;
  request->cursor = kHeaderBytes;
  for (std::uint32_t i = 0, n = U32At(*request, kCountOffset); i < n; ++i) {
    std::string_view name;
    if (!ReadText(*request, name)) return kCodeInvalidRequest;
    const auto found = schema.findClass(name);
    if (!found) return kCodeNoSuchClass;
    out.push_back(*found);
  }
  return 0;
}

bool ValidClassLevel(std::uint32_t level) {
  return level == kLevelNames || level == kLevelClassDefinitions || level == kLevelClassRecords;
}

// Positions the cursor after the header of a result block and gives its entry count.
ResultCode BlockCount(ContextHandle ctx, DirBuffer* result, BlockKind kind, std::uint32_t* count) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  if (!IsBlock(result, kind) || !count) return kCodeInvalidBuffer;
  *count = U32At(*result, kCountOffset);
  result->cursor = kHeaderBytes;
  return 0;
}

// Reads the next name of a result block into the caller's name buffer.
ResultCode NextName(ContextHandle ctx, DirBuffer* result, BlockKind kind, char* name) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  if (!IsBlock(result, kind) || result->cursor < kHeaderBytes || !name) return kCodeInvalidBuffer;
  std::string_view text;
  if (!ReadText(*result, text)) return kCodeBufferExhausted;
  CopyName(text, name);
  return 0;
}

}  // namespace

ResultCode BufAlloc(std::uint32_t size, DirBuffer** buffer) {
  if (!buffer) return kCodeInvalidBuffer;
  if (size == 0 || size > kMaxBufferBytes) return kCodeInvalidBufferSize;
  *buffer = new DirBuffer{Bytes(size), 0, 0, 0};
  return 0;
}

ResultCode BufFree(DirBuffer* buffer) {
  if (!buffer) return kCodeInvalidBuffer;
  delete buffer;
  return 0;
}

ResultCode BufInit(ContextHandle ctx, std::uint32_t operation, DirBuffer* buffer) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  if (!buffer) return kCodeInvalidBuffer;
  if (operation != kOperationReadClassDef) return kCodeInvalidRequest;
  if (!StartBlock(*buffer, kRequestBlock, 0)) return kCodeBufferTooSmall;
  buffer->operation = operation;
  return 0;
}

ResultCode BufPutClassName(ContextHandle ctx, DirBuffer* buffer, const char* name) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  if (!IsBlock(buffer, kRequestBlock) || buffer->operation != kOperationReadClassDef || !name) return kCodeInvalidBuffer;
  Bytes entry;
  PutText(entry, name);
  if (!Append(*buffer, entry)) return kCodeBufferTooSmall;
  SetU32At(*buffer, kCountOffset, U32At(*buffer, kCountOffset) + 1);
  return 0;
}

ResultCode SchemaReadClasses(ContextHandle ctx, std::uint32_t level, std::uint8_t allClasses, DirBuffer* request,
                             std::int32_t* handle, DirBuffer* result) {
  ResultCode code = 0;
  const TreeSchema* schema = ContextSchema(ctx, code);
  if (!schema) return code;
  if (!handle || !result) return kCodeInvalidBuffer;
  if (!ValidClassLevel(level)) return kCodeInvalidLevel;
  std::vector<TreeSchema::ClassName> requested;
  if (!allClasses && (code = RequestedClasses(*schema, request, requested)) != 0) return code;
  const auto& selection = allClasses ? schema->classNames() : requested;
  return FillBlock(*result, kClassBlock, level, selection.size(), *handle,
                   [&](std::size_t i) { return ClassEntry(*schema, selection[i], level); });
}

ResultCode SchemaClassCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count) {
  return BlockCount(ctx, result, kClassBlock, count);
}

ResultCode SchemaNextClass(ContextHandle ctx, DirBuffer* result, char* name, ClassRecord* record) {
  if (const ResultCode code = NextName(ctx, result, kClassBlock, name); code != 0) return code;
  if (U32At(*result, kLevelOffset) == kLevelNames) return 0;
  ClassRecord read;
  if (!ReadU32(*result, read.flags) || result->used - result->cursor < sizeof read.objectId) return kCodeBufferExhausted;
  std::memcpy(read.objectId, result->bytes.data() + result->cursor, sizeof read.objectId);
  result->cursor += sizeof read.objectId;
  if (record) *record = read;
  return 0;
}

ResultCode SchemaItemCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count) {
  if (!FindContext(ctx)) return kCodeInvalidContext;
  if (!IsBlock(result, kClassBlock) || U32At(*result, kLevelOffset) != kLevelClassDefinitions || !count)
    return kCodeInvalidBuffer;
  return ReadU32(*result, *count) ? 0 : kCodeBufferExhausted;
}

ResultCode SchemaNextItem(ContextHandle ctx, DirBuffer* result, char* name) {
  return NextName(ctx, result, kClassBlock, name);
}

ResultCode SchemaReadAttributes(ContextHandle ctx, std::uint32_t level, std::uint8_t allAttributes, DirBuffer*,
                                std::int32_t* handle, DirBuffer* result) {
  ResultCode code = 0;
  const TreeSchema* schema = ContextSchema(ctx, code);
  if (!schema) return code;
  if (!handle || !result) return kCodeInvalidBuffer;
  if (level != kLevelNames) return kCodeInvalidLevel;
  // Attribute definitions are only ever read all at once.
  if (!allAttributes) return kCodeInvalidRequest;
  const auto& names = schema->attributeNames();
  return FillBlock(*result, kAttributeBlock, level, names.size(), *handle, [&](std::size_t i) {
    Bytes out;
    PutText(out, names[i]);
    return out;
  });
}

ResultCode SchemaAttributeCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count) {
  return BlockCount(ctx, result, kAttributeBlock, count);
}

ResultCode SchemaNextAttribute(ContextHandle ctx, DirBuffer* result, char* name, AttributeRecord*) {
  return NextName(ctx, result, kAttributeBlock, name);
}

}  // namespace corvane::client
