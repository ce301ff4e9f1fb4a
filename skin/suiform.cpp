#include "skin/suiform.h"

#include "skin/skinstyle.h"
#include "skin/suiglyphs.h"

#include <QAbstractButton>
#include <QLayout>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace {

constexpr int kTitleButtonWidthPx = 22;
constexpr int kTitleButtonHeightPx = 18;
constexpr int kTitleButtonGapPx = 2;
constexpr int kControlBoxSizePx = 18;
constexpr int kTitleRowTopPx = 7; // buttons and icon, centred below the top border

enum TTitleButtonKind { tkClose, tkMaximize, tkMinimize };

// The small buttons at the right of the title bar.
class TsuiTitleBarButton : public QAbstractButton {
public:
    TsuiTitleBarButton(TTitleButtonKind kind, QWidget* parent) : QAbstractButton(parent), FKind(kind) {
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::ArrowCursor);
        setFixedSize(kTitleButtonWidthPx, kTitleButtonHeightPx);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF plate = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const bool hot = underMouse() && isEnabled();
        QLinearGradient fill(plate.topLeft(), plate.bottomLeft());
        if (FKind == tkClose && hot) {
            fill.setColorAt(0, QColor(0xF0, 0x6A, 0x5E));
            fill.setColorAt(1, QColor(0xB3, 0x22, 0x18));
        } else {
            // A disabled button (Close during a run) is a faint outline with a faint glyph.
            const int alpha = !isEnabled() ? 10 : isDown() ? 25 : (hot ? 95 : 45);
            fill.setColorAt(0, QColor(255, 255, 255, alpha));
            fill.setColorAt(1, QColor(255, 255, 255, alpha / 4));
        }
        p.setPen(QPen(QColor(255, 255, 255, !isEnabled() ? 50 : hot ? 200 : 120), 1.0));
        p.setBrush(fill);
        p.drawRoundedRect(plate, 3, 3);

        const QPointF c = plate.center() + (isDown() ? QPointF(0.5, 0.5) : QPointF());
        p.setPen(QPen(QColor(255, 255, 255, isEnabled() ? 255 : 90), 1.6, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        switch (FKind) {
        case tkClose:
            p.drawLine(c + QPointF(-3.5, -3.5), c + QPointF(3.5, 3.5));
            p.drawLine(c + QPointF(3.5, -3.5), c + QPointF(-3.5, 3.5));
            break;
        case tkMaximize:
            if (window()->isMaximized()) {
                p.drawRect(QRectF(c.x() - 4.5, c.y() - 1.5, 7, 6));
                p.drawPolyline(QPolygonF{c + QPointF(-2, -1.5), c + QPointF(-2, -4), c + QPointF(5, -4),
                                         c + QPointF(5, 2), c + QPointF(2.5, 2)});
            } else {
                p.drawRect(QRectF(c.x() - 4.5, c.y() - 4, 9, 8));
                p.drawLine(c + QPointF(-4.5, -2.8), c + QPointF(4.5, -2.8));
            }
            break;
        case tkMinimize:
            p.drawLine(c + QPointF(-4, 3.5), c + QPointF(4, 3.5));
            break;
        }
    }

private:
    TTitleButtonKind FKind;
};

// The program's mark at the left of the title bar.
class TsuiControlBox : public QWidget {
public:
    explicit TsuiControlBox(QWidget* parent) : QWidget(parent) {
        setFixedSize(kControlBoxSizePx, kControlBoxSizePx);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        PaintLogoMark(p, QRectF(rect()));
    }
};

} // namespace

TsuiForm::TsuiForm(QWidget* parent) : QWidget(parent) {
    setContentsMargins(FrameMargins()); // a layout set on the frame keeps clear of it

    FControlBox = new TsuiControlBox(this);
    FControlBox->setObjectName(QStringLiteral("ControlBox"));
    FMinimizeButton = new TsuiTitleBarButton(tkMinimize, this);
    FMinimizeButton->setObjectName(QStringLiteral("MinimizeButton"));
    FMinimizeButton->setToolTip(tr("Minimize"));
    FMaximizeButton = new TsuiTitleBarButton(tkMaximize, this);
    FMaximizeButton->setObjectName(QStringLiteral("MaximizeButton"));
    FMaximizeButton->setToolTip(tr("Maximize"));
    FCloseButton = new TsuiTitleBarButton(tkClose, this);
    FCloseButton->setObjectName(QStringLiteral("CloseButton"));
    FCloseButton->setToolTip(tr("Close"));
    connect(FMinimizeButton, &QAbstractButton::clicked, this, [this] { window()->showMinimized(); });
    connect(FMaximizeButton, &QAbstractButton::clicked, this, [this] { ToggleMaximized(); });
    connect(FCloseButton, &QAbstractButton::clicked, this, [this] { window()->close(); });
    SetTitleButtons(FButtons);

    QWidget* framed = window();
    const bool wasVisible = framed->isVisible();
    if (!framed->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        framed->setWindowFlag(Qt::FramelessWindowHint, true);
        if (wasVisible)
            framed->show();
    }
    if (framed != this) {
        FWindow = framed;
        framed->installEventFilter(this);
        FollowWindow();
    }
    ApplySkin(framed);
}

