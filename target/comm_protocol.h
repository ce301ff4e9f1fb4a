#pragma once
// The monitor's command protocol: one command line out, one framed answer back, bounded by a time-out.
// Widget-free, so that tervolt-cli can use it; the COM settings dialog derives from it.

#include "target/compareresult.h"
#include "target/flashtarget.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <memory>

class QTimer;
class TCommunicationUnit;

inline constexpr std::uint16_t kPingTimeoutMs = 500;
inline constexpr std::uint16_t kIdentifyTimeoutMs = 1000;
inline constexpr std::uint16_t kCommandTimeoutMs = 5000;

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
    std::uint16_t ReplyTimeout() const { return FReplyTimeout; }
    void SetReplyTimeout(std::uint16_t milliseconds) { FReplyTimeout = milliseconds; }

    bool WaitForReply();
    void ReplyTimerTimer();

    bool PingTarget();
    bool IdentifyFlash(QByteArray& deviceId, QByteArray& manufacturer);
    bool InitFlash() override;
    bool ProgramBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) override;
    bool ResetFlash() override;
    bool VerifyBlock(std::uint32_t address, const std::uint8_t* data, std::uint16_t count,
                     TCompareResult& result) override;
    QString LastFailure() const override { return FLastFailure; }

private:
    // Sends one command and waits for its answer; false on a refused, failed or unanswered command.
    bool Exchange(const QByteArray& command, std::uint16_t timeoutMs);
    // Records the unaccepted answer as the failure; always false.
    bool Refused();
    bool ExchangeExpecting(const QByteArray& command, std::uint16_t timeoutMs, const QByteArray& accepted);

    std::unique_ptr<TCommunicationUnit> FCommUnit;
    std::unique_ptr<QTimer> FReplyTimer;
    bool FTimedOut = false;
    bool FCommandActive = false;
    QByteArray FReply;
    QString FLastFailure;
    std::uint16_t FReplyTimeout = kCommandTimeoutMs;
};
