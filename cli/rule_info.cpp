#include "rule_info.h"

#include <algorithm>

#include "catalogue.h"
#include "d_util.h"

namespace corvane::cli {

namespace {

constexpr std::string_view kUnusedDirectiveId = "UnusedDirective";

// In the order of kAllMessageCodes; what the Info text says about each message, in short.
constexpr RuleInfo kRules[] = {
    {kAttributeNotFound, "AttributeNotFound",
     "An attribute-name names no attribute of the tree's schema. Letter case counts and nothing is trimmed.",
     "Correct the name: \"login disabled\" is not \"Login Disabled\". The window's Schema tab lists the tree's "
     "attributes. [Entry Rights], [All Attributes Rights] and Password Management are not looked up."},
    {kAuxiliaryAttribute, "AuxiliaryAttribute",
     "A class named in the item (object-type-name, with its superclasses) does not declare an attribute named in "
     "the item, so for objects of that class only an auxiliary class can supply it. In an item with a url-param "
     "value preCreate and an eDirSearch class, that search class alone counts.",
     "Check that the objects carry an auxiliary class with the attribute (the window's Schema tab lists the "
     "potential auxiliary attributes); if they do not, the console cannot show it: name a class that declares "
     "the attribute, or remove the attribute."},
    {kKeyNotFound, "KeyNotFound",
     "The display-name-key is not in the bundle's .properties file (in translator files: the key "
     "Attribute.<name> or ObjectType.<name>). Keys match with letter case ignored; blanks in a key are looked up "
     "as \"_\".",
     "Add the key to the bundle or correct it. A key is the text of a line before its first \"=\", nothing "
     "trimmed: \"Task.CreateUser = Create User\" defines \"Task.CreateUser \" with a trailing blank."},
    {kFileNotFound, "FileNotFound",
     "The bundle's .properties file does not exist. The bundle com.acme.Res is read from "
     "<webapp>/WEB-INF/classes/com/acme/Res.properties, the web application being the part of the file's path "
     "before \"portal\".",
     "Correct the bundle name in resource-properties-file (dots become folders), or add the file under "
     "WEB-INF/classes of the web application."},
    {kClassNotFound, "ClassNotFound", "An object-type-name names no class of the tree's schema. Letter case counts.",
     "Correct the name; the window's Schema tab lists the tree's classes. *, [root], [partitions], "
     "[non-partitions], [leafs] and [containers] are not looked up."},
    {kUnknownRoleId, "UnknownRoleId",
     "A role-assignment names no id defined before it in the file (letter case counts): a role defined further "
     "down is unknown here.",
     "Put the role elements before the books and tasks that assign them, or correct the id."},
    {kDuplicateId, "DuplicateId",
     "The id was already used in this file, by an item of any kind. Ids inside a chapter do not count.",
     "Give the item an id of its own."},
    {kBadClassName, "BadClassName", "A url-param whose param-key is eDirSearch has a param-value with a blank.",
     "Write the class with \"_\" for each blank: Organizational_Unit, not Organizational Unit."},
    {kMissingJsp, "MissingJsp",
     "No JSP page for the merge-template Module.page, neither "
     "<webapp>/portal/modules/Module/skins/default/devices/default/page.jsp nor under devices/browser/.",
     "Add the page or correct the template. A template without \".\" is both module and page name."},
    {kXmlError, "XmlError",
     "The file is not well-formed or could not be read, or the check itself failed. A parse error names its line "
     "and the start of that line.",
     "Fix the file where the message says and check it again."},
    {kUnusedDirective, "DirectiveSilencedNothing", "A \"corvanexml-check disable\" comment silenced no finding.",
     "Remove the comment, or correct its codes or its place: it covers the element that follows it, or the "
     "whole file when it stands before the document element."},
};

}  // namespace

std::span<const RuleInfo> Rules() { return kRules; }

std::size_t RuleIndex(int code) {
  return static_cast<std::size_t>(
      std::find_if(std::begin(kRules), std::end(kRules), [code](const RuleInfo& r) { return r.code == code; }) -
      std::begin(kRules));
}

const RuleInfo& RuleOf(int code) { return kRules[RuleIndex(code)]; }

std::string RuleId(int code) {
  return code == kUnusedDirective ? std::string(kUnusedDirectiveId) : "Msg" + CodeDigits(code);
}

std::string_view RuleTitle(int code) {
  return code == kUnusedDirective ? "Unused directive" : MessageTitle(static_cast<MessageCode>(code));
}

std::string CodeDigits(int code) {
  if (code == kUnusedDirective) return {};
  return ZeroPadded(static_cast<std::uint64_t>(code), 10, 3);
}

std::string_view Level(int code) { return code == kXmlError ? "error" : "warning"; }

std::optional<CodeSet> ParseCodes(std::string_view list, std::string& error) {
  constexpr std::string_view kBlanks = " \t\r\n";
  CodeSet codes;
  for (std::string_view rest = list;;) {
    const std::size_t comma = rest.find(',');
    const std::string entry = TrimRightChars(TrimLeftChars(rest.substr(0, comma), kBlanks), kBlanks);
    std::string_view digits = entry;
    if (digits.size() > 3 && SameText(digits.substr(0, 3), "Msg")) digits.remove_prefix(3);
    const auto known = std::find_if(std::begin(kAllMessageCodes), std::end(kAllMessageCodes),
                                    [&](MessageCode code) { return CodeDigits(code) == digits; });
    if (SameText(entry, kUnusedDirectiveId)) {
      codes.set(kUnusedDirective);
    } else if (known != std::end(kAllMessageCodes)) {
      codes.set(static_cast<std::size_t>(*known));
    } else {
      error = "unknown message code '" + entry + "' (Msg001 to Msg010, Msg100, UnusedDirective)";
      return std::nullopt;
    }
    if (comma == std::string_view::npos) return codes;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace corvane::cli
