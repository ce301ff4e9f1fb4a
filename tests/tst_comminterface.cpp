// The COM settings window on real pseudo-terminals: two of them stand for COM2 and COM3 through the
// port mapping of a private settings file; COM1 and COM4 name a device that does not exist. Every
// message box is answered and recorded through the message box's responder.
//
// docs/screenshots/com-settings.png comes from WindowFrameAndPlacement:
//     TERVOLT_SCREENSHOT_DIR=docs/screenshots xvfb-run -a -s "-screen 0 1280x1024x24"
//         build/bin/tst_comminterface WindowFrameAndPlacement   (one command line)

#include "dialogs/comm_interface.h"
#include "dialogs/velummessagebox.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "skin/suiform.h"
#include "skin/suiimagebutton.h"
#include "tests/support/ptypair.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <memory>
#include <termios.h>

using namespace std::chrono_literals;

namespace {

const QString kFailureText = QStringLiteral("Connection failure!\nCheck COM port settings and try again");
const QString kReconnectText = QStringLiteral("Disconnect your current connection before changing "
                                              "communication port!\nAre you sure you wish to reconnect?");

TCommPortDriver& DriverOf(const TCommInterface& dialog) {
    return *dialog.CommUnit()->CommPortDriver();
}

// Bytes the driver writes arrive at this board.
bool Reaches(TCommInterface& dialog, TPtyPair& board) {
    board.Drain();
    const QByteArray probe("probe\r");
    return DriverOf(dialog).SendString(probe) && board.Read(int(probe.size()), 5s) == probe;
}

// No one holds the board's device: a second exclusive open succeeds.
bool IsFree(const TPtyPair& board) {
    TCommPortDriver other;
    other.SetPortName(board.SlavePath());
    const bool opened = other.Connect();
    other.Disconnect();
    return opened;
}

bool ShowAndWait(TCommInterface& dialog) {
    dialog.show();
    return QTest::qWaitForWindowExposed(&dialog);
}

} // namespace

class TCommInterfaceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void Defaults();
    void LayoutAsPlaced_data();
    void LayoutAsPlaced();
    void WindowFrameAndPlacement();
    void ListOpensUnderItsBox_data();
    void ListOpensUnderItsBox();
    void PortListMapsOntoPorts_data();
    void PortListMapsOntoPorts();
    void BaudListMapsOntoRates_data();
    void BaudListMapsOntoRates();
    void NoSelectionKeepsTheLine();
    void FlowControlModes_data();
    void FlowControlModes();

    void ConnectAndDisconnectButtons();
    void FailedConnectShowsFailure();
    void EnsureConnected();
    void PortChangeWhileConnected_data();
    void PortChangeWhileConnected();
    void BaudChangeWhileConnectedAsksNothing_data();
    void BaudChangeWhileConnectedAsksNothing();
    void OkAppliesChangedLists();
    void OkWithUnchangedListsAsksNothing();
    void CancelLeavesDriverAsItWas();
    void ExecReturnsModalResult_data();
    void ExecReturnsModalResult();
    void PortOutsideListIsApplied();
    void TooltipNamesMappedDevice();
    void DestructionClosesPort();

private:
    void MapPort(int number, const QString& device);

    QTemporaryDir FSettingsDir;
    QString FMissingDevice;
    std::unique_ptr<TPtyPair> FCom2;
    std::unique_ptr<TPtyPair> FCom3;
    QList<TShownMessage> FShown;
    QList<TModalResult> FReplies; // answers for the next boxes, in order
    std::unique_ptr<TScopedMessageResponder> FResponder;
};

void TCommInterfaceTest::initTestCase() {
    QVERIFY(FSettingsDir.isValid());
    // A settings file of our own, never the user's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FSettingsDir.path()));
    FMissingDevice = QDir(FSettingsDir.path()).filePath(QStringLiteral("no-such-tty"));
}

