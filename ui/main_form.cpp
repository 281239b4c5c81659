#include "main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTabWidget>
#include <QTime>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>
#include <memory>

#include "catalogue.h"
#include "d_ini.h"
#include "d_util.h"
#include "d_util_export.h"
#include "d_win.h"
#include "file_read.h"
#include "list_model.h"
#include "save_target.h"
#include "scan.h"
#include "text_view.h"
#include "tree_model.h"
#include "tree_view.h"
#include "vector_room.h"

namespace corvane {

namespace {

// The window's design placement and the sizes of its parts.
constexpr QRect kDesignGeometry(279, 201, 820, 608);
constexpr int kInfoTopHeight = 41;
constexpr int kSelectStripHeight = 72;
constexpr int kTreeControlWidth = 161;
constexpr int kTreeViewWidth = 417;
constexpr int kTreeIndent = 19;
constexpr int kSplitterWidth = 8;
constexpr int kHeaderHeight = 24;
// The outer schema columns leave the middle one room at the design width.
constexpr int kClassesColumnWidth = 250;
constexpr int kAuxColumnWidth = 250;
constexpr int kAttrListHeight = 460;
// How long a change seen during a check waits before it is looked at again.
constexpr int kRetryWhenBusyMs = 200;

// The file's text for the text view: UTF-8 unless a byte order mark says otherwise, and
// Latin-1 for bytes that are not UTF-8 at all.
QString DecodeFileText(const std::string& bytes) {
  const QByteArrayView data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  if (const auto bom = QStringConverter::encodingForData(data); bom && *bom != QStringConverter::Utf8) {
    QStringDecoder decoder(*bom);
    return decoder.decode(data);
  }
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  // Decoded into room made first, which a large file fills with few page faults.
  QString text(utf8.requiredSpace(data.size()), Qt::Uninitialized);
  AdviseHugePages(text.constData(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
  const QChar* const end = utf8.appendToBuffer(text.data(), data);
  if (utf8.hasError()) return QString::fromLatin1(data);
  text.truncate(end - text.constData());
  return text;
}

QLabel* MakeHeader(const char* name, const char* caption) {
  auto* header = new QLabel(QString::fromUtf8(caption));
  header->setObjectName(QString::fromUtf8(name));
  header->setFixedHeight(kHeaderHeight);
  header->setAlignment(Qt::AlignCenter);
  header->setFrameShape(QFrame::StyledPanel);
  return header;
}

// A new widget with the object name, or nameless for nullptr.
QWidget* MakeWidget(const char* name) {
  auto* widget = new QWidget;
  if (name != nullptr) widget->setObjectName(QString::fromUtf8(name));
  return widget;
}

// Lays out top (when there is one) over fill, edge to edge, in widget: the tabs, and the
// schema tab's columns with their header strips.
QWidget* Stack(QWidget* widget, QWidget* top, QWidget* fill) {
  auto* layout = new QVBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (top != nullptr) layout->addWidget(top);
  layout->addWidget(fill, 1);
  return widget;
}

// The first local file of a drop, or empty.
QString DroppedFile(const QMimeData* data) {
  if (data == nullptr) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) return url.toLocalFile();
  }
  return {};
}

// The extension of a file type of the dialog, "txt" for "Text (*.txt)"; empty for "All Files (*)".
QString FilterSuffix(const QString& nameFilter) {
  const qsizetype star = nameFilter.indexOf(QStringLiteral("*."));
  if (star < 0) return {};
  const qsizetype end = nameFilter.indexOf(QLatin1Char(')'), star);
  return nameFilter.mid(star + 2, end < 0 ? -1 : end - star - 2);
}

bool IsRightButtonEvent(const QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: return static_cast<const QMouseEvent*>(event)->button() == Qt::RightButton;
    default: return false;
  }
}

QSplitter* MakeSplitter(const char* name, Qt::Orientation orientation) {
  auto* splitter = new QSplitter(orientation);
  splitter->setObjectName(QString::fromUtf8(name));
  splitter->setHandleWidth(kSplitterWidth);
  splitter->setChildrenCollapsible(false);
  return splitter;
}

}  // namespace

