// The message box and the skinned message dialog it shows, on real windows: button order, focus and
// results by real clicks and keys, the title-bar close, the layout rules, wrapping, and the test seam.
// A few cases at the end cover the skinned controls the windows are built from.

#include "dialogs/sessionlogwindow.h"
#include "dialogs/velummessagebox.h"
#include "skin/skinstyle.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"
#include "skin/suiimagebutton.h"
#include "skin/suimessagedialog.h"
#include "skin/suiradiogroup.h"
#include "skin/suiwraplabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

namespace {

constexpr int kModalDeadlineMs = 15000;
constexpr int kActivationWaitMs = 3000;
constexpr TModalResult kForcedClose = -99;

struct TModalRun {
    TModalResult Result = mrNone;
    bool Appeared = false;
    bool Forced = false;
};

// Runs `show`, which opens a modal message dialog, and calls `act` once with the dialog when it is
// on screen. A dialog that `act` leaves open is closed after a deadline, so a fault cannot hang the
// test; the run then reports Forced.
TModalRun RunModal(const std::function<TModalResult()>& show,
                   const std::function<void(TsuiMessageDialog&)>& act) {
    TModalRun run;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<TsuiMessageDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        // On a real display the window manager activates the window a little later; keys go to it
        // only then.
        if (!run.Appeared && !dialog->isActiveWindow()) {
            // Without a window manager (Xvfb, Wine) nobody activates it: ask, and at last insist.
            if (clock.elapsed() < kActivationWaitMs) {
                dialog->activateWindow();
                return;
            }
            QApplication::setActiveWindow(dialog);
        }
        if (!run.Appeared) {
            run.Appeared = true;
            act(*dialog);
        } else if (clock.elapsed() > kModalDeadlineMs) {
            run.Forced = true;
            dialog->done(kForcedClose);
        }
    });
    poll.start();
    run.Result = show();
    return run;
}

// The widget keys go to: the application's focus, or, where the window system has not activated the
// dialog (Wine without a window manager), the child the dialog gives the focus to.
QWidget* KeyTarget() {
    if (QWidget* focus = QApplication::focusWidget())
        return focus;
    QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr ? modal->focusWidget() : nullptr;
}

QAbstractButton* ButtonOf(TsuiMessageDialog& dialog, int number) {
    return dialog.findChild<QAbstractButton*>(QStringLiteral("Button%1").arg(number));
}

void Click(QWidget* widget) {
    if (widget != nullptr)
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
}

// What a dialog looked like while it was open.
struct TSeenLayout {
    QSize Size;
    QPoint Centre;
    QPoint ScreenCentre;
    bool Frameless = false;
    QRect Text;
    int TextLines = 0;
    qreal WidestLine = 0;
    int TextHeightNeeded = 0;
    bool IconShown = false;
    QRect Icon;
    QList<QRect> Buttons; // shown ones, Button1 first
    QStringList Captions;
    QString Focused;
    QString Title;
};

TSeenLayout Look(TsuiMessageDialog& dialog) {
    TSeenLayout seen;
    seen.Size = dialog.size();
    seen.Centre = dialog.frameGeometry().center();
    seen.ScreenCentre = dialog.screen()->availableGeometry().center();
    seen.Frameless = dialog.windowFlags().testFlag(Qt::FramelessWindowHint);
    auto* label = dialog.findChild<TsuiWrapLabel*>(QStringLiteral("LabelText"));
    if (label != nullptr) {
        seen.Text = label->geometry();
        seen.TextLines = label->LineCount();
        seen.WidestLine = label->WidestLine(label->width());
        seen.TextHeightNeeded = label->TextHeight(label->width());
    }
    auto* icon = dialog.findChild<QLabel*>(QStringLiteral("ImageIcon"));
    seen.IconShown = icon != nullptr && icon->isVisible();
    if (seen.IconShown)
        seen.Icon = icon->geometry();
    for (int number = 1; number <= 3; ++number) {
        QAbstractButton* button = ButtonOf(dialog, number);
        if (button != nullptr && button->isVisible()) {
            seen.Buttons << button->geometry();
            seen.Captions << button->text();
        }
    }
    if (QWidget* focus = KeyTarget())
        seen.Focused = focus->objectName();
    seen.Title = dialog.windowTitle();
    return seen;
}

