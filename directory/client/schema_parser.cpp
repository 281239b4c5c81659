#include "schema_parser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <forward_list>
#include <optional>
#include <span>
#include <utility>

#include "client_types.h"
#include "d_util.h"
#include "warnings.h"

namespace corvane::client {
namespace {

enum class DefinitionKind { AttributeType, ObjectClass };

// Where a definition begins and what follows its keyword on that line.
struct DefinitionStart {
  DefinitionKind kind;
  bool ldif;
  bool base64;
  std::string_view rest;
};

struct ParseError {
  std::string reason;
};

[[noreturn]] void Fail(std::string reason) { throw ParseError{std::move(reason)}; }

constexpr bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// What a character is to the scanner and the tokenizer; a word runs on over Word characters.
enum class CharKind : std::uint8_t { Word, Blank, Open, Close, Dollar, Quote };

constexpr std::array<CharKind, 256> kCharKinds = [] {
  std::array<CharKind, 256> kinds{};
  for (int c = 0; c < 256; ++c)
    kinds[static_cast<std::size_t>(c)] = IsBlank(static_cast<char>(c)) ? CharKind::Blank : CharKind::Word;
  kinds['('] = CharKind::Open;
  kinds[')'] = CharKind::Close;
  kinds['$'] = CharKind::Dollar;
  kinds['\''] = CharKind::Quote;
  return kinds;
}();

CharKind KindOfChar(char c) { return kCharKinds[static_cast<unsigned char>(c)]; }

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::optional<DefinitionKind> LdifAttributeKind(std::string_view attribute) {
  if (SameText(attribute, "attributeTypes") || SameText(attribute, "olcAttributeTypes"))
    return DefinitionKind::AttributeType;
  if (SameText(attribute, "objectClasses") || SameText(attribute, "olcObjectClasses"))
    return DefinitionKind::ObjectClass;
  return std::nullopt;
}

std::optional<DefinitionStart> LdifStart(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto kind = LdifAttributeKind(line.substr(0, colon));
  if (!kind) return std::nullopt;
  std::string_view rest = line.substr(colon + 1);
  const bool base64 = !rest.empty() && rest.front() == ':';
  if (base64) rest.remove_prefix(1);
  return DefinitionStart{*kind, true, base64, rest};
}

std::optional<DefinitionStart> KeywordStart(std::string_view line) {
  static constexpr std::pair<std::string_view, DefinitionKind> keywords[] = {
      {"attributetype", DefinitionKind::AttributeType}, {"objectclass", DefinitionKind::ObjectClass}};
  for (const auto& [keyword, kind] : keywords) {
    if (line.size() < keyword.size() || !SameText(line.substr(0, keyword.size()), keyword)) continue;
    const std::string_view rest = line.substr(keyword.size());
    if (rest.empty() || IsBlank(rest.front()) || rest.front() == '(') return DefinitionStart{kind, false, false, rest};
  }
  return std::nullopt;
}

std::optional<DefinitionStart> FindDefinitionStart(std::string_view line) {
  // Every keyword and LDIF attribute that begins a definition begins with one of these.
  if (line.empty() || (FoldChar(line.front()) != 'A' && FoldChar(line.front()) != 'O')) return std::nullopt;
  if (auto start = LdifStart(line)) return start;
  return KeywordStart(line);
}

// A line that begins a definition after blanks. Within another definition's lines such a
// line ends that one, so a keyword must be followed by '(' here: "objectclass" alone may be
// a value that a folded or indented line begins with.
std::optional<DefinitionStart> IndentedStart(std::string_view line) {
  auto start = FindDefinitionStart(TrimLeft(line));
  if (start && !start->ldif && !TrimLeft(start->rest).starts_with('(')) return std::nullopt;
  return start;
}

// A word followed by '(' at the start of a line that is neither a definition we read nor
// another statement of that shape looks like a definition with a misspelt keyword.
bool LooksLikeDefinition(std::string_view line) {
  static constexpr std::string_view otherStatements[] = {"ldapsyntax", "ditcontentrule"};
  std::size_t end = 0;
  while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '-')) ++end;
  if (end == 0 || !TrimLeft(line.substr(end)).starts_with('(')) return false;
  return std::none_of(std::begin(otherStatements), std::end(otherStatements),
                      [&](std::string_view other) { return SameText(line.substr(0, end), other); });
}

