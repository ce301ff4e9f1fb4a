#include "skin/logomark.h"

#include "skin/skinstyle.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QStringList>

#include <iterator>

namespace {

// The mark is designed on a 24 x 24 grid, like the button glyphs.
constexpr qreal kGrid = 24.0;
constexpr QRectF kFace(1, 1, 22, 22);
constexpr qreal kFaceRadius = 5;
constexpr qreal kFaceBorderWidth = 1.0;
constexpr int kFaceBorderAlpha = 190;
constexpr qreal kBoltBorderWidth = 0.8;
constexpr QPointF kBolt[] = {{13.8, 3.2}, {6.4, 13.4}, {11.4, 13.4}, {9.8, 20.8}, {17.6, 10.2}, {12.6, 10.2}};

// The drawing above as SVG: %1 grid, %2 %3 face gradient, %4..%8 face, %9 %10 face border, %11 bolt,
// %12 %13 bolt border.
constexpr char kSvgTemplate[] = R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="%1" height="%1" viewBox="0 0 %1 %1">
  <title>Tervolt</title>
  <defs>
    <linearGradient id="face" gradientUnits="userSpaceOnUse" x1="0" y1="0" x2="0" y2="%1">
      <stop offset="0" stop-color="%2"/>
      <stop offset="1" stop-color="%3"/>
    </linearGradient>
  </defs>
  <rect x="%4" y="%5" width="%6" height="%7" rx="%8" fill="url(#face)"
        stroke="#ffffff" stroke-opacity="%9" stroke-width="%10" stroke-linejoin="round"/>
  <polygon points="%11" fill="#ffffff" stroke="%12" stroke-width="%13" stroke-linejoin="round"/>
</svg>
)svg";

constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QColor FaceTop() {
    return QColor(TsuiPalette::kAccentLight);
}
QColor FaceBottom() {
    return QColor(TsuiPalette::kAccent).darker(115);
}
QColor FaceBorder() {
    return QColor(255, 255, 255, kFaceBorderAlpha);
}
QColor BoltBorder() {
    return QColor(TsuiPalette::kFolder);
}

QPen RoundPen(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QString SvgNumber(qreal value) {
    return QString::number(value, 'g', 6);
}

} // namespace

void PaintLogoMark(QPainter& painter, const QRectF& box) {
    if (box.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.topLeft());
    painter.scale(box.width() / kGrid, box.height() / kGrid);
    QLinearGradient fill(0, 0, 0, kGrid);
    fill.setColorAt(0, FaceTop());
    fill.setColorAt(1, FaceBottom());
    painter.setPen(RoundPen(FaceBorder(), kFaceBorderWidth));
    painter.setBrush(fill);
    painter.drawRoundedRect(kFace, kFaceRadius, kFaceRadius);
    painter.setPen(RoundPen(BoltBorder(), kBoltBorderWidth));
    painter.setBrush(Qt::white);
    painter.drawPolygon(kBolt, int(std::size(kBolt)));
    painter.restore();
}

QImage LogoMarkImage(int sizePx) {
    QImage image(sizePx, sizePx, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    PaintLogoMark(painter, QRectF(0, 0, sizePx, sizePx));
    return image;
}

QIcon LogoMarkIcon() {
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addPixmap(QPixmap::fromImage(LogoMarkImage(size)));
    return icon;
}

QByteArray LogoMarkSvg() {
    QStringList points;
    for (const QPointF& point : kBolt)
        points << SvgNumber(point.x()) + QLatin1Char(',') + SvgNumber(point.y());
    return QString::fromLatin1(kSvgTemplate)
        .arg(SvgNumber(kGrid), FaceTop().name(), FaceBottom().name(), SvgNumber(kFace.x()),
             SvgNumber(kFace.y()), SvgNumber(kFace.width()), SvgNumber(kFace.height()),
             SvgNumber(kFaceRadius), SvgNumber(FaceBorder().alphaF()), SvgNumber(kFaceBorderWidth),
             points.join(QLatin1Char(' ')), BoltBorder().name(), SvgNumber(kBoltBorderWidth))
        .toUtf8();
}
