// The documents open in the editor: edited on the protocol thread, read there and by the
// checks. A text nobody else reads is edited where it lies; one that a check still reads is
// copied once, and the copy is edited from then on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "text_document.h"

namespace corvane::lsp {

// An open document as it stands at one version; its text stays so while this lives.
struct DocumentSnapshot {
  std::string uri;
  std::optional<std::string> path;  // for a file URI: where the document lives
  std::int64_t version = 0;
  std::shared_ptr<const std::string> text;
};

class OpenDocuments {
 public:
  // Opens a document, or replaces one open under the same URI.
  void open(const std::string& uri, std::int64_t version, std::string text);
  enum class Changed { Done, NotOpen, OutsideDocument };
  // Applies edits to an open document and gives it their version. When an edit lies outside
  // the text, the edits before it stay made and the version stays as it was.
  Changed change(const std::string& uri, std::int64_t version, std::vector<TextChange> changes,
                 PositionEncoding encoding);
  void close(const std::string& uri);
  // The document under uri as it is now; nothing when it is not open.
  std::optional<DocumentSnapshot> snapshot(const std::string& uri) const;

 private:
  struct Open {
    std::optional<std::string> path;
    std::int64_t version = 0;
    std::shared_ptr<std::string> text;  // shared with the snapshots taken of it
  };

  mutable std::mutex mutex_;  // snapshots are taken under it, so none appears during an edit
  std::map<std::string, Open, std::less<>> documents_;
};

}  // namespace corvane::lsp
