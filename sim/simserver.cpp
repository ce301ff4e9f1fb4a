#include "sim/simserver.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Sent and received bytes are handled in batches this far apart while a line is busy, so that a fast
// line does not cost a wake-up per character; a line's CR and an answer's last byte are taken at their
// own time.
constexpr auto kPaceTick = 1ms;
// Beyond these the board stops reading, as a real UART with a full buffer would hold the line.
constexpr std::size_t kMaxPendingIn = 1u << 20;
constexpr std::size_t kMaxPendingOut = 4u << 20;
constexpr std::size_t kIoChunkBytes = 64 * 1024;
// Before a hang-up the PC gets this long to read the last answer, checked every kDrainPoll.
constexpr auto kHangupGrace = 2s;
constexpr auto kDrainPoll = 10ms;
constexpr int kQuietChecksBeforeHangup = 2;
// A flooding board keeps at least this much text queued; the line's own pace does the rest.
constexpr std::size_t kFloodQueueBytes = 64 * 1024;
const std::string_view kFloodText = "FLOOD 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz ";

std::string ErrnoText(int errorNumber) {
    return std::strerror(errorNumber);
}

// One character of 10 bits at `baud`, rounded to the clock's nanoseconds.
std::chrono::nanoseconds CharTime(unsigned baud) {
    return baud ? std::chrono::nanoseconds(std::llround(10e9 / baud)) : std::chrono::nanoseconds(0);
}

void Signal(int eventFd) {
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

} // namespace

TUniqueFd& TUniqueFd::operator=(TUniqueFd&& other) noexcept {
    if (this != &other)
        Reset(other.Release());
    return *this;
}

int TUniqueFd::Release() {
    const int fd = FFd;
    FFd = -1;
    return fd;
}

void TUniqueFd::Reset(int fd) {
    if (FFd >= 0)
        ::close(FFd);
    FFd = fd;
}

std::int64_t TSimStats::TurnaroundPercentileUs(int percent) const {
    if (TurnaroundsUs.empty())
        return 0;
    std::vector<std::int64_t> sorted = TurnaroundsUs;
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest sample with at least `percent` % of the samples at or below it.
    const std::size_t rank = std::size_t(std::ceil(percent / 100.0 * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void TLineBusyClock::Add(TDirection direction, TClock::time_point start, TClock::time_point end) {
    std::deque<TSpan>& spans = FSpans[direction];
    if (!spans.empty() && start <= spans.back().End)
        spans.back().End = std::max(spans.back().End, end);
    else
        spans.push_back({start, end});
}

namespace {

// The length of the union of two lists of spans, each in time order without overlaps, up to `limit`.
template <typename TSpans, typename TTime>
typename TTime::duration UnionLength(const TSpans& a, const TSpans& b, TTime limit) {
    typename TTime::duration total{};
    TTime covered{}; // everything before this is counted
    bool any = false;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        const bool takeA = j >= b.size() || (i < a.size() && a[i].Start <= b[j].Start);
        const auto& span = takeA ? a[i++] : b[j++];
        const TTime start = any ? std::max(span.Start, covered) : span.Start;
        const TTime end = std::min(span.End, limit);
        if (end > start)
            total += end - start;
        if (!any || span.End > covered)
            covered = span.End;
        any = true;
    }
    return total;
}

} // namespace

void TLineBusyClock::Fold(TClock::time_point horizon) {
    FFolded += UnionLength(FSpans[ldIn], FSpans[ldOut], horizon);
    for (std::deque<TSpan>& spans : FSpans) {
        while (!spans.empty() && spans.front().End <= horizon)
            spans.pop_front();
        if (!spans.empty() && spans.front().Start < horizon)
            spans.front().Start = horizon;
    }
}

TLineBusyClock::TClock::duration TLineBusyClock::Busy() const {
    return FFolded + UnionLength(FSpans[ldIn], FSpans[ldOut], TClock::time_point::max());
}

std::string TSimStats::ToJson() const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\n"
                  "  \"count\": %llu,\n"
                  "  \"baud\": %u,\n"
                  "  \"line_rate\": %u,\n"
                  "  \"echo\": \"%s\",\n"
                  "  \"burst_ms\": %u,\n"
                  "  \"bytes_in\": %llu,\n"
                  "  \"bytes_out\": %llu,\n"
                  "  \"line_busy_seconds\": %.6f,\n"
                  "  \"wall_seconds\": %.6f,\n"
                  "  \"turnaround_samples\": %zu,\n"
                  "  \"turnaround_median_us\": %lld,\n"
                  "  \"turnaround_p99_us\": %lld\n"
                  "}\n",
                  (unsigned long long)Commands, Baud, LineRate, LiveEcho ? "live" : "line", BurstMs,
                  (unsigned long long)BytesIn, (unsigned long long)BytesOut, LineBusySeconds, WallSeconds,
                  TurnaroundsUs.size(), (long long)TurnaroundMedianUs(), (long long)TurnaroundP99Us());
    return text;
}

