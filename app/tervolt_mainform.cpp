#include "app/tervolt_mainform.h"

#include "app/windowfilefilter.h"
#include "app/windowflashhost.h"
#include "app/windowformatcheck.h"
#include "app/windowimagefolder.h"
#include "app/windowmemory.h"
#include "app/windowrunlook.h"
#include "app/windowscopes.h"
#include "app/windowsessionlog.h"
#include "app/windowstartaddress.h"
#include "app/windowstatusline.h"
#include "common/version.h"
#include "devices/devicesdb.h"
#include "devices/deviceslocation.h"
#include "dialogs/comm_interface.h"
#include "dialogs/poweron.h"
#include "dialogs/sessionlogwindow.h"
#include "dialogs/velummessagebox.h"
#include "engine/comsettings.h"
#include "engine/flashengine.h"
#include "engine/startaddress.h"
#include "files/systemfiles.h"
#include "files/usersettings.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "skin/suiform.h"
#include "skin/suimessagedialog.h"
#include "ui_tervolt_mainform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>

#include <iterator>
#include <optional>

namespace {

const QString kCaptionError = QStringLiteral("Tervolt Error");
const QString kCaptionWarning = QStringLiteral("Tervolt Warning");

// The items of the format group, in their order.
constexpr TImageFormat kFormatItems[] = {TImageFormat::IntelExtended, TImageFormat::Binary,
                                         TImageFormat::Auto};

int FormatItem(TImageFormat format) {
    for (int i = 0; i < int(std::size(kFormatItems)); ++i)
        if (kFormatItems[i] == format)
            return i;
    return int(std::size(kFormatItems)) - 1;
}

} // namespace

ETervoltError::ETervoltError(const QString& message, const QString& detail)
    : std::runtime_error(message.toStdString()), FMessage(message), FDetail(detail) {}

TFormTervolt::TFormTervolt(const QString& programDirectory, QWidget* owner)
    : QWidget(owner), FUi(std::make_unique<Ui::FormTervolt>()) {
    FUi->setupUi(this);
    setFixedSize(size());
    FUi->Tervolt->SetCaption(QStringLiteral("Tervolt - %1").arg(QLatin1String(kTervoltVersion)));
    FTitle = FUi->Tervolt->Caption();
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
    FReconnectTimer = new QTimer(this);
    FReconnectTimer->setObjectName(QStringLiteral("ReconnectTimer"));
    FReconnectTimer->setInterval(kReconnectIntervalMs);
    FFloodWatchTimer = new QTimer(this);
    FFloodWatchTimer->setObjectName(QStringLiteral("FloodWatchTimer"));
    FFloodWatchTimer->setInterval(kFloodCheckMs);
    FSessionLog = std::make_unique<TSessionLog>();
    // Enter on a focused button presses it, as Space does.
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setAutoDefault(true);

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
    FFileFormat = TImageFormat::IntelExtended;
    FUi->EditFLASHProduct->clear();
    FUi->EditFLASHManefacturer->clear();
    FUi->EditStartAddress->setText(FormatStartAddress(FStartAddress));
    FUi->CheckBoxWriteFileSizeOnStart->setChecked(true);
    FUi->GroupBoxBinaryDataFileParams->setVisible(FFileFormat == TImageFormat::Binary);
    FUi->RadioGroupHexFileFormat->SetItemIndex(FormatItem(FFileFormat));
    ConnectHandlers();

    FDevicesList = std::make_unique<TDevicesList>();
    FDevicesList->Clear();
    QString why;
    FDevicesFile = QDir(programDirectory).filePath(kDevicesFileName);
    if (!LoadDeviceLists(*FDevicesList, FDevicesFile, why)) {
        FDevicesList.reset();
        throw ETervoltError(QStringLiteral("Can't load \"%1\"").arg(kDevicesFileName), why);
    }

    RestoreImageChoices();
    LoadComSettings();
    // A first start tries the default port without a word: a failure box before the window would only
    // say that no port was chosen, which the status line says.
    const bool stored = StoredComSettingsExist();
    const bool connected = stored ? FCommInterface->EnsureConnected() : FCommInterface->ConnectQuietly();
    FNoPortChosen = !stored && !connected;
    if (connected) {
        ShowConnected();
        FAutoIdentifierTimer->start();
    } else {
        FUi->BitBtnInit->setEnabled(false);
        FUi->LabelConnect->setText(QStringLiteral("Disconnected"));
    }
    UpdateStatusLine();
}

