#include "ui/hd_tree_list_ctrl.h"

#include <QResizeEvent>

#include "ui/artwork.h"

namespace quorvel {

CHDTreeListCtrl::CHDTreeListCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  for (const char* heading : {"磁盘", "标签", "文件类型", "起始地址", "大小"})
    InsertColumn(QString::fromUtf8(heading), 100);
  for (int c = 0; c < 4; ++c) SetColumnModify(c, true);
  SetColumnDefaultText(kTypeColumn, QStringLiteral("600|700|800"));
  SetImageList(TreeImageList());
}

void CHDTreeListCtrl::resizeEvent(QResizeEvent* event) {
  CTreeListCtrl::resizeEvent(event);
  int count = GetColumnCount();
  int share = count ? viewport()->width() / count : 0;
  for (int c = 0; c < count; ++c) SetColumnWidth(c, share);
}

}  // namespace quorvel
