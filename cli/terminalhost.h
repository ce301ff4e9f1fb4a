#pragma once
// The engine's host without a window: retries without asking, progress to a display, Ctrl-C as Stop.

#include "engine/flashengine.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <cstdint>

// Where one board's progress and notes go: standard error for a single board, the board's own line
// when several run at once.
class TProgressDisplay {
public:
    virtual ~TProgressDisplay() = default;
    virtual void Show(int percent, std::uint32_t address, double bytesPerSecond) = 0;
    // The image bytes the board has confirmed, for a display that counts bytes rather than percent.
    virtual void Bytes(std::uint64_t sent, std::uint64_t total) {
        (void)sent;
        (void)total;
    }
    // A line for standard error, such as the give-up message.
    virtual void Note(const QString& text) = 0;
    // The operation has ended.
    virtual void Finish() = 0;
};

// Standard error as one board's run has always used it: a bar on a terminal, lines at 10 % steps
// otherwise, nothing when not shown.
class TStderrProgress : public TProgressDisplay {
public:
    explicit TStderrProgress(bool show);
    void Show(int percent, std::uint32_t address, double bytesPerSecond) override;
    void Note(const QString& text) override;
    void Finish() override;

private:
    bool FShow;
    bool FTerminal;
    int FLastPrinted = -1;
};

class TTerminalHost : public TFlashHost {
public:
    // `target`, when given, names the reason of a failure in the give-up message. `stop` is the flag
    // that stops the run; by default the process's interrupt flag.
    TTerminalHost(int retries, TProgressDisplay& display, const TFlashTarget* target = nullptr,
                  const std::atomic<bool>* stop = nullptr);

    bool AskRetry() override;
    void ShowBlockAddress(std::uint32_t address) override;
    void ShowProgress(std::uint64_t bytesSent, std::uint64_t bytesTotal) override;
    void ProcessMessages() override;
    bool StopRequested() override;
    void ReportOutcome(const TFlashOutcome& outcome) override;
    void TransferStarting() override;
    // A script that gave up wants no last attempt after it: the retries are the whole allowance.

    // True once a command failed more often than the retries allow.
    bool GaveUp() const { return FGaveUp; }
    const TFlashOutcome& Outcome() const { return FOutcome; }
    // Commands sent again, over the whole run.
    int RetriesUsed() const { return FRetriesUsed; }

    // Ctrl-C, SIGTERM and SIGHUP stop every board at once: a wait for an answer ends without its
    // time-out, and nothing more is sent. A second one ends the program at once. The flag is the
    // process's on purpose: one Ctrl-C stops the whole run.
    static void InstallInterruptHandler();
    static bool Interrupted();
    // The flag itself, for the protocol's waits (TCommProtocol::SetAbortFlag).
    static const std::atomic<bool>& InterruptFlag();

private:
    int FRetries;
    int FFailures = 0;
    int FRetriesUsed = 0;
    bool FGaveUp = false;
    TProgressDisplay& FDisplay;
    const TFlashTarget* FTarget;
    const std::atomic<bool>& FStop;
    std::uint32_t FAddress = 0;
    QElapsedTimer FClock;
    TFlashOutcome FOutcome;
};
