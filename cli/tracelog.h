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
// their own threads; each line goes out whole. The file is written through a buffer and flushed at most every
// quarter second, so that the trace costs the line nothing.

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <mutex>

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
    // Writes what is buffered and closes; false (and `error`) when anything could not be written,
    // at any time of the run.
    bool Close(QString& error);

private:
    void Write(const QString& port, char direction, const QByteArray& text);

    std::mutex FMutex;
    std::FILE* FFile = nullptr;
    bool FOwnsFile = false; // not standard error
    QString FFileName;
    QElapsedTimer FClock;
    qint64 FLastFlushMs = 0;
    int FWriteError = 0;
};
