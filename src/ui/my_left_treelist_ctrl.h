#pragma once
// The file page's folder tree: partition row, special folders, their folders.
#include "ui/tree_list_ctrl.h"

namespace quorvel {

class CMyLeftTreelistCtrl : public CTreeListCtrl {
  Q_OBJECT

 public:
  enum Column { kNameColumn = 0, kFileIdColumn, kCreateTimeColumn };
  explicit CMyLeftTreelistCtrl(QWidget* parent = nullptr);
};

}  // namespace quorvel
