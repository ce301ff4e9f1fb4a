#include "cli/boardrun.h"

#include "cli/platformsignals.h"
#include "cli/terminalhost.h"
#include "cli/tracelog.h"
#include "devices/devicesdb.h"
#include "engine/flashengine.h"
#include "protocol/comm_protocol.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"

#include <QElapsedTimer>
#include <QFileInfo>

TBoardSession::TBoardSession(const TBoardJob& job, TBoardOutput& output)
    : FJob(job), FOptions(*job.Options), FOutput(output) {
    FProtocol.SetAbortFlag(job.Stop ? job.Stop : &TTerminalHost::InterruptFlag());
    if (FJob.Trace) {
        TTraceLog* trace = FJob.Trace;
        const QString port = FJob.ShownPort();
        FProtocol.CommUnit()->OnTraffic = [trace, port](bool sent, const QByteArray& bytes) {
            sent ? trace->Sent(port, bytes) : trace->Received(port, bytes);
        };
        // The serial server's negotiation is no byte of the line: a note of its own.
        FProtocol.CommUnit()->CommPortDriver()->SetPortNotes(
            [trace, port](const QString& text) { trace->Note(port, text); });
    }
}

TBoardSession::~TBoardSession() {
    if (FJob.Trace) {
        FProtocol.CommUnit()->OnTraffic = nullptr;
        FProtocol.CommUnit()->CommPortDriver()->SetPortNotes(nullptr);
    }
}

void TBoardSession::Begin(TBoardResult& result) {
    FResult = &result;
}

bool TBoardSession::Stopped() const {
    return FJob.Stop ? FJob.Stop->load() : TTerminalHost::Interrupted();
}

void TBoardSession::Line(const QString& text) {
    FResult->Lines << text;
    FOutput.Line(text);
    Note(text);
}

void TBoardSession::Outcome(const QString& text, const QString& headline) {
    Line(text);
    FResult->Headline = headline.isEmpty() ? text.section(u'\n', 0, 0) : headline;
}

void TBoardSession::Error(const QString& text) {
    FOutput.Error(text);
    Note(text);
}

void TBoardSession::Note(const QString& text) {
    if (FJob.Trace)
        FJob.Trace->Note(FJob.ShownPort(), text);
}

int TBoardSession::LineLost() {
    Outcome(QStringLiteral("The device hung up. The line was lost."));
    FResult->Fault = TLineFault::LineLost;
    return esCommunicationFailure;
}

int TBoardSession::Open() {
    const int status = Connect();
    return status == esSuccess ? Ping() : status;
}

int TBoardSession::Connect() {
    FOutput.State(QStringLiteral("connecting"));
    Note(QStringLiteral("open %1 at %2 baud").arg(ShownName(FJob.Link.Device)).arg(FJob.Link.Baud));
    QString error;
    if (!OpenLink(FProtocol, FJob.Link, error)) {
        Error(ShownName(error));
        Outcome(QStringLiteral("Connection failure!\nCheck COM port settings and try again"));
        FResult->Fault = TLineFault::PortNotOpened;
        return esCommunicationFailure;
    }
    return esSuccess;
}

int TBoardSession::Ping() {
    if (!FProtocol.CommUnit()->CommPortDriver()->Connected())
        return LineLost();
    for (int attempt = 0; attempt <= FOptions.Retries && !Stopped(); ++attempt) {
        FResult->Retries += attempt > 0 ? 1 : 0;
        if (FProtocol.PingTarget())
            return esSuccess;
        if (!FProtocol.CommUnit()->CommPortDriver()->Connected())
            break;
    }
    if (!Stopped() && !FProtocol.CommUnit()->CommPortDriver()->Connected())
        return LineLost();
    if (!Stopped() && !FProtocol.LastFailure().isEmpty())
        Error(FProtocol.LastFailure());
    Outcome(Stopped() ? QStringLiteral("Interrupted") : QStringLiteral("No target"));
    if (!Stopped())
        FResult->Fault = TLineFault::NoTarget;
    return Stopped() ? esInterrupted : esCommunicationFailure;
}

int TBoardSession::Identify(bool printPair) {
    FOutput.State(QStringLiteral("identifying"));
    const QString listName = QFileInfo(FJob.DevicesFile).fileName();
    if (!FJob.DevicesLoaded) {
        Error(FJob.DevicesError);
        Outcome(QStringLiteral("Can't load \"%1\"").arg(listName));
        return esDevicesError;
    }
    QByteArray deviceId;
    QByteArray manufacturer;
    bool read = false;
    for (int attempt = 0; attempt <= FOptions.Retries && !read && !Stopped(); ++attempt) {
        FResult->Retries += attempt > 0 ? 1 : 0;
        read = FProtocol.IdentifyFlash(deviceId, manufacturer);
        if (FProtocol.LineFailed())
            break; // a retry cannot mend the line
    }
    if (!read) {
        if (Stopped()) {
            Outcome(QStringLiteral("Interrupted"));
            return esInterrupted;
        }
        if (!FProtocol.CommUnit()->CommPortDriver()->Connected())
            return LineLost();
        if (FProtocol.LineFailed()) {
            Outcome(QStringLiteral("Communication failure! ") + FProtocol.LastFailure());
            FResult->Fault = TLineFault::LineLost;
            return esCommunicationFailure;
        }
        // What the board did instead (a flood, a garbled answer) says more than the outcome alone.
        if (!FProtocol.LastFailure().isEmpty())
            Error(FProtocol.LastFailure());
        Outcome(QStringLiteral("FLASH not identified."));
        return esNotIdentified;
    }
    FResult->Manufacturer = QString::fromLatin1(manufacturer);
    FResult->DeviceId = QString::fromLatin1(deviceId);
    if (printPair) {
        Line(QStringLiteral("Manufacturer: ") + FResult->Manufacturer);
        Line(QStringLiteral("Device ID: ") + FResult->DeviceId);
    }
    if (!FJob.Devices->FindDevice(FResult->Manufacturer, FResult->DeviceId)) {
        Outcome(printPair ? QStringLiteral("Not listed in %1").arg(listName)
                          : QStringLiteral("FLASH not identified."));
        return esNotIdentified;
    }
    if (printPair)
        Outcome(QStringLiteral("Listed in %1").arg(listName));
    return esSuccess;
}

