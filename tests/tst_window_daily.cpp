// The window for daily use, against the simulated board: a port that comes back after its device
// vanished, the format question, outcomes that say what the FLASH holds and what was done, the busy
// title bar, the lost line, choosing the image while no board answers, progress by bytes,
// Program+Verify in one Start, the remembered image and the status line. (The Stop question and its
// default are in tst_mainwindow_ops, why a chip was not identified in tst_mainwindow.)

#include "app/windowflashhost.h"
#include "app/windowsessionlog.h"
#include "dialogs/comm_interface.h"
#include "dialogs/hexfiles_box.h"
#include "files/systemfiles.h"
#include "protocol/comm_protocol.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"
#include "skin/suiimagebutton.h"
#include "skin/suiradiogroup.h"
#include "tests/support/hexwriter.h"
#include "tests/tst_mainwindow_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString kIdentified = QStringLiteral("COM2 \u00b7 115200 baud \u00b7 VELUM VF040B");

// The whole status. The label may show it shortened with an ellipsis, never cut under Log…, and then
// holds the whole text in its tooltip.
QString Status(const TFormTervolt& form) {
    const auto* label = Control<QLabel>(form, "LabelStatus");
    const QString& shown = label->text();
    const QString& whole = label->accessibleName();
    if (label->fontMetrics().horizontalAdvance(shown) > label->width())
        return QStringLiteral("cut: ") + shown;
    if (shown != whole && !label->toolTip().startsWith(whole))
        return QStringLiteral("not whole in the tooltip: ") + label->toolTip();
    return whole;
}

// A monitor that answers the ping and "P ID" until it is stuck in a loop: from then on it sends one
// answer's text again and again without pause. Served from a thread of its own.
class TRepeatingBoard {
public:
    explicit TRepeatingBoard(const QByteArray& text) : FBurst(text.repeated(256)), FCycle(text.size()) {
        FThread = std::thread([this] { Serve(); });
    }
    ~TRepeatingBoard() {
        FStop = true;
        FThread.join();
    }
    QString SlavePath() const { return FPty.SlavePath(); }
    void GetStuck() { FStuck = true; }

private:
    void Serve() {
        const int fd = FPty.MasterFd();
        QByteArray line;
        qsizetype offset = 0;
        while (!FStop) {
            const bool repeating = FStuck;
            pollfd watched{fd, short(POLLIN | (repeating ? POLLOUT : 0)), 0};
            if (::poll(&watched, 1, 50) <= 0)
                continue;
            if (watched.revents & (POLLHUP | POLLERR)) {
                std::this_thread::sleep_for(20ms); // nobody holds the line; wait to be stopped
                continue;
            }
            char received[256];
            const ssize_t count = (watched.revents & POLLIN) ? ::read(fd, received, sizeof received) : 0;
            for (ssize_t i = 0; i < count; ++i) {
                if (received[i] != '\r') {
                    line.append(received[i]);
                    continue;
                }
                const QByteArray result = line.isEmpty() ? QByteArray()
                                          : line == "P ID"
                                              ? QByteArray("DeviceID: VF040B Manufacturer: VELUM")
                                              : QByteArray("Unknown command");
                if (!repeating)
                    FPty.Write(line + "\r\n" + result + "\r\n>");
                line.clear();
            }
            if (repeating && (watched.revents & POLLOUT)) {
                const ssize_t sent = ::write(fd, FBurst.constData() + offset, size_t(FBurst.size() - offset));
                if (sent > 0)
                    offset = (offset + sent) % FCycle;
            }
        }
    }

    TPtyPair FPty;
    const QByteArray FBurst;
    const qsizetype FCycle;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FStuck{false};
    std::thread FThread;
};

} // namespace

