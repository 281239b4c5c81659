// The protocol's base layer: messages framed by a "Content-Length" header, read from a
// stream of bytes as they arrive and written whole.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::lsp {

// The largest message body taken: larger ones are refused, never allocated.
inline constexpr std::size_t kMaxContentLength = std::size_t{64} << 20;
// The largest header part taken (the lines up to the empty one).
inline constexpr std::size_t kMaxHeaderLength = std::size_t{8} << 10;

// What the reader found next in the bytes: a message body, or a framing fault that made it
// drop a header (the bytes after that header are read as a new message).
struct Frame {
  std::string body;
  std::string fault;  // empty for a message; else what was wrong, for a log line and an error
};

// Cuts messages out of the bytes fed to it, in any pieces. Holds at most one header part, the
// bytes of one read that follow a body, and one body of at most kMaxContentLength bytes; a
// body is gathered in a string of its own length, handed out without a copy.
class FrameReader {
 public:
  // Adds bytes read from the stream.
  void feed(std::string_view bytes);
  // The next message or fault, once its bytes have all arrived.
  std::optional<Frame> next();
  // Whether bytes of an unfinished message are held (the stream ended inside one).
  bool partial() const { return consumed_ < buffer_.size() || expected_.has_value(); }

 private:
  std::optional<Frame> readHeader();
  // Moves up to what the body still lacks from the start of bytes into it; the bytes taken.
  std::size_t takeBody(std::string_view bytes);

  std::string buffer_;                   // header parts, and what follows a body in one read
  std::string body_;                     // the body being gathered
  std::size_t consumed_ = 0;             // bytes at the start of buffer_ that are done with
  std::optional<std::size_t> expected_;  // the body length, once its header is read
  bool skippingLine_ = false;            // dropping the rest of a header part that was too long
};

// body framed as a message: its Content-Length header, then body.
std::string Framed(std::string_view body);

// Writes framed messages to a sink, whole, one at a time from any thread.
class FrameWriter {
 public:
  // Takes the bytes of one framed message; false when they could not be written.
  using Sink = std::function<bool(std::string_view)>;
  explicit FrameWriter(Sink sink) : sink_(std::move(sink)) {}

  // Frames body and writes it; false when the sink failed (the peer is gone).
  bool write(std::string_view body);

 private:
  std::mutex mutex_;
  Sink sink_;
};

}  // namespace corvane::lsp
