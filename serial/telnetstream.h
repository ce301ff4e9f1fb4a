#pragma once
// The Telnet stream of a network serial port (RFC 854, with the COM-PORT-OPTION of RFC 2217): splits
// what the server sends into the serial line's bytes and the Telnet commands between them, and builds
// what we send. No socket, no time: fed any bytes in any pieces, it never reads past what it was given.

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kOptBinary = 0;
inline constexpr std::uint8_t kOptEcho = 1;
inline constexpr std::uint8_t kOptSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptComPort = 44;

// COM-PORT-OPTION commands as the client sends them; the server answers with the same plus 100.
enum TComCommand : std::uint8_t {
    ccSetBaudRate = 1,
    ccSetDataSize = 2,
    ccSetParity = 3,
    ccSetStopSize = 4,
    ccSetControl = 5,
    ccNotifyLineState = 6,
    ccNotifyModemState = 7,
    ccFlowSuspend = 8,
    ccFlowResume = 9,
    ccSetLineStateMask = 10,
    ccSetModemStateMask = 11,
    ccPurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;

// A subnegotiation longer than this is no COM-PORT-OPTION message: it is dropped whole.
inline constexpr std::size_t kMaxSubnegotiation = 64;

struct TEvent {
    enum TKind : std::uint8_t { Will, Wont, Do, Dont, Sub, Command } Kind = Command;
    std::uint8_t Option = 0; // Will..Dont: the option; Sub: the option; Command: the command byte
    QByteArray Payload;      // Sub: what followed the option, IAC IAC undone
};

class TDecoder {
public:
    // Appends the line's bytes among `data` to `line` and the Telnet commands to `events`.
    void Feed(const std::uint8_t* data, std::size_t size, QByteArray& line, std::vector<TEvent>& events);
    // Subnegotiations dropped for their length since the start.
    std::uint64_t Oversized() const { return FOversized; }

private:
    void AfterIac(std::uint8_t byte, QByteArray& line, std::vector<TEvent>& events);

    enum TState : std::uint8_t { sData, sIac, sVerb, sSbOption, sSb, sSbIac };
    TState FState = sData;
    std::uint8_t FVerb = 0;
    std::uint8_t FSbOption = 0;
    bool FSbTooLong = false;
    QByteArray FSb;
    std::uint64_t FOversized = 0;
};

// The line's bytes with every IAC doubled, appended to `out`.
void AppendEscaped(const std::uint8_t* data, std::size_t size, QByteArray& out);
QByteArray Verb(std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION command value IAC SE, the value escaped.
QByteArray ComPortMessage(std::uint8_t command, const QByteArray& value);
QByteArray BigEndian32(std::uint32_t value);
// The value of a 4-byte big-endian payload; false when it has another length.
bool ReadBigEndian32(const QByteArray& payload, std::uint32_t& value);

} // namespace telnet
