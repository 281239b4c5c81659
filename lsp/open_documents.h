// The documents open in the editor: edited on the protocol thread, read there and by the
// checks. A text nobody else reads is edited where it lies. Edits that come while a check
// still reads the text wait, and are made when the next snapshot is taken: by then the check
// is over, as a rule, and the text is still held once. Only a snapshot asked for while the
// text is read elsewhere gets a copy.
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
  // What became of a change: OutsideDocument the first time an edit is found to lie outside
  // the text (this one or one that waited), OutOfStep for every change after that.
  enum class Changed { Done, NotOpen, OutsideDocument, OutOfStep };
  // Applies edits to an open document, or keeps them for its next snapshot, and gives it
  // their version. Once an edit did not fit, the edits before it stay made and no other is
  // taken: the editor must open the document again.
  Changed change(const std::string& uri, std::int64_t version, std::vector<TextChange> changes,
                 PositionEncoding encoding);
  void close(const std::string& uri);
  // The document under uri with every edit made; nothing when it is not open.
  std::optional<DocumentSnapshot> snapshot(const std::string& uri);

 private:
  struct Open {
    std::optional<std::string> path;
    std::int64_t version = 0;
    std::shared_ptr<std::string> text;                    // shared with the snapshots taken of it
    std::vector<TextChange> waiting;                      // edits not yet made, while a snapshot reads text
    PositionEncoding encoding = PositionEncoding::Utf16;  // how the waiting edits count
    bool outOfStep = false;                               // an edit did not fit the text
    bool told = false;                                    // and a change was answered OutsideDocument
  };
  // Makes the waiting edits, on a copy of the text if a snapshot still reads it.
  static void catchUp(Open& open);
  // Whether text is read by no snapshot, so that it may be written.
  static bool Unshared(const std::shared_ptr<std::string>& text);

  std::mutex mutex_;  // snapshots are taken under it, so none appears during an edit
  std::map<std::string, Open, std::less<>> documents_;
};

}  // namespace corvane::lsp