std::string AuthorAddress() { return ProgramDataFile(kAuthorAddressFile); }

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("MainForm"));
  move(kDesignGeometry.topLeft());  // the frame's place, as the settings store it
  resize(kDesignGeometry.size());
  KeepToolkitSettingsOut();  // before the file dialogs are made
  buildControls();
  chooseFile_ = [this] {
    return OpenDialog->exec() == QDialog::Accepted ? OpenDialog->selectedFiles().value(0) : QString();
  };
  chooseSaveFile_ = [this](const QString& proposedName) -> SaveChoice {
    SaveDialog1->selectFile(proposedName);
    if (SaveDialog1->exec() != QDialog::Accepted) return QString();
    return {SaveDialog1->selectedFiles().value(0), FilterSuffix(SaveDialog1->selectedNameFilter())};
  };
  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::buildControls() {
  PageControl1 = new QTabWidget;
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->addTab(buildInfoTab(), QStringLiteral("&Info"));
  PageControl1->addTab(buildSelectTab(), QStringLiteral("Select XML and Tree"));
  PageControl1->addTab(buildSchemaTab(), QStringLiteral("&Schema"));
  setCentralWidget(PageControl1);

  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->setSizeGripEnabled(false);
  statusBar()->setCursor(Qt::PointingHandCursor);
  statusBar()->installEventFilter(this);
  StatusBarText = new QLabel;
  StatusBarText->setObjectName(QStringLiteral("StatusBarText"));
  StatusBarText->setAttribute(Qt::WA_TransparentForMouseEvents);
  statusBar()->addWidget(StatusBarText, 1);
  // When and why the window checked the file again by itself.
  StatusBarCheck = new QLabel;
  StatusBarCheck->setObjectName(QStringLiteral("StatusBarCheck"));
  StatusBarCheck->setAttribute(Qt::WA_TransparentForMouseEvents);
  statusBar()->addPermanentWidget(StatusBarCheck);
  connect(&watcher_, &CheckedFilesWatcher::changed, this, [this](const QString& path) {
    const QString name = QFileInfo(path).fileName();
    CheckAgain(QFileInfo::exists(path) ? name + QStringLiteral(" changed") : name + QStringLiteral(" was removed"));
  });

  OpenDialog = new QFileDialog(this, QStringLiteral("Select File"));
  OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
  OpenDialog->setNameFilters({QStringLiteral("XML Files (*.xml)"), QStringLiteral("All Files (*)")});
  OpenDialog->setDefaultSuffix(QStringLiteral("xml"));
  OpenDialog->setFileMode(QFileDialog::ExistingFile);
  OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);

  SaveDialog1 = new QFileDialog(this, QStringLiteral("Save"));
  SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
  SaveDialog1->setNameFilters({QStringLiteral("Text (*.txt)"), QStringLiteral("html (*.html)"),
                               QStringLiteral("Excel (*.xls)"), QStringLiteral("XML (*.xml)"),
                               QStringLiteral("All Files (*)")});
  // The extension is added by PopupSaveClick, from the name or the chosen type.
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  PopupSave = PopupMenu1->addAction(QStringLiteral("Save ..."), this, [this] { PopupSaveClick(); });
  PopupSave->setObjectName(QStringLiteral("PopupSave"));
  PopupShowText = PopupMenu1->addAction(QStringLiteral("Show the file's text"), this, [this] { ShowFailedFileText(); });
  PopupShowText->setObjectName(QStringLiteral("PopupShowText"));
  // F5 works anywhere in the window; the menu shows it beside its entry.
  PopupCheckAgain =
      PopupMenu1->addAction(QStringLiteral("Check again"), this, [this] { CheckAgain(QStringLiteral("F5")); });
  PopupCheckAgain->setObjectName(QStringLiteral("PopupCheckAgain"));
  PopupCheckAgain->setShortcut(QKeySequence(Qt::Key_F5));
  addAction(PopupCheckAgain);
  setAcceptDrops(true);
  for (QListView* list : {ListBoxErrors, ListBoxClasses, ListBoxAttr, ListBoxClassAttr, ListBoxAttrAux}) {
    // A right click, the menu key and Shift+F10 all ask for the context menu.
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& pos) { popupListMenu(list, list->viewport()->mapToGlobal(pos)); });
    list->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    listViewports_.insert(list->viewport());
  }
}

