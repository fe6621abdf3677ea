#pragma once
// The disk page's tree: disks and their partitions in five columns that share
// the width equally.
#include "ui/tree_list_ctrl.h"

namespace quorvel {

class CHDTreeListCtrl : public CTreeListCtrl {
  Q_OBJECT

 public:
  enum Column { kDiskColumn = 0, kLabelColumn, kTypeColumn, kStartColumn, kSizeColumn };
  explicit CHDTreeListCtrl(QWidget* parent = nullptr);

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace quorvel
