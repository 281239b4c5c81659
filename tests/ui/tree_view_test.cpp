// The document tree view on its own: where rows lie, scrolling to any of them, opening and
// closing items by mouse and keyboard, with the scroll range following the rows in sight.
#include <QScrollBar>
#include <QtTest>
#include <string>

#include "tree_model.h"
#include "tree_view.h"

using namespace corvane;

namespace {

// kGroups items under the top item, each with kChildren children; the last group's label is
// long enough to need the horizontal scroll bar.
constexpr int kGroups = 400;
constexpr int kChildren = 3;

PlainTree MakeTree() {
  PlainTree tree;
  const TreeItem top = tree.addChild(kNoItem, {"top", {}, false}, kNoNode);
  tree.expand(top);
  for (int g = 0; g < kGroups; ++g) {
    const std::string label = g == kGroups - 1 ? std::string(300, 'w') : "group " + std::to_string(g);
    const TreeItem group = tree.addChild(top, {label, {}, false}, kNoNode);
    tree.expand(group);
    for (int c = 0; c < kChildren; ++c) tree.addChild(group, {"child " + std::to_string(c), {}, false}, kNoNode);
  }
  return tree;
}

constexpr TreeItem GroupItem(int g) { return 1 + static_cast<TreeItem>(g) * (kChildren + 1); }

}  // namespace

class TreeViewTest : public QObject {
  Q_OBJECT

  std::unique_ptr<DocumentTreeModel> model_;
  std::unique_ptr<DocumentTreeView> view_;

  int rowHeight() const { return view_->visualRect(model_->index(0)).height(); }
  // Whether the row is wholly in sight, top to bottom (a row is as wide as the widest).
  bool inSight(const QModelIndex& index) const {
    const QRect rect = view_->visualRect(index);
    return rect.top() >= 0 && rect.bottom() < view_->viewport()->height();
  }
  // Lets the view lay its rows out, as the event loop does.
  static void settle() { QCoreApplication::processEvents(); }

 private slots:
  void init() {
    model_ = std::make_unique<DocumentTreeModel>();
    view_ = std::make_unique<DocumentTreeView>(model_.get());
    view_->resize(300, 200);
    view_->show();
    QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
    model_->publish(MakeTree(), nullptr);
    settle();
  }

  void cleanup() {
    view_.reset();
    model_.reset();
  }

  void everyRowIsWhereItsIndexSaysAndScrollsIntoSight() {
    const int rows = model_->rowCount();
    QCOMPARE(rows, 1 + kGroups * (kChildren + 1));
    QVERIFY(rowHeight() > 0);
    QTRY_VERIFY(view_->horizontalScrollBar()->isVisible());  // the long label
    const int area = view_->viewport()->height();
    QCOMPARE(view_->verticalScrollBar()->maximum(), rows * rowHeight() - area);
    QVERIFY(view_->horizontalScrollBar()->maximum() > 0);  // the long label
    for (const int row : {0, 1, rows / 2, rows - 2, rows - 1, 7}) {
      const QModelIndex index = model_->index(row);
      view_->scrollTo(index);
      const QRect rect = view_->visualRect(index);
      QVERIFY2(inSight(index), qPrintable(QString::number(row)));
      QCOMPARE(view_->indexAt(rect.center()), index);
      QCOMPARE(view_->indexAt(rect.topLeft()), index);
      QCOMPARE(view_->indexAt(rect.bottomLeft()), index);
    }
    view_->scrollTo(model_->index(rows / 2), QAbstractItemView::PositionAtTop);
    QCOMPARE(view_->indexAt(QPoint(5, 0)), model_->index(rows / 2));
    view_->scrollToBottom();
    QCOMPARE(view_->indexAt(QPoint(5, area - 1)), model_->index(rows - 1));
    QVERIFY(!view_->indexAt(QPoint(5, -1)).isValid());
  }