TSimServer::TSimServer(TSimConfig config, unsigned baud) : TSimServer(std::move(config), TSimTiming{baud}) {}

TSimServer::TSimServer(TSimConfig config, TSimTiming timing) : FMonitor(std::move(config)), FTiming(timing) {
    FStats.Baud = timing.Baud;
    FStats.LiveEcho = timing.LiveEcho;
    FStats.BurstMs = timing.BurstMs;
}

TSimServer::~TSimServer() {
    Stop();
}

bool TSimServer::Start(std::string& error) {
    if (FThread.joinable() || FMaster.IsValid()) {
        error = "the simulated board is already running";
        return false;
    }
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = "cannot open a pseudo-terminal: " + ErrnoText(errno);
        return false;
    }
    TUniqueFd masterFd(master);
    TUniqueFd slaveFd(slave);
    char name[256] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) {
        error = "cannot name the pseudo-terminal: " + ErrnoText(errno);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0) {
        error = std::string("cannot read the line settings of ") + name + ": " + ErrnoText(errno);
        return false;
    }
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0) {
        error = std::string("cannot set raw mode on ") + name + ": " + ErrnoText(errno);
        return false;
    }
    if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        error = "cannot configure the pseudo-terminal: " + ErrnoText(errno);
        return false;
    }
    TUniqueFd stopFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    TUniqueFd finishedFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stopFd.IsValid() || !finishedFd.IsValid()) {
        error = "cannot create an event descriptor: " + ErrnoText(errno);
        return false;
    }
    FMaster = std::move(masterFd);
    FSlaveKeeper = std::move(slaveFd);
    FStop = std::move(stopFd);
    FFinished = std::move(finishedFd);
    FSlavePath = name;
    try {
        FThread = std::thread([this] {
            // An exception would end the whole process; the board ends instead and says why.
            try {
                Serve();
            } catch (const std::exception& e) {
                EndWithInternalError(e.what());
            } catch (...) {
                EndWithInternalError("unknown exception");
            }
        });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the serving thread: ") + e.what();
        return false;
    }
    return true;
}

void TSimServer::Stop() {
    if (!FThread.joinable())
        return;
    Signal(FStop.Get());
    FThread.join();
}

bool TSimServer::Finished() const {
    std::lock_guard lock(FMutex);
    return FEnded;
}

std::string TSimServer::FailureText() const {
    std::lock_guard lock(FMutex);
    return FFailure;
}

TFlashSnapshot TSimServer::Snapshot() const {
    std::lock_guard lock(FMutex);
    return {FMonitor.Flash(), FMonitor.Programmed()};
}

void TSimServer::AddFault(const TSimFault& fault) {
    std::lock_guard lock(FMutex);
    FMonitor.AddFault(fault);
}

namespace {

// The kernel's termios2 (rates as plain numbers), laid out here because <asm/termbits.h> clashes with
// <termios.h>; TCGETS2 takes its size.
struct termios2 {
    std::uint32_t c_iflag, c_oflag, c_cflag, c_lflag;
    std::uint8_t c_line, c_cc[19];
    std::uint32_t c_ispeed, c_ospeed;
};
static_assert(sizeof(termios2) == 44, "termios2 must match the kernel's layout");

} // namespace

