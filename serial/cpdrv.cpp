#include "serial/cpdrv.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace {

// What a single device write may wait for room before the send loop looks at its stall time again.
constexpr int kWriteTimeoutMs = 10;
// While the device holds more than OutBufSize, the queue drains at line speed: look again after this.
constexpr auto kQueueDrainPause = std::chrono::milliseconds(2);
constexpr std::uint32_t kClosedCount = 65535;
// While the readable notice does the reading, the timer only checks now and then that the notice is
// still on: the event loop turns a notifier off by itself when its descriptor turns invalid.
constexpr int kNoticeWatchMs = 250;

// A wrapping millisecond count, as the stall and packet clocks expect.
std::uint32_t TickCount() {
    using namespace std::chrono;
    return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int WaitBudgetMs(std::uint32_t timeoutMs, std::uint32_t stalledMs) {
    // One past the time-out, so that the next pass sees it exceeded.
    const std::uint64_t left = std::uint64_t(timeoutMs) - stalledMs + 1;
    return int(std::min<std::uint64_t>(left, std::uint64_t(std::numeric_limits<int>::max())));
}

// Polling stays paused for the lifetime of this object.
class TPollingPause {
public:
    explicit TPollingPause(TCommPortDriver& driver) : FDriver(driver) { FDriver.PausePolling(); }
    ~TPollingPause() { FDriver.ContinuePolling(); }
    TPollingPause(const TPollingPause&) = delete;
    TPollingPause& operator=(const TPollingPause&) = delete;

private:
    TCommPortDriver& FDriver;
};

} // namespace

std::uint32_t BaudRateOf(TBaudRate rate) {
    static constexpr std::uint32_t kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                               14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate < std::size(kRates) ? kRates[rate] : 0;
}

std::uint32_t DelayForRXAtRate(std::uint32_t bitsPerSecond, std::uint32_t dataSize) {
    if (bitsPerSecond == 0)
        return 0;
    const long double ms =
        static_cast<long double>(dataSize) / (static_cast<long double>(bitsPerSecond) / 10) * 1000;
    const long double rounded = std::nearbyint(ms); // the default rounding mode: half to even
    const long double limit = std::numeric_limits<std::uint32_t>::max();
    return std::uint32_t(std::min(rounded, limit));
}

std::uint32_t DelayForRX(TBaudRate rate, std::uint32_t dataSize) {
    return DelayForRXAtRate(BaudRateOf(rate), dataSize);
}

TCommPortDriver::TCommPortDriver(QObject* owner)
    : QObject(owner), FCommPort(CreateCommPort()), FPollTimer(this), FDueTimer(this) {
    FTempInBuffer.assign(FInBufSize, 0);
    FPollTimer.setTimerType(Qt::PreciseTimer);
    connect(&FPollTimer, &QTimer::timeout, this, &TCommPortDriver::PollTimerTimeout);
    FDueTimer.setTimerType(Qt::PreciseTimer);
    FDueTimer.setSingleShot(true);
    connect(&FDueTimer, &QTimer::timeout, this, &TCommPortDriver::PollTimerTimeout);
}

TCommPortDriver::~TCommPortDriver() {
    Disconnect();
}

void TCommPortDriver::UsePort(std::unique_ptr<TCommPort> port) {
    Disconnect();
    FCommPort = std::move(port);
    FCommPort->SetNoteSink(FPortNotes);
}

void TCommPortDriver::SetPortNotes(TCommNoteSink sink) {
    FPortNotes = std::move(sink);
    FCommPort->SetNoteSink(FPortNotes);
}

void TCommPortDriver::SetPort(TPortNumber value) {
    if (Connected())
        return;
    FPort = value;
    if (value != pnCustom) {
        FPortName = QStringLiteral("\\\\.\\COM%1").arg(int(value));
        FGivenDevice.clear();
    }
}

void TCommPortDriver::SetPortName(const QString& value) {
    SetPortDevice(value, QString());
}

void TCommPortDriver::SetPortDevice(const QString& name, const QString& device) {
    if (Connected())
        return;
    FPort = pnCustom;
    FPortName = name;
    FGivenDevice = device;
}

