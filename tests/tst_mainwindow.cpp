// The main window as the user meets it: start-up (device list, stored COM settings, first connection),
// closing, target identification against a board on a pseudo-terminal, the COM settings button, the
// image format and file choice and the start-address field.

#include "app/windowfilefilter.h"
#include "app/windowstartup.h"
#include "devices/devicesdb.h"
#include "dialogs/comm_interface.h"
#include "dialogs/poweron.h"
#include "engine/comsettings.h"
#include "files/usersettings.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"
#include "skin/suiimagebutton.h"
#include "skin/suiradiogroup.h"
#include "tests/tst_mainwindow_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

const QString kConnectionFailure =
    QStringLiteral("Connection failure!\nCheck COM port settings and try again");
const QString kNotIdentified = QStringLiteral("FLASH not identified.");
const QString kIdentifying = QStringLiteral("Identifying target...");
const QString kNoTarget = QStringLiteral("No target");

// Records each new text of a label while the program runs its own waits.
class TLabelHistory : public QObject {
public:
    explicit TLabelHistory(const QLabel* label) : FLabel(label) {
        connect(&FTimer, &QTimer::timeout, this, [this] {
            if (Texts.isEmpty() || Texts.last() != FLabel->text())
                Texts.append(FLabel->text());
        });
        FTimer.start(5);
    }
    QStringList Texts;
    // True when `sequence` appears in order (not necessarily adjacent) in what was seen.
    bool Saw(const QStringList& sequence) const {
        qsizetype next = 0;
        for (const QString& text : Texts)
            if (next < sequence.size() && text == sequence.at(next))
                ++next;
        return next == sequence.size();
    }

private:
    const QLabel* FLabel;
    QTimer FTimer;
};

void CheckNotice(const TShownMessage& message, const QString& text) {
    QCOMPARE(WithoutAddedLines(message.Text), text);
    QCOMPARE(message.Caption, QStringLiteral("Tervolt Error"));
    QCOMPARE(message.IconType, suiStop);
    QCOMPARE(message.ButtonCaptions, QStringList{QStringLiteral("Ok")});
    QCOMPARE(message.ButtonResults, QList<TModalResult>{mrOk});
    QCOMPARE(message.UIStyle, DeepBlue);
}

} // namespace

class TMainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void FileFiltersInQtForm_data();
    void FileFiltersInQtForm();
    void StartupFailsWithoutDeviceList_data();
    void StartupFailsWithoutDeviceList();
    void StartupWithoutStoredSettingsAndNoPort();
    void PowerOnPictureComesAndGoesFirst();
    void StoredTextPortStopsReading();
    void SettingsFileThatIsAPipe();
    void LoadComSettingsKeepsDefaultsOutOfRange_data();
    void LoadComSettingsKeepsDefaultsOutOfRange();

    void IdentificationRetriesUntilBoardAnswers();
    void ListedChipEnablesStartOnlyWithFile();
    void UnlistedChipReportedOnce_data();
    void UnlistedChipReportedOnce();
    void ComSettingsWaitsForTheBoardsAnswer();

    void FormatSwitchKeepsFileAndPicksFilter();

private:
    // A window without a port (COM2 maps to a missing device), for the fields and the settings.
    TFormTervolt& IdleForm();
    // A window that has a board: built on a silent board at start-up, re-attached by each test.
    TFormTervolt& BoardForm();
    static void Activate(TFormTervolt& form);
    static void ChooseFile(TFormTervolt& form, const QString& path);

    std::unique_ptr<TProgramDirectory> FProgramDirectory;
    std::unique_ptr<TFormTervolt> FIdleForm;
    std::unique_ptr<TFormTervolt> FBoardForm;
    std::unique_ptr<TScriptedBoard> FBoard;
};

void TMainWindowTest::initTestCase() {
    FProgramDirectory = std::make_unique<TProgramDirectory>();
    QVERIFY(FProgramDirectory->IsValid());
}

void TMainWindowTest::init() {
    MapAllPortsToMissingDevices();
    ClearStoredComSettings();
}

