#include "cli/clicommands.h"

#include "app/flashengine.h"
#include "cli/clilink.h"
#include "cli/portlist.h"
#include "cli/printingtarget.h"
#include "cli/terminalhost.h"
#include "devices/devicesdb.h"
#include "devices/deviceslocation.h"
#include "files/systemfiles.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "target/comm_protocol.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void PrintLine(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// File names in the text go out in the bytes they came in with.
void PrintError(const QString& text) {
    std::fprintf(stderr, "tervolt-cli: %s\n", SystemFileName(text).constData());
}

// The image outcome's line on standard output, and what the file name and the system add to it.
void PrintOutcome(const TFlashOutcome& outcome) {
    if (!outcome.Detail.isEmpty())
        PrintError(outcome.Detail);
    PrintLine(outcome.Text);
}

TImageSource ImageSourceOf(const TCliOptions& options) {
    TImageSource source;
    source.FileName = options.FileName;
    source.FileFormat = options.FileFormat;
    source.StartAddress = options.StartAddress;
    source.WriteSizeHeader = options.WriteSizeHeader;
    return source;
}

int ExitStatusOf(const TFlashOutcome& outcome, const TTerminalHost& host) {
    switch (outcome.Kind) {
    case TOutcomeKind::okProgramDone:
    case TOutcomeKind::okCompareDone:
        return esSuccess;
    case TOutcomeKind::okCompareError:
        return esCompareMismatch;
    case TOutcomeKind::okImageError:
    case TOutcomeKind::okEmptyImage:
        return esImageError;
    case TOutcomeKind::okCancelled:
        return host.GaveUp() ? esCommunicationFailure : esInterrupted;
    }
    return esCommunicationFailure;
}

int RunBlocks(const TCliOptions& options) {
    TPrintingTarget target(stdout);
    TTerminalHost host(options.Retries, false);
    TFlashEngine engine(target, host);
    const TFlashOperation operation = options.Verify ? TFlashOperation::foVerify : TFlashOperation::foProgram;
    const TFlashOutcome outcome = engine.Run(operation, ImageSourceOf(options));
    PrintOutcome(outcome);
    return ExitStatusOf(outcome, host);
}

// A session with the board: the line is open and a monitor has answered.
class TBoardSession {
public:
    explicit TBoardSession(const TCliOptions& options) : FOptions(options) {}

    // Opens the port and pings the monitor; on failure prints the outcome and returns the exit status.
    int Open() {
        QStringList warnings;
        const TLinkSettings link = ResolveLinkSettings(FOptions, warnings);
        for (const QString& warning : warnings)
            PrintError(warning);
        if (!link.Error.isEmpty()) {
            PrintError(link.Error);
            return esUsage;
        }
        QString error;
        if (!OpenLink(FProtocol, link, error)) {
            PrintError(error);
            PrintLine(QStringLiteral("Connection failure!\nCheck COM port settings and try again"));
            return esCommunicationFailure;
        }
        for (int attempt = 0; attempt <= FOptions.Retries && !TTerminalHost::Interrupted(); ++attempt)
            if (FProtocol.PingTarget())
                return esSuccess;
        PrintLine(TTerminalHost::Interrupted() ? QStringLiteral("Interrupted") : QStringLiteral("No target"));
        return TTerminalHost::Interrupted() ? esInterrupted : esCommunicationFailure;
    }

