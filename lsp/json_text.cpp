#include "json_text.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "d_util.h"

namespace corvane::lsp {

namespace {

using nlohmann::json;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  json document() {
    json value = this->value(0);
    skipSpace();
    if (at_ < text_.size()) fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw JsonReadError("at byte " + std::to_string(at_) + ": " + what);
  }

  void skipSpace() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  // The next byte, after white space; 0 at the end.
  char peek() {
    skipSpace();
    return at_ < text_.size() ? text_[at_] : '\0';
  }

  void expect(char c) {
    if (peek() != c) fail(std::string("'") + c + "' expected");
    ++at_;
  }

  json value(std::size_t depth) {
    switch (peek()) {
      case '{': return object(depth + 1);
      case '[': return array(depth + 1);
      case '"': return string();
      case 't': return literal("true", true);
      case 'f': return literal("false", false);
      case 'n': return literal("null", nullptr);
      default: return number();
    }
  }

  json literal(std::string_view word, json value) {
    if (text_.substr(at_, word.size()) != word) fail("no JSON value");
    at_ += word.size();
    return value;
  }

  json object(std::size_t depth) {
    json result = json::object();
    items(depth, '}', [&] {
      if (peek() != '"') fail("a member name expected");
      std::string key = string();
      expect(':');
      result[std::move(key)] = value(depth);
    });
    return result;
  }

  json array(std::size_t depth) {
    json result = json::array();
    items(depth, ']', [&] { result.push_back(value(depth)); });
    return result;
  }

  // Reads an object's members or an array's elements, one with each call of readOne, from
  // its opening byte to close.
  template <typename ReadOne>
  void items(std::size_t depth, char close, ReadOne readOne) {
    if (depth > kMaxJsonDepth) fail("nested deeper than " + std::to_string(kMaxJsonDepth));
    ++at_;
    if (peek() == close) {
      ++at_;
      return;
    }
    while (true) {
      readOne();
      if (peek() != ',') break;
      ++at_;
    }
    expect(close);
  }

  // A string at its opening quote: found to its end first, so that it is built at its size.
  std::string string() {
    ++at_;
    const std::size_t start = at_;
    bool escaped = false;
    while (true) {
      if (at_ >= text_.size()) fail("a string without its end");
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') break;
      if (c < 0x20) fail("a control character in a string");
      if (c == '\\') {
        escaped = true;
        at_ += 2;
      } else if (c < 0x80) {
        ++at_;
      } else {
        const Utf8Char ch = NextUtf8Char(text_, at_);
        if (!ch.wellFormed) fail("a string that is not UTF-8");
        at_ += ch.size;
      }
    }
    const std::string_view raw = text_.substr(start, at_ - start);
    ++at_;
    if (!escaped) return std::string(raw);
    std::string decoded;
    decoded.reserve(raw.size());  // an escape is never shorter than what it stands for
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\') {
        decoded += raw[i];
        continue;
      }
      const char e = raw[++i];
      switch (e) {
        case '"':
        case '\\':
        case '/': decoded += e; break;
        case 'b': decoded += '\b'; break;
        case 'f': decoded += '\f'; break;
        case 'n': decoded += '\n'; break;
        case 'r': decoded += '\r'; break;
        case 't': decoded += '\t'; break;
        case 'u': i = unicodeEscape(raw, i, decoded); break;
        default: at_ = start + i; fail("an unknown escape in a string");
      }
    }
    return decoded;
  }

  // Four hex digits after raw[u], the 'u' of an escape; nothing when they are not.
  static std::optional<std::uint32_t> HexUnit(std::string_view raw, std::size_t u) {
    if (u + 5 > raw.size()) return std::nullopt;
    std::uint32_t unit = 0;
    const auto [end, ec] = std::from_chars(raw.data() + u + 1, raw.data() + u + 5, unit, 16);
    if (ec != std::errc() || end != raw.data() + u + 5) return std::nullopt;
    return unit;
  }

  // Decodes the \u escape whose 'u' is raw[u] (with the low half of a surrogate pair after
  // it) into out; the index of its last byte.
  std::size_t unicodeEscape(std::string_view raw, std::size_t u, std::string& out) {
    const auto badEscape = [&](const char* what) {
      at_ = static_cast<std::size_t>(raw.data() - text_.data()) + u;
      fail(what);
    };
    std::optional<std::uint32_t> unit = HexUnit(raw, u);
    if (!unit) badEscape("a \\u escape without four hex digits");
    std::uint32_t code = *unit;
    std::size_t last = u + 4;
    if (code >= 0xD800 && code <= 0xDBFF) {
      const std::optional<std::uint32_t> low = raw.substr(last + 1, 2) == "\\u" ? HexUnit(raw, last + 2) : std::nullopt;
      if (!low || *low < 0xDC00 || *low > 0xDFFF) badEscape("half a surrogate pair");
      code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
      last += 6;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      badEscape("half a surrogate pair");
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return last;
  }

  // A number as JSON writes it: a whole one as an integer when one holds it, else a double.
  json number() {
    const std::size_t start = at_;
    const auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const std::size_t intStart = at_;
    const std::size_t intDigits = digits();
    if (intDigits == 0) fail("no JSON value");
    if (intDigits > 1 && text_[intStart] == '0') fail("a number with a leading zero");
    bool whole = true;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) fail("a number without digits after its point");
      whole = false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) fail("a number without digits in its exponent");
      whole = false;
    }
    const char* first = text_.data() + start;
    const char* last = text_.data() + at_;
    if (whole) {
      if (*first == '-') {
        std::int64_t n = 0;
        if (std::from_chars(first, last, n).ec == std::errc()) return n;
      } else {
        std::uint64_t n = 0;
        if (std::from_chars(first, last, n).ec == std::errc()) return n;
      }
    }
    double d = 0;
    const auto [end, ec] = std::from_chars(first, last, d);
    if (ec != std::errc() || end != last) fail("a number out of range");
    return d;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

json ReadJson(std::string_view text) { return Reader(text).document(); }

std::string WriteJson(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

}  // namespace corvane::lsp
