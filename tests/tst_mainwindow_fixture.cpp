#include "tests/tst_mainwindow_fixture.h"

#include "dialogs/comm_interface.h"
#include "dialogs/hexfiles_box.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "skin/suicontrols.h"
#include "skin/suiimagebutton.h"
#include "skin/suiradiogroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRegularExpression>
#include <QTimer>

#include <QDir>
#include <QFile>
#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

constexpr int kHighestPortNumber = 16;

QSettings UserSettings() {
    return QSettings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
}

} // namespace

TPrivateSettings::TPrivateSettings() {
    if (FDir.isValid())
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(FDir.path()));
}

void MapPort(int number, const QString& devicePath) {
    QSettings settings = UserSettings();
    settings.setValue(QStringLiteral("Ports/COM%1").arg(number), devicePath);
    settings.sync();
}

QString MissingDevicePath(int number) {
    return QStringLiteral("/nonexistent-tervolt-test/COM%1").arg(number);
}

void MapAllPortsToMissingDevices() {
    for (int number = 1; number <= kHighestPortNumber; ++number)
        MapPort(number, MissingDevicePath(number));
}

void ClearStoredComSettings() {
    QSettings settings = UserSettings();
    settings.remove(QStringLiteral("ComSettings"));
    settings.sync();
}

void StoreComValue(const QString& name, const QVariant& value) {
    QSettings settings = UserSettings();
    settings.setValue(QStringLiteral("ComSettings/") + name, value);
    settings.sync();
}

QVariant StoredComValue(const QString& name) {
    return UserSettings().value(QStringLiteral("ComSettings/") + name);
}

TProgramDirectory::TProgramDirectory(bool withDevicesList) {
    if (!FDir.isValid())
        return;
    FValid = !withDevicesList || QFile::copy(QStringLiteral(TERVOLT_BIN_DIR "/devices.tervolt"),
                                             QDir(FDir.path()).filePath(QStringLiteral("devices.tervolt")));
}

