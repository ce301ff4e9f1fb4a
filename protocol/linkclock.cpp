#include "protocol/linkclock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace {

class TEventLoopClock final : public TLinkClock {
public:
    TEventLoopClock() {
        FStart.start();
        FWake.setTimerType(Qt::PreciseTimer);
        FWake.setSingleShot(true);
    }

    std::int64_t NowMs() const override { return FStart.elapsed(); }

    void WaitUntil(std::int64_t deadlineMs) override {
        // One timer for the whole wait: it is armed again only when the deadline moves. A wake-up
        // for a wait that has ended meanwhile costs one empty pass, nothing more.
        if (!FWake.isActive() || deadlineMs != FArmedFor) {
            FArmedFor = deadlineMs;
            FWake.start(int(std::clamp<std::int64_t>(deadlineMs - NowMs(), 0, 0x7FFFFFFF)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

private:
    QElapsedTimer FStart;
    QTimer FWake;
    std::int64_t FArmedFor = 0;
};

} // namespace

std::unique_ptr<TLinkClock> CreateEventLoopClock() {
    return std::make_unique<TEventLoopClock>();
}
