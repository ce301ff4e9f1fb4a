#include "target/comm_protocol.h"

#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "target/commandtext.h"
#include "target/replyscan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace {

constexpr std::size_t kEchoHistoryLength = 8;
constexpr std::uint32_t kBitsPerChar = 10;
// What follows the echo in the shortest answer: CR LF, an empty result line's CR LF, and '>'.
constexpr std::uint32_t kShortestAnswerTail = 5;

// While one command waits, any other is refused: they would share the one reply timer and answer.
class TCommandGuard {
public:
    explicit TCommandGuard(bool& active) : FActive(active), FOwner(!active) { FActive = true; }
    ~TCommandGuard() {
        if (FOwner)
            FActive = false;
    }
    bool Acquired() const { return FOwner; }

private:
    bool& FActive;
    bool FOwner;
};

// The board's answer on one line, short enough for a message box or a terminal line.
QString OneLine(const QByteArray& reply) {
    constexpr qsizetype kMaxShownChars = 80;
    QString text;
    for (const char c : reply.trimmed()) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x20 && byte < 0x7F ? QChar(c) : QChar(u' ');
    }
    text = text.simplified();
    if (text.size() > kMaxShownChars)
        text = text.left(kMaxShownChars - 3) + QStringLiteral("...");
    return text;
}

// The command line as the monitor echoes it: without the closing CR.
QByteArray LineOf(const QByteArray& command) {
    return command.endsWith(kCommandEnd) ? command.chopped(1) : command;
}

// An answer without its first line; an answer without a line end is kept whole.
QByteArray ResultOf(const QByteArray& reply) {
    const qsizetype lf = reply.indexOf('\n');
    return lf >= 0 ? reply.mid(lf + 1) : reply;
}

// The first line of an answer, without its line end.
QByteArray EchoOf(const QByteArray& reply) {
    const qsizetype lf = reply.indexOf('\n');
    QByteArray first = lf < 0 ? reply : reply.left(lf);
    if (first.endsWith('\r'))
        first.chop(1);
    return first;
}

} // namespace

TCommProtocol::TCommProtocol() : FCommUnit(std::make_unique<TCommunicationUnit>()) {
    FReplyTimeout = kCommandTimeoutMs;
    FReplyTimer = std::make_unique<QTimer>();
    FReplyTimer->setTimerType(Qt::PreciseTimer);
    FReplyTimer->setInterval(kCommandTimeoutMs);
    QObject::connect(FReplyTimer.get(), &QTimer::timeout, [this] { ReplyTimerTimer(); });
}

TCommProtocol::~TCommProtocol() {
    FReplyTimer.reset();
    FCommUnit.reset();
}

void TCommProtocol::ReplyTimerTimer() {
    FReplyTimer->stop();
    FTimedOut = true;
}

std::uint32_t TCommProtocol::TimeoutFor(const QByteArray& command, std::uint32_t baseMs) const {
    const TCommPortDriver& driver = *FCommUnit->CommPortDriver();
    const std::uint64_t bitsPerSecond =
        driver.BaudRate() == brCustom ? driver.BaudRateValue() : BaudRateOf(driver.BaudRate());
    if (bitsPerSecond == 0)
        return baseMs;
    // The line itself, its echo (CR LF for CR), the result line with its CR LF, and the prompt.
    const std::uint64_t chars = std::uint64_t(command.size()) * 2 + 1 + kLongestResultChars + 3;
    const std::uint64_t lineMs = (chars * kBitsPerChar * 1000 + bitsPerSecond - 1) / bitsPerSecond;
    return std::uint32_t(std::min<std::uint64_t>(baseMs + lineMs, 0x7FFFFFFF));
}

bool TCommProtocol::OwesOtherThanPings() const {
    return std::any_of(FOwed.begin(), FOwed.end(), [](const QByteArray& line) { return !line.isEmpty(); });
}

std::optional<QByteArray> TCommProtocol::Account(const QByteArray& reply) {
    const QByteArray echo = EchoOf(reply);
    auto answered = FOwed.end();
    if (!echo.isEmpty()) {
        answered = std::find(FOwed.begin(), FOwed.end(), echo);
        // The echo of a command of ours that owes nothing: a second answer to it.
        if (answered == FOwed.end() &&
            std::find(FEchoHistory.begin(), FEchoHistory.end(), echo) != FEchoHistory.end())
            return std::nullopt;
    }
    if (answered == FOwed.end()) {
        // No echo to go by: a ping's result is an empty line, every other command's is not.
        const bool pingResult = ResultOf(reply) == "\r\n";
        answered = std::find_if(FOwed.begin(), FOwed.end(),
                                [pingResult](const QByteArray& line) { return line.isEmpty() == pingResult; });
    }
    if (answered == FOwed.end()) {
        FResyncForced = true;
        return std::nullopt;
    }
    QByteArray line = *answered;
    // Answers come in order: the older owed commands were lost on the way.
    FOwed.erase(FOwed.begin(), answered + 1);
    return line;
}

