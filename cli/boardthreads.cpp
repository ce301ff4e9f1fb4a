#include "cli/boardthreads.h"

#include <QDeadlineTimer>
#include <QThread>

#include <memory>
#include <vector>

void RunOnThreads(int count, const std::function<void(int)>& work, const std::function<void()>& tick,
                  int tickMs) {
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < count; ++i) {
        // QThread gives the thread an event dispatcher before the work starts.
        threads.emplace_back(QThread::create([&work, i] { work(i); }));
        threads.back()->start();
    }
    for (const std::unique_ptr<QThread>& thread : threads) {
        while (!thread->wait(QDeadlineTimer(tickMs)))
            tick();
    }
    tick();
}
