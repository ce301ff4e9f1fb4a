#include "app/windowsessionlog.h"

#include "serial/communit.h"
#include "serial/tracetext.h"

void TSessionLog::AddRun(const QString& line) {
    FRuns.append(line);
}

QString TSessionLog::Trace() const {
    return QString::fromLatin1(FTrace.join('\n'));
}

QString TSessionLog::Text() const {
    if (FRuns.isEmpty())
        return QStringLiteral("No run in this session yet.\n");
    QString text = FRuns.join(QLatin1Char('\n'));
    if (!FTrace.isEmpty())
        text += QStringLiteral("\n\nTrace of the last run:\n") + Trace();
    return text + QLatin1Char('\n');
}

void TSessionLog::BeginTrace(TCommunicationUnit& unit, const QString& port) {
    EndTrace();
    FTrace.clear();
    FTraceBytes = 0;
    FPort = port.toUtf8();
    FClock.start();
    FUnit = &unit;
    FUnit->OnTraffic = [this](bool sent, const QByteArray& bytes) { Record(sent ? '>' : '<', bytes); };
}

void TSessionLog::EndTrace() {
    if (FUnit != nullptr)
        FUnit->OnTraffic = nullptr;
    FUnit = nullptr;
}

void TSessionLog::Record(char direction, const QByteArray& bytes) {
    if (FTraceBytes > kMaxTraceBytes)
        return;
    const double milliseconds = double(FClock.nsecsElapsed()) / 1e6;
    FTrace.append(TraceLine(milliseconds, FPort, direction, TraceReadable(bytes)));
    FTraceBytes += FTrace.last().size();
    if (FTraceBytes > kMaxTraceBytes)
        FTrace.append(TraceLine(milliseconds, FPort, '#', "trace cut here"));
}