const QString kLongText = QStringLiteral(
    "The target did not answer the block command in time. Check the cable and the target, then retry "
    "the block or cancel the operation.");

enum TShowOperation { soText, soTextIcon, soOneButton, soTwoButtons, soThreeButtons };

} // namespace

class TMessageDialogTest : public QObject {
    Q_OBJECT

private slots:
    void logSaveGuards_data();
    void logSaveGuards();
    void cleanup();

    // The real dialog, driven by clicks and keys.
    void ButtonAnswers_data();
    void ButtonAnswers();
    void ClosingWithoutAButtonIsCancel_data();
    void ClosingWithoutAButtonIsCancel();
    void Layout_data();
    void Layout();
    void TextWraps_data();
    void TextWraps();
    void PropertiesPersistBetweenShows();

    // The test seam.
    void ResponderSeesWhatWouldBeShown_data();
    void ResponderSeesWhatWouldBeShown();
    void ShowTextKeepsIconAndCaptions();
    void ScopedResponderRestoresThePreviousOne();

    // The skinned controls the windows rely on.
    void CloseButtonHidesAtRunTime();
    void TitleBarDragsTheWindow();
    void InstallFramesAFormAroundItsWidgets();
    void ImageButtonModalResultClosesItsDialog();
    void RadioGroupSelection();
    void StyleSheetHasEveryColour();
};

void TMessageDialogTest::cleanup() {
    TVelumMessageBox::SetResponder({});
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
}

void TMessageDialogTest::ButtonAnswers_data() {
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");
    const QStringList retryCancel{QStringLiteral("Retry"), QStringLiteral("Cancel")};
    QTest::newRow("click Retry") << retryCancel << "Button1" << mrRetry;
    QTest::newRow("click Cancel") << retryCancel << "Button2" << mrCancel;
    QTest::newRow("Enter") << retryCancel << "Enter" << mrRetry;
    QTest::newRow("Tab then Enter") << retryCancel << "TabEnter" << mrCancel;
    QTest::newRow("click Ok") << QStringList{QStringLiteral("Ok")} << "Button1" << mrOk;
    QTest::newRow("keypad Enter on Ok") << QStringList{QStringLiteral("Ok")} << "KeypadEnter" << mrOk;
}

void TMessageDialogTest::ButtonAnswers() {
    QFETCH(QStringList, captions);
    QFETCH(QString, action);
    QFETCH(int, expected);
    TVelumMessageBox box(DeepBlue);
    TSeenLayout seen;
    const TModalRun run = RunModal(
        [&] {
            if (captions.size() == 1)
                return box.ShowOneButton(QStringLiteral("Program OK!"), QStringLiteral("Tervolt Message"),
                                         suiInformation, captions.at(0), mrOk);
            return box.ShowTwoButtons(QStringLiteral("No reply from the target."),
                                      QStringLiteral("Tervolt Error"), suiStop, captions.at(0), mrRetry,
                                      captions.at(1), mrCancel);
        },
        [&](TsuiMessageDialog& dialog) {
            seen = Look(dialog);
            if (action.endsWith(QLatin1String("Enter")) && action != QLatin1String("TabEnter")) {
                QTest::keyClick(KeyTarget(),
                                action == QLatin1String("Enter") ? Qt::Key_Return : Qt::Key_Enter);
            } else if (action == QLatin1String("TabEnter")) {
                QTest::keyClick(KeyTarget(), Qt::Key_Tab);
                QTest::keyClick(KeyTarget(), Qt::Key_Return);
            } else {
                Click(dialog.findChild<QWidget*>(action));
            }
        });
    QVERIFY(run.Appeared);
    QVERIFY2(!run.Forced, "the dialog stayed open");
    QCOMPARE(run.Result, expected);
    QCOMPARE(seen.Captions, captions);
    QCOMPARE(seen.Buttons.size(), captions.size());
    if (captions.size() == 2)
        QVERIFY2(seen.Buttons.at(0).x() < seen.Buttons.at(1).x(), "Retry must stand left of Cancel");
    QCOMPARE(seen.Focused, QStringLiteral("Button1"));
    QCOMPARE(seen.Title,
             captions.size() == 1 ? QStringLiteral("Tervolt Message") : QStringLiteral("Tervolt Error"));
}