TsuiForm::~TsuiForm() = default;

TsuiForm* TsuiForm::Install(QWidget* window, const QString& caption, TsuiTitleButtons buttons) {
    Q_ASSERT(window != nullptr);
    // Children that exist now belong to the form being framed.
    const QList<QWidget*> children = window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    const QMargins margins = FrameMargins();
    QLayout* layout = window->layout();
    for (QWidget* child : children) {
        if (child->isWindow() || (layout != nullptr && layout->indexOf(child) >= 0))
            continue;
        child->move(child->pos() + QPoint(margins.left(), margins.top()));
    }
    if (layout != nullptr)
        window->setContentsMargins(window->contentsMargins() + margins);

    const QSize extra(margins.left() + margins.right(), margins.top() + margins.bottom());
    const QSize maximum = window->maximumSize();
    if (maximum.width() < QWIDGETSIZE_MAX)
        window->setMaximumWidth(qMin(QWIDGETSIZE_MAX, maximum.width() + extra.width()));
    if (maximum.height() < QWIDGETSIZE_MAX)
        window->setMaximumHeight(qMin(QWIDGETSIZE_MAX, maximum.height() + extra.height()));
    const QSize minimum = window->minimumSize();
    if (minimum.width() > 0)
        window->setMinimumWidth(minimum.width() + extra.width());
    if (minimum.height() > 0)
        window->setMinimumHeight(minimum.height() + extra.height());
    window->resize(window->size() + extra);

    auto* form = new TsuiForm(window);
    form->SetTitleButtons(buttons);
    form->SetCaption(caption);
    form->lower();
    if (window->isVisible())
        form->show();
    return form;
}

void TsuiForm::SetCaption(const QString& caption) {
    FCaption = caption;
    if (!caption.isEmpty())
        window()->setWindowTitle(caption);
    update(TitleBarRect());
}

void TsuiForm::SetTitleButtons(TsuiTitleButtons buttons) {
    FButtons = buttons;
    FControlBox->setVisible(buttons.testFlag(tbControlBox));
    FCloseButton->setVisible(buttons.testFlag(tbClose));
    FMaximizeButton->setVisible(buttons.testFlag(tbMaximize));
    FMinimizeButton->setVisible(buttons.testFlag(tbMinimize));
    PlaceTitleButtons();
    update(TitleBarRect());
}

void TsuiForm::SetTitleButton(TsuiTitleButton button, bool visible) {
    SetTitleButtons(visible ? (FButtons | button) : (FButtons & ~TsuiTitleButtons(button)));
}

QWidget* TsuiForm::TitleButton(TsuiTitleButton button) const {
    switch (button) {
    case tbControlBox:
        return FControlBox;
    case tbClose:
        return FCloseButton;
    case tbMaximize:
        return FMaximizeButton;
    case tbMinimize:
        return FMinimizeButton;
    }
    return nullptr;
}

QMargins TsuiForm::FrameMargins() {
    return QMargins(kBorderPx, kTitleBarHeightPx, kBorderPx, kBorderPx);
}

QRect TsuiForm::ContentRect() const {
    return rect().marginsRemoved(FrameMargins());
}

QRect TsuiForm::TitleBarRect() const {
    return QRect(0, 0, width(), kTitleBarHeightPx);
}

void TsuiForm::PlaceTitleButtons() {
    int right = width() - kBorderPx - 2;
    for (QAbstractButton* button : {FCloseButton, FMaximizeButton, FMinimizeButton}) {
        if (button->isHidden())
            continue;
        button->move(right - kTitleButtonWidthPx, kTitleRowTopPx - 1);
        right -= kTitleButtonWidthPx + kTitleButtonGapPx;
    }
    FControlBox->move(kBorderPx + 4, kTitleRowTopPx - 1);
}

QRect TsuiForm::CaptionRect() const {
    int left = kBorderPx + 8;
    if (!FControlBox->isHidden())
        left = FControlBox->geometry().right() + 7;
    int right = width() - kBorderPx - 6;
    for (const QAbstractButton* button : {FCloseButton, FMaximizeButton, FMinimizeButton}) {
        if (!button->isHidden())
            right = qMin(right, button->x() - 6);
    }
    return QRect(left, kBorderPx - 1, qMax(0, right - left), kTitleBarHeightPx - kBorderPx);
}

