#include "ui/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace quorvel {

QColor ColorRef(uint32_t colorRef) { return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF); }

namespace {

QPixmap Blank(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

void DrawFolder(QPainter& p, const QRectF& r, const QColor& base) {
  QPainterPath back;
  back.moveTo(r.left(), r.top() + r.height() * 0.2);
  back.lineTo(r.left() + r.width() * 0.4, r.top() + r.height() * 0.2);
  back.lineTo(r.left() + r.width() * 0.5, r.top() + r.height() * 0.32);
  back.lineTo(r.right(), r.top() + r.height() * 0.32);
  back.lineTo(r.right(), r.bottom());
  back.lineTo(r.left(), r.bottom());
  back.closeSubpath();
  p.setPen(QPen(base.darker(160), 1));
  p.setBrush(base.darker(115));
  p.drawPath(back);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, base.lighter(130));
  g.setColorAt(1, base);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(r.left(), r.top() + r.height() * 0.42, r.width(), r.height() * 0.58), 1, 1);
}

void DrawDrive(QPainter& p, const QRectF& r) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, QColor(0xE8, 0xEC, 0xF2));
  g.setColorAt(1, QColor(0x8C, 0x96, 0xA6));
  p.setPen(QPen(QColor(0x4A, 0x52, 0x60), 1));
  p.setBrush(g);
  QRectF body(r.left(), r.top() + r.height() * 0.3, r.width(), r.height() * 0.45);
  p.drawRoundedRect(body, 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2E, 0xC4, 0x4A));
  double led = r.width() * 0.14;
  p.drawEllipse(QRectF(body.right() - led * 2, body.center().y() - led / 2, led, led));
  p.setBrush(QColor(0x4A, 0x52, 0x60));
  p.drawRect(QRectF(body.left() + 2, body.center().y() - 0.5, body.width() * 0.45, 1.2));
}

}  // namespace

QList<QIcon> TreeImageList() {
  QList<QIcon> images;
  for (int i = 0; i <= 13; ++i) {
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (i == kImageDisk) {
      DrawDrive(p, QRectF(0.5, 0.5, 15, 15));
    } else if (i == kImageDeletedFolder) {
      DrawFolder(p, QRectF(0.5, 1.5, 14, 12), QColor(0xC8, 0xB4, 0x8C));
      p.setPen(QPen(QColor(0xE0, 0x20, 0x20), 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(9, 8), QPointF(14.5, 14.5));
      p.drawLine(QPointF(14.5, 8), QPointF(9, 14.5));
    } else {
      DrawFolder(p, QRectF(0.5, 1.5, 15, 13), QColor(0xF2, 0xC2, 0x3A));
    }
    images.append(QIcon(pixmap));
  }
  return images;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(size * 0.35, size * 0.35, size * 0.7);
    g.setColorAt(0, QColor(0x5C, 0xB8, 0xFF));
    g.setColorAt(1, QColor(0x0B, 0x3C, 0x7A));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    p.setPen(QPen(QColor(255, 255, 255, 200), size / 16.0 + 0.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(size * 0.3, size * 0.3, size * 0.4, size * 0.4));
    p.drawLine(QPointF(size * 0.62, size * 0.62), QPointF(size * 0.8, size * 0.8));
    icon.addPixmap(pixmap);
  }
  return icon;
}

QPixmap FunctionGlyph(int function, int size, const QColor& colour) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  double s = size;
  QPen pen(colour, std::max(1.5, s / 14.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  switch (function) {
    case 0: {  // a bin with a rising arrow: deleted files come back
      QPainterPath bin;
      bin.moveTo(s * 0.22, s * 0.3);
      bin.lineTo(s * 0.3, s * 0.9);
      bin.lineTo(s * 0.7, s * 0.9);
      bin.lineTo(s * 0.78, s * 0.3);
      p.drawPath(bin);
      p.drawLine(QPointF(s * 0.15, s * 0.3), QPointF(s * 0.85, s * 0.3));
      p.drawLine(QPointF(s * 0.5, s * 0.78), QPointF(s * 0.5, s * 0.08));
      p.drawLine(QPointF(s * 0.5, s * 0.08), QPointF(s * 0.36, s * 0.22));
      p.drawLine(QPointF(s * 0.5, s * 0.08), QPointF(s * 0.64, s * 0.22));
      break;
    }
    case 1: {  // a platter with a turning arrow: formatted volumes
      p.drawEllipse(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6));
      p.drawEllipse(QRectF(s * 0.44, s * 0.44, s * 0.12, s * 0.12));
      p.drawArc(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88), 30 * 16, 240 * 16);
      QPointF tip(s * 0.5 + s * 0.44 * std::cos(30 * M_PI / 180), s * 0.5 - s * 0.44 * std::sin(30 * M_PI / 180));
      p.drawLine(tip, tip + QPointF(-s * 0.02, -s * 0.16));
      p.drawLine(tip, tip + QPointF(-s * 0.16, s * 0.02));
      break;
    }
    case 2: {  // a pie with a missing slice and a lens: lost partitions
      p.drawPie(QRectF(s * 0.08, s * 0.08, s * 0.6, s * 0.6), 90 * 16, 270 * 16);
      p.drawEllipse(QRectF(s * 0.48, s * 0.48, s * 0.3, s * 0.3));
      p.drawLine(QPointF(s * 0.74, s * 0.74), QPointF(s * 0.92, s * 0.92));
      break;
    }
    case 3: {  // stacked layers and a lens: deep scan
      for (int i = 0; i < 3; ++i) {
        double y = s * (0.22 + i * 0.2);
        QPainterPath layer;
        layer.moveTo(s * 0.08, y + s * 0.08);
        layer.lineTo(s * 0.4, y - s * 0.06);
        layer.lineTo(s * 0.72, y + s * 0.08);
        layer.lineTo(s * 0.4, y + s * 0.22);
        layer.closeSubpath();
        p.drawPath(layer);
      }
      p.drawEllipse(QRectF(s * 0.56, s * 0.5, s * 0.26, s * 0.26));
      p.drawLine(QPointF(s * 0.78, s * 0.72), QPointF(s * 0.94, s * 0.9));
      break;
    }
    case 4: {  // two drives and an arrow: imaging
      p.drawRoundedRect(QRectF(s * 0.06, s * 0.14, s * 0.36, s * 0.26), 2, 2);
      p.drawRoundedRect(QRectF(s * 0.58, s * 0.6, s * 0.36, s * 0.26), 2, 2);
      p.drawLine(QPointF(s * 0.24, s * 0.46), QPointF(s * 0.24, s * 0.73));
      p.drawLine(QPointF(s * 0.24, s * 0.73), QPointF(s * 0.5, s * 0.73));
      p.drawLine(QPointF(s * 0.5, s * 0.73), QPointF(s * 0.42, s * 0.65));
      p.drawLine(QPointF(s * 0.5, s * 0.73), QPointF(s * 0.42, s * 0.81));
      break;
    }
    default: {  // an open folder with a page: saved scan results
      p.drawRect(QRectF(s * 0.34, s * 0.08, s * 0.38, s * 0.46));
      p.drawLine(QPointF(s * 0.42, s * 0.2), QPointF(s * 0.64, s * 0.2));
      p.drawLine(QPointF(s * 0.42, s * 0.32), QPointF(s * 0.64, s * 0.32));
      QPainterPath folder;
      folder.moveTo(s * 0.08, s * 0.36);
      folder.lineTo(s * 0.3, s * 0.36);
      folder.lineTo(s * 0.36, s * 0.44);
      folder.lineTo(s * 0.92, s * 0.44);
      folder.lineTo(s * 0.84, s * 0.9);
      folder.lineTo(s * 0.08, s * 0.9);
      folder.closeSubpath();
      p.drawPath(folder);
      break;
    }
  }
  return pixmap;
}

