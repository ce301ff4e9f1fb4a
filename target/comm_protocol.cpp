#include "target/comm_protocol.h"

#include "serial/communit.h"
#include "serial/cpdrv.h"
#include "target/commandtext.h"
#include "target/replyscan.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// While one command waits, any other is refused: they would share the one reply timer and answer.
class TCommandGuard {
public:
    explicit TCommandGuard(bool& active) : FActive(active), FOwner(!active) { FActive = true; }
    ~TCommandGuard() {
        if (FOwner)
            FActive = false;
    }
    bool Acquired() const { return FOwner; }

private:
    bool& FActive;
    bool FOwner;
};

// The board's answer on one line, short enough for a message box or a terminal line.
QString OneLine(const QByteArray& reply) {
    constexpr qsizetype kMaxShownChars = 80;
    QString text;
    for (const char c : reply.trimmed()) {
        const auto byte = static_cast<unsigned char>(c);
        text += byte >= 0x20 && byte < 0x7F ? QChar(c) : QChar(u' ');
    }
    text = text.simplified();
    if (text.size() > kMaxShownChars)
        text = text.left(kMaxShownChars - 3) + QStringLiteral("...");
    return text;
}

} // namespace

TCommProtocol::TCommProtocol() : FCommUnit(std::make_unique<TCommunicationUnit>()) {
    FReplyTimeout = kCommandTimeoutMs;
    FReplyTimer = std::make_unique<QTimer>();
    FReplyTimer->setTimerType(Qt::PreciseTimer);
    FReplyTimer->setInterval(kCommandTimeoutMs);
    QObject::connect(FReplyTimer.get(), &QTimer::timeout, [this] { ReplyTimerTimer(); });
}

TCommProtocol::~TCommProtocol() {
    FReplyTimer.reset();
    FCommUnit.reset();
}

void TCommProtocol::ReplyTimerTimer() {
    FReplyTimer->stop();
    FTimedOut = true;
}

bool TCommProtocol::WaitForReply() {
    FTimedOut = false;
    FReply.clear();
    FReplyTimer->setInterval(FReplyTimeout);
    FReplyTimer->start();
    while (!FTimedOut) {
        if (FCommUnit->RxReady()) {
            FReply = FCommUnit->ReadReply();
            FReplyTimer->stop();
            const qsizetype lf = FReply.indexOf('\n');
            if (lf >= 0)
                FReply.remove(0, lf + 1);
            break;
        }
        // Blocks until the next event (a poll tick, received bytes, the reply timer) instead of spinning;
        // everything pending is handled on each pass and the time-out is tested after it.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        // A line that went away (an unplugged adapter) will not answer: fail now, not at the time-out.
        if (!FTimedOut && !FCommUnit->RxReady() && !FCommUnit->CommPortDriver()->Connected()) {
            FReplyTimer->stop();
            return false;
        }
    }
    return !FTimedOut;
}

bool TCommProtocol::Exchange(const QByteArray& command, std::uint16_t timeoutMs) {
    FReplyTimeout = timeoutMs;
    FLastFailure.clear();
    try {
        FCommUnit->SendCommand(command);
    } catch (const EComUnitError&) {
        FLastFailure = QStringLiteral("The command could not be sent.");
        return false;
    }
    if (WaitForReply())
        return true;
    FLastFailure = FTimedOut ? QStringLiteral("No answer within %1 ms.").arg(FReplyTimeout)
                             : QStringLiteral("The line was lost.");
    return false;
}

bool TCommProtocol::Refused() {
    const QString answer = OneLine(FReply);
    FLastFailure = answer.isEmpty() ? QStringLiteral("The board answered with an empty line.")
                                    : QStringLiteral("The board answered: %1").arg(answer);
    return false;
}

bool TCommProtocol::ExchangeExpecting(const QByteArray& command, std::uint16_t timeoutMs,
                                      const QByteArray& accepted) {
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(command, timeoutMs))
        return false;
    return FReply == accepted || Refused();
}

bool TCommProtocol::PingTarget() { return ExchangeExpecting(PingCommand(), kPingTimeoutMs, "\r\n"); }

bool TCommProtocol::IdentifyFlash(QByteArray& deviceId, QByteArray& manufacturer) {
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(IdentifyCommand(), kIdentifyTimeoutMs))
        return false;
    return ScanIdentifyReply(FReply, deviceId, manufacturer) || Refused();
}

bool TCommProtocol::InitFlash() {
    return ExchangeExpecting(InitCommand(), kCommandTimeoutMs, "FLASH is ready to programming.\r\n");
}

bool TCommProtocol::ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) {
    return ExchangeExpecting(ProgramBlockCommand(address, data, count), kCommandTimeoutMs, "Done\r\n");
}

bool TCommProtocol::ResetFlash() {
    return ExchangeExpecting(ResetCommand(), kCommandTimeoutMs, "FLASH reset done\r\n");
}

bool TCommProtocol::VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                                TCompareResult& result) {
    result.CompareOK = false;
    TCommandGuard guard(FCommandActive);
    if (!guard.Acquired() || !Exchange(VerifyBlockCommand(address, data, count), kCommandTimeoutMs))
        return false;
    if (FReply == "Compare OK\r\n") {
        result.CompareOK = true;
        return true;
    }
    return ScanCompareReply(FReply, result) || Refused();
}
