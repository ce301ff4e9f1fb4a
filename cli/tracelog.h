#pragma once
// The trace of a run (--trace FILE): every command sent and every byte received, with the time in
// milliseconds since the run started and the port, one line a delivery:
//
//     1234.567  /dev/ttyUSB0  >  P INIT\r
//     1301.002  /dev/ttyUSB0  <  P INIT\r\nFLASH is ready to programming.\r\n>
//     1301.010  /dev/ttyUSB0  #  Program OK!
//
// '>' is sent, '<' received, '#' a note of ours. A run appends to the file, after a header line of its
// own that starts with "# ", so that runs sharing one file stay apart; "-" is standard error. CR, LF, tab and
// backslash are written \r \n \t \\, every other byte outside printable ASCII as \xHH. Boards write from
// their own threads; each line goes out whole. The lines are written by a thread of the trace's own,
// in batches at most every quarter second, so that neither the run nor Ctrl-C ever waits for the file:
// a reader of a named pipe that stops reading, or a slow disk, costs trace lines, never the run. Lines
// that find the queue full are dropped and counted, in the trace and on standard error.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

class TTraceLog {
public:
    TTraceLog() = default;
    ~TTraceLog();
    TTraceLog(const TTraceLog&) = delete;
    TTraceLog& operator=(const TTraceLog&) = delete;

    // Opens the file for appending (created when missing: a regular file or a named pipe; "-" for
    // standard error) and writes `header`; on failure `error` holds the reason.
    bool Open(const QString& fileName, const QString& header, QString& error);
    void Sent(const QString& port, const QByteArray& bytes);
    void Received(const QString& port, const QByteArray& bytes);
    void Note(const QString& port, const QString& text);
    // Writes what is queued and closes; false (and `error`) when anything could not be written, at
    // any time of the run. Waits at most kCloseWaitMs for a reader that does not read.
    bool Close(QString& error);
    // What the trace lost without failing (lines dropped, a reader that stopped), for standard error;
    // empty when nothing. Set by Close.
    QString Notice() const { return FNotice; }

    // Queued text beyond which lines are dropped; the writer is woken early past kBatchBytes.
    static constexpr std::size_t kMaxQueuedBytes = 4u << 20;
    static constexpr std::size_t kBatchBytes = 64u << 10;
    static constexpr int kWriteIntervalMs = 250;
    static constexpr int kCloseWaitMs = 1000;

private:
    // What the writer thread shares with the boards; kept alive by the thread too, so that a writer
    // left blocked in a write at Close never touches a trace that is gone.
    struct TShared {
        std::mutex Mutex;
        std::condition_variable Wake;     // the writer: text to write, or the end
        std::condition_variable Finished; // Close: the writer is done
        QByteArray Queued;                // whole lines, each ending in LF
        std::uint64_t Dropped = 0;
        std::uint64_t DroppedNoted = 0;
        bool Stop = false;
        bool WriterDone = false;
        std::FILE* File = nullptr;
        int WriteError = 0;
    };

    void Write(const QString& port, char direction, const QByteArray& text);
    static void WriterLoop(const std::shared_ptr<TShared>& shared);

    std::shared_ptr<TShared> FShared = std::make_shared<TShared>();
    std::thread FWriter;
    bool FOpen = false;
    bool FOwnsFile = false; // not standard error
    QString FFileName;
    QString FNotice;
    QElapsedTimer FClock;
};
