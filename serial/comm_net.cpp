#include "serial/comm_net.h"

#include "serial/linestate.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

using namespace telnet;

namespace {

constexpr std::uint32_t kReceiveChunk = 16u << 10;

// RFC 2217 values of the line settings.
std::uint8_t ParityCode(TCommParity parity) {
    static constexpr std::uint8_t kCodes[] = {1, 2, 3, 4, 5}; // none, odd, even, mark, space
    return kCodes[parity];
}

std::uint8_t StopCode(TCommStopBits stop) {
    return stop == csbOne ? 1 : stop == csbTwo ? 2 : 3;
}

std::uint8_t FlowCode(const TCommLineState& state) {
    return state.Rts == crmHandshake ? 3 : state.XonXoff ? 2 : 1;
}

bool WantHim(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead;
}

bool WantMe(std::uint8_t option) {
    return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}

QByteArray Byte(std::uint8_t value) {
    return QByteArray(1, char(value));
}

} // namespace

TCommPortNet::~TCommPortNet() {
    Close();
}

bool TCommPortNet::OpenFailure(const QString& why) {
    FLastFailure = QStringLiteral("cannot open %1: %2").arg(FName, FGone ? FGoneWhy : why);
    FSocket.Close();
    return false;
}

void TCommPortNet::MarkGone(const QString& why) {
    if (!FGone) {
        FLastFailure = QStringLiteral("connection to %1 lost: %2").arg(FName, why);
        FGoneWhy = why;
    }
    FGone = true;
}

void TCommPortNet::Note(const QString& text) {
    if (FNotes)
        FNotes(QStringLiteral("%1: %2").arg(
            FUrl.PortControl ? QStringLiteral("rfc2217") : QStringLiteral("socket"), text));
}

bool TCommPortNet::Open(const QString& name) {
    Close();
    FGone = false;
    FLastFailure.clear();
    FName = name;
    FIn.clear();
    FInPos = 0;
    FOut.clear();
    FDecoder = TDecoder();
    FSuspended = FComPortAgreed = FComPortRefused = false;
    FModemLines = 0;
    FSaidHim.fill(0);
    FSaidMe.fill(0);
    for (auto& reply : FReplies)
        reply.reset();
    if (const QString error = ParsePortUrl(FName, FUrl); !error.isEmpty()) {
        FLastFailure = QStringLiteral("cannot open %1").arg(error);
        return false;
    }
    if (!FSocket.Connect(FUrl.Host, FUrl.Port, kConnectTimeoutMs))
        return OpenFailure(QStringLiteral("%1 (nothing answers at host %2, TCP port %3)")
                               .arg(FSocket.Error(), FUrl.Host)
                               .arg(FUrl.Port));
    Note(QStringLiteral("connected to %1 port %2").arg(FUrl.Host).arg(FUrl.Port));
    if (!FUrl.PortControl)
        return true;
    for (std::uint8_t option : {kOptComPort, kOptBinary, kOptSuppressGoAhead})
        Answer(FSaidMe, kWill, option);
    for (std::uint8_t option : {kOptBinary, kOptSuppressGoAhead})
        Answer(FSaidHim, kDo, option);
    if (!WaitFor([this] { return FComPortAgreed || FComPortRefused; }))
        return OpenFailure(QStringLiteral("the server at %1 port %2 did not agree to Telnet port control "
                                          "within %3 ms (a plain TCP port is socket://)")
                               .arg(FUrl.Host)
                               .arg(FUrl.Port)
                               .arg(kNegotiationTimeoutMs));
    if (FComPortRefused)
        return OpenFailure(
            QStringLiteral("the server at %1 port %2 refuses Telnet port control (RFC 2217); a "
                           "plain TCP port is socket://")
                .arg(FUrl.Host)
                .arg(FUrl.Port));
    Note(QStringLiteral("the server agrees to port control"));
    // Modem-state notices for the lines a board's adapter has; line-state notices for errors only.
    SendRaw(ComPortMessage(ccSetModemStateMask, Byte(0xF0)));
    SendRaw(ComPortMessage(ccSetLineStateMask, Byte(0x1E)));
    return true;
}

