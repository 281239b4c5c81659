// CorvaneXml: the window program. One optional argument, a file to check at start, so that
// a file manager's "Open with" works.
#include <QApplication>
#include <QIcon>
#include <csignal>

#include "d_ini.h"
#include "main_form.h"
#include "qt_hooks.h"

int main(int argc, char** argv) {
  // A server that hangs up makes a write fail, which is told; it never ends the window.
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));  // cannot fail for this signal
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(corvane::kApplicationTitle));
  QApplication::setDesktopFileName(QStringLiteral("corvanexml"));
  // Installed, the icon theme holds the program's icon; in the build tree there is none.
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("corvanexml")));
  corvane::InstallQtPlatformHooks();
  corvane::KeepToolkitSettingsOut();
  corvane::TMainForm form;
  form.show();
  form.checkFileArgument(QApplication::arguments());
  return QApplication::exec();
}
