#pragma once
// One board's part of a run: open its port, ping, identify, then program and/or verify. Everything
// it creates (protocol, driver, timers) lives on the thread that calls RunBoard and goes with it, so
// several boards run side by side on threads of their own without sharing anything but read-only
// inputs, the interrupt flag and the trace file.

#include "cli/clilink.h"
#include "cli/clioptions.h"
#include "cli/platformsignals.h"
#include "protocol/comm_protocol.h"
#include "protocol/compareresult.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <optional>

class TDevicesList;
class TTerminalHost;
struct TFlashOutcome;
struct TImageSource;
class TProgressDisplay;
class TTraceLog;

enum class TFlashOperation;

// Why a board's run ended with a communication failure, for callers that tell the kinds apart.
enum class TLineFault {
    None,
    PortNotOpened, // "Connection failure!": the port could not be opened or set up
    NoTarget,      // the port opened, but no monitor answered
    LineLost,      // the device hung up or the line failed mid-run
    GaveUp,        // a command failed more often than the retries allow
};

struct TBoardResult {
    QString Port;         // as the user named it
    QString Manufacturer; // empty until identified
    QString DeviceId;
    QString Operation; // "ping", "identify", "program", "verify" or "program+verify"
    int ExitStatus = esSuccess;
    QStringList Lines;       // the outcome as the text mode prints it, line by line
    QString Headline;        // the last step's outcome in one line, for the live line
    std::uint64_t Bytes = 0; // image bytes in the blocks the board accepted, every pass
    double Seconds = 0;
    int Retries = 0;                       // commands sent again
    std::optional<TCompareResult> Compare; // when a compare failed
    QString FlashState;                    // a Program that did not finish: what the FLASH holds now
    QString Format;                        // the format the image was read as ("ihex", "elf", ...)
    TLineFault Fault = TLineFault::None;   // with esCommunicationFailure: which kind
};

// Where a board's words go while it runs.
class TBoardOutput {
public:
    virtual ~TBoardOutput() = default;
    // A line of the outcome (standard output for a single board).
    virtual void Line(const QString& text) = 0;
    // A diagnostic with the system's reason (standard error).
    virtual void Error(const QString& text) = 0;
    // What the board is doing now, for a live line.
    virtual void State(const QString& state) { (void)state; }
    // The display for one Program or Verify operation, fresh for each.
    virtual TProgressDisplay& BeginTransfer(const QString& operation) = 0;
};

struct TBoardJob {
    const TCliOptions* Options = nullptr;
    QString Port; // as the user named it; empty for the stored port
    TLinkSettings Link;
    // Loaded once for all boards; a failed load is reported when a board needs it.
    const TDevicesList* Devices = nullptr;
    bool DevicesLoaded = false;
    QString DevicesError; // why it was not loaded: not found, or the reader's reason
    QString DevicesFile;
    TTraceLog* Trace = nullptr; // optional
    // The flag that stops this board; by default the process's interrupt flag (Ctrl-C).
    const std::atomic<bool>* Stop = nullptr;

    // The port as the user knows it ("COM2", a path), in every output.
    QString ShownPort() const { return Link.Shown.isEmpty() ? Port : Link.Shown; }
};

// The steps of one board on one open port, each returning the exit status so far and writing the
// outcome into the result given to Begin. Lives on one thread, like the protocol it holds.
class TBoardSession {
public:
    TBoardSession(const TBoardJob& job, TBoardOutput& output);
    ~TBoardSession();
    TBoardSession(const TBoardSession&) = delete;
    TBoardSession& operator=(const TBoardSession&) = delete;

    // Where the next steps write; kept until the next Begin.
    void Begin(TBoardResult& result);
    // Opens the port (Connect), then pings the monitor (Ping).
    int Open();
    int Connect();
    int Ping();
    // "P ID" and the device-list lookup; prints the pair when asked to.
    int Identify(bool printPair);
    int Transfer(TFlashOperation operation);
    // The line that ends a step: printed, and kept as the result's headline (its first line unless
    // another is given) for the live line.
    void Outcome(const QString& text, const QString& headline = {});

private:
    bool Stopped() const;
    void Line(const QString& text);
    void Error(const QString& text);
    void Note(const QString& text);
    int LineLost();

    const TBoardJob& FJob;
    const TCliOptions& FOptions;
    TBoardOutput& FOutput;
    TBoardResult* FResult = nullptr;
    TCommProtocol FProtocol;
    TInterruptWakeUp FWakeUp; // on this board's thread, like the protocol's waits
};

TBoardResult RunBoard(const TBoardJob& job, TBoardOutput& output);

// "program+verify" and the others.
QString OperationName(const TCliOptions& options);

// The image as the options name it.
TImageSource ImageSourceOf(const TCliOptions& options);
// How a front end spells its format choice: "--format bin" on the command line.
using TFormatOptionText = QString (*)(const char* format);
QString CliFormatOption(const char* format);
// The detail of a refused image, with the option to give instead when there is one.
QString ImageDetailOf(const TFlashOutcome& outcome, TFormatOptionText option = CliFormatOption);
// The exit status an outcome stands for; `host` says whether a cancel was a give-up.
int ExitStatusOf(const TFlashOutcome& outcome, const TTerminalHost& host);
