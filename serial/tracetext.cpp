#include "serial/tracetext.h"

#include <algorithm>
#include <charconv>
#include <cmath>

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
    // The form of "%10.3f", for the elapsed times a trace holds (never negative).
    const long long thousandths = std::llround(std::max(milliseconds, 0.0) * 1000.0);
    char digits[24];
    const char* const digitsEnd = std::to_chars(digits, digits + sizeof digits, thousandths / 1000).ptr;
    const auto whole = qsizetype(digitsEnd - digits);
    constexpr qsizetype kWholeWidth = 6;
    const long long fraction = thousandths % 1000;
    const char decimals[] = {'.', char('0' + fraction / 100), char('0' + fraction / 10 % 10),
                             char('0' + fraction % 10)};
    QByteArray line;
    line.reserve(kWholeWidth + whole + qsizetype(sizeof decimals) + port.size() + readable.size() + 7);
    if (whole < kWholeWidth)
        line.fill(' ', kWholeWidth - whole);
    line.append(digits, whole).append(decimals, qsizetype(sizeof decimals)).append("  ").append(port);
    line.append("  ").append(direction).append("  ");
    return line.append(readable);
}
