#include "ui/hex_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/artwork.h"

namespace quorvel {

namespace {
constexpr int kSectorBytes = 512;
const char kHexDigits[] = "0123456789ABCDEF";

bool Printable(uint8_t byte) { return byte >= 0x20 && byte < 0x7F; }

int HexValue(QChar c) {
  if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) return c.unicode() - '0';
  if (c >= QLatin1Char('a') && c <= QLatin1Char('f')) return c.unicode() - 'a' + 10;
  if (c >= QLatin1Char('A') && c <= QLatin1Char('F')) return c.unicode() - 'A' + 10;
  return -1;
}
}  // namespace

CHexEdit::CHexEdit(QWidget* parent) : QAbstractScrollArea(parent) {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(14);  // about 17 pixels per line
  if (!QFontInfo(font).fixedPitch()) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(14);
    font = fixed;
  }
  setFont(font);
  viewport()->setFont(font);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  verticalScrollBar()->setSingleStep(1);
  Relayout();
}

void CHexEdit::SetData(const QByteArray& bytes) {
  data_ = bytes;
  topIndex_ = 0;
  editPos_ = 0;
  selStart_ = selEnd_ = anchor_ = -1;
  pane_ = data_.isEmpty() ? kNoPane : kHexHigh;
  if (QWidget* top = window())
    top->setWindowTitle(QString::asprintf("%d sector", static_cast<int>(data_.size() / kSectorBytes)));
  Relayout();
}

void CHexEdit::SetBytesPerRow(int count) {
  // Rows must tile a sector so the separators fall between rows.
  bytesPerRow_ = (count == 8 || count == 16 || count == 32) ? count : 16;
  topIndex_ -= topIndex_ % bytesPerRow_;
  Relayout();
}

void CHexEdit::Relayout() {
  QFontMetrics metrics(font());
  charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  lineHeight_ = std::max(1, metrics.height());
  int lines = std::max(1, viewport()->height() / lineHeight_);
  // A separator line follows every sector's worth of rows.
  int rowsPerSector = kSectorBytes / bytesPerRow_;
  rowsPerPage_ = std::max(1, lines - lines / (rowsPerSector + 1));
  UpdateScrollBar();
  viewport()->update();
}

int64_t CHexEdit::RowCount() const { return (data_.size() + bytesPerRow_ - 1) / bytesPerRow_; }

int CHexEdit::AddressWidth() const { return showAddress_ ? (wideAddress_ ? 9 : 5) * charWidth_ : 0; }

void CHexEdit::UpdateScrollBar() {
  QScrollBar* bar = verticalScrollBar();
  int64_t maxRow = std::max<int64_t>(0, RowCount() - rowsPerPage_);
  bar->blockSignals(true);
  bar->setRange(0, static_cast<int>(std::min<int64_t>(maxRow, INT32_MAX)));
  bar->setPageStep(rowsPerPage_);
  bar->setValue(static_cast<int>(topIndex_ / bytesPerRow_));
  bar->blockSignals(false);
}

void CHexEdit::scrollContentsBy(int, int) {
  topIndex_ = static_cast<int64_t>(verticalScrollBar()->value()) * bytesPerRow_;
  viewport()->update();
}

void CHexEdit::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Relayout();
}

QString CHexEdit::LineText(int64_t offset) const {
  QString line;
  if (showAddress_) {
    line += QString::asprintf(wideAddress_ ? "%08llX" : "%04llX",
                              static_cast<unsigned long long>(offset) & (wideAddress_ ? 0xFFFFFFFFull : 0xFFFFull));
    line += QLatin1Char(' ');
  }
  int64_t end = std::min<int64_t>(offset + bytesPerRow_, data_.size());
  if (showHex_) {
    for (int64_t i = offset; i < offset + bytesPerRow_; ++i) {
      if (i < end) {
        uint8_t b = static_cast<uint8_t>(data_[static_cast<qsizetype>(i)]);
        line += QLatin1Char(kHexDigits[b >> 4]);
        line += QLatin1Char(kHexDigits[b & 15]);
        line += QLatin1Char(' ');
      } else {
        line += QStringLiteral("   ");  // a short last row is padded
      }
    }
  }
  if (showAscii_) {
    for (int64_t i = offset; i < end; ++i) {
      uint8_t b = static_cast<uint8_t>(data_[static_cast<qsizetype>(i)]);
      line += Printable(b) ? QLatin1Char(static_cast<char>(b)) : QLatin1Char('.');
    }
  }
  return line;
}

