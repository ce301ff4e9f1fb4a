#include "detsim/simline.h"

#include "serial/cpdrv.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kBitsPerChar = 10;
// Longest extra delay of a late answer: past every time-out a command has at the rates simulated.
constexpr std::uint32_t kMaxLateMs = 12000;
constexpr std::uint32_t kMaxDuplicateGapMs = 3000;
const std::string kBanner = "\r\nVELUM monitor restarted\r\n>";

std::string Shown(const std::string& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\\') {
            shown += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Stamp(std::int64_t us) {
    std::string fraction = std::to_string(us % 1000);
    fraction.insert(0, 3 - fraction.size(), '0');
    std::string whole = std::to_string(us / 1000);
    if (whole.size() < 7)
        whole.insert(0, 7 - whole.size(), ' ');
    return whole + '.' + fraction + " ms  ";
}

// The host's end of the simulated line.
class TMemoryPort final : public TCommPort {
public:
    explicit TMemoryPort(TSimLine& line) : FLine(line) {}

    bool Open(const QString&) override {
        FOpen = !FLine.HungUp();
        return FOpen;
    }
    void Adopt(TCommHandle) override {}
    void Release() override {}
    void Close() override { FOpen = false; }
    bool IsOpen() const override { return FOpen; }
    TCommHandle Handle() const override { return FOpen ? 0 : kInvalidCommHandle; }
    bool IsGone() const override { return FLine.HungUp(); }
    bool CanNotifyReadable() const override { return false; }
    bool SetLineState(const TCommLineState&) override { return !FLine.HungUp(); }
    bool SetQueueSizes(std::uint32_t, std::uint32_t) override { return true; }
    void SetWriteTimeout(int) override {}
    bool Purge(bool, bool) override { return !FLine.HungUp(); }
    bool QueuedIn(std::uint32_t& count) override {
        if (FLine.HungUp())
            return false;
        count = std::uint32_t(FLine.HostQueued());
        return true;
    }
    bool QueuedOut(std::uint32_t& count) override {
        count = 0;
        return !FLine.HungUp();
    }
    std::int64_t Read(void* buffer, std::uint32_t size) override {
        if (FLine.HungUp())
            return -1;
        return std::int64_t(FLine.HostReads(static_cast<char*>(buffer), size));
    }
    std::int64_t Write(const void* data, std::uint32_t size) override {
        if (FLine.HungUp())
            return -1;
        FLine.HostWrites(static_cast<const char*>(data), size);
        return size;
    }
    TCommWaitResult WaitReadable(int) override { return FLine.HungUp() ? cwrGone : cwrReady; }
    TCommWaitResult WaitWritable(int) override { return FLine.HungUp() ? cwrGone : cwrReady; }
    std::uint8_t ModemLines() override { return 0; }
    void SetDTR(bool) override {}
    void SetRTS(bool) override {}
    QString LastFailure() const override {
        return FLine.HungUp() ? QStringLiteral("the simulated device hung up") : QString();
    }

private:
    TSimLine& FLine;
    bool FOpen = false;
};

class TSimClock final : public TLinkClock {
public:
    explicit TSimClock(TSimLine& line) : FLine(line) {}
    std::int64_t NowMs() const override { return FLine.NowUs() / 1000; }
    void WaitUntil(std::int64_t deadlineMs) override { FLine.Advance(deadlineMs * 1000); }

private:
    TSimLine& FLine;
};

} // namespace

TSimLine::TSimLine(TDecisions& decisions, TSimConfig board, std::uint32_t baud, TLineFaults faults,
                   bool keepTrace)
    : FDecisions(decisions), FBoard(std::move(board)), FFaults(faults),
      FCharUs(
          std::max<std::int64_t>(1, std::int64_t(kBitsPerChar) * 1000000 / std::max<std::uint32_t>(baud, 1))),
      FKeepTrace(keepTrace) {}

TSimLine::~TSimLine() = default;

std::unique_ptr<TCommPort> TSimLine::CreatePort() {
    return std::make_unique<TMemoryPort>(*this);
}

std::unique_ptr<TLinkClock> TSimLine::CreateClock() {
    return std::make_unique<TSimClock>(*this);
}

void TSimLine::Note(const std::string& text) {
    if (FKeepTrace)
        FTrace += Stamp(FNowUs) + "-- " + text + '\n';
}

