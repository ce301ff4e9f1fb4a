#include "cli/terminalhost.h"

#include "cli/platformsignals.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int signal) {
    gInterrupted = 1;
    std::signal(signal, SIG_DFL);
}

constexpr int kBarWidth = 30;
constexpr int kPlainProgressStep = 10;  // percent between two lines when stderr is not a terminal

} // namespace

TTerminalHost::TTerminalHost(int retries, bool showProgress, const TFlashTarget* target)
    : FRetries(retries), FShowProgress(showProgress), FTerminal(isatty(STDERR_FILENO) == 1), FTarget(target) {
}

void TTerminalHost::InstallInterruptHandler() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    InstallPlatformInterruptSignals(OnInterrupt);
}

bool TTerminalHost::Interrupted() { return gInterrupted != 0; }

// A failed command is repeated up to `retries` times; then the run gives up.
bool TTerminalHost::AskRetry() {
    if (Interrupted() || FFailures >= FRetries) {
        if (!Interrupted()) {
            FGaveUp = true;
            // The board's own answer ("Address out of range") says more than any retry count.
            const QString why = FTarget ? FTarget->LastFailure() : QString();
            std::fprintf(stderr, "%sCommunication error occurred! Gave up after %d retries.%s%s\n",
                         FTerminal && FShowProgress ? "\n" : "", FRetries, why.isEmpty() ? "" : " ",
                         why.toLocal8Bit().constData());
        }
        return false;
    }
    ++FFailures;
    return true;
}

void TTerminalHost::TransferStarting(std::uint32_t totalSize) {
    FTotalSize = totalSize;
    FFailures = 0;
    FClock.start();
}

void TTerminalHost::ShowBlockAddress(std::uint32_t address) {
    FAddress = address;
    FFailures = 0;  // each block command has its own retries
}

void TTerminalHost::ShowProgress(int percent) {
    FPercent = percent;
    DrawProgress(false);
}

void TTerminalHost::ProcessMessages() { QCoreApplication::processEvents(); }

bool TTerminalHost::StopRequested() { return Interrupted(); }

void TTerminalHost::ReportOutcome(const TFlashOutcome& outcome) {
    FOutcome = outcome;
    if (FShowProgress && FTerminal && FLastPrinted >= 0)
        std::fputc('\n', stderr);
}

void TTerminalHost::DrawProgress(bool final) {
    if (!FShowProgress)
        return;
    const double seconds = FClock.isValid() ? double(FClock.elapsed()) / 1000.0 : 0.0;
    const double done = double(FTotalSize) * FPercent / 100.0;
    const double rate = seconds > 0 ? done / seconds : 0.0;
    if (FTerminal) {
        char bar[kBarWidth + 1];
        const int filled = FPercent * kBarWidth / 100;
        for (int i = 0; i < kBarWidth; ++i)
            bar[i] = i < filled ? '#' : '.';
        bar[kBarWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %s  %.0f B/s ", bar, FPercent, qPrintable(FormatBlockAddress(FAddress)),
                     rate);
        FLastPrinted = FPercent;
    } else if (final || FLastPrinted < 0 || FPercent >= FLastPrinted + kPlainProgressStep || FPercent == 100) {
        if (FPercent == FLastPrinted)
            return;
        std::fprintf(stderr, "%d%%  %s  %.0f B/s\n", FPercent, qPrintable(FormatBlockAddress(FAddress)), rate);
        FLastPrinted = FPercent;
    }
    std::fflush(stderr);
}