QStringList CHexEdit::VisibleLines() const {
  QStringList lines;
  int maxLines = std::max(1, viewport()->height() / lineHeight_);
  for (int64_t offset = topIndex_; offset < data_.size() && lines.size() < maxLines; offset += bytesPerRow_) {
    lines << LineText(offset);
    int64_t next = offset + bytesPerRow_;
    if (next % kSectorBytes == 0 && next < data_.size() && lines.size() < maxLines)
      lines << QString::asprintf("%d sec", static_cast<int>(next / kSectorBytes));
  }
  return lines;
}

QStringList CHexEdit::SeparatorLabels() const {
  QStringList labels;
  for (int64_t next = kSectorBytes; next < data_.size(); next += kSectorBytes)
    labels << QString::asprintf("%d sec", static_cast<int>(next / kSectorBytes));
  return labels;
}

void CHexEdit::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), Qt::white);
  p.setFont(font());
  QFontMetrics metrics(font());
  const int ascent = metrics.ascent();
  const QColor addressColour = ColorRef(Colours::kHexAddress);
  const QColor caretColour = ColorRef(Colours::kHexCaret);
  const QPalette pal = palette();
  const int hexX = HexX(), asciiX = AsciiX();
  const int asciiEnd = asciiX + (showAscii_ ? bytesPerRow_ * charWidth_ : 0);
  int y = 0;
  for (int64_t offset = topIndex_; offset < data_.size() && y < viewport()->height(); offset += bytesPerRow_) {
    if (showAddress_) {
      p.setPen(addressColour);
      p.drawText(0, y + ascent,
                 QString::asprintf(wideAddress_ ? "%08llX" : "%04llX", static_cast<unsigned long long>(offset) &
                                                                           (wideAddress_ ? 0xFFFFFFFFull : 0xFFFFull)));
    }
    int64_t end = std::min<int64_t>(offset + bytesPerRow_, data_.size());
    for (int64_t i = offset; i < end; ++i) {
      int column = static_cast<int>(i - offset);
      uint8_t b = static_cast<uint8_t>(data_[static_cast<qsizetype>(i)]);
      bool selected = HasSelection() && i >= selStart_ && i < selEnd_;
      bool caret = i == editPos_;
      if (showHex_) {
        QRect cell(hexX + column * 3 * charWidth_, y, 2 * charWidth_, lineHeight_);
        QColor text = Qt::black;
        if (selected) {
          p.fillRect(cell.adjusted(0, 0, charWidth_, 0), pal.color(QPalette::Highlight));
          text = pal.color(QPalette::HighlightedText);
        }
        if (caret && (pane_ == kHexHigh || pane_ == kHexLow)) {
          p.fillRect(cell, caretColour);
          text = Qt::black;
          // The nibble being typed is underlined.
          int nibbleX = cell.x() + (pane_ == kHexLow ? charWidth_ : 0);
          p.fillRect(QRect(nibbleX, y + lineHeight_ - 2, charWidth_, 2), Qt::black);
        } else if (caret && pane_ == kAsciiPane) {
          p.setPen(caretColour.darker(130));
          p.drawRect(cell.adjusted(0, 0, -1, -1));
        }
        p.setPen(text);
        char digits[3] = {kHexDigits[b >> 4], kHexDigits[b & 15], 0};
        p.drawText(cell.x(), y + ascent, QString::fromLatin1(digits));
      }
      if (showAscii_) {
        QRect cell(asciiX + column * charWidth_, y, charWidth_, lineHeight_);
        QColor text = Qt::black;
        if (selected) {
          p.fillRect(cell, pal.color(QPalette::Highlight));
          text = pal.color(QPalette::HighlightedText);
        }
        if (caret && pane_ == kAsciiPane) {
          p.fillRect(cell, caretColour);
          text = Qt::black;
        } else if (caret && (pane_ == kHexHigh || pane_ == kHexLow)) {
          p.setPen(caretColour.darker(130));
          p.drawRect(cell.adjusted(0, 0, -1, -1));
        }
        p.setPen(text);
        p.drawText(cell.x(), y + ascent,
                   Printable(b) ? QString(QLatin1Char(static_cast<char>(b))) : QStringLiteral("."));
      }
    }
    // The caret just past the last byte (where typing appends).
    if (editPos_ == data_.size() && editPos_ >= offset && editPos_ < offset + bytesPerRow_ && pane_ != kNoPane) {
      int column = static_cast<int>(editPos_ - offset);
      int x = pane_ == kAsciiPane ? asciiX + column * charWidth_ : hexX + column * 3 * charWidth_;
      p.fillRect(QRect(x, y + 1, 2, lineHeight_ - 2), Qt::black);
    }
    y += lineHeight_;
    int64_t next = offset + bytesPerRow_;
    if (next % kSectorBytes == 0 && next < data_.size()) {
      QString label = QString::asprintf("%d sec", static_cast<int>(next / kSectorBytes));
      p.setPen(addressColour);
      p.drawText(0, y + ascent, label);
      int lineX = metrics.horizontalAdvance(label) + charWidth_ / 2;
      p.setPen(QPen(addressColour, 1));
      p.drawLine(lineX, y + lineHeight_ / 2, asciiEnd, y + lineHeight_ / 2);
      y += lineHeight_;
    }
  }
}