void TMainWindowTest::cleanup() {
    // A test's board goes with it; the window must not keep its line.
    if (FBoardForm && FBoardForm->PortOpen()) {
        TMessageRecorder quiet;
        DetachPort(*FBoardForm);
    }
    FBoard.reset();
}

void TMainWindowTest::cleanupTestCase() {
    FIdleForm.reset();
    FBoardForm.reset();
}

TFormTervolt& TMainWindowTest::IdleForm() {
    if (!FIdleForm) {
        TMessageRecorder quiet;
        FIdleForm = std::make_unique<TFormTervolt>(FProgramDirectory->Path());
        FIdleForm->FormShow();
    }
    Activate(*FIdleForm);
    return *FIdleForm;
}

TFormTervolt& TMainWindowTest::BoardForm() {
    if (!FBoardForm) {
        TScriptedBoard silent;
        MapPort(2, silent.SlavePath());
        FBoardForm = std::make_unique<TFormTervolt>(FProgramDirectory->Path());
        FBoardForm->FormShow();
        TMessageRecorder quiet;
        DetachPort(*FBoardForm);
    }
    Control<TsuiEdit>(*FBoardForm, "EditFileName")->clear();
    return *FBoardForm;
}

void TMainWindowTest::Activate(TFormTervolt& form) {
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
}

// Through the handler, as a click would.
void TMainWindowTest::ChooseFile(TFormTervolt& form, const QString& path) {
    form.SetOpenFileDialog([path](QWidget*, const QString&) { return path; });
    form.BitBtnBrowseClick();
    form.SetOpenFileDialog({});
}

// ---- File filters --------------------------------------------------------------------------------

void TMainWindowTest::FileFiltersInQtForm_data() {
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("qt");
    QTest::newRow("hex") << kHexFileFilter << QStringLiteral("HEX Files (*.hex);;All Files (*)");
    QTest::newRow("binary") << kBinaryFileFilter
                            << QStringLiteral("Row Binary Files (*.rbf *.bin);;All Files (*)");
    QTest::newRow("several patterns")
        << QStringLiteral("Images|*.hex;*.rbf") << QStringLiteral("Images (*.hex *.rbf)");
    QTest::newRow("every file among others")
        << QStringLiteral("Any|*.hex;*.*") << QStringLiteral("Any (*.hex *)");
    QTest::newRow("no pattern") << QStringLiteral("Text") << QStringLiteral("Text (*)");
    QTest::newRow("trailing bar") << QStringLiteral("HEX Files (*.hex)|*.hex|")
                                  << QStringLiteral("HEX Files (*.hex)");
    QTest::newRow("empty") << QString() << QString();
}

void TMainWindowTest::FileFiltersInQtForm() {
    QFETCH(QString, kept);
    QFETCH(QString, qt);
    QCOMPARE(QtFileFilter(kept), qt);
}

// ---- Start-up and settings ------------------------------------------------------------------------

void TMainWindowTest::StartupFailsWithoutDeviceList_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("present");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("not a device list") << QByteArray("[Header]\nCompany=nobody\n") << true;
}

void TMainWindowTest::StartupFailsWithoutDeviceList() {
    QFETCH(QByteArray, content);
    QFETCH(bool, present);
    TProgramDirectory directory(false);
    QVERIFY(directory.IsValid());
    if (present)
        QVERIFY(directory.WriteDevicesList(content));
    TMessageRecorder boxes;

    bool thrown = false;
    try {
        TFormTervolt form(directory.Path());
    } catch (const ETervoltError& error) {
        thrown = true;
        QCOMPARE(error.Message(), QStringLiteral("Can't load \"devices.tervolt\""));
        QCOMPARE(QString::fromStdString(error.what()), error.Message());
        QVERIFY2(!error.Detail().isEmpty(), "the reason is kept for the error box");
    }
    QVERIFY(thrown);
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY2(qobject_cast<TFormTervolt*>(window) == nullptr || window == FIdleForm.get() ||
                     window == FBoardForm.get(),
                 "no main window is left behind");
    // The list is checked before the port is opened: nothing was tried, nothing was asked.
    QVERIFY(boxes.Shown.isEmpty());

    // The program ends after the error box with a status that says it failed.
    QString said;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&said] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            said = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(10);
    QCOMPARE(RunMainWindow(directory.Path()), 1);
    QCOMPARE(said, QStringLiteral("Can't load \"devices.tervolt\""));
}

