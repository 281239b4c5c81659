// Buffers and schema reads of the directory client. A read serializes as many whole
// entries as fit into the caller's result buffer; the count and next calls read them back.
// Block layout: kind, level and entry count (32 bits each), then the entries; a text is its
// length (32 bits) followed by its bytes. Only a class definition may be larger than a block;
// it is then split over several blocks (see FillClassDefinitions).
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <optional>
#include <span>

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
  for (int i = 0; i < 4; ++i)
    b.bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Appends bytes when they fit into what is left of the buffer.
bool Append(DirBuffer& b, std::span<const std::uint8_t> bytes) {
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
// handle on; entryBytes(i, out) serializes entry i into the empty out.
template <typename EntryBytes>
ResultCode FillBlock(DirBuffer& result, BlockKind kind, std::uint32_t level, std::size_t total, std::int32_t& handle,
                     EntryBytes entryBytes) {
  const bool validHandle = handle == kNoIteration || (handle >= 0 && static_cast<std::size_t>(handle) < total);
  if (!validHandle) return kCodeInvalidIteration;
  if (!StartBlock(result, kind, level)) return kCodeBufferTooSmall;
  const std::size_t start = handle == kNoIteration ? 0 : static_cast<std::size_t>(handle);
  std::size_t next = start;
  Bytes entry;
  for (; next < total; ++next) {
    entry.clear();
    entryBytes(next, entry);
    if (!Append(result, entry)) break;
  }
  if (next == start && start < total) return kCodeBufferTooSmall;
  SetU32At(result, kCountOffset, static_cast<std::uint32_t>(next - start));
  handle = next == total ? kNoIteration : static_cast<std::int32_t>(next);
  return 0;
}

void PutClassHead(Bytes& out, const TreeSchema& schema, const TreeSchema::ClassName& c) {
  PutText(out, c.name);
  const ClassRecord record = schema.classRecord(c.classIndex);
  PutU32(out, record.flags);
  out.insert(out.end(), record.objectId, record.objectId + sizeof record.objectId);
}

void PutClassEntry(Bytes& out, const TreeSchema& schema, const TreeSchema::ClassName& c, std::uint32_t level) {
  if (level != kLevelNames) return PutClassHead(out, schema, c);
  PutText(out, c.name);
}

using ClassItems = std::array<std::vector<std::string>, kClassItemLists>;
constexpr std::size_t kCountBytes = 4;
// Continuations a context keeps for reads that were not followed to their end.
constexpr std::size_t kOpenContinuations = 8;

std::size_t ItemCount(const ClassItems& items) {
  std::size_t count = 0;
  for (const auto& list : items) count += list.size();
  return count;
}

// Appends a class definition entry with the class's items from the skip'th on (over the
// five lists in turn), as many as fit; gives the number placed, or nothing when not even
// the name, the record and the five counts fit.
std::optional<std::size_t> AppendClassDefinition(DirBuffer& b, const Bytes& head, const ClassItems& items,
                                                 std::size_t skip) {
  if (head.size() + items.size() * kCountBytes > b.bytes.size() - b.used) return std::nullopt;
  Append(b, head);
  std::size_t placed = 0;
  bool full = false;
  Bytes entry;
  for (std::size_t list = 0; list < items.size(); ++list) {
    const std::size_t countAt = b.used;
    Append(b, std::array<std::uint8_t, kCountBytes>{});
    // The counts of the lists still to come must fit behind this list's items.
    const std::size_t reserved = (items.size() - 1 - list) * kCountBytes;
    const auto& names = items[list];
    std::size_t next = std::min(skip, names.size());
    skip -= next;
    std::uint32_t count = 0;
    for (; next < names.size() && !full; ++next) {
      entry.clear();
      PutText(entry, names[next]);
      full = entry.size() + reserved > b.bytes.size() - b.used;
      if (!full) {
        Append(b, entry);
        ++count;
      }
    }
    SetU32At(b, countAt, count);
    placed += count;
  }
  return placed;
}

// Keeps a continuation and gives its handle; the oldest is given up when too many are open.
std::int32_t OpenContinuation(Context& context, ClassContinuation continuation) {
  auto& open = context.continuations;
  if (open.size() >= kOpenContinuations) open.pop_front();
  continuation.handle = context.nextContinuation;
  const bool last = context.nextContinuation == std::numeric_limits<std::int32_t>::min();
  context.nextContinuation = last ? kNoIteration - 1 : context.nextContinuation - 1;
  open.push_back(std::move(continuation));
  return open.back().handle;
}

// Level-2 blocks. Whole class definitions go into a block as long as they fit; a class that
// does not fit begins the next block. A class too large for a block of its own is split: each
// of its blocks holds one entry with the class's name and record and the next of its items,
// in their lists (the lists already handed out are empty), and the handle names a
// continuation that the context keeps until the next read. A caller that reads block by
// block and takes each entry's five lists so gets every item of the class.
ResultCode FillClassDefinitions(Context& context, const TreeSchema& schema,
                                const std::vector<TreeSchema::ClassName>& selection, bool allClasses,
                                std::int32_t& handle, DirBuffer& result) {
  std::size_t position = 0;
  std::optional<ClassContinuation> resumed;
  if (handle < kNoIteration) {
    auto& open = context.continuations;
    const auto it =
        std::find_if(open.begin(), open.end(), [&](const ClassContinuation& c) { return c.handle == handle; });
    if (it == open.end() || it->allClasses != allClasses || it->position >= selection.size())
      return kCodeInvalidIteration;
    resumed = std::move(*it);
    open.erase(it);
    position = resumed->position;
  } else if (handle != kNoIteration) {
    if (static_cast<std::size_t>(handle) >= selection.size()) return kCodeInvalidIteration;
    position = static_cast<std::size_t>(handle);
  }
  if (!StartBlock(result, kClassBlock, kLevelClassDefinitions)) return kCodeBufferTooSmall;
  std::uint32_t count = 0;
  Bytes head;
  for (; position < selection.size(); ++position) {
    const bool wasResumed = resumed.has_value();
    ClassContinuation current =
        wasResumed ? std::move(*resumed)
                   : ClassContinuation{0, allClasses, position, 0, schema.classItems(selection[position].classIndex)};
    resumed.reset();
    const std::size_t mark = result.used;
    head.clear();
    PutClassHead(head, schema, selection[position]);
    const auto placed = AppendClassDefinition(result, head, current.items, current.delivered);
    if (placed && current.delivered + *placed == ItemCount(current.items)) {
      ++count;
      continue;
    }
    if (count > 0) {
      result.used = mark;
      break;
    }
    if (!placed || *placed == 0) {
      // Not even one item fits: the read fails and a continuation stays usable.
      if (wasResumed) context.continuations.push_back(std::move(current));
      return kCodeBufferTooSmall;
    }
    current.delivered += *placed;
    handle = OpenContinuation(context, std::move(current));
    SetU32At(result, kCountOffset, 1);
    return 0;
  }
  SetU32At(result, kCountOffset, count);
  handle = position == selection.size() ? kNoIteration : static_cast<std::int32_t>(position);
  return 0;
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
  *buffer = new DirBuffer{BufferBytes(size), 0, 0, 0};
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
  if (!IsBlock(buffer, kRequestBlock) || buffer->operation != kOperationReadClassDef || !name)
    return kCodeInvalidBuffer;
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
  if (level == kLevelClassDefinitions)
    return FillClassDefinitions(*FindContext(ctx), *schema, selection, allClasses != 0, *handle, *result);
  return FillBlock(*result, kClassBlock, level, selection.size(), *handle,
                   [&](std::size_t i, Bytes& out) { PutClassEntry(out, *schema, selection[i], level); });
}

ResultCode SchemaClassCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count) {
  return BlockCount(ctx, result, kClassBlock, count);
}

ResultCode SchemaNextClass(ContextHandle ctx, DirBuffer* result, char* name, ClassRecord* record) {
  if (const ResultCode code = NextName(ctx, result, kClassBlock, name); code != 0) return code;
  if (U32At(*result, kLevelOffset) == kLevelNames) return 0;
  ClassRecord read;
  if (!ReadU32(*result, read.flags) || result->used - result->cursor < sizeof read.objectId)
    return kCodeBufferExhausted;
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
  return FillBlock(*result, kAttributeBlock, level, names.size(), *handle,
                   [&](std::size_t i, Bytes& out) { PutText(out, names[i]); });
}

ResultCode SchemaAttributeCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count) {
  return BlockCount(ctx, result, kAttributeBlock, count);
}

ResultCode SchemaNextAttribute(ContextHandle ctx, DirBuffer* result, char* name, AttributeRecord*) {
  return NextName(ctx, result, kAttributeBlock, name);
}

}  // namespace corvane::client
