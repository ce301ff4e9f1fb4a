// The window program's own start-up and a Program/Verify run against a real board on a COM port:
// under Wine the Linux tervolt-sim on a pseudo-terminal. scripts/test-windows maps the port, stores
// it in the per-user settings and runs this with
//     TERVOLT_TEST_COM=COM5 TERVOLT_TEST_IMAGE=<Intel HEX image> [TERVOLT_TEST_LISTED=COM7]
//     [TERVOLT_TEST_SHOTS=<folder>]
// TERVOLT_TEST_LISTED names a port the system lists that the COM settings must offer.
// Without TERVOLT_TEST_COM every case is skipped. The run is driven through the window's test seams
// (the file dialog and the message boxes), not by moving the mouse.

#include "app/tervolt_mainform.h"
#include "dialogs/comm_interface.h"
#include "dialogs/velummessagebox.h"
#include "engine/comsettings.h"
#include "serial/cpdrv.h"
#include "skin/suicontrols.h"
#include "skin/suiimagebutton.h"
#include "skin/suiradiogroup.h"
#include "tests/support/screenshot.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

constexpr int kIdentifiedWithinMs = 20000;
constexpr int kShotAtPercent = 30;
constexpr int kProgressPollMs = 10;

template <class T> T* Control(const QWidget& form, const char* name) {
    return form.findChild<T*>(QString::fromLatin1(name));
}

// Which top-level windows were shown, in order (the power-on picture holds the thread while it is
// up, so it is seen through its show event, not by polling).
class TShownWindows : public QObject {
public:
    QStringList Classes;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            Classes << QString::fromLatin1(watched->metaObject()->className());
        return false;
    }
};

// The window as it is on the screen, frame included, where a screen can be read.
QPixmap ScreenShot(QWidget& window) {
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    if (QScreen* screen = window.screen()) {
        const QRect frame = window.frameGeometry();
        const QPixmap shot = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
        if (!shot.isNull())
            return shot;
    }
    return GrabWindow(window);
}

} // namespace

class TWindowComTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void powerOnThenIdentified();
    void programThenVerify();
    void portListOffersSystemPorts();
    void closingStoresTheLine();

private:
    void Shoot(const QString& name);

    QString FPort;
    QString FImage;
    QString FShots;
    TShownWindows FShown;
    std::unique_ptr<TFormTervolt> FForm;
    QStringList FNotices;
    std::unique_ptr<TScopedMessageResponder> FResponder;
};

void TWindowComTest::initTestCase() {
    FPort = qEnvironmentVariable("TERVOLT_TEST_COM");
    FImage = qEnvironmentVariable("TERVOLT_TEST_IMAGE");
    FShots = qEnvironmentVariable("TERVOLT_TEST_SHOTS");
    if (FPort.isEmpty())
        QSKIP("TERVOLT_TEST_COM names no port with a board");
    QVERIFY2(QFileInfo(FImage).isFile(), "TERVOLT_TEST_IMAGE names no image");
    // Every box is recorded and answered with its first button.
    FResponder = std::make_unique<TScopedMessageResponder>([this](const TShownMessage& message) {
        // The outcome's first line; the lines below it give bytes, time, port and chip.
        FNotices << message.Text.section(u'\n', 0, 0);
        return message.ButtonResults.isEmpty() ? mrOk : message.ButtonResults.first();
    });
}

void TWindowComTest::cleanupTestCase() {
    FForm.reset();
    FResponder.reset();
}

void TWindowComTest::Shoot(const QString& name) {
    if (!FShots.isEmpty())
        QVERIFY(SaveShot(ScreenShot(*FForm), QDir(FShots), name));
}