void TsuiForm::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect all = rect();
    const bool active = window()->isActiveWindow();

    // Border band, slightly lighter towards the bottom.
    QLinearGradient band(0, 0, 0, height());
    band.setColorAt(0, QColor(TsuiPalette::kFrame));
    band.setColorAt(1, QColor(TsuiPalette::kFrame).darker(120));
    p.fillRect(all, band);

    // Title bar with a gloss over its upper half.
    const QRect title = TitleBarRect();
    QLinearGradient titleFill(title.topLeft(), title.bottomLeft());
    titleFill.setColorAt(0, QColor(active ? TsuiPalette::kTitleTop : TsuiPalette::kTitleInactiveTop));
    titleFill.setColorAt(1, QColor(active ? TsuiPalette::kTitleBottom : TsuiPalette::kTitleInactiveBottom));
    p.fillRect(title, titleFill);
    QLinearGradient gloss(title.topLeft(), QPoint(0, title.height() / 2));
    gloss.setColorAt(0, QColor(255, 255, 255, 70));
    gloss.setColorAt(1, QColor(255, 255, 255, 12));
    p.fillRect(QRect(0, 0, width(), title.height() / 2), gloss);

    // Content area with a fine dark edge, as if set into the frame.
    const QRect content = ContentRect();
    QLinearGradient face(content.topLeft(), content.bottomLeft());
    face.setColorAt(0, QColor(TsuiPalette::kFace).lighter(103));
    face.setColorAt(1, QColor(TsuiPalette::kFace));
    p.fillRect(content, face);
    p.setPen(QColor(TsuiPalette::kAccentDark));
    p.drawRect(content.adjusted(-1, -1, 0, 0));

    p.setPen(QColor(TsuiPalette::kFrameOuter));
    p.drawRect(all.adjusted(0, 0, -1, -1));
    p.setPen(QColor(255, 255, 255, 60));
    p.drawLine(1, 1, width() - 2, 1);

    // Caption: white bold with a soft shadow for contrast on the light upper half.
    const QString text = FCaption.isEmpty() ? window()->windowTitle() : FCaption;
    if (!text.isEmpty()) {
        const QFont font = SkinTitleFont();
        p.setFont(font);
        const QRect box = CaptionRect();
        const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, box.width());
        p.setPen(QColor(0, 0, 0, 110));
        p.drawText(box.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter, shown);
        p.setPen(QColor(TsuiPalette::kTitleText));
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
}

void TsuiForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceTitleButtons();
}

void TsuiForm::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !TitleBarRect().contains(event->position().toPoint()) ||
        window()->isMaximized()) {
        QWidget::mousePressEvent(event);
        return;
    }
    // Let the window manager move the window where it can; otherwise move it ourselves.
    if (QWindow* handle = window()->windowHandle(); handle != nullptr && handle->startSystemMove()) {
        event->accept();
        return;
    }
    FDragging = true;
    FDragOffset = event->globalPosition().toPoint() - window()->pos();
    event->accept();
}

void TsuiForm::mouseMoveEvent(QMouseEvent* event) {
    if (FDragging && event->buttons().testFlag(Qt::LeftButton)) {
        window()->move(event->globalPosition().toPoint() - FDragOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TsuiForm::mouseReleaseEvent(QMouseEvent* event) {
    FDragging = false;
    QWidget::mouseReleaseEvent(event);
}

void TsuiForm::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && TitleBarRect().contains(event->position().toPoint()) &&
        MaximizeButtonVisible()) {
        ToggleMaximized();
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

bool TsuiForm::event(QEvent* event) {
    // The window passes its activation on to its children; the title bar shows it.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        update(TitleBarRect());
    return QWidget::event(event);
}

bool TsuiForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FWindow) {
        if (event->type() == QEvent::Resize)
            FollowWindow();
        else if (event->type() == QEvent::WindowStateChange)
            FMaximizeButton->update();
        else if (event->type() == QEvent::WindowTitleChange && FCaption.isEmpty())
            update(TitleBarRect());
    }
    return QWidget::eventFilter(watched, event);
}

void TsuiForm::FollowWindow() {
    // Fill the window unless a layout of the window places the frame.
    QWidget* framed = FWindow;
    if (framed == nullptr || parentWidget() != framed)
        return;
    if (const QLayout* layout = framed->layout(); layout != nullptr && layout->indexOf(this) >= 0)
        return;
    setGeometry(framed->rect());
}

void TsuiForm::ToggleMaximized() {
    QWidget* framed = window();
    if (framed->isMaximized())
        framed->showNormal();
    else
        framed->showMaximized();
}
