#include "skin/suicontrols.h"

#include "skin/skinstyle.h"

#include <QAbstractItemView>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

namespace {

enum TIndicatorShape { isBox, isCircle };

void PaintIndicator(QPainter& p, const QRectF& area, TIndicatorShape shape, bool checked, bool enabled,
                    bool hot) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin<qreal>(13, qMin(area.width(), area.height()));
    const QRectF box(area.center().x() - side / 2 + 0.5, area.center().y() - side / 2 + 0.5, side - 1,
                     side - 1);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    if (!enabled) {
        fill.setColorAt(0, QColor(TsuiPalette::kFace));
        fill.setColorAt(1, QColor(TsuiPalette::kFace));
    } else if (checked && shape == isBox) {
        fill.setColorAt(0, QColor(TsuiPalette::kAccentLight));
        fill.setColorAt(1, QColor(TsuiPalette::kAccent));
    } else {
        fill.setColorAt(0, QColor(TsuiPalette::kField));
        fill.setColorAt(1, QColor(TsuiPalette::kFieldReadOnly).darker(103));
    }
    const QColor edge = !enabled         ? QColor(TsuiPalette::kGroupEdge)
                        : hot || checked ? QColor(TsuiPalette::kAccent)
                                         : QColor(TsuiPalette::kEdge);
    p.setPen(QPen(edge, 1.0));
    p.setBrush(fill);
    if (shape == isBox)
        p.drawRoundedRect(box, 2.5, 2.5);
    else
        p.drawEllipse(box);
    if (checked) {
        const QColor mark = enabled ? (shape == isBox ? QColor(Qt::white) : QColor(TsuiPalette::kAccent))
                                    : QColor(TsuiPalette::kTextDisabled);
        if (shape == isBox) {
            QPainterPath tick;
            tick.moveTo(box.left() + side * 0.22, box.top() + side * 0.52);
            tick.lineTo(box.left() + side * 0.42, box.top() + side * 0.72);
            tick.lineTo(box.left() + side * 0.78, box.top() + side * 0.28);
            p.setPen(QPen(mark, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPath(tick);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(mark);
            p.drawEllipse(box.center(), side * 0.24, side * 0.24);
        }
    }
    p.restore();
}

// The focus ring of a check box or radio item: one pixel, one pixel clear of the text on every side,
// so that no letter (a capital, a descender, a parenthesis) is touched.
constexpr int kItemRingPx = 1;
constexpr int kRingGapPx = 1;
constexpr int kRingRoomPx = kItemRingPx + kRingGapPx;

// The label by the style, the indicator by us. The focus ring goes round the text, its left side in the
// gap after the indicator.
void PaintCheckable(QAbstractButton& button, QStyle::SubElement indicator, QStyle::SubElement contents,
                    QStyle::ControlElement label, TIndicatorShape shape, QStyleOptionButton& option) {
    QPainter p(&button);
    QStyleOptionButton text = option;
    text.rect = button.style()->subElementRect(contents, &option, &button);
    button.style()->drawControl(label, &text, &p, &button);
    const QRect box = button.style()->subElementRect(indicator, &option, &button);
    PaintIndicator(p, box, shape, button.isChecked(), button.isEnabled(), button.underMouse());
    if (button.hasFocus() && button.focusPolicy() != Qt::NoFocus) {
        const QFontMetrics metrics = button.fontMetrics();
        const int textWidth = metrics.horizontalAdvance(QString(button.text()).remove(QLatin1Char('&')));
        const int textTop = text.rect.top() + (text.rect.height() - metrics.height()) / 2;
        const QRect area = button.rect();
        const int left = qMax(box.right() + 1, text.rect.left() - kRingRoomPx);
        const QRect ring(QPoint(left, qMax(area.top(), textTop - kRingRoomPx)),
                         QPoint(qMin(area.right(), text.rect.left() + textWidth + kRingGapPx),
                                qMin(area.bottom(), textTop + metrics.height() - 1 + kRingRoomPx)));
        p.setPen(QPen(QColor(TsuiPalette::kFocusRing), kItemRingPx));
        p.setBrush(Qt::NoBrush);
        p.drawRect(ring.adjusted(0, 0, -kItemRingPx, -kItemRingPx));
    }
}

// The style's size, with room for the ring above and below the text and after it.
QSize WithRingRoom(QSize size, const QFontMetrics& metrics) {
    return {size.width() + kRingRoomPx, qMax(size.height(), metrics.height() + 2 * kRingRoomPx)};
}

} // namespace

void TsuiEdit::SetReadOnly(bool readOnly) {
    if (readOnly == isReadOnly())
        return;
    setReadOnly(readOnly);
    // Style sheet selectors on properties are evaluated when the widget is polished.
    style()->unpolish(this);
    style()->polish(this);
    update();
}

// The pointer's screen position comes from the window system itself: minus its place in the box, it
// gives the box's true origin.
void TsuiComboBox::NoteTrueOrigin(const QMouseEvent& event) {
    FShift = event.globalPosition().toPoint() - event.position().toPoint() - mapToGlobal(QPoint(0, 0));
    FShiftWindowPos = window()->pos();
}

void TsuiComboBox::mousePressEvent(QMouseEvent* event) {
    NoteTrueOrigin(*event);
    QComboBox::mousePressEvent(event);
}

void TsuiComboBox::mouseMoveEvent(QMouseEvent* event) {
    NoteTrueOrigin(*event);
    QComboBox::mouseMoveEvent(event);
}

void TsuiComboBox::showPopup() {
    QComboBox::showPopup();
    QWidget* popup = view()->window();
    // A shift measured before the window moved (as Qt sees it) says nothing any more.
    if (popup == window() || !FShift || FShift->isNull() || FShiftWindowPos != window()->pos())
        return;
    const QPoint origin = mapToGlobal(QPoint(0, 0)) + *FShift;
    QRect placed = popup->geometry().translated(*FShift);
    // Kept on the screen the box is on: above the box when there is no room below it.
    if (const QScreen* screen = QGuiApplication::screenAt(origin); screen != nullptr) {
        const QRect area = screen->availableGeometry();
        if (placed.bottom() > area.bottom())
            placed.moveBottom(origin.y() - 1);
        placed.moveLeft(
            qBound(area.left(), placed.left(), qMax(area.left(), area.right() - placed.width() + 1)));
        placed.moveTop(qMax(area.top(), placed.top()));
    }
    popup->move(placed.topLeft());
}

void TsuiComboBox::paintEvent(QPaintEvent* event) {
    QComboBox::paintEvent(event);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRectF arrowBox =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, this);
    if (arrowBox.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = arrowBox.center() + QPointF(0.5, 0.5);
    p.setPen(QPen(isEnabled() ? QColor(Qt::white) : QColor(TsuiPalette::kButtonDisabledText), 1.8,
                  Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF{c + QPointF(-3.5, -1.5), c + QPointF(0, 2), c + QPointF(3.5, -1.5)});
}

QSize TsuiCheckBox::sizeHint() const {
    return WithRingRoom(QCheckBox::sizeHint(), fontMetrics());
}

void TsuiCheckBox::paintEvent(QPaintEvent*) {
    QStyleOptionButton option;
    initStyleOption(&option);
    PaintCheckable(*this, QStyle::SE_CheckBoxIndicator, QStyle::SE_CheckBoxContents, QStyle::CE_CheckBoxLabel,
                   isBox, option);
}

TsuiRadioButton::TsuiRadioButton(const QString& text, QWidget* parent) : QRadioButton(text, parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
}

QSize TsuiRadioButton::sizeHint() const {
    return WithRingRoom(QRadioButton::sizeHint(), fontMetrics());
}

void TsuiRadioButton::paintEvent(QPaintEvent*) {
    QStyleOptionButton option;
    initStyleOption(&option);
    PaintCheckable(*this, QStyle::SE_RadioButtonIndicator, QStyle::SE_RadioButtonContents,
                   QStyle::CE_RadioButtonLabel, isCircle, option);
}

TsuiProgressBar::TsuiProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setFormat(QStringLiteral("%p%"));
    setAlignment(Qt::AlignCenter);
}

void TsuiProgressBar::SetValueDeferred(int value) {
    if (value == this->value())
        return;
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false); // setValue would repaint synchronously
    setValue(value);
    setUpdatesEnabled(updates);
    update();
}

