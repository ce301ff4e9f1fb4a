#include "skin/suiglyphs.h"

#include "skin/skinstyle.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <array>
#include <cmath>

namespace {

// Glyphs are designed on a 24 x 24 grid and scaled to their box.
constexpr qreal kGlyphGrid = 24.0;

class TGridPainter {
public:
    TGridPainter(QPainter& painter, const QRectF& box, qreal grid) : FPainter(painter) {
        FPainter.save();
        FPainter.setRenderHint(QPainter::Antialiasing);
        FPainter.translate(box.topLeft());
        FPainter.scale(box.width() / grid, box.height() / grid);
    }
    ~TGridPainter() { FPainter.restore(); }
    TGridPainter(const TGridPainter&) = delete;
    TGridPainter& operator=(const TGridPainter&) = delete;

private:
    QPainter& FPainter;
};

QPen RoundPen(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void PaintCom(QPainter& p, const QColor& ink) {
    QPainterPath shell;
    shell.moveTo(3, 7);
    shell.lineTo(21, 7);
    shell.lineTo(18.3, 17);
    shell.lineTo(5.7, 17);
    shell.closeSubpath();
    QColor fill = ink;
    fill.setAlphaF(0.18);
    p.setPen(RoundPen(ink, 1.7));
    p.setBrush(fill);
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    for (const qreal x : {7.2, 9.6, 12.0, 14.4, 16.8})
        p.drawEllipse(QPointF(x, 10.6), 0.95, 0.95);
    for (const qreal x : {8.4, 10.8, 13.2, 15.6})
        p.drawEllipse(QPointF(x, 13.9), 0.95, 0.95);
}

void PaintArrowHead(QPainter& p, const QPointF& tip, qreal angleDeg, const QColor& ink) {
    // angleDeg is the direction the arrow points to, in screen coordinates.
    const qreal a = qDegreesToRadians(angleDeg);
    const QPointF dir(std::cos(a), std::sin(a));
    const QPointF normal(-dir.y(), dir.x());
    const QPointF base = tip - dir * 4.2;
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPolygon(QPolygonF{tip, base + normal * 2.8, base - normal * 2.8});
}

void PaintInit(QPainter& p, const QColor& ink) {
    const QRectF circle(5, 5, 14, 14);
    p.setPen(RoundPen(ink, 2.2));
    p.setBrush(Qt::NoBrush);
    // Two arcs with a gap at each end where the arrow heads sit (Qt angles: counter-clockwise).
    p.drawArc(circle, 30 * 16, 130 * 16);
    p.drawArc(circle, 210 * 16, 130 * 16);
    const auto onCircle = [](qreal deg) {
        const qreal a = qDegreesToRadians(deg);
        return QPointF(12 + 7 * std::cos(a), 12 - 7 * std::sin(a));
    };
    // The arcs end at 160 and 340 degrees; the heads continue counter-clockwise.
    PaintArrowHead(p, onCircle(178), 90 + 2, ink);
    PaintArrowHead(p, onCircle(358), 270 + 2, ink);
}

void PaintBrowse(QPainter& p, bool enabled, const QColor& ink) {
    const QColor light = enabled ? QColor(TsuiPalette::kFolder) : ink;
    const QColor dark = enabled ? light.darker(135) : ink.darker(115);
    QPainterPath back;
    back.moveTo(3, 6.5);
    back.lineTo(9, 6.5);
    back.lineTo(11, 8.5);
    back.lineTo(20, 8.5);
    back.lineTo(20, 18.5);
    back.lineTo(3, 18.5);
    back.closeSubpath();
    p.setPen(RoundPen(dark.darker(140), 1.0));
    p.setBrush(dark);
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(5.5, 11);
    front.lineTo(22, 11);
    front.lineTo(19.5, 18.5);
    front.lineTo(3, 18.5);
    front.closeSubpath();
    p.setBrush(light);
    p.drawPath(front);
}

void PaintStart(QPainter& p, bool enabled, const QColor& ink) {
    const QColor fill = enabled ? QColor(TsuiPalette::kGo) : ink;
    p.setPen(RoundPen(enabled ? QColor(Qt::white) : ink, 1.4));
    p.setBrush(fill);
    p.drawPolygon(QPolygonF{QPointF(7.5, 4.5), QPointF(19.5, 12), QPointF(7.5, 19.5)});
}

void PaintStop(QPainter& p, bool enabled, const QColor& ink) {
    p.setPen(RoundPen(enabled ? QColor(Qt::white) : ink, 1.4));
    p.setBrush(enabled ? QColor(TsuiPalette::kHalt) : ink);
    p.drawRoundedRect(QRectF(5.5, 5.5, 13, 13), 2.2, 2.2);
}

void PaintPlug(QPainter& p, qreal plugLeft, qreal socketLeft, const QColor& ink) {
    p.setPen(RoundPen(ink, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(1.5, 12), QPointF(plugLeft, 12));          // cable into the plug
    p.drawLine(QPointF(socketLeft + 4.5, 12), QPointF(22.5, 12)); // cable out of the socket
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRoundedRect(QRectF(plugLeft, 8, 5, 8), 1.2, 1.2);
    p.drawRect(QRectF(plugLeft + 5, 9.2, 3, 1.6)); // prongs
    p.drawRect(QRectF(plugLeft + 5, 13.2, 3, 1.6));
    p.drawRoundedRect(QRectF(socketLeft, 7, 4.5, 10), 1.2, 1.2);
}

void PaintConnect(QPainter& p, const QColor& ink) {
    PaintPlug(p, 5.5, 13.5, ink);
}

void PaintDisconnect(QPainter& p, bool enabled, const QColor& ink) {
    PaintPlug(p, 3.5, 16, ink);
    // A little spark in the gap.
    p.setPen(RoundPen(enabled ? QColor(TsuiPalette::kFolder) : ink, 1.3));
    p.drawLine(QPointF(13.8, 6.5), QPointF(14.6, 4.2));
    p.drawLine(QPointF(13.8, 17.5), QPointF(14.6, 19.8));
    p.drawLine(QPointF(14.0, 12), QPointF(14.9, 12));
}

void PaintCancel(QPainter& p, bool enabled, const QColor& ink) {
    p.setPen(RoundPen(enabled ? QColor(TsuiPalette::kHalt) : ink, 3.2));
    p.drawLine(QPointF(6.5, 6.5), QPointF(17.5, 17.5));
    p.drawLine(QPointF(17.5, 6.5), QPointF(6.5, 17.5));
}

void PaintOk(QPainter& p, bool enabled, const QColor& ink) {
    p.setPen(RoundPen(enabled ? QColor(TsuiPalette::kGo) : ink, 3.2));
    p.setBrush(Qt::NoBrush);
    QPainterPath tick;
    tick.moveTo(5, 12.5);
    tick.lineTo(10, 17.5);
    tick.lineTo(19.5, 6.5);
    p.drawPath(tick);
}

// Message icons are designed on a 42 x 42 grid.
constexpr qreal kIconGrid = 42.0;

void PaintShadow(QPainter& p, const QPainterPath& shape) {
    p.save();
    p.translate(1.2, 1.8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 55));
    p.drawPath(shape);
    p.restore();
}

void PaintGloss(QPainter& p, const QRectF& area) {
    QLinearGradient gloss(area.topLeft(), area.bottomLeft());
    gloss.setColorAt(0.0, QColor(255, 255, 255, 150));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(area);
}

void PaintWarningIcon(QPainter& p) {
    QPainterPath triangle;
    triangle.moveTo(21, 3.5);
    triangle.lineTo(39, 36.5);
    triangle.lineTo(3, 36.5);
    triangle.closeSubpath();
    PaintShadow(p, triangle);
    QLinearGradient fill(0, 3, 0, 37);
    fill.setColorAt(0, QColor(0xFF, 0xE8, 0x8C));
    fill.setColorAt(1, QColor(0xF2, 0xAE, 0x14));
    p.setPen(RoundPen(QColor(0x9A, 0x66, 0x00), 2.4));
    p.setBrush(fill);
    p.drawPath(triangle);
    p.setPen(RoundPen(QColor(0x3B, 0x2A, 0x00), 4.2));
    p.drawLine(QPointF(21, 15), QPointF(21, 25));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3B, 0x2A, 0x00));
    p.drawEllipse(QPointF(21, 31), 2.4, 2.4);
}

