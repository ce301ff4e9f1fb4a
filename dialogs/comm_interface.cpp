#include "dialogs/comm_interface.h"

#include "skin/skinstyle.h"

#include "dialogs/velummessagebox.h"
#include "serial/communit.h"
#include "skin/modalresult.h"
#include "skin/suiimagebutton.h"
#include "ui_comm_interface.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

constexpr int kDefaultFlowControlMode = 0;

// List position of an ordinal (entry i holds ordinal i + 1); -1 when the list has no such entry.
int ListIndexOf(const QComboBox& list, int ordinal) {
    const int index = ordinal - 1;
    return index >= 0 && index < list.count() ? index : -1;
}

// The ordinal a list position stands for; no selection gives 0 (pnCustom, brCustom).
int OrdinalOf(const QComboBox& list) {
    return list.currentIndex() + 1;
}

// The original's four ports, offered whether or not the system lists them.
constexpr int kAlwaysOffered = 4;

// The name the port mapping knows a COM number by.
QString ComName(int number) {
    return QStringLiteral("\\\\.\\COM%1").arg(number);
}

// "COM7", "com7" or "7", blanks around it: the number of a port there can be, or 0.
int TypedComNumber(const QString& text) {
    const QString typed = text.trimmed();
    const std::optional<int> number =
        ComNumberOf(typed.startsWith(u"COM", Qt::CaseInsensitive) ? typed : QStringLiteral("COM") + typed);
    return number && *number >= 1 && *number <= kHighestComNumber ? *number : 0;
}

struct TFlowControl {
    THwFlowControl Hw;
    TSwFlowControl Sw;
};

constexpr TFlowControl kFlowControlModes[] = {
    {hfNONERTSON, sfNONE},
    {hfRTSCTS, sfNONE},
    {hfNONERTSON, sfXONXOFF},
    {hfRTSCTS, sfXONXOFF},
};

} // namespace

TCommInterface::TCommInterface(QWidget* owner)
    : QDialog(owner, Qt::Tool), FUi(std::make_unique<Ui::CommInterface>()) {
    // The protocol base has created the communication unit and the reply timer by now.
    FUi->setupUi(this);
    setFixedSize(size());
    // Any COM number may be typed in: USB adapters are often COM5 and above.
    FUi->ComboBoxCOMPort->setEditable(true);
    FUi->ComboBoxCOMPort->setInsertPolicy(QComboBox::NoInsert);
    FUi->ComboBoxCOMPort->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("(?i)(COM?|COM[1-9][0-9]{0,2}|[1-9][0-9]{0,2})?")), this));

    SelectBaudRate(kDefaultBaudRate);
    SelectPort(kDefaultPort);
    SelectDataBits(db8BITS);
    SelectStopBits(sb1BITS);
    SelectParity(ptNONE);
    SelectFlowControl(kDefaultFlowControlMode);

    FillPortList();
    FUi->ComboBoxBaudRate->setCurrentIndex(ListIndexOf(*FUi->ComboBoxBaudRate, CurrentBaudRate()));
    UpdateConnectButtons();

    connect(FUi->BitBtnConnect, &QAbstractButton::clicked, this, [this] { BitBtnConnectClick(); });
    connect(FUi->BitBtnDisconnect, &QAbstractButton::clicked, this, [this] { BitBtnDisconnectClick(); });
    connect(FUi->BitBtnOK, &QAbstractButton::clicked, this, [this] { BitBtnOKClick(); });
    connect(FUi->ComboBoxCOMPort, &QComboBox::currentIndexChanged, this, [this] { ShowCurrentPortHint(); });
}

// The protocol base goes first: reply timer, then the communication unit (closing the port), then
// the window.
TCommInterface::~TCommInterface() = default;

TCommPortDriver& TCommInterface::Driver() const {
    return *CommUnit()->CommPortDriver();
}

QString TCommInterface::ShownPort() const {
    return QStringLiteral("COM%1").arg(int(FPort));
}

bool TCommInterface::OpenPort() {
    TCommPortDriver& driver = Driver();
    if (driver.Connected())
        return true;
    // Resolved once for this open: the driver opens the device as it is.
    FDevice = ResolvePortName(ComName(int(FPort)));
    driver.SetPortDevice(ComName(int(FPort)), FDevice);
    return driver.Connect();
}

