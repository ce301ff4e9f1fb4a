#include "protocol/commandtext.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kMinAddressDigits = 6;

QByteArray BlockCommand(const char* prefix, std::uint32_t address, const std::uint8_t* data,
                        std::uint16_t count) {
    QByteArray line;
    line.reserve(int(qstrlen(prefix)) + 8 + 1 + 2 * count + 1);
    line.append(prefix);
    char digits[8];
    int n = 0;
    for (std::uint32_t v = address; v != 0 || n < kMinAddressDigits; v >>= 4)
        digits[n++] = kHexDigits[v & 0xF];
    while (n > 0)
        line.append(digits[--n]);
    line.append(' ');
    for (std::uint16_t i = 0; i < count; ++i) {
        line.append(kHexDigits[data[i] >> 4]);
        line.append(kHexDigits[data[i] & 0xF]);
    }
    line.append(kCommandEnd);
    return line;
}

} // namespace

QByteArray PingCommand() {
    return QByteArray(1, kCommandEnd);
}
QByteArray IdentifyCommand() {
    return QByteArrayLiteral("P ID\r");
}
QByteArray InitCommand() {
    return QByteArrayLiteral("P INIT\r");
}
QByteArray ResetCommand() {
    return QByteArrayLiteral("P RESET\r");
}

QByteArray ProgramBlockCommand(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) {
    return BlockCommand("P PROG ", address, data, count);
}

QByteArray VerifyBlockCommand(std::uint32_t address, const std::uint8_t* data, std::uint16_t count) {
    return BlockCommand("P VERIFY ", address, data, count);
}
