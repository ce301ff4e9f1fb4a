// Takes the main window's screenshots in docs/screenshots: the window with a target found and an
// image chosen, a Program run in progress, and the box that ends it; the Retry box with the board's
// answer below it, the COM settings with a list open, and the hint for a board that stays silent.
// Then the outcome of Program and Verify in one Start with what was done, a stopped Program that says
// what the FLASH holds, and the session log; Program and Verify under way on the one bar, an image
// error over the window, and an outcome that names the commands sent again. The board is the simulated one,
// paced like a 115200 baud line so that the run lasts long enough to be caught in the middle.
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/tervolt_mainshots docs/screenshots

#include "app/tervolt_mainform.h"
#include "dialogs/comm_interface.h"
#include "dialogs/sessionlogwindow.h"
#include "sim/simserver.h"
#include "skin/suicontrols.h"
#include "skin/suiimagebutton.h"
#include "skin/suimessagedialog.h"
#include "skin/suiradiogroup.h"
#include "tests/support/screenshot.h"
#include "tests/tst_mainwindow_fixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

constexpr unsigned kLineBaud = 115200;
constexpr int kImageBytes = 16 * 1024;
constexpr int kShotAtPercent = 45;
constexpr int kHighlightedRate = 14; // 256000 in the baud rate list

// A window and the popups over it in one picture: from the screen where there is one, else each
// widget's own painting put where it lies.
QPixmap GrabTogether(QWidget& window, const QList<QWidget*>& popups) {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    QRect area = window.frameGeometry();
    for (const QWidget* popup : popups)
        area = area.united(popup->frameGeometry());
    QScreen* screen = window.screen();
    if (QGuiApplication::platformName() == QLatin1String("xcb") && screen != nullptr)
        return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    QPixmap shot(area.size());
    shot.fill(Qt::black);
    QPainter painter(&shot);
    painter.drawPixmap(window.geometry().topLeft() - area.topLeft(), window.grab());
    for (QWidget* popup : popups)
        painter.drawPixmap(popup->geometry().topLeft() - area.topLeft(), popup->grab());
    return shot;
}

// The baud rate list open, one entry under the highlight, then Cancel.
bool ShootComList(TFormTervolt& form, const QDir& folder) {
    bool ok = false;
    TCommInterface* dialog = form.CommInterface();
    QTimer::singleShot(200, dialog, [&] {
        QComboBox* rates = dialog->ComboBoxBaudRate();
        rates->setFocus();
        rates->showPopup();
        QAbstractItemView* list = rates->view();
        list->setCurrentIndex(list->model()->index(kHighlightedRate, 0));
        QTimer::singleShot(300, dialog, [&, rates, list] {
            ok = SaveShot(GrabTogether(*dialog, {list->window()}), folder,
                          QStringLiteral("com-settings-list-open.png"));
            rates->hidePopup();
            dialog->BitBtnCancel()->click();
        });
    });
    form.BitBtnComSettingsClick();
    return ok;
}

// A block beyond the chip: the board refuses it, and the Retry box says so.
bool ShootBoardAnswer(TFormTervolt& form, const QDir& folder) {
    Control<TsuiEdit>(form, "EditStartAddress")->setText(QStringLiteral("1FFFFF"));
    form.EditStartAddressExit();
    bool shot = false;
    bool ok = false;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<TsuiMessageDialog*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        if (!shot && box->Text().contains(QStringLiteral("Address out of range"))) {
            shot = true;
            ok = SaveShot(GrabWindow(*box), folder, QStringLiteral("message-retry-board-answer.png"));
        }
        box->done(box->ButtonCount() == 2 ? mrCancel : mrOk); // the Retry box is cancelled
    });
    watcher.start();
    form.BitBtnStartClick();
    Control<TsuiEdit>(form, "EditStartAddress")->setText(QStringLiteral("8000"));
    form.EditStartAddressExit();
    return shot && ok;
}

