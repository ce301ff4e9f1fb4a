// Program and Verify from the window against the simulated board: what lands in the board's FLASH, the
// busy look while a run lasts, the outcome notices, Retry/Cancel on a lost answer, Stop, and images
// that are refused before anything is sent.

#include "dialogs/comm_interface.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "sim/simserver.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"
#include "skin/suiimagebutton.h"
#include "skin/suiimagepanel.h"
#include "skin/suiradiogroup.h"
#include "tests/support/clirun.h"
#include "tests/support/hexwriter.h"
#include "tests/support/residentmemory.h"
#include "tests/tst_mainwindow_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString kRetryText = QStringLiteral("Communication error occurred!\nSome data may be lost.");

int ProcessPriority() {
    errno = 0;
    return getpriority(PRIO_PROCESS, 0);
}

// What the window shows at one moment, taken while a run is going on.
struct TLook {
    bool StartVisible = false;
    bool StopVisible = false;
    bool ComEnabled = false;
    bool InitEnabled = false;
    bool BrowseEnabled = false;
    bool OperationEnabled = false;
    bool FormatEnabled = false;
    bool StartAddressEnabled = false;
    bool SizeOptionEnabled = false;
    bool CloseButtonVisible = false;
    bool CloseButtonEnabled = false;
    bool ProgressVisible = false;
    int Progress = -1;
    QString Mode;
    QString Address;
    QString AddressNumber;
    bool Hourglass = false;
    QRect StartGeometry;
    QRect StopGeometry;
};

TLook LookOf(const TFormTervolt& form) {
    TLook look;
    look.StartVisible = Control<TsuiImageButton>(form, "BitBtnStart")->isVisible();
    look.StopVisible = Control<TsuiImageButton>(form, "BitBtnStop")->isVisible();
    look.ComEnabled = Control<TsuiImageButton>(form, "BitBtnComSettings")->isEnabled();
    look.InitEnabled = Control<TsuiImageButton>(form, "BitBtnInit")->isEnabled();
    look.BrowseEnabled = Control<TsuiImageButton>(form, "BitBtnBrowse")->isEnabled();
    look.OperationEnabled = Control<TsuiRadioGroup>(form, "RadioGroupOperation")->isEnabled();
    look.FormatEnabled = Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->isEnabled();
    look.StartAddressEnabled = Control<TsuiEdit>(form, "EditStartAddress")->isEnabled();
    look.SizeOptionEnabled = Control<QCheckBox>(form, "CheckBoxWriteFileSizeOnStart")->isEnabled();
    look.CloseButtonVisible = form.Frame()->CloseButtonVisible();
    look.CloseButtonEnabled = form.Frame()->TitleButton(tbClose)->isEnabled();
    look.ProgressVisible = Control<TsuiProgressBar>(form, "CGaugeProgressBar")->isVisible();
    look.Progress = Control<TsuiProgressBar>(form, "CGaugeProgressBar")->value();
    look.Mode = Control<QLabel>(form, "LabelMode")->text();
    look.Address = Control<QLabel>(form, "LabelAddress")->text();
    look.AddressNumber = Control<QLabel>(form, "LabelAddressNumber")->text();
    look.Hourglass = QApplication::overrideCursor() != nullptr &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    look.StartGeometry = Control<TsuiImageButton>(form, "BitBtnStart")->geometry();
    look.StopGeometry = Control<TsuiImageButton>(form, "BitBtnStop")->geometry();
    return look;
}

void CheckBusyLook(const TLook& look, const QString& mode) {
    QVERIFY(!look.StartVisible);
    QVERIFY(look.StopVisible);
    QCOMPARE(look.StopGeometry, look.StartGeometry);
    QVERIFY(!look.ComEnabled && !look.InitEnabled && !look.BrowseEnabled);
    QVERIFY(!look.OperationEnabled && !look.FormatEnabled);
    QVERIFY2(!look.StartAddressEnabled && !look.SizeOptionEnabled, "nothing typed meanwhile can look used");
    QVERIFY(look.CloseButtonVisible && !look.CloseButtonEnabled);
    QVERIFY(look.Hourglass);
    QCOMPARE(look.Mode, mode);
    QCOMPARE(look.Address, QStringLiteral("Address:"));
    QVERIFY(look.ProgressVisible);
}