// Follows the parentheses of a definition as its text grows, so that each line is looked at
// once however long the definition; quoted text does not count.
class ParenthesisScanner {
 public:
  void feed(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (quoted_) {
        i = text.find('\'', i);
        if (i == std::string_view::npos) return;
        quoted_ = false;
        continue;
      }
      switch (KindOfChar(text[i])) {
        case CharKind::Quote: quoted_ = true; break;
        case CharKind::Open:
          ++depth_;
          opened_ = true;
          break;
        case CharKind::Close: --depth_; break;
        default: break;
      }
    }
  }
  // True once the parentheses opened outside quotes are all closed again.
  bool closed() const { return opened_ && depth_ <= 0 && !quoted_; }
  bool quoted() const { return quoted_; }

 private:
  long depth_ = 0;
  bool opened_ = false;
  bool quoted_ = false;
};

// In schema spelling a definition runs on over indented lines, comments and lone
// parentheses; a line that begins with a letter starts the next statement.
bool ContinuesDefinition(std::string_view line) {
  return line.empty() || !std::isalpha(static_cast<unsigned char>(line.front()));
}

std::optional<std::string> DecodeBase64(std::string_view s) {
  static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (const char c : s) {
    if (IsBlank(c)) continue;
    if (c == '=') break;
    const std::size_t value = alphabet.find(c);
    if (value == std::string_view::npos) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      out.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
    }
  }
  return out;
}

// Removes the "{N}" ordering prefix that configuration-database values carry.
std::string_view StripOrderingPrefix(std::string_view value) {
  if (value.empty() || value.front() != '{') return value;
  const std::size_t close = value.find('}');
  if (close == std::string_view::npos) return value;
  return TrimLeft(value.substr(close + 1));
}

// A token of a definition: its text lies in the definition, or for quoted text with escapes
// among the texts its tokens were unescaped into.
struct Token {
  enum class Type { Open, Close, Dollar, Quoted, Word };
  Type type;
  std::string_view text;
};

// A definition's tokens and the quoted texts that had to be unescaped.
struct Tokens {
  std::vector<Token> list;
  std::forward_list<std::string> unescaped;  // stable, so that tokens may point into them
};

// Quoted texts escape a quote as \27 and a backslash as \5C.
std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 2 < s.size() && HexDigitValue(s[i + 1]) >= 0 && HexDigitValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigitValue(s[i + 1]) * 16 + HexDigitValue(s[i + 2])));
      i += 2;
      continue;
    }
    out.push_back(s[i]);
  }
  return out;
}

// Replaces tokens with those of s, which must outlive them.
void Tokenize(std::string_view s, Tokens& tokens) {
  tokens.list.clear();
  tokens.unescaped.clear();
  std::size_t i = 0;
  while (i < s.size()) {
    switch (KindOfChar(s[i])) {
      case CharKind::Blank: ++i; break;
      case CharKind::Open:
        tokens.list.push_back({Token::Type::Open, {}});
        ++i;
        break;
      case CharKind::Close:
        tokens.list.push_back({Token::Type::Close, {}});
        ++i;
        break;
      case CharKind::Dollar:
        tokens.list.push_back({Token::Type::Dollar, {}});
        ++i;
        break;
      case CharKind::Quote: {
        const std::size_t close = s.find('\'', i + 1);
        if (close == std::string_view::npos) Fail("quoted text not closed");
        std::string_view text = s.substr(i + 1, close - i - 1);
        if (text.find('\\') != std::string_view::npos) text = tokens.unescaped.emplace_front(Unescape(text));
        tokens.list.push_back({Token::Type::Quoted, text});
        i = close + 1;
        break;
      }
      case CharKind::Word: {
        std::size_t end = i + 1;
        while (end < s.size() && KindOfChar(s[end]) == CharKind::Word) ++end;
        tokens.list.push_back({Token::Type::Word, s.substr(i, end - i)});
        i = end;
        break;
      }
    }
  }
}

// A definition as keyword/value pairs, before it is read as an attribute or a class; its
// texts lie in the tokens it was read from. Keywords and flags are kept as written and
// compared with letter case ignored.
struct Description {
  struct Field {
    std::string_view keyword;
    std::size_t first;  // in values
    std::size_t count;
  };
  std::string_view oid;
  std::vector<Field> fields;
  std::vector<std::string_view> values;  // those of all fields, field after field
  std::vector<std::string_view> flags;

  void clear() {
    fields.clear();
    values.clear();
    flags.clear();
  }
  // The values of the first field called keyword (in capitals).
  std::span<const std::string_view> valuesOf(std::string_view keyword) const {
    for (const Field& field : fields)
      if (SameText(field.keyword, keyword)) return std::span(values).subspan(field.first, field.count);
    return {};
  }
  bool hasFlag(std::string_view flag) const {
    return std::any_of(flags.begin(), flags.end(), [&](std::string_view f) { return SameText(f, flag); });
  }
};

bool IsFlagKeyword(std::string_view keyword) {
  static constexpr std::string_view flagKeywords[] = {"OBSOLETE", "SINGLE-VALUE", "COLLECTIVE", "NO-USER-MODIFICATION",
                                                      "ABSTRACT", "STRUCTURAL",   "AUXILIARY"};
  return std::any_of(std::begin(flagKeywords), std::end(flagKeywords),
                     [&](std::string_view flag) { return SameText(keyword, flag); });
}