void TCommInterfaceTest::init() {
    FCom2 = std::make_unique<TPtyPair>();
    FCom3 = std::make_unique<TPtyPair>();
    QVERIFY(FCom2->IsOpen() && FCom3->IsOpen());
    QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
    settings.remove(QStringLiteral("Ports"));
    MapPort(1, FMissingDevice);
    MapPort(2, FCom2->SlavePath());
    MapPort(3, FCom3->SlavePath());
    MapPort(4, FMissingDevice);
    FShown.clear();
    FReplies.clear();
    // Unanswered boxes get mrCancel, as when the user closes them.
    FResponder = std::make_unique<TScopedMessageResponder>([this](const TShownMessage& message) {
        FShown << message;
        return FReplies.isEmpty() ? mrCancel : FReplies.takeFirst();
    });
}

void TCommInterfaceTest::cleanup() {
    FResponder.reset();
    FCom2.reset();
    FCom3.reset();
}

void TCommInterfaceTest::MapPort(int number, const QString& device) {
    QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
    settings.setValue(QStringLiteral("Ports/COM%1").arg(number), device);
}

void TCommInterfaceTest::Defaults() {
    TCommInterface dialog;
    const TCommPortDriver& driver = DriverOf(dialog);
    QCOMPARE(dialog.CurrentPort(), pnCOM2);
    QCOMPARE(dialog.CurrentBaudRate(), br115200);
    QCOMPARE(driver.PortName(), QStringLiteral("\\\\.\\COM2"));
    QCOMPARE(driver.BaudRateValue(), 115200u);
    QCOMPARE(driver.DataBits(), db8BITS);
    QCOMPARE(driver.StopBits(), sb1BITS);
    QCOMPARE(driver.Parity(), ptNONE);
    QCOMPARE(driver.HwFlow(), hfNONERTSON);
    QCOMPARE(driver.SwFlow(), sfNONE);
    QVERIFY(!driver.Connected());
    QCOMPARE(dialog.ComboBoxCOMPort()->currentText(), QStringLiteral("COM2"));
    QCOMPARE(dialog.ComboBoxBaudRate()->currentText(), QStringLiteral("115200"));
    QVERIFY(dialog.BitBtnConnect()->isEnabled());
    QVERIFY(!dialog.BitBtnDisconnect()->isEnabled());
    QVERIFY(!dialog.Waiting());
    QCOMPARE(dialog.ReplyTimeout(), 5000);
    QVERIFY(FShown.isEmpty());
}

void TCommInterfaceTest::LayoutAsPlaced_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QString>("text");
    QTest::newRow("port label") << "LabelCOMPort" << QPoint(10, 50) << "COM Port:";
    QTest::newRow("baud label") << "LabelBaudRate" << QPoint(10, 87) << "Baud Rate:";
    QTest::newRow("port list") << "ComboBoxCOMPort" << QPoint(90, 47) << "COM2";
    QTest::newRow("baud list") << "ComboBoxBaudRate" << QPoint(90, 85) << "115200";
    QTest::newRow("connect") << "BitBtnConnect" << QPoint(268, 39) << "Connect";
    QTest::newRow("disconnect") << "BitBtnDisconnect" << QPoint(268, 79) << "Disconnect";
    QTest::newRow("retries label") << "LabelAutoRetries" << QPoint(10, 134)
                                   << "Retry a failed command automatically:";
    QTest::newRow("retries list") << "ComboBoxAutoRetries" << QPoint(250, 131) << "0";
    QTest::newRow("cancel") << "BitBtnCancel" << QPoint(52, 173) << "Cancel";
    QTest::newRow("ok") << "BitBtnOK" << QPoint(190, 173) << "OK";
}

