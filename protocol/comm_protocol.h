#pragma once
// The monitor's command protocol: one command line out, one framed answer back, bounded by a time-out.
// Widget-free, so that tervolt-cli can use it; the COM settings dialog derives from it.
//
// Every answer is matched to its own command, and every reply is accounted for (`TAnswerBook`): a
// late answer settles the command it belongs to and is never taken by a later one; once the board has
// echoed, an answer without its command's echo is taken by none; a reply that settles nothing while a
// run is under way fails it. Before a command other than the owed ones is sent, the protocol pings
// until the board has answered all of them or passed them by; a retry of a command that timed out
// first collects the answer to its earlier attempt. A run sends one extra command, the closing ping.

#include "protocol/answerbook.h"
#include "protocol/compareresult.h"
#include "protocol/flashtarget.h"
#include "protocol/linkclock.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class TCommunicationUnit;

// Each wait is its base plus the line time of the command and its answer. The presence ping is asked
// again and again while nothing answers, so its wait is short; once the board answered it, the chip
// query waits as long as every other command, at power-up, after Init and in a run alike.
inline constexpr std::uint16_t kPingTimeoutMs = 500;
inline constexpr std::uint16_t kCommandTimeoutMs = 5000;
inline constexpr std::uint16_t kIdentifyTimeoutMs = kCommandTimeoutMs;
// Longest wait for the board to catch up before a command gives up, besides the line time of the
// answers it owes; one ping per ping time-out.
inline constexpr std::uint32_t kResyncBudgetMs = kCommandTimeoutMs;
// Longest result line a monitor gives (a compare error report with room to spare), for the line time
// that a time-out must leave for the answer at low rates.
inline constexpr std::uint32_t kLongestResultChars = 80;

class TCommProtocol : public TFlashTarget {
public:
    // The clock the waits run on: the thread's event loop unless a simulation brings its own.
    explicit TCommProtocol(std::unique_ptr<TLinkClock> clock = CreateEventLoopClock());
    ~TCommProtocol() override;
    TCommProtocol(const TCommProtocol&) = delete;
    TCommProtocol& operator=(const TCommProtocol&) = delete;

    TCommunicationUnit* CommUnit() const { return FCommUnit.get(); }
    TLinkClock& Clock() const { return *FClock; }
    // A command is waiting for its answer.
    bool Waiting() const { return FWaiting; }
    bool TimedOut() const { return FTimedOut; }
    // Waits that ended at their time-out, since the protocol was made: tells "at once" from "after a
    // time-out" without a clock.
    std::uint64_t TimeOuts() const { return FTimeOuts; }
    // The answer to the last command without its first line.
    const QByteArray& Reply() const { return FReply; }
    std::uint32_t ReplyTimeout() const { return FReplyTimeout; }
    void SetReplyTimeout(std::uint32_t milliseconds) { FReplyTimeout = milliseconds; }

    // Waits for the answer to the command in flight; an answer that is there wins over a time-out
    // that passed while events were being handled elsewhere.
    bool WaitForReply();
    // A flag that, once set (Ctrl-C in the CLI), ends every wait at once as a failure. Whoever sets
    // it must also wake the waiting thread's event loop.
    void SetAbortFlag(const std::atomic<bool>* flag) { FAbort = flag; }

    bool PingTarget();
    bool IdentifyFlash(QByteArray& deviceId, QByteArray& manufacturer);
    bool InitFlash() override;
    bool ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) override;
    bool ResetFlash() override;
    bool VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                     TCompareResult& result) override;
    QString LastFailure() const override { return FLastFailure; }
    bool BoardRefused() const override { return FBoardRefused; }
    bool LineFailed() const override { return FLineFailed; }
    void BeginRun() override;
    // One ping whose answer must be the next reply: nothing owed or unasked may come before it.
    bool CloseRun() override;
    QString MayHaveDoneOther() const override { return FChangedCommand; }
    // A doubt noted before the board showed its echo is moot once it has: every answer is then matched by it.
    QString OrderInDoubt() const override { return FBook.Echoes() ? QString() : FOrderDoubt; }
    bool StrayMismatch(TCompareResult& result) const override;
    bool AnswersInStep() const override { return FBook.Echoes() || FClosedInStep; }

    // The time-out of a command: its base plus the time its line and the longest expected answer
    // take on the line at the current rate (10 bits a character).
    std::uint32_t TimeoutFor(const QByteArray& command, std::uint32_t baseMs) const;
    static std::uint64_t AnswerChars(const QByteArray& command);
    // What `chars` characters take on the line at its present rate.
    std::uint64_t LineMs(std::uint64_t chars) const;

