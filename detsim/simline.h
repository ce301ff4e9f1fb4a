#pragma once
// The simulated line and board of one history: the monitor model behind an in-memory serial line, a
// clock that jumps from event to event, and a scheduler that decides, for every command and every
// answer, what the line does to it. The host's side is the real driver and protocol: it gets a
// TCommPort and a TLinkClock from here and nothing else differs from a run on a real port.

#include "detsim/decisions.h"
#include "protocol/linkclock.h"
#include "serial/commport.h"
#include "sim/monitor.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <vector>

class TCommPortDriver;

// Chances in thousandths, per command the host writes or per answer the board sends.
struct TLineFaults {
    std::uint32_t DropCommand = 0;   // lost on the way: the board never sees it
    std::uint32_t ChangeCommand = 0; // one byte changed: the board echoes and carries out what it got
    std::uint32_t SplitCommand = 0;  // arrives in pieces, with gaps
    std::uint32_t DropAnswer = 0;
    std::uint32_t ChangeAnswer = 0; // one byte changed on the way back (often in the echo)
    std::uint32_t SplitAnswer = 0;
    std::uint32_t DelayAnswer = 0;     // late by up to twice the longest time-out
    std::uint32_t DuplicateAnswer = 0; // sent again later
    std::uint32_t ReorderAnswer = 0;   // held back until the next answer has gone
    std::uint32_t ForgeAnswer = 0;     // followed by a reply nobody asked for
    std::uint32_t Reset = 0;           // the board restarts while a command comes in
    std::uint32_t Hangup = 0;          // the device goes away
};

class TSimLine {
public:
    // Beyond these a history hangs or spins; the abort flag then ends every wait.
    static constexpr std::int64_t kMaxSimUs = 3600ll * 1000 * 1000;
    static constexpr std::uint64_t kMaxWaits = 200000;

    TSimLine(TDecisions& decisions, TSimConfig board, std::uint32_t baud, TLineFaults faults, bool keepTrace);
    ~TSimLine();
    TSimLine(const TSimLine&) = delete;
    TSimLine& operator=(const TSimLine&) = delete;

    // The host's end of the line, for TCommPortDriver::UsePort, and the clock its waits run on.
    std::unique_ptr<TCommPort> CreatePort();
    std::unique_ptr<TLinkClock> CreateClock();
    // The driver is polled after every delivery, as its readable notice would on a real port.
    void AttachDriver(TCommPortDriver* driver) { FDriver = driver; }
    const std::atomic<bool>& AbortFlag() const { return FAbort; }

    TSimMonitor& Board() { return FBoard; }
    std::int64_t NowUs() const { return FNowUs; }
    std::uint64_t Waits() const { return FWaits; }
    bool Hung() const { return FHung; }
    bool Spun() const { return FSpun; }
    bool HungUp() const { return FHungUp; }
    // Commands the line changed on the way to the board; answers changed on the way back or forged
    // as a mismatch report: what may make an honest host report a mismatch the board does not have.
    std::uint32_t ChangedCommands() const { return FChangedCommands; }
    std::uint32_t MisleadingAnswers() const { return FMisleadingAnswers; }
    const std::string& Trace() const { return FTrace; }
    // A line of the history's own (the host's steps) in the trace.
    void Note(const std::string& text);

    // The port's calls.
    void HostWrites(const char* data, std::size_t size);
    std::size_t HostReads(char* buffer, std::size_t size);
    std::size_t HostQueued() const { return FInbox.size() - FInboxHead; }
    // The clock's wait: runs the line up to the next event that reaches the host, or the deadline.
    void Advance(std::int64_t deadlineUs);

private:
    enum class TEventKind { ekToBoard, ekToHost, ekReset, ekHangup };
    struct TEvent {
        std::int64_t AtUs;
        std::uint64_t Order; // ties keep the order they were made in
        TEventKind Kind;
        std::string Bytes;
        bool Changed = false; // a command changed on the line: its answer is not changed back
        bool operator>(const TEvent& other) const {
            return AtUs != other.AtUs ? AtUs > other.AtUs : Order > other.Order;
        }
    };

    void Schedule(std::int64_t atUs, TEventKind kind, std::string bytes = {}, bool changed = false);
    void Run(const TEvent& event);
    void BoardReceives(const std::string& bytes, bool changed);
    // One answer of the board, with its fate.
    void Send(std::string answer, std::uint32_t busyMs, bool mayChange);
    void Transmit(std::string answer, std::int64_t earliestUs);
    std::string Forged();
    void ChangeOneByte(std::string& text, std::size_t from, std::size_t to, const char* what);
    std::int64_t LineUs(std::size_t chars) const { return std::int64_t(chars) * FCharUs; }
    void TraceBytes(const char* what, const std::string& bytes);

    TDecisions& FDecisions;
    TSimMonitor FBoard;
    TLineFaults FFaults;
    std::int64_t FCharUs;
    bool FKeepTrace;
    std::string FTrace;
    TCommPortDriver* FDriver = nullptr;
    std::atomic<bool> FAbort{false};

    std::priority_queue<TEvent, std::vector<TEvent>, std::greater<>> FEvents;
    std::uint64_t FOrder = 0;
    std::int64_t FNowUs = 0;
    std::int64_t FBoardFreeUs = 0;    // the board's transmitter is busy until then
    std::int64_t FToBoardFreeUs = 0;  // the host's transmitter likewise
    std::optional<std::string> FHeld; // an answer held back until the next one
    std::string FLastAnswer;
    std::string FInbox;
    std::size_t FInboxHead = 0;
    std::uint64_t FWaits = 0;
    bool FHungUp = false;
    std::uint32_t FChangedCommands = 0;
    std::uint32_t FMisleadingAnswers = 0;
    bool FHung = false;
    bool FSpun = false;
};