void CheckOutcome(const TShownMessage& message, const QString& text, const QString& caption,
                  TsuiIconType icon = suiInformation) {
    QCOMPARE(WithoutAddedLines(message.Text), text);
    QCOMPARE(message.Caption, caption);
    QCOMPARE(message.IconType, icon);
    QCOMPARE(message.ButtonCaptions, QStringList{QStringLiteral("Ok")});
    QCOMPARE(message.ButtonResults, QList<TModalResult>{mrOk});
}

void SendMouseMove(QWidget* widget) {
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, inside, widget->mapToGlobal(inside), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

} // namespace

class TMainWindowOpsTest : public TOneWindowTest {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void StartQueriesTheChipAgain();
    void ProgramThenVerifyHexWithGaps();
    void BinaryImagePlacement_data();
    void BinaryImagePlacement();
    void LostAnswerIsRetried();
    void MisbehavingBoard_data();
    void MisbehavingBoard();
    void StopDuringRun_data();
    void StopDuringRun();
    void RefusedImageSendsNothing_data();
    void RefusedImageSendsNothing();
    void EmptyRepliesWhileIdentifying();
    void AutoDetectedFormats_data();
    void AutoDetectedFormats();
    void CloseDuringTheChipQueryStartsNothing(); // closes the window: the last test

private:
    // Writes `content` as a binary image and chooses it with the start address typed and the size box.
    void ChooseBinaryImage(const QByteArray& content, const QString& startAddress, bool sizeHeader);
    void SelectOperation(bool verify);
    void CheckIdleAgain();
};

void TMainWindowOpsTest::initTestCase() {
    QVERIFY(OpenWindow());
}

void TMainWindowOpsTest::cleanup() {
    ResetChoices(*FForm);
}

void TMainWindowOpsTest::cleanupTestCase() {
    CloseWindow();
}

