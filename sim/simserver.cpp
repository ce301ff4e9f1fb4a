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
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Sent and received bytes are handled in batches this far apart while a line is busy, so that a fast
// line does not cost a wake-up per character.
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

std::string TSimStats::ToJson() const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "{\n"
                  "  \"count\": %llu,\n"
                  "  \"baud\": %u,\n"
                  "  \"bytes_in\": %llu,\n"
                  "  \"bytes_out\": %llu,\n"
                  "  \"line_busy_seconds\": %.6f,\n"
                  "  \"wall_seconds\": %.6f,\n"
                  "  \"turnaround_samples\": %zu,\n"
                  "  \"turnaround_median_us\": %lld,\n"
                  "  \"turnaround_p99_us\": %lld\n"
                  "}\n",
                  (unsigned long long)Commands, Baud, (unsigned long long)BytesIn,
                  (unsigned long long)BytesOut, LineBusySeconds, WallSeconds, TurnaroundsUs.size(),
                  (long long)TurnaroundMedianUs(), (long long)TurnaroundP99Us());
    return text;
}

TSimServer::TSimServer(TSimConfig config, unsigned baud) : FMonitor(std::move(config)), FBaud(baud) {
    FStats.Baud = baud;
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
        FThread = std::thread(&TSimServer::Serve, this);
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

TSimStats TSimServer::Stats() const {
    std::lock_guard lock(FMutex);
    TSimStats stats = FStats;
    stats.Commands = FMonitor.CommandCount();
    stats.LineBusySeconds = FBaud ? double(stats.BytesIn + stats.BytesOut) * 10.0 / FBaud : 0.0;
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

void TSimServer::Fail(const std::string& what, int errorNumber) {
    std::lock_guard lock(FMutex);
    FFailure = what + " on " + FSlavePath + " failed: " + ErrnoText(errorNumber);
}

void TSimServer::Serve() {
    const bool paced = FBaud > 0;
    const auto charTime =
        paced ? std::chrono::nanoseconds(std::llround(10e9 / FBaud)) : std::chrono::nanoseconds(0);

    std::deque<TInByte> pendingIn;
    std::deque<TOutByte> pendingOut;
    TClock::time_point inLineFree{};
    TClock::time_point outLineFree{};
    TClock::time_point lastWrite{};
    TClock::time_point lastDeliver{};
    TClock::time_point promptSent{};
    bool promptPending = false; // a prompt went out and no byte came back yet
    bool waitWritable = false;
    bool hangupDue = false;
    bool draining = false;
    TClock::time_point drainStart{};
    int quietChecks = 0;
    std::vector<char> buffer(kIoChunkBytes);

    auto enqueue = [&](const std::string& bytes, bool answer, TClock::time_point from) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            TClock::time_point due = from;
            if (paced) {
                due = std::max(from, outLineFree) + charTime;
                outLineFree = due;
            }
            pendingOut.push_back({bytes[i], due, answer && i + 1 == bytes.size()});
        }
    };
    // A board works on one command at a time: a slow answer holds back every later one.
    TClock::time_point busyUntil{};
    bool flooding = false;
    auto deliver = [&](std::string_view bytes, TClock::time_point at) {
        std::vector<TSimAnswer> answers;
        {
            std::lock_guard lock(FMutex);
            answers = FMonitor.FeedTimed(bytes);
            hangupDue = FMonitor.HangupDue();
            flooding = FMonitor.Flooding();
        }
        for (const TSimAnswer& answer : answers) {
            const TClock::time_point ready = std::max(at, busyUntil) + std::chrono::milliseconds(answer.DelayMs);
            busyUntil = ready;
            enqueue(answer.Text, true, ready);
        }
    };
    auto noteBytes = [&](std::size_t count, bool in, TClock::time_point at) {
        std::lock_guard lock(FMutex);
        (in ? FStats.BytesIn : FStats.BytesOut) += count;
        if (!FAnyByte)
            FFirstByte = at;
        FAnyByte = true;
        FLastByte = at;
    };

    std::string banner;
    {
        std::lock_guard lock(FMutex);
        banner = FMonitor.StartupBanner();
    }
    enqueue(banner, false, TClock::now());
    {
        std::lock_guard lock(FMutex);
        flooding = FMonitor.Flooding();
    }

    for (;;) {
        TClock::time_point now = TClock::now();

        if (flooding && pendingOut.size() < kFloodQueueBytes) {
            std::string text;
            while (text.size() < kFloodQueueBytes)
                text.append(kFloodText);
            enqueue(text, false, std::max(now, busyUntil));
        }

        if (!pendingIn.empty() && pendingIn.front().Arrival <= now) {
            std::string chunk;
            TClock::time_point at = now;
            while (!pendingIn.empty() && pendingIn.front().Arrival <= now) {
                chunk.push_back(pendingIn.front().Byte);
                at = pendingIn.front().Arrival;
                pendingIn.pop_front();
            }
            // Answers are timed from the arrival of the last byte, not from this late wake-up.
            deliver(chunk, at);
            lastDeliver = now;
        }

        if (!pendingOut.empty() && !waitWritable) {
            std::size_t ready = 0;
            while (ready < buffer.size() && ready < pendingOut.size() &&
                   pendingOut[ready].Due <= now) {
                buffer[ready] = pendingOut[ready].Byte;
                ++ready;
            }
            if (ready > 0) {
                const ssize_t written = ::write(FMaster.Get(), buffer.data(), ready);
                if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    Fail("writing", errno);
                    break;
                }
                if (written > 0) {
                    const TClock::time_point at = TClock::now();
                    bool prompt = false;
                    for (ssize_t i = 0; i < written; ++i) {
                        prompt = prompt || pendingOut.front().EndsAnswer;
                        pendingOut.pop_front();
                    }
                    noteBytes(std::size_t(written), false, at);
                    lastWrite = at;
                    if (prompt) {
                        promptSent = at;
                        promptPending = true;
                    }
                }
                if (written < 0 ? errno != EINTR : std::size_t(written) < ready)
                    waitWritable = true;
            }
        }

        std::optional<TClock::time_point> wake;
        if (hangupDue && pendingOut.empty()) {
            // Closing the master discards what the PC has not read yet, so the last answer would never
            // arrive; wait until the slave's queue stays empty, or give up after a grace period.
            if (!draining) {
                draining = true;
                drainStart = now;
            }
            int queued = 0;
            if (::ioctl(FSlaveKeeper.Get(), FIONREAD, &queued) != 0)
                queued = 0;
            quietChecks = queued == 0 ? quietChecks + 1 : 0;
            if (quietChecks >= kQuietChecksBeforeHangup || now - drainStart >= kHangupGrace) {
                FMaster.Reset();
                FSlaveKeeper.Reset();
                break;
            }
            wake = now + kDrainPoll;
        }

        if (!pendingIn.empty()) {
            const TClock::time_point arrival = std::max(pendingIn.front().Arrival, lastDeliver + kPaceTick);
            wake = wake ? std::min(*wake, arrival) : arrival;
        }
        if (!pendingOut.empty() && !waitWritable) {
            const TClock::time_point due =
                paced ? std::max(pendingOut.front().Due, lastWrite + kPaceTick) : pendingOut.front().Due;
            wake = wake ? std::min(*wake, due) : due;
        }

        pollfd fds[2] = {{FStop.Get(), POLLIN, 0}, {FMaster.Get(), 0, 0}};
        if (!hangupDue && pendingIn.size() < kMaxPendingIn && pendingOut.size() < kMaxPendingOut)
            fds[1].events |= POLLIN;
        if (waitWritable)
            fds[1].events |= POLLOUT;
        timespec timeout{};
        if (wake) {
            const auto left =
                std::max<std::chrono::nanoseconds>(*wake - TClock::now(), std::chrono::nanoseconds(0));
            timeout.tv_sec = time_t(left.count() / 1000000000);
            timeout.tv_nsec = long(left.count() % 1000000000);
        }
        const int ready = ::ppoll(fds, 2, wake ? &timeout : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            Fail("waiting", errno);
            break;
        }
        if (fds[0].revents != 0)
            break;
        if (fds[1].revents & POLLOUT)
            waitWritable = false;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t got = ::read(FMaster.Get(), buffer.data(), buffer.size());
            if (got > 0) {
                const TClock::time_point at = TClock::now();
                noteBytes(std::size_t(got), true, at);
                if (promptPending) {
                    std::lock_guard lock(FMutex);
                    FStats.TurnaroundsUs.push_back(
                        std::chrono::duration_cast<std::chrono::microseconds>(at - promptSent).count());
                    promptPending = false;
                }
                if (paced) {
                    for (ssize_t i = 0; i < got; ++i) {
                        inLineFree = std::max(at, inLineFree) + charTime;
                        pendingIn.push_back({buffer[std::size_t(i)], inLineFree});
                    }
                } else {
                    deliver(std::string_view(buffer.data(), std::size_t(got)), at);
                }
            } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
                       (fds[1].revents & (POLLHUP | POLLERR))) {
                // The slave is held open here, so this only happens if the terminal itself went away.
                Fail("reading", got == 0 ? EIO : errno);
                break;
            }
        }
    }

    {
        std::lock_guard lock(FMutex);
        FEnded = true;
    }
    Signal(FFinished.Get());
}