// A port where nothing answers: after a few seconds the window says what to check.
bool ShootNoAnswerHint(TFormTervolt& form, const QDir& folder) {
    TScriptedBoard silent;
    AttachPort(form, silent.SlavePath());
    auto* hint = Control<QLabel>(form, "LabelHint");
    if (!WaitUntil([hint] { return hint->isVisible(); }, std::chrono::seconds(20))) {
        std::fprintf(stderr, "the no-answer hint did not come\n");
        return false;
    }
    const bool ok = SaveShot(GrabWindow(form), folder, QStringLiteral("main-no-answer-hint.png"));
    DetachPort(form);
    return ok;
}

// One Start whose outcome box is shot; with `stopAt`, Stop is clicked at that percentage and confirmed;
// with `verifyShot`, the window is shot once the Verify pass of Program+Verify is half done.
bool ShootOutcome(TFormTervolt& form, const QDir& folder, const QString& name, int stopAt,
                  const QString& verifyShot = QString()) {
    auto* gauge = Control<TsuiProgressBar>(form, "CGaugeProgressBar");
    bool stopped = false;
    bool shot = false;
    bool verifyShown = false;
    bool ok = false;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<TsuiMessageDialog*>(QApplication::activeModalWidget());
        if (box == nullptr && !verifyShot.isEmpty() && !verifyShown && gauge->isVisible() &&
            gauge->value() >= 75) {
            verifyShown = SaveShot(GrabWindow(form), folder, verifyShot);
        }
        if (box == nullptr) {
            if (stopAt > 0 && !stopped && gauge->isVisible() && gauge->value() >= stopAt) {
                stopped = true;
                // Not from inside this handler: the timer does not fire again while it runs.
                QTimer::singleShot(0, &form,
                                   [&form] { Control<TsuiImageButton>(form, "BitBtnStop")->click(); });
            }
            return;
        }
        if (box->ButtonCount() == 2) {
            box->done(mrYes);
            return;
        }
        if (!shot) {
            shot = true;
            ok = SaveShot(GrabWindow(*box), folder, name);
        }
        box->done(mrOk);
    });
    watcher.start();
    form.BitBtnStartClick();
    return shot && ok && (verifyShot.isEmpty() || verifyShown);
}

// The session log over the window, after the runs above.
bool ShootSessionLog(TFormTervolt& form, const QDir& folder) {
    bool ok = false;
    QTimer::singleShot(300, &form, [&] {
        auto* log = qobject_cast<TFormSessionLog*>(QApplication::activeModalWidget());
        if (log == nullptr)
            return;
        ok = SaveShot(GrabWindow(*log), folder, QStringLiteral("main-session-log.png"));
        log->accept();
    });
    form.BitBtnLogClick();
    return ok;
}

