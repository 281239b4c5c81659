// Room made ahead, so that an update of two containers changes both or neither.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace corvane {

// Makes room for one more element, growing as push_back would: the push_back after it cannot
// fail to allocate.
template <typename T>
void MakeRoomForOne(std::vector<T>& v) {
  if (v.size() == v.capacity()) v.reserve(std::max<std::size_t>(16, 2 * v.capacity()));
}

}  // namespace corvane
