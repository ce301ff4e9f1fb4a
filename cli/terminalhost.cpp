#include "cli/terminalhost.h"

#include "cli/platformsignals.h"
#include "cli/platformterminal.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

// Read by every board's thread; a lock-free atomic is also safe to set from a signal handler.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
    gInterrupted.store(true);
    WakeForInterrupt(); // a wait for an answer ends now, not at its time-out
    std::signal(signal, SIG_DFL);
}

constexpr int kBarWidth = 30;
constexpr int kPlainProgressStep = 10; // percent between two lines when stderr is not a terminal

} // namespace

TStderrProgress::TStderrProgress(bool show) : FShow(show), FTerminal(StandardErrorIsTerminal()) {}

void TStderrProgress::Show(int percent, std::uint32_t address, double bytesPerSecond) {
    if (!FShow)
        return;
    if (FTerminal) {
        char bar[kBarWidth + 1];
        const int filled = percent * kBarWidth / 100;
        for (int i = 0; i < kBarWidth; ++i)
            bar[i] = i < filled ? '#' : '.';
        bar[kBarWidth] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %s  %.0f B/s ", bar, percent,
                     qPrintable(FormatBlockAddress(address)), bytesPerSecond);
        FLastPrinted = percent;
    } else if (FLastPrinted < 0 || percent >= FLastPrinted + kPlainProgressStep || percent == 100) {
        if (percent == FLastPrinted)
            return;
        std::fprintf(stderr, "%d%%  %s  %.0f B/s\n", percent, qPrintable(FormatBlockAddress(address)),
                     bytesPerSecond);
        FLastPrinted = percent;
    }
    std::fflush(stderr);
}

void TStderrProgress::Note(const QString& text) {
    // A bar may hold the line: the note starts on a line of its own.
    std::fprintf(stderr, "%s%s\n", FTerminal && FShow ? "\n" : "", text.toLocal8Bit().constData());
}

void TStderrProgress::Finish() {
    if (FShow && FTerminal && FLastPrinted >= 0)
        std::fputc('\n', stderr);
}

TTerminalHost::TTerminalHost(int retries, TProgressDisplay& display, const TFlashTarget* target,
                             const std::atomic<bool>* stop)
    : FRetries(retries), FDisplay(display), FTarget(target), FStop(stop ? *stop : gInterrupted) {}

void TTerminalHost::InstallInterruptHandler() {
    PrepareInterruptWakeUp();
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    InstallPlatformInterruptSignals(OnInterrupt);
}

bool TTerminalHost::Interrupted() {
    return gInterrupted.load();
}

const std::atomic<bool>& TTerminalHost::InterruptFlag() {
    return gInterrupted;
}

// A failed command is repeated up to `retries` times; then the run gives up.
bool TTerminalHost::AskRetry() {
    // The board's own answer ("Address out of range") says more than any retry count.
    const QString why = FTarget ? FTarget->LastFailure() : QString();
    if (FStop.load()) {
        // The command in flight is named as interrupted, not as a communication error.
        FDisplay.Note(why.isEmpty() ? QStringLiteral("Interrupted.") : why);
        return false;
    }
    if (FFailures >= FRetries) {
        FGaveUp = true;
        FDisplay.Note(QStringLiteral("Communication error occurred! Gave up after %1 %2.%3%4")
                          .arg(FRetries)
                          .arg(FRetries == 1 ? QStringLiteral("retry") : QStringLiteral("retries"))
                          .arg(why.isEmpty() ? QString() : QStringLiteral(" "), why));
        return false;
    }
    ++FFailures;
    ++FRetriesUsed;
    return true;
}

void TTerminalHost::TransferStarting() {
    FFailures = 0;
    FClock.start();
}

void TTerminalHost::ShowBlockAddress(std::uint32_t address) {
    FAddress = address;
    FFailures = 0; // each block command has its own retries
}

void TTerminalHost::ShowProgress(std::uint64_t bytesSent, std::uint64_t bytesTotal) {
    if (bytesTotal == 0)
        return;
    FDisplay.Bytes(bytesSent, bytesTotal);
    const int percent = int(bytesSent * 100 / bytesTotal);
    const double seconds = FClock.isValid() ? double(FClock.elapsed()) / 1000.0 : 0.0;
    FDisplay.Show(percent, FAddress, seconds > 0 ? double(bytesSent) / seconds : 0.0);
}

void TTerminalHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool TTerminalHost::StopRequested() {
    return FStop.load();
}

void TTerminalHost::ReportOutcome(const TFlashOutcome& outcome) {
    FOutcome = outcome;
    FDisplay.Finish();
}
