#include "visible_text.h"

#include <cstdint>
#include <cstring>

#include "d_util.h"

namespace corvane {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, std::string_view prefix, unsigned char byte) {
  out.append(prefix);
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 15]);
}

// Whether all eight bytes of word are printable ASCII (0x20 to 0x7E), found for all at once:
// no byte has its top bit, none is below 0x20, none is 0x7F.
bool AllPrintableAscii(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kTops = 0x8080808080808080ULL;
  const std::uint64_t below20 = (word - 0x20 * kOnes) & ~word;
  const std::uint64_t del = word ^ (0x7F * kOnes);
  const std::uint64_t isDel = (del - kOnes) & ~del;
  return ((word | below20 | isDel) & kTops) == 0;
}

}  // namespace

void AppendVisible(std::string& out, std::string_view text) {
  std::size_t plain = 0;  // start of the run of bytes kept as they are
  for (std::size_t i = 0; i < text.size();) {
    // Messages are mostly printable ASCII: eight bytes are passed over at a time.
    std::uint64_t word;
    if (text.size() - i >= sizeof word) {
      std::memcpy(&word, text.data() + i, sizeof word);
      if (AllPrintableAscii(word)) {
        i += sizeof word;
        continue;
      }
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      ++i;
      continue;
    }
    const Utf8Char ch = NextUtf8Char(text, i);
    const std::size_t n = ch.wellFormed ? ch.size : 0;
    const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (n > 1 && !c1) {
      i += n;
      continue;
    }
    out.append(text.substr(plain, i - plain));
    if (c == '\r' || c == '\n') {
      out.push_back(' ');
    } else if (c1) {
      AppendHexByte(out, "\\u00", static_cast<unsigned char>(text[i + 1]));
    } else {
      AppendHexByte(out, "\\x", c);  // C0, DEL, or a byte that is not UTF-8
    }
    i += c1 ? 2 : 1;
    plain = i;
  }
  out.append(text.substr(plain));
}

std::string VisibleText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendVisible(out, text);
  return out;
}

}  // namespace corvane
