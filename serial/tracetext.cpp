#include "serial/tracetext.h"

#include <charconv>
#include <system_error>

// Both run once for every batch of bytes a traced run sends or receives: no per-character appends,
// no printf.

QByteArray TraceReadable(const QByteArray& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    constexpr qsizetype kLongestEscape = 4; // "\xNN"
    QByteArray text(bytes.size() * kLongestEscape, Qt::Uninitialized);
    char* out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\r':
            *out++ = '\\';
            *out++ = 'r';
            break;
        case '\n':
            *out++ = '\\';
            *out++ = 'n';
            break;
        case '\t':
            *out++ = '\\';
            *out++ = 't';
            break;
        case '\\':
            *out++ = '\\';
            *out++ = '\\';
            break;
        default:
            if (byte >= 0x20 && byte < 0x7F) {
                *out++ = c;
            } else {
                *out++ = '\\';
                *out++ = 'x';
                *out++ = kHex[byte >> 4];
                *out++ = kHex[byte & 0x0F];
            }
        }
    }
    text.truncate(out - text.constData());
    return text;
}

QByteArray TraceLine(double milliseconds, const QByteArray& port, char direction,
                     const QByteArray& readable) {
    // What "%10.3f" prints, rounding included.
    constexpr qsizetype kTimeWidth = 10;
    char time[64];
    const auto converted = std::to_chars(time, time + sizeof time, milliseconds, std::chars_format::fixed, 3);
    const auto timeLength = converted.ec == std::errc() ? qsizetype(converted.ptr - time) : 0;
    QByteArray line;
    line.reserve(kTimeWidth + timeLength + port.size() + readable.size() + 7);
    if (timeLength < kTimeWidth)
        line.fill(' ', kTimeWidth - timeLength);
    line.append(time, timeLength).append("  ").append(port).append("  ").append(direction).append("  ");
    return line.append(readable);
}
