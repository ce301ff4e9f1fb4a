#pragma once
// A thread of its own for one board. The protocol, its driver and their timers belong to the thread
// that made them, while a script may call a board from any of its threads: every step of the board
// runs here, and the caller waits, free to do its own work (progress, signals) in between.

#include <QThread>

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class TBoardWorker {
public:
    TBoardWorker();
    // Ends the thread once the job in hand (if any) has ended.
    ~TBoardWorker();
    TBoardWorker(const TBoardWorker&) = delete;
    TBoardWorker& operator=(const TBoardWorker&) = delete;

    // Runs `job` on the worker's thread and returns when it has ended, throwing what it threw. Until
    // then `poll` is called on the calling thread every `pollMs`, and once more at the end; it must not
    // throw. One job at a time: a second caller waits for the first. Once the thread has ended (Quit),
    // the job runs on the calling thread.
    void Run(const std::function<void()>& job, const std::function<void()>& poll, int pollMs);
    // Ends the thread once the job in hand has ended.
    void Quit();

private:
    void Serve();

    std::mutex FCallers; // one Run at a time
    std::mutex FLock;
    std::condition_variable FChanged;
    std::function<void()> FJob; // the job in hand; empty when idle
    bool FDone = false;
    bool FQuit = false;
    std::exception_ptr FFailure;
    std::unique_ptr<QThread> FThread;
};
