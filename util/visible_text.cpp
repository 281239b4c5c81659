#include "visible_text.h"

namespace corvane {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, std::string_view prefix, unsigned char byte) {
  out.append(prefix);
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 15]);
}

bool Continues(std::string_view text, std::size_t at, unsigned char low = 0x80, unsigned char high = 0xBF) {
  if (at >= text.size()) return false;
  const auto c = static_cast<unsigned char>(text[at]);
  return c >= low && c <= high;
}

}  // namespace

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return Continues(text, at + 1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    const bool second = c == 0xE0   ? Continues(text, at + 1, 0xA0)
                        : c == 0xED ? Continues(text, at + 1, 0x80, 0x9F)
                                    : Continues(text, at + 1);
    return second && Continues(text, at + 2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const bool second = c == 0xF0   ? Continues(text, at + 1, 0x90)
                        : c == 0xF4 ? Continues(text, at + 1, 0x80, 0x8F)
                                    : Continues(text, at + 1);
    return second && Continues(text, at + 2) && Continues(text, at + 3) ? 4 : 0;
  }
  return 0;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceAt(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void AppendVisible(std::string& out, std::string_view text) {
  std::size_t plain = 0;  // start of the run of bytes kept as they are
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      ++i;
      continue;
    }
    const std::size_t n = c < 0x80 ? 1 : Utf8SequenceAt(text, i);
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
