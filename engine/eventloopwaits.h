#pragma once
// Notes whether the calling thread's event loop has waited for events, so that a caller who must
// serve the loop regularly can leave out a pass that someone else's wait has just made.

#include <QMetaObject>

class TEventLoopWaits {
public:
    // Watches the event loop of the thread that constructs it; without one, nothing is ever noted.
    TEventLoopWaits();
    ~TEventLoopWaits();
    TEventLoopWaits(const TEventLoopWaits&) = delete;
    TEventLoopWaits& operator=(const TEventLoopWaits&) = delete;

    // Whether the loop has waited since the last call.
    bool Take();

private:
    QMetaObject::Connection FConnection;
    bool FWaited = false;
};
