#include "protocol/comm_protocol.h"

#include "protocol/commandtext.h"
#include "protocol/replyscan.h"
#include "serial/communit.h"
#include "serial/cpdrv.h"

#include <QStringList>

#include <algorithm>

namespace {

constexpr std::uint32_t kBitsPerChar = 10;
const QString kInterruptedText = QStringLiteral("Interrupted while waiting for the board's answer.");
// What follows the echo in the shortest answer: CR LF, an empty result line's CR LF, and '>'.
constexpr std::uint32_t kShortestAnswerTail = 5;
// Closing pings tried when an answer is taken by none (a garbled one).
constexpr int kCloseAttempts = 3;
// An echo as a failure shows it: enough to tell the command and its address.
constexpr qsizetype kMaxShownEchoChars = 32;

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

// Sets a flag for the length of a scope and gives it back after.
class TFlagScope {
public:
    TFlagScope(bool& flag, bool value) : FFlag(flag), FBefore(flag) { FFlag = value; }
    ~TFlagScope() { FFlag = FBefore; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
    bool FBefore;
};

// The board's text on one line, short enough for a message box or a terminal line.
QString OneLine(const QByteArray& text, qsizetype maxChars = 80) {
    QString line;
    for (const char c : text.trimmed()) {
        const auto byte = static_cast<unsigned char>(c);
        line += byte >= 0x20 && byte < 0x7F ? QChar(c) : QChar(u' ');
    }
    line = line.simplified();
    if (line.size() > maxChars)
        line = line.left(maxChars - 3) + QStringLiteral("...");
    return line;
}

// A reply that no command asked for, as the failure names it: its first line and what it says.
QString SurplusText(const QByteArray& reply) {
    QStringList parts;
    for (const QString& part : {OneLine(EchoOf(reply), kMaxShownEchoChars), OneLine(ResultOf(reply))}) {
        if (!part.isEmpty())
            parts << QLatin1Char('"') + part + QLatin1Char('"');
    }
    if (parts.isEmpty())
        return QStringLiteral("The board sent an empty reply that no command was waiting for.");
    return QStringLiteral("The board sent an answer that no command was waiting for: %1.")
        .arg(parts.join(u' '));
}

// The command line as the monitor echoes it: without the closing CR.
QByteArray LineOf(const QByteArray& command) {
    return command.endsWith(kCommandEnd) ? command.chopped(1) : command;
}

} // namespace

TCommProtocol::TCommProtocol(std::unique_ptr<TLinkClock> clock)
    : FCommUnit(std::make_unique<TCommunicationUnit>()), FClock(std::move(clock)) {}

TCommProtocol::~TCommProtocol() {
    FCommUnit.reset();
}

std::uint32_t TCommProtocol::TimeoutFor(const QByteArray& command, std::uint32_t baseMs) const {
    return std::uint32_t(std::min<std::uint64_t>(baseMs + LineMs(AnswerChars(command)), 0x7FFFFFFF));
}

// The line itself, its echo (CR LF for CR), the result line with its CR LF, and the prompt.
std::uint64_t TCommProtocol::AnswerChars(const QByteArray& command) {
    return std::uint64_t(command.size()) * 2 + 1 + kLongestResultChars + 3;
}

std::uint64_t TCommProtocol::LineMs(std::uint64_t chars) const {
    const std::uint64_t bitsPerSecond = FCommUnit->CommPortDriver()->BitsPerSecond();
    if (bitsPerSecond == 0)
        return 0;
    return (chars * kBitsPerChar * 1000 + bitsPerSecond - 1) / bitsPerSecond;
}

TCommProtocol::TTake TCommProtocol::Fail(const QString& reason, bool lineFailure) {
    FLastFailure = reason;
    FLineFailed = lineFailure;
    FBoardRefused = false;
    return TTake::tkFailed;
}

TCommProtocol::TTake TCommProtocol::TakeQueued() {
    // Replies dropped unread cannot be accounted for.
    if (const std::uint64_t dropped = FCommUnit->RepliesDropped(); dropped != FDroppedSeen) {
        const std::uint64_t count = dropped - FDroppedSeen;
        FDroppedSeen = dropped;
        FResyncForced = true;
        NoteOrderDoubt(QStringLiteral("sent more replies than it was asked for"));
        if (FBook.IsOpen())
            return Fail(
                QStringLiteral("The board sent more replies than it was asked for; %1 were dropped unread.")
                    .arg(count),
                true);
    }
    QByteArray reply;
    while (FCommUnit->TakeReply(reply)) {
        const TReplyAccount account = FBook.Account(reply);
        switch (account.Kind) {
        case TReplyKind::rkAnswer:
            // Closing a run, the next reply must be a ping's answer.
            if (FClosing && !account.Line.isEmpty())
                return Fail(SurplusText(reply), true);
            if (FAwaiting && account.Line != FAwaitedLine && !(FAlsoPing && account.Line.isEmpty()))
                continue; // the late answer of another command
            FAnsweredLine = account.Line;
            FReply = ResultOf(reply);
            return TTake::tkAnswer;
        case TReplyKind::rkUnasked:
            FResyncForced = true;
            continue;
        case TReplyKind::rkSurplus:
            FResyncForced = true;
            NoteCompareError(reply);
            NoteOrderDoubt(QStringLiteral("sent an answer that no command was waiting for"));
            return Fail(SurplusText(reply), true);
        case TReplyKind::rkUnechoed:
            NoteCompareError(reply);
            return Fail(QStringLiteral("Not taken: the board answered without echoing the command (\"%1\").")
                            .arg(OneLine(ResultOf(reply))),
                        false);
        case TReplyKind::rkNotSent:
            // A mismatch reported on a line of its own, without an echo. Under the echo of a changed
            // command the board compared other bytes: that report says nothing of this block.
            if (EchoOf(reply).startsWith("Compare error")) {
                NoteCompareError(reply);
                return Fail(
                    QStringLiteral("Not taken: the board reported a mismatch without echoing the command "
                                   "(\"%1\").")
                        .arg(OneLine(EchoOf(reply))),
                    false);
            }
            return Fail(NotSentText(EchoOf(reply)), false);
        }
    }
    return TTake::tkNothing;
}

void TCommProtocol::NoteCompareError(const QByteArray& reply) {
    // Any line of it: a bare one-line report has no echo line before it.
    if (!FStrayCompareError.isEmpty())
        return;
    for (const QByteArray& line : reply.split('\n')) {
        if (line.startsWith("Compare error")) {
            FStrayCompareError = OneLine(line);
            FStrayCompareLine = line.endsWith('\r') ? line + '\n' : line + "\r\n";
            return;
        }
    }
}

QString TCommProtocol::NotSentText(const QByteArray& echo) {
    // The board echoes what it received: a command changed on the line may have been carried out.
    if (FBook.IsOpen() && FChangedCommand.isEmpty())
        FChangedCommand = QStringLiteral("The board echoed \"%1\", which was not sent: it may have carried "
                                         "out a command changed on the line.")
                              .arg(OneLine(echo, kMaxShownEchoChars));
    // Against the command it most likely is, the one awaited: where they part tells a line error.
    if (!FAwaitedLine.isEmpty() && echo.size() == FAwaitedLine.size()) {
        const auto differs = std::mismatch(echo.begin(), echo.end(), FAwaitedLine.begin()).first;
        return QStringLiteral("Not taken: the board echoed the command with a difference at character %1 (a "
                              "line error).")
            .arg(differs - echo.begin() + 1);
    }
    return QStringLiteral("Not taken: the board answered a command that was not sent (\"%1\").")
        .arg(OneLine(echo, kMaxShownEchoChars));
}

bool TCommProtocol::WaitForReply() {
    FTimedOut = false;
    FReply.clear();
    FAnsweredLine.clear();
    const TFlagScope waiting(FWaiting, true);
    const std::int64_t deadline = FClock->NowMs() + std::int64_t(FReplyTimeout);
    const std::uint64_t overflowsAtStart = FAwaiting ? FOverflowsAtSend : FCommUnit->Overflows();
    bool lastLook = false;
    for (;;) {
        // Replies first: one that is complete wins over a time-out that passed meanwhile (a modal box
        // opened during the wait can hold the loop well past it).
        QByteArray reply;
        if (!FAwaiting && FCommUnit->TakeReply(reply)) {
            FBook.Account(reply);
            FReply = ResultOf(reply);
            return true;
        }
        const TTake taken = FAwaiting ? TakeQueued() : TTake::tkNothing;
        if (taken != TTake::tkNothing)
            return taken == TTake::tkAnswer;
        // Text longer than any answer: whatever it is, it is not this command's answer.
        if (FCommUnit->Overflows() != overflowsAtStart) {
            FResyncForced = true;
            return false;
        }
        if (FClock->NowMs() >= deadline) {
            // Bytes that came in while the thread was held are read before the time-out is called.
            if (!lastLook) {
                lastLook = true;
                FClock->WaitUntil(deadline);
                continue;
            }
            FTimedOut = true;
            ++FTimeOuts;
            // Without echo a late answer can only be matched by order, and the order is now in doubt.
            NoteOrderDoubt(QStringLiteral("an answer came late"));
            return false;
        }
        if (Aborted())
            return false;
        // A line that went away (an unplugged adapter) will not answer: fail now, not at the time-out.
        if (!FCommUnit->CommPortDriver()->Connected())
            return false;
        // Blocks until the next event (received bytes, a hang-up, the deadline) instead of spinning.
        FClock->WaitUntil(deadline);
    }
}

void TCommProtocol::ForgetEarlierLine() {
    // A line opened anew (another port, a board plugged in again) owes nothing from the last one.
    const std::uint64_t connection = FCommUnit->CommPortDriver()->Connections();
    if (connection == FConnection)
        return;
    FConnection = connection;
    FBook.Clear();
    FResyncForced = false;
}

TCommProtocol::TTake TCommProtocol::Send(const QByteArray& command) {
    // Replies that closed before this command goes out are accounted for, never taken as its answer.
    if (const TTake taken = TakeQueued(); taken != TTake::tkNothing)
        return taken;
    FOverflowsAtSend = FCommUnit->Overflows();
    if (!FCommUnit->SendCommand(command)) {
        // Part of the line may be on its way; the board would take it as the front of the next one.
        FResyncForced = true;
        return Fail(QStringLiteral("The command could not be sent."), false);
    }
    const QByteArray line = LineOf(command);
    // A block written a second time: the board may have carried out both, and the answer taken may
    // be the first one's while the second was changed on the line.
    if (FBook.IsOpen() && line == FLastSentLine && line.startsWith("P PROG") && FChangedCommand.isEmpty())
        FChangedCommand =
            QStringLiteral("The block at 0x%1 was sent again; the board may have carried out both, "
                           "one of them changed on the line.")
                .arg(QString::fromLatin1(line.mid(7, line.indexOf(' ', 7) - 7)));
    if (!line.isEmpty())
        FLastSentLine = line;
    if (!FBook.Sent(line))
        FResyncForced = true;
    return TTake::tkNothing;
}

TCommProtocol::TTake TCommProtocol::CatchUp(const QByteArray& line) {
    // A monitor answers one line after the other: once it answers a ping, everything sent before that
    // ping has been answered or was lost. The answer to `line` itself is taken when it comes.
    const QByteArray ping = PingCommand();
    const TFlagScope alsoPing(FAlsoPing, true);
    // Every owed answer may still be on its way; at a low rate they alone outlast the fixed budget.
    std::uint64_t owedChars = AnswerChars(ping);
    for (const QByteArray& owed : FBook.Owed())
        owedChars += AnswerChars(owed);
    const std::uint64_t budgetMs = std::min<std::uint64_t>(kResyncBudgetMs + LineMs(owedChars), 0x7FFFFFFF);
    const std::int64_t start = FClock->NowMs();
    bool pingOut = false;
    while (std::uint64_t(FClock->NowMs() - start) < budgetMs) {
        TTake taken = TTake::tkNothing;
        if (!pingOut) {
            taken = Send(ping);
            pingOut = taken == TTake::tkNothing;
        }
        if (taken == TTake::tkNothing) {
            FReplyTimeout = TimeoutFor(ping, kPingTimeoutMs);
            if (WaitForReply()) {
                taken = TTake::tkAnswer;
            } else if (FTimedOut && !Aborted()) {
                pingOut = false; // silent for a whole ping time-out: ask again
                continue;
            } else {
                return TTake::tkFailed; // line lost, flooded, or a reply that fails the command
            }
        }
        if (taken != TTake::tkAnswer)
            return taken;
        FResyncForced = false;
        if (FAnsweredLine == line)
            return taken;
        if (!FBook.OwesOtherThanPings())
            return TTake::tkNothing;
    }
    FLastFailure = QStringLiteral("The board did not catch up with earlier commands within %1 s.")
                       .arg(double(budgetMs) / 1000.0, 0, 'f', 1);
    return TTake::tkFailed;
}

bool TCommProtocol::Exchange(const QByteArray& command, std::uint32_t baseTimeoutMs) {
    FLastFailure.clear();
    FBoardRefused = false;
    FLineFailed = false;
    const QByteArray line = LineOf(command);
    ForgetEarlierLine();
    const std::uint64_t overflowsAtStart = FCommUnit->Overflows();
    FAwaitedLine = line;
    const TFlagScope awaiting(FAwaiting, true);
    // A retry's earlier attempt may have been answered meanwhile; anything else that came in is
    // accounted for before the command goes out.
    TTake taken = TakeQueued();
    if (taken == TTake::tkNothing && (FResyncForced || FBook.OwesOtherThanPings()))
        taken = CatchUp(line);
    if (taken == TTake::tkNothing)
        taken = Send(command);
    if (taken == TTake::tkNothing) {
        FReplyTimeout = TimeoutFor(command, baseTimeoutMs);
        // An echoing monitor's answer holds at least the echo, CR LF, an empty result, CR LF and '>':
        // the driver need not wake for every batch of it.
        TCommPortDriver& driver = *FCommUnit->CommPortDriver();
        driver.ExpectAtLeast(
            FBook.Echoes() && !line.isEmpty() ? std::uint32_t(line.size()) + kShortestAnswerTail : 0);
        taken = WaitForReply() ? TTake::tkAnswer : TTake::tkFailed;
        driver.ExpectAtLeast(0);
    }
    if (taken == TTake::tkAnswer)
        return true;
    if (Aborted()) {
        FLastFailure = kInterruptedText;
    } else if (!FCommUnit->CommPortDriver()->Connected()) {
        // Nothing more can be sent or received: the device hung up, and no retry brings it back.
        Fail(QStringLiteral("The device hung up. The line was lost."), true);
    } else if (!FLineFailed && (FCommUnit->Overflows() != overflowsAtStart || FCommUnit->InFlood())) {
        FLastFailure = QStringLiteral("The board sent more than %1 bytes without ending its answer.")
                           .arg(TCommunicationUnit::kMaxReplyBytes);
    } else if (FLastFailure.isEmpty()) {
        FLastFailure =
            QStringLiteral("No answer within %1 s.").arg(double(FReplyTimeout) / 1000.0, 0, 'f', 1);
    }
    return false;
}

void TCommProtocol::BeginRun() {
    ForgetEarlierLine();
    // What the board sent before the run's first command was its own: settle what it answered and
    // let the rest go, then account for every reply.
    FBook.Close();
    FAwaitedLine.clear();
    const TFlagScope awaiting(FAwaiting, true);
    while (TakeQueued() != TTake::tkNothing) {
    }
    FLastFailure.clear();
    FLineFailed = false;
    FBoardRefused = false;
    FStrayCompareError.clear();
    FStrayCompareLine.clear();
    FChangedCommand.clear();
    FOrderDoubt.clear();
    FClosedInStep = false;
    FLastSentLine.clear();
    FBook.Open();
}

bool TCommProtocol::CloseRun() {
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired())
        return false;
    const TFlagScope closing(FClosing, true);
    bool answered = false;
    // A ping lost on the line is asked again within the catch-up budget; an answer taken by none (a
    // garbled one) is a failure of the ping, and tried again; a line failure is final.
    for (int attempt = 0; attempt < kCloseAttempts && !answered; ++attempt) {
        FResyncForced = true;
        answered = Exchange(PingCommand(), kPingTimeoutMs) && (FReply == kPingResult || Refused(kPingResult));
        if (FLineFailed)
            return false;
    }
    if (!answered)
        return false;
    // Whatever came in with the ping's answer is looked at too; nothing waits for more.
    FAwaitedLine.clear();
    const TFlagScope awaiting(FAwaiting, true);
    for (TTake taken = TakeQueued(); taken != TTake::tkNothing; taken = TakeQueued()) {
        if (taken == TTake::tkFailed)
            return false;
    }
    // Whatever took its place, a mismatch the board reported means the board is not known to be good.
    if (!FStrayCompareError.isEmpty()) {
        Fail(QStringLiteral("The board reported \"%1\" in an answer that no command took.")
                 .arg(FStrayCompareError),
             true);
        return false;
    }
    FBook.Close();
    FClosedInStep = true;
    return true;
}