void TSimServer::NoteLineRate() {
    // The rate the PC side (or a serial server in front of us) set on the terminal, custom rates
    // included: what a real board would have to run at.
    termios2 tio{};
    if (::ioctl(FMaster.Get(), TCGETS2, &tio) != 0)
        return;
    std::lock_guard lock(FMutex);
    FStats.LineRate = tio.c_ospeed;
}

TSimStats TSimServer::Stats() const {
    std::lock_guard lock(FMutex);
    TSimStats stats = FStats;
    stats.Commands = FMonitor.CommandCount();
    // In whole character times as the line knows them, not as rounded to the clock's nanoseconds.
    const auto busy = std::chrono::duration_cast<std::chrono::nanoseconds>(FBusy.Busy());
    const unsigned baud = FTiming.Baud;
    stats.LineBusySeconds = baud ? double(busy.count()) / double(CharTime(baud).count()) * 10.0 / baud : 0.0;
    stats.WallSeconds = FAnyByte ? std::chrono::duration<double>(FLastByte - FFirstByte).count() : 0.0;
    return stats;
}

bool TSimServer::WriteStats(const std::string& fileName, std::string& error) const {
    const std::string json = Stats().ToJson();
    struct TCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, TCloser> file(std::fopen(fileName.c_str(), "w"));
    if (!file) {
        error = "cannot write " + fileName + ": " + ErrnoText(errno);
        return false;
    }
    const bool written = std::fputs(json.c_str(), file.get()) >= 0;
    const int closed = std::fclose(file.release());
    if (!written || closed != 0) {
        error = "cannot write " + fileName + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

void TSimServer::EndWithInternalError(const std::string& what) {
    {
        std::lock_guard lock(FMutex);
        FFailure = "internal error on " + FSlavePath + ": " + what;
        FEnded = true;
    }
    Signal(FFinished.Get());
}

void TSimServer::Fail(const std::string& what, int errorNumber) {
    std::lock_guard lock(FMutex);
    FFailure = what + " on " + FSlavePath + " failed: " + ErrnoText(errorNumber);
}

// Everything one serving thread keeps between the steps of its loop.
struct TSimServer::TServeState {
    bool Paced = false;
    std::chrono::nanoseconds CharTime{0};
    std::deque<TInByte> PendingIn;
    std::deque<TOutByte> PendingOut;
    // When the pending line ends (CR) arrive and the pending answers end: these are taken at their
    // time, not with the next batch, as a real board answers at once and its last byte leaves at once.
    std::deque<TClock::time_point> LineEndsIn;
    std::deque<TClock::time_point> AnswerEndsOut;
    TClock::time_point InLineFree{};
    TClock::time_point OutLineFree{};
    TClock::time_point LastWrite{};
    TClock::time_point LastDeliver{};
    TClock::time_point PromptSent{};
    TClock::time_point BurstEpoch{};
    bool PromptPending = false; // a prompt went out and no byte came back yet
    bool WaitWritable = false;
    bool HangupDue = false;
    bool Draining = false;
    TClock::time_point DrainStart{};
    int QuietChecks = 0;
    // A board works on one command at a time: a slow answer holds back every later one.
    TClock::time_point BusyUntil{};
    bool Flooding = false;
    std::string EchoedLine; // live echo: the characters of the current line echoed so far
    bool LastWasCR = false;
    std::vector<char> Buffer = std::vector<char>(kIoChunkBytes);
};

void TSimServer::NoteBytes(std::size_t count, bool in, TClock::time_point at) {
    std::lock_guard lock(FMutex);
    (in ? FStats.BytesIn : FStats.BytesOut) += count;
    if (!FAnyByte)
        FFirstByte = at;
    FAnyByte = true;
    FLastByte = at;
}

void TSimServer::Enqueue(TServeState& state, std::string_view bytes, bool answer, TClock::time_point from) {
    if (bytes.empty())
        return;
    const TClock::time_point start = state.Paced ? std::max(from, state.OutLineFree) : from;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        TClock::time_point due = from;
        if (state.Paced) {
            due = std::max(from, state.OutLineFree) + state.CharTime;
            state.OutLineFree = due;
        }
        const bool endsAnswer = answer && i + 1 == bytes.size();
        state.PendingOut.push_back({bytes[i], due, endsAnswer});
        if (endsAnswer)
            state.AnswerEndsOut.push_back(due);
    }
    if (state.Paced) {
        std::lock_guard lock(FMutex);
        FBusy.Add(TLineBusyClock::ldOut, start, state.OutLineFree);
    }
}

void TSimServer::EchoLive(TServeState& state, char byte, TClock::time_point arrival) {
    // As the monitor reads its line: CR ends it (its echo is the answer's first line end), a LF right
    // after a CR is ignored, nothing is taken once the board hangs up or floods.
    const bool lineFeedAfterCR = byte == '\n' && state.LastWasCR;
    state.LastWasCR = byte == '\r';
    if (byte == '\r' || lineFeedAfterCR || state.HangupDue || state.Flooding)
        return;
    if (state.EchoedLine.size() < TSimMonitor::kMaxLineBytes)
        state.EchoedLine.push_back(byte);
    Enqueue(state, std::string_view(&byte, 1), false, arrival);
}

void TSimServer::Deliver(TServeState& state, std::string_view bytes, TClock::time_point at) {
    std::vector<TSimAnswer> answers;
    {
        std::lock_guard lock(FMutex);
        answers = FMonitor.FeedTimed(bytes);
        state.HangupDue = FMonitor.HangupDue();
        state.Flooding = FMonitor.Flooding();
    }
    for (TSimAnswer& answer : answers) {
        if (FTiming.LiveEcho) {
            // The line went out character by character already: the answer goes on from its CR LF.
            const std::size_t echo = answer.Text.find(state.EchoedLine + "\r\n");
            if (echo != std::string::npos)
                answer.Text.erase(echo, state.EchoedLine.size());
        }
        const TClock::time_point ready =
            std::max(at, state.BusyUntil) + std::chrono::milliseconds(answer.DelayMs);
        state.BusyUntil = ready;
        Enqueue(state, answer.Text, true, ready);
    }
    if (!bytes.empty() && bytes.back() == '\r')
        state.EchoedLine.clear();
}

void TSimServer::TakeArrived(TServeState& state, TClock::time_point now) {
    if (state.PendingIn.empty() || state.PendingIn.front().Arrival > now)
        return;
    // Each line goes to the monitor on its own, so that its answer follows its own echo.
    std::string chunk;
    TClock::time_point at = now;
    while (!state.PendingIn.empty() && state.PendingIn.front().Arrival <= now) {
        const TInByte in = state.PendingIn.front();
        state.PendingIn.pop_front();
        if (in.Byte == '\r')
            state.LineEndsIn.pop_front();
        if (FTiming.LiveEcho)
            EchoLive(state, in.Byte, in.Arrival);
        chunk.push_back(in.Byte);
        at = in.Arrival;
        // Answers are timed from the arrival of the last byte, not from this late wake-up.
        if (in.Byte == '\r') {
            Deliver(state, chunk, at);
            chunk.clear();
        }
    }
    if (!chunk.empty())
        Deliver(state, chunk, at);
    state.LastDeliver = now;
}

void TSimServer::KeepFlooding(TServeState& state, TClock::time_point now) {
    if (!state.Flooding || state.PendingOut.size() >= kFloodQueueBytes)
        return;
    std::string text;
    while (text.size() < kFloodQueueBytes)
        text.append(kFloodText);
    Enqueue(state, text, false, std::max(now, state.BusyUntil));
}

TSimServer::TClock::time_point TSimServer::ReleaseTime(const TServeState& state,
                                                       TClock::time_point due) const {
    if (FTiming.BurstMs == 0)
        return due;
    // The next tick of the adapter's timer at or after `due`.
    const auto period =
        std::chrono::duration_cast<TClock::duration>(std::chrono::milliseconds(FTiming.BurstMs));
    if (due <= state.BurstEpoch)
        return state.BurstEpoch;
    const auto ticks = (due - state.BurstEpoch + period - TClock::duration(1)) / period;
    return state.BurstEpoch + ticks * period;
}

bool TSimServer::WriteDue(TServeState& state, TClock::time_point now) {
    if (state.PendingOut.empty() || state.WaitWritable ||
        ReleaseTime(state, state.PendingOut.front().Due) > now)
        return true;
    std::size_t ready = 0;
    while (ready < state.Buffer.size() && ready < state.PendingOut.size() &&
           state.PendingOut[ready].Due <= now) {
        state.Buffer[ready] = state.PendingOut[ready].Byte;
        ++ready;
    }
    if (ready == 0)
        return true;
    const ssize_t written = ::write(FMaster.Get(), state.Buffer.data(), ready);
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Fail("writing", errno);
        return false;
    }
    if (written > 0) {
        const TClock::time_point at = TClock::now();
        bool prompt = false;
        TClock::time_point promptDue{};
        for (ssize_t i = 0; i < written; ++i) {
            if (state.PendingOut.front().EndsAnswer) {
                prompt = true;
                promptDue = state.PendingOut.front().Due;
                state.AnswerEndsOut.pop_front();
            }
            state.PendingOut.pop_front();
        }
        NoteBytes(std::size_t(written), false, at);
        state.LastWrite = at;
        if (prompt) {
            // Behind an adapter's burst timer the wait for the burst is part of the turnaround.
            state.PromptSent = FTiming.BurstMs ? std::min(promptDue, at) : at;
            state.PromptPending = true;
        }
    }
    if (written < 0 ? errno != EINTR : std::size_t(written) < ready)
        state.WaitWritable = true;
    return true;
}

