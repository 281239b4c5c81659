// D_NW: the schema reader.
#include <array>
#include <exception>
#include <optional>

#include "d_nw.h"
#include "d_util.h"
#include "platform_hooks.h"

namespace corvane {
namespace {

using client::kLevelClassDefinitions;
using client::kLevelClassRecords;
using client::kLevelNames;
using client::kNoIteration;
using client::kOperationReadClassDef;

constexpr std::uint32_t kRequestBytes = 4096;
constexpr std::uint32_t kClassListBytes = 4096;
constexpr std::uint32_t kDefinitionBytes = 64512;
constexpr std::size_t kClassListNameBytes = 4097;
// Item and attribute names may be as long as the client allows any schema name to be.
constexpr std::size_t kNameBytes = client::kMaxSchemaNameBytes;
constexpr int kMandatoryList = 3;

// A client buffer, freed through the client when it goes out of scope.
class ScopedBuffer {
 public:
  ScopedBuffer() = default;
  ScopedBuffer(const ScopedBuffer&) = delete;
  ScopedBuffer& operator=(const ScopedBuffer&) = delete;
  ~ScopedBuffer() {
    if (buffer_) Client().BufFree(buffer_);
  }
  ResultCode allocate(std::uint32_t size) { return Client().BufAlloc(size, &buffer_); }
  DirBuffer* get() const { return buffer_; }

 private:
  DirBuffer* buffer_ = nullptr;
};

void TakeClassNames(ContextHandle ctx, DirBuffer* result, StringList& list) {
  std::uint32_t count = 0;
  Client().SchemaClassCount(ctx, result, &count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::array<char, kClassListNameBytes> name{};
    ClassRecord record;
    if (Client().SchemaNextClass(ctx, result, name.data(), &record) == 0) list.add(name.data(), record.flags);
  }
}

void TakeAttributeNames(ContextHandle ctx, DirBuffer* result, std::uint32_t count, StringList& list) {
  try {
    for (std::uint32_t i = 0; i < count; ++i) {
      std::array<char, kNameBytes> name{};
      AttributeRecord record;
      if (Client().SchemaNextAttribute(ctx, result, name.data(), &record) == 0) list.add(name.data());
    }
  } catch (const std::exception&) {
    // The rest of this block is lost; the next block is read all the same.
  }
}

// Whether name is to join list: it is not there yet, and no entry before index since is
// equal to it ignoring letter case. The entries from since on came from the same item list
// of the same class as name, where names that differ only in letter case are spellings of
// one attribute.
bool IsNewName(const StringList& list, std::string_view name, std::size_t since) {
  if (list.contains(name)) return false;
  const std::int64_t folded = list.indexOfText(name);
  return folded < 0 || static_cast<std::size_t>(folded) >= since;
}

// Adds the mandatory and optional attributes of the classes of one definition read to a
// list, block after block. A class too large for one block goes on in the next under the
// same name, its item lists where they stopped.
class ClassItemTaker {
 public:
  // Keeps the item lists numbered from firstList on, the attribute lists unless told otherwise.
  explicit ClassItemTaker(StringList& list, int firstList = kMandatoryList, int lastList = client::kClassItemLists - 1)
      : list_(list), firstList_(firstList), lastList_(lastList) {}

  void startClass(std::string_view name) {
    if (className_ == name) return;
    className_ = name;
    listStarts_.fill(std::nullopt);
  }

  void take(int listNumber, const char* name) {
    if (listNumber < firstList_ || listNumber > lastList_) return;
    std::optional<std::size_t>& start = listStarts_[static_cast<std::size_t>(listNumber)];
    if (!start) start = list_.size();
    if (IsNewName(list_, name, *start)) list_.add(name, listNumber);
  }

 private:
  StringList& list_;
  int firstList_;
  int lastList_;
  std::optional<std::string> className_;
  // Where each item list of the class began in list_.
  std::array<std::optional<std::size_t>, client::kClassItemLists> listStarts_;
};

// Names of the item lists come one after another from the block, so lists that are not
// kept are read all the same.
void TakeItemList(ContextHandle ctx, DirBuffer* result, int listNumber, ClassItemTaker& taker) {
  std::uint32_t count = 0;
  if (Client().SchemaItemCount(ctx, result, &count) != 0 || count < 1) return;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::array<char, kNameBytes> name{};
    if (Client().SchemaNextItem(ctx, result, name.data()) != 0) return;
    taker.take(listNumber, name.data());
  }
}

void TakeClassDefinitions(ContextHandle ctx, DirBuffer* result, ClassItemTaker& taker) {
  std::uint32_t count = 0;
  Client().SchemaClassCount(ctx, result, &count);
  for (std::uint32_t i = 0; i < count; ++i) {
    // One class at a time, so the window stays responsive during long reads.
    ProcessPendingEvents();
    std::array<char, kNameBytes> name{};
    ClassRecord record;
    if (Client().SchemaNextClass(ctx, result, name.data(), &record) != 0) continue;
    taker.startClass(name.data());
    for (int listNumber = 0; listNumber < client::kClassItemLists; ++listNumber)
      TakeItemList(ctx, result, listNumber, taker);
  }
}

}  // namespace