void TMainWindowOpsTest::ChooseBinaryImage(const QByteArray& content, const QString& startAddress,
                                           bool sizeHeader) {
    QTest::mouseClick(Control<TsuiRadioGroup>(*FForm, "RadioGroupHexFileFormat")->Button(1), Qt::LeftButton);
    auto* field = Control<TsuiEdit>(*FForm, "EditStartAddress");
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, startAddress);
    QTest::keyClick(field, Qt::Key_Return);
    Control<QCheckBox>(*FForm, "CheckBoxWriteFileSizeOnStart")->setChecked(sizeHeader);
    const QString path = ImagePath(QStringLiteral("image.rbf"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
    file.close();
    ChooseFile(path);
}

void TMainWindowOpsTest::SelectOperation(bool verify) {
    QTest::mouseClick(Control<TsuiRadioGroup>(*FForm, "RadioGroupOperation")->Button(verify ? 0 : 1),
                      Qt::LeftButton);
}

// After a run: the Target found look, Start shown and still enabled.
void TMainWindowOpsTest::CheckIdleAgain() {
    const TLook look = LookOf(*FForm);
    QVERIFY(look.StartVisible && !look.StopVisible);
    QVERIFY(Control<TsuiImageButton>(*FForm, "BitBtnStart")->isEnabled());
    QVERIFY(look.ComEnabled && look.InitEnabled && look.BrowseEnabled && look.OperationEnabled &&
            look.FormatEnabled);
    QVERIFY(look.CloseButtonVisible && look.CloseButtonEnabled);
    QVERIFY(!look.ProgressVisible);
    QVERIFY(look.Mode.isEmpty() && look.Address.isEmpty() && look.AddressNumber.isEmpty());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(!FForm->Busy());
    QVERIFY(!FForm->AutoIdentifierTimer()->isActive());
}

void TMainWindowOpsTest::StartQueriesTheChipAgain() {
    auto listed = StartSimBoard();
    Attach(*listed);
    ChooseFile(ImagePath(QStringLiteral("never-sent.hex")));

    // Another chip on the line, behind the window's back.
    TSimConfig otherChip;
    otherChip.DeviceId = "VF999Z";
    auto other = StartSimBoard(otherChip);
    TCommPortDriver& driver = *FForm->CommInterface()->CommUnit()->CommPortDriver();
    driver.Disconnect();
    MapPort(2, QString::fromStdString(other->SlavePath()));
    QVERIFY(FForm->CommInterface()->ConnectQuietly()); // resolves COM2 again, as each open does

    // While the box is up, the status line names no chip: not the one identified before.
    QString statusAtBox;
    TMessageRecorder boxes([&](const TShownMessage& message) {
        statusAtBox = Control<QLabel>(*FForm, "LabelStatus")->accessibleName();
        return message.ButtonResults.first();
    });
    ClickStart();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("FLASH not identified.")});
    QCOMPARE(statusAtBox,
             QStringLiteral("COM2 \u00b7 115200 baud \u00b7 board answers, chip not identified"));
    QVERIFY(!Control<TsuiImageButton>(*FForm, "BitBtnStart")->isEnabled());
    QCOMPARE(other->Stats().Commands, std::uint64_t(1));
    CheckBoardHolds(*other, TImage());
    QVERIFY(!FForm->Busy());
}

void TMainWindowOpsTest::ProgramThenVerifyHexWithGaps() {
    auto board = StartSimBoard();
    Attach(*board);
    TRecords records = Records(0x000100, 512, 1);
    const TRecords second = Records(0x001000, 48, 2);
    const TRecords third = Records(0x020010, 100, 3); // beyond 64 KiB
    records.insert(records.end(), second.begin(), second.end());
    records.insert(records.end(), third.begin(), third.end());
    const QString path = ImagePath(QStringLiteral("gaps.hex"));
    QVERIFY(WriteIntelHexFile(path, records));
    ChooseFile(path);

    const int priority = ProcessPriority();
    TLook during;
    bool closeRefused = false;
    bool handShown = false;
    bool hourglassBack = false;
    TMessageRecorder boxes([&](const TShownMessage&) {
        // The outcome is shown while the run still holds the window.
        during = LookOf(*FForm);
        closeRefused = !FForm->close() && FForm->isVisible();
        SendMouseMove(Control<TsuiImageButton>(*FForm, "BitBtnStop"));
        handShown = QApplication::overrideCursor() == nullptr;
        SendMouseMove(Control<TsuiImagePanel>(*FForm, "suiImagePanel"));
        hourglassBack = QApplication::overrideCursor() != nullptr &&
                        QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        return mrOk;
    });
    ClickStart();
    QCOMPARE(boxes.Shown.size(), 1);
    CheckOutcome(boxes.Shown.first(), QStringLiteral("Program OK!"), QStringLiteral("Tervolt Message"));
    CheckBusyLook(during, QStringLiteral("Programming..."));
    QCOMPARE(during.Progress, 100);
    QCOMPARE(during.AddressNumber, QStringLiteral("0x020010"));
    QVERIFY2(closeRefused, "closing while busy does nothing");
    QVERIFY2(handShown, "over the Stop button the pointer is the button's own");
    QVERIFY2(hourglassBack, "back on the panel the hourglass returns");
    CheckBoardHolds(*board, ImageOf(records));
    CheckIdleAgain();
    QCOMPARE(ProcessPriority(), priority);

    SelectOperation(true);
    boxes.Shown.clear();
    const std::uint64_t before = board->Stats().Commands;
    TMessageRecorder verifyBoxes([&](const TShownMessage&) {
        during = LookOf(*FForm);
        return mrOk;
    });
    ClickStart();
    QCOMPARE(verifyBoxes.Shown.size(), 1);
    CheckOutcome(verifyBoxes.Shown.first(), QStringLiteral("Compare OK!"), QStringLiteral("Tervolt Message"));
    CheckBusyLook(during, QStringLiteral("Verifying..."));
    QCOMPARE(during.Progress, 100);
    // "P ID", "P RESET", one "P VERIFY" per block (three runs of 200, 200, 112, then 48, then 100) and
    // the closing ping.
    QCOMPARE(board->Stats().Commands, before + 2 + 5 + 1);
    CheckIdleAgain();
}