bool TSimServer::HangUpWhenDrained(TServeState& state, TClock::time_point now,
                                   std::optional<TClock::time_point>& wake) {
    if (!state.HangupDue || !state.PendingOut.empty())
        return false;
    // Closing the master discards what the PC has not read yet, so the last answer would never
    // arrive; wait until the slave's queue stays empty, or give up after a grace period.
    if (!state.Draining) {
        state.Draining = true;
        state.DrainStart = now;
    }
    int queued = 0;
    if (::ioctl(FSlaveKeeper.Get(), FIONREAD, &queued) != 0)
        queued = 0;
    state.QuietChecks = queued == 0 ? state.QuietChecks + 1 : 0;
    if (state.QuietChecks >= kQuietChecksBeforeHangup || now - state.DrainStart >= kHangupGrace) {
        FMaster.Reset();
        FSlaveKeeper.Reset();
        return true;
    }
    wake = now + kDrainPoll;
    return false;
}

std::optional<TSimServer::TClock::time_point>
TSimServer::NextWake(const TServeState& state, std::optional<TClock::time_point> wake) const {
    if (!state.PendingIn.empty()) {
        TClock::time_point arrival = std::max(state.PendingIn.front().Arrival, state.LastDeliver + kPaceTick);
        if (!state.LineEndsIn.empty())
            arrival = std::min(arrival, state.LineEndsIn.front());
        wake = wake ? std::min(*wake, arrival) : arrival;
    }
    if (!state.PendingOut.empty() && !state.WaitWritable) {
        const TClock::time_point due = state.PendingOut.front().Due;
        TClock::time_point release = FTiming.BurstMs ? ReleaseTime(state, due)
                                     : state.Paced   ? std::max(due, state.LastWrite + kPaceTick)
                                                     : due;
        if (state.Paced && !FTiming.BurstMs && !state.AnswerEndsOut.empty())
            release = std::min(release, state.AnswerEndsOut.front());
        wake = wake ? std::min(*wake, release) : release;
    }
    return wake;
}

