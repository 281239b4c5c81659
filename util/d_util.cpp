#include "d_util.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "platform_hooks.h"
#include "warnings.h"

namespace corvane {

namespace {

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

Utf8Char NextUtf8Char(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return {1, true};
  // The second byte's range depends on the lead byte: this rules out overlong forms,
  // surrogates and code points above U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, false};
  }
  if (i + 1 >= s.size() || byte(i + 1) < low || byte(i + 1) > high) return {1, false};
  std::size_t taken = 2;
  while (taken < length && i + taken < s.size() && IsContinuationByte(byte(i + taken))) ++taken;
  return {taken, taken == length};
}

bool IsValidUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char ch = NextUtf8Char(s, i);
    if (!ch.wellFormed) return false;
    i += ch.size;
  }
  return true;
}

std::size_t Utf8Length(std::string_view s) {
  // Eight bytes at a time: a continuation byte is one whose top bits are 10.
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  const auto continuationsIn = [](std::uint64_t word) -> std::size_t {
    // Most text is ASCII, and the count needs no popcount there.
    if ((word & kHighBits) == 0) return 0;
    return static_cast<std::size_t>(std::popcount(word & ~(word << 1) & kHighBits));
  };
  if (s.size() < 8) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return !IsContinuationByte(static_cast<unsigned char>(c)); }));
  }
  std::size_t continuations = 0;
  std::uint64_t word = 0;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::memcpy(&word, s.data() + i, sizeof word);
    continuations += continuationsIn(word);
  }
  if (const std::size_t rest = s.size() - i; rest > 0) {
    // The last eight bytes, of which those counted already are shifted out (little-endian:
    // the later bytes are the higher ones). A byte shifted out leaves zeros, never a 10 pair.
    std::memcpy(&word, s.data() + s.size() - 8, sizeof word);
    continuations += continuationsIn(word >> (8 * (8 - rest)));
  }
  return s.size() - continuations;
}

std::string_view Utf8Prefix(std::string_view s, std::size_t chars) {
  std::size_t started = 0;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (!IsContinuationByte(static_cast<unsigned char>(s[i])) && started++ == chars) return s.substr(0, i);
  return s;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentEncoded(std::string_view path) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(path.size());
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      encoded.push_back(c);
    } else {
      encoded.append({'%', kHex[byte >> 4U], kHex[byte & 0xFU]});
    }
  }
  return encoded;
}

std::optional<std::string> PercentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded.push_back(text[i]);
      continue;
    }
    const int high = i + 2 < text.size() ? HexDigitValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexDigitValue(text[i + 2]) : -1;
    if (low < 0) return std::nullopt;
    decoded.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return decoded;
}

std::string_view SkipByteOrderMark(std::string_view s) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (s.starts_with(kByteOrderMark)) s.remove_prefix(kByteOrderMark.size());
  return s;
}

char FoldChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string ZeroPadded(std::uint64_t value, int base, std::size_t width) {
  std::array<char, 64> digits{};
  const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), value, base).ptr;
  const std::size_t count = static_cast<std::size_t>(end - digits.data());
  std::string out(width > count ? width - count : 0, '0');
  return out.append(digits.data(), count);
}

