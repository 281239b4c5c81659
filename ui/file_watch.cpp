#include "file_watch.h"

#include <sys/stat.h>

#include <QSet>
#include <QStringList>
#include <unordered_map>

namespace corvane {

namespace {

// Saving a file is often several steps (write, rename, touch); one look after they are done.
constexpr int kSettleMs = 250;

QString FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return QString::fromStdString(slash == std::string::npos ? std::string(".")
                                                           : path.substr(0, std::max<std::size_t>(slash, 1)));
}

}  // namespace

CheckedFilesWatcher::CheckedFilesWatcher(QObject* parent) : QObject(parent) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &CheckedFilesWatcher::look);
  connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, qOverload<>(&QTimer::start));
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, qOverload<>(&QTimer::start));
}

CheckedFilesWatcher::Stamp CheckedFilesWatcher::StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, static_cast<long long>(st.st_size),
          static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec,
          static_cast<unsigned long long>(st.st_ino)};
}

void CheckedFilesWatcher::watch(const std::vector<std::string>& paths) {
  std::vector<std::pair<std::string, Stamp>> now;
  now.reserve(paths.size());
  for (const std::string& path : paths) now.emplace_back(path, StampOf(path));
  // Checking the same file again reads the same files: where each is as it was, the watches
  // stand as they are.
  if (now == files_) return;
  std::unordered_map<std::string, Stamp> before;
  before.reserve(files_.size());
  for (auto& [path, stamp] : files_) before.emplace(std::move(path), stamp);
  files_ = std::move(now);
  // A file that is the very one watched before (the same inode, unchanged) keeps its watch:
  // checking the same file again watches the same few hundred files, mostly untouched.
  QSet<QString> unchanged;
  for (const auto& [path, stamp] : files_) {
    if (const auto it = before.find(path); stamp.exists && it != before.end() && it->second == stamp) {
      unchanged.insert(QString::fromStdString(path));
    }
  }
  rewatch(unchanged);
}

void CheckedFilesWatcher::stop() {
  settle_.stop();
  files_.clear();
  rewatch({});
}

void CheckedFilesWatcher::rewatch(const QSet<QString>& keptFiles) {
  QSet<QString> files;
  QSet<QString> folders;
  for (const auto& [path, stamp] : files_) {
    if (stamp.exists) files.insert(QString::fromStdString(path));
    folders.insert(FolderOf(path));
  }
  // The watcher forgets a path once it is removed or renamed over; a folder it still has is
  // still the folder.
  QStringList stale;
  QSet<QString> watched;
  const auto sort = [&](const QString& path, bool keep) {
    if (keep) {
      watched.insert(path);
    } else {
      stale << path;
    }
  };
  for (const QString& file : watcher_.files()) sort(file, keptFiles.contains(file));
  for (const QString& folder : watcher_.directories()) sort(folder, folders.contains(folder));
  if (!stale.isEmpty()) watcher_.removePaths(stale);
  QStringList fresh;
  for (const QSet<QString>* wanted : {&files, &folders}) {
    for (const QString& path : *wanted) {
      if (!watched.contains(path)) fresh << path;
    }
  }
  // Paths that do not exist are refused; that is all right, their folders stand in.
  if (!fresh.isEmpty()) watcher_.addPaths(fresh);
}

void CheckedFilesWatcher::look() {
  for (auto& [path, stamp] : files_) {
    if (StampOf(path) == stamp) continue;
    emit changed(QString::fromStdString(path));
    return;
  }
  rewatch({});
}

}  // namespace corvane
