// The window as a user drives it, on the offscreen platform: start-up with and without
// trees, tree changes, checking files, message and tree navigation, the settings file and
// the file argument. The client start is once per process, so the test that makes it fail
// runs first.
#include <QComboBox>
#include <QFileDialog>
#include <QMimeData>
#include <QFontInfo>
#include <QScrollBar>
#include <QWheelEvent>
#include <QLabel>
#include <QStatusBar>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "d_ini.h"
#include "save_target.h"
#include "dir_client.h"
#include "fake_client.h"
#include "list_model.h"
#include "main_form.h"
#include "platform_hooks.h"
#include "qt_hooks.h"
#include "text_view.h"
#include "tree_model.h"
#include "tree_view.h"

using namespace corvane;

namespace {

const QString kExamples = QStringLiteral(CORVANE_EXAMPLES "/portal/modules/DemoPlugin/");

std::string ReadAll(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const QString& path, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(path.toStdString()).parent_path());
  std::ofstream(path.toStdString(), std::ios::binary) << content;
}

template <typename T>
T* Control(const TMainForm& form, const char* name) {
  T* control = form.findChild<T*>(QString::fromUtf8(name));
  if (control == nullptr) qFatal("no control %s", name);
  return control;
}

QStringList Lines(const QListView* list) {
  const auto* model = static_cast<const SortedListModel*>(list->model());
  QStringList lines;
  for (const std::string& text : model->texts()) lines << QString::fromStdString(text);
  return lines;
}

void ClickRow(QAbstractItemView* view, const QModelIndex& index) {
  view->scrollTo(index);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(index).center());
}

