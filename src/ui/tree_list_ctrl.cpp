#include "ui/tree_list_ctrl.h"

#include <QBrush>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <algorithm>

namespace quorvel {

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kLastCheckRole = Qt::UserRole + 2;
constexpr int kKeyRole = Qt::UserRole + 3;

Qt::CheckState ToQt(int state) { return state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked; }
int FromQt(Qt::CheckState state) { return state == Qt::Checked ? 1 : state == Qt::PartiallyChecked ? 2 : 0; }
}  // namespace

CTreeListCtrl::CTreeListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(0);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setRootIsDecorated(true);
  setIconSize(QSize(16, 16));
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
    if (column != 0 || filling_ > 0 || !checkBoxes_) return;
    int now = GetCheck(row);
    if (row->data(0, kLastCheckRole).toInt() == now) return;
    row->setData(0, kLastCheckRole, now);
    emit RowCheckChanged(row);
  });
}

void CTreeListCtrl::SetImageList(const QList<QIcon>& images) { images_ = images; }

int CTreeListCtrl::InsertColumn(const QString& heading, int width) {
  int column = columnCount();
  setColumnCount(column + 1);
  QTreeWidgetItem* head = headerItem();
  head->setText(column, heading);
  setColumnWidth(column, width);
  defaultTexts_.append(QString());
  return column;
}

void CTreeListCtrl::SetColumnModify(int, bool) {
  // Cells are never edited in place here; the flag only documents intent.
}

void CTreeListCtrl::SetColumnDefaultText(int column, const QString& text) {
  if (column >= 0 && column < defaultTexts_.size()) defaultTexts_[column] = text;
}

QString CTreeListCtrl::GetColumnDefaultText(int column) const {
  return column >= 0 && column < defaultTexts_.size() ? defaultTexts_[column] : QString();
}

void CTreeListCtrl::SetColumnWidth(int column, int width) { setColumnWidth(column, width); }

int CTreeListCtrl::FittingWidth(int column, const QStringList& samples) const {
  // The heading is drawn in the header's font, the cells in the view's.
  int widest = header()->fontMetrics().horizontalAdvance(headerItem()->text(column));
  for (const QString& sample : samples) widest = std::max(widest, fontMetrics().horizontalAdvance(sample));
  constexpr int kMargins = 18;  // both cell margins and the header's sort indicator room
  return widest + kMargins;
}

int CTreeListCtrl::GetColumnCount() const { return columnCount(); }

void CTreeListCtrl::SetKeyColumn(int column, bool hidden) { setColumnHidden(column, hidden); }

void CTreeListCtrl::DeleteAllItems() {
  ++filling_;
  clear();
  --filling_;
}

CTreeListCtrl::Row CTreeListCtrl::InsertItem(const QString& text, Row parent, Row after) {
  ++filling_;
  Row row = new QTreeWidgetItem();
  row->setText(0, text);
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (checkBoxes_) {
    flags |= Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate;
    row->setFlags(flags);
    row->setCheckState(0, Qt::Unchecked);
    row->setData(0, kLastCheckRole, 0);
  } else {
    row->setFlags(flags);
  }
  if (parent) {
    int index = after && after->parent() == parent ? parent->indexOfChild(after) + 1 : parent->childCount();
    parent->insertChild(index, row);
  } else {
    int index = after && !after->parent() ? indexOfTopLevelItem(after) + 1 : topLevelItemCount();
    insertTopLevelItem(index, row);
  }
  --filling_;
  return row;
}

void CTreeListCtrl::SetItemText(Row row, const QString& text, int column) {
  if (row && column >= 0 && column < columnCount()) row->setText(column, text);
}

QString CTreeListCtrl::GetItemText(Row row, int column) const {
  return row && column >= 0 && column < columnCount() ? row->text(column) : QString();
}

void CTreeListCtrl::SetItemData(Row row, const QVariant& key) {
  if (row) row->setData(0, kKeyRole, key);
}

QVariant CTreeListCtrl::GetItemData(Row row) const { return row ? row->data(0, kKeyRole) : QVariant(); }

void CTreeListCtrl::SetItemImage(Row row, int image) {
  if (!row) return;
  row->setData(0, kImageRole, image);
  row->setIcon(0, image >= 0 && image < images_.size() ? images_[image] : QIcon());
}

int CTreeListCtrl::GetItemImage(Row row) const {
  QVariant v = row ? row->data(0, kImageRole) : QVariant();
  return v.isValid() ? v.toInt() : -1;
}

void CTreeListCtrl::SetItemTextColor(Row row, const QColor& colour) {
  if (!row) return;
  for (int c = 0; c < columnCount(); ++c) row->setForeground(c, QBrush(colour));
}

QColor CTreeListCtrl::GetItemTextColor(Row row) const {
  if (!row) return QColor();
  QBrush brush = row->foreground(0);
  return brush.style() == Qt::NoBrush ? palette().color(QPalette::Text) : brush.color();
}

