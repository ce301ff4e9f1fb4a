#include "cli/clicommands.h"
#include "cli/clioptions.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));

    const TCliParseResult parsed = ParseCliArguments(QCoreApplication::arguments());
    if (!parsed.Options) {
        if (!parsed.Output.isEmpty())
            std::fputs(parsed.Output.toLocal8Bit().constData(), stdout);
        if (!parsed.Error.isEmpty())
            std::fprintf(stderr, "%s\n", parsed.Error.toLocal8Bit().constData());
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