void TMainForm::popupListMenu(QListView* list, const QPoint& globalPos) {
  popupComponent_ = list;
  // The message list's own entries.
  const bool messages = list == ListBoxErrors;
  PopupShowText->setVisible(messages);
  PopupShowText->setEnabled(failedLoad_.has_value());
  PopupCheckAgain->setVisible(messages);
  PopupCheckAgain->setEnabled(!state_.XmlFileName.empty());
  PopupMenu1->exec(globalPos);
  // Hidden, its shortcut would not work either.
  PopupCheckAgain->setVisible(true);
}

QWidget* TMainForm::buildInfoTab() {
  QWidget* top = MakeWidget("PanelInfoTop");
  top->setFixedHeight(kInfoTopHeight);
  Memo1 = new QPlainTextEdit;
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The Info text lines up its columns with blanks.
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return Stack(MakeWidget("TabSheetInfo"), top, Memo1);
}

QWidget* TMainForm::buildSelectTab() {
  TabSheetSelect = MakeWidget("TabSheetSelect");

  QWidget* strip = MakeWidget("PanelSelectTop");
  strip->setFixedHeight(kSelectStripHeight);
  ComboBoxTrees = new QComboBox;
  ComboBoxTrees->setObjectName(QStringLiteral("ComboBoxTrees"));
  ComboBoxTrees->setEditable(false);
  ComboBoxTrees->setFixedWidth(kTreeControlWidth);
  ComboBoxTrees->setToolTip(QStringLiteral("Select Current Tree"));
  // A wheel passing over the list is no pick; it would throw the results away unasked.
  ComboBoxTrees->installEventFilter(this);
  connect(ComboBoxTrees, &QComboBox::activated, this, [this] {
    if (ComboBoxTrees->currentText().toStdString() != shownTree_) ChangeTree();
  });
  EditMyName = new QLineEdit;
  EditMyName->setObjectName(QStringLiteral("EditMyName"));
  EditMyName->setReadOnly(true);
  BitBtnSelectFile = new QPushButton(QStringLiteral("Select &File"));
  BitBtnSelectFile->setObjectName(QStringLiteral("BitBtnSelectFile"));
  BitBtnSelectFile->setFixedWidth(kTreeControlWidth);
  connect(BitBtnSelectFile, &QPushButton::clicked, this, [this] { BitBtnSelectFileClick(); });
  auto* grid = new QGridLayout(strip);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->addWidget(ComboBoxTrees, 0, 0);
  grid->addWidget(EditMyName, 0, 1);
  grid->addWidget(BitBtnSelectFile, 1, 0);
  grid->setColumnStretch(1, 1);

  MemoXml = new PlainTextView;
  MemoXml->setObjectName(QStringLiteral("MemoXml"));
  MemoXml->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  TabSheetXMLText = Stack(MakeWidget("TabSheetXMLText"), nullptr, MemoXml);

  treeModel_ = new DocumentTreeModel(this);
  TreeView = new DocumentTreeView(treeModel_);
  TreeView->setObjectName(QStringLiteral("TreeView"));
  TreeView->setIndentation(kTreeIndent);
  // The selection stays visible while the message list has the focus.
  QPalette palette = TreeView->palette();
  for (const auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  TreeView->setPalette(palette);
  connect(TreeView, &QAbstractItemView::clicked, this, [this] { TreeViewClick(); });

  ListBoxErrors = makeListBox("ListBoxErrors", errorsModel_);
  ListBoxErrors->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(ListBoxErrors->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { ListBoxErrorsClick(); });
  connect(ListBoxErrors, &QListView::clicked, this, [this] { ListBoxErrorsClick(); });
  connect(ListBoxErrors, &QListView::doubleClicked, this, [this] { ShowMessageSource(); });

  auto* treeSplitter = MakeSplitter("SplitterTree", Qt::Horizontal);
  treeSplitter->addWidget(TreeView);
  treeSplitter->addWidget(ListBoxErrors);
  // A narrower window takes width from both panels, in proportion.
  treeSplitter->setStretchFactor(0, 1);
  treeSplitter->setStretchFactor(1, 1);
  treeSplitter->setSizes({kTreeViewWidth, kDesignGeometry.width() - kTreeViewWidth});
  QWidget* treeTab = Stack(MakeWidget("TabSheetXMLTree"), nullptr, treeSplitter);

  PageControl2 = new QTabWidget;
  PageControl2->setObjectName(QStringLiteral("PageControl2"));
  PageControl2->addTab(TabSheetXMLText, QStringLiteral("&XML Text"));
  PageControl2->addTab(treeTab, QStringLiteral("XML T&ree"));
  PageControl2->setCurrentWidget(treeTab);

  return Stack(TabSheetSelect, strip, PageControl2);
}

QWidget* TMainForm::buildSchemaTab() {
  ListBoxClasses = makeListBox("ListBoxClasses", classesModel_);
  ListBoxAttr = makeListBox("ListBoxAttr", attrModel_);
  ListBoxClassAttr = makeListBox("ListBoxClassAttr", classAttrModel_);
  ListBoxAttrAux = makeListBox("ListBoxAttrAux", attrAuxModel_);

  auto* attrSplitter = MakeSplitter("SplitterAttr", Qt::Vertical);
  attrSplitter->addWidget(ListBoxAttr);
  attrSplitter->addWidget(ListBoxClassAttr);
  // The attribute list keeps its height; the class attributes take what the window adds.
  attrSplitter->setStretchFactor(0, 0);
  attrSplitter->setStretchFactor(1, 1);
  attrSplitter->setSizes({kAttrListHeight, 1});
  // At the design size only a few rows remain below it; a scroll area would ask for more.
  ListBoxClassAttr->setMinimumHeight(2 * kHeaderHeight);

  auto* columns = MakeSplitter("SplitterSchema", Qt::Horizontal);
  columns->addWidget(Stack(MakeWidget(nullptr), MakeHeader("PanelClasses", "Available Classes"), ListBoxClasses));
  columns->addWidget(Stack(MakeWidget(nullptr), MakeHeader("PanelAttr", "Available Attributes"), attrSplitter));
  columns->addWidget(
      Stack(MakeWidget(nullptr), MakeHeader("PanelAttrAux", "Potential Auxiliary Attributes"), ListBoxAttrAux));
  columns->setStretchFactor(1, 1);
  const int middle = kDesignGeometry.width() - kClassesColumnWidth - kAuxColumnWidth - 2 * kSplitterWidth;
  columns->setSizes({kClassesColumnWidth, middle, kAuxColumnWidth});

  return Stack(MakeWidget("TabSheetSchema"), nullptr, columns);
}

QListView* TMainForm::makeListBox(const char* name, SortedListModel*& model) {
  model = new SortedListModel(this);
  auto* list = new QListView;
  list->setObjectName(QString::fromUtf8(name));
  list->setModel(model);
  list->setUniformItemSizes(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setItemDelegate(new WholeLineDelegate(list));
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  return list;
}

void TMainForm::FormCreate() {
  StatusBarText->setText(QString::fromStdString(AuthorAddress()));
  setWindowTitle(
      QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kApplicationTitle), QString::fromUtf8(kApplicationVersion)));
  const std::string infoFile = ProgramDataFile(ExtractFileName(ProgramFileName("txt")));
  std::string reason;
  if (const auto info = ReadRegularFile(infoFile, reason)) {
    Memo1->setPlainText(DecodeFileText(*info));
  } else {
    Memo1->setPlainText(QString::fromStdString("Could not find " + infoFile));
  }
  PageControl1->setCurrentWidget(TabSheetSelect);
  if (!directory_.start()) return;
  try {
    FillTrees();
  } catch (const std::exception&) {
    // The window opens with whatever the tree list holds.
  }
}