class TWindowDailyTest : public TOneWindowTest {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void PortComesBackAfterItsDeviceVanished();
    void FormatMismatchIsAsked_data();
    void FormatMismatchIsAsked();
    void LostLineSaysWhatTheFlashHolds_data();
    void LostLineSaysWhatTheFlashHolds();
    void ImageIsChosenWhileNoBoardAnswers();
    void ProgramAndVerifyInOneStart();
    void IdentifiedBoardLeavesStartReady();
    void SlowChipQueryIsWaitedFor();
    void ImageErrorStartsNoRun();
    void TimeLeftFromTheTransferAlone_data();
    void TimeLeftFromTheTransferAlone();
    void ChoicesAreRemembered_data();
    void ChoicesAreRemembered();
    void FloodingBoardLosesTheLine_data();
    void FloodingBoardLosesTheLine();

private:
    QString WriteImage(const QString& name, const TRecords& records);
};

void TWindowDailyTest::initTestCase() {
    QVERIFY(OpenWindow());
}

void TWindowDailyTest::cleanup() {
    MapPort(2, MissingDevicePath(2));
    ResetChoices(*FForm);
}

void TWindowDailyTest::cleanupTestCase() {
    CloseWindow();
}

QString TWindowDailyTest::WriteImage(const QString& name, const TRecords& records) {
    const QString path = ImagePath(name);
    return WriteIntelHexFile(path, records) ? path : QString();
}

// Fault 1 and feature 4: Connect is offered again, and the port is reopened by itself once the
// adapter is back; the status line says what goes on.
void TWindowDailyTest::PortComesBackAfterItsDeviceVanished() {
    auto board = StartSimBoard();
    Attach(*board);
    QCOMPARE(Status(*FForm), kIdentified);
    ChooseFile(WriteImage(QStringLiteral("vanish.hex"), Records(0, 400, 16)));
    QVERIFY(Control<TsuiImageButton>(*FForm, "BitBtnStart")->isEnabled());
    TMessageRecorder boxes;
    board.reset(); // the adapter is pulled out
    QTRY_COMPARE_WITH_TIMEOUT(Control<QLabel>(*FForm, "LabelConnect")->text(), QStringLiteral("Disconnected"),
                              3000);
    QVERIFY(!FForm->PortOpen());
    QVERIFY(!Control<TsuiImageButton>(*FForm, "BitBtnStart")->isEnabled());
    QVERIFY(!Control<TsuiImageButton>(*FForm, "BitBtnInit")->isEnabled());
    QVERIFY(!FForm->AutoIdentifierTimer()->isActive());
    QCOMPARE(Status(*FForm), QStringLiteral("COM2 has gone away; trying to reopen it every 1.5 s"));
    QVERIFY(FForm->ReconnectTimer()->isActive());
    TCommInterface* dialog = FForm->CommInterface();
    QTimer::singleShot(0, dialog, [dialog] {
        QVERIFY(dialog->BitBtnConnect()->isEnabled());
        QVERIFY(!dialog->BitBtnDisconnect()->isEnabled());
        dialog->BitBtnOK()->click();
    });
    FForm->BitBtnComSettingsClick();
    QVERIFY2(FForm->ReconnectTimer()->isActive(), "OK with the port still gone keeps waiting for it");

    auto back = StartSimBoard(); // plugged in again, under the same name
    MapPort(2, QString::fromStdString(back->SlavePath()));
    QTRY_VERIFY_WITH_TIMEOUT(FForm->FlashIdentified(), 8000);
    QCOMPARE(Control<QLabel>(*FForm, "LabelConnect")->text(), QStringLiteral("Connected"));
    QCOMPARE(Status(*FForm), kIdentified);
    // Each open resolves the name anew: the tooltip names the device this one opened.
    QVERIFY2(Control<QLabel>(*FForm, "LabelStatus")
                 ->toolTip()
                 .contains(QStringLiteral("COM2 opens ") + QString::fromStdString(back->SlavePath())),
             qPrintable(Control<QLabel>(*FForm, "LabelStatus")->toolTip()));
    QVERIFY(!FForm->ReconnectTimer()->isActive());
    QVERIFY(boxes.Shown.isEmpty());
}