void TCommInterfaceTest::LayoutAsPlaced() {
    QFETCH(QString, name);
    QFETCH(QPoint, topLeft);
    QFETCH(QString, text);
    TCommInterface dialog;
    const auto* frame = dialog.findChild<TsuiForm*>(QStringLiteral("suiForm1"));
    QVERIFY(frame != nullptr);
    const auto* control = frame->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->mapTo(frame, QPoint(0, 0)), topLeft);
    QVERIFY2(frame->ContentRect().contains(control->geometry()), "inside the frame's content area");
    if (const auto* label = qobject_cast<const QLabel*>(control))
        QCOMPARE(label->text(), text);
    else if (const auto* list = qobject_cast<const QComboBox*>(control)) {
        QCOMPARE(list->currentText(), text);
        QCOMPARE(list->width(), name == QLatin1String("ComboBoxAutoRetries") ? 48 : 145);
        // A COM number may be typed in; the rates are a fixed list.
        QCOMPARE(list->isEditable(), name == QLatin1String("ComboBoxCOMPort"));
    } else {
        const auto* button = qobject_cast<const TsuiImageButton*>(control);
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), text);
        QVERIFY2(button->width() >= button->sizeHint().width(), "the word fits");
    }
}

void TCommInterfaceTest::WindowFrameAndPlacement() {
    TCommInterface dialog;
    QVERIFY(dialog.EnsureConnected()); // as the user usually finds it
    QCOMPARE(dialog.size(), QSize(402, 218));
    QCOMPARE(dialog.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("COM Settings"));
    const auto* frame = dialog.findChild<TsuiForm*>(QStringLiteral("suiForm1"));
    QVERIFY(frame != nullptr);
    QCOMPARE(frame->Caption(), QStringLiteral("COM Settings"));
    QCOMPARE(frame->geometry(), QRect(0, 0, 402, 218));
    QCOMPARE(dialog.BitBtnCancel()->ModalResult(), mrCancel);

    QVERIFY(ShowAndWait(dialog));
    const QRect area = dialog.screen()->availableGeometry();
    QVERIFY(qAbs(dialog.frameGeometry().center().x() - area.center().x()) <= 1);
    QVERIFY(qAbs(dialog.frameGeometry().center().y() - area.center().y()) <= 1);

    const QPixmap shot = dialog.grab();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(402, 218));
    if (const QString folder = qEnvironmentVariable("TERVOLT_SCREENSHOT_DIR"); !folder.isEmpty())
        QVERIFY(shot.save(QDir(folder).filePath(QStringLiteral("com-settings.png")), "PNG"));
}

// A window manager may place the dialog without Qt learning where: a list opened by a click must
// still open under its box, wherever the click proves the box to be.
void TCommInterfaceTest::ListOpensUnderItsBox_data() {
    QTest::addColumn<bool>("port");
    QTest::addColumn<bool>("byKey");   // F4 once the pointer has passed over the box; else a click
    QTest::addColumn<QPoint>("moved"); // where the window really is, from where Qt believes it to be
    QTest::newRow("port list") << true << false << QPoint(0, 0);
    QTest::newRow("port list, window moved unseen") << true << false << QPoint(-37, 23);
    QTest::newRow("baud list, window moved unseen") << false << false << QPoint(41, -19);
    QTest::newRow("baud list from the keyboard, window moved unseen") << false << true << QPoint(-23, 17);
}

void TCommInterfaceTest::ListOpensUnderItsBox() {
    QFETCH(bool, port);
    QFETCH(bool, byKey);
    QFETCH(QPoint, moved);
    TCommInterface dialog;
    QVERIFY(ShowAndWait(dialog));
    QComboBox& list = port ? *dialog.ComboBoxCOMPort() : *dialog.ComboBoxBaudRate();
    const QPoint arrow(list.width() - 6, list.height() / 2);
    const auto openAt = [&](QPoint shift) {
        QMouseEvent pointer(byKey ? QEvent::MouseMove : QEvent::MouseButtonPress, QPointF(arrow),
                            QPointF(list.mapToGlobal(arrow) + shift), byKey ? Qt::NoButton : Qt::LeftButton,
                            byKey ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&list, &pointer);
        if (byKey)
            QTest::keyClick(&list, Qt::Key_F4);
        QWidget* popup = list.view()->window();
        const QRect shown = popup->isVisible() ? popup->geometry() : QRect();
        list.hidePopup();
        return shown;
    };
    const QRect asQtSees = openAt(QPoint(0, 0));
    QVERIFY(asQtSees.isValid());
    QCOMPARE(openAt(moved), asQtSees.translated(moved));
}

