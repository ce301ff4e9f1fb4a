#pragma once
// A serial port behind a serial server: rfc2217:// negotiates the line settings through Telnet port
// control (RFC 2217), socket:// carries the line's bytes over TCP as they are. Works the descriptor
// the way the local layers do (non-blocking, waits that sleep), so the driver cannot tell them apart
// but by the name.

#include "serial/commport.h"
#include "serial/netsocket.h"
#include "serial/porturl.h"
#include "serial/telnetstream.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class TCommPortNet final : public TCommPort {
public:
    // How long the server may take to accept the connection, and to answer one negotiation step.
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kNegotiationTimeoutMs = 3000;
    // Line bytes we hold beyond what the system takes; past it Write waits like a full device queue.
    static constexpr std::uint32_t kMaxPendingOut = 64u << 10;

    TCommPortNet() = default;
    ~TCommPortNet() override;

    bool Open(const QString& name) override;
    void Adopt(TCommHandle handle) override;
    void Release() override;
    void Close() override;
    bool IsOpen() const override { return FSocket.IsOpen(); }
    TCommHandle Handle() const override { return FSocket.Handle(); }
    bool IsGone() const override { return FGone; }
    bool CanNotifyReadable() const override { return true; }

    bool SetLineState(const TCommLineState& state) override;
    bool SetQueueSizes(std::uint32_t inSize, std::uint32_t outSize) override;
    void SetWriteTimeout(int timeoutMs) override { FWriteTimeoutMs = timeoutMs < 0 ? 0 : timeoutMs; }
    bool Purge(bool input, bool output) override;

    bool QueuedIn(std::uint32_t& count) override;
    bool QueuedOut(std::uint32_t& count) override;
    std::int64_t Read(void* buffer, std::uint32_t size) override;
    std::int64_t Write(const void* data, std::uint32_t size) override;
    TCommWaitResult WaitReadable(int timeoutMs) override;
    TCommWaitResult WaitWritable(int timeoutMs) override;

    std::uint8_t ModemLines() override { return FModemLines; }
    void SetDTR(bool on) override;
    void SetRTS(bool on) override;

    QString LastFailure() const override { return FLastFailure; }
    void SetNoteSink(TCommNoteSink sink) override { FNotes = std::move(sink); }

private:
    bool OpenFailure(const QString& why);
    void MarkGone(const QString& why);
    void Note(const QString& text);
    // Takes what the server sent: line bytes into FIn, Telnet commands handled. False once gone.
    bool Pump();
    bool FlushOut();
    void SendRaw(const QByteArray& bytes);
    void HandleEvent(const telnet::TEvent& event);
    void HandleComPort(const QByteArray& payload);
    void Answer(std::array<std::uint8_t, 256>& said, std::uint8_t verb, std::uint8_t option);
    // Waits until `done` holds, the negotiation time runs out or the connection is gone.
    template <class TDone> bool WaitFor(TDone done);
    std::optional<QByteArray>& Reply(std::uint8_t command) { return FReplies[command % FReplies.size()]; }

    QString FName; // as the user named it: every message says it
    TPortUrl FUrl;
    TNetSocket FSocket;
    telnet::TDecoder FDecoder;
    QByteArray FIn; // line bytes not yet read, from FInPos on
    qsizetype FInPos = 0;
    QByteArray FOut; // bytes for the socket (escaped) that it did not take yet
    QString FLastFailure;
    QString FGoneWhy; // the system's words for the lost connection
    TCommNoteSink FNotes;
    bool FGone = false;
    bool FSuspended = false; // the server asked us to hold the line's bytes
    bool FComPortAgreed = false;
    bool FComPortRefused = false;
    std::uint8_t FModemLines = 0;
    int FWriteTimeoutMs = 10;
    std::array<std::uint8_t, 256> FSaidHim{}; // the DO/DONT we last sent per option, 0 for none
    std::array<std::uint8_t, 256> FSaidMe{};  // the WILL/WONT we last sent per option
    std::array<std::optional<QByteArray>, 13> FReplies;
};
