#include "cli/boardthreads.h"
#include "cli/clicommands.h"
#include "cli/clioptions.h"
#include "cli/platformsignals.h"
#include "cli/resultreport.h"
#include "files/systemfiles.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// QCoreApplication::arguments() turns bytes that are not UTF-8 into U+FFFD, and a file name would
// then name another file: the arguments are taken from argv as the system gave them.
QStringList SystemArguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << FileNameFromSystem(QByteArray(argv[i]));
    return arguments;
}

int RunProgram(int argc, char* argv[], bool& json) {
    // Qt's own event loop rather than GLib's: a transfer wakes the host for every batch of bytes the
    // board sends, and GLib's loop spends more on each wake-up. The user's choice stands.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));

    const TCliParseResult parsed = ParseCliArguments(SystemArguments(argc, argv));
    json = parsed.Json || (parsed.Options && parsed.Options->Json);
    if (!parsed.Options) {
        if (!parsed.Output.isEmpty())
            std::fputs(SystemFileName(parsed.Output).constData(), stdout);
        if (!parsed.Error.isEmpty())
            std::fprintf(stderr, "%s\n", SystemFileName(parsed.Error).constData());
        if (parsed.Json)
            PrintJsonReport(parsed.ExitStatus, {}, parsed.Reason);
        return parsed.ExitStatus;
    }
    const int status = RunCliCommand(*parsed.Options);
    // Output that did not arrive (a full disk, a closed pipe) is a failure, whatever the board said.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "tervolt-cli: cannot write to standard output: %s\n", std::strerror(errno));
        return esCommunicationFailure;
    }
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    EnsureStandardDescriptors();
    // A reader that went away (`| head`) or a full file-size limit is a failed write, reported below,
    // not a silent death.
    IgnoreFailedWriteSignals();
    bool json = false;
    try {
        return RunProgram(argc, argv, json);
    } catch (...) {
        // Boards catch their own; this is a fault of the run itself. The ports were closed by the
        // unwinding.
        const QString what = ExceptionText(std::current_exception());
        std::fprintf(stderr, "tervolt-cli: internal error: %s\n", what.toLocal8Bit().constData());
        if (json)
            PrintJsonReport(esCommunicationFailure, {}, QStringLiteral("internal error: ") + what);
        return esCommunicationFailure;
    }
}
