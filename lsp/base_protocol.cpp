#include "base_protocol.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>
#include <utility>

namespace corvane::lsp {

namespace {

constexpr std::string_view kContentLength = "content-length";

bool SameAscii(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// What a header part says the body's length is; a fault says why it says nothing usable.
struct HeaderResult {
  std::optional<std::size_t> length;
  std::string fault;
};

HeaderResult ParseHeader(std::string_view header) {
  std::optional<std::string_view> value;
  while (!header.empty()) {
    const std::size_t end = std::min(header.find('\n'), header.size());
    std::string_view line = header.substr(0, end);
    header.remove_prefix(std::min(end + 1, header.size()));
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return {std::nullopt, "a header line without ':'"};
    if (SameAscii(Trimmed(line.substr(0, colon)), kContentLength)) value = Trimmed(line.substr(colon + 1));
  }
  if (!value) return {std::nullopt, "no Content-Length header"};
  std::uint64_t length = 0;
  const char* end = value->data() + value->size();
  const auto [stop, ec] = std::from_chars(value->data(), end, length);
  if (value->empty() || stop != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    return {std::nullopt, "Content-Length '" + std::string(value->substr(0, 40)) + "' is not a number of bytes"};
  }
  if (ec == std::errc::result_out_of_range || length > kMaxContentLength) {
    return {std::nullopt, "Content-Length " + std::string(value->substr(0, 40)) + " is more than the " +
                              std::to_string(kMaxContentLength) + " bytes a message may have"};
  }
  return {static_cast<std::size_t>(length), {}};
}

}  // namespace

void FrameReader::feed(std::string_view bytes) {
  if (expected_) bytes.remove_prefix(takeBody(bytes));
  // What was read is dropped before the buffer grows; a buffer left large by a long header
  // part is given back.
  if (consumed_ == buffer_.size()) {
    if (buffer_.capacity() > kMaxHeaderLength) buffer_ = std::string();
    buffer_.clear();
    consumed_ = 0;
  } else if (consumed_ > 0) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  buffer_.append(bytes);
}

std::size_t FrameReader::takeBody(std::string_view bytes) {
  const std::size_t take = std::min(bytes.size(), *expected_ - body_.size());
  body_.append(bytes.substr(0, take));
  return take;
}

std::optional<Frame> FrameReader::next() {
  while (true) {
    if (expected_) {
      if (body_.size() < *expected_) {
        // The rest of the body may wait in the buffer, read with the header.
        consumed_ += takeBody(std::string_view(buffer_).substr(consumed_));
        if (body_.size() < *expected_) return std::nullopt;
      }
      expected_.reset();
      return Frame{std::exchange(body_, std::string()), {}};
    }
    const std::string_view pending = std::string_view(buffer_).substr(consumed_);
    if (skippingLine_) {
      // After a header part too long to take, the next message starts at its own header.
      const std::size_t start = pending.find("\nContent-Length:");
      if (start == std::string_view::npos) {
        // Keep what may be the start of that header's line.
        const std::size_t keep = std::min(pending.size(), std::string_view("\nContent-Length:").size() - 1);
        consumed_ += pending.size() - keep;
        return std::nullopt;
      }
      consumed_ += start + 1;
      skippingLine_ = false;
      continue;
    }
    if (pending.empty()) return std::nullopt;
    return readHeader();
  }
}

std::optional<Frame> FrameReader::readHeader() {
  std::string_view pending = std::string_view(buffer_).substr(consumed_);
  // Line ends between messages are no header.
  const std::size_t lead = std::min(pending.find_first_not_of("\r\n"), pending.size());
  consumed_ += lead;
  pending.remove_prefix(lead);
  if (pending.empty()) return std::nullopt;
  // Lines end with CR LF; a bare LF is taken too.
  const std::size_t crlf = pending.find("\r\n\r\n");
  const std::size_t lf = pending.find("\n\n");
  const std::size_t end = std::min(crlf, lf);
  if (end == std::string_view::npos || end > kMaxHeaderLength) {
    if (pending.size() <= kMaxHeaderLength) return std::nullopt;
    consumed_ = buffer_.size();
    skippingLine_ = true;
    return Frame{{}, "a header part longer than " + std::to_string(kMaxHeaderLength) + " bytes"};
  }
  const std::size_t bodyStart = end + (end == crlf ? 4 : 2);
  const HeaderResult header = ParseHeader(pending.substr(0, end));
  consumed_ += bodyStart;
  if (!header.length) return Frame{{}, header.fault};
  expected_ = header.length;
  body_.reserve(*header.length);
  return next();
}

std::string Framed(std::string_view body) {
  std::string frame = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  frame.append(body);
  return frame;
}

bool FrameWriter::write(std::string_view body) {
  const std::string frame = Framed(body);
  const std::lock_guard lock(mutex_);
  return sink_(frame);
}

}  // namespace corvane::lsp