void TMainForm::FillTrees() {
  const StringList trees = directory_.trees();
  for (const StringList::Entry& tree : trees.entries()) {
    ComboBoxTrees->addItem(QString::fromStdString(tree.text));
  }
  if (ComboBoxTrees->count() == 0) return;
  const std::string primary = directory_.primaryTree();
  int selected = -1;
  for (int i = 0; i < ComboBoxTrees->count() && selected < 0; ++i) {
    if (SameText(ComboBoxTrees->itemText(i).toStdString(), primary)) selected = i;
  }
  ComboBoxTrees->setCurrentIndex(selected);
  ChangeTree();
}

void TMainForm::FormShow() { LoadSettings(*this); }

void TMainForm::ChangeTree() {
  const std::string tree = ComboBoxTrees->currentText().toStdString();
  if (tree.empty() || !enterBusy()) return;
  // A failed change leaves no tree shown, so picking the same name again tries again.
  shownTree_ = directory_.changeTree(tree) == 0 ? tree : std::string();
  GetContainerInfo();
  ClearSchemaViews();
  directory_.readSchema(state_.schema, AuxAttributeList);
  classesModel_->setLines(state_.schema.SchemaClassList);
  attrModel_->setLines(state_.schema.SchemaAttributeList);
  attrAuxModel_->setLines(AuxAttributeList);
  leaveBusy();
}

