#pragma once
// Several boards at once: each runs on a thread of its own. The protocol's waits process the events
// of the thread they run on, so everything a board creates (protocol, driver, timers, notifiers) is
// created on its thread, is served by that thread's event dispatcher and goes with it.

#include <functional>

// Runs work(0) … work(count - 1) at the same time, each on its own thread, and calls `tick` on the
// calling thread about every `tickMs` until every one has ended (and once more then).
void RunOnThreads(int count, const std::function<void(int)>& work, const std::function<void()>& tick,
                  int tickMs);
