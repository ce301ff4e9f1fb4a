// tervolt-linkbench: tervolt-cli's program and verify path (same options, same engine and host) with
// one switch more, --timer-only, that leaves the driver polling on its 5 ms timer alone instead of
// also reading as soon as bytes arrive. bench/run runs both against the same simulated line to show
// what the immediate poll gains.
//
//     tervolt-linkbench [--timer-only] --port PATH --baud RATE [tervolt-cli options] program|verify FILE

#include "cli/clilink.h"
#include "cli/clioptions.h"
#include "cli/terminalhost.h"
#include "protocol/comm_protocol.h"
#include "serial/communit.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("VELUM"));
    QCoreApplication::setApplicationName(QStringLiteral("Tervolt"));
    QStringList arguments = QCoreApplication::arguments();
    const bool timerOnly = arguments.removeAll(QStringLiteral("--timer-only")) > 0;
    const TCliParseResult parsed = ParseCliArguments(arguments);
    if (!parsed.Options || (parsed.Options->Command != TCliCommand::ccProgram &&
                            parsed.Options->Command != TCliCommand::ccVerify)) {
        std::fprintf(stderr,
                     "Usage: tervolt-linkbench [--timer-only] [tervolt-cli options] program|verify FILE\n");
        return esUsage;
    }
    const TCliOptions& options = *parsed.Options;

    TCommProtocol protocol;
    QStringList warnings;
    QString error;
    if (!OpenLink(protocol, ResolveLinkSettings(options, options.Ports.value(0), warnings), error)) {
        std::fprintf(stderr, "tervolt-linkbench: %s\n", qPrintable(error));
        return esCommunicationFailure;
    }
    protocol.CommUnit()->CommPortDriver()->SetPollOnReadable(!timerOnly);

    QByteArray deviceId;
    QByteArray manufacturer;
    if (!protocol.PingTarget() || !protocol.IdentifyFlash(deviceId, manufacturer)) {
        std::puts("No target");
        return esCommunicationFailure;
    }

    TImageSource source;
    source.FileName = options.FileName;
    source.Format = options.FileFormat;
    source.StartAddress = options.StartAddress;
    source.WriteSizeHeader = options.WriteSizeHeader;
    TStderrProgress progress(!options.Quiet);
    TTerminalHost host(options.Retries, progress);
    TFlashEngine engine(protocol, host);
    const TFlashOutcome outcome = engine.Run(
        options.Command == TCliCommand::ccVerify ? TFlashOperation::foVerify : TFlashOperation::foProgram,
        source);
    std::puts(qPrintable(outcome.Text));
    return outcome.Kind == TOutcomeKind::okProgramDone || outcome.Kind == TOutcomeKind::okCompareDone
               ? esSuccess
               : esCommunicationFailure;
}
