// Measures the window on large documents: the time from "check this file" until the window
// is idle and painted again, beside corvanexml-check on the same file, and how long the
// window takes to scroll, select a message and select by a tree item.
//
//   corvanexml-window-bench FILE              a file to check, e.g. from corvanexml-bench-gen
//   corvanexml-window-bench --items N         a generated document of about N tree items
//   corvanexml-window-bench --depth N         a generated document nested N elements deep
//
// Without a display it runs on the offscreen platform. Best of five runs for each figure.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListView>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QAbstractItemView>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include "list_model.h"
#include "main_form.h"
#include "qt_hooks.h"
#include "tree_model.h"

using namespace corvane;

namespace {

constexpr int kRuns = 5;

// Runs posted events and paints the window, as the event loop does before it waits again.
void UntilIdle(TMainForm& form) {
  QEventLoop loop;
  QTimer::singleShot(0, &loop, &QEventLoop::quit);
  loop.exec();
  form.repaint();
}

double BestSeconds(const std::function<void()>& work) {
  double best = 1e9;
  for (int i = 0; i < kRuns; ++i) {
    QElapsedTimer timer;
    timer.start();
    work();
    best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e9);
  }
  return best;
}

// Module items whose groups each hold one attribute name: two tree items per group, and
// one unknown name in a thousand.
void WriteWideDocument(const std::string& path, long items) {
  std::ofstream out(path);
  out << "<modules>\n<module><id>Wide</id>\n";
  for (long i = 0; i < items / 2; ++i) {
    out << "<group><attribute-name>" << (i % 1000 == 0 ? "No Such Name" : "CN") << "</attribute-name></group>\n";
  }
  out << "</module>\n</modules>\n";
}

void WriteDeepDocument(const std::string& path, long depth) {
  std::ofstream out(path);
  out << "<modules><module><id>Deep</id>";
  for (long i = 0; i < depth; ++i) out << "<g>";
  out << "<attribute-name>No Such Name</attribute-name>";
  for (long i = 0; i < depth; ++i) out << "</g>";
  out << "</module></modules>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  const QStringList args = QApplication::arguments();
  if (args.size() < 2 || (args[1].startsWith("--") && args.size() < 3)) {
    std::fprintf(stderr, "usage: corvanexml-window-bench FILE | --items N | --depth N\n");
    return 2;
  }
  QTemporaryDir work;
  QString file = args[1];
  if (args[1] == "--items" || args[1] == "--depth") {
    file = work.filePath("generated.xml");
    const long n = args[2].toLong();
    if (args[1] == "--items")
      WriteWideDocument(file.toStdString(), n);
    else
      WriteDeepDocument(file.toStdString(), n);
  }
  InstallQtPlatformHooks();

  const QString checker = QCoreApplication::applicationDirPath() + "/corvanexml-check";
  const double cliSeconds = BestSeconds([&] {
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(checker, {file});
    cli.waitForFinished(-1);
  });

  TMainForm form;
  form.show();
  UntilIdle(form);
  const double windowSeconds = BestSeconds([&] {
    form.checkFile(file);
    UntilIdle(form);
  });
  std::printf("file: %s\n", qPrintable(file));
  std::printf("tree items: %zu, messages: %d\n", form.documentTree().size(), form.messages().rowCount());
  std::printf("corvanexml-check: %.3f s\n", cliSeconds);
  std::printf("window check until idle: %.3f s\n", windowSeconds);
  std::printf("ratio window / command line: %.2f (target at most 1.5)\n", windowSeconds / cliSeconds);

  auto* tree = form.findChild<QAbstractItemView*>(QStringLiteral("TreeView"));
  auto* errors = form.findChild<QListView*>(QStringLiteral("ListBoxErrors"));
  const double scrollSeconds = BestSeconds([&] {
    QScrollBar* bar = tree->verticalScrollBar();
    bar->setValue(bar->value() == bar->maximum() ? 0 : bar->maximum());
    UntilIdle(form);
  });
  int row = 0;
  const double selectSeconds = BestSeconds([&] {
    if (form.messages().rowCount() == 0) return;
    row = (row + 1) % form.messages().rowCount();
    errors->setCurrentIndex(form.messages().index(row));
    UntilIdle(form);
  });
  const double treeClickSeconds = BestSeconds([&] {
    form.TreeViewClick();
    UntilIdle(form);
  });
  std::printf("scroll the tree end to end: %.3f s\n", scrollSeconds);
  std::printf("select a message (its node shown): %.3f s\n", selectSeconds);
  std::printf("select messages by a tree item: %.3f s\n", treeClickSeconds);
  return 0;
}