// Fault 2: a format that does not fit the file is asked about, No by default; the third column is
// the question, empty when none may be asked.
void TWindowDailyTest::FormatMismatchIsAsked_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // "hex": Intel HEX records; else the file's bytes
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("question");
    QTest::addColumn<int>("answer");
    const QString hexAsBinary =
        QStringLiteral("The file looks like Intel HEX but Binary is chosen. Program it as Binary?");
    const QByteArray raw(64, '\x5A');
    QFile elfFile(QStringLiteral(TERVOLT_SOURCE_DIR "/tests/corpus/image/elf-valid-32le-bss.elf"));
    QVERIFY(elfFile.open(QIODevice::ReadOnly));
    const QByteArray elf = elfFile.readAll();
    QTest::newRow("hex as binary, No") << "sample.hex" << QByteArray("hex") << 1 << hexAsBinary << int(mrNo);
    QTest::newRow("hex text under another name")
        << "image.dat" << QByteArray("hex") << 1 << hexAsBinary << int(mrNo);
    QTest::newRow("bin as intel") << "image.bin" << raw << 0
                                  << QStringLiteral(
                                         "The file looks like a binary image but Intel Extended is "
                                         "chosen. Program it as Intel Extended?")
                                  << int(mrNo);
    QTest::newRow("hex as binary, Yes")
        << "sample.hex" << QByteArray("hex") << 1 << hexAsBinary << int(mrYes);
    QTest::newRow("hex as intel") << "sample.hex" << QByteArray("hex") << 0 << QString() << int(mrNone);
    // Auto-detect reads a file named .bin raw: one that holds another format is asked about first.
    const QString elfNamedBinary =
        QStringLiteral("The file looks like ELF but its name says binary. Program it as Binary?");
    QTest::newRow("elf named .bin, detected, No") << "fw.bin" << elf << 2 << elfNamedBinary << int(mrNo);
    QTest::newRow("elf named .bin, detected, Yes") << "fw.bin" << elf << 2 << elfNamedBinary << int(mrYes);
    QTest::newRow("elf as binary")
        << "fw.elf" << elf << 1
        << QStringLiteral("The file looks like ELF but Binary is chosen. Program it as Binary?") << int(mrNo);
    QTest::newRow("hex named .bin, detected")
        << "fw.bin" << QByteArray("hex") << 2
        << QStringLiteral("The file looks like Intel HEX but its name says binary. Program it as Binary?")
        << int(mrNo);
    QTest::newRow("raw .bin, detected") << "fw.bin" << raw << 2 << QString() << int(mrNone);
    // Only a whole image outweighs the name, as the reader weighs it: raw bytes may begin with ':'.
    QTest::newRow("raw .bin beginning ':', detected")
        << "fw.bin" << QByteArray(":" + raw) << 2 << QString() << int(mrNone);
}

