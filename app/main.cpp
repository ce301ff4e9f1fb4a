// The window program: builds the main window, which builds everything else, and runs the message
// loop. A failed start-up is shown in the standard error box and ends the program with status 1;
// without a display there is no box, so that is said on standard error.

#include "app/windowstartup.h"
#include "common/version.h"
#include "files/systemfiles.h"
#include "skin/logomark.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>

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

// Anything that escapes the window's own handling: a box when there is an application to show it,
// else standard error.
int InternalError(const std::exception_ptr& thrown) {
    QString what = QStringLiteral("unknown exception");
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception& caught) {
        what = QString::fromLocal8Bit(caught.what());
    } catch (...) {
        // not one of the standard exceptions: nothing more to name
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        try {
            ShowStartupError(QStringLiteral("Internal error"), what);
            return 1;
        } catch (...) {
            // the box itself failed: standard error is left
        }
    }
    std::fprintf(stderr, "tervolt: internal error: %s\n", what.toLocal8Bit().constData());
    return 1;
}

} // namespace

int main(int argc, char* argv[]) {
    EnsureStandardDescriptors(); // the serial port must never become descriptor 1 or 2
    if (AnswerInformationOption(argc, argv))
        return 0;
    // Outside the guard: the box of an internal error needs the application.
    std::optional<QApplication> application;
    try {
        gQtHandler = qInstallMessageHandler(DisplayFailureHandler);
        application.emplace(argc, argv);
        qInstallMessageHandler(gQtHandler);
        QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
        QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));
        QGuiApplication::setDesktopFileName(QStringLiteral(TERVOLT_APP_ID));
        QApplication::setWindowIcon(LogoMarkIcon());
        // The program directory is where the executable lies; no argument is interpreted.
        return RunMainWindow(QCoreApplication::applicationDirPath());
    } catch (...) {
        return InternalError(std::current_exception());
    }
}
