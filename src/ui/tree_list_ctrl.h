#pragma once
// A tree whose rows carry several text columns, an image, a text colour and a
// three-state check box. The disk page, the file page and the save commands
// talk to it through these calls only.
#include <QColor>
#include <QIcon>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTreeWidget>
#include <QVariant>

namespace quorvel {

class CTreeListCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  using Row = QTreeWidgetItem*;

  explicit CTreeListCtrl(QWidget* parent = nullptr);

  // Set-up.
  void SetImageList(const QList<QIcon>& images);
  int InsertColumn(const QString& heading, int width);
  void SetColumnModify(int column, bool modifiable);
  void SetColumnDefaultText(int column, const QString& text);
  QString GetColumnDefaultText(int column) const;
  void SetColumnWidth(int column, int width);
  // Pixels a column needs to show its heading and the widest of samples in
  // full, with the cell's margins.
  int FittingWidth(int column, const QStringList& samples = {}) const;
  int GetColumnCount() const;
  // A key column holds data the callers read back but nobody needs to see.
  void SetKeyColumn(int column, bool hidden);
  void DeleteAllItems();
  // Shows check boxes on every row inserted from now on.
  void SetCheckBoxes(bool on) { checkBoxes_ = on; }

  // Rows. InsertItem appends after `after` (null: last) under `parent` (null: top level).
  Row InsertItem(const QString& text, Row parent = nullptr, Row after = nullptr);
  void SetItemText(Row row, const QString& text, int column);
  QString GetItemText(Row row, int column) const;
  // A hidden key kept with the row (the entry a file-page row stands for).
  void SetItemData(Row row, const QVariant& key);
  QVariant GetItemData(Row row) const;
  void SetItemImage(Row row, int image);
  int GetItemImage(Row row) const;
  void SetItemTextColor(Row row, const QColor& colour);
  QColor GetItemTextColor(Row row) const;
  // 0 off, 1 on, 2 partly. A row with child rows reports 2 when some but not
  // all of them are checked; setting 0 or 1 on it sets the whole subtree.
  void SetCheck(Row row, int state);
  int GetCheck(Row row) const;

  // Walking.
  Row GetRootItem() const;
  Row GetChildItem(Row row) const;
  Row GetNextSiblingItem(Row row) const;
  Row GetParentItem(Row row) const;
  Row GetNextItem(Row row) const;  // pre-order
  Row GetFirstVisibleItem() const;
  Row GetNextVisibleItem(Row row) const;
  Row GetSelectedItem() const;

  // View.
  void Expand(Row row, bool expand = true);
  void SelectItem(Row row);
  // The row under a point of the viewport, or null; column and cell rectangle too.
  Row HitTest(const QPoint& point, int* column = nullptr, QRect* cell = nullptr) const;

 signals:
  void RowDoubleClicked(QTreeWidgetItem* row, QPoint point);
  void RowLeftButtonUp(QTreeWidgetItem* row, QPoint point);
  void RowRightButtonUp(QTreeWidgetItem* row, QPoint globalPoint);
  // The user toggled a row's check box.
  void RowCheckChanged(QTreeWidgetItem* row);

 protected:
  // Overridable handlers; the default ones emit the signals above.
  virtual void OnLButtonDblClk(Row row, const QPoint& point);
  virtual void OnLButtonUp(Row row, const QPoint& point);
  virtual void OnRButtonUp(Row row, const QPoint& globalPoint);

  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void RememberChecks(Row row);

  QList<QIcon> images_;
  QList<QString> defaultTexts_;
  bool checkBoxes_ = false;
  int filling_ = 0;  // programmatic check changes are not the user's
};

}  // namespace quorvel
