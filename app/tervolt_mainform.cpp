#include "app/tervolt_mainform.h"

#include "engine/comsettings.h"
#include "engine/flashengine.h"
#include "engine/startaddress.h"
#include "common/version.h"
#include "app/windowfilefilter.h"
#include "app/windowflashhost.h"
#include "app/windowimagefolder.h"
#include "app/windowstartaddress.h"
#include "devices/devicesdb.h"
#include "devices/deviceslocation.h"
#include "dialogs/poweron.h"
#include "dialogs/velummessagebox.h"
#include "files/systemfiles.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "dialogs/comm_interface.h"
#include "ui_tervolt_mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <optional>

namespace {

const QString kCaptionError = QStringLiteral("Tervolt Error");

// Marks an identification exchange as running for as long as it waits for the board.
class TTalkScope {
public:
    explicit TTalkScope(bool& talking) : FTalking(talking) { FTalking = true; }
    ~TTalkScope() { FTalking = false; }
    TTalkScope(const TTalkScope&) = delete;
    TTalkScope& operator=(const TTalkScope&) = delete;

private:
    bool& FTalking;
};

// Disables widgets for as long as it lives and gives each back the state it had.
class TDisabledScope {
public:
    explicit TDisabledScope(const QList<QWidget*>& widgets) {
        for (QWidget* widget : widgets) {
            FStates.append({widget, widget->isEnabled()});
            widget->setEnabled(false);
        }
    }
    ~TDisabledScope() {
        for (const auto& [widget, enabled] : FStates)
            widget->setEnabled(enabled);
    }
    TDisabledScope(const TDisabledScope&) = delete;
    TDisabledScope& operator=(const TDisabledScope&) = delete;

private:
    QList<QPair<QWidget*, bool>> FStates;
};

// "COM2", or the device path the driver was given.
QString ShownPortName(const QString& driverName) {
    static const QString kDevicePrefix = QStringLiteral("\\\\.\\");
    return driverName.startsWith(kDevicePrefix) ? driverName.mid(kDevicePrefix.size()) : driverName;
}

} // namespace

ETervoltError::ETervoltError(const QString& message, const QString& detail)
    : std::runtime_error(message.toStdString()), FMessage(message), FDetail(detail) {}

TFormTervolt::TFormTervolt(const QString& programDirectory, QWidget* owner)
    : QWidget(owner), FUi(std::make_unique<Ui::FormTervolt>()) {
    FUi->setupUi(this);
    setFixedSize(size());
    FUi->Tervolt->SetCaption(QStringLiteral("Tervolt - %1").arg(QLatin1String(kTervoltVersion)));
    // The window is dense: its radio groups sit closer to their frames than the skin's default (none
    // at the right, where "Program" needs every pixel).
    for (TsuiRadioGroup* group : {FUi->RadioGroupHexFileFormat, FUi->RadioGroupOperation}) {
        group->layout()->setContentsMargins(2, 2, 0, 2);
        group->layout()->setSpacing(2);
    }
    FUi->CGaugeProgressBar->hide();
    FUi->LabelHint->hide();
    FUi->EditStartAddress->setValidator(new TStartAddressValidator(FUi->EditStartAddress));
    setAcceptDrops(true);
    FAutoIdentifierTimer = new QTimer(this);
    FAutoIdentifierTimer->setObjectName(QStringLiteral("AutoIdentifierTimer"));

    FCommInterface = std::make_unique<TCommInterface>(this);

    FPowerOnForm = std::make_unique<TFormPowerOn>(this);
    FPowerOnForm->ShowPowerOn();
    FPowerOnForm.reset();

    ClearStatusLabels();
    FAutoIdentifierTimer->stop();
    FAutoIdentifierTimer->setInterval(kAutoIdentifierIntervalMs);
    FUi->BitBtnStop->hide();
    FUi->BitBtnStart->show();
    FUi->BitBtnStart->setEnabled(false);
    FFlashIdentified = false;
    FTargetFound = false;
    FStartAddress = 0;
    FFileFormat = kFormatIntelExtended;
    FUi->EditFLASHProduct->clear();
    FUi->EditFLASHManefacturer->clear();
    FUi->EditStartAddress->setText(FormatStartAddress(FStartAddress));
    FUi->CheckBoxWriteFileSizeOnStart->setChecked(true);
    FUi->GroupBoxBinaryDataFileParams->setVisible(FFileFormat == kFormatBinary);
    FUi->RadioGroupHexFileFormat->SetItemIndex(FFileFormat - 1);
    ConnectHandlers();

    FDevicesList = std::make_unique<TDevicesList>();
    FDevicesList->Clear();
    QString why;
    if (!LoadDeviceLists(*FDevicesList, QDir(programDirectory).filePath(kDevicesFileName), why)) {
        FDevicesList.reset();
        throw ETervoltError(QStringLiteral("Can't load \"%1\"").arg(kDevicesFileName), why);
    }

    LoadComSettings();
    if (FCommInterface->EnsureConnected()) {
        ShowConnected();
        FAutoIdentifierTimer->start();
    } else {
        FUi->BitBtnInit->setEnabled(false);
        FUi->LabelConnect->setText(QStringLiteral("Disconnected"));
    }
}