int TBoardSession::Transfer(TFlashOperation operation) {
    const bool program = operation == TFlashOperation::foProgram;
    // A stop asked for before this point must not let the opening command (an erase) go out.
    if (Stopped()) {
        Outcome(CancelledText(operation));
        return esInterrupted;
    }
    const QString name = program ? QStringLiteral("programming") : QStringLiteral("verifying");
    FOutput.State(name);
    TTerminalHost host(FOptions.Retries, FOutput.BeginTransfer(name), &FProtocol, FJob.Stop);
    TFlashEngine engine(FProtocol, host);
    const TFlashOutcome outcome = engine.Run(operation, ImageSourceOf(FOptions));
    FResult->Retries += host.RetriesUsed();
    FResult->Bytes += outcome.BytesSent;
    if (outcome.Kind == TOutcomeKind::okCompareError)
        FResult->Compare = outcome.Compare;
    if (outcome.ReadAs != TImageFormat::Auto)
        FResult->Format = ImageFormatName(outcome.ReadAs);
    if (!outcome.Detail.isEmpty())
        Error(ImageDetailOf(outcome));
    Outcome(outcome.Text);
    if (!outcome.FlashState.isEmpty()) {
        FResult->FlashState = outcome.FlashState;
        Line(outcome.FlashState);
    }
    if (outcome.Kind == TOutcomeKind::okLineFailure)
        FResult->Fault = TLineFault::LineLost;
    else if (outcome.Kind == TOutcomeKind::okCancelled && host.GaveUp())
        FResult->Fault = TLineFault::GaveUp;
    return ExitStatusOf(outcome, host);
}

namespace {

int RunSteps(TBoardSession& session, const TCliOptions& options) {
    int status = session.Open();
    if (status != esSuccess)
        return status;
    switch (options.Command) {
    case TCliCommand::ccPing:
        session.Outcome(QStringLiteral("Target found"));
        return esSuccess;
    case TCliCommand::ccIdentify:
        return session.Identify(true);
    case TCliCommand::ccProgram:
    case TCliCommand::ccVerify:
        status = session.Identify(false);
        if (status != esSuccess)
            return status;
        if (options.Command == TCliCommand::ccVerify)
            return session.Transfer(TFlashOperation::foVerify);
        status = session.Transfer(TFlashOperation::foProgram);
        if (status != esSuccess || !options.Verify)
            return status;
        return session.Transfer(TFlashOperation::foVerify);
    default:
        return esUsage;
    }
}

} // namespace

TImageSource ImageSourceOf(const TCliOptions& options) {
    TImageSource source;
    source.FileName = options.FileName;
    source.Format = options.FileFormat;
    source.Snapshot = options.Image;
    source.StartAddress = options.StartAddress;
    source.WriteSizeHeader = options.WriteSizeHeader;
    source.NameRule = options.FormatGiven ? TNameRule::ContentFirst : TNameRule::NameFirst;
    return source;
}

QString CliFormatOption(const char* format) {
    return QStringLiteral("--format ") + QLatin1String(format);
}

QString ImageDetailOf(const TFlashOutcome& outcome, TFormatOptionText option) {
    switch (outcome.Advice) {
    case TFormatAdvice::None:
        break;
    case TFormatAdvice::LinearRecords:
        return outcome.Detail + QStringLiteral(" (records 04/05 need %1 (or auto))").arg(option("ihex"));
    case TFormatAdvice::RawOrSegments:
    case TFormatAdvice::RawOrRecords:
        return outcome.Detail + QStringLiteral("; give %1 to program its bytes raw, or %2 to program its %3")
                                    .arg(option("bin"), option("auto"),
                                         outcome.Advice == TFormatAdvice::RawOrSegments
                                             ? QStringLiteral("segments")
                                             : QStringLiteral("records"));
    case TFormatAdvice::Raw:
        return outcome.Detail + QStringLiteral("; give %1 if it is a raw image").arg(option("bin"));
    }
    return outcome.Detail;
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
    case TOutcomeKind::okLineFailure:
        return esCommunicationFailure;
    }
    return esCommunicationFailure;
}

QString OperationName(const TCliOptions& options) {
    switch (options.Command) {
    case TCliCommand::ccPing:
        return QStringLiteral("ping");
    case TCliCommand::ccIdentify:
        return QStringLiteral("identify");
    case TCliCommand::ccProgram:
        return options.Verify ? QStringLiteral("program+verify") : QStringLiteral("program");
    case TCliCommand::ccVerify:
        return QStringLiteral("verify");
    default:
        return QString();
    }
}

TBoardResult RunBoard(const TBoardJob& job, TBoardOutput& output) {
    QElapsedTimer clock;
    clock.start();
    TBoardResult result;
    result.Port = job.ShownPort();
    result.Operation = OperationName(*job.Options);
    {
        TBoardSession session(job, output);
        session.Begin(result);
        result.ExitStatus = RunSteps(session, *job.Options);
    } // the port is closed and given back before the board reports its end
    result.Seconds = double(clock.elapsed()) / 1000.0;
    return result;
}