void TCommPortDriver::SetBaudRate(TBaudRate value) {
    FBaudRate = value;
    if (value != brCustom)
        FBaudRateValue = BaudRateOf(value);
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetBaudRateValue(std::uint32_t value) {
    FBaudRate = brCustom;
    FBaudRateValue = value;
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetDataBits(TDataBits value) {
    FDataBits = value;
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetStopBits(TStopBits value) {
    FStopBits = value;
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetParity(TParity value) {
    FParity = value;
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetHwFlowControl(THwFlowControl value) {
    FHwFlow = value;
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetSwFlowControl(TSwFlowControl value) {
    FSwFlow = value;
    if (Connected())
        ApplyCOMSettings();
}

void TCommPortDriver::SetInBufSize(std::uint32_t value) {
    if (Connected())
        return;
    FInBufSize = std::clamp(value, kMinBufSize, kMaxBufSize);
    FTempInBuffer.assign(FInBufSize, 0);
    SetPacketSize(FPacketSize);
}

void TCommPortDriver::SetOutBufSize(std::uint32_t value) {
    if (Connected())
        return;
    FOutBufSize = std::clamp(value, kMinBufSize, kMaxBufSize);
}

void TCommPortDriver::SetPacketSize(std::int16_t value) {
    if (value <= 0) {
        FPacketSize = -1;
        UpdatePollTimer();
        return;
    }
    FPacketSize = std::int16_t(std::min<std::uint32_t>(std::uint32_t(value), kMaxBufSize));
    if (std::uint32_t(FPacketSize) > FInBufSize)
        SetInBufSize(std::uint32_t(FPacketSize));
    // While open the receive buffer cannot grow; a packet never outgrows it.
    if (std::uint32_t(FPacketSize) > FInBufSize)
        FPacketSize = std::int16_t(FInBufSize);
    UpdatePollTimer();
}

void TCommPortDriver::SetPacketTimeout(std::int32_t value) {
    if (value < 1)
        FPacketTimeout = -1;
    else if (std::uint32_t(value) >= FPollingDelay)
        FPacketTimeout = value;
    else
        FPacketTimeout = std::int32_t(unsigned(FPollingDelay) + unsigned(FPollingDelay) * 40u / 100u);
}

void TCommPortDriver::SetPollingDelay(std::uint16_t value) {
    value = std::max(value, kMinPollingDelayMs);
    if (value == FPollingDelay)
        return;
    FPollingDelay = value;
    UpdatePollTimer();
    SetPacketTimeout(FPacketTimeout);
}

void TCommPortDriver::SetPollOnReadable(bool value) {
    FPollOnReadable = value;
    if (!Connected())
        return;
    if (value && !FReadNotifier)
        StartPolling();
    else if (!value)
        DropReadNotifier();
}

bool TCommPortDriver::Connect() {
    if (Connected())
        return true;
    // Resolved once for this open; the settings may have mapped the name anew since the last.
    FDevice = FGivenDevice.isEmpty() ? ResolvePortName(FPortName) : FGivenDevice;
    if (!FCommPort->Open(FDevice))
        return false;
    if (!ApplyCOMSettings()) {
        Disconnect();
        return false;
    }
    FCommPort->SetWriteTimeout(kWriteTimeoutMs);
    ++FConnections;
    StartPolling();
    return true;
}

void TCommPortDriver::Disconnect() {
    if (!Connected())
        return;
    StopPolling();
    FCommPort->Close();
}

bool TCommPortDriver::Connected() const {
    return FCommPort->IsOpen();
}

TCommHandle TCommPortDriver::Handle() const {
    return FCommPort->Handle();
}

QString TCommPortDriver::LastFailure() const {
    return FCommPort->LastFailure();
}

bool TCommPortDriver::ApplyCOMSettings() {
    if (!Connected())
        return false;
    TCommLineState state;
    state.BaudRate = FBaudRateValue;
    state.ByteSize = std::uint8_t(FDataBits + 5);
    state.Parity = TCommParity(FParity);
    state.StopBits = TCommStopBits(FStopBits);
    state.DtrOn = true; // DTR is raised on every open: nothing asks for it low
    state.Rts = FHwFlow == hfRTSCTS ? crmHandshake : FHwFlow == hfNONERTSON ? crmOn : crmOff;
    state.XonXoff = FSwFlow == sfXONXOFF;
    if (!FCommPort->SetLineState(state)) {
        CheckVanished();
        return false;
    }
    if (!FlushBuffers(true, true))
        return false;
    return FCommPort->SetQueueSizes(FInBufSize, FOutBufSize);
}

void TCommPortDriver::SetHandle(TCommHandle value) {
    if (value == Handle())
        return;
    if (value == kReleaseCommHandle) {
        if (Connected())
            StopPolling();
        FCommPort->Release();
        return;
    }
    Disconnect();
    if (value != kInvalidCommHandle) {
        FCommPort->Adopt(value);
        ++FConnections;
        StartPolling();
    }
}

void TCommPortDriver::StartPolling() {
    if (FPollOnReadable && FCommPort->CanNotifyReadable() && !FReadNotifier) {
        FReadNotifier = new QSocketNotifier(qintptr(Handle()), QSocketNotifier::Read, this);
        connect(FReadNotifier, &QSocketNotifier::activated, this, &TCommPortDriver::ReadNotifierActivated);
        FReadNotifier->setEnabled(IsPolling());
    }
    FPolling = true;
    UpdatePollTimer();
}

void TCommPortDriver::UpdatePollTimer() {
    // An enabled readable notice sees every byte and every hang-up: polling at full rate beside it
    // would only wake the host for nothing. Full rate while the notice is off and for packets, whose
    // time-out the timer keeps.
    if (!FPolling) {
        FPollTimer.stop();
        return;
    }
    const bool noticeCovers = FReadNotifier && FReadNotifier->isEnabled() && FPacketSize <= 0;
    const int interval = noticeCovers ? std::max<int>(kNoticeWatchMs, FPollingDelay) : FPollingDelay;
    if (!FPollTimer.isActive() || FPollTimer.interval() != interval)
        FPollTimer.start(interval);
}

void TCommPortDriver::StopPolling() {
    FPolling = false;
    FPollTimer.stop();
    FDueTimer.stop();
    FExpected = 0;
    DropReadNotifier();
}

void TCommPortDriver::ExpectAtLeast(std::uint32_t bytes) {
    FExpected = bytes;
    ArmDuePoll();
}

void TCommPortDriver::ArmDuePoll() {
    // Only the timer's wait can be shortened: readable data is read at once anyway.
    FDueTimer.stop();
    if (FExpected == 0 || FReadNotifier || !Connected() || FPollingPauseCount > 0)
        return;
    std::uint32_t queued = 0;
    if (!FCommPort->QueuedIn(queued))
        return;
    const std::uint32_t dueMs =
        queued >= FExpected ? 0 : DelayForRXAtRate(BitsPerSecond(), FExpected - queued);
    if (FPollTimer.isActive() && dueMs >= std::uint32_t(std::max(0, FPollTimer.remainingTime())))
        return;
    FDueTimer.start(int(std::min<std::uint32_t>(dueMs, 0x7FFFFFFF)));
}

void TCommPortDriver::DropReadNotifier() {
    if (!FReadNotifier)
        return;
    // It may be the one whose signal is running now: let the event loop delete it.
    FReadNotifier->setEnabled(false);
    FReadNotifier->deleteLater();
    FReadNotifier = nullptr;
    UpdatePollTimer();
}

void TCommPortDriver::PollTimerTimeout() {
    PollTimerTick();
    if (FReadNotifier && IsPolling()) {
        FReadNotifier->setEnabled(true);
        UpdatePollTimer();
    }
}

void TCommPortDriver::ReadNotifierActivated() {
    // Level-triggered: a pass that could take nothing (paused, a partial packet, a failed read) would
    // fire again at once, so it stays off until the timer or ContinuePolling turns it on again. One
    // that took bytes stays on, and more bytes are read as they come; toggling it each time would
    // cost the event loop a wake-up of its own per batch.
    if (!FReadNotifier)
        return;
    const std::uint64_t before = FBytesRead;
    // The descriptor is readable: a read takes what is there without asking how much first.
    if (FPacketSize <= 0 && Connected() && IsPolling())
        PollStream(std::uint32_t(FTempInBuffer.size()));
    else
        PollTimerTick();
    if (FReadNotifier && FBytesRead == before) {
        FReadNotifier->setEnabled(false);
        UpdatePollTimer();
    }
}

void TCommPortDriver::ContinuePolling() {
    --FPollingPauseCount;
    if (FReadNotifier && IsPolling()) {
        FReadNotifier->setEnabled(true);
        UpdatePollTimer();
    }
}

bool TCommPortDriver::CheckVanished() {
    if (!Connected() || !FCommPort->IsGone())
        return false;
    HandleVanished();
    return true;
}

void TCommPortDriver::HandleVanished() {
    Disconnect();
    QMetaObject::invokeMethod(
        this, [this] { emit Disconnected(); }, Qt::QueuedConnection);
}

std::uint32_t TCommPortDriver::SendDataEx(const void* dataPtr, std::uint32_t dataSize,
                                          std::uint32_t timeoutMs) {
    if (!Connected() || !dataPtr)
        return 0;
    const auto* data = static_cast<const std::uint8_t*>(dataPtr);
    std::uint32_t written = 0;
    std::uint32_t lastProgress = TickCount();
    while (written < dataSize) {
        const std::uint16_t freeSpace = OutFreeSpace();
        if (!Connected())
            break;
        if (freeSpace > 0) {
            if (FCheckLineStatus && GetLineStatus().IsEmpty())
                break;
            const std::int64_t n =
                FCommPort->Write(data + written, std::min<std::uint32_t>(dataSize - written, freeSpace));
            if (n < 0) {
                CheckVanished();
                break;
            }
            if (n > 0) {
                written += std::uint32_t(n);
                lastProgress = TickCount();
                continue;
            }
        }
        const std::uint32_t stalled = TickCount() - lastProgress;
        if (stalled > timeoutMs)
            break;
        // Wait for the device instead of asking it again at once.
        if (freeSpace == 0) {
            std::this_thread::sleep_for(
                std::min(kQueueDrainPause, std::chrono::milliseconds(WaitBudgetMs(timeoutMs, stalled))));
        } else if (FCommPort->WaitWritable(WaitBudgetMs(timeoutMs, stalled)) == cwrGone) {
            HandleVanished();
            break;
        }
    }
    return written;
}

std::uint32_t TCommPortDriver::SendData(const void* dataPtr, std::uint32_t dataSize) {
    return SendDataEx(dataPtr, dataSize, kOutputTimeoutMs);
}

bool TCommPortDriver::SendByte(std::uint8_t value) {
    return SendData(&value, 1) == 1;
}

bool TCommPortDriver::SendChar(char value) {
    return SendData(&value, 1) == 1;
}

bool TCommPortDriver::SendString(const QByteArray& text) {
    const auto size = std::uint32_t(text.size());
    return SendData(text.constData(), size) == size;
}

bool TCommPortDriver::SendZString(const char* text) {
    return SendString(text ? QByteArray::fromRawData(text, qsizetype(std::strlen(text))) : QByteArray());
}

std::uint32_t TCommPortDriver::ReadData(void* dataPtr, std::uint32_t maxDataSize) {
    if (!Connected() || !dataPtr)
        return 0;
    TPollingPause pause(*this);
    auto* data = static_cast<std::uint8_t*>(dataPtr);
    std::uint32_t read = 0;
    std::uint32_t lastProgress = TickCount();
    while (read < maxDataSize) {
        const std::uint32_t queued = CountRX();
        if (!Connected())
            break;
        if (queued > 0) {
            const std::int64_t n = FCommPort->Read(data + read, std::min(maxDataSize - read, queued));
            if (n < 0) {
                CheckVanished();
                break;
            }
            if (n > 0) {
                read += std::uint32_t(n);
                lastProgress = TickCount();
                continue;
            }
        }
        const std::uint32_t stalled = TickCount() - lastProgress;
        if (stalled > FInputTimeout)
            break;
        if (FCommPort->WaitReadable(WaitBudgetMs(FInputTimeout, stalled)) == cwrGone) {
            HandleVanished();
            break;
        }
    }
    return read;
}

bool TCommPortDriver::ReadByte(std::uint8_t& value) {
    return ReadData(&value, 1) == 1;
}

bool TCommPortDriver::ReadChar(char& value) {
    return ReadData(&value, 1) == 1;
}

std::uint32_t TCommPortDriver::CountRX() {
    if (!Connected())
        return kClosedCount;
    std::uint32_t queued = 0;
    if (!FCommPort->QueuedIn(queued) && CheckVanished())
        return kClosedCount;
    return queued;
}

std::uint16_t TCommPortDriver::OutFreeSpace() {
    if (!Connected())
        return kClosedCount;
    std::uint32_t queued = 0;
    if (!FCommPort->QueuedOut(queued) && CheckVanished())
        return kClosedCount;
    // The kernel's queue may hold more than OutBufSize; that leaves no room rather than wrapping.
    return std::uint16_t(queued >= FOutBufSize ? 0 : FOutBufSize - queued);
}

bool TCommPortDriver::FlushBuffers(bool inBuf, bool outBuf) {
    if (!Connected())
        return false;
    const bool purged = FCommPort->Purge(inBuf, outBuf);
    if (purged)
        FPacketStartTime = kNoPacket;
    else
        CheckVanished();
    return purged;
}

TLineStatusSet TCommPortDriver::GetLineStatus() {
    if (!Connected())
        return {};
    const std::uint8_t lines = FCommPort->ModemLines();
    if (CheckVanished())
        return {};
    TLineStatusSet status;
    if (lines & cmlCTS)
        status.Include(lsCTS);
    if (lines & cmlDSR)
        status.Include(lsDSR);
    if (lines & cmlRING)
        status.Include(lsRING);
    if (lines & cmlCD)
        status.Include(lsCD);
    return status;
}

void TCommPortDriver::ToggleDTR(bool onOff) {
    if (!Connected())
        return;
    FCommPort->SetDTR(onOff);
    CheckVanished();
}

void TCommPortDriver::ToggleRTS(bool onOff) {
    if (!Connected())
        return;
    FCommPort->SetRTS(onOff);
    CheckVanished();
}

std::uint32_t TCommPortDriver::BitsPerSecond() const {
    return FBaudRate == brCustom ? FBaudRateValue : BaudRateOf(FBaudRate);
}

std::uint32_t TCommPortDriver::PacketDelay(std::uint32_t dataSize) const {
    return DelayForRXAtRate(BitsPerSecond(), dataSize);
}

void TCommPortDriver::PollTimerTick() {
    if (!Connected() || FPollingPauseCount > 0)
        return;
    std::uint32_t queued = 0;
    if (!FCommPort->QueuedIn(queued)) {
        CheckVanished();
        return;
    }
    if (FPacketSize <= 0)
        PollStream(queued);
    else
        PollPackets(queued);
}

void TCommPortDriver::PollStream(std::uint32_t queued) {
    if (queued == 0)
        return;
    const std::uint32_t wanted = std::min<std::uint32_t>(queued, std::uint32_t(FTempInBuffer.size()));
    const std::int64_t n = FCommPort->Read(FTempInBuffer.data(), wanted);
    if (n < 0) {
        CheckVanished();
        return; // what could not be read stays queued for the next tick
    }
    if (n > 0)
        FBytesRead += std::uint64_t(n);
    if (n > 0 && FExpected > 0) {
        FExpected = FExpected > std::uint64_t(n) ? FExpected - std::uint32_t(n) : 0;
        ArmDuePoll(); // only on progress: a due poll that finds nothing is not repeated
    }
    // A copy: the handler may replace itself.
    if (n > 0 && OnReceiveData) {
        const TReceiveDataEvent handler = OnReceiveData;
        handler(this, FTempInBuffer.data(), std::uint32_t(n));
    }
}

void TCommPortDriver::PollPackets(std::uint32_t queued) {
    const auto packetSize = std::uint32_t(FPacketSize);
    if (queued >= packetSize) {
        const bool startKnown = FPacketStartTime != kNoPacket;
        while (packetSize <= queued && Connected()) {
            const std::uint32_t wanted =
                std::min<std::uint32_t>(packetSize, std::uint32_t(FTempInBuffer.size()));
            const std::int64_t n = FCommPort->Read(FTempInBuffer.data(), wanted);
            if (n < 0) {
                CheckVanished();
                return;
            }
            if (n > 0)
                FBytesRead += std::uint64_t(n);
            if (n > 0 && OnReceivePacket) {
                const TReceivePacketEvent handler = OnReceivePacket;
                handler(this, FTempInBuffer.data(), std::uint32_t(n));
            }
            if (FPacketStartTime != kNoPacket)
                FPacketStartTime += PacketDelay(packetSize); // the estimated start of the next packet
            queued -= packetSize;
            if (queued == 0)
                FPacketStartTime = kNoPacket;
        }
        // Whole packets came within one period: the remainder is timed from now.
        if (queued > 0 && !startKnown)
            FPacketStartTime = TickCount();
        return;
    }
    if (FPacketTimeout > 0 && FPacketStartTime != kNoPacket &&
        std::uint32_t(TickCount() - FPacketStartTime) > std::uint32_t(FPacketTimeout)) {
        const std::int64_t n = queued > 0 ? FCommPort->Read(FTempInBuffer.data(), queued) : 0;
        FPacketStartTime = kNoPacket;
        if (n > 0)
            FBytesRead += std::uint64_t(n);
        if (n < 0) {
            CheckVanished();
            return;
        }
        if (FPacketMode == pmPass && n > 0 && OnReceivePacket) {
            const TReceivePacketEvent handler = OnReceivePacket;
            handler(this, FTempInBuffer.data(), std::uint32_t(n));
        }
        return;
    }
    if (queued > 0 && FPacketStartTime == kNoPacket)
        FPacketStartTime = TickCount();
}
