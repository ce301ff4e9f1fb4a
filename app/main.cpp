// The window program: builds the main window, which builds everything else, and runs the message
// loop. A failed start-up is shown in the standard error box and ends the program; without a display
// there is no box, so that is said on standard error.

#include "app/tervolt_mainform.h"
#include "common/version.h"
#include "devices/deviceslocation.h"
#include "files/systemfiles.h"
#include "skin/logomark.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace {

const char* const kUsage =
    "Usage: tervolt [QT-OPTION]...\n"
    "Programs and verifies the FLASH of a target board over a serial line (the window).\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Other arguments are Qt's own options (for example -platform or -style).\n"
    "The device list devices.tervolt is read from beside the program, else from the installed\n"
    "data folder (../share/tervolt from the program's folder). Port and baud rate are kept in\n"
    "~/.config/VELUM/Tervolt.conf. Scripted use: tervolt-cli. Manual: man tervolt.\n";

// --help and --version are answered before any window (or display) is needed. Returns true when
// one of them was given.
bool AnswerInformationOption(int argc, char* argv[]) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tervolt %s\n", kTervoltVersion);
            return true;
        }
    }
    return false;
}

// Qt ends the process with abort() (and a core dump) when no platform plugin can open a display. The
// handler is in place only while the application object is built: a fatal message then means that.
QtMessageHandler gQtHandler = nullptr;

void DisplayFailureHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        gQtHandler(type, context, message);
        return;
    }
    std::fprintf(stderr, "tervolt: cannot open a display\n%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(1);
}

void ShowStartupError(const QString& message, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message, QMessageBox::Ok);
    if (!detail.isEmpty())
        box.setInformativeText(detail);
    box.exec();
}

} // namespace

int main(int argc, char* argv[]) {
    EnsureStandardDescriptors(); // the serial port must never become descriptor 1 or 2
    if (AnswerInformationOption(argc, argv))
        return 0;
    gQtHandler = qInstallMessageHandler(DisplayFailureHandler);
    QApplication application(argc, argv);
    qInstallMessageHandler(gQtHandler);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));
    QGuiApplication::setDesktopFileName(QStringLiteral(TERVOLT_APP_ID));
    QApplication::setWindowIcon(LogoMarkIcon());

    try {
        // The program directory is where the executable lies; no argument is interpreted. The device
        // list is taken from there, else from the installed data folder.
        const TDevicesFileLocation devices = LocateDevicesFile(QCoreApplication::applicationDirPath());
        if (devices.Path.isEmpty()) {
            ShowStartupError(QStringLiteral("Can't load \"%1\"").arg(kDevicesFileName),
                             devices.NotFoundText());
            return 0;
        }
        TFormTervolt form(QFileInfo(devices.Path).absolutePath());
        form.FormShow();
        application.exec();
    } catch (const ETervoltError& error) {
        ShowStartupError(error.Message(), error.Detail());
    } catch (const std::exception& error) {
        ShowStartupError(QString::fromLocal8Bit(error.what()), QString());
    }
    return 0;
}