TFormTervolt::~TFormTervolt() {
    FAutoIdentifierTimer->stop();
    SetHourglass(false);
    FCommInterface.reset();
    FDevicesList.reset();
}

void TFormTervolt::ConnectHandlers() {
    Ui::FormTervolt& ui = *FUi;
    connect(FAutoIdentifierTimer, &QTimer::timeout, this, &TFormTervolt::AutoIdentifierTimerTimer);
    connect(FCommInterface->CommUnit()->CommPortDriver(), &TCommPortDriver::Disconnected, this,
            &TFormTervolt::PortVanished);
    connect(ui.BitBtnComSettings, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnComSettingsClick);
    connect(ui.BitBtnInit, &QAbstractButton::clicked, this, &TFormTervolt::AutoIdentifierTimerTimer);
    connect(ui.RadioGroupHexFileFormat, &QGroupBox::clicked, this,
            &TFormTervolt::RadioGroupHexFileFormatClick);
    connect(ui.BitBtnBrowse, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnBrowseClick);
    connect(ui.BitBtnStart, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnStartClick);
    connect(ui.BitBtnStop, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnStopClick);
    connect(ui.BitBtnStop, &TsuiImageButton::MouseMoved, this, &TFormTervolt::BitBtnStopMouseMove);
    // The panel also sees the moves its controls pass up, those over the Stop button included; the
    // filter tells them apart by position.
    ui.suiImagePanel->installEventFilter(this);
    ui.EditStartAddress->installEventFilter(this);
    SetTabOrder();
}

// Top to bottom, left to right; the read-only fields take no Tab stop. A radio group is one stop,
// its chosen item (the group sees to that); the arrow keys move within it.
void TFormTervolt::SetTabOrder() {
    Ui::FormTervolt& ui = *FUi;
    const auto items = [](const TsuiRadioGroup* group) {
        QList<QWidget*> buttons;
        for (int i = 0; i < group->Items().size(); ++i)
            buttons.append(group->Button(i));
        return buttons;
    };
    QList<QWidget*> order = {ui.BitBtnComSettings, ui.BitBtnInit};
    order << items(ui.RadioGroupHexFileFormat) << ui.BitBtnBrowse << items(ui.RadioGroupOperation);
    order << ui.EditStartAddress << ui.CheckBoxWriteFileSizeOnStart << ui.BitBtnStart << ui.BitBtnStop;
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

TsuiForm* TFormTervolt::Frame() const {
    return FUi->Tervolt;
}

bool TFormTervolt::PortOpen() const {
    return FCommInterface->CommUnit()->CommPortDriver()->Connected();
}

// ---- Window and start-up --------------------------------------------------------------------------

void TFormTervolt::FormShow() {
    show();
    raise();
    activateWindow();
}

void TFormTervolt::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
            const QRect area = screen->availableGeometry();
            move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
        }
    }
    QWidget::showEvent(event);
}

void TFormTervolt::closeEvent(QCloseEvent* event) {
    // An operation must never outlive the window: while one runs, no way of closing is taken.
    if (FBusy) {
        event->ignore();
        return;
    }
    if (FTalkingToTarget) {
        // An answer is awaited further down the stack: close once it is in, and start nothing meanwhile.
        event->ignore();
        if (!FCloseRequested) {
            FCloseRequested = true;
            QTimer::singleShot(kAutoIdentifierIntervalMs, this, [this] {
                FCloseRequested = false;
                close();
            });
        }
        return;
    }
    SaveComSettings();
    event->accept();
}

