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

bool OpenDocuments::Unshared(const std::shared_ptr<std::string>& text) {
  if (text.use_count() > 1) return false;
  // The snapshot that held it last is gone; what it read happened before what is written now.
  std::atomic_thread_fence(std::memory_order_acquire);
  return true;
}

void OpenDocuments::catchUp(Open& open) {
  if (open.waiting.empty()) return;
  if (!Unshared(open.text)) {
    auto copy = std::make_shared<std::string>();
    copy->reserve(open.text->size() + kGrowthRoom);
    copy->append(*open.text);
    open.text = std::move(copy);
  }
  if (!ApplyChanges(*open.text, std::exchange(open.waiting, {}), open.encoding)) open.outOfStep = true;
}

OpenDocuments::Changed OpenDocuments::change(const std::string& uri, std::int64_t version,
                                             std::vector<TextChange> changes, PositionEncoding encoding) {
  const std::lock_guard lock(mutex_);
  const auto it = documents_.find(uri);
  if (it == documents_.end()) return Changed::NotOpen;
  Open& open = it->second;
  if (!open.outOfStep) {
    if (!Unshared(open.text)) {
      // A check reads the text: the edits wait for it, and no copy is made.
      open.waiting.insert(open.waiting.end(), std::make_move_iterator(changes.begin()),
                          std::make_move_iterator(changes.end()));
      open.encoding = encoding;
      open.version = version;
      return Changed::Done;
    }
    catchUp(open);
    if (!open.outOfStep && ApplyChanges(*open.text, std::move(changes), encoding)) {
      open.version = version;
      return Changed::Done;
    }
    open.outOfStep = true;
  }
  return std::exchange(open.told, true) ? Changed::OutOfStep : Changed::OutsideDocument;
}

void OpenDocuments::close(const std::string& uri) {
  const std::lock_guard lock(mutex_);
  documents_.erase(uri);
}

std::optional<DocumentSnapshot> OpenDocuments::snapshot(const std::string& uri) {
  const std::lock_guard lock(mutex_);
  const auto it = documents_.find(uri);
  if (it == documents_.end()) return std::nullopt;
  catchUp(it->second);
  return DocumentSnapshot{uri, it->second.path, it->second.version, it->second.text};
}

}  // namespace corvane::lsp
