#pragma once
// TCommInterface: the "COM Settings" window. Created once by the main window and kept for the
// program's life, it owns the communication unit (and so the port driver) through its protocol base,
// holds the port and baud rate, and connects and disconnects. The layout is forms/comm_interface.ui.
// The port is resolved to its device once per open; the driver is given that device.
//
// The lists map onto the driver's enumerations by position: entry i is TPortNumber / TBaudRate
// ordinal i + 1; no selection (-1) is ordinal 0, pnCustom / brCustom.

#include "protocol/comm_protocol.h"
#include "serial/cpdrv.h"

#include <QDialog>

#include <memory>

class QComboBox;
class TsuiImageButton;

namespace Ui {
class CommInterface;
}

// The line a dialog starts with, before any stored choice.
constexpr TPortNumber kDefaultPort = pnCOM2;
constexpr TBaudRate kDefaultBaudRate = br115200;

class TCommInterface : public QDialog, public TCommProtocol {
    Q_OBJECT

public:
    explicit TCommInterface(QWidget* owner = nullptr);
    ~TCommInterface() override;

    TPortNumber CurrentPort() const { return FPort; }
    // "COM2".
    QString ShownPort() const;
    // What the last open of the port (or the attempt) resolved it to; empty while the port chosen
    // since has not been opened.
    QString Device() const { return FDevice; }
    TBaudRate CurrentBaudRate() const;

    // Each applies the value to the driver only where it differs from the driver's own.
    void SelectBaudRate(TBaudRate rate);
    // While connected, asks first and then reconnects on the new port.
    void SelectPort(TPortNumber port);
    void SelectDataBits(TDataBits value);
    void SelectStopBits(TStopBits value);
    void SelectParity(TParity value);
    // 0 none, 1 RTS/CTS, 2 XON/XOFF, 3 both; any other mode changes nothing.
    void SelectFlowControl(int mode);
    // Applies the two lists: port first, then baud rate.
    void ApplyComboSelection();
    // How often a failed command is sent again before Retry/Cancel is asked (0 to kMaxAutoRetries).
    int AutoRetries() const;
    void SetAutoRetries(int times);
    // Connects as the Connect button does (failure message included) unless already connected.
    bool EnsureConnected();
    // The same without the failure box: for a port nobody has chosen yet.
    bool ConnectQuietly();

    // Handlers, public so that tests and the owner can drive them.
    void FormShow();
    void BitBtnConnectClick();
    void BitBtnDisconnectClick();
    void BitBtnOKClick();
    // Cancel also takes back the retries chosen since the dialog opened.
    void done(int result) override;

    QComboBox* ComboBoxCOMPort() const;
    QComboBox* ComboBoxBaudRate() const;
    QComboBox* ComboBoxAutoRetries() const;
    TsuiImageButton* BitBtnConnect() const;
    TsuiImageButton* BitBtnDisconnect() const;
    TsuiImageButton* BitBtnCancel() const;
    TsuiImageButton* BitBtnOK() const;

protected:
    void showEvent(QShowEvent* event) override;
    // Every way of cancelling (button, Esc, the title bar's close) ends with mrCancel.
    void reject() override;

private:
    TCommPortDriver& Driver() const;
    // Resolves the port once and hands the driver that device (no-op while open).
    bool OpenPort();
    void UpdateConnectButtons();
    // COM1 to COM4, the ports the system has and the port in use, each with its number as data.
    void FillPortList();
    // Selects the port's entry, adding it when the list has none.
    void ShowPortInList(TPortNumber port);
    void RefreshPortHints();
    void ShowCurrentPortHint();
    void CentreOnScreen();

    std::unique_ptr<Ui::CommInterface> FUi;
    TPortNumber FPort = kDefaultPort;
    QString FDevice;
    int FAutoRetriesShown = 0; // what Cancel goes back to
};
