#include "qt_hooks.h"

#include <QApplication>
#include <QClipboard>
#include <QMessageBox>

#include "platform_hooks.h"

namespace corvane {

namespace {

QMessageBox::Icon IconOf(MsgDlgKind kind) {
  switch (kind) {
    case MsgDlgKind::mtWarning: return QMessageBox::Warning;
    case MsgDlgKind::mtError: return QMessageBox::Critical;
    case MsgDlgKind::mtInformation: return QMessageBox::Information;
    case MsgDlgKind::mtConfirmation: return QMessageBox::Question;
    case MsgDlgKind::mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void InstallQtPlatformHooks() {
  SetMessageBoxHook([](MsgDlgKind kind, const std::string& text, const std::string& details) {
    QMessageBox box(IconOf(kind), QApplication::applicationName(), QString::fromStdString(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
    box.exec();
  });
  SetClipboardHooks([](const std::string& text) { QApplication::clipboard()->setText(QString::fromStdString(text)); },
                    [] { return QApplication::clipboard()->text().toStdString(); });
  // Reads let the window repaint but take no user input: nothing the user does may change
  // the lists while a check or a tree change is under way.
  SetPendingEventsHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

}  // namespace corvane