QModelIndex TreeIndexWhereLabel(const TMainForm& form, const std::function<bool(const std::string&)>& wanted) {
  const DocumentTreeModel& tree = form.documentTree();
  for (TreeItem item = 0; item < tree.size(); ++item) {
    if (wanted(tree.label(item))) return tree.indexOf(item);
  }
  return {};
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> home_;
  std::vector<std::string> boxes_;

  QString configPath(const QString& name) const { return home_->filePath(name); }

  std::unique_ptr<TMainForm> showForm() {
    auto form = std::make_unique<TMainForm>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qFatal("window not exposed");
    return form;
  }

 private slots:
  void init() {
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", home_->path().toUtf8());
    client::ResetClient();
    client::ClientInit(0, 0);  // the client itself is started once per process
    boxes_.clear();
    SetMessageBoxHook([this](MsgDlgKind, const std::string& text) { boxes_.push_back(text); });
    SetPendingEventsHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  }

  void cleanup() {
    SetMessageBoxHook({});
    SetPendingEventsHook({});
  }

  void startWithoutClientShowsOneBoxAndNoTrees() {
    test::FakeClientScope fake;
    test::Script().initCode = 0xFFFF;
    auto form = showForm();
    QCOMPARE(boxes_.size(), 1u);
    QVERIFY(QString::fromStdString(boxes_[0]).contains("InitNetWare"));
    QCOMPARE(Control<QComboBox>(*form, "ComboBoxTrees")->count(), 0);
    QVERIFY(Control<QLineEdit>(*form, "EditMyName")->text().isEmpty());
    QVERIFY(Lines(Control<QListView>(*form, "ListBoxClasses")).isEmpty());
    // Files can still be checked.
    form->checkFile(kExamples + "DemoTranslator.xml");
    QVERIFY(!Lines(Control<QListView>(*form, "ListBoxErrors")).isEmpty());
  }

  void startsWithPrimaryTreeCaptionInfoAndTabs() {
    auto form = showForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Corvane XML Check (v1.02)"));
    // The test program has no Info file of its own; the window program's lies beside it.
    const QString info = QCoreApplication::applicationDirPath() + "/ui_tests.txt";
    QCOMPARE(Control<QPlainTextEdit>(*form, "Memo1")->toPlainText(), "Could not find " + info);
    QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + "/CorvaneXml.txt"));
    QCOMPARE(Control<QTabWidget>(*form, "PageControl1")->currentWidget()->objectName(),
             QStringLiteral("TabSheetSelect"));
    QCOMPARE(Control<QTabWidget>(*form, "PageControl2")->currentWidget()->objectName(),
             QStringLiteral("TabSheetXMLTree"));
    auto* trees = Control<QComboBox>(*form, "ComboBoxTrees");
    QCOMPARE(trees->currentText(), QString::fromUtf8(client::kDemoTreeName.data(), client::kDemoTreeName.size()));
    QCOMPARE(trees->toolTip(), QStringLiteral("Select Current Tree"));
    QVERIFY(!Control<QLineEdit>(*form, "EditMyName")->text().isEmpty());
    QVERIFY(boxes_.empty());
    // The schema lists are sorted without regard to letter case.
    const QStringList classes = Lines(Control<QListView>(*form, "ListBoxClasses"));
    QCOMPARE(classes.size(), 62);
    for (int i = 1; i < classes.size(); ++i) {
      QVERIFY2(QString::compare(classes[i - 1], classes[i], Qt::CaseInsensitive) <= 0, qPrintable(classes[i]));
    }
    QVERIFY(!Lines(Control<QListView>(*form, "ListBoxAttr")).isEmpty());
    QVERIFY(!Lines(Control<QListView>(*form, "ListBoxAttrAux")).isEmpty());
    for (const char* name : {"TabSheetInfo", "PanelInfoTop", "TabSheetXMLText", "MemoXml", "TreeView", "ListBoxErrors",
                             "TabSheetSchema", "ListBoxClassAttr", "BitBtnSelectFile", "StatusBar", "OpenDialog"}) {
      QVERIFY2(form->findChild<QObject*>(name) != nullptr, name);
    }
  }

  void clientWithoutTreesOrWithoutItsPrimaryTree() {
    test::FakeClientScope fake;
    test::Script().treeInfo = {""};
    auto form = showForm();
    QCOMPARE(Control<QComboBox>(*form, "ComboBoxTrees")->count(), 0);
    QVERIFY(Control<QLineEdit>(*form, "EditMyName")->text().isEmpty());
    QVERIFY(boxes_.empty());

    test::Script().treeInfo = {"", "OTHER"};
    test::Script().attributes = {"cn", "Surname"};
    auto second = showForm();
    auto* trees = Control<QComboBox>(*second, "ComboBoxTrees");
    QCOMPARE(trees->count(), 1);
    QCOMPARE(trees->currentIndex(), -1);
    QVERIFY(Lines(Control<QListView>(*second, "ListBoxAttr")).isEmpty());
    trees->setCurrentIndex(0);
    emit trees->activated(0);
    QCOMPARE(Lines(Control<QListView>(*second, "ListBoxAttr")), QStringList({"cn", "Surname"}));
    QVERIFY(boxes_.empty());
  }

  void failingTreeSwitchShowsOneBox() {
    test::FakeClientScope fake;
    test::Script().treeInfo = {"GOOD", "BAD"};
    auto form = showForm();
    QVERIFY(boxes_.empty());
    test::Script().treeSetCode = client::kCodeUnknownTree;
    auto* trees = Control<QComboBox>(*form, "ComboBoxTrees");
    trees->setCurrentIndex(1);
    emit trees->activated(1);
    QCOMPARE(boxes_.size(), 1u);
    QVERIFY(QString::fromStdString(boxes_[0]).startsWith("Error "));
    QVERIFY(QString::fromStdString(boxes_[0]).endsWith(": DSChangeCurrentTree"));
  }

  void malformedFileAfterAGoodOneKeepsTheViews() {
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    const QString goodText = Control<PlainTextView>(*form, "MemoXml")->toPlainText();
    QVERIFY(goodText.contains("<module"));
    form->checkFile(kExamples + "Unfinished.xml");
    const QStringList messages = Lines(Control<QListView>(*form, "ListBoxErrors"));
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].startsWith("Msg 100: XML Error: \""));
    QCOMPARE(form->messages().item(0), kNoItem);
    QCOMPARE(Control<PlainTextView>(*form, "MemoXml")->toPlainText(), goodText);
    QCOMPARE(form->documentTree().label(0), (kExamples + "DemoPlugin.xml").toStdString());
  }

  void checkingTwiceGivesTheSameMessages() {
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    const QStringList first = Lines(Control<QListView>(*form, "ListBoxErrors"));
    form->checkFile(kExamples + "DemoPlugin.xml");
    QCOMPARE(Lines(Control<QListView>(*form, "ListBoxErrors")), first);
    const DocumentTreeModel& tree = form->documentTree();
    int topItems = 0;
    for (TreeItem item = 0; item < tree.size(); ++item) topItems += tree.parentOf(item) == kNoItem ? 1 : 0;
    QCOMPARE(topItems, 1);
  }

  // The class reads let the window repaint in the middle of a check; nothing the user
  // asks for then may start another check or a tree change.
  void noSecondCheckOrTreeChangeWhileACheckRuns() {
    auto form = showForm();
    auto* trees = Control<QComboBox>(*form, "ComboBoxTrees");
    int attempts = 0;
    SetPendingEventsHook([&] {
      if (!form->busy()) return;
      ++attempts;
      form->checkFile(kExamples + "Unfinished.xml");
      form->BitBtnSelectFileClick();
      emit trees->activated(0);
    });
    form->setFileChooser([] { return kExamples + "DemoTranslator.xml"; });
    form->checkFile(kExamples + "DemoPlugin.xml");
    QVERIFY(attempts > 0);
    QCOMPARE(form->documentTree().label(0), (kExamples + "DemoPlugin.xml").toStdString());
    QVERIFY(Lines(Control<QListView>(*form, "ListBoxErrors")).size() > 5);
    QVERIFY(!Lines(Control<QListView>(*form, "ListBoxClassAttr")).isEmpty());
  }

  void treeChangeEmptiesMessagesButKeepsTheDocument() {
    test::FakeClientScope fake;
    test::Script().treeInfo = {"GOOD", "OTHER"};
    test::Script().classes = {{"User", 0, {}}};
    test::Script().classes[0].items[3] = {"Surname"};  // mandatory attributes
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    QVERIFY(!Lines(Control<QListView>(*form, "ListBoxClassAttr")).isEmpty());
    const std::size_t items = form->documentTree().size();
    auto* trees = Control<QComboBox>(*form, "ComboBoxTrees");
    trees->setCurrentIndex(1);
    emit trees->activated(1);
    QVERIFY(Lines(Control<QListView>(*form, "ListBoxErrors")).isEmpty());
    QVERIFY(Lines(Control<QListView>(*form, "ListBoxClassAttr")).isEmpty());
    QCOMPARE(form->documentTree().size(), items);
    QVERIFY(Control<PlainTextView>(*form, "MemoXml")->toPlainText().contains("<module"));
  }

  // Deep enough to have overflowed the stack of a view that lays out levels recursively.
  void messageClickSelectsAndShowsADeepNode() {
    constexpr int kDepth = 100000;
    std::string deep = "<module><id>Deep</id>";
    for (int i = 0; i < kDepth; ++i) deep += "<group>";
    deep += "<attribute-name>No Such Attribute</attribute-name>";
    for (int i = 0; i < kDepth; ++i) deep += "</group>";
    deep += "</module>";
    const QString file = home_->filePath("deep.xml");
    WriteFile(file, "<modules>" + deep + "</modules>");
    auto form = showForm();
    form->checkFile(file);
    auto* tree = Control<DocumentTreeView>(*form, "TreeView");
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    QCOMPARE(Lines(errors), QStringList({"Msg 001: Schema - Attribute not found: \"No Such Attribute\" (Deep)"}));
    tree->collapseAll();
    errors->setFocus();
    ClickRow(errors, form->messages().index(0));
    const TreeItem item = form->messages().item(0);
    const QModelIndex node = form->documentTree().indexOf(item);
    QCOMPARE(tree->currentItem(), item);
    QVERIFY(tree->selectionModel()->isSelected(node));
    for (TreeItem up = form->documentTree().parentOf(item); up != kNoItem; up = form->documentTree().parentOf(up)) {
      QVERIFY(tree->isExpanded(up));
    }
    QVERIFY(tree->visualRect(node).intersects(tree->viewport()->rect()));
    QCOMPARE(errors->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(QApplication::focusWidget(), errors);
  }

  void treeClickSelectsExactlyTheMessagesWithItsKey() {
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    auto* tree = Control<DocumentTreeView>(*form, "TreeView");
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    ClickRow(errors, form->messages().index(0));  // single selection first
    const QModelIndex item =
        TreeIndexWhereLabel(*form, [](const std::string& l) { return l.ends_with("(CreateUser)"); });
    QVERIFY(item.isValid());
    ClickRow(tree, item);
    QCOMPARE(errors->selectionMode(), QAbstractItemView::ExtendedSelection);
    QStringList selected;
    for (const QModelIndex& index : errors->selectionModel()->selectedIndexes()) {
      selected << QString::fromStdString(form->messages().text(index.row()));
    }
    QStringList expected;
    for (const QString& line : Lines(errors)) {
      if (line.contains("CreateUser")) expected << line;
    }
    selected.sort();
    expected.sort();
    QVERIFY(expected.size() >= 2);
    QCOMPARE(selected, expected);
    // The top item's path holds no message text: nothing stays selected.
    ClickRow(tree, form->documentTree().indexOf(0));
    QVERIFY(errors->selectionModel()->selectedIndexes().isEmpty());
  }

  void statusBarShowsAndOpensTheAuthorsAddress() {
    std::vector<std::string> opened;
    SetShellOpenHook([&opened](const ShellRequest& request) {
      opened.push_back(request.file + "|" + request.parameters);
      return 42;
    });
    auto form = showForm();
    const std::string address = (QCoreApplication::applicationDirPath() + "/README.md").toStdString();
    QCOMPARE(Control<QLabel>(*form, "StatusBarText")->text().toStdString(), address);
    QTest::mouseClick(form->statusBar(), Qt::LeftButton);
    SetShellOpenHook({});
    QCOMPARE(opened, std::vector<std::string>({address + "|"}));
  }

  // The menu key or Shift+F10 on a list, then "Save ..." from the menu by keyboard.
  void savesAListThroughItsContextMenu_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("proposed");
    QTest::addColumn<QString>("extension");
    QTest::newRow("messages as text") << "ListBoxErrors" << int(Qt::Key_Menu) << "CORVANE_DEMO-Errors DemoPlugin"
                                      << "txt";
    QTest::newRow("messages as html") << "ListBoxErrors" << int(Qt::Key_F10) << "CORVANE_DEMO-Errors DemoPlugin"
                                      << "html";
    QTest::newRow("messages as xml") << "ListBoxErrors" << int(Qt::Key_Menu) << "CORVANE_DEMO-Errors DemoPlugin"
                                     << "xml";
    QTest::newRow("auxiliary attributes") << "ListBoxAttrAux" << int(Qt::Key_F10) << "CORVANE_DEMO-AttrAux DemoPlugin"
                                          << "txt";
  }

  void savesAListThroughItsContextMenu() {
    QFETCH(QString, list);
    QFETCH(int, key);
    QFETCH(QString, proposed);
    QFETCH(QString, extension);
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    auto* view = Control<QListView>(*form, list.toUtf8().constData());
    const char* tab = list == "ListBoxErrors" ? "TabSheetSelect" : "TabSheetSchema";
    Control<QTabWidget>(*form, "PageControl1")->setCurrentWidget(Control<QWidget>(*form, tab));
    const QString file = home_->filePath("saved." + extension);
    QString asked;
    form->setSaveFileChooser([&](const QString& name) {
      asked = name;
      return file;
    });
    QTimer::singleShot(0, [] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) qFatal("no context menu");
      QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Return);
    });
    view->setFocus();
    if (key == Qt::Key_Menu) {
      // What the desktop sends for the menu key.
      QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(5, 5), view->viewport()->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(view->viewport(), &request);
    } else {
      QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
    }
    QCOMPARE(asked, proposed);
    QCOMPARE(Control<QListView>(*form, "ListBoxErrors")->selectionMode(), QAbstractItemView::ExtendedSelection);
    const std::string saved = ReadAll(file);
    const QStringList lines = Lines(view);
    QVERIFY(lines.size() > 5);
    if (extension == "txt") {
      QCOMPARE(QString::fromStdString(saved), lines.join("\r\n") + "\r\n");
    } else {
      // Each line appears in the document, escaped where the format needs it.
      for (QString line : lines) {
        if (extension == "html") line.replace("&", "&amp;").replace("\"", "&quot;");
        QVERIFY2(QString::fromStdString(saved).contains(line), qPrintable(line));
      }
    }
  }

  void windowShowsWhatTheCommandLineCheckerReports() {
    const QStringList files = {kExamples + "DemoPlugin.xml", kExamples + "DemoTranslator.xml",
                               kExamples + "Unfinished.xml"};
    QProcess cli;
    cli.start(QCoreApplication::applicationDirPath() + "/corvanexml-check", QStringList{"--format", "list"} + files);
    QVERIFY(cli.waitForFinished(60000));
    const QString expected = QString::fromUtf8(cli.readAllStandardOutput());
    auto form = showForm();
    QString actual;
    for (const QString& file : files) {
      form->checkFile(file);
      actual += file + ":\n";
      for (const QString& line : Lines(Control<QListView>(*form, "ListBoxErrors"))) actual += line + "\n";
    }
    QCOMPARE(actual, expected);
  }

  void fileArgumentIsCheckedAtStart() {
    auto form = showForm();
    form->checkFileArgument({"CorvaneXml", kExamples + "DemoTranslator.xml"});
    QTRY_COMPARE(Lines(Control<QListView>(*form, "ListBoxErrors")).size(), 1);
    QCOMPARE(form->documentTree().label(0), (kExamples + "DemoTranslator.xml").toStdString());
  }

  void placementIsKeptBetweenRuns() {
    const QString ini = configPath("ui_tests.ini");
    auto first = showForm();
    QCOMPARE(first->pos(), QPoint(279, 201));
    QCOMPARE(first->size(), QSize(820, 608));
    first->close();
    QCOMPARE(ReadAll(ini),
             "[Settings]\nMainForm.Top=201\nMainForm.Left=279\nMainForm.Width=820\nMainForm.Height=608\n");

    // A close without a move writes nothing.
    struct stat before {};
    ::stat(ini.toUtf8().constData(), &before);
    auto second = showForm();
    second->close();
    struct stat after {};
    ::stat(ini.toUtf8().constData(), &after);
    QCOMPARE(after.st_ino, before.st_ino);

    // Left 0 is stored, and read back as "not stored": the design's 279 applies.
    auto third = showForm();
    third->move(0, 150);
    third->resize(700, 500);
    third->close();
    QVERIFY(QString::fromStdString(ReadAll(ini)).contains("MainForm.Left=0\n"));
    auto fourth = showForm();
    QCOMPARE(fourth->x(), 279);
    QCOMPARE(fourth->size(), QSize(700, 500));
    fourth->close();

    // A value that is not a number counts as missing.
    WriteFile(ini, "[settings]\nmainform.width=wide\nMainForm.Height=400\n");
    auto fifth = showForm();
    QCOMPARE(fifth->size(), QSize(820, 400));
  }

  // Only a pick of another tree is a tree change: not a wheel passing over the list while
  // the focus is elsewhere, and not the tree already shown.
  void onlyAPickOfAnotherTreeChangesTheTree() {
    test::FakeClientScope fake;
    test::Script().treeInfo = {"GOOD", "OTHER"};
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    const QStringList messages = Lines(errors);
    QVERIFY(!messages.isEmpty());
    auto* trees = Control<QComboBox>(*form, "ComboBoxTrees");
    errors->setFocus();
    const QPoint inside = trees->rect().center();
    QWheelEvent wheel(inside, trees->mapToGlobal(inside), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(trees, &wheel);
    QCOMPARE(trees->currentIndex(), 0);
    QCOMPARE(Lines(errors), messages);
    emit trees->activated(0);
    QCOMPARE(Lines(errors), messages);
    trees->setCurrentIndex(1);
    emit trees->activated(1);
    QVERIFY(Lines(errors).isEmpty());
    QVERIFY(boxes_.empty());
  }

  // A right click on the list opens the menu over the messages a tree click selected,
  // without touching the selection or the tree.
  void rightClickKeepsTheSelection() {
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    auto* tree = Control<DocumentTreeView>(*form, "TreeView");
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    ClickRow(tree, TreeIndexWhereLabel(*form, [](const std::string& l) { return l.ends_with("(CreateUser)"); }));
    const QModelIndexList before = errors->selectionModel()->selectedIndexes();
    QVERIFY(before.size() >= 2);
    const TreeItem treeItem = tree->currentItem();
    int unselected = 0;
    while (errors->selectionModel()->isSelected(form->messages().index(unselected))) ++unselected;
    form->setSaveFileChooser([](const QString&) { return QString(); });
    bool menuShown = false;
    QTimer::singleShot(0, [&menuShown] {
      if (QWidget* menu = QApplication::activePopupWidget()) {
        menuShown = true;
        menu->close();
      }
    });
    const QPoint at = errors->visualRect(form->messages().index(unselected)).center();
    QTest::mousePress(errors->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent request(QContextMenuEvent::Mouse, at, errors->viewport()->mapToGlobal(at));
    QApplication::sendEvent(errors->viewport(), &request);
    QTest::mouseRelease(errors->viewport(), Qt::RightButton, {}, at);
    QVERIFY(menuShown);
    QCOMPARE(errors->selectionModel()->selectedIndexes().size(), before.size());
    for (const QModelIndex& index : before) QVERIFY(errors->selectionModel()->isSelected(index));
    QCOMPARE(errors->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(tree->currentItem(), treeItem);
  }

  void statusBarOpensTheAddressOnlyOnALeftClick() {
    int opened = 0;
    SetShellOpenHook([&opened](const ShellRequest&) { return ++opened, 42; });
    auto form = showForm();
    QTest::mouseClick(form->statusBar(), Qt::RightButton);
    QTest::mouseClick(form->statusBar(), Qt::MiddleButton);
    QCOMPARE(opened, 0);
    QTest::mouseClick(form->statusBar(), Qt::LeftButton);
    SetShellOpenHook({});
    QCOMPARE(opened, 1);
  }

  // The top item names the file that is loaded; a new document starts with it in sight.
  void aNewDocumentIsShownFromItsTop() {
    std::string many = "<modules>";
    for (int i = 0; i < 300; ++i) many += "<module><id>M" + std::to_string(i) + "</id></module>";
    WriteFile(home_->filePath("many.xml"), many + "</modules>");
    auto form = showForm();
    form->checkFile(home_->filePath("many.xml"));
    auto* tree = Control<DocumentTreeView>(*form, "TreeView");
    tree->scrollToBottom();
    QVERIFY(tree->verticalScrollBar()->value() > 0);
    form->checkFile(kExamples + "DemoPlugin.xml");
    QCOMPARE(tree->verticalScrollBar()->value(), 0);
    QVERIFY(tree->visualRect(form->documentTree().indexOf(0)).intersects(tree->viewport()->rect()));
  }

  void layoutAtTheDesignSizeAndWhenResized() {
    auto form = showForm();
    QVERIFY(QFontInfo(Control<QPlainTextEdit>(*form, "Memo1")->font()).fixedPitch());

    // The schema tab: the attribute list keeps its height, the class attributes take the rest.
    Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(2);
    auto* attr = Control<QListView>(*form, "ListBoxAttr");
    auto* classAttr = Control<QListView>(*form, "ListBoxClassAttr");
    QTRY_COMPARE(attr->height(), 460);
    const int classAttrHeight = classAttr->height();
    form->resize(820, 808);
    QTRY_COMPARE(classAttr->height(), classAttrHeight + 200);
    QCOMPARE(attr->height(), 460);
    form->resize(820, 608);

    // Every message can be read to its end, where the id or name stands.
    Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
    form->checkFile(kExamples + "DemoPlugin.xml");
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    for (int row = 0; row < form->messages().rowCount(); ++row) {
      const QString text = form->messages().data(form->messages().index(row), Qt::DisplayRole).toString();
      QVERIFY2(errors->visualRect(form->messages().index(row)).width() > errors->fontMetrics().horizontalAdvance(text),
               qPrintable(text));
    }

    // A narrower window takes width from both panels.
    auto* tree = Control<DocumentTreeView>(*form, "TreeView");
    const int treeWidth = tree->width();
    const int errorsWidth = errors->width();
    form->resize(620, 608);
    QTRY_VERIFY(tree->width() < treeWidth);
    QVERIFY(errors->width() < errorsWidth);
    QVERIFY(errorsWidth - errors->width() < 200);
  }

  // What the dialog returns: the extension typed decides when it names a format, else the
  // type chosen in the list, else text.
  void saveTargetFollowsTheTypedExtensionOrTheChosenType_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("target");
    QTest::newRow("dotted base name, text type") << "/d/T-Errors Demo.v2"
                                                 << "txt"
                                                 << "/d/T-Errors Demo.v2.txt"
                                                 << "txt";
    QTest::newRow("dotted base name, html type") << "/d/T-Errors Demo.v2"
                                                 << "html"
                                                 << "/d/T-Errors Demo.v2.html"
                                                 << "html";
    QTest::newRow("typed extension wins") << "/d/list.xml"
                                          << "txt"
                                          << "/d/list.xml"
                                          << "xml";
    QTest::newRow("typed in capitals") << "/d/list.HTM"
                                       << ""
                                       << "/d/list.HTM"
                                       << "HTM";
    QTest::newRow("spreadsheet") << "/d/list.xls"
                                 << ""
                                 << "/d/list.xls"
                                 << "xls";
    QTest::newRow("all files, no extension") << "/d/list"
                                             << ""
                                             << "/d/list.txt"
                                             << "txt";
    QTest::newRow("all files, unknown extension") << "/d/list.csv"
                                                  << ""
                                                  << "/d/list.csv.txt"
                                                  << "txt";
  }

  void saveTargetFollowsTheTypedExtensionOrTheChosenType() {
    QFETCH(QString, chosen);
    QFETCH(QString, suffix);
    QFETCH(QString, path);
    QFETCH(QString, target);
    const SaveTarget save = ChooseSaveTarget(chosen.toStdString(), suffix.toStdString());
    QCOMPARE(QString::fromStdString(save.path), path);
    QCOMPARE(QString::fromStdString(save.target), target);
  }

  void savingWithTheHtmlTypeWritesHtml() {
    WriteFile(home_->filePath("Demo.v2.xml"), "<modules><module><id>A</id><id>B</id></module></modules>");
    auto form = showForm();
    form->checkFile(home_->filePath("Demo.v2.xml"));
    QString asked;
    form->setSaveFileChooser([&](const QString& name) -> TMainForm::SaveChoice {
      asked = name;
      return {home_->filePath(name), QStringLiteral("html")};
    });
    QTimer::singleShot(0, [] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (menu == nullptr) qFatal("no context menu");
      QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Return);
    });
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    QTest::keyClick(errors, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(asked, QStringLiteral("CORVANE_DEMO-Errors Demo.v2"));
    QVERIFY(boxes_.empty());
    QVERIFY(ReadAll(home_->filePath(asked + ".html")).starts_with("<html><body>"));
  }

  // The text is shown as its file encodes it: UTF-8 with characters of two to four bytes
  // (the last two UTF-16 units), its byte order mark left out, and bytes that are no UTF-8
  // taken as Latin-1, as a file that declares ISO-8859-1 writes them.
  void textIsShownDecodedAsTheFileEncodesIt() {
    auto form = showForm();
    auto* text = Control<PlainTextView>(*form, "MemoXml");
    const std::string utf8 = "<modules><module><id>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</id></module></modules>\n";
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<modules><module><id>\xE9t\xE9</id></module></modules>\n";
    for (const auto& [bytes, shown] :
         {std::pair{utf8, QString::fromUtf8(utf8)}, std::pair{"\xEF\xBB\xBF" + utf8, QString::fromUtf8(utf8)},
          std::pair{latin1, QString::fromLatin1(latin1)}}) {
      WriteFile(home_->filePath("encoded.xml"), bytes);
      form->checkFile(home_->filePath("encoded.xml"));
      QCOMPARE(text->toPlainText(), shown);
    }
  }

  // A check made while the tree is shown leaves its text to be laid out when the text tab is
  // shown: then its rows are there to scroll through, and of two checks before that, the
  // second file's text is the one shown.
  void textOfACheckWhileTheTreeIsShownIsLaidOutWhenItsTabIsShown() {
    auto form = showForm();
    auto* tabs = Control<QTabWidget>(*form, "PageControl2");
    auto* text = Control<PlainTextView>(*form, "MemoXml");
    const std::string shortText = "<modules><module><id>Short</id></module></modules>\n";
    WriteFile(home_->filePath("short.xml"), shortText);
    tabs->setCurrentIndex(1);
    form->checkFile(kExamples + "DemoPlugin.xml");
    form->checkFile(home_->filePath("short.xml"));
    tabs->setCurrentIndex(0);
    QCOMPARE(text->verticalScrollBar()->maximum(), 0);
    QCOMPARE(text->toPlainText(), QString::fromStdString(shortText));

    tabs->setCurrentIndex(1);
    form->checkFile(kExamples + "DemoPlugin.xml");
    tabs->setCurrentIndex(0);
    QVERIFY(text->verticalScrollBar()->maximum() > 0);
    QVERIFY(text->toPlainText().contains("<module"));
  }

  // A message opens the text at its element: double click or Enter, tabs counted as the
  // file has them, lines ended by a LF or a lone CR alike.
  void messageOpensTheTextAtItsLineAndColumn() {
    auto form = showForm();
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    auto* text = Control<PlainTextView>(*form, "MemoXml");
    for (const QString& eol : {QStringLiteral("\n"), QStringLiteral("\r")}) {
      WriteFile(home_->filePath("tabs.xml"),
                QStringLiteral("<modules>\n\t<module>\n\t\t<id>Tabbed</id>\n\t\t<attribute-name>Nope</attribute-name>\n"
                               "\t</module>\n</modules>\n")
                    .replace(QLatin1Char('\n'), eol)
                    .toStdString());
      form->checkFile(home_->filePath("tabs.xml"));
      QCOMPARE(Lines(errors).size(), 1);
      Control<QTabWidget>(*form, "PageControl2")->setCurrentIndex(1);
      const QRect row = errors->visualRect(form->messages().index(0));
      // A double click as the desktop delivers it: a click, then the second press as a double click.
      QTest::mouseClick(errors->viewport(), Qt::LeftButton, {}, row.center());
      QTest::mouseDClick(errors->viewport(), Qt::LeftButton, {}, row.center());
      QCOMPARE(Control<QTabWidget>(*form, "PageControl2")->currentWidget()->objectName(),
               QStringLiteral("TabSheetXMLText"));
      QCOMPARE(text->markedLine(), 4);
      QCOMPARE(text->cursorPosition(), QPoint(17, 4));  // two tabs of eight, then the element
    }

    // Enter does the same, for the line corvanexml-check names.
    form->checkFile(kExamples + "DemoPlugin.xml");
    QProcess cli;
    cli.start(QCoreApplication::applicationDirPath() + "/corvanexml-check", {kExamples + "DemoPlugin.xml"});
    QVERIFY(cli.waitForFinished(60000));
    const QStringList findings = QString::fromUtf8(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    const int last = form->messages().rowCount() - 1;
    const QString message = QString::fromStdString(form->messages().text(last));
    int line = 0;
    for (const QString& finding : findings) {
      if (finding.endsWith(message)) line = finding.section(':', 1, 1).toInt();
    }
    QVERIFY(line > 0);
    Control<QTabWidget>(*form, "PageControl2")->setCurrentIndex(1);
    errors->setFocus();
    errors->setCurrentIndex(form->messages().index(last));
    QTest::keyClick(errors, Qt::Key_Return);
    QCOMPARE(text->markedLine(), line);
    QVERIFY(text->verticalScrollBar()->value() > 0);
  }

  // The text of a file that did not load opens on its own, at the error's line; the views
  // keep the document that did load.
  void failedFileTextOpensWithoutChangingTheViews() {
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    const QString goodText = Control<PlainTextView>(*form, "MemoXml")->toPlainText();
    form->checkFile(kExamples + "Unfinished.xml");
    const QString message = Lines(Control<QListView>(*form, "ListBoxErrors")).value(0);
    const int errorLine = message.section("Line: ", 1).section('\n', 0, 0).toInt();
    QVERIFY(errorLine > 0);
    form->findChild<QAction*>("PopupShowText")->trigger();
    auto* shown = form->findChild<PlainTextView*>("FailedFileTextView");
    QVERIFY(shown != nullptr);
    QCOMPARE(shown->toPlainText(), QString::fromStdString(ReadAll(kExamples + "Unfinished.xml")).remove('\r'));
    QCOMPARE(shown->markedLine(), errorLine);
    const QString folder = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(folder);
    QVERIFY(shown->window()->grab().save(folder + "/failed_file_text.png"));
    QCOMPARE(Control<PlainTextView>(*form, "MemoXml")->toPlainText(), goodText);
    QCOMPARE(form->documentTree().label(0), (kExamples + "DemoPlugin.xml").toStdString());
  }

  // F5 checks again; so does a change to the file, to a bundle it used, or the file's removal,
  // each said in the status bar.
  void checksAgainOnF5AndWhenItsFilesChange() {
    const std::filesystem::path webapp = home_->filePath("webapp").toStdString();
    std::filesystem::copy(CORVANE_EXAMPLES, webapp, std::filesystem::copy_options::recursive);
    const QString file = QString::fromStdString((webapp / "portal/modules/DemoPlugin/DemoPlugin.xml").string());
    auto form = showForm();
    form->checkFile(file);
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    auto* note = Control<QLabel>(*form, "StatusBarCheck");
    const QStringList first = Lines(errors);
    QVERIFY(note->text().isEmpty());

    // An editor's save: a new file renamed over the old one.
    std::string text = ReadAll(file);
    text.replace(text.find("<object-type-name>Usr</object-type-name>"), 40, "<object-type-name>Usx</object-type-name>");
    WriteFile(file + ".new", text);
    std::filesystem::rename((file + ".new").toStdString(), file.toStdString());
    QTRY_VERIFY_WITH_TIMEOUT(Lines(errors).join('\n').contains("\"Usx\""), 10000);
    QVERIFY(note->text().startsWith("Checked again at "));
    QVERIFY(note->text().endsWith("DemoPlugin.xml changed"));

    // The bundle gains the key a message was about.
    const QStringList missingKeys = Lines(errors).filter("Msg 003").filter("/Role.");
    QVERIFY(!missingKeys.isEmpty());
    const QString key = missingKeys[0].section('/', -1);
    const std::string bundle = (webapp / "WEB-INF/classes").string();
    std::string properties;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(bundle)) {
      if (entry.path().extension() == ".properties") properties = entry.path().string();
    }
    QVERIFY(!properties.empty());
    std::ofstream(properties, std::ios::app) << "\n" << key.toStdString() << "=added\n";
    QTRY_VERIFY_WITH_TIMEOUT(Lines(errors).filter("Msg 003").filter(key).isEmpty(), 10000);

    // F5, without a change.
    const QStringList before = Lines(errors);
    QTest::keyClick(form.get(), Qt::Key_F5);
    QCOMPARE(Lines(errors), before);
    QVERIFY(note->text().endsWith(": F5"));

    // The file goes away: Msg 100, as a load would say.
    std::filesystem::remove(file.toStdString());
    QTRY_VERIFY_WITH_TIMEOUT(Lines(errors).size() == 1 && Lines(errors)[0].startsWith("Msg 100"), 10000);
    QVERIFY(note->text().endsWith("DemoPlugin.xml was removed"));
    QVERIFY(first != before);
  }

  void droppedFileIsCheckedAndTheOpenDialogStartsBesideIt() {
    auto form = showForm();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(kExamples + "DemoTranslator.xml")});
    const QPoint at = form->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(form.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(form.get(), &drop);
    QTRY_COMPARE(form->documentTree().size() > 0 ? form->documentTree().label(0) : std::string(),
                 (kExamples + "DemoTranslator.xml").toStdString());
    auto* dialog = Control<QFileDialog>(*form, "OpenDialog");
    QCOMPARE(dialog->directory().absolutePath(), QFileInfo(kExamples + "DemoTranslator.xml").absolutePath());
  }

  // A tree whose schema cannot be read: the box keeps its one line and tells why under it,
  // each time the tree is picked, though standard error has the reason only once.
  void failedTreeChangeBoxSaysWhy() {
    const std::string demo = (QCoreApplication::applicationDirPath() + "/trees/demo.schema").toStdString();
    const std::string missing = home_->filePath("gone/missing.schema").toStdString();
    WriteFile(configPath("corvane-client/connections.ini"), "[" + std::string(client::kDemoTreeName) +
                                                                "]\nschema = " + demo + "\nprimary = true\n\n" +
                                                                "[BROKEN]\nschema = " + missing + "\n");
    client::ResetClient();
    client::ClientInit(0, 0);
    std::vector<std::string> details;
    SetMessageBoxHook([this, &details](MsgDlgKind, const std::string& text, const std::string& why) {
      boxes_.push_back(text);
      details.push_back(why);
    });
    auto form = showForm();
    QVERIFY(boxes_.empty());
    auto* trees = Control<QComboBox>(*form, "ComboBoxTrees");
    QCOMPARE(trees->itemText(1), QStringLiteral("BROKEN"));
    trees->setCurrentIndex(1);
    emit trees->activated(1);
    QCOMPARE(boxes_, std::vector<std::string>{"Error FFFFFC13: DSChangeCurrentTree"});
    const std::string& why = details[0];
    QVERIFY2(why.starts_with("warning: tree BROKEN: ") && why.find(missing) != std::string::npos, why.c_str());

    // Picked again, in the window's own box, shown with its details as the user opens them.
    InstallQtPlatformHooks();
    QString text;
    QString shownDetails;
    bool saved = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      watch.stop();
      text = box->text();
      shownDetails = box->detailedText();
      for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();
      }
      const QString folder = QCoreApplication::applicationDirPath() + "/screenshots";
      QDir().mkpath(folder);
      saved = box->grab().save(folder + "/tree_change_failed.png");
      box->accept();
    });
    watch.start(0);
    emit trees->activated(1);
    watch.stop();
    SetClipboardHooks({}, {});
    QCOMPARE(text, QStringLiteral("Error FFFFFC13: DSChangeCurrentTree"));
    QCOMPARE(shownDetails.toStdString(), why);
    QVERIFY(saved);
  }

  // Lines of megabytes are shown cut short; the whole text stays in the tool tip, the
  // export and the selection by a tree item's key.
  void longMessagesAreShownCutShort() {
    std::string plugin = "<modules>";
    std::vector<std::string> ids;
    for (char c : {'a', 'b', 'c', 'd'}) {
      ids.push_back(std::string(1 << 20, c));
      plugin += "<task><id>" + ids.back() + "</id><object-type-name>NoClass</object-type-name></task>";
    }
    WriteFile(home_->filePath("long.xml"), plugin + "</modules>");
    auto form = showForm();
    form->checkFile(home_->filePath("long.xml"));
    const SortedListModel& messages = form->messages();
    QCOMPARE(messages.rowCount(), 4);
    for (int row = 0; row < messages.rowCount(); ++row) {
      const QModelIndex index = messages.index(row);
      const QString shown = messages.data(index, Qt::DisplayRole).toString();
      QCOMPARE(shown.size(), 501);
      QVERIFY(shown.endsWith(QStringLiteral("…")));
      QCOMPARE(messages.data(index, Qt::ToolTipRole).toString().toStdString(), messages.text(row));
      QVERIFY(messages.text(row).find(ids[static_cast<std::size_t>(row)]) != std::string::npos);
    }
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    ClickRow(errors, messages.index(0));
    QTest::keyClick(errors, Qt::Key_Down);
    QCOMPARE(errors->currentIndex().row(), 1);
    // A tree item's key still finds its message.
    ClickRow(Control<DocumentTreeView>(*form, "TreeView"),
             TreeIndexWhereLabel(*form, [&ids](const std::string& l) { return l == "task (" + ids[2] + ")"; }));
    QCOMPARE(errors->selectionModel()->selectedIndexes().size(), 1);
    QCOMPARE(errors->selectionModel()->selectedIndexes()[0].row(), 2);
  }

  void screenshotAfterCheckingTheExample() {
    auto form = showForm();
    form->checkFile(kExamples + "DemoPlugin.xml");
    auto* errors = Control<QListView>(*form, "ListBoxErrors");
    ClickRow(errors, form->messages().index(1));
    const QString folder = QCoreApplication::applicationDirPath() + "/screenshots";
    QDir().mkpath(folder);
    QVERIFY(form->grab().save(folder + "/main_form.png"));
    Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(2);
    QVERIFY(form->grab().save(folder + "/schema_tab.png"));
    Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
    errors->setFocus();
    QTest::keyClick(errors, Qt::Key_Return);
    QVERIFY(form->grab().save(folder + "/message_line.png"));
  }
};

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