void TMainWindowOpsTest::BinaryImagePlacement_data() {
    QTest::addColumn<bool>("sizeHeader");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("startAddress");
    QTest::newRow("size header") << true << "3000" << 0x3000;
    QTest::newRow("bare data") << false << "0x5000" << 0x5000;
}

void TMainWindowOpsTest::BinaryImagePlacement() {
    QFETCH(bool, sizeHeader);
    QFETCH(QString, typed);
    QFETCH(int, startAddress);
    auto board = StartSimBoard();
    Attach(*board);
    const QByteArray content = Pattern(450, 9);
    ChooseBinaryImage(content, typed, sizeHeader);
    QCOMPARE(FForm->StartAddress(), startAddress);

    TMessageRecorder boxes;
    ClickStart();
    QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Program OK!")});
    TImage image;
    std::uint32_t address = std::uint32_t(startAddress);
    if (sizeHeader) {
        for (int shift = 0; shift < 32; shift += 8)
            image[address++] = std::uint8_t(content.size() >> shift);
    }
    for (const char byte : content)
        image[address++] = std::uint8_t(byte);
    CheckBoardHolds(*board, image);

    SelectOperation(true);
    ClickStart();
    QCOMPARE(boxes.Texts(), (QStringList{QStringLiteral("Program OK!"), QStringLiteral("Compare OK!")}));
}

void TMainWindowOpsTest::LostAnswerIsRetried() {
    // Attaching sends the ping and "P ID"; Start sends "P ID", "P INIT", then the first block, the
    // fifth command, whose answer is lost.
    TSimConfig config;
    config.Faults.push_back(TSimFault{fkDrop, 5});
    auto board = StartSimBoard(config);
    Attach(*board);
    const TRecords records = Records(0x004000, 560, 5);
    const QString path = ImagePath(QStringLiteral("retry.hex"));
    QVERIFY(WriteIntelHexFile(path, records));
    ChooseFile(path);

    const int priority = ProcessPriority();
    int priorityInPrompt = priority;
    TMessageRecorder boxes([&](const TShownMessage& message) {
        if (message.Text.startsWith(kRetryText))
            priorityInPrompt = ProcessPriority();
        return message.ButtonResults.first();
    });
    ClickStart();
    // The block sent again makes the window read the image back before "Program OK!", and the board
    // drops every fifth command there too: each drop is one prompt.
    QVERIFY(boxes.Shown.size() >= 2);
    for (qsizetype i = 0; i + 1 < boxes.Shown.size(); ++i)
        QVERIFY(boxes.Shown.at(i).Text.startsWith(kRetryText)); // and what the board did, below
    QCOMPARE(boxes.Texts().last(), QStringLiteral("Program OK!"));
    const TShownMessage& prompt = boxes.Shown.first();
    QCOMPARE(prompt.Caption, QStringLiteral("Tervolt Error"));
    QCOMPARE(prompt.IconType, suiStop);
    QCOMPARE(prompt.ButtonCaptions, (QStringList{QStringLiteral("Retry"), QStringLiteral("Cancel")}));
    QCOMPARE(prompt.ButtonResults, (QList<TModalResult>{mrRetry, mrCancel}));
    CheckBoardHolds(*board, ImageOf(records));
    if (geteuid() == 0 && priority > -20)
        QVERIFY2(priorityInPrompt < priority, "the transfer runs at a raised priority");
    QCOMPARE(ProcessPriority(), priority);
    CheckIdleAgain();
}

