#pragma once
// The platform's signals, besides SIGINT and SIGTERM, after which a run must end cleanly, and the
// wake-up that lets a board's thread see an interrupt at once instead of at its next time-out.

#include <memory>

class QSocketNotifier;

using TSignalHandler = void (*)(int);
void InstallPlatformInterruptSignals(TSignalHandler handler);
// A reader that went away (`| head`) or a file-size limit (`ulimit -f`) must give a failed write,
// reported as such, not end the program with the board half-programmed.
void IgnoreFailedWriteSignals();

// Before any handler is installed: prepares what WakeForInterrupt signals.
void PrepareInterruptWakeUp();
// From a signal handler (async-signal-safe): wakes every thread that holds a TInterruptWakeUp.
void WakeForInterrupt();

// Held by a thread that waits in its event loop: the loop wakes when WakeForInterrupt is called, and
// the wait then sees the interrupt flag. Where the platform cannot watch for it, the driver's poll
// timer wakes the loop instead.
class TInterruptWakeUp {
public:
    TInterruptWakeUp();
    ~TInterruptWakeUp();
    TInterruptWakeUp(const TInterruptWakeUp&) = delete;
    TInterruptWakeUp& operator=(const TInterruptWakeUp&) = delete;

private:
    std::unique_ptr<QSocketNotifier> FNotifier;
};
