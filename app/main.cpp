// CorvaneXml: the window program. One optional argument, a file to check at start, so that
// a file manager's "Open with" works.
#include <QApplication>
#include <QIcon>
#include <csignal>
#include <iostream>
#include <optional>
#include <string_view>

#include "d_ini.h"
#include "main_form.h"
#include "qt_hooks.h"

namespace {

constexpr char kUsage[] =
    "Usage: CorvaneXml [FILE]\n"
    "Opens the window; with FILE, checks that file at start.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "corvanexml-check checks files from the command line.\n";

// --help and --version are answered like any program's, without a window or a display; the
// exit status of the answer, or nothing when the window is wanted.
std::optional<int> AnswerInformationOption(int argc, char** argv) {
  if (argc != 2) return std::nullopt;
  const std::string_view option = argv[1];
  if (option == "--version")
    std::cout << "CorvaneXml " CORVANE_VERSION "\n";
  else if (option == "--help")
    std::cout << kUsage;
  else
    return std::nullopt;
  return std::cout.flush() ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> status = AnswerInformationOption(argc, argv)) return *status;
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
