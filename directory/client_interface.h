// The one way D_NW reaches the directory client: a table of the client's operations.
// The stand-in client fills it by default; tests put scripted or failing operations in.
#pragma once

#include <cstdint>

#include "client/client_types.h"

namespace corvane {

using client::AttributeRecord;
using client::ClassRecord;
using client::ConnHandle;
using client::ContextHandle;
using client::DirBuffer;
using client::ResultCode;

// The client's operations with their argument orders. Connection-layer codes count in their
// low 16 bits only; directory-layer codes are 32-bit.
struct ClientFunctions {
  // Connection layer.
  ResultCode (*ClientInit)(std::uint32_t reserved1, std::uint32_t reserved2);
  ResultCode (*ConnGetPrimary)(ConnHandle* conn);
  ResultCode (*ConnScan)(std::uint32_t* iterator, ConnHandle* conn);
  ResultCode (*ConnOpen)(ConnHandle conn, std::uint32_t openState, std::uint32_t reserved, std::uint32_t* reference);
  ResultCode (*ConnGetInfo)(ConnHandle conn, std::uint32_t item, std::uint32_t size, void* buffer);
  // Directory layer: contexts.
  ResultCode (*CtxCreate)(ContextHandle* ctx);
  ResultCode (*CtxFree)(ContextHandle ctx);
  ResultCode (*CtxGet)(ContextHandle ctx, std::uint32_t key, void* value);
  ResultCode (*CtxSet)(ContextHandle ctx, std::uint32_t key, const void* value);
  ResultCode (*CtxDefaultName)(ContextHandle ctx, std::uint32_t size, char* buffer);
  ResultCode (*CtxMyName)(ContextHandle ctx, char* buffer);
  // Directory layer: buffers.
  ResultCode (*BufAlloc)(std::uint32_t size, DirBuffer** buffer);
  ResultCode (*BufFree)(DirBuffer* buffer);
  ResultCode (*BufInit)(ContextHandle ctx, std::uint32_t operation, DirBuffer* buffer);
  ResultCode (*BufPutClassName)(ContextHandle ctx, DirBuffer* buffer, const char* name);
  // Directory layer: schema reads.
  ResultCode (*SchemaReadClasses)(ContextHandle ctx, std::uint32_t level, std::uint8_t allClasses, DirBuffer* request,
                                  std::int32_t* handle, DirBuffer* result);
  ResultCode (*SchemaClassCount)(ContextHandle ctx, DirBuffer* result, std::uint32_t* count);
  ResultCode (*SchemaNextClass)(ContextHandle ctx, DirBuffer* result, char* name, ClassRecord* record);
  ResultCode (*SchemaItemCount)(ContextHandle ctx, DirBuffer* result, std::uint32_t* count);
  ResultCode (*SchemaNextItem)(ContextHandle ctx, DirBuffer* result, char* name);
  ResultCode (*SchemaReadAttributes)(ContextHandle ctx, std::uint32_t level, std::uint8_t allAttributes,
                                     DirBuffer* names, std::int32_t* handle, DirBuffer* result);
  ResultCode (*SchemaAttributeCount)(ContextHandle ctx, DirBuffer* result, std::uint32_t* count);
  ResultCode (*SchemaNextAttribute)(ContextHandle ctx, DirBuffer* result, char* name, AttributeRecord* record);
  // Error texts; null when the client has none to offer.
  const char* (*NWstrerror)(ResultCode code);
};

// The stand-in client's operations.
ClientFunctions StandInClientFunctions();
// The table in use.
const ClientFunctions& Client();
// Puts a table in use; returns the one it replaces.
ClientFunctions SetClientFunctions(const ClientFunctions& functions);

}  // namespace corvane
