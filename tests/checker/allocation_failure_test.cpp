// Running out of memory at any one allocation leaves every list the checker fills usable: a
// check stopped that way reads back without touching memory it does not own, and the next
// check on the same state gives what a check on a fresh state gives. The program's operator
// new is replaced here, which is why these tests have a program of their own; run them under
// AddressSanitizer to see a write past a block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "plain_sinks.h"
#include "scan.h"
#include "string_list.h"

using namespace corvane;

namespace {

// While armed, allocations are counted and number failAt throws.
struct AllocationCounter {
  bool armed = false;
  std::size_t failAt = 0;
  std::size_t count = 0;
};
AllocationCounter counter;

void* Allocate(std::size_t size) {
  if (counter.armed && ++counter.count == counter.failAt) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Arms the counter for its lifetime; failAt 0 counts without failing.
class FailingAllocation {
 public:
  explicit FailingAllocation(std::size_t failAt) { counter = {true, failAt, 0}; }
  ~FailingAllocation() { counter.armed = false; }
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// A plug-in file with a finding of every schema and id kind, item labels to replace, and
// message texts long enough to need several blocks of the message list.
std::string Plugin() {
  const std::string longId(40'000, 'L');
  std::string xml =
      "<!-- c --><plugin>"
      "<book><id>B</id><role-assignment>Nobody</role-assignment></book>"
      "<task><id>T</id><object-type-name>User</object-type-name><object-type-name>Nope</object-type-name>"
      "<fields><attribute-name>Surname</attribute-name><attribute-name>Wrong</attribute-name>"
      "<attribute-name>Extra</attribute-name></fields></task>"
      "<task><id>T</id><url-param><param-key>eDirSearch</param-key><param-value>A B</param-value></url-param>"
      "</task>";
  for (int i = 0; i < 3; ++i) xml += "<task><id>" + longId + "</id></task>";
  return xml + "</plugin>";
}

// What a check left: the lines in the list's order, every tree label, the schema cache.
struct Result {
  std::vector<std::string> messages;
  std::vector<std::string> labels;
  std::vector<std::string> classAttributes;

  bool operator==(const Result&) const = default;
};

class Checker {
 public:
  Checker() {
    state_.schema.SchemaClassList.add("User");
    state_.schema.SchemaAttributeList.add("Surname");
    state_.schema.SchemaAttributeList.add("Extra");
    state_.schema.GetClassAttributes = [](const std::string& className, StringList& attributes) {
      if (className == "User") attributes.add("Surname");
      return 0;
    };
  }

  // Checks the plug-in; a failure to allocate that ends the check is caught here.
  CheckOutcome check(const std::string& xml) {
    try {
      return CheckText(state_, "/plugin.xml", xml);
    } catch (const std::bad_alloc&) {
      return {};
    }
  }

  Result result(const XmlDocument* doc) const {
    Result r;
    for (const Message& m : messages_.sorted()) r.messages.push_back(m.text);
    for (TreeItem i = 0; i < tree_.items().size(); ++i) r.labels.push_back(tree_.label(i, doc));
    r.classAttributes = state_.schema.ClassAttrList.lines();
    return r;
  }
  std::vector<Message> lines() const { return messages_.lines(); }

 private:
  PlainTree tree_;
  PlainMessages messages_;
  ScanState state_{tree_, messages_};
};

}  // namespace

TEST(AllocationFailure, ACheckStoppedAtAnyAllocationLeavesItsListsUsable) {
  const std::string xml = Plugin();
  Checker fresh;
  std::size_t allocations = 0;
  Result expected;
  {
    const FailingAllocation counting(0);
    const CheckOutcome outcome = fresh.check(xml);
    allocations = counter.count;
    expected = fresh.result(outcome.document.get());
  }
  ASSERT_EQ(expected.messages.size(), 8u);

  for (std::size_t n = 1; n <= allocations; ++n) {
    Checker checker;
    CheckOutcome stopped;
    {
      const FailingAllocation failing(n);
      stopped = checker.check(xml);
    }
    // What the stopped check left reads back whole; a walk that failed says why last.
    checker.result(stopped.document.get());
    if (stopped.walkError) {
      const std::vector<Message> lines = checker.lines();
      ASSERT_FALSE(lines.empty()) << "allocation " << n;
      EXPECT_EQ(lines.back().text, "Msg 100: XML Error: \"" + *stopped.walkError + "\"") << "allocation " << n;
    }
    const CheckOutcome again = checker.check(xml);
    ASSERT_EQ(checker.result(again.document.get()), expected) << "allocation " << n;
  }
}

namespace {

// A list's entries, and where its lookups find each text it may hold.
struct ListState {
  std::vector<std::pair<std::string, std::int64_t>> entries;
  std::vector<std::pair<std::int64_t, std::int64_t>> found;

  bool operator==(const ListState&) const = default;
};

ListState StateOf(const StringList& list) {
  ListState state;
  for (const StringList::Entry& e : list.entries()) state.entries.emplace_back(e.text, e.object);
  for (const char* text : {"a", "B", "b", "c", "d", "e"}) {
    state.found.emplace_back(list.indexOf(text), list.indexOfText(text));
  }
  return state;
}

}  // namespace

TEST(AllocationFailure, AStringListThatFailsToChangeStaysAsItWas) {
  // Each step's result, unless its allocation fails.
  using Texts = std::vector<std::string>;
  const std::vector<std::function<void(StringList&)>> steps = {
      [](StringList& l) {
        l.addAll(Texts{"B", "c", "b", "c"});
      },
      [](StringList& l) { l.removeIf([](const StringList::Entry& e) { return e.text == "a"; }); },
      [](StringList& l) { l.add("d", 7); },
      [](StringList& l) {
        l.addAll(Texts{"e", "a"});
      },
  };
  const auto start = [] {
    StringList list;
    list.addAll({"a", "b", "a"});
    list.indexOfText("");  // the folded index is kept up to date from here on
    return list;
  };
  std::vector<ListState> states;
  StringList reference = start();
  states.push_back(StateOf(reference));
  for (const auto& step : steps) {
    step(reference);
    states.push_back(StateOf(reference));
  }

  for (std::size_t n = 1;; ++n) {
    StringList list = start();
    std::size_t done = 0;
    {
      const FailingAllocation failing(n);
      try {
        for (; done < steps.size(); ++done) steps[done](list);
      } catch (const std::bad_alloc&) {
      }
    }
    EXPECT_EQ(StateOf(list), states[done]) << "allocation " << n << ", step " << done;
    if (done == steps.size()) break;
  }
}