void TWindowDailyTest::FormatMismatchIsAsked() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, format);
    QFETCH(QString, question);
    QFETCH(int, answer);
    auto board = StartSimBoard();
    Attach(*board);
    const TRecords records = Records(0, 64, 1);
    QString path = ImagePath(name);
    if (content == "hex") {
        QVERIFY(WriteIntelHexFile(path, records));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    ChooseFile(path);
    QTest::mouseClick(Control<TsuiRadioGroup>(*FForm, "RadioGroupHexFileFormat")->Button(format),
                      Qt::LeftButton);
    const std::uint64_t before = board->Stats().Commands;
    TMessageRecorder boxes([answer](const TShownMessage& message) {
        return message.ButtonResults.size() == 2 ? TModalResult(answer) : message.ButtonResults.first();
    });
    ClickStart();
    QVERIFY(!boxes.Shown.isEmpty());
    if (question.isEmpty()) {
        QVERIFY(!boxes.Texts().first().contains(QStringLiteral("looks like")));
        return;
    }
    QCOMPARE(boxes.Shown.first().Text, question);
    QCOMPARE(boxes.Shown.first().IconType, suiWarning);
    QCOMPARE(boxes.Shown.first().ButtonCaptions, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    QCOMPARE(boxes.Shown.first().DefaultButton, 2);
    if (answer == mrNo) {
        QCOMPARE(boxes.Shown.size(), 1);
        QCOMPARE(board->Stats().Commands, before + 1); // Start's chip query, nothing sent
        QCOMPARE(Programmed(*board), std::size_t(0));
    } else {
        QVERIFY(boxes.Shown.last().Text.startsWith(QStringLiteral("Program OK!\n")));
        QVERIFY(Programmed(*board) > 0);
    }
}

// Faults 3, 5, 6 and 9: the line goes away during a Program. The box says so with OK only and the
// status is "Disconnected" already; the bar stands at the share of bytes confirmed (of the data, not
// of the address span) and does not move after; the outcome warns and says what the FLASH holds.
void TWindowDailyTest::LostLineSaysWhatTheFlashHolds_data() {
    QTest::addColumn<int>("answered"); // commands answered before the line goes: ping, ID, ID, INIT, blocks
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("flashState");
    QTest::newRow("before the erase is answered")
        << 3 << 0 << QStringLiteral("The FLASH may have been erased; nothing was programmed.");
    // The block in flight when the line went may have been written: the outcome names it.
    QTest::newRow("after the erase")
        << 4 << 0 << QStringLiteral("The FLASH was erased; nothing was confirmed. The block up to 0x0000");
    // Two regions of 960 bytes, 256 KiB apart: after the first one half of the data is on the board.
    QTest::newRow("after the first region")
        << 9 << 50 << QStringLiteral("The FLASH holds the image only up to 0x0003BF. The block up to 0x0400");
}

void TWindowDailyTest::LostLineSaysWhatTheFlashHolds() {
    QFETCH(int, answered);
    QFETCH(int, percent);
    QFETCH(QString, flashState);
    TSimConfig config;
    config.Faults.push_back(TSimFault{fkHangupAfter, std::uint32_t(answered)});
    auto board = StartSimBoard(config);
    Attach(*board);
    TRecords records = Records(0x000000, 960, 1);
    const TRecords second = Records(0x040000, 960, 2);
    records.insert(records.end(), second.begin(), second.end());
    ChooseFile(WriteImage(QStringLiteral("regions.hex"), records));

    auto* gauge = Control<TsuiProgressBar>(*FForm, "CGaugeProgressBar");
    auto* close = FForm->Frame()->TitleButton(tbClose);
    auto* minimize = FForm->Frame()->TitleButton(tbMinimize);
    const QRect minimizeIdle = minimize->geometry();
    const QString title = FForm->windowTitle();
    QString connectedAtBox;
    int barAtBox = -1;
    bool titleBarKept = false;
    TMessageRecorder boxes([&](const TShownMessage& message) {
        connectedAtBox = Control<QLabel>(*FForm, "LabelConnect")->text();
        barAtBox = gauge->value();
        titleBarKept = close->isVisible() && !close->isEnabled() && minimize->geometry() == minimizeIdle;
        return message.ButtonResults.first();
    });
    const std::uint64_t timeOutsBefore = FForm->CommInterface()->TimeOuts();
    ClickStart();
    QVERIFY2(FForm->CommInterface()->TimeOuts() == timeOutsBefore,
             "a lost line fails every command at once, not after its time-out");
    // No Retry for a device that is gone: one box, OK only, that says so and what the FLASH holds.
    QCOMPARE(boxes.Shown.size(), 1);
    const TShownMessage& outcome = boxes.Shown.first();
    QCOMPARE(outcome.ButtonCaptions, QStringList{QStringLiteral("Ok")});
    QVERIFY2(outcome.Text.startsWith(
                 QStringLiteral("Communication failure! The device hung up. The line was lost.\n"
                                "Program operation canceled\n") +
                 flashState),
             qPrintable(outcome.Text));
    QCOMPARE(connectedAtBox, QStringLiteral("Disconnected"));
    QCOMPARE(barAtBox, percent);
    QVERIFY2(titleBarKept, "Close shown but disabled, Minimize where it was");
    QCOMPARE(std::size_t(barAtBox) * 1920 / 100, Programmed(*board));
    QCOMPARE(outcome.IconType, suiWarning);
    QVERIFY(close->isEnabled());
    QCOMPARE(FForm->windowTitle(), title);
    // Back in a usable state, and honest about the line.
    QVERIFY(!FForm->Busy());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(Control<QLabel>(*FForm, "LabelConnect")->text(), QStringLiteral("Disconnected"));
    QVERIFY(!Control<TsuiImageButton>(*FForm, "BitBtnStart")->isEnabled());
    QVERIFY(Control<TsuiImageButton>(*FForm, "BitBtnComSettings")->isEnabled());
}

// Fault 8: Browse, the operation and drops work while the port is open and nothing answers.
void TWindowDailyTest::ImageIsChosenWhileNoBoardAnswers() {
    {
        auto earlier = StartSimBoard(); // its chip must not be named for the silent board that follows
        Attach(*earlier);
    }
    TScriptedBoard silent;
    QVERIFY(silent.IsOpen());
    TMessageRecorder boxes;
    AttachPort(*FForm, silent.SlavePath());
    QVERIFY(!FForm->TargetFound());
    QCOMPARE(Status(*FForm), QStringLiteral("COM2 \u00b7 115200 baud \u00b7 no board answers yet"));
    QVERIFY(Control<TsuiImageButton>(*FForm, "BitBtnBrowse")->isEnabled());
    QVERIFY(Control<TsuiRadioGroup>(*FForm, "RadioGroupOperation")->isEnabled());
    const QString chosen = WriteImage(QStringLiteral("chosen.hex"), Records(0, 32, 1));
    FForm->SetOpenFileDialog([chosen](QWidget*, const QString&) { return chosen; });
    QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnBrowse"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Control<TsuiEdit>(*FForm, "EditFileName")->text(), chosen, 3000);
    FForm->SetOpenFileDialog({});

    // Dropped while a ping waits for its answer.
    const QString dropped = WriteImage(QStringLiteral("dropped.hex"), Records(0, 32, 2));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(dropped)});
    bool droppedInWait = false;
    QTimer dropper;
    QObject::connect(&dropper, &QTimer::timeout, [&] {
        if (droppedInWait ||
            Control<QLabel>(*FForm, "LabelMode")->text() != QStringLiteral("Identifying target..."))
            return;
        droppedInWait = true;
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FForm.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(FForm.get(), &drop);
    });
    dropper.start(5);
    QTRY_VERIFY_WITH_TIMEOUT(droppedInWait, 3000);
    dropper.stop();
    QCOMPARE(Control<TsuiEdit>(*FForm, "EditFileName")->text(), dropped);
    QVERIFY(!Control<TsuiImageButton>(*FForm, "BitBtnStart")->isEnabled());
    QVERIFY(boxes.Shown.isEmpty());
}

