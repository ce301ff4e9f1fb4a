#include "skin/suiimagepanel.h"

#include "skin/skinstyle.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kDotPitchPx = 12;
}

TsuiImagePanel::TsuiImagePanel(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// The picture is drawn once per size and then only copied: the labels and the progress bar on it
// repaint during a transfer, and every repaint of theirs repaints the panel behind them.
void TsuiImagePanel::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    if (FBackground.isNull() || FBackground.deviceIndependentSize() != QSizeF(size()) ||
        FBackground.devicePixelRatio() != ratio) {
        FBackground = QPixmap(size() * ratio);
        FBackground.setDevicePixelRatio(ratio);
        QPainter picture(&FBackground);
        PaintBackground(picture);
    }
    QPainter p(this);
    const QRect area = event->rect();
    p.drawPixmap(area, FBackground, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
}

void TsuiImagePanel::PaintBackground(QPainter& p) const {
    const QRectF all = rect();
    QLinearGradient base(all.topLeft(), all.bottomLeft());
    base.setColorAt(0.0, QColor(TsuiPalette::kFace).lighter(104));
    base.setColorAt(1.0, QColor(TsuiPalette::kFaceShade));
    p.fillRect(all, base);

    p.setRenderHint(QPainter::Antialiasing);
    // A wide light sweep from the lower left towards the upper right.
    QPainterPath sweep;
    sweep.moveTo(all.left(), all.bottom() - all.height() * 0.35);
    sweep.cubicTo(all.left() + all.width() * 0.35, all.bottom() - all.height() * 0.55,
                  all.left() + all.width() * 0.65, all.top() + all.height() * 0.30, all.right(),
                  all.top() + all.height() * 0.12);
    sweep.lineTo(all.right(), all.top() + all.height() * 0.32);
    sweep.cubicTo(all.left() + all.width() * 0.70, all.top() + all.height() * 0.48,
                  all.left() + all.width() * 0.40, all.bottom() - all.height() * 0.30, all.left(),
                  all.bottom() - all.height() * 0.12);
    sweep.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawPath(sweep);

    // Faint dots, denser at the top right corner, for texture.
    QColor dot(TsuiPalette::kAccent);
    for (int y = kDotPitchPx / 2; y < height(); y += kDotPitchPx) {
        for (int x = kDotPitchPx / 2; x < width(); x += kDotPitchPx) {
            const qreal nearness = (qreal(x) / qMax(1, width())) * (1.0 - qreal(y) / qMax(1, height()));
            const int alpha = int(6 + 34 * nearness * nearness);
            dot.setAlpha(alpha);
            p.setBrush(dot);
            p.drawEllipse(QPointF(x, y), 1.1, 1.1);
        }
    }
}

void TsuiImagePanel::mouseMoveEvent(QMouseEvent* event) {
    emit MouseMoved();
    QWidget::mouseMoveEvent(event);
}
