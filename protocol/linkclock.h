#pragma once
// The time a command's answer is waited for, and the wait itself. The protocol knows nothing else of
// time: the programs wait in the thread's event loop on the monotonic clock, the deterministic
// simulation on a simulated clock that jumps to its next event.

#include <cstdint>
#include <memory>

class TLinkClock {
public:
    virtual ~TLinkClock() = default;
    // Milliseconds on a clock that never goes back.
    virtual std::int64_t NowMs() const = 0;
    // Returns once something happened that may have brought an answer (bytes, a hang-up, an
    // interrupt), or `deadlineMs` has passed; it may return earlier, but never spins.
    virtual void WaitUntil(std::int64_t deadlineMs) = 0;
};

// The calling thread's event loop, woken by a precise timer at the deadline.
std::unique_ptr<TLinkClock> CreateEventLoopClock();