// Features 1 and 3: one Start programs and verifies; one box says both and what was done.
void TWindowDailyTest::ProgramAndVerifyInOneStart() {
    auto board = StartSimBoard();
    Attach(*board);
    ChooseFile(WriteImage(QStringLiteral("both.hex"), Records(0x1000, 2048, 4)));
    auto* verifyAfter = Control<QCheckBox>(*FForm, "CheckBoxVerifyAfterProgram");
    QVERIFY(!verifyAfter->isChecked() && verifyAfter->isEnabled());
    verifyAfter->setChecked(true);
    TMessageRecorder boxes;
    QApplication::setActiveWindow(FForm.get());
    QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    // One bar over both passes: it never goes back, the title says what it says, and the Verify
    // pass starts where the Program pass ended.
    auto* gauge = Control<TsuiProgressBar>(*FForm, "CGaugeProgressBar");
    QStringList seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!gauge->isVisible())
            return;
        const QString mode = Control<QLabel>(*FForm, "LabelMode")->text();
        const QString state = QStringLiteral("%1 %2").arg(mode).arg(gauge->value());
        if (FForm->windowTitle() != QStringLiteral("%1 % \u2013 Tervolt").arg(gauge->value()))
            seen << QStringLiteral("title %1 at %2").arg(FForm->windowTitle(), state);
        else if (seen.isEmpty() || seen.last() != state)
            seen << state;
    });
    watch.start(1);
    QTest::keyClick(FForm.get(), Qt::Key_F5); // Start; returns when the run has ended
    watch.stop();
    int previous = 0;
    for (const QString& state : std::as_const(seen)) {
        const int percent = state.section(u' ', -1).toInt();
        QVERIFY2(!state.startsWith(QStringLiteral("title")) && percent >= previous &&
                     (!state.startsWith(QStringLiteral("Verifying")) || percent >= 50),
                 qPrintable(seen.join(u'|')));
        previous = percent;
    }
    QVERIFY2(seen.size() > 2 && seen.last().startsWith(QStringLiteral("Verifying")),
             qPrintable(seen.join(u'|')));
    QCOMPARE(boxes.Shown.size(), 1);
    const QRegularExpression told(QStringLiteral("^Program OK!\nCompare OK!\n2,048 bytes in \\d+\\.\\d s "
                                                 "\\([\\d,]+ B/s\\)\nCOM2 at 115200 baud\nVELUM VF040B$"));
    QVERIFY2(told.match(boxes.Shown.first().Text).hasMatch(), qPrintable(boxes.Shown.first().Text));
    QCOMPARE(boxes.Shown.first().IconType, suiInformation);
    QCOMPARE(Programmed(*board), std::size_t(2048));
    // The session log keeps the run and the trace of its last pass, as tervolt-cli --trace writes it.
    const QString logged = FForm->SessionLog().Runs().last();
    QVERIFY2(logged.contains(QStringLiteral("  Program+Verify  ")) &&
                 logged.contains(QStringLiteral("both.hex")) &&
                 logged.contains(QStringLiteral("Program OK! Compare OK!")),
             qPrintable(logged));
    QVERIFY2(logged.contains(QStringLiteral("(2,048 bytes programmed and 2,048 verified in ")),
             qPrintable(logged));
    // The trace holds both passes.
    const QString trace = FForm->SessionLog().Trace();
    QVERIFY(trace.contains(QStringLiteral("  COM2  >  P PROG ")) &&
            trace.contains(QStringLiteral("  COM2  >  P VERIFY ")));

    // Verify after programming means nothing for Verify.
    QTest::mouseClick(Control<TsuiRadioGroup>(*FForm, "RadioGroupOperation")->Button(0), Qt::LeftButton);
    QVERIFY(!verifyAfter->isEnabled());
}