void TFormTervolt::LoadComSettings() {
    // Values outside the ports and rates the driver knows are dropped by the reader: the defaults stay.
    const TStoredComSettings stored = ReadStoredComSettings();
    if (stored.Port)
        FCommInterface->SelectPort(TPortNumber(*stored.Port));
    if (stored.BaudRate)
        FCommInterface->SelectBaudRate(TBaudRate(*stored.BaudRate));
    if (!stored.Error.isEmpty())
        ShowError(stored.Error);
}

void TFormTervolt::SaveComSettings() {
    WriteStoredComSettings(std::int32_t(std::int8_t(FCommInterface->CurrentPort())),
                           std::int32_t(std::int8_t(FCommInterface->CurrentBaudRate())));
}

void TFormTervolt::SetHourglass(bool on) {
    if (on == FHourglass)
        return;
    FHourglass = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TFormTervolt::SetBusy(bool busy) {
    FBusy = busy;
    SetHourglass(busy);
    EnableChoices(!busy);
    FPanelMouseMoveInstalled = false;
    FUi->Tervolt->SetCloseButtonVisible(!busy);
}

// Everything that cannot act while a run (or the chip query before it) goes on. The start address and
// the size option are in it: a value typed meanwhile would look as if the running operation used it.
void TFormTervolt::EnableChoices(bool enabled) {
    for (QWidget* choice : Choices())
        choice->setEnabled(enabled);
}

QList<QWidget*> TFormTervolt::Choices() const {
    const Ui::FormTervolt& ui = *FUi;
    return {ui.BitBtnInit,
            ui.BitBtnComSettings,
            ui.BitBtnBrowse,
            ui.RadioGroupOperation,
            ui.RadioGroupHexFileFormat,
            ui.EditStartAddress,
            ui.CheckBoxWriteFileSizeOnStart};
}

void TFormTervolt::EnableSelection(bool enabled) {
    FUi->BitBtnBrowse->setEnabled(enabled);
    FUi->RadioGroupOperation->setEnabled(enabled);
}

void TFormTervolt::ClearStatusLabels() {
    FUi->LabelMode->clear();
    FUi->LabelAddress->clear();
    FUi->LabelAddressNumber->clear();
}

void TFormTervolt::BitBtnStopMouseMove() {
    if (!FBusy)
        return;
    SetHourglass(false); // the button's own hand pointer shows
    FPanelMouseMoveInstalled = true;
}

void TFormTervolt::suiImagePanelMouseMove() {
    FPanelMouseMoveInstalled = false;
    SetHourglass(true);
}

void TFormTervolt::ShowConnected() {
    HideNoAnswerHint();
    FUi->LabelConnect->setText(QStringLiteral("Connected"));
    FUi->BitBtnInit->setEnabled(true);
    EnableSelection(false);
}

void TFormTervolt::ShowDisconnected() {
    HideNoAnswerHint();
    FUi->LabelConnect->setText(QStringLiteral("Disconnected"));
    FUi->BitBtnInit->setEnabled(false);
    FUi->BitBtnStart->setEnabled(false);
    FFlashIdentified = false;
    FUi->EditFLASHProduct->clear();
    FUi->EditFLASHManefacturer->clear();
}

void TFormTervolt::BitBtnComSettingsClick() {
    if (FBusy)
        return;
    if (FTalkingToTarget) {
        // The board's answer is awaited further down the stack; the dialog opens right after it.
        if (!FComSettingsDeferred) {
            FComSettingsDeferred = true;
            QTimer::singleShot(0, this, [this] { RunDeferredComSettings(); });
        }
        return;
    }
    FAutoIdentifierTimer->stop();
    ClearStatusLabels();
    HideNoAnswerHint();
    FCommInterface->exec();
    if (PortOpen()) {
        ShowConnected();
        IdentifyTarget();
        if (!FTargetFound) {
            FUi->EditFLASHProduct->clear();
            FUi->EditFLASHManefacturer->clear();
            FAutoIdentifierTimer->start();
        }
    } else {
        ShowDisconnected();
    }
}

void TFormTervolt::RunDeferredComSettings() {
    if (FTalkingToTarget) {
        QTimer::singleShot(kAutoIdentifierIntervalMs, this, [this] { RunDeferredComSettings(); });
        return;
    }
    FComSettingsDeferred = false;
    BitBtnComSettingsClick();
}

void TFormTervolt::ShowError(const QString& text) {
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(text, kCaptionError, suiStop, QStringLiteral("Ok"), mrOk);
}

// ---- Identification -------------------------------------------------------------------------------

void TFormTervolt::AutoIdentifierTimerTimer() {
    // A tick or click while an exchange waits would only be refused by the link; the running
    // attempt re-arms the timer itself.
    if (FTalkingToTarget || FBusy)
        return;
    FAutoIdentifierTimer->stop();
    if (!PortOpen())
        return;
    IdentifyTarget();
    if (!FTargetFound)
        FAutoIdentifierTimer->start();
}

void TFormTervolt::BitBtnInitClick() {
    IdentifyTarget();
}

void TFormTervolt::IdentifyTarget() {
    FUi->BitBtnStart->setEnabled(false);
    if (DetectTarget()) {
        if (FCloseRequested || !IdentifyFlashChip())
            return;
        FUi->BitBtnStart->setEnabled(!FUi->EditFileName->text().isEmpty());
    } else {
        FUi->EditFLASHManefacturer->clear();
        FUi->EditFLASHProduct->clear();
    }
}

bool TFormTervolt::DetectTarget() {
    FTargetFound = false;
    if (PortOpen()) {
        FUi->LabelMode->setText(QStringLiteral("Identifying target..."));
        bool answered = false;
        {
            TTalkScope talking(FTalkingToTarget);
            answered = FCommInterface->PingTarget();
        }
        if (answered) {
            FUi->LabelMode->clear();
            HideNoAnswerHint();
            FTargetFound = true;
            EnableSelection(true);
        } else if (FCommInterface->LineFailed()) {
            ShowLineFailure();
        } else {
            FUi->LabelMode->setText(QStringLiteral("No target"));
            NoAnswerYet();
        }
    }
    return FTargetFound;
}

// Pinging goes on as before; after a while without any answer the status area says where the window
// is listening and what to look at.
void TFormTervolt::NoAnswerYet() {
    if (!FSilentSince.isValid()) {
        FSilentSince.start();
        return;
    }
    if (FSilentSince.elapsed() < kNoAnswerHintAfterMs || FUi->LabelHint->isVisible())
        return;
    const TCommPortDriver& driver = *FCommInterface->CommUnit()->CommPortDriver();
    const QString port = ShownPortName(driver.PortName());
    const QString device = ResolvePortName(driver.PortName());
    const QString where = device == port ? port : QStringLiteral("%1 (%2)").arg(port, device);
    FUi->LabelHint->setText(QStringLiteral("No answer on %1 at %2 baud. Check the cable, the board's power, "
                                           "and the port and rate under Com.")
                                .arg(where)
                                .arg(driver.BaudRateValue()));
    FUi->LabelHint->show();
}

// The device hung up, or the board sent replies that no command asked for: the status area says so.
void TFormTervolt::ShowLineFailure() {
    FUi->LabelMode->setText(QStringLiteral("Line failure"));
    FUi->LabelHint->setText(FCommInterface->LastFailure());
    FUi->LabelHint->show();
}

void TFormTervolt::HideNoAnswerHint() {
    FSilentSince.invalidate();
    FUi->LabelHint->hide();
    FUi->LabelHint->clear();
}

bool TFormTervolt::IdentifyFlashChip() {
    FFlashIdentified = false;
    FUi->EditFLASHProduct->clear();
    FUi->EditFLASHManefacturer->clear();
    if (PortOpen()) {
        QByteArray deviceId;
        QByteArray manufacturer;
        bool answered = false;
        {
            TTalkScope talking(FTalkingToTarget);
            answered = FCommInterface->IdentifyFlash(deviceId, manufacturer);
        }
        if (answered)
            FFlashIdentified =
                FDevicesList->FindDevice(QString::fromLatin1(manufacturer), QString::fromLatin1(deviceId));
        if (FFlashIdentified) {
            FUi->EditFLASHManefacturer->setText(QString::fromLatin1(manufacturer));
            FUi->EditFLASHProduct->setText(QString::fromLatin1(deviceId));
        } else if (PortOpen() && !FCloseRequested) {
            // A port lost during the query is shown as "Disconnected", a failed line as such: neither
            // is blamed on the chip.
            if (FCommInterface->LineFailed())
                ShowLineFailure();
            else
                ShowError(QStringLiteral("FLASH not identified."));
        }
    }
    return FFlashIdentified;
}

// ---- Image selection ------------------------------------------------------------------------------

void TFormTervolt::RadioGroupHexFileFormatClick() {
    const int index = FUi->RadioGroupHexFileFormat->ItemIndex();
    FFileFormat = std::uint8_t(index + 1);
    FUi->GroupBoxBinaryDataFileParams->setVisible(index == 1);
}

void TFormTervolt::BitBtnBrowseClick() {
    if (FFileFormat == kFormatIntelExtended)
        FOpenDialogFilter = kHexFileFilter;
    else if (FFileFormat == kFormatBinary)
        FOpenDialogFilter = kBinaryFileFilter;
    FOpenDialogFolder = ImageDialogFolder(FUi->EditFileName->text());
    const QString folder = FOpenDialogFolder;
    const TOpenFileDialogFunc dialog =
        FOpenFileDialog ? FOpenFileDialog : [folder](QWidget* parent, const QString& qtFilter) {
            // The dialog lists names that are not UTF-8 with U+FFFD in them; the file must be the one chosen.
            return RecoverChosenFileName(QFileDialog::getOpenFileName(parent, QString(), folder, qtFilter));
        };
    const QString chosen = dialog(this, QtFileFilter(FOpenDialogFilter));
    if (chosen.isEmpty())
        return;
    SelectImageFile(chosen);
}

void TFormTervolt::SelectImageFile(const QString& fileName) {
    FUi->EditFileName->setText(fileName);
    // The field is narrow: the whole path is a hover away.
    FUi->EditFileName->setToolTip(fileName);
    RememberImageFolder(fileName);
    FUi->BitBtnStart->setEnabled(!fileName.isEmpty() && FFlashIdentified && FTargetFound);
}

// One local file, dropped where Browse could be clicked.
QString TFormTervolt::DroppedImage(const QMimeData* data) const {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 || FBusy || FTalkingToTarget ||
        !FUi->BitBtnBrowse->isEnabled())
        return QString();
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return QString();
    // A dropped name that is not UTF-8 arrives with U+FFFD in it, as from the dialog.
    const QString path = RecoverChosenFileName(url.toLocalFile());
    return QFileInfo(path).isFile() ? path : QString();
}

