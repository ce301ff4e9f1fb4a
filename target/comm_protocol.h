#pragma once
// The monitor's command protocol: one command line out, one framed answer back, bounded by a time-out.
// Widget-free, so that tervolt-cli can use it; the COM settings dialog derives from it.
//
// Every answer is matched to its own command. The protocol keeps the commands whose answers the board
// still owes, in the order they were sent; a monitor answers one line after the other, so each answer
// settles the oldest owed command it can belong to (by its echo, the first line, when the monitor
// echoes; else by its kind: a ping's empty result or any other). A late answer thus settles the
// command it belongs to and is never taken by a later one. Before a command other than the owed ones
// is sent, the protocol pings until the board has answered all of them or passed them by; a retry of
// a command that timed out first collects the answer to its earlier attempt. A run without time-outs
// sends nothing extra and waits for nothing but its own answers.

#include "target/compareresult.h"
#include "target/flashtarget.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class TCommunicationUnit;

inline constexpr std::uint16_t kPingTimeoutMs = 500;
inline constexpr std::uint16_t kIdentifyTimeoutMs = 1000;
inline constexpr std::uint16_t kCommandTimeoutMs = 5000;
// Longest wait for the board to catch up before a command gives up; one ping per ping time-out.
inline constexpr std::uint32_t kResyncBudgetMs = kCommandTimeoutMs;
// Owed answers remembered at most; beyond that the oldest is forgotten and the board is pinged.
inline constexpr std::size_t kMaxOwedAnswers = 64;
// Longest result line a monitor gives (a compare error report with room to spare), for the line time
// that a time-out must leave for the answer at low rates.
inline constexpr std::uint32_t kLongestResultChars = 80;

class TCommProtocol : public TFlashTarget {
public:
    TCommProtocol();
    ~TCommProtocol() override;
    TCommProtocol(const TCommProtocol&) = delete;
    TCommProtocol& operator=(const TCommProtocol&) = delete;

    TCommunicationUnit* CommUnit() const { return FCommUnit.get(); }
    QTimer* ReplyTimer() const { return FReplyTimer.get(); }
    bool TimedOut() const { return FTimedOut; }
    // The answer to the last command without its first line.
    const QByteArray& Reply() const { return FReply; }
    std::uint32_t ReplyTimeout() const { return FReplyTimeout; }
    void SetReplyTimeout(std::uint32_t milliseconds) { FReplyTimeout = milliseconds; }

    // Waits for the answer to the command in flight; an answer that is there wins over a time-out
    // that passed while events were being handled elsewhere.
    bool WaitForReply();
    void ReplyTimerTimer();
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

    // The time-out of a command: its base plus the time its line and the longest expected answer
    // take on the line at the current rate (10 bits a character).
    std::uint32_t TimeoutFor(const QByteArray& command, std::uint32_t baseMs) const;
    // Command lines (without CR; a ping is empty) whose answers the board still owes, oldest first.
    const std::deque<QByteArray>& OwedAnswers() const { return FOwed; }

private:
    enum class TCatchUp { cuInStep, cuAnswered, cuFailed };

    // Sends one command and waits for its answer; false on a refused, failed or unanswered command.
    bool Exchange(const QByteArray& command, std::uint32_t baseTimeoutMs);
    bool ExchangeExpecting(const QByteArray& command, std::uint32_t baseTimeoutMs, const QByteArray& accepted);
    // Records the unaccepted answer as the failure; always false.
    bool Refused();
    bool Send(const QByteArray& command);
    // Settles the owed command a reply answers (and the older ones it passed by); the line it answered,
    // or nothing for a reply that answers no command of ours.
    std::optional<QByteArray> Account(const QByteArray& reply);
    bool OwesOtherThanPings() const;
    bool Aborted() const { return FAbort && FAbort->load(); }
    void ForgetEarlierLine();
    // Pings until no command but pings is owed; an answer to `line` that arrives meanwhile is taken.
    TCatchUp CatchUp(const QByteArray& line);

    std::unique_ptr<TCommunicationUnit> FCommUnit;
    std::unique_ptr<QTimer> FReplyTimer;
    bool FTimedOut = false;
    bool FCommandActive = false;
    const std::atomic<bool>* FAbort = nullptr;
    QByteArray FReply;
    QString FLastFailure;
    std::uint32_t FReplyTimeout = kCommandTimeoutMs;

    // The wait takes only an answer to this line (and, while catching up, to any ping).
    QByteArray FWaitingLine;
    bool FWaitingForLine = false;
    bool FAlsoPing = false;
    QByteArray FAnsweredLine;
    std::uint64_t FOverflowsAtSend = 0;
    std::uint64_t FDroppedSeen = 0;
    std::deque<QByteArray> FOwed;
    std::uint64_t FConnection = 0; // the driver's connection the accounting belongs to
    // Recently sent command lines other than the ping: an echo of one of them that answers nothing
    // owed is a duplicate, not a monitor without echo.
    std::vector<QByteArray> FEchoHistory;
    // Something answered that nobody asked, a flood, or a line cut short: ping before any command.
    bool FResyncForced = false;
    // The last answer to a command other than the ping began with its echo.
    bool FMonitorEchoes = false;
};
