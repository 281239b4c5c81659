// Types, result codes and sizes shared by the directory client and its callers.
// Connection-layer calls return codes of which only the low 16 bits count; directory-layer
// calls return full 32-bit codes. Zero always means success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace corvane::client {

using ResultCode = std::int32_t;
using ConnHandle = std::uint32_t;
using ContextHandle = std::uint32_t;

// Connection-layer codes (16 bits).
inline constexpr ResultCode kCodeNoPrimaryConnection = 0x8801;
inline constexpr ResultCode kCodeNoMoreConnections = 0x8802;
inline constexpr ResultCode kCodeInvalidConnection = 0x8803;
inline constexpr ResultCode kCodeUnknownInfoItem = 0x8804;
inline constexpr ResultCode kCodeInfoBufferTooSmall = 0x8805;
inline constexpr ResultCode kCodeClientNotStarted = 0x8806;
// The connections file exists but cannot be read: the client cannot start at all.
inline constexpr ResultCode kCodeClientStartFailed = 0xFFFF;

// Directory-layer codes (32 bits).
inline constexpr ResultCode kCodeInvalidContext = -1001;
inline constexpr ResultCode kCodeUnknownContextKey = -1002;
inline constexpr ResultCode kCodeNoTree = -1003;
inline constexpr ResultCode kCodeUnknownTree = -1004;
inline constexpr ResultCode kCodeSchemaUnavailable = -1005;
inline constexpr ResultCode kCodeInvalidBufferSize = -1006;
inline constexpr ResultCode kCodeInvalidBuffer = -1007;
inline constexpr ResultCode kCodeBufferTooSmall = -1008;
inline constexpr ResultCode kCodeBufferExhausted = -1009;
inline constexpr ResultCode kCodeNoSuchClass = -1010;
inline constexpr ResultCode kCodeInvalidLevel = -1011;
inline constexpr ResultCode kCodeInvalidIteration = -1012;
inline constexpr ResultCode kCodeInvalidRequest = -1013;

// Connection information item that holds the tree name.
inline constexpr std::uint32_t kInfoTreeName = 4;
// Tree names are filled up with '_' to this length in the connection information.
inline constexpr std::size_t kTreeNameChars = 32;

// Context keys: flags word (by pointer), name context (text), tree name (text).
inline constexpr std::uint32_t kContextFlags = 1;
inline constexpr std::uint32_t kContextNameContext = 3;
inline constexpr std::uint32_t kContextTreeName = 11;
// Size of the text buffer CtxGet writes a text value into.
inline constexpr std::size_t kContextTextBytes = 256;
// Size of the buffer CtxMyName writes the logged-in object's name into.
inline constexpr std::size_t kMyNameBytes = 516;

// Largest buffer BufAlloc hands out.
inline constexpr std::uint32_t kMaxBufferBytes = 65536;
// BufInit operation that prepares a request for class definition reads.
inline constexpr std::uint32_t kOperationReadClassDef = 15;
// Longest schema name, terminating NUL included, written into a caller's name buffer.
inline constexpr std::size_t kMaxSchemaNameBytes = 256;

// Read levels: names only; class names with their records and item lists (inherited
// attributes included); class names with their records.
inline constexpr std::uint32_t kLevelNames = 0;
inline constexpr std::uint32_t kLevelClassDefinitions = 2;
inline constexpr std::uint32_t kLevelClassRecords = 3;
// The iteration handle before the first read and after the last block.
inline constexpr std::int32_t kNoIteration = -1;

// Bit of a class's flags word that marks an auxiliary class.
inline constexpr std::uint32_t kClassAuxiliary = 0x20;

// Number of item lists in a class definition: superclasses, containment classes, naming
// attributes, mandatory attributes, optional attributes.
inline constexpr int kClassItemLists = 5;

// Makes room for bytes without clearing it: a buffer's bytes are read only up to what was
// written into them, and a schema read takes dozens of buffers of 64 KiB.
template <class T>
struct UnclearedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UnclearedAllocator<U>;
  };
  UnclearedAllocator() = default;
  template <class U>
  // Containers convert between the allocators of different types.
  UnclearedAllocator(const UnclearedAllocator<U>& /*other*/) noexcept {}
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};

// The bytes of a buffer, uncleared until written.
using BufferBytes = std::vector<std::uint8_t, UnclearedAllocator<std::uint8_t>>;

// A buffer passed between caller and client. The client serializes requests and result
// blocks into its bytes; the count and next calls read them back from the cursor.
struct DirBuffer {
  BufferBytes bytes;            // fixed at the size asked for in BufAlloc
  std::size_t used = 0;         // bytes that hold data
  std::size_t cursor = 0;       // next byte the count/next calls read
  std::uint32_t operation = 0;  // set by BufInit
};

// Class record: flags word and the class's object identifier (NUL-padded, maybe cut).
struct ClassRecord {
  std::uint32_t flags = 0;
  char objectId[36] = {};
};
static_assert(sizeof(ClassRecord) == 40);

// Attribute definition record; names-only reads leave it untouched.
struct AttributeRecord {
  std::uint8_t bytes[56] = {};
};

}  // namespace corvane::client