void TMessageDialogTest::ClosingWithoutAButtonIsCancel_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("buttons");
    QTest::newRow("title bar close, Yes/No") << "close" << 2;
    QTest::newRow("title bar close, Ok") << "close" << 1;
    QTest::newRow("title bar close, no buttons") << "close" << 0;
    QTest::newRow("Escape, Yes/No") << "escape" << 2;
    QTest::newRow("window closed, Yes/No") << "window" << 2;
}

void TMessageDialogTest::ClosingWithoutAButtonIsCancel() {
    QFETCH(QString, how);
    QFETCH(int, buttons);
    TVelumMessageBox box(DeepBlue);
    const QString text = QStringLiteral("Are you sure?");
    const QString caption = QStringLiteral("Tervolt - Confirm Abort Operation");
    const TModalRun run = RunModal(
        [&] {
            if (buttons == 0)
                return box.ShowTextIcon(text, caption, suiHelp);
            if (buttons == 1)
                return box.ShowOneButton(text, caption, suiStop, QStringLiteral("Ok"), mrOk);
            return box.ShowTwoButtons(text, caption, suiStop, QStringLiteral("Yes"), mrYes,
                                      QStringLiteral("No"), mrNo);
        },
        [&](TsuiMessageDialog& dialog) {
            if (how == QLatin1String("close"))
                Click(dialog.Frame()->TitleButton(tbClose));
            else if (how == QLatin1String("escape"))
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.close();
        });
    QVERIFY(run.Appeared);
    QVERIFY(!run.Forced);
    QCOMPARE(run.Result, mrCancel);
}

void TMessageDialogTest::Layout_data() {
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("textLeft");
    QTest::newRow("icon, one button") << int(suiInformation) << 1 << 334 << 88;
    QTest::newRow("icon, two buttons") << int(suiStop) << 2 << 334 << 88;
    QTest::newRow("icon, three buttons") << int(suiWarning) << 3 << 334 << 88;
    QTest::newRow("icon, no buttons") << int(suiHelp) << 0 << 334 << 88;
    QTest::newRow("no icon, one button") << int(suiNone) << 1 << 270 << 24;
    QTest::newRow("no icon, two buttons") << int(suiNone) << 2 << 270 << 24;
    QTest::newRow("no icon, three buttons") << int(suiNone) << 3 << 334 << 24;
    QTest::newRow("no icon, no buttons") << int(suiNone) << 0 << 270 << 24;
    QTest::newRow("unknown icon type counts as none") << 9 << 2 << 270 << 24;
}