void TMainForm::GetContainerInfo() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  EditMyName->setText(QString::fromStdString(directory_.myName()));
  QApplication::restoreOverrideCursor();
}

void TMainForm::ClearMessages() {
  corvane::ClearMessages(state_);
  showMessages();
}

void TMainForm::ClearSchemaViews() {
  state_.schema.SchemaAttributeList.clear();
  state_.schema.SchemaClassList.clear();
  state_.schema.ClassAttrList.clear();
  AuxAttributeList.clear();
  classAttrModel_->clear();
  attrAuxModel_->clear();
  attrModel_->clear();
  classesModel_->clear();
  ClearMessages();
}

void TMainForm::BitBtnSelectFileClick() {
  if (busy_) return;
  const QString path = chooseFile_();
  if (!path.isEmpty()) checkFile(path);
}

void TMainForm::checkFile(const QString& path) {
  if (path.isEmpty() || !enterBusy()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ClearMessages();
  std::error_code ignored;
  const std::string fullPath = FullPathToCheck(path.toStdString(), ignored);
  // The open dialog starts where the file checked last lies.
  const QFileInfo checked(QString::fromStdString(fullPath));
  OpenDialog->setDirectory(checked.absolutePath());
  OpenDialog->selectFile(checked.fileName());
  StatusBarCheck->clear();
  std::string bytes;
  // The file is read, parsed and walked at once, its finished items beside the parse; its
  // bytes are kept for the text view.
  CheckOutcome outcome = CheckFileFollowingLoad(state_, fullPath, std::nullopt, &bytes);
  failedLoad_.reset();
  if (!outcome.document && outcome.loadError && !outcome.loadError->unreadable) {
    failedLoad_ = FailedLoad{
        fullPath, std::move(bytes), {outcome.loadError->line, outcome.loadError->column}, outcome.loadError->message};
  } else if (outcome.document) {
    showXmlText(std::move(bytes));
    treeModel_->publish(std::move(stagingTree_), std::move(outcome.document));
    stagingTree_.clear();
    // The top item names the file: a new document is shown from there.
    TreeView->scrollToTop();
    TreeView->horizontalScrollBar()->setValue(0);
  }
  showMessages();
  refreshClassAttributes();
  watchCheckedFiles(fullPath);
  QApplication::restoreOverrideCursor();
  leaveBusy();
}

void TMainForm::watchCheckedFiles(const std::string& fullPath) {
  std::vector<std::string> paths = state_.files.paths();
  paths.push_back(fullPath);
  watcher_.watch(paths);
}

void TMainForm::CheckAgain(const QString& why) {
  if (state_.XmlFileName.empty()) return;
  if (busy_) {
    // A change seen while a check runs is checked once that one is done.
    QTimer::singleShot(kRetryWhenBusyMs, this, [this, why] { CheckAgain(why); });
    return;
  }
  checkFile(QString::fromStdString(state_.XmlFileName));
  StatusBarCheck->setText(
      QStringLiteral("Checked again at %1: %2").arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), why));
}

