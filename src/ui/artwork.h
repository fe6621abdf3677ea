#pragma once
// The application's artwork, drawn in code: colours, the banner and side panel,
// the function-button faces, the tree images and the splash picture.
#include <QColor>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <cstdint>

class QPainter;

namespace quorvel {

// A Windows COLORREF (0x00BBGGRR) as a colour.
QColor ColorRef(uint32_t colorRef);

namespace Colours {
constexpr uint32_t kPageArea = 0xFFE5D4;     // light blue behind the pages
constexpr uint32_t kDialogBrush = 10705667;  // dark blue of dialogs, white text on it
constexpr uint32_t kStatusGreen = 0x32C832;  // progress messages
constexpr uint32_t kStatusRed = 255;         // warnings and errors
constexpr uint32_t kPanelText = 0xDCDCDC;    // left panel texts
constexpr uint32_t kHexAddress = 15238283;
constexpr uint32_t kHexCaret = 15251644;
constexpr uint32_t kDeletedRow = 255;      // red rows of deleted entries
constexpr uint32_t kFoundByScan = 0x8000;  // green rows of partitions found by a boot sector
}  // namespace Colours

// Tree images (16 x 16): 0 folder, 12 deleted folder, 13 disk or partition;
// the others are plain variants so any index in 0..13 shows something sane.
QList<QIcon> TreeImageList();
constexpr int kImageFolder = 0;
constexpr int kImageDeletedFolder = 12;
constexpr int kImageDisk = 13;

// The application icon.
QIcon AppIcon();
// The picture on one of the six function buttons (0..5), `size` pixels square.
QPixmap FunctionGlyph(int function, int size, const QColor& colour);
// The frame of the main window: banner across the top, side panel on the left.
void PaintBanner(QPainter& painter, const QRect& rect);
void PaintSidePanel(QPainter& painter, const QRect& rect);
// The splash picture shown while the disks are enumerated.
QPixmap SplashPixmap();

}  // namespace quorvel