namespace {

// Watches the power-on window from outside: when it was shown and hidden, and what else was on screen.
class TPowerOnWatch : public QObject {
public:
    QElapsedTimer Clock;
    qint64 ShownAt = -1;
    qint64 HiddenAt = -1;
    bool MainWindowVisibleMeanwhile = false;

    bool eventFilter(QObject* object, QEvent* event) override {
        if (qobject_cast<TFormPowerOn*>(object) &&
            (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
            (event->type() == QEvent::Show ? ShownAt : HiddenAt) = Clock.elapsed();
            for (QWidget* window : QApplication::topLevelWidgets())
                if (qobject_cast<TFormTervolt*>(window) && window->isVisible())
                    MainWindowVisibleMeanwhile = true;
        }
        return false;
    }
};

} // namespace

void TMainWindowTest::PowerOnPictureComesAndGoesFirst() {
    TPowerOnWatch watch;
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide(); // the shared windows of other cases stay out of the way
    qApp->installEventFilter(&watch);
    watch.Clock.start();
    TMessageRecorder quiet;
    TFormTervolt form(FProgramDirectory->Path());
    qApp->removeEventFilter(&watch);
    QVERIFY(watch.ShownAt >= 0);
    QVERIFY(watch.HiddenAt >= watch.ShownAt + 1900); // about two seconds; no upper bound asserted
    QVERIFY(!watch.MainWindowVisibleMeanwhile);
    for (QWidget* window : QApplication::topLevelWidgets())
        QVERIFY(!(qobject_cast<TFormPowerOn*>(window) && window->isVisible()));
    QVERIFY(!form.isVisible()); // the main window comes only after the picture has gone
}

void TMainWindowTest::StartupWithoutStoredSettingsAndNoPort() {
    TMessageRecorder boxes;
    TFormTervolt form(FProgramDirectory->Path());

    // A first start: the default port is tried without a box; the status line says no port is chosen.
    QVERIFY(boxes.Shown.isEmpty());
    QCOMPARE(Control<QLabel>(form, "LabelStatus")->accessibleName(),
             QStringLiteral("No port chosen yet: choose one with the Com button"));
    QCOMPARE(form.CommInterface()->CurrentPort(), pnCOM2);
    QCOMPARE(form.CommInterface()->CurrentBaudRate(), br115200);
    QVERIFY2(!StoredComSettingsExist(), "nothing is written before the window closes");

    // The Disconnected look.
    QVERIFY(!form.PortOpen());
    QCOMPARE(Control<QLabel>(form, "LabelConnect")->text(), QStringLiteral("Disconnected"));
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnInit")->isEnabled());
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnComSettings")->isEnabled());
    QVERIFY(!form.AutoIdentifierTimer()->isActive());
    QCOMPARE(form.AutoIdentifierTimer()->interval(), 100);
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnBrowse")->isEnabled());
    QVERIFY(Control<TsuiRadioGroup>(form, "RadioGroupOperation")->isEnabled());
    QVERIFY(Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->isEnabled());
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled());