void TMainForm::ShowMessageSource() {
  const QModelIndex current = ListBoxErrors->currentIndex();
  if (!current.isValid()) return;
  const Message& message = errorsModel_->message(current.row());
  if (message.item == kNoItem && message.source == kNoItem) {
    if (message.code == kXmlError && failedLoad_) ShowFailedFileText();
    return;
  }
  const SourcePosition at = treeModel_->positionOf(message);
  if (at.line == 0) return;
  PageControl2->setCurrentWidget(TabSheetXMLText);
  MemoXml->showPosition(static_cast<int>(at.line), static_cast<int>(at.column));
  MemoXml->setFocus();
}

void TMainForm::ShowFailedFileText() {
  if (!failedLoad_) return;
  // A window of its own: the views keep showing the document that did load.
  auto* window = new QDialog(this);
  window->setObjectName(QStringLiteral("FailedFileText"));
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(QString::fromStdString(failedLoad_->path));
  auto* text = new PlainTextView;
  text->setObjectName(QStringLiteral("FailedFileTextView"));
  // What the parser said stands above the text, as the message list has it.
  auto* reason = new QLabel(QString::fromStdString(failedLoad_->reason));
  reason->setObjectName(QStringLiteral("FailedFileReason"));
  reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
  reason->setMargin(kSplitterWidth);
  Stack(window, reason, text);
  window->resize(kDesignGeometry.width() - 80, kDesignGeometry.height() - 80);
  text->setPlainText(DecodeFileText(failedLoad_->text));
  window->show();
  text->showPosition(static_cast<int>(failedLoad_->at.line), static_cast<int>(failedLoad_->at.column));
}

void TMainForm::checkFileArgument(const QStringList& arguments) {
  if (arguments.size() < 2) return;
  const QString& file = arguments.at(1);
  QTimer::singleShot(0, this, [this, file] { checkFile(file); });
}

void TMainForm::showXmlText(std::string bytes) {
  // Decoded and laid out only once the text tab is shown: most checks are read in the tree
  // and the message list.
  MemoXml->setViewTextLater(
      [bytes = std::make_shared<const std::string>(std::move(bytes))] { return LayOutText(DecodeFileText(*bytes)); });
}

void TMainForm::showMessages() { errorsModel_->setMessages(stagingMessages_.lines()); }

void TMainForm::refreshClassAttributes() { classAttrModel_->setLines(state_.schema.ClassAttrList); }

bool TMainForm::enterBusy() {
  if (busy_) return false;
  busy_ = true;
  return true;
}

void TMainForm::leaveBusy() { busy_ = false; }

