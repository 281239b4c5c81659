// The directory client: connections to directory trees, directory contexts, buffers and
// schema reads, with the argument orders and result-code conventions its callers rely on.
// Trees come from the connections file of the client's configuration folder, from the
// demo tree shipped with the program, or from schema files named by the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client_types.h"

namespace corvane::client {

// Tree name of the connection offered when there is no connections file.
inline constexpr std::string_view kDemoTreeName = "CORVANE_DEMO";
// Tree name under which ServeSchemaFiles offers its files unless told otherwise.
inline constexpr std::string_view kSchemaFilesTree = "SCHEMA_FILES";

// Starts the client; reads the connections on the first call after ResetClient.
ResultCode ClientInit(std::uint32_t reserved1, std::uint32_t reserved2);
// The connection marked primary.
ResultCode ConnGetPrimary(ConnHandle* conn);
// The connection after *iterator (0 before the first); fails when none is left.
ResultCode ConnScan(std::uint32_t* iterator, ConnHandle* conn);
// Opens a connection and stores its reference number.
ResultCode ConnOpen(ConnHandle conn, std::uint32_t openState, std::uint32_t reserved, std::uint32_t* reference);
// Connection information; item 4 is the tree name filled up with '_' to 32 characters.
ResultCode ConnGetInfo(ConnHandle conn, std::uint32_t item, std::uint32_t size, void* buffer);

// Creates a context on the primary (else the first) connection's tree.
ResultCode CtxCreate(ContextHandle* ctx);
// Frees a context.
ResultCode CtxFree(ContextHandle ctx);
// Key 1: flags word (std::uint32_t); keys 3 and 11: text of at most kContextTextBytes bytes.
ResultCode CtxGet(ContextHandle ctx, std::uint32_t key, void* value);
// Key 1: flags word by pointer; key 3: name context; key 11: tree (its schema is read now).
ResultCode CtxSet(ContextHandle ctx, std::uint32_t key, const void* value);
// The tree's default name context, possibly empty.
ResultCode CtxDefaultName(ContextHandle ctx, std::uint32_t size, char* buffer);
// The logged-in object's name, at most kMyNameBytes bytes.
ResultCode CtxMyName(ContextHandle ctx, char* buffer);

// Allocates a buffer of size bytes (1 to kMaxBufferBytes).
ResultCode BufAlloc(std::uint32_t size, DirBuffer** buffer);
// Frees a buffer of BufAlloc.
ResultCode BufFree(DirBuffer* buffer);
// Prepares a request buffer for an operation (kOperationReadClassDef).
ResultCode BufInit(ContextHandle ctx, std::uint32_t operation, DirBuffer* buffer);
// Adds a class name to a class definition request.
ResultCode BufPutClassName(ContextHandle ctx, DirBuffer* buffer, const char* name);

// Next block of classes (all, or those of the request) at a level; *handle is -1 before
// the first block and after the last. At level 2 a class too large for one block comes in
// several, each entry with the class's name and record and the next of its items. Names of
// item lists 3 and 4 that differ only in letter case are spellings of one attribute.
ResultCode SchemaReadClasses(ContextHandle ctx, std::uint32_t level, std::uint8_t allClasses, DirBuffer* request,
                             std::int32_t* handle, DirBuffer* result);
// Number of classes in a result block.
ResultCode SchemaClassCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count);
// Next class name (at most kMaxSchemaNameBytes bytes) and, above level 0, its record.
ResultCode SchemaNextClass(ContextHandle ctx, DirBuffer* result, char* name, ClassRecord* record);
// Number of names in the next of the five item lists of a class definition.
ResultCode SchemaItemCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count);
// Next name of an item list.
ResultCode SchemaNextItem(ContextHandle ctx, DirBuffer* result, char* name);
// Next block of attribute names (level 0, all attributes); handle as for classes.
ResultCode SchemaReadAttributes(ContextHandle ctx, std::uint32_t level, std::uint8_t allAttributes, DirBuffer* names,
                                std::int32_t* handle, DirBuffer* result);
// Number of attributes in a result block.
ResultCode SchemaAttributeCount(ContextHandle ctx, DirBuffer* result, std::uint32_t* count);
// Next attribute name; the record is left untouched at level 0.
ResultCode SchemaNextAttribute(ContextHandle ctx, DirBuffer* result, char* name, AttributeRecord* record);

// Text of a result code; "Unknown error" for codes the client does not know.
const char* ClientErrorText(ResultCode code);

// Makes the client offer exactly one primary connection, to a tree served from files.
// Returns an empty text, or why a file cannot be read (the client is then unchanged).
std::string ServeSchemaFiles(const std::vector<std::string>& files, std::string_view treeName = kSchemaFilesTree);
// Forgets connections and contexts; the next ClientInit reads the connections file again.
void ResetClient();

}  // namespace corvane::client
