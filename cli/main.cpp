#include "cli/clicommands.h"
#include "cli/clioptions.h"

#include <QCoreApplication>

#include <cstdio>

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
    return RunCliCommand(*parsed.Options);
}