void PaintStopIcon(QPainter& p) {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal a = qDegreesToRadians(22.5 + 45.0 * i);
        octagon << QPointF(21 + 19 * std::cos(a), 21 + 19 * std::sin(a));
    }
    QPainterPath shape;
    shape.addPolygon(octagon);
    shape.closeSubpath();
    PaintShadow(p, shape);
    QLinearGradient fill(0, 2, 0, 40);
    fill.setColorAt(0, QColor(0xFF, 0x72, 0x62));
    fill.setColorAt(1, QColor(0xB8, 0x16, 0x10));
    p.setPen(RoundPen(QColor(0x6E, 0x08, 0x05), 1.2));
    p.setBrush(fill);
    p.drawPath(shape);
    // White rim just inside the edge.
    QPolygonF rim;
    for (int i = 0; i < 8; ++i) {
        const qreal a = qDegreesToRadians(22.5 + 45.0 * i);
        rim << QPointF(21 + 16.2 * std::cos(a), 21 + 16.2 * std::sin(a));
    }
    p.setPen(RoundPen(QColor(255, 255, 255, 220), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(rim);
    p.setPen(RoundPen(Qt::white, 4.6));
    p.drawLine(QPointF(14, 14), QPointF(28, 28));
    p.drawLine(QPointF(28, 14), QPointF(14, 28));
}

void PaintRoundIcon(QPainter& p, QRgb top, QRgb bottom, QRgb edge) {
    QPainterPath disc;
    disc.addEllipse(QRectF(2.5, 2.5, 37, 37));
    PaintShadow(p, disc);
    QLinearGradient fill(0, 2, 0, 40);
    fill.setColorAt(0, QColor(top));
    fill.setColorAt(1, QColor(bottom));
    p.setPen(RoundPen(QColor(edge), 1.2));
    p.setBrush(fill);
    p.drawPath(disc);
    p.setPen(RoundPen(QColor(255, 255, 255, 200), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 5, 32, 32));
    PaintGloss(p, QRectF(9, 6, 24, 14));
}

void PaintInformationIcon(QPainter& p) {
    PaintRoundIcon(p, 0xFF79B0F7, 0xFF1A4CA6, 0xFF0B2A66);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(21, 12.8), 2.7, 2.7);
    p.drawRoundedRect(QRectF(18.6, 17.5, 4.8, 14), 1.6, 1.6);
    p.drawRoundedRect(QRectF(16.5, 29.5, 9, 2.4), 1, 1);
}