void TMainForm::setErrorsSingleSelection(bool single) {
  if (single == errorsSingleSelection_) return;
  errorsSingleSelection_ = single;
  ListBoxErrors->setSelectionMode(single ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
  // Only the current entry stays selected in single selection.
  if (single)
    ListBoxErrors->selectionModel()->select(ListBoxErrors->currentIndex(), QItemSelectionModel::ClearAndSelect);
}

void TMainForm::ListBoxErrorsClick() {
  // Only a message the user chose counts: a list emptied by a new check has none.
  const QModelIndex current = ListBoxErrors->currentIndex();
  if (!current.isValid()) return;
  setErrorsSingleSelection(true);
  const TreeItem item = errorsModel_->item(current.row());
  if (item >= treeModel_->size()) return;
  TreeView->expand(item);
  TreeView->selectItem(item);
}

void TMainForm::TreeViewClick() {
  setErrorsSingleSelection(false);
  const QModelIndexList selected = TreeView->selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return;
  std::string key = treeModel_->label(treeModel_->itemOf(selected.first()));
  key = StrAfter(key, "(", true);
  key = StrBefore(key, ")", true);
  // Runs of neighbouring matches become one range each.
  QItemSelection matches;
  const int rows = key.empty() ? 0 : errorsModel_->rowCount();
  for (int row = 0; row < rows; ++row) {
    if (errorsModel_->text(row).find(key) == std::string::npos) continue;
    const int first = row;
    while (row + 1 < rows && errorsModel_->text(row + 1).find(key) != std::string::npos) ++row;
    matches.append(QItemSelectionRange(errorsModel_->index(first), errorsModel_->index(row)));
  }
  ListBoxErrors->selectionModel()->select(matches, QItemSelectionModel::ClearAndSelect);
}

void TMainForm::PopupSaveClick() {
  QListView* list = popupComponent_;
  if (list == nullptr) return;
  const std::string listName = ReplaceSub(list->objectName().toStdString(), "Listbox", "", false, false);
  const std::string_view fileName = ExtractFileName(state_.XmlFileName);
  const std::string_view base = fileName.substr(0, fileName.size() - ExtractFileExt(fileName).size());
  const QString proposed = QStringLiteral("%1-%2 %3")
                               .arg(ComboBoxTrees->currentText(), QString::fromStdString(listName),
                                    QString::fromUtf8(base.data(), static_cast<qsizetype>(base.size())));
  setErrorsSingleSelection(false);
  const SaveChoice choice = chooseSaveFile_(proposed);
  if (choice.path.isEmpty()) return;
  const SaveTarget save = ChooseSaveTarget(choice.path.toStdString(), choice.suffix.toStdString());
  ExportStrings(static_cast<const SortedListModel*>(list->model())->texts(), save.target, save.path);
}

void TMainForm::StatusBarClick() { ShellOpen(AuthorAddress()); }

void TMainForm::FormClose() {
  directory_.release();
  SaveSettings(*this);
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QString file = DroppedFile(event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  // The check runs after the drop has ended, so the program it came from is not held up.
  QTimer::singleShot(0, this, [this, file] { checkFile(file); });
}

void TMainForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) FormShow();
  QMainWindow::showEvent(event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A check or tree change still reads the directory through the context.
  if (busy_) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == statusBar() && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    StatusBarClick();
    return true;
  }
  if (watched == ComboBoxTrees && event->type() == QEvent::Wheel) return true;
  // A right click only opens the menu: the selection it is about to save stays as it is,
  // and the tree does not jump to the clicked message.
  if (IsRightButtonEvent(event) && listViewports_.contains(watched)) return true;
  // The desktop turns the menu key into a context menu request; Shift+F10 is ours to handle.
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (watched == ListBoxErrors && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
      ShowMessageSource();
      return true;
    }
    auto* list = qobject_cast<QListView*>(watched);
    if (list != nullptr && key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
      const QRect current = list->visualRect(list->currentIndex());
      popupListMenu(list, list->viewport()->mapToGlobal(current.isValid() ? current.center() : QPoint(0, 0)));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace corvane
