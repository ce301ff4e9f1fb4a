#include "protocol/replyscan.h"

#include <QByteArrayView>

#include <algorithm>

namespace {

// Walks the reply from its start; each step either takes what it asks for or takes nothing.
class TReplyCursor {
public:
    explicit TReplyCursor(QByteArrayView text) : FText(text) {}

    bool AtEnd() const { return FText.isEmpty(); }

    bool Literal(QByteArrayView word) {
        if (!FText.startsWith(word))
            return false;
        FText = FText.sliced(word.size());
        return true;
    }

    void SkipBlanks() {
        while (!FText.isEmpty() && (FText.front() == ' ' || FText.front() == '\t'))
            FText = FText.sliced(1);
    }

    // Up to the next blank or line end; the caller judges what it holds.
    QByteArrayView Word() {
        qsizetype length = 0;
        while (length < FText.size() && !IsWordEnd(FText[length]))
            ++length;
        const QByteArrayView word = FText.first(length);
        FText = FText.sliced(length);
        return word;
    }

    // Hexadecimal digits, read whole: a number above limit fails instead of losing its high digits.
    bool Hex(std::uint32_t limit, std::uint32_t& value) {
        std::uint64_t number = 0;
        qsizetype digits = 0;
        for (; digits < FText.size(); ++digits) {
            const int digit = HexDigit(FText[digits]);
            if (digit < 0)
                break;
            number = number * 16 + std::uint64_t(digit);
            if (number > limit)
                return false;
        }
        if (digits == 0)
            return false;
        FText = FText.sliced(digits);
        value = std::uint32_t(number);
        return true;
    }

private:
    static bool IsWordEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    static int HexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    }

    QByteArrayView FText;
};

// A token the device list can hold: printable, without control bytes that a display or a comparison
// would treat differently (a NUL would cut "HOSTCO\0EVIL" to a listed "HOSTCO"). A '>' is the prompt
// of an answer that did not end its line, run together with the next one.
bool IsIdentToken(QByteArrayView token) {
    return !token.isEmpty() && token.size() <= kMaxIdentToken &&
           std::all_of(token.begin(), token.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte > 0x20 && byte != 0x7F && byte != '>';
           });
}

constexpr QByteArrayView kLineEnd = "\r\n";

} // namespace

bool ScanIdentifyReply(const QByteArray& reply, QByteArray& deviceId, QByteArray& manufacturer) {
    TReplyCursor cursor(reply);
    if (!cursor.Literal("DeviceID:"))
        return false;
    cursor.SkipBlanks();
    const QByteArrayView id = cursor.Word();
    if (id.isEmpty())
        return false;
    deviceId = id.toByteArray();
    cursor.SkipBlanks();
    if (!cursor.Literal("Manufacturer:"))
        return false;
    cursor.SkipBlanks();
    const QByteArrayView maker = cursor.Word();
    if (!cursor.Literal(kLineEnd) || !cursor.AtEnd() || !IsIdentToken(id) || !IsIdentToken(maker))
        return false;
    manufacturer = maker.toByteArray();
    return true;
}

bool ScanCompareReply(const QByteArray& reply, TCompareResult& result) {
    TReplyCursor cursor(reply);
    std::uint32_t address = 0;
    std::uint32_t expected = 0;
    std::uint32_t actual = 0;
    // The board compares bytes, so a value above 0xFF is no report of it.
    if (!cursor.Literal("Compare error at address ") || !cursor.Hex(0xFFFFFFFFu, address) ||
        !cursor.Literal(": Expected: ") || !cursor.Hex(0xFFu, expected) || !cursor.Literal(" Actual: ") ||
        !cursor.Hex(0xFFu, actual) || !cursor.Literal(kLineEnd) || !cursor.AtEnd())
        return false;
    result.CompareOK = false;
    result.Address = address;
    result.Expected = std::uint16_t(expected);
    result.Actual = std::uint16_t(actual);
    return true;
}