void CHexEdit::SetEditPos(int64_t pos) {
  editPos_ = std::clamp<int64_t>(pos, 0, data_.size());
  EnsureCaretVisible();
  viewport()->update();
}

void CHexEdit::SetPane(Pane pane) {
  pane_ = pane;
  viewport()->update();
}

void CHexEdit::SetSelection(int64_t start, int64_t end) {
  if (start < 0 || end <= start) {
    selStart_ = selEnd_ = -1;
  } else {
    selStart_ = std::min<int64_t>(start, data_.size());
    selEnd_ = std::min<int64_t>(end, data_.size());
  }
  viewport()->update();
}

void CHexEdit::EnsureCaretVisible() {
  int64_t row = editPos_ / bytesPerRow_;
  int64_t top = topIndex_ / bytesPerRow_;
  if (row < top)
    top = row;
  else if (row >= top + rowsPerPage_)
    top = row - rowsPerPage_ + 1;
  top = std::clamp<int64_t>(top, 0, std::max<int64_t>(0, RowCount() - rowsPerPage_));
  topIndex_ = top * bytesPerRow_;
  UpdateScrollBar();
}

void CHexEdit::MoveCaret(int64_t pos, bool extend) {
  pos = std::clamp<int64_t>(pos, 0, data_.size());
  if (extend) {
    if (anchor_ < 0) anchor_ = editPos_;
    editPos_ = pos;
    SetSelection(std::min(anchor_, editPos_), std::max(anchor_, editPos_));
  } else {
    editPos_ = pos;
  }
  EnsureCaretVisible();
  viewport()->update();
}

bool CHexEdit::focusNextPrevChild(bool) {
  // Tab moves between the panes instead of leaving the control.
  pane_ = pane_ == kHexHigh || pane_ == kHexLow ? kAsciiPane : kHexHigh;
  viewport()->update();
  return true;
}

void CHexEdit::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) return Copy();
  if (event->matches(QKeySequence::Cut)) return Cut();
  if (event->matches(QKeySequence::Paste)) return Paste();
  if (event->matches(QKeySequence::SelectAll)) return SelectAll();
  if (event->matches(QKeySequence::Undo)) return;  // no undo
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const int64_t page = static_cast<int64_t>(rowsPerPage_) * bytesPerRow_;
  const int64_t length = data_.size();
  switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      focusNextPrevChild(true);
      break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      int64_t lastTop = std::max<int64_t>(0, (RowCount() - rowsPerPage_) * bytesPerRow_);
      int64_t delta = event->key() == Qt::Key_PageDown ? page : -page;
      int64_t top = std::clamp<int64_t>(topIndex_ + delta, 0, lastTop);
      int64_t moved = top - topIndex_;
      topIndex_ = top;
      editPos_ = std::clamp<int64_t>(editPos_ + moved, 0, length);
      UpdateScrollBar();
      viewport()->update();
      break;
    }
    case Qt::Key_Home:
      MoveCaret(ctrl ? 0 : editPos_ - editPos_ % bytesPerRow_, shift || ctrl);
      break;
    case Qt::Key_End:
      MoveCaret(ctrl ? std::max<int64_t>(0, length - 1)
                     : std::min<int64_t>(length - 1, editPos_ - editPos_ % bytesPerRow_ + bytesPerRow_ - 1),
                shift || ctrl);
      break;
    case Qt::Key_Left:
      if (pane_ == kHexLow) pane_ = kHexHigh;
      MoveCaret(editPos_ - 1, shift);
      break;
    case Qt::Key_Right:
      if (pane_ == kHexLow) pane_ = kHexHigh;
      MoveCaret(editPos_ + 1, shift);
      break;
    case Qt::Key_Up:
      MoveCaret(editPos_ - bytesPerRow_ >= 0 ? editPos_ - bytesPerRow_ : editPos_, shift);
      break;
    case Qt::Key_Down:
      MoveCaret(editPos_ + bytesPerRow_ <= length ? editPos_ + bytesPerRow_ : editPos_, shift);
      break;
    case Qt::Key_Insert: {
      int64_t count = HasSelection() ? selEnd_ - selStart_ : 1;
      InsertBytes(editPos_, QByteArray(static_cast<qsizetype>(count), '\0'));
      break;
    }
    case Qt::Key_Delete:
      Clear();
      break;
    case Qt::Key_Backspace:
      if (HasSelection()) {
        Clear();
      } else if (editPos_ > 0) {
        RemoveBytes(editPos_ - 1, 1);
        editPos_ -= 1;
      }
      break;
    default:
      if (!ctrl && !event->text().isEmpty() && event->text().at(0).isPrint()) {
        TypeCharacter(event->text());
      } else {
        QAbstractScrollArea::keyPressEvent(event);
        return;
      }
  }
  // Without Shift or Ctrl a key drops the selection.
  if (!shift && !ctrl) {
    anchor_ = -1;
    SetSelection(-1, -1);
  }
  viewport()->update();
}

