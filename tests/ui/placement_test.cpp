// The window's placement between runs under a window manager that draws frames (openbox on
// a private X server: with_openbox.sh), where the frame's place and the inner area's differ;
// and what the window writes into the configuration folder besides its settings file.
#include <QDirIterator>
#include <QFileDialog>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "d_ini.h"
#include "dir_client.h"
#include "ini_file.h"
#include "main_form.h"
#include "platform_hooks.h"

using namespace corvane;

namespace {

constexpr QPoint kDesignFrame(279, 201);
constexpr QSize kDesignSize(820, 608);

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string PlacementText(QPoint frame, QSize size) {
  return QStringLiteral("[Settings]\nMainForm.Top=%1\nMainForm.Left=%2\nMainForm.Width=%3\nMainForm.Height=%4\n")
      .arg(frame.y())
      .arg(frame.x())
      .arg(size.width())
      .arg(size.height())
      .toStdString();
}

// The placement the settings file holds, as (Left, Top) and (Width, Height).
QRect StoredPlacement(const std::string& path) {
  const IniFile ini = IniFile::Load(path);
  const auto value = [&](const char* key) { return ini.readInteger("Settings", std::string("MainForm.") + key, 0); };
  return {value("Left"), value("Top"), value("Width"), value("Height")};
}

// True once the window manager has put its frame around the window.
bool FrameKnown(const QWidget& form) { return form.frameGeometry() != form.geometry(); }

// Shows a new window and waits until it is framed and, when given, its frame is at
// expectedFrame (bounded; a window that never gets there is returned as it is).
std::unique_ptr<TMainForm> OpenWindow(std::optional<QPoint> expectedFrame = std::nullopt) {
  auto form = std::make_unique<TMainForm>();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) qFatal("window not exposed");
  if (!QTest::qWaitFor([&] { return FrameKnown(*form); })) qFatal("no window manager frame");
  if (expectedFrame) (void)QTest::qWaitFor([&] { return form->frameGeometry().topLeft() == *expectedFrame; });
  return form;
}

// The window program's managed window for process pid, as wmctrl lists it; empty when none.
QString WindowOfProcess(qint64 pid) {
  QProcess list;
  list.start(QStringLiteral("wmctrl"), {QStringLiteral("-l"), QStringLiteral("-p")});
  if (!list.waitForFinished(10000)) return {};
  for (const QString& line : QString::fromUtf8(list.readAllStandardOutput()).split('\n')) {
    const QStringList fields = line.simplified().split(' ');
    if (fields.size() > 2 && fields[2] == QString::number(pid)) return fields[0];
  }
  return {};
}

}  // namespace

class PlacementTest : public QObject {
  Q_OBJECT

 public:
  // root: the home folder the whole run works in, set before the toolkit starts, so that
  // any settings file the toolkit writes lands where a test can see it.
  explicit PlacementTest(QString root) : root_(std::move(root)) {}

 private:
  QString root_;
  std::unique_ptr<QTemporaryDir> home_;

  std::string iniPath() const { return SettingsFilePath(IniFileName(true)); }

