#pragma once
// The hex display: address, hex and ASCII columns, a separator line after
// every 512-byte sector, caret and selection, editing of the in-memory copy
// and the clipboard ("BinaryData" plus text).
#include <QAbstractScrollArea>
#include <QByteArray>
#include <QStringList>
#include <cstdint>

namespace quorvel {

class CHexEdit : public QAbstractScrollArea {
  Q_OBJECT

 public:
  enum Pane { kNoPane = 0, kAsciiPane = 1, kHexHigh = 2, kHexLow = 3 };
  static constexpr const char* kBinaryFormat = "BinaryData";

  explicit CHexEdit(QWidget* parent = nullptr);

  // Takes the bytes; resets view, caret and selection; sets the window title
  // to "%d sector" with length / 512.
  void SetData(const QByteArray& bytes);
  const QByteArray& Data() const { return data_; }
  void SetBytesPerRow(int count);
  int BytesPerRow() const { return bytesPerRow_; }
  void SetShowAddress(bool on) {
    showAddress_ = on;
    Relayout();
  }
  void SetShowHex(bool on) {
    showHex_ = on;
    Relayout();
  }
  void SetShowAscii(bool on) {
    showAscii_ = on;
    Relayout();
  }
  void SetWideAddress(bool on) {
    wideAddress_ = on;
    Relayout();
  }

  // Caret, pane, selection (end exclusive; -1 = none).
  int64_t EditPos() const { return editPos_; }
  void SetEditPos(int64_t pos);
  Pane CurrentPane() const { return pane_; }
  void SetPane(Pane pane);
  void SetSelection(int64_t start, int64_t end);
  int64_t SelectionStart() const { return selStart_; }
  int64_t SelectionEnd() const { return selEnd_; }
  int64_t TopIndex() const { return topIndex_; }
  int RowsPerPage() const { return rowsPerPage_; }

  // What the view draws: every line's text from the top index, separators
  // included ("1 sec"), for checks without reading pixels.
  QStringList VisibleLines() const;
  // Separator labels over the whole buffer.
  QStringList SeparatorLabels() const;
  // The clipboard text of the selection for the current pane.
  QString SelectionText() const;

  // The edit commands (Ctrl+Z does nothing: there is no undo).
  void Copy();
  void Cut();
  void Paste();
  void Clear();
  void SelectAll();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool focusNextPrevChild(bool next) override;  // Tab switches panes

 private:
  void Relayout();
  void UpdateScrollBar();
  void EnsureCaretVisible();
  int64_t RowCount() const;
  int AddressWidth() const;
  int HexX() const { return AddressWidth(); }
  int AsciiX() const { return HexX() + (showHex_ ? bytesPerRow_ * 3 * charWidth_ : 0); }
  int64_t HitByte(const QPoint& point, Pane* pane) const;
  void MoveCaret(int64_t pos, bool extend);
  void InsertBytes(int64_t at, const QByteArray& bytes);
  void RemoveBytes(int64_t at, int64_t count);
  bool HasSelection() const { return selStart_ >= 0 && selEnd_ > selStart_; }
  void TypeCharacter(const QString& text);
  QString LineText(int64_t rowOffset) const;

  QByteArray data_;
  int64_t topIndex_ = 0;
  int bytesPerRow_ = 8;
  int rowsPerPage_ = 1;
  bool showAddress_ = true, showHex_ = true, showAscii_ = true, wideAddress_ = true;
  int64_t editPos_ = 0;
  Pane pane_ = kNoPane;
  int64_t selStart_ = -1, selEnd_ = -1;
  int64_t anchor_ = -1;
  bool dragging_ = false;
  int charWidth_ = 8, lineHeight_ = 17;
};

}  // namespace quorvel
