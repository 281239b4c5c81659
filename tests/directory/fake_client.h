// A scripted directory client for the D_NW tests: connections, one context and schema
// blocks held in memory, with failures injected where a test asks for them.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "client_interface.h"

namespace corvane::test {

struct FakeClass {
  std::string name;
  std::uint32_t flags = 0;
  std::array<std::vector<std::string>, client::kClassItemLists> items;
};

struct FakeScript {
  // Connection layer; connection handles are 1-based indexes into treeInfo.
  ResultCode initCode = 0;
  ResultCode primaryCode = 0;
  ConnHandle primary = 1;
  ResultCode scanEndCode = client::kCodeNoMoreConnections;
  std::vector<std::string> treeInfo;  // what ConnGetInfo item 4 answers
  std::map<ConnHandle, ResultCode> infoCodes;
  int initCalls = 0;

  // The context.
  std::string contextTree;
  std::string nameContext;
  std::uint32_t flags = 0;
  ResultCode treeSetCode = 0;
  std::string defaultName;
  ResultCode defaultNameCode = 0;
  std::string myName;
  std::vector<std::uint32_t> keysSet;  // keys of CtxSet calls, in order

  // Buffers and schema; blocks hold perBlock entries.
  ResultCode allocCode = 0;
  int liveBuffers = 0;
  std::vector<FakeClass> classes;
  std::vector<std::string> attributes;
  std::size_t perBlock = 1;
  int failReadAt = -1;  // number of the read (from 0) that fails
  ResultCode failCode = client::kCodeInvalidRequest;
  bool stallHandle = false;  // reads after the first leave the handle as it was
  int reads = 0;

  std::map<ResultCode, std::string> errorTexts;
};

// The script the fake follows; reset by each FakeClientScope.
FakeScript& Script();

// Puts the fake into the client table for the life of the scope.
class FakeClientScope {
 public:
  FakeClientScope();
  ~FakeClientScope();
  FakeClientScope(const FakeClientScope&) = delete;
  FakeClientScope& operator=(const FakeClientScope&) = delete;

 private:
  ClientFunctions previous_;
};

}  // namespace corvane::test
