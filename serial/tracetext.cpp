#include "serial/tracetext.h"

#include <cstdio>

QByteArray TraceReadable(const QByteArray& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray text;
    text.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\r':
            text += "\\r";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\\':
            text += "\\\\";
            break;
        default:
            if (byte >= 0x20 && byte < 0x7F) {
                text += c;
            } else {
                text += "\\x";
                text += kHex[byte >> 4];
                text += kHex[byte & 0x0F];
            }
        }
    }
    return text;
}

QByteArray TraceLine(double milliseconds, const QByteArray& port, char direction,
                     const QByteArray& readable) {
    char time[32];
    std::snprintf(time, sizeof time, "%10.3f", milliseconds);
    return QByteArray(time) + "  " + port + "  " + direction + "  " + readable;
}