// As main() starts the program: the device list beside the program, the stored line, the power-on
// picture, then the main window, which finds the board and identifies its FLASH.
void TWindowComTest::powerOnThenIdentified() {
    qApp->installEventFilter(&FShown);
    FForm = std::make_unique<TFormTervolt>(QCoreApplication::applicationDirPath());
    FForm->FormShow();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    qApp->removeEventFilter(&FShown);
    QCOMPARE(FShown.Classes.value(0), QStringLiteral("TFormPowerOn"));
    QVERIFY(FShown.Classes.contains(QStringLiteral("TFormTervolt")));
    QCOMPARE(QStringLiteral("COM%1").arg(int(FForm->CommInterface()->CurrentPort())), FPort);
    QTRY_VERIFY_WITH_TIMEOUT(FForm->FlashIdentified(), kIdentifiedWithinMs);
    QCOMPARE(Control<TsuiEdit>(*FForm, "EditFLASHManefacturer")->text(), QStringLiteral("VELUM"));
    QVERIFY(!Control<TsuiEdit>(*FForm, "EditFLASHProduct")->text().isEmpty());
    QVERIFY2(FNotices.isEmpty(), qPrintable(FNotices.join(u'|')));
    Shoot(QStringLiteral("windows-identified.png"));
}

// Program, then Verify, of the image through the window's own buttons; a picture of the window half
// way through the Program run.
void TWindowComTest::programThenVerify() {
    QVERIFY(FForm && FForm->FlashIdentified());
    // The file dialog answers with forward slashes, as Qt's does: the window shows the path as Windows
    // writes it.
    const QString image = QDir::fromNativeSeparators(FImage);
    FForm->SetOpenFileDialog([image](QWidget*, const QString&) { return image; });
    QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnBrowse"), Qt::LeftButton);
    FForm->SetOpenFileDialog({});
    QCOMPARE(Control<TsuiEdit>(*FForm, "EditFileName")->text(), QDir::toNativeSeparators(image));
    QCOMPARE(Control<TsuiEdit>(*FForm, "EditFileName")->toolTip(), QDir::toNativeSeparators(image));

    auto* progress = Control<QProgressBar>(*FForm, "CGaugeProgressBar");
    bool shot = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!shot && progress->isVisible() && progress->value() >= kShotAtPercent) {
            shot = true;
            Shoot(QStringLiteral("windows-program-running.png"));
        }
    });
    watch.start(kProgressPollMs);
    auto* operation = Control<TsuiRadioGroup>(*FForm, "RadioGroupOperation");
    QTest::mouseClick(operation->Button(1), Qt::LeftButton);                            // Program
    QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnStart"), Qt::LeftButton); // the whole run
    watch.stop();
    QCOMPARE(FNotices, QStringList{QStringLiteral("Program OK!")});
    QVERIFY(shot || FShots.isEmpty());

    QTest::mouseClick(operation->Button(0), Qt::LeftButton); // Verify
    QTest::mouseClick(Control<TsuiImageButton>(*FForm, "BitBtnStart"), Qt::LeftButton);
    QCOMPARE(FNotices, (QStringList{QStringLiteral("Program OK!"), QStringLiteral("Compare OK!")}));
}

// The COM settings offer the ports Windows lists (a USB adapter is often COM5 and above).
void TWindowComTest::portListOffersSystemPorts() {
    const QString listed = qEnvironmentVariable("TERVOLT_TEST_LISTED");
    if (listed.isEmpty())
        QSKIP("TERVOLT_TEST_LISTED names no port");
    QVERIFY(FForm);
    TCommInterface& dialog = *FForm->CommInterface();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QComboBox& list = *dialog.ComboBoxCOMPort();
    QVERIFY2(list.findText(listed) >= 0, qPrintable(QStringLiteral("%1 items").arg(list.count())));
    QVERIFY(list.findText(FPort) >= 0);
    if (!FShots.isEmpty()) {
        list.showPopup();
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
        const QRect frame = dialog.frameGeometry().united(list.view()->window()->frameGeometry());
        if (QScreen* screen = dialog.screen())
            QVERIFY(SaveShot(screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()),
                             QDir(FShots), QStringLiteral("windows-com-list.png")));
        list.hidePopup();
    }
    dialog.hide();
}

// Closing the window stores the line it used; another rate chosen in the window goes with it.
void TWindowComTest::closingStoresTheLine() {
    QVERIFY(FForm);
    FForm->CommInterface()->SelectBaudRate(br57600);
    FForm->close();
    const TStoredComSettings stored = ReadStoredComSettings();
    QVERIFY2(stored.Error.isEmpty(), qPrintable(stored.Error));
    QCOMPARE(QStringLiteral("COM%1").arg(stored.Port.value_or(0)), FPort);
    QCOMPARE(stored.BaudRate, std::optional<std::int32_t>(br57600));
}

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));
    TWindowComTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_com.moc"