void TMainWindowOpsTest::MisbehavingBoard_data() {
    // A 1000-byte binary image at 0 without size header. Attaching sends the ping and "P ID"; Start
    // sends "P ID", "P INIT" or "P RESET", then five blocks of 200 bytes (commands 3 to 7 of the run).
    QTest::addColumn<QString>("attachFault"); // from power-up, as tervolt-sim --fault takes it
    QTest::addColumn<QString>("runFault");    // added before Start; late:N counts from Start
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<QString>("outcome");
    // Late answers arrive while the window waits in its own event loop. Echo or not, and how every
    // other reply is accounted for, is the same for tervolt-cli: tst_cli_sim's misbehavingBoards.
    QTest::newRow("late answer to the last VERIFY, mismatch there")
        << "mismatch:0x3E0"
        << "late:7:5500" << true << true << "Compare error at address 0x0003E0.";
    QTest::newRow("late P INIT") << ""
                                 << "late:2:6500" << true << false << "Program OK!";
    QTest::newRow("late answer to a PROG block") << ""
                                                 << "late:4:5500" << true << false << "Program OK!";
    // Late answers while identifying must not be taken by a later identification or by Start's.
    QTest::newRow("late ping while identifying") << "late:1:900"
                                                 << "" << false << false << "Program OK!";
    QTest::newRow("late P ID while identifying") << "late:2:1800"
                                                 << "" << false << false << "Program OK!";
    // Endless text without a prompt after "P INIT": Retry cannot help, Cancel ends it; memory stays flat.
    QTest::newRow("flood after P INIT") << ""
                                        << "flood:2" << true << false << "Program operation canceled";
}

void TMainWindowOpsTest::MisbehavingBoard() {
    QFETCH(QString, attachFault);
    QFETCH(QString, runFault);
    QFETCH(bool, echo);
    QFETCH(bool, verify);
    QFETCH(QString, outcome);
    const auto parse = [](const QString& text) {
        std::string error;
        const auto fault = ParseSimFault(text.toStdString(), error);
        if (!fault)
            qFatal("%s", error.c_str());
        return *fault;
    };
    TSimConfig config;
    config.Echo = echo;
    if (!attachFault.isEmpty())
        config.Faults.push_back(parse(attachFault));
    auto board = StartSimBoard(config);
    {
        TMessageRecorder quiet;
        AttachPort(*FForm, QString::fromStdString(board->SlavePath()));
        // A chip that was not identified is queried again when the user clicks Init.
        for (int attempt = 0; attempt < 10 && !FForm->FlashIdentified(); ++attempt) {
            QTest::qWait(500);
            if (!FForm->FlashIdentified())
                FForm->BitBtnInitClick();
        }
        QVERIFY(FForm->FlashIdentified());
    }
    const QByteArray content = Pattern(1000, 5);
    ChooseBinaryImage(content, QStringLiteral("0"), false);
    QCOMPARE(FForm->StartAddress(), 0);
    TImage image;
    for (int i = 0; i < content.size(); ++i)
        image[std::uint32_t(i)] = std::uint8_t(content[i]);

    int retries = 0; // Retry three times on communication errors, then Cancel
    TMessageRecorder boxes([&retries](const TShownMessage& message) {
        if (message.ButtonResults.size() < 2)
            return mrOk;
        return ++retries <= 3 ? message.ButtonResults.first() : message.ButtonResults.last();
    });
    rusage before{};
    QCOMPARE(getrusage(RUSAGE_SELF, &before), 0);
    if (verify) {
        ClickStart();
        QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Program OK!")});
        SelectOperation(true);
    }
    if (!runFault.isEmpty())
        board->AddFault(parse(runFault));
    ClickStart();
    QVERIFY2(boxes.Shown.last().Text.startsWith(outcome), qPrintable(boxes.Texts().join(u'|')));
    rusage after{};
    QCOMPARE(getrusage(RUSAGE_SELF, &after), 0);
    QVERIFY2(!kResidentSizeIsMeaningful || after.ru_maxrss - before.ru_maxrss < 64 * 1024,
             qPrintable(QString::number(after.ru_maxrss)));
    if (outcome.startsWith(QStringLiteral("Program operation canceled")))
        return;
    // A board found bad (or not known good) is not expected to hold the image.
    if (outcome.startsWith(QStringLiteral("Compare error"))) {
        CheckIdleAgain();
        return;
    }
    CheckBoardHolds(*board, image);
    if (!verify) {
        SelectOperation(true);
        ClickStart();
        QCOMPARE(boxes.Texts().last(), QStringLiteral("Compare OK!"));
    }
    CheckIdleAgain();
}

