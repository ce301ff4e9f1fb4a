#include "cli/boardthreads.h"

#include <QDeadlineTimer>
#include <QThread>

#include <memory>
#include <vector>

namespace {

// An exception escaping a thread's function would end the whole process, every other board with it.
void RunGuarded(const std::function<void(int)>& work, const std::function<void(int, const QString&)>& failed,
                int index) noexcept {
    std::exception_ptr thrown;
    try {
        work(index);
        return;
    } catch (...) {
        thrown = std::current_exception();
    }
    failed(index, ExceptionText(thrown));
}

} // namespace

QString ExceptionText(const std::exception_ptr& exception) {
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& caught) {
        return QString::fromLocal8Bit(caught.what());
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}

TBoardResult InternalErrorResult(const TBoardJob& job, const QString& what) {
    TBoardResult result;
    result.Port = job.ShownPort();
    result.Operation = OperationName(*job.Options);
    result.ExitStatus = esCommunicationFailure;
    result.Headline = QStringLiteral("Internal error: %1").arg(what);
    result.Lines << result.Headline;
    return result;
}

void RunOnThreads(int count, const std::function<void(int)>& work,
                  const std::function<void(int, const QString&)>& failed, const std::function<void()>& tick,
                  int tickMs) {
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < count; ++i) {
        // QThread gives the thread an event dispatcher before the work starts.
        threads.emplace_back(QThread::create([&work, &failed, i] { RunGuarded(work, failed, i); }));
        threads.back()->start();
    }
    // A QThread destroyed while it runs ends the process: the threads are waited for in any case.
    std::exception_ptr tickFailure;
    auto guardedTick = [&tick, &tickFailure] {
        if (tickFailure)
            return;
        try {
            tick();
        } catch (...) {
            tickFailure = std::current_exception();
        }
    };
    for (const std::unique_ptr<QThread>& thread : threads) {
        while (!thread->wait(QDeadlineTimer(tickMs)))
            guardedTick();
    }
    guardedTick();
    if (tickFailure)
        std::rethrow_exception(tickFailure);
}