void CHexEdit::TypeCharacter(const QString& text) {
  QChar c = text.at(0);
  if (pane_ == kAsciiPane) {
    if (c.unicode() > 0xFF) return;
    if (editPos_ >= data_.size()) data_.append('\0');
    data_[static_cast<qsizetype>(editPos_)] = static_cast<char>(c.unicode());
    MoveCaret(editPos_ + 1, false);
    UpdateScrollBar();
  } else if (pane_ == kHexHigh || pane_ == kHexLow) {
    int value = HexValue(c);
    if (value < 0) return;
    if (editPos_ >= data_.size()) data_.append('\0');
    uint8_t b = static_cast<uint8_t>(data_[static_cast<qsizetype>(editPos_)]);
    if (pane_ == kHexHigh) {
      data_[static_cast<qsizetype>(editPos_)] = static_cast<char>((b & 0x0F) | (value << 4));
      pane_ = kHexLow;
    } else {
      data_[static_cast<qsizetype>(editPos_)] = static_cast<char>((b & 0xF0) | value);
      pane_ = kHexHigh;
      MoveCaret(editPos_ + 1, false);
    }
    UpdateScrollBar();
  }
}

void CHexEdit::InsertBytes(int64_t at, const QByteArray& bytes) {
  at = std::clamp<int64_t>(at, 0, data_.size());
  data_.insert(at, bytes);
  UpdateScrollBar();
  viewport()->update();
}

void CHexEdit::RemoveBytes(int64_t at, int64_t count) {
  if (at < 0 || at >= data_.size() || count <= 0) return;
  data_.remove(at, std::min<int64_t>(count, data_.size() - at));
  editPos_ = std::min<int64_t>(editPos_, data_.size());
  UpdateScrollBar();
  viewport()->update();
}

QString CHexEdit::SelectionText() const {
  if (!HasSelection()) return QString();
  QString text;
  for (int64_t i = selStart_; i < selEnd_; ++i) {
    uint8_t b = static_cast<uint8_t>(data_[static_cast<qsizetype>(i)]);
    if (pane_ == kAsciiPane) {
      text += Printable(b) ? QLatin1Char(static_cast<char>(b)) : QLatin1Char('.');
    } else {
      text += QLatin1Char(kHexDigits[b >> 4]);
      text += QLatin1Char(kHexDigits[b & 15]);
      text += QLatin1Char(' ');
    }
  }
  return text;
}

void CHexEdit::Copy() {
  if (!HasSelection()) return;
  auto* mime = new QMimeData();
  mime->setData(QString::fromLatin1(kBinaryFormat), data_.mid(selStart_, selEnd_ - selStart_));
  mime->setText(SelectionText());
  QApplication::clipboard()->setMimeData(mime);
}

void CHexEdit::Cut() {
  if (!HasSelection()) return;
  Copy();
  Clear();
}