// Once a board is identified and an image chosen, Enter starts the next run: Init (as after a power
// cycle or a line loss) leaves the focus on Start, not where the last click was.
void TWindowDailyTest::IdentifiedBoardLeavesStartReady() {
    auto board = StartSimBoard();
    Attach(*board);
    const QString path = ImagePath(QStringLiteral("ready.hex"));
    QVERIFY(WriteIntelHexFile(path, Records(0, 64, 1)));
    ChooseFile(path);
    FForm->activateWindow();
    QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnInit"), Qt::LeftButton);
    QTRY_VERIFY(Control<TsuiImageButton>(*FForm, "BitBtnStart")->hasFocus());
}

// A monitor that takes 1.5 s over the chip query is identified at once, as a run would wait for it;
// a query that failed is in the session log.
void TWindowDailyTest::SlowChipQueryIsWaitedFor() {
    TSimConfig config;
    config.Faults.push_back(TSimFault{fkLate, 2, 1500}); // the ping, then "P ID"
    auto board = StartSimBoard(config);
    TMessageRecorder boxes;
    AttachPort(*FForm, QString::fromStdString(board->SlavePath()));
    QVERIFY2(FForm->FlashIdentified() && boxes.Shown.isEmpty(), qPrintable(boxes.Texts().join(u'|')));

    TSimConfig unlisted;
    unlisted.DeviceId = "VF999Z";
    auto other = StartSimBoard(unlisted);
    AttachPort(*FForm, QString::fromStdString(other->SlavePath()));
    QVERIFY(!FForm->FlashIdentified());
    const QString logged = FForm->SessionLog().Runs().last();
    QVERIFY2(
        logged.contains(QStringLiteral("  Identify  FLASH not identified. The board reports VELUM VF999Z")),
        qPrintable(logged));
}