void TCommPortNet::Adopt(TCommHandle) {
    Close();
    FLastFailure = QStringLiteral("a network port cannot take over a handle opened elsewhere");
}

void TCommPortNet::Release() {
    // Nobody else can carry a Telnet session on: letting go of it is closing it.
    Close();
}

void TCommPortNet::Close() {
    if (!FSocket.IsOpen())
        return;
    if (!FGone)
        FlushOut();
    FSocket.Close();
    FOut.clear();
}

void TCommPortNet::SendRaw(const QByteArray& bytes) {
    FOut.append(bytes);
    FlushOut();
}

bool TCommPortNet::FlushOut() {
    while (!FOut.isEmpty() && !FGone) {
        const std::int64_t n = FSocket.Send(FOut.constData(), std::uint32_t(FOut.size()));
        if (n < 0) {
            MarkGone(FSocket.Error());
            return false;
        }
        if (n == 0)
            break;
        FOut.remove(0, qsizetype(n));
    }
    return !FGone;
}

void TCommPortNet::Answer(std::array<std::uint8_t, 256>& said, std::uint8_t verb, std::uint8_t option) {
    // Only a change is answered: acknowledging an acknowledgement would loop (RFC 854).
    if (said[option] == verb)
        return;
    said[option] = verb;
    SendRaw(Verb(verb, option));
}

bool TCommPortNet::Pump() {
    if (FGone || !FSocket.IsOpen())
        return false;
    FlushOut();
    std::uint8_t buffer[kReceiveChunk];
    std::vector<TEvent> events;
    for (;;) {
        const std::int64_t n = FSocket.Receive(buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            MarkGone(FSocket.Error());
            break;
        }
        if (FUrl.PortControl) {
            FDecoder.Feed(buffer, std::size_t(n), FIn, events);
        } else {
            FIn.append(reinterpret_cast<const char*>(buffer), qsizetype(n));
        }
        for (const TEvent& event : events)
            HandleEvent(event);
        events.clear();
    }
    if (FInPos > 0 && FInPos == FIn.size()) {
        FIn.clear();
        FInPos = 0;
    }
    return !FGone;
}

void TCommPortNet::HandleEvent(const TEvent& event) {
    switch (event.Kind) {
    case TEvent::Will:
        Answer(FSaidHim, WantHim(event.Option) ? kDo : kDont, event.Option);
        break;
    case TEvent::Wont:
        Answer(FSaidHim, kDont, event.Option);
        break;
    case TEvent::Do:
        if (event.Option == kOptComPort)
            FComPortAgreed = true;
        Answer(FSaidMe, WantMe(event.Option) ? kWill : kWont, event.Option);
        break;
    case TEvent::Dont:
        if (event.Option == kOptComPort && !FComPortAgreed)
            FComPortRefused = true;
        Answer(FSaidMe, kWont, event.Option);
        break;
    case TEvent::Sub:
        if (event.Option == kOptComPort)
            HandleComPort(event.Payload);
        break;
    case TEvent::Command:
        break;
    }
}

void TCommPortNet::HandleComPort(const QByteArray& payload) {
    if (payload.isEmpty() || std::uint8_t(payload[0]) <= kServerOffset)
        return; // a server that sends client commands is answered by nothing
    const std::uint8_t command = std::uint8_t(payload[0]) - kServerOffset;
    const QByteArray value = payload.mid(1);
    const std::uint8_t first = value.isEmpty() ? 0 : std::uint8_t(value[0]);
    switch (command) {
    case ccNotifyModemState:
        FModemLines = std::uint8_t(((first & 0x10) ? cmlCTS : 0) | ((first & 0x20) ? cmlDSR : 0) |
                                   ((first & 0x40) ? cmlRING : 0) | ((first & 0x80) ? cmlCD : 0));
        Note(QStringLiteral("modem state 0x%1").arg(first, 2, 16, QLatin1Char('0')));
        return;
    case ccNotifyLineState:
        if (first & 0x1E)
            Note(QStringLiteral(
                     "the server reports a line error (state 0x%1: overrun, parity, framing or break)")
                     .arg(first, 2, 16, QLatin1Char('0')));
        return;
    case ccFlowSuspend:
        FSuspended = true;
        Note(QStringLiteral("the server asks to hold the line's bytes"));
        return;
    case ccFlowResume:
        FSuspended = false;
        Note(QStringLiteral("the server takes the line's bytes again"));
        FlushOut();
        return;
    default:
        if (command < FReplies.size())
            Reply(command) = value;
        return;
    }
}

