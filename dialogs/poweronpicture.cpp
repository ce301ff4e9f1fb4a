#include "dialogs/poweronpicture.h"

#include "common/version.h"

#include "skin/skinstyle.h"
#include "skin/suiglyphs.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

constexpr qreal kSide = kPowerOnPictureSizePx;
constexpr int kTilePitchPx = 31;
constexpr int kTileSizePx = 24;

QFont PictureFont(int pixelSize, QFont::Weight weight, bool italic = false) {
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setItalic(italic);
    return font;
}

void PaintBackground(QPainter& p) {
    QLinearGradient sky(0, 0, kSide, kSide);
    sky.setColorAt(0.0, QColor(0x0A, 0x24, 0x5E));
    sky.setColorAt(0.55, QColor(0x15, 0x44, 0x9C));
    sky.setColorAt(1.0, QColor(0x2A, 0x6C, 0xD0));
    p.fillRect(QRectF(0, 0, kSide, kSide), sky);
    QRadialGradient glow(QPointF(110, 80), 190);
    glow.setColorAt(0.0, QColor(0x4F, 0x8D, 0xEA, 110));
    glow.setColorAt(1.0, QColor(0x4F, 0x8D, 0xEA, 0));
    p.fillRect(QRectF(0, 0, kSide, kSide), glow);
}

// Pale-blue rounded squares over the left part, fading towards the right. A fixed pattern decides
// which squares are filled and which are only outlined, so the picture is the same every time.
void PaintTiles(QPainter& p) {
    const QColor pale(0xC4, 0xDB, 0xFF);
    for (int row = 0; row * kTilePitchPx < kSide; ++row) {
        for (int column = 0; column < 9; ++column) {
            const qreal x = 6 + column * kTilePitchPx;
            const qreal y = 6 + row * kTilePitchPx;
            const qreal fade = 1.0 - qreal(column) / 9.0;
            const unsigned pattern = (row * 7u + column * 13u + row * column * 3u) % 11u;
            QColor colour = pale;
            const QRectF tile(x, y, kTileSizePx, kTileSizePx);
            if (pattern < 4) {
                colour.setAlphaF(0.10 + 0.30 * fade * fade);
                p.setPen(Qt::NoPen);
                p.setBrush(colour);
            } else if (pattern < 8) {
                colour.setAlphaF(0.05 + 0.14 * fade);
                p.setPen(Qt::NoPen);
                p.setBrush(colour);
            } else {
                colour.setAlphaF(0.12 + 0.30 * fade);
                p.setPen(QPen(colour, 1.2));
                p.setBrush(Qt::NoBrush);
            }
            p.drawRoundedRect(tile, 5, 5);
        }
    }
}

void PaintTitle(QPainter& p) {
    const QFont name = PictureFont(62, QFont::Bold);
    const QFont version = PictureFont(24, QFont::Bold);
    const QString program = QStringLiteral("Tervolt");
    p.setFont(name);
    p.setPen(QColor(0, 0, 0, 90));
    p.drawText(QPointF(27, 95), program);
    p.setPen(Qt::white);
    p.drawText(QPointF(24, 92), program);
    // A thin rule under the name, ending in the version.
    const qreal nameWidth = QFontMetricsF(name).horizontalAdvance(program);
    p.setPen(QPen(QColor(0x9F, 0xC4, 0xFF, 200), 2.0));
    p.drawLine(QPointF(26, 108), QPointF(26 + nameWidth, 108));
    p.setFont(version);
    p.setPen(QColor(0xD6, 0xE6, 0xFF));
    p.drawText(QPointF(26, 140), QLatin1String(kTervoltVersion));
}

QPainterPath Sweep(qreal inset) {
    QPainterPath path;
    path.moveTo(kSide, 196 + inset);
    path.cubicTo(300 + inset, 200 + inset, 170 + inset, 276 + inset, 118 + inset, kSide);
    path.lineTo(kSide, kSide);
    path.closeSubpath();
    return path;
}

void PaintSweep(QPainter& p) {
    // A light-blue band ahead of the white area gives the curve its depth.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x7F, 0xAE, 0xF0, 150));
    p.drawPath(Sweep(-14));
    p.setBrush(QColor(0xB9, 0xD4, 0xFA, 200));
    p.drawPath(Sweep(-6));
    QLinearGradient white(0, 200, 0, kSide);
    white.setColorAt(0, QColor(0xFF, 0xFF, 0xFF));
    white.setColorAt(1, QColor(0xF1, 0xF6, 0xFE));
    p.setBrush(white);
    p.drawPath(Sweep(0));
}

void PaintMaker(QPainter& p) {
    const QRectF mark(222, 300, 38, 38);
    PaintLogoMark(p, mark);
    const QFont word = PictureFont(28, QFont::Black);
    p.setFont(word);
    p.setPen(QColor(TsuiPalette::kAccentDark));
    QFont spaced = word;
    spaced.setLetterSpacing(QFont::AbsoluteSpacing, 2.0);
    p.setFont(spaced);
    p.drawText(QPointF(268, 331), QStringLiteral("VELUM"));
    p.setFont(PictureFont(12, QFont::Normal, true));
    p.setPen(QColor(0x4A, 0x66, 0x96));
    p.drawText(QRectF(170, 350, 216, 20), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Every byte where it belongs."));
}

} // namespace

QImage RenderPowerOnPicture() {
    QImage picture(kPowerOnPictureSizePx, kPowerOnPictureSizePx, QImage::Format_RGB888);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    PaintBackground(p);
    PaintTiles(p);
    PaintTitle(p);
    PaintSweep(p);
    PaintMaker(p);
    return picture;
}