// A file that cannot be read ends before anything of a run is shown: the box comes up over the
// window as it was, Start in its place.
void TWindowDailyTest::ImageErrorStartsNoRun() {
    auto board = StartSimBoard();
    Attach(*board);
    const QString path = ImagePath(QStringLiteral("broken.hex"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(":10000000ZZ\n") > 0);
    file.close();
    ChooseFile(path);
    QString lookAtBox;
    SetHexFileErrorHook([&](const QString& text, const QString&) {
        lookAtBox = QStringLiteral("%1|start %2|stop %3|bar %4|mode '%5'")
                        .arg(text)
                        .arg(Control<QWidget>(*FForm, "BitBtnStart")->isVisible())
                        .arg(Control<QWidget>(*FForm, "BitBtnStop")->isVisible())
                        .arg(Control<QWidget>(*FForm, "CGaugeProgressBar")->isVisible())
                        .arg(Control<QLabel>(*FForm, "LabelMode")->text());
    });
    ClickStart();
    SetHexFileErrorHook({});
    QCOMPARE(lookAtBox, QStringLiteral("Illegal record in file.|start 1|stop 0|bar 0|mode ''"));
}

// The estimate counts the transfer's own time (the caller leaves out the time a question was up) and
// is not shown while it cannot be known.
void TWindowDailyTest::TimeLeftFromTheTransferAlone_data() {
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<qint64>("questionsMs"); // how long a Stop or Retry question was up meanwhile
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("total");
    QTest::addColumn<qint64>("left"); // -1: none shown
    QTest::newRow("a third done in 4 s") << qint64(4000) << qint64(0) << 100 << 300 << qint64(8000);
    QTest::newRow("a third done in 4 s, a question up 10 s")
        << qint64(14000) << qint64(10000) << 100 << 300 << qint64(8000);
    QTest::newRow("rate not settled yet")
        << TWindowFlashHost::kTimeLeftAfterMs + 5000 << qint64(5001) << 100 << 300 << qint64(-1);
    QTest::newRow("nothing confirmed") << qint64(9000) << qint64(0) << 0 << 300 << qint64(-1);
    QTest::newRow("all confirmed") << qint64(9000) << qint64(0) << 300 << 300 << qint64(-1);
}

void TWindowDailyTest::TimeLeftFromTheTransferAlone() {
    QFETCH(qint64, elapsedMs);
    QFETCH(qint64, questionsMs);
    QFETCH(int, sent);
    QFETCH(int, total);
    QFETCH(qint64, left);
    QCOMPARE(TimeLeftMs(TransferPart(elapsedMs, questionsMs), std::uint64_t(sent), std::uint64_t(total))
                 .value_or(-1),
             left);
}

// Feature 2: image, format, start address and options come back in the next session, the image
// only while it exists; a name that is not UTF-8 comes back byte for byte.
void TWindowDailyTest::ChoicesAreRemembered_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("UTF-8") << QByteArray("kept.rbf");
    QTest::newRow("not UTF-8") << QByteArray("kept\xff\xfe.rbf");
}

