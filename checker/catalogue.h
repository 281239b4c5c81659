// The message catalogue: every line the checker can add, formatted in one place.
#pragma once

#include <string>
#include <string_view>

#include "sinks.h"

namespace corvane {

enum MessageCode : int {
  kAttributeNotFound = 1,
  kAuxiliaryAttribute = 2,
  kKeyNotFound = 3,
  kFileNotFound = 4,
  kClassNotFound = 6,
  kUnknownRoleId = 7,
  kDuplicateId = 8,
  kBadClassName = 9,
  kMissingJsp = 10,
  kXmlError = 100,
};

// Every code of the catalogue, in ascending order.
inline constexpr MessageCode kAllMessageCodes[] = {
    kAttributeNotFound, kAuxiliaryAttribute, kKeyNotFound,  kFileNotFound, kClassNotFound,
    kUnknownRoleId,     kDuplicateId,        kBadClassName, kMissingJsp,   kXmlError};

// What a code is about: its text between "Msg NNN: " and the next ":".
std::string_view MessageTitle(MessageCode code);

// Formats the catalogue text of code with its arguments, in the catalogue's order.
std::string FormatMessage(MessageCode code, std::string_view a1 = {}, std::string_view a2 = {},
                          std::string_view a3 = {});

// The items of a message: the one it is attached to and, when another element holds what is
// wrong, that element's (see Message).
struct MessageItems {
  MessageItems(TreeItem attached, TreeItem holder = kNoItem) : item(attached), source(holder) {}
  TreeItem item;
  TreeItem source;
};

// Formats a line and adds it with its items.
void AddMessage(MessageList& list, MessageItems items, MessageCode code, std::string_view a1 = {},
                std::string_view a2 = {}, std::string_view a3 = {});

}  // namespace corvane