TFormTervolt::~TFormTervolt() {
    FAutoIdentifierTimer->stop();
    FReconnectTimer->stop();
    FFloodWatchTimer->stop();
    SetHourglass(false);
    FCommInterface.reset();
    FDevicesList.reset();
}

void TFormTervolt::ConnectHandlers() {
    Ui::FormTervolt& ui = *FUi;
    connect(FAutoIdentifierTimer, &QTimer::timeout, this, &TFormTervolt::AutoIdentifierTimerTimer);
    connect(FFloodWatchTimer, &QTimer::timeout, this, &TFormTervolt::FloodWatchTick);
    connect(FReconnectTimer, &QTimer::timeout, this, &TFormTervolt::ReconnectTick);
    // Disconnect in the COM settings is the user's word: the port stays closed.
    connect(FCommInterface->BitBtnDisconnect(), &QAbstractButton::clicked, this, [this] {
        FReconnecting = false;
        FReconnectTimer->stop();
    });
    connect(FCommInterface->CommUnit()->CommPortDriver(), &TCommPortDriver::Disconnected, this,
            &TFormTervolt::PortVanished);
    connect(ui.BitBtnComSettings, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnComSettingsClick);
    // Init also reads the device lists again: a chip added to the per-user list counts at once.
    connect(ui.BitBtnInit, &QAbstractButton::clicked, this, [this] {
        ReloadDevicesList();
        AutoIdentifierTimerTimer();
    });
    connect(ui.RadioGroupHexFileFormat, &QGroupBox::clicked, this,
            &TFormTervolt::RadioGroupHexFileFormatClick);
    connect(ui.BitBtnBrowse, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnBrowseClick);
    connect(ui.BitBtnStart, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnStartClick);
    connect(ui.BitBtnStop, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnStopClick);
    connect(ui.BitBtnStop, &TsuiImageButton::MouseMoved, this, &TFormTervolt::BitBtnStopMouseMove);
    connect(ui.BitBtnLog, &QAbstractButton::clicked, this, &TFormTervolt::BitBtnLogClick);
    // Verify after programming applies to Program only.
    connect(ui.RadioGroupOperation, &TsuiRadioGroup::ItemIndexChanged, this, [this](int index) {
        FUi->CheckBoxVerifyAfterProgram->setEnabled(index == 1 && !FBusy);
        StoreImageChoices();
    });
    for (QCheckBox* option : {static_cast<QCheckBox*>(ui.CheckBoxWriteFileSizeOnStart),
                              static_cast<QCheckBox*>(ui.CheckBoxVerifyAfterProgram)})
        connect(option, &QCheckBox::toggled, this, [this] { StoreImageChoices(); });
    auto* recent = new QAction(
        QIcon::fromTheme(QStringLiteral("document-open-recent"), style()->standardIcon(QStyle::SP_ArrowDown)),
        QStringLiteral("Recent files"), ui.EditFileName);
    recent->setObjectName(QStringLiteral("ActionRecentFiles"));
    recent->setToolTip(QStringLiteral("Recent files (Ctrl+R)"));
    ui.EditFileName->addAction(recent, QLineEdit::TrailingPosition);
    connect(recent, &QAction::triggered, this, &TFormTervolt::PopUpRecentFiles);
    ConnectShortcuts();
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
    order << ui.EditStartAddress << ui.CheckBoxWriteFileSizeOnStart << ui.CheckBoxVerifyAfterProgram;
    order << ui.BitBtnStart << ui.BitBtnStop << ui.BitBtnLog;
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
    if (stored.AutoRetries)
        FCommInterface->SetAutoRetries(*stored.AutoRetries);
    if (!stored.Error.isEmpty())
        ShowError(stored.Error);
}