void TSimLine::TraceBytes(const char* what, const std::string& bytes) {
    if (FKeepTrace)
        FTrace += Stamp(FNowUs) + what + Shown(bytes) + '\n';
}

void TSimLine::Schedule(std::int64_t atUs, TEventKind kind, std::string bytes, bool changed) {
    FEvents.push(TEvent{atUs, FOrder++, kind, std::move(bytes), changed});
}

void TSimLine::ChangeOneByte(std::string& text, std::size_t from, std::size_t to, const char* what) {
    if (to <= from)
        return;
    const std::size_t at = from + FDecisions.Below(std::uint32_t(to - from));
    // A line error flips a bit.
    const char before = text[at];
    text[at] = char(static_cast<unsigned char>(before) ^ (1u << FDecisions.Below(8)));
    Note(std::string("line error ") + what + " at byte " + std::to_string(at + 1) + ": '" +
         Shown(std::string(1, before)) + "' became '" + Shown(std::string(1, text[at])) + "'");
}

void TSimLine::HostWrites(const char* data, std::size_t size) {
    std::string bytes(data, size);
    TraceBytes("host  > ", bytes);
    const std::int64_t start = std::max(FNowUs, FToBoardFreeUs);
    const std::int64_t end = start + LineUs(size);
    FToBoardFreeUs = end;
    if (FDecisions.Chance(FFaults.Hangup))
        Schedule(start + FDecisions.Below(std::uint32_t(LineUs(size) + 20000)), TEventKind::ekHangup);
    if (FDecisions.Chance(FFaults.DropCommand)) {
        Note("lost on the way to the board");
        return;
    }
    const bool changed = FDecisions.Chance(FFaults.ChangeCommand);
    if (changed) {
        ++FChangedCommands;
        ChangeOneByte(bytes, 0, size, "to the board");
    }
    if (FDecisions.Chance(FFaults.Reset))
        Schedule(start + FDecisions.Below(std::uint32_t(LineUs(size) + 1)), TEventKind::ekReset);
    if (size > 1 && FDecisions.Chance(FFaults.SplitCommand)) {
        const std::size_t cut = 1 + FDecisions.Below(std::uint32_t(size - 1));
        Schedule(start + LineUs(cut), TEventKind::ekToBoard, bytes.substr(0, cut), changed);
        // The second piece after a pause of the sender's.
        const std::int64_t gapUs = FDecisions.Below(20000);
        FToBoardFreeUs = end + gapUs;
        Schedule(end + gapUs, TEventKind::ekToBoard, bytes.substr(cut), changed);
        return;
    }
    Schedule(end, TEventKind::ekToBoard, std::move(bytes), changed);
}

std::size_t TSimLine::HostReads(char* buffer, std::size_t size) {
    const std::size_t count = std::min(size, HostQueued());
    std::memcpy(buffer, FInbox.data() + FInboxHead, count);
    FInboxHead += count;
    if (FInboxHead == FInbox.size()) {
        FInbox.clear();
        FInboxHead = 0;
    }
    return count;
}

void TSimLine::Advance(std::int64_t deadlineUs) {
    if (++FWaits > kMaxWaits && !FSpun) {
        FSpun = true;
        FAbort = true;
        Note("the host waited too often: it spins");
    }
    bool reachedHost = false;
    while (!reachedHost && !FEvents.empty() && FEvents.top().AtUs <= deadlineUs) {
        const TEvent event = FEvents.top();
        FEvents.pop();
        FNowUs = std::max(FNowUs, event.AtUs);
        Run(event);
        // The host looks at what reached it before the line goes on.
        reachedHost = event.Kind == TEventKind::ekToHost || event.Kind == TEventKind::ekHangup;
    }
    if (!reachedHost)
        FNowUs = std::max(FNowUs, deadlineUs);
    if (FNowUs > kMaxSimUs && !FHung) {
        FHung = true;
        FAbort = true;
        Note("simulated time ran past its bound: the host hangs");
    }
    if (FDriver)
        FDriver->PollTimerTick();
}

void TSimLine::Run(const TEvent& event) {
    switch (event.Kind) {
    case TEventKind::ekToBoard:
        if (!FHungUp)
            BoardReceives(event.Bytes, event.Changed);
        break;
    case TEventKind::ekToHost:
        if (!FHungUp) {
            TraceBytes("board < ", event.Bytes);
            FInbox += event.Bytes;
        }
        break;
    case TEventKind::ekReset:
        Note("the board restarts");
        FBoard.Restart();
        Transmit(kBanner, FNowUs);
        break;
    case TEventKind::ekHangup:
        if (!FHungUp)
            Note("the device hangs up");
        FHungUp = true;
        break;
    }
}