template <class TDone> bool TCommPortNet::WaitFor(TDone done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        const int left = kNegotiationTimeoutMs - int(clock.elapsed());
        if (left <= 0 || FGone)
            return false;
        const TCommWaitResult waited = FSocket.Wait(false, left);
        if (waited == cwrGone)
            MarkGone(FSocket.Error());
        if (waited == cwrReady)
            Pump();
    }
    return true;
}

bool TCommPortNet::SetLineState(const TCommLineState& state) {
    if (const QString error = LineStateRequestError(IsOpen(), state, FName); !error.isEmpty()) {
        FLastFailure = error;
        return false;
    }
    if (!FUrl.PortControl) {
        Note(QStringLiteral("the server keeps its own line settings"));
        return true;
    }
    for (std::uint8_t command : {ccSetBaudRate, ccSetDataSize, ccSetParity, ccSetStopSize, ccSetControl})
        Reply(command).reset();
    SendRaw(ComPortMessage(ccSetBaudRate, BigEndian32(state.BaudRate)));
    SendRaw(ComPortMessage(ccSetDataSize, Byte(state.ByteSize)));
    SendRaw(ComPortMessage(ccSetParity, Byte(ParityCode(state.Parity))));
    SendRaw(ComPortMessage(ccSetStopSize, Byte(StopCode(state.StopBits))));
    SendRaw(ComPortMessage(ccSetControl, Byte(FlowCode(state))));
    const bool answered = WaitFor([this] {
        for (std::uint8_t command : {ccSetBaudRate, ccSetDataSize, ccSetParity, ccSetStopSize, ccSetControl})
            if (!Reply(command))
                return false;
        return true;
    });
    if (FGone)
        return false;
    if (!answered) {
        FLastFailure = QStringLiteral("the server of %1 did not confirm the line settings within %2 ms")
                           .arg(FName)
                           .arg(kNegotiationTimeoutMs);
        return false;
    }
    std::uint32_t rate = 0;
    if (!ReadBigEndian32(*Reply(ccSetBaudRate), rate)) {
        FLastFailure = QStringLiteral("the server of %1 answered the rate with %2 bytes, not 4")
                           .arg(FName)
                           .arg(Reply(ccSetBaudRate)->size());
        return false;
    }
    Note(QStringLiteral("the server confirms %1 baud").arg(rate));
    if (const QString error = RateReadBackError(state.BaudRate, rate, FName); !error.isEmpty()) {
        FLastFailure = error + QStringLiteral(" (the server refused the rate)");
        return false;
    }
    const auto confirmed = [this](std::uint8_t command, std::uint8_t wanted) {
        return Reply(command)->size() == 1 && std::uint8_t(Reply(command)->at(0)) == wanted;
    };
    if (!confirmed(ccSetDataSize, state.ByteSize) || !confirmed(ccSetParity, ParityCode(state.Parity)) ||
        !confirmed(ccSetStopSize, StopCode(state.StopBits)) || !confirmed(ccSetControl, FlowCode(state))) {
        FLastFailure =
            QStringLiteral("the server of %1 did not take the requested character format or flow control")
                .arg(FName);
        return false;
    }
    SetDTR(state.DtrOn);
    SetRTS(state.Rts != crmOff);
    return !FGone;
}

