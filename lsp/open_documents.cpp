#include "open_documents.h"

#include <atomic>
#include <utility>

#include "file_uri.h"

namespace corvane::lsp {

namespace {

// Room left for an edit to grow a copied text in place.
constexpr std::size_t kGrowthRoom = 4096;

}  // namespace

void OpenDocuments::open(const std::string& uri, std::int64_t version, std::string text) {
  Open opened{PathOfFileUri(uri), version, std::make_shared<std::string>(std::move(text))};
  const std::lock_guard lock(mutex_);
  documents_.insert_or_assign(uri, std::move(opened));
}

OpenDocuments::Changed OpenDocuments::change(const std::string& uri, std::int64_t version,
                                             std::vector<TextChange> changes, PositionEncoding encoding) {
  const std::lock_guard lock(mutex_);
  const auto it = documents_.find(uri);
  if (it == documents_.end()) return Changed::NotOpen;
  std::shared_ptr<std::string>& text = it->second.text;
  if (text.use_count() > 1) {
    // A snapshot still reads it: the edits go to a copy.
    auto copy = std::make_shared<std::string>();
    copy->reserve(text->size() + kGrowthRoom);
    copy->append(*text);
    text = std::move(copy);
  } else {
    // The snapshot that held it last is gone; what it read happened before what is written now.
    std::atomic_thread_fence(std::memory_order_acquire);
  }
  if (!ApplyChanges(*text, std::move(changes), encoding)) return Changed::OutsideDocument;
  it->second.version = version;
  return Changed::Done;
}

void OpenDocuments::close(const std::string& uri) {
  const std::lock_guard lock(mutex_);
  documents_.erase(uri);
}

std::optional<DocumentSnapshot> OpenDocuments::snapshot(const std::string& uri) const {
  const std::lock_guard lock(mutex_);
  const auto it = documents_.find(uri);
  if (it == documents_.end()) return std::nullopt;
  return DocumentSnapshot{uri, it->second.path, it->second.version, it->second.text};
}

}  // namespace corvane::lsp
