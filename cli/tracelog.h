#pragma once
// The trace of a run (--trace FILE): every command sent and every byte received, with the time in
// milliseconds since the run started and the port, one line a delivery:
//
//     1234.567  /dev/ttyUSB0  >  P INIT\r
//     1301.002  /dev/ttyUSB0  <  P INIT\r\nFLASH is ready to programming.\r\n>
//     1301.010  /dev/ttyUSB0  #  Program OK!
//
// '>' is sent, '<' received, '#' a note of ours. CR, LF, tab and backslash are written \r \n \t \\,
// every other byte outside printable ASCII as \xHH. Boards write from their own threads; each line
// goes out whole. The file is written through a buffer and flushed at most every quarter second, so
// that the trace costs the line nothing.

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

    // Creates or empties the file; on failure `error` holds the system's reason.
    bool Open(const QString& fileName, QString& error);
    void Sent(const QString& port, const QByteArray& bytes);
    void Received(const QString& port, const QByteArray& bytes);
    void Note(const QString& port, const QString& text);
    // Writes what is buffered and closes; false (and `error`) when anything could not be written.
    bool Close(QString& error);

    // The bytes as the trace shows them.
    static QByteArray Readable(const QByteArray& bytes);

private:
    void Write(const QString& port, char direction, const QByteArray& text);

    std::mutex FMutex;
    std::FILE* FFile = nullptr;
    QString FFileName;
    QElapsedTimer FClock;
    qint64 FLastFlushMs = 0;
    int FWriteError = 0;
};