    // "P ID" and the device-list lookup. Prints the pair unless quiet; returns the exit status.
    int Identify(bool printPair) {
        TDevicesList devices;
        QString file = FOptions.DevicesFile;
        if (file.isEmpty()) {
            const TDevicesFileLocation location = LocateDevicesFile(QCoreApplication::applicationDirPath());
            if (location.Path.isEmpty()) {
                PrintError(location.NotFoundText());
                PrintLine(QStringLiteral("Can't load \"%1\"").arg(kDevicesFileName));
                return esNotIdentified;
            }
            file = location.Path;
        }
        if (!devices.LoadFromFile(file)) {
            PrintError(devices.LoadError());
            PrintLine(QStringLiteral("Can't load \"%1\"").arg(QFileInfo(file).fileName()));
            return esNotIdentified;
        }
        QByteArray deviceId;
        QByteArray manufacturer;
        bool read = false;
        for (int attempt = 0; attempt <= FOptions.Retries && !read && !TTerminalHost::Interrupted(); ++attempt)
            read = FProtocol.IdentifyFlash(deviceId, manufacturer);
        if (!read) {
            if (TTerminalHost::Interrupted()) {
                PrintLine(QStringLiteral("Interrupted"));
                return esInterrupted;
            }
            if (!FProtocol.CommUnit()->CommPortDriver()->Connected()) {
                PrintLine(QStringLiteral("Connection lost"));
                return esCommunicationFailure;
            }
            PrintLine(QStringLiteral("FLASH not identified."));
            return esNotIdentified;
        }
        if (printPair) {
            PrintLine(QStringLiteral("Manufacturer: ") + QString::fromLatin1(manufacturer));
            PrintLine(QStringLiteral("Device ID: ") + QString::fromLatin1(deviceId));
        }
        if (!devices.FindDevice(QString::fromLatin1(manufacturer), QString::fromLatin1(deviceId))) {
            PrintLine(printPair ? QStringLiteral("Not listed in %1").arg(QFileInfo(file).fileName())
                                : QStringLiteral("FLASH not identified."));
            return esNotIdentified;
        }
        if (printPair)
            PrintLine(QStringLiteral("Listed in %1").arg(QFileInfo(file).fileName()));
        return esSuccess;
    }

    int Transfer(TFlashOperation operation) {
        TTerminalHost host(FOptions.Retries, !FOptions.Quiet, &FProtocol);
        TFlashEngine engine(FProtocol, host);
        const TFlashOutcome outcome = engine.Run(operation, ImageSourceOf(FOptions));
        PrintOutcome(outcome);
        return ExitStatusOf(outcome, host);
    }

private:
    const TCliOptions& FOptions;
    TCommProtocol FProtocol;
};

// Checks the image before the port is touched, so that a bad file sends nothing at all.
bool ImageIsUsable(const TCliOptions& options) {
    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReader(ImageSourceOf(options));
    const THexResult opened = reader->Open(options.FileName, hmProgram, false);
    reader->Close();
    if (opened == hrOK && ImageHoldsData(*reader, options.FileFormat))
        return true;
    if (opened != hrOK && !reader->ErrorDetail().isEmpty())
        PrintError(reader->ErrorDetail());
    PrintLine(opened != hrOK ? HexFileErrorMessage(opened) : QStringLiteral("Image file holds no data."));
    return false;
}

int RunOnBoard(const TCliOptions& options) {
    const bool transfer = options.Command == TCliCommand::ccProgram || options.Command == TCliCommand::ccVerify;
    if (transfer && !ImageIsUsable(options))
        return esImageError;
    TBoardSession session(options);
    int status = session.Open();
    if (status != esSuccess)
        return status;
    switch (options.Command) {
    case TCliCommand::ccPing:
        PrintLine(QStringLiteral("Target found"));
        return esSuccess;
    case TCliCommand::ccIdentify:
        return session.Identify(true);
    case TCliCommand::ccProgram:
    case TCliCommand::ccVerify:
        status = session.Identify(false);
        if (status != esSuccess)
            return status;
        // A stop asked for during identification must not let the opening command (an erase) go out.
        if (TTerminalHost::Interrupted()) {
            PrintLine(options.Command == TCliCommand::ccProgram ? QStringLiteral("Program operation canceled")
                                                                : QStringLiteral("Verify operation canceled"));
            return esInterrupted;
        }
        return session.Transfer(options.Command == TCliCommand::ccProgram ? TFlashOperation::foProgram
                                                                          : TFlashOperation::foVerify);
    default:
        return esUsage;
    }
}

} // namespace

int RunCliCommand(const TCliOptions& options) {
    TTerminalHost::InstallInterruptHandler();
    switch (options.Command) {
    case TCliCommand::ccBlocks:
        return RunBlocks(options);
    case TCliCommand::ccPorts:
        return PrintPortList();
    default:
        return RunOnBoard(options);
    }
}