void CHexEdit::Clear() {
  if (HasSelection()) {
    int64_t start = selStart_;
    RemoveBytes(start, selEnd_ - selStart_);
    editPos_ = start;
    SetSelection(-1, -1);
  } else if (editPos_ < data_.size()) {
    RemoveBytes(editPos_, 1);
  }
}

void CHexEdit::Paste() {
  const QMimeData* mime = QApplication::clipboard()->mimeData();
  if (!mime) return;
  QByteArray bytes;
  if (mime->hasFormat(QString::fromLatin1(kBinaryFormat)))
    bytes = mime->data(QString::fromLatin1(kBinaryFormat));
  else if (mime->hasText())
    bytes = mime->text().toLatin1();
  if (bytes.isEmpty()) return;
  InsertBytes(editPos_, bytes);
  MoveCaret(editPos_ + bytes.size(), false);
}

void CHexEdit::SelectAll() {
  if (data_.isEmpty()) return;
  anchor_ = 0;
  SetSelection(0, data_.size());
}

int64_t CHexEdit::HitByte(const QPoint& point, Pane* pane) const {
  int lineHeight = lineHeight_;
  int line = point.y() / lineHeight;
  // Walk the lines from the top: rows and separators.
  int64_t offset = topIndex_;
  int current = 0;
  while (offset < data_.size()) {
    if (current == line) break;
    ++current;
    int64_t next = offset + bytesPerRow_;
    if (next % kSectorBytes == 0 && next < data_.size()) {
      if (current == line) return -1;  // on a separator
      ++current;
    }
    offset = next;
  }
  if (offset >= data_.size() && !data_.isEmpty()) offset = ((data_.size() - 1) / bytesPerRow_) * bytesPerRow_;
  int x = point.x();
  int column;
  if (showAscii_ && x >= AsciiX()) {
    *pane = kAsciiPane;
    column = (x - AsciiX()) / charWidth_;
  } else if (showHex_ && x >= HexX()) {
    *pane = ((x - HexX()) % (3 * charWidth_)) >= charWidth_ ? kHexLow : kHexHigh;
    column = (x - HexX()) / (3 * charWidth_);
  } else {
    *pane = pane_ == kNoPane ? kHexHigh : pane_;
    column = 0;
  }
  column = std::clamp(column, 0, bytesPerRow_ - 1);
  return std::min<int64_t>(offset + column, std::max<qsizetype>(0, data_.size() - 1));
}

void CHexEdit::mousePressEvent(QMouseEvent* event) {
  setFocus();
  if (event->button() != Qt::LeftButton || data_.isEmpty()) return;
  Pane pane;
  int64_t byte = HitByte(event->position().toPoint(), &pane);
  if (byte < 0) return;
  pane_ = pane == kHexLow ? kHexHigh : pane;
  bool extend = event->modifiers() & Qt::ShiftModifier;
  if (!extend) {
    anchor_ = byte;
    SetSelection(-1, -1);
  }
  MoveCaret(byte, extend);
  dragging_ = true;
}

void CHexEdit::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  Pane pane;
  int64_t byte = HitByte(event->position().toPoint(), &pane);
  if (byte < 0 || anchor_ < 0) return;
  editPos_ = byte;
  SetSelection(std::min(anchor_, byte), std::max(anchor_, byte) + 1);
}

void CHexEdit::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void CHexEdit::wheelEvent(QWheelEvent* event) {
  int rows = -event->angleDelta().y() / 40;
  verticalScrollBar()->setValue(verticalScrollBar()->value() + rows);
}

void CHexEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* undo = menu.addAction(QStringLiteral("撤销"));
  undo->setEnabled(false);
  menu.addSeparator();
  QAction* cut = menu.addAction(QStringLiteral("剪切"), this, &CHexEdit::Cut);
  QAction* copy = menu.addAction(QStringLiteral("复制"), this, &CHexEdit::Copy);
  menu.addAction(QStringLiteral("粘贴"), this, &CHexEdit::Paste);
  QAction* clear = menu.addAction(QStringLiteral("删除"), this, &CHexEdit::Clear);
  menu.addSeparator();
  menu.addAction(QStringLiteral("全选"), this, &CHexEdit::SelectAll);
  cut->setEnabled(HasSelection());
  copy->setEnabled(HasSelection());
  clear->setEnabled(HasSelection() || editPos_ < data_.size());
  menu.exec(event->globalPos());
}

}  // namespace quorvel