  // Seeds the settings file at path with a placement away from the design's.
  static void writePlacement(const std::string& path, QPoint frame, QSize size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, PlacementText(frame, size));
  }

 private slots:
  void initTestCase() {
    SetMessageBoxHook([](MsgDlgKind, const std::string& text) { qWarning("message box: %s", text.c_str()); });
    SetPendingEventsHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  }

  void init() {
    home_ = std::make_unique<QTemporaryDir>(root_ + "/test-XXXXXX");
    qputenv("HOME", home_->path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home_->filePath(QStringLiteral("config")).toUtf8());
    client::ResetClient();
    client::ClientInit(0, 0);
  }

  void configFolderIgnoresARelativeSetting_data() {
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("folder");
    QTest::newRow("absolute") << QByteArray("/srv/conf") << QStringLiteral("/srv/conf");
    QTest::newRow("relative") << QByteArray("conf") << QStringLiteral("HOME/.config");
    QTest::newRow("empty") << QByteArray("") << QStringLiteral("HOME/.config");
  }

  void configFolderIgnoresARelativeSetting() {
    QFETCH(QByteArray, setting);
    QFETCH(QString, folder);
    qputenv("XDG_CONFIG_HOME", setting);
    folder.replace(QStringLiteral("HOME"), home_->path());
    QCOMPARE(QString::fromStdString(SettingsFilePath("x.ini")), folder + "/x.ini");
  }

  void closedWithoutAMoveItComesBackWhereItWasAndLeavesTheFileAlone() {
    writePlacement(iniPath(), {50, 50}, {700, 500});
    const std::string seeded = ReadAll(iniPath());
    std::vector<QPoint> frames;
    std::vector<std::string> files;
    for (int run = 0; run < 3; ++run) {
      auto form = OpenWindow(QPoint(50, 50));
      frames.push_back(form->frameGeometry().topLeft());
      QCOMPARE(form->size(), QSize(700, 500));
      QVERIFY(form->close());
      files.push_back(ReadAll(iniPath()));
    }
    QCOMPARE(frames, std::vector<QPoint>(3, QPoint(50, 50)));
    QCOMPARE(files, std::vector<std::string>(3, seeded));
  }

  void storedPlacementPutsTheFrameThere_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QPoint>("frame");
    QTest::addColumn<QSize>("size");
    QTest::newRow("no file: the design's") << QString() << kDesignFrame << kDesignSize;
    QTest::newRow("partly off the screen")
        << QString::fromStdString(PlacementText({-40, -10}, {700, 500})) << QPoint(-40, -10) << QSize(700, 500);
    QTest::newRow("only the top") << QStringLiteral("[Settings]\nMainForm.Top=40\n") << QPoint(279, 40) << kDesignSize;
    QTest::newRow("only the size") << QStringLiteral("[Settings]\nMainForm.Width=600\nMainForm.Height=450\n")
                                   << kDesignFrame << QSize(600, 450);
  }

  void storedPlacementPutsTheFrameThere() {
    QFETCH(QString, file);
    QFETCH(QPoint, frame);
    QFETCH(QSize, size);
    if (!file.isNull()) {
      std::filesystem::create_directories(std::filesystem::path(iniPath()).parent_path());
      WriteFile(iniPath(), file.toStdString());
    }
    auto form = OpenWindow(frame);
    QCOMPARE(form->frameGeometry().topLeft(), frame);
    QCOMPARE(form->size(), size);
    QVERIFY(form->close());
    QCOMPARE(StoredPlacement(iniPath()), QRect(frame, size));
  }

  void movedWindowReopensWithItsFrameWhereItWasLeft() {
    auto first = OpenWindow(kDesignFrame);
    first->move(150, 90);  // a shown top-level window's move() places its frame
    first->resize(640, 480);
    QTRY_COMPARE(first->frameGeometry().topLeft(), QPoint(150, 90));
    QTRY_COMPARE(first->size(), QSize(640, 480));
    QVERIFY(first->close());
    QCOMPARE(ReadAll(iniPath()), PlacementText({150, 90}, {640, 480}));

    auto second = OpenWindow(QPoint(150, 90));
    QCOMPARE(second->frameGeometry().topLeft(), QPoint(150, 90));
    QCOMPARE(second->size(), QSize(640, 480));
  }

  void maximisedWindowReopensNormalWithItsBounds() {
    auto first = OpenWindow(kDesignFrame);
    first->showMaximized();
    // The window manager keeps margins at the top and left (with_openbox.sh), so the
    // maximised frame's corner is not 0, 0.
    const QRect available = first->screen()->availableGeometry();
    QVERIFY(available.left() > 0 && available.top() > 0);
    // The maximised frame loses its borders a moment after it grows.
    QTRY_VERIFY(first->frameGeometry().contains(available) &&
                first->windowHandle()->framePosition() == available.topLeft());
    const QSize size = first->size();
    QVERIFY(first->close());
    QCOMPARE(StoredPlacement(iniPath()), QRect(available.topLeft(), size));

    auto second = OpenWindow(available.topLeft());
    QVERIFY(!second->isMaximized());
    QCOMPARE(second->frameGeometry().topLeft(), available.topLeft());
    QCOMPARE(second->size(), size);
  }

  void programClosedWithoutAMoveLeavesTheFileAlone() {
    const QString program = QCoreApplication::applicationDirPath() + "/CorvaneXml";
    const std::string ini = SettingsFilePath("CorvaneXml.ini");
    writePlacement(ini, {50, 50}, {700, 500});
    const std::string seeded = ReadAll(ini);
    for (int run = 0; run < 3; ++run) {
      QProcess window;
      window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
      window.start(program, {});
      QVERIFY2(window.waitForStarted(), qPrintable(window.errorString()));
      QString id;
      QVERIFY(QTest::qWaitFor([&] { return !(id = WindowOfProcess(window.processId())).isEmpty(); }, 20000));
      // The window manager asks the window to close, as its close button does.
      QCOMPARE(QProcess::execute(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), id}), 0);
      QVERIFY(window.waitForFinished(20000));
      QCOMPARE(window.exitCode(), 0);
      QCOMPARE(ReadAll(ini), seeded);
    }
    // The program's file dialogs, destroyed at its end, kept nothing either.
    QVERIFY(!QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/QtProject.conf"));
  }

  // Last: by now every window of the run has been destroyed, with its file dialogs.
  void fileDialogsKeepNothingInTheConfigFolder() {
    {
      TMainForm form;
      QFileDialog dialog(nullptr, QStringLiteral("Select File"), home_->path());
      dialog.setHistory({home_->path()});
    }
    QStringList written;
    for (QDirIterator it(root_, {QStringLiteral("QtProject.conf")}, QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
      written << it.next();
    }
    QCOMPARE(written, QStringList());
    QVERIFY(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).isEmpty());
  }
};

int main(int argc, char** argv) {
  // The toolkit fixes its settings folder when it first needs it, perhaps while it starts.
  QTemporaryDir root;
  qputenv("HOME", root.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", (root.path() + "/config").toUtf8());
  QApplication app(argc, argv);
  PlacementTest test(root.path());
  return QTest::qExec(&test, argc, argv);
}

#include "placement_test.moc"