bool TCommProtocol::WaitForReply() {
    FTimedOut = false;
    FReply.clear();
    FAnsweredLine.clear();
    FReplyTimer->setInterval(int(std::min<std::uint32_t>(FReplyTimeout, 0x7FFFFFFF)));
    FReplyTimer->start();
    const std::uint64_t overflowsAtStart = FWaitingForLine ? FOverflowsAtSend : FCommUnit->Overflows();
    for (;;) {
        // Replies first: one that is complete wins over a time-out that passed meanwhile (a modal box
        // opened during the wait can hold the loop well past it).
        QByteArray reply;
        while (FCommUnit->TakeReply(reply)) {
            const std::optional<QByteArray> line = Account(reply);
            if (FWaitingForLine &&
                (!line || (*line != FWaitingLine && !(FAlsoPing && line->isEmpty()))))
                continue; // the late answer of another command
            FReplyTimer->stop();
            FTimedOut = false;
            FAnsweredLine = line.value_or(QByteArray());
            FReply = ResultOf(reply);
            // Whether this monitor echoes: then the next answer's length is known in advance.
            if (line && !line->isEmpty())
                FMonitorEchoes = EchoOf(reply) == *line;
            return true;
        }
        // Text longer than any answer: whatever it is, it is not this command's answer.
        if (FCommUnit->Overflows() != overflowsAtStart) {
            FReplyTimer->stop();
            FResyncForced = true;
            return false;
        }
        if (FTimedOut)
            return false;
        // A line that went away (an unplugged adapter) will not answer: fail now, not at the time-out.
        if (!FCommUnit->CommPortDriver()->Connected()) {
            FReplyTimer->stop();
            return false;
        }
        // Blocks until the next event (a poll tick, received bytes, the reply timer) instead of spinning.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void TCommProtocol::ForgetEarlierLine() {
    // A line opened anew (another port, a board plugged in again) owes nothing from the last one.
    const std::uint64_t connection = FCommUnit->CommPortDriver()->Connections();
    if (connection == FConnection)
        return;
    FConnection = connection;
    FOwed.clear();
    FEchoHistory.clear();
    FResyncForced = false;
    FMonitorEchoes = false;
}

bool TCommProtocol::Send(const QByteArray& command) {
    // Replies that closed before this command went out are accounted for, never taken as its answer.
    QByteArray reply;
    while (FCommUnit->TakeReply(reply))
        Account(reply);
    ForgetEarlierLine();
    if (FCommUnit->RepliesDropped() != FDroppedSeen) {
        FDroppedSeen = FCommUnit->RepliesDropped();
        FResyncForced = true;
    }
    FOverflowsAtSend = FCommUnit->Overflows();
    try {
        FCommUnit->SendCommand(command);
    } catch (const EComUnitError&) {
        // Part of the line may be on its way; the board would take it as the front of the next one.
        FResyncForced = true;
        return false;
    }
    const QByteArray line = LineOf(command);
    FOwed.push_back(line);
    if (FOwed.size() > kMaxOwedAnswers) {
        if (!FOwed.front().isEmpty())
            FResyncForced = true;
        FOwed.pop_front();
    }
    if (!line.isEmpty()) {
        std::erase(FEchoHistory, line);
        FEchoHistory.push_back(line);
        if (FEchoHistory.size() > kEchoHistoryLength)
            FEchoHistory.erase(FEchoHistory.begin());
    }
    return true;
}

TCommProtocol::TCatchUp TCommProtocol::CatchUp(const QByteArray& line) {
    // A monitor answers one line after the other: once it answers a ping, everything sent before that
    // ping has been answered or was lost. The answer to `line` itself is taken when it comes.
    const QByteArray ping = PingCommand();
    QElapsedTimer clock;
    clock.start();
    bool sendPing = true;
    TCatchUp result = TCatchUp::cuFailed;
    FWaitingLine = line;
    FWaitingForLine = true;
    FAlsoPing = true;
    while (clock.elapsed() < kResyncBudgetMs) {
        if (sendPing && !Send(ping))
            break;
        sendPing = false;
        FReplyTimeout = TimeoutFor(ping, kPingTimeoutMs);
        if (!WaitForReply()) {
            if (!FTimedOut)
                break; // line lost or flooded
            sendPing = true; // silent for a whole ping time-out: ask again
            continue;
        }
        if (FAnsweredLine == line) {
            result = TCatchUp::cuAnswered;
            break;
        }
        FResyncForced = false;
        if (!OwesOtherThanPings()) {
            result = TCatchUp::cuInStep;
            break;
        }
    }
    FWaitingForLine = false;
    FAlsoPing = false;
    return result;
}

bool TCommProtocol::Exchange(const QByteArray& command, std::uint32_t baseTimeoutMs) {
    FLastFailure.clear();
    const QByteArray line = LineOf(command);
    bool answered = false;
    ForgetEarlierLine();
    if (FResyncForced || OwesOtherThanPings()) {
        const TCatchUp caughtUp = CatchUp(line);
        if (caughtUp == TCatchUp::cuFailed) {
            FLastFailure = !FCommUnit->CommPortDriver()->Connected()
                               ? QStringLiteral("The line was lost.")
                               : QStringLiteral("The board did not catch up with earlier commands within %1 ms.")
                                     .arg(kResyncBudgetMs);
            return false;
        }
        answered = caughtUp == TCatchUp::cuAnswered;
    }
    if (!answered) {
        if (!Send(command)) {
            FLastFailure = QStringLiteral("The command could not be sent.");
            return false;
        }
        FReplyTimeout = TimeoutFor(command, baseTimeoutMs);
        FWaitingLine = line;
        FWaitingForLine = true;
        // An echoing monitor's answer holds at least the echo, CR LF, an empty result, CR LF and '>':
        // the driver need not wake for every batch of it.
        TCommPortDriver& driver = *FCommUnit->CommPortDriver();
        driver.ExpectAtLeast(FMonitorEchoes && !line.isEmpty() ? std::uint32_t(line.size()) + kShortestAnswerTail : 0);
        answered = WaitForReply();
        driver.ExpectAtLeast(0);
        FWaitingForLine = false;
    }
    if (answered)
        return true;
    if (FCommUnit->Overflows() != FOverflowsAtSend)
        FLastFailure = QStringLiteral("The board sent more than %1 bytes without ending its answer.")
                           .arg(TCommunicationUnit::kMaxReplyBytes);
    else if (FTimedOut)
        FLastFailure =
            QStringLiteral("No answer within %1 s.").arg(double(FReplyTimeout) / 1000.0, 0, 'f', 1);
    else
        FLastFailure = QStringLiteral("The line was lost.");
    return false;
}

bool TCommProtocol::Refused() {
    const QString answer = OneLine(FReply);
    FLastFailure = answer.isEmpty() ? QStringLiteral("The board answered with an empty line.")
                                    : QStringLiteral("The board answered: %1").arg(answer);
    return false;
}

bool TCommProtocol::ExchangeExpecting(const QByteArray& command, std::uint32_t baseTimeoutMs,
                                      const QByteArray& accepted) {
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(command, baseTimeoutMs))
        return false;
    return FReply == accepted || Refused();
}

bool TCommProtocol::PingTarget() { return ExchangeExpecting(PingCommand(), kPingTimeoutMs, "\r\n"); }

bool TCommProtocol::IdentifyFlash(QByteArray& deviceId, QByteArray& manufacturer) {
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(IdentifyCommand(), kIdentifyTimeoutMs))
        return false;
    return ScanIdentifyReply(FReply, deviceId, manufacturer) || Refused();
}

bool TCommProtocol::InitFlash() {
    return ExchangeExpecting(InitCommand(), kCommandTimeoutMs, "FLASH is ready to programming.\r\n");
}

bool TCommProtocol::ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) {
    return ExchangeExpecting(ProgramBlockCommand(address, data, count), kCommandTimeoutMs, "Done\r\n");
}

bool TCommProtocol::ResetFlash() {
    return ExchangeExpecting(ResetCommand(), kCommandTimeoutMs, "FLASH reset done\r\n");
}

bool TCommProtocol::VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                                TCompareResult& result) {
    result.CompareOK = false;
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(VerifyBlockCommand(address, data, count), kCommandTimeoutMs))
        return false;
    if (FReply == "Compare OK\r\n") {
        result.CompareOK = true;
        return true;
    }
    return ScanCompareReply(FReply, result) || Refused();
}