void TMainWindowOpsTest::StopDuringRun_data() {
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("holdMs"); // how long the question stays open
    // No is the default button: Enter, or closing the question, goes on.
    QTest::newRow("program, answered No") << false << int(mrNo) << 0;
    QTest::newRow("program, answered Yes") << false << int(mrYes) << 0;
    QTest::newRow("verify, answered Yes") << true << int(mrYes) << 0;
    // The board's answer arrives while the box is open and the reply time-out passes too: the answer
    // that is there wins, so the run goes on (No) or ends as cancelled (Yes), never as a line error.
    QTest::newRow("program, box open past the time-out, No") << false << int(mrNo) << 5500;
    QTest::newRow("program, box open past the time-out, Yes") << false << int(mrYes) << 5500;
}

void TMainWindowOpsTest::StopDuringRun() {
    QFETCH(bool, verify);
    QFETCH(int, answer);
    QFETCH(int, holdMs);
    TSimConfig config;
    // A board that takes a moment per command, so that Stop lands while an answer is awaited.
    if (holdMs > 0)
        config.Faults.push_back(TSimFault{fkSlow, 0, 20});
    auto board = StartSimBoard(config);
    Attach(*board);
    const TRecords records = Records(0x010000, 24 * 1024, 7);
    const TImage image = ImageOf(records);
    const QString path = ImagePath(QStringLiteral("long.hex"));
    QVERIFY(WriteIntelHexFile(path, records));
    ChooseFile(path);
    if (verify) {
        TMessageRecorder quiet;
        ClickStart();
        QCOMPARE(quiet.Texts(), QStringList{QStringLiteral("Program OK!")});
        SelectOperation(true);
    }

    TMessageRecorder boxes([answer, holdMs](const TShownMessage& message) {
        if (message.ButtonResults.size() != 2)
            return mrOk;
        QTest::qWait(holdMs); // a modal box runs the event loop while it is open
        return answer == mrNo ? message.ButtonResults.at(message.DefaultButton - 1) : TModalResult(answer);
    });
    auto* gauge = Control<TsuiProgressBar>(*FForm, "CGaugeProgressBar");
    bool clicked = false;
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!clicked && gauge->isVisible() && gauge->value() >= 10) {
            clicked = true;
            QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnStop"), Qt::LeftButton);
        }
    });
    stopper.start(10);
    ClickStart();
    stopper.stop();
    QVERIFY2(clicked, "the run ended before Stop could be clicked");

    QCOMPARE(boxes.Shown.size(), 2);
    const TShownMessage& question = boxes.Shown.first();
    QCOMPARE(question.Text, verify ? QStringLiteral("Stop verifying?") : QStringLiteral("Stop programming?"));
    QCOMPARE(question.Caption, QStringLiteral("Tervolt - Confirm Abort Operation"));
    QCOMPARE(question.IconType, suiStop);
    QCOMPARE(question.ButtonCaptions, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    QCOMPARE(question.ButtonResults, (QList<TModalResult>{mrYes, mrNo}));
    QCOMPARE(question.DefaultButton, 2);
    CheckIdleAgain();

    if (answer == mrNo) {
        CheckOutcome(boxes.Shown.last(), QStringLiteral("Program OK!"), QStringLiteral("Tervolt Message"));
        CheckBoardHolds(*board, image);
        return;
    }
    if (verify) {
        CheckOutcome(boxes.Shown.last(), QStringLiteral("Verify operation canceled"),
                     QStringLiteral("Tervolt Message"));
        return;
    }
    CheckOutcome(boxes.Shown.last(), QStringLiteral("Program operation canceled"),
                 QStringLiteral("Tervolt Message"), suiWarning);
    // Only the blocks sent before the Stop: a leading part of the image, each byte as in the image.
    const TFlashSnapshot snapshot = board->Snapshot();
    std::uint32_t programmed = 0;
    while (snapshot.Programmed[0x010000 + programmed])
        ++programmed;
    QVERIFY2(programmed > 0 && programmed < image.size(), qPrintable(QString::number(programmed)));
    // The outcome says what the FLASH holds, and it is what the board holds.
    const QRegularExpression stopped(QStringLiteral(
        "^Program operation canceled\nThe FLASH holds the image only up to 0x([0-9A-F]{6})\\.$"));
    const QRegularExpressionMatch match = stopped.match(boxes.Shown.last().Text);
    QVERIFY2(match.hasMatch(), qPrintable(boxes.Shown.last().Text));
    QCOMPARE(match.captured(1).toUInt(nullptr, 16) + 1, 0x010000 + programmed);
    TImage sent;
    for (std::uint32_t i = 0; i < programmed; ++i)
        sent[0x010000 + i] = image.at(0x010000 + i);
    CheckBoardHolds(*board, sent);
}

