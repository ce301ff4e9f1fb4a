#pragma once
// Serves a TSimMonitor on a pseudo-terminal from a thread of its own, so that a test can block its
// own thread in waits while the board answers. The PC side opens SlavePath() like a serial adapter.
//
// With a baud rate the line is paced as a real one (10 bits per character): a received byte counts
// as arrived one character time after the previous one, and each sent byte takes one character time.
// Sent bytes are released in batches of about a millisecond, so at high rates a byte may reach the
// PC up to a millisecond after its due time; the arithmetic itself does not drift. Without a baud
// rate the board answers as fast as it can.
//
// The echo comes after the command's CR (line echo) or character by character as the command arrives
// (live echo, as a monitor on a microcontroller's UART usually does; the line then carries both
// directions at once). A burst period makes what the board sends reach the PC only every so many
// milliseconds, as a USB adapter's latency timer does; the line's own timing is unchanged by it.
//
// A hang-up (the hangup-after fault) closes the terminal once the PC has read the last answer, or
// after two seconds if it does not read: closing earlier would discard that answer unread.

#include "sim/monitor.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Owns one file descriptor.
class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept;
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return FFd; }
    bool IsValid() const { return FFd >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int FFd = -1;
};

struct TFlashSnapshot {
    std::vector<std::uint8_t> Flash;
    std::vector<bool> Programmed;
};

// How the board's line behaves in time.
struct TSimTiming {
    unsigned Baud = 0;     // 0: no pacing
    bool LiveEcho = false; // echo each character as it arrives instead of after the CR
    unsigned BurstMs = 0;  // 0: sent bytes reach the PC when due; else only every BurstMs
};

// The time the line carries a character in either direction, so that 1.0 of the wall time is the
// ceiling also when both directions are busy at once. Each direction's spans come in time order.
class TLineBusyClock {
public:
    using TClock = std::chrono::steady_clock;
    enum TDirection { ldIn, ldOut };

    void Add(TDirection direction, TClock::time_point start, TClock::time_point end);
    // Counts what lies before `horizon` into the total and forgets it, keeping memory flat; no later
    // span may start before `horizon`.
    void Fold(TClock::time_point horizon);
    std::size_t SpanCount() const { return FSpans[ldIn].size() + FSpans[ldOut].size(); }
    TClock::duration Busy() const;

private:
    struct TSpan {
        TClock::time_point Start;
        TClock::time_point End;
    };
    std::deque<TSpan> FSpans[2];
    TClock::duration FFolded{};
};

struct TSimStats {
    std::uint64_t Commands = 0; // received command lines, pings included
    std::uint64_t BytesIn = 0;
    std::uint64_t BytesOut = 0;
    unsigned Baud = 0;
    unsigned LineRate = 0; // the terminal's rate as the PC side set it, seen when its bytes came
    bool LiveEcho = false;
    unsigned BurstMs = 0;
    double LineBusySeconds = 0; // time with a character on the line in either direction
    double WallSeconds = 0;     // from the first byte on the line to the last, either direction
    // From sending '>' to the first byte of the next command; with bursts from when '>' was due.
    std::vector<std::int64_t> TurnaroundsUs;

    std::int64_t TurnaroundMedianUs() const { return TurnaroundPercentileUs(50); }
    std::int64_t TurnaroundP99Us() const { return TurnaroundPercentileUs(99); }
    // Nearest-rank percentile; 0 without samples.
    std::int64_t TurnaroundPercentileUs(int percent) const;
    std::string ToJson() const;
};

class TSimServer {
public:
    // baud 0: no pacing.
    explicit TSimServer(TSimConfig config, unsigned baud = 0);
    TSimServer(TSimConfig config, TSimTiming timing);
    ~TSimServer(); // stops and joins the serving thread
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Opens the pseudo-terminal (raw mode) and starts serving. On failure `error` says why.
    bool Start(std::string& error);
    // Ends the serving thread and waits for it; safe to call more than once.
    void Stop();

    const std::string& SlavePath() const { return FSlavePath; }
    // Readable once the serving thread has ended by itself (hang-up fault, or a line error).
    int FinishedFd() const { return FFinished.Get(); }
    bool Finished() const;
    // Why the serving thread ended on an error; empty otherwise.
    std::string FailureText() const;

    // Test hook: a fault from now on (see TSimMonitor::AddFault).
    void AddFault(const TSimFault& fault);
    // Test hook and --dump source: the board's FLASH and which bytes were programmed.
    TFlashSnapshot Snapshot() const;
    TSimStats Stats() const;
    bool WriteStats(const std::string& fileName, std::string& error) const;

private:
    using TClock = std::chrono::steady_clock;
    struct TInByte {
        char Byte;
        TClock::time_point Arrival;
    };
    struct TOutByte {
        char Byte;
        TClock::time_point Due;
        bool EndsAnswer;
    };

    struct TServeState;
    enum TWaitResult { wrGoOn, wrStop, wrFailed };

    void Serve();
    void Enqueue(TServeState& state, std::string_view bytes, bool answer, TClock::time_point from);
    void EchoLive(TServeState& state, char byte, TClock::time_point arrival);
    void Deliver(TServeState& state, std::string_view bytes, TClock::time_point at);
    void TakeArrived(TServeState& state, TClock::time_point now);
    void KeepFlooding(TServeState& state, TClock::time_point now);
    bool WriteDue(TServeState& state, TClock::time_point now);
    TClock::time_point ReleaseTime(const TServeState& state, TClock::time_point due) const;
    bool HangUpWhenDrained(TServeState& state, TClock::time_point now,
                           std::optional<TClock::time_point>& wake);
    std::optional<TClock::time_point> NextWake(const TServeState& state,
                                               std::optional<TClock::time_point> wake) const;
    TWaitResult WaitForLine(TServeState& state, std::optional<TClock::time_point> wake);
    bool ReadFromPc(TServeState& state, short events);
    void NoteLineRate();
    void NoteBytes(std::size_t count, bool in, TClock::time_point at);
    void Fail(const std::string& what, int errorNumber);
    void EndWithInternalError(const std::string& what);

    TSimMonitor FMonitor;
    const TSimTiming FTiming;
    TUniqueFd FMaster;
    TUniqueFd FSlaveKeeper; // keeps the line up while no PC has it open
    TUniqueFd FStop;        // eventfd: wakes the thread to end
    TUniqueFd FFinished;    // eventfd: signalled by the thread when it ends
    std::string FSlavePath;
    std::thread FThread;

    mutable std::mutex FMutex; // guards everything below and FMonitor
    TSimStats FStats;
    TLineBusyClock FBusy;
    TClock::time_point FFirstByte{};
    TClock::time_point FLastByte{};
    bool FAnyByte = false;
    bool FEnded = false;
    std::string FFailure;
};
