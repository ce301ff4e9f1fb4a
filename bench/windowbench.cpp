// tervolt-windowbench: drives the main window offscreen through one Program or Verify run against a
// board and prints, as one JSON line, the outcome and what the run cost the process: wall time and
// user and system CPU time from the click on Start to the outcome message. Start-up (with its
// two-second power-on picture) and identification are left out of the figures.
//
//     QT_QPA_PLATFORM=offscreen tervolt-windowbench [--hidden] --port PATH --baud RATE program|verify FILE
//
// --hidden never shows the window, so nothing is painted: the difference to a shown window is what
// painting the progress costs.
//
// The window reads its port and rate from the per-user settings; they are written to a temporary
// folder of this run, so the user's own settings are never touched.

#include "app/tervolt_mainform.h"
#include "dialogs/velummessagebox.h"
#include "serial/cpdrv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

constexpr int kWindowPort = 2;
constexpr std::chrono::seconds kIdentifyDeadline{15};
constexpr int kDeadlineTickMs = 100;

double Seconds(const timeval& value) {
    return double(value.tv_sec) + double(value.tv_usec) / 1e6;
}

QString JsonText(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

int Usage() {
    std::fputs("Usage: tervolt-windowbench [--hidden] --port PATH --baud RATE program|verify FILE\n", stderr);
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    const bool hidden = argc > 1 && std::strcmp(argv[1], "--hidden") == 0;
    char** const arg = argv + (hidden ? 1 : 0); // arg[1] is the first after the switch
    if (argc - (hidden ? 1 : 0) != 7 || std::strcmp(arg[1], "--port") != 0 ||
        std::strcmp(arg[3], "--baud") != 0)
        return Usage();
    const QString port = QString::fromLocal8Bit(arg[2]);
    const std::uint32_t baud = std::uint32_t(std::strtoul(arg[4], nullptr, 10));
    const bool verify = std::strcmp(arg[5], "verify") == 0;
    if (!verify && std::strcmp(arg[5], "program") != 0)
        return Usage();
    const QString fileName = QString::fromLocal8Bit(arg[6]);
    int baudCode = 0;
    for (int rate = int(br110); rate <= int(br256000); ++rate)
        if (BaudRateOf(TBaudRate(rate)) == baud)
            baudCode = rate;
    if (baudCode == 0) {
        std::fprintf(stderr, "tervolt-windowbench: %u is not a rate the window offers\n", baud);
        return 64;
    }

    // Private settings: set before anything reads them.
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid()) {
        std::fputs("tervolt-windowbench: cannot create a settings folder\n", stderr);
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsDir.path()));
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));
    {
        QSettings settings(QStringLiteral("VELUM"), QStringLiteral("Tervolt"));
        settings.setValue(QStringLiteral("ComSettings/COMPort"), kWindowPort);
        settings.setValue(QStringLiteral("ComSettings/BaudRate"), baudCode);
        settings.setValue(QStringLiteral("Ports/COM%1").arg(kWindowPort), port);
    }

    // Every box is answered at once: Ok, and Cancel where the window offers Retry.
    QStringList shown;
    TScopedMessageResponder responder([&shown](const TShownMessage& message) {
        shown << message.Text;
        return message.ButtonResults.isEmpty() ? mrOk : message.ButtonResults.last();
    });

    try {
        TFormTervolt window(QCoreApplication::applicationDirPath());
        if (!hidden)
            window.FormShow();
        // The window identifies the board from its own timer; ours only makes sure the wait wakes up to
        // look at the deadline even if nothing else happens.
        QTimer deadlineTick;
        deadlineTick.start(kDeadlineTickMs);
        QElapsedTimer identifying;
        identifying.start();
        while (!(window.TargetFound() && window.FlashIdentified()) &&
               identifying.elapsed() < std::chrono::milliseconds(kIdentifyDeadline).count())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        deadlineTick.stop();
        if (!window.FlashIdentified()) {
            std::fprintf(stderr, "tervolt-windowbench: the window did not identify the board on %s\n",
                         qPrintable(port));
            return 3;
        }
        window.SetOpenFileDialog([&fileName](QWidget*, const QString&) { return fileName; });
        window.BitBtnBrowseClick();
        if (QObject* operation = window.findChild<QObject*>(QStringLiteral("RadioGroupOperation")))
            operation->setProperty("ItemIndex", verify ? 0 : 1);
        shown.clear();

        rusage before{};
        rusage after{};
        QElapsedTimer clock;
        getrusage(RUSAGE_SELF, &before);
        clock.start();
        window.BitBtnStartClick();
        const double wall = double(clock.nsecsElapsed()) / 1e9;
        getrusage(RUSAGE_SELF, &after);

        // The outcome box says what was done below its first line.
        const QString outcome = shown.isEmpty() ? QString() : shown.last().section(u'\n', 0, 0);
        std::printf(
            "{\"outcome\": %s, \"wall_seconds\": %.6f, \"user_seconds\": %.6f, \"system_seconds\": %.6f}\n",
            qPrintable(JsonText(outcome)), wall, Seconds(after.ru_utime) - Seconds(before.ru_utime),
            Seconds(after.ru_stime) - Seconds(before.ru_stime));
        const bool ok = outcome == (verify ? QStringLiteral("Compare OK!") : QStringLiteral("Program OK!"));
        return ok ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tervolt-windowbench: %s\n", error.what());
        return 1;
    }
}