bool TSimServer::ReadFromPc(TServeState& state, short events) {
    const ssize_t got = ::read(FMaster.Get(), state.Buffer.data(), state.Buffer.size());
    if (got > 0) {
        const TClock::time_point at = TClock::now();
        NoteBytes(std::size_t(got), true, at);
        NoteLineRate();
        if (state.PromptPending) {
            std::lock_guard lock(FMutex);
            FStats.TurnaroundsUs.push_back(
                std::chrono::duration_cast<std::chrono::microseconds>(at - state.PromptSent).count());
            state.PromptPending = false;
        }
        const TClock::time_point start = state.Paced ? std::max(at, state.InLineFree) : at;
        for (ssize_t i = 0; i < got; ++i) {
            if (state.Paced)
                state.InLineFree = std::max(at, state.InLineFree) + state.CharTime;
            state.PendingIn.push_back({state.Buffer[std::size_t(i)], state.Paced ? state.InLineFree : at});
            if (state.Buffer[std::size_t(i)] == '\r')
                state.LineEndsIn.push_back(state.PendingIn.back().Arrival);
        }
        if (state.Paced) {
            std::lock_guard lock(FMutex);
            FBusy.Add(TLineBusyClock::ldIn, start, state.InLineFree);
        }
        return true;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
        (events & (POLLHUP | POLLERR))) {
        // The slave is held open here, so this only happens if the terminal itself went away.
        Fail("reading", got == 0 ? EIO : errno);
        return false;
    }
    return true;
}