std::string UpperCaseAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = FoldChar(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldChar(x) == FoldChar(y); });
}

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(FoldChar(a[i]));
    const auto y = static_cast<unsigned char>(FoldChar(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

namespace {

std::size_t ToPosition(std::size_t index) { return index == std::string_view::npos ? 0 : index + 1; }

// Zero-based index of the first occurrence, npos when absent or sub is empty.
std::size_t FindSub(std::string_view sub, std::string_view s, bool caseSensitive) {
  if (sub.empty()) return std::string_view::npos;
  if (caseSensitive) return s.find(sub);
  auto it = std::search(s.begin(), s.end(), sub.begin(), sub.end(),
                        [](char x, char y) { return FoldChar(x) == FoldChar(y); });
  return it == s.end() ? std::string_view::npos : static_cast<std::size_t>(it - s.begin());
}

// Bytes of the character starting at s[i]; a byte that starts no well-formed character
// counts as a character of its own.
std::size_t CharLength(std::string_view s, std::size_t i) {
  const Utf8Char ch = NextUtf8Char(s, i);
  return ch.wellFormed ? ch.size : 1;
}

// Bytes of the character that ends at s[end - 1].
std::size_t LastCharLength(std::string_view s, std::size_t end) {
  for (std::size_t length = 2; length <= 4 && length <= end; ++length) {
    if (!IsContinuationByte(static_cast<unsigned char>(s[end - length + 1]))) break;
    if (CharLength(s, end - length) == length) return length;
  }
  return 1;
}

// Whether the character ch is one of the characters of chars.
bool InSet(std::string_view ch, std::string_view chars) {
  // An ASCII byte in UTF-8 text is always a character of its own.
  if (ch.size() == 1 && static_cast<unsigned char>(ch[0]) < 0x80) return chars.find(ch[0]) != std::string_view::npos;
  for (std::size_t i = 0; i < chars.size();) {
    const std::size_t length = CharLength(chars, i);
    if (chars.substr(i, length) == ch) return true;
    i += length;
  }
  return false;
}

}  // namespace

std::size_t PosText(std::string_view sub, std::string_view s) { return ToPosition(FindSub(sub, s, false)); }

std::size_t PosStr(std::string_view sub, std::string_view s, bool caseSensitive) {
  return ToPosition(FindSub(sub, s, caseSensitive));
}

int IndexOfString(std::string_view s, const std::vector<std::string>& values, bool caseSensitive) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (caseSensitive ? values[i] == s : SameText(values[i], s)) return static_cast<int>(i);
  }
  return -1;
}

bool StringInList(std::string_view s, const std::vector<std::string>& values, bool caseSensitive) {
  return IndexOfString(s, values, caseSensitive) >= 0;
}

std::string StrBefore(std::string_view s, std::string_view sub, bool excludeSub) {
  const std::size_t at = FindSub(sub, s, true);
  if (at == std::string_view::npos) return std::string(s);
  return std::string(s.substr(0, excludeSub ? at : at + sub.size()));
}

std::string StrAfter(std::string_view s, std::string_view sub, bool excludeSub) {
  const std::size_t at = FindSub(sub, s, true);
  if (at == std::string_view::npos) return std::string(s);
  return std::string(s.substr(excludeSub ? at + sub.size() : at));
}

SplitResult SplitAt(std::string_view s, std::string_view sep) {
  const std::size_t at = FindSub(sep, s, true);
  if (at == std::string_view::npos) return {std::string(s), {}};
  return {std::string(s.substr(0, at)), std::string(s.substr(at + sep.size()))};
}

std::string JoinNonEmpty(std::string_view a, std::string_view b, std::string_view sep) {
  std::string out(a);
  if (!a.empty() && !b.empty()) out += sep;
  out += b;
  return out;
}

std::string TrimLeftChars(std::string_view s, std::string_view chars) {
  std::size_t first = 0;
  while (first < s.size()) {
    const std::size_t length = CharLength(s, first);
    if (!InSet(s.substr(first, length), chars)) break;
    first += length;
  }
  return std::string(s.substr(first));
}

std::string TrimRightChars(std::string_view s, std::string_view chars) {
  std::size_t end = s.size();
  while (end > 0) {
    const std::size_t length = LastCharLength(s, end);
    if (!InSet(s.substr(end - length, length), chars)) break;
    end -= length;
  }
  return std::string(s.substr(0, end));
}

std::string EnsurePrefix(std::string_view s, std::string_view prefix) {
  if (s.starts_with(prefix)) return std::string(s);
  return std::string(prefix) + std::string(s);
}

std::string ReplaceChars(std::string_view s, std::string_view chars, char newChar) {
  // ASCII characters to replace can be replaced byte by byte: no other character of UTF-8
  // text holds their bytes.
  if (std::all_of(chars.begin(), chars.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::array<bool, 256> replaced{};
    for (const char c : chars) replaced[static_cast<unsigned char>(c)] = true;
    std::string out(s);
    std::replace_if(
        out.begin(), out.end(), [&](char c) { return replaced[static_cast<unsigned char>(c)]; }, newChar);
    return out;
  }
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t length = CharLength(s, i);
    const std::string_view ch = s.substr(i, length);
    if (InSet(ch, chars)) {
      out.push_back(newChar);
    } else {
      out.append(ch);
    }
    i += length;
  }
  return out;
}

