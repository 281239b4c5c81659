// TMainForm: the one window. Tabs for the Info text, the tree choice with the checked
// file's text, node tree and messages, and the schema of the current tree.
#pragma once

#include <QMainWindow>
#include <QSet>
#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "directory_session.h"
#include "file_watch.h"
#include "plain_sinks.h"
#include "scan_state.h"
#include "string_list.h"

class QComboBox;
class QFileDialog;
class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace corvane {

class DocumentTreeModel;
class DocumentTreeView;
class PlainTextView;
class SortedListModel;

// The application's title and version, as the window and the desktop show them.
inline constexpr char kApplicationTitle[] = "Corvane XML Check";
inline constexpr char kApplicationVersion[] = "v" CORVANE_VERSION;
// Until the project has a home page of its own, the author's address is the README that
// ships with the program.
inline constexpr char kAuthorAddressFile[] = "README.md";
// The author's address as shown in the status bar and opened on a click.
std::string AuthorAddress();

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Builds the window and does the start-up work (FormCreate).
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Asks for the file to check; an empty answer cancels. Defaults to the open dialog.
  using FileChooser = std::function<QString()>;
  void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
  // Where to save a list: the chosen path and the extension of the file type chosen in the
  // dialog's type list (empty for "All Files").
  struct SaveChoice {
    SaveChoice(QString chosenPath, QString chosenSuffix = {})
        : path(std::move(chosenPath)), suffix(std::move(chosenSuffix)) {}
    QString path;
    QString suffix;
  };
  // Asks where to save a list, proposing a name; an empty path cancels. Defaults to the save
  // dialog.
  using SaveFileChooser = std::function<SaveChoice(const QString& proposedName)>;
  void setSaveFileChooser(SaveFileChooser chooser) { chooseSaveFile_ = std::move(chooser); }

  // Checks a file as if it had been chosen with "Select File".
  void checkFile(const QString& path);
  // Checks the program's one optional argument, FILE, once the event loop runs.
  void checkFileArgument(const QStringList& arguments);
  // True while a check or a tree change runs.
  bool busy() const { return busy_; }

  // What the views show, for the tests and the benchmark.
  const SortedListModel& messages() const { return *errorsModel_; }
  const DocumentTreeModel& documentTree() const { return *treeModel_; }
  const ScanState& scanState() const { return state_; }

  // Event handlers, named after their component and event.
  void FormShow();
  void ChangeTree();
  void GetContainerInfo();
  void BitBtnSelectFileClick();
  void ListBoxErrorsClick();
  void TreeViewClick();
  // Saves the list the context menu was opened on.
  void PopupSaveClick();
  // Opens the context menu of a list, as a right click or the menu key does.
  void popupListMenu(QListView* list, const QPoint& globalPos);
  // Shows where the current message points: XML Text at its line and column, or, for a file
  // that did not load, that file's text.
  void ShowMessageSource();
  // Opens the text of the file that did not load, read-only, at the error's line.
  void ShowFailedFileText();
  // Checks the file checked last again, without asking; why is said in the status bar.
  void CheckAgain(const QString& why);
  void StatusBarClick();
  void FormClose();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // An XML file dropped onto the window is checked.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Clicks on the status bar.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  QWidget* buildInfoTab();
  QWidget* buildSelectTab();
  QWidget* buildSchemaTab();
  QListView* makeListBox(const char* name, SortedListModel*& model);
  void FormCreate();
  void FillTrees();
  // Empties the message list, the id list and the per-item state.
  void ClearMessages();
  // Empties the schema lists and their views, then the messages.
  void ClearSchemaViews();
  // Shows a checked file's text, given as its bytes.
  void showXmlText(std::string bytes);
  void showMessages();
  void refreshClassAttributes();
  // Watches what the check read, so that a change to any of it checks again.
  void watchCheckedFiles(const std::string& fullPath);
  // Holds off file selection and tree change while one of them runs.
  bool enterBusy();
  void leaveBusy();
  // Switches the message list between single and multiple selection.
  void setErrorsSingleSelection(bool single);

  // Controls, named as the window's components.
  QTabWidget* PageControl1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QWidget* TabSheetSelect = nullptr;
  QComboBox* ComboBoxTrees = nullptr;
  QLineEdit* EditMyName = nullptr;
  QPushButton* BitBtnSelectFile = nullptr;
  QTabWidget* PageControl2 = nullptr;
  PlainTextView* MemoXml = nullptr;
  DocumentTreeView* TreeView = nullptr;
  QListView* ListBoxErrors = nullptr;
  QListView* ListBoxClasses = nullptr;
  QListView* ListBoxAttr = nullptr;
  QListView* ListBoxClassAttr = nullptr;
  QListView* ListBoxAttrAux = nullptr;
  QLabel* StatusBarText = nullptr;
  QFileDialog* OpenDialog = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* PopupSave = nullptr;
  QFileDialog* SaveDialog1 = nullptr;
  QAction* PopupShowText = nullptr;
  QAction* PopupCheckAgain = nullptr;
  QLabel* StatusBarCheck = nullptr;
  QWidget* TabSheetXMLText = nullptr;
  QListView* popupComponent_ = nullptr;  // the list the context menu was opened on
  QSet<const QObject*> listViewports_;   // where the five lists take their mouse clicks

  DocumentTreeModel* treeModel_ = nullptr;
  SortedListModel* errorsModel_ = nullptr;
  SortedListModel* classesModel_ = nullptr;
  SortedListModel* attrModel_ = nullptr;
  SortedListModel* classAttrModel_ = nullptr;
  SortedListModel* attrAuxModel_ = nullptr;

  // The checker writes into plain sinks; the finished results go to the views' models.
  PlainTree stagingTree_;
  PlainMessages stagingMessages_;
  ScanState state_{stagingTree_, stagingMessages_};
  StringList AuxAttributeList;
  DirectorySession directory_;
  CheckedFilesWatcher watcher_;
  // What the file that did not load held, for showing it without making it the document.
  struct FailedLoad {
    std::string path;
    std::string text;
    SourcePosition at;
    std::string reason;  // the parser's, as Msg 100 gives it
  };
  std::optional<FailedLoad> failedLoad_;

  FileChooser chooseFile_;
  SaveFileChooser chooseSaveFile_;
  std::string shownTree_;  // the tree the last successful change went to
  bool busy_ = false;
  bool shownOnce_ = false;
  bool errorsSingleSelection_ = false;
};

}  // namespace corvane
