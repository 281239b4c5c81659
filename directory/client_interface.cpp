#include "client_interface.h"

#include "client/dir_client.h"

namespace corvane {
namespace {

ClientFunctions& Table() {
  static ClientFunctions table = StandInClientFunctions();
  return table;
}

}  // namespace

ClientFunctions StandInClientFunctions() {
  using namespace client;
  return {ClientInit,
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
          ClientErrorText};
}

const ClientFunctions& Client() { return Table(); }

ClientFunctions SetClientFunctions(const ClientFunctions& functions) {
  const ClientFunctions previous = Table();
  Table() = functions;
  return previous;
}

}  // namespace corvane