void TMessageDialogTest::Layout() {
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(int, width);
    QFETCH(int, textLeft);
    TsuiMessageDialog dialog;
    dialog.SetCaption(QStringLiteral("Tervolt Message"));
    dialog.SetText(QStringLiteral("Short."));
    dialog.SetIconType(static_cast<TsuiIconType>(icon));
    dialog.SetButtonCount(buttons);
    const QStringList captions{QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel")};
    for (int number = 1; number <= 3; ++number) {
        dialog.SetButtonCaption(number, captions.at(number - 1));
        dialog.SetButtonModalResult(number, number);
    }
    TSeenLayout seen;
    const TModalRun run = RunModal([&] { return dialog.ShowModal(); },
                                   [&](TsuiMessageDialog& shown) {
                                       seen = Look(shown);
                                       if (buttons > 0)
                                           Click(ButtonOf(shown, buttons));
                                       else
                                           shown.reject();
                                   });
    QVERIFY(run.Appeared);
    QVERIFY(!run.Forced);
    QCOMPARE(run.Result, buttons > 0 ? buttons : mrCancel);

    QCOMPARE(seen.Size.width(), width);
    QVERIFY(seen.Frameless);
    QVERIFY2((seen.Centre - seen.ScreenCentre).manhattanLength() <= 2,
             "the dialog must be centred on the screen");
    QCOMPARE(seen.Text.topLeft(), QPoint(textLeft, 64));
    QCOMPARE(seen.Text.width(), 225);
    const bool hasIcon = icon >= suiWarning && icon <= suiHelp;
    QCOMPARE(seen.IconShown, hasIcon);
    if (hasIcon)
        QCOMPARE(seen.Icon, QRect(24, 64, 42, 42));

    QCOMPARE(seen.Buttons.size(), buttons);
    QCOMPARE(seen.Captions, captions.mid(0, buttons));
    const int lowest = qMax(seen.Text.y() + seen.Text.height(), hasIcon ? 64 + 42 : 0);
    for (int i = 0; i < buttons; ++i) {
        const QRect button = seen.Buttons.at(i);
        QCOMPARE(button.size(), QSize(73, 25));
        QCOMPARE(button.y(), lowest + 20);
        QCOMPARE(button.x(), width - 97 - (buttons - 1 - i) * 93);
        QVERIFY(button.bottom() < seen.Size.height());
    }
    if (buttons > 0)
        QCOMPARE(seen.Focused, QStringLiteral("Button1"));
    QVERIFY(seen.Size.height() > lowest);
}

void TMessageDialogTest::TextWraps_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("minLines");
    QTest::addColumn<int>("maxLines");
    QTest::newRow("one short line") << "Program OK!" << int(suiInformation) << 1 << 1;
    QTest::newRow("explicit line break") << "Compare OK!\nAll blocks match." << int(suiInformation) << 2 << 2;
    QTest::newRow("CR LF line break") << "First\r\nSecond" << int(suiNone) << 2 << 2;
    QTest::newRow("long sentence") << kLongText << int(suiStop) << 3 << 100;
    QTest::newRow("long sentence, no icon") << kLongText << int(suiNone) << 3 << 100;
    QTest::newRow("word wider than the column") << QString(80, QLatin1Char('W')) << int(suiStop) << 2 << 100;
    QTest::newRow("markup is shown as text") << "<b>bold</b> &amp; <i>x</i>" << int(suiNone) << 1 << 1;
}

void TMessageDialogTest::TextWraps() {
    // Wine lays text out with its own fonts, whose line heights the label does not report as the
    // metrics do: the wrapping is checked on Linux.
    if (qEnvironmentVariableIsSet("WINEPREFIX"))
        QSKIP("text layout under Wine's own fonts");
    QFETCH(QString, text);
    QFETCH(int, icon);
    QFETCH(int, minLines);
    QFETCH(int, maxLines);
    TVelumMessageBox box(DeepBlue);
    TSeenLayout seen;
    QString shownText;
    const TModalRun run = RunModal(
        [&] {
            return box.ShowTwoButtons(text, QStringLiteral("Tervolt Error"), static_cast<TsuiIconType>(icon),
                                      QStringLiteral("Retry"), mrRetry, QStringLiteral("Cancel"), mrCancel);
        },
        [&](TsuiMessageDialog& dialog) {
            seen = Look(dialog);
            shownText = dialog.findChild<TsuiWrapLabel*>(QStringLiteral("LabelText"))->Text();
            Click(ButtonOf(dialog, 2));
        });
    QVERIFY(run.Appeared);
    QCOMPARE(run.Result, mrCancel);
    QCOMPARE(shownText, text);

    QCOMPARE(seen.Text.width(), 225);
    QVERIFY2(seen.WidestLine <= 225.0,
             qPrintable(QStringLiteral("a line is %1 px wide").arg(seen.WidestLine)));
    QVERIFY2(seen.TextLines >= minLines && seen.TextLines <= maxLines,
             qPrintable(QStringLiteral("%1 lines").arg(seen.TextLines)));
    // A text that is wider than the column takes at least that many lines.
    const QFontMetricsF metrics(box.Dialog()->font());
    int paragraphLines = 0;
    for (const QString& paragraph :
         QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split('\n'))
        paragraphLines += qMax(1, int(std::ceil(metrics.horizontalAdvance(paragraph) / 225.0)));
    QVERIFY(seen.TextLines >= paragraphLines);
    // Nothing is cut off, and the buttons keep 20 pixels below the text or the icon.
    QCOMPARE(seen.Text.height(), seen.TextHeightNeeded);
    QVERIFY(seen.Text.height() >= seen.TextLines * metrics.height() - 1);
    const int lowest = qMax(seen.Text.y() + seen.Text.height(), icon != suiNone ? 64 + 42 : 0);
    QCOMPARE(seen.Buttons.at(0).y(), lowest + 20);
    QCOMPARE(seen.Buttons.at(1).y(), lowest + 20);
    QVERIFY(seen.Size.height() > seen.Buttons.at(0).bottom());
}

