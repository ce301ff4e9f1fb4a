#include "serial/comm_posix.h"

#include "files/systemfiles.h"
#include "files/usersettings.h"
#include "serial/linestate.h"

#include <QSettings>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

static_assert(sizeof(termios2) == 44, "termios2 must match the kernel's layout");

namespace {

constexpr std::uint32_t kBother = 0010000; // BOTHER from <asm/termbits.h>
constexpr int kInputBaudShift = 16;        // IBSHIFT: the input rate bits sit above the output ones
constexpr auto kCloseDrainLimit = std::chrono::milliseconds(500);

struct TSpeedCode {
    std::uint32_t Rate;
    speed_t Code;
};

constexpr TSpeedCode kSpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

speed_t SpeedCodeOf(std::uint32_t rate) {
    for (const auto& entry : kSpeedCodes)
        if (entry.Rate == rate)
            return entry.Code;
    return B0;
}

// Raw bytes both ways: no translation, no echo, no signals. One byte satisfies a read, so on this
// non-blocking descriptor "nothing yet" is EAGAIN and a read of 0 bytes means the device hung up.
void SetRawMode(termios2& tio) {
    tio.c_iflag &=
        ~std::uint32_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~std::uint32_t(OPOST);
    tio.c_lflag &= ~std::uint32_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

// Character size, parity, stop bits and flow control.
void SetFraming(const TCommLineState& state, termios2& tio) {
    tio.c_iflag &= ~std::uint32_t(IXON | IXOFF);
    tio.c_cflag &= ~std::uint32_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (state.ByteSize) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    switch (state.Parity) {
    case cpaNone:
        break;
    case cpaOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case cpaEven:
        tio.c_cflag |= PARENB;
        break;
    case cpaMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case cpaSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // Linux knows one or two stop bits; 1.5 becomes two.
    if (state.StopBits != csbOne)
        tio.c_cflag |= CSTOPB;
    if (state.Rts == crmHandshake)
        tio.c_cflag |= CRTSCTS;
    if (state.XonXoff)
        tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VSTART] = state.XonChar;
    tio.c_cc[VSTOP] = state.XoffChar;
}

// A rate with a Bxxx constant uses it; any other goes to the kernel as a number (BOTHER). Input rate
// bits 0: input runs at the output rate.
void SetRate(std::uint32_t rate, termios2& tio) {
    const speed_t code = SpeedCodeOf(rate);
    tio.c_cflag &= ~std::uint32_t(CBAUD | (CBAUD << kInputBaudShift));
    tio.c_cflag |= code != B0 ? std::uint32_t(code) : kBother;
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
}

// Whether the device took the framing and flow control. A pseudo-terminal has no character framing;
// its kernel side always reports 8 bits without parity.
bool FormatTaken(const TCommLineState& wanted, const TCommLineState& actual, bool pseudoTerminal) {
    const bool framingKept =
        pseudoTerminal || (actual.ByteSize == wanted.ByteSize && actual.Parity == wanted.Parity);
    const bool stopKept = actual.StopBits == (wanted.StopBits == csbOne ? csbOne : csbTwo);
    const bool flowKept =
        (actual.Rts == crmHandshake) == (wanted.Rts == crmHandshake) && actual.XonXoff == wanted.XonXoff;
    return framingKept && stopKept && flowKept;
}

QString SystemText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Errors after which the descriptor is dead: the adapter was unplugged or the other side hung up.
bool IsVanishedError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

QString OpenErrorText(const QString& path, int err) {
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral("cannot open %1: %2 (add the user to the dialout group)")
            .arg(path, SystemText(err));
    case EBUSY:
        return QStringLiteral("cannot open %1: %2 (device is in use)").arg(path, SystemText(err));
    case EWOULDBLOCK: // the lock of another Tervolt: the system's text would only say "try again"
        return QStringLiteral("cannot open %1: device is in use").arg(path);
    default:
        return QStringLiteral("cannot open %1: %2").arg(path, SystemText(err));
    }
}

// Owns a descriptor until it is handed over.
class TFdGuard {
public:
    explicit TFdGuard(int fd) : FFd(fd) {}
    ~TFdGuard() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFdGuard(const TFdGuard&) = delete;
    TFdGuard& operator=(const TFdGuard&) = delete;
    int Get() const { return FFd; }
    int Take() { return std::exchange(FFd, -1); }

private:
    int FFd;
};

} // namespace

TCommPort::~TCommPort() = default;