    // The rest of the first look.
    form.FormShow();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A row for Program+Verify, one for the status line, and room for the three format items.
    QCOMPARE(form.size(), QSize(358, 432));
    // Each choice group holds its items at their natural height, one below the other: cramped, they
    // overlap and clip as soon as the system's font is a little larger (Windows at 144 DPI).
    for (const auto* group : form.findChildren<TsuiRadioGroup*>()) {
        QVERIFY2(group->minimumSizeHint().height() <= group->height(), qPrintable(group->objectName()));
        for (int i = 0; group->Button(i + 1) != nullptr; ++i)
            QVERIFY2(group->Button(i)->geometry().bottom() < group->Button(i + 1)->geometry().top() &&
                         group->Button(i)->height() >= group->Button(i)->sizeHint().height(),
                     qPrintable(group->objectName()));
    }
    QCOMPARE(form.windowTitle(), QStringLiteral("Tervolt - 1.26"));
    TsuiForm* frame = form.Frame();
    QCOMPARE(frame->Caption(), QStringLiteral("Tervolt - 1.26"));
    QVERIFY(frame->ControlBoxVisible() && frame->CloseButtonVisible() && frame->MinimizeButtonVisible());
    QVERIFY(!frame->MaximizeButtonVisible());
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnStart")->isVisible());
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnStop")->isVisible());
    QVERIFY(!Control<TsuiProgressBar>(form, "CGaugeProgressBar")->isVisible());
    QVERIFY(!Control<TsuiGroupBox>(form, "GroupBoxBinaryDataFileParams")->isVisible());
    QCOMPARE(Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->Items(),
             (QStringList{QStringLiteral("Intel Extended"), QStringLiteral("Binary"),
                          QStringLiteral("Auto-detect (HEX, S-record, ELF)")}));
    QCOMPARE(Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->ItemIndex(), 0);
    QCOMPARE(Control<TsuiRadioGroup>(form, "RadioGroupOperation")->Items(),
             (QStringList{QStringLiteral("Verify"), QStringLiteral("Program")}));
    QCOMPARE(Control<TsuiRadioGroup>(form, "RadioGroupOperation")->ItemIndex(), 1);
    QCOMPARE(Control<TsuiEdit>(form, "EditStartAddress")->text(), QStringLiteral("00000000"));
    QVERIFY(Control<QCheckBox>(form, "CheckBoxWriteFileSizeOnStart")->isChecked());
    QVERIFY(Control<TsuiEdit>(form, "EditFLASHManefacturer")->isReadOnly());
    QVERIFY(Control<TsuiEdit>(form, "EditFLASHProduct")->isReadOnly());
    QVERIFY(Control<TsuiEdit>(form, "EditFileName")->isReadOnly());
    QVERIFY(!Control<TsuiEdit>(form, "EditStartAddress")->isReadOnly());
    for (const char* label : {"LabelMode", "LabelAddress", "LabelAddressNumber"})
        QVERIFY2(Control<QLabel>(form, label)->text().isEmpty(), label);
    QCOMPARE(form.StartAddress(), 0);
    QVERIFY(form.FileFormat() == TImageFormat::IntelExtended);

    // Closing stores what the dialog holds then, creating the key.
    form.CommInterface()->SelectPort(pnCOM3);
    form.CommInterface()->SelectBaudRate(br57600);
    QVERIFY(form.close());
    QVERIFY(StoredComSettingsExist()); // a choice is stored; the untouched default would not be
    QCOMPARE(StoredComValue(QStringLiteral("COMPort")).toInt(), 3);
    QCOMPARE(StoredComValue(QStringLiteral("BaudRate")).toInt(), 12);
}

void TMainWindowTest::StoredTextPortStopsReading() {
    StoreComValue(QStringLiteral("COMPort"), QStringLiteral("abc"));
    StoreComValue(QStringLiteral("BaudRate"), 7);
    TMessageRecorder boxes;
    TFormTervolt form(FProgramDirectory->Path());
    // The settings error first, then start-up goes on and tries the port.
    QCOMPARE(boxes.Shown.size(), 2);
    CheckNotice(boxes.Shown.first(), QStringLiteral("Invalid data type for 'COMPort'"));
    QVERIFY(boxes.Shown.last().Text.startsWith(kConnectionFailure));
    QCOMPARE(form.CommInterface()->CurrentBaudRate(), br115200);
    QCOMPARE(form.CommInterface()->CurrentPort(), pnCOM2);
}

