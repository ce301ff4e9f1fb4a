#pragma once
// The engine's host for a terminal: retries without asking, progress on standard error, Ctrl-C as Stop.

#include "app/flashengine.h"

#include <QElapsedTimer>

#include <cstdio>

class TTerminalHost : public TFlashHost {
public:
    // `target`, when given, names the reason of a failure in the give-up message.
    TTerminalHost(int retries, bool showProgress, const TFlashTarget* target = nullptr);

    bool AskRetry() override;
    void ShowBlockAddress(std::uint32_t address) override;
    void ShowProgress(int percent) override;
    void ProcessMessages() override;
    bool StopRequested() override;
    void ReportOutcome(const TFlashOutcome& outcome) override;
    void TransferStarting(std::uint32_t totalSize) override;
    // A script that gave up wants no last attempt after it: the retries are the whole allowance.

    // True once a command failed more often than the retries allow.
    bool GaveUp() const { return FGaveUp; }
    const TFlashOutcome& Outcome() const { return FOutcome; }

    // Ctrl-C, SIGTERM and SIGHUP stop the run between blocks; a second one ends the program at once.
    static void InstallInterruptHandler();
    static bool Interrupted();

private:
    void DrawProgress(bool final);

    int FRetries;
    int FFailures = 0;
    bool FGaveUp = false;
    bool FShowProgress;
    bool FTerminal;
    const TFlashTarget* FTarget;
    int FPercent = 0;
    int FLastPrinted = -1;
    std::uint32_t FAddress = 0;
    std::uint32_t FTotalSize = 0;
    QElapsedTimer FClock;
    TFlashOutcome FOutcome;
};
