// The language server's message reader and dispatcher, in-process: the input is cut into
// frames as it would arrive on standard input, and each message is handled by a server
// whose checks are only recorded, so no thread runs and no file is read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base_protocol.h"
#include "check_worker.h"
#include "server.h"

namespace {

class RecordedChecks : public corvane::lsp::Checks {
 public:
  void start(corvane::lsp::PositionEncoding, std::optional<corvane::lsp::TreeChoice>) override {}
  void check(const std::string&) override { ++checks; }
  void close(const std::string&) override {}
  void recheckAll() override {}
  void chooseTree(corvane::lsp::TreeChoice) override {}
  std::optional<corvane::lsp::PublishedDiagnostics> published(const std::string&) override { return std::nullopt; }
  std::shared_ptr<const corvane::lsp::EditorSchema> schema(const std::string&) override { return nullptr; }
  std::size_t checks = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::size_t written = 0;
  corvane::lsp::FrameWriter writer([&](std::string_view bytes) {
    written += bytes.size();
    return true;
  });
  corvane::lsp::OpenDocuments documents;
  RecordedChecks checks;
  corvane::lsp::Server server(writer, documents, checks);
  corvane::lsp::FrameReader reader;
  // Fed in two pieces, so that a message may be cut anywhere.
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const std::string_view piece : {input.substr(0, size / 2), input.substr(size / 2)}) {
    reader.feed(piece);
    while (std::optional<corvane::lsp::Frame> frame = reader.next()) server.receive(std::move(*frame));
    while (server.pending()) {
      if (server.handleNext()) return 0;
    }
  }
  return 0;
}