std::unique_ptr<TCommPort> CreateLocalCommPort() {
    return std::make_unique<TCommPortPosix>();
}

std::vector<int> SystemComNumbers() {
    std::vector<int> numbers;
    const std::unique_ptr<QSettings> settings = OpenUserSettings();
    if (!settings)
        return numbers;
    for (int n = 1; n <= kHighestComNumber; ++n)
        if (!settings->value(QStringLiteral("Ports/COM%1").arg(n)).toString().trimmed().isEmpty())
            numbers.push_back(n);
    return numbers;
}

QString ResolvePortName(const QString& name) {
    const std::optional<int> comNumber = ComNumberOf(name);
    if (!comNumber || *comNumber < 1)
        return name;
    const int number = *comNumber;
    // A settings file that cannot be read safely maps nothing.
    if (const std::unique_ptr<QSettings> settings = OpenUserSettings()) {
        const QString mapped =
            settings->value(QStringLiteral("Ports/COM%1").arg(number)).toString().trimmed();
        if (!mapped.isEmpty())
            return mapped;
    }
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

bool ReadPosixLineState(int fd, TCommLineState& state) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    state.BaudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        state.ByteSize = 5;
        break;
    case CS6:
        state.ByteSize = 6;
        break;
    case CS7:
        state.ByteSize = 7;
        break;
    default:
        state.ByteSize = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
        state.Parity = cpaNone;
    else if (tio.c_cflag & CMSPAR)
        state.Parity = (tio.c_cflag & PARODD) ? cpaMark : cpaSpace;
    else
        state.Parity = (tio.c_cflag & PARODD) ? cpaOdd : cpaEven;
    // Linux has no 1.5 stop bits: CSTOPB reads back as two.
    state.StopBits = (tio.c_cflag & CSTOPB) ? csbTwo : csbOne;
    state.XonXoff = (tio.c_iflag & IXON) && (tio.c_iflag & IXOFF);
    state.XonChar = tio.c_cc[VSTART];
    state.XoffChar = tio.c_cc[VSTOP];
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0) {
        state.DtrOn = lines & TIOCM_DTR;
        state.Rts = (tio.c_cflag & CRTSCTS) ? crmHandshake : (lines & TIOCM_RTS) ? crmOn : crmOff;
    } else {
        state.Rts = (tio.c_cflag & CRTSCTS) ? crmHandshake : state.Rts;
    }
    return true;
}

TCommPortPosix::~TCommPortPosix() {
    Close();
}

bool TCommPortPosix::Fail(const QString& what, int err) {
    if (IsVanishedError(err)) {
        FGone = true;
        FLastFailure = QStringLiteral("connection to %1 lost: %2").arg(FPath, SystemText(err));
    } else {
        FLastFailure = QStringLiteral("%1 %2: %3").arg(what, FPath, SystemText(err));
    }
    return false;
}

void TCommPortPosix::NoteHangup() {
    if (!FGone)
        FLastFailure = QStringLiteral("connection to %1 lost: the device hung up").arg(FPath);
    FGone = true;
}

bool TCommPortPosix::Open(const QString& name) {
    Close();
    FGone = false;
    FLastFailure.clear();
    FPath = name;
    if (FPath.isEmpty()) {
        FLastFailure = QStringLiteral("cannot open a port without a name");
        return false;
    }
    const QByteArray nativePath = SystemFileName(FPath);
    TFdGuard fd(::open(nativePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        FLastFailure = OpenErrorText(FPath, errno);
        return false;
    }
    // TIOCEXCL does not stop root; the lock stops every Tervolt process.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        FLastFailure = OpenErrorText(FPath, errno);
        return false;
    }
    if (::ioctl(fd.Get(), TCGETS2, &FOriginal) != 0) {
        const int err = errno;
        FLastFailure =
            err == ENOTTY
                ? QStringLiteral("cannot open %1: %2 (not a serial device)").arg(FPath, SystemText(err))
                : OpenErrorText(FPath, err);
        return false;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        FLastFailure = OpenErrorText(FPath, errno);
        return false;
    }
    FHaveOriginal = true;
    FExclusive = true;
    FFd = fd.Take();
    FBlocking = false;
    RequestLowLatency();
    return true;
}