// A named pipe as the settings file: start-up says so and goes on, and Browse, which reads and
// writes the last image folder, neither blocks nor touches it. The pipe takes the place of this
// test's own settings file, the one every part of the process has been reading.
void TMainWindowTest::SettingsFileThatIsAPipe() {
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image.hex"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(":00000001FF\n") > 0);
    file.close();
    const QString settings = UserSettingsFile();
    const QString saved = dir.filePath(QStringLiteral("saved.conf"));
    QVERIFY(QFile::rename(settings, saved));
    QVERIFY(mkfifo(QFile::encodeName(settings).constData(), 0600) == 0);
    QStringList texts;
    QString chosen;
    {
        TMessageRecorder boxes;
        TFormTervolt form(FProgramDirectory->Path());
        for (const TShownMessage& box : boxes.Shown)
            texts << box.Text;
        ChooseFile(form, image);
        form.findChild<TsuiEdit*>(QStringLiteral("EditFileName"))->clear();
        ChooseFile(form, image);
        chosen = form.findChild<TsuiEdit*>(QStringLiteral("EditFileName"))->toolTip();
    }
    const bool stillAPipe = QFileInfo(settings).exists() && !QFileInfo(settings).isFile();
    QVERIFY(QFile::remove(settings) && QFile::rename(saved, settings));
    QVERIFY2(!texts.isEmpty() && texts.first().contains(settings + QStringLiteral(" is not a regular file")),
             qPrintable(texts.join(u'|')));
    QCOMPARE(chosen, image);
    QVERIFY(stillAPipe);
}

void TMainWindowTest::LoadComSettingsKeepsDefaultsOutOfRange_data() {
    QTest::addColumn<QVariant>("port");
    QTest::addColumn<QVariant>("baud");
    QTest::addColumn<int>("expectedPort");
    QTest::addColumn<int>("expectedBaud");
    QTest::addColumn<QString>("error");
    const QVariant none;
    QTest::newRow("listed") << QVariant(3) << QVariant(9) << 3 << 9 << QString();
    QTest::newRow("beyond the list") << QVariant(5) << QVariant(15) << 5 << 15 << QString();
    // The CLI reads the same values through the same reader: 259 is not COM3, 263 not 9600.
    QTest::newRow("low byte in range") << QVariant(259) << QVariant(263) << 2 << 13 << QString();
    QTest::newRow("negative") << QVariant(-252) << QVariant(-244) << 2 << 13 << QString();
    QTest::newRow("no such port or rate") << QVariant(0) << QVariant(16) << 2 << 13 << QString();
    QTest::newRow("past the driver") << QVariant(257) << QVariant(255) << 2 << 13 << QString();
    QTest::newRow("a COM number beyond the first sixteen")
        << QVariant(17) << QVariant(13) << 17 << 13 << QString();
    QTest::newRow("baud only") << none << QVariant(4) << 2 << 4 << QString();
    // Which texts the reader refuses, and with what message: tst_corpus_devices' storedSettings; a
    // refused port at start-up: StoredTextPortStopsReading.
    QTest::newRow("text baud") << QVariant(4) << QVariant(QStringLiteral("fast")) << 4 << 13
                               << QStringLiteral("Invalid data type for 'BaudRate'");
}

void TMainWindowTest::LoadComSettingsKeepsDefaultsOutOfRange() {
    QFETCH(QVariant, port);
    QFETCH(QVariant, baud);
    QFETCH(int, expectedPort);
    QFETCH(int, expectedBaud);
    QFETCH(QString, error);
    TFormTervolt& form = IdleForm();
    form.CommInterface()->SelectPort(pnCOM2);
    form.CommInterface()->SelectBaudRate(br115200);
    if (port.isValid())
        StoreComValue(QStringLiteral("COMPort"), port);
    if (baud.isValid())
        StoreComValue(QStringLiteral("BaudRate"), baud);

    TMessageRecorder boxes;
    form.LoadComSettings();
    QCOMPARE(int(form.CommInterface()->CurrentPort()), expectedPort);
    QCOMPARE(int(form.CommInterface()->CurrentBaudRate()), expectedBaud);
    if (error.isEmpty()) {
        QVERIFY(boxes.Shown.isEmpty());
    } else {
        QCOMPARE(boxes.Shown.size(), 1);
        CheckNotice(boxes.Shown.first(), error);
    }
}

// ---- Identification -------------------------------------------------------------------------------

