// The tree-list control's contract as the pages rely on it.
#include <QSignalSpy>
#include <QTest>

#include "ui/artwork.h"
#include "ui/tree_list_ctrl.h"

using namespace quorvel;

class TreeListTest : public QObject {
  Q_OBJECT

 private slots:
  // InsertItem appends under the parent, or after the given row; walking
  // visits rows in pre-order.
  void InsertAndWalk() {
    CTreeListCtrl tree;
    tree.InsertColumn(QStringLiteral("a"), 100);
    tree.InsertColumn(QStringLiteral("b"), 100);
    QCOMPARE(tree.GetColumnCount(), 2);
    auto* root = tree.InsertItem(QStringLiteral("root"));
    auto* first = tree.InsertItem(QStringLiteral("first"), root);
    auto* third = tree.InsertItem(QStringLiteral("third"), root);
    auto* second = tree.InsertItem(QStringLiteral("second"), root, first);
    auto* deep = tree.InsertItem(QStringLiteral("deep"), second);
    QCOMPARE(tree.GetRootItem(), root);
    QCOMPARE(tree.GetChildItem(root), first);
    QCOMPARE(tree.GetNextSiblingItem(first), second);
    QCOMPARE(tree.GetNextSiblingItem(second), third);
    QCOMPARE(tree.GetNextSiblingItem(third), nullptr);
    QCOMPARE(tree.GetParentItem(deep), second);
    QStringList order;
    for (auto* r = tree.GetRootItem(); r; r = tree.GetNextItem(r)) order << tree.GetItemText(r, 0);
    QCOMPARE(order, QStringList({"root", "first", "second", "deep", "third"}));
    tree.SetItemText(deep, QStringLiteral("key"), 1);
    QCOMPARE(tree.GetItemText(deep, 1), QStringLiteral("key"));
    QCOMPARE(tree.GetItemText(deep, 5), QString());  // out of range reads empty
    tree.DeleteAllItems();
    QCOMPARE(tree.GetRootItem(), nullptr);
  }

  // A folder reports "partly" when some children are ticked, on when all are,
  // and ticking it ticks its whole subtree.
  void ThreeStateChecks() {
    CTreeListCtrl tree;
    tree.SetCheckBoxes(true);
    tree.InsertColumn(QStringLiteral("a"), 100);
    auto* folder = tree.InsertItem(QStringLiteral("folder"));
    auto* a = tree.InsertItem(QStringLiteral("a"), folder);
    auto* b = tree.InsertItem(QStringLiteral("b"), folder);
    auto* c = tree.InsertItem(QStringLiteral("c"), b);
    QCOMPARE(tree.GetCheck(folder), 0);
    tree.SetCheck(a, 1);
    QCOMPARE(tree.GetCheck(folder), 2);
    tree.SetCheck(c, 1);
    QCOMPARE(tree.GetCheck(b), 1);
    QCOMPARE(tree.GetCheck(folder), 1);
    tree.SetCheck(folder, 0);
    QCOMPARE(tree.GetCheck(a), 0);
    QCOMPARE(tree.GetCheck(c), 0);
    tree.SetCheck(b, 1);
    QCOMPARE(tree.GetCheck(c), 1);
    QCOMPARE(tree.GetCheck(folder), 2);
  }

  // Hit testing finds the row and column under a point and nothing below the rows;
  // the user's click on a check box is reported, the program's own SetCheck is not.
  void HitTestAndUserToggles() {
    CTreeListCtrl tree;
    tree.SetCheckBoxes(true);
    tree.InsertColumn(QStringLiteral("name"), 120);
    tree.InsertColumn(QStringLiteral("size"), 80);
    tree.resize(300, 200);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    auto* one = tree.InsertItem(QStringLiteral("one"));
    tree.InsertItem(QStringLiteral("two"));
    QRect rect = tree.visualItemRect(one);
    int column = -1;
    QRect cell;
    QCOMPARE(tree.HitTest(QPoint(150, rect.center().y()), &column, &cell), one);
    QCOMPARE(column, 1);
    QVERIFY(cell.contains(QPoint(150, rect.center().y())));
    QCOMPARE(tree.HitTest(QPoint(10, 190)), nullptr);

    QSignalSpy toggles(&tree, &CTreeListCtrl::RowCheckChanged);
    QSignalSpy ups(&tree, &CTreeListCtrl::RowLeftButtonUp);
    tree.SetCheck(one, 1);
    QCOMPARE(toggles.count(), 0);
    tree.SetCheck(one, 0);
    // The check box sits at the left of column 0 (after the branch indicator).
    QRect box;
    for (int x = 0; x < 60 && box.isNull(); ++x) {
      QPoint p(x, rect.center().y());
      QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, p);
      if (tree.GetCheck(one) == 1) box = QRect(p, QSize(1, 1));
    }
    QVERIFY(!box.isNull());
    QVERIFY(toggles.count() >= 1);
    QVERIFY(ups.count() >= 1);
    QCOMPARE(tree.GetSelectedItem(), one);
  }

  // Per-row image and colour, and a key column that is kept but not shown.
  void ImageColourAndKeyColumn() {
    CTreeListCtrl tree;
    tree.SetImageList(TreeImageList());
    for (int i = 0; i < 8; ++i) tree.InsertColumn(QString::number(i), 50);
    auto* row = tree.InsertItem(QStringLiteral("x"));
    tree.SetItemImage(row, kImageDeletedFolder);
    QCOMPARE(tree.GetItemImage(row), kImageDeletedFolder);
    QVERIFY(!row->icon(0).isNull());
    tree.SetItemTextColor(row, QColor(255, 0, 0));
    QCOMPARE(tree.GetItemTextColor(row), QColor(255, 0, 0));
    tree.SetKeyColumn(7, true);
    tree.SetItemText(row, QStringLiteral("Extra Found Files"), 7);
    QVERIFY(tree.isColumnHidden(7));
    QCOMPARE(tree.GetItemText(row, 7), QStringLiteral("Extra Found Files"));
  }
};

QTEST_MAIN(TreeListTest)
#include "tree_list_test.moc"
