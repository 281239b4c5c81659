// D_NW: the directory client for the rest of the system. Starting the client, the tree
// list, pointing the directory context at a tree, and reading the schema of that tree into
// string lists. Every operation goes through the client table of client_interface.h and
// returns the client's result codes; none of them throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "client_interface.h"
#include "string_list.h"

namespace corvane {

// A connection's tree name, and the code of reading it.
struct ConnectionTreeName {
  std::string name;
  ResultCode code = 0;
};

// Starts the client once and opens the primary (else the first) connection; callers
// examine the low 16 bits of the code.
ResultCode InitNetWare();
// InitNetWare, showing an error box when its low 16 bits are not 0.
ResultCode StartNetWareClient();
// "0x%.4X (%s)" of the code and the client's or the system's text for it.
std::string NetWareErrorText(ResultCode code);
// Error box "<what> returned error <NetWareErrorText>" for a non-zero code.
void ShowNetWareError(ResultCode code, const std::string& what);
// Adds the tree of every connection, once (letter case ignored), with the connection as object.
void FillTreeList(StringList& list);
// Tree name of the primary connection, or empty.
std::string GetCurrentTreeName();
// Tree name of a connection (trimmed), or empty, with the code of the information read.
ConnectionTreeName GetConnectionTreeName(ConnHandle conn);
// The first 32 characters without the '_' characters at their end.
std::string TrimTreeName(std::string_view name);
// A text value of the context without its first "CN=", or empty.
std::string GetContextString(ContextHandle ctx, std::uint32_t key);
// The context's tree name, or empty.
std::string GetContextTreeName(ContextHandle ctx);
// Points the context at a tree, with the tree's default name context.
ResultCode DSChangeCurrentTree(ContextHandle ctx, const std::string& treeName);
// Points the context at a tree (when it differs) and a name context ("" = the default).
ResultCode DSSetTreeAndContext(ContextHandle ctx, const std::string& treeName, const std::string& nameContext);
// The text without one leading '.'.
std::string StripLeadingDot(std::string_view text);
// Sets ('+') or clears ('-') the mask's bits in the context's flags word.
void ChangeContextFlags(ContextHandle ctx, char sign, std::uint32_t mask);
// Name of the logged-in object, or empty.
std::string GetMyName(ContextHandle ctx);

// Adds every class name of the tree, with its flags word as object.
ResultCode ReadClassList(ContextHandle ctx, StringList& list);
// Adds every attribute name of the tree.
ResultCode ReadAttributeList(ContextHandle ctx, StringList& list);
// Adds the mandatory (object 3) and optional (object 4) attributes of a class, each once
// with letter case ignored, except that names one item list of one class gives in several
// letter cases (spellings of one attribute) are all kept; an empty class name reads all
// classes.
ResultCode ReadClassDefinition(ContextHandle ctx, const std::string& className, StringList& list);
// Adds the superclasses a class names itself (item list 0), in the order defined.
ResultCode ReadSuperClasses(ContextHandle ctx, const std::string& className, StringList& list);
// "*": ReadAttributeList; any other name: ReadClassDefinition.
ResultCode GetClassAttributes(ContextHandle ctx, const std::string& className, StringList& list);
// Fills an empty list with the auxiliary classes.
ResultCode ReadAuxClassList(ContextHandle ctx, StringList& list);
// Replaces target's entries by the attributes of all classes, last class first, each once
// with letter case ignored but for the spellings of one class's attributes.
ResultCode CollectClassAttributes(ContextHandle ctx, const StringList& classes, StringList& target);
// Replaces target's entries by the attributes that auxiliary classes carry.
ResultCode ReadAuxAttributeList(ContextHandle ctx, StringList& target);

}  // namespace corvane
