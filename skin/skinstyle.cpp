#include "skin/skinstyle.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>

#include <mutex>

// Q_INIT_RESOURCE declares a function and must therefore stand outside any namespace.
void InitSkinResources() {
    static std::once_flag registered;
    std::call_once(registered, [] { Q_INIT_RESOURCE(deepblue); });
}

namespace {

struct TColorToken {
    const char* Name;
    QRgb Color;
};

// The names deepblue.qss may use after '@'.
constexpr TColorToken kColorTokens[] = {
    {"frameOuter", TsuiPalette::kFrameOuter},
    {"frame", TsuiPalette::kFrame},
    {"face", TsuiPalette::kFace},
    {"faceShade", TsuiPalette::kFaceShade},
    {"text", TsuiPalette::kText},
    {"textDisabled", TsuiPalette::kTextDisabled},
    {"accent", TsuiPalette::kAccent},
    {"accentLight", TsuiPalette::kAccentLight},
    {"accentDark", TsuiPalette::kAccentDark},
    {"edge", TsuiPalette::kEdge},
    {"groupEdge", TsuiPalette::kGroupEdge},
    {"field", TsuiPalette::kField},
    {"fieldReadOnly", TsuiPalette::kFieldReadOnly},
    {"buttonTop", TsuiPalette::kButtonTop},
    {"buttonBottom", TsuiPalette::kButtonBottom},
    {"buttonHoverTop", TsuiPalette::kButtonHoverTop},
    {"buttonHoverBottom", TsuiPalette::kButtonHoverBottom},
    {"buttonPressed", TsuiPalette::kButtonPressed},
    {"buttonDisabledTop", TsuiPalette::kButtonDisabledTop},
    {"buttonDisabledBottom", TsuiPalette::kButtonDisabledBottom},
    {"buttonText", TsuiPalette::kButtonText},
    {"buttonDisabledText", TsuiPalette::kButtonDisabledText},
    {"focusRing", TsuiPalette::kFocusRing},
};

QString FillPalette(const QString& sheet) {
    static const QRegularExpression token(QStringLiteral("@([A-Za-z]+)"));
    QString result;
    result.reserve(sheet.size());
    qsizetype done = 0;
    for (auto it = token.globalMatch(sheet); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        result += QStringView(sheet).mid(done, match.capturedStart() - done);
        const QString name = match.captured(1);
        bool found = false;
        for (const TColorToken& colorToken : kColorTokens) {
            if (name == QLatin1String(colorToken.Name)) {
                result += QColor(colorToken.Color).name();
                found = true;
                break;
            }
        }
        if (!found) {
            qWarning("deepblue.qss: unknown colour '@%s'", qPrintable(name));
            result += match.captured(0);
        }
        done = match.capturedEnd();
    }
    result += QStringView(sheet).mid(done);
    return result;
}

QString LoadDeepBlue() {
    InitSkinResources();
    QFile file(QStringLiteral(":/skin/deepblue.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("DeepBlue style sheet missing: %s", qPrintable(file.errorString()));
        return {};
    }
    return FillPalette(QString::fromUtf8(file.readAll()));
}

QPalette SkinPalette(QPalette palette) {
    const QColor face(TsuiPalette::kFace);
    const QColor text(TsuiPalette::kText);
    const QColor disabled(TsuiPalette::kTextDisabled);
    palette.setColor(QPalette::Window, face);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(TsuiPalette::kField));
    palette.setColor(QPalette::AlternateBase, QColor(TsuiPalette::kFieldReadOnly));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, face);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(TsuiPalette::kAccent));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(TsuiPalette::kField));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    return palette;
}

QFont SkinFontOfWeight(QFont::Weight weight) {
    QFont font;
    // The skin was drawn around Tahoma; the others keep its proportions where it is missing.
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(9);
    font.setWeight(weight);
    return font;
}

} // namespace

QString SkinStyleSheet(TsuiUIStyle /*style: every style is drawn as DeepBlue*/) {
    static const QString sheet = LoadDeepBlue();
    return sheet;
}

void ApplySkin(QWidget* window, TsuiUIStyle style) {
    if (window == nullptr)
        return;
    const QString sheet = SkinStyleSheet(style);
    // A program that skinned the whole application needs no second copy per window.
    if (qApp == nullptr || qApp->styleSheet() != sheet)
        window->setStyleSheet(sheet);
    window->setPalette(SkinPalette(window->palette()));
    window->setFont(SkinFont());
}

QFont SkinFont() {
    return SkinFontOfWeight(QFont::Normal);
}

QFont SkinTitleFont() {
    return SkinFontOfWeight(QFont::Bold);
}

void CentreOnScreen(QWidget* window, const QScreen* screen) {
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.left() + (area.width() - window->width()) / 2,
                 area.top() + (area.height() - window->height()) / 2);
}

void PaintPlateFocusRing(QPainter& painter, const QRectF& plate, qreal cornerRadius) {
    const qreal inset = 2.0 + TsuiPalette::kFocusRingWidthPx / 2.0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(TsuiPalette::kFocusRingOnPlate), TsuiPalette::kFocusRingWidthPx));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(plate.adjusted(inset, inset, -inset, -inset),
                            qMax<qreal>(1, cornerRadius - inset / 2),
                            qMax<qreal>(1, cornerRadius - inset / 2));
    painter.restore();
}
