#pragma once
// The window's session log: one line a run (time, operation, image, outcome) and the trace of the
// last run in tervolt-cli's --trace format. It lives as long as the window; nothing is written to
// disk unless the user saves it.

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

class TCommunicationUnit;

class TSessionLog {
public:
    // The trace of one run is cut after this many bytes of text (a board that floods the line must
    // not fill the memory; a run of a few hundred KiB stays below it).
    static constexpr qsizetype kMaxTraceBytes = 8 * 1024 * 1024;

    void AddRun(const QString& line);
    QStringList Runs() const { return FRuns; }
    QString Trace() const;
    // Runs, then the trace of the last one: what "Save…" writes.
    QString Text() const;

    // Records what goes over `unit` from now on as the last run's trace, until EndTrace.
    void BeginTrace(TCommunicationUnit& unit, const QString& port);
    void EndTrace();

private:
    void Record(char direction, const QByteArray& bytes);

    QStringList FRuns;
    QByteArrayList FTrace;
    qsizetype FTraceBytes = 0;
    QByteArray FPort;
    QElapsedTimer FClock;
    TCommunicationUnit* FUnit = nullptr;
};

// Traces a run for as long as it lives.
class TSessionTraceScope {
public:
    TSessionTraceScope(TSessionLog& log, TCommunicationUnit& unit, const QString& port) : FLog(log) {
        FLog.BeginTrace(unit, port);
    }
    ~TSessionTraceScope() { FLog.EndTrace(); }
    TSessionTraceScope(const TSessionTraceScope&) = delete;
    TSessionTraceScope& operator=(const TSessionTraceScope&) = delete;

private:
    TSessionLog& FLog;
};