TSimServer::TWaitResult TSimServer::WaitForLine(TServeState& state, std::optional<TClock::time_point> wake) {
    pollfd fds[2] = {{FStop.Get(), POLLIN, 0}, {FMaster.Get(), 0, 0}};
    if (!state.HangupDue && state.PendingIn.size() < kMaxPendingIn &&
        state.PendingOut.size() < kMaxPendingOut)
        fds[1].events |= POLLIN;
    if (state.WaitWritable)
        fds[1].events |= POLLOUT;
    timespec timeout{};
    if (wake) {
        const auto left =
            std::max<std::chrono::nanoseconds>(*wake - TClock::now(), std::chrono::nanoseconds(0));
        timeout.tv_sec = time_t(left.count() / 1000000000);
        timeout.tv_nsec = long(left.count() % 1000000000);
    }
    if (::ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0) {
        if (errno == EINTR)
            return wrGoOn;
        Fail("waiting", errno);
        return wrFailed;
    }
    if (fds[0].revents != 0)
        return wrStop;
    if (fds[1].revents & POLLOUT)
        state.WaitWritable = false;
    if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadFromPc(state, fds[1].revents))
        return wrFailed;
    return wrGoOn;
}

void TSimServer::Serve() {
    // A board's UART hands over a byte when its last bit is in, not up to the kernel's default 50 µs
    // of timer slack later: the paced line wakes at its own times.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    TServeState state;
    state.Paced = FTiming.Baud > 0;
    state.CharTime = CharTime(FTiming.Baud);
    state.BurstEpoch = TClock::now();
    std::string banner;
    {
        std::lock_guard lock(FMutex);
        banner = FMonitor.StartupBanner();
        state.Flooding = FMonitor.Flooding();
    }
    Enqueue(state, banner, false, TClock::now());

    // Line statistics older than this are folded into one figure; nothing new can start before it.
    constexpr auto kBusyFoldAge = 10s;
    constexpr std::size_t kBusyFoldSpans = 4096;
    for (;;) {
        const TClock::time_point now = TClock::now();
        KeepFlooding(state, now);
        TakeArrived(state, now);
        if (!WriteDue(state, now))
            break;
        std::optional<TClock::time_point> wake;
        if (HangUpWhenDrained(state, now, wake))
            break;
        {
            std::lock_guard lock(FMutex);
            if (FBusy.SpanCount() > kBusyFoldSpans)
                FBusy.Fold(now - kBusyFoldAge);
        }
        if (WaitForLine(state, NextWake(state, wake)) != wrGoOn)
            break;
    }

    {
        std::lock_guard lock(FMutex);
        FEnded = true;
    }
    Signal(FFinished.Get());
}