void TCommInterfaceTest::PortListMapsOntoPorts_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("COM1") << 0 << "COM1" << int(pnCOM1);
    QTest::newRow("COM2") << 1 << "COM2" << int(pnCOM2);
    QTest::newRow("COM3") << 2 << "COM3" << int(pnCOM3);
    QTest::newRow("COM4") << 3 << "COM4" << int(pnCOM4);
}

void TCommInterfaceTest::PortListMapsOntoPorts() {
    QFETCH(int, position);
    QFETCH(QString, text);
    QFETCH(int, port);
    TCommInterface dialog;
    QCOMPARE(dialog.ComboBoxCOMPort()->count(), 4);
    QCOMPARE(dialog.ComboBoxCOMPort()->itemText(position), text);
    dialog.ComboBoxCOMPort()->setCurrentIndex(position);
    dialog.ApplyComboSelection();
    QCOMPARE(int(dialog.CurrentPort()), port);
    QCOMPARE(dialog.ShownPort(), text);
    QVERIFY(FShown.isEmpty());
}

void TCommInterfaceTest::BaudListMapsOntoRates_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("rate");
    QTest::addColumn<quint32>("bitsPerSecond");
    const quint32 rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                             19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int position = 0; position < int(std::size(rates)); ++position)
        QTest::addRow("%u", rates[position]) << position << position + 1 << rates[position];
}

void TCommInterfaceTest::BaudListMapsOntoRates() {
    QFETCH(int, position);
    QFETCH(int, rate);
    QFETCH(quint32, bitsPerSecond);
    TCommInterface dialog;
    QComboBox& list = *dialog.ComboBoxBaudRate();
    QCOMPARE(list.count(), 15);
    QCOMPARE(list.itemText(position), QString::number(bitsPerSecond));
    list.setCurrentIndex(position);
    dialog.ApplyComboSelection();
    QCOMPARE(int(dialog.CurrentBaudRate()), rate);
    QCOMPARE(DriverOf(dialog).BaudRateValue(), bitsPerSecond);
    // Reading the driver back gives the same entry.
    list.setCurrentIndex(-1);
    dialog.FormShow();
    QCOMPARE(list.currentIndex(), position);
}

void TCommInterfaceTest::NoSelectionKeepsTheLine() {
    TCommInterface dialog;
    dialog.ComboBoxCOMPort()->setCurrentIndex(-1);
    dialog.ComboBoxBaudRate()->setCurrentIndex(-1);
    dialog.ApplyComboSelection();
    const TCommPortDriver& driver = DriverOf(dialog);
    QCOMPARE(dialog.CurrentPort(), pnCOM2); // the port is kept, number and name
    QCOMPARE(driver.PortName(), QStringLiteral("\\\\.\\COM2"));
    QCOMPARE(dialog.CurrentBaudRate(), brCustom);
    QCOMPARE(driver.BaudRateValue(), 115200u); // and so is the rate
    QVERIFY(dialog.EnsureConnected());
    QVERIFY(Reaches(dialog, *FCom2));
}

void TCommInterfaceTest::FlowControlModes_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("hw");
    QTest::addColumn<int>("sw");
    QTest::newRow("0 none") << 0 << int(hfNONERTSON) << int(sfNONE);
    QTest::newRow("1 RTS/CTS") << 1 << int(hfRTSCTS) << int(sfNONE);
    QTest::newRow("2 XON/XOFF") << 2 << int(hfNONERTSON) << int(sfXONXOFF);
    QTest::newRow("3 both") << 3 << int(hfRTSCTS) << int(sfXONXOFF);
    // Out of range: whatever was set before stays.
    QTest::newRow("4 ignored") << 4 << int(hfRTSCTS) << int(sfXONXOFF);
    QTest::newRow("-1 ignored") << -1 << int(hfRTSCTS) << int(sfXONXOFF);
}