void TMainWindowTest::IdentificationRetriesUntilBoardAnswers() {
    // Built here on purpose: the start-up path opens the port and starts the timer itself.
    FBoard = std::make_unique<TScriptedBoard>();
    QVERIFY(FBoard->IsOpen());
    MapPort(2, FBoard->SlavePath());
    TMessageRecorder boxes;
    FBoardForm = std::make_unique<TFormTervolt>(FProgramDirectory->Path());
    TFormTervolt& form = *FBoardForm;
    form.FormShow();
    QVERIFY(boxes.Shown.isEmpty());
    QCOMPARE(Control<QLabel>(form, "LabelConnect")->text(), QStringLiteral("Connected"));
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnInit")->isEnabled());
    // The image can be chosen before any board answers.
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnBrowse")->isEnabled());
    QVERIFY(Control<TsuiRadioGroup>(form, "RadioGroupOperation")->isEnabled());
    QVERIFY(form.AutoIdentifierTimer()->isActive());

    TLabelHistory mode(Control<QLabel>(form, "LabelMode"));
    QVERIFY2(WaitUntil([&] { return FBoard->Pings() >= 3; }, 10s), "the board is pinged again and again");
    QVERIFY2(mode.Saw({kIdentifying, kNoTarget, kIdentifying, kNoTarget}), qPrintable(mode.Texts.join(u'|')));
    QVERIFY(!form.TargetFound());
    QVERIFY(boxes.Shown.isEmpty());

    FBoard->SetMode(TScriptedBoard::bmAnswering);
    QVERIFY(WaitUntil([&] { return form.FlashIdentified(); }, 10s));
    QVERIFY(form.TargetFound());
    QVERIFY(Control<QLabel>(form, "LabelMode")->text().isEmpty());
    QVERIFY(!form.AutoIdentifierTimer()->isActive());
    QCOMPARE(Control<TsuiEdit>(form, "EditFLASHManefacturer")->text(), QStringLiteral("VELUM"));
    QCOMPARE(Control<TsuiEdit>(form, "EditFLASHProduct")->text(), QStringLiteral("VF040B"));
    QVERIFY2(!Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled(), "no file chosen");
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnBrowse")->isEnabled());
    QVERIFY(Control<TsuiRadioGroup>(form, "RadioGroupOperation")->isEnabled());
    QVERIFY(boxes.Shown.isEmpty());

    // The port closing behind the window's back: the next attempt stops the timer, nothing else.
    FBoard->SetMode(TScriptedBoard::bmSilent);
    QTest::mouseClick(Control<TsuiImageButton>(form, "BitBtnInit"), Qt::LeftButton);
    QVERIFY(form.AutoIdentifierTimer()->isActive());
    form.CommInterface()->CommUnit()->CommPortDriver()->Disconnect();
    const int pings = FBoard->Pings();
    QVERIFY(WaitUntil([&] { return !form.AutoIdentifierTimer()->isActive(); }, 5s));
    QCOMPARE(FBoard->Pings(), pings);
    QCOMPARE(Control<QLabel>(form, "LabelConnect")->text(), QStringLiteral("Connected"));
}