// A file that is no image, over the window as it stands: no run state behind the box.
bool ShootImageError(TFormTervolt& form, const QDir& folder, const QString& broken) {
    const QString kept = Control<TsuiEdit>(form, "EditFileName")->text();
    form.SetOpenFileDialog([broken](QWidget*, const QString&) { return broken; });
    form.BitBtnBrowseClick();
    bool ok = false;
    QTimer watcher;
    watcher.setInterval(100);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* box = qobject_cast<TsuiMessageDialog*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        if (box->ButtonCount() == 1)
            ok = SaveShot(GrabTogether(form, {box}), folder, QStringLiteral("main-image-error.png"));
        box->done(box->ButtonCount() == 2 ? mrYes : mrOk); // a format question is answered Yes
    });
    watcher.start();
    form.BitBtnStartClick();
    form.SetOpenFileDialog([kept](QWidget*, const QString&) { return kept; });
    form.BitBtnBrowseClick();
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    TPrivateSettings settings;
    QApplication application(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    MapAllPortsToMissingDevices();
    ClearStoredComSettings();

    TSimServer board(TSimConfig(), kLineBaud);
    std::string error;
    if (!board.Start(error)) {
        std::fprintf(stderr, "cannot start the simulated board: %s\n", error.c_str());
        return 1;
    }
    MapPort(2, QString::fromStdString(board.SlavePath()));

    TProgramDirectory programDirectory;
    QTemporaryDir images;
    // A raw binary image, so that the shots show the start address and the size option too.
    QDir(images.path()).mkpath(QStringLiteral("projects/boards/vf040b"));
    const QString image =
        QDir(images.path()).filePath(QStringLiteral("projects/boards/vf040b/firmware-2.4.rbf"));
    QByteArray content;
    for (int i = 0; i < kImageBytes; ++i)
        content.append(char(i * 7 + 3));
    QFile imageFile(image);
    if (!programDirectory.IsValid() || !imageFile.open(QIODevice::WriteOnly) ||
        imageFile.write(content) != content.size() || !imageFile.flush()) {
        std::fprintf(stderr, "cannot prepare the program directory or the image\n");
        return 1;
    }

    TFormTervolt form(programDirectory.Path());
    form.FormShow();
    QApplication::setActiveWindow(&form);
    if (!WaitUntil([&] { return form.FlashIdentified(); }, std::chrono::seconds(10))) {
        std::fprintf(stderr, "the simulated board was not identified\n");
        return 1;
    }
    Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->Button(1)->click();
    Control<TsuiEdit>(form, "EditStartAddress")->setText(QStringLiteral("8000"));
    form.EditStartAddressExit();
    form.SetOpenFileDialog([image](QWidget*, const QString&) { return image; });
    form.BitBtnBrowseClick();
    bool ok = SaveShot(GrabWindow(form), folder, QStringLiteral("main-target-found.png"));

    auto* gauge = Control<TsuiProgressBar>(form, "CGaugeProgressBar");
    bool runShot = false;
    bool boxShot = false;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!runShot && gauge->isVisible() && gauge->value() >= kShotAtPercent) {
            runShot = true;
            ok = SaveShot(GrabWindow(form), folder, QStringLiteral("main-programming.png")) && ok;
        }
        auto* box = qobject_cast<TsuiMessageDialog*>(QApplication::activeModalWidget());
        if (box != nullptr && !boxShot) {
            boxShot = true;
            ok = SaveShot(GrabWindow(*box), folder, QStringLiteral("main-program-ok.png")) && ok;
            box->done(mrOk);
        }
    });
    watcher.start();
    form.BitBtnStartClick();
    watcher.stop();
    if (!runShot || !boxShot) {
        std::fprintf(stderr, "the run ended before every shot was taken\n");
        return 1;
    }
    Control<QCheckBox>(form, "CheckBoxVerifyAfterProgram")->setChecked(true);
    ok = ShootOutcome(form, folder, QStringLiteral("main-outcome-details.png"), 0,
                      QStringLiteral("main-program-verify-progress.png")) &&
         ok;
    Control<QCheckBox>(form, "CheckBoxVerifyAfterProgram")->setChecked(false);
    ok = ShootOutcome(form, folder, QStringLiteral("main-outcome-stopped.png"), 40) && ok;
    ok = ShootSessionLog(form, folder) && ok;
    ok = ShootBoardAnswer(form, folder) && ok;
    const QString broken = QDir(images.path()).filePath(QStringLiteral("projects/boards/vf040b/notes.hex"));
    QFile brokenFile(broken);
    ok = brokenFile.open(QIODevice::WriteOnly) && brokenFile.write("Release notes, not an image\n") > 0 && ok;
    brokenFile.close();
    Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->Button(0)->click();
    ok = ShootImageError(form, folder, broken) && ok;
    Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->Button(1)->click();

    ok = ShootComList(form, folder) && ok;
    ok = ShootNoAnswerHint(form, folder) && ok;

    // A line that garbles every ninth answer, with two automatic retries chosen: the outcome counts them.
    TSimConfig noisy;
    noisy.Faults.push_back(TSimFault{fkGarble, 9});
    TSimServer noisyBoard(noisy, kLineBaud);
    if (!noisyBoard.Start(error)) {
        std::fprintf(stderr, "cannot start the simulated board: %s\n", error.c_str());
        return 1;
    }
    form.CommInterface()->SetAutoRetries(2);
    AttachPort(form, QString::fromStdString(noisyBoard.SlavePath()));
    ok = form.FlashIdentified() && ok;
    Control<QCheckBox>(form, "CheckBoxVerifyAfterProgram")->setChecked(false);
    ok = ShootOutcome(form, folder, QStringLiteral("main-outcome-retries.png"), 0) && ok;
    return ok ? 0 : 1;
}
