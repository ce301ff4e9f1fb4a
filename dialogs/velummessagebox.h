#pragma once
// TVelumMessageBox: the one way the program's windows ask the user something or tell a result. It
// owns a TsuiMessageDialog, sets its properties for each question and returns the result of the
// button the user pressed (mrCancel when the box is closed otherwise).
//
//     TVelumMessageBox box(DeepBlue);
//     if (box.ShowTwoButtons(text, tr("Tervolt Error"), suiStop, tr("Retry"), mrRetry, tr("Cancel"),
//                            mrCancel) == mrCancel) ...
//
// Tests answer the box through SetResponder (or TScopedMessageResponder): while a responder is set,
// every show operation hands it what would have been shown and returns its answer instead of
// opening the dialog. The program never sets one. GUI tests that want the real dialog leave it unset
// and find the dialog as QApplication::activeModalWidget().

#include "skin/modalresult.h"
#include "skin/suitypes.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class TsuiMessageDialog;

// What a show operation put in front of the user.
struct TShownMessage {
    QString Text;
    QString Caption;
    TsuiIconType IconType = suiNone;
    QStringList ButtonCaptions;        // Button1 first; as many as the dialog shows
    QList<TModalResult> ButtonResults; // in the same order
    int DefaultButton = 1;             // the one Enter presses, counted from 1
    TsuiUIStyle UIStyle = DeepBlue;
};

using TMessageResponder = std::function<TModalResult(const TShownMessage&)>;

class TVelumMessageBox {
public:
    explicit TVelumMessageBox(TsuiUIStyle uiStyle);
    virtual ~TVelumMessageBox();
    TVelumMessageBox(const TVelumMessageBox&) = delete;
    TVelumMessageBox& operator=(const TVelumMessageBox&) = delete;

    // No buttons; icon and button settings stay as they are.
    virtual TModalResult ShowText(const QString& text, const QString& caption);
    // Sets the icon, then ShowText.
    virtual TModalResult ShowTextIcon(const QString& text, const QString& caption, TsuiIconType iconType);
    virtual TModalResult ShowOneButton(const QString& text, const QString& caption, TsuiIconType iconType,
                                       const QString& button1Caption, TModalResult button1Result);
    virtual TModalResult ShowTwoButtons(const QString& text, const QString& caption, TsuiIconType iconType,
                                        const QString& button1Caption, TModalResult button1Result,
                                        const QString& button2Caption, TModalResult button2Result);
    virtual TModalResult ShowThreeButtons(const QString& text, const QString& caption, TsuiIconType iconType,
                                          const QString& button1Caption, TModalResult button1Result,
                                          const QString& button2Caption, TModalResult button2Result,
                                          const QString& button3Caption, TModalResult button3Result);

    TsuiMessageDialog* Dialog() const { return FDialog.get(); }

    // Test seam: installs the responder that answers every box from now on (an empty one restores the
    // real dialog) and returns the one it replaces.
    static TMessageResponder SetResponder(TMessageResponder responder);
    static bool HasResponder();

protected:
    // Shows the dialog as its properties stand (or asks the responder) and returns the result.
    TModalResult Execute();
    // What the two- and three-button forms set in common, in the order the one-button form does.
    void SetFirstButtons(const QString& text, const QString& caption, TsuiIconType iconType,
                         const QString& button1Caption, TModalResult button1Result);

private:
    std::unique_ptr<TsuiMessageDialog> FDialog;
};

// Sets a responder for the lifetime of the object and restores the previous one afterwards.
class TScopedMessageResponder {
public:
    explicit TScopedMessageResponder(TMessageResponder responder)
        : FPrevious(TVelumMessageBox::SetResponder(std::move(responder))) {}
    ~TScopedMessageResponder() { TVelumMessageBox::SetResponder(std::move(FPrevious)); }
    TScopedMessageResponder(const TScopedMessageResponder&) = delete;
    TScopedMessageResponder& operator=(const TScopedMessageResponder&) = delete;

private:
    TMessageResponder FPrevious;
};