void TFormTervolt::SaveComSettings() {
    // The default that nobody chose and that did not open is not stored as a choice.
    if (FNoPortChosen && !PortOpen() && FCommInterface->CurrentPort() == kDefaultPort &&
        FCommInterface->CurrentBaudRate() == kDefaultBaudRate)
        return;
    WriteStoredComSettings(std::int32_t(FCommInterface->CurrentPort()),
                           std::int32_t(FCommInterface->CurrentBaudRate()), FCommInterface->AutoRetries());
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

// The hourglass comes with the run's look (ShowRunStarted), not while the image is still being read:
// a box about the image must not sit under a wait cursor.
void TFormTervolt::SetBusy(bool busy) {
    FBusy = busy;
    if (!busy)
        SetHourglass(false);
    EnableChoices(!busy);
    FPanelMouseMoveInstalled = false;
    // Shown but disabled: hiding it would move Minimize into its place under the pointer.
    FUi->Tervolt->TitleButton(tbClose)->setEnabled(!busy);
}

// Everything that cannot act while a run (or the chip query before it) goes on. The start address and
// the size option are in it: a value typed meanwhile would look as if the running operation used it.
void TFormTervolt::EnableChoices(bool enabled) {
    for (QWidget* choice : Choices())
        choice->setEnabled(enabled);
    // It counts for Program only.
    FUi->CheckBoxVerifyAfterProgram->setEnabled(enabled && FUi->RadioGroupOperation->ItemIndex() == 1);
}

QList<QWidget*> TFormTervolt::Choices() const {
    const Ui::FormTervolt& ui = *FUi;
    return {ui.BitBtnInit,
            ui.BitBtnComSettings,
            ui.BitBtnBrowse,
            ui.RadioGroupOperation,
            ui.RadioGroupHexFileFormat,
            ui.EditStartAddress,
            ui.CheckBoxWriteFileSizeOnStart,
            ui.CheckBoxVerifyAfterProgram,
            ui.BitBtnLog};
}

void TFormTervolt::EnableSelection(bool enabled) {
    FUi->BitBtnBrowse->setEnabled(enabled);
    FUi->RadioGroupOperation->setEnabled(enabled);
}

void TFormTervolt::ClearStatusLabels() {
    ClearRunLabels(*FUi);
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

// The image can be chosen while the window waits for a board: Browse and the operation stay as they are.
void TFormTervolt::ShowConnected() {
    HideNoAnswerHint();
    FReconnecting = false;
    FReconnectTimer->stop();
    FFloodClosed = false;
    FFloodSince.invalidate();
    FDiscardMark = FCommInterface->CommUnit()->BytesDiscarded();
    FFloodWatchTimer->start();
    FUi->LabelConnect->setText(QStringLiteral("Connected"));
    FUi->BitBtnInit->setEnabled(true);
    UpdateStatusLine();
}

void TFormTervolt::ShowDisconnected() {
    HideNoAnswerHint();
    FFloodWatchTimer->stop();
    FUi->LabelConnect->setText(QStringLiteral("Disconnected"));
    FUi->BitBtnInit->setEnabled(false);
    FUi->BitBtnStart->setEnabled(false);
    FFlashIdentified = false;
    FUi->EditFLASHProduct->clear();
    FUi->EditFLASHManefacturer->clear();
    UpdateStatusLine();
}

// The port went away with its device: open it again every kReconnectIntervalMs until it is back
// (an adapter plugged in again), then identify as after a Connect.
void TFormTervolt::StartReconnecting() {
    FReconnecting = true;
    FReconnectTimer->start();
    UpdateStatusLine();
}

void TFormTervolt::ReconnectTick() {
    if (FBusy || FTalkingToTarget)
        return;
    if (!FReconnecting || PortOpen()) {
        FReconnectTimer->stop();
        return;
    }
    if (!FCommInterface->ConnectQuietly())
        return;
    ShowConnected();
    FAutoIdentifierTimer->start();
}

// Text that no command reads, arriving without a pause: a board stuck in a loop, or wired to something
// else. Reading it costs a core for as long as it goes on, idle or searching.
bool TFormTervolt::FloodGoesOn() {
    const std::uint64_t discarded = FCommInterface->CommUnit()->BytesDiscarded();
    const bool grew = discarded != FDiscardMark;
    FDiscardMark = discarded;
    if (!grew) {
        if (!FLastDiscard.isValid() || FLastDiscard.elapsed() >= kFloodPauseMs)
            FFloodSince.invalidate();
        return false;
    }
    FLastDiscard.start();
    if (!FFloodSince.isValid())
        FFloodSince.start();
    return FFloodSince.elapsed() >= kFloodLimitMs;
}

void TFormTervolt::FloodWatchTick() {
    // A run accounts for every reply itself and ends on a flood.
    if (FBusy || !PortOpen()) {
        FDiscardMark = FCommInterface->CommUnit()->BytesDiscarded();
        FFloodSince.invalidate();
        return;
    }
    if (FloodGoesOn() && MayCloseLine())
        CloseFloodedLine();
}

// An exchange or a box must not lose its line underneath; the next look closes it.
bool TFormTervolt::MayCloseLine() const {
    return !FBusy && !FTalkingToTarget && QApplication::activeModalWidget() == nullptr;
}

// Closed, not reopened: Connect under Com opens the line again once the board is mended.
void TFormTervolt::CloseFloodedLine() {
    FAutoIdentifierTimer->stop();
    FReconnecting = false;
    FReconnectTimer->stop();
    FCommInterface->CommUnit()->CommPortDriver()->Disconnect();
    FFloodClosed = true;
    ClearStatusLabels();
    ShowDisconnected();
    FUi->LabelHint->setText(FloodHint(ShownPort(), kFloodLimitMs / 1000));
    FUi->LabelHint->show();
}

QString TFormTervolt::ShownPort() const {
    return FCommInterface->ShownPort();
}

QString TFormTervolt::RunPlace(const QString& beforeChip) const {
    const TCommPortDriver& driver = *FCommInterface->CommUnit()->CommPortDriver();
    QString place = QStringLiteral("%1 at %2 baud").arg(ShownPort()).arg(driver.BaudRateValue());
    if (FFlashIdentified)
        place += beforeChip + FUi->EditFLASHManefacturer->text() + QLatin1Char(' ') +
                 FUi->EditFLASHProduct->text();
    return place;
}

void TFormTervolt::UpdateStatusLine() {
    TStatusLineFacts facts;
    facts.PortOpen = PortOpen();
    facts.NoPortChosen = FNoPortChosen;
    facts.FloodClosed = FFloodClosed;
    facts.Reconnecting = FReconnecting;
    facts.ReconnectIntervalMs = kReconnectIntervalMs;
    facts.Port = ShownPort();
    facts.Device = FCommInterface->Device();
    facts.Baud = FCommInterface->CommUnit()->CommPortDriver()->BaudRateValue();
    facts.TargetFound = FTargetFound;
    if (FFlashIdentified)
        facts.Chip = FUi->EditFLASHManefacturer->text() + QLatin1Char(' ') + FUi->EditFLASHProduct->text();
    ShowStatusLine(*FUi->LabelStatus, facts);
}

void TFormTervolt::BitBtnComSettingsClick() {
    if (FBusy)
        return;
    if (FTalkingToTarget) {
        // The board's answer is awaited further down the stack; the dialog opens right after it.
        RunWhenIdle(FComSettingsDeferred, [this] { BitBtnComSettingsClick(); });
        return;
    }
    FAutoIdentifierTimer->stop();
    FReconnectTimer->stop();
    ClearStatusLabels();
    HideNoAnswerHint();
    FCommInterface->exec();
    FFloodClosed = false; // whatever the dialog did, the line is the user's choice now
    FNoPortChosen = false;
    // The board found before is not known to be on the line the dialog leaves: nothing of it is named.
    FTargetFound = false;
    FFlashIdentified = false;
    FUi->EditFLASHProduct->clear();
    FUi->EditFLASHManefacturer->clear();
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
        // A port that went away with its device is still awaited, unless the user disconnected it.
        if (FReconnecting)
            StartReconnecting();
    }
}

// Once no identification waits for its answer: a dialog opened inside that wait would hold it. A
// request made again while one is pending is dropped, so that two clicks open one dialog.
void TFormTervolt::RunWhenIdle(bool& pending, const std::function<void()>& action) {
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(0, this, [this, &pending, action] { RunPendingWhenIdle(pending, action); });
}

void TFormTervolt::RunPendingWhenIdle(bool& pending, const std::function<void()>& action) {
    if (FTalkingToTarget) {
        QTimer::singleShot(kAutoIdentifierIntervalMs, this,
                           [this, &pending, action] { RunPendingWhenIdle(pending, action); });
        return;
    }
    pending = false;
    action();
}

void TFormTervolt::ShowError(const QString& text) {
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(text, kCaptionError, suiStop, QStringLiteral("Ok"), mrOk);
}

// A list that cannot be read now keeps the one in use, and says why.
void TFormTervolt::ReloadDevicesList() {
    auto fresh = std::make_unique<TDevicesList>();
    QString why;
    if (!LoadDeviceLists(*fresh, FDevicesFile, why)) {
        ShowError(QStringLiteral("Can't load \"%1\"\n%2\nThe list loaded before stays in use.")
                      .arg(kDevicesFileName, why));
        return;
    }
    FDevicesList = std::move(fresh);
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
    // A search under a flood is hardly ever idle when the watch looks: it looks here too.
    if (PortOpen() && FloodGoesOn() && MayCloseLine()) {
        CloseFloodedLine();
        return;
    }
    if (!FTargetFound)
        FAutoIdentifierTimer->start();
}

void TFormTervolt::BitBtnInitClick() {
    IdentifyTarget();
}

void TFormTervolt::IdentifyTarget() {
    FUi->BitBtnStart->setEnabled(false);
    if (DetectTarget()) {
        if (!FCloseRequested && IdentifyFlashChip()) {
            FUi->BitBtnStart->setEnabled(!FUi->EditFileName->text().isEmpty());
            // Ready for the next run: Enter starts it, unless the user is typing in a field.
            if (FUi->BitBtnStart->isEnabled() && !qobject_cast<QLineEdit*>(QApplication::focusWidget()))
                FUi->BitBtnStart->setFocus(Qt::OtherFocusReason);
        }
    } else {
        FUi->EditFLASHManefacturer->clear();
        FUi->EditFLASHProduct->clear();
    }
    UpdateStatusLine();
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
    FUi->LabelHint->setText(NoAnswerHint(ShownPort(), FCommInterface->Device(),
                                         FCommInterface->CommUnit()->CommPortDriver()->BaudRateValue()));
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
    UpdateStatusLine(); // no chip named while this one is asked
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
        }
        // The status line names this board's chip, or none, before any box about it comes up.
        UpdateStatusLine();
        if (!FFlashIdentified && PortOpen() && !FCloseRequested) {
            // A port lost during the query is shown as "Disconnected", a failed line as such: neither
            // is blamed on the chip. Otherwise the reason goes below, as in the Retry box: what the
            // board said, or that it did not answer.
            if (FCommInterface->LineFailed()) {
                LogIdentification(QStringLiteral("Line failure: ") + FCommInterface->LastFailure());
                ShowLineFailure();
            } else {
                const QString failure = FCommInterface->LastFailure();
                // An answer that is no identification is not called silence.
                const QString why = answered ? QStringLiteral("The board reports %1 %2, which is not in %3.")
                                                   .arg(QString::fromLatin1(manufacturer),
                                                        QString::fromLatin1(deviceId), kDevicesFileName)
                                    : FCommInterface->BoardRefused()
                                        ? QStringLiteral("The board refused the chip query. ") + failure
                                        : QStringLiteral("The board did not answer the chip query.") +
                                              (failure.isEmpty() ? QString() : QLatin1Char(' ') + failure);
                LogIdentification(QStringLiteral("FLASH not identified. ") + why);
                ShowError(QStringLiteral("FLASH not identified.\n") + why);
            }
        }
    }
    return FFlashIdentified;
}