void TCommInterfaceTest::FlowControlModes() {
    QFETCH(int, mode);
    QFETCH(int, hw);
    QFETCH(int, sw);
    TCommInterface dialog;
    if (mode < 0 || mode > 3)
        dialog.SelectFlowControl(3);
    dialog.SelectFlowControl(mode);
    QCOMPARE(int(DriverOf(dialog).HwFlow()), hw);
    QCOMPARE(int(DriverOf(dialog).SwFlow()), sw);
}

void TCommInterfaceTest::ConnectAndDisconnectButtons() {
    TCommInterface dialog;
    QVERIFY(ShowAndWait(dialog));
    // Connect applies the lists first.
    dialog.ComboBoxCOMPort()->setCurrentIndex(2);
    QTest::mouseClick(dialog.BitBtnConnect(), Qt::LeftButton);
    QVERIFY(DriverOf(dialog).Connected());
    QCOMPARE(dialog.CurrentPort(), pnCOM3);
    QVERIFY(Reaches(dialog, *FCom3));
    QVERIFY(!dialog.BitBtnConnect()->isEnabled());
    QVERIFY(dialog.BitBtnDisconnect()->isEnabled());
    QVERIFY(dialog.isVisible());

    QTest::mouseClick(dialog.BitBtnDisconnect(), Qt::LeftButton);
    QVERIFY(!DriverOf(dialog).Connected());
    QVERIFY(IsFree(*FCom3));
    QVERIFY(dialog.BitBtnConnect()->isEnabled());
    QVERIFY(!dialog.BitBtnDisconnect()->isEnabled());
    QVERIFY(dialog.isVisible());
    QVERIFY(FShown.isEmpty());
}

void TCommInterfaceTest::FailedConnectShowsFailure() {
    TCommInterface dialog;
    QVERIFY(ShowAndWait(dialog));
    dialog.ComboBoxCOMPort()->setCurrentIndex(3); // COM4: no such device
    QTest::mouseClick(dialog.BitBtnConnect(), Qt::LeftButton);
    QVERIFY(!DriverOf(dialog).Connected());
    QCOMPARE(dialog.CurrentPort(), pnCOM4);
    QCOMPARE(FShown.size(), 1);
    const TShownMessage& shown = FShown.at(0);
    QVERIFY2(shown.Text.startsWith(kFailureText), qPrintable(shown.Text));
    QVERIFY2(shown.Text.contains(FMissingDevice), "the system's reason names the device");
    QVERIFY2(shown.Text.contains(QStringLiteral("No such file or directory")), qPrintable(shown.Text));
    QCOMPARE(shown.Caption, QStringLiteral("Tervolt Error"));
    QCOMPARE(shown.IconType, suiStop);
    QCOMPARE(shown.ButtonCaptions, QStringList{QStringLiteral("Ok")});
    QCOMPARE(shown.ButtonResults, QList<TModalResult>{mrOk});
    QCOMPARE(shown.UIStyle, DeepBlue);
    QVERIFY(dialog.BitBtnConnect()->isEnabled());
    QVERIFY(!dialog.BitBtnDisconnect()->isEnabled());
}

void TCommInterfaceTest::EnsureConnected() {
    TCommInterface dialog;
    dialog.SelectPort(pnCOM4);
    QVERIFY(!dialog.EnsureConnected());
    QCOMPARE(FShown.size(), 1);
    QVERIFY(FShown.at(0).Text.startsWith(kFailureText));

    FShown.clear();
    dialog.SelectPort(pnCOM2);
    QVERIFY(dialog.EnsureConnected());
    QVERIFY(!dialog.BitBtnConnect()->isEnabled());
    QVERIFY(dialog.BitBtnDisconnect()->isEnabled());
    // Already open: nothing is reopened and nothing asked.
    QVERIFY(dialog.EnsureConnected());
    QVERIFY(FShown.isEmpty());
    QVERIFY(Reaches(dialog, *FCom2));
}

