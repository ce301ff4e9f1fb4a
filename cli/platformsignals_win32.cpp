#include "cli/platformsignals.h"

#include <csignal>

void InstallPlatformInterruptSignals(TSignalHandler handler) {
    // Ctrl+Break ends a run as Ctrl+C does.
    std::signal(SIGBREAK, handler);
}

// Windows has no such signal: a write to a closed pipe fails.
void IgnoreBrokenPipeSignal() {}