// One line in the session log for an identification that failed: the runs' lines alone would not
// say why Start did nothing.
void TFormTervolt::LogIdentification(const QString& what) {
    FSessionLog->AddRun(QStringLiteral("%1  Identify  %2  (%3)")
                            .arg(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")), what,
                                 RunPlace(QString())));
}

// ---- Image selection ------------------------------------------------------------------------------

void TFormTervolt::RadioGroupHexFileFormatClick() {
    const int index = FUi->RadioGroupHexFileFormat->ItemIndex();
    FFileFormat =
        index >= 0 && index < int(std::size(kFormatItems)) ? kFormatItems[index] : TImageFormat::Auto;
    FUi->GroupBoxBinaryDataFileParams->setVisible(FFileFormat == TImageFormat::Binary);
    StoreImageChoices();
}

void TFormTervolt::SelectFormatOfFile(const QString& fileName) {
    const TImageFormat format = ImageFormatOfFileName(fileName);
    if (format != FFileFormat) {
        FUi->RadioGroupHexFileFormat->SetItemIndex(FormatItem(format));
        RadioGroupHexFileFormatClick();
    }
}

void TFormTervolt::BitBtnBrowseClick() {
    if (FTalkingToTarget) {
        // Chosen while a board is being looked for: the dialog opens once the ping has its answer.
        RunWhenIdle(FBrowseDeferred, [this] { BitBtnBrowseClick(); });
        return;
    }
    if (FBusy)
        return;
    if (FFileFormat == TImageFormat::IntelExtended)
        FOpenDialogFilter = kHexFileFilter;
    else if (FFileFormat == TImageFormat::Binary)
        FOpenDialogFilter = kBinaryFileFilter;
    else
        FOpenDialogFilter = kImageFileFilter;
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
    SelectFormatOfFile(chosen);
    SelectImageFile(chosen);
}