void PaintHelpIcon(QPainter& p) {
    PaintRoundIcon(p, 0xFF63D6B6, 0xFF117A60, 0xFF064234);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(26);
    font.setBold(true);
    QPainterPath mark;
    mark.addText(0, 0, font, QStringLiteral("?"));
    const QRectF bounds = mark.boundingRect();
    p.translate(21 - bounds.center().x(), 21.5 - bounds.center().y());
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(mark);
}

} // namespace

TsuiGlyph GlyphForWord(const QString& word) {
    static const std::array<std::pair<const char*, TsuiGlyph>, 9> kWords{{
        {"com", glCom},
        {"init", glInit},
        {"browse", glBrowse},
        {"start", glStart},
        {"stop", glStop},
        {"connect", glConnect},
        {"disconnect", glDisconnect},
        {"cancel", glCancel},
        {"ok", glOk},
    }};
    QString key = word.trimmed().toLower();
    key.remove(QLatin1Char('&'));
    for (const auto& [name, glyph] : kWords) {
        if (key == QLatin1String(name))
            return glyph;
    }
    return glNone;
}

void PaintGlyph(QPainter& painter, const QRectF& box, TsuiGlyph glyph, bool enabled) {
    if (glyph == glNone || box.isEmpty())
        return;
    const TGridPainter grid(painter, box, kGlyphGrid);
    const QColor ink = enabled ? QColor(Qt::white) : QColor(0xF3, 0xF5, 0xF9, 210);
    switch (glyph) {
    case glCom:
        PaintCom(painter, ink);
        break;
    case glInit:
        PaintInit(painter, ink);
        break;
    case glBrowse:
        PaintBrowse(painter, enabled, ink);
        break;
    case glStart:
        PaintStart(painter, enabled, ink);
        break;
    case glStop:
        PaintStop(painter, enabled, ink);
        break;
    case glConnect:
        PaintConnect(painter, ink);
        break;
    case glDisconnect:
        PaintDisconnect(painter, enabled, ink);
        break;
    case glCancel:
        PaintCancel(painter, enabled, ink);
        break;
    case glOk:
        PaintOk(painter, enabled, ink);
        break;
    case glNone:
        break;
    }
}

void PaintMessageIcon(QPainter& painter, const QRectF& box, TsuiIconType type) {
    if (box.isEmpty())
        return;
    const TGridPainter grid(painter, box, kIconGrid);
    switch (type) {
    case suiWarning:
        PaintWarningIcon(painter);
        break;
    case suiStop:
        PaintStopIcon(painter);
        break;
    case suiInformation:
        PaintInformationIcon(painter);
        break;
    case suiHelp:
        PaintHelpIcon(painter);
        break;
    case suiNone:
        break;
    }
}

QPixmap MessageIconPixmap(TsuiIconType type, int sizePx, qreal devicePixelRatio) {
    if (type == suiNone || sizePx <= 0)
        return {};
    const int physical = qCeil(sizePx * devicePixelRatio);
    QPixmap pixmap(physical, physical);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    PaintMessageIcon(painter, QRectF(0, 0, sizePx, sizePx), type);
    return pixmap;
}
