#include "python/boardworker.h"

#include <chrono>

TBoardWorker::TBoardWorker() {
    // QThread gives the thread an event dispatcher for the protocol's waits.
    FThread.reset(QThread::create([this] { Serve(); }));
    FThread->start();
}

TBoardWorker::~TBoardWorker() {
    Quit();
}

void TBoardWorker::Quit() {
    std::lock_guard<std::mutex> caller(FCallers);
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQuit = true;
    }
    FChanged.notify_all();
    FThread->wait();
}

void TBoardWorker::Serve() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FChanged.wait(lock, [this] { return FQuit || (FJob && !FDone); });
        if (!FJob || FDone)
            return;
        const std::function<void()> job = FJob;
        lock.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        FFailure = failure;
        FDone = true;
        FChanged.notify_all();
    }
}

void TBoardWorker::Run(const std::function<void()>& job, const std::function<void()>& poll, int pollMs) {
    std::lock_guard<std::mutex> caller(FCallers);
    std::unique_lock<std::mutex> lock(FLock);
    if (FQuit) {
        lock.unlock();
        job();
        poll();
        return;
    }
    FJob = job;
    FDone = false;
    FFailure = nullptr;
    FChanged.notify_all();
    while (!FChanged.wait_for(lock, std::chrono::milliseconds(pollMs), [this] { return FDone; })) {
        lock.unlock();
        poll();
        lock.lock();
    }
    FJob = nullptr;
    const std::exception_ptr failure = FFailure;
    lock.unlock();
    poll();
    if (failure)
        std::rethrow_exception(failure);
}
