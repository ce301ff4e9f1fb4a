#pragma once
// One board's part of a run: open its port, ping, identify, then program and/or verify. Everything
// it creates (protocol, driver, timers) lives on the thread that calls RunBoard and goes with it, so
// several boards run side by side on threads of their own without sharing anything but read-only
// inputs, the interrupt flag and the trace file.

#include "cli/clilink.h"
#include "cli/clioptions.h"
#include "target/compareresult.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class TDevicesList;
class TTerminalHost;
struct TFlashOutcome;
struct TImageSource;
class TProgressDisplay;
class TTraceLog;

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

    // The port as the user knows it ("COM2", a path), in every output.
    QString ShownPort() const { return Link.Shown.isEmpty() ? Port : Link.Shown; }
};

TBoardResult RunBoard(const TBoardJob& job, TBoardOutput& output);

// "program+verify" and the others.
QString OperationName(const TCliOptions& options);

// The image as the options name it.
TImageSource ImageSourceOf(const TCliOptions& options);
// The detail of a refused image, with the option to give instead when there is one.
QString ImageDetailOf(const TFlashOutcome& outcome);
// The exit status an outcome stands for; `host` says whether a cancel was a give-up.
int ExitStatusOf(const TFlashOutcome& outcome, const TTerminalHost& host);
