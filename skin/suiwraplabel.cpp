#include "skin/suiwraplabel.h"

#include <QPainter>
#include <QTextLayout>

#include <cmath>

namespace {

struct TLaidOut {
    int Lines = 0;
    qreal Height = 0;
    qreal Widest = 0;
};

// Lays `text` out at `width` into `layout` (which must outlive any drawing from it).
TLaidOut LayOut(QTextLayout& layout, int width) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    TLaidOut result;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(qMax(1, width));
        line.setPosition(QPointF(0, result.Height));
        result.Height += line.height();
        result.Widest = qMax(result.Widest, line.naturalTextWidth());
        ++result.Lines;
    }
    layout.endLayout();
    return result;
}

} // namespace

TsuiWrapLabel::TsuiWrapLabel(QWidget* parent) : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void TsuiWrapLabel::SetText(const QString& text) {
    FText = text;
    FLaidText = text;
    FLaidText.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    FLaidText.replace(QLatin1Char('\r'), QChar::LineSeparator);
    FLaidText.replace(QLatin1Char('\n'), QChar::LineSeparator);
    updateGeometry();
    update();
}

int TsuiWrapLabel::LineCount(int width) const {
    QTextLayout layout(FLaidText, font());
    return LayOut(layout, width).Lines;
}

int TsuiWrapLabel::TextHeight(int width) const {
    QTextLayout layout(FLaidText, font());
    return static_cast<int>(std::ceil(LayOut(layout, width).Height));
}

qreal TsuiWrapLabel::WidestLine(int width) const {
    QTextLayout layout(FLaidText, font());
    return LayOut(layout, width).Widest;
}

QSize TsuiWrapLabel::sizeHint() const {
    const int width = qMax(1, this->width());
    return QSize(width, TextHeight(width));
}

void TsuiWrapLabel::paintEvent(QPaintEvent*) {
    QTextLayout layout(FLaidText, font());
    LayOut(layout, width());
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    layout.draw(&p, QPointF(0, 0));
}
