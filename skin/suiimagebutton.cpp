#include "skin/suiimagebutton.h"

#include "skin/skinstyle.h"
#include "skin/suiglyphs.h"

#include <QDialog>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kFaceHeightPx = 35;
constexpr int kFaceMinWidthPx = 80;
constexpr int kPaddingPx = 10;
constexpr int kGlyphGapPx = 7;
constexpr qreal kCornerRadius = 5.0;

struct TFaceColours {
    QColor Top;
    QColor Bottom;
    QColor Word;
};

TFaceColours ColoursOf(TsuiFaceState state) {
    switch (state) {
    case fsHot:
        return {QColor(TsuiPalette::kButtonHoverTop), QColor(TsuiPalette::kButtonHoverBottom),
                QColor(TsuiPalette::kButtonText)};
    case fsPressed:
        return {QColor(TsuiPalette::kButtonPressed), QColor(TsuiPalette::kButtonBottom),
                QColor(TsuiPalette::kButtonText)};
    case fsDisabled:
        return {QColor(TsuiPalette::kButtonDisabledTop), QColor(TsuiPalette::kButtonDisabledBottom),
                QColor(TsuiPalette::kButtonDisabledText)};
    case fsNormal:
        break;
    }
    return {QColor(TsuiPalette::kButtonTop), QColor(TsuiPalette::kButtonBottom),
            QColor(TsuiPalette::kButtonText)};
}

QString WordOf(const QString& text) {
    QString word = text;
    word.remove(QLatin1Char('&'));
    return word;
}

} // namespace

TsuiImageButton::TsuiImageButton(QWidget* parent) : QPushButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
    // Connected first, so that it runs before the handlers the window connects later.
    connect(this, &QAbstractButton::clicked, this, &TsuiImageButton::ApplyModalResult);
}

TsuiImageButton::TsuiImageButton(const QString& word, QWidget* parent) : TsuiImageButton(parent) {
    setText(word);
}

void TsuiImageButton::ApplyModalResult() {
    if (FModalResult == mrNone)
        return;
    if (auto* dialog = qobject_cast<QDialog*>(window()))
        dialog->done(FModalResult);
}

TsuiFaceState TsuiImageButton::CurrentState() const {
    if (!isEnabled())
        return fsDisabled;
    if (isDown())
        return fsPressed;
    if (underMouse())
        return fsHot;
    return fsNormal;
}

QSize TsuiImageButton::sizeHint() const {
    const QFontMetrics metrics(SkinTitleFont());
    const int glyph = GlyphForWord(text()) == glNone ? 0 : 20 + kGlyphGapPx;
    const int width = 2 * kPaddingPx + glyph + metrics.horizontalAdvance(WordOf(text()));
    return QSize(qMax(kFaceMinWidthPx, width), kFaceHeightPx);
}

QSize TsuiImageButton::minimumSizeHint() const {
    return QSize(40, 24);
}

QPixmap TsuiImageButton::Face(TsuiFaceState state) const {
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    PaintFace(painter, QRectF(QPointF(0, 0), size()), state, false);
    return pixmap;
}

void TsuiImageButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintFace(painter, QRectF(rect()), CurrentState(), hasFocus());
}

void TsuiImageButton::mouseMoveEvent(QMouseEvent* event) {
    emit MouseMoved();
    QPushButton::mouseMoveEvent(event);
}

void TsuiImageButton::PaintFace(QPainter& p, const QRectF& box, TsuiFaceState state, bool focused) const {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const TFaceColours colours = ColoursOf(state);
    const QRectF plate = box.adjusted(0.5, 0.5, -0.5, -0.5);

    // Soft glow around the plate under the pointer.
    if (state == fsHot) {
        p.setPen(QPen(QColor(TsuiPalette::kAccentLight).lighter(115), 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(plate.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    }
    QLinearGradient fill(plate.topLeft(), plate.bottomLeft());
    fill.setColorAt(0, colours.Top);
    fill.setColorAt(1, colours.Bottom);
    p.setPen(QPen(state == fsDisabled ? QColor(TsuiPalette::kTextDisabled) : QColor(TsuiPalette::kFrameOuter),
                  1.0));
    p.setBrush(fill);
    p.drawRoundedRect(plate, kCornerRadius, kCornerRadius);

    // Gloss over the upper half, none when pressed.
    if (state != fsPressed) {
        const QRectF upper(plate.left() + 1.5, plate.top() + 1.5, plate.width() - 3, plate.height() / 2 - 1);
        QLinearGradient gloss(upper.topLeft(), upper.bottomLeft());
        gloss.setColorAt(0, QColor(255, 255, 255, 60));
        gloss.setColorAt(1, QColor(255, 255, 255, 8));
        p.setPen(Qt::NoPen);
        p.setBrush(gloss);
        p.drawRoundedRect(upper, kCornerRadius - 1.5, kCornerRadius - 1.5);
    }
    if (focused && state != fsDisabled)
        PaintPlateFocusRing(p, plate, kCornerRadius);

    // Glyph and word, centred together.
    const QString word = WordOf(text());
    const TsuiGlyph glyph = GlyphForWord(word);
    const QFont font = SkinTitleFont();
    const QFontMetricsF metrics(font);
    const qreal glyphSize = glyph == glNone ? 0 : qMin<qreal>(22, box.height() - 11);
    const qreal gap = glyph == glNone || word.isEmpty() ? 0 : kGlyphGapPx;
    const qreal wordWidth = metrics.horizontalAdvance(word);
    const qreal total = glyphSize + gap + wordWidth;
    const QPointF shift = state == fsPressed ? QPointF(1, 1) : QPointF();
    qreal left = box.left() + qMax<qreal>(kPaddingPx / 2.0, (box.width() - total) / 2) + shift.x();
    const qreal middle = box.center().y() + shift.y();
    if (glyph != glNone) {
        PaintGlyph(p, QRectF(left, middle - glyphSize / 2, glyphSize, glyphSize), glyph, state != fsDisabled);
        left += glyphSize + gap;
    }
    if (!word.isEmpty()) {
        p.setFont(font);
        const QRectF textBox(left, box.top() + shift.y(), box.right() - left - kPaddingPx / 2.0,
                             box.height());
        const QString elided = metrics.elidedText(word, Qt::ElideRight, textBox.width());
        // A word that fits whole shows its shortcut letter underlined ("&Com": Alt+C).
        const QString shown = elided == word ? text() : elided;
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic;
        if (state != fsDisabled) { // a shadow under a dark word would only blur it
            p.setPen(QColor(0, 0, 0, 120));
            p.drawText(textBox.translated(1, 1), flags, shown);
        }
        p.setPen(colours.Word);
        p.drawText(textBox, flags, shown);
    }
    p.restore();
}
