#include "protocol/answerbook.h"

#include "protocol/commandtext.h"

#include <algorithm>

QByteArray EchoOf(const QByteArray& reply) {
    const qsizetype lf = reply.indexOf('\n');
    QByteArray first = lf < 0 ? reply : reply.left(lf);
    if (first.endsWith('\r'))
        first.chop(1);
    return first;
}

QByteArray ResultOf(const QByteArray& reply) {
    const qsizetype lf = reply.indexOf('\n');
    return lf >= 0 ? reply.mid(lf + 1) : reply;
}

bool TAnswerBook::Sent(const QByteArray& line) {
    FOwed.push_back(line);
    bool keptAll = true;
    if (FOwed.size() > kMaxOwed) {
        keptAll = FOwed.front().isEmpty();
        FOwed.pop_front();
    }
    if (!line.isEmpty()) {
        std::erase(FHistory, line);
        FHistory.push_back(line);
        if (FHistory.size() > kHistoryLength)
            FHistory.erase(FHistory.begin());
    }
    return keptAll;
}

TReplyAccount TAnswerBook::Account(const QByteArray& reply) {
    const QByteArray echo = EchoOf(reply);
    const QByteArray result = ResultOf(reply);
    if (!echo.isEmpty()) {
        const auto owed = std::find(FOwed.begin(), FOwed.end(), echo);
        if (owed != FOwed.end()) {
            FEchoes = true;
            return Settle(owed);
        }
        // The echo of a command of ours that owes nothing: a second answer to it.
        if (std::find(FHistory.begin(), FHistory.end(), echo) != FHistory.end())
            return Unsettled(TReplyKind::rkSurplus);
        if (FEchoes)
            return Unsettled(TReplyKind::rkNotSent);
    } else if (FEchoes && result != kPingResult) {
        // On an echoing board only a ping's answer starts with an empty line.
        return Unsettled(TReplyKind::rkUnechoed);
    }
    // No echo to go by: a ping's result is an empty line, every other command's is not.
    const bool pingResult = result == kPingResult;
    const auto owed = std::find_if(FOwed.begin(), FOwed.end(), [pingResult](const QByteArray& line) {
        return line.isEmpty() == pingResult;
    });
    if (owed == FOwed.end())
        return Unsettled(TReplyKind::rkSurplus);
    return Settle(owed);
}

TReplyAccount TAnswerBook::Settle(std::deque<QByteArray>::iterator answered) {
    TReplyAccount account{TReplyKind::rkAnswer, *answered};
    // Answers come in order: the older owed commands were lost on the way.
    FOwed.erase(FOwed.begin(), answered + 1);
    // The first answer on a line opens its books: what came before it was the board's own.
    FOpen = true;
    return account;
}

TReplyAccount TAnswerBook::Unsettled(TReplyKind kind) const {
    return {FOpen ? kind : TReplyKind::rkUnasked, {}};
}

bool TAnswerBook::OwesOtherThanPings() const {
    return std::any_of(FOwed.begin(), FOwed.end(), [](const QByteArray& line) { return !line.isEmpty(); });
}

void TAnswerBook::Clear() {
    FOwed.clear();
    FHistory.clear();
    FEchoes = false;
    FOpen = false;
}
