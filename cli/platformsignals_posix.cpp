#include "cli/platformsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The self-pipe: a signal handler may write to it; every waiting thread watches its read end, which
// stays readable once written, so a thread that starts waiting later sees it too.
int gWakePipe[2] = {-1, -1};

} // namespace

void InstallPlatformInterruptSignals(TSignalHandler handler) {
    // A closed terminal or session must also leave the port as it was found.
    std::signal(SIGHUP, handler);
}

void IgnoreFailedWriteSignals() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void PrepareInterruptWakeUp() {
    if (gWakePipe[0] < 0 && ::pipe2(gWakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        gWakePipe[0] = gWakePipe[1] = -1; // the poll timer still wakes the waits, only later
}

void WakeForInterrupt() {
    if (gWakePipe[1] < 0)
        return;
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(gWakePipe[1], "!", 1);
    errno = saved;
}

TInterruptWakeUp::TInterruptWakeUp() {
    if (gWakePipe[0] < 0)
        return;
    FNotifier = std::make_unique<QSocketNotifier>(gWakePipe[0], QSocketNotifier::Read);
    QSocketNotifier* notifier = FNotifier.get();
    // Nobody drains the pipe: once woken, the thread has seen the flag and stops watching.
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [notifier] { notifier->setEnabled(false); });
}

TInterruptWakeUp::~TInterruptWakeUp() = default;