void TFormTervolt::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedImage(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TFormTervolt::dropEvent(QDropEvent* event) {
    const QString path = DroppedImage(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    const std::uint8_t format = ImageFormatOfFileName(path);
    if (format != FFileFormat) {
        FUi->RadioGroupHexFileFormat->SetItemIndex(format - 1);
        RadioGroupHexFileFormatClick();
    }
    SelectImageFile(path);
}

void TFormTervolt::EditStartAddressExit() {
    // The error box takes the focus away from the field; that must not leave it a second time.
    if (FLeavingStartAddress)
        return;
    FLeavingStartAddress = true;
    const QString typed = FUi->EditStartAddress->text();
    if (const std::optional<std::int32_t> address = ParseStartAddress(typed)) {
        FStartAddress = *address;
    } else {
        ShowError(StartAddressErrorText(typed));
        FUi->EditStartAddress->setFocus(Qt::OtherFocusReason);
    }
    FUi->EditStartAddress->setText(FormatStartAddress(FStartAddress));
    FLeavingStartAddress = false;
}

bool TFormTervolt::EditStartAddressKeyDown(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    EditStartAddressExit();
    return true;
}

bool TFormTervolt::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FUi->suiImagePanel && event->type() == QEvent::MouseMove && FPanelMouseMoveInstalled) {
        const QWidget* stop = FUi->BitBtnStop;
        const QRect overStop(stop->mapTo(FUi->suiImagePanel, QPoint(0, 0)), stop->size());
        if (!overStop.contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            suiImagePanelMouseMove();
    } else if (watched == FUi->EditStartAddress) {
        if (event->type() == QEvent::FocusOut) {
            // Only leaving for another control counts, not the window losing the focus.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                EditStartAddressExit();
        } else if (event->type() == QEvent::KeyPress) {
            if (EditStartAddressKeyDown(static_cast<QKeyEvent*>(event)->key()))
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Program and Verify ---------------------------------------------------------------------------

void TFormTervolt::BitBtnStartClick() {
    if (FBusy || FTalkingToTarget)
        return;
    FStopRequested = false;
    bool identified = false;
    {
        TDisabledScope choices(Choices());
        FCommInterface->BeginRun(); // what the board sent while the window was idle is not the run's
        identified = IdentifyFlashChip();
    }
    if (!PortOpen())
        ShowDisconnected(); // lost during the query
    if (!identified) {
        FUi->BitBtnStart->setEnabled(false);
        FocusAfterRun();
        return;
    }
    if (FCloseRequested)
        return; // the window is closing: no operation may start on it
    const QString fileName = FUi->EditFileName->text();
    if (fileName.isEmpty()) {
        QApplication::beep();
        ShowError(QStringLiteral("Please specify File Name first"));
        FocusAfterRun();
        return;
    }
    SetBusy(true);
    FUi->BitBtnStart->hide();
    FUi->BitBtnStop->show();
    FUi->BitBtnStop->setFocus(Qt::OtherFocusReason); // Space stops, as a click would

    const int operation = FUi->RadioGroupOperation->ItemIndex();
    if (operation == 0 || operation == 1) {
        const bool verify = operation == 0;
        FUi->LabelMode->setText(verify ? QStringLiteral("Verifying...") : QStringLiteral("Programming..."));
        FUi->LabelAddress->setText(QStringLiteral("Address:"));
        FUi->CGaugeProgressBar->setValue(0);
        FUi->CGaugeProgressBar->show();
        if (verify)
            VerifyFlash(fileName);
        else
            ProgramFlash(fileName);
        FUi->CGaugeProgressBar->hide();
    }

    SetBusy(false);
    ClearStatusLabels();
    FUi->BitBtnStop->hide();
    FUi->BitBtnStart->show();
    if (!PortOpen())
        ShowDisconnected(); // the adapter went away during the run
    FocusAfterRun();
}

// Back where the next step is: Start again, or Browse while no file is chosen.
void TFormTervolt::FocusAfterRun() {
    QWidget* next = FUi->EditFileName->text().isEmpty() ? static_cast<QWidget*>(FUi->BitBtnBrowse)
                                                        : static_cast<QWidget*>(FUi->BitBtnStart);
    if (!next->isEnabled())
        next = FUi->BitBtnInit->isEnabled() ? FUi->BitBtnInit : FUi->BitBtnComSettings;
    next->setFocus(Qt::OtherFocusReason);
}

// An unplugged adapter: say so at once instead of looking connected until the next click. A running
// operation sees the closed port through its failing commands and updates the look when it ends.
void TFormTervolt::PortVanished() {
    if (FBusy)
        return;
    FAutoIdentifierTimer->stop();
    ClearStatusLabels();
    ShowDisconnected();
}

void TFormTervolt::BitBtnStopClick() {
    QString question = QStringLiteral("Stop");
    const int operation = FUi->RadioGroupOperation->ItemIndex();
    if (operation == 0)
        question += QStringLiteral(" verifying");
    else if (operation == 1)
        question += QStringLiteral(" programming");
    question += QLatin1Char('?');
    TVelumMessageBox box(DeepBlue);
    if (box.ShowTwoButtons(question, QStringLiteral("Tervolt - Confirm Abort Operation"), suiStop,
                           QStringLiteral("Yes"), mrYes, QStringLiteral("No"), mrNo) == mrYes)
        FStopRequested = true;
}

void TFormTervolt::RunOperation(bool verify, const QString& fileName) {
    TImageSource source;
    source.FileName = fileName;
    source.FileFormat = FFileFormat;
    source.StartAddress = std::uint32_t(FStartAddress);
    source.WriteSizeHeader = FUi->CheckBoxWriteFileSizeOnStart->isChecked();
    TWindowFlashHost host(*this);
    TFlashEngine engine(*FCommInterface, host);
    engine.Run(verify ? TFlashOperation::foVerify : TFlashOperation::foProgram, source);
}

void TFormTervolt::ProgramFlash(const QString& fileName) {
    RunOperation(false, fileName);
}

void TFormTervolt::VerifyFlash(const QString& fileName) {
    RunOperation(true, fileName);
}