void TFormTervolt::SelectImageFile(const QString& chosen) {
    // Shown, remembered and logged as the system writes paths (backslashes on Windows).
    const QString fileName = QDir::toNativeSeparators(chosen);
    FUi->EditFileName->setText(fileName);
    // The field is narrow: the whole path is a hover away.
    FUi->EditFileName->setToolTip(fileName);
    RememberImageFolder(fileName);
    FRecentFiles = RememberRecentFile(fileName);
    StoreImageChoices();
    FUi->BitBtnStart->setEnabled(!fileName.isEmpty() && FFlashIdentified && FTargetFound);
}

// One local file, dropped where Browse could be clicked.
QString TFormTervolt::DroppedImage(const QMimeData* data) const {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 || FBusy ||
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
    SelectFormatOfFile(path);
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
    StoreImageChoices();
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
    const std::optional<TImageFormat> format =
        ConfirmFormat(FUi->RadioGroupOperation->ItemIndex() == 0, fileName);
    if (!format) {
        FocusAfterRun();
        return;
    }
    // Start stays in place, disabled, until the image is accepted (ShowRunStarted).
    SetBusy(true);
    FUi->BitBtnStart->setEnabled(false);

    RunChosenOperations(fileName, *format);

    SetBusy(false);
    ShowIdleLook(*FUi, FTitle);
    if (!PortOpen()) {
        ShowDisconnected(); // the adapter went away during the run
        StartReconnecting();
    }
    UpdateStatusLine();
    FocusAfterRun();
}