private:
    // What a look at the received replies found: nothing for the command, its answer, or a failure.
    enum class TTake { tkNothing, tkAnswer, tkFailed };

    // Sends one command and waits for its answer; false on a refused, failed or unanswered command.
    bool Exchange(const QByteArray& command, std::uint32_t baseTimeoutMs);
    bool ExchangeExpecting(const QByteArray& command, std::uint32_t baseTimeoutMs,
                           const QByteArray& accepted);
    // Records the unaccepted answer as the failure; always false.
    // The answer was not the one awaited (`expected`, empty where several fit): notes why, and whether
    // the board refused or the line garbled it. Always false.
    bool Refused(const QByteArray& expected = QByteArray());
    static bool LooksGarbled(const QByteArray& reply, const QByteArray& expected);
    // A reply of the awaited length with at most this many characters changed is the line's fault.
    static constexpr qsizetype kGarbledCharsAtMost = 2;
    // On a board without echo, answers are matched by order alone: once that order is in doubt this
    // run, no result can be taken as it stands.
    void NoteOrderDoubt(const QString& why);
    // Accounts for the replies received so far, then writes the command (tkNothing) unless they
    // hold the awaited answer or a failure.
    TTake Send(const QByteArray& command);
    // Accounts for queued replies until the awaited answer or one that fails the command; the rest
    // stay queued.
    TTake TakeQueued();
    TTake Fail(const QString& reason, bool lineFailure);
    // Remembers a mismatch the board reported in a reply that no command took.
    void NoteCompareError(const QByteArray& reply);
    // Why an echo that is no command of ours was not taken; notes that the board may have carried
    // out a changed command.
    QString NotSentText(const QByteArray& echo);
    bool Aborted() const { return FAbort && FAbort->load(); }
    void ForgetEarlierLine();
    // Pings until no command but pings is owed; an answer to the awaited line that arrives meanwhile
    // is taken (tkAnswer).
    TTake CatchUp(const QByteArray& line);

    std::unique_ptr<TCommunicationUnit> FCommUnit;
    std::unique_ptr<TLinkClock> FClock;
    bool FTimedOut = false;
    std::uint64_t FTimeOuts = 0;
    bool FWaiting = false;
    bool FCommandActive = false;
    const std::atomic<bool>* FAbort = nullptr;
    QByteArray FReply;
    QString FLastFailure;
    bool FBoardRefused = false; // FLastFailure is the board's own answer to the command
    bool FLineFailed = false;
    std::uint32_t FReplyTimeout = kCommandTimeoutMs;

    TAnswerBook FBook;
    // The wait takes only an answer to this line (and, while catching up, to any ping).
    QByteArray FAwaitedLine;
    bool FAwaiting = false;
    bool FAlsoPing = false;
    // Closing a run: only a ping's answer may come.
    bool FClosing = false;
    // A "Compare error" of this run that no command took: the run cannot end well.
    QString FStrayCompareError;
    QByteArray FStrayCompareLine;
    // This run: the board echoed a command we did not send, so it may have carried that out; or, on a
    // board without echo, an answer came late, so answers may have been matched to the wrong command.
    QString FChangedCommand;
    QString FOrderDoubt;
    bool FClosedInStep = false;
    QByteArray FLastSentLine; // the last command other than a ping, this run
    QByteArray FAnsweredLine;
    std::uint64_t FOverflowsAtSend = 0;
    std::uint64_t FDroppedSeen = 0;
    std::uint64_t FConnection = 0; // the driver's connection the books belong to
    // Something answered that nobody asked, a flood, or a line cut short: ping before any command.
    bool FResyncForced = false;
};