std::string ReplaceSub(std::string_view s, std::string_view oldSub, std::string_view newSub, bool caseSensitive,
                       bool replaceAll) {
  if (oldSub.empty() || oldSub == newSub) return std::string(s);
  std::string out;
  std::string_view rest = s;
  for (;;) {
    const std::size_t at = FindSub(oldSub, rest, caseSensitive);
    if (at == std::string_view::npos) break;
    out.append(rest.substr(0, at));
    out.append(newSub);
    rest.remove_prefix(at + oldSub.size());
    if (!replaceAll) break;
  }
  out.append(rest);
  return out;
}

std::string_view ExtractFileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view ExtractFileExt(std::string_view path) {
  const std::string_view name = ExtractFileName(path);
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

std::string ChangeExtension(std::string_view fileName, std::string_view ext) {
  std::string out(fileName.substr(0, fileName.size() - ExtractFileExt(fileName).size()));
  return out.append(EnsurePrefix(ext, "."));
}

std::string ProgramFileName(std::string_view ext) {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
  path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  // A program file replaced while it runs (an upgrade) is reported with this mark.
  constexpr std::string_view kDeletedMark = " (deleted)";
  if (path.ends_with(kDeletedMark)) path.resize(path.size() - kDeletedMark.size());
  return ChangeExtension(path, ext);
}

std::string_view InstalledDataFolder() { return CORVANE_DATA_FROM_BIN; }

std::string FindDataFile(const std::string& programFolder, std::string_view name) {
  namespace fs = std::filesystem;
  const fs::path beside = fs::path(programFolder) / name;
  const fs::path installed = fs::path(programFolder) / InstalledDataFolder() / name;
  std::error_code ec;
  for (const fs::path& candidate : {beside, installed})
    if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
  return beside.string();
}

std::string ProgramDataFile(std::string_view name) {
  return FindDataFile(std::filesystem::path(ProgramFileName("")).parent_path().string(), name);
}

const char* StrToPChar(const std::string& s) { return s.c_str(); }

char* EnsureTrailingNul(std::string& s) {
  if (s.size() < 255 && (s.empty() || s.back() != '\0')) s.push_back('\0');
  return s.data();
}

std::string ErrorCodeText(std::int32_t code, std::string_view msg) {
  return "Error " + UpperCaseAscii(ZeroPadded(static_cast<std::uint32_t>(code), 16, 4)) + ": " + std::string(msg);
}

void ShowErrorCode(std::int32_t code, const std::string& msg, const std::string& details) {
  if (code != 0) ShowMsgDlg(MsgDlgKind::mtError, ErrorCodeText(code, msg), details);
}

// The program has one user-interface thread; the hooks are set at start and read there.
namespace {

MessageBoxHook messageBoxHook;
PendingEventsHook pendingEventsHook;
ClipboardSetHook clipboardSetHook;
ClipboardGetHook clipboardGetHook;
std::string processClipboard;

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { messageBoxHook = std::move(hook); }

void SetMessageBoxHook(MessageTextHook hook) {
  if (!hook) return SetMessageBoxHook(nullptr);
  messageBoxHook = [text = std::move(hook)](MsgDlgKind kind, const std::string& msg, const std::string&) {
    text(kind, msg);
  };
}

void SetMessageBoxHook(std::nullptr_t) { messageBoxHook = nullptr; }

void SetPendingEventsHook(PendingEventsHook hook) { pendingEventsHook = std::move(hook); }

void SetClipboardHooks(ClipboardSetHook set, ClipboardGetHook get) {
  clipboardSetHook = std::move(set);
  clipboardGetHook = std::move(get);
}

void SetClipboardText(const std::string& text) {
  if (clipboardSetHook) {
    clipboardSetHook(text);
    return;
  }
  processClipboard = text;
}

std::string ClipboardText() { return clipboardGetHook ? clipboardGetHook() : processClipboard; }

void ShowMsgDlg(MsgDlgKind kind, const std::string& msg, const std::string& details) {
  if (messageBoxHook) {
    messageBoxHook(kind, msg, details);
    return;
  }
  WriteLine(std::cerr, msg);
}

void ProcessPendingEvents() {
  if (pendingEventsHook) pendingEventsHook();
}

}  // namespace corvane
