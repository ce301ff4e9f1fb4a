#pragma once
// TFormTervolt: the program's only top-level window. It owns the COM settings dialog (and through it
// the serial link) and the device list, identifies the target, lets the user choose the image and
// runs Program and Verify through the flash engine. Layout in forms/tervolt_mainform.ui.
//
// Every handler is public so that tests (and the window's own connections) can drive it; the
// controls are found by their object names (BitBtnStart, EditFileName, LabelMode, ...).

#include "app/runview.h"
#include "image/imageformat.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

class QMenu;
class QMimeData;
class QTimer;
class TSessionLog;
struct TFlashOutcome;
class TCommInterface;
class TDevicesList;
class TFormPowerOn;
class TsuiForm;

namespace Ui {
class FormTervolt;
}

// Start-up failures that end the program before the window is shown.
class ETervoltError : public std::runtime_error {
public:
    // `detail` says why, in the system's words; it is shown below the message.
    explicit ETervoltError(const QString& message, const QString& detail = QString());
    QString Message() const { return FMessage; }
    QString Detail() const { return FDetail; }

private:
    QString FMessage;
    QString FDetail;
};

// Chooses the image to open: gets the parent window and the dialog's filter in Qt's form, returns
// the chosen path or an empty text when the user cancelled.
using TOpenFileDialogFunc = std::function<QString(QWidget* parent, const QString& qtFilter)>;

class TFormTervolt : public QWidget, private TRunView {
    Q_OBJECT

public:
    static constexpr int kAutoIdentifierIntervalMs = 100;
    // How long the board may stay silent before the status area says what to check.
    static constexpr int kNoAnswerHintAfterMs = 5000;
    // While the port is gone with its device, how often it is opened again (an adapter plugged back in).
    static constexpr int kReconnectIntervalMs = 1500;
    // A board that keeps sending text that no command reads (replies dropped unread, a flood without
    // an end) costs the idle window a core reading it: after this long without a pause of
    // kFloodPauseMs, the window stops identifying and closes the line. Looked at every kFloodCheckMs.
    // The pause that ends a flood is longer than the flood allowed, so that bursts with short rests
    // between them cannot keep the window reading without end.
    static constexpr int kFloodLimitMs = 3000;
    static constexpr int kFloodPauseMs = 10000;
    static constexpr int kFloodCheckMs = 250;

    // Builds the whole program: the COM settings dialog, the power-on picture (2 s), the device list
    // from `programDirectory`/devices.tervolt, the saved COM settings and the first connection.
    // Throws ETervoltError when the device list cannot be loaded.
    explicit TFormTervolt(const QString& programDirectory, QWidget* owner = nullptr);
    ~TFormTervolt() override;

    TCommInterface* CommInterface() const { return FCommInterface.get(); }
    TDevicesList* DevicesList() const { return FDevicesList.get(); }
    QTimer* AutoIdentifierTimer() const { return FAutoIdentifierTimer; }
    QTimer* ReconnectTimer() const { return FReconnectTimer; }
    QTimer* FloodWatchTimer() const { return FFloodWatchTimer; }
    const TSessionLog& SessionLog() const { return *FSessionLog; }
    QStringList RecentFiles() const { return FRecentFiles; }
    // The recent-files menu (rebuilt each time it is asked for).
    QMenu* RecentFilesMenu();
    TsuiForm* Frame() const;
    bool StopRequested() const override { return FStopRequested; }
    bool FlashIdentified() const { return FFlashIdentified; }
    bool TargetFound() const { return FTargetFound; }
    std::int32_t StartAddress() const { return FStartAddress; }
    TImageFormat FileFormat() const { return FFileFormat; }
    bool Busy() const { return FBusy; }
    bool PortOpen() const override;

    // Test seam: replaces the file dialog of BitBtnBrowseClick (an empty function restores it).
    void SetOpenFileDialog(TOpenFileDialogFunc dialog) { FOpenFileDialog = std::move(dialog); }
    // The filter string the file dialog was last given, as the window keeps it.
    QString OpenDialogFilter() const { return FOpenDialogFilter; }
    // The folder the file dialog was last opened in (empty: the working directory).
    QString OpenDialogFolder() const { return FOpenDialogFolder; }

    // Window and start-up.
    void FormShow();
    void LoadComSettings();
    void SaveComSettings();
    void SetBusy(bool busy);
    void EnableSelection(bool enabled);
    void ClearStatusLabels();
    void BitBtnComSettingsClick();
    void BitBtnStopMouseMove();
    // The session log window (modal).
    void BitBtnLogClick();
    void suiImagePanelMouseMove();

    // Identification.
    void AutoIdentifierTimerTimer();
    void IdentifyTarget();
    bool DetectTarget();
    bool IdentifyFlashChip();
    void BitBtnInitClick();

