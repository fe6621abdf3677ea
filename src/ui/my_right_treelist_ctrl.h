#pragma once
// The file page's file list: the clicked folder's entries in eight columns.
#include "ui/tree_list_ctrl.h"

namespace quorvel {

class CMyRightTreelistCtrl : public CTreeListCtrl {
  Q_OBJECT

 public:
  enum Column {
    kNameColumn = 0,
    kStateColumn,
    kSizeColumn,
    kCreateColumn,
    kModifyColumn,
    kAccessColumn,
    kFileNumberColumn,
    kParentNumberColumn,
  };
  explicit CMyRightTreelistCtrl(QWidget* parent = nullptr);
};

}  // namespace quorvel