// The chosen operation, or Program and then Verify in one Start; one line and one trace in the
// session log.
void TFormTervolt::RunChosenOperations(const QString& fileName, TImageFormat format) {
    const int operation = FUi->RadioGroupOperation->ItemIndex();
    if (operation != 0 && operation != 1)
        return;
    const bool verify = operation == 0;
    const bool thenVerify = !verify && FUi->CheckBoxVerifyAfterProgram->isChecked();
    FRun = TRunTally();
    FRun.Passes = thenVerify ? 2 : 1;
    const QString started = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    QString summary;
    QString said;
    TFlashOutcome outcome;
    {
        TSessionTraceScope trace(*FSessionLog, *FCommInterface->CommUnit(), ShownPort());
        outcome = RunOperation(verify, fileName, format, thenVerify);
        said = outcome.Text;
        summary = RunSummary(outcome.BytesSent, outcome.ElapsedMs, FRun.Retries);
        if (thenVerify && outcome.Kind == TOutcomeKind::okProgramDone) {
            FRun.Pass = 1;
            const TFlashOutcome programmed = outcome;
            outcome = RunOperation(true, fileName, format, false, &programmed);
            said += QLatin1Char(' ') + outcome.Text;
            summary = PassesSummary(programmed.BytesSent, outcome.BytesSent,
                                    programmed.ElapsedMs + outcome.ElapsedMs, FRun.Retries);
        }
    }
    FUi->CGaugeProgressBar->hide();
    said.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (!outcome.FlashState.isEmpty())
        said += QLatin1Char(' ') + outcome.FlashState;
    const QString name = verify       ? QStringLiteral("Verify")
                         : thenVerify ? QStringLiteral("Program+Verify")
                                      : QStringLiteral("Program");
    // The outcome before the image: a long path must not hide it.
    summary += QStringLiteral(", ") + RunPlace(QStringLiteral(", "));
    if (format == TImageFormat::Auto && outcome.ReadAs != TImageFormat::Auto)
        summary += QStringLiteral(", read as ") + ImageFormatTitle(outcome.ReadAs);
    if (!outcome.ImageNote.isEmpty())
        summary += QStringLiteral(", ") + outcome.ImageNote;
    FSessionLog->AddRun(QStringLiteral("%1  %2  %3  (%4)  %5").arg(started, name, said, summary, fileName));
    // A file that could not be opened is no longer offered as a recent one.
    if (outcome.Kind == TOutcomeKind::okImageError && outcome.ImageResult == hrCannotOpenFile)
        FRecentFiles = ForgetRecentFile(fileName);
}

