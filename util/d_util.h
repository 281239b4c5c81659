// String, file-name and message-box routines shared by the checker, the directory access,
// the window and the export. Texts are UTF-8; case folding touches ASCII letters only;
// positions count from 1 and 0 means "not found".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// The UTF-8 character at s[i]: its bytes (the longest start of a character, at least one
// byte) and whether they form a whole, well-formed character.
struct Utf8Char {
  std::size_t size;
  bool wellFormed;
};
Utf8Char NextUtf8Char(std::string_view s, std::size_t i);
// Whether s is well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view s);
// Characters in s: its bytes that do not continue a UTF-8 character.
std::size_t Utf8Length(std::string_view s);
// The first chars characters of s, as Utf8Length counts them: never a part of one.
std::string_view Utf8Prefix(std::string_view s, std::size_t chars);

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);
// path with every byte but ASCII letters, digits and "/-._~" written as "%XX", as a URI
// writes a path.
std::string PercentEncoded(std::string_view path);
// text with each "%XX" turned back into its byte; nothing when a '%' is not followed by two
// hexadecimal digits.
std::optional<std::string> PercentDecoded(std::string_view text);
// s without the UTF-8 byte-order mark it may start with.
std::string_view SkipByteOrderMark(std::string_view s);

// The system's text for an errno value. Unlike strerror's, it is safe in any thread.
std::string ErrnoText(int error);

// value written in base (2 to 36, lowercase letters), with zeros in front up to width digits.
std::string ZeroPadded(std::uint64_t value, int base, std::size_t width);

// ASCII-only upper-casing of one character / a whole text.
char FoldChar(char c);
std::string UpperCaseAscii(std::string_view s);
// Equality with ASCII letters folded.
bool SameText(std::string_view a, std::string_view b);
// Ordering with ASCII letters folded (negative, 0, positive).
int CompareText(std::string_view a, std::string_view b);

// Position of Sub in S, case folded; 0 when absent or Sub is empty.
std::size_t PosText(std::string_view sub, std::string_view s);
// Position of Sub in S, exact when caseSensitive, else PosText; 0 when Sub is empty.
std::size_t PosStr(std::string_view sub, std::string_view s, bool caseSensitive);
// Index of the first element equal to S, or -1.
int IndexOfString(std::string_view s, const std::vector<std::string>& values, bool caseSensitive);
// True when IndexOfString finds S.
bool StringInList(std::string_view s, const std::vector<std::string>& values, bool caseSensitive);

// Part of S before Sub (excluding or including Sub); S unchanged when Sub is absent.
std::string StrBefore(std::string_view s, std::string_view sub, bool excludeSub);
// Part of S after Sub (excluding or including Sub); S unchanged when Sub is absent.
std::string StrAfter(std::string_view s, std::string_view sub, bool excludeSub);

struct SplitResult {
  std::string left;
  std::string right;
};
// S cut at the first Sep; Sep absent: left = S, right empty.
SplitResult SplitAt(std::string_view s, std::string_view sep);
// A, Sep, B when both are non-empty, else whichever is non-empty.
std::string JoinNonEmpty(std::string_view a, std::string_view b, std::string_view sep);
// S without leading characters that occur in chars.
std::string TrimLeftChars(std::string_view s, std::string_view chars);
// S without trailing characters that occur in chars.
std::string TrimRightChars(std::string_view s, std::string_view chars);
// S when it begins with Prefix, else Prefix followed by S.
std::string EnsurePrefix(std::string_view s, std::string_view prefix);

// S with every character that occurs in chars replaced by newChar.
std::string ReplaceChars(std::string_view s, std::string_view chars, char newChar);
// S with the first (or every, leftmost non-overlapping) occurrence of Old replaced by New.
std::string ReplaceSub(std::string_view s, std::string_view oldSub, std::string_view newSub, bool caseSensitive,
                       bool replaceAll);

// The file-name part of a path: what follows its last "/".
std::string_view ExtractFileName(std::string_view path);
// The extension of a path's last component, from its last dot on; empty when it has none.
std::string_view ExtractFileExt(std::string_view path);
// FileName with the extension of its last path component replaced by (or appended as) Ext.
std::string ChangeExtension(std::string_view fileName, std::string_view ext);
// The program's own path (from /proc/self/exe) with its extension changed to Ext.
std::string ProgramFileName(std::string_view ext);
// The installed programs' data folder, relative to their own folder.
std::string_view InstalledDataFolder();
// Where the program's data file Name lies: beside the program (the build tree), else in
// InstalledDataFolder(); beside the program when it is in neither.
std::string FindDataFile(const std::string& programFolder, std::string_view name);
// FindDataFile for this program's own folder.
std::string ProgramDataFile(std::string_view name);
// Pointer to S's characters, NUL-terminated, never null.
const char* StrToPChar(const std::string& s);
// Appends one NUL when S is shorter than 255 characters and does not end in NUL.
char* EnsureTrailingNul(std::string& s);

// "Error %04X: %s" for a non-zero code.
std::string ErrorCodeText(std::int32_t code, std::string_view msg);

enum class MsgDlgKind { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
// Shows Msg in a modal box with one OK button (through the installed message-box hook),
// with Details, when there are any, for the user who wants to know more.
void ShowMsgDlg(MsgDlgKind kind, const std::string& msg, const std::string& details = {});
// ShowMsgDlg(error, "Error %04X: %s", details) when Code is not 0.
void ShowErrorCode(std::int32_t code, const std::string& msg, const std::string& details = {});

}  // namespace corvane
