#include "target/replyscan.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A token the device list can hold: printable, without control bytes that a display or a comparison
// would treat differently (a NUL would cut "HOSTCO\0EVIL" to a listed "HOSTCO").
bool IsPrintableToken(const QByteArray& token) {
    return std::all_of(token.begin(), token.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte != 0x7F;
    });
}

} // namespace

bool ScanIdentifyReply(const QByteArray& reply, QByteArray& deviceId, QByteArray& manufacturer) {
    // A NUL would end the scan early and hide what follows it.
    if (reply.contains('\0'))
        return false;
    // Tokens can never be longer than the reply, so buffers of its size cannot overflow.
    const QByteArray& text = reply;
    std::vector<char> id(size_t(text.size()) + 1, '\0');
    std::vector<char> maker(size_t(text.size()) + 1, '\0');
    const int fields =
        std::sscanf(text.constData(), "DeviceID: %s Manufacturer: %s", id.data(), maker.data());
    if (fields >= 1)
        deviceId = QByteArray(id.data());
    if (fields < 2)
        return false;
    manufacturer = QByteArray(maker.data());
    return deviceId.size() <= kMaxIdentToken && manufacturer.size() <= kMaxIdentToken &&
           IsPrintableToken(deviceId) && IsPrintableToken(manufacturer);
}

bool ScanCompareReply(const QByteArray& reply, TCompareResult& result) {
    const QByteArray text(reply.constData(), qstrnlen(reply.constData(), size_t(reply.size())));
    unsigned long address = 0;
    unsigned int expected = 0;
    unsigned int actual = 0;
    const int fields = std::sscanf(text.constData(), "Compare error at address %lx: Expected: %x Actual: %x",
                                   &address, &expected, &actual);
    if (fields != 3)
        return false;
    result.Address = static_cast<std::uint32_t>(address);
    result.Expected = static_cast<std::uint16_t>(expected);
    result.Actual = static_cast<std::uint16_t>(actual);
    return true;
}