void TCommInterfaceTest::PortChangeWhileConnected_data() {
    QTest::addColumn<TModalResult>("answer");
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("port");
    QTest::newRow("No keeps the old port") << mrNo << 2 << true << int(pnCOM2);
    QTest::newRow("closing the box keeps the old port") << mrCancel << 2 << true << int(pnCOM2);
    QTest::newRow("Yes moves to the new port") << mrYes << 2 << true << int(pnCOM3);
    QTest::newRow("Yes to a port that cannot open") << mrYes << 3 << false << int(pnCOM4);
}

void TCommInterfaceTest::PortChangeWhileConnected() {
    QFETCH(TModalResult, answer);
    QFETCH(int, position);
    QFETCH(bool, connected);
    QFETCH(int, port);
    TCommInterface dialog;
    QVERIFY(dialog.EnsureConnected());
    QVERIFY(ShowAndWait(dialog));
    FReplies << answer;
    dialog.ComboBoxCOMPort()->setCurrentIndex(position);
    QTest::mouseClick(dialog.BitBtnOK(), Qt::LeftButton);
    QCOMPARE(dialog.result(), mrOk);

    QCOMPARE(FShown.size(), 1); // the question, and nothing after it even when the reconnect fails
    const TShownMessage& question = FShown.at(0);
    QCOMPARE(question.Text,
             kReconnectText + QStringLiteral("\nYes closes COM2 and opens COM%1.").arg(position + 1));
    QCOMPARE(question.Caption, QStringLiteral("Tervolt Warning"));
    QCOMPARE(question.IconType, suiWarning);
    QCOMPARE(question.ButtonCaptions, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    QCOMPARE(question.ButtonResults, (QList<TModalResult>{mrYes, mrNo}));

    QCOMPARE(DriverOf(dialog).Connected(), connected);
    QCOMPARE(int(dialog.CurrentPort()), port);
    QCOMPARE(dialog.ComboBoxCOMPort()->currentIndex(), port - 1);
    if (port == pnCOM2)
        QVERIFY(Reaches(dialog, *FCom2));
    else
        QVERIFY2(IsFree(*FCom2), "the old port is closed");
    if (port == pnCOM3)
        QVERIFY(Reaches(dialog, *FCom3));
    // A reconnect leaves the buttons as they were.
    QVERIFY(!dialog.BitBtnConnect()->isEnabled());
    QVERIFY(dialog.BitBtnDisconnect()->isEnabled());
}

void TCommInterfaceTest::BaudChangeWhileConnectedAsksNothing_data() {
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("speed");
    QTest::newRow("1200") << 3 << int(br1200) << int(B1200);
    QTest::newRow("9600") << 6 << int(br9600) << int(B9600);
    QTest::newRow("57600") << 11 << int(br57600) << int(B57600);
}

void TCommInterfaceTest::BaudChangeWhileConnectedAsksNothing() {
    QFETCH(int, position);
    QFETCH(int, rate);
    QFETCH(int, speed);
    TCommInterface dialog;
    QVERIFY(dialog.EnsureConnected());
    QVERIFY(ShowAndWait(dialog));
    dialog.ComboBoxBaudRate()->setCurrentIndex(position);
    QTest::mouseClick(dialog.BitBtnOK(), Qt::LeftButton);
    QVERIFY(FShown.isEmpty());
    QVERIFY(DriverOf(dialog).Connected());
    QCOMPARE(int(dialog.CurrentBaudRate()), rate);
    // The line itself runs at the new rate (a pty's termios is shared by both sides).
    termios line{};
    QCOMPARE(tcgetattr(FCom2->MasterFd(), &line), 0);
    QCOMPARE(int(cfgetospeed(&line)), speed);
    QVERIFY(Reaches(dialog, *FCom2));
}

void TCommInterfaceTest::OkAppliesChangedLists() {
    TCommInterface dialog;
    QVERIFY(ShowAndWait(dialog));
    dialog.ComboBoxCOMPort()->setCurrentIndex(2);
    dialog.ComboBoxBaudRate()->setCurrentIndex(6);
    dialog.ComboBoxAutoRetries()->setCurrentIndex(9);
    QTest::mouseClick(dialog.BitBtnOK(), Qt::LeftButton);
    QCOMPARE(dialog.result(), mrOk);
    QVERIFY(!dialog.isVisible());
    QVERIFY(FShown.isEmpty()); // closed port: no question
    QCOMPARE(dialog.CurrentPort(), pnCOM3);
    QCOMPARE(dialog.CurrentBaudRate(), br9600);
    QCOMPARE(dialog.AutoRetries(), 9);
    QVERIFY(!DriverOf(dialog).Connected());
}

void TCommInterfaceTest::OkWithUnchangedListsAsksNothing() {
    TCommInterface dialog;
    dialog.SelectBaudRate(br57600);
    QVERIFY(dialog.EnsureConnected());
    QVERIFY(ShowAndWait(dialog));
    QTest::mouseClick(dialog.BitBtnOK(), Qt::LeftButton);
    QCOMPARE(dialog.result(), mrOk);
    QVERIFY(FShown.isEmpty());
    QVERIFY(DriverOf(dialog).Connected());
    QCOMPARE(dialog.CurrentPort(), pnCOM2);
    QCOMPARE(dialog.CurrentBaudRate(), br57600);
    QVERIFY(Reaches(dialog, *FCom2));
}

void TCommInterfaceTest::CancelLeavesDriverAsItWas() {
    TCommInterface dialog;
    QVERIFY(ShowAndWait(dialog));
    QTest::mouseClick(dialog.BitBtnConnect(), Qt::LeftButton);
    QVERIFY(DriverOf(dialog).Connected());
    dialog.ComboBoxCOMPort()->setCurrentIndex(2);
    dialog.ComboBoxBaudRate()->setCurrentIndex(6);
    dialog.ComboBoxAutoRetries()->setCurrentIndex(4);
    QTest::mouseClick(dialog.BitBtnCancel(), Qt::LeftButton);
    QCOMPARE(dialog.result(), mrCancel);
    QVERIFY(!dialog.isVisible());
    QVERIFY(FShown.isEmpty());
    // What Connect did stays; the lists were not applied.
    QVERIFY(DriverOf(dialog).Connected());
    QCOMPARE(dialog.CurrentPort(), pnCOM2);
    QCOMPARE(dialog.CurrentBaudRate(), br115200);
    QCOMPARE(dialog.AutoRetries(), 0);
    QVERIFY(Reaches(dialog, *FCom2));

    // The next showing lists the driver's settings again; Esc cancels as the button does.
    QVERIFY(ShowAndWait(dialog));
    QCOMPARE(dialog.ComboBoxCOMPort()->currentText(), QStringLiteral("COM2"));
    QCOMPARE(dialog.ComboBoxBaudRate()->currentText(), QStringLiteral("115200"));
    dialog.ComboBoxBaudRate()->setCurrentIndex(0);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QCOMPARE(dialog.result(), mrCancel);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.CurrentBaudRate(), br115200);
}