void TMainWindowTest::ListedChipEnablesStartOnlyWithFile() {
    TFormTervolt& form = BoardForm();
    FBoard = std::make_unique<TScriptedBoard>();
    FBoard->SetMode(TScriptedBoard::bmAnswering);
    TMessageRecorder boxes;
    AttachPort(form, FBoard->SlavePath());

    QCOMPARE(Control<QLabel>(form, "LabelConnect")->text(), QStringLiteral("Connected"));
    QVERIFY(form.TargetFound() && form.FlashIdentified());
    QCOMPARE(Control<TsuiEdit>(form, "EditFLASHManefacturer")->text(), QStringLiteral("VELUM"));
    QCOMPARE(Control<TsuiEdit>(form, "EditFLASHProduct")->text(), QStringLiteral("VF040B"));
    QVERIFY(Control<QLabel>(form, "LabelMode")->text().isEmpty());
    QVERIFY(!form.AutoIdentifierTimer()->isActive());
    QVERIFY2(!Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled(), "no file yet");

    ChooseFile(form, QStringLiteral("/images/second.hex"));
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled());

    // Disconnect in the COM settings: the Disconnected look; what the user chose stays choosable.
    DetachPort(form);
    QVERIFY(!form.PortOpen());
    QCOMPARE(Control<QLabel>(form, "LabelConnect")->text(), QStringLiteral("Disconnected"));
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnInit")->isEnabled());
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled());
    QVERIFY(!form.FlashIdentified());
    QVERIFY(Control<TsuiEdit>(form, "EditFLASHManefacturer")->text().isEmpty());
    QVERIFY(Control<TsuiEdit>(form, "EditFLASHProduct")->text().isEmpty());
    QVERIFY(!form.AutoIdentifierTimer()->isActive());
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnBrowse")->isEnabled());
    QVERIFY(Control<TsuiRadioGroup>(form, "RadioGroupOperation")->isEnabled());
    QCOMPARE(Control<TsuiEdit>(form, "EditFileName")->text(), QStringLiteral("/images/second.hex"));
    // A file chosen while no target is known: identification enables Start once it succeeds.
    ChooseFile(form, QStringLiteral("/images/third.hex"));
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled());
    AttachPort(form, FBoard->SlavePath());
    QVERIFY(form.FlashIdentified());
    QVERIFY(Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled());
    QVERIFY(boxes.Shown.isEmpty());
    QCOMPARE(FBoard->IdQueries(), 2);
}

void TMainWindowTest::UnlistedChipReportedOnce_data() {
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<bool>("answersId");
    QTest::addColumn<QString>("why"); // the line below the notice
    const QString unlisted = QStringLiteral("The board reports %1 %2, which is not in devices.tervolt.");
    QTest::newRow("device id differs in case") << "VELUM"
                                               << "vf040b" << true << unlisted.arg("VELUM", "vf040b");
    QTest::newRow("manufacturer differs in case") << "Velum"
                                                  << "VF040B" << true << unlisted.arg("Velum", "VF040B");
    QTest::newRow("not in the list") << "VELUM"
                                     << "VF999Z" << true << unlisted.arg("VELUM", "VF999Z");
    QTest::newRow("no answer to P ID")
        << "VELUM"
        << "VF040B" << false << "The board did not answer the chip query. No answer within 5.0 s.";
}

void TMainWindowTest::UnlistedChipReportedOnce() {
    QFETCH(QString, manufacturer);
    QFETCH(QString, deviceId);
    QFETCH(bool, answersId);
    QFETCH(QString, why);
    TFormTervolt& form = BoardForm();
    TSimConfig config;
    config.Manufacturer = manufacturer.toStdString();
    config.DeviceId = deviceId.toStdString();
    FBoard = std::make_unique<TScriptedBoard>(config);
    ChooseFile(form, QStringLiteral("/images/third.hex"));
    TMessageRecorder boxes;
    AttachPort(form, FBoard->SlavePath());
    QVERIFY2(form.AutoIdentifierTimer()->isActive(), "a silent board keeps the window searching");

    // The timer finds the board and asks for the chip once.
    FBoard->SetMode(answersId ? TScriptedBoard::bmAnswering : TScriptedBoard::bmPingOnly);
    QVERIFY(WaitUntil([&] { return !boxes.Shown.isEmpty(); }, 10s));
    CheckNotice(boxes.Shown.first(), kNotIdentified);
    QCOMPARE(boxes.Shown.first().Text, kNotIdentified + u'\n' + why);
    QCOMPARE(Control<QLabel>(form, "LabelStatus")->accessibleName(),
             QStringLiteral("COM2 \u00b7 115200 baud \u00b7 board answers, chip not identified"));
    const int pings = FBoard->Pings();
    QTest::qWait(1500); // long enough for a couple of retries, had the timer been left running
    QCOMPARE(boxes.Shown.size(), 1);
    QCOMPARE(FBoard->Pings(), pings);
    QCOMPARE(FBoard->IdQueries(), 1);
    QVERIFY(!form.AutoIdentifierTimer()->isActive());
    QVERIFY(form.TargetFound());
    QVERIFY(!form.FlashIdentified());
    QVERIFY(Control<TsuiEdit>(form, "EditFLASHManefacturer")->text().isEmpty());
    QVERIFY(Control<TsuiEdit>(form, "EditFLASHProduct")->text().isEmpty());
    QVERIFY(!Control<TsuiImageButton>(form, "BitBtnStart")->isEnabled());
}