void TSimLine::BoardReceives(const std::string& bytes, bool changed) {
    TraceBytes("board > ", bytes);
    for (TSimAnswer& answer : FBoard.FeedTimed(bytes))
        Send(std::move(answer.Text), answer.DelayMs, !changed);
}

void TSimLine::Send(std::string answer, std::uint32_t busyMs, bool mayChange) {
    std::int64_t earliest = FNowUs + std::int64_t(busyMs) * 1000;
    FLastAnswer = answer;
    if (FDecisions.Chance(FFaults.DropAnswer)) {
        Note("the answer is lost on the way to the host");
        return;
    }
    if (mayChange && FDecisions.Chance(FFaults.ChangeAnswer)) {
        ++FMisleadingAnswers;
        ChangeOneByte(answer, 0, answer.size(), "to the host");
    }
    if (FDecisions.Chance(FFaults.DelayAnswer)) {
        const std::uint32_t lateMs = FDecisions.Between(1, kMaxLateMs);
        Note("the board answers " + std::to_string(lateMs) + " ms late");
        earliest += std::int64_t(lateMs) * 1000;
    }
    // A board that first claims a match and then reports the mismatch on a line of its own.
    if (const std::size_t mismatch = answer.find("\r\nCompare error");
        mismatch != std::string::npos && FDecisions.Chance(FFaults.ForgeAnswer)) {
        Note("the board claims a match, then reports the mismatch alone");
        // Of a command changed on the way: the bare report cannot say it is not about the block sent.
        if (!mayChange)
            ++FMisleadingAnswers;
        Transmit(answer.substr(0, mismatch) + "\r\nCompare OK\r\n>", earliest);
        Transmit(answer.substr(mismatch + 2), FBoardFreeUs);
        return;
    }
    if (!FHeld && FDecisions.Chance(FFaults.ReorderAnswer)) {
        Note("the answer is held back until the next one");
        FHeld = std::move(answer);
        return;
    }
    Transmit(answer, earliest);
    if (FHeld) {
        Transmit(std::move(*FHeld), FBoardFreeUs);
        FHeld.reset();
    }
    if (FDecisions.Chance(FFaults.DuplicateAnswer)) {
        Note("the answer is sent twice");
        Transmit(answer, FBoardFreeUs + std::int64_t(FDecisions.Below(kMaxDuplicateGapMs)) * 1000);
    }
    if (FDecisions.Chance(FFaults.ForgeAnswer)) {
        std::string forged = Forged();
        Note("a reply nobody asked for follows: " + Shown(forged));
        Transmit(std::move(forged), FBoardFreeUs + std::int64_t(FDecisions.Below(500)) * 1000);
    }
}

std::string TSimLine::Forged() {
    switch (FDecisions.Below(6)) {
    case 0:
        return "\r\nDone\r\n>";
    case 1:
        return "\r\nCompare OK\r\n>";
    case 2:
        ++FMisleadingAnswers;
        return "Compare error at address 350: Expected: 12 Actual: 48\r\n>";
    case 3:
        return FLastAnswer; // a second answer to a command already answered
    case 4:
        return "\r\n\r\n>";
    default:
        return "#@!\r\n>";
    }
}

void TSimLine::Transmit(std::string answer, std::int64_t earliestUs) {
    const std::int64_t start = std::max(earliestUs, FBoardFreeUs);
    const std::int64_t end = start + LineUs(answer.size());
    FBoardFreeUs = end;
    if (answer.size() > 1 && FDecisions.Chance(FFaults.SplitAnswer)) {
        // An adapter that hands over what it has: the host sees the answer in pieces.
        std::size_t from = 0;
        const std::uint32_t pieces = FDecisions.Between(2, 4);
        for (std::uint32_t piece = 1; piece < pieces && from + 1 < answer.size(); ++piece) {
            const std::size_t cut = from + 1 + FDecisions.Below(std::uint32_t(answer.size() - from - 1));
            Schedule(start + LineUs(cut), TEventKind::ekToHost, answer.substr(from, cut - from));
            from = cut;
        }
        Schedule(end, TEventKind::ekToHost, answer.substr(from));
        return;
    }
    Schedule(end, TEventKind::ekToHost, std::move(answer));
}
