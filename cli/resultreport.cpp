#include "cli/resultreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Most serious first. An interruption concerns the whole run; a bad image every board; then what
// leaves a board's state unknown, before what says it is the wrong chip or holds the wrong bytes.
constexpr int kSeverity[] = {
    esUsage,         esInterrupted,     esImageError, esDevicesError, esCommunicationFailure,
    esNotIdentified, esCompareMismatch, esSuccess};

int Rank(int status) {
    const auto* found = std::find(std::begin(kSeverity), std::end(kSeverity), status);
    return int(found - std::begin(kSeverity));
}

QString OneLine(const QStringList& lines) {
    return lines.join(QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

QString Chip(const TBoardResult& board) {
    if (board.Manufacturer.isEmpty() && board.DeviceId.isEmpty())
        return QStringLiteral("-");
    return board.Manufacturer + QLatin1Char(' ') + board.DeviceId;
}

} // namespace

int RunExitStatus(const std::vector<TBoardResult>& boards) {
    int status = esSuccess;
    for (const TBoardResult& board : boards)
        if (Rank(board.ExitStatus) < Rank(status))
            status = board.ExitStatus;
    return status;
}

QString OutcomeKind(int exitStatus) {
    switch (exitStatus) {
    case esSuccess:
        return QStringLiteral("ok");
    case esCompareMismatch:
        return QStringLiteral("compare_error");
    case esImageError:
        return QStringLiteral("image_error");
    case esDevicesError:
        return QStringLiteral("device_list_error");
    case esNotIdentified:
        return QStringLiteral("not_identified");
    case esInterrupted:
        return QStringLiteral("interrupted");
    case esUsage:
        return QStringLiteral("usage");
    default:
        return QStringLiteral("communication");
    }
}

void PrintSummary(const std::vector<TBoardResult>& boards, std::FILE* out) {
    const QStringList header{QStringLiteral("PORT"), QStringLiteral("CHIP"), QStringLiteral("OUTCOME"),
                             QStringLiteral("TIME")};
    std::vector<QStringList> rows{header};
    for (const TBoardResult& board : boards)
        rows.push_back({ShownName(board.Port), Chip(board), OneLine(board.Lines),
                        QStringLiteral("%1 s").arg(board.Seconds, 0, 'f', 1)});
    int widths[3] = {};
    for (const QStringList& row : rows)
        for (int column = 0; column < 3; ++column)
            widths[column] = std::max(widths[column], int(row.at(column).size()));
    for (const QStringList& row : rows) {
        QString line;
        for (int column = 0; column < 3; ++column)
            line += row.at(column).leftJustified(widths[column]) + QStringLiteral("  ");
        line += row.at(3).rightJustified(8);
        std::fprintf(out, "%s\n", line.toLocal8Bit().constData());
    }
    const auto failed = std::count_if(boards.begin(), boards.end(), [](const TBoardResult& board) {
        return board.ExitStatus != esSuccess;
    });
    if (failed == 0)
        std::fprintf(out, "All %zu boards OK.\n", boards.size());
    else
        std::fprintf(out, "%zu of %zu boards failed.\n", size_t(failed), boards.size());
    std::fflush(out);
}

void PrintJsonReport(int exitStatus, const std::vector<TBoardResult>& boards, const QString& message) {
    QJsonArray list;
    for (const TBoardResult& board : boards) {
        QJsonObject object{
            {QStringLiteral("port"), board.Port},
            {QStringLiteral("manufacturer"), board.Manufacturer},
            {QStringLiteral("device_id"), board.DeviceId},
            {QStringLiteral("operation"), board.Operation},
            {QStringLiteral("outcome"), OutcomeKind(board.ExitStatus)},
            {QStringLiteral("message"), board.Lines.join(QLatin1Char('\n'))},
            {QStringLiteral("exit_status"), board.ExitStatus},
            {QStringLiteral("bytes"), qint64(board.Bytes)},
            {QStringLiteral("seconds"), std::round(board.Seconds * 1000.0) / 1000.0},
            {QStringLiteral("retries"), board.Retries},
        };
        if (board.Compare)
            object.insert(QStringLiteral("compare"),
                          QJsonObject{{QStringLiteral("address"), qint64(board.Compare->Address)},
                                      {QStringLiteral("expected"), int(board.Compare->Expected)},
                                      {QStringLiteral("actual"), int(board.Compare->Actual)}});
        if (!board.FlashState.isEmpty())
            object.insert(QStringLiteral("flash_state"), board.FlashState);
        if (!board.Format.isEmpty())
            object.insert(QStringLiteral("format"), board.Format);
        list.append(object);
    }
    QJsonObject run{{QStringLiteral("exit_status"), exitStatus}, {QStringLiteral("boards"), list}};
    if (!message.isEmpty())
        run.insert(QStringLiteral("message"), message);
    const QByteArray text = QJsonDocument(run).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}