void TMessageDialogTest::PropertiesPersistBetweenShows() {
    // The same box grows for a long text and shrinks back for a short one.
    TVelumMessageBox box(DeepBlue);
    QList<int> heights;
    for (const QString& text : {QStringLiteral("Short."), kLongText, QStringLiteral("Short.")}) {
        const TModalRun run = RunModal(
            [&] {
                return box.ShowOneButton(text, QStringLiteral("Tervolt Message"), suiNone,
                                         QStringLiteral("Ok"), mrOk);
            },
            [&](TsuiMessageDialog& dialog) {
                heights << dialog.height();
                Click(ButtonOf(dialog, 1));
            });
        QCOMPARE(run.Result, mrOk);
    }
    QCOMPARE(heights.size(), 3);
    QVERIFY(heights.at(1) > heights.at(0));
    QCOMPARE(heights.at(2), heights.at(0));
}

void TMessageDialogTest::ResponderSeesWhatWouldBeShown_data() {
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QList<int>>("results");
    QTest::newRow("ShowText") << int(soText) << int(suiNone) << QStringList{} << QList<int>{};
    QTest::newRow("ShowTextIcon") << int(soTextIcon) << int(suiWarning) << QStringList{} << QList<int>{};
    QTest::newRow("ShowOneButton") << int(soOneButton) << int(suiStop) << QStringList{"Ok"}
                                   << QList<int>{mrOk};
    QTest::newRow("ShowTwoButtons") << int(soTwoButtons) << int(suiWarning) << QStringList{"Yes", "No"}
                                    << QList<int>{mrYes, mrNo};
    QTest::newRow("ShowThreeButtons")
        << int(soThreeButtons) << int(suiHelp) << QStringList{"Yes", "No", "Cancel"}
        << QList<int>{mrYes, mrNo, mrCancel};
}

void TMessageDialogTest::ResponderSeesWhatWouldBeShown() {
    QFETCH(int, operation);
    QFETCH(int, icon);
    QFETCH(QStringList, captions);
    QFETCH(QList<int>, results);
    QList<TShownMessage> shown;
    bool dialogOpen = false;
    const TScopedMessageResponder responder([&](const TShownMessage& message) {
        shown << message;
        dialogOpen = QApplication::activeModalWidget() != nullptr;
        return TModalResult(42);
    });
    TVelumMessageBox box(BlueGlass);
    const QString text = QStringLiteral("Connection failure!\nCheck COM port settings and try again");
    const QString caption = QStringLiteral("Tervolt Error");
    const auto iconType = static_cast<TsuiIconType>(icon);
    TModalResult answer = mrNone;
    switch (operation) {
    case soText:
        answer = box.ShowText(text, caption);
        break;
    case soTextIcon:
        answer = box.ShowTextIcon(text, caption, iconType);
        break;
    case soOneButton:
        answer = box.ShowOneButton(text, caption, iconType, captions.at(0), results.at(0));
        break;
    case soTwoButtons:
        answer = box.ShowTwoButtons(text, caption, iconType, captions.at(0), results.at(0), captions.at(1),
                                    results.at(1));
        break;
    case soThreeButtons:
        answer = box.ShowThreeButtons(text, caption, iconType, captions.at(0), results.at(0), captions.at(1),
                                      results.at(1), captions.at(2), results.at(2));
        break;
    }
    QCOMPARE(answer, 42);
    QCOMPARE(shown.size(), 1);
    const TShownMessage& message = shown.at(0);
    QCOMPARE(message.Text, text);
    QCOMPARE(message.Caption, caption);
    QCOMPARE(int(message.IconType), icon);
    QCOMPARE(message.ButtonCaptions, captions);
    QCOMPARE(message.ButtonResults, results);
    QCOMPARE(message.UIStyle, BlueGlass);
    QVERIFY2(!dialogOpen, "the responder answers instead of the dialog");
    QVERIFY(!box.Dialog()->isVisible());
}