// Reads tokens into a description, whose texts then lie in the tokens.
class DescriptionParser {
 public:
  DescriptionParser(const std::vector<Token>& tokens, Description& d) : tokens_(tokens), d_(d) {}

  void parse() {
    d_.clear();
    if (atEnd() || next().type != Token::Type::Open) Fail("definition does not begin with '('");
    if (atEnd() || peek().type != Token::Type::Word) Fail("object identifier missing");
    d_.oid = next().text;
    for (;;) {
      if (atEnd()) Fail("closing ')' missing");
      const Token& token = next();
      if (token.type == Token::Type::Close) break;
      if (token.type != Token::Type::Word) Fail("keyword expected");
      if (IsFlagKeyword(token.text)) {
        d_.flags.push_back(token.text);
        continue;
      }
      const std::size_t first = d_.values.size();
      parseValues(token.text);
      d_.fields.push_back({token.text, first, d_.values.size() - first});
    }
    if (!atEnd()) Fail("text after the closing ')'");
  }

 private:
  bool atEnd() const { return pos_ >= tokens_.size(); }
  const Token& peek() const { return tokens_[pos_]; }
  const Token& next() { return tokens_[pos_++]; }

  static bool IsValue(const Token& t) { return t.type == Token::Type::Word || t.type == Token::Type::Quoted; }

  // One value, or a parenthesized list of values separated by blanks or '$'.
  void parseValues(std::string_view keyword) {
    if (atEnd()) Fail("value missing after " + UpperCaseAscii(keyword));
    const Token& first = next();
    if (IsValue(first)) return d_.values.push_back(first.text);
    if (first.type != Token::Type::Open) Fail("value missing after " + UpperCaseAscii(keyword));
    for (;;) {
      if (atEnd()) Fail("list after " + UpperCaseAscii(keyword) + " not closed");
      const Token& token = next();
      if (token.type == Token::Type::Close) return;
      if (IsValue(token))
        d_.values.push_back(token.text);
      else if (token.type != Token::Type::Dollar)
        Fail("unexpected '(' in list after " + UpperCaseAscii(keyword));
    }
  }

  const std::vector<Token>& tokens_;
  Description& d_;
  std::size_t pos_ = 0;
};

// Why a value cannot be a name or reference: they end up in fixed-size name buffers of the
// callers.
std::optional<std::string> NameProblem(std::string_view value, std::string_view keyword) {
  if (value.empty()) return "empty name after " + std::string(keyword);
  if (value.size() >= kMaxSchemaNameBytes)
    return "name longer than " + std::to_string(kMaxSchemaNameBytes - 1) + " bytes after " + std::string(keyword);
  return std::nullopt;
}

std::vector<std::string> CheckedValues(const Description& d, std::string_view keyword) {
  const std::span<const std::string_view> found = d.valuesOf(keyword);
  std::vector<std::string> values;
  values.reserve(found.size());
  for (const std::string_view value : found) {
    if (std::optional<std::string> problem = NameProblem(value, keyword)) Fail(std::move(*problem));
    values.emplace_back(value);
  }
  return values;
}

std::string CheckedOid(const Description& d) {
  if (d.oid.size() >= kMaxSchemaNameBytes) Fail("object identifier too long");
  return std::string(d.oid);
}

ClassKind KindOf(const Description& d) {
  if (d.hasFlag("AUXILIARY")) return ClassKind::Auxiliary;
  if (d.hasFlag("ABSTRACT")) return ClassKind::Abstract;
  return ClassKind::Structural;
}

// The NAME values, then those of the name extension that are not among them already. Letter
// case counts: the names plug-in files use are often the LDAP names in capitals (CN for cn).
// An extension value that cannot be a name is warned about and left out; the definition
// stands without it.
std::vector<std::string> NamesOf(const Description& d, const SchemaDefinitions& out, SourceLine where) {
  std::vector<std::string> names = CheckedValues(d, "NAME");
  const std::string& extension = out.nameExtension;
  if (extension.empty()) return names;
  for (const std::string_view extra : d.valuesOf(extension)) {
    if (const std::optional<std::string> problem = NameProblem(extra, extension))
      WriteWarning(out.describe(where) + ": warning: value ignored: " + *problem);
    else if (!StringInList(extra, names, true))
      names.emplace_back(extra);
  }
  return names;
}

// What reading a definition needs, kept from one definition to the next so that their
// memory is reused.
struct Workspace {
  std::string text;
  Tokens tokens;
  Description description;
};