    // Image selection.
    void RadioGroupHexFileFormatClick();
    void BitBtnBrowseClick();
    void EditStartAddressExit();
    // Enter applies the address as leaving the field would; true when the key was taken.
    bool EditStartAddressKeyDown(int key);

    // Program and Verify.
    void BitBtnStartClick();
    void BitBtnStopClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // What a run shows (TRunView).
    void ShowRunStarted(bool verify, int percent) override;
    void ShowBlockAddress(const QString& address) override;
    void ShowRunPercent(int percent) override;
    void ShowTimeLeft(const QString& text) override;
    void ShowLineStatus() override { UpdateStatusLine(); }
    void ShowDisconnected() override;
    QString RunPlace(const QString& beforeChip) const override;

    void ConnectHandlers();
    void SetTabOrder();
    void EnableChoices(bool enabled);
    QList<QWidget*> Choices() const;
    void FocusAfterRun();
    void SelectImageFile(const QString& fileName);
    // Binary for .rbf and .bin, Auto-detect for any other name.
    void SelectFormatOfFile(const QString& fileName);
    QString DroppedImage(const QMimeData* data) const;
    void NoAnswerYet();
    void HideNoAnswerHint();
    void ShowLineFailure();
    void ShowConnected();
    void PortVanished();
    void SetHourglass(bool on);
    void ShowError(const QString& text);
    // Runs one operation; `programmed` is the Program pass that this Verify follows (Program+Verify).
    TFlashOutcome RunOperation(bool verify, const QString& fileName, TImageFormat format,
                               bool holdSuccess = false, const TFlashOutcome* programmed = nullptr);
    void RunChosenOperations(const QString& fileName, TImageFormat format);
    void LogIdentification(const QString& what);
    void ReloadDevicesList();
    // The format to run with, once a format that does not fit the file was confirmed; nothing: No.
    std::optional<TImageFormat> ConfirmFormat(bool verify, const QString& fileName);
    void ConnectShortcuts();
    // Opens the recent-files menu below the file name (the drop-down and Ctrl+R).
    void PopUpRecentFiles();
    void StartReconnecting();
    void ReconnectTick();
    // True once text nobody reads has been discarded for kFloodLimitMs without a pause.
    bool FloodGoesOn();
    void FloodWatchTick();
    bool MayCloseLine() const;
    void CloseFloodedLine();
    void UpdateStatusLine();
    QString ShownPort() const;
    void RestoreImageChoices();
    void StoreImageChoices() const;
    void RunWhenIdle(bool& pending, const std::function<void()>& action);
    void RunPendingWhenIdle(bool& pending, const std::function<void()>& action);

    std::unique_ptr<Ui::FormTervolt> FUi;
    // The fields the window declares, in the order the program builds them.
    std::unique_ptr<TCommInterface> FCommInterface;
    std::unique_ptr<TFormPowerOn> FPowerOnForm;
    bool FStopRequested = false;
    TRunTally FRun; // this Start's passes, retries and question time
    bool FFlashIdentified = false;
    bool FTargetFound = false;
    std::int32_t FStartAddress = 0;
    TImageFormat FFileFormat = TImageFormat::IntelExtended;
    std::unique_ptr<TDevicesList> FDevicesList;

    QTimer* FAutoIdentifierTimer = nullptr; // a child of the window
    QTimer* FReconnectTimer = nullptr;      // a child of the window
    bool FReconnecting = false;             // the port went away with its device
    QTimer* FFloodWatchTimer = nullptr;     // a child of the window; runs while the port is open
    std::uint64_t FDiscardMark = 0;         // the unit's discarded bytes at the last look
    QElapsedTimer FFloodSince;              // text has been discarded without a pause since then
    QElapsedTimer FLastDiscard;             // the last look that found text discarded
    bool FFloodClosed = false;              // the window closed the line because of a flood
    bool FNoPortChosen = false;             // a first start: no port stored, and the default did not open
    std::unique_ptr<TSessionLog> FSessionLog;
    QString FDevicesFile; // the installed device list, never written by the log's Save
    std::unique_ptr<QMenu> FRecentMenu;
    QStringList FRecentFiles;
    QString FTitle; // the window title between runs
    QString FOpenDialogFilter;
    QString FOpenDialogFolder;
    QElapsedTimer FSilentSince; // the first unanswered ping of the present search
    TOpenFileDialogFunc FOpenFileDialog;
    bool FBusy = false;
    bool FHourglass = false;
    bool FPanelMouseMoveInstalled = false;
    bool FTalkingToTarget = false;     // an identification exchange is waiting for its answer
    bool FComSettingsDeferred = false; // waiting to open until no answer is awaited
    bool FBrowseDeferred = false;
    bool FCloseRequested = false; // a close came in while an answer was awaited
    bool FLeavingStartAddress = false;
};