void TCommInterfaceTest::ExecReturnsModalResult_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<TModalResult>("result");
    QTest::newRow("OK") << "BitBtnOK" << mrOk;
    QTest::newRow("Cancel") << "BitBtnCancel" << mrCancel;
    QTest::newRow("title bar close") << "CloseButton" << mrCancel;
}

void TCommInterfaceTest::ExecReturnsModalResult() {
    QFETCH(QString, button);
    QFETCH(TModalResult, result);
    TCommInterface dialog;
    bool clicked = false;
    // Runs inside exec()'s own loop once the window is up.
    QTimer::singleShot(0, &dialog, [&] {
        if (auto* target = dialog.findChild<QAbstractButton*>(button)) {
            QTest::mouseClick(target, Qt::LeftButton);
            clicked = true;
        } else {
            dialog.done(mrNone);
        }
    });
    QCOMPARE(dialog.exec(), result);
    QVERIFY(clicked);
    QVERIFY(FShown.isEmpty());
}

// A port beyond COM4 is offered when the system has it (here: mapped) and opens its device; a stored
// COM5 keeps its number, so the window stores 5 back, not 0. Any other number may be typed in.
void TCommInterfaceTest::PortOutsideListIsApplied() {
    MapPort(5, FCom3->SlavePath());
    TCommInterface dialog;
    QComboBox& list = *dialog.ComboBoxCOMPort();
    QVERIFY(ShowAndWait(dialog));
    QVERIFY(list.findText(QStringLiteral("COM5")) > 0);
    dialog.SelectPort(pnCOM5);
    QCOMPARE(list.currentText(), QStringLiteral("COM5"));
    QVERIFY(dialog.EnsureConnected());
    QCOMPARE(dialog.CurrentPort(), pnCOM5);
    // Resolved once, when opened: the driver is given the device itself.
    QCOMPARE(dialog.Device(), FCom3->SlavePath());
    QCOMPARE(DriverOf(dialog).Device(), FCom3->SlavePath());
    QCOMPARE(DriverOf(dialog).PortName(), QStringLiteral("\\\\.\\COM5"));
    QVERIFY(Reaches(dialog, *FCom3));
    DriverOf(dialog).Disconnect();

    list.setEditText(QStringLiteral(" com256 "));
    dialog.ApplyComboSelection();
    QCOMPARE(int(dialog.CurrentPort()), 256);
    QCOMPARE(dialog.ShownPort(), QStringLiteral("COM256"));
    QVERIFY(dialog.Device().isEmpty()); // not opened since it was chosen
    QCOMPARE(list.currentText(), QStringLiteral("COM256"));
    list.setEditText(QStringLiteral("COM257")); // beyond any COM number: the port stays
    dialog.ApplyComboSelection();
    QCOMPARE(int(dialog.CurrentPort()), 256);
    QVERIFY(FShown.isEmpty());
}