void TMessageDialogTest::ShowTextKeepsIconAndCaptions() {
    QList<TShownMessage> shown;
    const TScopedMessageResponder responder([&](const TShownMessage& message) {
        shown << message;
        return mrOk;
    });
    TVelumMessageBox box(DeepBlue);
    box.ShowTwoButtons(QStringLiteral("a"), QStringLiteral("A"), suiStop, QStringLiteral("Retry"), mrRetry,
                       QStringLiteral("Cancel"), mrCancel);
    box.ShowText(QStringLiteral("b"), QStringLiteral("B"));
    box.ShowTextIcon(QStringLiteral("c"), QStringLiteral("C"), suiHelp);
    box.ShowText(QStringLiteral("d"), QStringLiteral("D"));
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown.at(1).IconType, suiStop); // kept from ShowTwoButtons
    QVERIFY(shown.at(1).ButtonCaptions.isEmpty());
    QCOMPARE(shown.at(1).Text, QStringLiteral("b"));
    QCOMPARE(shown.at(3).IconType, suiHelp);
    // The captions stay in the dialog for a later two-button show to reuse.
    QCOMPARE(box.Dialog()->Button1Caption(), QStringLiteral("Retry"));
    QCOMPARE(box.Dialog()->Button2ModalResult(), mrCancel);
}

void TMessageDialogTest::ScopedResponderRestoresThePreviousOne() {
    QVERIFY(!TVelumMessageBox::HasResponder());
    {
        const TScopedMessageResponder outer([](const TShownMessage&) { return mrYes; });
        {
            const TScopedMessageResponder inner([](const TShownMessage&) { return mrNo; });
            TVelumMessageBox box(DeepBlue);
            QCOMPARE(box.ShowText(QStringLiteral("t"), QStringLiteral("c")), mrNo);
        }
        TVelumMessageBox box(DeepBlue);
        QCOMPARE(box.ShowText(QStringLiteral("t"), QStringLiteral("c")), mrYes);
    }
    QVERIFY(!TVelumMessageBox::HasResponder());
}

void TMessageDialogTest::CloseButtonHidesAtRunTime() {
    QWidget window;
    window.resize(300, 200);
    TsuiForm* frame =
        TsuiForm::Install(&window, QStringLiteral("Tervolt - 1.26"), tbControlBox | tbClose | tbMinimize);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget* close = frame->TitleButton(tbClose);
    QWidget* minimize = frame->TitleButton(tbMinimize);
    QVERIFY(close->isVisible());
    QVERIFY(!frame->TitleButton(tbMaximize)->isVisible());
    QVERIFY(minimize->isVisible());
    QVERIFY2(minimize->x() < close->x(), "minimize stands left of close");

    frame->SetCloseButtonVisible(false);
    QVERIFY(!close->isVisible());
    QVERIFY(!frame->CloseButtonVisible());
    QVERIFY(minimize->isVisible());
    QVERIFY2(minimize->geometry().right() > window.width() - 40,
             "the remaining button moves to the right edge");
    frame->SetCloseButtonVisible(true);
    QVERIFY(close->isVisible());
    Click(close);
    QTRY_VERIFY(!window.isVisible());
}

