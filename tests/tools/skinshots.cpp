// Takes the screenshots in docs/screenshots: the message dialog in its common forms, the power-on
// window and a gallery of the skinned controls. Run under a display or offscreen:
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/tervolt_skinshots docs/screenshots

#include "dialogs/poweron.h"
#include "skin/skinstyle.h"
#include "skin/suicontrols.h"
#include "skin/suiform.h"
#include "skin/suiimagebutton.h"
#include "skin/suiimagepanel.h"
#include "skin/suimessagedialog.h"
#include "skin/suiradiogroup.h"
#include "tests/support/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>

#include <cstdio>

namespace {

constexpr qint64 kActivationWaitMs = 2000;

// Shows the window, lets it paint and grabs it: from the screen where there is a real one, so the
// shot shows what a user sees, otherwise from the widget.
QPixmap Shoot(QWidget& window) {
    window.show();
    window.activateWindow(); // an active window shows its title bar in full colour
    QElapsedTimer clock;
    clock.start();
    while (!window.isActiveWindow() && clock.elapsed() < kActivationWaitMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return GrabWindow(window);
}

struct TMessageShot {
    const char* File;
    const char* Caption;
    const char* Text;
    TsuiIconType Icon;
    QStringList Buttons;
};

bool ShootMessage(const TMessageShot& shot, const QDir& folder) {
    TsuiMessageDialog dialog;
    dialog.SetCaption(QString::fromUtf8(shot.Caption));
    dialog.SetText(QString::fromUtf8(shot.Text));
    dialog.SetIconType(shot.Icon);
    dialog.SetButtonCount(static_cast<int>(shot.Buttons.size()));
    for (int i = 0; i < shot.Buttons.size(); ++i)
        dialog.SetButtonCaption(i + 1, shot.Buttons.at(i));
    dialog.Arrange();
    dialog.move(60, 60);
    return SaveShot(Shoot(dialog), folder, QString::fromUtf8(shot.File));
}

// A window with every skinned control, framed by TsuiForm::Install as a window built by setupUi would be.
bool ShootGallery(const QDir& folder) {
    QWidget window;
    window.resize(420, 342);
    auto* panel = new TsuiImagePanel(&window);
    panel->setGeometry(0, 0, 420, 342);

    auto* flash = new TsuiGroupBox(panel);
    flash->setTitle(QStringLiteral("Flash"));
    flash->setGeometry(10, 8, 250, 82);
    auto* grid = new QGridLayout(flash);
    grid->addWidget(new QLabel(QStringLiteral("Manufacturer"), flash), 0, 0);
    auto* manufacturer = new TsuiEdit(flash);
    manufacturer->setText(QStringLiteral("VELUM"));
    manufacturer->SetReadOnly(true);
    grid->addWidget(manufacturer, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Product ID"), flash), 1, 0);
    auto* product = new TsuiEdit(flash);
    product->setText(QStringLiteral("VF040B"));
    product->SetReadOnly(true);
    grid->addWidget(product, 1, 1);

    auto* format = new TsuiRadioGroup(panel);
    format->SetCaption(QStringLiteral("Operation"));
    format->SetItems({QStringLiteral("Intel Extended"), QStringLiteral("Binary")});
    format->SetItemIndex(1);
    format->setGeometry(10, 96, 150, 78);

    auto* binary = new TsuiGroupBox(panel);
    binary->setGeometry(168, 100, 240, 74);
    auto* binaryGrid = new QGridLayout(binary);
    binaryGrid->addWidget(new QLabel(QStringLiteral("Start Address:"), binary), 0, 0);
    auto* start = new TsuiEdit(binary);
    start->setText(QStringLiteral("00000000"));
    binaryGrid->addWidget(start, 0, 1);
    auto* sizeHeader = new TsuiCheckBox(binary);
    sizeHeader->setText(QStringLiteral("Write File Size On Start"));
    sizeHeader->setChecked(true);
    binaryGrid->addWidget(sizeHeader, 1, 0, 1, 2);

    auto* baud = new TsuiComboBox(panel);
    baud->addItems({QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("128000")});
    baud->setCurrentIndex(1);
    baud->setGeometry(10, 184, 150, 24);
    auto* progress = new TsuiProgressBar(panel);
    progress->setValue(62);
    progress->setGeometry(168, 186, 240, 20);

    const QStringList words{QStringLiteral("Com"),        QStringLiteral("Init"),   QStringLiteral("Browse"),
                            QStringLiteral("Start"),      QStringLiteral("Stop"),   QStringLiteral("Connect"),
                            QStringLiteral("Disconnect"), QStringLiteral("Cancel"), QStringLiteral("OK")};
    int x = 10;
    int y = 218;
    for (const QString& word : words) {
        auto* button = new TsuiImageButton(word, panel);
        button->resize(button->sizeHint());
        if (x + button->width() > 410) {
            x = 10;
            y += 40;
        }
        button->move(x, y);
        x += button->width() + 6;
    }
    auto* disabled = new TsuiImageButton(QStringLiteral("Start"), panel);
    disabled->setEnabled(false);
    disabled->resize(disabled->sizeHint());
    disabled->move(x, y);

    TsuiForm::Install(&window, QStringLiteral("Tervolt - 1.26"), tbControlBox | tbClose | tbMinimize);
    window.move(60, 60);
    if (!SaveShot(Shoot(window), folder, QStringLiteral("skin-controls.png")))
        return false;

    // The three faces of one picture button side by side.
    auto* face = new TsuiImageButton(QStringLiteral("Browse"), nullptr);
    face->resize(100, 35);
    QPixmap strip(3 * 100 + 2 * 8, 35);
    strip.fill(QColor(TsuiPalette::kFace));
    {
        QPainter painter(&strip);
        painter.drawPixmap(0, 0, face->Face(fsNormal));
        painter.drawPixmap(108, 0, face->Face(fsHot));
        painter.drawPixmap(216, 0, face->Face(fsDisabled));
    }
    delete face;
    return SaveShot(strip, folder, QStringLiteral("imagebutton-faces.png"));
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }
    const TMessageShot messages[] = {
        {"message-stop-ok.png",
         "Tervolt Error",
         "Connection failure!\nCheck COM port settings and try again",
         suiStop,
         {QStringLiteral("Ok")}},
        {"message-information.png", "Tervolt Message", "Program OK!", suiInformation, {QStringLiteral("Ok")}},
        {"message-retry-cancel.png",
         "Tervolt Error",
         "The target did not answer the block command in time. Check the cable and the target, then retry "
         "the block or cancel the operation.",
         suiStop,
         {QStringLiteral("Retry"), QStringLiteral("Cancel")}},
        {"message-warning-yes-no.png",
         "Tervolt Warning",
         "Disconnect your current connection before changing communication port!\nAre you sure you wish to "
         "reconnect?",
         suiWarning,
         {QStringLiteral("Yes"), QStringLiteral("No")}},
        {"message-no-icon.png",
         "Tervolt Message",
         "The image was written to the target.",
         suiNone,
         {QStringLiteral("Ok")}},
        {"message-help-three.png",
         "Tervolt - Confirm",
         "Save the settings before closing?",
         suiHelp,
         {QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel")}},
    };
    bool ok = true;
    for (const TMessageShot& shot : messages)
        ok = ShootMessage(shot, folder) && ok;

    TFormPowerOn powerOn;
    ok = SaveShot(Shoot(powerOn), folder, QStringLiteral("poweron.png")) && ok;
    ok = ShootGallery(folder) && ok;
    return ok ? 0 : 1;
}
