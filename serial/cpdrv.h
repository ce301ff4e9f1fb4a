#pragma once
// The serial port driver: owns one port, applies the line settings, sends with a stall time-out and
// hands received bytes to its owner from a polling timer on the GUI thread (and, with PollOnReadable,
// as soon as the port turns readable). It throws nothing; every failure shows in a result.

#include "serial/commport.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

class QSocketNotifier;

// clang-format off
enum TPortNumber : std::uint16_t {
    pnCustom, pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8,
    pnCOM9, pnCOM10, pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16
};

enum TBaudRate : std::uint8_t {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
// clang-format on

enum TDataBits : std::uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits : std::uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TParity : std::uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : std::uint8_t { hfNONE, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl : std::uint8_t { sfNONE, sfXONXOFF };
enum TPacketMode : std::uint8_t { pmDiscard, pmPass };
enum TLineStatus : std::uint8_t { lsCTS, lsDSR, lsRING, lsCD };

// A set of modem input lines.
class TLineStatusSet {
public:
    constexpr TLineStatusSet() = default;
    constexpr TLineStatusSet(std::initializer_list<TLineStatus> lines) {
        for (auto line : lines)
            Include(line);
    }
    constexpr bool Contains(TLineStatus line) const { return FBits & Bit(line); }
    constexpr void Include(TLineStatus line) { FBits = std::uint8_t(FBits | Bit(line)); }
    constexpr void Exclude(TLineStatus line) { FBits = std::uint8_t(FBits & ~Bit(line)); }
    constexpr bool IsEmpty() const { return FBits == 0; }
    constexpr bool operator==(const TLineStatusSet&) const = default;

private:
    static constexpr std::uint8_t Bit(TLineStatus line) { return std::uint8_t(1u << line); }
    std::uint8_t FBits = 0;
};

using TReceiveDataEvent =
    std::function<void(QObject* sender, const std::uint8_t* dataPtr, std::uint32_t dataSize)>;
using TReceivePacketEvent =
    std::function<void(QObject* sender, const std::uint8_t* packet, std::uint32_t dataSize)>;

// Bits per second of a listed rate; 0 for brCustom.
std::uint32_t BaudRateOf(TBaudRate rate);
// Milliseconds that `dataSize` bytes take on the line at ten bits per byte, rounded half to even;
// 0 for brCustom.
std::uint32_t DelayForRX(TBaudRate rate, std::uint32_t dataSize);
// The same for a rate in bits per second; 0 when the rate is 0.
std::uint32_t DelayForRXAtRate(std::uint32_t bitsPerSecond, std::uint32_t dataSize);

class TCommPortDriver : public QObject {
    Q_OBJECT

public:
    static constexpr std::uint32_t kMinBufSize = 128;
    static constexpr std::uint32_t kMaxBufSize = 8192;
    static constexpr std::uint16_t kMinPollingDelayMs = 5;
    // How long SendData waits for a stalled device to take more bytes.
    static constexpr std::uint16_t kOutputTimeoutMs = 500;

    explicit TCommPortDriver(QObject* owner = nullptr);
    ~TCommPortDriver() override;
    // Drives another kind of port than the platform's (an in-memory line in the simulation); the
    // present one is closed first.
    void UsePort(std::unique_ptr<TCommPort> port);

    TPortNumber Port() const { return FPort; }
    void SetPort(TPortNumber value);
    QString PortName() const { return FPortName; }
    // The name is resolved (ResolvePortName) on each Connect.
    void SetPortName(const QString& value);
    // A name with the device it was resolved to already: Connect opens `device` as it is.
    void SetPortDevice(const QString& name, const QString& device);
    // What the last Connect opened (or tried to): the resolved device; empty before the first.
    QString Device() const { return FDevice; }
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate value);
    std::uint32_t BaudRateValue() const { return FBaudRateValue; }
    // The line's rate in bits per second, listed or custom.
    std::uint32_t BitsPerSecond() const;
    void SetBaudRateValue(std::uint32_t value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity value);
    THwFlowControl HwFlow() const { return FHwFlow; }
    void SetHwFlowControl(THwFlowControl value);
    TSwFlowControl SwFlow() const { return FSwFlow; }
    void SetSwFlowControl(TSwFlowControl value);
    std::uint16_t PollingDelay() const { return FPollingDelay; }
    void SetPollingDelay(std::uint16_t value);
    // Also poll as soon as the descriptor turns readable, not only on the timer. Off by default.
    bool PollOnReadable() const { return FPollOnReadable; }
    void SetPollOnReadable(bool value);

    // The owner knows that nothing it waits for can be complete before `bytes` more have come in (an
    // answer that echoes a known line). This only ever shortens a wait: when the line can have
    // carried them before the next timer tick, the driver polls then too. Readable data is read at
    // once as always, never held back. 0 ends the hint.
    void ExpectAtLeast(std::uint32_t bytes);

    TReceiveDataEvent OnReceiveData;
    // What the port says about its line besides the bytes (a serial server's negotiation), for a trace.
    void SetPortNotes(TCommNoteSink sink);

    bool Connect();
    void Disconnect();
    bool Connected() const;
    // How many times a port was opened or adopted: a new value is a new line, with nothing owed on it.
    std::uint64_t Connections() const { return FConnections; }
    // Why the last open, setting or transfer failed, in the system's words.
    QString LastFailure() const;

