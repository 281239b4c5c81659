// Watches the files a check read (the checked file, the bundles and pages it looked at) and
// tells, once the file system has been quiet for a moment, which one changed, appeared or
// vanished, so that the window can check again by itself.
#pragma once

#include <QFileSystemWatcher>
#include <QSet>
#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

namespace corvane {

class CheckedFilesWatcher : public QObject {
  Q_OBJECT

 public:
  explicit CheckedFilesWatcher(QObject* parent = nullptr);

  // Replaces the watched files; what they are now is what later changes are measured from.
  void watch(const std::vector<std::string>& paths);
  // Watches nothing.
  void stop();
  // Looks at the watched files at once instead of waiting for the file system's word.
  void look();

 signals:
  // A watched file differs from what it was when it was last watched.
  void changed(const QString& path);

 private:
  // What tells one version of a file from another without reading it.
  struct Stamp {
    bool exists = false;
    long long size = 0;
    long long modified = 0;  // nanoseconds
    unsigned long long inode = 0;
    bool operator==(const Stamp&) const = default;
  };
  static Stamp StampOf(const std::string& path);
  // Editors save by writing a new file and renaming it, which ends the watch on the old
  // one; so each file is watched afresh but those in keptFiles, the very files watched before,
  // and the folder of each is watched too, to see a file come back.
  void rewatch(const QSet<QString>& keptFiles);

  QFileSystemWatcher watcher_;
  QTimer settle_;
  std::vector<std::pair<std::string, Stamp>> files_;
};

}  // namespace corvane
