#include "cli/tracelog.h"

#include "files/systemfiles.h"
#include "serial/tracetext.h"

#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 kFlushIntervalMs = 250;

} // namespace

TTraceLog::~TTraceLog() {
    QString ignored;
    Close(ignored);
}

bool TTraceLog::Open(const QString& fileName, const QString& header, QString& error) {
    FFileName = fileName;
    FOwnsFile = fileName != QLatin1String("-");
    QString reason;
    FFile = FOwnsFile ? OpenFileForAppending(fileName, reason) : stderr;
    if (!FFile) {
        error = QStringLiteral("cannot write the trace to %1: %2").arg(fileName, reason);
        return false;
    }
    FClock.start();
    if (std::fprintf(FFile, "# %s\n", TraceReadable(SystemFileName(header)).constData()) < 0 ||
        std::fflush(FFile) != 0)
        FWriteError = errno;
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
    const std::lock_guard lock(FMutex);
    if (!FFile)
        return;
    const qint64 nanoseconds = FClock.nsecsElapsed();
    const QByteArray line = TraceLine(double(nanoseconds) / 1e6, name, direction, text);
    if (std::fprintf(FFile, "%s\n", line.constData()) < 0 && FWriteError == 0)
        FWriteError = errno;
    const qint64 now = nanoseconds / 1000000;
    if (now - FLastFlushMs >= kFlushIntervalMs) {
        FLastFlushMs = now;
        if (std::fflush(FFile) != 0 && FWriteError == 0)
            FWriteError = errno;
    }
}

bool TTraceLog::Close(QString& error) {
    const std::lock_guard lock(FMutex);
    if (!FFile)
        return true;
    if ((FOwnsFile ? std::fclose(FFile) : std::fflush(FFile)) != 0 && FWriteError == 0)
        FWriteError = errno;
    FFile = nullptr;
    if (FWriteError == 0)
        return true;
    error = QStringLiteral("cannot write the trace to %1: %2")
                .arg(FOwnsFile ? FFileName : QStringLiteral("standard error"),
                     QString::fromLocal8Bit(std::strerror(FWriteError)));
    return false;
}