bool TCommProtocol::StrayMismatch(TCompareResult& result) const {
    if (FStrayCompareLine.isEmpty() || !ScanCompareReply(FStrayCompareLine, result))
        return false;
    result.CompareOK = false;
    return true;
}

void TCommProtocol::NoteOrderDoubt(const QString& why) {
    if (FBook.IsOpen() && !FBook.Echoes() && FOrderDoubt.isEmpty())
        FOrderDoubt = QStringLiteral("The board does not echo its commands and %1, so its answers may belong "
                                     "to other commands.")
                          .arg(why);
}

// A noisy line changes a character or two of the awaited answer, or brings bytes no monitor writes;
// a board that refuses says so in text of its own ("Address out of range").
bool TCommProtocol::LooksGarbled(const QByteArray& reply, const QByteArray& expected) {
    for (const char c : reply)
        if ((c < ' ' || c > '~') && c != '\r' && c != '\n')
            return true;
    if (expected.isEmpty() || reply.size() != expected.size())
        return false;
    qsizetype differing = 0;
    for (qsizetype i = 0; i < reply.size(); ++i)
        differing += reply.at(i) != expected.at(i) ? 1 : 0;
    return differing <= kGarbledCharsAtMost;
}

bool TCommProtocol::Refused(const QByteArray& expected) {
    const QString answer = OneLine(FReply);
    // Without echo, an answer that does not fit may be another command's, or text in the place of one
    // (a restart's banner) whose real answer is still to come: the rest may be shifted.
    NoteOrderDoubt(QStringLiteral("answered \"%1\" where another answer was due").arg(answer));
    FLastFailure = answer.isEmpty() ? QStringLiteral("The board answered with an empty line.")
                                    : QStringLiteral("The board answered: %1").arg(answer);
    FBoardRefused = !answer.isEmpty() && !LooksGarbled(FReply, expected);
    return false;
}

bool TCommProtocol::ExchangeExpecting(const QByteArray& command, std::uint32_t baseTimeoutMs,
                                      const QByteArray& accepted) {
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(command, baseTimeoutMs))
        return false;
    return FReply == accepted || Refused(accepted);
}

bool TCommProtocol::PingTarget() {
    return ExchangeExpecting(PingCommand(), kPingTimeoutMs, kPingResult);
}

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
    if (ScanCompareReply(FReply, result))
        return true;
    // A mismatch inside an answer that is none (two results run together) is still a mismatch.
    NoteCompareError(FReply);
    return Refused("Compare OK\r\n");
}
