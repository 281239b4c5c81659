// Eight bytes of text at a time, with ASCII letters folded to upper case as FoldChar folds
// them: for hashing and comparing texts with letter case ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane {

inline constexpr std::uint64_t kByteOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kByteHighBits = 0x8080808080808080ULL;

// FoldChar on eight bytes at once.
inline std::uint64_t FoldWord(std::uint64_t x) {
  const std::uint64_t low = x & ~kByteHighBits;
  const std::uint64_t fromA = low + (0x80 - 'a') * kByteOnes;       // high bit set from 'a' on
  const std::uint64_t afterZ = low + (0x80 - 'z' - 1) * kByteOnes;  // high bit set after 'z'
  const std::uint64_t lower = (fromA ^ afterZ) & ~x & kByteHighBits;
  return x ^ (lower >> 2);  // 0x80 >> 2 is the case bit 0x20
}

inline std::uint64_t LoadWord(const char* p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

// The bytes [p, p + n) for n < 8, the rest zeros.
inline std::uint64_t LoadPartialWord(const char* p, std::size_t n) {
  std::uint64_t x = 0;
  std::memcpy(&x, p, n);
  return x;
}

}  // namespace corvane