void TCommPortPosix::RequestLowLatency() {
    // A USB adapter otherwise holds received bytes for up to 16 ms before passing them on, which every
    // command's answer would wait for. A device without the setting (a pseudo-terminal) stays as it is.
    serial_struct serial{};
    if (::ioctl(FFd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    FLowLatencySet = ::ioctl(FFd, TIOCSSERIAL, &serial) == 0;
}

void TCommPortPosix::RestoreLatency() {
    if (!FLowLatencySet)
        return;
    FLowLatencySet = false;
    serial_struct serial{};
    if (::ioctl(FFd, TIOCGSERIAL, &serial) != 0)
        return;
    serial.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(FFd, TIOCSSERIAL, &serial);
}

void TCommPortPosix::Adopt(TCommHandle handle) {
    Close();
    FGone = false;
    FLastFailure.clear();
    FPath = QStringLiteral("descriptor %1").arg(handle);
    FFd = int(handle);
    const int flags = ::fcntl(FFd, F_GETFL);
    FBlocking = flags >= 0 && !(flags & O_NONBLOCK);
    FHaveOriginal = ::ioctl(FFd, TCGETS2, &FOriginal) == 0;
    FExclusive = false;
}

void TCommPortPosix::Release() {
    FFd = -1;
    FLowLatencySet = false;
    FHaveOriginal = false;
    FExclusive = false;
}

void TCommPortPosix::Close() {
    if (FFd < 0)
        return;
    RestoreAndClose();
    FFd = -1;
    FHaveOriginal = false;
    FExclusive = false;
}

void TCommPortPosix::RestoreAndClose() {
    if (!FGone) {
        // close() waits for queued output (up to 30 s on a stalled line): give it a short while, then drop
        // it.
        const auto end = std::chrono::steady_clock::now() + kCloseDrainLimit;
        int queued = 0;
        while (::ioctl(FFd, TIOCOUTQ, &queued) == 0 && queued > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::tcflush(FFd, TCOFLUSH);
        if (FHaveOriginal)
            ::ioctl(FFd, TCSETS2, &FOriginal);
        RestoreLatency();
        if (FExclusive)
            ::ioctl(FFd, TIOCNXCL); // the flag outlives us while another descriptor holds the tty open
    }
    FLowLatencySet = false;
    ::close(FFd);
}

bool TCommPortPosix::IsPseudoTerminal() const {
    struct stat info {};
    if (::fstat(FFd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned deviceMajor = major(info.st_rdev);
    return (deviceMajor >= 136 && deviceMajor <= 143) || deviceMajor == 3; // Unix98 and legacy slaves
}

bool TCommPortPosix::SetLineState(const TCommLineState& state) {
    if (const QString error = LineStateRequestError(FFd >= 0, state, FPath); !error.isEmpty()) {
        FLastFailure = error;
        return false;
    }
    // One TCSETS2 for everything: glibc's tcsetattr fails a request whose character format a device
    // (a pseudo-terminal) overrides, and we check what was taken ourselves below.
    termios2 tio{};
    if (::ioctl(FFd, TCGETS2, &tio) != 0)
        return Fail(QStringLiteral("cannot read the settings of"), errno);
    SetRawMode(tio);
    SetFraming(state, tio);
    SetRate(state.BaudRate, tio);
    if (::ioctl(FFd, TCSETS2, &tio) != 0)
        return Fail(QStringLiteral("cannot apply %1 baud and the line settings to").arg(state.BaudRate),
                    errno);

    SetDTR(state.DtrOn);
    SetRTS(state.Rts != crmOff);
    if (FGone)
        return false;

    // The kernel takes what it can and reports success: check that all of it was taken.
    TCommLineState actual;
    if (!ReadPosixLineState(FFd, actual))
        return Fail(QStringLiteral("cannot read the settings of"), errno);
    if (const QString error = RateReadBackError(state.BaudRate, actual.BaudRate, FPath); !error.isEmpty()) {
        FLastFailure = error;
        return false;
    }
    if (!FormatTaken(state, actual, IsPseudoTerminal())) {
        FLastFailure =
            QStringLiteral("the device %1 did not take the requested character format or flow control")
                .arg(FPath);
        return false;
    }
    return true;
}

bool TCommPortPosix::SetQueueSizes(std::uint32_t, std::uint32_t) {
    // The kernel sizes a tty's queues itself; there is nothing to set, only a descriptor to have.
    if (FFd < 0) {
        FLastFailure = QStringLiteral("the port is not open");
        return false;
    }
    return true;
}

bool TCommPortPosix::Purge(bool input, bool output) {
    if (FFd < 0)
        return false;
    if (!input && !output)
        return true;
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (::tcflush(FFd, which) != 0)
        return Fail(QStringLiteral("cannot discard the queues of"), errno);
    return true;
}

bool TCommPortPosix::QueuedIn(std::uint32_t& count) {
    count = 0;
    if (FFd < 0)
        return false;
    int queued = 0;
    if (::ioctl(FFd, FIONREAD, &queued) != 0)
        return Fail(QStringLiteral("cannot count the input of"), errno);
    if (queued > 0) {
        count = std::uint32_t(queued);
        return true;
    }
    // An empty queue is also what a hung-up device shows; only poll() tells them apart.
    pollfd request{FFd, POLLIN, 0};
    if (::poll(&request, 1, 0) > 0 && (request.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        NoteHangup();
        return false;
    }
    return true;
}

bool TCommPortPosix::QueuedOut(std::uint32_t& count) {
    count = 0;
    if (FFd < 0)
        return false;
    int queued = 0;
    if (::ioctl(FFd, TIOCOUTQ, &queued) != 0)
        return Fail(QStringLiteral("cannot count the output of"), errno);
    count = queued > 0 ? std::uint32_t(queued) : 0;
    return true;
}

std::int64_t TCommPortPosix::Read(void* buffer, std::uint32_t size) {
    if (FFd < 0)
        return -1;
    if (size == 0)
        return 0;
    // An adopted descriptor may block (and wait for more than is there): take only what is queued.
    if (FBlocking) {
        std::uint32_t queued = 0;
        if (!QueuedIn(queued))
            return -1;
        size = std::min(size, queued);
        if (size == 0)
            return 0;
    }
    for (;;) {
        const ssize_t n = ::read(FFd, buffer, size);
        if (n > 0)
            return n;
        if (n == 0) {
            NoteHangup();
            return -1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        Fail(QStringLiteral("cannot read from"), errno);
        return -1;
    }
}

std::int64_t TCommPortPosix::Write(const void* data, std::uint32_t size) {
    if (FFd < 0)
        return -1;
    if (size == 0)
        return 0;
    bool waited = false;
    for (;;) {
        const ssize_t n = ::write(FFd, data, size);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            Fail(QStringLiteral("cannot write to"), errno);
            return -1;
        }
        if (waited)
            return 0;
        switch (WaitWritable(FWriteTimeoutMs)) {
        case cwrGone:
            return -1;
        case cwrTimeout:
            return 0;
        case cwrReady:
            waited = true;
            break;
        }
    }
}

TCommWaitResult TCommPortPosix::Wait(short events, int timeoutMs) {
    if (FFd < 0)
        return cwrGone;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd request{FFd, events, 0};
        const int ready = ::poll(&request, 1, int(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            Fail(QStringLiteral("cannot wait for"), errno);
            return cwrGone;
        }
        if (ready == 0)
            return cwrTimeout;
        if (request.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            NoteHangup();
            return cwrGone;
        }
        return cwrReady;
    }
}

TCommWaitResult TCommPortPosix::WaitReadable(int timeoutMs) {
    return Wait(POLLIN, timeoutMs);
}

TCommWaitResult TCommPortPosix::WaitWritable(int timeoutMs) {
    return Wait(POLLOUT, timeoutMs);
}

std::uint8_t TCommPortPosix::ModemLines() {
    int lines = 0;
    if (FFd < 0 || ::ioctl(FFd, TIOCMGET, &lines) != 0) {
        if (FFd >= 0 && IsVanishedError(errno))
            Fail(QString(), errno);
        return 0;
    }
    std::uint8_t result = 0;
    if (lines & TIOCM_CTS)
        result |= cmlCTS;
    if (lines & TIOCM_DSR)
        result |= cmlDSR;
    if (lines & TIOCM_RNG)
        result |= cmlRING;
    if (lines & TIOCM_CAR)
        result |= cmlCD;
    return result;
}

void TCommPortPosix::ModemLine(int bit, bool on) {
    if (FFd < 0)
        return;
    // A pseudo-terminal has no modem lines (ENOTTY); that is no reason to fail.
    if (::ioctl(FFd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0 && IsVanishedError(errno))
        Fail(QString(), errno);
}

void TCommPortPosix::SetDTR(bool on) {
    ModemLine(TIOCM_DTR, on);
}

void TCommPortPosix::SetRTS(bool on) {
    ModemLine(TIOCM_RTS, on);
}