void CTreeListCtrl::SetCheck(Row row, int state) {
  if (!row) return;
  ++filling_;
  if (!(row->flags() & Qt::ItemIsUserCheckable)) row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
  row->setCheckState(0, ToQt(state));
  // Remember the states the caller set, so only the user's toggles are reported.
  RememberChecks(row);
  for (Row r = row->parent(); r; r = r->parent()) r->setData(0, kLastCheckRole, GetCheck(r));
  --filling_;
}

void CTreeListCtrl::RememberChecks(Row row) {
  row->setData(0, kLastCheckRole, GetCheck(row));
  for (int i = 0; i < row->childCount(); ++i) RememberChecks(row->child(i));
}

int CTreeListCtrl::GetCheck(Row row) const {
  if (!row || !(row->flags() & Qt::ItemIsUserCheckable)) return 0;
  return FromQt(row->checkState(0));
}

CTreeListCtrl::Row CTreeListCtrl::GetRootItem() const { return topLevelItemCount() ? topLevelItem(0) : nullptr; }

CTreeListCtrl::Row CTreeListCtrl::GetChildItem(Row row) const {
  if (!row) return GetRootItem();
  return row->childCount() ? row->child(0) : nullptr;
}

CTreeListCtrl::Row CTreeListCtrl::GetNextSiblingItem(Row row) const {
  if (!row) return nullptr;
  if (Row parent = row->parent()) {
    int index = parent->indexOfChild(row) + 1;
    return index < parent->childCount() ? parent->child(index) : nullptr;
  }
  int index = indexOfTopLevelItem(row) + 1;
  return index < topLevelItemCount() ? topLevelItem(index) : nullptr;
}

CTreeListCtrl::Row CTreeListCtrl::GetParentItem(Row row) const { return row ? row->parent() : nullptr; }

CTreeListCtrl::Row CTreeListCtrl::GetNextItem(Row row) const {
  if (!row) return GetRootItem();
  if (row->childCount()) return row->child(0);
  for (Row r = row; r; r = r->parent()) {
    if (Row next = GetNextSiblingItem(r)) return next;
  }
  return nullptr;
}

CTreeListCtrl::Row CTreeListCtrl::GetFirstVisibleItem() const { return itemAt(QPoint(1, 1)); }

CTreeListCtrl::Row CTreeListCtrl::GetNextVisibleItem(Row row) const { return row ? itemBelow(row) : nullptr; }

CTreeListCtrl::Row CTreeListCtrl::GetSelectedItem() const {
  QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void CTreeListCtrl::Expand(Row row, bool expand) {
  if (row) row->setExpanded(expand);
}

void CTreeListCtrl::SelectItem(Row row) {
  if (!row) {
    clearSelection();
    return;
  }
  setCurrentItem(row);
  row->setSelected(true);
}

CTreeListCtrl::Row CTreeListCtrl::HitTest(const QPoint& point, int* column, QRect* cell) const {
  Row row = itemAt(point);
  int col = row ? columnAt(point.x()) : -1;
  if (column) *column = col;
  if (cell) *cell = row && col >= 0 ? visualRect(indexFromItem(row, col)) : QRect();
  return row;
}

void CTreeListCtrl::OnLButtonDblClk(Row row, const QPoint& point) { emit RowDoubleClicked(row, point); }
void CTreeListCtrl::OnLButtonUp(Row row, const QPoint& point) { emit RowLeftButtonUp(row, point); }
void CTreeListCtrl::OnRButtonUp(Row row, const QPoint& globalPoint) { emit RowRightButtonUp(row, globalPoint); }

void CTreeListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton) return;
  QPoint point = event->position().toPoint();
  if (Row row = HitTest(point)) OnLButtonDblClk(row, point);
}

void CTreeListCtrl::mouseReleaseEvent(QMouseEvent* event) {
  // The control's own handling first (selection, check box toggles), so the
  // handlers see the row's new state.
  QTreeWidget::mouseReleaseEvent(event);
  QPoint point = event->position().toPoint();
  Row row = HitTest(point);
  if (!row) return;
  if (event->button() == Qt::LeftButton)
    OnLButtonUp(row, point);
  else if (event->button() == Qt::RightButton)
    OnRButtonUp(row, viewport()->mapToGlobal(point));
}

void CTreeListCtrl::contextMenuEvent(QContextMenuEvent* event) {
  // Mouse menus come from the right button's release; the keyboard's menu key
  // opens the menu for the selected row.
  if (event->reason() == QContextMenuEvent::Keyboard) {
    if (Row row = GetSelectedItem()) OnRButtonUp(row, viewport()->mapToGlobal(visualItemRect(row).center()));
  }
  event->accept();
}

}  // namespace quorvel
