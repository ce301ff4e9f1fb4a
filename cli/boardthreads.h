#pragma once
// Several boards at once: each runs on a thread of its own. The protocol's waits process the events
// of the thread they run on, so everything a board creates (protocol, driver, timers, notifiers) is
// created on its thread, is served by that thread's event dispatcher and goes with it.

#include "cli/boardrun.h"

#include <QString>

#include <exception>
#include <functional>

// Runs work(0) … work(count - 1) at the same time, each on its own thread, and calls `tick` on the
// calling thread about every `tickMs` until every one has ended (and once more then).
// An exception that escapes work(i) ends thread i alone: once its stack has unwound (ports closed),
// failed(i, what) is called on that thread with the exception's text; it must not throw. An
// exception from `tick` stops the ticks and is thrown again once every thread has ended.
void RunOnThreads(int count, const std::function<void(int)>& work,
                  const std::function<void(int, const QString&)>& failed, const std::function<void()>& tick,
                  int tickMs);

// The text an exception caught by `catch (...)` carries, for a message that names it.
QString ExceptionText(const std::exception_ptr& exception);

// The result of a board whose work threw: a communication failure (its state is unknown) that names
// what was thrown, "Internal error: <what>".
TBoardResult InternalErrorResult(const TBoardJob& job, const QString& what);
