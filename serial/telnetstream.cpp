#include "serial/telnetstream.h"

namespace telnet {

void TDecoder::AfterIac(std::uint8_t byte, QByteArray& line, std::vector<TEvent>& events) {
    FState = sData;
    if (byte == kIac) {
        line.append(char(kIac));
    } else if (byte >= kWill && byte <= kDont) {
        FVerb = byte;
        FState = sVerb;
    } else if (byte == kSb) {
        FState = sSbOption;
    } else {
        // NOP, GA, a stray SE and the like carry no data.
        events.push_back({TEvent::Command, byte, {}});
    }
}

void TDecoder::Feed(const std::uint8_t* data, std::size_t size, QByteArray& line,
                    std::vector<TEvent>& events) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        switch (FState) {
        case sData:
            if (byte == kIac)
                FState = sIac;
            else
                line.append(char(byte));
            break;
        case sIac:
            AfterIac(byte, line, events);
            break;
        case sVerb: {
            static constexpr TEvent::TKind kKinds[] = {TEvent::Will, TEvent::Wont, TEvent::Do, TEvent::Dont};
            events.push_back({kKinds[FVerb - kWill], byte, {}});
            FState = sData;
            break;
        }
        case sSbOption:
            FSbOption = byte;
            FSb.clear();
            FSbTooLong = false;
            FState = sSb;
            break;
        case sSb:
            if (byte == kIac) {
                FState = sSbIac;
            } else if (FSb.size() < qsizetype(kMaxSubnegotiation)) {
                FSb.append(char(byte));
            } else {
                FSbTooLong = true;
            }
            break;
        case sSbIac:
            if (byte == kIac) {
                if (FSb.size() < qsizetype(kMaxSubnegotiation))
                    FSb.append(char(kIac));
                else
                    FSbTooLong = true;
                FState = sSb;
            } else if (byte == kSe) {
                if (FSbTooLong)
                    ++FOversized;
                else
                    events.push_back({TEvent::Sub, FSbOption, FSb});
                FSb.clear();
                FState = sData;
            } else {
                // A server that forgot IAC SE: the subnegotiation ends, the command after IAC counts.
                FSb.clear();
                AfterIac(byte, line, events);
            }
            break;
        }
    }
}

void AppendEscaped(const std::uint8_t* data, std::size_t size, QByteArray& out) {
    for (std::size_t i = 0; i < size; ++i) {
        out.append(char(data[i]));
        if (data[i] == kIac)
            out.append(char(kIac));
    }
}

QByteArray Verb(std::uint8_t verb, std::uint8_t option) {
    const char bytes[] = {char(kIac), char(verb), char(option)};
    return QByteArray(bytes, sizeof bytes);
}

QByteArray ComPortMessage(std::uint8_t command, const QByteArray& value) {
    QByteArray out;
    out.append(char(kIac)).append(char(kSb)).append(char(kOptComPort)).append(char(command));
    AppendEscaped(reinterpret_cast<const std::uint8_t*>(value.constData()), std::size_t(value.size()), out);
    out.append(char(kIac)).append(char(kSe));
    return out;
}

QByteArray BigEndian32(std::uint32_t value) {
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, sizeof bytes);
}

bool ReadBigEndian32(const QByteArray& payload, std::uint32_t& value) {
    if (payload.size() != 4)
        return false;
    const auto* b = reinterpret_cast<const std::uint8_t*>(payload.constData());
    value = std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    return true;
}

} // namespace telnet