bool TProgramDirectory::WriteDevicesList(const QByteArray& content) {
    QFile file(QDir(FDir.path()).filePath(QStringLiteral("devices.tervolt")));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

TScriptedBoard::TScriptedBoard(const TSimConfig& config) : FMonitor(config) {
    if (!FPty.IsOpen())
        return;
    FNotifier = std::make_unique<QSocketNotifier>(FPty.MasterFd(), QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { ReadCommands(); });
}

TScriptedBoard::~TScriptedBoard() = default;

void TScriptedBoard::ReadCommands() {
    char buffer[1024];
    for (;;) {
        const ssize_t count = ::read(FPty.MasterFd(), buffer, sizeof buffer);
        if (count <= 0) {
            // The slave keeper holds the line open, so a failed read is only "nothing more now".
            break;
        }
        for (ssize_t i = 0; i < count; ++i) {
            const char c = buffer[i];
            if (c != '\r') {
                FLine.append(c);
                continue;
            }
            const QByteArray line = FLine;
            FLine.clear();
            ++FCommands;
            const bool ping = line.isEmpty();
            const bool identify = line == "P ID";
            FPings += ping ? 1 : 0;
            FIdQueries += identify ? 1 : 0;
            const bool answer = FMode == bmAnswering || (FMode == bmPingOnly && ping);
            if (!answer)
                continue;
            for (const std::string& reply :
                 FMonitor.Feed(std::string(line.constData(), size_t(line.size())) + "\r"))
                FPty.Write(QByteArray(reply.data(), qsizetype(reply.size())));
        }
    }
}

TMessageRecorder::TMessageRecorder(TAnswer answer)
    : FAnswer(std::move(answer)), FResponder([this](const TShownMessage& message) {
          Shown.append(message);
          if (FAnswer)
              return FAnswer(message);
          return message.ButtonResults.isEmpty() ? mrNone : message.ButtonResults.first();
      }) {}

int TMessageRecorder::Count(const QString& text) const {
    int count = 0;
    for (const TShownMessage& message : Shown)
        count += WithoutAddedLines(message.Text) == text ? 1 : 0;
    return count;
}

QStringList TMessageRecorder::Texts() const {
    QStringList texts;
    for (const TShownMessage& message : Shown)
        texts.append(WithoutAddedLines(message.Text));
    return texts;
}

QString WithoutAddedLines(const QString& text) {
    static const QRegularExpression details(QStringLiteral(
        "\n([\\d,]+ bytes in [\\d.]+ s.*\n.* baud(\n.*)?|The FLASH (was erased|holds|may have been).*|"
        "The board (reports .*, which is not in|did not answer the chip query).*)$"));
    QString kept = text;
    return kept.remove(details);
}

THexErrorRecorder::THexErrorRecorder() {
    SetHexFileErrorHook([this](const QString& text, const QString& caption) {
        Texts.append(text);
        Captions.append(caption);
    });
}

THexErrorRecorder::~THexErrorRecorder() {
    SetHexFileErrorHook({});
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    return QTest::qWaitFor(condition, int(deadline.count()));
}

namespace {

// Acts in the COM settings dialog once its modal loop runs, then closes it with OK.
void WithComDialog(TFormTervolt& form, const std::function<void(TCommInterface&)>& action) {
    TCommInterface* dialog = form.CommInterface();
    QTimer::singleShot(0, dialog, [dialog, action] {
        action(*dialog);
        dialog->BitBtnOK()->click();
    });
    form.BitBtnComSettingsClick();
}

} // namespace

void AttachPort(TFormTervolt& form, const QString& devicePath) {
    MapPort(2, devicePath);
    WithComDialog(form, [](TCommInterface& dialog) {
        if (dialog.CommUnit()->CommPortDriver()->Connected())
            dialog.BitBtnDisconnectClick();
        dialog.ComboBoxCOMPort()->setCurrentIndex(pnCOM2 - 1);
        dialog.BitBtnConnectClick();
    });
}

void DetachPort(TFormTervolt& form) {
    WithComDialog(form, [](TCommInterface& dialog) {
        if (dialog.CommUnit()->CommPortDriver()->Connected())
            dialog.BitBtnDisconnectClick();
    });
}

bool TOneWindowTest::OpenWindow() {
    FProgramDirectory = std::make_unique<TProgramDirectory>();
    if (!FImages.isValid() || !FProgramDirectory->IsValid())
        return false;
    ClearStoredComSettings();
    FForm = OpenMainWindow(FProgramDirectory->Path());
    return FForm != nullptr;
}

QString TOneWindowTest::ImagePath(const QString& name) const {
    return QDir(FImages.path()).filePath(name);
}

void TOneWindowTest::Attach(const TSimServer& board) {
    TMessageRecorder boxes;
    AttachPort(*FForm, QString::fromStdString(board.SlavePath()));
    QVERIFY2(FForm->FlashIdentified(), qPrintable(boxes.Texts().join(u'|')));
    QVERIFY(boxes.Shown.isEmpty());
}

void TOneWindowTest::ChooseFile(const QString& path) {
    FForm->SetOpenFileDialog([path](QWidget*, const QString&) { return path; });
    QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnBrowse"), Qt::LeftButton);
    FForm->SetOpenFileDialog({});
    QCOMPARE(Control<TsuiEdit>(*FForm, "EditFileName")->text(), path);
}

void TOneWindowTest::ClickStart() {
    auto* start = Control<TsuiImageButton>(*FForm, "BitBtnStart");
    QVERIFY(start->isVisible() && start->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
}

QByteArray Pattern(int length, int seed) {
    QByteArray data;
    for (int i = 0; i < length; ++i)
        data.append(char((i * 31 + seed * 7 + 5) & 0xFF));
    return data;
}

TRecords Records(std::uint32_t address, int length, int seed) {
    TRecords records;
    const QByteArray data = Pattern(length, seed);
    for (int offset = 0; offset < length; offset += 16)
        records.emplace_back(address + std::uint32_t(offset), data.mid(offset, 16));
    return records;
}

void CheckBoardHolds(const TSimServer& board, const TImage& image) {
    QString why;
    QVERIFY2(BoardHolds(board, image, why), qPrintable(why));
}

std::size_t Programmed(const TSimServer& board) {
    const TFlashSnapshot snapshot = board.Snapshot();
    return std::size_t(std::count(snapshot.Programmed.begin(), snapshot.Programmed.end(), true));
}

std::unique_ptr<TFormTervolt> OpenMainWindow(const QString& programDirectory) {
    TMessageRecorder quiet;
    auto form = std::make_unique<TFormTervolt>(programDirectory);
    form->FormShow();
    QApplication::setActiveWindow(form.get());
    return QTest::qWaitForWindowActive(form.get()) ? std::move(form) : nullptr;
}

void ResetChoices(TFormTervolt& form) {
    TMessageRecorder quiet;
    if (form.PortOpen())
        DetachPort(form);
    Control<TsuiEdit>(form, "EditFileName")->clear();
    QTest::mouseClick(Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->Button(0), Qt::LeftButton);
    Control<TsuiRadioGroup>(form, "RadioGroupOperation")->SetItemIndex(1);
    Control<QCheckBox>(form, "CheckBoxWriteFileSizeOnStart")->setChecked(true);
    Control<QCheckBox>(form, "CheckBoxVerifyAfterProgram")->setChecked(false);
    Control<TsuiEdit>(form, "EditStartAddress")->setText(QStringLiteral("00000000"));
    form.EditStartAddressExit();
}

std::unique_ptr<TSimServer> StartSimBoard(const TSimConfig& config) {
    auto board = std::make_unique<TSimServer>(config);
    Started(*board);
    return board;
}
