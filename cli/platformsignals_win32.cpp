#include "cli/platformsignals.h"

#include <QSocketNotifier>

#include <csignal>

void InstallPlatformInterruptSignals(TSignalHandler handler) {
    // Ctrl+Break ends a run as Ctrl+C does.
    std::signal(SIGBREAK, handler);
}

// Windows has no such signals: the write fails.
void IgnoreFailedWriteSignals() {}

// A console handler runs on a thread of its own, and the driver's 5 ms poll timer wakes every wait:
// nothing to prepare.
void PrepareInterruptWakeUp() {}
void WakeForInterrupt() {}

TInterruptWakeUp::TInterruptWakeUp() = default;
TInterruptWakeUp::~TInterruptWakeUp() = default;