ResultCode ReadClassList(ContextHandle ctx, StringList& list) {
  ScopedBuffer request;
  ResultCode code = request.allocate(kRequestBytes);
  if (code != 0) return code;
  Client().BufInit(ctx, kOperationReadClassDef, request.get());
  ScopedBuffer result;
  if ((code = result.allocate(kClassListBytes)) != 0) return code;
  std::int32_t handle = kNoIteration;
  do {
    code = Client().SchemaReadClasses(ctx, kLevelClassRecords, 1, request.get(), &handle, result.get());
    if (code != 0) break;
    TakeClassNames(ctx, result.get(), list);
  } while (handle != kNoIteration);
  return code;
}

ResultCode ReadAttributeList(ContextHandle ctx, StringList& list) {
  std::int32_t handle = kNoIteration;
  ScopedBuffer result;
  ResultCode code = result.allocate(kDefinitionBytes);
  if (code != 0) return code;
  do {
    code = Client().SchemaReadAttributes(ctx, kLevelNames, 1, nullptr, &handle, result.get());
    if (code != 0) break;
    std::uint32_t count = 0;
    if (Client().SchemaAttributeCount(ctx, result.get(), &count) == 0 && count > 0)
      TakeAttributeNames(ctx, result.get(), count, list);
  } while (handle != kNoIteration);
  return code;
}

namespace {

// Reads the definition of one class (all classes for an empty name) and keeps what taker keeps.
ResultCode ReadClassItems(ContextHandle ctx, const std::string& className, ClassItemTaker& taker) {
  const std::uint8_t allClasses = className.empty() ? 1 : 0;
  ScopedBuffer request;
  ResultCode code = request.allocate(kRequestBytes);
  if (code != 0) return code;
  Client().BufInit(ctx, kOperationReadClassDef, request.get());
  Client().BufPutClassName(ctx, request.get(), StrToPChar(className));
  ScopedBuffer result;
  if ((code = result.allocate(kDefinitionBytes)) != 0) return code;
  std::int32_t handle = kNoIteration;
  std::int32_t previous = kNoIteration;
  do {
    previous = handle;
    code = Client().SchemaReadClasses(ctx, kLevelClassDefinitions, allClasses, request.get(), &handle, result.get());
    if (code == 0) TakeClassDefinitions(ctx, result.get(), taker);
    // A read that leaves the handle where it was would repeat forever.
  } while (handle != kNoIteration && handle != previous);
  return code;
}

}  // namespace

ResultCode ReadClassDefinition(ContextHandle ctx, const std::string& className, StringList& list) {
  ClassItemTaker taker(list);
  return ReadClassItems(ctx, className, taker);
}

ResultCode ReadSuperClasses(ContextHandle ctx, const std::string& className, StringList& list) {
  ClassItemTaker taker(list, 0, 0);
  return ReadClassItems(ctx, className, taker);
}

ResultCode GetClassAttributes(ContextHandle ctx, const std::string& className, StringList& list) {
  return className == "*" ? ReadAttributeList(ctx, list) : ReadClassDefinition(ctx, className, list);
}

ResultCode ReadAuxClassList(ContextHandle ctx, StringList& list) {
  if (const ResultCode code = ReadClassList(ctx, list); code != 0) return code;
  list.removeIf([](const StringList::Entry& e) { return (e.object & client::kClassAuxiliary) == 0; });
  return 0;
}

ResultCode CollectClassAttributes(ContextHandle ctx, const StringList& classes, StringList& target) {
  StringList collected;
  ResultCode code = 0;
  for (std::size_t i = classes.size(); i-- > 0;) {
    StringList attributes;
    code = GetClassAttributes(ctx, classes[i].text, attributes);
    // Names of one class that differ only in letter case are spellings of one attribute.
    const std::size_t classStart = collected.size();
    for (const auto& entry : attributes.entries())
      if (IsNewName(collected, entry.text, classStart)) collected.add(entry.text);
  }
  target = std::move(collected);
  return code;
}

ResultCode ReadAuxAttributeList(ContextHandle ctx, StringList& target) {
  StringList auxClasses;
  if (const ResultCode code = ReadAuxClassList(ctx, auxClasses); code != 0) return code;
  return CollectClassAttributes(ctx, auxClasses, target);
}

}  // namespace corvane