TsuiButton::TsuiButton(QWidget* parent) : QPushButton(parent) {
    setCursor(Qt::PointingHandCursor);
}

void TsuiButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    if (!hasFocus() || !isEnabled())
        return;
    QPainter p(this);
    PaintPlateFocusRing(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4.0);
}

void TsuiProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF trough = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(QColor(isEnabled() ? TsuiPalette::kEdge : TsuiPalette::kGroupEdge), 1.0));
    p.setBrush(QColor(isEnabled() ? TsuiPalette::kField : TsuiPalette::kFace));
    p.drawRoundedRect(trough, 3, 3);

    const qreal span = qMax(1, maximum() - minimum());
    const qreal fraction = qBound(0.0, (value() - minimum()) / span, 1.0);
    const QRectF inner = trough.adjusted(1.5, 1.5, -1.5, -1.5);
    QRectF filled = inner;
    filled.setWidth(inner.width() * fraction);
    if (invertedAppearance())
        filled.moveRight(inner.right());
    if (filled.width() > 0.5) {
        // No light top: the white percentage needs at least 4.5:1 against every row of the chunk.
        QLinearGradient chunk(filled.topLeft(), filled.bottomLeft());
        chunk.setColorAt(0, QColor(TsuiPalette::kAccent));
        chunk.setColorAt(1, QColor(TsuiPalette::kAccentDark));
        p.setPen(Qt::NoPen);
        p.setBrush(chunk);
        p.drawRoundedRect(filled, 2, 2);
    }
    if (!isTextVisible())
        return;
    const QString caption = text();
    p.setFont(font());
    p.save();
    p.setClipRect(filled);
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, caption);
    p.restore();
    QRegion empty(rect());
    empty -= QRegion(filled.toAlignedRect());
    p.setClipRegion(empty);
    p.setPen(QColor(isEnabled() ? TsuiPalette::kText : TsuiPalette::kTextDisabled));
    p.drawText(rect(), Qt::AlignCenter, caption);
}
