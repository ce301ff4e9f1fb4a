#include "dialogs/velummessagebox.h"

#include "skin/suimessagedialog.h"

namespace {

TMessageResponder& Responder() {
    static TMessageResponder responder;
    return responder;
}

} // namespace

TVelumMessageBox::TVelumMessageBox(TsuiUIStyle uiStyle) : FDialog(std::make_unique<TsuiMessageDialog>()) {
    FDialog->SetUIStyle(uiStyle);
}

TVelumMessageBox::~TVelumMessageBox() = default;

TModalResult TVelumMessageBox::ShowText(const QString& text, const QString& caption) {
    FDialog->SetButtonCount(0);
    FDialog->SetText(text);
    FDialog->SetCaption(caption);
    return Execute();
}

TModalResult TVelumMessageBox::ShowTextIcon(const QString& text, const QString& caption,
                                            TsuiIconType iconType) {
    FDialog->SetIconType(iconType);
    return ShowText(text, caption);
}

TModalResult TVelumMessageBox::ShowOneButton(const QString& text, const QString& caption,
                                             TsuiIconType iconType, const QString& button1Caption,
                                             TModalResult button1Result) {
    FDialog->SetIconType(iconType);
    FDialog->SetButtonCount(1);
    FDialog->SetText(text);
    FDialog->SetCaption(caption);
    FDialog->SetButton1Caption(button1Caption);
    FDialog->SetButton1ModalResult(button1Result);
    return Execute();
}

void TVelumMessageBox::SetFirstButtons(const QString& text, const QString& caption, TsuiIconType iconType,
                                       const QString& button1Caption, TModalResult button1Result) {
    FDialog->SetIconType(iconType);
    FDialog->SetText(text);
    FDialog->SetCaption(caption);
    FDialog->SetButton1Caption(button1Caption);
    FDialog->SetButton1ModalResult(button1Result);
}

TModalResult TVelumMessageBox::ShowTwoButtons(const QString& text, const QString& caption,
                                              TsuiIconType iconType, const QString& button1Caption,
                                              TModalResult button1Result, const QString& button2Caption,
                                              TModalResult button2Result) {
    SetFirstButtons(text, caption, iconType, button1Caption, button1Result);
    FDialog->SetButton2Caption(button2Caption);
    FDialog->SetButton2ModalResult(button2Result);
    FDialog->SetButtonCount(2);
    return Execute();
}

TModalResult TVelumMessageBox::ShowThreeButtons(const QString& text, const QString& caption,
                                                TsuiIconType iconType, const QString& button1Caption,
                                                TModalResult button1Result, const QString& button2Caption,
                                                TModalResult button2Result, const QString& button3Caption,
                                                TModalResult button3Result) {
    SetFirstButtons(text, caption, iconType, button1Caption, button1Result);
    FDialog->SetButton2Caption(button2Caption);
    FDialog->SetButton2ModalResult(button2Result);
    FDialog->SetButton3Caption(button3Caption);
    FDialog->SetButton3ModalResult(button3Result);
    FDialog->SetButtonCount(3);
    return Execute();
}

TModalResult TVelumMessageBox::Execute() {
    // A copy: the responder may replace itself while it answers.
    const TMessageResponder responder = Responder();
    if (!responder)
        return FDialog->ShowModal();
    TShownMessage shown;
    shown.Text = FDialog->Text();
    shown.Caption = FDialog->Caption();
    shown.IconType = FDialog->IconType();
    shown.UIStyle = FDialog->UIStyle();
    shown.DefaultButton = FDialog->DefaultButton();
    for (int number = 1; number <= FDialog->ButtonCount(); ++number) {
        shown.ButtonCaptions << FDialog->ButtonCaption(number);
        shown.ButtonResults << FDialog->ButtonModalResult(number);
    }
    return responder(shown);
}

TMessageResponder TVelumMessageBox::SetResponder(TMessageResponder responder) {
    TMessageResponder previous = std::move(Responder());
    Responder() = std::move(responder);
    return previous;
}

bool TVelumMessageBox::HasResponder() {
    return static_cast<bool>(Responder());
}