    std::uint32_t SendData(const void* dataPtr, std::uint32_t dataSize);

    void PausePolling() { ++FPollingPauseCount; }
    void ContinuePolling();

    // ---- The rest of a serial driver's interface. Tervolt itself does not call it today; the tests
    // ---- hold it to its contract so that a tool built on the driver can.
    std::uint32_t InBufSize() const { return FInBufSize; }
    void SetInBufSize(std::uint32_t value);
    std::uint32_t OutBufSize() const { return FOutBufSize; }
    void SetOutBufSize(std::uint32_t value);
    // Packets: deliveries of exactly PacketSize bytes through OnReceivePacket instead of OnReceiveData.
    std::int16_t PacketSize() const { return FPacketSize; }
    void SetPacketSize(std::int16_t value);
    std::int32_t PacketTimeout() const { return FPacketTimeout; }
    void SetPacketTimeout(std::int32_t value);
    TPacketMode PacketMode() const { return FPacketMode; }
    void SetPacketMode(TPacketMode value) { FPacketMode = value; }
    TReceivePacketEvent OnReceivePacket;
    std::uint32_t InputTimeout() const { return FInputTimeout; }
    void SetInputTimeout(std::uint32_t value) { FInputTimeout = value; }
    bool CheckLineStatus() const { return FCheckLineStatus; }
    void SetCheckLineStatus(bool value) { FCheckLineStatus = value; }
    bool ApplyCOMSettings();
    TCommHandle Handle() const;
    // Adopts a handle opened elsewhere; kReleaseCommHandle forgets the current one without closing it.
    void SetHandle(TCommHandle value);
    std::uint32_t SendDataEx(const void* dataPtr, std::uint32_t dataSize, std::uint32_t timeoutMs);
    bool SendByte(std::uint8_t value);
    bool SendChar(char value);
    bool SendString(const QByteArray& text);
    bool SendZString(const char* text);
    std::uint32_t ReadData(void* dataPtr, std::uint32_t maxDataSize);
    bool ReadByte(std::uint8_t& value);
    bool ReadChar(char& value);
    std::uint32_t CountRX();
    std::uint16_t OutFreeSpace();
    bool FlushBuffers(bool inBuf, bool outBuf);
    TLineStatusSet GetLineStatus();
    void ToggleDTR(bool onOff);
    void ToggleRTS(bool onOff);
    bool IsPolling() const { return FPollingPauseCount <= 0; }
    // One poll of the port: what the timer runs every PollingDelay ms.
    void PollTimerTick();
    // ---- End of the calls only the tests use.

signals:
    // The device vanished (unplugged, hung up) and the driver closed it. Delivered through the event
    // loop, never from inside a driver call; Disconnect() does not emit it.
    void Disconnected();

private:
    static constexpr std::uint32_t kNoPacket = 0xFFFFFFFFu;

    void StartPolling();
    void StopPolling();
    // Runs the timer only when nothing else would see the port's bytes (see the definition).
    void UpdatePollTimer();
    void DropReadNotifier();
    void ReadNotifierActivated();
    void PollTimerTimeout();
    // Polls once more when the expected bytes are due before the next tick (see ExpectAtLeast).
    void ArmDuePoll();
    bool CheckVanished();
    void HandleVanished();
    void PollStream(std::uint32_t queued);
    void PollPackets(std::uint32_t queued);
    std::uint32_t PacketDelay(std::uint32_t dataSize) const;

    std::unique_ptr<TCommPort> FCommPort;
    TCommNoteSink FPortNotes;
    QTimer FPollTimer;
    QTimer FDueTimer;             // single shot: when the expected bytes can be in
    std::uint32_t FExpected = 0;  // bytes still expected before anything can be complete
    std::uint64_t FBytesRead = 0; // taken from the port by polls, for the readable notice
    QSocketNotifier* FReadNotifier = nullptr;
    std::vector<std::uint8_t> FTempInBuffer;

    TPortNumber FPort = pnCOM2;
    QString FPortName = QStringLiteral("\\\\.\\COM2");
    QString FGivenDevice; // set with the name: no resolving on Connect
    QString FDevice;
    TBaudRate FBaudRate = br9600;
    std::uint32_t FBaudRateValue = 9600;
    TDataBits FDataBits = db8BITS;
    TStopBits FStopBits = sb1BITS;
    TParity FParity = ptNONE;
    THwFlowControl FHwFlow = hfNONERTSON;
    TSwFlowControl FSwFlow = sfNONE;
    std::uint32_t FInBufSize = 2048;
    std::uint32_t FOutBufSize = 2048;
    std::int16_t FPacketSize = -1;
    std::int32_t FPacketTimeout = -1;
    TPacketMode FPacketMode = pmDiscard;
    std::uint16_t FPollingDelay = 50;
    std::uint32_t FInputTimeout = 200;
    bool FCheckLineStatus = false;
    bool FPollOnReadable = false;

    std::uint32_t FPacketStartTime = kNoPacket;
    std::uint64_t FConnections = 0;
    std::int32_t FPollingPauseCount = 0;
    bool FPolling = false; // between StartPolling and StopPolling
};
