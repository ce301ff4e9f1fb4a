#include "serial/tracetext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// Both run once for every batch of bytes a traced run sends or receives: no per-character appends,
// no floating-point formatting.

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
    // As "%10.3f" would print it, for the elapsed times a trace holds (never negative).
    const long long thousandths = std::llround(std::max(milliseconds, 0.0) * 1000.0);
    char time[32];
    const int timeLength =
        std::snprintf(time, sizeof time, "%6lld.%03lld", thousandths / 1000, thousandths % 1000);
    QByteArray line;
    line.reserve(timeLength + port.size() + readable.size() + 7);
    line.append(time, timeLength).append("  ").append(port).append("  ").append(direction).append("  ");
    return line.append(readable);
}
