// Takes the main window's screenshots in docs/screenshots: the window with a target found and an
// image chosen, a Program run in progress, and the box that ends it. The board is the simulated one,
// paced like a 115200 baud line so that the run lasts long enough to be caught in the middle.
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/tervolt_mainshots docs/screenshots

#include "app/tervolt_mainform.h"
#include "tests/support/screenshot.h"
#include "sim/simserver.h"
#include "skin/suicontrols.h"
#include "skin/suimessagedialog.h"
#include "skin/suiradiogroup.h"
#include "tests/tst_mainwindow_fixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {

constexpr unsigned kLineBaud = 115200;
constexpr int kImageBytes = 16 * 1024;
constexpr int kShotAtPercent = 45;

} // namespace

int main(int argc, char* argv[]) {
    TPrivateSettings settings;
    QApplication application(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    MapAllPortsToMissingDevices();
    ClearStoredComSettings();

    TSimServer board(TSimConfig(), kLineBaud);
    std::string error;
    if (!board.Start(error)) {
        std::fprintf(stderr, "cannot start the simulated board: %s\n", error.c_str());
        return 1;
    }
    MapPort(2, QString::fromStdString(board.SlavePath()));

    TProgramDirectory programDirectory;
    QTemporaryDir images;
    // A raw binary image, so that the shots show the start address and the size option too.
    QDir(images.path()).mkpath(QStringLiteral("projects/boards/vf040b"));
    const QString image =
        QDir(images.path()).filePath(QStringLiteral("projects/boards/vf040b/firmware-2.4.rbf"));
    QByteArray content;
    for (int i = 0; i < kImageBytes; ++i)
        content.append(char(i * 7 + 3));
    QFile imageFile(image);
    if (!programDirectory.IsValid() || !imageFile.open(QIODevice::WriteOnly) ||
        imageFile.write(content) != content.size() || !imageFile.flush()) {
        std::fprintf(stderr, "cannot prepare the program directory or the image\n");
        return 1;
    }

    TFormTervolt form(programDirectory.Path());
    form.FormShow();
    QApplication::setActiveWindow(&form);
    if (!WaitUntil([&] { return form.FlashIdentified(); }, std::chrono::seconds(10))) {
        std::fprintf(stderr, "the simulated board was not identified\n");
        return 1;
    }
    Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat")->Button(1)->click();
    Control<TsuiEdit>(form, "EditStartAddress")->setText(QStringLiteral("8000"));
    form.EditStartAddressExit();
    form.SetOpenFileDialog([image](QWidget*, const QString&) { return image; });
    form.BitBtnBrowseClick();
    bool ok = SaveShot(GrabWindow(form), folder, QStringLiteral("main-target-found.png"));

    auto* gauge = Control<TsuiProgressBar>(form, "CGaugeProgressBar");
    bool runShot = false;
    bool boxShot = false;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!runShot && gauge->isVisible() && gauge->value() >= kShotAtPercent) {
            runShot = true;
            ok = SaveShot(GrabWindow(form), folder, QStringLiteral("main-programming.png")) && ok;
        }
        auto* box = qobject_cast<TsuiMessageDialog*>(QApplication::activeModalWidget());
        if (box != nullptr && !boxShot) {
            boxShot = true;
            ok = SaveShot(GrabWindow(*box), folder, QStringLiteral("main-program-ok.png")) && ok;
            box->done(mrOk);
        }
    });
    watcher.start();
    form.BitBtnStartClick();
    watcher.stop();
    if (!runShot || !boxShot) {
        std::fprintf(stderr, "the run ended before every shot was taken\n");
        return 1;
    }
    return ok ? 0 : 1;
}