void TMessageDialogTest::TitleBarDragsTheWindow() {
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("a window manager moves the window itself on a real display");
    QWidget window;
    window.setFixedSize(240, 120);
    TsuiForm* frame = TsuiForm::Install(&window, QStringLiteral("Drag me"));
    window.move(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();
    const QPoint grip(60, TsuiForm::kTitleBarHeightPx / 2);
    QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, grip);
    QTest::mouseMove(frame, grip + QPoint(30, 20));
    QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, grip + QPoint(30, 20));
    QCOMPARE(window.pos(), start + QPoint(30, 20));

    // A press on the content area does not move it.
    const QPoint inside(60, 80);
    QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, inside);
    QTest::mouseMove(frame, inside + QPoint(30, 20));
    QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, inside + QPoint(30, 20));
    QCOMPARE(window.pos(), start + QPoint(30, 20));
}

void TMessageDialogTest::InstallFramesAFormAroundItsWidgets() {
    // As setupUi leaves a window: fixed size, one absolutely placed widget; and one with a layout.
    QWidget placed;
    placed.setFixedSize(200, 100);
    auto* edit = new TsuiEdit(&placed);
    edit->setGeometry(10, 20, 100, 22);
    QWidget laidOut;
    auto* layout = new QVBoxLayout(&laidOut);
    auto* button = new QPushButton(QStringLiteral("x"), &laidOut);
    layout->addWidget(button);
    laidOut.resize(200, 100);

    const QMargins frame = TsuiForm::FrameMargins();
    TsuiForm* placedFrame = TsuiForm::Install(&placed, QStringLiteral("Placed"));
    TsuiForm::Install(&laidOut, QStringLiteral("Laid out"));
    placed.show();
    laidOut.show();
    QVERIFY(QTest::qWaitForWindowExposed(&placed));
    QVERIFY(QTest::qWaitForWindowExposed(&laidOut));

    QCOMPARE(placed.size(), QSize(200 + frame.left() + frame.right(), 100 + frame.top() + frame.bottom()));
    QVERIFY(placed.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(edit->pos(), QPoint(10 + frame.left(), 20 + frame.top()));
    QCOMPARE(placedFrame->geometry(), placed.rect());
    QCOMPARE(placed.windowTitle(), QStringLiteral("Placed"));
    QVERIFY2(button->geometry().top() >= frame.top(), "a laid-out form keeps clear of the title bar");
    QVERIFY(laidOut.rect().marginsRemoved(frame).contains(button->geometry()));
}

void TMessageDialogTest::ImageButtonModalResultClosesItsDialog() {
    QDialog dialog;
    auto* ok = new TsuiImageButton(QStringLiteral("OK"), &dialog);
    ok->SetModalResult(mrOk);
    auto* connect = new TsuiImageButton(QStringLiteral("Connect"), &dialog);
    connect->move(0, 40);
    int handled = 0;
    QObject::connect(ok, &QAbstractButton::clicked, &dialog, [&] { ++handled; });
    QTimer::singleShot(0, &dialog, [&] {
        Click(connect); // no modal result: the dialog stays
        QVERIFY(dialog.isVisible());
        Click(ok);
    });
    QTimer::singleShot(kModalDeadlineMs, &dialog, [&] { dialog.done(kForcedClose); });
    QCOMPARE(dialog.exec(), mrOk);
    QCOMPARE(handled, 1);
    QCOMPARE(ok->cursor().shape(), Qt::PointingHandCursor);
}

void TMessageDialogTest::RadioGroupSelection() {
    TsuiRadioGroup group;
    group.SetCaption(QStringLiteral("Operation"));
    group.SetItems({QStringLiteral("Verify"), QStringLiteral("Program")});
    QSignalSpy clicked(&group, &QGroupBox::clicked);
    QSignalSpy changed(&group, &TsuiRadioGroup::ItemIndexChanged);
    QCOMPARE(group.ItemIndex(), -1);
    group.SetItemIndex(1);
    QCOMPARE(group.ItemIndex(), 1);
    QVERIFY(group.Button(1)->isChecked());
    QCOMPARE(clicked.count(), 0); // set in code: no click
    QCOMPARE(changed.count(), 1);

    group.show();
    QVERIFY(QTest::qWaitForWindowExposed(&group));
    Click(group.Button(0));
    QCOMPARE(group.ItemIndex(), 0);
    QCOMPARE(clicked.count(), 1);
    Click(group.Button(0)); // already selected: nothing changes
    QCOMPARE(clicked.count(), 1);

    group.SetItemIndex(7); // past the end: the last item
    QCOMPARE(group.ItemIndex(), 1);
    group.SetItemIndex(-5);
    QCOMPARE(group.ItemIndex(), -1);
    QVERIFY(!group.Button(0)->isChecked() && !group.Button(1)->isChecked());
    group.SetItemIndex(1);
    group.SetItems({QStringLiteral("Only")}); // the selection no longer exists
    QCOMPARE(group.ItemIndex(), -1);
    QCOMPARE(changed.last().at(0).toInt(), -1);
}

void TMessageDialogTest::StyleSheetHasEveryColour() {
    const QString sheet = SkinStyleSheet();
    QVERIFY(sheet.contains(QStringLiteral("TsuiEdit")));
    QVERIFY2(!sheet.contains(QLatin1Char('@')), "a colour name in deepblue.qss is not in the palette");
    QCOMPARE(SkinStyleSheet(Custom), sheet);
}

// The log's Save writes a regular file of its own choosing only: never the image, a device list, the
// settings file (even before it exists) or a device, and a file it replaces is replaced whole.
void TMessageDialogTest::logSaveGuards_data() {
    QTest::addColumn<QString>("target");  // $DIR is a fresh folder; image.hex and old.txt are in it
    QTest::addColumn<QString>("refusal"); // empty: written
    QTest::newRow("a new file") << "$DIR/log.txt" << QString();
    QTest::newRow("an older log, replaced") << "$DIR/old.txt" << QString();
    QTest::newRow("the image") << "$DIR/image.hex"
                               << "it is the image file";
    QTest::newRow("the settings file, not there yet") << "$DIR/settings.conf"
                                                      << "it is the settings file";
    QTest::newRow("a folder") << "$DIR"
                              << "not a regular file";
    // Links and /dev are Linux's (a Windows link is a file of its own).
    if (QSysInfo::kernelType() != QLatin1String("winnt")) {
        QTest::newRow("the image through a link") << "$DIR/link.hex"
                                                  << "it is the image file";
        QTest::newRow("a device") << "/dev/null"
                                  << "not a regular file";
    }
}

void TMessageDialogTest::logSaveGuards() {
    QFETCH(QString, target);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    target.replace(QStringLiteral("$DIR"), dir.path());
    const QString image = dir.filePath(QStringLiteral("image.hex"));
    QFile imageFile(image);
    QVERIFY(imageFile.open(QIODevice::WriteOnly) && imageFile.write(":00000001FF\n") > 0);
    imageFile.close();
    if (target.endsWith(QStringLiteral("link.hex")))
        QVERIFY(QFile::link(image, target));
    QFile old(dir.filePath(QStringLiteral("old.txt")));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(4096, 'x')) > 0);
    old.close();
    TFormSessionLog log;
    log.SetText(QStringLiteral("12:00  COM2  Program OK!"));
    log.SetTakenFiles(
        {{image, QStringLiteral("the image file")},
         {dir.filePath(QStringLiteral("settings.conf")), QStringLiteral("the settings file"), true}});
    log.SetSaveFileDialog([target](QWidget*) { return target; });
    QStringList shown;
    TScopedMessageResponder responder([&shown](const TShownMessage& message) {
        shown << message.Text;
        return message.ButtonResults.first();
    });
    QCOMPARE(log.Save(), refusal.isEmpty());
    QFile image2(image);
    QVERIFY(image2.open(QIODevice::ReadOnly));
    QCOMPARE(image2.readAll(), QByteArray(":00000001FF\n"));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("settings.conf"))));
    if (refusal.isEmpty()) {
        QFile written(target);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("12:00  COM2  Program OK!"));
        QVERIFY(shown.isEmpty());
    } else {
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(refusal), qPrintable(shown.first()));
    }
}

QTEST_MAIN(TMessageDialogTest)
#include "tst_messagedialog.moc"