void PaintBanner(QPainter& p, const QRect& r) {
  p.save();
  QLinearGradient g(r.topLeft(), r.topRight());
  g.setColorAt(0, QColor(0x08, 0x24, 0x4C));
  g.setColorAt(0.55, QColor(0x0F, 0x4C, 0x91));
  g.setColorAt(1, QColor(0x1B, 0x6F, 0xC0));
  p.fillRect(r, g);
  p.setRenderHint(QPainter::Antialiasing);
  // Faint platter rings on the right: the banner's only ornament.
  QPointF centre(r.right() - r.height() * 0.9, r.top() + r.height() * 0.2);
  for (int i = 1; i <= 6; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 16 + i * 4), 1.2));
    p.setBrush(Qt::NoBrush);
    double radius = r.height() * 0.35 * i;
    p.drawEllipse(centre, radius, radius);
  }
  // A light sheen along the bottom edge.
  QLinearGradient sheen(r.bottomLeft() - QPoint(0, 6), r.bottomLeft());
  sheen.setColorAt(0, QColor(255, 255, 255, 0));
  sheen.setColorAt(1, QColor(255, 255, 255, 60));
  p.fillRect(QRect(r.left(), r.bottom() - 6, r.width(), 7), sheen);
  p.restore();
}

void PaintSidePanel(QPainter& p, const QRect& r) {
  p.save();
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, QColor(0x10, 0x3A, 0x6E));
  g.setColorAt(1, QColor(0x07, 0x1D, 0x3A));
  p.fillRect(r, g);
  p.setPen(QColor(255, 255, 255, 40));
  p.drawLine(r.topRight(), r.bottomRight());
  p.restore();
}

QPixmap SplashPixmap() {
  QPixmap pixmap(520, 300);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  PaintBanner(p, pixmap.rect());
  // A drive platter on the left.
  QRadialGradient platter(130, 150, 95);
  platter.setColorAt(0, QColor(0xE6, 0xEE, 0xF8));
  platter.setColorAt(0.7, QColor(0x9F, 0xB4, 0xCC));
  platter.setColorAt(1, QColor(0x5B, 0x74, 0x92));
  p.setPen(Qt::NoPen);
  p.setBrush(platter);
  p.drawEllipse(QPointF(130, 150), 90, 90);
  p.setBrush(QColor(0x30, 0x44, 0x5E));
  p.drawEllipse(QPointF(130, 150), 14, 14);
  p.setPen(QPen(QColor(0x24, 0x32, 0x46), 6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(215, 70), QPointF(150, 160));
  p.setPen(Qt::white);
  QFont title(QStringLiteral("Noto Sans CJK SC"));
  title.setPixelSize(40);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(250, 80, 260, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quorvel"));
  QFont sub(QStringLiteral("Noto Sans CJK SC"));
  sub.setPixelSize(20);
  p.setFont(sub);
  p.drawText(QRect(252, 130, 260, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("数据恢复"));
  sub.setPixelSize(13);
  p.setFont(sub);
  p.setPen(ColorRef(Colours::kPanelText));
  p.drawText(QRect(252, 230, 260, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("正在检测磁盘..."));
  return pixmap;
}

}  // namespace quorvel