void TFormTervolt::ShowRunStarted(bool verify, int percent) {
    SetHourglass(true);
    ShowRunLook(*FUi, verify, percent);
}

void TFormTervolt::ShowBlockAddress(const QString& address) {
    FUi->LabelAddressNumber->setText(address);
}

void TFormTervolt::ShowRunPercent(int percent) {
    ShowRunPercentLook(*FUi, percent);
}

void TFormTervolt::ShowTimeLeft(const QString& text) {
    FUi->LabelStatus->setText(text);
}

// A format that does not fit the file is asked about first; No (the default) starts nothing.
std::optional<TImageFormat> TFormTervolt::ConfirmFormat(bool verify, const QString& fileName) {
    const TFormatCheck check = CheckChosenFormat(fileName, FFileFormat, verify);
    if (check.Question.isEmpty())
        return check.RunAs;
    TVelumMessageBox box(DeepBlue);
    box.Dialog()->SetDefaultButton(2);
    if (box.ShowTwoButtons(check.Question, kCaptionWarning, suiWarning, QStringLiteral("Yes"), mrYes,
                           QStringLiteral("No"), mrNo) != mrYes)
        return std::nullopt;
    return check.RunAs;
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
    StartReconnecting();
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
    box.Dialog()->SetDefaultButton(2); // a reflex Enter must not end the run
    const TQuestionTime asking(FRun);
    if (box.ShowTwoButtons(question, QStringLiteral("Tervolt - Confirm Abort Operation"), suiStop,
                           QStringLiteral("Yes"), mrYes, QStringLiteral("No"), mrNo) == mrYes)
        FStopRequested = true;
}

TFlashOutcome TFormTervolt::RunOperation(bool verify, const QString& fileName, TImageFormat format,
                                         bool holdSuccess, const TFlashOutcome* programmed) {
    TImageSource source;
    source.FileName = fileName;
    source.Format = format;
    source.StartAddress = std::uint32_t(FStartAddress);
    source.WriteSizeHeader = FUi->CheckBoxWriteFileSizeOnStart->isChecked();
    TWindowFlashHost host(*this, FRun, *FCommInterface, verify, holdSuccess, programmed);
    TFlashEngine engine(*FCommInterface, host);
    return engine.Run(verify ? TFlashOperation::foVerify : TFlashOperation::foProgram, source);
}

// ---- Daily use: shortcuts, remembered choices, recent files, the session log ----------------------

void TFormTervolt::ConnectShortcuts() {
    const auto add = [this](const QKeySequence& keys, QAbstractButton* button) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isVisible() && button->isEnabled())
                button->click();
        });
    };
    add(QKeySequence::Open, FUi->BitBtnBrowse);
    add(QKeySequence(Qt::Key_F5), FUi->BitBtnStart);
    add(QKeySequence(Qt::CTRL | Qt::Key_L), FUi->BitBtnLog);
    auto* recent = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(recent, &QShortcut::activated, this, &TFormTervolt::PopUpRecentFiles);
}