TBaudRate TCommInterface::CurrentBaudRate() const {
    return Driver().BaudRate();
}

void TCommInterface::SelectBaudRate(TBaudRate rate) {
    if (rate == Driver().BaudRate())
        return;
    Driver().SetBaudRate(rate); // an open port takes the new rate at once
    FUi->ComboBoxBaudRate->setCurrentIndex(ListIndexOf(*FUi->ComboBoxBaudRate, Driver().BaudRate()));
}

void TCommInterface::SelectPort(TPortNumber port) {
    TCommPortDriver& driver = Driver();
    if (port == FPort)
        return;
    if (driver.Connected()) {
        TVelumMessageBox box(DeepBlue);
        const TModalResult answer =
            box.ShowTwoButtons(tr("Disconnect your current connection before changing communication port!\n"
                                  "Are you sure you wish to reconnect?\n"
                                  "Yes closes %1 and opens COM%2.")
                                   .arg(ShownPort())
                                   .arg(int(port)),
                               tr("Tervolt Warning"), suiWarning, tr("Yes"), mrYes, tr("No"), mrNo);
        if (answer == mrYes) {
            driver.Disconnect();
            FPort = port;
            // A port that does not open stays closed; the owner reads the state afterwards.
            OpenPort();
        }
    } else {
        FPort = port;
        FDevice.clear();
    }
    // After "No" this shows the port still in use.
    ShowPortInList(FPort);
}

void TCommInterface::FillPortList() {
    std::vector<int> numbers = SystemComNumbers();
    for (int n = 1; n <= kAlwaysOffered; ++n)
        numbers.push_back(n);
    if (CurrentPort() != pnCustom)
        numbers.push_back(int(CurrentPort()));
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    QComboBox& list = *FUi->ComboBoxCOMPort;
    {
        const QSignalBlocker quiet(list);
        list.clear();
        for (const int n : numbers)
            list.addItem(QStringLiteral("COM%1").arg(n), n);
    }
    ShowPortInList(CurrentPort());
    RefreshPortHints();
}

void TCommInterface::ShowPortInList(TPortNumber port) {
    QComboBox& list = *FUi->ComboBoxCOMPort;
    int index = list.findData(int(port));
    if (index < 0 && port != pnCustom) {
        // A number typed in, or chosen elsewhere: it joins the list, in order.
        index = 0;
        while (index < list.count() && list.itemData(index).toInt() < int(port))
            ++index;
        list.insertItem(index, QStringLiteral("COM%1").arg(int(port)), int(port));
        RefreshPortHints();
    }
    list.setCurrentIndex(index);
}

void TCommInterface::SelectDataBits(TDataBits value) {
    if (value != Driver().DataBits())
        Driver().SetDataBits(value);
}

void TCommInterface::SelectStopBits(TStopBits value) {
    if (value != Driver().StopBits())
        Driver().SetStopBits(value);
}

void TCommInterface::SelectParity(TParity value) {
    if (value != Driver().Parity())
        Driver().SetParity(value);
}

void TCommInterface::SelectFlowControl(int mode) {
    if (mode < 0 || mode >= int(std::size(kFlowControlModes)))
        return;
    const TFlowControl& flow = kFlowControlModes[mode];
    if (flow.Hw != Driver().HwFlow())
        Driver().SetHwFlowControl(flow.Hw);
    if (flow.Sw != Driver().SwFlow())
        Driver().SetSwFlowControl(flow.Sw);
}

void TCommInterface::ApplyComboSelection() {
    // A port the list has no entry for (COM5 from the stored settings) is kept as it is: taking the
    // empty list as pnCustom would open the same line but lose its number, and closing would then
    // store port 0 in place of the user's port.
    if (const int typed = TypedComNumber(FUi->ComboBoxCOMPort->currentText()); typed > 0)
        SelectPort(static_cast<TPortNumber>(typed));
    else
        ShowPortInList(CurrentPort());
    SelectBaudRate(static_cast<TBaudRate>(OrdinalOf(*FUi->ComboBoxBaudRate)));
}

int TCommInterface::AutoRetries() const {
    return std::max(0, FUi->ComboBoxAutoRetries->currentIndex());
}

void TCommInterface::SetAutoRetries(int times) {
    FUi->ComboBoxAutoRetries->setCurrentIndex(std::clamp(times, 0, FUi->ComboBoxAutoRetries->count() - 1));
}

