#include "file_watch.h"

#include <sys/stat.h>

#include <QSet>
#include <QStringList>

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
  files_.clear();
  files_.reserve(paths.size());
  for (const std::string& path : paths) files_.emplace_back(path, StampOf(path));
  rewatch();
}

void CheckedFilesWatcher::stop() {
  settle_.stop();
  files_.clear();
  rewatch();
}

void CheckedFilesWatcher::rewatch() {
  if (const QStringList old = watcher_.files() + watcher_.directories(); !old.isEmpty()) watcher_.removePaths(old);
  QStringList paths;
  QSet<QString> folders;
  for (const auto& [path, stamp] : files_) {
    if (stamp.exists) paths << QString::fromStdString(path);
    folders.insert(FolderOf(path));
  }
  for (const QString& folder : folders) paths << folder;
  // Paths that do not exist are refused; that is all right, their folders stand in.
  if (!paths.isEmpty()) watcher_.addPaths(paths);
}

void CheckedFilesWatcher::look() {
  for (auto& [path, stamp] : files_) {
    if (StampOf(path) == stamp) continue;
    emit changed(QString::fromStdString(path));
    return;
  }
  rewatch();
}

}  // namespace corvane