void TWindowDailyTest::ChoicesAreRemembered() {
    QFETCH(QByteArray, name);
    const QByteArray bytes = SystemFileName(ImagePath(QStringLiteral("x"))).chopped(1) + name;
    const QString path = FileNameFromSystem(bytes);
    const int fd = ::open(bytes.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0 && ::write(fd, "data", 4) == 4 && ::close(fd) == 0);
    const QString other = ImagePath(QStringLiteral("other.rbf"));
    QFile otherFile(other);
    QVERIFY(otherFile.open(QIODevice::WriteOnly) && otherFile.write("data") == 4);
    otherFile.close();
    QTest::mouseClick(Control<TsuiRadioGroup>(*FForm, "RadioGroupHexFileFormat")->Button(1), Qt::LeftButton);
    ChooseFile(other);
    ChooseFile(path);
    QCOMPARE(FForm->RecentFiles().mid(0, 2), (QStringList{path, other}));
    auto* field = Control<TsuiEdit>(*FForm, "EditStartAddress");
    field->setText(QStringLiteral("8000"));
    FForm->EditStartAddressExit();
    Control<QCheckBox>(*FForm, "CheckBoxWriteFileSizeOnStart")->setChecked(false);
    Control<QCheckBox>(*FForm, "CheckBoxVerifyAfterProgram")->setChecked(true);
    QCOMPARE(FForm->RecentFiles().first(), path);
    QTest::mouseClick(Control<TsuiRadioGroup>(*FForm, "RadioGroupOperation")->Button(0), Qt::LeftButton);

    // Twice with the file kept: starting a window must not change what the next one finds.
    for (const bool fileStays : {true, true, false}) {
        if (!fileStays)
            QCOMPARE(::unlink(bytes.constData()), 0);
        std::unique_ptr<TFormTervolt> next;
        {
            TMessageRecorder quiet;
            next = std::make_unique<TFormTervolt>(FProgramDirectory->Path());
        }
        QCOMPARE(Control<TsuiEdit>(*next, "EditFileName")->text(), fileStays ? path : QString());
        QVERIFY(next->FileFormat() == TImageFormat::Binary);
        QCOMPARE(next->StartAddress(), 0x8000);
        QCOMPARE(Control<TsuiEdit>(*next, "EditStartAddress")->text(), QStringLiteral("00008000"));
        QVERIFY(!Control<QCheckBox>(*next, "CheckBoxWriteFileSizeOnStart")->isChecked());
        QVERIFY(Control<QCheckBox>(*next, "CheckBoxVerifyAfterProgram")->isChecked());
        QCOMPARE(Control<TsuiRadioGroup>(*next, "RadioGroupOperation")->ItemIndex(), 0); // Verify
        QCOMPARE(next->RecentFiles().mid(0, 2).contains(path), fileStays);
        QCOMPARE(next->RecentFiles().at(fileStays ? 1 : 0), other);
        // No port was ever chosen in these sessions, and the default did not open.
        QCOMPARE(Status(*next), QStringLiteral("No port chosen yet: choose one with the Com button"));
    }
}

// A board that keeps sending what no command reads would hold a core of the idle window for ever:
// the window closes the line and says why, and does not open it again by itself.
void TWindowDailyTest::FloodingBoardLosesTheLine_data() {
    QTest::addColumn<QByteArray>("repeated"); // empty: the simulated board's endless text from power-up
    QTest::newRow("answers after identification") << QByteArray("\r\nCompare OK\r\n>");
    QTest::newRow("text without end while searching") << QByteArray();
}

void TWindowDailyTest::FloodingBoardLosesTheLine() {
    QFETCH(QByteArray, repeated);
    std::unique_ptr<TRepeatingBoard> repeating;
    std::unique_ptr<TSimServer> endless;
    if (repeated.isEmpty()) {
        TSimConfig config;
        config.Faults.push_back({fkFlood, 0});
        endless = StartSimBoard(config);
    } else {
        repeating = std::make_unique<TRepeatingBoard>(repeated);
    }
    TMessageRecorder boxes;
    AttachPort(*FForm, endless ? QString::fromStdString(endless->SlavePath()) : repeating->SlavePath());
    if (repeating) {
        QVERIFY(FForm->FlashIdentified());
        repeating->GetStuck();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->PortOpen(), 60000);
    QCOMPARE(Status(*FForm), QStringLiteral("The board sends without pause; the line was closed."));
    QCOMPARE(Control<QLabel>(*FForm, "LabelConnect")->text(), QStringLiteral("Disconnected"));
    QVERIFY(!FForm->AutoIdentifierTimer()->isActive());
    QVERIFY(!FForm->ReconnectTimer()->isActive());
    QVERIFY(!FForm->FlashIdentified());
    QVERIFY2(boxes.Shown.isEmpty(), qPrintable(boxes.Texts().join(u'|')));
}

int main(int argc, char* argv[]) {
    return RunMainWindowTest<TWindowDailyTest>(argc, argv);
}

#include "tst_window_daily.moc"
