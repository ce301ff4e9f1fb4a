#include "cli/platformsignals.h"

#include <csignal>

void InstallPlatformInterruptSignals(TSignalHandler handler) {
    // A closed terminal or session must also leave the port as it was found.
    std::signal(SIGHUP, handler);
}

void IgnoreBrokenPipeSignal() {
    std::signal(SIGPIPE, SIG_IGN);
}
