#include "cli/clicommands.h"

#include "cli/boardconsole.h"
#include "cli/boardrun.h"
#include "cli/boardthreads.h"
#include "cli/clilink.h"
#include "cli/platformterminal.h"
#include "cli/portlist.h"
#include "cli/portprobe.h"
#include "cli/printingtarget.h"
#include "cli/resultreport.h"
#include "cli/terminalhost.h"
#include "cli/tracelog.h"
#include "common/version.h"
#include "devices/devicesdb.h"
#include "devices/deviceslocation.h"
#include "engine/flashengine.h"
#include "files/outputguard.h"
#include "files/systemfiles.h"
#include "files/usersettings.h"
#include "serial/commport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace {

// How often the live lines of several boards are redrawn.
constexpr int kConsoleRefreshMs = 200;

void PrintLine(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// File names in the text go out in the bytes they came in with.
void PrintError(const QString& text) {
    std::fflush(stdout); // after what was printed before it, when both go to one place
    std::fprintf(stderr, "tervolt-cli: %s\n", SystemFileName(text).constData());
}

// What auto-detection chose when the name does not say it, before anything is sent.
QString ReadAsNote(const QString& fileName, TImageFormat readAs) {
    return QStringLiteral("%1: read as %2, by its content").arg(fileName, ImageFormatTitle(readAs));
}

int RunBlocks(const TCliOptions& options) {
    TPrintingTarget target(stdout);
    TStderrProgress silent(false);
    TTerminalHost host(options.Retries, silent);
    TFlashEngine engine(target, host);
    const TFlashOperation operation = options.Verify ? TFlashOperation::foVerify : TFlashOperation::foProgram;
    const TFlashOutcome outcome = engine.Run(operation, ImageSourceOf(options));
    if (!outcome.Detail.isEmpty())
        PrintError(ImageDetailOf(outcome));
    else if (options.FileFormat == TImageFormat::Auto && outcome.ReadAs != TImageFormat::Auto &&
             ImageFormatNamed(options.FileName) != outcome.ReadAs)
        PrintError(ReadAsNote(options.FileName, outcome.ReadAs));
    if (!outcome.ImageNote.isEmpty())
        PrintError(QStringLiteral("%1: %2").arg(options.FileName, outcome.ImageNote));
    PrintLine(outcome.Text);
    return ExitStatusOf(outcome, host);
}

// One board on the main thread, printing as it goes: the CLI's output as it has always been.
class TDirectOutput : public TBoardOutput {
public:
    explicit TDirectOutput(bool showProgress) : FShowProgress(showProgress) {}
    void Line(const QString& text) override { PrintLine(text); }
    void Error(const QString& text) override { PrintError(text); }
    TProgressDisplay& BeginTransfer(const QString&) override {
        FProgress = std::make_unique<TStderrProgress>(FShowProgress);
        return *FProgress;
    }

private:
    bool FShowProgress;
    std::unique_ptr<TStderrProgress> FProgress;
};

// What ends a run before any board: said once, in text or in the JSON object.
class TRunReport {
public:
    explicit TRunReport(bool json) : FJson(json) {}
    int Fail(int status, const QString& outcome, const QString& detail = {}) {
        if (!detail.isEmpty())
            PrintError(detail);
        if (FJson)
            PrintJsonReport(status, {},
                            outcome.isEmpty() || detail.isEmpty() ? outcome + detail
                                                                  : outcome + QLatin1Char('\n') + detail);
        else if (!outcome.isEmpty())
            PrintLine(outcome);
        return status;
    }

private:
    bool FJson;
};

// Checks the image before any port is touched, so that a bad file sends nothing at all.
// The image read here is the one every board sends, in the format found here.
bool ImageIsUsable(TCliOptions& options, QString& message, QString& detail) {
    const TImageSource source = ImageSourceOf(options);
    std::unique_ptr<TAbsoluteHexFile> reader = CreateImageReader(source);
    std::optional<TFlashOutcome> refused = CheckImage(*reader, source);
    options.Image = reader->Snapshot();
    reader->Close();
    if (!refused) {
        if (options.FileFormat == TImageFormat::Auto && !options.Quiet && !options.Json &&
            ImageFormatNamed(options.FileName) != reader->ReadsAs())
            PrintError(ReadAsNote(options.FileName, reader->ReadsAs()));
        if (!reader->Note().isEmpty() && !options.Quiet && !options.Json)
            PrintError(QStringLiteral("%1: %2").arg(options.FileName, reader->Note()));
        options.FileFormat = reader->ReadsAs();
        return true;
    }
    message = refused->Text;
    refused->ReadAs = reader->ReadsAs();
    detail = ImageDetailOf(*refused);
    return false;
}

// The ports of the run: as given, or those whose monitor answered.
bool ChoosePorts(const TCliOptions& options, QStringList& ports, int& status, QString& message) {
    if (!options.AutoPort) {
        ports = options.Ports.isEmpty() ? QStringList{QString()} : options.Ports;
        return true;
    }
    QStringList tried;
    for (const TProbedPort& port : ProbePorts(options)) {
        tried << QStringLiteral("%1 (%2)").arg(ShownName(port.Name), port.Result);
        if (port.Answered)
            ports << port.Name;
    }
    const QString list =
        tried.isEmpty() ? QStringLiteral("no serial port found") : tried.join(QStringLiteral(", "));
    if (ports.isEmpty()) {
        status = esCommunicationFailure;
        message = QStringLiteral("--port auto: no monitor answered. Tried: %1").arg(list);
        return false;
    }
    if (ports.size() > 1 && !options.AllPorts) {
        status = esUsage;
        message =
            QStringLiteral("--port auto: more than one monitor answered; name one with --port, or take all "
                           "with --all. Tried: %1")
                .arg(list);
        return false;
    }
    if (!options.Quiet)
        PrintError(QStringLiteral("--port auto: using %1. Tried: %2")
                       .arg(ShownName(ports.join(QStringLiteral(", "))), list));
    return true;
}

// Two names for one device would have the second board fail as "in use": the command line is wrong.
QString SameDeviceTwice(const std::vector<TBoardJob>& jobs) {
    QStringList seen;
    for (const TBoardJob& job : jobs) {
        const QString device = QFileInfo(job.Link.Device).canonicalFilePath();
        if (device.isEmpty())
            continue;
        if (seen.contains(device))
            return QStringLiteral("'%1' is a port given before (%2)")
                .arg(ShownName(job.Port), ShownName(device));
        seen << device;
    }
    return QString();
}

// The device list the run reads: as named, or found beside the program or in the data folder.
QString DevicesFileOf(const TCliOptions& options, QString& notFound) {
    if (!options.DevicesFile.isEmpty())
        return options.DevicesFile;
    const TDevicesFileLocation location = LocateDevicesFile(QCoreApplication::applicationDirPath());
    if (location.Path.isEmpty())
        notFound = location.NotFoundText();
    return location.Path.isEmpty() ? kDevicesFileName : location.Path;
}

// A trace must never overwrite what the run reads or talks to: the image, the device lists, the
// settings file, a board's port. A terminal or another device is refused when the file is opened.
QString TraceRefusal(const TCliOptions& options, const QString& devicesFile,
                     const std::vector<TBoardJob>& jobs) {
    std::vector<TTakenFile> taken{
        {options.FileName, QStringLiteral("the image file")},
        {devicesFile, QStringLiteral("the device list")},
        {UserDevicesFile(), QStringLiteral("the per-user device list"), true},
        {UserSettingsFile(), QStringLiteral("the settings file"), true},
    };
    for (const TBoardJob& job : jobs)
        taken.push_back({job.Link.Device, QStringLiteral("a port of this run")});
    const QString what = OutputRefusal(options.TraceFile, taken);
    return what.isEmpty() ? QString()
                          : QStringLiteral("--trace %1 is %2").arg(ShownName(options.TraceFile), what);
}

// A header line a run, so that runs sharing one trace file stay apart.
QString TraceHeader(const TCliOptions& options) {
    return QStringLiteral("tervolt-cli %1, %2 of %3, started %4 (process %5)")
        .arg(QLatin1String(kTervoltVersion), OperationName(options),
             options.FileName.isEmpty() ? QStringLiteral("no image") : ShownName(options.FileName),
             QDateTime::currentDateTime().toString(Qt::ISODate))
        .arg(QCoreApplication::applicationPid());
}

// One job a port. The saved settings are read once: their warnings are said once, not once a board.
// False with the error when a port cannot be used.
bool MakeJobs(const TCliOptions& options, const QStringList& ports, std::vector<TBoardJob>& jobs,
              QString& error) {
    QStringList warnings;
    for (const QString& port : ports) {
        TBoardJob job;
        job.Options = &options;
        job.Port = port;
        QStringList boardWarnings;
        job.Link = ResolveLinkSettings(options, port, boardWarnings);
        for (const QString& warning : boardWarnings)
            if (!warnings.contains(warning))
                warnings << warning;
        if (!job.Link.Error.isEmpty()) {
            for (const QString& warning : warnings)
                PrintError(warning);
            error = job.Link.Error;
            return false;
        }
        jobs.push_back(job);
    }
    for (const QString& warning : warnings)
        PrintError(warning);
    error = SameDeviceTwice(jobs);
    return error.isEmpty();
}

// The device list every board of the run looks its chip up in.
struct TRunDevices {
    QString File;
    QString Error;
    TDevicesList List;
    bool Loaded = false;
};

void LoadRunDevices(const TCliOptions& options, TRunDevices& devices) {
    if (options.Command == TCliCommand::ccPing || !devices.Error.isEmpty())
        return;
    if (options.DevicesFile.isEmpty()) {
        // The list found beside the program or installed, with the per-user list's additions.
        devices.Loaded = LoadDeviceLists(devices.List, devices.File, devices.Error);
    } else {
        // A list named on the command line is the whole list.
        devices.Loaded = devices.List.LoadFromFile(devices.File);
        if (!devices.Loaded)
            devices.Error = devices.List.LastFailure();
    }
}

// The trace of --trace, when it may be written; false with the error otherwise.
bool OpenRunTrace(const TCliOptions& options, const QString& devicesFile, const std::vector<TBoardJob>& jobs,
                  TTraceLog& trace, QString& error) {
    if (options.TraceFile.isEmpty())
        return true;
    error = TraceRefusal(options, devicesFile, jobs);
    return error.isEmpty() && trace.Open(options.TraceFile, TraceHeader(options), error);
}

// One board: its output straight to the terminal.
TBoardResult RunDirect(const TBoardJob& job, bool quiet) {
    TDirectOutput output(!quiet);
    // As on a board's thread: the port is closed as the stack unwinds, the run still reports.
    try {
        return RunBoard(job, output);
    } catch (...) {
        TBoardResult result = InternalErrorResult(job, ExceptionText(std::current_exception()));
        PrintLine(result.Headline);
        return result;
    }
}

// Every board on a thread of its own, each with its live line on the console.
std::vector<TBoardResult> RunOnConsole(const std::vector<TBoardJob>& jobs, const TCliOptions& options) {
    std::vector<TBoardResult> results(jobs.size());
    QStringList names;
    for (const TBoardJob& job : jobs)
        names << ShownName(job.ShownPort());
    TBoardConsole console(names, !options.Quiet, StandardErrorTakesEscapes());
    RunOnThreads(
        int(jobs.size()),
        [&](int i) {
            TConsoleBoardOutput output(console, i);
            results[size_t(i)] = RunBoard(jobs[size_t(i)], output);
            const QString& headline = results[size_t(i)].Headline;
            console.SetState(i, headline.isEmpty() ? QStringLiteral("done") : headline);
        },
        [&](int i, const QString& what) {
            results[size_t(i)] = InternalErrorResult(jobs[size_t(i)], what);
            try {
                console.Note(i, results[size_t(i)].Headline);
                console.SetState(i, results[size_t(i)].Headline);
            } catch (...) {
                // The result is kept; only its live line is missing.
            }
        },
        [&console] { console.Refresh(); }, kConsoleRefreshMs);
    console.Finish();
    if (!options.Json)
        PrintSummary(results, stdout);
    return results;
}

// The run's exit status from the boards' outcomes and the trace's; the JSON report when asked for.
int ReportRun(const TCliOptions& options, const std::vector<TBoardResult>& results, TTraceLog& trace) {
    int status = RunExitStatus(results);
    // A trace that could not be written fails the run after the boards' outcomes, as standard output does.
    QString traceError;
    if (!trace.Close(traceError)) {
        PrintError(traceError);
        status = esCommunicationFailure;
    }
    // Lines a slow trace lost cost the trace, not the run.
    if (!trace.Notice().isEmpty())
        PrintError(trace.Notice());
    if (options.Json)
        PrintJsonReport(status, results, traceError);
    return status;
}

int RunOnBoards(const TCliOptions& given) {
    TCliOptions options = given;
    TRunReport report(options.Json);
    const bool transfer =
        options.Command == TCliCommand::ccProgram || options.Command == TCliCommand::ccVerify;
    QString message;
    QString detail;
    if (transfer && !ImageIsUsable(options, message, detail))
        return report.Fail(esImageError, message, detail);

    QStringList ports;
    int status = esSuccess;
    if (!ChoosePorts(options, ports, status, message))
        return report.Fail(status, status == esCommunicationFailure ? QStringLiteral("No target") : QString(),
                           message);
    std::vector<TBoardJob> jobs;
    if (!MakeJobs(options, ports, jobs, message))
        return report.Fail(esUsage, QString(), message);

    TRunDevices devices;
    devices.File = DevicesFileOf(options, devices.Error);
    TTraceLog trace;
    if (!OpenRunTrace(options, devices.File, jobs, trace, message))
        return report.Fail(esUsage, QString(), message);
    LoadRunDevices(options, devices);
    for (TBoardJob& job : jobs) {
        job.Devices = &devices.List;
        job.DevicesLoaded = devices.Loaded;
        job.DevicesError = devices.Error;
        job.DevicesFile = devices.File;
        job.Trace = options.TraceFile.isEmpty() ? nullptr : &trace;
    }

    const bool direct = jobs.size() == 1 && !options.Json;
    const std::vector<TBoardResult> results =
        direct ? std::vector<TBoardResult>{RunDirect(jobs[0], options.Quiet)} : RunOnConsole(jobs, options);
    return ReportRun(options, results, trace);
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
        return RunOnBoards(options);
    }
}