void TFormTervolt::PopUpRecentFiles() {
    if (QMenu* menu = RecentFilesMenu(); menu != nullptr)
        menu->popup(FUi->EditFileName->mapToGlobal(FUi->EditFileName->rect().bottomLeft()));
}

// The last image, its format, start address and options, as the previous session left them. A file
// that no longer exists is not shown.
void TFormTervolt::RestoreImageChoices() {
    const TImageChoices choices = LoadImageChoices();
    FRecentFiles = LoadRecentFiles();
    FFileFormat = choices.FileFormat;
    FUi->RadioGroupHexFileFormat->SetItemIndex(FormatItem(FFileFormat));
    FUi->GroupBoxBinaryDataFileParams->setVisible(FFileFormat == TImageFormat::Binary);
    FStartAddress = choices.StartAddress;
    FUi->EditStartAddress->setText(FormatStartAddress(FStartAddress));
    // Each box stores the choices when toggled: a store from here would write the half-restored
    // state (no file name yet) over what the last session left.
    const QSignalBlocker sizeHeaderQuiet(FUi->CheckBoxWriteFileSizeOnStart);
    const QSignalBlocker verifyQuiet(FUi->CheckBoxVerifyAfterProgram);
    const QSignalBlocker operationQuiet(FUi->RadioGroupOperation);
    FUi->RadioGroupOperation->SetItemIndex(choices.Verify ? 0 : 1);
    FUi->CheckBoxVerifyAfterProgram->setEnabled(!choices.Verify);
    FUi->CheckBoxWriteFileSizeOnStart->setChecked(choices.WriteSizeHeader);
    FUi->CheckBoxVerifyAfterProgram->setChecked(choices.VerifyAfterProgram);
    if (!choices.FileName.isEmpty()) {
        FUi->EditFileName->setText(QDir::toNativeSeparators(choices.FileName));
        FUi->EditFileName->setToolTip(QDir::toNativeSeparators(choices.FileName));
    }
}

void TFormTervolt::StoreImageChoices() const {
    TImageChoices choices;
    choices.FileName = FUi->EditFileName->text();
    choices.FileFormat = FFileFormat;
    choices.StartAddress = FStartAddress;
    choices.WriteSizeHeader = FUi->CheckBoxWriteFileSizeOnStart->isChecked();
    choices.VerifyAfterProgram = FUi->CheckBoxVerifyAfterProgram->isChecked();
    choices.Verify = FUi->RadioGroupOperation->ItemIndex() == 0;
    SaveImageChoices(choices);
}

QMenu* TFormTervolt::RecentFilesMenu() {
    FRecentFiles = LoadRecentFiles(); // those that still exist
    if (FRecentFiles.isEmpty() || FBusy || !FUi->BitBtnBrowse->isEnabled())
        return nullptr;
    FRecentMenu = std::make_unique<QMenu>(this);
    FRecentMenu->setObjectName(QStringLiteral("MenuRecentFiles"));
    for (const QString& file : FRecentFiles) {
        // The name, and its folder in the menu's second column: two images of one name stay apart.
        const QFileInfo info(file);
        QAction* action = FRecentMenu->addAction(info.fileName() + QLatin1Char('\t') +
                                                 QDir::toNativeSeparators(info.path()));
        action->setToolTip(file);
        action->setStatusTip(file);
        connect(action, &QAction::triggered, this, [this, file] {
            // The format follows the name, as for a dropped file.
            SelectFormatOfFile(file);
            SelectImageFile(file);
        });
    }
    FRecentMenu->setToolTipsVisible(true);
    return FRecentMenu.get();
}

void TFormTervolt::BitBtnLogClick() {
    if (FBusy)
        return;
    TFormSessionLog log(this);
    log.SetText(FSessionLog->Text());
    log.SetTakenFiles({{FUi->EditFileName->text(), QStringLiteral("the image file")},
                       {FDevicesFile, QStringLiteral("the device list")},
                       {UserDevicesFile(), QStringLiteral("the per-user device list"), true},
                       {UserSettingsFile(), QStringLiteral("the settings file"), true}});
    log.exec();
}
