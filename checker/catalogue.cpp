#include "catalogue.h"

#include "d_util.h"

namespace corvane {

namespace {

// Catalogue texts with "%s" placeholders, filled in order.
std::string_view Template(MessageCode code) {
  switch (code) {
    case kAttributeNotFound: return "Msg 001: Schema - Attribute not found: \"%s\" (%s)";
    case kAuxiliaryAttribute: return "Msg 002: Auxiliary Attribute: \"%s\" for \"%s\" (%s)";
    case kKeyNotFound: return "Msg 003: Key not found: %s/%s";
    case kFileNotFound: return "Msg 004: File not found: %s (%s)";
    case kClassNotFound: return "Msg 006: Schema - Class not found: \"%s\" (%s)";
    case kUnknownRoleId: return "Msg 007: Unknown Role ID: %s";
    case kDuplicateId: return "Msg 008: Duplicate ID: %s";
    case kBadClassName: return "Msg 009: Bad Class Name: \"%s\" (use \"_\")";
    case kMissingJsp: return "Msg 010: Missing JSP: %s (%s)";
    case kXmlError: return "Msg 100: XML Error: \"%s\"";
  }
  return "";
}

}  // namespace

std::string_view MessageTitle(MessageCode code) {
  std::string_view title = Template(code).substr(std::string_view("Msg 000: ").size());
  return title.substr(0, title.find(':'));
}

std::string FormatMessage(MessageCode code, std::string_view a1, std::string_view a2, std::string_view a3) {
  const std::string_view args[] = {a1, a2, a3};
  constexpr std::string_view kPlaceholder = "%s";
  const std::string_view pattern = Template(code);
  std::string out;
  out.reserve(pattern.size() + a1.size() + a2.size() + a3.size());
  // Text runs are appended whole: the checker formats a line for every finding.
  std::size_t from = 0;
  for (std::size_t next = 0;; ++next) {
    const std::size_t at = pattern.find(kPlaceholder, from);
    if (at == std::string_view::npos) break;
    out.append(pattern.substr(from, at - from)).append(next < 3 ? args[next] : std::string_view{});
    from = at + kPlaceholder.size();
  }
  out.append(pattern.substr(from));
  return out;
}

void AddMessage(MessageList& list, MessageItems items, MessageCode code, std::string_view a1, std::string_view a2,
                std::string_view a3) {
  list.add({FormatMessage(code, a1, a2, a3), code, items.item, items.source});
}

}  // namespace corvane
