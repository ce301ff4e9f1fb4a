#include "cli/tracelog.h"

#include "files/systemfiles.h"
#include "serial/tracetext.h"

#include <chrono>
#include <cstring>

TTraceLog::~TTraceLog() {
    QString ignored;
    Close(ignored);
}

bool TTraceLog::Open(const QString& fileName, const QString& header, QString& error) {
    FFileName = fileName;
    FOwnsFile = fileName != QLatin1String("-");
    QString reason;
    std::FILE* file = FOwnsFile ? OpenFileForAppending(fileName, reason) : stderr;
    if (!file) {
        error = QStringLiteral("cannot write the trace to %1: %2").arg(fileName, reason);
        return false;
    }
    FClock.start();
    FShared->File = file;
    FShared->Queued = "# " + TraceReadable(SystemFileName(header)) + '\n';
    FWriter = std::thread([shared = FShared] { WriterLoop(shared); });
    FOpen = true;
    return true;
}

void TTraceLog::Sent(const QString& port, const QByteArray& bytes) {
    Write(port, '>', TraceReadable(bytes));
}

void TTraceLog::Received(const QString& port, const QByteArray& bytes) {
    Write(port, '<', TraceReadable(bytes));
}

void TTraceLog::Note(const QString& port, const QString& text) {
    Write(port, '#', TraceReadable(SystemFileName(text)));
}

void TTraceLog::Write(const QString& port, char direction, const QByteArray& text) {
    const QByteArray name = SystemFileName(port);
    TShared& shared = *FShared;
    const std::lock_guard lock(shared.Mutex);
    if (!shared.File || shared.Stop)
        return;
    const QByteArray line = TraceLine(double(FClock.nsecsElapsed()) / 1e6, name, direction, text) + '\n';
    if (std::size_t(shared.Queued.size() + line.size()) > kMaxQueuedBytes) {
        ++shared.Dropped;
        return;
    }
    const bool wasSmall = std::size_t(shared.Queued.size()) < kBatchBytes;
    shared.Queued += line;
    if (wasSmall && std::size_t(shared.Queued.size()) >= kBatchBytes)
        shared.Wake.notify_one();
}

void TTraceLog::WriterLoop(const std::shared_ptr<TShared>& sharedPtr) {
    TShared& shared = *sharedPtr;
    std::unique_lock lock(shared.Mutex);
    for (;;) {
        shared.Wake.wait_for(lock, std::chrono::milliseconds(kWriteIntervalMs), [&shared] {
            return shared.Stop || std::size_t(shared.Queued.size()) >= kBatchBytes;
        });
        QByteArray batch;
        batch.swap(shared.Queued);
        if (shared.Dropped != shared.DroppedNoted) {
            batch += QByteArrayLiteral("# ") + QByteArray::number(shared.Dropped - shared.DroppedNoted) +
                     " trace lines dropped: the trace was not written as fast as the run went\n";
            shared.DroppedNoted = shared.Dropped;
        }
        const bool stop = shared.Stop;
        if (!batch.isEmpty() && shared.WriteError == 0) {
            // The file is written without the lock: the boards queue on while it waits.
            lock.unlock();
            int error = 0;
            const bool written = AppendWhole(shared.File, batch, error);
            lock.lock();
            if (!written && shared.WriteError == 0)
                shared.WriteError = error;
        }
        if (stop && shared.Queued.isEmpty())
            break;
    }
    shared.WriterDone = true;
    shared.Finished.notify_all();
}

bool TTraceLog::Close(QString& error) {
    if (!FOpen)
        return true;
    FOpen = false;
    TShared& shared = *FShared;
    std::unique_lock lock(shared.Mutex);
    shared.Stop = true;
    shared.Wake.notify_one();
    const bool done = shared.Finished.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs),
                                               [&shared] { return shared.WriterDone; });
    int writeError = shared.WriteError;
    const std::uint64_t dropped = shared.Dropped;
    lock.unlock();
    if (done) {
        FWriter.join();
        if (FOwnsFile && std::fclose(shared.File) != 0 && writeError == 0)
            writeError = errno;
        shared.File = nullptr;
    } else {
        // Blocked in a write that nobody reads: it ends with the process, holding its file and state.
        FWriter.detach();
    }
    if (dropped != 0)
        FNotice =
            QStringLiteral("%1 trace lines were dropped: the trace was not written as fast as the run went.")
                .arg(dropped);
    if (!done)
        FNotice += QStringLiteral("%1The trace's last lines were not written: its reader stopped reading.")
                       .arg(FNotice.isEmpty() ? QString() : QStringLiteral(" "));
    if (writeError == 0)
        return true;
    error = QStringLiteral("cannot write the trace to %1: %2")
                .arg(FOwnsFile ? FFileName : QStringLiteral("standard error"),
                     QString::fromLocal8Bit(std::strerror(writeError)));
    return false;
}