void TMainWindowOpsTest::RefusedImageSendsNothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("message");
    QByteArray badSum = IntelHexRecord(0x00, 0x0000, Pattern(16, 1));
    badSum[badSum.size() - 2] = badSum.at(badSum.size() - 2) == '0' ? '1' : '0';
    QTest::newRow("bad checksum") << (IntelHexRecord(0x00, 0x0100, Pattern(16, 2)) + badSum +
                                      IntelHexRecord(0x01, 0, QByteArray()))
                                  << true << QStringLiteral("Illegal record in file.");
    QTest::newRow("descending addresses")
        << IntelHexText({{0x0200, Pattern(16, 3)}, {0x0100, Pattern(16, 4)}}) << true
        << QStringLiteral("Illegal file - non ascending addresses.");
    QTest::newRow("missing file") << QByteArray() << false << QStringLiteral("Cannot open file.");
}

void TMainWindowOpsTest::RefusedImageSendsNothing() {
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, message);
    auto board = StartSimBoard();
    Attach(*board);
    const QString path =
        ImagePath(QStringLiteral("refused-%1.hex").arg(QTest::currentDataTag()).replace(u' ', u'-'));
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), content.size());
    }
    ChooseFile(path);

    const std::uint64_t before = board->Stats().Commands;
    const int priority = ProcessPriority();
    THexErrorRecorder imageErrors;
    TMessageRecorder boxes;
    ClickStart();
    QCOMPARE(imageErrors.Texts, QStringList{message});
    QCOMPARE(imageErrors.Captions, QStringList{QStringLiteral("Tervolt Error")});
    QVERIFY2(boxes.Shown.isEmpty(), "image errors use the plain system box");
    QCOMPARE(board->Stats().Commands, before + 1); // the chip query only
    QCOMPARE(ProcessPriority(), priority);
    CheckIdleAgain();
}