void TMainWindowTest::ComSettingsWaitsForTheBoardsAnswer() {
    TFormTervolt& form = BoardForm();
    FBoard = std::make_unique<TScriptedBoard>();
    TMessageRecorder boxes;
    AttachPort(form, FBoard->SlavePath());
    QVERIFY(form.AutoIdentifierTimer()->isActive());

    // Com clicked while a ping waits for its answer: the dialog opens once that wait is over, so
    // that the identification after it is not refused by the busy link.
    bool clicked = false;
    bool shown = false;
    bool waitingAtShow = true;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        TCommInterface* dialog = form.CommInterface();
        if (!clicked && dialog->Waiting()) {
            clicked = true;
            // From an event of its own, so that this watcher keeps running whatever the click does.
            QTimer::singleShot(0, &form, [&form] {
                QTest::mouseClick(Control<TsuiImageButton>(form, "BitBtnComSettings"), Qt::LeftButton);
            });
        }
        if (!shown && QApplication::activeModalWidget() == dialog) {
            shown = true;
            waitingAtShow = dialog->Waiting();
            FBoard->SetMode(TScriptedBoard::bmAnswering);
            dialog->BitBtnOK()->click();
        }
    });
    watcher.start(5);
    QVERIFY(WaitUntil([&] { return shown && form.FlashIdentified(); }, 10s));
    QVERIFY(!waitingAtShow);
    QVERIFY(boxes.Shown.isEmpty());
}

// ---- Image selection ------------------------------------------------------------------------------

void TMainWindowTest::FormatSwitchKeepsFileAndPicksFilter() {
    TFormTervolt& form = IdleForm();
    auto* format = Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat");
    auto* binaryGroup = Control<TsuiGroupBox>(form, "GroupBoxBinaryDataFileParams");
    auto* fileName = Control<TsuiEdit>(form, "EditFileName");
    auto* start = Control<TsuiImageButton>(form, "BitBtnStart");
    QTest::mouseClick(format->Button(0), Qt::LeftButton);
    QVERIFY(form.FileFormat() == TImageFormat::IntelExtended);
    QVERIFY(!binaryGroup->isVisible());

    QStringList filters;
    QString answer = QStringLiteral("/images/app.hex");
    form.SetOpenFileDialog([&](QWidget* parent, const QString& filter) {
        filters.append(filter);
        return parent == &form ? answer : QString();
    });
    auto* browse = Control<TsuiImageButton>(form, "BitBtnBrowse");
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(fileName->text(), QStringLiteral("/images/app.hex"));
    QCOMPARE(form.OpenDialogFilter(), kHexFileFilter);
    QVERIFY2(!start->isEnabled(), "no target: Start stays disabled");

    // A chosen name other than .rbf or .bin selects Auto-detect.
    QVERIFY(form.FileFormat() == TImageFormat::Auto);
    QTest::mouseClick(format->Button(1), Qt::LeftButton);
    QVERIFY(form.FileFormat() == TImageFormat::Binary);
    QVERIFY(binaryGroup->isVisible());
    QCOMPARE(fileName->text(), QStringLiteral("/images/app.hex"));

    answer.clear(); // the user cancels
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(form.OpenDialogFilter(), kBinaryFileFilter);
    QCOMPARE(fileName->text(), QStringLiteral("/images/app.hex"));

    QTest::mouseClick(format->Button(0), Qt::LeftButton);
    QVERIFY(!binaryGroup->isVisible());
    QCOMPARE(fileName->text(), QStringLiteral("/images/app.hex"));
    QCOMPARE(filters, (QStringList{QtFileFilter(kHexFileFilter), QtFileFilter(kBinaryFileFilter)}));
    form.SetOpenFileDialog({});
}

int main(int argc, char* argv[]) {
    return RunMainWindowTest<TMainWindowTest>(argc, argv);
}

#include "tst_mainwindow.moc"
