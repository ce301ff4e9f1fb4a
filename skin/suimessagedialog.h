#pragma once
// TsuiMessageDialog: the skinned modal message box. Set its properties, then ShowModal() shows it
// centred on the screen and returns the result of the button pressed; the title bar's close button
// and Escape give mrCancel.
//
// Layout (client coordinates, pixels): 334 wide, or 270 without an icon and with fewer than three
// buttons; the text wraps in a 225-pixel column whose top is 64 below the top, starting at 88 beside
// a 42 x 42 icon at (24, 64), or at 24 without one; the 73 x 25 buttons stand 20 below the lower of
// text and icon, 93 apart, Button1 to Button3 from left to right with the rightmost one's left edge
// 97 from the right edge; Button1 has the focus, so Enter picks it; the height follows the text.

#include "skin/modalresult.h"
#include "skin/suitypes.h"

#include <QDialog>
#include <QString>

#include <array>

class QLabel;
class TsuiButton;
class TsuiForm;
class TsuiWrapLabel;

class TsuiMessageDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMaxButtons = 3;
    static constexpr int kClientWidthPx = 334;
    static constexpr int kNarrowingPx = 64;
    static constexpr int kTextTopPx = 64;
    static constexpr int kTextWidthPx = 225;
    static constexpr int kTextLeftPx = 24;
    static constexpr int kTextLeftBesideIconPx = 88;
    static constexpr int kIconLeftPx = 24;
    static constexpr int kIconSizePx = 42;
    static constexpr int kButtonWidthPx = 73;
    static constexpr int kButtonHeightPx = 25;
    static constexpr int kButtonGapPx = 20;            // below text and icon
    static constexpr int kButtonPitchPx = 93;          // left edge to left edge
    static constexpr int kRightmostButtonInsetPx = 97; // its left edge from the right edge
    static constexpr int kBottomMarginPx = 20;

    explicit TsuiMessageDialog(QWidget* parent = nullptr);
    ~TsuiMessageDialog() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    QString Text() const { return FText; }
    void SetText(const QString& text);
    TsuiIconType IconType() const { return FIconType; }
    void SetIconType(TsuiIconType iconType);
    // 0 to 3; other values are clamped.
    int ButtonCount() const { return FButtonCount; }
    void SetButtonCount(int count);
    TsuiUIStyle UIStyle() const { return FUIStyle; }
    void SetUIStyle(TsuiUIStyle style) { FUIStyle = style; }

    // Buttons are numbered 1 to 3; other numbers are ignored (empty caption, mrNone).
    QString ButtonCaption(int number) const;
    void SetButtonCaption(int number, const QString& caption);
    TModalResult ButtonModalResult(int number) const;
    // The button that Enter presses and that has the focus first (1 unless set; clamped to the shown ones).
    int DefaultButton() const { return qBound(1, FDefaultButton, qMax(1, FButtonCount)); }
    void SetDefaultButton(int number) { FDefaultButton = number; }
    void SetButtonModalResult(int number, TModalResult result);

    QString Button1Caption() const { return ButtonCaption(1); }
    void SetButton1Caption(const QString& caption) { SetButtonCaption(1, caption); }
    QString Button2Caption() const { return ButtonCaption(2); }
    void SetButton2Caption(const QString& caption) { SetButtonCaption(2, caption); }
    QString Button3Caption() const { return ButtonCaption(3); }
    void SetButton3Caption(const QString& caption) { SetButtonCaption(3, caption); }
    TModalResult Button1ModalResult() const { return ButtonModalResult(1); }
    void SetButton1ModalResult(TModalResult result) { SetButtonModalResult(1, result); }
    TModalResult Button2ModalResult() const { return ButtonModalResult(2); }
    void SetButton2ModalResult(TModalResult result) { SetButtonModalResult(2, result); }
    TModalResult Button3ModalResult() const { return ButtonModalResult(3); }
    void SetButton3ModalResult(TModalResult result) { SetButtonModalResult(3, result); }

    // Sizes and places everything for the present properties. ShowModal does it first.
    void Arrange();
    // Arranges, centres on the screen, runs the modal loop and returns the result.
    TModalResult ShowModal();

    TsuiForm* Frame() const { return FFrame; }

public slots:
    // Escape and the title bar's close button: mrCancel.
    void reject() override;

private:
    void CentreOnScreen();
    int MaxTextHeight() const;

    QString FCaption;
    QString FText;
    TsuiIconType FIconType = suiNone;
    int FButtonCount = 1;
    int FDefaultButton = 1;
    TsuiUIStyle FUIStyle = DeepBlue;
    std::array<QString, kMaxButtons> FButtonCaptions;
    std::array<TModalResult, kMaxButtons> FButtonResults{mrOk, mrCancel, mrIgnore};

    TsuiForm* FFrame = nullptr;
    QLabel* FIcon = nullptr;
    TsuiWrapLabel* FLabel = nullptr;
    std::array<TsuiButton*, kMaxButtons> FButtons{};
};