bool TCommInterface::EnsureConnected() {
    if (!Driver().Connected())
        BitBtnConnectClick();
    return Driver().Connected();
}

bool TCommInterface::ConnectQuietly() {
    if (!Driver().Connected() && OpenPort())
        UpdateConnectButtons();
    return Driver().Connected();
}

void TCommInterface::FormShow() {
    // The ports that exist now, and the port mapping as it may have been edited since.
    FillPortList();
    FUi->ComboBoxBaudRate->setCurrentIndex(ListIndexOf(*FUi->ComboBoxBaudRate, CurrentBaudRate()));
    // The port may have gone away with its device since the buttons were last set: Connect is
    // offered whenever it is closed.
    UpdateConnectButtons();
    FAutoRetriesShown = AutoRetries();
}

void TCommInterface::BitBtnConnectClick() {
    ApplyComboSelection();
    TCommPortDriver& driver = Driver();
    if (OpenPort()) {
        FUi->ComboBoxBaudRate->setCurrentIndex(ListIndexOf(*FUi->ComboBoxBaudRate, driver.BaudRate()));
        FUi->BitBtnConnect->setEnabled(false);
        FUi->BitBtnDisconnect->setEnabled(true);
        return;
    }
    QApplication::beep();
    QString text = tr("Connection failure!\nCheck COM port settings and try again");
    if (const QString reason = driver.LastFailure(); !reason.isEmpty())
        text += QStringLiteral("\n\n") + reason;
    TVelumMessageBox box(DeepBlue);
    box.ShowOneButton(text, tr("Tervolt Error"), suiStop, tr("Ok"), mrOk);
}

void TCommInterface::BitBtnDisconnectClick() {
    Driver().Disconnect();
    FUi->BitBtnDisconnect->setEnabled(false);
    FUi->BitBtnConnect->setEnabled(true);
}

void TCommInterface::BitBtnOKClick() {
    // Applied while the window is still up, so that a reconnect question appears over it.
    ApplyComboSelection();
    done(mrOk);
}

void TCommInterface::reject() {
    done(mrCancel);
}

void TCommInterface::done(int result) {
    if (result == mrCancel)
        SetAutoRetries(FAutoRetriesShown);
    QDialog::done(result);
}

void TCommInterface::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        CentreOnScreen();
        FormShow();
    }
    QDialog::showEvent(event);
}

void TCommInterface::CentreOnScreen() {
    ::CentreOnScreen(this, parentWidget() != nullptr ? parentWidget()->screen() : screen());
}

void TCommInterface::UpdateConnectButtons() {
    FUi->BitBtnDisconnect->setEnabled(Driver().Connected());
    FUi->BitBtnConnect->setEnabled(!FUi->BitBtnDisconnect->isEnabled());
}

void TCommInterface::RefreshPortHints() {
    QComboBox& list = *FUi->ComboBoxCOMPort;
    for (int index = 0; index < list.count(); ++index) {
        // What each entry would open, as the mapping stands now.
        const QString device = ResolvePortName(ComName(list.itemData(index).toInt()));
        list.setItemData(index, tr("Opens %1").arg(device), Qt::ToolTipRole);
    }
    ShowCurrentPortHint();
}

void TCommInterface::ShowCurrentPortHint() {
    const QComboBox& list = *FUi->ComboBoxCOMPort;
    FUi->ComboBoxCOMPort->setToolTip(list.currentIndex() >= 0
                                         ? list.itemData(list.currentIndex(), Qt::ToolTipRole).toString()
                                         : QString());
}

QComboBox* TCommInterface::ComboBoxCOMPort() const {
    return FUi->ComboBoxCOMPort;
}

QComboBox* TCommInterface::ComboBoxBaudRate() const {
    return FUi->ComboBoxBaudRate;
}

QComboBox* TCommInterface::ComboBoxAutoRetries() const {
    return FUi->ComboBoxAutoRetries;
}

TsuiImageButton* TCommInterface::BitBtnConnect() const {
    return FUi->BitBtnConnect;
}

TsuiImageButton* TCommInterface::BitBtnDisconnect() const {
    return FUi->BitBtnDisconnect;
}

TsuiImageButton* TCommInterface::BitBtnCancel() const {
    return FUi->BitBtnCancel;
}

TsuiImageButton* TCommInterface::BitBtnOK() const {
    return FUi->BitBtnOK;
}
