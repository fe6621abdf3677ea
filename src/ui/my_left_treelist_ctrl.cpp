#include "ui/my_left_treelist_ctrl.h"

#include "ui/artwork.h"

namespace quorvel {

CMyLeftTreelistCtrl::CMyLeftTreelistCtrl(QWidget* parent) : CTreeListCtrl(parent) {
  SetCheckBoxes(true);
  InsertColumn(QStringLiteral("磁盘分区"), 100);
  InsertColumn(QStringLiteral("File Id"), 60);
  InsertColumn(QStringLiteral("Create Time"), 140);
  SetColumnDefaultText(kCreateTimeColumn, QStringLiteral("600|700|800"));
  SetImageList(TreeImageList());
}

}  // namespace quorvel