bool TCommPortNet::SetQueueSizes(std::uint32_t, std::uint32_t) {
    if (!IsOpen()) {
        FLastFailure = QStringLiteral("the port is not open");
        return false;
    }
    return true;
}

bool TCommPortNet::Purge(bool input, bool output) {
    if (!IsOpen())
        return false;
    if (output)
        FOut.clear(); // escaped line bytes only: negotiation goes out at once or with them
    if (input) {
        Pump();
        FIn.clear();
        FInPos = 0;
    }
    if (FUrl.PortControl && (input || output))
        SendRaw(ComPortMessage(ccPurgeData, Byte(input && output ? 3 : input ? 1 : 2)));
    return !FGone;
}

bool TCommPortNet::QueuedIn(std::uint32_t& count) {
    count = 0;
    if (!IsOpen())
        return false;
    Pump();
    count = std::uint32_t(FIn.size() - FInPos);
    // Bytes that came before the end are still the line's.
    return count > 0 || !FGone;
}

bool TCommPortNet::QueuedOut(std::uint32_t& count) {
    count = 0;
    if (!IsOpen())
        return false;
    FlushOut();
    count = std::uint32_t(FOut.size());
    return !FGone;
}

std::int64_t TCommPortNet::Read(void* buffer, std::uint32_t size) {
    if (!IsOpen())
        return -1;
    if (FInPos == FIn.size())
        Pump();
    const qsizetype available = FIn.size() - FInPos;
    if (available == 0)
        return FGone ? -1 : 0;
    const qsizetype n = std::min<qsizetype>(available, qsizetype(size));
    std::memcpy(buffer, FIn.constData() + FInPos, std::size_t(n));
    FInPos += n;
    return n;
}

std::int64_t TCommPortNet::Write(const void* data, std::uint32_t size) {
    if (!IsOpen() || FGone)
        return -1;
    if (size == 0)
        return 0;
    // Only the tail of the last write may wait here: the driver's send time-out must see a stall.
    if (!FOut.isEmpty() || FSuspended) {
        if (WaitWritable(FWriteTimeoutMs) == cwrGone)
            return -1;
        if (!FOut.isEmpty() || FSuspended)
            return 0;
    }
    size = std::min(size, kMaxPendingOut);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (FUrl.PortControl)
        AppendEscaped(bytes, size, FOut);
    else
        FOut.append(reinterpret_cast<const char*>(bytes), qsizetype(size));
    if (!FlushOut())
        return -1;
    return size;
}

TCommWaitResult TCommPortNet::WaitReadable(int timeoutMs) {
    if (!IsOpen() || FGone)
        return cwrGone;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (FIn.size() > FInPos)
            return cwrReady;
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0)
            return cwrTimeout;
        const TCommWaitResult waited = FSocket.Wait(false, left);
        if (waited == cwrGone)
            MarkGone(FSocket.Error());
        if (waited != cwrReady)
            return waited;
        if (!Pump())
            return FIn.size() > FInPos ? cwrReady : cwrGone;
    }
}

TCommWaitResult TCommPortNet::WaitWritable(int timeoutMs) {
    if (!IsOpen() || FGone)
        return cwrGone;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (!FlushOut())
            return cwrGone;
        if (FOut.isEmpty() && !FSuspended)
            return cwrReady;
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0)
            return cwrTimeout;
        // Held by the server: only its resume, which comes in, frees the line.
        const TCommWaitResult waited = FSocket.Wait(!FSuspended, left);
        if (waited == cwrGone)
            MarkGone(FSocket.Error());
        if (waited != cwrReady)
            return waited;
        if (FSuspended && !Pump())
            return cwrGone;
    }
}

void TCommPortNet::SetDTR(bool on) {
    if (FUrl.PortControl && IsOpen() && !FGone)
        SendRaw(ComPortMessage(ccSetControl, Byte(on ? 8 : 9)));
}

void TCommPortNet::SetRTS(bool on) {
    if (FUrl.PortControl && IsOpen() && !FGone)
        SendRaw(ComPortMessage(ccSetControl, Byte(on ? 11 : 12)));
}
