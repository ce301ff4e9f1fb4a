#include "skin/suimessagedialog.h"

#include "skin/skinstyle.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"
#include "skin/suiglyphs.h"
#include "skin/suiwraplabel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace {

bool IsPicture(TsuiIconType type) {
    return type >= suiWarning && type <= suiHelp;
}

bool IsButtonNumber(int number) {
    return number >= 1 && number <= TsuiMessageDialog::kMaxButtons;
}

} // namespace

TsuiMessageDialog::TsuiMessageDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setModal(true);
    FFrame = new TsuiForm(this);
    FFrame->setObjectName(QStringLiteral("Frame"));
    FFrame->SetTitleButtons(tbClose);

    FIcon = new QLabel(FFrame);
    FIcon->setObjectName(QStringLiteral("ImageIcon"));
    FIcon->setAlignment(Qt::AlignCenter);
    FLabel = new TsuiWrapLabel(FFrame);
    FLabel->setObjectName(QStringLiteral("LabelText"));
    for (int i = 0; i < kMaxButtons; ++i) {
        auto* button = new TsuiButton(FFrame);
        button->setObjectName(QStringLiteral("Button%1").arg(i + 1));
        button->setAutoDefault(true);
        connect(button, &QAbstractButton::clicked, this, [this, i] { done(FButtonResults.at(i)); });
        FButtons.at(i) = button;
    }
    FButtonCaptions = {tr("OK"), tr("Cancel"), tr("Ignore")};
    Arrange();
}

TsuiMessageDialog::~TsuiMessageDialog() = default;

void TsuiMessageDialog::SetCaption(const QString& caption) {
    FCaption = caption;
    FFrame->SetCaption(caption);
    setWindowTitle(caption);
}

void TsuiMessageDialog::SetText(const QString& text) {
    FText = text;
}

void TsuiMessageDialog::SetIconType(TsuiIconType iconType) {
    FIconType = iconType;
}

void TsuiMessageDialog::SetButtonCount(int count) {
    FButtonCount = qBound(0, count, kMaxButtons);
}

QString TsuiMessageDialog::ButtonCaption(int number) const {
    return IsButtonNumber(number) ? FButtonCaptions.at(number - 1) : QString();
}

void TsuiMessageDialog::SetButtonCaption(int number, const QString& caption) {
    if (IsButtonNumber(number))
        FButtonCaptions.at(number - 1) = caption;
}

TModalResult TsuiMessageDialog::ButtonModalResult(int number) const {
    return IsButtonNumber(number) ? FButtonResults.at(number - 1) : mrNone;
}

void TsuiMessageDialog::SetButtonModalResult(int number, TModalResult result) {
    if (IsButtonNumber(number))
        FButtonResults.at(number - 1) = result;
}

int TsuiMessageDialog::MaxTextHeight() const {
    // A text taller than the screen is cut rather than pushing the buttons off the screen.
    const QScreen* shownOn = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const int screenHeight = shownOn != nullptr ? shownOn->availableGeometry().height() : 768;
    const int chrome = kTextTopPx + kButtonGapPx + kButtonHeightPx + kBottomMarginPx + TsuiForm::kBorderPx;
    return qMax(fontMetrics().height(), screenHeight - chrome);
}

void TsuiMessageDialog::Arrange() {
    const bool hasIcon = IsPicture(FIconType);
    const int width = hasIcon || FButtonCount >= kMaxButtons ? kClientWidthPx : kClientWidthPx - kNarrowingPx;
    const int textLeft = hasIcon ? kTextLeftBesideIconPx : kTextLeftPx;

    FLabel->SetText(FText);
    const int textHeight = qMin(FLabel->TextHeight(kTextWidthPx), MaxTextHeight());
    FLabel->setGeometry(textLeft, kTextTopPx, kTextWidthPx, textHeight);
    int contentBottom = kTextTopPx + textHeight;

    FIcon->setVisible(hasIcon);
    if (hasIcon) {
        FIcon->setGeometry(kIconLeftPx, kTextTopPx, kIconSizePx, kIconSizePx);
        FIcon->setPixmap(MessageIconPixmap(FIconType, kIconSizePx, devicePixelRatioF()));
        contentBottom = qMax(contentBottom, kTextTopPx + kIconSizePx);
    } else {
        FIcon->clear();
    }

    const int buttonTop = contentBottom + kButtonGapPx;
    const int rightmostLeft = width - kRightmostButtonInsetPx;
    for (int i = 0; i < kMaxButtons; ++i) {
        TsuiButton* button = FButtons.at(i);
        const bool shown = i < FButtonCount;
        button->setVisible(shown);
        button->setDefault(i + 1 == DefaultButton() && shown);
        if (!shown)
            continue;
        button->setText(FButtonCaptions.at(i));
        const int left = rightmostLeft - (FButtonCount - 1 - i) * kButtonPitchPx;
        button->setGeometry(left, buttonTop, kButtonWidthPx, kButtonHeightPx);
    }
    const int height = (FButtonCount > 0 ? buttonTop + kButtonHeightPx : contentBottom) + kBottomMarginPx +
                       TsuiForm::kBorderPx;
    setFixedSize(width, height);
    FFrame->setGeometry(rect());
    if (FButtonCount > 0)
        FButtons.at(DefaultButton() - 1)->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void TsuiMessageDialog::CentreOnScreen() {
    ::CentreOnScreen(this, QGuiApplication::screenAt(QCursor::pos()));
}

TModalResult TsuiMessageDialog::ShowModal() {
    Arrange();
    CentreOnScreen();
    setResult(mrNone);
    return exec();
}

void TsuiMessageDialog::reject() {
    done(mrCancel);
}