void TCommInterfaceTest::TooltipNamesMappedDevice() {
    QSettings(QStringLiteral("VELUM"), QStringLiteral("Tervolt")).remove(QStringLiteral("Ports/COM1"));
    TCommInterface dialog;
    QComboBox& list = *dialog.ComboBoxCOMPort();
    const auto hint = [&list](int position) { return list.itemData(position, Qt::ToolTipRole).toString(); };
    QVERIFY2(hint(0).contains(QStringLiteral("/dev/ttyS0")), qPrintable(hint(0)));
    QVERIFY2(hint(1).contains(FCom2->SlavePath()), qPrintable(hint(1)));
    QVERIFY2(hint(2).contains(FCom3->SlavePath()), qPrintable(hint(2)));
    QVERIFY2(hint(3).contains(FMissingDevice), qPrintable(hint(3)));
    QCOMPARE(list.toolTip(), hint(1)); // the closed list shows the hint of its entry

    // Showing the window again picks up a changed mapping.
    MapPort(3, QStringLiteral("/dev/ttyUSB7"));
    QVERIFY(ShowAndWait(dialog));
    QVERIFY2(hint(2).contains(QStringLiteral("/dev/ttyUSB7")), qPrintable(hint(2)));
    list.setCurrentIndex(2);
    QCOMPARE(list.toolTip(), hint(2));
}

void TCommInterfaceTest::DestructionClosesPort() {
    {
        TCommInterface dialog;
        QVERIFY(dialog.EnsureConnected());
        QVERIFY(!IsFree(*FCom2));
    }
    QVERIFY(IsFree(*FCom2));
}

QTEST_MAIN(TCommInterfaceTest)
#include "tst_comminterface.moc"