void AddDefinition(DefinitionKind kind, std::string_view text, SourceLine where, Workspace& work,
                   SchemaDefinitions& out) {
  Tokenize(text, work.tokens);
  const Description& d = work.description;
  DescriptionParser(work.tokens.list, work.description).parse();
  if (kind == DefinitionKind::AttributeType) {
    out.attributeTypes.push_back({CheckedOid(d), NamesOf(d, out, where)});
    return;
  }
  out.objectClasses.push_back({CheckedOid(d), NamesOf(d, out, where), CheckedValues(d, "SUP"), KindOf(d),
                               CheckedValues(d, "MUST"), CheckedValues(d, "MAY"), CheckedValues(d, "X-CONTAINED-IN"),
                               CheckedValues(d, "X-NAMED-BY"), where});
}

void Warn(std::string_view sourceName, std::size_t line, std::string_view reason) {
  WriteWarning(std::string(sourceName) + ':' + std::to_string(line) +
               ": warning: definition skipped: " + std::string(reason));
}

// Whether a definition's parentheses and quotes were closed.
struct GatheredDefinition {
  bool closed = true;
  bool quoted = false;
};

// Gathers one definition's text starting at lines[i] into text; leaves i on its last line. A
// line that begins another definition ends it, closed or not.
GatheredDefinition GatherDefinition(const std::vector<std::string_view>& lines, std::size_t& i,
                                    const DefinitionStart& start, std::string& text) {
  GatheredDefinition gathered;
  text.assign(start.rest);
  ParenthesisScanner scanner;
  scanner.feed(text);
  const auto nextBeginsDefinition = [&] { return !scanner.quoted() && IndentedStart(lines[i + 1]).has_value(); };
  if (start.ldif) {
    // LDIF folds long values onto lines that begin with one space.
    while (i + 1 < lines.size() && lines[i + 1].starts_with(' ') && !nextBeginsDefinition()) {
      const std::string_view part = lines[++i].substr(1);
      scanner.feed(part);
      text.append(part);
    }
    // A base64 value shows its parentheses only once decoded.
    if (start.base64) return gathered;
  } else {
    while (!scanner.closed() && i + 1 < lines.size() && ContinuesDefinition(lines[i + 1]) && !nextBeginsDefinition()) {
      const std::string_view line = lines[++i];
      if (line.starts_with('#')) continue;
      text.push_back(' ');
      text.append(line);
      scanner.feed(line);
    }
  }
  gathered.closed = scanner.closed();
  gathered.quoted = scanner.quoted();
  return gathered;
}

// Adds the definition; false, after a warning, when it cannot be used.
bool ParseDefinitionAt(const DefinitionStart& start, GatheredDefinition gathered, std::string_view sourceName,
                       SourceLine where, Workspace& work, SchemaDefinitions& out) {
  try {
    if (!gathered.closed) Fail(gathered.quoted ? "quoted text not closed" : "closing ')' missing");
    std::string& text = work.text;
    if (start.base64) {
      auto decoded = DecodeBase64(text);
      if (!decoded) Fail("invalid base64 value");
      text = std::move(*decoded);
    }
    AddDefinition(start.kind, StripOrderingPrefix(TrimLeft(text)), where, work, out);
    return true;
  } catch (const ParseError& e) {
    Warn(sourceName, where.line, e.reason);
    return false;
  }
}

}  // namespace

std::string SchemaDefinitions::describe(SourceLine where) const {
  const std::string source = where.source < sources.size() ? sources[where.source] : "?";
  return source + ':' + std::to_string(where.line);
}

std::size_t ParseSchemaText(std::string_view text, std::string_view sourceName, SchemaDefinitions& out) {
  const std::size_t source = out.sources.size();
  out.sources.emplace_back(sourceName);
  const std::vector<std::string_view> lines = SplitLines(SkipByteOrderMark(text));
  std::size_t added = 0;
  Workspace work;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.starts_with('#')) continue;
    const bool indented = !line.empty() && IsBlank(line.front());
    const auto start = FindDefinitionStart(indented ? TrimLeft(line) : line);
    if (!start) {
      if (LooksLikeDefinition(line)) Warn(sourceName, i + 1, "unknown keyword");
      continue;
    }
    // Schema files are often indented, and there a keyword line means the same wherever it
    // begins. In LDIF a line that begins with a blank continues the line before it, so an
    // indented definition does not say what it seems to.
    if (indented && start->ldif) {
      Warn(sourceName, i + 1, "indented; in LDIF a line that begins with a blank continues the line before it");
      continue;
    }
    const SourceLine where{source, i + 1};
    const GatheredDefinition gathered = GatherDefinition(lines, i, *start, work.text);
    added += ParseDefinitionAt(*start, gathered, sourceName, where, work, out) ? 1 : 0;
  }
  return added;
}

}  // namespace corvane::client