void TMainWindowOpsTest::EmptyRepliesWhileIdentifying() {
    // "P ID" answered with an empty line, then 40 empty replies: a failure of the line, said in the
    // status area, not a chip that was not identified.
    TSimConfig config;
    std::string error;
    config.Faults.push_back(
        *ParseSimFault("extra:2:" + QByteArray("\\r\\n>").repeated(40).toStdString(), error));
    auto board = StartSimBoard(config);
    TMessageRecorder boxes;
    AttachPort(*FForm, QString::fromStdString(board->SlavePath()));
    QTRY_COMPARE(Control<QLabel>(*FForm, "LabelMode")->text(), QStringLiteral("Line failure"));
    QVERIFY2(Control<QLabel>(*FForm, "LabelHint")->text().startsWith(QStringLiteral("The board sent")),
             qPrintable(Control<QLabel>(*FForm, "LabelHint")->text()));
    QVERIFY(!boxes.Texts().contains(QStringLiteral("FLASH not identified.")));
    QVERIFY(!FForm->FlashIdentified());
}

// Last, as it closes the window: a close that arrives while Start waits for "P ID" must neither be
// lost nor let the operation begin on a window that is going away.
void TMainWindowOpsTest::CloseDuringTheChipQueryStartsNothing() {
    QApplication::setQuitOnLastWindowClosed(false);
    auto board = StartSimBoard();
    Attach(*board);
    const QString path = ImagePath(QStringLiteral("closing.hex"));
    QVERIFY(WriteIntelHexFile(path, Records(0x000000, 400, 16)));
    ChooseFile(path);
    const std::uint64_t before = board->Stats().Commands;
    TMessageRecorder boxes;
    // Runs inside the chip query's wait, which is the first thing Start does.
    QTimer::singleShot(0, FForm.get(), [this] { FForm->close(); });
    ClickStart();
    QCOMPARE(board->Stats().Commands, before + 1); // "P ID" only: no erase, no block
    QVERIFY(boxes.Shown.isEmpty());
    QVERIFY(!FForm->Busy());
    QTRY_VERIFY_WITH_TIMEOUT(!FForm->isVisible(), 3000); // and then the window does close
}

int main(int argc, char* argv[]) {
    return RunMainWindowTest<TMainWindowOpsTest>(argc, argv);
}

// Browse picks Auto-detect for a name other than .rbf or .bin; Program and Verify then read the file by
// its content, and the board holds exactly its data (no zero-filled rest of an ELF segment). Each
// format on the board through the same reader: tst_cli_sim's imageFormatsOnTheBoard.
void TMainWindowOpsTest::AutoDetectedFormats_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("data");
    const QByteArray data = Pattern(700, 5);
    QTest::newRow("ELF with .bss") << "app.elf" << ElfImage({{0x8000, data}}, 4096) << 0x8000u << data;
}

void TMainWindowOpsTest::AutoDetectedFormats() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(quint32, address);
    QFETCH(QByteArray, data);
    TSimConfig config;
    config.Size = 4u << 20;
    auto board = StartSimBoard(config);
    Attach(*board);
    const QString path = ImagePath(name);
    QVERIFY(WriteFile(path, content));
    ChooseFile(path);
    QCOMPARE(Control<TsuiRadioGroup>(*FForm, "RadioGroupHexFileFormat")->ItemIndex(), 2);
    QVERIFY(FForm->FileFormat() == TImageFormat::Auto);

    TMessageRecorder boxes;
    ClickStart();
    SelectOperation(true);
    ClickStart();
    QCOMPARE(boxes.Texts(), (QStringList{QStringLiteral("Program OK!"), QStringLiteral("Compare OK!")}));
    TImage image;
    for (int i = 0; i < data.size(); ++i)
        image[address + std::uint32_t(i)] = std::uint8_t(data[i]);
    CheckBoardHolds(*board, image);
}

#include "tst_mainwindow_ops.moc"