  void clicksOnArrowsOpenAndCloseAndTheScrollRangeFollows() {
    const int rows = model_->rowCount();
    const QModelIndex group = model_->indexOf(GroupItem(0));
    const QRect rect = view_->visualRect(group);
    // The arrow stands one indentation in, for the group's depth of 1.
    const QPoint arrow(rect.left() + view_->indentation() + view_->indentation() / 2, rect.center().y());
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, arrow);
    QVERIFY(!view_->isExpanded(GroupItem(0)));
    QCOMPARE(model_->rowCount(), rows - kChildren);
    QCOMPARE(view_->currentIndex().isValid(), false);  // the arrow only toggles
    settle();
    QCOMPARE(view_->verticalScrollBar()->maximum(), (rows - kChildren) * rowHeight() - view_->viewport()->height());
    // A double click is a press and its release, then the double click itself: two clicks
    // on the arrow.
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, arrow);
    QTest::mouseDClick(view_->viewport(), Qt::LeftButton, {}, arrow);
    QVERIFY(!view_->isExpanded(GroupItem(0)));
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, arrow);
    QVERIFY(view_->isExpanded(GroupItem(0)));
    // Closing the top item leaves one row: nothing to scroll.
    view_->collapse(0);
    settle();
    QCOMPARE(model_->rowCount(), 1);
    QCOMPARE(view_->verticalScrollBar()->maximum(), 0);
    // A click below the last row selects nothing.
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, QPoint(40, view_->viewport()->height() - 2));
    QVERIFY(view_->selectionModel()->selectedIndexes().isEmpty());
  }

  void keysMoveOpenAndCloseAndKeepTheCurrentRowInSight() {
    view_->setFocus();
    QTest::mouseClick(view_->viewport(), Qt::LeftButton, {}, view_->visualRect(model_->index(0)).center());
    QCOMPARE(view_->currentItem(), TreeItem{0});
    QTest::keyClick(view_.get(), Qt::Key_Down);
    QCOMPARE(view_->currentItem(), GroupItem(0));
    QTest::keyClick(view_.get(), Qt::Key_Left);  // closes the open group
    QVERIFY(!view_->isExpanded(GroupItem(0)));
    QTest::keyClick(view_.get(), Qt::Key_Down);
    QCOMPARE(view_->currentItem(), GroupItem(1));
    QTest::keyClick(view_.get(), Qt::Key_Right);  // open already: to its first child
    QCOMPARE(view_->currentItem(), GroupItem(1) + 1);
    QTest::keyClick(view_.get(), Qt::Key_Left);  // a leaf: to its parent
    QCOMPARE(view_->currentItem(), GroupItem(1));
    const int page = view_->viewport()->height() / rowHeight();
    const int before = view_->currentIndex().row();
    QTest::keyClick(view_.get(), Qt::Key_PageDown);
    QCOMPARE(view_->currentIndex().row(), before + page);
    QTest::keyClick(view_.get(), Qt::Key_End);
    QCOMPARE(view_->currentIndex().row(), model_->rowCount() - 1);
    QVERIFY(inSight(view_->currentIndex()));
    QVERIFY(view_->selectionModel()->isSelected(view_->currentIndex()));
    QTest::keyClick(view_.get(), Qt::Key_Home);
    QCOMPARE(view_->currentItem(), TreeItem{0});
    QCOMPARE(view_->verticalScrollBar()->value(), 0);
  }

  // Selecting an item behind closed ancestors opens them, however far down it lies.
  void selectingAHiddenItemOpensItsAncestorsAndShowsIt() {
    view_->collapseAll();
    settle();
    QCOMPARE(model_->rowCount(), 1);
    const TreeItem item = GroupItem(kGroups - 2) + 2;
    view_->selectItem(item);
    QCOMPARE(view_->currentItem(), item);
    QVERIFY(inSight(view_->currentIndex()));
    QCOMPARE(view_->indexAt(view_->visualRect(view_->currentIndex()).center()), view_->currentIndex());
  }
};

QTEST_MAIN(TreeViewTest)
#include "tree_view_test.moc"
