// D_NW: client start, tree list, context.
#include "d_nw.h"

#include <cstring>

#include "d_util.h"
#include "platform_hooks.h"

namespace corvane {
namespace {

constexpr std::uint32_t kNotStarted = 0xFFFF;
constexpr std::size_t kConnInfoBytes = 255;
constexpr std::size_t kDefaultNameBytes = 256;
constexpr std::string_view kUnknownError = "Unknown error";

// Set by ConnOpen once the client runs; never reset, so the client starts only once.
std::uint32_t connectionMarker = kNotStarted;

// Connection-layer codes count in their low 16 bits only.
ResultCode Low16(ResultCode code) { return code & 0xFFFF; }

std::string TextOf(const char* buffer, std::size_t size) { return std::string(buffer, strnlen(buffer, size)); }

// The system's description of an error number; glibc gives none for numbers it lacks.
std::string SystemErrorText(ResultCode code) {
  const char* text = strerrordesc_np(code);
  return text ? text : "";
}

}  // namespace

ResultCode InitNetWare() {
  if (connectionMarker != kNotStarted) return 0;
  ResultCode code = Client().ClientInit(0, 0);
  if (Low16(code) != 0) return code;
  ConnHandle conn = 0;
  code = Client().ConnGetPrimary(&conn);
  if (Low16(code) != 0) {
    std::uint32_t iterator = 0;
    code = Client().ConnScan(&iterator, &conn);
  }
  if (Low16(code) != 0) return code;
  return Client().ConnOpen(conn, 1, 0, &connectionMarker);
}

ResultCode StartNetWareClient() {
  const ResultCode code = InitNetWare();
  const ResultCode low = Low16(code);
  if (low == 0) return code;
  ShowNetWareError(low, low == 0xFFFF ? "Could not initialize NetWare Client. InitNetWare"
                                      : "Could not find server/tree connection. InitNetWare");
  return code;
}

std::string NetWareErrorText(ResultCode code) {
  const std::string hex = "0x" + UpperCaseAscii(ZeroPadded(static_cast<std::uint32_t>(code), 16, 4));
  std::string text(kUnknownError);
  if (Client().NWstrerror) {
    const char* answer = Client().NWstrerror(code);
    text = answer ? answer : "";
  }
  if (text == kUnknownError) text = SystemErrorText(code);
  return hex + " (" + text + ")";
}

void ShowNetWareError(ResultCode code, const std::string& what) {
  if (code == 0) return;
  ShowMsgDlg(MsgDlgKind::mtError, what + " returned error " + NetWareErrorText(code));
}

void FillTreeList(StringList& list) {
  std::uint32_t iterator = 0;
  ConnHandle conn = 0;
  while (Low16(Client().ConnScan(&iterator, &conn)) == 0) {
    // Examining a connection can take a while; the window stays responsive meanwhile.
    ProcessPendingEvents();
    const std::string name = GetConnectionTreeName(conn).name;
    if (!name.empty() && !list.containsText(name)) list.add(name, conn);
  }
}

std::string GetCurrentTreeName() {
  ConnHandle conn = 0;
  if (Low16(Client().ConnGetPrimary(&conn)) != 0) return {};
  return GetConnectionTreeName(conn).name;
}

ConnectionTreeName GetConnectionTreeName(ConnHandle conn) {
  char buffer[kConnInfoBytes] = {};
  const ResultCode code = Client().ConnGetInfo(conn, client::kInfoTreeName, kConnInfoBytes, buffer);
  const std::string name = Low16(code) == 0 ? TextOf(buffer, sizeof buffer) : "";
  return {TrimTreeName(name), code};
}

std::string TrimTreeName(std::string_view name) {
  return TrimRightChars(Utf8Prefix(name, client::kTreeNameChars), "_");
}

std::string GetContextString(ContextHandle ctx, std::uint32_t key) {
  char buffer[client::kContextTextBytes] = {};
  if (Client().CtxGet(ctx, key, buffer) != 0) return {};
  return ReplaceSub(TextOf(buffer, sizeof buffer), "CN=", "", true, false);
}

std::string GetContextTreeName(ContextHandle ctx) { return GetContextString(ctx, client::kContextTreeName); }

ResultCode DSChangeCurrentTree(ContextHandle ctx, const std::string& treeName) {
  return DSSetTreeAndContext(ctx, treeName, "");
}

ResultCode DSSetTreeAndContext(ContextHandle ctx, const std::string& treeName, const std::string& nameContext) {
  ResultCode code = 0;
  if (!treeName.empty() && UpperCaseAscii(treeName) != UpperCaseAscii(GetContextTreeName(ctx)))
    code = Client().CtxSet(ctx, client::kContextTreeName, StrToPChar(treeName));
  if (code != 0) return code;
  std::string context = nameContext;
  if (context.empty()) {
    char buffer[kDefaultNameBytes] = {};
    const bool found = Client().CtxDefaultName(ctx, kDefaultNameBytes, buffer) == 0 && buffer[0] != '\0';
    context = found ? TextOf(buffer, sizeof buffer) : "[Root]";
  }
  context = StripLeadingDot(context);
  return Client().CtxSet(ctx, client::kContextNameContext, StrToPChar(context));
}

std::string StripLeadingDot(std::string_view text) {
  if (text.starts_with('.')) text.remove_prefix(1);
  return std::string(text);
}

void ChangeContextFlags(ContextHandle ctx, char sign, std::uint32_t mask) {
  std::uint32_t flags = 0;
  Client().CtxGet(ctx, client::kContextFlags, &flags);
  if (sign == '+') flags |= mask;
  if (sign == '-') flags &= ~mask;
  Client().CtxSet(ctx, client::kContextFlags, &flags);
}

std::string GetMyName(ContextHandle ctx) {
  char buffer[client::kMyNameBytes] = {};
  if (Client().CtxMyName(ctx, buffer) != 0) return {};
  return TextOf(buffer, sizeof buffer);
}

}  // namespace corvane
